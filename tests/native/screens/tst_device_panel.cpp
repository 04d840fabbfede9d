// The device panel and its tabs: the text rules, the header and details of
// devices in each state, editing, deactivating and removing, the uptime tab
// and heat map, and the cameras tab with its saving rules.

#include "app/core/ShownText.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeStyle.h"
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

using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

using namespace screenskit;
using namespace DevicePanelRules;
using NativeStyle::chipWord;
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

// The text of the chip a screen reader names "<caption>: <text>".
QString chipText(QWidget* root, const QString& caption)
{
    for (QLabel* l : root->findChildren<QLabel*>(QStringLiteral("NChip")))
        if (l->accessibleName() == caption + QStringLiteral(": ") + l->text())
            return l->text();
    return QStringLiteral("<none>");
}

Native::Device named(Native::Device d, const QStringList& names)
{
    for (int i = 0; i < names.size() && i < d.cameras.size(); ++i)
        d.cameras[i].name = names.at(i);
    return d;
}

// Clicks the button of the panel's details that reads so.
void press(DevicePanel* panel, const char* text)
{
    findByText<QPushButton>(panel->detailsWidget(), QString::fromLatin1(text))->click();
}

} // namespace

class DevicePanelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { Modal::reset(); }
    void textAndChipRules();
    void detailsByStateAndDeactivation();
    void editSiteLeavesHandlerThenUpdateAndRemove();
    void updateKeepsWhatAProbeFoundWhileTheFormWasOpen();
    void aLateRebuildNeverReplacesTheFormBeingTyped();
    void aChangeThatCannotBeSavedIsSaidHere();
    void reportFromTheDetailsSaysWhere();
    void closingAsksBeforeTypedChangesGo();
    void uptimeTabAndHeatmap();
    void camerasTabRows();
    void camerasSaveTwiceKeepsStoredNames();
    void camerasTypedAskBeforeTheyGo();
    void mediaActionsLeaveHandler();
    void storedTextsOfAnyLengthShowCutAndStayWhole();
};

void DevicePanelTest::textAndChipRules()
{
    // Short times ("09:15", "1 Mar 22:40") show in the camera rows below.
    QCOMPARE(typeLabel(QStringLiteral("panel")) + typeLabel(QStringLiteral("ipcamera")),
             QStringLiteral("PANELIP camera"));

    // The header as "dot text | note" (dots: 0 up, 1 down, 2 unknown).
    const std::tuple<Native::Device, bool, const char*> headers[] = {
        {disabled("a", "Moved"), true, "2 Deactivated | Moved"},
        {up("a"), true, "2 Checking | "},
        {up("a"), false, "0 Online | Last checked 09:29"},
        {down("a"), false, "1 Offline | Last checked 09:29"},
        {fresh("a"), false, "2 Not checked | "},
    };
    for (const auto& [device, busy, header] : headers) {
        const HeaderStatus s = headerStatus(device, busy, testNow());
        QCOMPARE(QStringLiteral("%1 %2 | %3").arg(int(s.dot)).arg(s.text, s.note), QString::fromLatin1(header));
    }
    // Each chip as "text | tip | look", after the case's name.
    auto check = [](const char* name, const ChipText& c, const char* expected) {
        QCOMPARE(
            QStringLiteral("%1: %2 | %3 | %4").arg(QLatin1String(name), c.text, c.tip, QLatin1String(chipWord(c.kind))),
            QStringLiteral("%1: %2").arg(QLatin1String(name), QString::fromUtf8(expected)));
    };
    check("check busy", checkChip(2, "Open", "Closed", "Not checked", true), "Checking |  | info");
    check("check pass", checkChip(2, "Open", "Closed", "Not checked", false), "Open |  | pass");
    Native::Health h;
    check("network unknown", networkChip(h, false), "Not checked |  | unknown");
    h.quality = QStringLiteral("Degraded");
    h.latencyMs = 180;
    h.lossPercent = 33;
    check("network degraded", networkChip(h, false), "Degraded · 180 ms | 33% of connection attempts failed | warn");
    h.quality = QStringLiteral("Poor");
    check("network busy", networkChip(h, true), "Checking |  | info");
    Native::Health disk;
    disk.hdd = QStringLiteral("Fault");
    check("disk fault", diskChip(disk), "Fault |  | fail");
    disk.hdd = QStringLiteral("ok");
    check("disk other", diskChip(disk), "Not checked |  | unknown");
    // A disk state the last check could not read is unknown, and says why.
    disk.hdd.clear();
    disk.unread = {{Native::Detail::CameraStates, QStringLiteral("x")},
                   {Native::Detail::Disks, QStringLiteral("No answer in time.")}};
    check("disk unread", diskChip(disk), "Unknown | Not read at the last check: No answer in time. | warn");
    // A login the device let through reads as passed, with the answer's
    // failure beside it; a refused one as failed.
    Native::Health login;
    login.device = Native::Failed;
    login.error = QStringLiteral("The device accepted the login, but its answer failed: x.");
    check("login then loop", loginChip(Native::Passed, login, "Not offered", false),
          "Passed | The login passed; then: The device accepted the login, but its answer failed: x. | pass");
    check("login refused", loginChip(Native::Failed, login, "Not offered", false), "Failed |  | fail");
    login.device = Native::Passed;
    check("login passed", loginChip(Native::Passed, login, "Not offered", false), "Passed |  | pass");
    auto rec = [](int days, int window, const char* brand = "HIKVISION") {
        Native::Device d = up("r");
        d.manufacturer = QString::fromLatin1(brand);
        d.health.recordingDays = days;
        d.health.recordingWindow = window;
        return recordingChip(d);
    };
    check("21 of 30", rec(21, 30), "21 of 30 days |  | warn"); // the levels are the fleet rules' own
    check("window 0", rec(20, 0), "Not checked |  | unknown");
    check("no calendar", rec(-1, 30, "SAMSUNG"), " |  | unknown");
    check("99.0", percentChip(99.0), "99.0% up |  | pass");
    check("98.96", percentChip(98.96), "99.0% up |  | warn");
    check("89.9", percentChip(89.9), "89.9% up |  | fail");
    check("none", percentChip(-1), "No data yet |  | unknown");
}

