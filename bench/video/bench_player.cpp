// Stream player benchmark. Plays N copies of a 720p and of a 1080p live RTSP
// stream (GStreamer's server from tests/fixtures) for a fixed time and prints,
// beside the ffmpeg tool decoding the same stream to null in the same run:
// processor time per picture (the player's per picture shown, the tool's per
// picture decoded; both include their start-up), pictures, how far the
// picture drifts behind the camera, memory per player, and the time to the
// first picture against the tool with fair low-latency options, net of the
// tool's own start-up; the pictures a second of the player suite's camera,
// with its sound. Then 16 sub-stream players (640x360, light decoding,
// YUV output) on two processor cores, counting overload notices.
//
// Fixed parameters, no options: run it and read the table.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>
#if defined(__linux__)
#include <sched.h>
#include <unistd.h>
#endif

using namespace kvr::video;

namespace {

constexpr int kCopies = 4;
constexpr int kSeconds = 10;
constexpr int kSubStreams = 16;
constexpr int kFirstPictureRuns = 5;

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
}

double residentMiB()
{
#if defined(__linux__)
    QFile f(QStringLiteral("/proc/self/statm"));
    if (f.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> parts = f.readAll().split(' ');
        if (parts.size() > 1)
            return parts[1].toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
    }
#endif
    return 0.0;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

struct Tally {
    int pictures = 0;
    int overloads = 0;
    double openedWall = -1, firstWall = -1, firstMedia = 0, lastWall = 0, lastMedia = 0;
};

struct PlayerRun {
    double cpuMsPerPicture = 0;
    double picturesPerPlayer = 0;
    double driftSeconds = 0; // how much further behind the camera the picture fell
    // Behind the camera at the end: the stream's first picture was taken about
    // when the server answered PLAY (the player's `opened`); media time since
    // then against wall time since then.
    double lagSeconds = 0;
    double memoryPerPlayerMiB = 0;
    int overloads = 0;
};

PlayerRun runPlayers(const QString& url, int copies, int seconds, bool light, bool sound = false)
{
    const double rssBefore = residentMiB();
    std::vector<std::unique_ptr<FfmpegPlayer>> players;
    std::vector<Tally> tallies(static_cast<size_t>(copies), Tally{});
    QElapsedTimer clock;
    clock.start();
    const double cpu0 = cpuSeconds(RUSAGE_SELF);
    for (int i = 0; i < copies; ++i) {
        auto p = std::make_unique<FfmpegPlayer>();
        p->options().audioEnabled = sound;
        p->controls().yuvOutput = !sound;
        p->options().lightDecode = light;
        p->options().label = QStringLiteral("bench-%1").arg(i);
        Tally* t = &tallies[size_t(i)];
        QObject::connect(p.get(), &FfmpegPlayer::position, p.get(), [t, &clock](double s) {
            const double now = clock.elapsed() / 1000.0;
            if (t->firstWall < 0) {
                t->firstWall = now;
                t->firstMedia = s;
            }
            t->lastWall = now;
            t->lastMedia = s;
            ++t->pictures;
        });
        QObject::connect(p.get(), &FfmpegPlayer::overloaded, p.get(), [t] { ++t->overloads; });
        QObject::connect(p.get(), &FfmpegPlayer::opened, p.get(),
                         [t, &clock] { t->openedWall = clock.elapsed() / 1000.0; });
        p->play(url);
        players.push_back(std::move(p));
    }
    wait(seconds * 1000);
    const double rssDuring = residentMiB();
    const double cpu = cpuSeconds(RUSAGE_SELF) - cpu0;
    players.clear();

    PlayerRun r;
    r.memoryPerPlayerMiB = (rssDuring - rssBefore) / copies;
    int shown = 0;
    for (const Tally& t : tallies)
        shown += t.pictures;
    r.cpuMsPerPicture = shown > 0 ? 1000.0 * cpu / shown : 0.0;
    for (const Tally& t : tallies) {
        r.picturesPerPlayer += t.pictures / double(copies);
        r.driftSeconds += ((t.lastWall - t.firstWall) - (t.lastMedia - t.firstMedia)) / copies;
        r.lagSeconds += ((t.lastWall - t.openedWall) - (t.lastMedia - t.firstMedia)) / copies;
        r.overloads += t.overloads;
    }
    return r;
}

// Processor milliseconds per decoded picture of `copies` ffmpeg tools decoding
// the stream to null for `seconds`; `frames` gets the pictures per copy.
double runFfmpeg(const QString& url, int copies, int seconds, int* frames, bool oneThread)
{
    const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
    std::vector<std::unique_ptr<QProcess>> procs;
    for (int i = 0; i < copies; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::MergedChannels);
        p->start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-nostats"), QStringLiteral("-loglevel"),
                  QStringLiteral("info"), QStringLiteral("-threads"), QString::fromLatin1(oneThread ? "1" : "0"),
                  QStringLiteral("-rtsp_transport"), QStringLiteral("tcp"), QStringLiteral("-i"), url,
                  QStringLiteral("-t"), QString::number(seconds), QStringLiteral("-an"), QStringLiteral("-f"),
                  QStringLiteral("null"), QStringLiteral("-")});
        procs.push_back(std::move(p));
    }
    int total = 0;
    for (auto& p : procs) {
        p->waitForFinished(seconds * 1000 + 30000);
        const QString out = QString::fromUtf8(p->readAll());
        static const QRegularExpression re(QStringLiteral("frame=\\s*(\\d+)"));
        auto it = re.globalMatch(out);
        int last = 0;
        while (it.hasNext())
            last = it.next().captured(1).toInt();
        total += last;
    }
    *frames = total / copies;
    return total > 0 ? 1000.0 * (cpuSeconds(RUSAGE_CHILDREN) - cpu0) / total : 0.0;
}

