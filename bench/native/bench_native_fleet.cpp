// Native mode at a fleet of 5,000 devices over 100 sites, none of which can
// be reached, as on a bad day: two thirds ISAPI-style recorders whose event
// streams keep failing, a third Dahua-style; nearly all on loopback
// addresses whose port refuses, a few on ports that accept and never answer.
// Beside it, in the same run, the same fleet with no event streams (every
// device Dahua-style). With the fleet window open, as a user watches it:
//
// - checks off: the processor time the process uses in a minute (target:
//   within 3x of the fleet without streams);
// - checks on: the time until the first sweep has checked every device
//   (target: within 60 s, as without streams);
// - throughout: round trips through the window thread's event loop (a
//   request every 50 ms, from when it falls due until it has run), p99
//   under 100 ms and the longest under 500 ms; the peak of open files.
//
// Then all of it again with every processor kept busy by other processes.
// Arguments: the seconds of the checks-off phase (default 60); "--idle" to
// leave out the busy machine.

#include "app/core/Settings.h"
#include "bench/support/BenchKit.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QFile>
#include <QLoggingCategory>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>

#include <memory>
#include <vector>

using namespace kvr::core;
using namespace kvr::services;
using namespace kvr::screens;

namespace {

constexpr int kDevices = 5000;
constexpr int kSites = 100;
// Devices on a port that accepts and never answers: each holds a probe's
// place for its whole time-out, so a few are what a sweep can bear.
constexpr int kMute = 8;

constexpr double kCpuRatioTarget = 3.0;
constexpr double kSweepTargetS = 60.0;
constexpr double kP99TargetMs = 100.0;
constexpr double kLongestTargetMs = 500.0;

QTextStream& out()
{
    static QTextStream s(stdout);
    return s;
}

// Ports that accept connections and never answer, on a thread of their
// own, as devices elsewhere would be.
class MuteHost {
public:
    explicit MuteHost(int count) : m_anchor(new QObject)
    {
        m_thread.start();
        m_anchor->moveToThread(&m_thread);
        QMetaObject::invokeMethod(
            m_anchor,
            [this, count] {
                for (int i = 0; i < count; ++i) {
                    auto* server = new QTcpServer(m_anchor);
                    server->listen(QHostAddress::LocalHost, 0);
                    QObject::connect(server, &QTcpServer::newConnection, server, [server] {
                        while (QTcpSocket* s = server->nextPendingConnection())
                            QObject::connect(s, &QTcpSocket::readyRead, s, [s] { s->readAll(); });
                    });
                    m_ports.push_back(server->serverPort());
                }
            },
            Qt::BlockingQueuedConnection);
    }
    ~MuteHost()
    {
        QMetaObject::invokeMethod(
            m_anchor, [this] { delete m_anchor; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    MuteHost(const MuteHost&) = delete;
    MuteHost& operator=(const MuteHost&) = delete;
    const std::vector<quint16>& ports() const { return m_ports; }

private:
    QThread m_thread;
    QObject* m_anchor;
    std::vector<quint16> m_ports;
};

struct Figures {
    double offCpuS = 0;
    double offP99 = 0, offLongest = 0;
    bench::Stall offStall;
    int offFiles = 0;
    int linksAtEnd = 0; // streams with a link state when the phase ended
    double sweepS = -1;
    int checked = 0;
    double sweepP99 = 0, sweepLongest = 0;
    bench::Stall sweepStall;
    int sweepFiles = 0;
};

void removeDataFiles()
{
    for (const char* name : {Native::kInventoryFile, Native::kUptimeFile, "native-events.json"})
        QFile::remove(SecureFile::path(QLatin1String(name)));
}

Figures runFleet(bool withStreams, int offSeconds, const MuteHost& mute, quint16 closed)
{
    removeDataFiles();
    Prefs::set(Prefs::kNativePoll, false);
    NativeStore store;
    QStringList sites;
    for (int s = 0; s < kSites; ++s) {
        Native::Site site;
        site.name = QStringLiteral("Branch %1").arg(s + 1, 3, 10, QLatin1Char('0'));
        sites << store.addSite(site);
    }
    int muteAt = 0;
    for (int i = 0; i < kDevices; ++i) {
        Native::Device d;
        d.siteId = sites[i % kSites];
        const bool recorder = withStreams && i % 3 != 2;
        d.name = QStringLiteral("%1 %2").arg(recorder ? QStringLiteral("NVR") : QStringLiteral("XVR")).arg(i + 1);
        d.manufacturer = recorder ? QStringLiteral("HIKVISION") : QStringLiteral("DAHUA");
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("secret");
        d.channels = 16;
        if (muteAt < kMute && i % (kDevices / kMute) == kDevices / kMute / 2) {
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = mute.ports()[size_t(muteAt++)];
            d.rtspPort = closed;
        } else {
            // Each its own loopback address, as recorders each have theirs.
            d.ip = QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
            d.httpPort = closed;
            d.rtspPort = closed;
        }
        store.addDevice(d);
    }
    store.flush();
    store.waitForWrites();

    NativeController controller(&store);
    NativeEvents events(&store, &controller);
    NativeWindow window(NativeContext{&store, &controller, &events});
    window.resize(1440, 860);
    window.show();
    // The window's first showing of 5,000 rows is not what is measured.
    bench::waitUntil([&] { return !window.rebuildTimer()->isActive(); }, 30000);

    Figures f;
    bench::RoundTrips trips;
    bench::StallMeter stall;
    bench::OpenFilesPeak files;

    // Checks off: only the event streams (and the window) at work.
    files.reset();
    const double cpu0 = bench::cpuSeconds();
    trips.start();
    stall.start();
    bench::spin(offSeconds * 1000);
    stall.stop();
    trips.stop();
    f.offCpuS = bench::cpuSeconds() - cpu0;
    f.offP99 = trips.percentile(0.99);
    f.offLongest = trips.longest();
    f.offStall = stall.stall();
    f.offFiles = files.peak();
    f.linksAtEnd = int(events.statuses().size());

    // Checks on: the first sweep, 1.5 s after polling starts.
    QSet<QString> checked;
    QObject::connect(&controller, &NativeController::finished, &controller,
                     [&checked](const QString& id) { checked.insert(id); });
    files.reset();
    trips.start();
    stall.start();
    QElapsedTimer sweep;
    sweep.start();
    NativeController::setPollEnabled(true);
    const double ms = bench::waitUntil([&] { return checked.size() >= kDevices; }, 240000);
    stall.stop();
    trips.stop();
    f.sweepS = ms < 0 ? -1 : double(sweep.elapsed()) / 1000.0;
    f.checked = int(checked.size());
    f.sweepP99 = trips.percentile(0.99);
    f.sweepLongest = trips.longest();
    f.sweepStall = stall.stall();
    f.sweepFiles = files.peak();

    NativeController::setPollEnabled(false);
    window.hide();
    QCoreApplication::processEvents();
    return f;
}

QString verdict(bool ok)
{
    return ok ? QStringLiteral("within target") : QStringLiteral("MISSES target");
}

void report(const char* machine, int offSeconds, const Figures& streams, const Figures& plain)
{
    auto line = [&](const char* name, const Figures& f) {
        out() << "  " << name << ", checks off " << offSeconds << " s: processor " << QString::number(f.offCpuS, 'f', 2)
              << " s; round trips p99 " << QString::number(f.offP99, 'f', 0) << " ms, longest "
              << QString::number(f.offLongest, 'f', 0) << " ms; longest loop gap " << f.offStall.cell()
              << " ms (own work); open files at most " << f.offFiles << "; stream links " << f.linksAtEnd << "\n";
        out() << "  " << name << ", first sweep: " << f.checked << " of " << kDevices << " checked in "
              << (f.sweepS < 0 ? QStringLiteral("(not within 240 s)") : QString::number(f.sweepS, 'f', 1) + " s")
              << "; round trips p99 " << QString::number(f.sweepP99, 'f', 0) << " ms, longest "
              << QString::number(f.sweepLongest, 'f', 0) << " ms; longest loop gap " << f.sweepStall.cell()
              << " ms (own work); open files at most " << f.sweepFiles << "\n";
    };
    out() << machine << ":\n";
    line("with event streams", streams);
    line("without event streams", plain);
    const double ratio = plain.offCpuS > 0 ? streams.offCpuS / plain.offCpuS : 0.0;
    const double p99 = std::max({streams.offP99, streams.sweepP99});
    const double longest = std::max({streams.offLongest, streams.sweepLongest});
    out() << "  processor with checks off, streams / none: " << QString::number(ratio, 'f', 2) << "x (target "
          << kCpuRatioTarget << "x): " << verdict(ratio <= kCpuRatioTarget) << "\n";
    out() << "  first sweep with streams: "
          << verdict(streams.sweepS >= 0 && streams.sweepS <= kSweepTargetS && streams.checked >= kDevices) << " ("
          << kSweepTargetS << " s)\n";
    out() << "  round trips with streams: p99 " << QString::number(p99, 'f', 0) << " ms " << verdict(p99 < kP99TargetMs)
          << " (" << kP99TargetMs << " ms), longest " << QString::number(longest, 'f', 0) << " ms "
          << verdict(longest < kLongestTargetMs) << " (" << kLongestTargetMs << " ms)\n";
    out().flush();
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_fleet");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    int offSeconds = 60;
    bool busyToo = true;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--idle")
            busyToo = false;
        else if (arg.toInt() > 0)
            offSeconds = arg.toInt();
    }
    // The fleet window's logging of every failure is not what is measured.
    QLoggingCategory::setFilterRules(QStringLiteral("kvr.*.info=false\nkvr.*.debug=false"));

    MuteHost mute(kMute);
    const quint16 closed = kvrtest::closedPort();
    out() << "fleet: " << kDevices << " devices over " << kSites << " sites; " << kMute
          << " accept and never answer, the rest refuse\n";
    out().flush();

    {
        const Figures streams = runFleet(true, offSeconds, mute, closed);
        const Figures plain = runFleet(false, offSeconds, mute, closed);
        report("idle machine", offSeconds, streams, plain);
    }
    if (busyToo) {
        bench::BusyLoad load;
        const Figures streams = runFleet(true, offSeconds, mute, closed);
        const Figures plain = runFleet(false, offSeconds, mute, closed);
        const QByteArray name = "every processor busy (" + QByteArray::number(load.count()) + " spinning processes)";
        report(name.constData(), offSeconds, streams, plain);
    }
    return 0;
}
