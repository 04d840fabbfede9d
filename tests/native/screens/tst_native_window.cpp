// The native main window's wiring: coalesced rebuilds, cards and filters,
// the empty states, selection across rebuilds, toast, busy and live-events
// labels, the overview switch, pages, showing and hiding, and the actions of
// the top bar (dialogs answered through the Modal seam).

#include "app/core/Settings.h"
#include "app/core/ShownText.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/LiveWallPage.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/StatCard.h"
#include "native/screens/VigiloOverview.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QSet>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::services;
using namespace kvr::screens;

using namespace FleetRules;
using namespace screenskit;

namespace {

// A stand-in for the live wall that only remembers whether it is on.
class PlainWall : public LiveWallPage {
public:
    void activate() override { m_active = true; }
    void deactivate() override { m_active = false; }
};

QStringList ids(const NativeWindow& w)
{
    return lines(w.model()->rows(), [](const Row& r) { return r.id; });
}

} // namespace

class NativeWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void rebuildsArePaced();
    void busyCountFollowsASweepAtAPace();
    void orderFollowsNamesAndSites();
    void searchFindsTheDevicesOfASite();
    void cardsFiltersAndBrandFallback();
    void liveEventsCountFollowsTheStreams();
    void selectionSurvivesRebuildsAndRemoval();
    void showHidePagesAndSignIn();
    void addDeviceEventsAndSampleCsvFailureKeepsOldFile();
    void reportSaysWhereItWent();
    void overviewRowActionLeavesHandler();
    void tabFollowsTheReadingOrder();
    void rowsOpenByTheKeysAndThePageFollows();
    void storedTextsOfAnyLengthShowCut();

private:
    std::unique_ptr<Bench> bench;
};

void NativeWindowTest::init()
{
    Modal::reset();
    Prefs::set(Prefs::kNativeOverview, true);
    bench = std::make_unique<Bench>();
    NativeMedia::setHooks({});
}

void NativeWindowTest::rebuildsArePaced()
{
    // The delays are the pacing rule's; the window's part: a burst of changes
    // right after a rebuild waits about a second and rebuilds once, and a
    // keystroke pulls a pending data rebuild forward.
    const Native::Device a = up("A");
    const Native::Device b = up("B");
    bench->load({a, b});
    NativeWindow w(bench->context());
    w.rebuild();
    const int first = w.rebuildCount();
    for (int i = 0; i < 20; ++i)
        Q_EMIT bench->store().deviceUpdated(a.id);
    Q_EMIT bench->store().changed();
    Q_EMIT bench->controller->busyChanged(a.id, false);
    QVERIFY(w.rebuildTimer()->remainingTime() > 500);
    QTRY_COMPARE_WITH_TIMEOUT(w.rebuildCount(), first + 1, 5000);
    QTest::qWait(300);
    QCOMPARE(w.rebuildCount(), first + 1);
    Q_EMIT bench->store().changed();
    QVERIFY(w.rebuildTimer()->remainingTime() > 500);
    w.searchField()->setText(QStringLiteral("a"));
    QVERIFY(w.rebuildTimer()->remainingTime() <= 120);
    QTRY_COMPARE_WITH_TIMEOUT(w.rebuildCount(), first + 2, 3000);

    // A filter shows at once, from the rows the last rebuild worked out: the
    // rebuild it arms is not needed for it.
    w.searchField()->setText(QStringLiteral("b"));
    w.rebuildTimer()->stop();
    QTRY_COMPARE(ids(w), QStringList{b.id});
    QVERIFY(!w.card(CardDevices)->isActive());
    w.searchField()->clear();
    w.statusFilter()->setCurrentIndex(NotCheckedOnly);
    w.rebuildTimer()->stop();
    QTRY_COMPARE(w.tableStack()->currentIndex(), 1);
    QCOMPARE(w.emptyLabel()->text(), QStringLiteral("No matches."));
    QCOMPARE(w.rebuildCount(), first + 2);
}

