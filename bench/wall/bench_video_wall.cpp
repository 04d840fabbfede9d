// The video wall's controller with a camera source of plain widgets: how long
// until every tile of a 16, 36 and 120 camera wall is started, how many starts
// were in flight at once, and the longest the main thread went without
// turning its event loop while the wall started and while it stopped (beside
// it, in brackets, the main thread's own longest work in one turn).
//
// Two source shapes: starts that report at once (1000 slots, no delay, as in
// native mode) and starts answered by a server after a round trip (4 slots,
// 60 ms delay, as in server mode).
//
// Then the server-mode source itself with real video: camera tiles started
// through the fake organisation server (on a thread of its own, as a remote
// server would be) and playing GStreamer's RTSP test server. Figures: time
// until every tile shows a picture, the most starts in flight, the longest
// main-thread stall while starting and while stopping, and whether every
// stream was given back.

#include "tests/wall/VideoWallTestKit.h"

#include "app/context/AppContext.h"
#include "app/core/Settings.h"
#include "bench/support/BenchKit.h"
#include "server/view/CameraTile.h"
#include "server/view/PlayerStop.h"
#include "server/view/ServerWallSource.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/video/Peers.h"
#include "video/VideoStage.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/Screens.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <cstdio>

using namespace kvr::core;
using namespace kvr::wall;
using namespace kvr::api;
using namespace kvr::context;
using namespace kvr::view;

using namespace VideoWall;

namespace {

constexpr int kServerRoundTripMs = 20;

// The longest gap between two turns of the event loop while it runs, and the
// main thread's own longest work in one turn.
class StallWatch {
public:
    StallWatch() { m_meter.stop(); }
    void begin() { m_meter.start(); }
    bench::Stall end()
    {
        m_meter.stop();
        return m_meter.stall();
    }

private:
    bench::StallMeter m_meter;
};

ScreenConfig wallOf(int tiles, const QStringList& cameraIds)
{
    ScreenConfig screen;
    screen.key = screenKey(QGuiApplication::primaryScreen());
    screen.layout = tiles == 16 ? QStringLiteral("4x4") : tiles == 36 ? QStringLiteral("6x6") : QStringLiteral("10x12");
    screen.cells = cameraIds.mid(0, tiles);
    return screen;
}

struct Figures {
    qint64 allStartedMs = -1;
    int peakInFlight = 0;
    bench::Stall startStall;
    qint64 stopMs = 0;
};

Figures run(int tiles, bool paced)
{
    QStringList ids;
    for (int i = 0; i < tiles; ++i)
        ids.append(QStringLiteral("cam%1").arg(i + 1));
    const ScreenConfig screen = wallOf(tiles, ids);

    auto src = std::make_shared<walltest::TestSource>();
    if (paced) {
        src->m_maxStarts = 4;
        src->m_releaseDelayMs = 60;
        src->m_answer = walltest::TestSource::Answer::WhenTold;
    }
    Controller* c = Controller::instance();
    Figures f;
    StallWatch watch;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer answers; // the server answering each start after its round trip
    QObject::connect(&answers, &QTimer::timeout, &answers, [&] {
        f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
        while (!src->unanswered.isEmpty())
            src->answerNext();
    });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &check, [&] {
        f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
        if (src->runningIds.size() == tiles && f.allStartedMs < 0) {
            f.allStartedMs = clock.elapsed();
            loop.quit();
        }
    });
    answers.start(kServerRoundTripMs);
    check.start(1);
    watch.begin();
    clock.start();
    c->start(src, Config{{screen}});
    f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
    if (src->runningIds.size() == tiles)
        f.allStartedMs = clock.elapsed();
    else
        loop.exec();
    answers.stop();
    check.stop();
    // The first paint of the windows and the last releases count as part of
    // starting.
    QTest::qWait(300);
    f.startStall = watch.end();

    clock.restart();
    c->stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    f.stopMs = clock.elapsed();
    return f;
}

// ---- The server-mode source on real streams --------------------------------

