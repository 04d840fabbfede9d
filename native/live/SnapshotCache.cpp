#include "native/live/SnapshotCache.h"

namespace kvr::live {

SnapshotCache& SnapshotCache::instance()
{
    static SnapshotCache cache;
    return cache;
}

} // namespace kvr::live
