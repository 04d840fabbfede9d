// The native dialogs: the device form's checks, channel parsing, brand and
// type rules and its site list; the site, settings, report and events
// dialogs.

#include "app/core/Settings.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/SettingsDialog.h"
#include "native/services/NativeController.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QSet>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTimer>

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
    QByteArray json = "[";
    for (int i = 0; i < events.size(); ++i) {
        const NativeEvents::Event& e = events.at(i);
        json +=
            QStringLiteral("%1{\"d\":\"%2\",\"ch\":%3,\"k\":%4,\"t\":\"%5\",\"a\":%6,\"at\":\"%7\"%8%9}")
                .arg(i ? QStringLiteral(",") : QString(), e.deviceId)
                .arg(e.channel)
                .arg(e.kind)
                .arg(e.type, e.active ? QStringLiteral("true") : QStringLiteral("false"),
                     e.receivedAt.toString(Qt::ISODate),
                     e.deviceTime.isValid() ? QStringLiteral(",\"dt\":\"%1\"").arg(e.deviceTime.toString(Qt::ISODate))
                                            : QString(),
                     e.description.isEmpty() ? QString() : QStringLiteral(",\"desc\":\"%1\"").arg(e.description))
                .toUtf8();
    }
    json += "]";
    QVERIFY(SecureFile::write(QStringLiteral("native-events.json"), json));
}

QStringList column(QTableWidget* t, int c)
{
    QStringList out;
    for (int r = 0; r < t->rowCount(); ++r)
        out << t->item(r, c)->text();
    return out;
}

} // namespace

class NativeDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { Modal::reset(); }
    void parseChannels_data();
    void parseChannels();
    void formChecksAndTrims();
    void formBrandAndType();
    void formSites();
    void siteDialog();
    void settingsDialog();
    void reportDialog();
    void reportWriteFailureKeepsOldFile();
    void eventsDialog();
    void eventsRefillIsThrottled();
};

void NativeDialogsTest::parseChannels_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("channels");
    QTest::newRow("list and range") << "3, 5, 8-10" << QList<int>{3, 5, 8, 9, 10};
    QTest::newRow("reversed range") << "10-8" << QList<int>{};
    QTest::newRow("from zero") << "0-3" << QList<int>{1, 2, 3};
    QTest::newRow("clamped end") << "14-40" << QList<int>{14, 15, 16};
    QTest::newRow("duplicates, semicolons") << "5;5 3" << QList<int>{3, 5};
    QTest::newRow("leading dash") << "-3" << QList<int>{};
    QTest::newRow("letters") << "abc, x1" << QList<int>{};
    QTest::newRow("bad range end") << "3-x" << QList<int>{};
    QTest::newRow("lone dash") << "3 - 5" << QList<int>{3, 5};
    QTest::newRow("out of range") << "0, 17, 16" << QList<int>{16};
    QTest::newRow("empty") << "" << QList<int>{};
    QTest::newRow("sorted, overlapping") << "9, 2-4, 3" << QList<int>{2, 3, 4, 9};
}

void NativeDialogsTest::parseChannels()
{
    QFETCH(QString, text);
    QCOMPARE(DeviceForm::parseChannels(text, 16), FETCHED(QList<int>, channels));
}

