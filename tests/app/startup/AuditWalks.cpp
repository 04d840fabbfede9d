#include "tests/app/startup/AuditWalks.h"

#include "app/startup/Startup.h"
#include "app/ui/Modal.h"
#include "native/live/MonthGrid.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/NativeWindow.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/ShellWindow.h"
#include "server/view/IstClock.h"
#include "server/view/StagePages.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/Drive.h"
#include "tests/support/ScreenAudit.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTreeView>

using namespace kvr::app;
using namespace kvr::shell;
using namespace kvr::view;
using namespace kvr::live;
using namespace kvr::screens;

namespace auditwalks {

namespace {

constexpr int kAnswer_ms = 20000; // a server or recorder answering on a busy machine

std::function<bool(QWidget*)> buttonNamed(const QString& name)
{
    return [name](QWidget* w) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        return b && (b->text() == name || b->accessibleName() == name);
    };
}

// The names of the actions of the menu that has just opened, and the menu
// closed with Escape; empty when none opened.
QStringList menuThatOpened()
{
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu)
        return {};
    QStringList names;
    for (const QAction* a : menu->actions())
        names << a->text();
    QTest::keyClick(menu, Qt::Key_Escape);
    return names;
}

// What holds the focus at `step` of a walk, ringed and named.
QStringList focusAt(QWidget* window, const QColor& ring, const QString& step)
{
    QStringList faults;
    for (const QString& f : drive::focusSeen(window, ring))
        faults << step + QStringLiteral(": ") + f;
    return faults;
}

QString wantedAt(const QString& step)
{
    return QStringLiteral("[keys] ") + step;
}

} // namespace

