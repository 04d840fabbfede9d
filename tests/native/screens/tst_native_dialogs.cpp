// The native dialogs: the device form's checks, channel parsing, brand and
// type rules and its site list; the site, settings, report and events
// dialogs.

#include "app/core/Settings.h"
#include "app/ui/Theme.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/SettingsDialog.h"
#include "native/services/AddressCheck.h"
#include "native/services/AlertStream.h"
#include "native/services/NativeController.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QScopeGuard>
#include <QSet>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QInputDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QStandardPaths>
#include <QStyleOptionComboBox>
#include <QTableWidget>
#include <QTimer>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

using namespace screenskit;

namespace {

NativeEvents::Event makeEvent(const QString& deviceId, int kind, int channel, bool active, int minutesAgo)
{
    NativeEvents::Event e;
    e.deviceId = deviceId;
    e.kind = kind;
    e.channel = channel;
    e.active = active;
    e.type = QStringLiteral("type%1").arg(kind);
    e.receivedAt = NativeContext::now().addSecs(-60LL * minutesAgo);
    return e;
}

// Writes the events as the event log (oldest first) for the next start().
void writeEventLog(const QList<NativeEvents::Event>& events)
{
    QJsonArray log;
    for (const NativeEvents::Event& e : events) {
        QJsonObject o{{"d", e.deviceId}, {"ch", e.channel}, {"k", e.kind},
                      {"t", e.type},     {"a", e.active},   {"at", e.receivedAt.toString(Qt::ISODate)}};
        if (e.deviceTime.isValid())
            o.insert(QStringLiteral("dt"), e.deviceTime.toString(Qt::ISODate));
        if (!e.description.isEmpty())
            o.insert(QStringLiteral("desc"), e.description);
        log.append(o);
    }
    QVERIFY(SecureFile::write(QStringLiteral("native-events.json"), QJsonDocument(log).toJson()));
}

} // namespace

class NativeDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { Modal::reset(); }
    void deviceFormAndSites();
    void typedFormsAskBeforeTheyGo();
    void settingsDialog();
    void reportExportAndFailedWriteKeepsOldFile();
    void reportProposedWhereAPersonLooks();
    void reportNamesALongDeviceWhole();
    void eventsDialog();
};