void NativeWindowTest::busyCountFollowsASweepAtAPace()
{
    // A sweep of a large fleet changes the count of devices being checked
    // at every check; each new text lays the page out again. The first
    // change shows at once, the rest at a pace, the latest count always.
    QList<Native::Device> fleet;
    for (int i = 0; i < 40; ++i)
        fleet << up(QStringLiteral("Recorder %1").arg(i));
    bench->load(fleet);
    NativeWindow w(bench->context());
    w.show();
    bench->controller->refreshAll();
    QCOMPARE(w.busyLabel()->text(), QStringLiteral("Checking 1"));
    QTRY_COMPARE(w.busyLabel()->text(), QStringLiteral("Checking 40"));
    while (!bench->pending.isEmpty()) // four at a time
        bench->finishProbes(nativetest::upResult());
    QTRY_VERIFY(w.busyLabel()->text().isEmpty());
}

void NativeWindowTest::orderFollowsNamesAndSites()
{
    // Worst first, then by site and device name without case, then by id,
    // whatever was renamed since the last rebuild.
    Native::Site north = site(QStringLiteral("north"));
    const Native::Site south = site(QStringLiteral("South"));
    Native::Device n1 = up("bravo", north.id);
    Native::Device n2 = up("Alpha", north.id);
    const Native::Device s1 = up("alpha", south.id);
    const Native::Device s2 = down("zulu", south.id);
    const Native::Device loose = up("ALPHA");
    bench->load({n1, n2, s1, s2, loose}, {north, south});
    NativeWindow w(bench->context());
    QCOMPARE(ids(w), (QStringList{s2.id, loose.id, n2.id, n1.id, s1.id}));
    // The north site becomes "Toronto", after "South"; "bravo" becomes
    // "Able", before "Alpha"; a new device, never checked, joins the south
    // site.
    north.name = QStringLiteral("Toronto");
    bench->store().updateSite(north);
    n1.name = QStringLiteral("Able");
    QVERIFY(bench->store().updateDevice(n1));
    const QString added = bench->store().addDevice(up("Beta", south.id));
    w.rebuild();
    QCOMPARE(ids(w), (QStringList{s2.id, added, loose.id, s1.id, n1.id, n2.id}));
}

void NativeWindowTest::searchFindsTheDevicesOfASite()
{
    // Typed into the window's search field, a site's name finds its devices,
    // whose own fields never hold it; once the site is renamed, its new name.
    Native::Site yard = site(QStringLiteral("North yard"));
    const Native::Site dock = site(QStringLiteral("Dock"));
    const Native::Device alpha = up("Alpha", yard.id);
    const Native::Device bravo = up("Bravo", dock.id);
    const Native::Device charlie = down("Charlie", yard.id);
    bench->load({alpha, bravo, charlie}, {yard, dock});
    NativeWindow w(bench->context());
    w.searchField()->setText(QStringLiteral("north YARD"));
    QTRY_COMPARE(ids(w), (QStringList{charlie.id, alpha.id}));
    yard.name = QStringLiteral("Harbour gate");
    bench->store().updateSite(yard);
    w.searchField()->setText(QStringLiteral("harbour"));
    w.rebuild();
    QCOMPARE(ids(w), (QStringList{charlie.id, alpha.id}));
    w.searchField()->setText(QStringLiteral("north yard"));
    QTRY_VERIFY(ids(w).isEmpty());
}

