#include "app/ui/Logging.h"

Q_LOGGING_CATEGORY(lcUi, "kvr.ui")
