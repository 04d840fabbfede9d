// One sweep of 500 devices on loopback: healthy fake recorders of two
// families, devices whose login is refused, closed ports and ports that
// never answer. Reports wall time, the peak number of probes in flight and
// the longest stall of the main thread's event loop. A second sweep shows
// the refused devices left out.

#include "native/services/DeviceProbe.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTextStream>
#include <QTimer>

#include <memory>

using kvrtest::FakeDevice;
using namespace Native;

namespace {

struct Figures {
    qint64 wallMs = 0;
    int peak = 0;
    qint64 worstStallMs = 0;
    int jobs = 0;
};

Device deviceAt(const QString& name, quint16 http, quint16 rtsp, const QString& brand,
                const QString& user, const QString& password)
{
    Device d;
    d.name = name;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = http;
    d.rtspPort = rtsp;
    d.manufacturer = brand;
    d.username = user;
    d.password = password;
    d.channels = 4;
    return d;
}

} // namespace

int main(int argc, char** argv)
{
    kvrtest::prepareEnvironment("bench_native_sweep");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    QTextStream out(stdout);

    FakeDevice isapi(FakeDevice::Kind::Isapi);
    FakeDevice dahua(FakeDevice::Kind::Dahua);
    FakeDevice locked(FakeDevice::Kind::Isapi);
    if (!isapi.start() || !dahua.start() || !locked.start()) {
        out << "could not start the fake devices" << Qt::endl;
        return 1;
    }
    kvrtest::SilentPort silentHttp;
    kvrtest::SilentPort silentRtsp;
    const quint16 closed = kvrtest::closedPort();

    NativeStore store;
    int healthy = 0, refused = 0, closedCount = 0, silent = 0;
    for (int i = 0; i < 500; ++i) {
        const QString name = QStringLiteral("dev %1").arg(i);
        if (i % 50 == 7) {  // 10 that never answer
            store.addDevice(deviceAt(name, silentHttp.port(), silentRtsp.port(), "HIKVISION", "admin", "x"));
            ++silent;
        } else if (i % 50 < 3) {  // 30 with nothing listening
            store.addDevice(deviceAt(name, closed, closed, "HIKVISION", "admin", "x"));
            ++closedCount;
        } else if (i % 50 < 11) {  // 80 with a wrong password
            store.addDevice(deviceAt(name, locked.httpPort(), locked.rtspPort(), "HIKVISION",
                                     locked.username, "wrong"));
            ++refused;
        } else if (i % 2) {
            store.addDevice(deviceAt(name, isapi.httpPort(), isapi.rtspPort(), "HIKVISION",
                                     isapi.username, isapi.password));
            ++healthy;
        } else {
            store.addDevice(deviceAt(name, dahua.httpPort(), dahua.rtspPort(), "DAHUA",
                                     dahua.username, dahua.password));
            ++healthy;
        }
    }

    int inFlight = 0;
    Figures fig;
    NativeController controller(&store, [&](const Device& d, NativeController::Kind kind,
                                            int window, NativeController::Done done) {
        ++inFlight;
        fig.peak = std::max(fig.peak, inFlight);
        auto wrapped = [&inFlight, done](NativeProbe::Outcome o) {
            --inFlight;
            done(o);
        };
        if (kind == NativeController::Diagnose)
            NativeProbe::diagnose(d, wrapped);
        else
            NativeProbe::fetch(d, kind == NativeController::Fetch ? window : 0, wrapped);
    });

    // The event loop's heartbeat: any gap well past its interval is a stall.
    QElapsedTimer beat;
    QTimer heart;
    heart.setTimerType(Qt::PreciseTimer);
    heart.setInterval(5);
    QObject::connect(&heart, &QTimer::timeout, [&] {
        fig.worstStallMs = std::max(fig.worstStallMs, beat.restart() - 5);
    });

    auto sweep = [&](const char* label) {
        fig = Figures{};
        int finished = 0;
        QEventLoop loop;
        auto conn = QObject::connect(&controller, &NativeController::finished, [&] {
            ++finished;
        });
        auto idle = QObject::connect(&controller, &NativeController::busyChanged, [&] {
            if (controller.runningCount() == 0 && controller.queuedCount() == 0)
                loop.quit();
        });
        QElapsedTimer wall;
        wall.start();
        beat.start();
        heart.start();
        controller.refreshAll();
        if (controller.runningCount() || controller.queuedCount())
            loop.exec();
        heart.stop();
        fig.wallMs = wall.elapsed();
        QObject::disconnect(conn);
        QObject::disconnect(idle);
        out << label << ": " << finished << " jobs in " << fig.wallMs << " ms, peak probes in flight "
            << fig.peak << ", worst main-thread stall " << fig.worstStallMs << " ms, refused set "
            << controller.refused().size() << Qt::endl;
    };

    out << "fleet: " << healthy << " healthy, " << refused << " wrong password, " << closedCount
        << " closed, " << silent << " never answering" << Qt::endl;
    sweep("first sweep");
    int up = 0;
    for (const Device& d : store.devices())
        if (d.health.device == Passed)
            ++up;
    out << "devices up after the first sweep: " << up << Qt::endl;
    sweep("second sweep");
    out << "requests to the wrong-password device: " << locked.requestCount() << Qt::endl;
    QElapsedTimer t;
    t.start();
    store.flush();
    out << "inventory and uptime flush after the sweeps: " << t.elapsed() << " ms" << Qt::endl;
    return 0;
}
