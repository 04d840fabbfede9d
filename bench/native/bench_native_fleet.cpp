// Native mode at a fleet of 5,000 and of 20,000 devices over sites of 50, as
// an estate runs it on a bad day: two thirds ISAPI-style recorders with event
// streams, a third Dahua-style; most devices silent (a connect to them hangs
// until its time bound, as to a device that is off or behind a firewall that
// drops), a tenth refusing at once, a few accepting and never answering.
// Beside each, in the same run, the same fleet with no event streams (every
// device Dahua-style). With the fleet window open, as a user watches it:
//
// - checks off, then checks on: the processor time the process uses (target:
//   streams within 3x of the fleet without them, in each phase);
// - throughout: round trips through the window thread's event loop (a
//   request every 50 ms, from when it falls due until it has run), p99
//   under 100 ms and the longest under 500 ms; the window thread's longest
//   gap between two turns (and its own work in it); the peak of open files
//   and of stream connections being opened at once.
//
// A sweep over many silent devices is slow by design (four checks at a time,
// each waiting out its connects), so the checks-on phase measures a stretch
// of it, not its end.
//
// Silent devices have addresses of their own in a network namespace of the
// benchmark's own where the machine allows one (bench/support/SilentNet.h),
// else they share a loopback port whose listen queue is full.
//
// Arguments: the seconds of each phase (default 60); "--idle" to leave out
// the busy machine; "--size=N" for one fleet size only.

#include "app/core/Settings.h"
#include "bench/support/BenchKit.h"
#include "bench/support/SilentNet.h"
#include "native/screens/NativeWindow.h"
#include "native/services/ConnectionGate.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeInventory.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QFile>
#include <QLoggingCategory>
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

constexpr int kSiteSize = 50;
// Devices on a port that accepts and never answers: each holds a probe's
// place for its whole time-out, so a few are what a sweep can bear.
constexpr int kMute = 8;

constexpr double kCpuRatioTarget = 3.0;
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

// Where the fleet's devices are.
struct Peers {
    const MuteHost* mute = nullptr;
    quint16 closed = 0;
    quint16 silentPort = 0; // 0: silent devices have addresses of their own
};

struct Phase {
    double cpuS = 0;
    double p99 = 0, longest = 0;
    bench::Stall stall;
    int files = 0;
    int openingPeak = 0; // stream connections being opened at once
    int links = 0;       // streams with a link state when the phase ended
    int checked = 0;     // checks that ended in the phase
};

struct Figures {
    Phase off;
    Phase on;
};

void removeDataFiles()
{
    for (const char* name : {Native::kInventoryFile, Native::kUptimeFile, "native-events.json"})
        QFile::remove(SecureFile::path(QLatin1String(name)));
}

Phase measure(int seconds, NativeEvents& events, int* checked)
{
    Phase p;
    bench::RoundTrips trips;
    bench::StallMeter stall;
    bench::OpenFilesPeak files;
    files.reset();
    events.resetOpeningPeak();
    const int checkedBefore = *checked;
    const double cpu0 = bench::cpuSeconds();
    trips.start();
    stall.start();
    bench::spin(seconds * 1000);
    stall.stop();
    trips.stop();
    p.cpuS = bench::cpuSeconds() - cpu0;
    p.p99 = trips.percentile(0.99);
    p.longest = trips.longest();
    p.stall = stall.stall();
    p.files = files.peak();
    p.openingPeak = events.openingPeak();
    p.links = int(events.statuses().size());
    p.checked = *checked - checkedBefore;
    return p;
}