QStringList serverPlaybackByKeys(TopLevelWindows& windows, orgserver::FakeOrgServer& server, const QColor& ring)
{
    QStringList faults;
    const auto seen = [&faults, &ring](QWidget* window, const QString& step) { faults += focusAt(window, ring, step); };

    // Signing in: a wrong password, then Return again on the field the
    // answer emptied, then the right one.
    LoginWindow& login = windows.login;
    if (!drive::activate(&login))
        return {wantedAt(QStringLiteral("the sign-in window never comes to the front"))};
    const auto isPassword = [](QWidget* w) {
        auto* e = qobject_cast<QLineEdit*>(w);
        return e && e->objectName() == QLatin1String("LoginField") && e->echoMode() == QLineEdit::Password;
    };
    drive::type(&login, QStringLiteral("demo"));
    if (!drive::tabTo(&login, isPassword, 5))
        return {wantedAt(QStringLiteral("Tab never reaches the password from the user name"))};
    drive::type(&login, QStringLiteral("wrong"));
    drive::press(&login, Qt::Key_Return);
    const auto says = [&login](const QString& text) {
        for (QLabel* l : login.findChildren<QLabel*>(QStringLiteral("LoginError")))
            if (l->isVisible() && l->text() == text)
                return true;
        return false;
    };
    if (!QTest::qWaitFor([&] { return says(QStringLiteral("Username or password is incorrect.")); }, kAnswer_ms))
        return {wantedAt(QStringLiteral("a wrong password is not refused"))};
    drive::press(&login, Qt::Key_Return);
    if (!says(QStringLiteral("Enter your password.")))
        faults << wantedAt(QStringLiteral("Return on the emptied password does not ask for one"));
    if (!QTest::qWaitFor([&] { return isPassword(QApplication::focusWidget()); }, 1000))
        faults << wantedAt(QStringLiteral("the password field does not take the focus back"));
    drive::type(&login, QStringLiteral("secret"));
    drive::press(&login, Qt::Key_Return);
    ShellWindow& shell = windows.shell;
    if (!QTest::qWaitFor([&shell] { return shell.isVisible(); }, kAnswer_ms))
        return faults << wantedAt(QStringLiteral("the right password does not sign in"));
    // The wrong password and the right one, and nothing between them.
    if (server.countOf(QStringLiteral("/v2/login/")) != 2)
        faults << wantedAt(QStringLiteral("%1 sign-ins reached the server, not 2: an empty password went too")
                               .arg(server.countOf(QStringLiteral("/v2/login/"))));

    CatalogPane* pane = shell.catalogue();
    const auto loaded = [pane, &server] {
        return !pane->rebuildPending() && pane->model()->rowCount() == server.sites.size()
            && pane->loadingLabel()->text().isEmpty();
    };
    if (!QTest::qWaitFor(loaded, kAnswer_ms) || !drive::activate(&shell))
        return faults << wantedAt(QStringLiteral("the catalogue never comes"));
    QTreeView* tree = pane->tree();
    if (!drive::tabTo(&shell, [tree](QWidget* w) { return w == tree; }))
        return faults << wantedAt(QStringLiteral("Tab never reaches the catalogue"));
    seen(&shell, QStringLiteral("the catalogue"));

    // The arrows to the first recorder open nothing on the way.
    QSignalSpy devices(pane, &CatalogPane::deviceSelected);
    QSignalSpy channels(pane, &CatalogPane::channelSelected);
    for (int i = 0; i < 20 && CatalogModel::kindAt(tree->currentIndex()) != CatalogModel::Kind::Device; ++i)
        drive::press(&shell, Qt::Key_Down);
    const QModelIndex recorder = tree->currentIndex();
    if (CatalogModel::kindAt(recorder) != CatalogModel::Kind::Device)
        return faults << wantedAt(QStringLiteral("the arrows never reach a recorder in the catalogue"));
    if (!devices.isEmpty() || !channels.isEmpty())
        faults << wantedAt(QStringLiteral("moving with the arrows opened a row"));
    // Its menu, by the menu key and by Shift+F10.
    drive::menuKey(&shell);
    if (!menuThatOpened().contains(QStringLiteral("Open device")))
        faults << wantedAt(QStringLiteral("the menu key opens no menu with \"Open device\" on a recorder"));
    drive::press(&shell, Qt::Key_F10, Qt::ShiftModifier);
    if (!menuThatOpened().contains(QStringLiteral("Open device")))
        faults << wantedAt(QStringLiteral("Shift+F10 opens no menu with \"Open device\" on a recorder"));
    // Enter opens it.
    const QString deviceId = recorder.data(CatalogModel::IdRole).toString();
    drive::press(&shell, Qt::Key_Return);
    if (!QTest::qWaitFor([&shell, &deviceId] { return shell.currentDeviceId() == deviceId; }, 2000))
        return faults << wantedAt(QStringLiteral("Enter on a recorder does not open it"));

    // Its recordings, the day before, from its start.
    if (!drive::tabTo(&shell, buttonNamed(QStringLiteral("Device playback"))))
        return faults << wantedAt(QStringLiteral("Tab never reaches \"Device playback\""));
    seen(&shell, QStringLiteral("Device playback"));
    drive::press(&shell, Qt::Key_Space);
    auto* stage = shell.findChild<StagePages*>();
    if (!QTest::qWaitFor([stage] { return stage->isVisible() && stage->mode() == StagePages::DevicePlayback; },
                         kAnswer_ms))
        return faults << wantedAt(QStringLiteral("Space on \"Device playback\" does not open the recordings"));
    for (const QString& button : {QStringLiteral("Previous day"), QStringLiteral("Play from 00:00")}) {
        if (!drive::tabTo(&shell, buttonNamed(button)))
            return faults << wantedAt(QStringLiteral("Tab never reaches \"%1\"").arg(button));
        seen(&shell, button);
        drive::press(&shell, Qt::Key_Space);
    }
    const QString day = todayIst().addDays(-1).toString(Qt::ISODate);
    const QString camera = shell.currentChannelId();
    const auto asked = [&server, &day, &camera] {
        for (const orgserver::Request& r : server.requestsTo(QStringLiteral("/v2/api/start/playback/stream/")))
            if (r.queryValue(QStringLiteral("playback_date")) == day
                && r.queryValue(QStringLiteral("camera_id")) == camera)
                return true;
        return false;
    };
    if (!QTest::qWaitFor(asked, kAnswer_ms))
        faults << wantedAt(QStringLiteral("the server is never asked to play camera %1 on %2").arg(camera, day));
    stage->stopPlayback();
    return faults;
}

