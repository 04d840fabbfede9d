#include "app/core/Settings.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QSignalSpy>

using namespace kvr::core;
using namespace kvr::services;

using namespace Native;
using namespace std::chrono_literals;

namespace {

// Stands in for the device probe: records each started job and lets the
// test answer it when it likes.
struct ScriptedProbe {
    struct Call {
        Device device;
        NativeController::Kind kind;
        int windowDays;
        NativeController::Done done;
    };
    QList<Call> calls;  // every call, in order
    QList<int> pending; // indexes of unanswered calls
    int peak = 0;

    NativeController::ProbeFn fn()
    {
        return [this](const Device& d, NativeController::Kind kind, int window, NativeController::Done done) {
            calls.append({d, kind, window, std::move(done)});
            pending.append(int(calls.size()) - 1);
            peak = std::max(peak, int(pending.size()));
        };
    }

    // Answers the oldest pending call of the device (or the oldest of all).
    void answer(const ProbeResult& r, const QString& id = {})
    {
        const auto it = std::find_if(pending.begin(), pending.end(),
                                     [&](int i) { return id.isEmpty() || calls[i].device.id == id; });
        QVERIFY2(it != pending.end(), "no pending probe to answer");
        const NativeController::Done done = calls[*it].done;
        pending.erase(it);
        done(r);
    }
    void answerAll(const ProbeResult& r)
    {
        while (!pending.isEmpty())
            answer(r);
    }
};

using nativetest::offlineResult;
using nativetest::refusedResult;
using nativetest::upResult;

QStringList addDevices(NativeStore& store, int n)
{
    QStringList ids;
    for (int i = 0; i < n; ++i) {
        Device d;
        d.name = QStringLiteral("dev %1").arg(i);
        d.ip = QStringLiteral("10.1.0.%1").arg(i + 1);
        d.username = "admin";
        d.password = "right";
        ids.append(store.addDevice(d));
    }
    return ids;
}

// A store of `n` devices and a controller over a scripted probe.
struct Rig {
    explicit Rig(int n) : ids(addDevices(store, n)) {}
    NativeStore store;
    QStringList ids;
    ScriptedProbe probe;
    NativeController c{&store, probe.fn()};
    QSignalSpy busy{&c, &NativeController::busyChanged};
    QSignalSpy finished{&c, &NativeController::finished};

    // Probe calls made, jobs queued, busy and finished notices so far.
    QString counts() const
    {
        return QString::asprintf("calls%d queued%d busy%d finished%d", int(probe.calls.size()), c.queuedCount(),
                                 int(busy.size()), int(finished.size()));
    }
};

} // namespace

