// Server mode's snapshots into a Pictures folder on a small disk of the
// suite's own, full and then read-only: "Saved" stands only over a whole
// picture, a failure leaves no empty or broken file and says why, at the
// stage's button and on the camera tile.

#include "server/view/CameraTile.h"
#include "server/view/Snapshot.h"
#include "server/view/StagePages.h"
#include "tests/server/view/ViewTestSupport.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QToolTip>

using namespace kvr::view;
using viewtest::click;
using viewtest::FakeStreams;

using kvrtest::busyPicture;
using Trouble = kvrtest::SmallDisk::Trouble;

class SnapshotFilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The stage and a camera tile take snapshots on a disk that fills up
    // and then takes no writes, of the same second as the ones they saved
    // before: each said as failed with its reason, the pictures of that
    // name untouched, no other file left.
    void snapshotsOnAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        kvrtest::SmallDisk pictures(snapshot::folder(), 256);
        QVERIFY(pictures.mounted());
        kvrtest::TestClock clock; // one second for every picture
        kvrtest::LogCapture log;
        StagePages stage;
        stage.resize(1200, 800);
        stage.show();
        QVERIFY(QTest::qWaitForWindowExposed(&stage));
        stage.openLive(QStringLiteral("Gate 1"), QString(), false);
        Q_EMIT stage.player()->frameReady(busyPicture());
        FakeStreams streams;
        CameraTile tile(QStringLiteral("c1"), QStringLiteral("Yard"), false, nullptr, &streams);
        tile.resize(320, 200);
        tile.show();
        click(&stage, "Save a snapshot");
        QCOMPARE(QToolTip::text(), snapshot::kSaved);
        Q_EMIT tile.player()->snapshotReady(busyPicture());
        auto* toast = tile.findChild<QLabel*>(QStringLiteral("TileBadge"));
        QVERIFY(toast);
        QCOMPARE(toast->text(), snapshot::kSaved);
        const QStringList saved = pictures.files();
        QCOMPARE(saved.size(), 2);
        for (const QString& name : saved)
            QCOMPARE(QImage(pictures.folder() + QLatin1Char('/') + name), busyPicture());

        const QImage other(busyPicture().mirrored());
        for (const Trouble trouble : kvrtest::SmallDisk::kTroubles) {
            const QString row = kvrtest::SmallDisk::describe(trouble);
            QVERIFY2(pictures.bring(trouble), qPrintable(row));
            const QString failed = QStringLiteral("Could not save the snapshot: %1.")
                                       .arg(trouble == Trouble::ReadOnly ? QStringLiteral("the disk is read-only")
                                                                         : QStringLiteral("the disk is full"));
            Q_EMIT stage.player()->frameReady(other);
            click(&stage, "Save a snapshot");
            QCOMPARE(QToolTip::text(), failed);
            QVERIFY2(
                log.contains(QStringLiteral("[snapshot] failed: ") + snapshot::folder() + QStringLiteral("/Gate_1_")),
                qPrintable(row));
            Q_EMIT tile.player()->snapshotReady(other);
            QCOMPARE(toast->text(), failed);
            QCOMPARE(pictures.files(), saved);
            for (const QString& name : saved)
                QVERIFY2(QImage(pictures.folder() + QLatin1Char('/') + name) == busyPicture(), qPrintable(row));
        }
    }
};

KVR_TEST_MAIN(SnapshotFilesTest)

#include "tst_snapshot_files.moc"
