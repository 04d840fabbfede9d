// The device panel and its tabs: the text rules, the header and details of
// devices in each state, editing, deactivating and removing, the uptime tab
// and heat map, and the cameras tab with its saving rules.

#include "native/screens/DevicePanel.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/UptimeCharts.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>

using namespace screenskit;
using namespace NativePanel;
using NativeStyle::Chip;
using NativeStyle::Disc;

namespace {

QStringList labelTexts(QWidget* root)
{
    QStringList out;
    for (QLabel* l : root->findChildren<QLabel*>())
        if (!l->isHidden())
            out << l->text();
    return out;
}

QString chipText(QWidget* root, const QString& caption)
{
    for (QLabel* l : root->findChildren<QLabel*>(QStringLiteral("NChip")))
        if (l->accessibleName() == caption)
            return l->text();
    return QStringLiteral("<none>");
}

Native::Device named(Native::Device d, const QStringList& names)
{
    for (int i = 0; i < names.size() && i < d.cameras.size(); ++i)
        d.cameras[i].name = names.at(i);
    return d;
}

} // namespace

class DevicePanelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { Modal::reset(); }
    void textRules();
    void chipRules_data();
    void chipRules();
    void neverProbed();
    void busyDevice();
    void deactivatedAndActivate();
    void deactivateAsksForAReason();
    void passwordAndSite();
    void editUpdateAndProblems();
    void removeClosesTheDialog();
    void editSiteLeavesHandler();
    void mediaHooksGetTheRightChannel();
    void uptimeTab();
    void heatmapRules();
    void heatmapPaintAndHover();
    void camerasTabRows();
    void camerasSaveTwiceKeepsStoredNames();
    void cameraButtonsLeaveHandler();
};

void DevicePanelTest::textRules()
{
    QCOMPARE(typeLabel(QStringLiteral("nvr")), QStringLiteral("NVR"));
    QCOMPARE(typeLabel(QStringLiteral("panel")), QStringLiteral("PANEL"));
    QCOMPARE(typeLabel(QStringLiteral("ipcamera")), QStringLiteral("IP camera"));
    const QDateTime now(QDate(2026, 12, 5), QTime(12, 0));
    QCOMPARE(shortTime(QDateTime(), now), QString());
    QCOMPARE(shortTime(QDateTime(QDate(2026, 12, 5), QTime(9, 15)), now), QStringLiteral("09:15"));
    QCOMPARE(shortTime(QDateTime(QDate(2026, 12, 4), QTime(22, 40)), now), QStringLiteral("4 Dec 22:40"));

    HeaderStatus s = headerStatus(disabled("a", "Moved"), true, testNow());
    QCOMPARE(s.text, QStringLiteral("Deactivated"));
    QCOMPARE(s.note, QStringLiteral("Moved"));
    s = headerStatus(up("a"), true, testNow());
    QCOMPARE(s.text, QStringLiteral("Checking"));
    QCOMPARE(s.dot, Disc::Unknown);
    s = headerStatus(up("a"), false, testNow());
    QCOMPARE(s.dot, Disc::Up);
    QCOMPARE(s.note, QStringLiteral("Last checked 09:29"));
    s = headerStatus(down("a"), false, testNow());
    QCOMPARE(s.dot, Disc::Down);
    QCOMPARE(s.text, QStringLiteral("Offline"));
    s = headerStatus(fresh("a"), false, testNow());
    QCOMPARE(s.text, QStringLiteral("Not checked"));
    QVERIFY(s.note.isEmpty());

    Native::Device four = fresh("f", {}, 4);
    four.ignored = {1, 2};
    QCOMPARE(testLiveChannel(four), 3);
    four.ignored = {1, 2, 3, 4};
    QCOMPARE(testLiveChannel(four), 1);

    Native::Camera c;
    c.channelId = 3;
    c.name = QStringLiteral("3_Lobby");
    QCOMPARE(cameraDisplayName(c), QStringLiteral("Lobby"));
    c.name = QStringLiteral("3_");
    QCOMPARE(cameraDisplayName(c), QStringLiteral("3_"));
    c.name = QStringLiteral("13_Gate");
    QCOMPARE(cameraDisplayName(c), QStringLiteral("13_Gate"));
    c.name.clear();
    QCOMPARE(cameraDisplayName(c), QStringLiteral("Camera 3"));
}

