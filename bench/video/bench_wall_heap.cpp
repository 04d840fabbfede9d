// What the number of heaps the C library keeps for the process's threads
// costs a wall that plays, and what it leaves behind once the wall stopped.
// Walls of 16 and 36 tiles play the sub stream of the RTSP test server
// (640x360, 25 pictures a second, a busy picture) at their tiles' sizes on a
// 1280x720 screen, with one heap for all threads, two, four, and the
// library's default (a heap per thread, up to eight per core: what the
// program keeps), each in a process of its own, in turns, three rounds. Prints the
// processor time per picture delivered and the memory still held a moment
// after the wall stopped (the medians of the rounds), and each setting's cost
// beside the default.
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

constexpr int kRounds = 3;
constexpr int kWarmUpMs = 5000;
constexpr int kMeasureMs = 15000;
constexpr int kTileCounts[] = {16, 36};
// Heaps: 0 is the library's default.
constexpr int kHeapCounts[] = {1, 2, 4, 0};

// One wall in this process: prints "<ms per picture> <pictures> <MiB kept>".
int playWall(int tiles, quint16 port)
{
    const double before = residentMiB();
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
    spin(kWarmUpMs);
    const int picturesBefore = pictures;
    const double cpuBefore = cpuSeconds();
    spin(kMeasureMs);
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
    std::printf("%.4f %d %.1f\n", shown > 0 ? cpu * 1000.0 / shown : 0.0, shown, residentMiB() - before);
    std::fflush(stdout);
    return shown > 0 ? 0 : 1;
}

struct Result {
    double msPerPicture = 0;
    int pictures = 0;
    double keptMiB = 0;
};

bool runChild(int tiles, int heaps, quint16 port, Result* out)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--child"), QString::number(tiles), QString::number(heaps), QString::number(port)});
    if (!child.waitForFinished(kWarmUpMs + kMeasureMs + 60000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    if (parts.size() != 3)
        return false;
    out->msPerPicture = parts[0].toDouble();
    out->pictures = parts[1].toInt();
    out->keptMiB = parts[2].toDouble();
    return true;
}

QString heapsName(int heaps)
{
    return heaps == 0 ? QStringLiteral("default") : QString::number(heaps);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && qstrcmp(argv[1], "--child") == 0) {
        // The heap is set up before any thread starts, as the program does;
        // the library's default is put back for the other variant before any
        // thread has asked for a heap of its own.
        FfmpegPlayer::prepareProcessHeap();
#if defined(__GLIBC__)
        const int heaps = std::atoi(argv[3]);
        mallopt(M_ARENA_MAX, heaps == 0 ? 8 * get_nprocs() : heaps);
#endif
        kvrtest::prepareEnvironment("BenchWallHeap");
        QCoreApplication app(argc, argv);
        return playWall(std::atoi(argv[2]), quint16(std::atoi(argv[4])));
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
    std::printf("Walls playing a 640x360 live stream for %d s after %d s: processor ms per picture delivered,\n"
                "MiB still held %d s after the wall stopped; heaps: the C library's default or a count\n",
                kMeasureMs / 1000, kWarmUpMs / 1000, int(kvr::video::tun::kGiveBackDelay.count() / 1000) + 1);
    constexpr int kVariants = int(std::size(kHeapCounts));
    for (int tiles : kTileCounts) {
        std::vector<double> ms[kVariants], kept[kVariants];
        for (int round = 1; round <= kRounds; ++round) {
            // In turns: the variant that goes first changes every round.
            for (int k = 0; k < kVariants; ++k) {
                const int v = (k + round) % kVariants;
                Result r;
                if (!runChild(tiles, kHeapCounts[v], camera.port, &r)) {
                    std::fprintf(stderr, "a wall of %d did not play\n", tiles);
                    return 1;
                }
                ms[v].push_back(r.msPerPicture);
                kept[v].push_back(r.keptMiB);
                std::printf("%2d tiles  round %d  heaps %-8s %.3f ms  %6d pictures  %5.1f MiB held\n", tiles, round,
                            qPrintable(heapsName(kHeapCounts[v])), r.msPerPicture, r.pictures, r.keptMiB);
                std::fflush(stdout);
            }
        }
        const double standard = median(ms[kVariants - 1]);
        for (int v = 0; v < kVariants; ++v) {
            const double m = median(ms[v]);
            std::printf("%2d tiles  median   heaps %-8s %.3f ms  %+6.1f %% beside the default  %5.1f MiB held\n", tiles,
                        qPrintable(heapsName(kHeapCounts[v])), m,
                        standard > 0 ? (m - standard) * 100.0 / standard : 0.0, median(kept[v]));
        }
        std::fflush(stdout);
    }
    return 0;
}
