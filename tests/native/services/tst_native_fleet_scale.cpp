// The event streams and the scheduler at the size of a large estate: a pass
// over thousands of devices copies none of them, the counts the window reads
// at every change of a stream cost no more at 5,000 devices than at 50 and
// stay right as the inventory changes, and connections in flight (checks and
// streams together) keep within their bound, checks going on however many
// streams hold places.

#include "native/services/ConnectionGate.h"
#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QSet>
#include <QtTest>

#include <algorithm>
#include <memory>

#include <time.h>

using namespace kvr::services;
using namespace Native;
using namespace std::chrono_literals;
using kvrtest::FakeDevice;

namespace {

const QString kPath = QStringLiteral("/ISAPI/Event/notification/alertStream");

// Fills the store with `count` devices over ten sites, two of every three of
// a brand that offers the stream, on a port that refuses.
void fill(NativeStore& store, int count, quint16 port)
{
    QStringList sites;
    for (int s = 0; s < 10; ++s) {
        Site site;
        site.name = QStringLiteral("Site %1").arg(s);
        sites << store.addSite(site);
    }
    for (int i = 0; i < count; ++i) {
        Device d;
        d.siteId = sites[i % sites.size()];
        d.name = QStringLiteral("Recorder %1").arg(i);
        d.ip = QStringLiteral("127.0.%1.%2").arg(1 + i / 250).arg(1 + i % 250);
        d.httpPort = port;
        d.manufacturer = i % 3 == 2 ? QStringLiteral("DAHUA") : QStringLiteral("HIKVISION");
        d.channels = 4;
        QVERIFY(!store.addDevice(d).isEmpty());
    }
}

// Records of the store that another list holds a copy of right now: their
// cameras are shared with it. (The walk here copies nothing, whatever the
// store returns: a const list is never detached.)
int copiesAlive(const NativeStore& store)
{
    const QList<Device> list = store.devices();
    int n = 0;
    for (const Device& d : list)
        n += d.cameras.isDetached() ? 0 : 1;
    return n;
}

// The eligible count by a walk of its own.
int eligibleByHand(const NativeStore& store)
{
    int n = 0;
    for (const Device& d : store.devices())
        n += d.enabled && NativeEvents::supports(d.manufacturer) ? 1 : 0;
    return n;
}

double threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// A probe that never answers: jobs stay where they are.
NativeController::ProbeFn silentProbe()
{
    return [](const Device&, NativeController::Kind, int, NativeController::Done) {};
}

} // namespace

