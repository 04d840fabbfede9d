// The video wall in server mode with real video: the wall controller opens a
// display window on the offscreen display, its tiles start through the fake
// organisation server and play GStreamer's RTSP server. Every tile shows a
// picture; focusing one and going back, then stopping the wall, gives every
// wall stream back to the server, while the camera wall's own stream of a
// camera that is also on the wall plays on. Both walls come back by
// themselves after an outage of the relay that outlasts their players'
// own restarts, and the camera wall within seconds of its relay when the
// relay falls again soon after; a path cut silently ends in Retry within a
// bound.

#include "app/context/AppContext.h"
#include "app/core/Settings.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "server/view/PlayerStop.h"
#include "server/view/ServerWallSource.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/view/ViewTestSupport.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/Screens.h"
#include "wall/TileRetry.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>

using namespace kvr::core;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::view;

using namespace VideoWall;
using viewtest::pictures;

constexpr int kPictureWaitMs = 60000;

class ServerWallStreamsTest : public QObject {
    Q_OBJECT

    peers::Peer rtsp;
    orgserver::FakeOrgServer server;
    QStringList online; // camera ids the wall shows playing
    QString offlineId;  // one the catalogue knows to be offline

    // A camera wall, shown, of the first `cameras` that play.
    std::unique_ptr<GridPage> cameraWall(int cameras, QSize size) const
    {
        auto grid = std::make_unique<GridPage>();
        grid->resize(size);
        grid->show();
        QList<GridPage::Camera> list;
        for (const QString& id : online.mid(0, cameras))
            list.append({id, id, QString(), false});
        grid->openCameras(QStringLiteral("Outage"), list);
        return grid;
    }

    // Streams started from now on play through `relay` (a fault proxy in
    // front of the RTSP server), until what this gives goes.
    auto playThrough(const peers::Peer& relay)
    {
        const QString direct = server.rtspsTicketUrl;
        server.rtspsTicketUrl = peers::rtspUrl(relay.port);
        return qScopeGuard([this, direct] { server.rtspsTicketUrl = direct; });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 1);
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        QVERIFY(peers::startRtsp(rtsp, {"--size", "640x360", "--no-audio", "--pattern", "smpte", "--unshared"}));