void DevicePanelTest::detailsByStateAndDeactivation()
{
    const Native::Site s = site("Depot", "FiberNet", "Asha");
    Native::Device samsung = fresh("Samsung", {}, 2);
    samsung.manufacturer = QStringLiteral("SAMSUNG");
    const Native::Device hik = fresh("Hik", {}, 2);
    Native::Device busy = down("Busy");
    busy.health.httpPort = Native::Passed;
    Native::Device gate = up("Gate", s.id);
    gate.password = QStringLiteral("abc");
    gate.ignored = {2, 3};
    Native::Device nameless = up("Reported NVR");
    nameless.name.clear();
    Native::Device six = up("Six");
    six.ip = QStringLiteral("fe80::1%eth0");
    Bench bench({hik, samsung, busy, gate, nameless, six}, {s});
    DevicePanel panel(bench.context());
    auto texts = [&panel] { return labelTexts(panel.detailsWidget()); };
    auto chip = [&panel](const char* caption) { return chipText(panel.detailsWidget(), QLatin1String(caption)); };
    // Never probed: nothing checked or fetched yet; no site.
    panel.setDevice(hik.id);
    QCOMPARE(panel.statusText()->text() + QLatin1Char('/') + chip("Basic login"),
             QStringLiteral("Not checked/Not checked"));
    QCOMPARE(texts().count(QStringLiteral("Not fetched yet")), 6);
    QVERIFY(texts().contains(QStringLiteral("This device isn't in a site. Edit the device to choose one.")));
    QCOMPARE(panel.camerasTab()->statusLine()->text(),
             QStringLiteral("Run Fetch device info to see which cameras are online and to fill in their names."));
    panel.setDevice(samsung.id);
    QVERIFY(texts().contains(QStringLiteral("Not available for this brand"))
            && panel.action(DevicePanel::Calendar)->isHidden());
    // Down, then checked: "Checking" in place of the error while it runs.
    panel.setDevice(busy.id);
    QVERIFY(texts().contains(QStringLiteral("Device is offline.")));
    bench.controller->run(busy.id, NativeController::Diagnose);
    QCOMPARE(panel.statusText()->text() + QLatin1Char('/') + chip("Internet"), QStringLiteral("Checking/Checking"));
    QVERIFY(!panel.action(DevicePanel::FetchInfo)->isEnabled()
            && !texts().contains(QStringLiteral("Device is offline.")));
    bench.finishProbes(nativetest::upResult());
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Online"));
    // A check whose login passed and whose answer then looped: the login
    // reads as it went, the answer's failure beside it; then a fetch that
    // could not read the disks: unknown, saying why.
    Native::ProbeResult looped = nativetest::upResult();
    looped.health.device = Native::Failed;
    looped.health.digest = Native::Passed;
    looped.health.error = QStringLiteral("The device accepted the login, but its answer failed: a loop.");
    bench.controller->run(busy.id, NativeController::Diagnose);
    bench.finishProbes(looped);
    auto chipTip = [&panel](const char* caption) {
        for (QLabel* l : panel.detailsWidget()->findChildren<QLabel*>(QStringLiteral("NChip")))
            if (l->accessibleName() == QLatin1String(caption) + QStringLiteral(": ") + l->text())
                return l->toolTip();
        return QString();
    };
    QCOMPARE(chip("Digest login") + QLatin1Char('/') + chipTip("Digest login"),
             QStringLiteral("Passed/The login passed; then: ") + looped.health.error);
    QVERIFY(texts().contains(looped.health.error));
    Native::ProbeResult unread = nativetest::upResult();
    unread.detailsFetched = true;
    unread.health.unread = {{Native::Detail::Disks, QStringLiteral("No answer in time.")}};
    bench.controller->run(busy.id, NativeController::Fetch);
    bench.finishProbes(unread);
    QVERIFY(texts().contains(QStringLiteral("Unknown")));
    // In a site, with a password: masked until shown, for this device only.
    panel.setDevice(gate.id);
    for (const QString& t : {QString(8, QChar(0x2022)), QStringLiteral("2, 3"), QStringLiteral("FiberNet")})
        QVERIFY2(texts().contains(t), qPrintable(t));
    QCOMPARE(panel.subtitleLabel()->text(),
             QStringLiteral("Depot  ·  127.0.0.1:%1  ·  HIKVISION  ·  NVR").arg(gate.httpPort));
    // An IPv6 address is bracketed before its port.
    panel.setDevice(six.id);
    QCOMPARE(panel.subtitleLabel()->text(),
             QStringLiteral("[fe80::1%eth0]:%1  ·  HIKVISION  ·  NVR").arg(six.httpPort));
    panel.setDevice(gate.id);
    // A device without a name goes by the name it reported, in the title
    // and in the window's.
    QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Gate"));
    panel.setDevice(nameless.id);
    QCOMPARE(panel.titleLabel()->text(), QStringLiteral("Reported NVR"));
    QCOMPARE(DeviceDetailsDialog(bench.context(), nameless.id).windowTitle(),
             QStringLiteral("Device details · Reported NVR"));
    panel.setDevice(gate.id);
    findByText<QPushButton>(panel.detailsWidget(), QStringLiteral("Show password"))->click();
    QTRY_VERIFY(texts().contains(QStringLiteral("abc")));
    panel.setDevice(gate.id);
    QVERIFY(panel.isPasswordShown());
    panel.setDevice(busy.id);
    QVERIFY(!panel.isPasswordShown() && texts().contains(QStringLiteral("None")));
    panel.setDevice(gate.id);
    // Deactivating asks for a reason; one of spaces is none.
    QString label;
    Modal::respond([&label](QDialog& dlg) {
        auto& input = dynamic_cast<QInputDialog&>(dlg);
        label = input.labelText();
        input.setTextValue(QStringLiteral("   "));
        return int(QDialog::Accepted);
    });
    panel.toggleEnabled();
    QCOMPARE(label, QStringLiteral("Checks and uptime history stop until it is activated again.\nReason (optional)"));
    QVERIFY(!bench.store().device(gate.id)->enabled && bench.store().device(gate.id)->disabledReason.isEmpty());
    QCOMPARE(panel.statusText()->text(), QStringLiteral("Deactivated"));
    for (int a : {DevicePanel::RunDiagnostic, DevicePanel::Snapshots, DevicePanel::TestLive})
        QVERIFY(!panel.action(a)->isEnabled()
                && panel.action(a)->toolTip() == QStringLiteral("This device is deactivated."));
    // Activating asks nothing.
    const auto asked = Modal::shown().size();
    panel.action(DevicePanel::Enable)->click();
    QTRY_VERIFY(bench.store().device(gate.id)->enabled);
    QVERIFY(Modal::shown().size() == asked && panel.action(DevicePanel::Snapshots)->toolTip().isEmpty());
}

