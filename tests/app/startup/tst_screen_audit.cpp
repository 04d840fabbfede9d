// Every top-level window and dialog of both modes, opened as the program
// opens them (nothing here resizes a window) on the screen this run was
// given: 1280 x 720, the smallest the program supports, as a laptop's
// desktop with a window manager and a panel of 40 px leaves it, or 1920 x 1080
// (KVR_AUDIT_SCREEN names it; the test command starts the virtual display at
// that size, and the desktop on it where KVR_DISPLAY_PANEL asks for one). The data is a real organisation's: recorders of 24 and 32
// channels, names of sixty characters, walls of 25 and 36 with tiles loading,
// playing, offline and failing, presets with long names. Each window must pass
// every check of the screen audit (tests/support/ScreenAudit.h). One
// screenshot per window goes to build/screenshots/ for a person to look at.

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/core/Settings.h"
#include "app/startup/Startup.h"
#include "app/ui/FocusRing.h"
#include "app/ui/Modal.h"
#include "app/ui/Theme.h"
#include "app/ui/WheelGuard.h"
#include "native/live/CalendarDialog.h"
#include "native/live/NativeLive.h"
#include "native/live/NativeWallSource.h"
#include "native/live/VmsPage.h"
#include "native/live/VmsTile.h"
#include "native/screens/DevicePanel.h"
#include "native/screens/NativeDialogs.h"
#include "native/screens/NativeStyle.h"
#include "native/screens/NativeWindow.h"
#include "native/services/NativeController.h"
#include "native/services/NativeStore.h"
#include "server/shell/BrandRegistry.h"
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "server/shell/DevicePages.h"
#include "server/shell/LoginWindow.h"
#include "server/shell/ServerDialog.h"
#include "server/shell/SettingsDialog.h"
#include "server/shell/ShellWindow.h"
#include "server/shell/SignInProgress.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "server/view/ServerWallSource.h"
#include "server/view/StagePages.h"
#include "tests/app/startup/AuditData.h"
#include "tests/app/startup/AuditWalks.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/server/shell/ShellTestSupport.h"
#include "tests/server/view/ViewTestSupport.h"
#include "tests/support/Drive.h"
#include "tests/support/LongNames.h"
#include "tests/support/ScreenAudit.h"
#include "tests/support/TestKit.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"
#include "wall/TileRetry.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::wall;
using namespace kvr::context;
using namespace kvr::view;
using namespace kvr::shell;
using namespace kvr::services;
using namespace kvr::screens;
using namespace kvr::live;
using namespace kvr::app;

using namespace auditdata;

namespace {

const QString kShots = QStringLiteral(KVR_SCREENSHOT_DIR);

QAbstractButton* visibleButton(QWidget* root, const QString& text)
{
    for (QAbstractButton* b : root->findChildren<QAbstractButton*>())
        if ((b->text() == text || b->accessibleName() == text) && b->isVisible())
            return b;
    return nullptr;
}

// What the screens say must agree with what they show: a stage that asks
// for a day while its day field shows one.
QStringList saysPickWhileShown(QWidget* window)
{
    QStringList faults;
    for (VideoStage* stage : window->findChildren<VideoStage*>()) {
        if (!stage->isVisible() || !stage->headlineText().contains(QLatin1String("Pick a day")))
            continue;
        for (QDateEdit* day : stage->window()->findChildren<QDateEdit*>())
            if (day->isVisible() && day->date().isValid())
                faults << QStringLiteral("[said] VideoStage \"%1\": asks for a day while \"%2\" shows one")
                              .arg(stage->headlineText(), day->text());
    }
    return faults;
}

// A right-click in the window's first text field of each kind: the menu that
// opens is themed and reads at 4.5:1.
QStringList rightClickTextFields(QWidget* window)
{
    QStringList faults;
    // A field of its own, not the text part of a drop-down or spin box.
    const auto first = [window](const auto& fields) -> QWidget* {
        for (QWidget* f : fields)
            if (f->window() == window && f->isVisible() && f->isEnabled()
                && !qobject_cast<QComboBox*>(f->parentWidget()) && !qobject_cast<QAbstractSpinBox*>(f->parentWidget()))
                return f;
        return nullptr;
    };
    for (QWidget* field : {first(window->findChildren<QLineEdit*>()), first(window->findChildren<QPlainTextEdit*>())})
        if (field)
            faults += drive::contextMenu(field);
    return faults;
}

// What a tile of a wall does by itself, which the pointer passing over it
// never changes: whether it is started, waits for pictures, shows them or
// failed, its own tries, its player's starts (the player's own restarts
// included), and what its picture area says (a wait's count of seconds goes
// on by itself).
QString tileState(QWidget* w)
{
    const auto* stage = w->findChild<VideoStage*>();
    const QString says = stage ? stage->saidHeadline() + QLatin1Char('|') + stage->saidDetail() : QString();
    if (auto* t = qobject_cast<CameraTile*>(w))
        return says
            + QStringLiteral(" started %1 failed %2 waits %3 shows %4 tries %5 playback %6")
                  .arg(t->isStarted())
                  .arg(t->isFailed())
                  .arg(t->awaitsPictures())
                  .arg(t->showsPictures())
                  .arg(t->retry()->schedule().tries())
                  .arg(t->player()->currentGeneration());
    if (auto* t = qobject_cast<VmsTile*>(w))
        return says
            + QStringLiteral(" running %1 failed %2 pacing %3 plays %4 tries %5 playback %6")
                  .arg(t->isRunning())
                  .arg(t->isFailed())
                  .arg(t->isPacing())
                  .arg(t->isPlaying())
                  .arg(t->retry()->schedule().tries())
                  .arg(t->player() ? t->player()->currentGeneration() : -1);
    return {};
}

// What Enter does in each dialog as it opens: the button it fires, which is
// what the dialog is for; empty where nothing may fire.
QString enterPurpose(const QString& dialog)
{
    static const QHash<QString, QString> purposes{{"server-dialog", "Save"},
                                                  {"wall-auto-advance", "Start"},
                                                  {"preset-name", "OK"},
                                                  {"preset-saved", "OK"},
                                                  {"sign-out-question", "Sign out"},
                                                  {"presets", "Play on wall"},
                                                  {"settings", "Done"},
                                                  {"no-access", "Close"},
                                                  {"video-wall-setup", "Start wall"},
                                                  {"session-expired", "OK"},
                                                  {"native-device", "Close"},
                                                  {"native-deactivate", "OK"},
                                                  {"native-snapshots", ""}, // a page of pictures: nothing to confirm
                                                  {"native-calendar", "Play"},
                                                  {"native-stream", "Try again"},
                                                  {"native-remove-question", "Cancel"},
                                                  {"native-discard-question", "Keep editing"},
                                                  {"discard-question", "Keep editing"},
                                                  {"native-add-device", "Add device"},
                                                  {"native-add-site", "Add site"},
                                                  {"native-settings", "Save"},
                                                  {"native-report", "Export"},
                                                  {"native-events", "Close"},
                                                  {"native-video-wall-setup", "Start wall"}};
    // A dialog missing here is named in the fault.
    return purposes.value(dialog, QStringLiteral("(a purpose to be named in enterPurpose)"));
}

// The texts of the title strips of a wall's tiles (the server's badge,
// native mode's) that reach past their tile.
QStringList stripsPastTheirTile(QWidget* window)
{
    QStringList faults;
    for (QWidget* tile : window->findChildren<QWidget*>()) {
        if (!tile->isVisible() || !(qobject_cast<CameraTile*>(tile) || qobject_cast<VmsTile*>(tile)))
            continue;
        for (QWidget* strip : tile->findChildren<QWidget*>(QRegularExpression(QStringLiteral("^(TileBadge|VBadge)$")),
                                                           Qt::FindDirectChildrenOnly)) {
            if (!strip->isVisible() || strip->inherits("QLabel"))
                continue;
            for (QLabel* label : strip->findChildren<QLabel*>())
                if (label->isVisible()
                    && !tile->rect().contains(QRect(strip->mapTo(tile, label->pos()), label->size())))
                    faults << QStringLiteral("[strip] %1: \"%2\" reaches past its tile of %3x%4")
                                  .arg(screenaudit::describe(tile), label->text())
                                  .arg(tile->width())
                                  .arg(tile->height());
        }
    }
    return faults;
}

// A shown title as a person reads it: without "…" and direction marks.
QString readAs(QString s)
{
    s.removeIf([](QChar c) { return c == QChar(0x2026) || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069); });
    return s.simplified();
}

