#include "video/Logging.h"

Q_LOGGING_CATEGORY(lcVideo, "kvr.video")