Figures runFleet(int devices, bool withStreams, int seconds, const Peers& peers)
{
    removeDataFiles();
    Prefs::set(Prefs::kNativePoll, false);
    NativeStore store;
    QStringList sites;
    for (int s = 0; s < devices / kSiteSize; ++s) {
        Native::Site site;
        site.name = QStringLiteral("Branch %1").arg(s + 1, 4, 10, QLatin1Char('0'));
        sites << store.addSite(site);
    }
    int muteAt = 0;
    for (int i = 0; i < devices; ++i) {
        Native::Device d;
        d.siteId = sites[i / kSiteSize];
        const bool recorder = withStreams && i % 3 != 2;
        d.name = QStringLiteral("%1 %2").arg(recorder ? QStringLiteral("NVR") : QStringLiteral("XVR")).arg(i + 1);
        d.manufacturer = recorder ? QStringLiteral("HIKVISION") : QStringLiteral("DAHUA");
        d.username = QStringLiteral("admin");
        d.password = QStringLiteral("secret");
        d.channels = 16;
        if (muteAt < kMute && i % (devices / kMute) == devices / kMute / 2) {
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = peers.mute->ports()[size_t(muteAt++)];
            d.rtspPort = peers.closed;
        } else if (i % 10 == 0) {
            // Refuses at once, each at a loopback address of its own.
            d.ip = QStringLiteral("127.0.%1.%2").arg(1 + i / 250 % 250).arg(1 + i % 250);
            d.httpPort = peers.closed;
            d.rtspPort = peers.closed;
        } else if (peers.silentPort == 0) {
            d.ip = bench::silentAddress(i);
            d.httpPort = 80;
            d.rtspPort = 554;
        } else {
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = peers.silentPort;
            d.rtspPort = peers.silentPort;
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
    // The window's first showing of the fleet is not what is measured.
    bench::waitUntil([&] { return !window.rebuildTimer()->isActive() && !window.pageWorkPending(); }, 60000);

    int checked = 0;
    QObject::connect(&controller, &NativeController::finished, &controller, [&checked] { ++checked; });
    Figures f;
    f.off = measure(seconds, events, &checked);
    NativeController::setPollEnabled(true);
    f.on = measure(seconds, events, &checked);
    NativeController::setPollEnabled(false);
    window.hide();
    QCoreApplication::processEvents();
    return f;
}

QString verdict(bool ok)
{
    return ok ? QStringLiteral("within target") : QStringLiteral("MISSES target");
}

QString ms(double v)
{
    return QString::number(v, 'f', 0);
}

void report(int devices, int seconds, const Figures& streams, const Figures& plain)
{
    auto line = [&](const char* name, const char* phase, const Phase& p) {
        out() << "  " << name << ", " << phase << " " << seconds << " s: processor " << QString::number(p.cpuS, 'f', 2)
              << " s; round trips p99 " << ms(p.p99) << " ms, longest " << ms(p.longest) << " ms; longest loop gap "
              << p.stall.cell() << " ms (own work); open files at most " << p.files << "; streams being opened at most "
              << p.openingPeak << "; stream links " << p.links << "; checks ended " << p.checked << "\n";
    };
    out() << devices << " devices:\n";
    line("with event streams", "checks off", streams.off);
    line("without event streams", "checks off", plain.off);
    line("with event streams", "checks on", streams.on);
    line("without event streams", "checks on", plain.on);
    for (const auto& [phase, s, n] :
         {std::tuple{"checks off", streams.off, plain.off}, std::tuple{"checks on", streams.on, plain.on}}) {
        const double ratio = n.cpuS > 0 ? s.cpuS / n.cpuS : 0.0;
        out() << "  " << phase << ", processor streams / none: " << QString::number(ratio, 'f', 2) << "x (target "
              << kCpuRatioTarget << "x): " << verdict(ratio <= kCpuRatioTarget) << "\n";
        out() << "  " << phase << ", round trips with streams: p99 " << ms(s.p99) << " ms "
              << verdict(s.p99 < kP99TargetMs) << " (" << kP99TargetMs << " ms), longest " << ms(s.longest) << " ms "
              << verdict(s.longest < kLongestTargetMs) << " (" << kLongestTargetMs << " ms)\n";
    }
    out().flush();
}

} // namespace

int main(int argc, char** argv)
{
    if (int status = 0; bench::rerunInSilentNet(argc, argv, &status))
        return status;
    kvrtest::prepareEnvironment("bench_native_fleet");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    int seconds = 60;
    bool busyToo = true;
    QList<int> sizes = {5000, 20000};
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--idle")
            busyToo = false;
        else if (arg.startsWith("--size="))
            sizes = {arg.mid(7).toInt()};
        else if (arg.toInt() > 0)
            seconds = arg.toInt();
    }
    // The fleet window's logging of every failure is not what is measured.
    QLoggingCategory::setFilterRules(QStringLiteral("kvr.*.info=false\nkvr.*.debug=false"));

    MuteHost mute(kMute);
    std::unique_ptr<kvrtest::SilentPort> shared;
    Peers peers;
    peers.mute = &mute;
    peers.closed = kvrtest::closedPort();
    if (!bench::inSilentNet()) {
        shared = std::make_unique<kvrtest::SilentPort>();
        peers.silentPort = shared->port();
    }
    out() << "fleets over sites of " << kSiteSize << "; " << kMute
          << " devices accept and never answer, a tenth refuse, the rest are silent ("
          << (bench::inSilentNet() ? "each at an address of its own, in a network namespace of this benchmark"
                                   : "all at one loopback port whose listen queue is full")
          << ")\n";
    out().flush();

    const auto runAll = [&](const char* machine) {
        out() << machine << ":\n";
        for (int devices : sizes) {
            const Figures streams = runFleet(devices, true, seconds, peers);
            const Figures plain = runFleet(devices, false, seconds, peers);
            report(devices, seconds, streams, plain);
        }
    };
    runAll("idle machine");
    if (busyToo) {
        bench::BusyLoad load;
        const QByteArray name = "every processor busy (" + QByteArray::number(load.count()) + " spinning processes)";
        runAll(name.constData());
    }
    return 0;
}
