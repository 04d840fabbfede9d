#include "app/core/Settings.h"
#include "native/services/FileNotices.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeServices.h"
#include "native/services/NativeStore.h"
#include "native/services/Reports.h"
#include "native/services/SecureFile.h"
#include "native/services/Tunables.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <memory>

using namespace kvr::core;
using namespace kvr::services;

using namespace Native;
using nativetest::describe;
using nativetest::FileSizeLimit;
using nativetest::modeOf;
using nativetest::unreadCopies;

namespace {

const QDate kDay(2026, 3, 2);

QDateTime at(int h, int m, int s = 0)
{
    return QDateTime(kDay, QTime(h, m, s));
}

Device sample(int channels = 4)
{
    Device d;
    d.name = "Recorder";
    d.ip = "192.168.1.20";
    d.username = "admin";
    d.password = "secret";
    d.channels = channels;
    return d;
}

// Saves at once and waits until the files are written.
const auto saveNow = [](NativeStore& s) { s.flush(), s.waitForWrites(); };

Camera cam(int channel, const char* name, int blur = 0)
{
    Camera c;
    c.channelId = channel;
    c.name = name;
    c.blur = blur;
    return c;
}

// Saves four devices, then cuts the inventory to three quarters of its
// length (the first device whole); returns what is left on disk.
QByteArray writeCutInventory(QString* firstId = nullptr)
{
    QByteArray whole;
    {
        NativeStore store;
        for (int i = 0; i < 4; ++i) {
            const QString id = store.addDevice(sample());
            if (i == 0 && firstId)
                *firstId = id;
        }
        saveNow(store);
        whole = *SecureFile::read(kInventoryFile);
    }
    const QByteArray cut = whole.left(whole.size() * 3 / 4);
    SecureFile::write(kInventoryFile, cut);
    return cut;
}

// The one copy kept aside of what could not be read: its bytes, or why
// it is not that (none or several, or not for the owner only).
QByteArray keptAside()
{
    const QStringList copies = unreadCopies();
    if (copies.size() != 1)
        return "copies: " + copies.join(' ').toUtf8();
    if (modeOf(SecureFile::path(copies.first())) != 0600)
        return "not owner-only";
    return SecureFile::read(copies.first()).value_or("unreadable");
}

// Minutes credited to a series: in one hour of the test day, or in all.
double minutes(const NativeStore& s, const QString& key, int hour = -1)
{
    double sum = 0;
    if (const UptimeHistory::Series* series = s.uptime().series(key))
        for (const UptimeHistory::DayRow& row : series->rows())
            for (int h = 0; h < 24; ++h)
                sum += (hour < 0 || (QDate::fromJulianDay(row.julianDay) == kDay && h == hour))
                    ? UptimeHistory::minutesOf(row.seconds[size_t(h)])
                    : 0;
    return sum;
}

} // namespace

