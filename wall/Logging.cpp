#include "wall/Logging.h"

namespace kvr::wall {

Q_LOGGING_CATEGORY(lcWall, "kvr.wall")

} // namespace kvr::wall
