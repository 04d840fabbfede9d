// The camera tile against a stand-in for the server's live streams whose
// answers come when the test gives them: offline tiles, failures, late and
// superseded answers, the continuation, suspension, restarts asked by the
// server, overlays by width, listening, the stream switch and snapshots.

#include "server/view/CameraTile.h"
#include "tests/server/view/ViewTestSupport.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>

using viewtest::click;
using viewtest::control;
using viewtest::FakeStreams;
using viewtest::hover;

namespace {

QString overlays(const CameraTile& tile)
{
    QStringList out;
    for (const char* name : {"Remove from this wall", "Open full view (with sound)", "Fill the wall with this camera",
                             "Save a snapshot", "Listen to this camera", "Mute this camera", "Retry"}) {
        const QAbstractButton* b = control(&tile, name);
        if (b && b->isVisibleTo(&tile))
            out << name;
    }
    if (const QFrame* box = tile.findChild<QFrame*>("SegWrap"); box && box->isVisibleTo(&tile))
        out << "Main/Sub";
    return out.join(", ");
}

} // namespace

class CameraTileTest : public QObject {
    Q_OBJECT

    FakeStreams streams;

    std::unique_ptr<CameraTile> make(const QString& id = "c1", bool offline = false)
    {
        auto tile = std::make_unique<CameraTile>(id, "Gate " + id, offline, nullptr, &streams);
        tile->resize(320, 200);
        tile->show();
        return tile;
    }

private Q_SLOTS:
    void init()
    {
        streams.starts.clear();
        streams.stops.clear();
        streams.autoUrl.clear();
    }

    void offlineTilesAskTheServerNothing()
    {
        auto tile = make("c1", true);
        int done = 0;
        tile->start([&] { ++done; });
        QCOMPARE(done, 1);
        QCOMPARE(tile->videoStage()->headlineText(), QString("Offline"));
        QCOMPARE(tile->videoStage()->detailText(), QString());
        QVERIFY(streams.starts.isEmpty());
        tile->stop();
        QVERIFY(streams.stops.isEmpty());
        tile->setQuality(false); // switching restarts nothing
        QVERIFY(!tile->useMain());
        QVERIFY(streams.starts.isEmpty());
    }

    void failuresShowWhatTheServerSaid()
    {
        struct Row {
            const char* error;
            ApiFailure kind;
            const char* headline;
        } rows[] = {
            {"The camera is OFFLINE", ApiFailure::ServerError, "Can’t play this stream"},
            {"Device not reachable", ApiFailure::Offline, "Offline"},
            {"", ApiFailure::NoAnswer, "Can’t play this stream"},
            {"Relay refused the stream", ApiFailure::Refused, "Can’t play this stream"},
        };
        for (const Row& r : rows) {
            auto tile = make();
            QString seenAtDone;
            tile->start([&] { seenAtDone = tile->videoStage()->headlineText(); });
            QCOMPARE(tile->videoStage()->headlineText(), QString("Loading"));
            QVERIFY(tile->videoStage()->spinnerRunning());
            streams.fail(int(streams.starts.size()) - 1, r.error, r.kind);
            // The continuation runs once the answer shows.
            QCOMPARE(seenAtDone, QString(r.headline));
            QCOMPARE(tile->videoStage()->detailText(), QString(r.error));
            QVERIFY(tile->isFailed());
            QVERIFY(control(tile.get(), "Retry")->isVisible());
        }
    }

    void lateAndSupersededAnswersOnlyEndTheStart()
    {
        int done = 0;
        auto tile = make();
        tile->start([&] { ++done; });
        streams.supersede(0);
        QCOMPARE(done, 1);
        QCOMPARE(tile->videoStage()->headlineText(), QString("Loading"));

        tile->start([&] { ++done; });
        tile->stop();
        QCOMPARE(streams.stops, QStringList{"c1"});
        streams.answer(1, viewtest::silentRtsp());
        QCOMPARE(done, 2);
        QVERIFY(!tile->player()->isRunning());

        tile->start([&] { ++done; });
        tile.reset();
        streams.answer(2, viewtest::silentRtsp());
        QCOMPARE(done, 3);

        // A restart leaves the first start's answer without effect.
        tile = make();
        tile->start();
        hover(tile.get());
        click(tile.get(), "Sub");
        QCOMPARE(streams.starts.size(), 5);
        QCOMPARE(streams.starts[4].main, false);
        streams.answer(3, viewtest::silentRtsp());
        QVERIFY(!tile->player()->isRunning());
        QVERIFY(tile->url().isEmpty());
        streams.answer(4, viewtest::silentRtsp());
        QVERIFY(tile->player()->isRunning());
        QCOMPARE(tile->url(), viewtest::silentRtsp());
    }

    void suspendedTilesPlayOnlyAfterResume()
    {
        auto tile = make();
        tile->start();
        tile->suspend();
        streams.answer(0, viewtest::silentRtsp());
        QCOMPARE(tile->url(), viewtest::silentRtsp());
        QVERIFY(!tile->player()->isRunning());
        tile->resume();
        QVERIFY(tile->player()->isRunning());
        QCOMPARE(streams.starts.size(), 1); // the server was not asked again
        tile->suspend();
        QVERIFY(!tile->player()->isRunning());
        QVERIFY(streams.stops.isEmpty()); // the stream stays open
        tile->stop();
        tile->resume();
        QVERIFY(!tile->player()->isRunning());
    }

