// Resident memory of the built program while it idles, with accessibility
// on: at the sign-in window, and signed in (a remembered sign-in against the
// fake organisation server) with no video playing. Each program given is
// started afresh for each state and left to settle; then its VmRSS, its
// threads and whether it loaded an OpenGL driver are read from /proc. A
// second program (--before PATH, an earlier build) is measured the same way
// in the same run, beside it.
//
//   bench_idle_memory [--before PATH] [--settle SECONDS]
//
// Run it under a display (tests/support/with-display.sh) and read the table.
// It ends with status 2 when the program holds more than 160 MiB in either
// state.

#include "app/core/SessionStore.h"
#include "tests/support/TestKit.h"

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

namespace {

constexpr double kTargetMiB = 160.0;

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

    // A server of its own for each start: the remembered sign-in's refresh
    // token is good for one use.
    QProcess server;
    QByteArray requests;
    QObject::connect(&server, &QProcess::readyReadStandardOutput, [&] { requests += server.readAllStandardOutput(); });
    const auto startServer = [&](quint16 port) {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            server.waitForFinished(5000);
        }
        requests.clear();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVR_FAKE_PORT", QString::number(port));
        env.insert("KVR_FAKE_REFRESH_TOKEN", "remembered");
        server.setProcessEnvironment(env);
        server.start(QStringLiteral(KVR_FAKE_SERVER_PROGRAM), {});
        return server.waitForStarted(5000) && waitFor([&] { return requests.contains("listening"); }, 10000);
    };

    struct Program {
        const char* name;
        QString path;
    };
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
            if (!startServer(port)) {
                std::fprintf(stderr, "cannot start the fake organisation server\n");
                return 1;
            }
            QProcess kavira;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("KVR_API_BASE", QStringLiteral("http://127.0.0.1:%1").arg(port));
            env.insert("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
            kavira.setProcessEnvironment(env);
            kavira.setStandardOutputFile(QProcess::nullDevice());
            kavira.setStandardErrorFile(QProcess::nullDevice());
            kavira.start(program.path, {});
            if (!kavira.waitForStarted(10000)) {
                std::fprintf(stderr, "cannot start %s\n", qPrintable(program.path));
                return 1;
            }
            // Signed in once the catalogue's sites were asked for.
            if (signedIn && !waitFor([&] { return requests.contains("get_sites_by_org_string"); }, 30000)) {
                std::fprintf(stderr, "%s did not sign in\n", qPrintable(program.path));
                return 1;
            }
            settle(settleSeconds);
            const std::optional<Reading> r = readProcess(kavira.processId());
            kavira.terminate();
            if (!kavira.waitForFinished(10000)) {
                kavira.kill();
                kavira.waitForFinished(5000);
            }
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
    SessionStore::clear();
    server.terminate();
    server.waitForFinished(5000);
    if (worst > kTargetMiB) {
        std::printf("FAIL: %.0f MiB resident while idle (at most %.0f)\n", worst, kTargetMiB);
        return 2;
    }
    return 0;
}