void NativeDialogsTest::formChecksAndTrims()
{
    Bench bench;
    bench.load({});
    DeviceDialog dialog(bench.context(), QString());
    DeviceForm* f = dialog.form();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add device"));
    QCOMPARE(dialog.minimumWidth(), 560);
    QCOMPARE(f->manufacturerField()->currentText(), QStringLiteral("HIKVISION"));
    QCOMPARE(f->typeField()->currentText(), QStringLiteral("nvr"));
    QCOMPARE(f->httpPortField()->value(), 80);
    QCOMPARE(f->rtspPortField()->value(), 554);
    QCOMPARE(f->serverPortField()->value(), 8000);
    QCOMPARE(f->channelsField()->value(), 1);
    QCOMPARE(f->siteField()->currentText(), QStringLiteral("No site"));
    const QString bad = QStringLiteral("Enter the device's IP address or host name.");
    for (const char* address : {"", "   ", "10.0.0.1/24", "admin@cam", "my cam"}) {
        f->addressField()->setText(QString::fromLatin1(address));
        QCOMPARE(f->problem(), bad);
    }
    f->addressField()->setText(QStringLiteral(" nvr.local "));
    QCOMPARE(f->problem(), QString());
    f->usernameField()->setText(QStringLiteral(" admin "));
    f->passwordField()->setText(QStringLiteral(" pw "));
    f->channelsField()->setValue(16);
    f->ignoredField()->setText(QStringLiteral("3, 5, 8-10"));
    Native::Device d = f->device();
    QCOMPARE(d.ip, QStringLiteral("nvr.local"));
    QCOMPARE(d.name, QStringLiteral("nvr.local"));
    QCOMPARE(d.username, QStringLiteral("admin"));
    QCOMPARE(d.password, QStringLiteral(" pw "));
    QCOMPARE(d.ignored, (QList<int>{3, 5, 8, 9, 10}));
    // A failed check keeps the dialog open with the sentence.
    f->addressField()->clear();
    dialog.submit();
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!dialog.errorLabel()->isHidden());
    QCOMPARE(dialog.errorLabel()->text(), bad);
    // Password visibility.
    QCOMPARE(f->passwordField()->echoMode(), QLineEdit::Password);
    f->showPasswordButton()->click();
    QCOMPARE(f->passwordField()->echoMode(), QLineEdit::Normal);
    QCOMPARE(f->showPasswordButton()->accessibleName(), QStringLiteral("Hide password"));
    f->showPasswordButton()->click();
    QCOMPARE(f->showPasswordButton()->text(), QStringLiteral("Show"));
}

void NativeDialogsTest::formBrandAndType()
{
    Bench bench;
    bench.load({});
    DeviceForm f(bench.context());
    // Stored ports follow the brand when they are one of the defaults.
    Native::Device dahua;
    dahua.manufacturer = QStringLiteral("DAHUA");
    dahua.serverPort = 8000;
    dahua.ignored = {3, 5};
    dahua.channels = 8;
    f.setDevice(dahua);
    QCOMPARE(f.serverPortField()->value(), 37777);
    QCOMPARE(f.device().serverPort, 37777);
    QCOMPARE(f.ignoredField()->text(), QStringLiteral("3, 5"));
    DeviceForm f2(bench.context());
    Native::Device prama;
    prama.manufacturer = QStringLiteral("PRAMA");
    prama.serverPort = 37777;
    f2.setDevice(prama);
    QCOMPARE(f2.serverPortField()->value(), 8000);
    DeviceForm f3(bench.context());
    Native::Device hik;
    hik.serverPort = 37777;
    f3.setDevice(hik);
    QCOMPARE(f3.serverPortField()->value(), 37777); // the list did not change
    // A typed port stays.
    f3.serverPortField()->setValue(9000);
    f3.manufacturerField()->setCurrentText(QStringLiteral("CPPLUS"));
    QCOMPARE(f3.serverPortField()->value(), 9000);
    f3.serverPortField()->setValue(8000);
    f3.manufacturerField()->setCurrentText(QStringLiteral("IMOU"));
    QCOMPARE(f3.serverPortField()->value(), 37777);
    f3.manufacturerField()->setCurrentText(QStringLiteral("BOSCH"));
    QCOMPARE(f3.serverPortField()->value(), 8000);
    // Unknown brand and type keep the entries shown before.
    DeviceForm f4(bench.context());
    Native::Device odd;
    odd.manufacturer = QStringLiteral("ACME");
    odd.type = QStringLiteral("fridge");
    f4.setDevice(odd);
    QCOMPARE(f4.device().manufacturer, QStringLiteral("HIKVISION"));
    QCOMPARE(f4.device().type, QStringLiteral("nvr"));
    // "ipcamera" sets one channel; other types leave the count.
    f4.channelsField()->setValue(8);
    f4.typeField()->setCurrentText(QStringLiteral("ipcamera"));
    QCOMPARE(f4.channelsField()->value(), 1);
    f4.typeField()->setCurrentText(QStringLiteral("nvr"));
    QCOMPARE(f4.channelsField()->value(), 1);
    // Fields the form does not show pass through.
    Native::Device kept = up("Kept");
    f4.setDevice(kept);
    const Native::Device back = f4.device();
    QCOMPARE(back.id, kept.id);
    QCOMPARE(back.health.checkedAt, kept.health.checkedAt);
    QCOMPARE(back.cameras.size(), kept.cameras.size());
}

