// The server screens with real video: the stage live from GStreamer's RTSP
// server, device playback and a cloud day from HLS that the ffmpeg tool
// wrote, and a wall of cameras started through the fake organisation server.
// Each case saves a screenshot under build/screenshots/.

#include "app/context/AppContext.h"
#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "app/ui/TimelineBar.h"
#include "server/api/ApiClient.h"
#include "server/view/CameraTile.h"
#include "server/view/ControlBar.h"
#include "server/view/GridPage.h"
#include "server/view/StagePages.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/api/ApiTestSupport.h"
#include "tests/server/view/ViewTestSupport.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QCalendarWidget>
#include <QDateEdit>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;

using viewtest::screenshot;

namespace kvr::view {
struct GridPageTestAccess {
    // What the wall does at each of its scout's turns.
    static void scout(GridPage& g) { g.scout(); }
    static bool checking(const GridPage& g) { return !g.m_checking.isEmpty(); }
};
} // namespace kvr::view

const QDate kCloudDay(2024, 5, 1);
constexpr int kPictureWaitMs = 30000;

// What the main window hands the stage: the server client's token, for the
// server's own host.
StreamAccess serverAccess()
{
    return AppContext::instance().api.streamAccess();
}

class ViewScreensTest : public QObject {
    Q_OBJECT

    peers::Peer rtsp;
    peers::Peer hls;
    QTemporaryDir media;
    QString hlsLog;
    orgserver::FakeOrgServer server;
    std::unique_ptr<ApiClient> client;

    QString hlsBase(const QString& host = "127.0.0.1") const { return QString("http://%1:%2").arg(host).arg(hls.port); }

    // Three 4 s segments named by their IST start, 10:00:00 to 10:00:08; the
    // middle one is served under another host name than the token's.
    QByteArray cloudPlaylist() const
    {
        QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:4\n";
        for (int i = 0; i < 3; ++i) {
            const QString host = i == 1 ? "localhost" : "127.0.0.1";
            text += "#EXTINF:4.000,\n"
                + QString("%1/cloud/2024-05-01_10-00-0%2.ts").arg(hlsBase(host)).arg(i * 4).toUtf8() + "\n";
        }
        return text + "#EXT-X-ENDLIST\n";
    }