void DevicePanelTest::chipRules_data()
{
    QTest::addColumn<QString>("got");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    auto row = [](const char* name, const ChipText& c, const char* text, Chip kind) {
        QTest::newRow(name) << c.text + QLatin1Char('|') + c.tip << QString::fromUtf8(text) << int(kind);
    };
    row("check busy", checkChip(2, "Open", "Closed", "Not checked", true), "Checking|", Chip::Info);
    row("check pass", checkChip(2, "Open", "Closed", "Not checked", false), "Open|", Chip::Pass);
    row("check fail", checkChip(1, "Open", "Closed", "Not checked", false), "Closed|", Chip::Fail);
    row("check other", checkChip(7, "Open", "Closed", "Not offered", false), "Not offered|", Chip::Unknown);
    Native::Health h;
    row("network unknown", networkChip(h, false), "Not checked|", Chip::Unknown);
    h.quality = QStringLiteral("Degraded");
    h.latencyMs = 180;
    h.lossPercent = 33;
    row("network degraded", networkChip(h, false), "Degraded · 180 ms|33% of connection attempts failed", Chip::Warn);
    h.quality = QStringLiteral("Poor");
    row("network poor", networkChip(h, false), "Poor · 180 ms|33% of connection attempts failed", Chip::Poor);
    row("network busy", networkChip(h, true), "Checking|", Chip::Info);
    row("disk fault", diskChip(QStringLiteral("Fault")), "Fault|", Chip::Fail);
    row("disk ok", diskChip(QStringLiteral("OK")), "OK|", Chip::Pass);
    row("disk other", diskChip(QStringLiteral("ok")), "Not checked|", Chip::Unknown);
    auto rec = [](int days, int window, const char* brand = "HIKVISION") {
        Native::Device d = up("r");
        d.manufacturer = QString::fromLatin1(brand);
        d.health.recordingDays = days;
        d.health.recordingWindow = window;
        return recordingChip(d);
    };
    row("27 of 30", rec(27, 30), "27 of 30 days|", Chip::Pass);
    row("21 of 30", rec(21, 30), "21 of 30 days|", Chip::Warn);
    row("20 of 30", rec(20, 30), "20 of 30 days|", Chip::Fail);
    row("window 0", rec(20, 0), "Not checked|", Chip::Unknown);
    row("no calendar", rec(-1, 30, "SAMSUNG"), "|", Chip::Unknown);
    row("99.0", percentChip(99.0), "99.0% up|", Chip::Pass);
    row("98.96", percentChip(98.96), "99.0% up|", Chip::Warn);
    row("90.0", percentChip(90.0), "90.0% up|", Chip::Warn);
    row("89.9", percentChip(89.9), "89.9% up|", Chip::Fail);
    row("none", percentChip(-1), "No data yet|", Chip::Unknown);
}

void DevicePanelTest::chipRules()
{
    QFETCH(QString, got);
    QCOMPARE(got, FETCHED(QString, text));
}

void DevicePanelTest::neverProbed()
{
    Native::Device samsung = fresh("Samsung", {}, 2);
    samsung.manufacturer = QStringLiteral("SAMSUNG");
    const Native::Device hik = fresh("Hik", {}, 2);
    Bench bench;
    bench.load({hik, samsung});
    DevicePanel panel(bench.context());
    QCOMPARE(panel.currentPage(), 0);
    panel.setDevice(hik.id);
    QCOMPARE(panel.currentPage(), 1);
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Not checked"));
    QCOMPARE(panel.statusDot()->state(), Disc::Unknown);
    QVERIFY(panel.sideNote()->isHidden());
    QWidget* details = panel.detailsWidget();
    for (const char* caption : {"Internet", "HTTP port", "RTSP port", "Digest login", "Basic login", "Network"})
        QCOMPARE(chipText(details, QString::fromLatin1(caption)), QStringLiteral("Not checked"));
    QCOMPARE(labelTexts(details).count(QStringLiteral("Not fetched yet")), 6);
    QVERIFY(
        labelTexts(details).contains(QStringLiteral("This device isn't in a site. Edit the device to choose one.")));
    QVERIFY(!findByText<QPushButton>(details, QStringLiteral("Edit site")));
    QVERIFY(!panel.action(DevicePanel::Calendar)->isHidden());
    panel.setDevice(samsung.id);
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("Not available for this brand")));
    QVERIFY(panel.action(DevicePanel::Calendar)->isHidden());
    panel.setDevice(QStringLiteral("unknown"));
    QCOMPARE(panel.currentPage(), 0);
    QVERIFY(panel.deviceId().isEmpty());
}