        QVERIFY(server.listen());
        server.populate(1, 2, 4);
        server.sites[0].devices[1].cameras[3].online = false;
        // Each start gets a stream id of its own, played from the RTSP
        // server's one mount.
        server.rtspsTicketUrl = peers::rtspUrl(rtsp.port);
        server.streamTtlSecs = 600;
        QVERIFY(viewtest::signInAndLoad(server));
        for (const Camera& c : ServerWallSource().cameras()) {
            if (c.offline)
                offlineId = c.id;
            else if (online.size() < 5)
                online << c.id;
        }
        QCOMPARE(online.size(), 5);
        QVERIFY(!offlineId.isEmpty());
    }

    void wallPlaysRealCamerasAndGivesEveryStreamBack()
    {
        // The camera wall plays the first camera under its own holder.
        CameraTile stage(online[0], "Stage", false);
        stage.resize(480, 270);
        stage.show();
        stage.start();
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->hasPicture(), kPictureWaitMs);
        QCOMPARE(server.streams.size(), 1);
        const QString stageStream = server.streams.cbegin().key();
        server.clearRequests();

        ScreenConfig screen;
        screen.key = screenKey(QGuiApplication::primaryScreen());
        screen.label = screenTitle(QGuiApplication::primaryScreen());
        screen.layout = "2x3";
        screen.cells = QList<QString>(online) << offlineId;
        Controller* c = Controller::instance();
        c->start(std::make_shared<ServerWallSource>(), Config{{screen}});
        DisplayWindow* w = c->windows().first();
        QList<CameraTile*> tiles;
        for (QWidget* t : w->tiles())
            tiles << qobject_cast<CameraTile*>(t);
        QCOMPARE(tiles.size(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(pictures(tiles), 5, kPictureWaitMs);
        QCOMPARE(tiles[5]->videoStage()->headlineText(), QString("Offline"));
        QCOMPARE(server.countOf("/v2/api/start/live/stream/"), 5); // the offline camera asks nothing
        QCOMPARE(server.streams.size(), 6);
        QTest::qWait(300);
        viewtest::screenshot(w, "server-video-wall");

        // One tile fills the display: the others give their streams back.
        Q_EMIT tiles[1]->expandRequested(tiles[1]);
        QTRY_COMPARE(w->focusedCell(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(server.streams.size(), 2, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(tiles[1]->videoStage()->hasPicture(), kPictureWaitMs);
        QVERIFY(tiles[1]->useMain());
        viewtest::screenshot(w, "server-video-wall-focused");
        Q_EMIT tiles[1]->expandRequested(tiles[1]);
        QTRY_COMPARE(w->focusedCell(), -1);
        QTRY_COMPARE_WITH_TIMEOUT(pictures(tiles), 5, kPictureWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(server.streams.size(), 6, 10000);

        // Stopping the wall gives back every wall stream, each once, and
        // leaves the camera wall's stream of the same camera playing.
        QStringList wallStreams = server.streams.keys();
        wallStreams.removeOne(stageStream);
        wallStreams.sort();
        QCOMPARE(wallStreams.size(), 5);
        server.clearRequests();
        QSignalSpy stageFrames(stage.player(), &FfmpegPlayer::frameReady);
        c->stop();
        QVERIFY(!c->isRunning());
        QTRY_COMPARE_WITH_TIMEOUT(server.streams.keys(), QStringList{stageStream}, 10000);
        QStringList given;
        for (const orgserver::Request& r : server.requestsTo("/v2/api/stop/live/stream/"))
            given << r.queryValue("stream_id");
        given.sort();
        QCOMPARE(given, wallStreams); // each once
        QVERIFY(stage.isStarted() && stage.player()->isRunning());
        const int before = int(stageFrames.size());
        QTRY_VERIFY_WITH_TIMEOUT(stageFrames.size() > before + 10, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(retiringPlayers(), 0, 10000);

        stage.stop();
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
    }

    // The relay goes away for 10 s, longer than the players' three quick
    // restarts last: every tile of the camera wall and of the video wall
    // fails. Nobody clicks anything, and each comes back by itself, through
    // a new start of its stream, once its slow retry is due. The relay falls
    // again within two minutes, when the tiles' waits have grown: once it is
    // back, the camera wall plays again within seconds, not minutes.
    void wallsComeBackAfterARelayOutageWithoutAClick()
    {
        peers::Peer relay;
        QVERIFY(peers::startProxy(relay, rtsp.port, QStringLiteral("pass")));
        const auto restore = playThrough(relay);

        const std::unique_ptr<GridPage> grid = cameraWall(4, QSize(960, 540));
        ScreenConfig screen;
        screen.key = screenKey(QGuiApplication::primaryScreen());
        screen.label = screenTitle(QGuiApplication::primaryScreen());
        screen.layout = "2x2";
        screen.cells = online.mid(1, 4);
        Controller* c = Controller::instance();
        c->start(std::make_shared<ServerWallSource>(), Config{{screen}});
        QList<CameraTile*> tiles = grid->tiles();
        for (QWidget* t : c->windows().first()->tiles())
            tiles << qobject_cast<CameraTile*>(t);
        QCOMPARE(tiles.size(), 8);
        QTRY_COMPARE_WITH_TIMEOUT(pictures(tiles), 8, kPictureWaitMs);

        QElapsedTimer outage;
        QVERIFY(peers::steerProxy(relay, QStringLiteral("down")));
        outage.start();
        const auto allFailed = [&] {
            return std::all_of(tiles.begin(), tiles.end(), [](CameraTile* t) { return t->isFailed(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allFailed(), 10000);
        QCOMPARE(pictures(tiles), 0);
        QTest::qWait(int(std::max<qint64>(0, 10000 - outage.elapsed())));
        const int startsBefore = server.countOf("/v2/api/start/live/stream/");
        QVERIFY(peers::steerProxy(relay, QStringLiteral("up")));

        QTRY_COMPARE_WITH_TIMEOUT(pictures(tiles), 8, 90000);
        QCOMPARE(server.countOf("/v2/api/start/live/stream/") - startsBefore, 8);
        c->stop();

        const QList<CameraTile*> gridTiles = grid->tiles();
        QVERIFY(peers::steerProxy(relay, QStringLiteral("down")));
        outage.restart();
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(gridTiles.begin(), gridTiles.end(), [](CameraTile* t) { return t->isFailed(); }), 10000);
        for (CameraTile* t : gridTiles)
            QVERIFY2(t->retry()->remainingMs() > 30000, qPrintable(QString::number(t->retry()->remainingMs())));
        QTest::qWait(int(std::max<qint64>(0, 10000 - outage.elapsed())));
        QVERIFY(peers::steerProxy(relay, QStringLiteral("up")));
        QElapsedTimer back;
        back.start();
        QTRY_COMPARE_WITH_TIMEOUT(pictures(gridTiles), 4, 25000);
        qInfo("the camera wall played again %lld ms after its relay came back", back.elapsed());
        grid->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
    }

    // The path to the relay is cut without a word (a network cut: nothing is
    // refused, nothing arrives). Within seconds the tiles say their picture
    // stopped; then that they reconnect and for how long since their last
    // picture, never a count of the player's attempts; and they fail with
    // Retry within the bound from their last picture, however long the
    // player would go on opening.
    void aSilentCutEndsInRetryWithinTheBound()
    {
        kvrtest::TestClock clock;
        peers::Peer relay;
        QVERIFY(peers::startProxy(relay, rtsp.port, QStringLiteral("pass")));
        const auto restore = playThrough(relay);
        const std::unique_ptr<GridPage> grid = cameraWall(2, QSize(960, 270));
        const QList<CameraTile*> tiles = grid->tiles();
        QTRY_COMPARE_WITH_TIMEOUT(pictures(tiles), 2, kPictureWaitMs);

        QVERIFY(peers::steerProxy(relay, QStringLiteral("mute")));
        QVERIFY(viewtest::picturesSettled(tiles));
        const auto allSay = [&](const QString& headline) {
            return std::all_of(tiles.begin(), tiles.end(),
                               [&](CameraTile* t) { return t->videoStage()->headlineText() == headline; });
        };
        clock.advanceSecs(3);
        QTRY_VERIFY_WITH_TIMEOUT(allSay(QStringLiteral("Picture stopped")), 3000);
        QCOMPARE(tiles[0]->videoStage()->detailText(), QStringLiteral("No new picture · 3 s"));
        QCOMPARE(pictures(tiles), 0);
        QTRY_VERIFY_WITH_TIMEOUT(allSay(QStringLiteral("Reconnecting…")), 30000);
        QVERIFY2(tiles[0]->videoStage()->detailText().endsWith(" · 3 s"),
                 qPrintable(tiles[0]->videoStage()->saidDetail()));
        clock.advanceSecs(9);
        QTRY_VERIFY(tiles[0]->videoStage()->detailText().endsWith(" · 12 s"));
        for (CameraTile* t : tiles)
            QVERIFY2(!t->videoStage()->detailText().contains("attempt"), qPrintable(t->videoStage()->detailText()));
        QVERIFY(!tiles[0]->isFailed());
        clock.advanceSecs(17);
        QTest::qWait(1500); // a tick or more: 29 s is within the bound
        QVERIFY(!tiles[0]->isFailed());
        clock.advanceSecs(1);
        QTRY_VERIFY_WITH_TIMEOUT(std::all_of(tiles.begin(), tiles.end(), [](CameraTile* t) { return t->isFailed(); }),
                                 3000);
        for (CameraTile* t : tiles) {
            QVERIFY(!t->player()->isRunning() && t->retry()->isArmed());
            QVERIFY(viewtest::control(t, QStringLiteral("Retry"))->isVisible());
        }
        QVERIFY(peers::steerProxy(relay, QStringLiteral("unmute")));
        grid->stopAll();
        QTRY_VERIFY_WITH_TIMEOUT(server.streams.isEmpty(), 10000);
    }
};

KVR_TEST_MAIN(ServerWallStreamsTest)

#include "tst_server_wall_streams.moc"