    void restartsAskedByTheServerReachOnlyTheirHolder()
    {
        auto wallTile = make("c1");
        wallTile->owner = "videowall";
        auto gridTile = make("c1");
        wallTile->start();
        gridTile->start();
        QCOMPARE(streams.starts[0].owner, QString("videowall"));
        Q_EMIT streams.streamNeedsRestart("c1");
        QCOMPARE(streams.stops, QStringList{"c1"});
        Q_EMIT streams.ownedStreamNeedsRestart("videowall", "c1");
        QCOMPARE(streams.stops, (QStringList{"c1", "videowall/c1"}));
        QCOMPARE(streams.starts.size(), 4);
        Q_EMIT streams.ownedStreamNeedsRestart("other", "c1");
        Q_EMIT streams.streamNeedsRestart("c2");
        QCOMPARE(streams.starts.size(), 4);
    }

    void overlaysFollowWidthHoverAndState()
    {
        auto tile = make();
        Q_EMIT tile->player()->audioTrack(true);
        QVERIFY(tile->hasAudio());
        struct Row {
            int width;
            bool hovered;
            const char* shown;
        } rows[] = {
            {249, true, "Remove from this wall, Open full view (with sound), Listen to this camera, Main/Sub"},
            {250, true,
             "Remove from this wall, Open full view (with sound), Fill the wall with this camera, Save a snapshot, "
             "Listen to this camera, Main/Sub"},
            {250, false, ""},
        };
        for (const Row& r : rows) {
            tile->resize(r.width, 180);
            hover(tile.get(), r.hovered);
            QCOMPARE(overlays(*tile), QString(r.shown));
        }
        tile->resize(249, 180);
        hover(tile.get(), true);
        QCOMPARE(control(tile.get(), "Listen to this camera")->pos(), QPoint(249 - 102, 8));

        // A listening tile keeps its (accent) button when the mouse leaves.
        click(tile.get(), "Listen to this camera");
        QVERIFY(tile->isListening());
        hover(tile.get(), false);
        QCOMPARE(overlays(*tile), QString("Mute this camera"));

        tile->setExpanded(true);
        tile->updateButtons();
        QVERIFY(control(tile.get(), "Back to the wall"));
    }

    void signalsCarryTheCamera()
    {
        auto tile = make("c7");
        tile->resize(400, 240);
        hover(tile.get(), true);
        QSignalSpy open(tile.get(), &CameraTile::openRequested);
        QSignalSpy remove(tile.get(), &CameraTile::removeRequested);
        QSignalSpy expand(tile.get(), &CameraTile::expandRequested);
        QSignalSpy clicked(tile.get(), &CameraTile::clicked);
        click(tile.get(), "Open full view (with sound)");
        click(tile.get(), "Remove from this wall");
        click(tile.get(), "Fill the wall with this camera");
        QTest::mouseDClick(tile.get(), Qt::LeftButton, {}, QPoint(150, 150));
        QCOMPARE(open.value(0).value(0).toString(), QString("c7"));
        QCOMPARE(remove.value(0).value(0).toString(), QString("c7"));
        QCOMPARE(expand.size(), 2);
        QCOMPARE(expand[0][0].value<CameraTile*>(), tile.get());
        QVERIFY(clicked.size() >= 1);
        tile->setSelected(true);
        QCOMPARE(tile->property("selected").toBool(), true);
    }

    void switchAndRetryRestart()
    {
        auto tile = make();
        tile->setInitialQuality(false);
        hover(tile.get());
        QVERIFY(control(tile.get(), "Sub")->isChecked());
        tile->start();
        QCOMPARE(streams.starts[0].main, false);
        click(tile.get(), "Sub"); // already held
        QCOMPARE(streams.starts.size(), 1);
        click(tile.get(), "Main");
        QCOMPARE(streams.starts.size(), 2);
        QVERIFY(streams.starts[1].main);
        streams.fail(1, "Timed out");
        click(tile.get(), "Retry");
        QCOMPARE(streams.starts.size(), 3);
        QVERIFY(!control(tile.get(), "Retry")->isVisible());
        QCOMPARE(tile->findChild<QPushButton*>("Secondary")->geometry(), QRect(112, 148, 96, 30));
    }

    void snapshotsAndToasts()
    {
        const QString folder = kvrtest::homeDir() + "/Pictures/Kavira";
        auto tile = make("c1");
        tile->snapshot();
        auto* toast = tile->findChild<QLabel*>("TileBadge");
        QVERIFY(toast);
        QCOMPARE(toast->text(), QString("No picture to save yet"));
        QVERIFY(toast->isVisible());
        QCOMPARE(toast->y() + toast->height(), tile->height() - 8);
        QVERIFY(!tile->player()->snapshotRequest);

        QImage frame(64, 36, QImage::Format_RGB32);
        frame.fill(Qt::darkGreen);
        Q_EMIT tile->player()->frameReady(frame);
        tile->snapshot();
        QVERIFY(tile->player()->snapshotRequest);
        Q_EMIT tile->player()->snapshotReady(frame);
        QCOMPARE(toast->text(), QString("Saved to Pictures/Kavira"));
        const QStringList files = QDir(folder).entryList({"Gate_c1_*.png"});
        QCOMPARE(files.size(), 1);
        QVERIFY(QRegularExpression("^Gate_c1_\\d{8}-\\d{6}\\.png$").match(files[0]).hasMatch());
        QTRY_VERIFY_WITH_TIMEOUT(!toast->isVisible(), 5000);
    }
};

KVR_TEST_MAIN(CameraTileTest)
#include "tst_camera_tile.moc"