void NativeWindowTest::cardsFiltersAndBrandFallback()
{
    Native::Device dahua = down("Dahua one");
    dahua.manufacturer = QStringLiteral("DAHUA");
    Native::Device upOne = up("Up one");
    upOne.health.latencyMs = -1; // no latency measured: the "Internet issues" card has no detail line
    bench->load({upOne, dahua, fresh("New one")});
    NativeWindow w(bench->context());
    QCOMPARE(w.brandFilter()->count(), 3);                                    // All brands, DAHUA, HIKVISION
    QCOMPARE(w.liveEventsLabel()->text(), QStringLiteral("Live events 0/2")); // the Hikvision family streams

    // On the smallest window the row of cards and the filters hold still:
    // values line up with and without a detail line, and the search field
    // keeps its width when "Checking 1" appears.
    w.resize(1280, 720);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const auto valueTop = [&w](int card) {
        return w.card(card)->findChild<QLabel*>(QStringLiteral("NCardValue"))->mapTo(&w, QPoint()).y();
    };
    QSet<int> tops;
    QSet<bool> details;
    for (int c = 0; c < kCardCount; ++c) {
        tops.insert(valueTop(c));
        details.insert(w.card(c)->isDetailShown());
    }
    QCOMPARE(details.size(), 2); // cards with and without
    QCOMPARE(tops.size(), 1);
    const int searchWidth = w.searchField()->width();
    bench->controller->run(dahua.id, NativeController::Refresh);
    QTRY_COMPARE(w.busyLabel()->text(), QStringLiteral("Checking 1"));
    QTest::qWait(50);
    QCOMPARE(w.searchField()->width(), searchWidth);
    bench->finishProbes(Native::ProbeResult());
    QTRY_VERIFY(w.busyLabel()->text().isEmpty());

    w.searchField()->setText(QStringLiteral("one"));
    w.brandFilter()->setCurrentIndex(1);
    const auto clearIcon = [&w] {
        for (QToolButton* b : w.searchField()->findChildren<QToolButton*>())
            if (b->isVisible())
                return b->property("opacity").toDouble();
        return 0.0;
    };
    QTRY_COMPARE(clearIcon(), 1.0);
    const int before = w.rebuildCount();
    QTest::mouseClick(w.card(CardOffline), Qt::LeftButton);
    QVERIFY(w.searchField()->text().isEmpty() && w.brandFilter()->currentIndex() == 0);
    QTRY_COMPARE(clearIcon(), 0.0); // the cleared field shows no clear icon
    QCOMPARE(w.statusFilter()->currentIndex(), int(OfflineOnly));
    QTRY_COMPARE_WITH_TIMEOUT(w.rebuildCount(), before + 1, 3000);
    QVERIFY(w.card(CardOffline)->isActive());
    QCOMPARE(ids(w), QStringList{dahua.id});

    QTest::mouseClick(w.card(CardDevices), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ids(w).size(), 3, 3000);
    w.searchField()->setText(QStringLiteral("nothing like it"));
    w.rebuild();
    QCOMPARE(w.emptyLabel()->text(), QStringLiteral("No matches."));
    QVERIFY(!findByText<QPushButton>(w.tableStack()->widget(1), QStringLiteral("Add device"))->isVisibleTo(&w));
    // The chosen brand leaves the inventory: back to all brands, no new request.
    w.searchField()->clear();
    w.brandFilter()->setCurrentIndex(w.brandFilter()->findData(QStringLiteral("DAHUA")));
    bench->store().removeDevice(dahua.id);
    w.rebuild();
    QCOMPARE(w.brandFilter()->currentIndex() + w.brandFilter()->count(), 2);
}

// "Live events N/M" counts the streams live now: a recorder whose stream
// ends, and whose device turns the attempts after it away, is no longer
// counted; back, it is counted again.
void NativeWindowTest::liveEventsCountFollowsTheStreams()
{
    kvrtest::FakeDevice recorder(kvrtest::FakeDevice::Kind::Isapi);
    recorder.login = kvrtest::FakeDevice::Login::None;
    QVERIFY(recorder.start());
    Native::Device gate = up(QStringLiteral("Gate"));
    gate.httpPort = recorder.httpPort();
    gate.username = recorder.username;
    gate.password = recorder.password;
    bench->load({gate, fresh(QStringLiteral("Yard"))});
    NativeWindow w(bench->context());
    w.resize(1280, 720);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE_WITH_TIMEOUT(w.liveEventsLabel()->text(), QStringLiteral("Live events 1/2"), 20000);

    const QString stream = QStringLiteral("/ISAPI/Event/notification/alertStream");
    recorder.script(stream, nativetest::reply(503, "busy", [](auto& r) { r.beforeLogin = true; }));
    recorder.closeStreams();
    QTRY_COMPARE_WITH_TIMEOUT(w.liveEventsLabel()->text(), QStringLiteral("Live events 0/2"), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.requestCount(stream) >= 2, 20000); // turned away since
    QCOMPARE(w.liveEventsLabel()->text(), QStringLiteral("Live events 0/2"));

    // Its check finds it up; its stream is taken back at a later attempt.
    recorder.clearScripts();
    bench->finishProbes(nativetest::upResult());
    QTRY_COMPARE_WITH_TIMEOUT(w.liveEventsLabel()->text(), QStringLiteral("Live events 1/2"), 60000);
    w.hide();
}