// The shortest end of `name`, from a word's start, that none of `others`
// ends with at a word's start ("01" of "Camera 01" beside "Camera 02"); the
// whole name where there is none.
QString tellingEnd(const QString& name, const QStringList& others)
{
    for (qsizetype at = name.size() - 1; at > 0; --at) {
        if (name.at(at - 1) != QLatin1Char(' '))
            continue;
        const QString end = name.mid(at);
        if (std::none_of(others.cbegin(), others.cend(), [&end](const QString& o) {
                return o.endsWith(end)
                    && (o.size() == end.size() || o.at(o.size() - end.size() - 1) == QLatin1Char(' '));
            }))
            return QString(QChar(0x2026)) + end;
    }
    return name;
}

// Tiles of a wall of `cameras` (by the tile's camera id or key) whose title
// strips read alike (the same, or one cut where the other goes on) though
// their cameras differ, where the room the strip gives the name holds what
// tells them apart: "…" and the end of the camera's name that no other
// camera's has, and, where another recorder's camera has the same name, the
// end of the recorder's name that tells it from those recorders before it
// ("…1 · …01"). Names that differ only beyond what fits may read alike.
QStringList alikeWhereApartFits(QWidget* window, const QHash<QString, longnames::Camera>& cameras)
{
    // What a strip keeps after its name: its margin and its distance from
    // the tile's edge.
    constexpr int kStripEnd = 10;
    struct Tile {
        QString read;
        bool cutAtItsEnd = false;
        longnames::Camera camera;
        int room = 0;
        QFont font;
    };
    QList<Tile> tiles;
    QList<longnames::Camera> shown;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        auto* server = qobject_cast<CameraTile*>(w);
        auto* native = qobject_cast<VmsTile*>(w);
        if (!(server || native) || !w->isVisible())
            continue;
        const auto* name = w->findChild<QLabel*>(server ? QStringLiteral("TileName") : QStringLiteral("VTileName"));
        QStringList texts;
        for (const QLabel* l : name->parentWidget()->findChildren<QLabel*>())
            if (l->isVisible())
                texts << l->text();
        QString raw = texts.join(QLatin1Char(' '));
        raw.removeIf([](QChar c) { return c.unicode() >= 0x2066 && c.unicode() <= 0x2069; });
        Tile t{readAs(raw), raw.endsWith(QChar(0x2026)), cameras.value(server ? server->cameraId() : native->key()),
               w->width() - name->mapTo(w, QPoint(0, 0)).x() - kStripEnd, name->font()};
        tiles << t;
        shown << t.camera;
    }
    const auto need = [&shown](const Tile& t) {
        QStringList collide;
        QStringList owns;
        for (const longnames::Camera& c : shown) {
            if (c.name == t.camera.name && c.recorder != t.camera.recorder)
                collide << c.recorder;
            else if (c.name != t.camera.name)
                owns << c.name;
        }
        const QFontMetrics m(t.font);
        if (collide.isEmpty())
            return m.horizontalAdvance(tellingEnd(t.camera.name, owns));
        QStringList ownsBeside;
        for (const longnames::Camera& c : shown)
            if (c.recorder == t.camera.recorder && c.name != t.camera.name)
                ownsBeside << c.name;
        return m.horizontalAdvance(tellingEnd(t.camera.recorder, collide)) + m.horizontalAdvance(QStringLiteral(" · "))
            + m.horizontalAdvance(tellingEnd(t.camera.name, ownsBeside));
    };
    QStringList faults;
    for (qsizetype i = 0; i < tiles.size(); ++i) {
        for (qsizetype j = 0; j < tiles.size(); ++j) {
            const Tile& a = tiles.at(i);
            const Tile& b = tiles.at(j);
            if (i == j || a.camera == b.camera || a.read.isEmpty()
                || !(a.read == b.read || (a.cutAtItsEnd && b.read.startsWith(a.read))))
                continue;
            if (const int needed = need(a); needed <= a.room)
                faults << QStringLiteral("[alike] \"%1 · %2\" reads \"%3\" as \"%4 · %5\" does, where %6 px of its %7 "
                                         "would tell it apart")
                              .arg(a.camera.recorder, a.camera.name, a.read, b.camera.recorder, b.camera.name)
                              .arg(needed)
                              .arg(a.room);
        }
    }
    return faults;
}

} // namespace

class ScreenAudit : public QObject {
    Q_OBJECT

    QSize screenSize;
    screenaudit::Setting setting;
    QStringList faults;
    QStringList seen;
    QSet<QString> typedIn;    // dialogs whose typed text Escape was seen to ask about
    QSet<QString> slow;       // cameras whose start the server answers late
    bool slowAnswers = false; // while the server's camera walls are looked at

    // How often the windows a person opens again and again are opened.
    static constexpr int kOpenings = 3;

    // Lets the program go on for a while (tiles meet their fate, recordings
    // are listed) before the next look; the look itself waits for the window
    // to hold still.
    static void settle(int ms) { QTest::qWait(ms); }

    QString screenTag() const { return QStringLiteral("%1x%2").arg(screenSize.width()).arg(screenSize.height()); }

