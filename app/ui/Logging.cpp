#include "app/ui/Logging.h"

namespace kvr::ui {

Q_LOGGING_CATEGORY(lcUi, "kvr.ui")

} // namespace kvr::ui
