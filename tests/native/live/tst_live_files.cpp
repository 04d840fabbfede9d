// Native mode's snapshots into a Pictures folder on a small disk of the
// suite's own, full and then read-only: "Saved" stands only over a whole
// picture, and a failure leaves no empty or broken file and says why.

#include "native/live/LiveTileRules.h"
#include "native/live/VmsTile.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/SmallDisk.h"

#include <QImage>
#include <QLabel>

using namespace kvr::live;
using namespace livetest;

class TestLiveFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A tile's snapshots on a disk with a page to spare, with none, and
    // read-only: said as failed with the reason, the picture saved before
    // untouched and no other file left; with room again the next is whole.
    void snapshotsOnAFullOrReadOnlyDisk()
    {
        KVR_NEEDS_SMALL_DISKS();
        kvrtest::SmallDisk pictures(LiveTileRules::snapshotFolder(), 256);
        QVERIFY(pictures.mounted());
        const quint16 closed = kvrtest::closedPort();
        const QString id = addDevice(deviceFor(QStringLiteral("Yard DVR"), QStringLiteral("DAHUA"), closed, closed, 2));
        nameCameras(id, {QStringLiteral("Front door")});
        VmsTile tile(id, 1);
        tile.resize(480, 270);
        tile.show();
        const QImage picture = kvrtest::busyPicture();
        tile.saveSnapshot(picture);
        QCOMPARE(tile.toastLabel()->text(), QStringLiteral("Saved to Pictures/Kavira"));
        const QStringList saved = pictures.files();
        QCOMPARE(saved.size(), 1);

        using Trouble = kvrtest::SmallDisk::Trouble;
        for (const Trouble trouble : kvrtest::SmallDisk::kTroubles) {
            QVERIFY2(pictures.bring(trouble), qPrintable(kvrtest::SmallDisk::describe(trouble)));
            tile.saveSnapshot(picture.mirrored());
            QCOMPARE(tile.toastLabel()->text(),
                     QStringLiteral("Could not save the snapshot: %1.")
                         .arg(trouble == Trouble::ReadOnly ? QStringLiteral("the disk is read-only")
                                                           : QStringLiteral("the disk is full")));
            QVERIFY2(pictures.files() == saved, qPrintable(pictures.files().join(' ')));
            QCOMPARE(QImage(pictures.folder() + QLatin1Char('/') + saved.first()), picture);
        }
        QVERIFY(pictures.setReadOnly(false));
        pictures.empty();
        tile.saveSnapshot(picture.mirrored());
        QCOMPARE(tile.toastLabel()->text(), QStringLiteral("Saved to Pictures/Kavira"));
        QStringList now = pictures.files();
        QCOMPARE(now.size(), 2);
        now.removeAll(saved.first());
        QCOMPARE(QImage(pictures.folder() + QLatin1Char('/') + now.first()), picture.mirrored());
    }
};

KVR_TEST_MAIN(TestLiveFiles)

#include "tst_live_files.moc"
