// Resident memory of the built program while it idles, with accessibility
// on: at the sign-in window, and signed in (a remembered sign-in against the
// fake organisation server) with no video playing. Each program given is
// started afresh for each state and left to settle; then its VmRSS, its
// threads and whether it loaded an OpenGL driver are read from /proc. A
// second program (--before PATH, an earlier build) is measured the same way
// in the same run, beside it.
//
// Then the memory a wall leaves behind: signed in, the program plays a wall
// of 36 cameras (GStreamer's RTSP test server behind every camera) and stops
// it, five times, driven through the accessibility tree as a person would
// (camera_wall_driver.py beside this file). Once with KVR_RENDER=cpu, once with the
// drawing the program chooses itself (here the graphics probe finds only a
// software renderer, so the processor draws too). For each wall it prints the
// memory while it plays and 30 s after it stopped, beside the memory signed
// in before the first wall.
//
//   bench_idle_memory [--before PATH] [--settle SECONDS] [--rounds N] [--no-walls]
//
// Run it under a display and a session bus of its own, for the accessibility
// bus: tests/support/with-display.sh dbus-run-session -- bench_idle_memory.
// Without the system's Python bindings for that bus the walls are skipped.
// It ends with status 2 when the program holds more than 160 MiB idle, or,
// 30 s after a wall stopped, more than 20 MiB above its memory before the
// first wall.

#include "app/core/SessionStore.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

using namespace kvr::core;

namespace {

constexpr double kTargetMiB = 160.0;
// After a wall stopped: at most this much above the memory before the first.
constexpr double kAfterWallMiB = 20.0;
constexpr int kAfterWallSeconds = 30;
constexpr int kWallTiles = 36;
constexpr int kPlayingSeconds = 5;

struct Reading {
    double rssMiB = 0;
    int threads = 0;
    bool openGl = false;
};

std::optional<Reading> readProcess(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    Reading r;
    for (const QByteArray& line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "VmRSS:")
            r.rssMiB = parts[1].toDouble() / 1024.0;
        else if (parts[0] == "Threads:")
            r.threads = parts[1].toInt();
    }
    // A software or hardware OpenGL driver mapped into the process.
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (maps.open(QIODevice::ReadOnly)) {
        const QByteArray all = maps.readAll();
        r.openGl = all.contains("_dri.so") || all.contains("libGLX_mesa") || all.contains("libgallium");
    }
    return r;
}

// Runs the event loop until `done` holds or the time is up.
bool waitFor(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

void settle(int seconds)
{
    waitFor([] { return false; }, seconds * 1000);
}

// A fake organisation server of its own for each start of a program: the
// remembered sign-in's refresh token is good for one use.
class Server {
public:
    Server()
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput,
                         [this] { m_out += m_process.readAllStandardOutput(); });
    }
    ~Server() { stop(); }
    bool start(quint16 port, const QProcessEnvironment& extra)
    {
        stop();
        m_out.clear();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVR_FAKE_PORT", QString::number(port));
        env.insert("KVR_FAKE_REFRESH_TOKEN", "remembered");
        env.insert(extra);
        m_process.setProcessEnvironment(env);
        m_process.start(QStringLiteral(KVR_FAKE_SERVER_PROGRAM), {});
        return m_process.waitForStarted(5000) && waitFor([&] { return m_out.contains("listening"); }, 10000);
    }
    void stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    // Its request log so far (it prints every request).
    const QByteArray& requests() const { return m_out; }

private:
    QProcess m_process;
    QByteArray m_out;
};

struct Program {
    const char* name;
    QString path;
};

// One start of a program, ended with the object.
class Run {
public:
    ~Run()
    {
        kavira.terminate();
        if (!kavira.waitForFinished(10000)) {
            kavira.kill();
            kavira.waitForFinished(5000);
        }
    }
    bool start(const Program& program, quint16 port, const QProcessEnvironment& extra)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVR_API_BASE", QStringLiteral("http://127.0.0.1:%1").arg(port));
        env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        env.insert(extra);
        kavira.setProcessEnvironment(env);
        kavira.setStandardOutputFile(QProcess::nullDevice());
        kavira.setStandardErrorFile(QProcess::nullDevice());
        kavira.start(program.path, {});
        if (!kavira.waitForStarted(10000)) {
            std::fprintf(stderr, "cannot start %s\n", qPrintable(program.path));
            return false;
        }
        return true;
    }
    std::optional<Reading> read() const { return readProcess(kavira.processId()); }

    QProcess kavira;
};