void NativeWindowTest::selectionSurvivesRebuildsAndRemoval()
{
    const Native::Device a = up("Alpha");
    const Native::Device b = up("Bravo");
    bench->load({a, b});
    NativeWindow w(bench->context());
    w.table()->selectRow(1);
    // Bravo goes down and moves to the top; it stays selected. While it is
    // checked the window says so and refreshing all waits.
    auto* refresh = findByText<QPushButton>(&w, QStringLiteral("Refresh all"));
    bench->controller->run(b.id, NativeController::Refresh);
    QVERIFY(w.busyLabel()->text() == QStringLiteral("Checking 1") && !refresh->isEnabled());
    bench->finishProbes(nativetest::offlineResult());
    QVERIFY(refresh->isEnabled());
    w.rebuild();
    QCOMPARE(ids(w).first() + w.selectedId(), b.id + b.id);
    // Removing it leaves no selection.
    bench->store().removeDevice(b.id);
    w.rebuild();
    QVERIFY(w.selectedId().isEmpty() && !w.table()->selectionModel()->hasSelection());
    // No blank space under a short table.
    QCOMPARE(w.table()->height(), NativeTable::fittedHeight(w.table(), 1));
    QCOMPARE(w.tableStack()->maximumHeight(), w.table()->height());
}

void NativeWindowTest::showHidePagesAndSignIn()
{
    bench->load({up("A")});
    int stops = 0;
    NativeMedia::Hooks hooks;
    hooks.stopWall = [&stops] { ++stops; };
    NativeMedia::setHooks(hooks);
    NativeWindow w(bench->context());
    auto* wall = new PlainWall;
    w.setWallPage(wall);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(bench->events->isStarted());
    // The wall runs only while its page is shown and the window not minimised.
    w.setPage(1);
    QVERIFY(wall->isActive());
    w.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!wall->isActive());
    w.setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(wall->isActive());
    Q_EMIT wall->openVigiloRequested();
    QVERIFY(w.page() == 0 && !wall->isActive());
    // Hiding stops the services and flushes; the files are written off the main thread.
    bench->store().waitForWrites();
    const int writes = bench->store().inventoryWriteCount();
    w.hide();
    QVERIFY(stops == 1 && !bench->events->isStarted() && !bench->controller->isPollTimerActive());
    bench->store().waitForWrites();
    QCOMPARE(bench->store().inventoryWriteCount(), writes + 1);
    // Server sign-in leaves native mode for good.
    Prefs::set(Prefs::kNativeMode, true);
    QSignalSpy left(&w, &NativeWindow::leaveNative);
    findByText<QPushButton>(&w, QStringLiteral("Use server sign-in"))->click();
    QVERIFY(left.count() == 1 && !Prefs::get(Prefs::kNativeMode));
}