class TestNativeController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        nativetest::clearDataDir();
        NativeMode::prefs().remove("native");
    }

    void atMostFourJobsAndNeverTwoForOneDevice()
    {
        Rig r(10);
        r.c.refreshAll();
        QCOMPARE(r.counts(), "calls4 queued6 busy10 finished0");

        // Asking again for a busy device (queued or running) changes nothing.
        r.busy.clear();
        r.c.run(r.ids[0], NativeController::Diagnose);
        r.c.run(r.ids[9], NativeController::Diagnose);
        r.c.refreshAll();
        QCOMPARE(r.counts(), "calls4 queued6 busy0 finished0");

        // The first answer is stored before the notices and frees a slot for
        // the fifth device.
        connect(
            &r.c, &NativeController::finished, this,
            [&] { QCOMPARE(r.store.device(r.ids[0])->health.device, int(Passed)); }, Qt::SingleShotConnection);
        r.probe.answer(upResult(), r.ids[0]);
        QCOMPARE(r.counts(), "calls5 queued5 busy1 finished1");
        QCOMPARE(r.probe.calls[4].device.id, r.ids[4]);
        QCOMPARE(r.busy.first(), (QVariantList{r.ids[0], false}));
        QCOMPARE(r.finished.first().at(1).toInt(), int(NativeController::Refresh));

        r.probe.answerAll(upResult());
        QCOMPARE(r.probe.peak, 4);
        QCOMPARE(r.counts(), "calls10 queued0 busy10 finished10"); // one "idle" per device
    }

    void jobKindsAndWhatIsNotQueued()
    {
        Rig r(6);
        NativeController::setWindowDays(45);
        r.c.run(r.ids[0], NativeController::Diagnose);
        r.c.run(r.ids[1], NativeController::Fetch);
        r.c.run(r.ids[2], NativeController::Refresh);
        QList<std::pair<int, int>> asked; // kind, window days
        for (const auto& call : r.probe.calls)
            asked.append({call.kind, call.windowDays});
        using C = NativeController;
        QCOMPARE(asked, (QList<std::pair<int, int>>{{C::Diagnose, 0}, {C::Fetch, 45}, {C::Refresh, 0}}));

        // Disabled while queued: dropped with an idle notice; unknown and
        // disabled devices are not queued at all.
        r.c.run(r.ids[3], NativeController::Refresh);
        r.c.run(r.ids[4], NativeController::Refresh);
        r.busy.clear();
        r.store.setEnabled(r.ids[4], false, "off");
        r.probe.answer(upResult(), r.ids[0]);
        QCOMPARE(r.busy.at(1), (QVariantList{r.ids[4], false}));
        r.c.run("nope", NativeController::Diagnose);
        r.c.run(r.ids[4], NativeController::Diagnose);
        QCOMPARE(r.counts(), "calls4 queued0 busy2 finished1");
    }

    void refusedMarkStaysUntilACheckFindsTheDeviceUp()
    {
        // (Sweeps leaving the device alone: against the fake devices below.)
        Rig r(1);
        const QString id = r.ids.first();
        for (const ProbeResult& result : {refusedResult(), offlineResult()}) {
            r.c.run(id, NativeController::Diagnose);
            r.probe.answer(result, id);
            QVERIFY(r.c.isRefused(id));
        }
        r.c.run(id, NativeController::Diagnose);
        r.probe.answer(upResult(), id);
        QVERIFY(!r.c.isRefused(id));
    }

    void resultOfAnOldConnectionIsDiscarded()
    {
        Rig r(1);
        const QString id = r.ids.first();
        r.c.run(id, NativeController::Diagnose);
        r.probe.calls[0].device.password = "wrong"; // what the probe saw
        // The user corrects the password while the probe runs.
        Device edit = *r.store.device(id);
        edit.password = "corrected";
        QVERIFY(r.store.updateDevice(edit));

        r.probe.answer(refusedResult(), id);
        QVERIFY(!r.c.isRefused(id));
        QCOMPARE(r.store.device(id)->health.device, 0); // untouched fresh block
        // The check is made again with the new settings, the device busy
        // throughout.
        QCOMPARE(r.counts(), "calls2 queued0 busy1 finished0");
        QCOMPARE(r.probe.calls[1].device.password, QStringLiteral("corrected"));
        QVERIFY(r.c.isBusy(id));

        r.probe.answer(upResult(), id);
        QCOMPARE(r.store.device(id)->health.device, int(Passed));
        QCOMPARE(r.counts(), "calls2 queued0 busy2 finished1");

        // A result for a device removed meanwhile ends the job quietly.
        r.c.run(id, NativeController::Refresh);
        r.store.removeDevice(id);
        r.probe.answer(upResult(), id);
        QVERIFY(!r.c.isBusy(id));
        QVERIFY(r.store.devices().isEmpty());
    }

    void answersGivenAtOnceDoNotNest()
    {
        NativeStore store;
        const QStringList ids = addDevices(store, 30);
        int peak = 0, calls = 0;
        NativeController* self = nullptr;
        NativeController c(&store, [&](const Device&, NativeController::Kind, int, NativeController::Done done) {
            ++calls;
            peak = std::max(peak, self->runningCount());
            done(offlineResult()); // before the call returns
        });
        self = &c;
        QSignalSpy finished(&c, &NativeController::finished);
        c.refreshAll();
        QTRY_COMPARE(finished.size(), 30);
        QCOMPARE(calls, 30);
        QVERIFY(peak <= 4);
    }

    void firstSweepFollowsStartAfterADelay()
    {
        Rig r(2);
        QList<std::chrono::milliseconds> delays;
        QList<std::function<void()>> due;
        r.c.setDelayFunction([&](std::chrono::milliseconds ms, std::function<void()> fn) {
            delays.append(ms);
            due.append(std::move(fn));
        });

        r.c.startPolling();
        QVERIFY(r.c.isPollTimerActive());
        QCOMPARE(delays, QList<std::chrono::milliseconds>{1500ms});
        QVERIFY(r.probe.calls.isEmpty()); // nothing before the delay
        due.takeFirst()();
        QCOMPARE(r.probe.calls.size(), 2);
        r.probe.answerAll(upResult());

        // The poll setting is held to 1 to 60 minutes (the timer following
        // it: the settings dialog's suite).
        NativeMode::prefs().setValue("native/pollMinutes", 500);
        QCOMPARE(NativeController::pollMinutes(), 60);
        NativeController::setPollMinutes(0);
        QCOMPARE(NativeController::pollMinutes(), 1);
        NativeController::setWindowDays(1000);
        QCOMPARE(NativeController::windowDays(), 120);

        // Suspended within the delay: the first sweep does not happen.
        r.c.suspend();
        QVERIFY(!r.c.isStarted());
        r.c.startPolling();
        r.c.suspend();
        due.takeFirst()();
        QCOMPARE(r.probe.calls.size(), 2);

        // Polling switched off: starting arms nothing; switching it on
        // while started arms the timer and sweeps after the delay.
        NativeController::setPollEnabled(false);
        r.c.startPolling();
        QVERIFY(!r.c.isPollTimerActive());
        QVERIFY(due.isEmpty());
        NativeController::setPollEnabled(true);
        QVERIFY(r.c.isPollTimerActive());
        QCOMPARE(due.size(), 1);
        QCOMPARE(delays.last(), 1500ms);
        due.takeFirst()();
        QCOMPARE(r.probe.calls.size(), 4);
        NativeController::setPollEnabled(false);
        QVERIFY(!r.c.isPollTimerActive());
        QVERIFY(r.c.isStarted());
    }

    // The real device probe against fake devices: a wrong password is sent
    // once, and the sweeps leave that device alone until it is corrected.
    void realProbesAgainstFakeDevices()
    {
        kvrtest::FakeDevice good(kvrtest::FakeDevice::Kind::Isapi);
        kvrtest::FakeDevice locked(kvrtest::FakeDevice::Kind::Isapi);
        QVERIFY(good.start() && locked.start());
        NativeStore store;
        const QString goodId = store.addDevice(nativetest::deviceFor(good));
        const QString lockedId = store.addDevice(nativetest::deviceFor(locked, "HIKVISION", "wrong"));
        NativeController c(&store);
        QSignalSpy finished(&c, &NativeController::finished);
        c.refreshAll();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
        QVERIFY(c.isRefused(lockedId) && !c.isRefused(goodId));
        QCOMPARE(store.device(goodId)->health.device, int(Passed));
        const int lockedRequests = locked.requestCount();
        c.poll();
        QVERIFY(!c.isBusy(lockedId));
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(goodId), 30000);
        QCOMPARE(locked.requestCount(), lockedRequests);

        Device edit = *store.device(lockedId);
        edit.password = locked.password;
        QVERIFY(store.updateDevice(edit));
        c.clearRefused(lockedId);
        c.refreshAll();
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(lockedId), 30000);
        QCOMPARE(store.device(lockedId)->health.device, int(Passed));
    }
};

KVR_TEST_MAIN(TestNativeController)

#include "tst_native_controller.moc"