void DevicePanelTest::busyDevice()
{
    Native::Device d = down("Busy");
    d.health.httpPort = Native::Passed;
    Bench bench;
    bench.load({d});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("Device is offline.")));
    QCOMPARE(chipText(panel.detailsWidget(), QStringLiteral("Digest login")), QStringLiteral("Not offered"));
    bench.controller->run(d.id, NativeController::Diagnose);
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Checking"));
    QVERIFY(!panel.action(DevicePanel::RunDiagnostic)->isEnabled());
    QVERIFY(!panel.action(DevicePanel::FetchInfo)->isEnabled());
    QCOMPARE(chipText(panel.detailsWidget(), QStringLiteral("Internet")), QStringLiteral("Checking"));
    QCOMPARE(chipText(panel.detailsWidget(), QStringLiteral("Network")), QStringLiteral("Checking"));
    QVERIFY(!labelTexts(panel.detailsWidget()).contains(QStringLiteral("Device is offline.")));
    bench.finishProbes(nativetest::upResult());
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Online"));
    QVERIFY(panel.action(DevicePanel::RunDiagnostic)->isEnabled());
}

void DevicePanelTest::deactivatedAndActivate()
{
    const Native::Device d = disabled("Off", "Moved");
    Bench bench;
    bench.load({d});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Deactivated"));
    QCOMPARE(panel.sideNote()->text(), QStringLiteral("Moved"));
    for (int a : {DevicePanel::RunDiagnostic, DevicePanel::FetchInfo, DevicePanel::Snapshots, DevicePanel::Calendar,
                  DevicePanel::TestLive}) {
        QVERIFY(!panel.action(a)->isEnabled());
        QCOMPARE(panel.action(a)->toolTip(), QStringLiteral("This device is deactivated."));
    }
    QCOMPARE(panel.action(DevicePanel::Enable)->text(), QStringLiteral("Activate"));
    panel.action(DevicePanel::Enable)->click();
    QTRY_VERIFY(bench.store().device(d.id)->enabled); // no question asked
    QCOMPARE(Modal::shown(), QStringList());
    QCOMPARE(panel.action(DevicePanel::Enable)->text(), QStringLiteral("Deactivate"));
    QVERIFY(panel.action(DevicePanel::Snapshots)->toolTip().isEmpty());
}

void DevicePanelTest::deactivateAsksForAReason()
{
    const Native::Device d = up("On");
    Bench bench;
    bench.load({d});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    QString label;
    Modal::respond([&label](QDialog& dlg) {
        auto& input = dynamic_cast<QInputDialog&>(dlg);
        label = input.labelText();
        input.setTextValue(QStringLiteral("   "));
        return int(QDialog::Accepted);
    });
    panel.toggleEnabled();
    QCOMPARE(label, QStringLiteral("Checks and uptime history stop until it is activated again.\nReason (optional)"));
    QCOMPARE(Modal::shown().last(), QStringLiteral("Deactivate device"));
    QVERIFY(!bench.store().device(d.id)->enabled);
    QCOMPARE(bench.store().device(d.id)->disabledReason, QString());
    QVERIFY(panel.sideNote()->isHidden());
    // Cancel changes nothing.
    panel.toggleEnabled(); // activates
    Modal::respond([](QDialog&) { return int(QDialog::Rejected); });
    panel.toggleEnabled();
    QVERIFY(bench.store().device(d.id)->enabled);
}