void DevicePanelTest::editSiteLeavesHandlerThenUpdateAndRemove()
{
    const Native::Site s = site("Depot");
    const Native::Device d = up("Gate", s.id);
    Native::Device other = up("Other");
    other.ip = QStringLiteral("10.20.30.40");
    Bench bench({d, other}, {s});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    QSignalSpy accepted(&dialog, &QDialog::accepted);
    DevicePanel* panel = dialog.panel();
    // The site dialog opened from "Edit site" runs while a probe result
    // rebuilds the details, deleting the button that was clicked.
    QPointer<QPushButton> edit = findByText<QPushButton>(panel->detailsWidget(), QStringLiteral("Edit site"));
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
    QVERIFY(handlerOver && edit.isNull());
    QCOMPARE(bench.store().site(s.id)->name, QStringLiteral("Depot North"));
    QTRY_VERIFY(labelTexts(panel->detailsWidget()).contains(QStringLiteral("Depot North")));

    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->addressField()->setText(QStringLiteral("a b"));
    panel->form()->nameField()->setText(QStringLiteral("Renamed"));
    Modal::answer(QMessageBox::Close);
    press(panel, "Update");
    QTRY_COMPARE(Modal::pending(), 0);
    QCOMPARE(Modal::shown().last(), QStringLiteral("Can’t save: Enter the device's IP address or host name."));
    QVERIFY(panel->isEditing());
    // Moved onto a recorder already listed: refused, as adding it would be.
    panel->form()->addressField()->setText(other.ip);
    Modal::answer(QMessageBox::Close);
    press(panel, "Update");
    QTRY_COMPARE(Modal::pending(), 0);
    QCOMPARE(Modal::shown().last(),
             QStringLiteral("Can’t save: 10.20.30.40:%1 is already in the list as \"Other\".").arg(other.httpPort));
    QVERIFY(panel->isEditing());
    // Notices while editing leave the form alone.
    QPointer<DeviceForm> form = panel->form();
    Q_EMIT bench.store().deviceUpdated(d.id);
    QCOMPARE(panel->form(), form.data());
    // A good update stores the device and starts no probe.
    panel->form()->addressField()->setText(QStringLiteral("127.0.0.1"));
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Renamed"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Device details · Renamed")); // not only when opened again
    QVERIFY(bench.pending.isEmpty());
    // A cancelled removal and Cancel store nothing. The question's "Remove"
    // is red and not the default: Enter cancels.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->nameField()->setText(QStringLiteral("Not stored"));
    dialog.setStyleSheet(NativeStyle::stylesheet());
    QString look;
    Modal::respond([&look](QDialog& asked) {
        auto& box = static_cast<QMessageBox&>(asked);
        QPushButton* remove = findByText<QPushButton>(&box, QStringLiteral("Remove"));
        box.show();
        if (!remove || !QTest::qWaitForWindowExposed(&box))
            return int(QMessageBox::RejectRole);
        const QPoint inside = remove->mapTo(&box, QPoint(4, remove->height() / 2));
        QTest::keyClick(&box, Qt::Key_Return);
        look = box.text() + QLatin1Char('|')
            + QStringLiteral("%1 %2 default %3 enter %4")
                  .arg(remove->objectName(),
                       box.grab().toImage().pixelColor(inside) == NativeStyle::kDanger ? "red" : "not red",
                       box.defaultButton() ? box.defaultButton()->text() : QString(),
                       box.clickedButton() ? box.clickedButton()->text() : QString());
        return int(QMessageBox::RejectRole);
    });
    press(panel, "Remove device");
    // The question names the device.
    QTRY_COMPARE(look,
                 QStringLiteral("Remove Renamed? Its camera names and uptime history are deleted from this "
                                "computer.|NDanger red default Cancel enter Cancel"));
    QTRY_COMPARE(Modal::pending(), 0);
    press(panel, "Cancel");
    QTRY_VERIFY(!panel->isEditing());
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Renamed"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Device details · Renamed")); // not only when opened again
    // A confirmed removal closes the dialog.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    Modal::respond([](QDialog&) { return int(QMessageBox::DestructiveRole); });
    press(panel, "Remove device");
    QTRY_COMPARE(accepted.count(), 1);
    QVERIFY(!bench.store().hasDevice(d.id));
}

