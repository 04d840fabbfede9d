// How long the graphics probe's answer takes from the program's start, and
// when the first window shows: each run is a process started as the program
// starts in native mode (its window shows video: the live wall), whose own
// start-up steps are the program's. It prints, in ms from the moment the
// process was started, when its main() began, when start-up started the
// probe, when the probe's answer came,
// when the context the views share was named (where the chip draws) and when
// the native window showed, and whether that window was made for OpenGL.
// Two cases: this computer's own answer (under Xvfb, a software renderer:
// the processor draws) and a graphics chip (the renderer's name stood in for,
// so that the chip draws); each as the machine is and at a raised priority
// (nice -15, as on a machine with nothing else to do), in turns, ten rounds.
//
// Run it under a display with OpenGL: tests/support/with-display.sh
// build/bench/shell/bench_first_window (as root for the raised priority;
// without it those rows are left out).

#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "bench/support/BenchKit.h"
#include "tests/support/TestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/GpuProbe.h"
#include "video/GpuVideoView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTest>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

using namespace kvr::video;
using bench::median;

namespace {

constexpr int kRounds = 10;
constexpr int kLimitMs = 30000;

// Milliseconds on the monotonic clock every process of the machine shares.
qint64 nowMs()
{
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

struct Run {
    double mainMs = -1;
    double probeMs = -1; // the probe started
    double answerMs = -1;
    double namedMs = -1;
    double shownMs = -1;
    bool ready = false; // the window was made for OpenGL
};

// One start, `startedAt` being when the parent started this process.
int firstWindow(int argc, char** argv, qint64 startedAt)
{
    const qint64 mainAt = nowMs();
    kvr::video::FfmpegPlayer::prepareProcessHeap();
    kvr::app::prepareGraphics();
    QApplication app(argc, argv);
    kvr::app::prepareApplication(app);
    Run run;
    run.mainMs = double(mainAt - startedAt);
    run.probeMs = double(nowMs() - startedAt);
    GpuProbe::whenKnown(&app, [&run, startedAt] { run.answerMs = double(nowMs() - startedAt); });
    GpuVideoView::whenContextsReady(&app, [&run, startedAt] {
        if (GpuVideoView::sharedContext())
            run.namedMs = double(nowMs() - startedAt);
    });
    kvr::core::NativeMode::prefs().setValue(QStringLiteral("nativeMode"), true);
    kvr::app::TopLevelWindows windows;
    windows.connectSwitches();
    windows.showInitial();
    if (bench::waitUntil([&] { return windows.native.isVisible(); }, kLimitMs) < 0)
        return 1;
    run.shownMs = double(nowMs() - startedAt);
    run.ready = windows.native.windowHandle()->surfaceType() == QSurface::OpenGLSurface;
    if (!QTest::qWaitForWindowExposed(&windows.native))
        return 1;
    // The answer, and the shared context where it says the chip draws.
    bench::waitUntil([&] { return run.answerMs >= 0 && (run.namedMs >= 0 || !GpuProbe::known()->usable); }, kLimitMs);
    std::printf("%.0f %.0f %.0f %.0f %.0f %d\n", run.mainMs, run.probeMs, run.answerMs, run.namedMs, run.shownMs,
                run.ready ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

bool runChild(bool chip, bool raised, Run* out)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("KVR_RENDER"));
    if (chip)
        env.insert(QStringLiteral("KVR_TEST_GL_RENDERER"), QStringLiteral("Example Vision 9000"));
    else
        env.remove(QStringLiteral("KVR_TEST_GL_RENDERER"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QStringLiteral("--child")};
    QString program = QCoreApplication::applicationFilePath();
    if (raised) {
        arguments.prepend(program);
        arguments = QStringList{QStringLiteral("-n"), QStringLiteral("-15")} + arguments;
        program = QStringLiteral("nice");
    }
    arguments << QString::number(nowMs());
    child.start(program, arguments);
    if (!child.waitForFinished(kLimitMs + 30000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    if (parts.size() != 6)
        return false;
    out->mainMs = parts[0].toDouble();
    out->probeMs = parts[1].toDouble();
    out->answerMs = parts[2].toDouble();
    out->namedMs = parts[3].toDouble();
    out->shownMs = parts[4].toDouble();
    out->ready = parts[5] == "1";
    return true;
}

std::vector<double> of(const std::vector<Run>& runs, double Run::*field)
{
    std::vector<double> values;
    for (const Run& r : runs)
        if (r.*field >= 0)
            values.push_back(r.*field);
    return values;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return firstWindow(argc, argv, std::atoll(argv[2]));

    kvrtest::prepareEnvironment("BenchFirstWindow");
    QCoreApplication app(argc, argv);
    const bool canRaise =
        QProcess::execute(QStringLiteral("nice"), {QStringLiteral("-n"), QStringLiteral("-15"), QStringLiteral("true")})
            == 0
        && geteuid() == 0;
    std::printf("The program started in native mode: ms from the process's start to its main(), to the graphics\n"
                "probe's answer, to the shared context named (where the chip draws) and to the window shown;\n"
                "whether the window was made for OpenGL\n");
    struct Case {
        bool chip;
        bool raised;
        const char* name;
    };
    std::vector<Case> cases{{false, false, "this computer, as busy as it is"},
                            {true, false, "a chip, as busy as it is"}};
    if (canRaise)
        cases.insert(cases.end(),
                     {{false, true, "this computer, raised priority"}, {true, true, "a chip, raised priority"}});
    std::vector<std::vector<Run>> runs(cases.size());
    for (int round = 1; round <= kRounds; ++round) {
        for (size_t k = 0; k < cases.size(); ++k) {
            const size_t c = (k + size_t(round)) % cases.size(); // who goes first changes every round
            Run r;
            if (!runChild(cases[c].chip, cases[c].raised, &r)) {
                std::fprintf(stderr, "the program did not start (%s)\n", cases[c].name);
                return 1;
            }
            runs[c].push_back(r);
            std::printf("round %2d  %-32s main %4.0f  probe %4.0f  answer %5.0f  named %5.0f  shown %5.0f  %s\n", round,
                        cases[c].name, r.mainMs, r.probeMs, r.answerMs, r.namedMs, r.shownMs,
                        r.ready ? "made for OpenGL" : "made for the processor");
            std::fflush(stdout);
        }
    }
    for (size_t c = 0; c < cases.size(); ++c) {
        const auto describe = [&](double Run::*field) {
            const std::vector<double> v = of(runs[c], field);
            return v.empty() ? QStringLiteral("    -    ")
                             : QStringLiteral("%1 (%2)")
                                   .arg(median(v), 5, 'f', 0)
                                   .arg(*std::max_element(v.begin(), v.end()), 5, 'f', 0);
        };
        const auto ready = std::count_if(runs[c].begin(), runs[c].end(), [](const Run& r) { return r.ready; });
        std::printf("%-32s median (longest): main %s  probe %s  answer %s  named %s  shown %s  made for OpenGL %d "
                    "of %d\n",
                    cases[c].name, qPrintable(describe(&Run::mainMs)), qPrintable(describe(&Run::probeMs)),
                    qPrintable(describe(&Run::answerMs)), qPrintable(describe(&Run::namedMs)),
                    qPrintable(describe(&Run::shownMs)), int(ready), int(runs[c].size()));
    }
    return 0;
}
