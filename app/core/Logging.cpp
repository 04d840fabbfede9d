#include "app/core/Logging.h"

namespace kvr::core {

Q_LOGGING_CATEGORY(lcCore, "kvr.core")

} // namespace kvr::core