// A person edits the connection while "Fetch device info" finds more
// channels than the form shows: Update saves what the person changed (the
// name) onto the device as it stands, its new channels and their settings
// kept; a field the person did change (the ignored channels) is read
// against those channels.
void DevicePanelTest::updateKeepsWhatAProbeFoundWhileTheFormWasOpen()
{
    const Native::Device d = up("Gate", {}, 4);
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    DevicePanel* panel = dialog.panel();
    const auto stored = [&] { return bench.store().device(d.id).value(); };
    // Edit connection, Channels 4, Update; Edit connection again.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->channelsField()->setValue(4);
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    // "Fetch device info" while the form is open: the recorder has 8.
    panel->action(DevicePanel::FetchInfo)->click();
    QTRY_COMPARE(bench.pending.size(), 1);
    Native::ProbeResult found;
    found.health = d.health;
    found.detailsFetched = true;
    found.channelsKnown = true;
    for (int ch = 1; ch <= 8; ++ch)
        found.channels.append({ch, QStringLiteral("Lane %1").arg(ch), true, true});
    bench.finishProbes(found);
    QTRY_COMPARE(stored().channels, 8);
    // Channel 6 gets its blur, channel 7 is ignored, elsewhere meanwhile.
    QList<Native::Camera> cameras = stored().cameras;
    cameras[5].blur = 40;
    bench.store().saveCameras(d.id, cameras);
    Native::Device ignoring = stored();
    ignoring.ignored = {7};
    QVERIFY(bench.store().updateDevice(ignoring));
    QCOMPARE(panel->form()->channelsField()->value(), 4); // the open form still says 4
    panel->form()->nameField()->setText(QStringLiteral("Gate North"));
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    Native::Device after = stored();
    QCOMPARE(QStringLiteral("%1 %2 ch %3 blur %4 ignored %5")
                 .arg(after.name)
                 .arg(after.cameras.size())
                 .arg(after.channels)
                 .arg(after.cameras.value(5).blur)
                 .arg(after.ignored.value(0)),
             QStringLiteral("Gate North 8 ch 8 blur 40 ignored 7"));
    QCOMPARE(after.cameras.value(7).name, QStringLiteral("Lane 8"));
    // Ignored channels typed in the form count up to the device's 8.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->ignoredField()->setText(QStringLiteral("2, 8"));
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    QCOMPARE(stored().ignored, (QList<int>{2, 8}));
    QCOMPARE(stored().channels, 8);
}

