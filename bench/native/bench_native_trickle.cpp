// Sweeps of 500 fake devices on loopback of which 8 trickle: they answer
// the login at once, then send their 200 with its length and one byte
// every half second, so no transfer time-out ever fires. Four of them stand
// together at the head of the inventory (they take all four probe places at
// once) and four together further down. The healthy recorders are strict:
// they refuse any Digest nonce count not above the last one they saw.
//
// A sweep starts every interval, as the poll timer does. For each sweep the
// bench prints when the healthy devices were checked (the last one, and
// whether every one was checked before the next sweep began), the answers
// they lost (a healthy device whose check did not find it up, or whose
// details were not fetched), and how long the trickling devices held their
// probe places with the finding they ended with. A first sweep with the
// trickling devices healthy gives the time the fleet needs on its own.
//
// KVR_BENCH_SWEEPS (default 3) and KVR_BENCH_INTERVAL_S (default 60, the
// shortest poll interval) change the run.

#include "bench/native/FakeHost.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHash>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

using namespace kvr::services;

using kvrtest::FakeDevice;
using namespace Native;

namespace {

constexpr int kDevices = 500;
constexpr int kTricklePlaces[] = {0, 1, 2, 3, 250, 251, 252, 253};
constexpr int kTrickleMs = 500;

struct SweepFigures {
    int healthyChecked = 0;
    int healthyOnTime = 0;
    int healthyLost = 0; // checked, but not found up with its details
    qint64 lastHealthyMs = 0;
    qint64 longestTrickleMs = 0;
    int trickleChecked = 0;
    QStringList trickleFindings;
    int peakRunning = 0;
};

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_trickle");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    const int sweeps = envInt("KVR_BENCH_SWEEPS", 3);
    const qint64 intervalMs = qint64(envInt("KVR_BENCH_INTERVAL_S", 60)) * 1000;

    benchnative::FakeHost host;
    bool started = true;
    host.run([&] {
        for (int i = 0; i < kDevices; ++i) {
            auto fake = std::make_unique<FakeDevice>(i % 2 ? FakeDevice::Kind::Dahua : FakeDevice::Kind::Isapi);
            fake->login = FakeDevice::Login::Digest;
            started = started && fake->start();
            host.devices().push_back(std::move(fake));
        }
    });
    if (!started) {
        out << "could not start the fake devices" << Qt::endl;
        return 1;
    }
    auto setTrickle = [&](int ms) {
        host.run([&] {
            for (int place : kTricklePlaces)
                host.devices()[size_t(place)]->trickleMs = ms;
        });
    };

    QList<Device> records;
    host.run([&] {
        for (int i = 0; i < kDevices; ++i) {
            const FakeDevice& f = *host.devices()[size_t(i)];
            Device d;
            d.name = QStringLiteral("dev %1").arg(i);
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = f.httpPort();
            d.rtspPort = f.rtspPort();
            d.manufacturer = i % 2 ? QStringLiteral("DAHUA") : QStringLiteral("HIKVISION");
            d.type = QStringLiteral("nvr");
            d.username = f.username;
            d.password = f.password;
            d.channels = 2;
            records << d;
        }
    });
    NativeStore store;
    QHash<QString, int> placeOf;
    for (int i = 0; i < kDevices; ++i)
        placeOf.insert(store.addDevice(records.at(i)), i);
    auto trickles = [](int place) {
        return std::find(std::begin(kTricklePlaces), std::end(kTricklePlaces), place) != std::end(kTricklePlaces);
    };

    // The real scheduler and probe: at most four probes at once.
    NativeController controller(&store);

    auto sweep = [&](const QString& label, bool last) {
        SweepFigures fig;
        QElapsedTimer wall;
        auto done = QObject::connect(&controller, &NativeController::finished, [&](const QString& id, int) {
            const int place = placeOf.value(id, -1);
            const qint64 at = wall.elapsed();
            const std::optional<Device> d = store.device(id);
            if (!d)
                return;
            if (trickles(place)) {
                ++fig.trickleChecked;
                fig.longestTrickleMs = std::max(fig.longestTrickleMs, at);
                if (!fig.trickleFindings.contains(d->health.error))
                    fig.trickleFindings << d->health.error;
                return;
            }
            ++fig.healthyChecked;
            fig.lastHealthyMs = std::max(fig.lastHealthyMs, at);
            if (at < intervalMs)
                ++fig.healthyOnTime;
            if (d->health.device != Passed || d->health.hdd != QLatin1String("OK") || d->health.deviceTime.isEmpty())
                ++fig.healthyLost;
        });
        auto running = QObject::connect(&controller, &NativeController::busyChanged, [&] {
            fig.peakRunning = std::max(fig.peakRunning, controller.runningCount());
        });
        wall.start();
        controller.refreshAll();
        // The sweep's interval, or (the last) until every check has ended.
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const bool idle = controller.runningCount() == 0 && controller.queuedCount() == 0;
            if (wall.elapsed() >= intervalMs || (last && idle))
                loop.quit();
        });
        tick.start(20);
        loop.exec();
        QObject::disconnect(done);
        QObject::disconnect(running);
        const int healthy = kDevices - int(std::size(kTricklePlaces));
        out << label << ": healthy devices checked " << fig.healthyChecked << " of " << healthy << ", on time "
            << fig.healthyOnTime << " (the last " << fig.lastHealthyMs << " ms after the sweep began, interval "
            << intervalMs << " ms), answers lost " << fig.healthyLost << "; trickling devices checked "
            << fig.trickleChecked << ", the last after " << fig.longestTrickleMs << " ms; peak probes "
            << fig.peakRunning << Qt::endl;
        for (const QString& f : std::as_const(fig.trickleFindings))
            if (!f.isEmpty())
                out << "    trickling device's finding: " << f << Qt::endl;
        return fig.healthyOnTime == healthy && fig.healthyLost == 0;
    };

    out << "fleet: " << kDevices << " devices, " << std::size(kTricklePlaces) << " trickling one byte every "
        << kTrickleMs << " ms; sweeps every " << intervalMs / 1000 << " s" << Qt::endl;
    sweep(QStringLiteral("sweep 0 (none trickling)"), false);
    setTrickle(kTrickleMs);
    bool allOnTime = true;
    for (int i = 1; i <= sweeps; ++i)
        allOnTime = sweep(QStringLiteral("sweep %1").arg(i), i == sweeps) && allOnTime;
    out << (allOnTime ? "every healthy device was checked on time in every sweep, none lost an answer"
                      : "SOME HEALTHY DEVICES WERE LATE OR LOST ANSWERS")
        << Qt::endl;
    int requests = 0;
    int refusedCounts = 0;
    host.run([&] {
        for (const auto& f : host.devices()) {
            requests += f->requestCount();
            refusedCounts += f->countRefusals();
        }
    });
    out << "requests to the fleet: " << requests << ", nonce counts refused as out of order: " << refusedCounts
        << Qt::endl;
    return 0;
}
