#include "native/live/Logging.h"

Q_LOGGING_CATEGORY(lcLive, "kvr.live")