void NativeWindowTest::addDeviceEventsAndSampleCsvFailureKeepsOldFile()
{
    const Native::Site s = site("Depot");
    const Native::Device existing = up("Existing", s.id);
    bench->load({existing}, {s});
    NativeWindow w(bench->context());
    w.table()->selectRow(0);
    w.searchField()->setText(QStringLiteral("zzz"));
    QString proposed;
    QStringList refusals;
    Modal::respond([&](QDialog& d) {
        auto& dialog = dynamic_cast<DeviceDialog&>(d);
        proposed = dialog.form()->siteField()->currentData().toString();
        // An address the store refuses, then the recorder already listed:
        // the dialog stays open with the reason each time.
        dialog.form()->addressField()->setText(QStringLiteral("10.1.7"));
        dialog.submit();
        refusals << dialog.errorLabel()->text();
        dialog.form()->addressField()->setText(existing.ip);
        dialog.form()->httpPortField()->setValue(existing.httpPort);
        dialog.submit();
        refusals << dialog.errorLabel()->text();
        dialog.form()->httpPortField()->setValue(80);
        dialog.form()->addressField()->setText(QStringLiteral(" 10.9.9.9 "));
        dialog.submit();
        return dialog.result();
    });
    findByText<QPushButton>(&w, QStringLiteral("Add device"))->click();
    QTRY_COMPARE(bench->store().devices().size(), 2);
    QCOMPARE(proposed, s.id);
    QCOMPARE(
        refusals,
        QStringList({"10.1.7 is not a valid IPv4 address.",
                     QStringLiteral("127.0.0.1:%1 is already in the list as \"Existing\".").arg(existing.httpPort)}));
    const Native::Device added = bench->store().devices().last();
    QCOMPARE(added.name + QLatin1Char(' ') + w.selectedId() + w.searchField()->text(),
             QStringLiteral("10.9.9.9 ") + added.id);
    // Said as added, and checked, once it is saved.
    QTRY_COMPARE(w.toastLabel()->text(), QStringLiteral("Device added. Checking it now."));
    QCOMPARE(bench->pending.size(), 1);

    // An event of a device opens its details; one of a removed device, nothing.
    for (const QString& id : {added.id, QStringLiteral("gone")}) {
        Modal::respond([&id](QDialog& d) {
            Q_EMIT dynamic_cast<EventsDialog&>(d).openDevice(id);
            return d.result();
        });
        Modal::respond([](QDialog&) { return int(QDialog::Accepted); });
        w.openEvents();
    }
    QCOMPARE(Modal::shown().mid(Modal::shown().size() - 3),
             (QStringList{"Live events", "Device details · 10.9.9.9", "Live events"}));

    // The sample CSV is saved where the user chose.
    const QString path = documents() + QStringLiteral("/sample.csv");
    QFile::remove(path);
    Modal::chooseFile(path);
    w.saveSampleCsv();
    QCOMPARE(readAll(path), NativeStore::sampleCsv().toUtf8());
    QCOMPARE(w.toastLabel()->text(), QStringLiteral("Sample CSV saved"));
    // A write that fails half-way (a full disk) keeps the file as it was and
    // says so, instead of a truncated file and a toast.
    writeAll(path, "precious");
    w.toastLabel()->clear();
    Modal::chooseFile(path);
    Modal::answer(QMessageBox::Close);
    {
        nativetest::FileSizeLimit limit(16);
        w.saveSampleCsv();
    }
    QCOMPARE(readAll(path), QByteArray("precious"));
    QCOMPARE(Modal::shown().last(),
             QStringLiteral("Can’t save: That file can't be written: File too large. Pick another place."));
    QVERIFY(w.toastLabel()->text().isEmpty());
}

// A report of the fleet says where it was written, so it can be found; a
// path deep in folders wraps onto further lines within the window.
void NativeWindowTest::reportSaysWhereItWent()
{
    bench->load({up("Gate")});
    NativeWindow w(bench->context());
    w.resize(1280, 680);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QString deep = documents();
    for (int level = 0; level < 8; ++level)
        deep += QStringLiteral("/Quarterly_uptime_reports_for_the_regional_office_%1").arg(level);
    QVERIFY(QDir().mkpath(deep));
    const QString report = deep + QStringLiteral("/fleet.csv");
    exportNextReportTo(report);
    w.openReports(QString());
    QVERIFY(QFile::exists(report));
    QLabel* toast = w.toastLabel();
    QCOMPARE(toast->text(), QStringLiteral("Report exported to ") + QDir::toNativeSeparators(report));
    QVERIFY2(
        w.rect().contains(toast->geometry()),
        qPrintable(
            QStringLiteral("%1x%2 at %3,%4").arg(toast->width()).arg(toast->height()).arg(toast->x()).arg(toast->y())));
    // Every line of it fits the toast's width, and the lines its height.
    const QRect room = toast->contentsRect();
    const QRect need =
        toast->fontMetrics().boundingRect(QRect(0, 0, room.width(), 100000), Qt::TextWordWrap, toast->text());
    QVERIFY2(need.width() <= room.width() && need.height() <= room.height() + 1,
             qPrintable(QStringLiteral("needs %1x%2, has %3x%4")
                            .arg(need.width())
                            .arg(need.height())
                            .arg(room.width())
                            .arg(room.height())));
}

