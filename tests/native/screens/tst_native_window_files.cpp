// The native window and its files, as a person meets them: an import that
// shows it is under way until its notice, an import into a full file system
// or a read-only folder (small file systems of its own, mounted in a mount
// namespace of this process, where the platform allows), a choice the
// settings file cannot keep, and files found damaged at start, said once.

#include "app/core/Settings.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/NoticeStrip.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/StatCard.h"
#include "native/services/FileNotices.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/SecureFile.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;
using namespace screenskit;

namespace {

QString dataFolder()
{
    return QFileInfo(SecureFile::path(QStringLiteral("probe"))).absolutePath();
}

QString fixture(const char* name)
{
    return kvrtest::fixturePath(QStringLiteral("csv/") + QLatin1String(name));
}

// The import's notice, once it came.
QString notice()
{
    for (const QString& s : Modal::shown())
        if (s.startsWith(QLatin1String("Import devices: ")))
            return s.mid(16);
    return {};
}

QStringList rowIds(const NativeWindow& w)
{
    QStringList out;
    for (const FleetRules::Row& r : w.model()->rows())
        out << r.id;
    return out;
}

} // namespace

class NativeWindowFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        Modal::reset();
        Modal::setStrict(true);
    }
    void cleanup()
    {
        bench.reset();
        disk.reset();
    }

    // The import shows it is under way until its notice: the file arrives
    // from a pipe, a little now, the rest later.
    void importIsUnderWayUntilItsNotice()
    {
        const Native::Device kept = up("Kept");
        bench = std::make_unique<Bench>(QList<Native::Device>{kept});
        NativeWindow w(bench->context());
        w.show();
        QTemporaryDir dir;
        const QString pipe = dir.filePath(QStringLiteral("devices.csv"));
        QVERIFY(::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
        const int writer = ::open(QFile::encodeName(pipe).constData(), O_RDWR);
        QVERIFY(writer >= 0);
        QFile file(fixture("spreadsheet-windows-1252.csv"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(::write(writer, bytes.constData(), 40) == 40);

        Modal::chooseFile(pipe);
        Modal::answer(QMessageBox::Ok);
        w.importCsv();
        auto* import = findByText<QPushButton>(&w, QStringLiteral("Import CSV"));
        QVERIFY(w.importing() && w.importLabel()->isVisibleTo(&w) && !import->isEnabled());
        QCOMPARE(w.importLabel()->text(), QStringLiteral("Importing…"));
        QTest::qWait(300);
        QVERIFY(notice().isEmpty() && w.importLabel()->isVisibleTo(&w));

        QVERIFY(::write(writer, bytes.constData() + 40, size_t(bytes.size() - 40)) == bytes.size() - 40);
        ::close(writer);
        QTRY_VERIFY(!notice().isEmpty());
        QCOMPARE(notice(),
                 QStringLiteral("2 devices added. Diagnostics are running.\nThe file is not UTF-8 text, so "
                                "it was read as Windows-1252."));
        QVERIFY(!w.importing() && !w.importLabel()->isVisibleTo(&w) && import->isEnabled());
        // Exactly the new devices are diagnosed, the count of busy devices
        // saying so; the table shows all three.
        QSet<QString> probed;
        for (const auto& job : bench->pending)
            probed.insert(job.first);
        probed.remove(kept.id);
        QCOMPARE(probed.size(), 2);
        QCOMPARE(w.busyLabel()->text(), QStringLiteral("Checking %1").arg(bench->pending.size()));
        QTRY_COMPARE(rowIds(w).size(), 3);
    }

    // A save that fails undoes the import and says why, in the notice and on
    // the page; the devices shown are those the next start reads.
    void importIntoAFullOrReadOnlyFileSystem()
    {
        KVR_NEEDS_SMALL_DISKS();
        const Native::Device kept = up("Kept");
        QVERIFY(benchOnAFullDisk(kept));
        NativeWindow w(bench->context());
        w.show();

        QTemporaryDir dir;
        QByteArray rows = "site,name,ip\n";
        for (int i = 1; i <= 200; ++i)
            rows += "Depot,Gate " + QByteArray::number(i) + ",10.9." + QByteArray::number(i / 250) + '.'
                + QByteArray::number(i % 250 + 1) + '\n';
        const QString path = dir.filePath(QStringLiteral("devices.csv"));
        QFile csv(path);
        QVERIFY(csv.open(QIODevice::WriteOnly) && csv.write(rows) == rows.size());
        csv.close();

        const QString full = FileNotices::inventoryNotSaved(SecureFile::path(Native::kInventoryFile),
                                                            QStringLiteral("the disk is full"), true);
        Modal::chooseFile(path);
        Modal::answer(QMessageBox::Ok);
        w.importCsv();
        QTRY_VERIFY(!notice().isEmpty());
        QCOMPARE(notice(), QStringLiteral("0 devices added.\n\n") + full);
        QCOMPARE(w.notices()->lines(), QStringList{full});
        QVERIFY(w.notices()->isVisibleTo(&w));
        QTRY_COMPARE(rowIds(w), QStringList{kept.id});
        QVERIFY(bench->pending.isEmpty()); // nothing to diagnose
        QCOMPARE(bench->store().devices().size(), 1);

        // Read-only: the same, in its own words.
        disk->empty();
        QVERIFY(disk->setReadOnly(true));
        Modal::reset();
        Modal::chooseFile(path);
        Modal::answer(QMessageBox::Ok);
        w.importCsv();
        QTRY_VERIFY(!notice().isEmpty());
        QVERIFY2(notice().contains(QStringLiteral("(the disk is read-only), so the changes since its last save were "
                                                  "undone")),
                 qPrintable(notice()));
        QCOMPARE(bench->store().devices().size(), 1);

        // Writable again: the import is kept, and the page's notice goes.
        QVERIFY(disk->setReadOnly(false));
        Modal::reset();
        Modal::chooseFile(path);
        Modal::answer(QMessageBox::Ok);
        w.importCsv();
        QTRY_VERIFY(!notice().isEmpty());
        QCOMPARE(notice(), QStringLiteral("200 devices added. Diagnostics are running."));
        QVERIFY(!w.notices()->isVisibleTo(&w));
        QCOMPARE(Native::decodeInventory(*SecureFile::read(Native::kInventoryFile)).devices.size(), 201);
    }

    // The files a person asks for (a report, the sample file) on a disk
    // that is full, then read-only: the file there before stays, nothing
    // else is left, and the failure says why where it was asked for.
    void reportsAndTheSampleFileOnAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        const Native::Device gate = up("Gate");
        bench = std::make_unique<Bench>(QList<Native::Device>{gate});
        NativeWindow w(bench->context());
        kvrtest::SmallDisk documents(kvrtest::homeDir() + QStringLiteral("/Documents/usb"), 256);
        QVERIFY(documents.mounted());
        const QString report = documents.folder() + QStringLiteral("/report.csv");
        const QString sample = documents.folder() + QStringLiteral("/sample.csv");
        for (const QString& path : {report, sample}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("last month's") == 12);
        }
        for (const QString& reason : {QStringLiteral("the disk is full"), QStringLiteral("the disk is read-only")}) {
            if (reason.endsWith(QLatin1String("full")))
                QVERIFY(documents.fillLeaving(0));
            else
                QVERIFY(documents.setReadOnly(true));
            ReportDialog dialog(bench->context(), gate.id);
            dialog.kindField()->setCurrentIndex(3); // storage: one row, no dates
            Modal::chooseFile(report);
            dialog.exportReport();
            QCOMPARE(dialog.errorLabel()->text(),
                     QStringLiteral("Can't write that file: %1. Pick another place.").arg(reason));
            QVERIFY(dialog.savedPath().isEmpty());

            Modal::chooseFile(sample);
            Modal::answer(QMessageBox::Ok);
            w.saveSampleCsv();
            QCOMPARE(Modal::shown().constLast(),
                     QStringLiteral("Can’t save: That file can't be written: %1. Pick another place.").arg(reason));
            QVERIFY(w.toastLabel()->text().isEmpty());
            for (const QString& path : {report, sample})
                QVERIFY2(readAll(path) == "last month's", qPrintable(path));
            QCOMPARE(documents.files(), (QStringList{QStringLiteral("report.csv"), QStringLiteral("sample.csv")}));
            documents.empty();
        }
    }

    // A device added while its save cannot be written is never said added
    // (nor checked): it is undone and the notice says why. The event log's
    // failure stands in the strip beside the device list's, each in its own
    // sentence.
    void addedOnlyOnceSavedAndEachFileSaidOnItsOwn()
    {
        KVR_NEEDS_SMALL_DISKS();
        const Native::Device kept = up("Kept");
        QVERIFY(benchOnAFullDisk(kept));
        NativeWindow w(bench->context());
        w.show();
        const QString full = FileNotices::inventoryNotSaved(SecureFile::path(Native::kInventoryFile),
                                                            QStringLiteral("the disk is full"), true);
        Modal::respond([](QDialog& d) {
            auto& dialog = dynamic_cast<DeviceDialog&>(d);
            dialog.form()->addressField()->setText(QStringLiteral("10.9.9.9"));
            dialog.submit();
            return dialog.result();
        });
        Modal::answer(QMessageBox::Ok);
        findByText<QPushButton>(&w, QStringLiteral("Add device"))->click();
        QTRY_VERIFY(Modal::shown().contains(QStringLiteral("Can’t save: ") + full));
        QCOMPARE(bench->store().devices().size(), 1);
        QVERIFY(w.toastLabel()->text().isEmpty());
        QVERIFY(bench->pending.isEmpty()); // no check of a device that is not kept

        bench->events->ingest(kept.id, {AlertStream::Alert{QStringLiteral("diskerror"), true, 0, {}, {}, -1}});
        bench->events->save();
        bench->events->waitForWrites();
        QCOMPARE(w.notices()->lines(),
                 (QStringList{FileNotices::eventsNotSaved(SecureFile::path(QStringLiteral("native-events.json")),
                                                          QStringLiteral("the disk is full")),
                              full}));
        // Room again: each file's sentence goes with its own save.
        disk->empty();
        bench->events->save();
        bench->events->waitForWrites();
        QCOMPARE(w.notices()->lines(), QStringList{full});
        bench->store().flush();
        bench->store().waitForWrites();
        QVERIFY(w.notices()->lines().isEmpty());
    }

    // A choice the settings file cannot keep is said in the window; the
    // file is readable by its owner only.
    void settingsThatCannotBeKeptAreSaid()
    {
        bench = std::make_unique<Bench>(QList<Native::Device>{up("A")});
        NativeWindow w(bench->context());
        w.show();
        QSettings& settings = NativeMode::prefs();
        QVERIFY(Prefs::set(Prefs::kNativeOverview, true));
        QCOMPARE(QFileInfo(settings.fileName()).permissions() & 0x0077, QFileDevice::Permissions());
        auto* toggle = findByText<QPushButton>(&w, QStringLiteral("Hide overview"));
        QVERIFY(toggle);
        KVR_NEEDS_SMALL_DISKS();
        const QString file = settings.fileName();
        {
            kvrtest::ReadOnlyFolder readOnly(QFileInfo(file).absolutePath());
            QVERIFY(readOnly.ok());
            toggle->click();
            QCOMPARE(w.notices()->lines(), QStringList{Prefs::notKeptText()});
            QVERIFY(w.notices()->isVisibleTo(&w));
        }
        // Dismissed, it goes; writable again, the next choice is kept.
        w.notices()->dismissButton()->click();
        QVERIFY(!w.notices()->isVisibleTo(&w));
        findByText<QPushButton>(&w, QStringLiteral("Show overview"))->click();
        QVERIFY(Prefs::lastKept());
        QVERIFY(!w.notices()->isVisibleTo(&w));
        QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("native/vigilo/overview")).toString(),
                 QStringLiteral("true"));
    }

    // Devices added by the thousand are worked out in turns, the window
    // answering in between, and all of them show once the last turn is done.
    void aFleetGrownAtOnceFillsThePageInTurns()
    {
        QList<Native::Device> many;
        for (int i = 0; i < FleetCache::kWorkPerUpdate + 20; ++i)
            many << up(QStringLiteral("Recorder %1").arg(i));
        bench = std::make_unique<Bench>(many);
        NativeWindow w(bench->context());
        QCOMPARE(w.rowsWorkedOut(), FleetCache::kWorkPerUpdate);
        QCOMPARE(w.model()->rowCount(), 0); // shown once all are worked out
        QVERIFY(w.rebuildTimer()->isActive());
        QTRY_COMPARE(w.model()->rowCount(), int(many.size()));
        QCOMPARE(w.card(FleetRules::CardDevices)->value(), QString::number(many.size()));
    }

    // Files damaged at start are said once, in the window, with where the
    // copy of each is kept; a second window says nothing of them.
    void damagedFilesAtStartAreSaidOnce()
    {
        const Native::Device a = up("A");
        const Native::Device b = up("B");
        bench = std::make_unique<Bench>(QList<Native::Device>{a, b});
        bench->events.reset();
        bench->controller.reset();
        bench->fleet.store.reset();
        const QByteArray whole = *SecureFile::read(Native::kInventoryFile);
        QVERIFY(SecureFile::write(Native::kInventoryFile, whole.left(whole.indexOf(b.id.toLatin1()) + 10)));
        QVERIFY(SecureFile::write(QStringLiteral("native-events.json"), "[{\"d\":\"x\",\"at\":"));
        bench->fleet.store = std::make_unique<NativeStore>();
        bench->fleet.store->waitForWrites();
        bench->controller = std::make_unique<NativeController>(
            bench->fleet.store.get(),
            [](const Native::Device&, NativeController::Kind, int, NativeController::Done) {});
        bench->events = std::make_unique<NativeEvents>(bench->fleet.store.get(), bench->controller.get());

        NativeWindow w(bench->context());
        w.show(); // the event log is read as the window shows
        const QStringList said = w.notices()->lines();
        QCOMPARE(said.size(), 2);
        QVERIFY2(said.at(0).startsWith(QStringLiteral("The device list could not be read whole: 1 device could be "
                                                      "read from it. The file as it was is kept as ")
                                       + dataFolder() + QStringLiteral("/native-inventory.bin.unread-")),
                 qPrintable(said.at(0)));
        QVERIFY2(said.at(1).startsWith(QStringLiteral("The event log could not be read, so earlier events do not "
                                                      "show. The file as it was is kept as ")
                                       + dataFolder() + QStringLiteral("/native-events.json.unread-")),
                 qPrintable(said.at(1)));
        QVERIFY(w.notices()->isVisibleTo(&w));
        QCOMPARE(rowIds(w), QStringList{a.id});

        NativeWindow again(bench->context());
        again.show();
        QVERIFY(again.notices()->lines().isEmpty());
        QVERIFY(!again.notices()->isVisibleTo(&again));
    }

private:
    // The data folder on a small disk of its own, under a bench of one
    // device; the rest of the disk taken by something else.
    bool benchOnAFullDisk(const Native::Device& kept)
    {
        disk = std::make_unique<kvrtest::SmallDisk>(dataFolder());
        bench = std::make_unique<Bench>(QList<Native::Device>{kept});
        return disk->mounted() && disk->fillLeaving(0);
    }

    std::unique_ptr<Bench> bench;
    std::unique_ptr<kvrtest::SmallDisk> disk;
};

KVR_TEST_MAIN(NativeWindowFilesTest)

#include "tst_native_window_files.moc"
