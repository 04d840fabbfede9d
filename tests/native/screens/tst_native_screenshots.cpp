// Pictures of the native screens for a person to look at, written to
// build/screenshots/: the fleet page with a mixed fleet, the empty fleet, the
// device panel on each tab, and the device, report and events dialogs.

#include "app/ui/Theme.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/ReportDialog.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

using namespace screenskit;

namespace {

void save(QWidget& w, const QString& name)
{
    QTest::qWait(50);
    QDir().mkpath(QStringLiteral(KVR_SCREENSHOT_DIR));
    QVERIFY(w.grab().save(QStringLiteral(KVR_SCREENSHOT_DIR "/") + name + QStringLiteral(".png")));
}

// Shows a dialog styled like the window it would open over.
void showStyled(QWidget& w, const QSize& size = {})
{
    w.setStyleSheet(NativeStyle::stylesheet());
    if (size.isValid())
        w.resize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

Native::Device withIp(Native::Device d, int last)
{
    d.ip = QStringLiteral("192.168.10.%1").arg(last);
    d.httpPort = 80;
    return d;
}

} // namespace

class NativeScreenshots : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void fleetPages();
    void panelAndDialogs();

private:
    void loadMixedFleet(Bench& bench);
    QList<Native::Device> m_devices;
};

void NativeScreenshots::initTestCase()
{
    // The application's fonts, as the program registers them.
    Theme::useProgramFont();
}

void NativeScreenshots::loadMixedFleet(Bench& bench)
{
    const Native::Site office = site("Head office", "FiberNet", "Asha Rao");
    const Native::Site depot = site("Warehouse", "AirLink 4G");
    const Native::Site branch = site("City branch", {}, "Front desk");
    Native::Device gate = withIp(up("Main gate NVR", office.id, 8), 11);
    gate.health.recordingDays = 28;
    gate.health.recordingWindow = 30;
    gate.cameras[3].online = false;
    const QStringList names{"Gate", "Yard", "3_Lobby", "Loading bay"};
    for (int i = 0; i < names.size(); ++i)
        gate.cameras[i].name = names.at(i);
    gate.cameras[2].lastOnline = testNow().addSecs(-600);
    gate.cameras[3].lastOffline = testNow().addSecs(-3600 * 20);
    gate.password = QStringLiteral("s3cret");
    Native::Device ware = withIp(up("Warehouse NVR", depot.id, 4), 21);
    ware.manufacturer = QStringLiteral("DAHUA");
    ware.health.hdd = QStringLiteral("Fault");
    ware.health.quality = QStringLiteral("Degraded");
    ware.health.latencyMs = 180;
    ware.health.lossPercent = 33;
    ware.health.recordingDays = 12;
    ware.health.recordingWindow = 30;
    ware.health.deviceTime = ware.health.fetchedAt.addSecs(7200).toString(Qt::ISODate);
    Native::Device parking = withIp(down("Parking camera", office.id, 1), 31);
    parking.type = QStringLiteral("ipcamera");
    parking.health.internet = Native::Passed;
    parking.health.httpPort = Native::Passed;
    parking.health.digest = Native::Failed;
    parking.health.error = QStringLiteral("The device refused the username or password.");
    Native::Device back = withIp(down("Back office NVR", branch.id, 4), 41);
    Native::Device roof = withIp(fresh("Roof camera", branch.id, 1), 42);
    Native::Device old = withIp(disabled("Old lobby DVR", "Replaced in March"), 51);
    m_devices = {gate, ware, parking, back, roof, old};

    // A month of hours: the warehouse drops out at night now and then, the
    // back office has been down since yesterday afternoon.
    Native::UptimeHistory history;
    for (int day = 0; day < 30; ++day)
        for (int h = 0; h < (day == 0 ? 10 : 24); ++h)
            for (const auto& [id, minutes] : std::initializer_list<std::pair<QString, int>>{
                     {gate.id, 60},
                     {ware.id, (h == 3 || (day % 5 == 1 && h > 18)) ? 20 : 60},
                     {back.id, (day == 0 || (day == 1 && h > 12)) ? 0 : 60}})
                for (auto graph : {Native::GraphType::Device, Native::GraphType::Internet})
                    nativeseed::hour(history, id, graph, 0, testNow().date().addDays(-day), h, minutes);
    bench.load(m_devices, {office, depot, branch}, history);
    bench.controller->run(ware.id, NativeController::Refresh);
}

void NativeScreenshots::fleetPages()
{
    for (const bool empty : {true, false}) {
        Bench bench;
        if (!empty)
            loadMixedFleet(bench);
        NativeContext context = bench.context();
        context.events = nullptr; // no event streams to the addresses shown
        NativeWindow w(context);
        w.resize(1440, empty ? 860 : 1060);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        if (!empty) {
            w.table()->selectRow(2);
            w.toast(QStringLiteral("Device added. Checking it now."));
        }
        save(w, empty ? QStringLiteral("native-fleet-empty") : QStringLiteral("native-fleet-page"));
    }
}

void NativeScreenshots::panelAndDialogs()
{
    Bench bench;
    loadMixedFleet(bench);
    DeviceDetailsDialog dialog(bench.context(), m_devices.first().id);
    showStyled(dialog);
    save(dialog, QStringLiteral("native-panel-details"));
    dialog.panel()->tabs()->setCurrentIndex(1);
    dialog.panel()->uptimeTab()->setRange(2);
    save(dialog, QStringLiteral("native-panel-uptime"));
    dialog.panel()->tabs()->setCurrentIndex(2);
    save(dialog, QStringLiteral("native-panel-cameras"));
    dialog.hide();

    DeviceDialog add(bench.context(), m_devices.first().siteId);
    add.form()->addressField()->setText(QStringLiteral("admin@10.0.0.1"));
    add.submit();
    showStyled(add);
    save(add, QStringLiteral("native-dialog-device"));

    ReportDialog report(bench.context(), m_devices.first().id);
    showStyled(report);
    save(report, QStringLiteral("native-dialog-report"));

    const char* types[] = {"VMD", "linedetection", "videoloss", "fielddetection", "hdError", "tamperdetection"};
    for (int i = 0; i < 6; ++i) // type, active, channel, device time, description, repeat count
        bench.events->ingest(
            m_devices.at(i % 2).id,
            {AlertStream::Alert{
                QString::fromLatin1(types[i]), true, 1 + i % 4, NativeContext::now().addSecs(-40 * i), {}, -1}});
    EventsDialog events(bench.context());
    showStyled(events, QSize(980, 560));
    save(events, QStringLiteral("native-dialog-events"));
}

KVR_TEST_MAIN(NativeScreenshots)

#include "tst_native_screenshots.moc"