void NativeWindowTest::overviewRowActionLeavesHandler()
{
    // A down device gives a finding row; clicking it opens the details. While
    // that dialog is open a refresh deletes the row that was clicked: the
    // click's handler must be over by then.
    const Native::Device a = down("Gate");
    bench->load({a});
    NativeWindow w(bench->context());
    w.resize(1400, 900);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QFrame* row = nullptr;
    for (QFrame* f : w.overview()->findChildren<QFrame*>(QStringLiteral("NIssue")))
        if (f->accessibleName().contains(QStringLiteral("Gate")) && f->isVisible())
            row = f;
    QVERIFY(row);
    QPointer<QFrame> clicked(row);
    bool clickReturned = false;
    bool handlerOverWhenShown = false;
    bool rowDeleted = false;
    Modal::respond([&](QDialog& d) {
        handlerOverWhenShown = clickReturned;
        Native::Device renamed = bench->store().device(a.id).value();
        renamed.name = QStringLiteral("Gate two");
        bench->store().updateDevice(renamed);
        w.overview()->refresh(); // the row of the old name goes
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        rowDeleted = clicked.isNull();
        return d.result();
    });
    QTest::mouseClick(row, Qt::LeftButton);
    clickReturned = true;
    QTRY_COMPARE(Modal::pending(), 0);
    QVERIFY(handlerOverWhenShown);
    QVERIFY(rowDeleted);
    QVERIFY(Modal::shown().contains(QStringLiteral("Device details · Gate")));
}

// From the first card, Tab goes through the page as it reads: all six cards
// (those that only show a count too, so a screen reader meets them), the
// findings, the sites, the filters, then the table. Rows made after the
// window was built (a device added, a check that found a fault) keep their
// place.
void NativeWindowTest::tabFollowsTheReadingOrder()
{
    const Native::Site north = site("North yard");
    const Native::Site south = site("South gate");
    bench->load({down("Gate", north.id), up("Yard", south.id)}, {north, south});
    NativeWindow w(bench->context());
    w.resize(1400, 1000);
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    bench->store().addDevice(down("Dock", south.id));
    w.rebuild();
    QTest::qWait(20); // the new rows show

    QStringList walk;
    w.card(0)->setFocus();
    for (int press = 0; press < 200 && !walk.contains(QStringLiteral("table")); ++press) {
        QWidget* at = QApplication::focusWidget();
        if (auto* card = qobject_cast<StatCard*>(at))
            walk << QStringLiteral("card ") + card->accessibleName();
        else if (at && at->objectName() == QLatin1String("NIssue"))
            walk << QStringLiteral("row ") + at->accessibleName();
        else if (at == w.searchField())
            walk << QStringLiteral("search");
        else if (at == w.table())
            walk << QStringLiteral("table");
        QTest::keyClick(at, Qt::Key_Tab);
    }
    walk.removeDuplicates();
    // The rows as the page shows them, top to bottom.
    QStringList rows;
    for (QVBoxLayout* list : {w.overview()->findingList(), w.overview()->siteList()})
        for (int i = 0; i < list->count(); ++i)
            rows << QStringLiteral("row ") + list->itemAt(i)->widget()->accessibleName();
    QVERIFY(rows.size() >= 4 && rows.endsWith(QStringLiteral("row South gate"))); // findings, then two sites
    QCOMPARE(walk,
             QStringList({"card Devices", "card Online", "card Offline", "card Cameras offline", "card Internet issues",
                          "card Disk faults"})
                 + rows + QStringList({"search", "table"}));
}

