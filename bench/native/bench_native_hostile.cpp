// Memory and check times of native mode against hostile devices, beside the
// same fleet healthy, in one run. A fleet of strict-Digest recorders on
// loopback (two families, half each) is swept with the real scheduler and
// probes, with the live event streams of its ISAPI recorders open; first
// every device is healthy, then four of them turn hostile, in two phases:
//
// - huge details: they answer every details request (after a good login)
//   with a chunked body of 256 MB, sent as fast as the reader takes it, so
//   each of their requests ends at the body cap;
// - huge login answers: they answer every login challenge (a 401 with its
//   challenge, to the checks and to the event streams alike) with a chunked
//   body, two of them (one of each family) an endless one, the other two
//   one of 1 GB, sent as fast as the reader takes it.
//
// Each phase runs for its minutes with a sweep every interval (a sweep
// still running when the next is due is left to finish). The bench prints
// the resident memory at every sample, and for each phase its level (the
// mean of its second half) and its peak, and how long the healthy devices'
// checks took (from when each was asked for to its end, and each sweep from
// its start to its last healthy check's end); then each hostile phase's level
// beside the healthy one. The targets: within 20 MiB for huge details,
// within 64 MiB for huge login answers; the healthy devices' checks no
// longer than their own bounds.
//
// KVR_BENCH_DEVICES (default 40), KVR_BENCH_HEALTHY_MINUTES (default 5),
// KVR_BENCH_MINUTES (each hostile phase, default 10), KVR_BENCH_INTERVAL_S
// (default 20) and KVR_BENCH_SAMPLE_S (default 60) change the run.

#include "bench/native/FakeHost.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/Tunables.h"
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
constexpr qint64 kHugeLoginBytes = qint64(1) << 30;
constexpr double kDetailsTargetMiB = 20.0;
constexpr double kLoginTargetMiB = 64.0;

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

QString fixed(double v)
{
    return QString::number(v, 'f', 1);
}

struct Times {
    QList<qint64> ms;
    void add(qint64 v) { ms << v; }
    double mean() const
    {
        qint64 sum = 0;
        for (qint64 v : ms)
            sum += v;
        return ms.isEmpty() ? 0.0 : double(sum) / double(ms.size());
    }
    qint64 max() const { return ms.isEmpty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    QString said() const
    {
        return QStringLiteral("mean %1 s, longest %2 s").arg(fixed(mean() / 1000.0), fixed(double(max()) / 1000.0));
    }
};

struct Phase {
    QList<double> samplesMiB;
    double peakMiB = 0;
    int sweeps = 0;
    int checks = 0;
    int healthyLost = 0; // a healthy device not found up with its disk read
    int hostileSaid = 0; // hostile checks that said what went wrong
    QStringList hostileWords;
    Times healthyChecks; // from when it was asked for to its end
    Times sweepsTaken;   // from the sweep's start to its last healthy check's end
    int streamsLive = 0; // healthy streams live at the end

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
    const qint64 sampleMs = qint64(envInt("KVR_BENCH_SAMPLE_S", 60)) * 1000;

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
    NativeEvents events(&store, &controller);
    events.start();

