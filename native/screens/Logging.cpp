#include "native/screens/Logging.h"

Q_LOGGING_CATEGORY(lcScreens, "kvr.screens")