// The arrows move through the rows and open nothing, the page following the
// row (the table shows all its rows and scrolls with the page); Space, Enter
// and the row's menu ("View details", by Shift+F10) open its details, as a
// click on "View details" does.
void NativeWindowTest::rowsOpenByTheKeysAndThePageFollows()
{
    QList<Native::Device> devices;
    for (int i = 0; i < 30; ++i)
        devices << up(QStringLiteral("Recorder %1").arg(i, 2, 10, QLatin1Char('0')));
    bench->load(devices);
    NativeWindow w(bench->context());
    w.resize(1280, 720);
    w.show();
    QVERIFY(drive::activate(&w));
    QTableView* table = w.table();
    QScrollArea* page = nullptr;
    for (QWidget* p = table->parentWidget(); p && !page; p = p->parentWidget())
        page = qobject_cast<QScrollArea*>(p);
    QVERIFY(page);
    table->setFocus(Qt::TabFocusReason);
    table->setCurrentIndex(table->model()->index(0, 0));
    for (int i = 0; i < 29; ++i)
        QTest::keyClick(table, Qt::Key_Down);
    const QRect row = table->visualRect(table->currentIndex());
    const int top = table->viewport()->mapTo(page->viewport(), row.topLeft()).y();
    QVERIFY2(top >= 0 && top + row.height() <= page->viewport()->height(), qPrintable(QString::number(top)));
    QVERIFY(Modal::shown().isEmpty());

    QStringList opened;
    for (int k = 0; k < 3; ++k)
        Modal::respond([&opened](QDialog& d) {
            opened << d.windowTitle();
            return int(QDialog::Rejected);
        });
    QTest::keyClick(table, Qt::Key_Space);
    QTRY_COMPARE(opened.size(), 1);
    QTest::keyClick(table, Qt::Key_Return);
    QTRY_COMPARE(opened.size(), 2);
    QTest::keyClick(table, Qt::Key_F10, Qt::ShiftModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 1);
    QCOMPARE(menu->actions().first()->text(), QStringLiteral("View details"));
    menu->actions().first()->trigger();
    menu->close();
    QTRY_COMPARE(opened.size(), 3);
    QCOMPARE(opened, QStringList(3, QStringLiteral("Device details · Recorder 29")));
}

// An inventory written before names had a bound may hold a name of
// megabytes. Wherever the window shows such a text (rows, tool tips, the
// findings and the sites of the overview, the filters) it is cut before it
// is laid out, and the store keeps it whole.
void NativeWindowTest::storedTextsOfAnyLengthShowCut()
{
    Native::Site depot = site(overLong("Depot"), overLong("Provider"), overLong("Contact"));
    depot.address = overLong("Address");
    depot.sim = overLong("SIM");
    depot.notes = overLong("Notes");
    Native::Device gate = down(overLong("Gate"), depot.id);
    gate.health.internet = Native::Passed; // answers, but not as a recorder: its error is the finding
    gate.health.error = overLong("Refused");
    Native::Device yard = up(overLong("Yard"), depot.id);
    yard.health.model = overLong("Model");
    yard.health.firmware = overLong("Firmware");
    yard.cameras[1].name = overLong("Camera");
    yard.cameras[1].online = false;
    yard.cameras[1].lastOnline = testNow().addSecs(-3600);
    const Native::Device old = disabled(overLong("Old"), overLong("Moved"));
    bench->load({gate, yard, old}, {depot});
    NativeWindow w(bench->context());
    w.resize(1400, 900);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.rebuild();
    QCOMPARE(w.model()->rows().size(), 3);
    QString where;
    QVERIFY2(longestShownText(&w, &where) <= 2 * kvr::core::tun::kShownNoteChars, qPrintable(where));
    QCOMPARE(bench->store().device(gate.id)->name, gate.name);
    QCOMPARE(bench->store().site(depot.id)->notes, depot.notes);
    // A search finds the devices by what shows of their names and sites.
    w.searchField()->setText(QStringLiteral("yard"));
    QTRY_COMPARE(ids(w), QStringList{yard.id});
    w.searchField()->setText(QStringLiteral("depot"));
    QTRY_COMPARE(ids(w).size(), 2);
}

KVR_TEST_MAIN(NativeWindowTest)

#include "tst_native_window.moc"
