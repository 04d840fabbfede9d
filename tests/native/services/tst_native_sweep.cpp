// The scheduler driving the real device probe against fake devices on
// loopback.

#include "app/core/Settings.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QSignalSpy>

using kvrtest::FakeDevice;
using namespace Native;

namespace {

Device deviceFor(const FakeDevice& fake, const QString& password)
{
    Device d = nativetest::deviceFor(fake, QStringLiteral("HIKVISION"), password);
    d.name = "Fake";
    d.channels = 2;
    return d;
}

int credentialed(const FakeDevice& fake)
{
    int n = 0;
    for (const kvrtest::FakeRequest& r : fake.requests())
        if (r.hasCredentials())
            ++n;
    return n;
}

} // namespace

class TestNativeSweep : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        nativetest::clearDataDir();
        NativeMode::prefs().remove("native");
    }

    void wrongPasswordIsTriedOnceAndSweepsSkipIt()
    {
        FakeDevice good(FakeDevice::Kind::Isapi);
        FakeDevice locked(FakeDevice::Kind::Isapi);
        QVERIFY(good.start());
        QVERIFY(locked.start());
        NativeStore store;
        const QString goodId = store.addDevice(deviceFor(good, good.password));
        const QString lockedId = store.addDevice(deviceFor(locked, "wrong"));
        NativeController c(&store);
        QSignalSpy finished(&c, &NativeController::finished);

        c.refreshAll();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 30000);
        QVERIFY(c.isRefused(lockedId));
        QVERIFY(!c.isRefused(goodId));
        QCOMPARE(store.device(lockedId)->health.error, QStringLiteral("Username or password is incorrect."));
        QCOMPARE(store.device(goodId)->health.device, int(Passed));
        // The wrong password is sent once, never again.
        QCOMPARE(credentialed(locked), 1);
        const int lockedRequests = locked.requestCount();

        // Later sweeps leave the device alone; the healthy one is checked.
        const int goodBefore = good.requestCount();
        for (int sweep = 0; sweep < 2; ++sweep) {
            c.poll();
            QVERIFY(!c.isBusy(lockedId));
            QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(goodId), 30000);
        }
        QCOMPARE(locked.requestCount(), lockedRequests);
        QVERIFY(good.requestCount() > goodBefore);

        // Corrected by the user: the mark is cleared and the next check passes.
        Device edit = *store.device(lockedId);
        edit.password = locked.password;
        QVERIFY(store.updateDevice(edit));
        c.clearRefused(lockedId);
        c.refreshAll();
        QTRY_VERIFY_WITH_TIMEOUT(!c.isBusy(lockedId), 30000);
        QCOMPARE(store.device(lockedId)->health.device, int(Passed));
    }
};

KVR_TEST_MAIN(TestNativeSweep)
#include "tst_native_sweep.moc"
