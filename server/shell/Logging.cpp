#include "server/shell/Logging.h"

Q_LOGGING_CATEGORY(lcShell, "kvr.shell")