class TestNativeStore : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        nativetest::clearDataDir();
        NativeMode::prefs().remove("native/pollMinutes");
        clock.setNowUtc(at(9, 0).toUTC());
    }

    void sitesAndDevicesAreEdited()
    {
        NativeStore store;
        QSignalSpy changed(&store, &NativeStore::changed);
        Site site;
        site.id = "ignored";
        const QString siteId = store.addSite(site);
        QVERIFY(siteId != site.id && store.site(siteId));

        Device d = sample(3);
        d.siteId = siteId;
        d.health.device = Passed;
        d.cameras = {Camera{}, Camera{}};
        const QString id = store.addDevice(d); // a fresh health block, a camera per channel
        QCOMPARE(describe(*store.device(id)),
                 "Recorder 192.168.1.20 ch3 dev0 -1ms hdd: days:-1 model: [:0:0,:0:0,:0:0]");
        QCOMPARE(changed.size(), 2);

        // What the store hands out is a copy: it outlives any reshuffle of
        // the store's lists, and changing it changes nothing stored.
        std::optional<Device> copy = store.device(id);
        for (int i = 0; i < 64; ++i)
            store.removeDevice(store.addDevice(sample()));
        copy->name = "Edited copy";
        QCOMPARE(store.device(id)->name, QStringLiteral("Recorder"));

        store.setEnabled(id, false, "Moved");
        QCOMPARE(store.device(id)->status(), DeviceStatus::Deactivated);
        store.setEnabled(id, true, "ignored when enabling");
        QVERIFY(store.device(id)->disabledReason.isEmpty());

        // Removing the site removes its devices, each with its own notice.
        const QString other = store.addDevice(sample());
        changed.clear();
        store.removeSite(siteId);
        QCOMPARE(changed.size(), 2);
        QVERIFY(!store.device(id) && store.device(other));
        QVERIFY(store.sites().isEmpty());
    }

    void addressesThatAreNotHostsAreRefused()
    {
        NativeStore store;
        Device d = sample();
        d.ip = "admin@10.0.0.5";
        QString error;
        QVERIFY(store.addDevice(d, &error).isEmpty() && !error.isEmpty());
        d.ip = "  nvr-1.example.lan "; // surrounding blanks are a typing slip
        Device edit = *store.device(store.addDevice(d));
        QCOMPARE(edit.ip, QStringLiteral("nvr-1.example.lan"));
        edit.ip = "nvr-1.example.lan/../x";
        edit.name = "changed";
        QVERIFY(!store.updateDevice(edit));
        QCOMPARE(store.devices().first().name, QStringLiteral("Recorder"));
    }

    void connectionChangesResetHealth()
    {
        NativeStore store;
        const QString id = store.addDevice(sample());
        store.applyProbe(id, nativetest::upResult()); // the first-probe minute
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);
        Device edit = *store.device(id);
        edit.name = "Renamed";
        edit.health = Health{}; // the editor's copy of health is not taken
        QVERIFY(store.updateDevice(edit));
        QCOMPARE(describe(*store.device(id)),
                 "Renamed 192.168.1.20 ch4 dev2 12ms hdd: days:-1 model: [:0:0,:0:0,:0:0,:0:0]");
        QCOMPARE(updated.size(), 1);

        edit.password = "new";
        edit.channels = 2;
        QVERIFY(store.updateDevice(edit));
        QCOMPARE(describe(*store.device(id)), "Renamed 192.168.1.20 ch2 dev0 -1ms hdd: days:-1 model: [:0:0,:0:0]");
        // The last check was forgotten with the old connection: the next
        // probe credits the first-probe minute only, not the 5 minutes since.
        clock.advanceSecs(300);
        store.applyProbe(id, nativetest::upResult());
        QCOMPARE(minutes(store, checkedKey(id)), 2.0);
    }

    void camerasEditorRules()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(4));
        store.saveCameras(id, {cam(3, "Gate")});
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);
        store.saveCameras(id, {cam(3, "  ", 50), cam(2, " ", 101), cam(99, "x")}); // 99: not on the device
        QCOMPARE(describe(*store.device(id)).section('[', 1), ":0:0,:0:0,Camera 3:0:50,:0:0]");
        QCOMPARE(updated.size(), 1);
    }

    // Channels above a lowered count are neither shown, checked nor counted,
    // yet their cameras' names and settings and their ignored marks are kept
    // aside, over a restart too: raising the count gets them back. A name
    // given meanwhile to a shown camera stays that camera's alone.
    void channelsAboveALoweredCountComeBackWhenRaised()
    {
        QString id;
        {
            NativeStore store;
            id = store.addDevice(sample(8));
            store.saveCameras(id, {cam(2, "Yard"), cam(6, "Dock"), cam(7, "Loading bay", 40), cam(8, "Roof")});
            ProbeResult seen = nativetest::upResult();
            seen.channels = {{6, {}, true, true}};
            store.applyProbe(id, seen);
            Device edit = *store.device(id);
            edit.ignored = {3, 8};
            QVERIFY(store.updateDevice(edit));
            edit = *store.device(id);
            edit.channels = 4;
            edit.ignored = {3}; // the form reads its text against the count it shows
            QVERIFY(store.updateDevice(edit));
            const Device lowered = *store.device(id);
            QCOMPARE(describe(lowered).section('[', 1), ":0:0,Yard:0:0,:0:0,:0:0]");
            QCOMPARE(lowered.ignored, QList<int>{3});
            QCOMPARE(lowered.totalCameras(), 3);
            store.saveCameras(id, {cam(1, "Roof")});
            saveNow(store);
        }
        NativeStore store;
        store.waitForWrites();
        QCOMPARE(store.inventoryReadStatus(), ReadStatus::Clean);
        QCOMPARE(store.device(id)->cameras.size(), 4);
        Device raised = *store.device(id);
        raised.channels = 8;
        QVERIFY(store.updateDevice(raised));
        const Device back = *store.device(id);
        QCOMPARE(describe(back).section('[', 1), "Roof:0:0,Yard:0:0,:0:0,:0:0,:0:0,Dock:0:0,Loading bay:0:40,:0:0]");
        QCOMPARE(back.ignored, (QList<int>{3, 8}));
        // Whether a camera kept aside is online now is not known.
        QVERIFY(!back.cameras.at(5).onlineKnown && back.cameras.at(5).lastOnline.isValid());
        QVERIFY(back.hiddenCameras.isEmpty() && back.hiddenIgnored.isEmpty());
    }

    void probeResultsAreApplied()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(4));
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);

        // A name on two channels names neither; a channel past the count adds
        // cameras up to it.
        ProbeResult r = nativetest::upResult();
        r.detailsFetched = r.channelsKnown = true;
        r.health.model = "DS-1";
        r.health.hdd = "OK";
        r.health.recordingDays = 12;
        r.channels = {
            {1, "Door", true, true}, {2, " door ", true, false}, {3, "Yard", true, false}, {6, "B", true, true}};
        store.applyProbe(id, r);
        QCOMPARE(describe(*store.device(id)),
                 "Recorder 192.168.1.20 ch6 dev2 12ms hdd:OK days:12 model:DS-1 [:1:0,:2:0,Yard:2:0,:0:0,:0:0,B:1:0]");
        QCOMPARE(store.device(id)->cameras[2].lastOffline, at(9, 0));
        QCOMPARE(updated.size(), 1);

        // A later fetch without disk verdict or count keeps the old ones (the
        // model is taken even when empty); a user-named camera keeps its name.
        store.saveCameras(id, {cam(3, "My yard")});
        clock.advanceSecs(60);
        ProbeResult again = nativetest::upResult();
        again.detailsFetched = again.channelsKnown = true;
        again.channels = {{3, "Other", true, true}};
        store.applyProbe(id, again);
        QCOMPARE(describe(*store.device(id)).section(' ', 5),
                 "hdd:OK days:12 model: [:1:0,:2:0,My yard:1:0,:0:0,:0:0,B:1:0]");
        // What a fetch could not read: the states (disks, cameras) are
        // unknown now, with the reason; the facts stand as the last good
        // answer gave them (the clock's reading with its time, the
        // firmware). A check without details keeps the list; so does the file.
        ProbeResult good = nativetest::upResult();
        good.detailsFetched = true;
        good.health.firmware = "V4";
        good.health.deviceName = "Front gate NVR";
        good.health.deviceTime = "2025-03-01 08:15:30";
        good.health.deviceTimeAt = at(9, 1);
        store.applyProbe(id, good);
        ProbeResult failed = nativetest::upResult();
        failed.detailsFetched = true;
        failed.health.unread = {{Native::Detail::Disks, "No answer in time."},
                                {Native::Detail::CameraStates, "No answer in time."},
                                {Native::Detail::Clock, "The device's answer could not be read."},
                                {Native::Detail::Firmware, "No answer in time."},
                                {Native::Detail::DeviceName, "No answer in time."}};
        clock.advanceSecs(60);
        store.applyProbe(id, failed);
        Native::Device stored = *store.device(id);
        QCOMPARE(describe(stored).section(' ', 5), "hdd: days:12 model: [:0:0,:0:0,My yard:0:0,:0:0,:0:0,B:0:0]");
        QCOMPARE(stored.health.firmware + ' ' + stored.health.deviceTime + ' ' + stored.health.deviceName,
                 QStringLiteral("V4 2025-03-01 08:15:30 Front gate NVR"));
        QCOMPARE(stored.health.deviceTimeAt, at(9, 1));
        QCOMPARE(stored.health.unread, failed.health.unread);
        store.applyProbe(id, nativetest::upResult()); // a diagnosis
        QCOMPARE(store.device(id)->health.unread, failed.health.unread);
        const Native::InventoryData read = Native::decodeInventory(Native::encodeInventory({}, {*store.device(id)}));
        QCOMPARE(read.devices.value(0).health.unread, failed.health.unread);
        // The next good fetch reads them all again.
        good.channels = {{1, {}, true, true}, {2, {}, true, false}, {3, {}, true, true}, {6, {}, true, true}};
        store.applyProbe(id, good);
        QVERIFY(store.device(id)->health.unread.isEmpty());
        QCOMPARE(describe(*store.device(id)).section(' ', 5),
                 "hdd: days:12 model: [:1:0,:2:0,My yard:1:0,:0:0,:0:0,B:1:0]");
        // A check stopped at its deadline before it fetched the details says
        // what it could not read: the states are unknown now, with its
        // reason, the facts stand. The next good fetch reads them again.
        good.health.hdd = "OK";
        store.applyProbe(id, good);
        ProbeResult stopped = nativetest::upResult();
        const QString late = "The device was too slow to send its details; the check was stopped after 60 s.";
        stopped.health.unread = {{Native::Detail::Disks, late}, {Native::Detail::CameraStates, late}};
        store.applyProbe(id, stopped);
        stored = *store.device(id);
        QCOMPARE(stored.health.unread, stopped.health.unread);
        QCOMPARE(describe(stored).section(' ', 5), "hdd: days:12 model: [:0:0,:0:0,My yard:0:0,:0:0,:0:0,B:0:0]");
        QCOMPARE(stored.health.firmware + ' ' + stored.health.deviceName, QStringLiteral("V4 Front gate NVR"));
        store.applyProbe(id, good);
        QVERIFY(store.device(id)->health.unread.isEmpty());

        // Device down: every camera goes offline, the known flags and dates stay.
        clock.advanceSecs(60);
        store.applyProbe(id, nativetest::offlineResult());
        QCOMPARE(describe(*store.device(id)).section('[', 1), ":2:0,:2:0,My yard:2:0,:0:0,:0:0,B:2:0]");
        QCOMPARE(store.lastSeenUp(id), at(9, 2));

        // Channel numbers from a device are never trusted to be small.
        ProbeResult wild = nativetest::upResult();
        wild.channelsKnown = true;
        wild.channels = {{std::numeric_limits<int>::max(), "x", true, true}, {-5, "y", true, true}};
        store.applyProbe(id, wild);
        QCOMPARE(store.device(id)->cameras.size(), 256);

        // Disabled: nothing at all.
        store.setEnabled(id, false, {});
        updated.clear();
        const quint64 rev = store.uptimeRevision();
        store.applyProbe(id, nativetest::upResult());
        QCOMPARE(updated.size(), 0);
        QCOMPARE(store.uptimeRevision(), rev);
    }

    void creditAndSaveTiming()
    {
        // Seconds since the last probe (-1: none since start; negative: the
        // clock was set back), poll minutes (0 reads as 1), seconds credited.
        const QDateTime now = at(10, 0);
        for (const auto& [sinceLast, poll, credited] : QList<std::array<int, 3>>{
                 {-1, 5, 60}, {300, 5, 300}, {1200, 5, 450}, {1200, 0, 450}, {99999, 1000000, 5400}, {-600, 5, 0}}) {
            const QDateTime last = sinceLast == -1 ? QDateTime() : now.addSecs(-sinceLast);
            QCOMPARE(std::max<qint64>(0, NativeStore::creditStart(last, now, poll).secsTo(now)), credited);
        }
        // Saved 1.5 s after a change, but never more than 30 s after the
        // first unsaved one however busy.
        QCOMPARE((QList<qint64>{NativeStore::saveDelayMs(1000000, 1000000), NativeStore::saveDelayMs(1029000, 1000000),
                                NativeStore::saveDelayMs(1030000, 1000000)}),
                 (QList<qint64>{1500, 1000, 0}));
    }

    void uptimeIsCreditedPerSeries()
    {
        NativeStore store;
        Device d = sample(2);
        d.ignored = {2};
        const QString id = store.addDevice(d);
        ProbeResult r = nativetest::upResult();
        r.channelsKnown = true;
        r.channels = {{1, {}, true, true}, {2, {}, true, true}};
        clock.setNowUtc(at(10, 5).toUTC());
        store.applyProbe(id, r); // the first-probe minute; none for the ignored camera
        QVERIFY(!store.uptime().series(cameraKey(id, 2)));
        // 20 minutes of silence at poll 5: only the last 450 s, and a device
        // found down gets no device credit.
        clock.setNowUtc(at(10, 25).toUTC());
        store.applyProbe(id, nativetest::offlineResult());
        QCOMPARE((QList<double>{minutes(store, checkedKey(id), 10), minutes(store, deviceKey(id), 10),
                                minutes(store, cameraKey(id, 1), 10)}),
                 (QList<double>{8.5, 1, 1}));
    }

    // A camera whose state nobody reported (a device that gives none, or a
    // recorder whose cameras were never seen) has no uptime at all, where a
    // camera reported offline is down: the grid, its percent and the
    // reports agree with the camera report.
    void unknownCamerasAreNoData()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(3));
        ProbeResult r = nativetest::upResult();
        r.detailsFetched = r.channelsKnown = true;
        r.channels = {{1, {}, true, true}, {2, {}, true, false}, {3, {}, false, false}}; // up, down, unknown
        for (int m = 5; m <= 55; m += 5) {
            clock.setNowUtc(at(10, m).toUTC());
            store.applyProbe(id, r);
        }
        const QDateTime now = at(11, 30);
        QStringList hour10;
        QList<double> percents;
        for (int channel = 1; channel <= 3; ++channel) {
            const QList<UptimeCell> cells = store.uptimeGrid(id, GraphType::Camera, channel, 1, now);
            hour10 << QString::number(cells.at(10).minutes);
            percents << NativeStore::uptimePercent(cells);
        }
        QCOMPARE(hour10, QStringList({"60", "0", "-1"}));
        QCOMPARE(percents, (QList<double>{100, 0, -1}));

        const QStringList uptime = NativeReports::build(store, NativeReports::Uptime, {id}, kDay, kDay, now)
                                       .split(QLatin1Char('\n'))
                                       .filter("Camera");
        QCOMPARE(uptime,
                 QStringList(
                     {"2026-03-02,,Recorder,Camera 1 Camera 1,100.0", "2026-03-02,,Recorder,Camera 2 Camera 2,0.0"}));
        const QStringList downtime = NativeReports::build(store, NativeReports::Downtime, {id}, kDay, kDay, now)
                                         .split(QLatin1Char('\n'))
                                         .filter("Camera");
        QCOMPARE(downtime, QStringList({",Recorder,Camera 2 Camera 2,2026-03-02 10:00,2026-03-02 11:00,1"}));
        const QStringList cameras = NativeReports::build(store, NativeReports::Cameras, {id}, kDay, kDay, now)
                                        .split(QLatin1Char('\n'))
                                        .filter(",Recorder,");
        QCOMPARE(cameras.size(), 3);
        QVERIFY(cameras.at(1).contains(",offline,") && cameras.at(2).contains(",unknown,"));
    }

    void burstsAreSavedOnceOwnerOnly()
    {
        NativeStore store;
        const QString id = store.addDevice(sample());
        clock.advanceSecs(1);
        store.applyProbe(id, nativetest::upResult());
        QCOMPARE(store.inventoryWriteCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(store.inventoryWriteCount(), 1, 5000);
        QTRY_VERIFY(!store.uptime().dirty());

        QCOMPARE(modeOf(SecureFile::path(kInventoryFile)), 0600);
        NativeStore again;
        again.waitForWrites();
        QCOMPARE(again.inventoryReadStatus(), ReadStatus::Clean);
        QCOMPARE(again.device(id)->password, QStringLiteral("secret"));
        QVERIFY(again.uptime().series(deviceKey(id)));
    }

    void flushWritesOnTheWriterThread()
    {
        // A large history (weeks of a big fleet): flush only hands it over,
        // and credit that arrives meanwhile goes with the next save.
        QVERIFY(SecureFile::write(kUptimeFile, nativetest::uptimeFileText(9000, 40, kDay)));
        NativeStore store;
        store.waitForWrites();
        QCOMPARE(store.uptime().seriesCount(), 9000);
        const QString id = store.addDevice(sample());
        store.applyProbe(id, nativetest::upResult());
        store.flush();
        QVERIFY(store.saveInProgress());
        QVERIFY(!SecureFile::read(kUptimeFile)->contains(id.toLatin1())); // not written yet
        clock.advanceSecs(120);
        store.applyProbe(id, nativetest::upResult());
        store.waitForWrites();
        QVERIFY(!store.saveInProgress());
        QVERIFY(store.uptime().dirty()); // the file lacks the second credit
        QVERIFY(SecureFile::read(kInventoryFile)->contains(id.toLatin1()));
        saveNow(store);
        QVERIFY(!store.uptime().dirty());
        UptimeHistory onDisk;
        QStringList problems;
        QCOMPARE(onDisk.decode(*SecureFile::read(kUptimeFile), kDay, &problems), ReadStatus::Clean);
        QCOMPARE(onDisk.seriesCount(), 9000 + 3);
        QCOMPARE(onDisk.series(checkedKey(id))->minutes(kDay, 9), 2.0); // 09:00 to 09:02
    }

    void historyReadMeanwhileJoinsWhatWasCredited()
    {
        // The file holds a device's 09:00 hour (30 min checked) and a
        // second device's series; the store is made, and before the file
        // has been read the first device is probed, the second removed and
        // a save asked for.
        NativeStore first;
        const QString id = first.addDevice(sample());
        const QString gone = first.addDevice(sample());
        saveNow(first);
        UptimeHistory file;
        file.credit(checkedKey(id), at(9, 0), at(9, 30));
        file.credit(deviceKey(gone), at(9, 0), at(9, 30));
        QVERIFY(SecureFile::write(kUptimeFile, file.encode(kDay)));
        NativeStore store;
        QVERIFY(store.uptimeLoading());
        clock.setNowUtc(at(9, 40).toUTC());
        store.applyProbe(id, nativetest::upResult()); // the first-probe minute, 09:39 to 09:40
        store.removeDevice(gone);
        store.flush();
        QVERIFY(SecureFile::read(kUptimeFile)->contains(gone.toLatin1())); // nothing written without the file
        QSignalSpy arrived(&store, &NativeStore::uptimeLoaded);
        store.waitForWrites();
        QCOMPARE(arrived.size(), 1);
        QCOMPARE(store.uptimeReadStatus(), ReadStatus::Clean);
        QCOMPARE(minutes(store, checkedKey(id), 9), 31.0);
        QVERIFY(!store.uptime().series(deviceKey(gone)));
        // The joined history was saved once read.
        QVERIFY(!store.uptime().dirty());
        UptimeHistory onDisk;
        QStringList problems;
        QCOMPARE(onDisk.decode(*SecureFile::read(kUptimeFile), kDay, &problems), ReadStatus::Clean);
        QCOMPARE(onDisk.series(checkedKey(id))->minutes(kDay, 9), 31.0);
        QVERIFY(!onDisk.series(deviceKey(gone)));
    }

    void uptimeStaysDirtyUntilWritten()
    {
        NativeStore store;
        const QString id = store.addDevice(sample());
        saveNow(store); // the device is on disk: a failed write of it would undo it
        store.applyProbe(id, nativetest::upResult());
        const QString path = SecureFile::path(kUptimeFile);
        {
            FileSizeLimit limit(16);
            saveNow(store);
        }
        QVERIFY(!QFile::exists(path) || QFileInfo(path).size() == 0);
        QVERIFY(store.uptime().dirty());
        saveNow(store); // no new credit, yet the history reaches the disk
        QVERIFY(!store.uptime().dirty());
        QVERIFY(SecureFile::read(kUptimeFile)->contains(checkedKey(id).toLatin1()));

        // Removing the device drops its series from the next write.
        store.removeDevice(id);
        saveNow(store);
        QVERIFY(!SecureFile::read(kUptimeFile)->contains(id.toLatin1()));
    }

    // What could not be read is kept aside, owner-only, before anything
    // replaces the file; the rest is read.
    void damagedFilesAreReadAsFarAsSoundAndKept()
    {
        QString firstId;
        const QByteArray cut = writeCutInventory(&firstId);
        {
            NativeStore store;
            QCOMPARE(store.inventoryReadStatus(), ReadStatus::Damaged);
            QVERIFY(store.devices().size() >= 2 && store.devices().size() < 4);
            QVERIFY(store.device(firstId));
            QCOMPARE(keptAside(), cut);
            // Said once, with where the copy is kept.
            const QString copy = QFileInfo(SecureFile::path(kInventoryFile)).path() + "/" + unreadCopies().first();
            QCOMPARE(store.takeUnreadNotices(),
                     QStringList{FileNotices::damagedInventory(int(store.devices().size()), copy)});
            QVERIFY(store.takeUnreadNotices().isEmpty());
        }

        nativetest::clearDataDir();
        const QByteArray junk = "{\"series\":{\"d:x\":{\"2026-03-02\":[1,2";
        QVERIFY(SecureFile::write(kUptimeFile, junk));
        {
            NativeStore store;
            store.waitForWrites();
            QCOMPARE(store.uptimeReadStatus(), ReadStatus::Damaged);
            QCOMPARE(keptAside(), junk);
            const QStringList said = store.takeUnreadNotices();
            QCOMPARE(said.size(), 1);
            QVERIFY2(said.first().startsWith("The uptime history could not be read whole")
                         && said.first().contains(QFileInfo(SecureFile::path(kUptimeFile)).path() + "/"
                                                  + unreadCopies().first()),
                     qPrintable(said.first()));
        }

        // Far too large to be a history (a sparse file, nothing on disk):
        // not read at all, and moved aside, untouched, before a history
        // takes its place.
        nativetest::clearDataDir();
        QFile huge(SecureFile::path(kUptimeFile));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.write(junk) == junk.size());
        QVERIFY(huge.resize(kvr::services::tun::kUptimeFileMaxBytes + 1));
        huge.close();
        NativeStore store;
        store.waitForWrites();
        QCOMPARE(store.uptimeReadStatus(), ReadStatus::Unreadable);
        QVERIFY(store.uptime().isEmpty());
        const QString id = store.addDevice(sample());
        store.applyProbe(id, nativetest::upResult());
        saveNow(store);
        QCOMPARE(unreadCopies().size(), 1);
        QFile aside(QFileInfo(huge.fileName()).path() + "/" + unreadCopies().first());
        QCOMPARE(aside.size(), kvr::services::tun::kUptimeFileMaxBytes + 1);
        QVERIFY(aside.open(QIODevice::ReadOnly) && aside.read(junk.size()) == junk);
        QVERIFY(SecureFile::read(kUptimeFile)->contains(id.toLatin1()));
    }

    // A save that fails is said; the changes people made since the last
    // save are undone (what shows is what the next start reads), check
    // results are kept in memory for the next save; writes that work again
    // take the notice back.
    void failedSavesAreSaidAndUndone()
    {
        NativeStore store;
        const QString kept = store.addDevice(sample());
        saveNow(store);
        const QByteArray onDisk = *SecureFile::read(kInventoryFile);
        QSignalSpy undone(&store, &NativeStore::inventoryNotSaved);
        QSignalSpy said(&store, &NativeStore::saveProblem);
        store.applyProbe(kept, nativetest::upResult()); // found by a check, not yet written
        {
            FileSizeLimit full(16);
            Device renamed = *store.device(kept);
            renamed.name = "Renamed";
            store.updateDevice(renamed);
            store.addDevice(sample());
            saveNow(store);
            QCOMPARE(undone.size(), 1);
            QVERIFY(undone.first().first().toString().contains("(File too large), so the changes since its last save "
                                                               "were undone"));
            QCOMPARE(store.devices().size(), 1);
            QCOMPARE(store.device(kept)->name, sample().name);
            QCOMPARE(store.device(kept)->health.device, Passed); // what the check found stays
            QCOMPARE(*SecureFile::read(kInventoryFile), onDisk);

            // Check results alone: kept in memory, said once.
            store.applyProbe(kept, nativetest::upResult());
            saveNow(store);
            store.applyProbe(kept, nativetest::upResult());
            saveNow(store);
            QCOMPARE(undone.size(), 1);
            QCOMPARE(store.device(kept)->health.device, Passed);
            // The undo, then the uptime history: each file said on its own.
            QCOMPARE(said.size(), 2);
            QCOMPARE(said.at(0).first().toString(), QString::fromLatin1(kInventoryFile));
            QCOMPARE(said.at(1).first().toString(), QString::fromLatin1(kUptimeFile));
            QVERIFY(said.at(1).at(1).toString().startsWith("The uptime history could not be saved in"));
        }
        saveNow(store);
        // Each file's notice taken back by its own write.
        QCOMPARE(said.size(), 4);
        QCOMPARE(QSet<QString>({said.at(2).first().toString(), said.at(3).first().toString()}),
                 QSet<QString>({kInventoryFile, kUptimeFile}));
        QVERIFY(said.at(2).at(1).toString().isEmpty() && said.at(3).at(1).toString().isEmpty());
        QCOMPARE(decodeInventory(*SecureFile::read(kInventoryFile)).devices.value(0).health.device, Passed);
    }

    void damagedFileThatCannotBeCopiedIsMovedAsideBeforeASave()
    {
        const QByteArray cut = writeCutInventory();
        const QString path = SecureFile::path(kInventoryFile);
        ::chmod(QFile::encodeName(path).constData(), 0644);
        // No room for the copy while the store starts (a full disk).
        std::unique_ptr<NativeStore> store;
        {
            FileSizeLimit limit(16);
            store = std::make_unique<NativeStore>();
        }
        QVERIFY(unreadCopies().isEmpty());
        const int read = int(store->devices().size());
        // The devices that were read are saved, and what was not read is
        // still on disk beside them, for the owner only.
        saveNow(*store);
        QCOMPARE(keptAside(), cut);
        QCOMPARE(NativeStore().devices().size(), read);
    }

    void unreadFileIsNeverReplacedByAnEmptyOne()
    {
        // A file that reads as nothing and cannot be kept aside: here the
        // inventory's place is taken by something that cannot be opened.
        const QString path = SecureFile::path(kInventoryFile);
        QVERIFY(QDir().mkpath(path + "/inside"));
        NativeStore store;
        QCOMPARE(store.inventoryReadStatus(), ReadStatus::Unreadable);
        saveNow(store);
        QVERIFY(QFileInfo::exists(path + "/inside"));
        // A real inventory is saved, but the unread file is moved aside
        // first, never replaced.
        const QString id = store.addDevice(sample());
        saveNow(store);
        QCOMPARE(unreadCopies().size(), 1);
        QVERIFY(QFileInfo::exists(QFileInfo(path).path() + "/" + unreadCopies().first() + "/inside"));
        QVERIFY(SecureFile::read(kInventoryFile).value().contains(id.toLatin1()));
    }

    void processWideServicesEndBeforeTheApplication()
    {
        QPointer<NativeStore> store = &NativeStore::instance();
        QPointer<NativeController> controller = &NativeController::instance();
        QPointer<NativeEvents> events = &NativeEvents::instance();
        events->start();
        const QString id = store->addDevice(sample()); // not saved yet
        bool applicationAlive = false;
        connect(store, &QObject::destroyed, this, [&] { applicationAlive = QCoreApplication::instance(); });
        NativeServices::shutdown();
        QVERIFY(!store && !controller && !events);
        QVERIFY(applicationAlive);
        QVERIFY(SecureFile::read(kInventoryFile)->contains(id.toLatin1()));
        NativeServices::shutdown(); // a second time changes nothing
    }

private:
    kvrtest::TestClock clock;
};

KVR_TEST_MAIN(TestNativeStore)

#include "tst_native_store.moc"
