#include "video/Logging.h"

namespace kvr::video {

Q_LOGGING_CATEGORY(lcVideo, "kvr.video")

} // namespace kvr::video
