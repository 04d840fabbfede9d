#include "native/live/Logging.h"

namespace kvr::live {

Q_LOGGING_CATEGORY(lcLive, "kvr.live")

} // namespace kvr::live
