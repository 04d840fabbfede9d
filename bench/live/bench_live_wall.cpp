// The native live wall on the RTSP test server, several channels per fake
// device: how long until every tile shows a picture, the processor time per
// tile at each frame-rate cap, the paints of the video widgets per picture
// delivered, and the longest main-thread stall on a page change and on
// leaving the page (with, in brackets, the main thread's own longest work in
// one turn). Prints its figures; it is not a test, but it ends with
// status 2 when the video widgets painted more than 1.2 times per picture.
//
//   bench_live_wall [--seconds N] [--only TILES] [--unshared]
//   (CPU sampling window per wall, default 5 s; one wall size only; a server
//   pipeline per viewer instead of one encoder for all, which loads this
//   machine with one encoder per tile)

#include "app/core/Settings.h"
#include "bench/support/BenchKit.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/NativeStyle.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"
#include "tests/video/Peers.h"
#include "video/FfmpegPlayer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace kvr::core;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;

namespace {

using bench::cpuSeconds;
using bench::StallMeter;

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

int failedTiles(const VmsPage& page)
{
    int n = 0;
    for (VmsTile* t : page.tiles())
        n += t->isFailed() ? 1 : 0;
    return n;
}

bool allShowing(const VmsPage& page)
{
    for (VmsTile* t : page.tiles())
        if (!t->isPlaying())
            return false;
    return !page.tiles().isEmpty();
}

struct Wall {
    int tiles;
    int layout; // the page's layout choice giving `tiles` per page
    int devices;
};

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_live_wall");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    int sampleSeconds = 5;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i >= 0 && i + 1 < args.size())
        sampleSeconds = std::max(1, args.at(i + 1).toInt());

    Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
    peers::Peer rtsp;
    const bool unshared = args.contains(QStringLiteral("--unshared"));
    if (!peers::startRtsp(rtsp,
                          {QStringLiteral("--no-audio"),
                           unshared ? QStringLiteral("--unshared") : QStringLiteral("--one-media"),
                           QStringLiteral("--size"), QStringLiteral("640x360"), QStringLiteral("--mount"),
                           QStringLiteral("/cam/realmonitor")})) {
        std::fprintf(stderr, "the RTSP test server did not start\n");
        return 1;
    }

    QList<Wall> walls{{4, 2, 1}, {9, 3, 3}, {16, 4, 4}, {36, 5, 6}, {64, 6, 8}};
    if (const qsizetype i = args.indexOf(QStringLiteral("--only")); i >= 0 && i + 1 < args.size()) {
        const int only = args.at(i + 1).toInt();
        walls.removeIf([only](const Wall& w) { return w.tiles != only; });
    }
    std::printf("native live wall, 640x360 H.264 at 25 fps from the RTSP test server (%s), Sub unless 4 tiles\n",
                unshared ? "a pipeline per viewer" : "one encoder for all");
    std::printf("%6s %8s %7s %14s %12s %11s %16s %9s %9s %15s\n", "tiles", "devices", "cap", "all shown ms",
                "cpu/tile %", "paints/pic", "page (own) ms", "stop ms", "build ms", "leave (own) ms");
    bench::PaintTally tally;
    double worstPaints = 0.0;