void NativeDialogsTest::deviceFormAndSites()
{
    const std::pair<const char*, QList<int>> cases[] = {
        {"10-8", {}},                // reversed range
        {"0-3", {1, 2, 3}},          // from zero
        {"14-40", {14, 15, 16}},     // clamped end
        {"5;5 3", {3, 5}},           // duplicates, semicolons
        {"-3", {}},                  // leading dash
        {"3-x, x1", {}},             // letters, bad range end
        {"3 - 5", {3, 5}},           // lone dash
        {"0, 17, 16", {16}},         // out of range
        {"9, 2-4, 3", {2, 3, 4, 9}}, // sorted, overlapping
    };
    for (const auto& [text, channels] : cases)
        QCOMPARE(DeviceForm::parseChannels(QString::fromLatin1(text), 16), channels);
    Native::Site a = site("Alpha", "FiberNet", "Asha");
    a.notes = QStringLiteral("Gate code 4411");
    const Native::Site b = site("Bravo");
    Bench bench({}, {a, b});
    DeviceDialog dialog(bench.context(), b.id);
    DeviceForm* f = dialog.form();
    QComboBox* sites = f->siteField();
    QCOMPARE(sites->currentText() + sites->itemText(3), QStringLiteral("BravoNew site…"));
    auto chooseNew = [sites](const char* name) {
        Modal::respond([name](QDialog& d) {
            dynamic_cast<QInputDialog&>(d).setTextValue(QString::fromUtf8(name));
            return int(name ? QDialog::Accepted : QDialog::Rejected);
        });
        const int last = sites->count() - 1; // "New site…" stays last as sites are added
        sites->setCurrentIndex(last);
        Q_EMIT sites->activated(last);
    };
    // Cancelled, the previous choice comes back; confirmed, the site is
    // stored at once and chosen; an empty name is like a cancel.
    chooseNew(nullptr);
    QCOMPARE(sites->currentText(), QStringLiteral("Bravo"));
    chooseNew("  Charlie ");
    QCOMPARE(bench.store().sites().last().name + sites->currentText(), QStringLiteral("CharlieCharlie"));
    f->addressField()->setText(QStringLiteral("10.0.0.9"));
    QCOMPARE(f->device().siteId, bench.store().sites().last().id);
    chooseNew("   ");
    QCOMPARE(sites->currentText(), QStringLiteral("Charlie"));
    QCOMPARE(bench.store().sites().size(), 3);
    QCOMPARE(Modal::shown().last(), QStringLiteral("New site"));

    const QString bad = QStringLiteral("Enter the device's IP address or host name.");
    for (const char* address : {"", "   ", "10.0.0.1/24", "admin@cam", "my cam"}) {
        f->addressField()->setText(QString::fromLatin1(address));
        QCOMPARE(f->problem(), bad);
    }
    // What the store refuses the form refuses, in the store's words, so the
    // dialog never closes on it and loses what was typed.
    for (const char* address : {"300.1.1.1", "host:80", "010.1.1.1", "10.1.7"}) {
        f->addressField()->setText(QString::fromLatin1(address));
        QVERIFY2(!f->problem().isEmpty() && f->problem() == NativeAddress::problem(QString::fromLatin1(address)),
                 address);
    }
    // A recorder already listed (same address, host names in any case, and
    // HTTP port) is refused as the CSV import refuses it; another port is
    // another device.
    Native::Device gate = fresh("Gate NVR");
    gate.ip = QStringLiteral("nvr.lan");
    gate.httpPort = 80;
    const QString gateId = bench.store().addDevice(gate);
    f->addressField()->setText(QStringLiteral(" NVR.lan "));
    QCOMPARE(f->problem(), QStringLiteral("nvr.lan:80 is already in the list as \"Gate NVR\"."));
    f->httpPortField()->setValue(8080);
    QCOMPARE(f->problem(), QString());
    f->httpPortField()->setValue(80);
    // An IPv6 address is taken as typed, with or without brackets, and is
    // the same recorder however it is written.
    Native::Device loop = fresh("Loop NVR");
    loop.ip = QStringLiteral("[2001:db8::10]");
    loop.httpPort = 80;
    bench.store().addDevice(loop);
    for (const char* address : {"2001:db8::10", "2001:DB8:0::10"}) {
        f->addressField()->setText(QString::fromLatin1(address));
        QCOMPARE(f->problem(), QStringLiteral("[2001:db8::10]:80 is already in the list as \"Loop NVR\"."));
    }
    for (const char* address : {"[2001:db8::11]", "fe80::1%eth0"}) {
        f->addressField()->setText(QString::fromLatin1(address));
        QCOMPARE(f->problem(), QString());
        QCOMPARE(f->device().ip, QString::fromLatin1(address));
    }
    f->addressField()->setText(QStringLiteral(" nvr.local "));
    QCOMPARE(f->problem(), QString());
    f->usernameField()->setText(QStringLiteral(" admin "));
    f->passwordField()->setText(QStringLiteral(" pw "));
    f->channelsField()->setValue(16);
    f->ignoredField()->setText(QStringLiteral("3, 5, 8-10"));
    const Native::Device d = f->device();
    QCOMPARE(QStringList({d.ip, d.name, d.username, d.password}),
             QStringList({"nvr.local", "nvr.local", "admin", " pw "}));
    QCOMPARE(d.ignored, (QList<int>{3, 5, 8, 9, 10}));
    // A failed check keeps the dialog open with the sentence, and what was
    // typed. The sentence stands right under the address field, which is
    // marked in the danger colour, until the address is edited.
    dialog.setStyleSheet(NativeStyle::stylesheet());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    f->addressField()->clear();
    dialog.submit();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.errorLabel()->isHidden() ? QString() : dialog.errorLabel()->text(), bad);
    QTest::qWait(20); // laid out
    const auto top = [&dialog](QWidget* w) { return w->mapTo(&dialog, QPoint(0, 0)).y(); };
    const int underAddress = top(dialog.errorLabel()) - (top(f->addressField()) + f->addressField()->height());
    QVERIFY2(underAddress >= 0 && underAddress <= 8
                 && top(dialog.errorLabel()) + dialog.errorLabel()->height() < top(f->httpPortField()),
             qPrintable(QString::number(underAddress)));
    QVERIFY(f->addressField()->property("invalid").toBool());
    QCOMPARE(f->addressField()->accessibleDescription(), bad);
    QCOMPARE(f->addressField()->grab().toImage().pixelColor(f->addressField()->width() / 2, 0), NativeStyle::kDanger);
    QTest::keyClicks(f->addressField(), QStringLiteral("10.0.0.1"));
    QVERIFY(dialog.errorLabel()->isHidden() && !f->addressField()->property("invalid").toBool());
    QCOMPARE(f->addressField()->grab().toImage().pixelColor(f->addressField()->width() / 2, 0) == NativeStyle::kDanger,
             false);
    dialog.hide();
    f->addressField()->setText(QStringLiteral("300.1.1.1"));
    dialog.submit();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(dialog.errorLabel()->text(), QStringLiteral("300.1.1.1 is not a valid IPv4 address."));
    QCOMPARE(QStringList({f->device().ip, f->device().username}), QStringList({"300.1.1.1", "admin"}));
    // Editing a listed device: its own address is no duplicate; moving it
    // onto another's is.
    DeviceForm editing(bench.context());
    editing.setDevice(*bench.store().device(gateId));
    QCOMPARE(editing.problem(), QString());
    Native::Device yard = fresh("Yard");
    yard.ip = QStringLiteral("10.0.0.20");
    yard.httpPort = 80;
    bench.store().addDevice(yard);
    editing.addressField()->setText(QStringLiteral("10.0.0.20"));
    QCOMPARE(editing.problem(), QStringLiteral("10.0.0.20:80 is already in the list as \"Yard\"."));
    f->showPasswordButton()->click();
    QCOMPARE(f->showPasswordButton()->accessibleName() + QString::number(f->passwordField()->echoMode()),
             QStringLiteral("Hide password0"));

    // A stored port follows a brand change when it is one of the defaults.
    // Brand and port stored, the brand chosen next if any, the port then shown.
    const std::tuple<const char*, int, const char*, int> ports[] = {
        {"DAHUA", 8000, nullptr, 37777},
        {"IMOU", 37777, "BOSCH", 8000},
        {"HIKVISION", 37777, nullptr, 37777}, // the list did not change
        {"HIKVISION", 9000, "CPPLUS", 9000},  // a typed port stays
    };
    for (const auto& [brand, port, then, expected] : ports) {
        DeviceForm form(bench.context());
        Native::Device stored;
        stored.manufacturer = QString::fromLatin1(brand);
        stored.serverPort = port;
        form.setDevice(stored);
        if (then)
            form.manufacturerField()->setCurrentText(QString::fromLatin1(then));
        QVERIFY2(form.device().serverPort == expected, then ? then : brand);
    }
    // Unknown brand and type keep the entries shown before.
    Native::Device odd;
    odd.manufacturer = QStringLiteral("ACME");
    odd.type = QStringLiteral("fridge");
    odd.ignored = {3, 5};
    odd.channels = 8;
    f->setDevice(odd);
    QCOMPARE(f->device().manufacturer + f->device().type, QStringLiteral("HIKVISIONnvr"));
    QCOMPARE(f->ignoredField()->text(), QStringLiteral("3, 5"));
    // "ipcamera" sets one channel; other types leave the count.
    f->typeField()->setCurrentText(QStringLiteral("ipcamera"));
    QCOMPARE(f->channelsField()->value(), 1);
    f->typeField()->setCurrentText(QStringLiteral("nvr"));
    QCOMPARE(f->channelsField()->value(), 1);
    // Fields the form does not show pass through.
    const Native::Device kept = up("Kept");
    f->setDevice(kept);
    QVERIFY(f->device().health.checkedAt == kept.health.checkedAt && f->device().cameras.size() == kept.cameras.size());

    // Editing a site: trimmed fields, and a name is required.
    SiteDialog edit(bench.context(), a.id);
    QCOMPARE(edit.windowTitle() + edit.mainButton()->text(), QStringLiteral("Edit siteSave"));
    QCOMPARE(edit.notesField()->toPlainText(), QStringLiteral("Gate code 4411"));
    edit.contactField()->setText(QStringLiteral("  Ravi  "));
    edit.notesField()->setPlainText(QStringLiteral("  new notes \n"));
    const Native::Site out = edit.site();
    QCOMPARE(QStringList({out.id, out.name, out.contact, out.notes}),
             QStringList({a.id, "Alpha", "Ravi", "new notes"}));
    edit.nameField()->setText(QStringLiteral("   "));
    edit.submit();
    QCOMPARE(edit.errorLabel()->isHidden() ? QString() : edit.errorLabel()->text(),
             QStringLiteral("Enter a site name."));
    QCOMPARE(edit.result(), int(QDialog::Rejected));
}