// A change made in the panel that the disk does not take (full) is undone
// and said over the panel, which shows the device as it is kept.
void DevicePanelTest::aChangeThatCannotBeSavedIsSaidHere()
{
    const Native::Device d = up("Gate", {}, 4);
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    dialog.show();
    DevicePanel* panel = dialog.panel();
    Modal::setStrict(true);
    QString said;
    Modal::respond([&](QDialog& box) {
        said = box.windowTitle() + ": " + static_cast<QMessageBox&>(box).text();
        return int(QMessageBox::Close);
    });
    {
        nativetest::FileSizeLimit full(16);
        panel->startEdit();
        QTRY_VERIFY(panel->form());
        panel->form()->nameField()->setText(QStringLiteral("Gate North"));
        press(panel, "Update");
        QTRY_VERIFY(!panel->isEditing());
        bench.store().flush();
        QTRY_VERIFY(!said.isEmpty());
    }
    QVERIFY2(said.startsWith(QStringLiteral("Can’t save: The device list could not be saved in ")), qPrintable(said));
    QVERIFY(said.contains(QStringLiteral("(File too large), so the changes since its last save were undone")));
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Gate"));
    QVERIFY(dialog.windowTitle().endsWith(QStringLiteral("Gate")));
    Modal::setStrict(false);
}

// On a busy machine the panel's rebuild after Update may still be on its way
// when the person presses Edit connection again. They type into the first
// form that shows, while what else was on its way still comes: Update saves
// what they typed, not a form built again behind it.
void DevicePanelTest::aLateRebuildNeverReplacesTheFormBeingTyped()
{
    const Native::Device d = up("Gate", {}, 4);
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    DevicePanel* panel = dialog.panel();
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->setObjectName(QStringLiteral("saved")); // stands until the panel is built again
    press(panel, "Update");
    QCoreApplication::sendPostedEvents(); // the update, not yet what it asked for
    QVERIFY(!panel->isEditing());
    panel->startEdit();

    struct Typist : QObject {
        DevicePanel* panel;
        bool typed = false;
        explicit Typist(DevicePanel* p) : panel(p) { panel->installEventFilter(this); }
        bool shows() const { return panel->form() && panel->form()->objectName().isEmpty(); }
        void type()
        {
            typed = true;
            panel->form()->nameField()->setText(QStringLiteral("Gate North"));
            press(panel, "Update");
        }
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::MetaCall && !typed && shows())
                type();
            return false;
        }
    } typist(panel);
    QTRY_VERIFY(typist.shows());
    if (!typist.typed)
        typist.type();
    QTRY_VERIFY(!panel->isEditing());
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Gate North"));
}

// A report of the device says where it was written, so it can be found,
// over the details dialog the person works in (not in the window beneath).
void DevicePanelTest::reportFromTheDetailsSaysWhere()
{
    const Native::Device d = up("Gate");
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    const QString report = documents() + QStringLiteral("/gate.csv");
    exportNextReportTo(report);
    Q_EMIT dialog.panel()->reportRequested(d.id);
    QVERIFY(QFile::exists(report));
    QLabel* toast = dialog.toastLabel();
    QCOMPARE(toast->text(), QStringLiteral("Report exported to ") + QDir::toNativeSeparators(report));
    QVERIFY(toast->isVisible() && toast->window() == &dialog);
    QVERIFY2(dialog.rect().contains(toast->geometry()),
             qPrintable(QStringLiteral("%1x%2 at %3,%4 in %5x%6")
                            .arg(toast->width())
                            .arg(toast->height())
                            .arg(toast->x())
                            .arg(toast->y())
                            .arg(dialog.width())
                            .arg(dialog.height())));
    // Over the panel, not hidden beneath it.
    QCOMPARE(dialog.childAt(toast->geometry().center()), static_cast<QWidget*>(toast));
}

