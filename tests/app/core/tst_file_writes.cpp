// The core's writers on disks as people's machines have them: a small disk
// that fills up (a tmpfs of the suite's own, filled to its last page or to
// none) and one that takes no writes. A file is written whole or not at
// all, the one before stays, and the failure says why in plain words: the
// shared writer, the remembered sign-in and the settings store.

#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/core/SettingsFile.h"
#include "app/core/WholeFile.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

using namespace kvr::core;
using kvrtest::SmallDisk;

namespace {

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<absent>");
}

QDateTime utcNow()
{
    return QDateTime::currentDateTimeUtc();
}

} // namespace

class FileWritesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A write that does not fit fails at once, however small (a few bytes
    // a buffered file would keep to its last flush and commit as an empty
    // file), and leaves the old file and no other behind; once there is
    // room again it goes through.
    void aFullDiskKeepsTheOldFile()
    {
        KVR_NEEDS_SMALL_DISKS();
        SmallDisk disk(kvrtest::homeDir() + QStringLiteral("/full"), 256);
        QVERIFY(disk.mounted());
        const QString path = disk.folder() + QStringLiteral("/report.csv");
        QVERIFY(WholeFile::write(path, "old,content\n").ok());

        QVERIFY(disk.fillLeaving(4096));
        const struct {
            const char* what;
            qint64 room;
            QByteArray bytes;
        } rows[] = {{"larger than the room left", 4096, QByteArray(20000, 'n')},
                    {"a few bytes, no room at all", 0, QByteArray("x,y\n")}};
        for (const auto& row : rows) {
            QVERIFY(disk.fillLeaving(row.room));
            const WholeFile::Outcome out = WholeFile::write(path, row.bytes, WholeFile::Access::OwnerOnly);
            QVERIFY2(out.failure == WholeFile::Failure::DiskFull, row.what);
            QCOMPARE(WholeFile::reason(out), QStringLiteral("the disk is full"));
            QVERIFY2(!out.detail.isEmpty(), row.what);
            QCOMPARE(contentOf(path), QByteArray("old,content\n"));
            QCOMPARE(disk.files(), QStringList{QStringLiteral("report.csv")});
        }
        disk.empty();
        QVERIFY(WholeFile::write(path, "new\n", WholeFile::Access::OwnerOnly).ok());
        QCOMPARE(contentOf(path), QByteArray("new\n"));
        QCOMPARE(QFileInfo(path).permissions() & 0x0077, QFileDevice::Permissions());
    }

    // A disk or a folder that takes no writes, a folder that cannot be
    // made and a name a folder stands at: each said in its own words.
    void whyAWriteFailedIsSaid()
    {
        KVR_NEEDS_SMALL_DISKS();
        SmallDisk disk(kvrtest::homeDir() + QStringLiteral("/reasons"), 256);
        QVERIFY(disk.mounted());
        const QString kept = disk.folder() + QStringLiteral("/kept.txt");
        QVERIFY(WholeFile::write(kept, "kept").ok());
        QVERIFY(QDir().mkpath(disk.folder() + QStringLiteral("/folder.txt")));
        QFile blocker(disk.folder() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QList<std::pair<QString, QString>> rows{
            {QStringLiteral("/blocker/inner/file.txt"), QStringLiteral("the folder could not be made")},
            {QStringLiteral("/folder.txt"), QString()}, // the system's words
        };
        for (const auto& [name, reason] : rows) {
            const QString said = WholeFile::reason(WholeFile::write(disk.folder() + name, "x"));
            if (!reason.isEmpty())
                QCOMPARE(said, reason);
            else
                QVERIFY2(!said.isEmpty() && said != QStringLiteral("the system gave no reason"), qPrintable(said));
        }
        QVERIFY(disk.setReadOnly(true));
        WholeFile::Outcome out = WholeFile::write(kept, "new");
        QCOMPARE(WholeFile::reason(out), QStringLiteral("the disk is read-only"));
        QCOMPARE(contentOf(kept), QByteArray("kept"));
        out = WholeFile::write(disk.folder() + QStringLiteral("/sub/new.txt"), "new");
        QCOMPARE(WholeFile::reason(out), QStringLiteral("the disk is read-only"));
        QVERIFY(disk.setReadOnly(false));

        kvrtest::ReadOnlyFolder readOnly(disk.folder());
        QVERIFY(readOnly.ok());
        QCOMPARE(WholeFile::reason(WholeFile::write(kept, "new")), QStringLiteral("the disk is read-only"));
        QCOMPARE(contentOf(kept), QByteArray("kept"));
    }

    // The remembered sign-in is never replaced by an empty or partial file:
    // a save that cannot be written says so and leaves the one before; a
    // renewed token that cannot be written is logged and the one before
    // stays, to be tried at the next start.
    void theRememberedSignInSurvivesAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        SessionStore::clear();
        SmallDisk disk(QFileInfo(SessionStore::filePath()).absolutePath(), 256);
        QVERIFY(disk.mounted());
        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("first"), utcNow()}));
        const QByteArray before = contentOf(SessionStore::filePath());

        QVERIFY(disk.fillLeaving(0));
        kvrtest::LogCapture log;
        SessionStore::updateToken(QStringLiteral("renewed"));
        QVERIFY(log.contains(QStringLiteral("[session] could not remember the renewed sign-in")));
        QVERIFY(log.contains(QStringLiteral("the disk is full")));
        QCOMPARE(contentOf(SessionStore::filePath()), before);
        QVERIFY(!SessionStore::save({QStringLiteral("asha"), QStringLiteral("second"), utcNow()}));
        QVERIFY(!SessionStore::active());
        QCOMPARE(SessionStore::lastWriteProblem(), QStringLiteral("the disk is full"));
        QCOMPARE(contentOf(SessionStore::filePath()), before);
        QCOMPARE(disk.files(), QStringList{QStringLiteral("session.json")});

        disk.empty();
        QVERIFY(disk.setReadOnly(true));
        QVERIFY(!SessionStore::save({QStringLiteral("asha"), QStringLiteral("third"), utcNow()}));
        QCOMPARE(SessionStore::lastWriteProblem(), QStringLiteral("the disk is read-only"));
        QVERIFY(disk.setReadOnly(false));
        const std::optional<SavedSession> loaded = SessionStore::load();
        QVERIFY(loaded && loaded->refreshToken == QStringLiteral("first"));
        QVERIFY(SessionStore::save({QStringLiteral("asha"), QStringLiteral("fourth"), utcNow()}));
        QVERIFY(SessionStore::lastWriteProblem().isEmpty());
        SessionStore::clear();
    }

    // A choice the settings file cannot take is said, the file keeps what
    // it held (the store's own save would have left it empty on a disk with
    // a page to spare), and the choice holds: read back meanwhile, written
    // with the next change that fits.
    void settingsSurviveAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        QSettings& settings = NativeMode::prefs();
        const QString file = settings.fileName();
        SmallDisk disk(QFileInfo(file).absolutePath(), 256);
        QVERIFY(disk.mounted());
        QVERIFY(Prefs::set(Prefs::kLiveMain, false));
        QVERIFY(contentOf(file).contains("liveMain=false"));

        // No room at all (the store cannot even take its lock), then a page
        // to spare (it writes, and commits what did not fit as an empty file).
        QVERIFY(disk.fillLeaving(0));
        const QByteArray before = contentOf(file);
        QVERIFY(!Prefs::set(Prefs::kGridQuality, 2));
        QVERIFY(disk.fillLeaving(4096));
        QVERIFY(!Prefs::set(Prefs::kWallAdvanceSeconds, 45));
        QVERIFY(!Prefs::lastKept());
        QCOMPARE(contentOf(file), before);
        QVERIFY2(Prefs::notKeptText().contains(QStringLiteral("(the disk is full)")), qPrintable(Prefs::notKeptText()));
        QCOMPARE(Prefs::get(Prefs::kGridQuality), 2);
        QCOMPARE(Prefs::get(Prefs::kWallAdvanceSeconds), 45);
        QCOMPARE(disk.files(), QStringList{QFileInfo(file).fileName()});
        disk.empty();
        QVERIFY(disk.setReadOnly(true));
        QVERIFY(!Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu")));
        QVERIFY2(Prefs::notKeptText().contains(QStringLiteral("(the disk is read-only)")),
                 qPrintable(Prefs::notKeptText()));
        QCOMPARE(Prefs::get(Prefs::kRenderMode), QStringLiteral("cpu"));
        QVERIFY(disk.setReadOnly(false));

        // Room again: the next choice is kept, and the held ones with it.
        QVERIFY(Prefs::set(Prefs::kHardwareDecode, false));
        const QByteArray now = contentOf(file);
        for (const char* line :
             {"liveMain=false", "gridQuality=2", "wallAdvanceSeconds=45", "renderMode=cpu", "hardwareDecode=false"})
            QVERIFY2(now.contains(line), line);
        QVERIFY(SettingsFile::lastProblem().ok());
    }
};

KVR_TEST_MAIN(FileWritesTest)

#include "tst_file_writes.moc"
