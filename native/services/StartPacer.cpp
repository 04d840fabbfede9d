#include "native/services/StartPacer.h"

#include "app/core/Clock.h"

#include <QHash>

#include <algorithm>
#include <limits>

namespace kvr::services {

namespace StartPacer {

int reserve(const QString& key, int gapMs)
{
    // Times come from the injected monotonic clock, so a test clock can
    // move them on. A key never seen before is free now. Main thread only.
    static QHash<QString, qint64> nextFree;

    const qint64 now = kvr::core::Clock::instance().monotonicMs();
    const qint64 slot = std::max(now, nextFree.value(key, now));
    nextFree.insert(key, slot + std::max(0, gapMs));
    return int(std::min<qint64>(slot - now, std::numeric_limits<int>::max()));
}

} // namespace StartPacer

} // namespace kvr::services
