#include "app/core/Settings.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QSignalSpy>

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
        for (qsizetype i = 0; i < pending.size(); ++i) {
            Call& c = calls[pending[i]];
            if (id.isEmpty() || c.device.id == id) {
                auto done = c.done;
                pending.removeAt(i);
                done(r);
                return;
            }
        }
        QFAIL("no pending probe to answer");
    }
    void answerAll(const ProbeResult& r)
    {
        while (!pending.isEmpty())
            answer(r);
    }
    int callsFor(const QString& id) const
    {
        return int(std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.device.id == id; }));
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
        NativeStore store;
        const QStringList ids = addDevices(store, 10);
        ScriptedProbe probe;
        NativeController c(&store, probe.fn());
        QSignalSpy busy(&c, &NativeController::busyChanged);
        QSignalSpy finished(&c, &NativeController::finished);

        c.refreshAll();
        QCOMPARE(busy.size(), 10);
        QCOMPARE(c.queuedCount(), 6);
        QCOMPARE(probe.calls.size(), 4);

        // Asking again for a busy device (queued or running) changes nothing.
        busy.clear();
        c.run(ids[0], NativeController::Diagnose);
        c.run(ids[9], NativeController::Diagnose);
        c.refreshAll();
        QCOMPARE(busy.size(), 0);
        QCOMPARE(c.queuedCount(), 6);

        // The first answer is stored before the notices and frees a slot for
        // the fifth device.
        connect(
            &c, &NativeController::finished, this, [&] { QCOMPARE(store.device(ids[0])->health.device, int(Passed)); },
            Qt::SingleShotConnection);
        probe.answer(upResult(), ids[0]);
        QCOMPARE(probe.calls.size(), 5);
        QCOMPARE(probe.calls[4].device.id, ids[4]);
        QCOMPARE(busy.size(), 1);
        QCOMPARE(busy.first(), (QVariantList{ids[0], false}));
        QCOMPARE(finished.first().at(1).toInt(), int(NativeController::Refresh));

        probe.answerAll(upResult());
        QCOMPARE(probe.peak, 4);
        QCOMPARE(probe.calls.size(), 10);
        QCOMPARE(busy.size(), 10); // one "idle" per device
    }

    void jobKindsAndWhatIsNotQueued()
    {
        NativeStore store;
        const QStringList ids = addDevices(store, 6);
        ScriptedProbe probe;
        NativeController c(&store, probe.fn());
        NativeController::setWindowDays(45);
        c.run(ids[0], NativeController::Diagnose);
        c.run(ids[1], NativeController::Fetch);
        c.run(ids[2], NativeController::Refresh);
        QString asked;
        for (const auto& call : probe.calls)
            asked += QStringLiteral("%1/%2 ").arg(int(call.kind)).arg(call.windowDays);
        QCOMPARE(asked,
                 QStringLiteral("%1/0 %2/45 %3/0 ")
                     .arg(int(NativeController::Diagnose))
                     .arg(int(NativeController::Fetch))
                     .arg(int(NativeController::Refresh)));

        // Disabled while queued: dropped with an idle notice; unknown and
        // disabled devices are not queued at all.
        c.run(ids[3], NativeController::Refresh);
        c.run(ids[4], NativeController::Refresh);
        QSignalSpy busy(&c, &NativeController::busyChanged);
        store.setEnabled(ids[4], false, "off");
        probe.answer(upResult(), ids[0]);
        QCOMPARE(probe.callsFor(ids[4]), 0);
        QCOMPARE(busy.at(1), (QVariantList{ids[4], false}));
        c.run("nope", NativeController::Diagnose);
        c.run(ids[4], NativeController::Diagnose);
        QCOMPARE(probe.calls.size(), 4);
        QCOMPARE(busy.size(), 2);
    }

    void refusedMarkStaysUntilACheckFindsTheDeviceUp()
    {
        // (Sweeps leaving the device alone: against the fake devices below.)
        NativeStore store;
        const QString id = addDevices(store, 1).first();
        ScriptedProbe probe;
        NativeController c(&store, probe.fn());
        for (const ProbeResult& r : {refusedResult(), offlineResult()}) {
            c.run(id, NativeController::Diagnose);
            probe.answer(r, id);
            QVERIFY(c.isRefused(id));
        }
        c.run(id, NativeController::Diagnose);
        probe.answer(upResult(), id);
        QVERIFY(!c.isRefused(id));
    }

    void resultOfAnOldConnectionIsDiscarded()
    {
        NativeStore store;
        const QString id = addDevices(store, 1).first();
        ScriptedProbe probe;
        NativeController c(&store, probe.fn());
        QSignalSpy busy(&c, &NativeController::busyChanged);
        QSignalSpy finished(&c, &NativeController::finished);

        c.run(id, NativeController::Diagnose);
        probe.calls[0].device.password = "wrong"; // what the probe saw
        // The user corrects the password while the probe runs.
        Device edit = *store.device(id);
        edit.password = "corrected";
        QVERIFY(store.updateDevice(edit));

        probe.answer(refusedResult(), id);
        QVERIFY(!c.isRefused(id));
        QCOMPARE(store.device(id)->health.device, 0); // untouched fresh block
        QCOMPARE(finished.size(), 0);
        // The check is made again with the new settings, the device busy
        // throughout.
        QCOMPARE(probe.calls.size(), 2);
        QCOMPARE(probe.calls[1].device.password, QStringLiteral("corrected"));
        QVERIFY(c.isBusy(id));
        QCOMPARE(busy.size(), 1);

        probe.answer(upResult(), id);
        QCOMPARE(store.device(id)->health.device, int(Passed));
        QCOMPARE(finished.size() + busy.size(), 3);

        // A result for a device removed meanwhile ends the job quietly.
        c.run(id, NativeController::Refresh);
        store.removeDevice(id);
        probe.answer(upResult(), id);
        QVERIFY(!c.isBusy(id));
        QVERIFY(store.devices().isEmpty());
    }

    void answersGivenAtOnceDoNotNest()
    {
        NativeStore store;
        const QStringList ids = addDevices(store, 30);
        int peak = 0;
        int calls = 0;
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
        NativeStore store;
        const QStringList ids = addDevices(store, 2);
        ScriptedProbe probe;
        NativeController c(&store, probe.fn());
        QList<std::chrono::milliseconds> delays;
        QList<std::function<void()>> due;
        c.setDelayFunction([&](std::chrono::milliseconds ms, std::function<void()> fn) {
            delays.append(ms);
            due.append(std::move(fn));
        });

        c.startPolling();
        QVERIFY(c.isPollTimerActive());
        QCOMPARE(c.pollIntervalMs(), 5 * 60000);
        QCOMPARE(delays, QList<std::chrono::milliseconds>{1500ms});
        QVERIFY(probe.calls.isEmpty()); // nothing before the delay
        due.takeFirst()();
        QCOMPARE(probe.calls.size(), 2);
        probe.answerAll(upResult());

        // The poll interval follows the setting (1 to 60 minutes) while
        // the timer runs.
        NativeController::setPollMinutes(7);
        QCOMPARE(c.pollIntervalMs(), 7 * 60000);
        NativeMode::prefs().setValue("native/pollMinutes", 500);
        QCOMPARE(NativeController::pollMinutes(), 60);
        NativeController::setPollMinutes(0);
        QCOMPARE(NativeController::pollMinutes(), 1);
        NativeController::setWindowDays(1000);
        QCOMPARE(NativeController::windowDays(), 120);

        // Suspended within the delay: the first sweep does not happen.
        c.suspend();
        QVERIFY(!c.isStarted());
        c.startPolling();
        c.suspend();
        due.takeFirst()();
        QCOMPARE(probe.calls.size(), 2);

        // Polling switched off: starting arms nothing; switching it on
        // while started arms the timer and sweeps after the delay.
        NativeController::setPollEnabled(false);
        c.startPolling();
        QVERIFY(!c.isPollTimerActive());
        QVERIFY(due.isEmpty());
        NativeController::setPollEnabled(true);
        QVERIFY(c.isPollTimerActive());
        QCOMPARE(due.size(), 1);
        QCOMPARE(delays.last(), 1500ms);
        due.takeFirst()();
        QCOMPARE(probe.calls.size(), 4);
        NativeController::setPollEnabled(false);
        QVERIFY(!c.isPollTimerActive());
        QVERIFY(c.isStarted());
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
