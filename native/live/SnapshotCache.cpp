#include "native/live/SnapshotCache.h"

SnapshotCache& SnapshotCache::instance()
{
    static SnapshotCache cache;
    return cache;
}