// A form with typed changes asks before Escape or the window's close control
// throws them away: Keep editing leaves it as typed, Discard closes it. An
// untouched form, and the form's own Cancel, close at once.
void NativeDialogsTest::typedFormsAskBeforeTheyGo()
{
    Modal::setStrict(true);
    const auto cleanup = qScopeGuard([] { Modal::setStrict(false); });
    const Native::Site a = site("Alpha");
    Bench bench({}, {a});
    const auto answer = [](QMessageBox::ButtonRole role) { Modal::respond([role](QDialog&) { return int(role); }); };
    const QString asked = QStringLiteral("Discard changes: Discard the changes you typed? They have not been saved.");
    const auto escape = [](QDialog& d) {
        QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, Qt::Key_Escape);
        return d.isVisible();
    };
    const auto open = [](QDialog& d) {
        d.show();
        return QTest::qWaitForWindowExposed(&d);
    };

    DeviceDialog untouched(bench.context(), a.id);
    QVERIFY(open(untouched));
    QVERIFY(!escape(untouched));
    QVERIFY(Modal::shown().isEmpty());

    DeviceDialog dialog(bench.context(), a.id);
    QVERIFY(open(dialog));
    QTest::keyClicks(dialog.form()->nameField(), QStringLiteral("Gate"));
    answer(QMessageBox::RejectRole); // Keep editing
    QVERIFY(escape(dialog));
    QCOMPARE(Modal::shown(), QStringList{asked});
    answer(QMessageBox::RejectRole);
    dialog.close(); // the window's close control
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.form()->nameField()->text(), QStringLiteral("Gate"));
    answer(QMessageBox::DestructiveRole);
    QVERIFY(!escape(dialog));
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QCOMPARE(Modal::shown().size(), 3);
    // Its own Cancel is a choice to discard: nothing more is asked.
    QVERIFY(open(dialog));
    findByText<QPushButton>(&dialog, QStringLiteral("Cancel"))->click();
    QVERIFY(!dialog.isVisible());
    // A site picked is a change as much as a name typed.
    DeviceDialog picked(bench.context(), QString());
    QVERIFY(open(picked));
    picked.form()->siteField()->setCurrentIndex(1);
    answer(QMessageBox::RejectRole);
    QVERIFY(escape(picked));
    QCOMPARE(Modal::shown().size(), 4);

    // A site edited: untouched it closes, typed notes are asked about.
    SiteDialog site(bench.context(), a.id);
    QVERIFY(open(site));
    QVERIFY(!escape(site));
    QVERIFY(open(site));
    site.notesField()->setFocus();
    QTest::keyClicks(site.notesField(), QStringLiteral("Gate code 4411"));
    answer(QMessageBox::RejectRole);
    QVERIFY(escape(site));
    answer(QMessageBox::DestructiveRole);
    QVERIFY(!escape(site));
    QCOMPARE(Modal::shown().size(), 6);
    QCOMPARE(bench.store().site(a.id)->notes, QString());

    // As the window opens them, through the Modal seam: one question an
    // Escape, the form's own. The settings ask about a number typed too.
    Modal::reset();
    SiteDialog fresh(bench.context(), QString());
    Modal::respond([&](QDialog& d) {
        open(d);
        fresh.notesField()->setFocus();
        QTest::keyClicks(fresh.notesField(), QStringLiteral("Gate code 4411"));
        answer(QMessageBox::RejectRole);
        const bool kept = escape(d);
        answer(QMessageBox::DestructiveRole);
        return int(kept && !escape(d) ? QDialog::Accepted : QDialog::Rejected);
    });
    QCOMPARE(Modal::exec(fresh), int(QDialog::Accepted));
    QCOMPARE(Modal::shown().size(), 3);
    NativeSettingsDialog settings;
    QVERIFY(open(settings));
    settings.intervalField()->setFocus();
    QTest::keyClick(settings.intervalField(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(settings.intervalField(), QStringLiteral("15"));
    answer(QMessageBox::RejectRole);
    QVERIFY(escape(settings));
    QCOMPARE(Modal::shown().size(), 4);
}

void NativeDialogsTest::settingsDialog()
{
    Bench bench;
    Prefs::set(Prefs::kNativeMode, false);
    NativeController::setPollEnabled(false);
    NativeController::setPollMinutes(5);
    NativeController::setWindowDays(30);
    bench.controller->startPolling();
    auto stored = [] {
        return QList<int>{NativeController::pollEnabled(), NativeController::pollMinutes(),
                          NativeController::windowDays(), Prefs::get(Prefs::kNativeMode)};
    };
    // Cancel writes nothing; Save writes every field.
    for (const bool save : {false, true}) {
        NativeSettingsDialog d;
        d.pollBox()->setChecked(true);
        d.intervalField()->setValue(12);
        d.windowField()->setValue(90);
        d.nativeModeBox()->setChecked(true);
        save ? d.save() : d.reject();
        QCOMPARE(stored(), save ? (QList<int>{1, 12, 90, 1}) : (QList<int>{0, 5, 30, 0}));
    }
    // Switched on while polling was started: the timer runs at the new interval.
    QCOMPARE(bench.controller->isPollTimerActive() ? bench.controller->pollIntervalMs() : 0, 12 * 60000);
    NativeSettingsDialog off;
    off.pollBox()->setChecked(false);
    off.save();
    QVERIFY(!bench.controller->isPollTimerActive());

    // Shown, it keeps its own width and never gets squeezed below its
    // fields, whatever size it is asked to take (a window manager's late
    // answer to an earlier request, say).
    NativeSettingsDialog shown;
    shown.show();
    QVERIFY(QTest::qWaitForWindowExposed(&shown));
    QTest::qWait(300); // the frame's watch and what it queued
    QCOMPARE(shown.minimumWidth(), 480);
    shown.resize(300, 200);
    QTest::qWait(50);
    QCOMPARE(shown.width(), 480);
    for (QWidget* field : {static_cast<QWidget*>(shown.intervalField()), static_cast<QWidget*>(shown.windowField())})
        QVERIFY2(field->height() >= field->minimumSizeHint().height(), qPrintable(QString::number(field->height())));
}

void NativeDialogsTest::reportExportAndFailedWriteKeepsOldFile()
{
    const Native::Device d = up("Gate");
    Bench bench({d});
    ReportDialog r(bench.context(), d.id);
    const QDate today = NativeContext::now().date();
    QVERIFY(r.fromField()->date() == today.addDays(-6) && r.fromField()->minimumDate() == today.addDays(-40));
    r.kindField()->setCurrentIndex(2); // the cameras report has no dates
    QVERIFY(!r.fromField()->isEnabled());
    QCOMPARE(NativeReportText::proposedPath(QStringLiteral("/docs"), 3, QDate(2026, 3, 2)),
             QStringLiteral("/docs/vigilo-storage-20260302.csv"));

    // Dates in the wrong order: no chooser.
    r.kindField()->setCurrentIndex(0);
    r.fromField()->setDate(today);
    r.toField()->setDate(today.addDays(-1));
    r.exportReport();
    QCOMPARE(r.errorLabel()->text(), QStringLiteral("The start date is after the end date."));
    QVERIFY(Modal::shown().isEmpty());
    // A cancelled chooser: nothing, the dialog stays.
    r.toField()->setDate(today);
    Modal::chooseFile(QString());
    r.exportReport();
    QVERIFY(r.errorLabel()->isHidden() && r.result() == QDialog::Rejected);
    // A write that fails half-way (a full disk) keeps last month's file and says so.
    const QString path = documents() + QStringLiteral("/report.csv");
    writeAll(path, "last month's report");
    r.kindField()->setCurrentIndex(3);
    Modal::chooseFile(path);
    {
        nativetest::FileSizeLimit limit(8);
        r.exportReport();
    }
    QCOMPARE(r.errorLabel()->text() + QString::number(r.result()),
             QStringLiteral("Can't write that file: File too large. Pick another place.0"));
    QCOMPARE(readAll(path), QByteArray("last month's report"));
    // The next try hides the error first and writes the report with a byte-order mark.
    Modal::chooseFile(path);
    r.exportReport();
    QVERIFY(r.errorLabel()->isHidden() && r.result() == QDialog::Accepted);
    QCOMPARE(r.savedPath(), path);
    const QByteArray bytes = readAll(path);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBFsite,device") && bytes.contains("Gate"));
}

// The chooser proposes the report in the Documents folder, and in the home
// folder where there is none (a fresh account has none; a chooser given a
// folder that does not exist starts in the working folder, wherever that is).
void NativeDialogsTest::reportProposedWhereAPersonLooks()
{
    const Native::Device d = up("Gate");
    Bench bench({d});
    ReportDialog r(bench.context(), d.id);
    const QString name = QFileInfo(NativeReportText::proposedPath(QString(), 0, NativeContext::today())).fileName();
    // The real chooser, read and cancelled as soon as it shows.
    Modal::setStrict(false);
    const auto strictAgain = qScopeGuard([] { Modal::setStrict(true); });
    const auto proposed = [&r] {
        QString seen;
        QTimer look;
        connect(&look, &QTimer::timeout, &r, [&seen] {
            if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                seen = chooser->selectedFiles().value(0);
                chooser->reject();
            }
        });
        look.start(20);
        r.exportReport();
        return seen;
    };
    const QString documentsFolder = documents();
    QVERIFY(QDir(documentsFolder).removeRecursively());
    QCOMPARE(proposed(), QDir::homePath() + QLatin1Char('/') + name);
    QVERIFY(QDir().mkpath(documentsFolder));
    QCOMPARE(proposed(), documentsFolder + QLatin1Char('/') + name);
    QVERIFY(r.result() != QDialog::Accepted && r.savedPath().isEmpty());
}

