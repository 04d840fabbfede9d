// Memory of native mode against devices that answer their details with huge
// chunked bodies, beside the same fleet healthy, in one run. A fleet of
// strict-Digest recorders on loopback (two families, half each) is swept
// with the real scheduler and probes; first every device is healthy, then
// four of them answer every details request (after a good login) with a
// chunked body of 256 MB, sent as fast as the reader takes it, so each of
// their requests ends at the body cap.
//
// Each phase runs for its minutes with a sweep every interval (a sweep
// still running when the next is due is left to finish). The bench prints
// the resident memory every minute, and for each phase its level (the mean
// of its second half) and its peak; then the hostile phase's level beside
// the healthy one. The target: within 20 MiB.
//
// KVR_BENCH_DEVICES (default 40), KVR_BENCH_HEALTHY_MINUTES (default 5),
// KVR_BENCH_MINUTES (the hostile phase, default 10) and KVR_BENCH_INTERVAL_S
// (default 20) change the run.

#include "bench/native/FakeHost.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <memory>

using namespace kvr::services;

using kvrtest::FakeDevice;
using namespace Native;

namespace {

constexpr int kHostile = 4;
constexpr qint64 kHugeBytes = qint64(256) << 20;
constexpr double kTargetMiB = 20.0;

int envInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : fallback;
}

double mib(qint64 kib)
{
    return double(kib) / 1024.0;
}

struct Phase {
    QList<double> samplesMiB; // one a minute
    double peakMiB = 0;
    int sweeps = 0;
    int checks = 0;
    int healthyLost = 0; // a healthy device not found up with its disk read
    int hostileUnread = 0;

    double level() const
    {
        const qsizetype half = samplesMiB.size() / 2;
        double sum = 0;
        for (qsizetype i = half; i < samplesMiB.size(); ++i)
            sum += samplesMiB.at(i);
        return samplesMiB.size() > half ? sum / double(samplesMiB.size() - half) : 0.0;
    }
};

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_hostile");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);
    const int count = std::max(envInt("KVR_BENCH_DEVICES", 40), kHostile + 1);
    const qint64 healthyMs = qint64(envInt("KVR_BENCH_HEALTHY_MINUTES", 5)) * 60000;
    const qint64 hostileMs = qint64(envInt("KVR_BENCH_MINUTES", 10)) * 60000;
    const qint64 intervalMs = qint64(envInt("KVR_BENCH_INTERVAL_S", 20)) * 1000;

    benchnative::FakeHost host;
    bool started = true;
    QList<Device> records;
    host.run([&] {
        for (int i = 0; i < count; ++i) {
            auto fake = std::make_unique<FakeDevice>(i % 2 ? FakeDevice::Kind::Dahua : FakeDevice::Kind::Isapi);
            fake->hugeBytes = kHugeBytes;
            started = started && fake->start();
            Device d;
            d.name = QStringLiteral("dev %1").arg(i);
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = fake->httpPort();
            d.rtspPort = fake->rtspPort();
            d.manufacturer = i % 2 ? QStringLiteral("DAHUA") : QStringLiteral("HIKVISION");
            d.username = fake->username;
            d.password = fake->password;
            d.channels = 2;
            records << d;
            host.devices().push_back(std::move(fake));
        }
    });
    if (!started) {
        out << "could not start the fake devices" << Qt::endl;
        return 1;
    }
    // Spread over the inventory, two of each family.
    const QList<int> hostilePlaces = {0, count / 4 + 1, count / 2, 3 * count / 4 + 1};
    auto hostile = [&hostilePlaces](int place) { return hostilePlaces.contains(place); };

    NativeStore store;
    QHash<QString, int> placeOf;
    for (int i = 0; i < count; ++i)
        placeOf.insert(store.addDevice(records.at(i)), i);
    NativeController controller(&store);

    auto run = [&](const QString& label, qint64 lengthMs) {
        Phase phase;
        auto done = QObject::connect(&controller, &NativeController::finished, [&](const QString& id, int) {
            ++phase.checks;
            const std::optional<Device> d = store.device(id);
            if (!d)
                return;
            if (hostile(placeOf.value(id, -1)))
                phase.hostileUnread += d->health.unread.isEmpty() ? 0 : 1;
            else if (d->health.device != Passed || d->health.hdd != QLatin1String("OK"))
                ++phase.healthyLost;
        });
        QElapsedTimer wall;
        wall.start();
        qint64 nextSweep = 0;
        qint64 nextSample = 60000;
        QEventLoop loop;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            const qint64 now = wall.elapsed();
            phase.peakMiB = std::max(phase.peakMiB, mib(nativetest::memoryKiB()));
            if (now >= nextSweep && now < lengthMs) {
                // The fakes' logs of what they were sent are no part of the
                // figure: they hold one sweep's at most.
                host.run([&] {
                    for (const auto& f : host.devices())
                        f->clearLog();
                });
                controller.refreshAll();
                ++phase.sweeps;
                nextSweep += intervalMs;
            }
            if (now >= nextSample) {
                phase.samplesMiB << mib(nativetest::memoryKiB());
                int open = 0;
                host.run([&] {
                    for (const auto& f : host.devices())
                        open += f->openConnections();
                });
                out << "  " << label << ", minute " << phase.samplesMiB.size() << ": "
                    << QString::number(phase.samplesMiB.last(), 'f', 1) << " MiB resident, " << phase.checks
                    << " checks, open connections " << open << Qt::endl;
                nextSample += 60000;
            }
            if (now >= lengthMs && controller.runningCount() == 0 && controller.queuedCount() == 0)
                loop.quit();
        });
        tick.start(50);
        loop.exec();
        QObject::disconnect(done);
        out << label << ": " << phase.sweeps << " sweeps, " << phase.checks << " checks, level "
            << QString::number(phase.level(), 'f', 1) << " MiB, peak " << QString::number(phase.peakMiB, 'f', 1)
            << " MiB; healthy devices not read whole " << phase.healthyLost << "; hostile checks that said what "
            << "they could not read " << phase.hostileUnread << Qt::endl;
        return phase;
    };

    out << "fleet: " << count << " strict-Digest recorders, sweeps every " << intervalMs / 1000 << " s; healthy for "
        << healthyMs / 60000 << " min, then " << kHostile << " of them answer their details with " << (kHugeBytes >> 20)
        << " MB chunked bodies for " << hostileMs / 60000 << " min" << Qt::endl;
    const Phase healthy = run(QStringLiteral("healthy fleet"), healthyMs);
    host.run([&] {
        for (int i = 0; i < count; ++i)
            if (hostile(i))
                host.devices()[size_t(i)]->detailsFault = FakeDevice::Fault::Huge;
    });
    const Phase huge = run(QStringLiteral("with huge answers"), hostileMs);
    qint64 sent = 0;
    host.run([&] {
        for (const auto& f : host.devices())
            sent += f->chunkedBytes();
    });
    const double difference = huge.level() - healthy.level();
    out << "level with " << kHostile << " devices sending huge answers: " << QString::number(huge.level(), 'f', 1)
        << " MiB beside " << QString::number(healthy.level(), 'f', 1)
        << " MiB healthy: " << QString::number(difference, 'f', 1) << " MiB more (target: within " << kTargetMiB
        << "), peaks " << QString::number(huge.peakMiB, 'f', 1) << " / " << QString::number(healthy.peakMiB, 'f', 1)
        << " MiB; the devices sent " << (sent >> 20) << " MiB of huge bodies in all" << Qt::endl;
    out << (difference <= kTargetMiB ? "within the target" : "ABOVE THE TARGET") << Qt::endl;
    return 0;
}
