// The native main window's wiring: coalesced rebuilds, cards and filters,
// the empty states, selection across rebuilds, toast, busy and live-events
// labels, the overview switch, pages, showing and hiding, and the actions of
// the top bar (dialogs answered through the Modal seam).

#include "app/core/Settings.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/EventsDialog.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeWallPage.h"
#include "native/screens/NativeWindow.h"
#include "native/screens/ReportDialog.h"
#include "native/screens/StatCard.h"
#include "native/screens/VigiloOverview.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>

#include <unistd.h>

using namespace NativeFleet;
using namespace screenskit;

namespace {

// A stand-in for the live wall that counts what the window asks of it.
class CountingWall : public NativeWallPage {
public:
    int activations = 0;
    int deactivations = 0;
    void activate() override
    {
        ++activations;
        m_active = true;
    }
    void deactivate() override
    {
        ++deactivations;
        m_active = false;
    }
};

QString documents()
{
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QDir().mkpath(dir);
    return dir;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList ids(const NativeWindow& w)
{
    QStringList out;
    for (const Row& r : w.model()->rows())
        out << r.id;
    return out;
}

} // namespace

class NativeWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void dataRebuildsCoalesceAndKeepASecondApart();
    void filterChangesShowWithin120ms();
    void cardClicksSetOneFilter();
    void emptyStatesAndBrandFallback();
    void selectionSurvivesRebuildsAndRemoval();
    void toastReplacesAndRecentres();
    void busyAndLiveEventLabels();
    void overviewSwitchIsRemembered();
    void pagesWallAndMinimise();
    void showAndHideDriveTheServices();
    void leavingNativeMode();
    void addDeviceSelectsAndFetches();
    void importNoticeAndDiagnoses();
    void sampleCsvFailureKeepsOldFile();
    void eventsOpenDetails();
    void overviewRowActionLeavesHandler();

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

void NativeWindowTest::dataRebuildsCoalesceAndKeepASecondApart()
{
    const Native::Device a = up("A");
    bench->load({a, up("B")});
    NativeWindow w(bench->context());
    QCOMPARE(w.rebuildCount(), 1);
    QElapsedTimer clock;
    clock.start();
    QList<qint64> at;
    connect(&w, &NativeWindow::rebuilt, &w, [&] { at << clock.elapsed(); });

    // A burst right after the construction's rebuild: one rebuild, a full
    // second after the previous one began.
    for (int i = 0; i < 20; ++i)
        Q_EMIT bench->store().deviceUpdated(a.id);
    QVERIFY(w.rebuildTimer()->isActive());
    QTRY_COMPARE_WITH_TIMEOUT(at.size(), 1, 5000);
    QVERIFY2(at[0] >= 990, qPrintable(QString::number(at[0])));

    // More changes during and right after: the next is again a second later.
    Q_EMIT bench->store().changed();
    Q_EMIT bench->controller->busyChanged(a.id, false);
    QTRY_COMPARE_WITH_TIMEOUT(at.size(), 2, 5000);
    QVERIFY2(at[1] - at[0] >= 990, qPrintable(QString::number(at[1] - at[0])));
    QTest::qWait(300);
    QCOMPARE(at.size(), 2);

    // A change long after the last rebuild waits the 120 ms grace only.
    QTest::qWait(1000);
    Q_EMIT bench->store().deviceUpdated(a.id);
    QVERIFY(w.rebuildTimer()->remainingTime() <= 120);
    QVERIFY(w.rebuildTimer()->remainingTime() >= 100);
}

void NativeWindowTest::filterChangesShowWithin120ms()
{
    bench->load({up("A")});
    NativeWindow w(bench->context());
    // A data rebuild pending far away is pulled forward by a keystroke.
    Q_EMIT bench->store().changed();
    QVERIFY(w.rebuildTimer()->remainingTime() > 500);
    w.searchField()->setText(QStringLiteral("a"));
    QVERIFY(w.rebuildTimer()->remainingTime() <= 120);
    const int before = w.rebuildCount();
    QTRY_COMPARE_WITH_TIMEOUT(w.rebuildCount(), before + 1, 3000);
    // A pending rebuild nearer than 120 ms stays where it is.
    w.rebuildTimer()->start(50);
    w.statusFilter()->setCurrentIndex(1);
    QVERIFY(w.rebuildTimer()->remainingTime() <= 50);
}

void NativeWindowTest::cardClicksSetOneFilter()
{
    Native::Device dahua = down("Dahua one");
    dahua.manufacturer = QStringLiteral("DAHUA");
    bench->load({up("Up one"), dahua, fresh("New one")});
    NativeWindow w(bench->context());
    QVERIFY(w.card(CardDevices)->isActive());
    QCOMPARE(w.card(CardOnline)->value(), QStringLiteral("1"));
    QCOMPARE(w.card(CardOffline)->detail(), QStringLiteral("not answering"));
    QCOMPARE(w.brandFilter()->count(), 3); // All brands, DAHUA, HIKVISION

    w.searchField()->setText(QStringLiteral("one"));
    w.brandFilter()->setCurrentIndex(1);
    const int before = w.rebuildCount();
    QTest::mouseClick(w.card(CardOffline), Qt::LeftButton);
    QCOMPARE(w.searchField()->text(), QString());
    QCOMPARE(w.brandFilter()->currentIndex(), 0);
    QCOMPARE(w.statusFilter()->currentIndex(), int(OfflineOnly));
    QTRY_COMPARE_WITH_TIMEOUT(w.rebuildCount(), before + 1, 3000);
    QTest::qWait(250);
    QCOMPARE(w.rebuildCount(), before + 1);
    QVERIFY(w.card(CardOffline)->isActive());
    QVERIFY(!w.card(CardDevices)->isActive());
    QCOMPARE(ids(w), QStringList{dahua.id});

    QTest::mouseClick(w.card(CardDevices), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(ids(w).size(), 3, 3000);
    // Not clickable.
    QTest::mouseClick(w.card(CardDiskFaults), Qt::LeftButton);
    QCOMPARE(w.statusFilter()->currentIndex(), 0);
}

void NativeWindowTest::emptyStatesAndBrandFallback()
{
    bench->load({});
    {
        NativeWindow w(bench->context());
        QCOMPARE(w.tableStack()->currentIndex(), 1);
        QCOMPARE(w.emptyLabel()->text(), QStringLiteral("No devices yet. Add a site or import a CSV."));
        QVERIFY(findByText<QPushButton>(w.tableStack()->widget(1), QStringLiteral("Add device"))->isVisibleTo(&w));
        QCOMPARE(w.card(CardDevices)->detail(), QStringLiteral("0 sites · 0 cameras"));
        QVERIFY(!w.card(CardOnline)->isDetailShown());
    }
    Native::Device dahua = up("D");
    dahua.manufacturer = QStringLiteral("DAHUA");
    bench->load({up("H"), dahua});
    NativeWindow w(bench->context());
    w.searchField()->setText(QStringLiteral("nothing like it"));
    w.rebuild();
    QCOMPARE(w.emptyLabel()->text(), QStringLiteral("No matches."));
    QVERIFY(!findByText<QPushButton>(w.tableStack()->widget(1), QStringLiteral("Add device"))->isVisibleTo(&w));
    // The chosen brand leaves the inventory: back to all brands, no new request.
    w.searchField()->clear();
    w.brandFilter()->setCurrentIndex(w.brandFilter()->findData(QStringLiteral("DAHUA")));
    w.rebuild();
    QCOMPARE(ids(w), QStringList{dahua.id});
    bench->store().removeDevice(dahua.id);
    w.rebuildTimer()->stop();
    w.rebuild();
    QCOMPARE(w.brandFilter()->currentIndex(), 0);
    QCOMPARE(w.brandFilter()->count(), 2);
    QVERIFY(!w.rebuildTimer()->isActive());
}

void NativeWindowTest::selectionSurvivesRebuildsAndRemoval()
{
    const Native::Device a = up("Alpha");
    const Native::Device b = up("Bravo");
    bench->load({a, b});
    NativeWindow w(bench->context());
    w.table()->selectRow(1);
    QCOMPARE(w.selectedId(), b.id);
    // Bravo goes down and moves to the top; it stays selected.
    bench->controller->run(b.id, NativeController::Refresh);
    bench->finishProbes(nativetest::offlineResult());
    w.rebuild();
    QCOMPARE(ids(w).first(), b.id);
    QCOMPARE(w.table()->selectionModel()->currentIndex().row(), 0);
    QCOMPARE(w.selectedId(), b.id);
    QCOMPARE(w.selectedSite(), QString());
    // Removing it leaves no selection.
    bench->store().removeDevice(b.id);
    w.rebuild();
    QVERIFY(w.selectedId().isEmpty());
    QVERIFY(!w.table()->selectionModel()->hasSelection());
    QCOMPARE(w.table()->height(), NativeTable::fittedHeight(w.table(), 1));
}

void NativeWindowTest::toastReplacesAndRecentres()
{
    bench->load({});
    NativeWindow w(bench->context());
    w.resize(1300, 800);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.toast(QStringLiteral("First"));
    QLabel* t = w.toastLabel();
    QVERIFY(t->isVisible());
    QCOMPARE(t->x(), (w.width() - t->width()) / 2);
    QCOMPARE(t->y(), w.height() - t->height() - 28);
    QTest::qWait(100);
    w.toast(QStringLiteral("Second, longer text"));
    QCOMPARE(t->text(), QStringLiteral("Second, longer text"));
    w.resize(1500, 900);
    QTRY_COMPARE(t->y(), w.height() - t->height() - 28);
    QCOMPARE(t->x(), (w.width() - t->width()) / 2);
    QTRY_VERIFY_WITH_TIMEOUT(!t->isVisible(), 6000);
}

void NativeWindowTest::busyAndLiveEventLabels()
{
    Native::Device dahua = up("D");
    dahua.manufacturer = QStringLiteral("DAHUA");
    const Native::Device a = up("A");
    bench->load({a, up("B"), up("C"), dahua});
    NativeWindow w(bench->context());
    QVERIFY(w.liveEventsLabel()->isVisibleTo(&w));
    QCOMPARE(w.liveEventsLabel()->text(), QStringLiteral("Live events 0/3"));
    QVERIFY(w.liveEventsLabel()->toolTip().endsWith(QStringLiteral("checked every 5 min.")));
    auto* refresh = findByText<QPushButton>(&w, QStringLiteral("Refresh all"));
    bench->controller->run(a.id, NativeController::Diagnose);
    QCOMPARE(w.busyLabel()->text(), QStringLiteral("Checking 1"));
    QVERIFY(!refresh->isEnabled());
    bench->finishProbes(nativetest::upResult());
    QCOMPARE(w.busyLabel()->text(), QString());
    QVERIFY(refresh->isEnabled());

    bench->load({dahua});
    NativeWindow none(bench->context());
    QVERIFY(!none.liveEventsLabel()->isVisibleTo(&none));
}

void NativeWindowTest::overviewSwitchIsRemembered()
{
    bench->load({up("A")});
    {
        NativeWindow w(bench->context());
        auto* toggle = findByText<QPushButton>(&w, QStringLiteral("Hide overview"));
        QVERIFY(toggle);
        QVERIFY(w.overview()->isVisibleTo(&w));
        toggle->click();
        QVERIFY(!w.overview()->isVisibleTo(&w));
        QCOMPARE(toggle->text(), QStringLiteral("Show overview"));
        QCOMPARE(Prefs::get(Prefs::kNativeOverview), false);
    }
    NativeWindow again(bench->context());
    QVERIFY(!again.overview()->isVisibleTo(&again));
    QVERIFY(findByText<QPushButton>(&again, QStringLiteral("Show overview")));
}

void NativeWindowTest::pagesWallAndMinimise()
{
    bench->load({});
    NativeWindow w(bench->context());
    auto* wall = new CountingWall;
    w.setWallPage(wall);
    QCOMPARE(w.wallPage(), wall);
    auto* addSite = findByText<QPushButton>(&w, QStringLiteral("Add site"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setPage(1);
    QCOMPARE(w.page(), 1);
    QVERIFY(!addSite->isVisible());
    QCOMPARE(wall->activations, 1);
    w.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!wall->isActive());
    w.setWindowState(Qt::WindowNoState);
    QTRY_VERIFY(wall->isActive());
    Q_EMIT wall->openVigiloRequested();
    QCOMPARE(w.page(), 0);
    QVERIFY(addSite->isVisible());
    QVERIFY(!wall->isActive());
    // Restoring on the fleet page leaves the wall off.
    w.setWindowState(Qt::WindowMinimized);
    QTest::qWait(50);
    w.setWindowState(Qt::WindowNoState);
    QTest::qWait(50);
    QVERIFY(!wall->isActive());
}

void NativeWindowTest::showAndHideDriveTheServices()
{
    Native::Device hik = up("A");
    bench->load({hik});
    int stops = 0;
    NativeMedia::Hooks hooks;
    hooks.stopWall = [&stops] { ++stops; };
    NativeMedia::setHooks(hooks);
    NativeWindow w(bench->context());
    QVERIFY(!bench->controller->isStarted());
    w.show();
    QVERIFY(bench->controller->isStarted());
    QVERIFY(bench->events->isStarted());
    const int writes = bench->store().inventoryWriteCount();
    w.hide();
    QCOMPARE(stops, 1);
    QVERIFY(!bench->events->isStarted());
    QVERIFY(!bench->controller->isPollTimerActive());
    QCOMPARE(bench->store().inventoryWriteCount(), writes + 1);
    NativeMedia::setHooks({});
}

void NativeWindowTest::leavingNativeMode()
{
    bench->load({});
    Prefs::set(Prefs::kNativeMode, true);
    NativeWindow w(bench->context());
    QSignalSpy left(&w, &NativeWindow::leaveNative);
    findByText<QPushButton>(&w, QStringLiteral("Use server sign-in"))->click();
    QCOMPARE(left.count(), 1);
    QCOMPARE(Prefs::get(Prefs::kNativeMode), false);
}

void NativeWindowTest::addDeviceSelectsAndFetches()
{
    const Native::Site s = site("Depot");
    Native::Device existing = up("Existing", s.id);
    bench->load({existing}, {s});
    NativeWindow w(bench->context());
    w.table()->selectRow(0);
    w.searchField()->setText(QStringLiteral("zzz"));
    QString proposed;
    Modal::respond([&proposed](QDialog& d) {
        auto& dialog = dynamic_cast<DeviceDialog&>(d);
        proposed = dialog.form()->siteField()->currentData().toString();
        dialog.form()->addressField()->setText(QStringLiteral(" 10.9.9.9 "));
        dialog.submit();
        return dialog.result();
    });
    findByText<QPushButton>(&w, QStringLiteral("Add device"))->click();
    QTRY_COMPARE(Modal::pending(), 0);
    QCOMPARE(proposed, s.id);
    QTRY_COMPARE(bench->store().devices().size(), 2);
    const Native::Device added = bench->store().devices().last();
    QCOMPARE(added.name, QStringLiteral("10.9.9.9"));
    QCOMPARE(w.selectedId(), added.id);
    QCOMPARE(w.searchField()->text(), QString());
    QCOMPARE(bench->pending.size(), 1);
    QCOMPARE(bench->pending.first().first, added.id);
    QCOMPARE(w.toastLabel()->text(), QStringLiteral("Device added. Checking it now."));

    // A bad address keeps the dialog open with the form's sentence.
    Modal::respond([](QDialog& d) {
        auto& dialog = dynamic_cast<DeviceDialog&>(d);
        dialog.form()->addressField()->setText(QStringLiteral("admin@10.0.0.1"));
        dialog.submit();
        if (dialog.errorLabel()->isHidden())
            return int(QDialog::Accepted);
        if (dialog.errorLabel()->text() != QStringLiteral("Enter the device's IP address or host name."))
            return int(QDialog::Accepted);
        return int(QDialog::Rejected);
    });
    w.addDevice();
    QCOMPARE(bench->store().devices().size(), 2);
}

void NativeWindowTest::importNoticeAndDiagnoses()
{
    bench->load({up("Old")});
    NativeWindow w(bench->context());
    const QString path = documents() + QStringLiteral("/import.csv");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("name,ip,manufacturer\nOne,10.0.0.1,HIKVISION\nTwo,10.0.0.2,DAHUA\nBad,,HIKVISION\nThree,10.0.0.3,NOPE\n");
    f.close();
    Modal::chooseFile(path);
    Modal::answer(QMessageBox::Close);
    w.importCsv();
    const QString notice = Modal::shown().last();
    QVERIFY2(notice.startsWith(QStringLiteral("Import devices: 2 devices added, 2 skipped. Diagnostics are running.\n\n"
                                              "Row ")),
             qPrintable(notice));
    QCOMPARE(bench->pending.size(), 2);
    // A cancelled chooser does nothing.
    Modal::chooseFile(QString());
    const int shown = int(Modal::shown().size());
    w.importCsv();
    QCOMPARE(Modal::shown().size(), shown + 1); // the chooser only
}

void NativeWindowTest::sampleCsvFailureKeepsOldFile()
{
    bench->load({});
    NativeWindow w(bench->context());
    const QString path = documents() + QStringLiteral("/sample.csv");
    QFile::remove(path);
    Modal::chooseFile(path);
    w.saveSampleCsv();
    QCOMPARE(readAll(path), NativeStore::sampleCsv().toUtf8());
    QCOMPARE(w.toastLabel()->text(), QStringLiteral("Sample CSV saved"));

    // A write that fails half-way (a full disk) keeps the file as it was and
    // says so, instead of a truncated file and a toast.
    QFile keep(path);
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("precious");
    keep.close();
    w.toastLabel()->clear();
    Modal::chooseFile(path);
    Modal::answer(QMessageBox::Close);
    {
        nativetest::FileSizeLimit limit(16);
        w.saveSampleCsv();
    }
    QCOMPARE(readAll(path), QByteArray("precious"));
    QCOMPARE(Modal::shown().last(), QStringLiteral("Can’t save: That file can't be written. Pick another place."));
    QVERIFY(w.toastLabel()->text().isEmpty());

    // A folder without write permission: the same notice, no file (root
    // writes anywhere, so only a user can see this).
    if (::geteuid() == 0)
        return;
    const QString locked = documents() + QStringLiteral("/locked");
    QDir().mkpath(locked);
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    Modal::chooseFile(locked + QStringLiteral("/s.csv"));
    Modal::answer(QMessageBox::Close);
    w.saveSampleCsv();
    QVERIFY(!QFile::exists(locked + QStringLiteral("/s.csv")));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void NativeWindowTest::eventsOpenDetails()
{
    const Native::Device a = up("Alpha");
    bench->load({a});
    NativeWindow w(bench->context());
    Modal::respond([&a](QDialog& d) {
        auto& events = dynamic_cast<EventsDialog&>(d);
        Q_EMIT events.openDevice(a.id);
        return events.result();
    });
    QString detailsTitle;
    Modal::respond([&detailsTitle](QDialog& d) {
        detailsTitle = d.windowTitle();
        return int(QDialog::Accepted);
    });
    w.openEvents();
    QCOMPARE(detailsTitle, QStringLiteral("Device details · Alpha"));
    // A removed device's event closes the list and opens nothing.
    Modal::respond([](QDialog& d) {
        Q_EMIT dynamic_cast<EventsDialog&>(d).openDevice(QStringLiteral("gone"));
        return d.result();
    });
    w.openEvents();
    QCOMPARE(Modal::pending(), 0);
    QCOMPARE(Modal::shown().last(), QStringLiteral("Live events"));
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

KVR_TEST_MAIN(NativeWindowTest)
#include "tst_native_window.moc"
