#include "native/services/Logging.h"

namespace kvr::services {

Q_LOGGING_CATEGORY(lcServices, "kvr.services")

} // namespace kvr::services
