#include "app/core/Logging.h"

Q_LOGGING_CATEGORY(lcCore, "kvr.core")