    // "<host> <Authorization header>" of every cloud segment request so far, each once.
    QStringList cloudAuthorizations() const
    {
        QStringList seen;
        for (const QJsonObject& r : peers::readRequests(hlsLog)) {
            const QJsonObject headers = r["headers"].toObject();
            if (r["path"].toString().startsWith("/cloud/"))
                seen << headers["Host"].toString().section(':', 0, 0) + " " + headers["Authorization"].toString();
        }
        seen.removeDuplicates();
        seen.sort();
        return seen;
    }

private Q_SLOTS:
    void initTestCase()
    {
        Theme::useProgramFont();
        qApp->setStyleSheet(Theme::appStyle());
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));

        QVERIFY(peers::startRtsp(rtsp, {"--size", "640x360", "--no-audio", "--pattern", "smpte", "--unshared"}));
        QVERIFY(media.isValid());
        const QString cloud = media.filePath("cloud");
        QDir().mkpath(cloud);
        QCOMPARE(QProcess::execute("ffmpeg",
                                   QStringList{"-nostdin"} + peers::testPictureArgs(12)
                                       + QStringList{"-f", "segment", "-segment_time", "4", "-reset_timestamps", "0",
                                                     cloud + "/part%d.ts"}),
                 0);
        for (int i = 0; i < 3; ++i)
            QVERIFY(QFile::rename(cloud + QString("/part%1.ts").arg(i),
                                  cloud + QString("/2024-05-01_10-00-0%1.ts").arg(i * 4)));
        hlsLog = media.filePath("requests.log");
        QVERIFY(peers::startHls(hls, media.path(), media.filePath("none.json"), hlsLog));

        // The stage sends its token only to the server's own host.
        AppContext::instance().api.setBaseUrl(hlsBase());
        AppContext::instance().api.setAccessToken("tok-cloud");

        QVERIFY(server.listen());
        server.populate(1, 1, 10);
        server.streamIdOverride = "live";
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(rtsp.port));
        client = std::make_unique<ApiClient>();
        QVERIFY(viewtest::signInAndLoad(server, *client));
    }

    void stageLiveShowsThePictureAndHidesItsStrip()
    {
        StagePages stage(nullptr, serverAccess);
        stage.resize(1280, 760);
        stage.show();
        stage.openLive("Gate 1 · Entrance", peers::rtspUrl(rtsp.port), false);
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->hasPicture(), kPictureWaitMs);
        QVERIFY(stage.controlBar()->isShown());
        screenshot(&stage, "stage-live");
        QTRY_VERIFY_WITH_TIMEOUT(!stage.controlBar()->isShown(), 8000);

        // The drawing choice is read at each play: now with the graphics
        // chip, from the picture after the probe has answered and the
        // context the views share is made (the processor draws meanwhile).
        Prefs::set(Prefs::kRenderMode, QStringLiteral("gpu"));
        stage.openLive("Gate 1 · Entrance", peers::rtspUrl(rtsp.port), false);
        QTRY_VERIFY_WITH_TIMEOUT(stage.player()->controls().yuvOutput, kPictureWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->isGpuActive() || stage.videoStage()->isGpuDisabled(),
                                 kPictureWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!stage.controlBar()->isShown(), 8000);
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        stage.suspendLive();
        QVERIFY(!stage.isOpen());
        stage.resumeLive();
        QVERIFY(!stage.player()->controls().yuvOutput);
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->hasPicture(), kPictureWaitMs);
    }

    void devicePlaybackWithDaysAndFootage()
    {
        StagePages stage(nullptr, serverAccess);
        stage.resize(1280, 760);
        stage.show();
        QSignalSpy plays(&stage, &StagePages::playDevice);
        QSignalSpy months(&stage, &StagePages::deviceMonthRequested);
        stage.prepareDevice("Gate 1 · Entrance");
        const QDate today = stage.shownDay();
        QList<QDate> days;
        for (int d = 1; d <= today.day(); d += 2)
            days << QDate(today.year(), today.month(), d);
        stage.addDeviceDays(days, viewtest::asked(months));
        stage.setDeviceCoverage(today, {{0, 5400}, {9000, 30600}, {43200, 61200}}, true);
        stage.jumpTo(9500);
        QCOMPARE(plays.size(), 1);
        stage.playUrl(hlsBase() + "/vod/index.m3u8");
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->hasPicture(), kPictureWaitMs);
        QTRY_VERIFY(stage.playheadSecond() > 9480); // from 02:38:00, the minute the recorder was asked for
        screenshot(&stage, "stage-device");
        QCalendarWidget* calendar = stage.findChild<QDateEdit*>()->calendarWidget();
        calendar->resize(320, 260);
        screenshot(calendar, "stage-device-calendar");

        // The recorder has nothing at that time: no recording, and no "Try again".
        stage.playUrl(hlsBase() + "/vod/missing.m3u8");
        QTRY_COMPARE_WITH_TIMEOUT(stage.videoStage()->headlineText() + "|" + stage.videoStage()->detailText(),
                                  QString("No recording on the device for this time.|"), kPictureWaitMs);
        QVERIFY(!viewtest::control(&stage, "Try again")->isVisible());
    }

    void cloudDayPlaysWithTheTokenOnlyToItsHost()
    {
        StagePages stage(nullptr, serverAccess);
        stage.resize(1280, 760);
        stage.show();
        QSignalSpy clouds(&stage, &StagePages::playCloud);
        // Each picture's media time, with the stage's clock as it shows it.
        QList<std::pair<double, double>> shown;
        connect(stage.player(), &FfmpegPlayer::position, &stage, [&](double media) {
            shown.append({media, stage.playheadSecond()});
        });
        stage.prepareCloud("Gate 1 · Entrance", {kCloudDay});
        QTRY_COMPARE(clouds.size(), 1);
        stage.playPlaylist(cloudPlaylist(), QUrl(), viewtest::asked(clouds));
        QCOMPARE(stage.timeline()->coverage(), (FootageBlocks{{36000, 36012}}));
        QTRY_VERIFY_WITH_TIMEOUT(stage.playheadSecond() > 36009, kPictureWaitMs); // into the third segment
        QVERIFY(stage.playheadSecond() <= 36012.5);
        QTest::mouseMove(stage.videoStage(), QPoint(300, 200)); // the strip comes back
        QTRY_COMPARE(stage.controlBar()->opacity(), 1.0);
        screenshot(&stage, "stage-cloud");

        // Each host once: the token goes only to the server's own.
        QCOMPARE(cloudAuthorizations().join(" | "), QString("127.0.0.1 Bearer tok-cloud | localhost "));

        // A jump back, into the middle segment, plays the rest from memory
        // without a new request; the picture shown is the moment the clock
        // shows (the programme's first picture is 10:00:00).
        const double firstPicture = shown.first().first;
        QCOMPARE(shown.first().second, 36000.0);
        // The session's token was renewed meanwhile: the jump opens the
        // segments with the token as it is now.
        AppContext::instance().api.setAccessToken("tok-renewed");
        shown.clear();
        Q_EMIT stage.timeline()->seekRequested(36006.5);
        QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), kPictureWaitMs);
        QCOMPARE(clouds.size(), 1);
        const auto [media, clock] = shown.first();
        QCOMPARE(clock, 36006.5);
        QVERIFY2(qAbs(36000 + media - firstPicture - clock) < 0.1, qPrintable(QString::number(media - firstPicture)));
        QTRY_VERIFY_WITH_TIMEOUT(cloudAuthorizations().contains("127.0.0.1 Bearer tok-renewed"), kPictureWaitMs);
        AppContext::instance().api.setAccessToken("tok-cloud");
    }

    void wallOfNinePlaysNineRealPictures()
    {
        QList<GridPage::Camera> cams;
        for (const orgserver::FakeCamera& c : server.sites[0].devices[0].cameras)
            cams.append({c.id, c.name, "Recorder 1", false});
        GridPage wall(nullptr, client.get());
        wall.resize(1400, 860);
        wall.show();
        viewtest::click(&wall, "9");
        QCoreApplication::processEvents();
        wall.openCameras("Head office", cams.mid(0, 9));
        QCOMPARE(wall.tiles().size(), 9);
        QTRY_COMPARE_WITH_TIMEOUT(viewtest::pictures(wall.tiles()), 9, kPictureWaitMs);
        QCOMPARE(server.countOf("/v2/api/start/live/stream/"), 9);
        QTest::qWait(300);
        screenshot(&wall, "wall-3x3");

        wall.stopAll();
        QVERIFY(wall.tiles().isEmpty());
        QTRY_VERIFY(server.countOf("/v2/api/stop/live/stream/") >= 1);
        QTRY_VERIFY(server.streams.isEmpty());
    }

    // Part of a wall fails: the relay turns one recorder's paths away (and
    // drops their viewers) while the other recorder's cameras play on. Each
    // turn of the wall's scout asks the failed tiles' sources, the relay's
    // path, and not the server; the first turn after the relay serves the
    // paths again brings the failed tiles back, long before their own
    // retries (the first to play hurries the others).
    void partOfAWallComesBackWithItsRecorder()
    {
        using Access = GridPageTestAccess;
        kvrtest::LogCapture log;
        orgserver::FakeOrgServer org;
        QVERIFY(org.listen());
        org.populate(1, 2, 3);
        org.streamIdPerCamera = true;
        QStringList mounts;
        for (const QString& path : org.relayPaths())
            mounts << "--mount" << path;
        peers::Peer relay;
        QVERIFY(peers::startRtsp(relay, QStringList{"--size", "320x240", "--no-audio", "--unshared"} + mounts));
        const QByteArray sharedRelayPort = qgetenv("KVR_RTSP_PORT");
        qputenv("KVR_RTSP_PORT", QByteArray::number(relay.port));
        org.addUser("demo", "secret", false);
        ApiClient api;
        api.setBaseUrl(org.baseUrl());
        const auto [signedIn] = apitest::await<LoginStart>([&](auto cb) { api.login("demo", "secret", false, cb); });
        api.setAccessToken(signedIn.accessToken);

        QList<GridPage::Camera> cams;
        for (const orgserver::FakeDevice& d : org.sites[0].devices)
            for (const orgserver::FakeCamera& c : d.cameras)
                cams.append({c.id, c.name, d.name, false});
        GridPage wall(nullptr, &api);
        wall.resize(1200, 800);
        wall.show();
        wall.openCameras("Two recorders", cams);
        QTRY_COMPARE_WITH_TIMEOUT(viewtest::pictures(wall.tiles()), 6, kPictureWaitMs);
        QList<CameraTile*> lost, kept;
        for (CameraTile* t : wall.tiles())
            (org.findCamera(t->cameraId())->deviceId == org.sites[0].devices[0].id ? lost : kept) << t;
        QCOMPARE(lost.size(), 3);
        const auto all = [](const QList<CameraTile*>& tiles, bool (CameraTile::*state)() const) {
            return std::all_of(tiles.begin(), tiles.end(), [state](CameraTile* t) { return (t->*state)(); });
        };

        QVERIFY(peers::steer(relay, "answer 404=/cam500000[123]_"));
        QTRY_VERIFY_WITH_TIMEOUT(all(lost, &CameraTile::isFailed), 90000);
        QVERIFY(all(kept, &CameraTile::showsPictures)
                && !std::any_of(kept.begin(), kept.end(), [](CameraTile* t) { return t->isFailed(); }));
        const QString startPath = "/v2/api/start/live/stream/";
        const int starts = org.countOf(startPath);
        Access::scout(wall); // the relay still turns them away
        QTRY_VERIFY_WITH_TIMEOUT(!Access::checking(wall), 15000);
        QCOMPARE(org.countOf(startPath), starts);
        QVERIFY(all(lost, &CameraTile::isFailed));

        QVERIFY(peers::steer(relay, "clear"));
        Access::scout(wall);
        QTRY_VERIFY_WITH_TIMEOUT(all(lost, &CameraTile::showsPictures), kPictureWaitMs);
        QCOMPARE(org.countOf(startPath), starts + 3);
        // Each came back by its source's answer, or sooner, hurried by one
        // that had (a wall whose tile plays again tries the others at once).
        const QString answered = " its source answers again; trying now";
        QVERIFY(!log.matching(answered).isEmpty());
        for (CameraTile* t : std::as_const(lost)) {
            const QString label = t->player()->options().label;
            QVERIFY2(log.contains(label + answered) || log.contains(label + " another tile plays again"),
                     qPrintable(t->title()));
        }
        QVERIFY(all(kept, &CameraTile::showsPictures));

        wall.stopAll();
        qputenv("KVR_RTSP_PORT", sharedRelayPort);
    }

    // A tile on the relay's HLS route whose playlist freezes (the ffmpeg tool
    // writing it stops): the tile says its picture stopped, counted from the
    // last picture, never that a connection dropped, through the player's
    // restarts and after them; tried again by itself, it shows nothing of
    // the frozen window as live. The stage live on the same stream says so
    // too.
    void aFrozenPlaylistIsAPictureThatStopped()
    {
        const QString folder = media.filePath("mediamtx/hls/frozen");
        QVERIFY(QDir().mkpath(folder));
        QProcess writer;
        writer.start("ffmpeg",
                     peers::testPictureArgs(120, true)
                         + QString("-f hls -hls_time 1 -hls_list_size 3 -hls_flags delete_segments "
                                   "-hls_segment_filename")
                               .split(' ')
                         + QStringList{folder + "/part%d", folder + "/index.m3u8"});
        QVERIFY(writer.waitForStarted(10000));
        viewtest::FakeStreams streams;
        CameraTile tile("frozen-1", "Gate", false, nullptr, &streams);
        tile.resize(480, 300);
        tile.show();
        tile.start();
        QTRY_COMPARE(streams.starts.size(), 1);
        streams.reply(0, hlsBase() + "/mediamtx/hls/frozen/index.m3u8");
        QSignalSpy pictures(tile.player(), &FfmpegPlayer::frameReady);
        StagePages stage(nullptr, serverAccess);
        stage.resize(960, 600);
        stage.show();
        stage.openLive("Gate", hlsBase() + "/mediamtx/hls/frozen/index.m3u8", false);
        QTRY_VERIFY_WITH_TIMEOUT(pictures.size() > 50, kPictureWaitMs); // two seconds and more of it
        QTRY_VERIFY_WITH_TIMEOUT(stage.videoStage()->hasPicture(), kPictureWaitMs);

        // Everything the tile and the stage say from here on.
        QStringList said, stageSaid;
        QTimer listen;
        const auto note = [](QStringList& list, const VideoStage* where) {
            const QString now = where->saidHeadline() + "|" + where->saidDetail();
            if (list.isEmpty() || list.last() != now)
                list << now;
        };
        connect(&listen, &QTimer::timeout, this, [&] {
            note(said, tile.videoStage());
            note(stageSaid, stage.videoStage());
        });
        listen.start(20);
        QSignalSpy gaveUp(tile.player(), &FfmpegPlayer::status);
        QSignalSpy stageGaveUp(stage.player(), &FfmpegPlayer::status);
        writer.kill();
        writer.waitForFinished(5000);
        QVERIFY(gaveUp.wait(90000));
        const qsizetype shown = pictures.size();
        QTRY_VERIFY(tile.isFailed());
        QTest::qWait(100);
        QVERIFY2(!said.filter("Picture stopped|No new picture · ").isEmpty(), qPrintable(said.join('\n')));
        QVERIFY2(said.last().startsWith("Picture stopped|No new picture for "), qPrintable(said.last()));
        QTRY_VERIFY_WITH_TIMEOUT(!stageGaveUp.isEmpty(), 90000);
        QTest::qWait(100);
        QVERIFY2(!stageSaid.filter("Picture stopped|No new picture (attempt 1 of 3)").isEmpty(),
                 qPrintable(stageSaid.join('\n')));
        QCOMPARE(stageSaid.last(), QString("Picture stopped|The stream stopped sending new pictures."));
        for (const QString& words : said + stageSaid)
            QVERIFY2(!words.contains("Reconnecting") && !words.contains("dropp") && !words.contains("connection"),
                     qPrintable(words));
        stage.stopPlayback();

        // Its own try, as its wall makes it: the server hands the same stream.
        gaveUp.clear();
        tile.start();
        QTRY_COMPARE(streams.starts.size(), 2);
        streams.reply(1, hlsBase() + "/mediamtx/hls/frozen/index.m3u8");
        QVERIFY(gaveUp.wait(90000));
        QCOMPARE(pictures.size(), shown);
        QCOMPARE(tile.player()->lastFailure(), PlayerFailure::Stopped);
        tile.stop();
    }
};

KVR_TEST_MAIN(ViewScreensTest)

#include "tst_view_screens.moc"