void DevicePanelTest::passwordAndSite()
{
    const Native::Site s = site("Depot", "FiberNet", "Asha");
    Native::Device d = up("Gate", s.id);
    d.password = QStringLiteral("abc");
    d.ignored = {2, 3};
    Native::Device nopw = up("Open");
    nopw.password.clear();
    Bench bench;
    bench.load({d, nopw}, {s});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QString(8, QChar(0x2022))));
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("2, 3")));
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("FiberNet")));
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("Depot")));
    QCOMPARE(panel.subtitleLabel()->text(),
             QStringLiteral("Depot  ·  127.0.0.1:%1  ·  HIKVISION  ·  NVR").arg(d.httpPort));
    findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Show password"))->click();
    QTRY_VERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("abc")));
    QVERIFY(findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Hide password")));
    // The same device keeps the state; another resets it.
    panel.setDevice(d.id);
    QVERIFY(panel.isPasswordShown());
    panel.setDevice(nopw.id);
    QVERIFY(!panel.isPasswordShown());
    QVERIFY(!findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Show password")));
    QVERIFY(labelTexts(panel.detailsWidget()).contains(QStringLiteral("None")));
}

void DevicePanelTest::editUpdateAndProblems()
{
    const Native::Device d = up("Gate");
    Bench bench;
    bench.load({d});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    panel.startEdit();
    QTRY_VERIFY(panel.form());
    panel.form()->addressField()->setText(QStringLiteral("a b"));
    panel.form()->nameField()->setText(QStringLiteral("Renamed"));
    Modal::answer(QMessageBox::Close);
    findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Update"))->click();
    QTRY_COMPARE(Modal::pending(), 0);
    QCOMPARE(Modal::shown().last(), QStringLiteral("Can’t save: Enter the device's IP address or host name."));
    QVERIFY(panel.isEditing());
    QCOMPARE(panel.form()->nameField()->text(), QStringLiteral("Renamed"));
    // Notices while editing leave the form alone.
    QPointer<DeviceForm> form = panel.form();
    Q_EMIT bench.store().deviceUpdated(d.id);
    QCOMPARE(panel.form(), form.data());
    // A good update stores the device and starts no probe.
    panel.form()->addressField()->setText(QStringLiteral("127.0.0.1"));
    findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Update"))->click();
    QTRY_VERIFY(!panel.isEditing());
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Renamed"));
    QVERIFY(bench.pending.isEmpty());
    QTRY_VERIFY(!panel.form());
    QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Renamed"));
    // Cancel leaves edit mode without storing.
    panel.startEdit();
    QTRY_VERIFY(panel.form());
    panel.form()->nameField()->setText(QStringLiteral("Not stored"));
    findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Cancel"))->click();
    QTRY_VERIFY(!panel.isEditing());
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Renamed"));
}

void DevicePanelTest::removeClosesTheDialog()
{
    const Native::Device d = up("Gate");
    Bench bench;
    bench.load({d, up("Other")});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Device details · Gate"));
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    DevicePanel* panel = dialog.panel();
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    // "Cancel" first: nothing removed.
    Modal::respond([](QDialog&) { return int(QMessageBox::RejectRole); });
    findByText<QPushButton>(panel->detailsWidget(), QStringLiteral("Remove device"))->click();
    QTRY_COMPARE(Modal::pending(), 0);
    QVERIFY(bench.store().hasDevice(d.id));
    QCOMPARE(Modal::shown().last(),
             QStringLiteral(
                 "Remove device: Remove Gate? Its camera names and uptime history are deleted from this computer."));
    Modal::respond([](QDialog&) { return int(QMessageBox::DestructiveRole); });
    findByText<QPushButton>(panel->detailsWidget(), QStringLiteral("Remove device"))->click();
    QTRY_COMPARE(accepted.count(), 1);
    QVERIFY(!bench.store().hasDevice(d.id));
    QCOMPARE(panel->currentPage(), 0);
}

void DevicePanelTest::editSiteLeavesHandler()
{
    // The site dialog opened from "Edit site" runs while a probe result
    // rebuilds the details, deleting the button that was clicked.
    const Native::Site s = site("Depot");
    const Native::Device d = up("Gate", s.id);
    Bench bench;
    bench.load({d}, {s});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    QPointer<QPushButton> edit = findByText<QPushButton>(dialog.panel()->detailsWidget(), QStringLiteral("Edit site"));
    QVERIFY(edit);
    bool clickReturned = false;
    bool handlerOver = false;
    Modal::respond([&](QDialog& dlg) {
        handlerOver = clickReturned;
        Q_EMIT bench.store().deviceUpdated(d.id); // rebuilds the details now
        auto& siteDialog = dynamic_cast<SiteDialog&>(dlg);
        siteDialog.nameField()->setText(QStringLiteral("Depot North"));
        siteDialog.submit();
        return siteDialog.result();
    });
    edit->click();
    clickReturned = true;
    QTRY_COMPARE(Modal::pending(), 0);
    QVERIFY(handlerOver);
    QVERIFY(edit.isNull());
    QCOMPARE(bench.store().site(s.id)->name, QStringLiteral("Depot North"));
    QTRY_VERIFY(labelTexts(dialog.panel()->detailsWidget()).contains(QStringLiteral("Depot North")));
}

void DevicePanelTest::mediaHooksGetTheRightChannel()
{
    Native::Device d = up("Gate", {}, 4);
    d.ignored = {1, 2};
    Bench bench;
    bench.load({d});
    QStringList calls;
    NativeMedia::Hooks hooks;
    hooks.openLive = [&calls](QWidget* parent, const QString& id, int channel) {
        calls << QStringLiteral("live %1 %2 %3").arg(parent->objectName(), id).arg(channel);
    };
    hooks.snapshots = [&calls](QWidget*, const QString&, int channel) {
        calls << QStringLiteral("snap %1").arg(channel);
    };
    hooks.calendar = [&calls](QWidget*, const QString&) { calls << QStringLiteral("calendar"); };
    NativeMedia::setHooks(hooks);
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    panel.action(DevicePanel::TestLive)->click();
    panel.action(DevicePanel::Snapshots)->click();
    panel.action(DevicePanel::Calendar)->click();
    QVERIFY(calls.isEmpty()); // not inside the click
    QTRY_COMPARE(calls.size(), 3);
    QCOMPARE(calls, (QStringList{QStringLiteral("live NPane %1 3").arg(d.id), "snap 0", "calendar"}));
    NativeMedia::setHooks({});
    // Without hooks the buttons do nothing.
    panel.action(DevicePanel::TestLive)->click();
    QTest::qWait(10);
}

void DevicePanelTest::uptimeTab()
{
    Native::Device d = named(up("Gate", {}, 4), {"", "Yard", "Lobby", ""});
    d.ignored = {2};
    Native::UptimeHistory history;
    const QDate today = testNow().date();
    for (int h = 0; h < 9; ++h)
        nativeseed::hour(history, d.id, Native::GraphType::Device, 0, today, h, h == 3 ? 30 : 60);
    nativeseed::hour(history, d.id, Native::GraphType::Camera, 3, today, 4, 60);
    Bench bench;
    bench.load({d, disabled("Off")}, {}, history);
    UptimeTab tab(bench.context());
    QVERIFY(tab.rangeButtons().at(1)->isChecked());
    QVERIFY(tab.seriesButtons().at(1)->isChecked());
    QVERIFY(tab.cameraChoice()->isHidden());
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("No data yet"));
    tab.setDevice(d.id);
    QCOMPARE(tab.heatmap()->rows(), 7);
    // 8.5 of 9 known hours up.
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("94.4% up"));
    QCOMPARE(tab.percentChip()->property("chip").toString(), QStringLiteral("warn"));
    QVERIFY(tab.emptyLabel()->isHidden());
    tab.rangeButtons().at(0)->click();
    QCOMPARE(tab.days(), 0);
    QCOMPARE(tab.heatmap()->rows(), 1);
    tab.seriesButtons().at(2)->click();
    QVERIFY(!tab.cameraChoice()->isHidden());
    QStringList items;
    for (int i = 0; i < tab.cameraChoice()->count(); ++i)
        items << tab.cameraChoice()->itemText(i);
    QCOMPARE(items, (QStringList{"1  Camera 1", "3  Lobby", "4  Camera 4"}));
    tab.cameraChoice()->setCurrentIndex(1); // channel 3: one of the nine checked hours up
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("11.1% up"));
    tab.reloadCameras();
    QCOMPARE(tab.cameraChoice()->currentData().toInt(), 3);
    tab.seriesButtons().at(0)->click();
    QVERIFY(tab.cameraChoice()->isHidden());
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("0.0% up")); // checked hours, internet never up
    QCOMPARE(tab.percentChip()->property("chip").toString(), QStringLiteral("fail"));
    // A device without any history.
    UptimeTab empty(bench.context());
    empty.setDevice(bench.store().devices().last().id);
    Native::Device none = fresh("None");
    bench.store().addDevice(none);
    empty.setDevice(bench.store().devices().last().id);
    QCOMPARE(empty.percentChip()->text(), QStringLiteral("No data yet"));
    QVERIFY(!empty.emptyLabel()->isHidden());
    QCOMPARE(empty.emptyLabel()->text(),
             QStringLiteral("No uptime history yet. Keep the app open or run Fetch so samples can accumulate."));

    // Every channel ignored, camera series: nothing to show.
    Native::Device all = bench.store().device(d.id).value();
    all.ignored = {1, 2, 3, 4};
    QVERIFY(bench.store().updateDevice(all));
    tab.seriesButtons().at(2)->click();
    QVERIFY(tab.chartBox()->isHidden());
    QCOMPARE(tab.emptyLabel()->text(), QStringLiteral("No cameras to show. Every channel is ignored."));
    // A deactivated device, whatever the series.
    tab.setDevice(bench.store().devices().at(1).id);
    QCOMPARE(tab.emptyLabel()->text(), QStringLiteral("No uptime data — device deactivated."));
    QVERIFY(tab.percentChip()->isHidden());

    // Store notices redraw only a visible tab of that device.
    tab.setDevice(d.id);
    const int before = tab.refreshCount();
    Q_EMIT bench.store().deviceUpdated(d.id);
    QCOMPARE(tab.refreshCount(), before);
    tab.show();
    Q_EMIT bench.store().deviceUpdated(QStringLiteral("other"));
    QCOMPARE(tab.refreshCount(), before);
    Q_EMIT bench.store().deviceUpdated(d.id);
    QCOMPARE(tab.refreshCount(), before + 1);
}

