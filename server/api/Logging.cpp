#include "server/api/Logging.h"

namespace kvr::api {

Q_LOGGING_CATEGORY(lcApi, "kvr.api")

} // namespace kvr::api