class TestNativeFleetScale : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { nativetest::clearDataDir(); }

    // The pass over the fleet that follows every change of the inventory
    // takes each device from the store as it stands, never from a copy of
    // the list (a range-for over a list returned by value copies every
    // device, health and cameras included, on each pass).
    void syncCopiesNoDevice()
    {
        NativeStore store;
        fill(store, 5000, kvrtest::closedPort());
        NativeController controller(&store, silentProbe());
        NativeEvents events(&store, &controller);
        int planned = 0;
        int copies = -1;
        events.setTimerFunction([&](const QString&, std::chrono::milliseconds, QTimer*) {
            // Looked at halfway through the pass: the copies a pass makes
            // live until its end.
            if (++planned == 2000)
                copies = copiesAlive(store);
        });
        events.start();
        QCOMPARE(planned, 3334);
        QCOMPARE(copies, 0);
        QCOMPARE(events.connectionCount(), 3334);
        events.stop();
    }

    // A fleet larger than a turn's share (an import of thousands) is brought
    // in line a share a turn, the window answering in between; in the end
    // every recorder has its stream planned.
    void aLargeFleetIsFollowedInSlices()
    {
        NativeStore store;
        fill(store, 2 * tun::kStreamSyncPerTurn + 100, kvrtest::closedPort());
        NativeController controller(&store, silentProbe());
        NativeEvents events(&store, &controller);
        int planned = 0;
        events.setTimerFunction([&](const QString&, std::chrono::milliseconds, QTimer*) { ++planned; });
        events.start();
        const int wanted = (2 * tun::kStreamSyncPerTurn + 100) * 2 / 3 + 1;
        QVERIFY2(planned <= tun::kStreamSyncPerTurn, qPrintable(QString::number(planned)));
        QTRY_COMPARE(planned, wanted);
        QCOMPARE(events.connectionCount(), wanted);
        events.stop();
    }

    // The window reads both counts at every change of a stream, which a
    // fleet of failing streams makes many times a second: they cost the same
    // whatever the size of the fleet. (Processor time of this thread, the
    // best of several rounds, in one run: a busy machine slows both sizes
    // alike.)
    void countsCostTheSameAtAnySize()
    {
        auto costPerRead = [](int devices) {
            nativetest::clearDataDir();
            NativeStore store;
            fill(store, devices, kvrtest::closedPort());
            NativeController controller(&store, silentProbe());
            NativeEvents events(&store, &controller);
            events.setTimerFunction([](const QString&, std::chrono::milliseconds, QTimer*) {});
            events.start();
            double best = 1e18;
            int sum = 0;
            for (int round = 0; round < 7; ++round) {
                const double t0 = threadCpuNs();
                for (int i = 0; i < 2000; ++i)
                    sum += events.eligibleCount() + events.connectedCount();
                best = std::min(best, threadCpuNs() - t0);
            }
            events.stop();
            return std::pair<double, int>(best / 2000, sum);
        };
        const auto small = costPerRead(50);
        const auto large = costPerRead(5000);
        QCOMPARE(small.second, 7 * 2000 * 34);
        QCOMPARE(large.second, 7 * 2000 * 3334);
        // A walk over the fleet per read costs a hundred times more at 5,000.
        QVERIFY2(large.first < 10 * std::max(small.first, 50.0),
                 qPrintable(QStringLiteral("%1 ns a read at 5,000 devices, %2 ns at 50")
                                .arg(large.first, 0, 'f', 0)
                                .arg(small.first, 0, 'f', 0)));
    }

    // The kept counts follow every change that moves them: devices added and
    // removed, enabled and disabled, their brand changed, a site removed;
    // and streams going live and going away.
    void keptCountsFollowTheInventory()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.login = FakeDevice::Login::None;
        QVERIFY(fake.start());
        NativeStore store;
        NativeController controller(&store, silentProbe());
        NativeEvents events(&store, &controller);
        // First attempts go at once; retries (of the port that refuses) are
        // not needed here.
        events.setTimerFunction([](const QString&, std::chrono::milliseconds delay, QTimer* timer) {
            if (delay < 1s)
                timer->start(0);
        });
        Site site;
        site.name = QStringLiteral("Depot");
        const QString siteId = store.addSite(site);
        QStringList ids;
        for (const char* brand : {"HIKVISION", "HIKVISION", "DAHUA", "PRAMA"}) {
            Device d = nativetest::deviceFor(fake, QLatin1String(brand));
            d.siteId = siteId;
            d.httpPort = qstrcmp(brand, "PRAMA") == 0 ? kvrtest::closedPort() : fake.httpPort();
            ids << store.addDevice(d);
        }
        events.start();
        auto agree = [&] {
            int live = 0;
            for (const auto& s : events.statuses())
                live += s.link == Link::Live ? 1 : 0;
            return events.eligibleCount() == eligibleByHand(store) && events.connectedCount() == live;
        };
        QCOMPARE(events.eligibleCount(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 2, 20000);
        QVERIFY(agree());

        store.setEnabled(ids[0], false, QStringLiteral("off"));
        QCOMPARE(events.eligibleCount(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 1, 20000);
        QVERIFY(agree());
        Device d = *store.device(ids[2]);
        d.manufacturer = QStringLiteral("HIKVISION");
        QVERIFY(store.updateDevice(d));
        QCOMPARE(events.eligibleCount(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 2, 20000);
        QVERIFY(agree());
        store.setEnabled(ids[0], true, QString());
        QCOMPARE(events.eligibleCount(), 4);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 3, 20000);
        store.removeDevice(ids[1]);
        QCOMPARE(events.eligibleCount(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 2, 20000);
        QVERIFY(agree());
        store.removeSite(siteId);
        QCOMPARE(events.eligibleCount(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(events.connectedCount(), 0, 20000);
        QVERIFY(agree());
        events.stop();
        QCOMPARE(events.connectedCount(), 0);
    }

    // Streams that connect and are never answered hold their places; the
    // checks of the same devices still go through in the places kept for
    // them, and no more connections are ever open than the gate allows.
    void connectionsInFlightKeepWithinTheBound()
    {
        ConnectionGate& gate = ConnectionGate::instance();
        const int capacity = gate.capacity();
        const int reserve = gate.requestReserve();
        auto restore = qScopeGuard([&] { gate.setCapacity(capacity, reserve); });
        gate.setCapacity(6, 2);
        gate.resetPeak();

        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        fake.script(kPath, nativetest::reply(200, {}, [](auto& r) {
                        r.fault = FakeDevice::Fault::Silence;
                        r.beforeLogin = true;
                    }));
        NativeStore store;
        NativeController controller(&store);
        NativeEvents events(&store, &controller);
        QStringList ids;
        for (int i = 0; i < 10; ++i) {
            Device d = nativetest::deviceFor(fake);
            d.name = QStringLiteral("Recorder %1").arg(i);
            ids << store.addDevice(d);
        }
        // The streams wait for their answer for as long as the test takes.
        events.setAnswerTimeout(1h);
        events.start();
        // Four streams hold their places; the rest wait for one, and say so.
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestCount(kPath), 4, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(events.heldBackCount(), 6, 30000);

        // Every device is checked meanwhile, in the places kept for checks.
        QSet<QString> checked;
        connect(&controller, &NativeController::finished, this, [&](const QString& id) { checked.insert(id); });
        controller.refreshAll();
        QTRY_COMPARE_WITH_TIMEOUT(checked.size(), 10, 30000);
        for (const QString& id : std::as_const(ids))
            QCOMPARE(store.device(id)->health.device, int(Passed));
        QCOMPARE(fake.requestCount(kPath), 4);
        QVERIFY2(gate.peak() <= 6, qPrintable(QString::number(gate.peak())));

        // More places: the waiting streams go out.
        gate.setCapacity(20, 4);
        QTRY_COMPARE_WITH_TIMEOUT(fake.requestCount(kPath), 10, 30000);
        QCOMPARE(gate.waiting(), 0);
        QTRY_COMPARE(events.heldBackCount(), 0);
        events.stop();
        QTRY_COMPARE(gate.held(), 0);
    }

    // Streams to devices that never answer (a connect to them hangs until
    // its time bound): only a bounded number are being opened at any moment,
    // counted by the connections the gate lets out, the rest wait their turn
    // in the order they fell due, and every device is tried.
    void streamsBeingOpenedAtOnceAreBounded()
    {
        kvrtest::SilentPort silent;
        ConnectionGate& gate = ConnectionGate::instance();
        QCOMPARE(gate.held(), 0);
        gate.resetPeak();
        NativeStore store;
        QStringList ids;
        for (int i = 0; i < 100; ++i) {
            Device d;
            d.name = QStringLiteral("Recorder %1").arg(i);
            d.ip = QStringLiteral("127.0.0.1");
            d.httpPort = silent.port();
            d.manufacturer = QStringLiteral("HIKVISION");
            ids << store.addDevice(d);
        }
        NativeController controller(&store, silentProbe());
        NativeEvents events(&store, &controller);
        // Each attempt holds its connection a second: without a bound, the
        // streams that fall due 20 ms apart would be fifty at once.
        events.setConnectTimeout(1s);
        QStringList tried;
        QSet<QString> ended;
        connect(&events, &NativeEvents::linksChanged, this, [&] {
            for (auto it = events.statuses().cbegin(); it != events.statuses().cend(); ++it) {
                if (!tried.contains(it.key()))
                    tried << it.key();
                if (it->link == Link::Lost)
                    ended.insert(it.key());
            }
        });
        events.start();
        QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 100, 60000);
        QCOMPARE(events.openingPeak(), tun::kStreamOpeningsAtOnce);
        QVERIFY2(gate.peak() <= tun::kStreamOpeningsAtOnce, qPrintable(QString::number(gate.peak())));
        QCOMPARE(tried, ids);
        events.stop();
        QTRY_COMPARE(gate.held(), 0);
    }

    // A save hands a snapshot of the inventory to the writer thread, which
    // takes it as its own: a check's result that comes after it changes its
    // record where it stands, with no copy of the whole list on the main
    // thread (at a hundred thousand devices, a stall at every save).
    void aSaveLeavesTheListsUnshared()
    {
        NativeStore store;
        fill(store, 2000, kvrtest::closedPort());
        for (int round = 0; round < 3; ++round) {
            store.flush();
            store.waitForWrites();
            const Device* first = store.devices().constData();
            store.applyProbe(store.devices().at(round).id, nativetest::upResult());
            QCOMPARE(store.devices().constData(), first);
            QCOMPARE(store.devices().at(round).health.device, int(Passed));
        }
    }

    // Half of the open-file limit, at most, is for devices: 128 of the 256
    // a program on macOS starts with, with a share kept for checks.
    void boundFitsTheOpenFileLimit()
    {
        QCOMPARE(ConnectionGate::capacityFor(256), 128);
        QVERIFY(ConnectionGate::reserveFor(128) >= 8);
        QCOMPARE(ConnectionGate::capacityFor(20000), 8192);
    }
};

KVR_TEST_MAIN(TestNativeFleetScale)

#include "tst_native_fleet_scale.moc"
