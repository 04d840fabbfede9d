#include "server/view/Logging.h"

namespace kvr::view {

Q_LOGGING_CATEGORY(lcView, "kvr.view")

} // namespace kvr::view