    auto run = [&](const QString& label, qint64 lengthMs) {
        Phase phase;
        QHash<QString, qint64> startedAt;
        qint64 sweepStart = -1;
        qint64 sweepLast = -1;
        QElapsedTimer wall;
        wall.start();
        auto began = QObject::connect(&controller, &NativeController::busyChanged, [&](const QString& id, bool busy) {
            if (busy)
                startedAt.insert(id, wall.elapsed());
        });
        auto done = QObject::connect(&controller, &NativeController::finished, [&](const QString& id, int) {
            ++phase.checks;
            const std::optional<Device> d = store.device(id);
            if (!d)
                return;
            if (hostile(placeOf.value(id, -1))) {
                phase.hostileSaid += d->health.error.isEmpty() && d->health.unread.isEmpty() ? 0 : 1;
                const QString words = d->health.error.isEmpty() && !d->health.unread.isEmpty()
                    ? d->health.unread.first().reason
                    : d->health.error;
                if (!words.isEmpty() && !phase.hostileWords.contains(words))
                    phase.hostileWords << words;
                return;
            }
            if (d->health.device != Passed || d->health.hdd != QLatin1String("OK"))
                ++phase.healthyLost;
            if (startedAt.contains(id))
                phase.healthyChecks.add(wall.elapsed() - startedAt.take(id));
            sweepLast = wall.elapsed();
        });
        qint64 nextSweep = 0;
        qint64 nextSample = sampleMs;
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
                if (sweepStart >= 0 && sweepLast >= sweepStart)
                    phase.sweepsTaken.add(sweepLast - sweepStart);
                sweepStart = now;
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
                out << "  " << label << ", " << now / 1000 << " s: " << fixed(phase.samplesMiB.last())
                    << " MiB resident, " << phase.checks << " checks, open connections " << open << ", streams live "
                    << events.connectedCount() << Qt::endl;
                nextSample += sampleMs;
            }
            if (now >= lengthMs && controller.runningCount() == 0 && controller.queuedCount() == 0)
                loop.quit();
        });
        tick.start(50);
        loop.exec();
        if (sweepStart >= 0 && sweepLast >= sweepStart)
            phase.sweepsTaken.add(sweepLast - sweepStart);
        QObject::disconnect(began);
        QObject::disconnect(done);
        QStringList streamWords;
        for (auto it = placeOf.cbegin(); it != placeOf.cend(); ++it) {
            const LinkStatus link = events.statuses().value(it.key());
            if (!hostile(it.value()))
                phase.streamsLive += link.link == Link::Live ? 1 : 0;
            else if (!link.text.isEmpty() && !streamWords.contains(link.text))
                streamWords << link.text;
        }
        out << label << ": " << phase.sweeps << " sweeps, " << phase.checks << " checks, level " << fixed(phase.level())
            << " MiB, peak " << fixed(phase.peakMiB) << " MiB; healthy devices not read whole " << phase.healthyLost
            << "; healthy checks " << phase.healthyChecks.said() << ", sweeps " << phase.sweepsTaken.said()
            << "; healthy streams live " << phase.streamsLive << "; hostile checks that said what went wrong "
            << phase.hostileSaid << Qt::endl;
        if (!phase.hostileWords.isEmpty())
            out << "  hostile checks said: \"" << phase.hostileWords.join(QStringLiteral("\", \"")) << "\"" << Qt::endl;
        if (!streamWords.isEmpty())
            out << "  hostile event streams said: \"" << streamWords.join(QStringLiteral("\", \"")) << "\"" << Qt::endl;
        return phase;
    };
    auto compare = [&](const QString& what, const Phase& healthy, const Phase& phase, double targetMiB) {
        const double difference = phase.level() - healthy.level();
        out << "level with " << kHostile << " devices sending " << what << ": " << fixed(phase.level())
            << " MiB beside " << fixed(healthy.level()) << " MiB healthy: " << fixed(difference)
            << " MiB more (target: within " << targetMiB << "), peaks " << fixed(phase.peakMiB) << " / "
            << fixed(healthy.peakMiB) << " MiB; healthy checks " << phase.healthyChecks.said() << " beside "
            << healthy.healthyChecks.said() << Qt::endl;
        out << (difference <= targetMiB ? "within the target" : "ABOVE THE TARGET") << Qt::endl;
    };

    out << "fleet: " << count << " strict-Digest recorders (" << events.eligibleCount()
        << " with event streams), sweeps every " << intervalMs / 1000 << " s; healthy for " << healthyMs / 60000
        << " min, then " << kHostile << " of them answer their details with " << (kHugeBytes >> 20)
        << " MB chunked bodies for " << hostileMs / 60000 << " min, then their login challenges with endless or "
        << (kHugeLoginBytes >> 20) << " MB chunked bodies for " << hostileMs / 60000 << " min" << Qt::endl;
    const Phase healthy = run(QStringLiteral("healthy fleet"), healthyMs);
    host.run([&] {
        for (int i = 0; i < count; ++i)
            if (hostile(i))
                host.devices()[size_t(i)]->detailsFault = FakeDevice::Fault::Huge;
    });
    const Phase huge = run(QStringLiteral("with huge details"), hostileMs);
    qint64 sent = 0;
    host.run([&] {
        int n = 0;
        for (int i = 0; i < count; ++i) {
            FakeDevice& f = *host.devices()[size_t(i)];
            sent += f.chunkedBytes();
            if (!hostile(i))
                continue;
            f.detailsFault = FakeDevice::Fault::None;
            f.hugeBytes = kHugeLoginBytes;
            f.refusalFault = n++ < 2 ? FakeDevice::Fault::Endless : FakeDevice::Fault::Huge;
            // Every answer from now on is refused with a fresh challenge,
            // streams too: what was kept of the login is no longer valid.
            f.forgetNonces();
            f.closeStreams();
        }
    });
    const Phase login = run(QStringLiteral("with huge login answers"), hostileMs);
    qint64 sentLogin = -sent;
    host.run([&] {
        for (const auto& f : host.devices())
            sentLogin += f->chunkedBytes();
    });
    events.stop();
    compare(QStringLiteral("huge details"), healthy, huge, kDetailsTargetMiB);
    out << "  the devices sent " << (sent >> 20) << " MiB of huge details in all" << Qt::endl;
    compare(QStringLiteral("huge login answers"), healthy, login, kLoginTargetMiB);
    out << "  the devices sent " << (sentLogin >> 20) << " MiB of huge login answers in all" << Qt::endl;
    const auto bound = tun::kDeviceRequestTimeout * tun::kTurnWaitFactor;
    out << "healthy checks' longest with hostile devices: " << fixed(double(login.healthyChecks.max()) / 1000.0)
        << " s (a check's own bound: its deadline, " << tun::kProbeDeadline.count() / 1000 << " s; a request's "
        << bound.count() / 1000 << " s with its wait)" << Qt::endl;
    return 0;
}
