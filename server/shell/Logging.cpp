#include "server/shell/Logging.h"

namespace kvr::shell {

Q_LOGGING_CATEGORY(lcShell, "kvr.shell")

} // namespace kvr::shell