// Opened from the panel of a device with a long name, the dialog opens wide
// enough for the device choice to show that name whole.
void NativeDialogsTest::reportNamesALongDeviceWhole()
{
    const Native::Device d = up("Reception and lobby recorder (32 channel), main building, B1");
    Bench bench({d});
    // In the face the program uses, as it sets it at start.
    Theme::loadFonts();
    QFont inter(QStringLiteral("Inter"));
    inter.setPixelSize(14);
    const QFont before = QApplication::font();
    QApplication::setFont(inter);
    const auto restore = qScopeGuard([&before] { QApplication::setFont(before); });
    QWidget window;
    window.setStyleSheet(NativeStyle::stylesheet());
    ReportDialog r(bench.context(), d.id, &window);
    r.show();
    QVERIFY(QTest::qWaitForWindowExposed(&r));
    QComboBox* devices = nullptr;
    for (QComboBox* c : r.findChildren<QComboBox*>())
        if (c != r.kindField())
            devices = c;
    QVERIFY(devices && devices->currentText() == d.name);
    QStyleOptionComboBox opt;
    opt.initFrom(devices);
    const QRect field =
        devices->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, devices);
    const qreal need = QFontMetricsF(devices->font()).horizontalAdvance(d.name);
    QVERIFY2(field.width() >= need, qPrintable(QStringLiteral("needs %1 px, has %2").arg(need).arg(field.width())));
    QVERIFY(r.width() > 500 && r.width() <= r.screen()->availableGeometry().width());
}

