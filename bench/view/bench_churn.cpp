// Reconnect churn of a camera wall. A page of 36 tiles plays through the real
// server client, the fake organisation server (a program of its own, so its
// memory is not counted) and a relay that keeps failing: GStreamer's RTSP
// server (one 1280x720 stream shared by every viewer, held open by a viewer
// of its own) behind the fault proxy, which cuts every connection a few
// seconds after it began and, once a minute, goes away for 10 s (connections
// refused). Every tile's player therefore drops and restarts again and
// again, and a tile whose player gives up is restarted through its server
// stream as Retry does. The page and its tiles stay up for the whole run, as
// on a control room's wall: at the end of each minute their players stop,
// every decode thread ends, the resident memory and the heap in use are read,
// and the players start again. It prints those readings and the growth per
// hour fitted over them from the second on (two minutes warm the process
// up), with the growth per restart.
//
//   bench_view_churn [seconds]        (default 600; KVR_BENCH_SECONDS too)
//
// Run it under a display (tests/support/with-display.sh, with KVR_RENDER=gpu
// to draw with Mesa as the program draws with the graphics chip) or on the
// offscreen platform. The target is a growth under 10 MiB an hour.

#include "app/core/Settings.h"
#include "bench/support/BenchKit.h"
#include "server/api/ApiClient.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <vector>

#include <unistd.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kvr::core;
using namespace kvr::video;
using namespace kvr::api;
using namespace kvr::view;

namespace {

using bench::residentMiB;
using bench::waitUntil;

constexpr int kTiles = 36;
constexpr int kDefaultSeconds = 600;
// Each relay connection is cut this long after it began.
constexpr int kDropAfterMs = 4000;
// One round of churn between two readings, and the relay's outage in each.
constexpr int kRoundMs = 60000;
constexpr int kOutageMs = 10000;
// The reading the growth is measured from.
constexpr int kWarmUpReadings = 2;
constexpr int kRetrySweepMs = 5000;

// Bytes the allocator has handed out and not had back.
double heapInUseMiB()
{
#if defined(__GLIBC__)
    const struct mallinfo2 m = mallinfo2();
    return double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
#else
    return 0.0;
#endif
}

int threadCount()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith("Threads:"))
                return line.mid(8).trimmed().toInt();
    return 0;
}

// Least-squares slope of y over x.
double slope(const std::vector<double>& x, const std::vector<double>& y)
{
    const size_t n = x.size();
    if (n < 2)
        return 0.0;
    double mx = 0, my = 0;
    for (size_t i = 0; i < n; ++i) {
        mx += x[i];
        my += y[i];
    }
    mx /= double(n);
    my /= double(n);
    double num = 0, den = 0;
    for (size_t i = 0; i < n; ++i) {
        num += (x[i] - mx) * (y[i] - my);
        den += (x[i] - mx) * (x[i] - mx);
    }
    return den > 0 ? num / den : 0.0;
}

int seconds(int argc, char** argv)
{
    bool ok = false;
    int s = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt(&ok) : 0;
    if (!ok)
        s = qEnvironmentVariableIntValue("KVR_BENCH_SECONDS", &ok);
    return ok && s > 0 ? s : kDefaultSeconds;
}

} // namespace