void DevicePanelTest::heatmapRules()
{
    QCOMPARE(UptimeHeatmap::colorFor(-1), QColor(0xf1f3f5));
    QCOMPARE(UptimeHeatmap::colorFor(0), QColor(0xdc, 0x35, 0x45, 51));
    QCOMPARE(UptimeHeatmap::colorFor(1), NativeStyle::kWarning);
    QCOMPARE(UptimeHeatmap::colorFor(30), NativeStyle::kSuccess);
    const QColor mid = UptimeHeatmap::colorFor(15);
    QVERIFY(mid.red() < NativeStyle::kWarning.red() && mid.red() > NativeStyle::kSuccess.red());
    QCOMPARE(UptimeHeatmap::colorFor(60), NativeStyle::kSuccess);
    QCOMPARE(UptimeHeatmap::colorFor(45).alphaF(), 0.9f);
    Native::UptimeCell c{QDate(2026, 3, 2), 23, 42};
    QCOMPARE(UptimeHeatmap::tipFor(c),
             QLocale().toString(c.date, QStringLiteral("ddd d MMM"))
                 + QStringLiteral(", 23:00 to 00:00\n42 of 60 min up"));
    c.hour = 7;
    c.minutes = -1;
    QVERIFY(UptimeHeatmap::tipFor(c).endsWith(QStringLiteral(", 07:00 to 08:00\nNo data yet")));

    UptimeHeatmap map;
    map.resize(64 + 24 * 20, 22 + 34 * 10);
    QList<Native::UptimeCell> cells;
    for (int i = 0; i < 30; ++i)
        cells << Native::UptimeCell{QDate(2026, 3, 2), i % 24, 60};
    map.setCells(cells);
    QCOMPARE(map.rows(), 1);
    QCOMPARE(map.cellRect(0, 2), QRectF(64 + 40, 22, 18, 32));      // rows never taller than 34
    QCOMPARE(map.hitAt(QPointF(64 + 40 + 19.5, 30)), QPoint(2, 0)); // the gap belongs to the cell
    QCOMPARE(map.hitAt(QPointF(10, 30)), QPoint(-1, -1));
    QCOMPARE(map.hitAt(QPointF(70, 22 + 34 + 5)), QPoint(-1, -1)); // the six extra cells are not a row
    map.setCells({});
    QCOMPARE(map.hitAt(QPointF(70, 30)), QPoint(-1, -1));
}

