#include "server/api/Logging.h"

Q_LOGGING_CATEGORY(lcApi, "kvr.api")
