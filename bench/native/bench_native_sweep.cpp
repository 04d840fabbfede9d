// One sweep of 500 devices on loopback: healthy fake recorders of two
// families, devices whose login is refused, closed ports and ports that
// never answer, with the fleet window open (as a user would watch it), so
// that the table work each answer causes is counted too. Reports wall time,
// the peak number of probes in flight, the longest stall of the main
// thread's event loop beside its own longest work in one turn, and the fleet
// window's rebuilds. A second sweep shows the refused devices left out.

#include "bench/support/BenchKit.h"
#include "native/screens/NativeWindow.h"
#include "native/services/DeviceProbe.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "native/services/SecureFile.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/support/TestKit.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QSaveFile>
#include <QTextStream>
#include <QTimer>

#include <memory>

using namespace kvr::services;
using namespace kvr::screens;

using kvrtest::FakeDevice;
using namespace Native;

namespace {

struct Figures {
    qint64 wallMs = 0;
    int peak = 0;
    int jobs = 0;
};

Device deviceAt(const QString& name, quint16 http, quint16 rtsp, const QString& brand, const QString& user,
                const QString& password)
{
    Device d;
    d.name = name;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = http;
    d.rtspPort = rtsp;
    d.manufacturer = brand;
    d.username = user;
    d.password = password;
    d.channels = 16;
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

    // The fleet is written once with 40 days of hourly history for every
    // series (as after weeks of use), then loaded the way the application
    // starts, so the saves during the sweep carry their real weight.
    std::unique_ptr<NativeStore> first = std::make_unique<NativeStore>();
    NativeStore& build = *first;
    int healthy = 0, refused = 0, closedCount = 0, silent = 0;
    for (int i = 0; i < 500; ++i) {
        const QString name = QStringLiteral("dev %1").arg(i);
        if (i % 50 == 7) { // 10 that never answer
            build.addDevice(deviceAt(name, silentHttp.port(), silentRtsp.port(), "HIKVISION", "admin", "x"));
            ++silent;
        } else if (i % 50 < 3) { // 30 with nothing listening
            build.addDevice(deviceAt(name, closed, closed, "HIKVISION", "admin", "x"));
            ++closedCount;
        } else if (i % 50 < 11) { // 80 with a wrong password
            build.addDevice(
                deviceAt(name, locked.httpPort(), locked.rtspPort(), "HIKVISION", locked.username, "wrong"));
            ++refused;
        } else if (i % 2) {
            build.addDevice(
                deviceAt(name, isapi.httpPort(), isapi.rtspPort(), "HIKVISION", isapi.username, isapi.password));
            ++healthy;
        } else {
            build.addDevice(
                deviceAt(name, dahua.httpPort(), dahua.rtspPort(), "DAHUA", dahua.username, dahua.password));
            ++healthy;
        }
    }

    build.flush();
    {
        const QDate today = QDate::currentDate();
        QByteArray text = "{\"series\":{";
        bool firstSeries = true;
        auto series = [&](const QString& key) {
            if (!firstSeries)
                text += ',';
            firstSeries = false;
            text += '"' + key.toLatin1() + "\":{";
            for (int day = 39; day >= 0; --day) {
                text += '"' + today.addDays(-day).toString(Qt::ISODate).toLatin1() + "\":[";
                for (int h = 0; h < 24; ++h)
                    text += h ? ",60" : "60";
                text += day ? "]," : "]";
            }
            text += '}';
        };
        for (const Device& d : build.devices()) {
            series(checkedKey(d.id));
            series(internetKey(d.id));
            series(deviceKey(d.id));
            for (const Camera& c : d.cameras)
                series(cameraKey(d.id, c.channelId));
        }
        text += "},\"version\":1}";
        QSaveFile f(SecureFile::path(QLatin1String(kUptimeFile)));
        f.open(QIODevice::WriteOnly);
        f.write(text);
        f.commit();
    }
    first.reset();
    QElapsedTimer loadTimer;
    loadTimer.start();
    NativeStore store;
    const qint64 madeMs = loadTimer.elapsed();
    store.waitForWrites(); // the history, read on the store's thread
    out << "store loaded: " << store.devices().size() << " devices, " << store.uptime().seriesCount()
        << " uptime series in " << loadTimer.elapsed() << " ms (" << madeMs << " ms of it on the main thread)"
        << Qt::endl;

    int inFlight = 0;
    Figures fig;
    NativeController controller(
        &store, [&](const Device& d, NativeController::Kind kind, int window, NativeController::Done done) {
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

    // The fleet window over the same services, open through both sweeps; its
    // own checks on a schedule are left off, the sweeps are started here.
    NativeWindow window(NativeContext{&store, &controller, nullptr});
    window.resize(1440, 900);
    window.show();
    controller.suspend();
    QCoreApplication::processEvents();

    bench::StallMeter stall;
    stall.stop();
    int writesBefore = 0;

    auto sweep = [&](const char* label) {
        fig = Figures{};
        int finished = 0;
        QEventLoop loop;
        auto conn = QObject::connect(&controller, &NativeController::finished, [&] { ++finished; });
        auto idle = QObject::connect(&controller, &NativeController::busyChanged, [&] {
            if (controller.runningCount() == 0 && controller.queuedCount() == 0)
                loop.quit();
        });
        writesBefore = store.inventoryWriteCount();
        const int rebuildsBefore = window.rebuildCount();
        QElapsedTimer wall;
        wall.start();
        stall.start();
        controller.refreshAll();
        if (controller.runningCount() || controller.queuedCount())
            loop.exec();
        // The window's last rebuild, which shows the sweep's end.
        bench::waitUntil([&] { return !window.rebuildTimer()->isActive(); }, 5000);
        stall.stop();
        fig.wallMs = wall.elapsed();
        QObject::disconnect(conn);
        QObject::disconnect(idle);
        out << label << ": " << finished << " jobs in " << fig.wallMs << " ms, peak probes in flight " << fig.peak
            << ", worst main-thread stall " << stall.text() << ", fleet window rebuilds "
            << window.rebuildCount() - rebuildsBefore << ", refused set " << controller.refused().size()
            << ", saves during the sweep " << store.inventoryWriteCount() - writesBefore << Qt::endl;
    };

    out << "fleet: " << healthy << " healthy, " << refused << " wrong password, " << closedCount << " closed, "
        << silent << " never answering" << Qt::endl;
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
