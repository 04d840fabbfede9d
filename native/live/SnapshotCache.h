#pragma once

// The still pictures of native cameras as the snapshots dialog fetched them,
// kept for the whole process per device and channel,; the rules of a
// fetch are in SnapshotRules.h.

#include "native/services/NativeHttp.h"
#include "native/services/NativeRecords.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QPixmap>
#include <QString>

namespace kvr::live {

struct SnapshotRecord {
    QPixmap picture; // null when none
    QString error;   // why there is none; empty with a picture
    bool checking = false;
};

// Outlives every dialog; entries are never removed.
class SnapshotCache {
public:
    static SnapshotCache& instance();
    // The device's records by channel, created empty when missing.
    QMap<int, SnapshotRecord>& entry(const QString& deviceId) { return m_devices[deviceId]; }
    void reset() { m_devices.clear(); } // for tests

private:
    QMap<QString, QMap<int, SnapshotRecord>> m_devices;
};

} // namespace kvr::live
