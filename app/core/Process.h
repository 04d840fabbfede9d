#pragma once

// What the program asks of its own process at start-up: room for as many
// open files as the system allows it, and an orderly end when the system
// asks it to stop.

#include <QtGlobal>

namespace kvr::core::Process {

// Raises the soft limit of open files toward the hard one (macOS starts a
// program with 256, and every connection to a device is a file). Returns
// the soft limit now in force; -1 when it cannot be read.
qint64 raiseOpenFileLimit();

// Makes SIGTERM (log-out, shut-down, `kill`), SIGINT (Ctrl+C) and SIGHUP (the
// terminal closed) end the program through its normal path: the event loop
// is left and everything it keeps (the native inventory, uptime history and
// event log among them) is saved on the way out, as when the last window
// closes. The handler itself only writes to a pipe, which the event loop
// reads. A second such signal, should the orderly end hang, ends the process
// at once. Call once, after the application object exists.
void quitOnTerminationSignals();

// Whether the program is ending because such a signal asked it to (no one
// may be at the screen to read a notice then).
bool endedBySignal();

} // namespace kvr::core::Process