double playerFirstPictureMs(const QString& url)
{
    FfmpegPlayer p;
    p.options().audioEnabled = false;
    p.controls().yuvOutput = true;
    QEventLoop loop;
    QObject::connect(&p, &FfmpegPlayer::yuvFrameReady, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    QElapsedTimer t;
    t.start();
    p.play(url);
    loop.exec();
    return double(t.elapsed());
}

double timedRun(const QStringList& args)
{
    QProcess p;
    QElapsedTimer t;
    t.start();
    p.start(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error")} + args);
    p.waitForFinished(20000);
    return double(t.elapsed());
}

// The tool with the options a low-latency viewer would use. Not "-fflags
// nobuffer": it throws away the keyframe read while probing, so the tool
// waits a whole group of pictures for the next one.
double ffmpegFirstPictureMs(const QString& url)
{
    return timedRun(QStringLiteral("-flags low_delay -analyzeduration 0 -probesize 32 -rtsp_transport tcp -i %1 "
                                   "-frames:v 1 -an -f null -")
                        .arg(url)
                        .split(QLatin1Char(' ')));
}

// What starting the tool costs before it touches a stream.
double ffmpegStartUpMs()
{
    return timedRun(QStringLiteral("-f lavfi -i color=size=16x16 -frames:v 1 -f null -").split(QLatin1Char(' ')));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_player");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {}); // quiet

    struct Source {
        const char* name;
        QStringList args;
        peers::Peer peer;
    };
    Source sources[4] = {
        {"720p",
         {QStringLiteral("--size"), QStringLiteral("1280x720"), QStringLiteral("--bitrate"), QStringLiteral("2000"),
          QStringLiteral("--no-audio"), QStringLiteral("--pattern"), QStringLiteral("smpte"),
          QStringLiteral("--scroll"), QStringLiteral("6")},
         {}},
        {"1080p",
         {QStringLiteral("--size"), QStringLiteral("1920x1080"), QStringLiteral("--bitrate"), QStringLiteral("4000"),
          QStringLiteral("--no-audio"), QStringLiteral("--pattern"), QStringLiteral("smpte"),
          QStringLiteral("--scroll"), QStringLiteral("6")},
         {}},
        {"360p",
         {QStringLiteral("--size"), QStringLiteral("640x360"), QStringLiteral("--bitrate"), QStringLiteral("512"),
          QStringLiteral("--no-audio"), QStringLiteral("--pattern"), QStringLiteral("smpte"),
          QStringLiteral("--scroll"), QStringLiteral("4")},
         {}},
        // The camera the player suite watches: 320x240 with sound.
        {"240p", {}, {}},
    };
    for (Source& s : sources) {
        if (!peers::startRtsp(s.peer, s.args)) {
            std::fprintf(stderr, "could not start the RTSP server for %s\n", s.name);
            return 1;
        }
    }
    auto urlOf = [](const Source& s) { return QStringLiteral("rtsp://127.0.0.1:%1/live").arg(s.peer.port); };
    // The server prepares a shared stream when its first client comes and
    // drops it when the last one goes; several clients arriving together at
    // an unprepared stream can leave it broken. So one viewer that only
    // copies packets (next to no processor time, and not counted until it
    // is reaped at the end) holds each stream for the whole run.
    std::vector<std::unique_ptr<QProcess>> holders;
    for (Source& s : sources) {
        auto h = std::make_unique<QProcess>();
        h->setProcessChannelMode(QProcess::MergedChannels);
        h->start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("quiet"),
                  QStringLiteral("-rtsp_transport"), QStringLiteral("tcp"), QStringLiteral("-i"), urlOf(s),
                  QStringLiteral("-c"), QStringLiteral("copy"), QStringLiteral("-f"), QStringLiteral("null"),
                  QStringLiteral("-")});
        holders.push_back(std::move(h));
        if (playerFirstPictureMs(urlOf(s)) >= 20000) {
            std::fprintf(stderr, "no picture from the RTSP server for %s\n", s.name);
            return 1;
        }
    }

    std::printf("Stream player benchmark: %d copies, %d s each, YUV output, no sound\n\n", kCopies, kSeconds);
    std::printf("%-6s %-8s %14s %10s %8s %8s %12s\n", "stream", "decoder", "cpu ms/picture", "pictures", "lag s",
                "drift s", "MiB/player");
    for (int i = 0; i < 2; ++i) {
        Source& s = sources[i];
        const PlayerRun r = runPlayers(urlOf(s), kCopies, kSeconds, false);
        int ffFrames = 0, ffFrames1 = 0;
        const double ff = runFfmpeg(urlOf(s), kCopies, kSeconds, &ffFrames, false);
        const double ff1 = runFfmpeg(urlOf(s), kCopies, kSeconds, &ffFrames1, true);
        std::printf("%-6s %-8s %14.2f %10.0f %8.2f %8.2f %12.1f\n", s.name, "player", r.cpuMsPerPicture,
                    r.picturesPerPlayer, r.lagSeconds, r.driftSeconds, r.memoryPerPlayerMiB);
        std::printf("%-6s %-8s %14.2f %10d %8s %8s %12s\n", s.name, "ffmpeg", ff, ffFrames, "-", "-", "-");
        std::printf("%-6s %-8s %14.2f %10d %8s %8s %12s\n", s.name, "ffmpeg-1", ff1, ffFrames1, "-", "-", "-");
        std::printf("%-6s processor time per picture, player/ffmpeg: %.2f (one-thread ffmpeg: %.2f)\n\n", s.name,
                    ff > 0 ? r.cpuMsPerPicture / ff : 0.0, ff1 > 0 ? r.cpuMsPerPicture / ff1 : 0.0);
    }

    std::vector<double> mine, theirs, startUp;
    for (int i = 0; i < kFirstPictureRuns; ++i) {
        mine.push_back(playerFirstPictureMs(urlOf(sources[0])));
        theirs.push_back(ffmpegFirstPictureMs(urlOf(sources[0])));
        startUp.push_back(ffmpegStartUpMs());
    }
    const double net = median(theirs) - median(startUp);
    std::printf("time to first picture, 720p, median of %d: player %.0f ms; ffmpeg (low-latency options) %.0f ms, "
                "of which %.0f ms start-up: %.0f ms net; player/ffmpeg net %.2f\n\n",
                kFirstPictureRuns, median(mine), median(theirs), median(startUp), net,
                net > 0 ? median(mine) / net : 0.0);

    // How many pictures a second the player suite's camera gives one player
    // with its sound (RGB pictures, paced on the sound clock), for the case
    // that once counted them against the wall clock.
    const PlayerRun camera = runPlayers(urlOf(sources[3]), 1, kSeconds, false, true);
    std::printf("the player suite's camera, 320x240 with sound, one player: %.1f pictures a second (of 25), "
                "lag %.2f s, drift %.2f s\n\n",
                camera.picturesPerPlayer / kSeconds, camera.lagSeconds, camera.driftSeconds);

#if defined(__linux__)
    // The servers already run on all cores; from here on this process and its
    // decode threads get two.
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(0, &set);
    CPU_SET(1, &set);
    const bool pinned = sched_setaffinity(0, sizeof set, &set) == 0;
#else
    const bool pinned = false;
#endif
    const PlayerRun subs = runPlayers(urlOf(sources[2]), kSubStreams, kSeconds, true);
    std::printf("%d sub-stream players 640x360 (light decoding, YUV)%s: %.2f cpu ms/picture, %.0f pictures each, "
                "lag %.2f s, drift %.2f s, %.1f MiB each, %d overload notices\n",
                kSubStreams, pinned ? " on 2 cores" : "", subs.cpuMsPerPicture, subs.picturesPerPlayer, subs.lagSeconds,
                subs.driftSeconds, subs.memoryPerPlayerMiB, subs.overloads);
    for (auto& h : holders) {
        h->kill();
        h->waitForFinished(3000);
    }
    return 0;
}
