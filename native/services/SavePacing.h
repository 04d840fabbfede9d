#pragma once

// When a delayed save of data that keeps changing is written: `delay` after
// the latest change, so that a burst is written once, but never later than
// `cap` after the first change not yet written, so that changes that never
// stop (a busy fleet's results, streams full of events) still reach the
// disk. Plain arithmetic on monotonic milliseconds.

#include <QtGlobal>

#include <algorithm>
#include <chrono>

namespace kvr::services {

// Milliseconds from `nowMs` until the save, for a change at `nowMs` when the
// first unsaved change happened at `firstUnsavedMs`.
inline qint64 savePacingDelayMs(qint64 nowMs, qint64 firstUnsavedMs, std::chrono::milliseconds delay,
                                std::chrono::milliseconds cap)
{
    return std::clamp<qint64>(firstUnsavedMs + cap.count() - nowMs, 0, delay.count());
}

} // namespace kvr::services