void NativeDialogsTest::formSites()
{
    const Native::Site a = site("Alpha");
    const Native::Site b = site("Bravo");
    Bench bench;
    bench.load({}, {a, b});
    DeviceDialog gone(bench.context(), QStringLiteral("missing-site"));
    QCOMPARE(gone.form()->siteField()->currentText(), QStringLiteral("No site"));
    DeviceDialog dialog(bench.context(), b.id);
    QComboBox* sites = dialog.form()->siteField();
    QCOMPARE(sites->count(), 4);
    QCOMPARE(sites->currentText(), QStringLiteral("Bravo"));
    QCOMPARE(sites->itemText(3), QStringLiteral("New site…"));
    // "New site…" cancelled: the previous choice comes back.
    Modal::respond([](QDialog&) { return int(QDialog::Rejected); });
    sites->setCurrentIndex(3);
    Q_EMIT sites->activated(3);
    QCOMPARE(sites->currentText(), QStringLiteral("Bravo"));
    // Confirmed: the site is stored at once and chosen.
    Modal::respond([](QDialog& d) {
        auto& input = dynamic_cast<QInputDialog&>(d);
        if (input.windowTitle() != QStringLiteral("New site") || input.labelText() != QStringLiteral("Site name"))
            return int(QDialog::Rejected);
        input.setTextValue(QStringLiteral("  Charlie "));
        return int(QDialog::Accepted);
    });
    sites->setCurrentIndex(3);
    Q_EMIT sites->activated(3);
    QCOMPARE(bench.store().sites().size(), 3);
    QCOMPARE(bench.store().sites().last().name, QStringLiteral("Charlie"));
    QCOMPARE(sites->currentText(), QStringLiteral("Charlie"));
    dialog.form()->addressField()->setText(QStringLiteral("10.0.0.9"));
    QCOMPARE(dialog.form()->device().siteId, bench.store().sites().last().id);
    // An empty name is like a cancel.
    Modal::respond([](QDialog& d) {
        dynamic_cast<QInputDialog&>(d).setTextValue(QStringLiteral("   "));
        return int(QDialog::Accepted);
    });
    sites->setCurrentIndex(3);
    Q_EMIT sites->activated(3);
    QCOMPARE(sites->currentText(), QStringLiteral("Charlie"));
    QCOMPARE(bench.store().sites().size(), 3);
}

void NativeDialogsTest::siteDialog()
{
    Native::Site s = site("Depot", "FiberNet", "Asha");
    s.notes = QStringLiteral("Gate code 4411");
    Bench bench;
    bench.load({}, {s});
    SiteDialog edit(bench.context(), s.id);
    QCOMPARE(edit.windowTitle(), QStringLiteral("Edit site"));
    QCOMPARE(edit.mainButton()->text(), QStringLiteral("Save"));
    QCOMPARE(edit.nameField()->text(), QStringLiteral("Depot"));
    QCOMPARE(edit.notesField()->toPlainText(), QStringLiteral("Gate code 4411"));
    edit.contactField()->setText(QStringLiteral("  Ravi  "));
    edit.notesField()->setPlainText(QStringLiteral("  new notes \n"));
    Native::Site out = edit.site();
    QCOMPARE(out.id, s.id);
    QCOMPARE(out.contact, QStringLiteral("Ravi"));
    QCOMPARE(out.notes, QStringLiteral("new notes"));
    edit.nameField()->setText(QStringLiteral("   "));
    edit.submit();
    QCOMPARE(edit.errorLabel()->text(), QStringLiteral("Enter a site name."));
    QVERIFY(!edit.errorLabel()->isHidden());
    QCOMPARE(edit.result(), int(QDialog::Rejected));

    SiteDialog add(bench.context(), QString());
    QCOMPARE(add.windowTitle(), QStringLiteral("Add site"));
    QCOMPARE(add.mainButton()->text(), QStringLiteral("Add site"));
    QCOMPARE(add.contactField()->placeholderText(), QStringLiteral("Name and phone"));
    SiteDialog missing(bench.context(), QStringLiteral("gone"));
    QCOMPARE(missing.windowTitle(), QStringLiteral("Edit site"));
    QVERIFY(missing.nameField()->text().isEmpty());
    QVERIFY(missing.site().id.isEmpty());
}

