#pragma once

#include <QStringList>

namespace kvr::services {

// The end of the process-wide native services (NativeStore, NativeController,
// NativeEvents). Their instance() makes each on first use, on the main
// thread; shutdown() ends them while the application object still exists,
// dependants first: the event streams (closed, their log written), the probe
// scheduler, then the store (what is unsaved is written, and the write
// waited for). Start-up calls it when the event loop has returned; it is
// also the application object's clean-up routine, for a process that never
// calls it. Idempotent; main thread only.

namespace NativeServices {

void shutdown();

// Registers shutdown() as the application object's clean-up, once; each
// instance() calls it when it makes its object.
void armShutdown();

// What the process-wide services could not save by the time the program
// quit (their last writes failed), one sentence per file; empty when all is
// saved or they were never made.
QStringList lostAtEnd();

} // namespace NativeServices

} // namespace kvr::services
