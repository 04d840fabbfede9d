// How long the program takes to show its native window when the inventory
// holds a text of 10 MB (a spreadsheet cell pasted by mistake, imported
// before names had a bound), beside the same inventory without it. Each run
// is a process started as the program starts in native mode, over an
// inventory of 200 recorders of 16 cameras on 20 sites; it prints, in ms
// from the process's start, when the window showed, when it was first
// drawn, and how long a turn to the live wall and back took.
//
// Cases: no long text; one device named by 10 MB; 10 MB in a device's name,
// its site's name and notes and one camera's name. Five rounds, in turns.
// Target: no screen work for a long text, so that what each 10 MB held costs
// the start is the reading of the file's bytes: within 100 ms.
//
// Run it under a display or without one (Qt's offscreen platform).

#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "bench/support/BenchKit.h"
#include "native/services/NativeInventory.h"
#include "native/services/SecureFile.h"
#include "tests/support/TestKit.h"
#include "video/FfmpegPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace kvr::services;
using bench::median;

namespace {

constexpr int kRounds = 5;
constexpr int kLimitMs = 120000;
constexpr int kDevices = 200;
constexpr int kSites = 20;
constexpr qsizetype kLong = 10 * 1024 * 1024;

enum class Case { Plain, LongDeviceName, LongEverywhere };
const char* caseName(Case c)
{
    switch (c) {
    case Case::Plain:
        break;
    case Case::LongDeviceName:
        return "a device named by 10 MB";
    case Case::LongEverywhere:
        return "10 MB in device, site, notes, camera";
    }
    return "no long text";
}

// Milliseconds on the monotonic clock every process of the machine shares.
qint64 nowMs()
{
    QElapsedTimer t;
    t.start();
    return t.msecsSinceReference();
}

QString longText(const QString& start)
{
    return start + QString(kLong, QLatin1Char('x'));
}

// The inventory file of the case, where the started program reads it.
bool writeInventory(Case c)
{
    QList<Native::Site> sites;
    for (int s = 0; s < kSites; ++s) {
        Native::Site site;
        site.id = Native::newId();
        site.name = QStringLiteral("Branch %1").arg(s + 1, 2, 10, QLatin1Char('0'));
        sites << site;
    }
    QList<Native::Device> devices;
    const QDateTime created(QDate(2026, 3, 2), QTime(9, 0));
    for (int i = 0; i < kDevices; ++i) {
        Native::Device d;
        d.siteId = sites[i % kSites].id;
        d.name = QStringLiteral("NVR %1").arg(i + 1);
        d.ip = QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
        d.httpPort = 9; // nothing answers, should checks start
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("secret");
        d.channels = 16;
        Native::makeNew(d, Native::newId(), created);
        devices << d;
    }
    if (c != Case::Plain)
        devices[3].name = longText(QStringLiteral("Gate "));
    if (c == Case::LongEverywhere) {
        sites[3].name = longText(QStringLiteral("Depot "));
        sites[3].notes = longText(QStringLiteral("Notes "));
        devices[3].cameras[0].name = longText(QStringLiteral("Lane "));
    }
    return SecureFile::write(QLatin1String(Native::kInventoryFile), Native::encodeInventory(sites, devices));
}

struct Run {
    double shownMs = -1;
    double drawnMs = -1;
    double pagesMs = -1;
};

// One start, `startedAt` being when the parent started this process.
int start(int argc, char** argv, qint64 startedAt)
{
    kvr::video::FfmpegPlayer::prepareProcessHeap();
    kvr::app::prepareGraphics();
    QApplication app(argc, argv);
    kvr::app::prepareApplication(app);
    kvr::core::Prefs::set(kvr::core::Prefs::kNativePoll, false); // no checks beside the start
    kvr::core::NativeMode::prefs().setValue(QStringLiteral("nativeMode"), true);
    kvr::app::TopLevelWindows windows;
    windows.connectSwitches();
    windows.showInitial();
    Run run;
    if (bench::waitUntil([&] { return windows.native.isVisible(); }, kLimitMs) < 0)
        return 1;
    run.shownMs = double(nowMs() - startedAt);
    if (!QTest::qWaitForWindowExposed(&windows.native, kLimitMs))
        return 1;
    // Drawn once whole: a repaint forced now waits for every pending layout.
    windows.native.repaint();
    run.drawnMs = double(nowMs() - startedAt);
    const qint64 turn = nowMs();
    windows.native.setPage(1);
    windows.native.repaint();
    windows.native.setPage(0);
    windows.native.repaint();
    run.pagesMs = double(nowMs() - turn);
    std::printf("%.0f %.0f %.0f\n", run.shownMs, run.drawnMs, run.pagesMs);
    std::fflush(stdout);
    return 0;
}

bool runChild(Run* out)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--child"), QString::number(nowMs())});
    if (!child.waitForFinished(kLimitMs + 30000) || child.exitCode() != 0)
        return false;
    const QList<QByteArray> parts = child.readAllStandardOutput().trimmed().split('\n').last().split(' ');
    if (parts.size() != 3)
        return false;
    out->shownMs = parts[0].toDouble();
    out->drawnMs = parts[1].toDouble();
    out->pagesMs = parts[2].toDouble();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--child") == 0)
        return start(argc, argv, std::atoll(argv[2]));

    kvrtest::prepareEnvironment("BenchNativeStart");
    qputenv("KVR_RENDER", "cpu"); // the window's own work, not the graphics probe's
    QCoreApplication app(argc, argv);
    kvrtest::prepareApplication();
    std::printf("The program started in native mode over %d recorders: ms from the process's start to the window\n"
                "shown and first drawn, and ms for a turn to the live wall and back\n",
                kDevices);
    const std::vector<Case> cases{Case::Plain, Case::LongDeviceName, Case::LongEverywhere};
    std::vector<std::vector<Run>> runs(cases.size());
    for (int round = 1; round <= kRounds; ++round) {
        for (size_t k = 0; k < cases.size(); ++k) {
            const size_t c = (k + size_t(round)) % cases.size(); // who goes first changes every round
            Run r;
            if (!writeInventory(cases[c]) || !runChild(&r)) {
                std::fprintf(stderr, "the program did not start (%s)\n", caseName(cases[c]));
                return 1;
            }
            runs[c].push_back(r);
            std::printf("round %d  %-38s shown %6.0f  drawn %6.0f  pages %5.0f\n", round, caseName(cases[c]), r.shownMs,
                        r.drawnMs, r.pagesMs);
            std::fflush(stdout);
        }
    }
    const auto of = [](const std::vector<Run>& rs, double Run::*field) {
        std::vector<double> v;
        for (const Run& r : rs)
            v.push_back(r.*field);
        return median(v);
    };
    for (size_t c = 0; c < cases.size(); ++c)
        std::printf("%-38s median: shown %6.0f  drawn %6.0f  pages %5.0f\n", caseName(cases[c]),
                    of(runs[c], &Run::shownMs), of(runs[c], &Run::drawnMs), of(runs[c], &Run::pagesMs));
    // Per 10 MB held: one text in the second case, four in the third.
    const double plain = of(runs[0], &Run::drawnMs);
    const double perText = std::max((of(runs[1], &Run::drawnMs) - plain), (of(runs[2], &Run::drawnMs) - plain) / 4.0);
    std::printf("what each 10 MB text costs the first drawing: %.0f ms (target: within 100 ms)\n", perText);
    return 0;
}