// The wall driver: a Python program that clicks through the accessibility
// tree and answers each command once done.
class Driver {
public:
    bool start()
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(peers::systemPython(), {QStringLiteral(KVR_SOURCE_DIR "/bench/shell/camera_wall_driver.py")});
        return m_process.waitForStarted(10000);
    }
    ~Driver()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(3000);
    }
    // Sends the command and waits for its answer; empty when none came.
    QByteArray ask(const QByteArray& command, int limitMs)
    {
        m_process.write(command + '\n');
        QByteArray answer;
        waitFor(
            [&] {
                answer += m_process.readAllStandardOutput();
                return answer.contains('\n') || m_process.state() == QProcess::NotRunning;
            },
            limitMs);
        return answer.trimmed();
    }

private:
    QProcess m_process;
};

bool canDriveWalls()
{
    QProcess check;
    check.start(peers::systemPython(),
                {QStringLiteral("-c"),
                 QStringLiteral("import gi; gi.require_version('Atspi', '2.0'); "
                                "from gi.repository import Atspi")});
    return check.waitForFinished(20000) && check.exitStatus() == QProcess::NormalExit && check.exitCode() == 0
        && qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}

void printReading(const char* program, const char* drawing, const QString& state, const Reading& r,
                  std::optional<double> above)
{
    const QString aboveText = above ? QString::asprintf("%+.0f", *above) : QStringLiteral("-");
    std::printf("%-12s %-10s %-32s %10.0f %7s %8d %8s\n", program, drawing, qPrintable(state), r.rssMiB,
                qPrintable(aboveText), r.threads, r.openGl ? "loaded" : "none");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_idle_memory"); // a home of its own, which the programs share
    QCoreApplication app(argc, argv);
    kvrtest::prepareApplication();
    const QStringList args = app.arguments();
    const auto option = [&](const char* name) {
        const qsizetype i = args.indexOf(QString::fromLatin1(name));
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1) : QString();
    };
    const QString before = option("--before");
    const int settleSeconds = option("--settle").isEmpty() ? 8 : option("--settle").toInt();
    const int rounds = option("--rounds").isEmpty() ? 5 : option("--rounds").toInt();
    bool walls = !args.contains(QStringLiteral("--no-walls"));

    Server server;
    QList<Program> programs{{"this build", QStringLiteral(KVR_PROGRAM)}};
    if (!before.isEmpty())
        programs.prepend({"before", before});

    std::printf("Idle memory, accessibility on, %d s to settle in each state (target at most %.0f MiB)\n\n",
                settleSeconds, kTargetMiB);
    std::printf("%-12s %-30s %10s %8s %8s\n", "program", "state", "VmRSS MiB", "threads", "OpenGL");
    double worst = 0;
    for (const Program& program : programs) {
        for (const bool signedIn : {false, true}) {
            if (signedIn)
                SessionStore::save(
                    {QStringLiteral("demo"), QStringLiteral("remembered"), QDateTime::currentDateTimeUtc()});
            else
                SessionStore::clear();
            const quint16 port = kvrtest::freePort();
            if (!server.start(port, {})) {
                std::fprintf(stderr, "cannot start the fake organisation server\n");
                return 1;
            }
            Run run;
            if (!run.start(program, port, {}))
                return 1;
            // Signed in once the catalogue's sites were asked for.
            if (signedIn && !waitFor([&] { return server.requests().contains("get_sites_by_org_string"); }, 30000)) {
                std::fprintf(stderr, "%s did not sign in\n", qPrintable(program.path));
                return 1;
            }
            settle(settleSeconds);
            const std::optional<Reading> r = run.read();
            if (!r) {
                std::fprintf(stderr, "%s ended before it was measured\n", qPrintable(program.path));
                return 1;
            }
            std::printf("%-12s %-30s %10.0f %8d %8s\n", program.name,
                        signedIn ? "signed in, no video" : "sign-in window", r->rssMiB, r->threads,
                        r->openGl ? "loaded" : "none");
            std::fflush(stdout);
            if (program.path == QLatin1String(KVR_PROGRAM))
                worst = std::max(worst, r->rssMiB);
        }
    }
    int status = 0;
    if (worst > kTargetMiB) {
        std::printf("FAIL: %.0f MiB resident while idle (at most %.0f)\n", worst, kTargetMiB);
        status = 2;
    }

    if (walls && !canDriveWalls()) {
        std::printf("\nWalls skipped: no session bus, or no Python bindings for the accessibility bus "
                    "(gir1.2-atspi-2.0)\n");
        walls = false;
    }
    if (walls) {
        // Every camera plays the test server's one stream: 640x360 at 25
        // pictures a second, as a recorder's sub stream; a viewer that only
        // copies packets holds it for the whole run.
        peers::Peer camera;
        if (!peers::startRtsp(
                camera,
                {"--size", "640x360", "--bitrate", "512", "--no-audio", "--pattern", "smpte", "--scroll", "4"})) {
            std::fprintf(stderr, "cannot start the RTSP test server\n");
            return 1;
        }
        QProcess holder;
        holder.start(QStringLiteral("ffmpeg"),
                     {"-hide_banner", "-loglevel", "quiet", "-rtsp_transport", "tcp", "-i",
                      QStringLiteral("rtsp://127.0.0.1:%1/live").arg(camera.port), "-c", "copy", "-f", "null", "-"});
        std::printf("\nMemory after walls of %d cameras, each played %d s and stopped, %d times (target: %d s after "
                    "each stop at most %.0f MiB above the memory signed in before the first)\n\n",
                    kWallTiles, kPlayingSeconds, rounds, kAfterWallSeconds, kAfterWallMiB);
        std::printf("%-12s %-10s %-32s %10s %7s %8s %8s\n", "program", "drawing", "state", "VmRSS MiB", "above",
                    "threads", "OpenGL");
        double worstAbove = -1e9;
        for (const Program& program : programs) {
            for (const bool cpu : {true, false}) {
                const char* drawing = cpu ? "cpu" : "default";
                QProcessEnvironment serverEnv;
                serverEnv.insert("KVR_FAKE_POPULATE", QStringLiteral("1x1x%1").arg(kWallTiles));
                serverEnv.insert("KVR_FAKE_STREAM_PATH", "live");
                QProcessEnvironment programEnv;
                programEnv.insert("KVR_RTSP_HOST", "127.0.0.1");
                programEnv.insert("KVR_RTSP_PORT", QString::number(camera.port));
                if (cpu)
                    programEnv.insert("KVR_RENDER", "cpu");
                SessionStore::save(
                    {QStringLiteral("demo"), QStringLiteral("remembered"), QDateTime::currentDateTimeUtc()});
                const quint16 port = kvrtest::freePort();
                Run run;
                if (!server.start(port, serverEnv) || !run.start(program, port, programEnv)) {
                    std::fprintf(stderr, "cannot start the fake organisation server or %s\n", program.name);
                    return 1;
                }
                if (!waitFor([&] { return server.requests().contains("get_sites_by_org_string"); }, 30000)) {
                    std::fprintf(stderr, "%s did not sign in\n", qPrintable(program.path));
                    return 1;
                }
                settle(settleSeconds);
                const std::optional<Reading> base = run.read();
                Driver driver;
                if (!base || !driver.start()) {
                    std::fprintf(stderr, "%s ended, or the wall driver did not start\n", program.name);
                    return 1;
                }
                printReading(program.name, drawing, QStringLiteral("signed in, before the first wall"), *base,
                             std::nullopt);
                for (int round = 1; round <= rounds; ++round) {
                    const QByteArray played = driver.ask("play " + QByteArray::number(kWallTiles), 300000);
                    if (played != "playing") {
                        std::fprintf(stderr, "wall %d of %s: %s\n", round, program.name, played.constData());
                        return 1;
                    }
                    settle(kPlayingSeconds);
                    if (const std::optional<Reading> r = run.read())
                        printReading(program.name, drawing, QStringLiteral("wall %1 playing").arg(round), *r,
                                     r->rssMiB - base->rssMiB);
                    const QByteArray stopped = driver.ask("stop", 120000);
                    if (stopped != "stopped") {
                        std::fprintf(stderr, "wall %d of %s: %s\n", round, program.name, stopped.constData());
                        return 1;
                    }
                    // Read every second; the first second within the target is noted.
                    QElapsedTimer since;
                    since.start();
                    int withinAt = -1;
                    std::optional<Reading> last;
                    while (since.elapsed() < kAfterWallSeconds * 1000) {
                        settle(1);
                        last = run.read();
                        if (last && withinAt < 0 && last->rssMiB - base->rssMiB <= kAfterWallMiB)
                            withinAt = int(since.elapsed() / 1000);
                    }
                    if (!last) {
                        std::fprintf(stderr, "%s ended during wall %d\n", program.name, round);
                        return 1;
                    }
                    const double above = last->rssMiB - base->rssMiB;
                    printReading(program.name, drawing,
                                 QStringLiteral("%1 s after wall %2 stopped").arg(kAfterWallSeconds).arg(round), *last,
                                 above);
                    if (withinAt >= 0)
                        std::printf("%-12s %-10s   (within the target %d s after the stop)\n", program.name, drawing,
                                    withinAt);
                    if (program.path == QLatin1String(KVR_PROGRAM))
                        worstAbove = std::max(worstAbove, above);
                }
            }
        }
        holder.kill();
        holder.waitForFinished(3000);
        if (worstAbove > kAfterWallMiB) {
            std::printf("FAIL: %.0f MiB above the memory before the first wall, %d s after a wall stopped (at most "
                        "%.0f)\n",
                        worstAbove, kAfterWallSeconds, kAfterWallMiB);
            status = 2;
        }
    }
    SessionStore::clear();
    server.stop();
    return status;
}
