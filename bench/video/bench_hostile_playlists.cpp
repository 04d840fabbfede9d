// Memory of the player against hostile HLS playlists, in one run: a player
// is handed a playlist of 26 MB (its length announced, its 2 s segments
// missing) and one that never ends (sent without a length as fast as it is
// read), each in a process of its own, beside a playlist of 1 KB with the
// same missing segments for the process's own size. The HTTP peer is the
// HLS server of tests/fixtures. For each the bench prints the peak resident
// size of the process (VmHWM), the resident size once the player said why
// it stopped, how long that took and what it said.
//
// Fixed parameters, no options: run it and read the table.

#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace kvr::video;

namespace {

constexpr int kGiveUpMs = 120000;

struct Case {
    const char* name;
    const char* path;
};
constexpr Case kCases[] = {
    {"1 KB playlist, segments missing", "/big/1000/day.m3u8"},
    {"26 MB playlist", "/big/26000000/day.m3u8"},
    {"endless playlist", "/endless/live.m3u8"},
};

double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

// One player in this process: prints "<peak MiB>\t<MiB at the end>\t<ms>\t<what it said>".
int playOnce(const QString& url)
{
    FfmpegPlayer player;
    player.options().audioEnabled = false;
    QString said;
    QObject::connect(&player, &FfmpegPlayer::status, [&said](const QString& headline, const QString& detail) {
        said = headline + QStringLiteral(": ") + detail;
    });
    QElapsedTimer t;
    t.start();
    player.play(url);
    QEventLoop loop;
    QTimer poll;
    qint64 endedAt = -1; // the decode thread's end is told a moment before what it said
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (endedAt < 0 && !player.isRunning())
            endedAt = t.elapsed();
        if (!said.isEmpty() || (endedAt >= 0 && t.elapsed() - endedAt > 1000) || t.elapsed() > kGiveUpMs)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    const qint64 ms = t.elapsed();
    std::printf("%.1f\t%.1f\t%lld\t%s\n", mib(kvrtest::memoryKiB("VmHWM")), mib(kvrtest::memoryKiB("VmRSS")), ms,
                qPrintable(said.isEmpty() ? QStringLiteral("(nothing said)") : said));
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0) {
        FfmpegPlayer::prepareProcessHeap();
        kvrtest::prepareEnvironment("BenchHostilePlaylists");
        QCoreApplication app(argc, argv);
        return playOnce(QString::fromUtf8(argv[2]));
    }

    kvrtest::prepareEnvironment("BenchHostilePlaylists");
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    const QString script = root.filePath(QStringLiteral("script.json"));
    peers::writeScript(script, "{}");
    peers::Peer server;
    if (!root.isValid()
        || !peers::startHls(server, root.path(), script, root.filePath(QStringLiteral("requests.log")), false)) {
        std::fprintf(stderr, "the HLS test server did not start\n");
        return 1;
    }
    std::printf("A player handed a hostile playlist, each in a process of its own: peak resident size, resident\n"
                "size once the player said why it stopped, the time that took, and what it said\n\n");
    std::printf("%-34s %10s %10s %9s  %s\n", "playlist", "peak MiB", "end MiB", "ms", "said");
    for (const Case& c : kCases) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--child"),
                     QStringLiteral("http://127.0.0.1:%1%2").arg(server.port).arg(QLatin1String(c.path))});
        if (!child.waitForFinished(kGiveUpMs + 30000) || child.exitCode() != 0) {
            std::fprintf(stderr, "the player of \"%s\" did not end\n", c.name);
            return 1;
        }
        const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split('\n').last().split('\t');
        if (parts.size() != 4) {
            std::fprintf(stderr, "no figures for \"%s\"\n", c.name);
            return 1;
        }
        std::printf("%-34s %10s %10s %9s  %s\n", c.name, parts[0].constData(), parts[1].constData(),
                    parts[2].constData(), parts[3].constData());
        std::fflush(stdout);
    }
    return 0;
}
