// What the C library's heaps for the process's threads cost a wall that
// plays, and what they leave behind once the wall stopped. Walls of 16 and 36
// tiles play the sub stream of the RTSP test server (640x360, 25 pictures a
// second, a busy picture) at their tiles' sizes on a 1280x720 screen, with
// one heap for all threads, two, four, and the library's default (a heap per
// thread, up to eight per core), with and without the library's fast bins
// (its lists of small freed blocks kept apart, unmerged), each in a process
// of its own, in turns, five rounds. Prints the processor time per picture
// delivered and the memory still held a moment after the wall stopped (the
// medians of the rounds), and each setting's cost beside the default with
// fast bins. Then ten walls of 36, one after the other in one process, with
// the default heaps with and without fast bins: the memory held after each.
// What the program keeps is marked.
//
// Fixed parameters, no options: run it and read the table.

#include "bench/support/BenchKit.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"
#include "video/Tunables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#include <sys/sysinfo.h>
#endif

using namespace kvr::video;
using bench::cpuSeconds;
using bench::median;
using bench::residentMiB;
using bench::spin;

namespace {

constexpr int kRounds = 5;
constexpr int kWarmUpMs = 5000;
constexpr int kMeasureMs = 15000;
constexpr int kTileCounts[] = {16, 36};
constexpr int kWallsInARow = 10;
constexpr int kInARowMs = 5000; // each of those walls plays this long

struct Variant {
    int heaps; // 0: the library's default
    bool fastBins;
};
constexpr Variant kVariants[] = {{1, true}, {2, true}, {4, true}, {0, false}, {0, true}};
constexpr int kStandard = int(std::size(kVariants)) - 1; // what costs are measured against

struct Result {
    double msPerPicture = 0;
    int pictures = 0;
    double keptMiB = 0;
};

// One wall in this process, played for `measureMs` after a warm-up of
// `warmUpMs`, then stopped and its threads ended; the memory it left is
// measured against `before`.
Result playWall(int tiles, quint16 port, int warmUpMs, int measureMs, double before)
{
    const int columns = tiles == 16 ? 4 : 6;
    std::vector<std::unique_ptr<FfmpegPlayer>> wall;
    int pictures = 0;
    for (int i = 0; i < tiles; ++i) {
        wall.push_back(std::make_unique<FfmpegPlayer>());
        FfmpegPlayer& tile = *wall.back();
        tile.options().audioEnabled = false;
        tile.options().lightDecode = true;
        tile.options().catchUpLive = true;
        tile.controls().targetWidth.store(1280 / columns);
        tile.controls().targetHeight.store(720 / columns);
        QObject::connect(&tile, &FfmpegPlayer::frameReady, [&pictures](const QImage&) { ++pictures; });
        tile.play(peers::rtspUrl(port));
    }
    spin(warmUpMs);
    const int picturesBefore = pictures;
    const double cpuBefore = cpuSeconds();
    spin(measureMs);
    const double cpu = cpuSeconds() - cpuBefore;
    const int shown = pictures - picturesBefore;
    for (auto& tile : wall)
        tile->requestStop();
    wall.clear();
    QElapsedTimer ending;
    ending.start();
    while (FfmpegPlayer::backgroundThreads() > 0 && ending.elapsed() < 10000)
        spin(50);
    spin(int(kvr::video::tun::kGiveBackDelay.count()) + 1500);
    return {shown > 0 ? cpu * 1000.0 / shown : 0.0, shown, residentMiB() - before};
}

// A child: prints "<ms per picture> <pictures> <MiB kept>" for each of
// `walls` walls.
int playWalls(int walls, int tiles, quint16 port, int warmUpMs, int measureMs)
{
    const double before = residentMiB();
    for (int w = 0; w < walls; ++w) {
        const Result r = playWall(tiles, port, warmUpMs, measureMs, before);
        std::printf("%.4f %d %.1f\n", r.msPerPicture, r.pictures, r.keptMiB);
        std::fflush(stdout);
        if (r.pictures == 0)
            return 1;
    }
    return 0;
}

std::vector<Result> runChild(int walls, int tiles, const Variant& v, quint16 port)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), QString::number(walls), QString::number(tiles), QString::number(v.heaps),
                 QString::number(v.fastBins ? 1 : 0), QString::number(port)});
    std::vector<Result> out;
    const int each = walls == 1 ? kWarmUpMs + kMeasureMs : kInARowMs;
    if (!child.waitForFinished(walls * (each + 20000) + 60000) || child.exitCode() != 0)
        return out;
    for (const QByteArray& line : child.readAllStandardOutput().trimmed().split('\n')) {
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() == 3)
            out.push_back({parts[0].toDouble(), parts[1].toInt(), parts[2].toDouble()});
    }
    if (int(out.size()) != walls)
        out.clear();
    return out;
}