void DevicePanelTest::heatmapPaintAndHover()
{
    UptimeHeatmap map;
    map.resize(64 + 24 * 20, 22 + 34 * 2);
    QList<Native::UptimeCell> cells;
    for (int day = 0; day < 2; ++day)
        for (int h = 0; h < 24; ++h)
            cells << Native::UptimeCell{QDate(2026, 3, 1 + day), h, h == 0 ? 60 : h == 1 ? 0 : -1};
    map.setCells(cells);
    map.show();
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    const QImage img = map.grab().toImage();
    QCOMPARE(img.pixelColor(64 + 9, 22 + 16), NativeStyle::kSuccess);
    const QColor light = img.pixelColor(64 + 20 + 9, 22 + 16); // 20% red over the ground
    QVERIFY2(light.red() > light.green() + 20 && light.red() > light.blue() + 15, qPrintable(light.name()));
    QCOMPARE(img.pixelColor(64 + 40 + 9, 22 + 16), QColor(0xf1f3f5));
    QTest::mouseMove(&map, QPoint(64 + 9, 22 + 34 + 16));
    QTRY_COMPARE(map.hovered(), QPoint(0, 1));
    map.setCells(cells);
    QCOMPARE(map.hovered(), QPoint(-1, -1));
    UptimeLegend legend;
    QCOMPARE(legend.sizeHint(), QSize(320, 28));
    legend.resize(360, 28);
    const QImage key = legend.grab().toImage();
    QCOMPARE(key.pixelColor(33, 14), NativeStyle::kWarning);
    const QColor top = key.pixelColor(191, 14);
    QVERIFY2(qAbs(top.red() - 0x28) < 8 && qAbs(top.green() - 0xa7) < 8, qPrintable(top.name()));
    QCOMPARE(key.pixelColor(256, 14), QColor(0xf1f3f5));
}

