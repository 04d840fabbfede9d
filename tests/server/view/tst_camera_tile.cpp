// The camera tile against a stand-in for the server's live streams whose
// answers come when the test gives them: offline tiles, failures, late and
// superseded answers, the continuation, suspension, restarts asked by the
// server, slow retries after a failure, overlays by width, listening, the
// stream switch and snapshots.

#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "server/view/CameraTile.h"
#include "server/view/PulseDot.h"
#include "tests/server/view/ViewTestSupport.h"
#include "tests/video/Peers.h"
#include "tests/video/YuvTestFrames.h"
#include "video/FfmpegPlayer.h"
#include "video/GpuVideoView.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QOpenGLContext>
#include <QSignalSpy>

using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::view;

namespace kvr::view {
struct CameraTileTestAccess {
    // What the tile's wait timer does each second.
    static void tick(CameraTile& t) { t.waitTick(); }
};
} // namespace kvr::view

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

// The message a tile shows: "headline|detail".
QString said(const CameraTile& tile)
{
    return tile.videoStage()->headlineText() + "|" + tile.videoStage()->detailText();
}

// A tile waiting for a picture, `left` seconds short of its bound: a second
// before, it still waits; at the bound it fails with `detail`, its player
// stopped and a try of its own armed.
void failsAtTheBound(CameraTile& tile, kvrtest::TestClock& clock, int left, const QString& detail)
{
    clock.advanceSecs(left - 1);
    CameraTileTestAccess::tick(tile);
    QVERIFY(!tile.isFailed());
    clock.advanceSecs(1);
    CameraTileTestAccess::tick(tile);
    QCOMPARE(tile.videoStage()->detailText(), detail);
    QVERIFY(tile.isFailed() && !tile.player()->isRunning() && tile.retry()->isArmed());
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
    }

    void failuresShowWhatTheServerSaid()
    {
        // The kind of failure decides, never the wording.
        const std::tuple<const char*, ApiFailure, const char*> rows[] = {
            {"The camera is OFFLINE", ApiFailure::ServerError, "Can’t play this stream"},
            {"Device not reachable", ApiFailure::Offline, "Offline"},
            {"", ApiFailure::NoAnswer, "Can’t play this stream"},
        };
        for (const auto& [error, kind, headline] : rows) {
            for (const CameraTile::DoneWhen when : {CameraTile::DoneWhen::Answered, CameraTile::DoneWhen::Shown}) {
                auto tile = make();
                QString seenAtDone;
                tile->start([&] { seenAtDone = tile->videoStage()->headlineText(); }, when);
                QCOMPARE(tile->videoStage()->headlineText(), QString("Loading"));
                streams.fail(int(streams.starts.size()) - 1, error, kind);
                // The continuation runs first of all, or once the answer shows
                // when the owner asks so.
                QCOMPARE(seenAtDone + "|" + tile->videoStage()->detailText(),
                         QString(when == CameraTile::DoneWhen::Answered ? "Loading" : headline) + "|" + error);
                QVERIFY(tile->isFailed() && control(tile.get(), "Retry")->isVisible());
            }
        }
    }

    // A relay that takes each connection and resets it: the tile says so in
    // the program's words, not FFmpeg's, and calls itself failed (the relay
    // was there); a relay whose port is closed did not answer.
    void aRelayThatResetsIsSaidInTheProgramsWords()
    {
        peers::Peer resets, refuses;
        QVERIFY(peers::startProxy(resets, 0, QStringLiteral("reset")));
        QVERIFY(peers::startProxy(refuses, 0, QStringLiteral("refuse")));
        const std::tuple<quint16, const char*, const char*> rows[] = {
            {resets.port, "The connection was closed, or the answer was not a video stream.", "Failed"},
            {refuses.port, "The connection was refused.", "No answer"},
        };
        for (const auto& [port, words, word] : rows) {
            auto tile = make();
            tile->resize(140, 64); // too small for the message: the badge says the word
            tile->player()->options().openAttempts = 2;
            tile->start();
            streams.answer(int(streams.starts.size()) - 1, peers::rtspUrl(port));
            QTRY_VERIFY_WITH_TIMEOUT(tile->isFailed(), 20000);
            QCOMPARE(tile->videoStage()->saidDetail(), QString(words));
            const QLabel* state = tile->findChild<QLabel*>("TileState");
            QVERIFY(state);
            QCOMPARE(state->text(), QString(word));
        }
    }

    void lateAndSupersededAnswersOnlyEndTheStartAndRestarts()
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

        // (A tile deleted before its answer: the wall source suite.)

        // A restart leaves the first start's answer without effect.
        tile = make();
        tile->start();
        hover(tile.get());
        click(tile.get(), "Sub");
        streams.answer(2, viewtest::silentRtsp());
        QVERIFY(!tile->player()->isRunning() && tile->url().isEmpty());
        streams.answer(3, viewtest::silentRtsp());
        QVERIFY(tile->player()->isRunning());
        // The switch restarts only on a change; Retry starts again.
        click(tile.get(), "Sub"); // already held
        click(tile.get(), "Main");
        streams.fail(4, "Timed out");
        click(tile.get(), "Retry");
        QCOMPARE(streams.mains().mid(2), (QList<bool>{true, false, true, true}));
        QVERIFY(!control(tile.get(), "Retry")->isVisible());
    }

    void suspendedTilesPlayOnlyAfterResume()
    {
        auto tile = make();
        tile->start();
        tile->suspend();
        streams.answer(0, viewtest::silentRtsp());
        QVERIFY(!tile->player()->isRunning());
        tile->resume();
        QVERIFY(tile->player()->isRunning());
        QCOMPARE(streams.starts.size(), 1); // the server was not asked again
        tile->suspend();
        QVERIFY(!tile->player()->isRunning() && streams.stops.isEmpty()); // the stream stays open
        tile->stop();
        tile->resume();
        QVERIFY(!tile->player()->isRunning());
    }

    // A minimised wall's tiles wait for nothing: however long the window
    // stays down, none gives up, says its picture stopped or arms a try;
    // back up, a tile counts its wait afresh.
    void suspendedTilesNeitherWaitNorGiveUp()
    {
        kvrtest::TestClock clock;
        auto waiting = make("c1"), playing = make("c2");
        for (CameraTile* t : {waiting.get(), playing.get()})
            t->start();
        streams.answer(0, viewtest::silentRtsp());
        streams.answer(1, viewtest::silentRtsp());
        Q_EMIT playing->player()->frameReady(QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(waiting->awaitsPictures() && playing->showsPictures());
        clock.advanceSecs(10);
        for (CameraTile* t : {waiting.get(), playing.get()}) {
            t->suspend();
            clock.advanceSecs(60);
            CameraTileTestAccess::tick(*t);
            QVERIFY(!t->isFailed() && !t->awaitsPictures() && !t->retry()->isArmed());
            QVERIFY(t->videoStage()->headlineText() != "Picture stopped");
        }
        waiting->resume();
        QVERIFY(waiting->awaitsPictures());
        clock.advanceSecs(29);
        CameraTileTestAccess::tick(*waiting);
        QVERIFY(!waiting->isFailed());
    }

    // The status dot lies over the picture: while playing it pulses with the
    // pictures, so the picture under it repaints once per picture and never
    // between pictures.
    // Tiles of a wall where the graphics chip draws: the window they are
    // laid out in is made for OpenGL before it shows, so as each tile changes
    // over from the processor's pictures to the chip's, the window stays as
    // it is (never made anew, never hidden) and every tile keeps a picture.
    void tilesChangingOverToTheChipKeepTheirWindow()
    {
        if (QOpenGLContext probe; !probe.create())
            QSKIP("no OpenGL on this display");
        kvr::core::Prefs::set(kvr::core::Prefs::kRenderMode, QStringLiteral("gpu"));
        // The chip ready before the wall shows: its context made here, unless
        // the probe's answer (earlier cases started it) has it made already.
        GpuVideoView::prepareContexts(false);
        QTRY_VERIFY_WITH_TIMEOUT(GpuVideoView::contextsReady(), 30000);
        QWidget wall;
        auto* grid = new QGridLayout(&wall);
        QList<CameraTile*> tiles;
        for (int i = 0; i < 4; ++i) {
            tiles << new CameraTile(QStringLiteral("c%1").arg(i), QStringLiteral("Gate %1").arg(i), false, &wall,
                                    &streams);
            grid->addWidget(tiles.last(), i / 2, i % 2);
        }
        kvr::core::Prefs::remove(kvr::core::Prefs::kRenderMode.name);
        wall.resize(640, 400);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        QCOMPARE(wall.windowHandle()->surfaceType(), QSurface::OpenGLSurface);
        kvrtest::WindowWatch watch(&wall);
        QImage picture(320, 200, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        for (CameraTile* t : tiles) {
            t->start();
            streams.answer(int(streams.starts.size()) - 1, viewtest::silentRtsp());
            Q_EMIT t->player()->frameReady(picture);
        }
        QCoreApplication::processEvents();
        QCOMPARE(viewtest::pictures(tiles), 4);
        for (CameraTile* t : tiles) {
            Q_EMIT t->player()->yuvFrameReady(yuvtest::plain(Qt::green, YuvFrame::kThreePlanes, 320, 200));
            QVERIFY(t->videoStage()->isGpuActive());
            QCOMPARE(viewtest::pictures(tiles), 4);
            QTest::qWait(50);
        }
        for (CameraTile* t : tiles) {
            auto* view = t->videoStage()->findChild<GpuVideoView*>();
            QTRY_VERIFY_WITH_TIMEOUT(view->isValid(), 5000);
            QVERIFY(!view->hasFailed());
        }
        QCOMPARE(watch.summary(), QStringLiteral("id kept, hidden 0, surface lost 0"));
        for (CameraTile* t : tiles)
            t->stop();
    }

    void dotPulsesWithThePictures()
    {
        auto tile = make();
        tile->start();
        streams.answer(0, viewtest::silentRtsp());
        auto* dot = tile->findChild<PulseDot*>();
        QVERIFY(dot && dot->isPulsing() && !dot->isAnimating());
        QImage picture(320, 180, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        Q_EMIT tile->player()->frameReady(picture); // ends the loading spinner
        QTest::qWait(100);
        kvrtest::PaintCounter counter;
        tile->videoStage()->installEventFilter(&counter);
        QTest::qWait(300);
        QCOMPARE(counter.counts.value(tile->videoStage()), 0);
        QList<double> phases;
        for (int i = 0; i < 3; ++i) {
            Q_EMIT tile->player()->frameReady(picture);
            QTest::qWait(100);
            phases << dot->phase();
        }
        QCOMPARE(counter.counts.value(tile->videoStage()), 3);
        QVERIFY(phases[0] != phases[1] && phases[1] != phases[2]); // a step with each picture
        tile->stop();
        QVERIFY(!dot->isPulsing());
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
        Q_EMIT streams.ownedStreamNeedsRestart("videowall", "c1");
        QCOMPARE(streams.stops, (QStringList{"c1", "videowall/c1"}));
        Q_EMIT streams.ownedStreamNeedsRestart("other", "c1");
        Q_EMIT streams.streamNeedsRestart("c2");
        QCOMPARE(streams.starts.size(), 4);
    }

    // A failed tile asks its wall, half a minute or so later, to start it
    // again; the wall's queue does the starting. Its player giving up counts
    // as a failure, a picture of its own restart ends the wait, and a stop or
    // the user's Retry forgets it. A camera known offline never asks.
    void failedTilesAskToBeStartedAgainLater()
    {
        using VideoWall::TileRetry;
        const auto armedWithin = [](CameraTile& t, int from, int to) {
            const int ms = t.retry()->remainingMs();
            return ms >= from * 95 / 100 && ms <= to * 105 / 100;
        };
        kvrtest::LogCapture log;
        auto tile = make();
        QSignalSpy due(tile->retry(), &TileRetry::due);
        tile->start();
        QVERIFY(!tile->retry()->isArmed());
        streams.fail(0, "Timed out");
        QVERIFY(armedWithin(*tile, 22500, 37500));
        tile->retry()->fire();
        QCOMPARE(due.count(), 1);
        QCOMPARE(streams.starts.size(), 1); // the tile does not start itself
        QVERIFY(log.contains("[wall] Gate c1 #c1 failed earlier; trying again by itself (try 1)"));

        // The wall starts it; this time the player gives up after playing.
        tile->start();
        QVERIFY(!tile->retry()->isArmed());
        streams.answer(1, viewtest::silentRtsp());
        Q_EMIT tile->player()->status("Lost the stream", "The connection kept dropping.");
        QVERIFY(armedWithin(*tile, 45000, 75000)); // the second wait is longer
        Q_EMIT tile->player()->frameReady(QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(!tile->retry()->isArmed());
        Q_EMIT tile->player()->status("Lost the stream", "The connection kept dropping.");
        tile->stop();
        QVERIFY(!tile->retry()->isArmed());
        Q_EMIT tile->player()->status("Lost the stream", "The connection kept dropping.");
        QVERIFY(!tile->retry()->isArmed()); // a stopped tile has nothing to try

        tile->start();
        streams.fail(2, "Timed out");
        click(tile.get(), "Retry");
        QVERIFY(!tile->retry()->isArmed() && tile->retry()->schedule().tries() == 0);

        auto offline = make("c9", true);
        offline->start();
        QVERIFY(!offline->retry()->isArmed());
    }

    // What the relay chip counts as playing here: tiles while their pictures
    // come, not the streams they hold; a tile whose picture stopped, failed,
    // stopped or went is not counted any more.
    void onlyTilesShowingPicturesCountAsPlaying()
    {
        kvrtest::TestClock clock;
        const int before = LivePictures::count();
        auto a = make("p1");
        auto b = make("p2");
        a->start();
        b->start();
        streams.answer(0, viewtest::silentRtsp());
        streams.answer(1, viewtest::silentRtsp());
        QCOMPARE(LivePictures::count() - before, 0); // streams held, no picture yet
        const QImage picture(8, 8, QImage::Format_RGB32);
        Q_EMIT a->player()->frameReady(picture);
        Q_EMIT a->player()->frameReady(picture);
        Q_EMIT b->player()->frameReady(picture);
        QCOMPARE(LivePictures::count() - before, 2);
        clock.advanceMs(10000); // b's picture stops
        CameraTileTestAccess::tick(*b);
        QCOMPARE(LivePictures::count() - before, 1);
        Q_EMIT b->player()->frameReady(picture);
        Q_EMIT b->player()->status("Lost the stream", "The connection kept dropping.");
        QCOMPARE(LivePictures::count() - before, 1);
        a->stop();
        QCOMPARE(LivePictures::count() - before, 0);
        a->start();
        streams.answer(2, viewtest::silentRtsp());
        Q_EMIT a->player()->frameReady(picture);
        QCOMPARE(LivePictures::count() - before, 1);
        a.reset();
        QCOMPARE(LivePictures::count(), before);
    }

    // A tile without pictures says how long it has waited, from when its
    // stream was handed to the player or the player lost it, across the
    // player's own attempts; at the bound it fails, stops its player, shows
    // Retry and tries again later by itself. Its first picture, after a start
    // or a loss, is told to the wall once.
    void aTileWithoutPicturesCountsTimeAndGivesUpWithinTheBound()
    {
        kvrtest::TestClock clock;
        auto tile = make();
        QSignalSpy showing(tile.get(), &CameraTile::showingPictures);
        tile->start();
        streams.answer(0, viewtest::silentRtsp()); // a path that never answers
        QVERIFY(tile->awaitsPictures() && tile->player()->isRunning());
        clock.advanceSecs(2);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Loading|");
        clock.advanceSecs(27);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Loading|No picture yet · 29 s");
        clock.advanceSecs(1);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(tile->videoStage()->detailText(), "No picture within 30 s."); // under the failed tile's word
        QVERIFY(tile->isFailed() && !tile->player()->isRunning() && tile->retry()->isArmed());
        QVERIFY(control(tile.get(), "Retry")->isVisible() && !tile->awaitsPictures());

        tile->start();
        streams.answer(1, viewtest::silentRtsp());
        const QImage picture(8, 8, QImage::Format_RGB32);
        Q_EMIT tile->player()->frameReady(picture);
        Q_EMIT tile->player()->frameReady(picture);
        QCOMPARE(showing.count(), 1);
        QVERIFY(tile->showsPictures() && !tile->awaitsPictures());
        Q_EMIT tile->player()->reconnecting(1, 3, "The connection dropped");
        QCOMPARE(said(*tile), "Reconnecting…|The connection dropped");
        QVERIFY(!tile->showsPictures() && tile->awaitsPictures());
        clock.advanceSecs(12);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Reconnecting…|The connection dropped · 12 s");
        clock.advanceSecs(5);
        Q_EMIT tile->player()->reconnecting(2, 3, "The connection dropped");
        QCOMPARE(said(*tile), "Reconnecting…|The connection dropped · 17 s");
        // Back before the bound: told once more, and the wait is over while
        // pictures come.
        Q_EMIT tile->player()->frameReady(picture);
        QCOMPARE(showing.count(), 2);
        for (int i = 0; i < 30; ++i) {
            clock.advanceSecs(2);
            Q_EMIT tile->player()->frameReady(picture);
            CameraTileTestAccess::tick(*tile);
        }
        QVERIFY(!tile->isFailed() && tile->player()->isRunning() && tile->showsPictures());
        // Lost again for good: failed at the bound, counted from this loss.
        Q_EMIT tile->player()->reconnecting(1, 3, "The connection dropped");
        failsAtTheBound(*tile, clock, 30, "The connection dropped; no picture for 30 s.");
        // A stop ends any wait.
        tile->start();
        streams.answer(2, viewtest::silentRtsp());
        tile->stop();
        clock.advanceSecs(60);
        CameraTileTestAccess::tick(*tile);
        QVERIFY(!tile->awaitsPictures() && !tile->isFailed() && !tile->retry()->isArmed());
    }

    // A picture that freezes is said within seconds, and its wait counts
    // from the last picture, whenever the player notices (its connection's
    // time-out, seconds later) and whatever it held shows late: Retry comes
    // 30 s after the last picture. Pictures that come again end the wait,
    // and a pace of one picture in a few seconds (keyframes only) is no stop.
    void aFrozenPictureIsSaidWithinSecondsAndCountedFromItsLastPicture()
    {
        kvrtest::TestClock clock;
        auto tile = make();
        QSignalSpy showing(tile.get(), &CameraTile::showingPictures);
        tile->start();
        streams.answer(0, viewtest::silentRtsp());
        const QImage picture(8, 8, QImage::Format_RGB32);
        Q_EMIT tile->player()->frameReady(picture);
        clock.advanceSecs(2);
        CameraTileTestAccess::tick(*tile);
        QVERIFY(tile->showsPictures() && tile->videoStage()->hasPicture());
        clock.advanceSecs(1);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Picture stopped|No new picture · 3 s");
        QVERIFY(!tile->showsPictures() && tile->awaitsPictures() && !tile->videoStage()->hasPicture());
        clock.advanceSecs(1);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Picture stopped|No new picture · 4 s");
        // Pictures again: the wait ends and the wall hears of it.
        Q_EMIT tile->player()->frameReady(picture);
        QVERIFY(tile->showsPictures() && tile->videoStage()->hasPicture() && showing.count() == 2);
        for (int i = 0; i < 5; ++i) {
            clock.advanceSecs(2);
            Q_EMIT tile->player()->frameReady(picture);
        }
        clock.advanceSecs(5); // a pace of one picture in 2 s: 6 s is a stop
        CameraTileTestAccess::tick(*tile);
        QVERIFY(tile->showsPictures());
        clock.advanceSecs(1);
        CameraTileTestAccess::tick(*tile);
        QCOMPARE(said(*tile), "Picture stopped|No new picture · 6 s");
        // What the stream held comes late, as its player notices the stop,
        // and the player then says it reconnects: the count goes on from the
        // last picture before the stop.
        clock.advanceSecs(4);
        Q_EMIT tile->player()->frameReady(picture);
        QVERIFY(tile->showsPictures());
        clock.advanceSecs(7);
        Q_EMIT tile->player()->reconnecting(1, 3, "The connection dropped");
        QCOMPARE(said(*tile), "Reconnecting…|The connection dropped · 17 s");
        failsAtTheBound(*tile, clock, 13, "The connection dropped; no picture for 30 s.");
    }

    void overlaysFollowWidthHoverAndState()
    {
        auto tile = make();
        Q_EMIT tile->player()->audioTrack(true);
        tile->resize(249, 180);
        hover(tile.get(), true);
        QCOMPARE(overlays(*tile),
                 QString("Remove from this wall, Open full view (with sound), Listen to this camera, Main/Sub"));
        QCOMPARE(control(tile.get(), "Listen to this camera")->pos(), QPoint(249 - 102, 8));
        QSignalSpy open(tile.get(), &CameraTile::openRequested);
        QSignalSpy remove(tile.get(), &CameraTile::removeRequested);
        click(tile.get(), "Open full view (with sound)");
        click(tile.get(), "Remove from this wall");
        QCOMPARE(open.value(0).value(0).toString() + remove.value(0).value(0).toString(), QString("c1c1"));
        // A listening tile keeps its (accent) button when the mouse leaves.
        click(tile.get(), "Listen to this camera");
        QVERIFY(tile->isListening());
        hover(tile.get(), false);
        QCOMPARE(overlays(*tile), QString("Mute this camera"));
        // A failed tile too narrow for both shows Retry, not the switch.
        tile->showFailure("Connection refused", false);
        hover(tile.get(), true);
        QVERIFY(overlays(*tile).endsWith("Retry"));
        tile->resize(640, 360);
        QVERIFY2(overlays(*tile).endsWith("Retry, Main/Sub"), qPrintable(overlays(*tile)));
    }

    // Name and message never cover each other, from the tiles of a full-HD
    // wall down to the smallest the program makes (36 to a page at 1280 x
    // 720) and below: the message gives way, its detail first, then its
    // headline to a short one, and on a tile too small for that it shows
    // none but is read whole in the tile's tool tip.
    void nameAndMessageNeverOverlap()
    {
        Theme::loadFonts();
        QWidget wall;
        wall.setStyleSheet(Theme::appStyle());
        auto* tile =
            new CameraTile("c1", "Reception and lobby recorder (32 channel) · Camera 7", false, &wall, &streams);
        wall.resize(700, 420);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        auto* badge = tile->findChild<QWidget*>("TileBadge");
        QVERIFY(badge);
        const QStringList states{"loading", "failed", "offline", "reconnecting"};
        for (const QString& state : states) {
            tile->stop();
            if (state == "loading")
                tile->start(); // the server does not answer
            else if (state == "failed")
                tile->showFailure("The recorder did not answer the server in time.", false);
            else if (state == "offline")
                tile->showFailure(QString(), true);
            else
                Q_EMIT tile->player()->reconnecting(2, 3, "The stream stopped");
            for (int w = 96; w <= 640; w += 7) {
                tile->setGeometry(0, 0, w, w * 9 / 16);
                QCoreApplication::processEvents();
                const QList<VideoStage::MessageLine> lines = tile->videoStage()->messageLines();
                const QPoint at = tile->videoStage()->pos();
                const QRect ring = tile->videoStage()->spinnerRect().translated(at);
                QVERIFY2(state != "loading" || !ring.intersects(badge->geometry()),
                         qPrintable(QString("loading at %1 px: the ring over the name").arg(w)));
                for (const VideoStage::MessageLine& line : lines)
                    QVERIFY2(!ring.intersects(line.rect.translated(at)),
                             qPrintable(QString("%1 at %2 px: the ring over '%3'").arg(state).arg(w).arg(line.text)));
                for (const VideoStage::MessageLine& line : lines) {
                    const QRect r = line.rect.translated(at);
                    QVERIFY2(!r.intersects(badge->geometry()),
                             qPrintable(QString("%1 at %2 px: '%3' over the name").arg(state).arg(w).arg(line.text)));
                    const QAbstractButton* retry = control(tile, "Retry");
                    QVERIFY(!retry || !retry->isVisible() || !r.intersects(retry->geometry()));
                    // Shortened: a line with "…" the message itself does not have.
                    const bool shortened = line.text.contains(QChar(0x2026))
                        && !(tile->videoStage()->headlineText() + ' ' + tile->videoStage()->detailText())
                                .contains(line.text);
                    QVERIFY2(!shortened || w < 140,
                             qPrintable(QString("%1 at %2 px: '%3'").arg(state).arg(w).arg(line.text)));
                }
                // The whole message is at hand when none of it shows.
                if (lines.isEmpty())
                    QVERIFY2(!tile->toolTip().isEmpty(), qPrintable(QString("%1 at %2 px").arg(state).arg(w)));
            }
        }
        // The smallest tile of a server wall still names its state.
        tile->showFailure("Connection refused", false);
        tile->setGeometry(0, 0, 146, 83);
        QCoreApplication::processEvents();
        QCOMPARE(tile->videoStage()->headlineText(), QString("Can’t play"));
        QCOMPARE(tile->toolTip(), QString("Can’t play this stream\nConnection refused"));
        tile->setGeometry(0, 0, 640, 360);
        QCoreApplication::processEvents();
        QCOMPARE(tile->videoStage()->headlineText() + '|' + tile->videoStage()->detailText(),
                 QString("Can’t play this stream|Connection refused"));
        QVERIFY(tile->toolTip().isEmpty());
    }

    // A wall of cameras named alike at their start (a car park's bays on one
    // recorder), as small as 36 to a page on a laptop: each tile's title
    // keeps what tells it from the others, with the whole title in its tool
    // tip; a failed tile says in one word what it is; and a pointer that
    // passes over every tile leaves each title laid out as before, on the
    // camera wall and on the video wall alike.
    void wallTitlesReadApart()
    {
        Theme::loadFonts();
        for (const bool videoWall : {false, true}) {
            QWidget wall;
            wall.setStyleSheet(Theme::appStyle());
            auto* grid = new QGridLayout(&wall);
            QList<CameraTile*> tiles;
            for (int c = 0; c < 9; ++c) {
                const QString title =
                    QString("Reception and lobby recorder (32 channel) · Car park level B1 ramp and bay row %1")
                        .arg(c + 1);
                auto* tile = new CameraTile(QString("c%1").arg(c), title, false, &wall, &streams);
                tile->inVideoWall = videoWall;
                tiles << tile;
                grid->addWidget(tile, c / 3, c % 3);
            }
            // Narrow on the camera wall; wide enough on the video wall for the
            // buttons a hovered tile shows there.
            wall.resize(videoWall ? 3 * 300 : 3 * 150, 3 * 84);
            wall.show();
            QVERIFY(QTest::qWaitForWindowExposed(&wall));
            const auto titles = [&tiles] {
                QStringList out;
                for (CameraTile* t : tiles)
                    out << t->findChild<QLabel*>("TileName")->text();
                return out;
            };
            const QStringList before = titles();
            for (int c = 0; c < 9; ++c) {
                const QLabel* name = tiles.at(c)->findChild<QLabel*>("TileName");
                QVERIFY2(name->text().endsWith(QString("row %1").arg(c + 1)) && before.count(name->text()) == 1,
                         qPrintable(before.join(" | ")));
                QCOMPARE(name->toolTip(), tiles.at(c)->title());
            }
            // The pointer over every tile and away again.
            for (CameraTile* t : tiles) {
                hover(t, true);
                QVERIFY2(t->findChild<QLabel*>("TileName")->text() != before.at(tiles.indexOf(t)),
                         "the buttons of a hovered tile take room from its title");
                hover(t, false);
            }
            QCOMPARE(titles(), before);
        }

        // Failed tiles too small for a message say what they are in a word.
        QWidget wall;
        wall.setStyleSheet(Theme::appStyle());
        auto* row = new QHBoxLayout(&wall);
        QList<CameraTile*> failed;
        for (int c = 0; c < 3; ++c) {
            failed << new CameraTile(QString("f%1").arg(c), QString("Gate camera %1").arg(c), c == 0, &wall, &streams);
            row->addWidget(failed.last());
        }
        wall.resize(3 * 150, 80);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        const int first = int(streams.starts.size());
        for (CameraTile* t : failed)
            t->start();
        streams.fail(first, "No answer in time", ApiFailure::NoAnswer);
        streams.fail(first + 1, "Bad gateway", ApiFailure::ServerError);
        QCoreApplication::processEvents();
        QStringList words;
        for (CameraTile* t : failed) {
            const QLabel* word = t->findChild<QLabel*>("TileState");
            words << (word && word->isVisible() ? word->text() : QString("-"));
        }
        QCOMPARE(words, (QStringList{"Offline", "No answer", "Failed"}));
        // Trying again (its own retry, the wall's scout), a tile says no
        // failure while it waits for the server's answer, and its word once
        // it failed again.
        const QLabel* word = failed.at(2)->findChild<QLabel*>("TileState");
        failed.at(2)->start();
        QVERIFY(!word->isVisible());
        streams.fail(int(streams.starts.size()) - 1, "Bad gateway", ApiFailure::ServerError);
        QCoreApplication::processEvents();
        QVERIFY(word->isVisible() && word->text() == QLatin1String("Failed"));
        // Where the picture has room to say it, the word is not said twice.
        failed.at(1)->setFixedSize(640, 360);
        QCoreApplication::processEvents();
        QVERIFY(!failed.at(1)->findChild<QLabel*>("TileState")->isVisible());
    }

    // Tiles of a wall of 120 (100 px; 64 at a scale of 1.5), failed: each
    // badge stays within its tile, and the failure's word gives way where
    // the name beside it would lose what tells it from its neighbours (three
    // recorders' "Camera 01" and a second camera of the first), which keeps
    // its recorder's part too.
    void narrowTilesKeepTheirNameBeforeTheirWord()
    {
        QWidget wall;
        wall.setStyleSheet(Theme::appStyle());
        auto* row = new QHBoxLayout(&wall);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(0);
        QList<CameraTile*> tiles;
        for (const char* t : {"1 · Camera 01", "2 · Camera 01", "3 · Camera 01", "1 · Camera 02"}) {
            tiles << new CameraTile(QString("n%1").arg(tiles.size()),
                                    QString("Distribution centre recorder, loading bays, unit ") + t, false, &wall,
                                    &streams);
            row->addWidget(tiles.last());
        }
        wall.setFixedSize(4 * 100, 66);
        wall.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wall));
        const int first = int(streams.starts.size());
        for (CameraTile* t : tiles)
            t->start();
        for (int i = 0; i < tiles.size(); ++i)
            streams.fail(first + i, "No answer in time", ApiFailure::NoAnswer);
        QCoreApplication::processEvents();
        QSet<QString> read;
        for (CameraTile* t : tiles) {
            const auto* name = t->findChild<QLabel*>("TileName");
            const auto* badge = name->parentWidget();
            QVERIFY2(t->isFailed() && name->isVisible() && !t->findChild<QLabel*>("TileState")->isVisible()
                         && name->text().contains(" · ") == t->title().contains("Camera 01")
                         && t->rect().contains(badge->geometry()),
                     qPrintable(name->text()));
            read.insert(name->text());
        }
        QCOMPARE(read.size(), tiles.size());
        // Narrower, and too narrow for a name: no name past the tile.
        for (int width : {64, 24}) {
            wall.setFixedSize(4 * width, 66);
            QCoreApplication::processEvents();
            for (CameraTile* t : tiles) {
                const auto* name = t->findChild<QLabel*>("TileName");
                const QRect at(name->mapTo(t, QPoint(0, 0)), name->size());
                QVERIFY2(name->isHidden() || t->rect().contains(at), qPrintable(QString::number(width)));
            }
        }
    }

    // The keyboard reaches what the pointer brings up: Tab stops on a tile,
    // which then shows its controls, walks through them, and on to the next
    // tile, which hides them again.
    void tabWalksThroughATilesControls()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* first = new CameraTile("c1", "Gate c1", false, &window, &streams);
        auto* second = new CameraTile("c2", "Gate c2", false, &window, &streams);
        row->addWidget(first);
        row->addWidget(second);
        window.resize(700, 220);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        first->setFocus(Qt::TabFocusReason);
        QCOMPARE(first->accessibleName(), QString("Gate c1"));
        const QString shown = overlays(*first);
        QVERIFY2(shown.contains("Open full view (with sound)"), qPrintable(shown));
        QStringList reached;
        for (int i = 0; i < 12 && QApplication::focusWidget() != second; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* at = QApplication::focusWidget();
            if (first->isAncestorOf(at))
                reached << (at->accessibleName().isEmpty() ? qobject_cast<QAbstractButton*>(at)->text()
                                                           : at->accessibleName());
        }
        QCOMPARE(QApplication::focusWidget(), second);
        // Main and Sub are one exclusive group: Tab enters it once, the arrows move within.
        QCOMPARE(reached.join(", "),
                 QString("Save a snapshot, Fill the wall with this camera, Open full view (with "
                         "sound), Remove from this wall, Main"));
        QCOMPARE(overlays(*first), QString());
        QVERIFY(!overlays(*second).isEmpty());
    }

    // Enter and Space on the tile that Tab reached do what a double-click
    // does, also on a tile too narrow for its expand button; not with a
    // modifier, nor a key one of its buttons leaves (Return on a button
    // outside a dialog). A screen reader hears what Enter does.
    void enterOnATileDoesWhatADoubleClickDoes()
    {
        QWidget window;
        auto* row = new QHBoxLayout(&window);
        auto* tile = new CameraTile("c1", "Gate c1", false, &window, &streams);
        row->addWidget(tile);
        window.resize(200, 160);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy expand(tile, &CameraTile::expandRequested);
        tile->setFocus(Qt::TabFocusReason);
        QVERIFY(!overlays(*tile).contains("Fill the wall with this camera"));
        QCOMPARE(tile->accessibleDescription(), QString("Enter: fill the wall with this camera"));
        QTest::keyClick(tile, Qt::Key_Return);
        QTest::keyClick(tile, Qt::Key_Space);
        QTest::keyClick(tile, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(tile, Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(expand.size(), 3);
        QTest::keyClick(tile, Qt::Key_Tab);
        QWidget* button = QApplication::focusWidget();
        QVERIFY(qobject_cast<QAbstractButton*>(button) && tile->isAncestorOf(button));
        QTest::keyClick(button, Qt::Key_Return);
        QCOMPARE(expand.size(), 3);
        tile->setExpanded(true);
        tile->updateButtons();
        QCOMPARE(tile->accessibleDescription(), QString("Enter: back to the wall"));
    }

    void snapshotsAndToasts()
    {
        const QString folder = kvrtest::homeDir() + "/Pictures/Kavira";
        auto tile = make("c1");
        tile->snapshot();
        auto* toast = tile->findChild<QLabel*>("TileBadge");
        QCOMPARE(toast->isVisible() ? toast->text() : QString(), QString("No picture to save yet"));
        QCOMPARE(toast->y() + toast->height(), tile->height() - 8);
        QVERIFY(!tile->player()->controls().snapshotRequest);

        QImage frame(64, 36, QImage::Format_RGB32);
        frame.fill(Qt::darkGreen);
        Q_EMIT tile->player()->frameReady(frame);
        tile->snapshot();
        QVERIFY(tile->player()->controls().snapshotRequest);
        Q_EMIT tile->player()->snapshotReady(frame);
        QCOMPARE(toast->text(), QString("Saved to Pictures/Kavira"));
        QCOMPARE(QDir(folder).entryList({"Gate_c1_*-*.png"}).size(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(!toast->isVisible(), 5000);
    }
};

KVR_TEST_MAIN(CameraTileTest)

#include "tst_camera_tile.moc"