// The fake organisation server on a thread of its own, so that its work is
// not counted as the application's.
class ServerThread {
public:
    bool start(quint16 rtspPort, int cameras)
    {
        m_thread.start();
        m_anchor.moveToThread(&m_thread);
        bool ok = false;
        QMetaObject::invokeMethod(
            &m_anchor,
            [&] {
                m_server = new orgserver::FakeOrgServer;
                m_server->populate(1, (cameras + 9) / 10, 10);
                m_server->addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
                // Every start gets a stream of its own, played from the
                // RTSP server's one mount.
                m_server->rtspsTicketUrl = peers::rtspUrl(rtspPort);
                m_server->streamTtlSecs = 600;
                ok = m_server->listen();
                m_baseUrl = m_server->baseUrl();
                m_orgId = m_server->orgId;
                m_orgName = m_server->orgName;
            },
            Qt::BlockingQueuedConnection);
        return ok;
    }
    ~ServerThread()
    {
        QMetaObject::invokeMethod(
            &m_anchor, [this] { delete m_server; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    int liveStreams()
    {
        int n = 0;
        QMetaObject::invokeMethod(
            &m_anchor, [&] { n = int(m_server->streams.size()); }, Qt::BlockingQueuedConnection);
        return n;
    }
    QString baseUrl() const { return m_baseUrl; }
    QString orgId() const { return m_orgId; }
    QString orgName() const { return m_orgName; }

private:
    QThread m_thread;
    QObject m_anchor;
    orgserver::FakeOrgServer* m_server = nullptr;
    QString m_baseUrl, m_orgId, m_orgName;
};

// Signs the application's server client in and loads the catalogue into the
// application context, as the server-mode main window does.
bool signIn(const ServerThread& server)
{
    AppContext& context = AppContext::instance();
    context.api.setBaseUrl(server.baseUrl());
    bool signedIn = false, loaded = false;
    context.api.login(QStringLiteral("demo"), QStringLiteral("secret"), false, [&](const LoginStart& r) {
        context.api.setAccessToken(r.accessToken);
        signedIn = !r.accessToken.isEmpty();
    });
    QElapsedTimer t;
    t.start();
    while (!signedIn && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    context.orgId = server.orgId();
    context.orgName = server.orgName();
    context.api.fetchCatalog(server.orgName(), [&](const QList<Site>& sites, const QString& error) {
        context.sites = sites;
        loaded = error.isEmpty();
    });
    while (!loaded && t.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return signedIn && loaded;
}

struct ServerFigures {
    qint64 allPicturesMs = -1;
    int peakInFlight = 0;
    qint64 startCallMs = 0; // the controller's start itself: windows and tiles made
    bench::Stall startStall;
    bench::Stall stopStall;
    int streamsLeft = -1;
};

QList<CameraTile*> wallTiles()
{
    QList<CameraTile*> out;
    for (DisplayWindow* w : Controller::instance()->windows())
        for (QWidget* t : w->tiles())
            if (auto* tile = qobject_cast<CameraTile*>(t))
                out.append(tile);
    return out;
}

void waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

ServerFigures runServer(ServerThread& server, int tiles)
{
    QStringList ids;
    for (const VideoWall::Camera& c : ServerWallSource().cameras())
        ids.append(c.id);
    const ScreenConfig screen = wallOf(tiles, ids);

    Controller* c = Controller::instance();
    ServerFigures f;
    StallWatch watch;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &check, [&] {
        f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
        int pictures = 0;
        for (CameraTile* t : wallTiles())
            pictures += t->videoStage()->hasPicture() ? 1 : 0;
        if (pictures == tiles && f.allPicturesMs < 0) {
            f.allPicturesMs = clock.elapsed();
            loop.quit();
        }
    });
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);

    watch.begin();
    clock.start();
    c->start(std::make_shared<ServerWallSource>(), Config{{screen}});
    f.startCallMs = clock.elapsed();
    f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
    check.start(5);
    giveUp.start(120000);
    loop.exec();
    check.stop();
    QTest::qWait(300);
    f.startStall = watch.end();

    watch.begin();
    c->stop();
    QTest::qWait(300); // the windows and tiles go on the next turns
    f.stopStall = watch.end();

    // Every stream given back, every player ended, before the next wall.
    waitFor([&] { return server.liveStreams() == 0; }, 20000);
    f.streamsLeft = server.liveStreams();
    waitFor([] { return retiringPlayers() == 0; }, 20000);
    return f;
}

void serverRows(int tileLimit)
{
    peers::Peer rtsp;
    if (!peers::startRtsp(rtsp, {QStringLiteral("--no-audio")})) {
        std::printf("server source: the RTSP test server did not start\n");
        return;
    }
    ServerThread server;
    if (!server.start(rtsp.port, 120) || !signIn(server)) {
        std::printf("server source: the fake organisation server did not answer\n");
        return;
    }
    Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
    std::printf("\nServerWallSource, RTSP test server 320x240 25 fps, fake organisation server\n");
    std::printf("%6s %16s %14s %14s %22s %22s %13s\n", "tiles", "all pictures ms", "peak in flight", "start call ms",
                "start stall (own) ms", "stop stall (own) ms", "streams left");
    for (int tiles : {16, 36, 120}) {
        if (tiles > tileLimit)
            break;
        const ServerFigures f = runServer(server, tiles);
        std::printf("%6d %16lld %14d %14lld %22s %22s %13d\n", tiles, f.allPicturesMs, f.peakInFlight, f.startCallMs,
                    f.startStall.cell().constData(), f.stopStall.cell().constData(), f.streamsLeft);
    }
}

} // namespace

int main(int argc, char** argv)
{
    // One full-HD display unless a platform or a display was chosen.
    QTemporaryFile screens;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") && screens.open()) {
        screens.write(R"({"screens":[{"name":"bench","x":0,"y":0,"width":1920,"height":1080,"dpr":1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    }
    kvrtest::prepareEnvironment("bench_video_wall");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    std::printf("video wall on %s, one %dx%d display, plain-widget tiles\n",
                qPrintable(QGuiApplication::platformName()), QGuiApplication::primaryScreen()->geometry().width(),
                QGuiApplication::primaryScreen()->geometry().height());
    std::printf("%-28s %6s %14s %14s %22s %10s\n", "source", "tiles", "all started ms", "peak in flight",
                "start stall (own) ms", "stop ms");
    run(16, false); // warm up fonts and styles
    for (bool paced : {false, true}) {
        for (int tiles : {16, 36, 120}) {
            const Figures f = run(tiles, paced);
            std::printf("%-28s %6d %14lld %14d %22s %10lld\n",
                        paced ? "server-like (4 slots, 60 ms)" : "at once (1000 slots, 0 ms)", tiles, f.allStartedMs,
                        f.peakInFlight, f.startStall.cell().constData(), f.stopMs);
        }
    }
    // KVR_BENCH_SERVER_TILES caps the server rows (0 leaves them out).
    serverRows(qEnvironmentVariableIsSet("KVR_BENCH_SERVER_TILES")
                   ? qEnvironmentVariableIntValue("KVR_BENCH_SERVER_TILES")
                   : 120);
    return 0;
}