void DevicePanelTest::camerasTabRows()
{
    Native::Device d = named(up("Gate", {}, 5), {"", "Yard", "3_Lobby", "", "3_"});
    d.ignored = {2};
    d.cameras[0].blur = 40;
    d.cameras[3].onlineKnown = false;
    d.cameras[2].online = false;
    d.cameras[2].lastOnline = QDateTime(QDate(2026, 3, 2), QTime(9, 15));
    d.cameras[2].lastOffline = QDateTime(QDate(2026, 3, 1), QTime(22, 40));
    Bench bench;
    bench.load({d});
    CamerasTab tab(bench.context());
    tab.setDevice(d.id);
    QCOMPARE(tab.signature(), d.id + QStringLiteral(",1,3,4,5"));
    QCOMPARE(tab.rows().size(), 4);
    QStringList names;
    for (const auto& r : tab.rows())
        names << r.name->text();
    QCOMPARE(names, (QStringList{"Camera 1", "Lobby", "Camera 4", "3_"}));
    QCOMPARE(tab.rows().at(0).blur->value(), 40);
    QCOMPARE(tab.rows().at(2).blur->text(), QStringLiteral("Off"));
    QCOMPARE(tab.rows().at(1).dot->state(), Disc::Down);
    QCOMPARE(tab.rows().at(2).dot->state(), Disc::Unknown);
    QCOMPARE(tab.rows().at(1).sub->text(), QStringLiteral("Online 09:15 · Offline 1 Mar 22:40"));
    QVERIFY(tab.rows().at(0).sub->isHidden());
    QCOMPARE(tab.rows().at(0).name->accessibleName(), QStringLiteral("Name of channel 1"));
    QVERIFY(tab.statusLine()->isHidden());

    // Unsaved typing survives a probe result and a busy change...
    tab.rows().at(0).name->setText(QStringLiteral("Typed"));
    bench.controller->run(d.id, NativeController::Refresh);
    QCOMPARE(tab.statusLine()->text(), QStringLiteral("Checking"));
    bench.finishProbes(nativetest::upResult());
    QVERIFY(tab.statusLine()->isHidden());
    QCOMPARE(tab.rows().at(0).name->text(), QStringLiteral("Typed"));
    // ...but not a change of the ignored channels, which rebuilds the rows.
    Native::Device changed = bench.store().device(d.id).value();
    changed.ignored = {2, 4};
    QVERIFY(bench.store().updateDevice(changed));
    QCOMPARE(tab.rows().size(), 3);
    QCOMPARE(tab.rows().at(0).name->text(), QStringLiteral("Camera 1"));

    // A device never probed says how to learn its cameras.
    const Native::Device never = fresh("New", {}, 2);
    bench.load({never});
    CamerasTab fresh(bench.context());
    fresh.setDevice(never.id);
    QCOMPARE(fresh.statusLine()->text(),
             QStringLiteral("Run Fetch device info to see which cameras are online and to fill in their names."));
}

