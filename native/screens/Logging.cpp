#include "native/screens/Logging.h"

namespace kvr::screens {

Q_LOGGING_CATEGORY(lcScreens, "kvr.screens")

} // namespace kvr::screens
