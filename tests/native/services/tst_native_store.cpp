#include "app/core/Settings.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <memory>
#include <random>

using namespace Native;
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

ProbeResult up()
{
    return nativetest::upResult();
}
ProbeResult down()
{
    return nativetest::offlineResult();
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
        store.flush();
        whole = *SecureFile::read(kInventoryFile);
    }
    const QByteArray cut = whole.left(whole.size() * 3 / 4);
    SecureFile::write(kInventoryFile, cut);
    return cut;
}

// Minutes credited to a series: in one hour of the test day, or in all.
double minutes(const NativeStore& s, const QString& key, int hour = -1)
{
    double sum = 0;
    if (const UptimeHistory::Series* series = s.uptime().series(key))
        for (const auto& [day, hours] : *series)
            for (int h = 0; h < 24; ++h)
                sum += (hour < 0 || (day == kDay && h == hour)) ? hours[size_t(h)] : 0;
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
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);

        Site site;
        site.id = "ignored";
        site.name = "HQ";
        const QString siteId = store.addSite(site);
        QVERIFY(siteId != site.id && store.site(siteId));

        Device d = sample(3);
        d.siteId = siteId;
        d.health.device = Passed;
        d.cameras = {Camera{}, Camera{}};
        const QString id = store.addDevice(d);
        const std::optional<Device> stored = store.device(id);
        QCOMPARE(stored->createdAt, at(9, 0));
        QCOMPARE(stored->health.device, 0); // a fresh block
        QCOMPARE(stored->cameras.size(), 3);
        QCOMPARE(stored->cameras[2].channelId, 3);
        QCOMPARE(changed.size(), 2);

        store.setEnabled(id, false, "Moved");
        QCOMPARE(store.device(id)->disabledReason, QStringLiteral("Moved"));
        store.setEnabled(id, true, "ignored when enabling");
        QVERIFY(store.device(id)->enabled);
        QVERIFY(store.device(id)->disabledReason.isEmpty());
        QCOMPARE(updated.size(), 2);

        // What the store hands out is a copy: it outlives any reshuffle of
        // the store's lists, and changing it changes nothing stored.
        std::optional<Device> copy = store.device(id);
        for (int i = 0; i < 64; ++i)
            store.removeDevice(store.addDevice(sample()));
        copy->name = "Edited copy";
        QCOMPARE(store.device(id)->name, QStringLiteral("Recorder"));

        // Removing the site removes its devices, each with its own notice.
        const QString other = store.addDevice(sample());
        changed.clear();
        store.removeSite(siteId);
        QCOMPARE(changed.size(), 2);
        QVERIFY(!store.device(id));
        QVERIFY(store.device(other));
        QVERIFY(store.sites().isEmpty());
    }

    void addressesThatAreNotHostsAreRefused()
    {
        NativeStore store;
        QSignalSpy changed(&store, &NativeStore::changed);
        for (const QString& bad : {QStringLiteral("admin@10.0.0.5"), QStringLiteral("10.0.0.5:8080"), QString()}) {
            Device d = sample();
            d.ip = bad;
            QString error;
            QVERIFY2(store.addDevice(d, &error).isEmpty(), qPrintable(bad));
            QVERIFY(!error.isEmpty());
        }
        QCOMPARE(changed.size(), 0);

        Device d = sample();
        d.ip = "  nvr-1.example.lan "; // surrounding blanks are a typing slip
        const QString id = store.addDevice(d);
        QCOMPARE(store.device(id)->ip, QStringLiteral("nvr-1.example.lan"));
        Device edit = *store.device(id);
        edit.ip = "nvr-1.example.lan/../x";
        edit.name = "changed";
        QString error;
        QVERIFY(!store.updateDevice(edit, &error));
        QVERIFY(!error.isEmpty());
        QCOMPARE(store.device(id)->name, QStringLiteral("Recorder"));
    }

    void connectionChangesResetHealth()
    {
        NativeStore store;
        const QString id = store.addDevice(sample());
        store.applyProbe(id, up());
        clock.advanceSecs(300);
        store.applyProbe(id, up());
        QCOMPARE(minutes(store, checkedKey(id)), 6.0); // 60 s first, then 5 min

        QSignalSpy updated(&store, &NativeStore::deviceUpdated);
        Device edit = *store.device(id);
        edit.name = "Renamed";
        edit.health = Health{}; // the editor's copy of health is not taken
        QVERIFY(store.updateDevice(edit));
        QCOMPARE(store.device(id)->health.device, int(Passed));
        QCOMPARE(updated.size(), 1);

        edit.password = "new";
        edit.channels = 2;
        QVERIFY(store.updateDevice(edit));
        const std::optional<Device> d = store.device(id);
        QCOMPARE(d->health.device, 0);
        QCOMPARE(d->health.latencyMs, -1);
        QCOMPARE(d->cameras.size(), 2);
        // The last check was forgotten with the old connection: the next
        // probe credits the first-probe minute only.
        clock.advanceSecs(300);
        store.applyProbe(id, up());
        QCOMPARE(minutes(store, checkedKey(id)), 7.0);
    }

    void camerasEditorRules()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(4));
        Camera named;
        named.channelId = 3;
        named.name = "Gate";
        store.saveCameras(id, {named});
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);

        auto cam = [](int channel, const char* name, int blur) {
            Camera c;
            c.channelId = channel;
            c.name = name;
            c.blur = blur;
            return c;
        };
        store.saveCameras(id, {cam(3, "  ", 50), cam(2, " ", 101), cam(99, "x", 0)}); // 99: not on the device
        const std::optional<Device> stored = store.device(id);
        QCOMPARE(stored->cameras[2].name, QStringLiteral("Camera 3"));
        QCOMPARE(stored->cameras[2].blur, 50);
        QVERIFY(stored->cameras[1].name.isEmpty());
        QCOMPARE(stored->cameras[1].blur, 0);
        QCOMPARE(stored->cameras.size(), 4);
        QCOMPARE(updated.size(), 1);
    }

    void probeResultsAreApplied()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(8));
        QSignalSpy updated(&store, &NativeStore::deviceUpdated);

        ProbeResult r = up();
        r.detailsFetched = true;
        r.health.model = "DS-1";
        r.health.hdd = "OK";
        r.health.recordingDays = 12;
        r.health.recordingWindow = 30;
        r.channelsKnown = true;
        r.channels = {
            {1, "Door", true, true}, {2, " door ", true, false}, {3, "Yard", true, false}, {12, "Back", true, true}};
        store.applyProbe(id, r);
        std::optional<Device> d = store.device(id);
        QCOMPARE(d->channels, 12);
        QCOMPARE(d->cameras.size(), 12);
        QCOMPARE(d->cameras[11].name, QStringLiteral("Back"));
        QVERIFY(d->cameras[0].name.isEmpty()); // a name on two channels names neither
        QVERIFY(d->cameras[1].name.isEmpty());
        QCOMPARE(d->cameras[2].name, QStringLiteral("Yard"));
        QVERIFY(d->cameras[0].online && d->cameras[0].onlineKnown);
        QVERIFY(!d->cameras[2].online && d->cameras[2].onlineKnown);
        QCOMPARE(d->cameras[2].lastOffline, at(9, 0));
        QVERIFY(!d->cameras[4].onlineKnown);
        QCOMPARE(d->health.fetchedAt, at(9, 0));
        QCOMPARE(store.lastSeenUp(id), at(9, 0));
        QCOMPARE(updated.size(), 1);

        // A later fetch without disk verdict or count keeps the old ones; a
        // user-named camera keeps its name.
        Camera mine;
        mine.channelId = 3;
        mine.name = "My yard";
        store.saveCameras(id, {mine});
        clock.advanceSecs(60);
        ProbeResult again = up();
        again.detailsFetched = true;
        again.channelsKnown = true;
        again.channels = {{3, "Other", true, true}};
        store.applyProbe(id, again);
        d = store.device(id);
        QCOMPARE(d->health.hdd, QStringLiteral("OK"));
        QCOMPARE(d->health.recordingDays, 12);
        QVERIFY(d->health.model.isEmpty()); // taken even when empty
        QCOMPARE(d->cameras[2].name, QStringLiteral("My yard"));

        // Device down: every camera goes offline, the known flags and dates stay.
        clock.advanceSecs(60);
        store.applyProbe(id, down());
        d = store.device(id);
        QVERIFY(!d->cameras[0].online);
        QVERIFY(d->cameras[0].onlineKnown);
        QCOMPARE(store.lastSeenUp(id), at(9, 1));
        QCOMPARE(d->health.error, QStringLiteral("Device is offline."));

        // Channel numbers from a device are never trusted to be small.
        ProbeResult wild = up();
        wild.channelsKnown = true;
        wild.channels = {{std::numeric_limits<int>::max(), "x", true, true}, {-5, "y", true, true}};
        store.applyProbe(id, wild);
        QCOMPARE(store.device(id)->channels, 256);
        QCOMPARE(store.device(id)->cameras.size(), 256);

        // Disabled: nothing at all.
        store.setEnabled(id, false, {});
        updated.clear();
        const quint64 rev = store.uptimeRevision();
        store.applyProbe(id, up());
        QCOMPARE(updated.size(), 0);
        QCOMPARE(store.uptimeRevision(), rev);
    }

    void uptimeCreditIsCapped()
    {
        NativeStore store;
        const QString id = store.addDevice(sample(2));
        ProbeResult r = up();
        r.channelsKnown = true;
        r.channels = {{1, {}, true, true}, {2, {}, true, true}};
        Device edit = *store.device(id);
        edit.ignored = {2};
        QVERIFY(store.updateDevice(edit));

        clock.setNowUtc(at(10, 0).toUTC());
        store.applyProbe(id, r); // first probe: the last minute
        QCOMPARE(minutes(store, checkedKey(id), 9), 1.0);
        QCOMPARE(minutes(store, cameraKey(id, 1), 9), 1.0);
        QVERIFY(!store.uptime().series(cameraKey(id, 2))); // ignored

        clock.setNowUtc(at(10, 5).toUTC());
        store.applyProbe(id, r);
        QCOMPARE(minutes(store, checkedKey(id), 10), 5.0);

        // 20 minutes of silence at poll 5: only the last 450 s count.
        clock.setNowUtc(at(10, 25).toUTC());
        store.applyProbe(id, down());
        QCOMPARE(minutes(store, checkedKey(id), 10), 12.5);
        QCOMPARE(minutes(store, deviceKey(id), 10), 5.0); // down: no device credit

        NativeMode::prefs().setValue("native/pollMinutes", 10);
        clock.setNowUtc(at(11, 25).toUTC());
        store.applyProbe(id, up());
        QCOMPARE(minutes(store, checkedKey(id), 11), 15.0); // cap 900 s

        // Whatever the gaps, one probe never credits more than its cap, and
        // never more than the time that passed.
        std::mt19937 rng(7);
        for (int poll : {0, 1, 5, 60, 1000000}) {
            NativeMode::prefs().setValue("native/pollMinutes", poll);
            const qint64 cap = NativeStore::creditCapSeconds(poll);
            QVERIFY(cap >= 450 && cap <= 5400);
            for (int i = 0; i < 40; ++i) {
                const qint64 gap = std::uniform_int_distribution<qint64>(0, 3 * 3600)(rng);
                const double before = minutes(store, checkedKey(id));
                clock.advanceSecs(gap);
                store.applyProbe(id, up());
                const double got = (minutes(store, checkedKey(id)) - before) * 60.0;
                QVERIFY2(got <= double(std::min(gap, cap)) + 1e-6,
                         qPrintable(QStringLiteral("gap %1 credited %2").arg(gap).arg(got)));
            }
        }
    }

    void savesAreCoalescedAndBounded()
    {
        // 1.5 s after the last change, never more than 30 s after the first
        // unsaved one.
        NativeStore store;
        const QString id = store.addDevice(sample());
        QCOMPARE(store.pendingSaveDelayMs(), 1500);
        // A change every second of the test clock keeps the save waiting
        // only until 30 s after the first.
        for (int i = 0; i < 29; ++i) {
            clock.advanceSecs(1);
            store.applyProbe(id, up());
        }
        QCOMPARE(store.pendingSaveDelayMs(), 1000);
        clock.advanceSecs(1);
        store.applyProbe(id, up());
        QCOMPARE(store.pendingSaveDelayMs(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(store.inventoryWriteCount(), 1, 5000);
        QCOMPARE(store.pendingSaveDelayMs(), -1);

        // After a save, a burst is written once, after the delay.
        store.applyProbe(id, up());
        clock.advanceSecs(1);
        store.applyProbe(id, up());
        QCOMPARE(store.pendingSaveDelayMs(), 1500);
        QCOMPARE(store.inventoryWriteCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(store.inventoryWriteCount(), 2, 5000);

        // The inventory is never readable by others, and it reads back.
        const QString path = SecureFile::path(kInventoryFile);
        QCOMPARE(modeOf(path), 0600);
        NativeStore again;
        QCOMPARE(again.inventoryReadStatus(), ReadStatus::Clean);
        QCOMPARE(again.device(id)->password, QStringLiteral("secret"));
        QVERIFY(again.uptime().series(deviceKey(id)));
    }

    void uptimeStaysDirtyUntilWritten()
    {
        NativeStore store;
        const QString id = store.addDevice(sample());
        store.applyProbe(id, up());
        const QString path = SecureFile::path(kUptimeFile);
        {
            FileSizeLimit limit(16);
            store.flush();
        }
        QVERIFY(!QFile::exists(path) || QFileInfo(path).size() == 0);
        QVERIFY(store.uptime().dirty());
        store.flush(); // no new credit, yet the history reaches the disk
        QVERIFY(!store.uptime().dirty());
        QVERIFY(SecureFile::read(kUptimeFile)->contains(checkedKey(id).toLatin1()));

        // Removing the device drops its series from the next write.
        store.removeDevice(id);
        store.flush();
        QVERIFY(!SecureFile::read(kUptimeFile)->contains(id.toLatin1()));
    }

    void timedUptimeSavesRunBetweenOtherWork()
    {
        // A large history (as after weeks of a big fleet) is saved a slice
        // at a time; credit arriving meanwhile is not lost.
        const QString id = [] {
            NativeStore s;
            const QString added = s.addDevice(sample());
            s.flush();
            return added;
        }();
        QVERIFY(SecureFile::write(kUptimeFile, nativetest::uptimeFileText(9000, 40, kDay)));

        NativeStore store;
        QCOMPARE(store.uptime().seriesCount(), 9000);
        store.applyProbe(id, up());
        QTRY_VERIFY_WITH_TIMEOUT(store.uptimeSaveInProgress(), 5000);
        clock.advanceSecs(120);
        store.applyProbe(id, up()); // credit while the file is being written
        QTRY_VERIFY_WITH_TIMEOUT(!store.uptimeSaveInProgress(), 10000);
        QVERIFY(store.uptime().dirty()); // the file lacks the second credit
        QTRY_VERIFY_WITH_TIMEOUT(!store.uptime().dirty(), 10000);
        UptimeHistory onDisk;
        QStringList problems;
        QCOMPARE(onDisk.decode(*SecureFile::read(kUptimeFile), kDay, &problems), ReadStatus::Clean);
        QCOMPARE(onDisk.seriesCount(), 9000 + 3);
        const UptimeHistory::Series* checked = onDisk.series(checkedKey(id));
        QVERIFY(checked);
        QCOMPARE(checked->at(kDay)[8], 1.0); // 08:59 to 09:00, the first probe's minute
        QCOMPARE(checked->at(kDay)[9], 2.0); // 09:00 to 09:02
    }

    // What could not be read is kept aside, owner-only, before anything
    // replaces the file; the rest is read.
    void damagedFilesAreReadAsFarAsSoundAndKept()
    {
        QString firstId;
        const QByteArray cut = writeCutInventory(&firstId);
        kvrtest::LogCapture log;
        {
            NativeStore store;
            QCOMPARE(store.inventoryReadStatus(), ReadStatus::Damaged);
            QVERIFY(store.devices().size() >= 2 && store.devices().size() < 4);
            QVERIFY(store.device(firstId));
            QVERIFY(log.contains(QStringLiteral("damaged")));
            QCOMPARE(unreadCopies().size(), 1);
            QCOMPARE(*SecureFile::read(unreadCopies().first()), cut);
            QCOMPARE(modeOf(SecureFile::path(unreadCopies().first())), 0600);
        }

        nativetest::clearDataDir();
        const QByteArray junk = "{\"series\":{\"d:x\":{\"2026-03-02\":[1,2";
        QVERIFY(SecureFile::write(kUptimeFile, junk));
        NativeStore store;
        QCOMPARE(store.uptimeReadStatus(), ReadStatus::Damaged);
        QVERIFY(log.contains(QStringLiteral("native-uptime.json")));
        QCOMPARE(unreadCopies().size(), 1);
        QCOMPARE(*SecureFile::read(unreadCopies().first()), junk);
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
        QVERIFY(read >= 2 && read < 4);
        // The devices that were read are saved, and what was not read is
        // still on disk beside them, for the owner only.
        store->flush();
        QCOMPARE(unreadCopies().size(), 1);
        const QString aside = QFileInfo(path).path() + "/" + unreadCopies().first();
        QCOMPARE(*SecureFile::read(unreadCopies().first()), cut);
        QCOMPARE(modeOf(aside), 0600);
        QCOMPARE(NativeStore().devices().size(), read);
    }

    void unreadFileIsNeverReplacedByAnEmptyOne()
    {
        // A file that reads as nothing and cannot be kept aside: here the
        // inventory's place is taken by something that cannot be opened.
        const QString path = SecureFile::path(kInventoryFile);
        QVERIFY(QDir().mkpath(path + "/inside"));

        kvrtest::LogCapture log;
        NativeStore store;
        QCOMPARE(store.inventoryReadStatus(), ReadStatus::Unreadable);
        QVERIFY(log.contains(QStringLiteral("cannot be read")));
        store.flush();
        QVERIFY(QFileInfo::exists(path + "/inside"));
        QVERIFY(log.contains(QStringLiteral("not replaced by an empty inventory")));
        // A real inventory is saved, but the unread file is moved aside
        // first, never replaced.
        const QString id = store.addDevice(sample());
        store.flush();
        QCOMPARE(unreadCopies().size(), 1);
        QVERIFY(QFileInfo::exists(QFileInfo(path).path() + "/" + unreadCopies().first() + "/inside"));
        QVERIFY(SecureFile::read(kInventoryFile).value().contains(id.toLatin1()));
    }

private:
    kvrtest::TestClock clock;
};

KVR_TEST_MAIN(TestNativeStore)
#include "tst_native_store.moc"
