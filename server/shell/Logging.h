#pragma once

#include <QLoggingCategory>

// The log category of server mode's sign-in and main window: "kvr.shell". Lines keep their bracketed
// tag in the text, which support reads; the category lets a person turn the layer down without a
// rebuild, e.g. QT_LOGGING_RULES="kvr.shell.info=false".
namespace kvr::shell {

Q_DECLARE_LOGGING_CATEGORY(lcShell)

} // namespace kvr::shell