QString variantName(const Variant& v)
{
    const QString heaps = v.heaps == 0 ? QStringLiteral("default") : QString::number(v.heaps);
    return heaps + (v.fastBins ? QString() : QStringLiteral(", no fast bins"));
}

// The fast bins' largest block, 64 * sizeof(size_t) / 4 bytes, is the
// library's own default (M_MXFAST).
constexpr int kLibraryFastBinBytes = int(64 * sizeof(size_t) / 4);

} // namespace

int main(int argc, char** argv)
{
    if (argc == 7 && qstrcmp(argv[1], "--child") == 0) {
        // The heaps are set up before any thread starts, as the program does;
        // the variant's own settings replace the program's before any thread
        // has asked for a heap of its own.
        FfmpegPlayer::prepareProcessHeap();
#if defined(__GLIBC__)
        const int heaps = std::atoi(argv[4]);
        mallopt(M_ARENA_MAX, heaps == 0 ? 8 * get_nprocs() : heaps);
        mallopt(M_MXFAST, std::atoi(argv[5]) != 0 ? kLibraryFastBinBytes : 0);
#endif
        kvrtest::prepareEnvironment("BenchWallHeap");
        QCoreApplication app(argc, argv);
        const int walls = std::atoi(argv[2]);
        return playWalls(walls, std::atoi(argv[3]), quint16(std::atoi(argv[6])), walls == 1 ? kWarmUpMs : 1000,
                         walls == 1 ? kMeasureMs : kInARowMs - 1000);
    }

    kvrtest::prepareEnvironment("BenchWallHeap");
    QCoreApplication app(argc, argv);
    peers::Peer camera;
    if (!peers::startRtsp(camera,
                          {QStringLiteral("--size"), QStringLiteral("640x360"), QStringLiteral("--no-audio"),
                           QStringLiteral("--scroll"), QStringLiteral("4"), QStringLiteral("--bitrate"),
                           QStringLiteral("800")})) {
        std::fprintf(stderr, "the RTSP test server did not start\n");
        return 1;
    }
    const Variant kept{tun::kHeaps, tun::kFastBins};
    const auto mark = [&kept](const Variant& v) {
        return v.heaps == kept.heaps && v.fastBins == kept.fastBins ? "  (kept)" : "";
    };
    std::printf("Walls playing a 640x360 live stream for %d s after %d s: processor ms per picture delivered,\n"
                "MiB still held %d s after the wall stopped; heaps: the C library's default or a count\n",
                kMeasureMs / 1000, kWarmUpMs / 1000, int(kvr::video::tun::kGiveBackDelay.count() / 1000) + 1);
    constexpr int kCount = int(std::size(kVariants));
    for (int tiles : kTileCounts) {
        std::vector<double> ms[kCount], held[kCount];
        for (int round = 1; round <= kRounds; ++round) {
            // In turns: the variant that goes first changes every round.
            for (int k = 0; k < kCount; ++k) {
                const int v = (k + round) % kCount;
                const std::vector<Result> r = runChild(1, tiles, kVariants[v], camera.port);
                if (r.empty()) {
                    std::fprintf(stderr, "a wall of %d did not play\n", tiles);
                    return 1;
                }
                ms[v].push_back(r[0].msPerPicture);
                held[v].push_back(r[0].keptMiB);
                std::printf("%2d tiles  round %d  heaps %-22s %.3f ms  %6d pictures  %5.1f MiB held\n", tiles, round,
                            qPrintable(variantName(kVariants[v])), r[0].msPerPicture, r[0].pictures, r[0].keptMiB);
                std::fflush(stdout);
            }
        }
        const double standard = median(ms[kStandard]);
        for (int v = 0; v < kCount; ++v) {
            const double m = median(ms[v]);
            std::printf("%2d tiles  median   heaps %-22s %.3f ms  %+6.1f %% beside the default  %5.1f MiB held%s\n",
                        tiles, qPrintable(variantName(kVariants[v])), m,
                        standard > 0 ? (m - standard) * 100.0 / standard : 0.0, median(held[v]), mark(kVariants[v]));
        }
        std::fflush(stdout);
    }

    std::printf("%d walls of 36 in a row, %d s each: MiB held after each\n", kWallsInARow, kInARowMs / 1000);
    for (const Variant& v : {kVariants[kStandard], Variant{0, false}}) {
        const std::vector<Result> r = runChild(kWallsInARow, 36, v, camera.port);
        if (r.empty()) {
            std::fprintf(stderr, "the walls in a row did not play\n");
            return 1;
        }
        QString line;
        for (const Result& w : r)
            line += QStringLiteral(" %1").arg(w.keptMiB, 5, 'f', 1);
        std::printf("heaps %-22s%s%s\n", qPrintable(variantName(v)), qPrintable(line), mark(v));
        std::fflush(stdout);
    }
    return 0;
}