// The device form typed into asks before Escape or "Close" throws the
// typing away; untouched it closes at once.
void DevicePanelTest::closingAsksBeforeTypedChangesGo()
{
    const Native::Device d = up("Gate");
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    DevicePanel* panel = dialog.panel();
    const auto answer = [](QMessageBox::ButtonRole role) { Modal::respond([role](QDialog&) { return int(role); }); };
    const auto open = [&dialog] {
        dialog.show();
        return QTest::qWaitForWindowExposed(&dialog);
    };
    QVERIFY(open());
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    QTest::keyClick(panel->form()->nameField(), Qt::Key_Escape);
    QVERIFY(!dialog.isVisible() && Modal::shown().isEmpty());

    QVERIFY(open());
    QVERIFY(panel->isEditing());
    QTest::keyClicks(panel->form()->nameField(), QStringLiteral(" North"));
    answer(QMessageBox::RejectRole); // Keep editing
    QTest::keyClick(panel->form()->nameField(), Qt::Key_Escape);
    QVERIFY(dialog.isVisible() && panel->isEditing());
    QCOMPARE(panel->form()->nameField()->text(), QStringLiteral("Gate North"));
    answer(QMessageBox::RejectRole);
    findByText<QPushButton>(&dialog, QStringLiteral("Close"))->click();
    QVERIFY(dialog.isVisible());
    answer(QMessageBox::DestructiveRole);
    findByText<QPushButton>(&dialog, QStringLiteral("Close"))->click();
    QVERIFY(!dialog.isVisible());
    QCOMPARE(Modal::shown(),
             QStringList(3,
                         QStringLiteral("Discard changes: Discard the changes you typed? They have "
                                        "not been saved.")));
    QCOMPARE(bench.store().device(d.id)->name, QStringLiteral("Gate"));
}

void DevicePanelTest::uptimeTabAndHeatmap()
{
    Native::Device d = named(up("Gate", {}, 4), {"", "Yard", "Lobby", ""});
    d.ignored = {2};
    Native::UptimeHistory history;
    const QDate today = testNow().date();
    for (int h = 0; h < 9; ++h)
        nativeseed::hour(history, d.id, Native::GraphType::Device, 0, today, h, h == 3 ? 30 : 60);
    for (int h = 0; h < 9; ++h) // camera 3 known all along, up one hour
        nativeseed::hour(history, d.id, Native::GraphType::Camera, 3, today, h, h == 4 ? 60 : 0);
    Bench bench({d, disabled("Off")}, {}, history);
    UptimeTab tab(bench.context());
    tab.setDevice(d.id);
    QCOMPARE(tab.heatmap()->rows(), 7);
    // 8.5 of 9 known hours up, in the percent chip rule's colour.
    QCOMPARE(tab.percentChip()->text() + tab.percentChip()->property("chip").toString(),
             QStringLiteral("94.4% upwarn"));
    tab.rangeButtons().at(0)->click();
    QCOMPARE(tab.heatmap()->rows(), 1);
    tab.seriesButtons().at(2)->click();
    QCOMPARE(tab.cameraChoice()->count(), 3); // channel 2 is ignored
    QCOMPARE(tab.cameraChoice()->itemText(1), QStringLiteral("3  Lobby"));
    tab.cameraChoice()->setCurrentIndex(1); // channel 3: one of the nine checked hours up
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("11.1% up"));
    tab.seriesButtons().at(0)->click();
    QCOMPARE(tab.percentChip()->text(), QStringLiteral("0.0% up")); // checked hours, internet never up
    // Every channel ignored, camera series: nothing to show.
    Native::Device all = bench.store().device(d.id).value();
    all.ignored = {1, 2, 3, 4};
    QVERIFY(bench.store().updateDevice(all));
    tab.setDevice(d.id);
    tab.seriesButtons().at(2)->click();
    QVERIFY(tab.chartBox()->isHidden());
    QCOMPARE(tab.emptyLabel()->text(), QStringLiteral("No cameras to show. Every channel is ignored."));
    // A deactivated device, whatever the series.
    tab.setDevice(bench.store().devices().at(1).id);
    QCOMPARE(tab.emptyLabel()->text(), QStringLiteral("No uptime data — device deactivated."));
    QVERIFY(tab.percentChip()->isHidden());
    using NativeStyle::kSuccess;
    const QColor grey(0xf1f3f5), lightRed(0xdc, 0x35, 0x45, 51);
    QCOMPARE((QList<QColor>{UptimeHeatmap::colorFor(-1), UptimeHeatmap::colorFor(0), UptimeHeatmap::colorFor(1),
                            UptimeHeatmap::colorFor(30), UptimeHeatmap::colorFor(60)}),
             (QList<QColor>{grey, lightRed, NativeStyle::kWarning, kSuccess, kSuccess}));
    Native::UptimeCell c{QDate(2026, 3, 2), 23, 42};
    QCOMPARE(UptimeHeatmap::tipFor(c),
             QLocale().toString(c.date, QStringLiteral("ddd d MMM"))
                 + QStringLiteral(", 23:00 to 00:00\n42 of 60 min up"));

    UptimeHeatmap map;
    map.resize(64 + 24 * 20, 22 + 34 * 10);
    QList<Native::UptimeCell> cells;
    for (int i = 0; i < 30; ++i)
        cells << Native::UptimeCell{QDate(2026, 3, 2), i % 24, 60};
    map.setCells(cells);
    QCOMPARE(map.rows(), 1);
    QCOMPARE(map.cellRect(0, 2), QRectF(64 + 40, 22, 18, 32));      // rows never taller than 34
    QCOMPARE(map.hitAt(QPointF(64 + 40 + 19.5, 30)), QPoint(2, 0)); // the gap belongs to the cell
    QCOMPARE(map.hitAt(QPointF(70, 22 + 34 + 5)), QPoint(-1, -1));  // the six extra cells are not a row

    // Painted: the cells take their colours.
    map.show();
    QVERIFY(QTest::qWaitForWindowExposed(&map));
    QCOMPARE(map.grab().toImage().pixelColor(64 + 9, 22 + 16), NativeStyle::kSuccess);
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
    Bench bench({d});
    CamerasTab tab(bench.context());
    tab.setDevice(d.id);
    // Each row as "name, blur, dot, the line under it" (dots: 0 up, 1 down, 2 unknown).
    auto rows = [&tab] {
        return lines(tab.rows(), [](const auto& r) {
            const QString sub = r.sub->isHidden() ? QString() : r.sub->text();
            return QStringLiteral("%1, %2, %3, %4")
                .arg(r.name->text(), r.blur->text())
                .arg(int(r.dot->state()))
                .arg(sub);
        });
    };
    QCOMPARE(rows(),
             (QStringList{"Camera 1, 40, 0, ", "Lobby, Off, 1, Online 09:15 · Offline 1 Mar 22:40",
                          "Camera 4, Off, 2, ", "3_, Off, 0, "}));
    QVERIFY(tab.statusLine()->isHidden() && tab.rows().at(0).name->accessibleName() == "Name of channel 1");

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
    QCOMPARE(rows().size(), 3);
    QCOMPARE(rows().first(), QStringLiteral("Camera 1, 40, 0, Online 09:30")); // seen by the probe
}

