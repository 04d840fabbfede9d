#pragma once

// Puts a prepared inventory and uptime history where the next NativeStore
// reads them, so suites and benchmarks start from a known fleet with known
// hours without going through probes.

#include "native/services/AlertStream.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeRecords.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "native/services/UptimeHistory.h"
#include "tests/support/TestKit.h"

#include <QDateTime>
#include <QUuid>

#include <memory>

namespace nativeseed {

inline QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// One hour of a series: the hour was checked in full (for a camera, with
// its state known), and `upMinutes` of it were up (0 gives a down hour).
inline void hour(kvr::services::Native::UptimeHistory& history, const QString& deviceId,
                 kvr::services::Native::GraphType type, int channel, const QDate& date, int hourOfDay, int upMinutes)
{
    const QDateTime start(date, QTime(hourOfDay, 0));
    history.credit(kvr::services::Native::checkedKey(deviceId), start, start.addSecs(3600));
    // A camera hour is one in which the camera's state was known.
    if (type == kvr::services::Native::GraphType::Camera)
        history.credit(kvr::services::Native::cameraKnownKey(deviceId, channel), start, start.addSecs(3600));
    if (upMinutes <= 0)
        return;
    const QString key = type == kvr::services::Native::GraphType::Internet
        ? kvr::services::Native::internetKey(deviceId)
        : type == kvr::services::Native::GraphType::Device ? kvr::services::Native::deviceKey(deviceId)
                                                           : kvr::services::Native::cameraKey(deviceId, channel);
    history.credit(key, start, start.addSecs(qint64(upMinutes) * 60));
}

// Writes both files; `today` is the day the history is written as of.
inline bool writeFiles(const QList<kvr::services::Native::Site>& sites,
                       const QList<kvr::services::Native::Device>& devices,
                       const kvr::services::Native::UptimeHistory& history, const QDate& today)
{
    return kvr::services::SecureFile::write(QLatin1String(kvr::services::Native::kInventoryFile),
                                            kvr::services::Native::encodeInventory(sites, devices))
        && kvr::services::SecureFile::write(QLatin1String(kvr::services::Native::kUptimeFile), history.encode(today));
}

inline void removeFiles()
{
    kvr::services::SecureFile::remove(QLatin1String(kvr::services::Native::kInventoryFile));
    kvr::services::SecureFile::remove(QLatin1String(kvr::services::Native::kUptimeFile));
}

// One alert as a device's event stream gives it.
inline kvr::services::AlertStream::Alert alert(const QString& type, int channel = 1, bool active = true)
{
    kvr::services::AlertStream::Alert a;
    a.type = type;
    a.channel = channel;
    a.active = active;
    return a;
}

// A device with one camera per channel, created long ago so no hour of
// its history is hidden.
inline kvr::services::Native::Device device(const QString& name, const QString& siteId, int channels,
                                            const QDateTime& created)
{
    kvr::services::Native::Device d;
    d.id = newId();
    d.siteId = siteId;
    d.name = name;
    d.ip = QStringLiteral("192.168.1.%1").arg(qHash(d.id) % 200 + 10);
    d.channels = channels;
    d.createdAt = created;
    kvr::services::Native::syncCameras(d);
    return d;
}

// The clock held at `now` and a store read from prepared files.
struct Fleet {
    explicit Fleet(const QDateTime& now) : clock(now.toUTC()), today(now.date()) {}
    kvrtest::TestClock clock;
    QDate today;
    std::unique_ptr<kvr::services::NativeStore> store;

    void load(const QList<kvr::services::Native::Device>& devices, const QList<kvr::services::Native::Site>& sites = {},
              const kvr::services::Native::UptimeHistory& history = kvr::services::Native::UptimeHistory())
    {
        QVERIFY(writeFiles(sites, devices, history, today));
        store = std::make_unique<kvr::services::NativeStore>();
        store->waitForWrites(); // the history is read on the store's thread
        QCOMPARE(store->devices().size(), devices.size());
    }
};

} // namespace nativeseed
