#include "native/services/Logging.h"

Q_LOGGING_CATEGORY(lcServices, "kvr.services")
