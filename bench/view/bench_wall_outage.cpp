// Part of a camera wall fails. A wall of 36 (four recorders of nine cameras)
// on GStreamer's RTSP test server as the relay, each camera a path of its
// own, started through the fake organisation server and the real server
// client. The relay turns one recorder's nine paths away (and drops their
// viewers) while the other 27 tiles play on, for 90 s and then, another
// recorder, for 45 s. For each outage it prints when the nine tiles played
// again after the relay took their paths back (the first, the median and
// the last, in seconds), how many starts of those nine reached the server
// while their paths were turned away, and whether the other 27 kept playing.
//
//   bench_wall_outage
//
// Run it under a display (xvfb-run) and read the lines.

#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "bench/support/BenchKit.h"
#include "server/api/ApiClient.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QHash>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace kvr::core;
using namespace kvr::api;
using namespace kvr::view;

namespace {

constexpr int kRecorders = 4;
constexpr int kCameras = 9;
const QString kStartPath = QStringLiteral("/v2/api/start/live/stream/");

int startsOf(orgserver::FakeOrgServer& server, const QStringList& cameras)
{
    int n = 0;
    for (const orgserver::Request& r : server.requestsTo(kStartPath))
        n += cameras.contains(r.queryValue(QStringLiteral("camera_id"))) ? 1 : 0;
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_wall_outage");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // quiet
    Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
    qApp->setStyleSheet(kvr::ui::Theme::appStyle());

    orgserver::FakeOrgServer server;
    if (!server.listen())
        return 1;
    server.populate(1, kRecorders, kCameras);
    server.streamIdPerCamera = true;
    server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
    QStringList args{"--size", "320x240", "--no-audio", "--unshared"};
    for (const QString& path : server.relayPaths())
        args << QStringLiteral("--mount") << path;
    peers::Peer relay;
    if (!peers::startRtsp(relay, args)) {
        std::fprintf(stderr, "could not start the RTSP server\n");
        return 1;
    }
    qputenv("KVR_RTSP_HOST", "127.0.0.1");
    qputenv("KVR_RTSP_PORT", QByteArray::number(relay.port));

    ApiClient api;
    api.setBaseUrl(server.baseUrl());
    bool signedIn = false;
    api.login(QStringLiteral("demo"), QStringLiteral("secret"), false, [&](const LoginStart& r) {
        api.setAccessToken(r.accessToken);
        signedIn = r.step == LoginStart::SignedIn;
    });
    if (bench::waitUntil([&] { return signedIn; }, 10000) < 0)
        return 1;

    QList<GridPage::Camera> cameras;
    for (const orgserver::FakeDevice& d : server.sites[0].devices)
        for (const orgserver::FakeCamera& c : d.cameras)
            cameras.append({c.id, c.name, d.name, false});
    GridPage wall(nullptr, &api);
    wall.resize(1600, 1000);
    wall.show();
    for (QAbstractButton* b : wall.findChildren<QAbstractButton*>())
        if (b->text() == QLatin1String("36"))
            b->click(); // all 36 on one page
    wall.openCameras(QStringLiteral("Four recorders"), cameras);
    const auto showing = [](const QList<CameraTile*>& tiles) {
        return int(std::count_if(tiles.begin(), tiles.end(), [](CameraTile* t) { return t->showsPictures(); }));
    };
    if (bench::waitUntil([&] { return showing(wall.tiles()) == kRecorders * kCameras; }, 180000) < 0) {
        std::fprintf(stderr, "only %d of %d tiles played\n", showing(wall.tiles()), kRecorders * kCameras);
        return 1;
    }
    std::printf("A wall of %d tiles, %d recorders of %d cameras, every tile playing\n\n", kRecorders * kCameras,
                kRecorders, kCameras);

    const std::pair<int, int> outages[] = {{0, 90}, {1, 45}};
    for (const auto& [recorder, seconds] : outages) {
        const orgserver::FakeDevice& device = server.sites[0].devices[recorder];
        QStringList ids;
        for (const orgserver::FakeCamera& c : device.cameras)
            ids << c.id;
        QList<CameraTile*> away, others;
        for (CameraTile* t : wall.tiles())
            (ids.contains(t->cameraId()) ? away : others) << t;
        bool othersKept = true;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout,
                         [&] { othersKept = othersKept && showing(others) == others.size(); });
        watch.start(500);

        const int startsBefore = startsOf(server, ids);
        peers::steer(relay, QStringLiteral("answer 404=/cam(%1)_").arg(ids.join(QLatin1Char('|'))));
        bench::spin(seconds * 1000);
        const int startsAway = startsOf(server, ids) - startsBefore;
        peers::steer(relay, QStringLiteral("clear"));
        QElapsedTimer back;
        back.start();
        QHash<CameraTile*, double> playedAfter;
        bench::waitUntil(
            [&] {
                for (CameraTile* t : std::as_const(away))
                    if (t->showsPictures() && !playedAfter.contains(t))
                        playedAfter.insert(t, back.elapsed() / 1000.0);
                return playedAfter.size() == away.size();
            },
            300000);
        watch.stop();
        std::vector<double> times(playedAfter.cbegin(), playedAfter.cend());
        std::sort(times.begin(), times.end());
        std::printf("recorder %s turned away for %d s:\n", qPrintable(device.name), seconds);
        if (int(times.size()) < kCameras) {
            std::printf("  only %d of its %d tiles played again within 300 s\n", int(times.size()), kCameras);
        } else {
            std::printf("  its tiles played again after  %5.1f s (first)  %5.1f s (median)  %5.1f s (last)\n",
                        times.front(), bench::median(times), times.back());
        }
        std::printf("  starts of its cameras while away %4d\n", startsAway);
        std::printf("  the other %d tiles kept playing  %s\n\n", int(others.size()), othersKept ? "yes" : "no");
        std::fflush(stdout);
    }
    wall.stopAll();
    return 0;
}
