#include "native/services/FileNotices.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "native/services/StartPacer.h"
#include "native/services/UptimeHistory.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestKit.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

using namespace kvr::services;

using namespace Native;
using nativetest::FileSizeLimit;
using nativetest::modeOf;

namespace {

QByteArray bytesOf(const QString& name)
{
    return SecureFile::read(name).value_or(QByteArray("<absent>"));
}

// The sentence each file's notice holds now, by file (the last said of each).
QMap<QString, QString> notices(const QSignalSpy& store, const QSignalSpy& events)
{
    QMap<QString, QString> out;
    for (const QList<QVariant>& said : store)
        out.insert(said.at(0).toString(), said.at(1).toString());
    for (const QList<QVariant>& said : events)
        out.insert(QStringLiteral("events"), said.at(0).toString());
    out.removeIf([](const auto& entry) { return entry.value().isEmpty(); });
    return out;
}

} // namespace

class TestNativeFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The inventory, the uptime history and the event log on a disk that is
    // full, then read-only: none is emptied or cut, each failure is said in
    // a sentence of its own (one never stands in for another), a person's
    // change is undone, check results and events are held and written once
    // the disk takes them; a quit that still cannot write them says so.
    void dataFilesOnAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        kvrtest::SmallDisk disk(QFileInfo(SecureFile::path(QStringLiteral("x"))).absolutePath(), 512);
        QVERIFY(disk.mounted());
        kvrtest::TestClock clock; // each check credits the minutes since the last
        NativeStore store;
        store.waitForWrites();
        Device dvr;
        dvr.name = "Depot";
        dvr.ip = "192.168.1.20";
        dvr.manufacturer = "DAHUA"; // no event stream
        const QString id = store.addDevice(dvr);
        store.applyProbe(id, nativetest::upResult());
        NativeEvents events(&store, nullptr);
        events.start();
        events.ingest(id, {AlertStream::Alert{"diskerror", true, 0, {}, {}, -1}});
        store.flush();
        store.waitForWrites();
        events.save();
        events.waitForWrites();
        const QStringList files{QStringLiteral("native-events.json"), QString::fromLatin1(kInventoryFile),
                                QString::fromLatin1(kUptimeFile)};
        QCOMPARE(disk.files(), files);
        QMap<QString, QByteArray> before;
        for (const QString& f : files)
            before.insert(f, bytesOf(f));
        QSignalSpy storeSaid(&store, &NativeStore::saveProblem);
        QSignalSpy eventsSaid(&events, &NativeEvents::saveProblem);

        for (const QString& reason : {QStringLiteral("the disk is full"), QStringLiteral("the disk is read-only")}) {
            if (reason.endsWith(QLatin1String("full"))) {
                QVERIFY(disk.fillLeaving(0));
            } else {
                disk.empty();
                QVERIFY(disk.setReadOnly(true));
            }
            Device renamed = *store.device(id);
            renamed.name = "Renamed";
            store.updateDevice(renamed);
            clock.advanceSecs(300);
            store.applyProbe(id, nativetest::upResult());
            events.ingest(id, {AlertStream::Alert{"videoloss", true, 2, {}, {}, -1}});
            const qsizetype held = events.events().size();
            store.flush();
            store.waitForWrites();
            events.save();
            events.waitForWrites();
            for (const QString& f : files)
                QVERIFY2(bytesOf(f) == before.value(f), qPrintable(f));
            QCOMPARE(disk.files(), files);
            QCOMPARE(
                notices(storeSaid, eventsSaid),
                (QMap<QString, QString>{
                    {kInventoryFile, FileNotices::inventoryNotSaved(SecureFile::path(kInventoryFile), reason, true)},
                    {kUptimeFile, FileNotices::uptimeNotSaved(SecureFile::path(kUptimeFile), reason)},
                    {QStringLiteral("events"),
                     FileNotices::eventsNotSaved(SecureFile::path(QStringLiteral("native-events.json")), reason)}}));
            QCOMPARE(store.device(id)->name, dvr.name); // the change undone, as the next start reads it
            QCOMPARE(events.events().size(), held);     // the events held, and tried again later
            QCOMPARE(events.pendingSaveDelayMs(), int(tun::kEventSaveRetry.count()));
            QVERIFY(store.saveFailing() && events.saveFailing());
        }

        // At the end, with the disk still read-only: what is lost is logged.
        {
            kvrtest::LogCapture log;
            QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection);
            QVERIFY(log.contains(QStringLiteral("native events: at the end: ")
                                 + FileNotices::lostAtEnd(FileNotices::File::Events,
                                                          SecureFile::path(QStringLiteral("native-events.json")),
                                                          QStringLiteral("the disk is read-only"))));
            QVERIFY(log.contains(QStringLiteral("native store: at the end: The uptime history could not be saved")));
            QCOMPARE(store.lostAtEnd().size(), 2);
        }

        // The disk takes them again: everything held is written, every notice goes.
        QVERIFY(disk.setReadOnly(false));
        clock.advanceSecs(300);
        store.applyProbe(id, nativetest::upResult());
        store.flush();
        store.waitForWrites();
        events.save();
        events.waitForWrites();
        QVERIFY(notices(storeSaid, eventsSaid).isEmpty());
        QVERIFY(!store.saveFailing() && !events.saveFailing());
        QCOMPARE(QJsonDocument::fromJson(bytesOf(QStringLiteral("native-events.json"))).array().size(), 3);
        QCOMPARE(decodeInventory(bytesOf(kInventoryFile)).devices.value(0).health.device, Passed);
        QVERIFY(bytesOf(kUptimeFile) != before.value(kUptimeFile));
    }

    void secureWriteIsOwnerOnlyAndKeepsTheOldFileOnFailure()
    {
        const QString name = QStringLiteral("secret-test.bin");
        const QString path = SecureFile::path(name);
        QVERIFY(!SecureFile::read(name).has_value()); // missing: no value

        // A file that was readable by others before is not after.
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        ::chmod(QFile::encodeName(path).constData(), 0644);
        const mode_t oldMask = ::umask(0); // the loosest the process may be
        QVERIFY(SecureFile::write(name, "password=1"));
        ::umask(oldMask);
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(*SecureFile::read(name), QByteArray("password=1"));

        // Empty file: present and empty.
        QVERIFY(SecureFile::write(name, QByteArray()));
        QCOMPARE(SecureFile::read(name), std::optional<QByteArray>(QByteArray()));

        // A write that fails (a full disk) keeps the previous file, and
        // leaves no temporary file behind.
        QVERIFY(SecureFile::write(name, "the old content"));
        {
            FileSizeLimit limit(64);
            QVERIFY(!SecureFile::write(name, QByteArray(4096, 'x')));
        }
        QCOMPARE(*SecureFile::read(name), QByteArray("the old content"));
        QCOMPARE(modeOf(path), 0600);
        const QStringList left =
            QDir(QFileInfo(path).path()).entryList({QStringLiteral("secret-test*")}, QDir::Files | QDir::Hidden);
        QCOMPARE(left, QStringList{name});
    }

    void pacerSpacesStartsPerKey()
    {
        kvrtest::TestClock clock;
        QCOMPARE(StartPacer::reserve("dev-a", 80), 0);
        QCOMPARE(StartPacer::reserve("dev-a", 80), 80);
        QCOMPARE(StartPacer::reserve("dev-a", 80), 160);
        QCOMPARE(StartPacer::reserve("dev-b", 300), 0); // keys do not delay each other
        QCOMPARE(StartPacer::reserve("dev-b", 300), 300);
        clock.advanceMs(100);
        QCOMPARE(StartPacer::reserve("dev-a", 80), 140); // still inside the burst
        clock.advanceMs(500);
        QCOMPARE(StartPacer::reserve("dev-a", 80), 0);
    }

    // Missing, wrong-typed and out-of-range values read as sound ones; a
    // device without an id is dropped; duplicate camera names name nothing.
    void valuesAreDefaultedClampedAndMapped()
    {
        const InventoryData data =
            decodeInventory("{\"devices\":["
                            "{\"id\":\"bare\"},{\"name\":\"no id\"},"
                            "{\"id\":\"many\",\"channels\":500},"
                            "{\"id\":\"huge\",\"channels\":1e12,\"httpPort\":12.5,\"manufacturer\":7,\"type\":null},"
                            "{\"id\":\"ign\",\"channels\":4,\"ignored\":[0,2,9,\"x\"],\"cameras\":["
                            "{\"channelId\":1,\"name\":\"Gate\"},{\"channelId\":2,\"name\":\" gate \"},"
                            "{\"channelId\":3,\"name\":\"GATE\"},{\"channelId\":4,\"name\":\"Yard\"},"
                            "{\"channelId\":9,\"name\":\"gone\"}]},"
                            "{\"id\":\"st\",\"health\":{\"internet\":3,\"device\":-1,\"digest\":1,"
                            "\"latencyMs\":-9e15,\"checkedAt\":\"not a date\",\"lastUp\":\"2026-03-01T10:20:30\"}}"
                            "],\"sites\":[{}]}");
        QCOMPARE(data.status, ReadStatus::Clean);
        QCOMPARE(data.sites.size(), 1); // sites are kept whatever their id
        // Per device: channels, cameras, HTTP port, brand, type, ignored,
        // camera names, then internet/device/digest, latency, recorded days,
        // check and last-up times.
        QStringList read;
        for (const Device& d : data.devices) {
            QStringList names;
            for (const Camera& c : d.cameras.mid(0, 4))
                names << c.name;
            const Health& h = d.health;
            read << QStringList({d.id, QString::number(d.channels), QString::number(d.cameras.size()),
                                 QString::number(d.httpPort), d.manufacturer, d.type,
                                 QStringLiteral("%1/%2").arg(d.ignored.value(0, -1)).arg(d.ignored.size()),
                                 "[" + names.join(',') + "]",
                                 QStringLiteral("%1/%2/%3").arg(h.internet).arg(h.device).arg(h.digest),
                                 QString::number(h.latencyMs), QString::number(h.recordingDays),
                                 h.checkedAt.isValid() ? "checked" : "-", h.lastUp.toString(Qt::ISODate)})
                        .join(' ');
        }
        QCOMPARE(read,
                 QStringList({"bare 1 1 80 HIKVISION nvr -1/0 [] 0/0/0 -1 -1 - ",
                              "many 256 256 80 HIKVISION nvr -1/0 [,,,] 0/0/0 -1 -1 - ",
                              // A huge count never wraps; a port that is not integral: default.
                              "huge 256 256 80 HIKVISION nvr -1/0 [,,,] 0/0/0 -1 -1 - ",
                              "ign 4 4 80 HIKVISION nvr 2/1 [,,,Yard] 0/0/0 -1 -1 - ",
                              "st 1 1 80 HIKVISION nvr -1/0 [] 0/0/1 -2147483648 -1 - 2026-03-01T10:20:30"}));
    }

    void writtenFormRoundTrips()
    {
        Device d;
        d.id = "x";
        d.name = QStringLiteral("Front \"door\" \\ ünïcode \t\n\x01 ") + QString::fromUtf8("\xF0\x9F\x93\xB7");
        d.password = "p@ss:w/rd";
        d.channels = 4;
        d.ignored = {2};
        d.createdAt = QDateTime(QDate(2026, 3, 2), QTime(8, 9, 10, 500));
        d.health.device = Passed;
        d.health.lastUp = QDateTime(QDate(2026, 3, 2), QTime(9, 0, 1));
        syncCameras(d);
        d.cameras[0] = {1, "Gate", true, true, {}, {}, 40};
        const Site s{"site", "HQ", {}, {}, {}, "+44 1234", {}};

        const QByteArray bytes = encodeInventory({s}, {d});
        // Compact, keys ascending: the written text is what a sorting writer makes.
        QCOMPARE(QJsonDocument::fromJson(bytes).toJson(QJsonDocument::Compact), bytes);

        const InventoryData back = decodeInventory(bytes);
        QCOMPARE(back.status, ReadStatus::Clean);
        // Read back: the same device (created to the second), site and bytes.
        auto line = [](const Device& x) {
            return QStringList({nativetest::describe(x), x.password, QString::number(x.ignored.value(0)),
                                x.createdAt.toString(Qt::ISODateWithMs), x.health.checkedAt.toString(Qt::ISODate),
                                x.health.lastUp.toString(Qt::ISODate)});
        };
        d.createdAt = d.createdAt.addMSecs(-500);
        QCOMPARE(line(back.devices.first()), line(d));
        QCOMPARE(back.sites.first().sim, s.sim);
        QCOMPARE(encodeInventory(back.sites, back.devices), bytes);
    }

    void damagedInventoryIsReadAsFarAsSound()
    {
        QList<Device> devices;
        for (int i = 0; i < 5; ++i) {
            Device d;
            d.id = QStringLiteral("dev-%1").arg(i);
            d.password = QStringLiteral("secret-%1").arg(i);
            syncCameras(d);
            devices.append(d);
        }
        const QByteArray whole = encodeInventory({Site{"s", {}, {}, {}, {}, {}, {}}}, devices);

        // Truncated inside the fourth device: three whole devices survive and
        // no half-read record (with a lost password) is made up.
        const qsizetype cut = whole.indexOf("dev-3") - 20;
        InventoryData data = decodeInventory(whole.left(cut));
        QCOMPARE(data.status, ReadStatus::Damaged);
        QCOMPARE(data.devices.size(), 3);
        QCOMPARE(data.devices[2].password, QStringLiteral("secret-2"));
        QCOMPARE(data.problems.size(), 1);

        // Garbage in the middle: what came before it is read.
        QByteArray broken = whole;
        broken.replace(whole.indexOf("dev-2"), 5, "d\"\"\"v");
        data = decodeInventory(broken);
        QCOMPARE(data.status, ReadStatus::Damaged);
        QVERIFY(data.devices.size() <= 2);

        for (const QByteArray& junk : {QByteArray(), QByteArray("\x00\x01garbage", 9), QByteArray("[1,2,3]")})
            QCOMPARE(decodeInventory(junk).status, ReadStatus::Damaged);

        // Another version: the members this build knows are read.
        QByteArray v2 = whole;
        v2.replace("\"version\":1", "\"version\":2");
        data = decodeInventory(v2);
        QCOMPARE(data.status, ReadStatus::OtherVersion);
        QCOMPARE(data.devices.size(), 5);
        QCOMPARE(data.problems.size(), 1);
    }
};

KVR_TEST_MAIN(TestNativeFiles)

#include "tst_native_files.moc"