void DevicePanelTest::camerasSaveTwiceKeepsStoredNames()
{
    Native::Device d = named(up("Gate", {}, 5), {"Door", "", "3_Lobby", "", ""});
    Bench bench;
    bench.load({d});
    CamerasTab tab(bench.context());
    tab.setDevice(d.id);
    auto stored = [&bench, &d] {
        QStringList out;
        const Native::Device now = bench.store().device(d.id).value();
        for (const Native::Camera& c : now.cameras)
            out << c.name;
        return out;
    };
    // Rename channel 1 and set a threshold on channel 2; leave the rest.
    tab.rows().at(0).name->setText(QStringLiteral("  Front door "));
    tab.rows().at(1).blur->setValue(25);
    for (int round = 0; round < 2; ++round) {
        Modal::answer(QMessageBox::Close);
        tab.save();
        QCOMPARE(Modal::shown().last(), QStringLiteral("Manage cameras: Camera names updated."));
        // "3_Lobby" shown as "Lobby" and the unnamed "Camera 5" are never
        // written back, however often the user saves.
        QCOMPARE(stored(), (QStringList{"Front door", "", "3_Lobby", "", ""}));
        QCOMPARE(bench.store().device(d.id)->cameras.at(1).blur, 25);
        QCOMPARE(tab.rows().at(2).name->text(), QStringLiteral("Lobby"));
    }
    // An edit after a save is still taken as typed.
    tab.rows().at(2).name->setText(QStringLiteral("Hall"));
    Modal::answer(QMessageBox::Close);
    tab.save();
    QCOMPARE(stored().at(2), QStringLiteral("Hall"));
    // An emptied name of a camera that had one is stored as its placeholder.
    tab.rows().at(0).name->clear();
    Modal::answer(QMessageBox::Close);
    tab.save();
    QCOMPARE(stored().at(0), QStringLiteral("Camera 1"));
}

void DevicePanelTest::cameraButtonsLeaveHandler()
{
    const Native::Device d = up("Gate", {}, 2);
    Bench bench;
    bench.load({d});
    CamerasTab tab(bench.context());
    tab.setObjectName(QStringLiteral("camerasTab"));
    tab.setDevice(d.id);
    QPointer<QPushButton> live = tab.rows().at(1).live;
    QStringList calls;
    bool clickReturned = false;
    bool handlerOver = false;
    NativeMedia::Hooks hooks;
    hooks.openLive = [&](QWidget* parent, const QString& id, int channel) {
        handlerOver = clickReturned;
        // The live dialog is open; a notice rebuilds the rows under it.
        tab.clearSignature();
        tab.refresh();
        calls << QStringLiteral("%1 %2 %3").arg(parent->objectName(), id).arg(channel);
    };
    hooks.snapshots = [&](QWidget*, const QString&, int channel) { calls << QStringLiteral("snap %1").arg(channel); };
    NativeMedia::setHooks(hooks);
    live->click();
    clickReturned = true;
    QTRY_COMPARE(calls.size(), 1);
    QVERIFY(handlerOver);
    QVERIFY(live.isNull());
    QCOMPARE(calls.first(), QStringLiteral("camerasTab %1 2").arg(d.id));
    tab.snapshotsButton()->click();
    tab.rows().at(0).snapshot->click();
    QTRY_COMPARE(calls.size(), 3);
    QCOMPARE(calls.mid(1), (QStringList{"snap 0", "snap 1"}));
    NativeMedia::setHooks({});
}

KVR_TEST_MAIN(DevicePanelTest)
#include "tst_device_panel.moc"