int main(int argc, char** argv)
{
    const int runSeconds = seconds(argc, argv);
    kvrtest::prepareEnvironment("bench_churn");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    static std::atomic<int> restarts{0};
    static const bool showLog = qEnvironmentVariableIsSet("KVR_BENCH_LOG");
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& msg) {
        if (msg.contains(QLatin1String("stream dropped; reconnecting")))
            ++restarts;
        if (showLog)
            std::fprintf(stderr, "%s\n", qPrintable(msg));
    });
    // Pictures are drawn as the program draws them: with the graphics chip
    // when the probe accepts it (KVR_RENDER=gpu accepts Mesa's under Xvfb).
    Prefs::set(Prefs::kGridQuality, 2);

    peers::Peer rtsp, relay;
    if (!peers::startRtsp(rtsp, {"--size", "1280x720", "--bitrate", "1500", "--no-audio", "--one-media"})
        || !peers::startProxy(relay, rtsp.port, QStringLiteral("drop"), kDropAfterMs)) {
        std::fprintf(stderr, "could not start the RTSP server and its proxy\n");
        return 1;
    }
    // A viewer that only copies packets keeps the shared stream prepared
    // while the wall's viewers come and go.
    QProcess holder;
    holder.start(QStringLiteral("ffmpeg"),
                 {"-hide_banner", "-loglevel", "quiet", "-rtsp_transport", "tcp", "-i", peers::rtspUrl(rtsp.port), "-c",
                  "copy", "-f", "null", "-"});
    qputenv("KVR_RTSP_HOST", "127.0.0.1");
    qputenv("KVR_RTSP_PORT", QByteArray::number(relay.port));

    const quint16 port = kvrtest::freePort();
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KVR_FAKE_PORT"), QString::number(port));
    env.insert(QStringLiteral("KVR_FAKE_POPULATE"), QStringLiteral("1x1x%1").arg(kTiles));
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStringLiteral(KVR_FAKE_SERVER_PROGRAM), {});
    if (!server.waitForStarted(5000) || !server.waitForReadyRead(10000)) {
        std::fprintf(stderr, "cannot start the fake organisation server\n");
        return 1;
    }
    QObject::connect(&server, &QProcess::readyReadStandardOutput, &server, [&] { server.readAllStandardOutput(); });

    ApiClient client;
    client.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
    bool signedIn = false;
    client.login(QStringLiteral("demo"), QStringLiteral("demo"), false, [&](const LoginStart& r) {
        client.setAccessToken(r.accessToken);
        client.setRefreshToken(r.refreshToken);
        signedIn = r.step == LoginStart::SignedIn;
    });
    if (waitUntil([&] { return signedIn; }, 10000) < 0) {
        std::fprintf(stderr, "could not sign in to the fake server\n");
        return 1;
    }
    QList<Site> sites;
    client.fetchCatalog(QStringLiteral("Demo Organisation"), [&](const QList<Site>& s, const QString&) { sites = s; });
    QList<GridPage::Camera> cameras;
    waitUntil([&] { return !sites.isEmpty(); }, 10000);
    for (const Site& s : std::as_const(sites))
        for (const Device& d : s.devices)
            for (const Channel& c : d.channels)
                cameras.append({c.id, c.name, QString(), false});
    if (cameras.size() < kTiles) {
        std::fprintf(stderr, "the catalogue has %d cameras, not %d\n", int(cameras.size()), kTiles);
        return 1;
    }

    GridPage wall(nullptr, &client);
    wall.resize(1600, 940);
    wall.show();
    for (QAbstractButton* b : wall.findChildren<QAbstractButton*>())
        if (b->text() == QString::number(kTiles))
            b->click(); // all of them on one page
    wall.openCameras(QStringLiteral("Churn"), cameras.mid(0, kTiles));

    // A tile whose player gave up is restarted as its Retry button would.
    int retries = 0;
    QTimer sweep;
    QObject::connect(&sweep, &QTimer::timeout, [&] {
        for (CameraTile* t : wall.tiles()) {
            for (QPushButton* b : t->findChildren<QPushButton*>()) {
                if (b->text() == QLatin1String("Retry") && b->isVisible()) {
                    b->click();
                    ++retries;
                }
            }
        }
    });
    sweep.start(kRetrySweepMs);

    std::printf("Camera wall under reconnect churn: %d tiles, relay connections cut %d ms after they begin, the "
                "relay down for %d s each minute; %d s\n",
                kTiles, kDropAfterMs, int(kOutageMs / 1000), runSeconds);
    std::printf("Each minute the wall's players stop and end, memory is read and they start again.\n\n");
    std::printf("%8s %10s %10s %10s %8s %8s\n", "time s", "RSS MiB", "heap MiB", "restarts", "retries", "threads");
    QElapsedTimer clock;
    clock.start();
    const int baseThreads = threadCount();
    std::vector<double> hours, rss, heap;
    int restartsAtFirst = 0;
    int readings = 0;
    while (clock.elapsed() < qint64(runSeconds) * 1000) {
        // Half a minute of drops, the relay away for a while, drops again.
        bench::spin(kRoundMs / 2 - kOutageMs);
        peers::steerProxy(relay, QStringLiteral("down"));
        bench::spin(kOutageMs);
        peers::steerProxy(relay, QStringLiteral("up"));
        bench::spin(kRoundMs / 2);

        // What the restarts kept: read with the players stopped and every
        // decode thread ended, the tiles and the page still up.
        sweep.stop();
        wall.suspendAll();
        waitUntil([&] { return FfmpegPlayer::backgroundThreads() == 0 && threadCount() <= baseThreads; }, 20000);
        // Long enough for what the ended threads freed to be given back.
        bench::spin(6000);
        const qint64 now = clock.elapsed();
        const double r = residentMiB();
        const double h = heapInUseMiB();
        const int made = restarts.load() + retries;
        std::printf("%8lld %10.1f %10.1f %10d %8d %8d\n", static_cast<long long>(now / 1000), r, h, restarts.load(),
                    retries, threadCount());
        std::fflush(stdout);
        // The first two minutes warm caches, pools and the allocator's arenas up.
        if (++readings >= kWarmUpReadings) {
            if (hours.empty())
                restartsAtFirst = made;
            hours.push_back(double(now) / 3600000.0);
            rss.push_back(r);
            heap.push_back(h);
        }
        wall.resumeAll();
        sweep.start(kRetrySweepMs);
    }
    const int measured = restarts.load() + retries - restartsAtFirst;
    const double rssGrowth = rss.size() > 1 ? rss.back() - rss.front() : 0.0;
    const double heapGrowth = heap.size() > 1 ? heap.back() - heap.front() : 0.0;
    std::printf("\nrestarts: %d player restarts, %d tile restarts, %d since the base reading\n", restarts.load(),
                retries, measured);
    std::printf("RSS growth:  %7.1f MiB/h fitted  (%.1f MiB from the base reading to the last; %.2f KiB per "
                "restart)\n",
                slope(hours, rss), rssGrowth, measured > 0 ? rssGrowth * 1024 / measured : 0.0);
    std::printf("heap growth: %7.1f MiB/h fitted  (%.1f MiB; %.2f KiB per restart)   target: under 10 MiB/h\n",
                slope(hours, heap), heapGrowth, measured > 0 ? heapGrowth * 1024 / measured : 0.0);

    wall.stopAll();
    bench::spin(500);
    holder.kill();
    holder.waitForFinished(3000);
    server.kill();
    server.waitForFinished(3000);
    return 0;
}