void DevicePanelTest::camerasSaveTwiceKeepsStoredNames()
{
    Native::Device d = named(up("Gate", {}, 5), {"Door", "", "3_Lobby", "", ""});
    Bench bench({d});
    CamerasTab tab(bench.context());
    tab.setDevice(d.id);
    auto stored = [&bench, &d] {
        return lines(bench.store().device(d.id)->cameras, [](const Native::Camera& c) { return c.name; });
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

// Names typed in "Manage cameras" and a threshold set: Escape and "Close"
// ask before they go, and a change that builds the rows anew (a channel
// ignored) keeps them; once saved, nothing is asked.
void DevicePanelTest::camerasTypedAskBeforeTheyGo()
{
    const Native::Device d = named(up("Gate", {}, 3), {"Door", "", ""});
    Bench bench({d});
    DeviceDetailsDialog dialog(bench.context(), d.id);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    CamerasTab* tab = dialog.panel()->camerasTab();
    dialog.panel()->tabs()->setCurrentWidget(tab);
    QVERIFY(!tab->hasChanges());
    QLineEdit* yard = tab->rows().at(1).name;
    QTest::keyClick(yard, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(yard, QStringLiteral("Yard"));
    QSpinBox* blur = tab->rows().at(0).blur;
    QTest::keyClick(blur, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(blur, QStringLiteral("30"));
    QVERIFY(tab->hasChanges());
    Modal::respond([](QDialog&) { return int(QMessageBox::RejectRole); }); // Keep editing
    QTest::keyClick(yard, Qt::Key_Escape);
    QVERIFY(dialog.isVisible());
    Modal::respond([](QDialog&) { return int(QMessageBox::RejectRole); });
    findByText<QPushButton>(&dialog, QStringLiteral("Close"))->click();
    QVERIFY(dialog.isVisible());
    QCOMPARE(
        Modal::shown(),
        QStringList(2, QStringLiteral("Discard changes: Discard the changes you typed? They have not been saved.")));

    Native::Device changed = bench.store().device(d.id).value();
    changed.ignored = {3};
    QVERIFY(bench.store().updateDevice(changed));
    QCOMPARE(tab->rows().size(), 2);
    QCOMPARE(tab->rows().at(1).name->text(), QStringLiteral("Yard"));
    QCOMPARE(tab->rows().at(0).blur->value(), 30);
    QVERIFY(tab->hasChanges());

    Modal::answer(QMessageBox::Close);
    tab->save();
    QVERIFY(!tab->hasChanges());
    QTest::keyClick(tab->rows().at(1).name, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(Modal::shown().last(), QStringLiteral("Manage cameras: Camera names updated."));
    QCOMPARE(bench.store().device(d.id)->cameras.at(1).name, QStringLiteral("Yard"));
}

void DevicePanelTest::mediaActionsLeaveHandler()
{
    Native::Device d = up("Gate", {}, 4);
    d.ignored = {1, 2};
    Bench bench({d});
    DevicePanel panel(bench.context());
    panel.setDevice(d.id);
    CamerasTab& tab = *panel.camerasTab();
    tab.setObjectName(QStringLiteral("cameras"));
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
        calls << QStringLiteral("live %1 %2 %3").arg(parent->objectName(), id).arg(channel);
    };
    hooks.snapshots = [&](QWidget*, const QString&, int channel) { calls << QStringLiteral("snap %1").arg(channel); };
    NativeMedia::setHooks(hooks);
    live->click();
    clickReturned = true;
    QTRY_COMPARE(calls.size(), 1);
    QVERIFY(handlerOver);
    QVERIFY(live.isNull());
    // The header's test opens the first channel not ignored.
    panel.action(DevicePanel::TestLive)->click();
    tab.rows().at(0).snapshot->click();
    QCOMPARE(calls.size(), 1); // not inside the clicks
    QTRY_COMPARE(calls.size(), 3);
    QCOMPARE(calls,
             (QStringList{QStringLiteral("live cameras %1 4").arg(d.id), QStringLiteral("live NPane %1 3").arg(d.id),
                          "snap 3"}));
    NativeMedia::setHooks({});
}

// A device and a site from an inventory written before texts had a bound:
// the panel, its tabs and the forms show them cut (before anything lays them
// out), and a save that leaves them untouched keeps them whole.
void DevicePanelTest::storedTextsOfAnyLengthShowCutAndStayWhole()
{
    const qsizetype most = 2 * kvr::core::tun::kShownNoteChars;
    Native::Site depot = site(overLong("Depot"), overLong("Provider"), overLong("Contact"));
    depot.address = overLong("Address");
    depot.sim = overLong("SIM");
    depot.notes = overLong("Notes");
    Native::Device gate = down(overLong("Gate"), depot.id);
    gate.health.internet = gate.health.httpPort = Native::Passed;
    gate.health.error = overLong("Refused");
    gate.health.model = overLong("Model");
    gate.health.deviceTime = overLong("Time");
    gate.username = overLong("user");
    gate.password = overLong("pw");
    gate.cameras[0].name = overLong("Camera");
    Bench bench({gate}, {depot});
    DeviceDetailsDialog dialog(bench.context(), gate.id);
    DevicePanel* panel = dialog.panel();
    QString where;
    for (int tab = 0; tab < panel->tabs()->count(); ++tab) {
        panel->tabs()->setCurrentIndex(tab);
        QVERIFY2(longestShownText(&dialog, &where) <= most, qPrintable(where));
    }
    press(panel, "Show");
    QTRY_VERIFY(findByText<QPushButton>(panel->detailsWidget(), QStringLiteral("Hide")));
    QVERIFY2(longestShownText(&dialog, &where) <= most, qPrintable(where));

    // Saved with only the port changed: the long texts stay as stored.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    QVERIFY2(longestShownText(&dialog, &where) <= most, qPrintable(where));
    QVERIFY(!panel->form()->hasChanges());
    const Native::Device asHeld = panel->form()->device();
    QCOMPARE(QStringList({asHeld.name, asHeld.username, asHeld.password}),
             QStringList({gate.name, gate.username, gate.password}));
    panel->form()->httpPortField()->setValue(8080);
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    Native::Device stored = *bench.store().device(gate.id);
    QCOMPARE(stored.httpPort, 8080);
    QCOMPARE(stored.name, gate.name);
    QCOMPARE(stored.username, gate.username);
    QCOMPARE(stored.password, gate.password);
    QCOMPARE(stored.siteId, depot.id);
    // A name the person types replaces the stored one.
    panel->startEdit();
    QTRY_VERIFY(panel->form());
    panel->form()->nameField()->setText(QStringLiteral("Gate North"));
    press(panel, "Update");
    QTRY_VERIFY(!panel->isEditing());
    stored = *bench.store().device(gate.id);
    QCOMPARE(stored.name, QStringLiteral("Gate North"));
    QCOMPARE(stored.password, gate.password);

    // The site's form alike.
    SiteDialog edit(bench.context(), depot.id);
    QVERIFY2(longestShownText(&edit, &where) <= most, qPrintable(where));
    QVERIFY(!edit.hasChanges());
    const Native::Site untouched = edit.site();
    QCOMPARE(QStringList(
                 {untouched.name, untouched.address, untouched.contact, untouched.isp, untouched.sim, untouched.notes}),
             QStringList({depot.name, depot.address, depot.contact, depot.isp, depot.sim, depot.notes}));
    edit.nameField()->setText(QStringLiteral("Depot North"));
    QVERIFY(edit.hasChanges());
    QCOMPARE(edit.site().name, QStringLiteral("Depot North"));
    QCOMPARE(edit.site().notes, depot.notes);
}

KVR_TEST_MAIN(DevicePanelTest)

#include "tst_device_panel.moc"