void NativeDialogsTest::eventsDialog()
{
    using namespace NativeEventText;
    // Each kind as the filters read it: P problem, D detection, O other.
    QString groups;
    for (int kind = AlertStream::Heartbeat; kind <= AlertStream::Other; ++kind)
        groups += QLatin1Char(passes(ProblemsOnly, kind) ? 'P' : passes(Detections_, kind) ? 'D' : 'O');
    QCOMPARE(groups, QStringLiteral("PDDDPPPPPPPPPDO"));
    QCOMPARE(summary(0, 0),
             QStringLiteral("No device here can send live events yet (Hikvision, Prama and Prama STQC can)."));
    const Native::Site depot = site("Depot");
    // Unnamed: its events are shown under the name it reported.
    Native::Device gate = up("Gate", depot.id, 5);
    gate.name.clear();
    gate.cameras[1].name = QStringLiteral("Yard");
    Bench bench; // its clock first: the events are dated by it
    // Oldest first: a detection, a problem started and one cleared, a
    // described login failure, then an event of a removed device.
    QList<NativeEvents::Event> log{makeEvent(gate.id, AlertStream::Motion, 2, true, 60),
                                   makeEvent(gate.id, AlertStream::VideoLoss, 2, true, 50),
                                   makeEvent(gate.id, AlertStream::VideoLoss, 9, false, 40)};
    NativeEvents::Event described = makeEvent(gate.id, AlertStream::FailedLogin, 0, true, 30);
    described.description = QStringLiteral("Wrong password");
    described.deviceTime = QDateTime(QDate(2026, 3, 2), QTime(8, 0, 5));
    log << described << makeEvent(QStringLiteral("removed-device"), 1, 1, true, 20);
    bench.load({gate}, {depot});
    writeEventLog(log);
    bench.events->start();
    EventsDialog d(bench.context());
    QTableWidget* t = d.table();
    // Newest first, as "time|kind|state|camera|device|site", active problems red.
    auto rows = [t] {
        QStringList out;
        for (int r = 0; r < t->rowCount(); ++r) {
            QString line;
            for (int c = 0; c < 6; ++c)
                line += t->item(r, c)->text() + QLatin1Char(c < 5 ? '|' : ' ');
            out << line + (t->item(r, 1)->foreground().color() == NativeStyle::kDanger ? "red" : "");
        }
        return out;
    };
    QCOMPARE(
        rows(),
        (QStringList{"20 min ago|Motion|Started|Channel 1|Removed device| ",
                     "30 min ago|Failed login attempt|Started|Device|Gate|Depot red",
                     "40 min ago|Video loss|Cleared|Channel 9|Gate|Depot ",
                     "50 min ago|Video loss|Started|Yard|Gate|Depot red", "1 h ago|Motion|Started|Yard|Gate|Depot "}));
    QCOMPARE(t->item(1, 1)->toolTip(), QStringLiteral("Wrong password (type10)"));
    QCOMPARE(t->item(1, 0)->toolTip(),
             QLocale::c().toString(described.receivedAt.toLocalTime(), QStringLiteral("d MMM yyyy, HH:mm:ss"))
                 + QStringLiteral("\nDevice clock: 2 Mar 2026, 08:00:05"));
    QSignalSpy open(&d, &EventsDialog::openDevice);
    Q_EMIT t->cellDoubleClicked(0, 3);
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.first().first().toString(), QStringLiteral("removed-device"));
    // Enter or Space on the current event opens its device as a double-click
    // does; not with a modifier. Rows made anew keep the current event.
    t->setCurrentCell(2, 3);
    QTest::keyClick(t, Qt::Key_Return);
    QTest::keyClick(t, Qt::Key_Return, Qt::ControlModifier);
    QTest::keyClick(t, Qt::Key_Space);
    QCOMPARE(open.count(), 3);
    QCOMPARE(open.last().first().toString(), gate.id);
    QCOMPARE(t->accessibleDescription(), QStringLiteral("Enter: open the event's device"));
    d.filterField()->setCurrentIndex(ProblemsOnly);
    QCOMPARE(t->currentRow() * 10 + t->currentColumn(), 13);
    QCOMPARE(t->item(1, 0)->text() + t->item(1, 2)->text(), QStringLiteral("40 min agoCleared"));
    d.filterField()->setCurrentIndex(0);
    QCOMPARE(t->currentRow(), 2);
    // Repeats of an event differ in when they came.
    NativeEvents::Event later = described, repeat = described;
    later.receivedAt = later.receivedAt.addMSecs(1);
    repeat.receivedMs = 7;
    QCOMPARE(QSet<QString>(
                 {eventKey(described), eventKey(NativeEvents::Event(described)), eventKey(later), eventKey(repeat)})
                 .size(),
             3);
    QVERIFY(d.summaryLabel()->text().startsWith(QStringLiteral("0 of 1 Hikvision-family")));
    d.filterField()->setCurrentIndex(ProblemsOnly);
    QCOMPARE(t->rowCount(), 3);

    // Events arriving in a burst refill the list once, half a second later;
    // a filter change refills at once.
    const int before = d.refillCount();
    for (int i = 0; i < 10; ++i)
        Q_EMIT bench.events->eventReceived(makeEvent(gate.id, 1, 1, true, 0));
    Q_EMIT bench.events->linksChanged();
    QVERIFY(d.refillTimer()->remainingTime() > 400);
    QTRY_COMPARE(d.refillCount(), before + 1);
    QTest::qWait(150);
    QCOMPARE(d.refillCount(), before + 1);
    d.filterField()->setCurrentIndex(0);
    QCOMPARE(d.refillCount(), before + 2);
    bench.events->stop();

    // 3000 stored events: 501 rows, newest first.
    QList<NativeEvents::Event> many;
    for (int i = 2999; i >= 0; --i)
        many << makeEvent(gate.id, 1 + i % 3, 1, true, i);
    bench.load({gate});
    writeEventLog(many);
    bench.events->start();
    EventsDialog big(bench.context());
    QCOMPARE(big.table()->rowCount(), 501);
    QCOMPARE(big.table()->item(0, 0)->text(), QStringLiteral("just now"));
    bench.events->stop();
}

KVR_TEST_MAIN(NativeDialogsTest)

#include "tst_native_dialogs.moc"
