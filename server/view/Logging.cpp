#include "server/view/Logging.h"

Q_LOGGING_CATEGORY(lcView, "kvr.view")