    // `focus` (when given) holds the keyboard as the window is looked at;
    // `area` (when given) is where the window lies, in place of the screen's
    // available area (a full-screen window takes the whole screen).
    void look(QWidget* window, const QString& name, QWidget* focus = nullptr, const QRect& area = {})
    {
        // The control the window focused as it opened is nobody's choice: a
        // passing wheel leaves it as it is.
        if (!seen.contains(name)) {
            faults += drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), drive::wheelPastFocus(window));
            faults += drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), drive::heardFirst(window));
        }
        // As it opens: no field chosen by an earlier walk, pages at their top.
        if (QWidget* focused = window->focusWidget())
            focused->clearFocus();
        if (focus) {
            // The keyboard's focus shows only in the active window.
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            focus->setFocus(Qt::TabFocusReason);
        }
        for (QScrollArea* page : window->findChildren<QScrollArea*>())
            page->verticalScrollBar()->setValue(0);
        // The picture too once the window holds still (the audit says so
        // where it never does).
        screenaudit::settle(window);
        const QString tag = QStringLiteral("%1@%2").arg(name, screenTag());
        // The picture first: the walk with Tab moves the focus and scrolls.
        QVERIFY(screenaudit::screenshot(window, kShots, QStringLiteral("audit-%1-%2").arg(screenTag(), name)));
        screenaudit::Setting here = setting;
        here.screen = area;
        faults += screenaudit::audit(window, tag, here);
        faults += drive::tagged(tag, screenaudit::columnFaults(window));
        for (const QString& f : saysPickWhileShown(window))
            faults << tag + QLatin1Char(' ') + f;
        // What a person does next: a screen reader read through it, every
        // page scrolled with the wheel from its top to its bottom.
        faults += drive::tagged(tag, drive::heard(window));
        faults += drive::tagged(tag, drive::scrollPages(window));
        faults += drive::tagged(tag, drive::wheelPast(window));
        faults += drive::tagged(tag, rightClickTextFields(window));
        // Last: the keyboard's way through it, every stop shown and named.
        faults += drive::tagged(tag, drive::tabStops(window, Theme::colour(Theme::Colour::FocusRing)));
        seen << name;
    }

    // Enter as a dialog opens, before the audit's walk with Tab moves the
    // focus: it fires what the dialog is for (see enterPurpose).
    void pressEnterAsItOpens(QDialog& dialog, const QString& name)
    {
        const QString tag = QStringLiteral("%1@%2").arg(name, screenTag());
        faults += drive::tagged(tag, drive::pressEnter(&dialog, enterPurpose(name)));
        faults += drive::tagged(tag, drive::buttonLooks(&dialog));
    }

    // Text typed into the dialog's first field, then Escape: it asks before
    // the text goes.
    void escapeAfterTyping(QDialog& dialog, const QString& name)
    {
        bool typed = false;
        faults +=
            drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), drive::escapeAfterTyping(&dialog, &typed));
        if (typed)
            typedIn << name;
    }

    // Every dialog named took typing and asked on Escape.
    void expectTyped(const QStringList& names) const
    {
        QStringList missing;
        for (const QString& name : names)
            if (!typedIn.contains(name))
                missing << name;
        QVERIFY2(missing.isEmpty(),
                 qPrintable(QStringLiteral("typed into: none of ") + missing.join(QLatin1String(", "))));
    }

    // Escape, the last thing done in a dialog: it closes.
    void pressEscapeToLeave(QDialog& dialog, const QString& name)
    {
        faults += drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), drive::pressEscape(&dialog));
    }

    // The pointer passes over every tile of a wall (the server's camera
    // tiles, native mode's live tiles) and leaves it at `away`: each tile
    // looks as it did before.
    void hoverTiles(QWidget* window, const QString& name, const QPoint& away)
    {
        QList<QWidget*> tiles;
        for (QWidget* t : window->findChildren<QWidget*>())
            if ((qobject_cast<CameraTile*>(t) || qobject_cast<VmsTile*>(t)) && t->isVisible())
                tiles << t;
        QVERIFY(!tiles.isEmpty());
        faults +=
            drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), drive::hoverAndLeave(tiles, away, tileState));
    }

    // Where a window stands once it has opened and its window manager has
    // framed it: inside the work area, over its parent.
    void checkOpening(QWidget* window, const QString& name)
    {
        faults += drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()), screenaudit::openingFaults(window));
    }

    // Native mode on the audit's fleet, started as the program starts in it.
    static void startNative(AuditFleet& fleet, TopLevelWindows& windows)
    {
        QVERIFY(fleet.build());
        showNative(windows);
    }
    // Native mode, started as the program starts in it.
    static void showNative(TopLevelWindows& windows)
    {
        Prefs::set(Prefs::kNativeMode, true);
        windows.connectSwitches();
        windows.showInitial();
        QVERIFY(QTest::qWaitForWindowExposed(&windows.native));
    }

    // The video wall's set-up, opened from `window` by `button` and closed,
    // again and again: where it opens each time.
    void openSetupAgain(QWidget* window, QAbstractButton* button, const QString& name)
    {
        QVERIFY(button);
        for (int i = 0; i < kOpenings; ++i) {
            button->click();
            VideoWall::SetupDialog* setup = nullptr;
            QTRY_VERIFY((setup = window->findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
            checkOpening(setup, QStringLiteral("%1-%2").arg(name).arg(i + 1));
            // How cameras get onto a display reads whole, where the dialog opens.
            QTRY_COMPARE(setup->hint()->visibleRegion().boundingRect(), setup->hint()->rect());
            if (i == 0) {
                const qreal scale = setup->devicePixelRatioF();
                QVERIFY(screenaudit::screenshot(
                    setup, kShots, QStringLiteral("opening-%1-x%2-%3").arg(screenTag()).arg(scale).arg(name)));
            }
            QPointer<VideoWall::SetupDialog> gone(setup);
            setup->close();
            QTRY_VERIFY(!gone);
        }
    }

    // A dialog as the program opens it, and Enter pressed as it opens; looked
    // at once `ready` (when given) says that what it asked for has come.
    void lookAtDialog(QDialog& dialog, const QString& name, const std::function<bool(QDialog&)>& ready = {})
    {
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        checkOpening(&dialog, name);
        pressEnterAsItOpens(dialog, name);
        escapeAfterTyping(dialog, name);
        if (ready)
            QTRY_VERIFY_WITH_TIMEOUT(ready(dialog), 30000);
        look(&dialog, name);
    }

    // The next modal dialog is looked at (once `ready`) and then closed with `result`.
    void auditNext(const QString& name, int result = QDialog::Rejected, std::function<void(QDialog&)> more = {},
                   std::function<bool(QDialog&)> ready = {})
    {
        Modal::respond([this, name, result, more, ready](QDialog& d) {
            lookAtDialog(d, name, ready);
            if (more)
                more(d);
            pressEscapeToLeave(d, name);
            d.hide();
            return result;
        });
    }

    void lookAtTestedServerDialog(ServerDialog& dialog, const QTcpServer& plain)
    {
        dialog.findChildren<QLineEdit*>().at(0)->setText(
            QStringLiteral("https://127.0.0.1:%1").arg(plain.serverPort()));
        dialog.findChildren<QLineEdit*>().at(1)->setText(QStringLiteral("127.0.0.1:%1").arg(kvrtest::closedPort()));
        dialog.show();
        dialog.runTest();
        QTRY_VERIFY_WITH_TIMEOUT(visibleButton(&dialog, QStringLiteral("Test connection"))->isEnabled(), 15000);
        lookAtDialog(dialog, QStringLiteral("server-dialog"));
    }

    // An address typed by hand, then Escape: the question it asks is looked
    // at and answered "Keep editing"; the address then goes back as it was.
    void lookAtDiscardQuestion(QDialog& dialog, const QString& name)
    {
        QLineEdit* field = nullptr;
        for (QLineEdit* e : dialog.findChildren<QLineEdit*>())
            if (!field && e->isVisible() && !e->isReadOnly())
                field = e;
        QVERIFY(field);
        const QString before = field->text();
        QVERIFY(drive::activate(&dialog));
        field->setFocus(Qt::TabFocusReason);
        QTest::keyClick(field, Qt::Key_End);
        QTest::keyClicks(field, QStringLiteral("/typed"));
        auditNext(name, int(QMessageBox::RejectRole));
        QTest::keyClick(field, Qt::Key_Escape);
        expectAnswered();
        QVERIFY(dialog.isVisible());
        field->setText(before);
    }

    // A dialog may wait for the server while slow answers hold its connections.
    void expectAnswered() { QTRY_COMPARE_WITH_TIMEOUT(Modal::pending(), 0, 30000); }

    // Starts the wall of a set-up dialog with the cameras of its tree on
    // this display in `layoutKey`, looks at the display's full-screen window,
    // and stops it.
    void lookAtRunningWall(VideoWall::SetupDialog& setup, const QString& layoutKey, const QString& name)
    {
        setup.enabledBox()->setChecked(true);
        QComboBox* layouts = setup.layoutCombo();
        const int index = layouts->findData(layoutKey);
        QVERIFY(index >= 0);
        layouts->setCurrentIndex(index);
        Q_EMIT layouts->activated(index);
        setup.clearButton()->click();
        setup.tree()->expandAll();
        setup.tree()->selectAll();
        setup.fillButton()->click();
        // The preview with a camera in every cell, then the wall itself.
        look(&setup, name + QStringLiteral("-setup"));
        setup.startButton()->click();
        VideoWall::DisplayWindow* shown = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((shown = wallWindow()) && shown->isVisible(), 10000);
        // The pointer rests on a tile of the middle row, as a person's does
        // who watches the wall (at the top edge it would bring the wall's bar
        // up over the first row): that tile shows its controls.
        const QRect screen = shown->screen()->geometry();
        QCursor::setPos(screen.left() + 4, screen.center().y());
        settle(2500);
        // Full screen, over the desktop's panel.
        look(shown, name, nullptr, screen);
        hoverTiles(shown, name, QPoint(4, shown->height() / 2));
        faults += drive::tagged(QStringLiteral("%1@%2").arg(name, screenTag()),
                                drive::focusShows(shown, Theme::colour(Theme::Colour::FocusRing)));
        QCursor::setPos(screen.topLeft());
        setup.stopButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!wallWindow(), 10000);
        // A smaller layout holds cameras back and says so where the dialog,
        // as it stands on the screen, shows it.
        const int smaller = layouts->findData(QStringLiteral("2x2"));
        layouts->setCurrentIndex(smaller);
        Q_EMIT layouts->activated(smaller);
        QTRY_VERIFY(setup.note()->text().contains(QStringLiteral("no longer fit")));
        QTRY_COMPARE(setup.note()->visibleRegion().boundingRect(), setup.note()->rect());
        look(&setup, name + QStringLiteral("-held-back"));
        layouts->setCurrentIndex(index);
        Q_EMIT layouts->activated(index);
    }

    // The preview of nine cells with the cameras of one recorder whose
    // cameras are named alike for their first 40 characters.
    void lookAtTowerPreview(VideoWall::SetupDialog& setup, const QString& recorder)
    {
        setup.enabledBox()->setChecked(true);
        QComboBox* layouts = setup.layoutCombo();
        const int index = layouts->findData(QStringLiteral("3x3"));
        QVERIFY(index >= 0);
        layouts->setCurrentIndex(index);
        Q_EMIT layouts->activated(index);
        setup.clearButton()->click();
        setup.tree()->expandAll();
        setup.tree()->clearSelection();
        const QList<QTreeWidgetItem*> found = setup.tree()->findItems(recorder, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY(!found.isEmpty());
        for (int c = 0; c < found.first()->childCount(); ++c)
            found.first()->child(c)->setSelected(true);
        setup.fillButton()->click();
        look(&setup, QStringLiteral("video-wall-setup-tower"));
    }

    static bool pageBuilt(GridPage* wall, int perPage, const QList<QPointer<CameraTile>>& before)
    {
        for (const QPointer<CameraTile>& old : before)
            if (old)
                return false; // the page before is not gone yet
        int shown = 0;
        for (CameraTile* t : wall->findChildren<CameraTile*>())
            shown += t->isVisible() ? 1 : 0;
        return shown == perPage;
    }

    static VideoWall::DisplayWindow* wallWindow()
    {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<VideoWall::DisplayWindow*>(w); d && d->isVisible())
                return d;
        return nullptr;
    }

    // Every window named was looked at (a step that silently opened nothing
    // would otherwise pass).
    void expectSeen(const QStringList& names) const
    {
        QStringList missing;
        for (const QString& name : names)
            if (!seen.contains(name))
                missing << name;
        QVERIFY2(missing.isEmpty(), qPrintable(QStringLiteral("not looked at: ") + missing.join(QLatin1String(", "))));
    }

    // The server's wall of a site at `perPage`, its tiles in each state.
    void lookAtWall(ShellWindow& shell, const QString& perPage, const QString& name)
    {
        auto* wall = shell.findChild<GridPage*>();
        QList<QPointer<CameraTile>> before;
        for (CameraTile* t : wall->findChildren<CameraTile*>())
            before << t;
        visibleButton(wall, perPage)->click();
        // The page is built anew, then every tile meets its fate but those
        // whose answer the server holds back.
        QTRY_VERIFY_WITH_TIMEOUT(pageBuilt(wall, perPage.toInt(), before), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(wallSettled(wall, slow), 30000);
        showPictures(wall, slow);
        look(&shell, name);
        hoverTiles(wall, name, QPoint(1, 1));

        // Under the keyboard a tile shows its controls over its picture.
        const QList<CameraTile*> tiles = wall->findChildren<CameraTile*>();
        QVERIFY(!tiles.isEmpty());
        look(&shell, name + QStringLiteral("-focused"), tiles.first());
    }

private Q_SLOTS:
    void initTestCase()
    {
        Theme::useProgramFont();
        WheelGuard::install(); // as the program's start does
        FocusRing::install(Theme::colour(Theme::Colour::FocusRing));
        Prefs::set(Prefs::kRenderMode, QStringLiteral("cpu"));
        if (BrandRegistry::instance().count() == 0)
            BrandRegistry::instance().add(std::make_unique<ImouProvider>());
        Modal::setStrict(true);
        screenSize = auditScreen();
        // The run must be on the screen it is named for, less the panel of
        // the desktop it runs on, in the screen's own pixels (a run at a
        // scale of 1.5 has two thirds as many of its own).
        const QScreen* screen = QGuiApplication::primaryScreen();
        const qreal scale = screen->devicePixelRatio();
        const auto inPixels = [scale](QSize s) { return QSize(qRound(s.width() * scale), qRound(s.height() * scale)); };
        QCOMPARE(inPixels(screen->geometry().size()), screenSize);
        QCOMPARE(inPixels(screen->availableGeometry().size()),
                 screenSize - QSize(0, qEnvironmentVariableIntValue("KVR_DISPLAY_PANEL")));
        setting.jargon = libraryMessages();
        setting.themePairs = themeColourPairs();
        // The pointer rests at the screen's top left corner, over a window's
        // title or mark, so that no tile shows its hover controls by chance
        // (at 1280 x 720 the windows cover the whole screen).
        QCursor::setPos(QGuiApplication::primaryScreen()->geometry().topLeft());
    }

    void init() { Modal::reset(); }

    void cleanup()
    {
        // One line each, so that a long list is read whole.
        const QStringList found = std::exchange(faults, {});
        for (const QString& f : found)
            qWarning().noquote() << "FAULT" << f;
        QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("%1 faults, listed above").arg(found.size())));
    }

    void serverMode()
    {
        orgserver::FakeOrgServer server;
        QVERIFY(server.listen());
        populateOrganisation(server);
        AppContext& ctx = AppContext::instance();
        ctx.api.setBaseUrl(server.baseUrl());
        // No relay answers here: live pictures fail, as on a closed network.
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", QByteArray::number(kvrtest::closedPort()));
        // The server is slow to answer for a few cameras: their tiles load.
        slow = slowCameras(server);
        server.delayRule = [this](const orgserver::Request& r) {
            return slowAnswers && slow.contains(r.queryValue(QStringLiteral("camera_id"))) ? 30000 : 0;
        };

        Prefs::set(Prefs::kNativeMode, false);
        TopLevelWindows windows;
        windows.connectSwitches();
        windows.showInitial();
        LoginWindow& login = windows.login;
        QVERIFY(QTest::qWaitForWindowExposed(&login));
        look(&login, QStringLiteral("sign-in"));

        // The server dialog, after a test that met a server answering in
        // plain HTTP where a secure connection was expected, and no relay.
        QTcpServer plain;
        QVERIFY(shelltest::answerInPlainHttp(plain));
        Modal::respond([this, &plain](QDialog& d) {
            lookAtTestedServerDialog(static_cast<ServerDialog&>(d), plain);
            lookAtDiscardQuestion(d, QStringLiteral("discard-question"));
            pressEscapeToLeave(d, QStringLiteral("server-dialog"));
            d.hide();
            return int(QDialog::Rejected);
        });
        visibleButton(&login, QStringLiteral("Server: 127.0.0.1:%1").arg(server.port()))->click();
        expectAnswered();

        // The code step, then in.
        for (QLineEdit* e : login.findChildren<QLineEdit*>()) {
            if (e->objectName() == QLatin1String("LoginField") && e->echoMode() == QLineEdit::Normal)
                e->setText(QStringLiteral("otp"));
            else if (e->objectName() == QLatin1String("LoginField"))
                e->setText(QStringLiteral("secret"));
        }
        // A server that takes the sign-in and does not answer: where it
        // stands, and a way to cancel it.
        server.script(QStringLiteral("/v2/login/"), orgserver::Answer::never());
        visibleButton(&login, QStringLiteral("Sign in"))->click();
        const auto waiting = [&login] {
            QLabel* line = login.signInProgress()->textLabel();
            return line->isVisible() && line->text().startsWith(QLatin1String("Connected to"));
        };
        QTRY_VERIFY_WITH_TIMEOUT(waiting(), 10000);
        look(&login, QStringLiteral("sign-in-waiting"));
        visibleButton(&login, QStringLiteral("Cancel sign-in"))->click();
        visibleButton(&login, QStringLiteral("Sign in"))->click();
        QTRY_COMPARE_WITH_TIMEOUT(login.currentPage(), LoginWindow::CodePage, 10000);
        look(&login, QStringLiteral("sign-in-code"));
        QLineEdit* firstDigit = nullptr;
        for (QLineEdit* e : login.findChildren<QLineEdit*>())
            if (e->objectName() == QLatin1String("OtpDigit") && e->isVisible() && !firstDigit)
                firstDigit = e;
        QVERIFY(firstDigit);
        // A wrong code first, pasted whole; then the right one, typed over it
        // from the first box as a person does.
        firstDigit->setText(QStringLiteral("111111"));
        visibleButton(&login, QStringLiteral("Verify"))->click();
        const auto refused = [&login] {
            QLabel* said = shelltest::labelNamed(&login, QStringLiteral("That code is incorrect."));
            return said && said->isVisible();
        };
        QTRY_VERIFY_WITH_TIMEOUT(refused(), 10000);
        faults += drive::tagged(QStringLiteral("sign-in-code@") + screenTag(),
                                drive::retype(firstDigit, server.otpCode, [&login] { return login.otpCode(); }));
        visibleButton(&login, QStringLiteral("Verify"))->click();
        ShellWindow& shell = windows.shell;
        QTRY_VERIFY_WITH_TIMEOUT(shell.isVisible(), 10000);
        QVERIFY(QTest::qWaitForWindowExposed(&shell));
        CatalogPane* pane = shell.catalogue();
        // The catalogue whole: every site's devices in (a busy server answers late).
        QTRY_VERIFY_WITH_TIMEOUT(!pane->rebuildPending() && pane->model()->rowCount() == server.sites.size()
                                     && pane->loadingLabel()->text().isEmpty(),
                                 30000);
        look(&shell, QStringLiteral("main-home"));

        // The recorder of 32 channels, and one of 24.
        Q_EMIT pane->deviceSelected(server.sites[0].devices[0].id);
        look(&shell, QStringLiteral("main-device-32"));
        Q_EMIT pane->deviceSelected(server.sites[0].devices[1].id);
        look(&shell, QStringLiteral("main-device-24"));
        Q_EMIT pane->deviceSelected(server.sites[0].devices[0].id);

        // The catalogue at its own width, the site of 72 cameras open: its
        // recorders and cameras named alike at their start.
        pane->tree()->collapseAll();
        pane->tree()->expand(pane->model()->index(1, 0));
        pane->tree()->expand(pane->model()->index(0, 0, pane->model()->index(1, 0)));
        look(&shell, QStringLiteral("main-catalogue"));

        Q_EMIT shell.devicePage()->checkHealth();
        settle(800);
        look(&shell, QStringLiteral("main-health"));

        Q_EMIT pane->channelSelected(server.sites[0].devices[0].id, server.sites[0].devices[0].cameras[0].id);
        auto* stage = shell.findChild<StagePages*>();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible(), 10000);
        look(&shell, QStringLiteral("stage-live-loading"));
        // The relay refuses every try: the player gives up with its reason.
        QTRY_VERIFY_WITH_TIMEOUT(visibleButton(stage, QStringLiteral("Try again")), 60000);
        look(&shell, QStringLiteral("stage-live-failed"));

        shell.openDevice(server.sites[0].devices[0].id);
        Q_EMIT shell.devicePage()->openDevicePlayback();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible() && stage->mode() == StagePages::DevicePlayback, 10000);
        settle(800);
        look(&shell, QStringLiteral("stage-device"));
        pane->setPaneWidth(520);
        look(&shell, QStringLiteral("stage-device-wide-catalogue"));
        pane->setPaneWidth(300);

        shell.openDevice(server.sites[0].devices[0].id);
        Q_EMIT shell.devicePage()->openCloudPlayback();
        QTRY_VERIFY_WITH_TIMEOUT(stage->isVisible() && stage->mode() == StagePages::CloudPlayback, 10000);
        settle(800);
        look(&shell, QStringLiteral("stage-cloud"));
        stage->stopPlayback();

        // The wall of the first site, 25 and 36 to a page.
        Q_EMIT pane->siteLiveRequested(server.sites[0].id);
        auto* wall = shell.findChild<GridPage*>();
        QTRY_VERIFY_WITH_TIMEOUT(wall->isVisible(), 10000);
        slowAnswers = true;
        lookAtWall(shell, QStringLiteral("25"), QStringLiteral("wall-25"));
        lookAtWall(shell, QStringLiteral("36"), QStringLiteral("wall-36"));
        slowAnswers = false;
        // The site of 72 cameras, 16 to a page.
        Q_EMIT pane->siteLiveRequested(server.sites[1].id);
        lookAtWall(shell, QStringLiteral("16"), QStringLiteral("wall-16"));

        // The wall's own questions.
        auditNext(QStringLiteral("wall-auto-advance"));
        visibleButton(wall, QStringLiteral("Auto-advance"))->click();
        expectAnswered();
        auditNext(QStringLiteral("preset-name"), QDialog::Accepted, [](QDialog& d) {
            if (auto* edit = d.findChild<QLineEdit*>())
                edit->setText(QStringLiteral("Night shift"));
        });
        auditNext(QStringLiteral("preset-saved"));
        visibleButton(wall, QStringLiteral("Save as preset"))->click();
        expectAnswered();
        auditNext(QStringLiteral("sign-out-question"));
        shell.signOutButton()->click();
        expectAnswered();

        // The catalogue choosing cameras for a wall of one's own.
        pane->setSelecting(true);
        pane->toggleSite(server.sites[1].id);
        look(&shell, QStringLiteral("main-selection"));
        pane->setSelecting(false);

        // With the presets the server lists (a busy one answers late).
        auditNext(QStringLiteral("presets"), QDialog::Rejected, {},
                  [](QDialog& d) { return d.findChild<QListWidget*>()->count() > 0; });
        shell.presetsButton()->click();
        expectAnswered();
        // Settings, and where the log folder is once the desktop could not
        // tell whether anything opened it.
        SettingsDialog::setFolderOpener([](const QUrl&) { return SettingsDialog::FolderOpen::Started; });
        auditNext(QStringLiteral("settings"), QDialog::Rejected, [this](QDialog& d) {
            visibleButton(&d, QStringLiteral("Open log folder"))->click();
            QTRY_VERIFY(static_cast<SettingsDialog&>(d).logFolderNote()->isVisible());
            look(&d, QStringLiteral("settings-log-folder"));
        });
        shell.settingsButton()->click();
        expectAnswered();
        SettingsDialog::setFolderOpener({});
        auditNext(QStringLiteral("no-access"));
        shell.noAccess();
        expectAnswered();

        shell.videoWallButton()->click();
        VideoWall::SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = shell.findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(setup));
        pressEnterAsItOpens(*setup, QStringLiteral("video-wall-setup"));
        look(setup, QStringLiteral("video-wall-setup"));
        lookAtTowerPreview(*setup, server.sites[0].devices[1].name);
        lookAtRunningWall(*setup, QStringLiteral("5x5"), QStringLiteral("video-wall-25"));
        lookAtRunningWall(*setup, QStringLiteral("6x6"), QStringLiteral("video-wall-36"));
        pressEscapeToLeave(*setup, QStringLiteral("video-wall-setup"));

        auditNext(QStringLiteral("session-expired"), QMessageBox::Ok);
        shell.onSessionExpired();
        expectAnswered();
        QTRY_VERIFY(login.isVisible());
        login.hide();
        expectSeen({"sign-in",
                    "server-dialog",
                    "discard-question",
                    "sign-in-code",
                    "main-home",
                    "main-catalogue",
                    "main-device-32",
                    "main-device-24",
                    "main-health",
                    "stage-live-loading",
                    "stage-live-failed",
                    "stage-device",
                    "stage-device-wide-catalogue",
                    "stage-cloud",
                    "wall-25",
                    "wall-25-focused",
                    "wall-36",
                    "wall-36-focused",
                    "wall-16",
                    "wall-16-focused",
                    "wall-auto-advance",
                    "preset-name",
                    "preset-saved",
                    "sign-out-question",
                    "main-selection",
                    "presets",
                    "settings",
                    "no-access",
                    "video-wall-setup",
                    "video-wall-setup-tower",
                    "video-wall-25",
                    "video-wall-25-setup",
                    "video-wall-36",
                    "video-wall-36-setup",
                    "session-expired"});
        expectTyped({"server-dialog", "preset-name", "wall-auto-advance"});
    }

    void nativeMode()
    {
        AuditFleet fleet;
        TopLevelWindows windows;
        startNative(fleet, windows);
        if (QTest::currentTestFailed())
            return;
        NativeWindow& native = windows.native;
        // Checks come in while the page is shown, as they do every few
        // minutes: it rebuilds what they change (at most once a second).
        const int rebuilt = native.rebuildCount();
        fleet.checksArrive();
        QTRY_VERIFY_WITH_TIMEOUT(native.rebuildCount() > rebuilt && !native.rebuildTimer()->isActive(), 30000);
        look(&native, QStringLiteral("native-fleet"));
        // The device table alone, as a person who hides the overview and
        // looks for the fire exits' recorders sees it.
        visibleButton(&native, QStringLiteral("Hide overview"))->click();
        QLineEdit* search = nullptr;
        for (QLineEdit* e : native.findChildren<QLineEdit*>())
            if (e->placeholderText().startsWith(QLatin1String("Search")) && e->isVisible())
                search = e;
        QVERIFY(search);
        search->setText(QStringLiteral("fire exit"));
        look(&native, QStringLiteral("native-fleet-table"));
        search->clear();
        visibleButton(&native, QStringLiteral("Show overview"))->click();

        // The device panel with its tabs, its form, and its questions.
        auditNext(QStringLiteral("native-device"), QDialog::Rejected, [this](QDialog& d) {
            auto* tabs = d.findChild<QTabWidget*>();
            QVERIFY(tabs);
            for (int t = 1; t < tabs->count(); ++t) {
                tabs->setCurrentIndex(t);
                look(&d, QStringLiteral("native-device-tab%1").arg(t));
                // Camera names typed in "Manage cameras" are asked about.
                escapeAfterTyping(d, QStringLiteral("native-device-tab%1").arg(t));
            }
            tabs->setCurrentIndex(0);
            const auto answered = [this, &d](const QString& button, const QString& name) {
                auditNext(name);
                visibleButton(&d, button)->click();
                expectAnswered();
            };
            answered(QStringLiteral("Deactivate"), QStringLiteral("native-deactivate"));
            answered(QStringLiteral("Get snapshots"), QStringLiteral("native-snapshots"));
            answered(QStringLiteral("Recording calendar"), QStringLiteral("native-calendar"));
            answered(QStringLiteral("Test live"), QStringLiteral("native-stream"));
            visibleButton(&d, QStringLiteral("Edit"))->click();
            QTRY_VERIFY(visibleButton(&d, QStringLiteral("Remove device")));
            look(&d, QStringLiteral("native-device-edit"));
            answered(QStringLiteral("Remove device"), QStringLiteral("native-remove-question"));
        });
        native.openDetails(fleet.ids.first());
        expectAnswered();

        // The form as it opens, and after an address it cannot use.
        auditNext(QStringLiteral("native-add-device"), QDialog::Rejected, [this](QDialog& d) {
            const QList<QLineEdit*> fields = d.findChildren<QLineEdit*>();
            for (QLineEdit* f : fields)
                if (f->placeholderText() == QLatin1String("192.168.1.50"))
                    f->setText(QStringLiteral("recorder 12 (north gate)"));
            visibleButton(&d, QStringLiteral("Add device"))->click();
            look(&d, QStringLiteral("native-add-device-error"));
            // Escape then asks before what was typed goes.
            auditNext(QStringLiteral("native-discard-question"), int(QMessageBox::DestructiveRole));
        });
        native.addDevice();
        expectAnswered();
        auditNext(QStringLiteral("native-add-site"));
        native.addSite();
        expectAnswered();
        auditNext(QStringLiteral("native-settings"));
        native.openSettings();
        expectAnswered();
        auditNext(QStringLiteral("native-report"));
        native.openReports(fleet.reportDevice());
        expectAnswered();
        auditNext(QStringLiteral("native-events"));
        native.openEvents();
        expectAnswered();
        {
            // A day's recordings of a recorder whose cameras have long names.
            CalendarDialog calendar(fleet.calendarDevice(), &native);
            calendar.show();
            QVERIFY(QTest::qWaitForWindowExposed(&calendar));
            calendar.selectDay(QDate::currentDate());
            QTRY_VERIFY_WITH_TIMEOUT(calendar.clipList()->count() > 0, 20000);
            look(&calendar, QStringLiteral("native-calendar-day"));
        }

        // The live wall, 36 to a page: tiles failing in plain words and in the
        // library's, and playing.
        native.setPage(1);
        QTRY_VERIFY_WITH_TIMEOUT(native.findChildren<VmsTile*>().size() == 36, 10000);
        const auto allFailed = [&native] {
            const QList<VmsTile*> tiles = native.findChildren<VmsTile*>();
            return std::all_of(tiles.cbegin(), tiles.cend(), [](VmsTile* t) { return t->isFailed(); });
        };
        QTRY_VERIFY_WITH_TIMEOUT(allFailed(), 45000);
        look(&native, QStringLiteral("native-live-wall-36"));
        hoverTiles(&native, QStringLiteral("native-live-wall-36"), QPoint(1, 1));
        faults += drive::tagged(QStringLiteral("native-live-wall-36@%1").arg(screenTag()),
                                drive::focusShows(&native, NativeStyle::token("vFocus"), native.findChild<VmsPage*>()));
        // The camera tree searched for the fire exits' recorders, one at each
        // of three sites: each row tells its recorder apart.
        VmsPage* live = native.findChild<VmsPage*>();
        live->searchField()->setText(QStringLiteral("fire exit"));
        look(&native, QStringLiteral("native-live-tree"));
        live->searchField()->clear();
        visibleButton(&native, QStringLiteral("4\u00d74"))->click();
        QTRY_VERIFY_WITH_TIMEOUT(native.findChildren<VmsTile*>().size() == 16 && allFailed(), 45000);
        look(&native, QStringLiteral("native-live-wall-16"));

        // Four cameras on a grid of sixteen.
        fleet.showFourCameras(native);
        QTRY_VERIFY_WITH_TIMEOUT(native.findChildren<VmsTile*>().size() == 4 && allFailed(), 45000);
        visibleButton(&native, QStringLiteral("4\u00d74"))->click();
        settle(800);
        look(&native, QStringLiteral("native-live-wall-4x4"));
        visibleButton(&native, QStringLiteral("6\u00d76"))->click();
        settle(800);
        look(&native, QStringLiteral("native-live-wall-6x6"));

        fleet.showAllCameras(native);
        visibleButton(&native, QStringLiteral("Playback"))->click();
        visibleButton(&native, QStringLiteral("4\u00d74"))->click();
        settle(1500);
        look(&native, QStringLiteral("native-playback"));

        visibleButton(&native, QStringLiteral("Video wall"))->click();
        VideoWall::SetupDialog* setup = nullptr;
        QTRY_VERIFY((setup = native.findChild<VideoWall::SetupDialog*>()) && setup->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(setup));
        pressEnterAsItOpens(*setup, QStringLiteral("native-video-wall-setup"));
        look(setup, QStringLiteral("native-video-wall-setup"));
        lookAtRunningWall(*setup, QStringLiteral("6x6"), QStringLiteral("native-video-wall-36"));
        pressEscapeToLeave(*setup, QStringLiteral("native-video-wall-setup"));
        native.hide();
        expectSeen({"native-fleet",
                    "native-fleet-table",
                    "native-device",
                    "native-device-tab1",
                    "native-device-tab2",
                    "native-deactivate",
                    "native-snapshots",
                    "native-calendar",
                    "native-stream",
                    "native-device-edit",
                    "native-remove-question",
                    "native-add-device",
                    "native-add-device-error",
                    "native-add-site",
                    "native-settings",
                    "native-report",
                    "native-events",
                    "native-calendar-day",
                    "native-live-wall-36",
                    "native-live-tree",
                    "native-live-wall-16",
                    "native-live-wall-4x4",
                    "native-live-wall-6x6",
                    "native-playback",
                    "native-video-wall-setup",
                    "native-video-wall-36",
                    "native-video-wall-36-setup"});
        expectTyped(
            {"native-device-tab2", "native-deactivate", "native-add-device", "native-add-site", "native-settings"});
    }

    // Every opening of the windows a person opens again and again, as the
    // program opens them: each time its whole frame, title bar included,
    // inside the work area, and a dialog over its parent. Also run at a scale
    // of 1.5 (tst_screen_audit_scaled), where a laptop's screen is 853 x 453
    // less its frames.
    void openingsWithinTheWorkArea()
    {
        {
            shelltest::Rig rig;
            rig.signIn();
            Prefs::set(Prefs::kNativeMode, false);
            TopLevelWindows windows;
            windows.connectSwitches();
            Q_EMIT windows.login.signedIn();
            ShellWindow& shell = windows.shell;
            QVERIFY(QTest::qWaitForWindowExposed(&shell));
            checkOpening(&shell, QStringLiteral("main"));
            QTRY_VERIFY_WITH_TIMEOUT(!AppContext::instance().sites.isEmpty(), 15000);
            openSetupAgain(&shell, shell.videoWallButton(), QStringLiteral("video-wall-setup"));
            shell.hide();
        }

        AuditFleet fleet;
        TopLevelWindows windows;
        startNative(fleet, windows);
        if (QTest::currentTestFailed())
            return;
        NativeWindow& native = windows.native;
        checkOpening(&native, QStringLiteral("native"));
        const auto opened = [this](const QString& name) {
            Modal::respond([this, name](QDialog& d) {
                d.show();
                checkOpening(&d, name);
                d.hide();
                return int(QDialog::Rejected);
            });
        };
        for (int i = 0; i < kOpenings; ++i) {
            const QString time = QString::number(i + 1);
            opened(QStringLiteral("native-settings-") + time);
            native.openSettings();
            opened(QStringLiteral("native-add-site-") + time);
            native.addSite();
            opened(QStringLiteral("native-add-device-") + time);
            native.addDevice();
            opened(QStringLiteral("native-report-") + time);
            native.openReports(fleet.reportDevice());
            expectAnswered();
        }
        native.setPage(1);
        openSetupAgain(&native, visibleButton(&native, QStringLiteral("Video wall")),
                       QStringLiteral("native-video-wall-setup"));
        native.hide();
    }

    // Server mode by the keyboard alone, from signing in to a recorded day
    // playing (tests/app/startup/AuditWalks.h).
    void keyboardOnlyServerPlayback()
    {
        shelltest::Rig rig;
        Prefs::set(Prefs::kNativeMode, false);
        Prefs::set(Prefs::kRememberUser, QString());
        TopLevelWindows windows;
        windows.connectSwitches();
        windows.showInitial();
        QVERIFY(QTest::qWaitForWindowExposed(&windows.login));
        faults += drive::tagged(
            QStringLiteral("keys-server@") + screenTag(),
            auditwalks::serverPlaybackByKeys(windows, rig.server, Theme::colour(Theme::Colour::FocusRing)));
        windows.shell.hide();
        windows.login.hide();
    }

    // Native mode by the keyboard alone, from the fleet to a recording of
    // the calendar playing.
    void keyboardOnlyNativeCalendar()
    {
        AuditFleet fleet;
        TopLevelWindows windows;
        startNative(fleet, windows);
        if (QTest::currentTestFailed())
            return;
        faults += drive::tagged(
            QStringLiteral("keys-native@") + screenTag(),
            auditwalks::nativeCalendarByKeys(windows, fleet.calendarDevice(), Theme::colour(Theme::Colour::FocusRing)));
        windows.native.hide();
    }

    // The pointer crossing a camera wall as it opens, while its tiles still
    // load: every title reads as it did before the pointer came. The tiles
    // show a few at a time, and each is fitted against the whole wall and
    // again as the others come. A site's wall of 16, two recorders' wall of
    // 36 whose cameras are named alike, a preset's wall of 36; their titles
    // told apart, not nearly alike (where camera names collide, by their
    // recorder).
    void wallTitlesStableUnderThePointer()
    {
        viewtest::FakeStreams streams; // answers no start: every tile loads
        QWidget window;
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        auto* wall = new GridPage(&window, &streams);
        column->addWidget(wall);
        window.setGeometry(QGuiApplication::primaryScreen()->availableGeometry().adjusted(0, 30, 0, 0));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const auto& [cameras, perPage, name] : alikeWalls()) {
            QList<QPointer<CameraTile>> before;
            for (CameraTile* t : wall->findChildren<CameraTile*>())
                before << t;
            wall->openCameras(name, cameras);
            QAbstractButton* choice = visibleButton(wall, QString::number(perPage));
            QVERIFY(choice);
            if (!choice->isChecked())
                choice->click();
            QTRY_VERIFY_WITH_TIMEOUT(pageBuilt(wall, perPage, before), 10000);
            const QString tag = QStringLiteral("%1@%2").arg(name, screenTag());
            faults += drive::tagged(tag, screenaudit::run(screenaudit::Check::Alike, &window));
            // Each title keeps a word that tells it from every other.
            QStringList wholes;
            QStringList shown;
            for (CameraTile* t : wall->findChildren<CameraTile*>()) {
                if (!t->isVisible())
                    continue;
                wholes << t->title();
                shown << t->findChild<QLabel*>(QStringLiteral("TileName"))->text();
            }
            faults += drive::tagged(tag, longnames::apartFaults(wholes, shown));
            hoverTiles(&window, name, QPoint(1, 1));
            // The keyboard's way through the wall: every tile and button Tab
            // reaches is ringed.
            if (name == QLatin1String("alike-wall-estate"))
                faults += drive::tagged(tag, drive::focusShows(&window, Theme::colour(Theme::Colour::FocusRing)));
        }
        wall->stopAll();
    }

    // Walls of 120 (12 x 10) of a catalogue named alike: three recorders
    // whose names differ only at their end, each with "Camera 01" and on, and
    // recorders of Arabic, Hebrew, French and German names (tests/support/
    // LongNames). On the video wall of either mode, full screen, and on
    // native mode's live wall, at this run's scale (also run at 1.5,
    // tst_screen_audit_walls_scaled): no two titles read alike where what
    // tells them apart fits, and no text of a title strip reaches past its
    // tile.
    void wallsOf120ReadApart()
    {
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = screen->geometry();
        // The pointer rests on a tile of the middle row (at the top edge it
        // would bring the video wall's bar up over the first row).
        QCursor::setPos(area.left() + 4, area.center().y());
        // The cameras of the wall by their tiles' ids (the server's channel
        // ids, the native wall's keys), filled below.
        QHash<QString, longnames::Camera> cameras;
        const QList<longnames::Camera> wall = longnames::wallOf120(longnames::manyAlike());
        const qreal scale = screen->devicePixelRatio();
        const QString at = scale == 1.0 ? screenTag() : QStringLiteral("%1-scale-%2").arg(screenTag()).arg(scale);
        const auto wallSeen = [this, &area, &cameras, &at](QWidget* window, const QString& name) {
            screenaudit::settle(window);
            QVERIFY(screenaudit::screenshot(window, kShots, QStringLiteral("audit-%1-%2").arg(at, name)));
            const QString tag = QStringLiteral("%1@%2").arg(name, at);
            screenaudit::Setting here = setting;
            here.screen = area;
            // The titles: shortened with their whole texts at hand, no text
            // of a strip past its tile, told apart where that fits (failed
            // tiles weigh a failure's word against the name).
            for (const QString& f : screenaudit::run(screenaudit::Check::Text, window, here))
                if (f.contains(QLatin1String("TileName")) || f.contains(QLatin1String("TileSub"))
                    || f.contains(QLatin1String("TileState")))
                    faults << tag + QLatin1Char(' ') + f;
            faults += drive::tagged(tag, stripsPastTheirTile(window));
            faults += drive::tagged(tag, alikeWhereApartFits(window, cameras));
            seen << name;
        };
        const auto allFailed = [](QWidget* window, int count) {
            int failed = 0;
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (auto* t = qobject_cast<CameraTile*>(w))
                    failed += t->isFailed() ? 1 : 0;
                else if (auto* v = qobject_cast<VmsTile*>(w))
                    failed += v->isFailed() ? 1 : 0;
            }
            return failed == count;
        };
        const auto runWall = [&](std::shared_ptr<VideoWall::Source> source, const QStringList& cells,
                                 const QString& name) {
            VideoWall::Config config;
            VideoWall::ScreenConfig* display =
                config.ensure(VideoWall::screenKey(screen), VideoWall::screenTitle(screen));
            display->layout = QStringLiteral("10x12");
            display->cells = cells;
            VideoWall::Controller::instance()->start(std::move(source), config);
            VideoWall::DisplayWindow* shown = nullptr;
            QTRY_VERIFY_WITH_TIMEOUT((shown = wallWindow()) && shown->isVisible(), 10000);
            QTRY_VERIFY_WITH_TIMEOUT(allFailed(shown, int(cells.size())), 60000);
            wallSeen(shown, name);
            VideoWall::Controller::instance()->stop();
            QTRY_VERIFY_WITH_TIMEOUT(!wallWindow(), 10000);
        };

        // Server mode: the organisation's catalogue, no server answering.
        AppContext& ctx = AppContext::instance();
        QStringList channels;
        ctx.sites = manyAlikeSites(&channels);
        ctx.api.setBaseUrl(QStringLiteral("http://127.0.0.1:%1").arg(kvrtest::closedPort()));
        QCOMPARE(channels.size(), 120);
        for (qsizetype i = 0; i < channels.size(); ++i)
            cameras.insert(channels.at(i), wall.at(i));
        runWall(std::make_shared<ServerWallSource>(), channels, QStringLiteral("video-wall-120"));
        ctx.sites.clear();

        // Native mode: its devices, none answering.
        const QStringList keys = addManyAlikeDevices();
        QCOMPARE(keys.size(), 120);
        for (qsizetype i = 0; i < keys.size(); ++i)
            cameras.insert(keys.at(i), wall.at(i));
        runWall(std::make_shared<NativeWallSource>(), keys, QStringLiteral("native-video-wall-120"));
        TopLevelWindows windows;
        showNative(windows);
        NativeWindow& native = windows.native;
        native.setPage(1);
        VmsPage* live = native.findChild<VmsPage*>();
        live->setLayoutChoice(7); // 12 x 10
        live->setWall(keys);
        QTRY_VERIFY_WITH_TIMEOUT(native.findChildren<VmsTile*>().size() == 120, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(allFailed(&native, 120), 60000);
        QCursor::setPos(area.topLeft());
        wallSeen(&native, QStringLiteral("native-live-wall-120"));
        native.hide();
        expectSeen({"video-wall-120", "native-video-wall-120", "native-live-wall-120"});
    }
};

KVR_TEST_MAIN(ScreenAudit)

#include "tst_screen_audit.moc"