QStringList nativeCalendarByKeys(TopLevelWindows& windows, const QString& deviceId, const QColor& ring)
{
    QStringList faults;
    const auto seen = [&faults, &ring](QWidget* window, const QString& step) { faults += focusAt(window, ring, step); };
    NativeWindow& native = windows.native;
    if (!drive::activate(&native))
        return {wantedAt(QStringLiteral("the native window never comes to the front"))};
    // The table lists the recorder once the page has caught up with the
    // inventory.
    auto* table = native.findChild<QTableView*>(QStringLiteral("NTable"));
    const auto listed = [table, &deviceId, &native] {
        if (!table->isVisible() || native.rebuildTimer()->isActive())
            return false;
        for (int r = 0; r < table->model()->rowCount(); ++r)
            if (table->model()->index(r, 0).data(NativeTable::DeviceIdRole).toString() == deviceId)
                return true;
        return false;
    };
    if (!QTest::qWaitFor(listed, kAnswer_ms))
        return {wantedAt(QStringLiteral("the device table never lists the recorder"))};
    if (!drive::tabTo(&native, [table](QWidget* w) { return w == table; }))
        return {wantedAt(QStringLiteral("Tab never reaches the device table"))};
    seen(&native, QStringLiteral("the device table"));

    // The arrows to the recorder; the page keeps the row in sight.
    QScrollArea* page = nullptr;
    for (QWidget* w = table->parentWidget(); w && !page; w = w->parentWidget())
        page = qobject_cast<QScrollArea*>(w);
    if (!page)
        return faults << wantedAt(QStringLiteral("the device table lies on no page"));
    const auto rowId = [table] {
        return table->model()->index(table->currentIndex().row(), 0).data(NativeTable::DeviceIdRole).toString();
    };
    // Up to the first row, then down the table (again, where checks coming
    // in sorted the rows anew on the way).
    for (int sweep = 0; sweep < 3 && rowId() != deviceId; ++sweep) {
        for (int i = 0; i < table->model()->rowCount() && table->currentIndex().row() > 0; ++i)
            drive::press(&native, Qt::Key_Up);
        for (int i = 0; i < table->model()->rowCount() && rowId() != deviceId; ++i)
            drive::press(&native, Qt::Key_Down);
    }
    if (rowId() != deviceId)
        return faults << wantedAt(QStringLiteral("the arrows never reach the recorder's row"));
    // In sight from its top to its bottom (a wide table runs on sideways),
    // once the page holds still.
    const auto inSight = [table, page] {
        const QRect row = table->visualRect(table->currentIndex());
        const int top = table->viewport()->mapTo(page->viewport(), row.topLeft()).y();
        return top >= 0 && top + row.height() <= page->viewport()->height();
    };
    if (!QTest::qWaitFor([&native, &inSight] { return !native.rebuildTimer()->isActive() && inSight(); }, 5000))
        faults << wantedAt(QStringLiteral("the page does not follow the row the arrows move to"));

    // Space: its details; "Recording calendar"; today; a recording.
    QString played;
    kvr::ui::Modal::respond([&](QDialog& details) {
        details.show();
        if (!QTest::qWaitForWindowExposed(&details) || !drive::activate(&details)) {
            faults << wantedAt(QStringLiteral("the device's details never come to the front"));
            return int(QDialog::Rejected);
        }
        // The recorder was deactivated: activated first, by the keys too.
        auto* calendarButton = qobject_cast<QAbstractButton*>([&details] {
            for (QAbstractButton* b : details.findChildren<QAbstractButton*>())
                if (b->text() == QLatin1String("Recording calendar"))
                    return b;
            return static_cast<QAbstractButton*>(nullptr);
        }());
        if (calendarButton && !calendarButton->isEnabled()) {
            if (!drive::tabTo(&details, buttonNamed(QStringLiteral("Activate")))) {
                faults << wantedAt(QStringLiteral("Tab never reaches \"Activate\""));
                return int(QDialog::Rejected);
            }
            drive::press(&details, Qt::Key_Space);
            if (!QTest::qWaitFor([calendarButton] { return calendarButton->isEnabled(); }, kAnswer_ms))
                faults << wantedAt(QStringLiteral("Space on \"Activate\" leaves \"Recording calendar\" disabled"));
        }
        if (!drive::tabTo(&details, buttonNamed(QStringLiteral("Recording calendar")))) {
            faults << wantedAt(QStringLiteral("Tab never reaches \"Recording calendar\""));
            return int(QDialog::Rejected);
        }
        seen(&details, QStringLiteral("Recording calendar"));
        kvr::ui::Modal::respond([&](QDialog& calendar) {
            calendar.show();
            auto* grid = calendar.findChild<MonthGrid*>();
            if (!QTest::qWaitForWindowExposed(&calendar) || !drive::activate(&calendar)
                || !QTest::qWaitFor([grid] { return grid->state().known; }, kAnswer_ms)) {
                faults << wantedAt(QStringLiteral("the calendar never shows its month"));
                return int(QDialog::Rejected);
            }
            // Every day of the month is met by a screen reader, named.
            const QDate today = QDate::currentDate();
            QAccessibleInterface* days = QAccessible::queryAccessibleInterface(grid);
            QAccessibleInterface* todays = days ? days->child(today.day() - 1) : nullptr;
            if (!days || days->childCount() != today.daysInMonth() || !todays
                || !todays->text(QAccessible::Name).contains(QStringLiteral("today")))
                faults << wantedAt(QStringLiteral("the month's days are not in the accessibility tree, named"));
            if (!drive::tabTo(&calendar, [grid](QWidget* w) { return w == grid; })) {
                faults << wantedAt(QStringLiteral("Tab never reaches the month's days"));
                return int(QDialog::Rejected);
            }
            seen(&calendar, QStringLiteral("the month"));
            drive::press(&calendar, Qt::Key_Left);
            drive::press(&calendar, Qt::Key_Right);
            if (grid->keyDay() != today)
                faults << wantedAt(QStringLiteral("the arrows stand on %1, not today").arg(grid->keyDay().toString()));
            drive::press(&calendar, Qt::Key_Return);
            auto* clips = calendar.findChild<QListWidget*>();
            if (!QTest::qWaitFor([clips] { return clips->count() > 0; }, kAnswer_ms)) {
                faults << wantedAt(QStringLiteral("Enter on today lists no recording"));
                return int(QDialog::Rejected);
            }
            if (!drive::tabTo(&calendar, [clips](QWidget* w) { return w == clips; })) {
                faults << wantedAt(QStringLiteral("Tab never reaches the recordings"));
                return int(QDialog::Rejected);
            }
            seen(&calendar, QStringLiteral("the recordings"));
            kvr::ui::Modal::respond([&played](QDialog& stream) {
                played = stream.windowTitle();
                return int(QDialog::Rejected);
            });
            drive::press(&calendar, Qt::Key_Space);
            if (!QTest::qWaitFor([&played] { return !played.isEmpty(); }, kAnswer_ms))
                faults << wantedAt(QStringLiteral("Space on a recording does not play it"));
            calendar.hide();
            return int(QDialog::Rejected);
        });
        drive::press(&details, Qt::Key_Space);
        if (!QTest::qWaitFor([] { return kvr::ui::Modal::pending() == 0; }, 60000))
            faults << wantedAt(QStringLiteral("Space on \"Recording calendar\" opens no calendar"));
        details.hide();
        return int(QDialog::Rejected);
    });
    drive::press(&native, Qt::Key_Space);
    if (!QTest::qWaitFor([] { return kvr::ui::Modal::pending() == 0; }, 120000))
        faults << wantedAt(QStringLiteral("Space on the recorder's row opens no details"));
    kvr::ui::Modal::reset();
    return faults;
}

} // namespace auditwalks