void NativeDialogsTest::settingsDialog()
{
    Bench bench;
    bench.load({});
    Prefs::set(Prefs::kNativeMode, false);
    NativeController::setPollEnabled(false);
    NativeController::setPollMinutes(5);
    NativeController::setWindowDays(30);
    bench.controller->startPolling();
    {
        NativeSettingsDialog d;
        QVERIFY(!d.pollBox()->isChecked());
        QVERIFY(!d.intervalField()->isEnabled());
        d.pollBox()->setChecked(true);
        QVERIFY(d.intervalField()->isEnabled());
        d.intervalField()->setValue(12);
        d.windowField()->setValue(90);
        d.nativeModeBox()->setChecked(true);
        d.reject(); // Cancel writes nothing
    }
    QVERIFY(!NativeController::pollEnabled());
    QCOMPARE(NativeController::pollMinutes(), 5);
    QCOMPARE(Prefs::get(Prefs::kNativeMode), false);
    NativeSettingsDialog d;
    QCOMPARE(d.intervalField()->suffix(), QStringLiteral(" min"));
    QCOMPARE(d.windowField()->maximum(), 120);
    d.pollBox()->setChecked(true);
    d.intervalField()->setValue(12);
    d.windowField()->setValue(90);
    d.nativeModeBox()->setChecked(true);
    d.save();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(NativeController::pollEnabled());
    QCOMPARE(NativeController::pollMinutes(), 12);
    QCOMPARE(NativeController::windowDays(), 90);
    QCOMPARE(Prefs::get(Prefs::kNativeMode), true);
    // Switched on while polling was started: the timer runs at the new interval.
    QVERIFY(bench.controller->isPollTimerActive());
    QCOMPARE(bench.controller->pollIntervalMs(), 12 * 60000);
    NativeSettingsDialog off;
    off.pollBox()->setChecked(false);
    off.save();
    QVERIFY(!bench.controller->isPollTimerActive());
    NativeController::setPollEnabled(true);
    NativeController::setPollMinutes(5);
    NativeController::setWindowDays(30);
}

void NativeDialogsTest::reportDialog()
{
    const Native::Device d = up("Gate");
    Bench bench;
    bench.load({d});
    ReportDialog all(bench.context(), QStringLiteral("removed"));
    QCOMPARE(all.deviceField()->count(), 1);
    ReportDialog r(bench.context(), d.id);
    QCOMPARE(r.windowTitle(), QStringLiteral("Reports"));
    QCOMPARE(r.deviceField()->count(), 2);
    QCOMPARE(r.deviceField()->currentText(), QStringLiteral("Gate"));
    const QDate today = NativeContext::now().date();
    QCOMPARE(r.fromField()->date(), today.addDays(-6));
    QCOMPARE(r.toField()->date(), today);
    QCOMPARE(r.fromField()->minimumDate(), today.addDays(-40));
    QCOMPARE(r.toField()->maximumDate(), today);
    QCOMPARE(r.fromField()->displayFormat(), QStringLiteral("d MMM yyyy"));
    r.kindField()->setCurrentIndex(2);
    QVERIFY(!r.fromField()->isEnabled());
    QCOMPARE(r.descriptionLabel()->text(),
             QStringLiteral("Each camera's last known state, with when it was last seen online and offline."));
    r.kindField()->setCurrentIndex(0);
    QVERIFY(r.fromField()->isEnabled());
    QCOMPARE(r.fromField()->date(), today.addDays(-6));

    QCOMPARE(NativeReportText::proposedPath(QStringLiteral("/docs"), 0, QDate(2026, 3, 2)),
             QStringLiteral("/docs/vigilo-uptime-20260302.csv"));
    QCOMPARE(NativeReportText::proposedPath(QStringLiteral("/docs"), 3, QDate(2026, 3, 2)),
             QStringLiteral("/docs/vigilo-storage-20260302.csv"));

    // Dates in the wrong order: no chooser.
    r.fromField()->setDate(today);
    r.toField()->setDate(today.addDays(-1));
    r.exportReport();
    QCOMPARE(r.errorLabel()->text(), QStringLiteral("The start date is after the end date."));
    QVERIFY(Modal::shown().isEmpty());
    // A cancelled chooser: nothing, the dialog stays.
    r.toField()->setDate(today);
    Modal::chooseFile(QString());
    r.exportReport();
    QVERIFY(r.errorLabel()->isHidden());
    QCOMPARE(r.result(), int(QDialog::Rejected));
    // Written with a byte-order mark.
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(docs);
    const QString path = docs + QStringLiteral("/report.csv");
    r.kindField()->setCurrentIndex(3);
    Modal::chooseFile(path);
    r.exportReport();
    QCOMPARE(r.savedPath(), path);
    QCOMPARE(r.result(), int(QDialog::Accepted));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(bytes.contains("Gate"));
}