    std::vector<std::unique_ptr<kvrtest::FakeDevice>> fakes;
    for (const Wall& w : walls) {
        const QList<Native::Device> devices = NativeStore::instance().devices(); // each removal changes the list
        for (const Native::Device& d : devices)
            NativeStore::instance().removeDevice(d.id);
        // Two pages' worth of cameras, spread over the devices.
        QStringList keys;
        const int perDevice = (2 * w.tiles + w.devices - 1) / w.devices;
        for (int i = 0; i < w.devices; ++i) {
            auto fake = std::make_unique<kvrtest::FakeDevice>(kvrtest::FakeDevice::Kind::Dahua);
            fake->start();
            Native::Device d;
            d.name = QStringLiteral("DVR %1").arg(i + 1);
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = fake->httpPort();
            d.rtspPort = rtsp.port;
            d.manufacturer = QStringLiteral("DAHUA");
            d.channels = perDevice;
            const QString id = NativeStore::instance().addDevice(d);
            for (int c = 1; c <= perDevice; ++c)
                keys << QStringLiteral("%1#%2").arg(id).arg(c);
            fakes.push_back(std::move(fake));
        }
        // Page 1 takes one camera of each device in turn, as a mixed wall would.
        QStringList ordered;
        for (int c = 0; c < perDevice; ++c)
            for (int i = 0; i < w.devices; ++i)
                ordered << keys.at(i * perDevice + c);
        Prefs::set(Prefs::kNativeVmsWall, ordered.mid(0, 2 * w.tiles));
        Prefs::set(Prefs::kNativeVmsLayout, w.layout);
        Prefs::set(Prefs::kNativeVmsQuality, 0);

        auto page = std::make_unique<VmsPage>();
        page->setStyleSheet(NativeStyle::stylesheet());
        page->resize(1440, 860);
        page->show();
        QCoreApplication::processEvents();

        QElapsedTimer shown;
        shown.start();
        page->activate();
        const bool ok = waitFor([&] { return allShowing(*page); }, 30000);
        const qint64 allShownMs = shown.elapsed();
        const int failed = failedTiles(*page);
        const double cap = page->tiles().first()->player()->controls().maxFps.load();

        // Processor time of the whole process while the wall plays.
        waitFor([] { return false; }, 1000);
        tally.follow(page.get());
        tally.start();
        const double cpu0 = cpuSeconds();
        QElapsedTimer window;
        window.start();
        waitFor([] { return false; }, sampleSeconds * 1000);
        const double cpuPerTile = 100.0 * (cpuSeconds() - cpu0) / (double(window.elapsed()) / 1000.0) / w.tiles;
        tally.stop();
        worstPaints = std::max(worstPaints, tally.perPicture());

        // A page change: the longest turn of the event loop from the click to
        // every tile of the next page showing.
        StallMeter meter;
        waitFor([] { return false; }, 50);
        meter.reset();
        const VmsTile* before = page->tiles().first();
        page->nextPage();
        waitFor([&] { return page->tiles().first() != before && allShowing(*page); }, 30000);
        waitFor([] { return false; }, 300);
        const bench::Stall pageChange = meter.stall();
        // The rebuild itself, called directly: stopping one page and building the next.
        // Its two halves: stopping the shown tiles, building the next ones.
        QElapsedTimer rebuild;
        rebuild.start();
        VmsTile::stopAll(page->tiles());
        const double stopMs = double(rebuild.nsecsElapsed()) / 1e6;
        rebuild.restart();
        page->previousPage();
        page->rebuildWall();
        const double buildMs = double(rebuild.nsecsElapsed()) / 1e6;
        waitFor([&] { return allShowing(*page); }, 30000);

        // Leaving the page stops every tile.
        meter.reset();
        QTimer::singleShot(0, page.get(), [&] { page->deactivate(); });
        waitFor([] { return false; }, 300);
        const bench::Stall leave = meter.stall();

        std::printf("%6d %8d %7s %14s %12.2f %11.2f %16s %9.1f %9.1f %15s\n", w.tiles, w.devices,
                    cap > 0 ? qPrintable(QString::number(cap)) : "none",
                    ok ? qPrintable(QString::number(allShownMs)) : qPrintable(QStringLiteral("%1 failed").arg(failed)),
                    cpuPerTile, tally.perPicture(), pageChange.cell().constData(), stopMs, buildMs,
                    leave.cell().constData());
        std::fflush(stdout);
        page.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (rtsp.proc->state() != QProcess::Running) {
            std::fprintf(stderr, "the RTSP test server ended (%d): %s\n", rtsp.proc->exitCode(),
                         qPrintable(QString::fromUtf8(rtsp.proc->readAllStandardError())));
            return 1;
        }
        fakes.clear();
    }
    if (worstPaints > bench::kPaintsPerPictureTarget) {
        std::printf("FAIL: the video widgets painted %.2f times per picture (at most %.1f)\n", worstPaints,
                    bench::kPaintsPerPictureTarget);
        return 2;
    }
    return 0;
}