void NativeDialogsTest::reportWriteFailureKeepsOldFile()
{
    const Native::Device d = up("Gate");
    Bench bench;
    bench.load({d});
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(docs);
    const QString path = docs + QStringLiteral("/kept.csv");
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("last month's report");
    old.close();
    ReportDialog r(bench.context(), QString());
    r.kindField()->setCurrentIndex(3);
    Modal::chooseFile(path);
    {
        nativetest::FileSizeLimit limit(8);
        r.exportReport();
    }
    QCOMPARE(r.errorLabel()->text(), QStringLiteral("Can't write that file. Pick another place."));
    QVERIFY(!r.errorLabel()->isHidden());
    QVERIFY(r.savedPath().isEmpty());
    QCOMPARE(r.result(), int(QDialog::Rejected));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("last month's report"));
    old.close();
    // The next try hides the earlier error first and succeeds.
    Modal::chooseFile(path);
    r.exportReport();
    QVERIFY(r.errorLabel()->isHidden());
    QCOMPARE(r.savedPath(), path);
}

void NativeDialogsTest::eventsDialog()
{
    const Native::Site depot = site("Depot");
    Native::Device gate = up("Gate", depot.id, 5);
    gate.cameras[1].name = QStringLiteral("Yard");
    Bench bench; // its clock first: the events are dated by it
    QList<NativeEvents::Event> log;
    // Oldest first: every kind once, on assorted channels, then a removed device.
    const int kinds[] = {1, 2, 3, 13, 14, 4, 5, 7};
    int age = 100;
    for (int k : kinds)
        log << makeEvent(gate.id, k, k == 7 ? 0 : 2, true, age--);
    log << makeEvent(gate.id, 4, 9, false, age--);
    NativeEvents::Event described = makeEvent(gate.id, 10, 0, true, age--);
    described.description = QStringLiteral("Wrong password");
    described.deviceTime = QDateTime(QDate(2026, 3, 2), QTime(8, 0, 5));
    log << described;
    log << makeEvent(QStringLiteral("removed-device"), 1, 1, true, age--);
    bench.load({gate}, {depot});
    writeEventLog(log);
    bench.events->start();
    EventsDialog d(bench.context());
    QCOMPARE(d.windowTitle(), QStringLiteral("Live events"));
    QTableWidget* t = d.table();
    QCOMPARE(t->rowCount(), log.size());
    QCOMPARE(column(t, 4).first(), QStringLiteral("Removed device"));
    QCOMPARE(column(t, 5).first(), QString());
    QCOMPARE(column(t, 1).at(1), QStringLiteral("Failed login attempt"));
    QCOMPARE(t->item(1, 1)->toolTip(), QStringLiteral("Wrong password (type10)"));
    QCOMPARE(t->item(1, 0)->toolTip(),
             QLocale::c().toString(described.receivedAt.toLocalTime(), QStringLiteral("d MMM yyyy, HH:mm:ss"))
                 + QStringLiteral("\nDevice clock: 2 Mar 2026, 08:00:05"));
    QCOMPARE(column(t, 3).at(1), QStringLiteral("Device"));
    QCOMPARE(column(t, 3).at(2), QStringLiteral("Channel 9"));
    QCOMPARE(column(t, 2).at(2), QStringLiteral("Cleared"));
    QCOMPARE(column(t, 3).last(), QStringLiteral("Yard"));
    QCOMPARE(column(t, 5).last(), QStringLiteral("Depot"));
    QCOMPARE(column(t, 0).last(), QStringLiteral("1 h ago"));
    // Active problems are red; cleared ones and detections are not.
    const int videoLossActive = int(column(t, 1).indexOf(QStringLiteral("Video loss")));
    QCOMPARE(t->item(videoLossActive + 1, 1)->foreground().color(), NativeStyle::kDanger);
    QCOMPARE(t->item(2, 1)->text(), QStringLiteral("Video loss"));
    QVERIFY(t->item(2, 1)->foreground().color() != NativeStyle::kDanger);
    QVERIFY(t->item(column(t, 1).indexOf(QStringLiteral("Motion")), 1)->foreground().color() != NativeStyle::kDanger);

    d.filterField()->setCurrentIndex(1);
    QStringList problems = column(t, 1);
    for (const char* hidden : {"Motion", "Line crossing", "Intrusion", "Alarm input", "Other event"})
        QVERIFY(!problems.contains(QString::fromLatin1(hidden)));
    QCOMPARE(problems.size(), 5);
    d.filterField()->setCurrentIndex(2);
    const QStringList detections = column(t, 1);
    QCOMPARE(QSet<QString>(detections.begin(), detections.end()),
             (QSet<QString>{"Motion", "Line crossing", "Intrusion", "Alarm input"}));

    QSignalSpy open(&d, &EventsDialog::openDevice);
    Q_EMIT t->cellDoubleClicked(0, 3);
    QCOMPARE(open.count(), 1);
    QCOMPARE(open.first().first().toString(), QStringLiteral("removed-device"));

    QCOMPARE(NativeEventText::summary(1, 3),
             QStringLiteral(
                 "1 of 3 Hikvision-family devices are sending live events. Other brands are checked on the schedule."));
    QVERIFY(d.summaryLabel()->text().startsWith(QStringLiteral("0 of 1 Hikvision-family")));
    bench.events->stop();

    // Nothing can stream here, and 3000 stored events: 501 rows, newest first.
    Native::Device dahua = up("Dahua");
    dahua.manufacturer = QStringLiteral("DAHUA");
    QList<NativeEvents::Event> many;
    for (int i = 2999; i >= 0; --i)
        many << makeEvent(dahua.id, 1 + i % 3, 1, true, i);
    bench.load({dahua});
    writeEventLog(many);
    bench.events->start();
    EventsDialog big(bench.context());
    QCOMPARE(big.table()->rowCount(), 501);
    QCOMPARE(big.table()->item(0, 0)->text(), QStringLiteral("just now"));
    QCOMPARE(big.summaryLabel()->text(),
             QStringLiteral("No device here can send live events yet (Hikvision, Prama and Prama STQC can)."));
    bench.events->stop();
}

void NativeDialogsTest::eventsRefillIsThrottled()
{
    const Native::Device gate = up("Gate");
    Bench bench;
    bench.load({gate});
    EventsDialog d(bench.context());
    const int before = d.refillCount();
    for (int i = 0; i < 10; ++i)
        Q_EMIT bench.events->eventReceived(makeEvent(gate.id, 1, 1, true, 0));
    Q_EMIT bench.events->linksChanged();
    QCOMPARE(d.refillCount(), before);
    QVERIFY(d.refillTimer()->isActive());
    QVERIFY(d.refillTimer()->remainingTime() > 400);
    QTRY_COMPARE(d.refillCount(), before + 1);
    QTest::qWait(150);
    QCOMPARE(d.refillCount(), before + 1);
    // A filter change refills at once.
    d.filterField()->setCurrentIndex(1);
    QCOMPARE(d.refillCount(), before + 2);
}

KVR_TEST_MAIN(NativeDialogsTest)
#include "tst_native_dialogs.moc"
