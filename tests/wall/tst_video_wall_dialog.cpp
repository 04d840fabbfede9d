// The wall set-up dialog with a source of plain widgets on two virtual
// displays: what it selects and shows, its camera tree and search, every edit
// saved at once, drops on the preview, and the run state.

#include "tests/wall/VideoWallTestKit.h"

#include "app/ui/WheelGuard.h"
#include "tests/support/Drive.h"
#include "wall/Config.h"
#include "wall/Controller.h"
#include "wall/DisplayMap.h"
#include "wall/LayoutPreview.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"
#include "wall/SetupRules.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QToolTip>

using namespace kvr::wall;

using namespace VideoWall;
using namespace VideoWall::SetupRules;
using walltest::TestSource;

namespace {

QString keyOf(int i)
{
    return screenKey(QGuiApplication::screens().at(i));
}

QTreeWidgetItem* item(QTreeWidget* tree, const QString& text)
{
    const auto found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// "item(child,child(...))" of what is not hidden under an item.
QString shown(const QTreeWidgetItem* item)
{
    QStringList children;
    for (int i = 0; i < item->childCount(); ++i)
        if (!item->child(i)->isHidden())
            children.append(shown(item->child(i)));
    return children.isEmpty() ? item->text(0) : item->text(0) + '(' + children.join(',') + ')';
}

// "<layout> <on|off> <quality>: <cells>" of a display's entry.
QString entry(const Config& c, const QString& key)
{
    const ScreenConfig* s = c.find(key);
    if (!s)
        return QStringLiteral("(none)");
    return QStringLiteral("%1 %2 %3: ").arg(s->layout, s->enabled ? "on" : "off").arg(s->quality)
        + QStringList(s->cells).join(QLatin1Char(','));
}

QMenu* activeMenu()
{
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

void closeMenu()
{
    if (QMenu* menu = activeMenu())
        menu->close();
}

// The names of the menu that `key` (the menu key, or Shift with F10) opens
// on `w`, left open; empty when none opens.
QStringList menuOf(QWidget* w, Qt::Key key)
{
    closeMenu();
    if (key == Qt::Key_Menu)
        drive::menuKey(w);
    else
        QTest::keyClick(w, key, Qt::ShiftModifier);
    QMenu* menu = activeMenu();
    if (!menu)
        return {};
    QStringList names;
    for (const QAction* a : menu->actions())
        if (!a->isSeparator())
            names << a->text();
    return names;
}

// Chooses `name` in the open menu as the keys do.
void choose(const QString& name)
{
    QMenu* menu = activeMenu();
    QVERIFY(menu);
    for (QAction* a : menu->actions())
        if (a->text() == name)
            menu->setActiveAction(a);
    QCOMPARE(menu->activeAction() ? menu->activeAction()->text() : QString(), name);
    QTest::keyClick(menu, Qt::Key_Return);
}

} // namespace

class TestWallDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QList<Camera> cams = walltest::someCameras(6);
        cams.append({"far1", "Far gate", "", "Depot", true});
        cams.append({"far2", "Yard recorder", "Yard recorder", "Depot", false});
        cams.append({"lost", "Lost", "", "", false});
        m_source = std::make_shared<TestSource>(QStringLiteral("server/h/%1").arg(QTest::currentTestFunction()), cams);
    }

    void cleanup()
    {
        Controller::instance()->stop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void opensOnAnotherDisplayWithItsTreeAndSavesEdits()
    {
        QCOMPARE(QGuiApplication::screens().size(), 2);
        SetupDialog dialog(m_source);
        QCOMPARE(dialog.config().screens.size(), 2); // every connected display has an entry
        QCOMPARE(dialog.selectedKey(), keyOf(1));
        QCOMPARE(dialog.map()->selectedKey(), keyOf(1));
        QCOMPARE(dialog.heading()->text(), "Display 2 \u00B7 " + screenTitle(QGuiApplication::screens().at(1)));
        QVERIFY(dialog.note()->text().isEmpty() && !dialog.forgetButton()->isVisibleTo(&dialog));
        // Reachable by what the user reads.
        const auto labels = dialog.findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->buddy() == dialog.search(); }));
        QVERIFY(!dialog.layoutCombo()->accessibleName().isEmpty()
                && !dialog.qualityCombo()->accessibleName().isEmpty());
        // Everything fits the smallest screen the program supports.
        QVERIFY2(
            dialog.minimumSizeHint().height() <= 720 && dialog.minimumSizeHint().width() <= 1280,
            qPrintable(QString("%1x%2").arg(dialog.minimumSizeHint().width()).arg(dialog.minimumSizeHint().height())));

        // A click on the other display's box edits that one.
        dialog.map()->resize(560, 190);
        QTest::mouseClick(dialog.map(), Qt::LeftButton, {}, dialog.map()->boxes().at(0).rect.center().toPoint());
        QCOMPARE(dialog.selectedKey(), keyOf(0));
        QCOMPARE(dialog.note()->text(), editorNote(DisplayPlace::ThisWindow));
        // So do the arrow keys, stopping at the last display.
        QVERIFY(dialog.map()->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(dialog.map(), Qt::Key_Right);
        QCOMPARE(dialog.selectedKey(), keyOf(1));
        QTest::keyClick(dialog.map(), Qt::Key_Right);
        QCOMPARE(dialog.selectedKey(), keyOf(1));
        QTest::keyClick(dialog.map(), Qt::Key_Left);
        QCOMPARE(dialog.selectedKey(), keyOf(0));
        QCOMPARE(DisplayMap::stepKey({"a", "b"}, "gone", 1), QString("a"));

        CameraTree* tree = dialog.tree();
        // A device name under two sites is two items; cameras without either
        // go under "No site" and "Cameras".
        const QString all = "(Head office(Gate recorder(Camera 1,Camera 3,Camera 5),Yard recorder(Camera 2,Camera 4,"
                            "Camera 6)),Depot(Cameras(Far gate),Yard recorder(Yard recorder)),No site(Cameras(Lost)))";
        const auto search = [&dialog](const char* text) {
            dialog.search()->setText(QString::fromUtf8(text));
            return shown(dialog.tree()->invisibleRootItem());
        };
        QCOMPARE(search(""), all);
        QCOMPARE(item(tree, "Far gate")->toolTip(0), QStringLiteral("Offline at the last check"));

        // Dragging a site and one of its cameras carries every camera once.
        std::unique_ptr<QMimeData> data(
            tree->mimeData({item(tree, "Camera 3"), tree->topLevelItem(0), item(tree, "Far gate")}));
        QCOMPARE(camerasFromPayload(data->data(kCameraMime)),
                 QStringList({"cam3", "cam1", "cam5", "cam2", "cam4", "cam6", "far1"}));

        // A device or site that matches shows all its cameras; otherwise only
        // the cameras that match; blanks are no search.
        QCOMPARE(search("GATE rec"), QStringLiteral("(Head office(Gate recorder(Camera 1,Camera 3,Camera 5)))"));
        QCOMPARE(search("depot"), QStringLiteral("(Depot(Cameras(Far gate),Yard recorder(Yard recorder)))"));
        QCOMPARE(search(" camera 4 "), QStringLiteral("(Head office(Yard recorder(Camera 4)))"));
        QCOMPARE(search("zzz"), QString());
        QCOMPARE(search("  "), all);

        // Every edit is saved at once.
        const auto saved = [this, &dialog] { return entry(load(m_source->id()), dialog.selectedKey()); };

        // Double-click: into the selected cell, then on to the next empty one.
        for (QTreeWidgetItem* i : {item(tree, "Camera 1"), item(tree, "Camera 2"), tree->topLevelItem(0)})
            Q_EMIT tree->itemDoubleClicked(i, 0); // the site, last, assigns nothing
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,,"));
        QCOMPARE(dialog.preview()->selectedCell(), 2);

        const int threeByThree = dialog.layoutCombo()->findData(QStringLiteral("3x3"));
        dialog.layoutCombo()->setCurrentIndex(threeByThree);
        Q_EMIT dialog.layoutCombo()->activated(threeByThree);
        // Fill: a device and one of its cameras fill each camera once.
        tree->clearSelection();
        item(tree, "Gate recorder")->setSelected(true);
        item(tree, "Camera 5")->setSelected(true);
        dialog.fillButton()->click();
        QCOMPARE(saved(), QStringLiteral("3x3 on 0: cam1,cam2,cam1,cam3,cam5,,,,"));
        dialog.qualityCombo()->setCurrentIndex(2);
        Q_EMIT dialog.qualityCombo()->activated(2);
        dialog.enabledBox()->click();
        dialog.clearButton()->click();
        QCOMPARE(saved(), QStringLiteral("3x3 off 2: ,,,,,,,,"));
    }

    // A wheel passing over the layout drop-down, nobody clicking it, leaves
    // the layout and its cameras as they are. A layout the person picks with
    // fewer cells keeps the cameras that no longer fit, says how many will
    // not show, and gives them back with a larger layout, until the wall
    // starts.
    void aSmallerLayoutHoldsItsCamerasBackAndAPassingWheelChangesNone()
    {
        kvr::ui::WheelGuard::install(); // as the program's start does
        SetupDialog dialog(m_source);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        const QString key = dialog.selectedKey();
        const auto saved = [this, &key] { return entry(load(m_source->id()), key); };
        CameraTree* tree = dialog.tree();
        for (const char* name : {"Camera 1", "Camera 2", "Camera 3", "Camera 4"})
            item(tree, name)->setSelected(true);
        dialog.fillButton()->click();
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,cam3,cam4"));

        QComboBox* layouts = dialog.layoutCombo();
        const QPoint over = layouts->mapTo(&dialog, layouts->rect().center());
        for (const int notch : {-1, 1}) {
            drive::wheel(&dialog, over, notch);
            QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,cam3,cam4"));
        }

        const auto pick = [layouts](const char* layout) {
            const int index = layouts->findData(QString::fromLatin1(layout));
            layouts->setCurrentIndex(index);
            Q_EMIT layouts->activated(index);
        };
        pick("1x1");
        QCOMPARE(saved(), QStringLiteral("1x1 on 0: cam1"));
        QCOMPARE(dialog.heldBack(key), QStringList({"cam2", "cam3", "cam4"}));
        QVERIFY2(dialog.note()->text().endsWith(heldBackNote(3)), qPrintable(dialog.note()->text()));
        QCOMPARE(heldBackNote(3),
                 QStringLiteral("3 cameras no longer fit this layout and will not show. A layout "
                                "with more cells takes them back until the wall starts or this "
                                "window closes."));
        QVERIFY(heldBackNote(1).startsWith(QStringLiteral("1 camera no longer fits")) && heldBackNote(0).isEmpty());
        pick("2x2");
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,cam3,cam4"));
        QVERIFY(dialog.heldBack(key).isEmpty() && !dialog.note()->text().contains(QStringLiteral("fit")));
        // Applied: what the smaller layout left out is let go.
        pick("1x1");
        dialog.startButton()->click();
        QVERIFY(Controller::instance()->isRunning());
        QVERIFY(dialog.heldBack(key).isEmpty() && !dialog.note()->text().contains(QStringLiteral("fit")));
        pick("2x2");
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,,,"));
    }

    void dropsAndClicksOnThePreview()
    {
        SetupDialog dialog(m_source);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        LayoutPreview* preview = dialog.preview();
        preview->screen()->cells = {"", "", "", "cam9"};
        const QString key = preview->screenKey();
        const auto saved = [this, &key] { return entry(load(m_source->id()), key); };

        QMimeData cameras;
        cameras.setData(kCameraMime, cameraPayload({"cam1", "cam2", "cam3"}));
        QVERIFY(walltest::dragAndDrop(preview, preview->cellRect(2).center(), cameras));
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: ,,cam1,cam9"));
        QCOMPARE(preview->selectedCell(), 2);
        // Cell data that did not come from this preview names someone else's
        // cells: refused (payloads that are no number: the rule suite).
        QMimeData cell;
        cell.setData(kCellMime, "2");
        QVERIFY(!walltest::dragAndDrop(preview, preview->cellRect(0).center(), cell, Qt::MoveAction));
        // Between cells nothing is taken.
        const QPointF gap = (preview->cellRect(0).topRight() + preview->cellRect(1).topLeft()) / 2 + QPointF(0, 10);
        QVERIFY(!walltest::dragAndDrop(preview, gap, cameras));
        QCOMPARE(entry(dialog.config(), key), QStringLiteral("2x2 on 0: ,,cam1,cam9"));
        QCOMPARE(preview->selectedCell(), 2);

        QTest::mouseClick(preview, Qt::LeftButton, {}, preview->cellRect(1).center().toPoint());
        QCOMPARE(preview->selectedCell(), 1);
        // The clear button of a filled cell empties it and leaves the selection;
        // on an empty cell the same spot only selects it.
        const QPoint clear = preview->clearRect(2).center().toPoint();
        QTest::mouseMove(preview, clear);
        QCOMPARE(preview->hoverCell(), 2);
        QTest::mouseClick(preview, Qt::LeftButton, {}, clear);
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: ,,,cam9"));
        QCOMPARE(preview->selectedCell(), 1);
        QTest::mouseClick(preview, Qt::LeftButton, {}, clear);
        QCOMPARE(preview->selectedCell(), 2);
        // A filled cell names its camera whole in a tool tip, however small it is.
        const QPoint nine = preview->cellRect(3).center().toPoint();
        QHelpEvent help(QEvent::ToolTip, nine, preview->mapToGlobal(nine));
        QCoreApplication::sendEvent(preview, &help);
        QTRY_VERIFY(QToolTip::isVisible());
        QVERIFY2(QToolTip::text().startsWith("4. ") && QToolTip::text().size() > 4, qPrintable(QToolTip::text()));
    }

    // The keyboard does what the pointer does. In the tree, Enter and Space
    // do what a double-click does (a camera into the selected cell; a site or
    // device folds), and its menu puts what a drag of the item would carry
    // into the selected cell as a drop there does. In the preview, the keys
    // choose a cell, Delete empties it as its clear button does, and its menu
    // empties it or moves its camera as a drag does; a screen reader finds
    // the cells, named, the keys' one focused.
    void theKeyboardPlacesMovesAndEmptiesCells()
    {
        SetupDialog dialog(m_source);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        const QString key = dialog.selectedKey();
        const auto saved = [this, &key] { return entry(load(m_source->id()), key); };
        CameraTree* tree = dialog.tree();
        LayoutPreview* preview = dialog.preview();

        tree->setFocus(Qt::TabFocusReason);
        tree->setCurrentItem(item(tree, "Camera 1"));
        QTest::keyClick(tree, Qt::Key_Return);
        tree->setCurrentItem(item(tree, "Camera 2"));
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,,"));
        QCOMPARE(preview->selectedCell(), 2);
        QTreeWidgetItem* gate = item(tree, "Gate recorder");
        tree->setCurrentItem(gate);
        QTest::keyClick(tree, Qt::Key_Return);
        QVERIFY(!gate->isExpanded());
        QTest::keyClick(tree, Qt::Key_Space);
        QVERIFY(gate->isExpanded());
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam2,,"));

        // The device's menu: its three cameras from cell 2 on.
        preview->setSelectedCell(1);
        QCOMPARE(menuOf(tree, Qt::Key_Menu), QStringList({"Put 3 cameras from cell 2"}));
        QCOMPARE(menuOf(tree, Qt::Key_F10), QStringList({"Put 3 cameras from cell 2"}));
        choose(QStringLiteral("Put 3 cameras from cell 2"));
        QTRY_COMPARE(saved(), QStringLiteral("2x2 on 0: cam1,cam1,cam3,cam5"));
        QCOMPARE(preview->selectedCell(), 1);
        // Two cameras chosen: the menu of either carries both; of a third
        // camera that is not chosen, that one alone.
        tree->clearSelection();
        item(tree, "Camera 4")->setSelected(true);
        item(tree, "Camera 6")->setSelected(true);
        tree->setCurrentItem(item(tree, "Camera 6"), 0, QItemSelectionModel::NoUpdate);
        QCOMPARE(menuOf(tree, Qt::Key_Menu), QStringList({"Put 2 cameras from cell 2"}));
        closeMenu();
        tree->setCurrentItem(item(tree, "Camera 3"), 0, QItemSelectionModel::NoUpdate);
        QCOMPARE(menuOf(tree, Qt::Key_Menu), QStringList({"Put in cell 2"}));
        closeMenu();

        // The preview's keys, on cells set here; Tab reaches it.
        preview->screen()->cells = {"cam1", "", "cam3", ""};
        QVERIFY(drive::activate(&dialog));
        QVERIFY(drive::tabTo(
            &dialog, [preview](QWidget* w) { return w == preview; }, 40));
        preview->setSelectedCell(0);
        QString walked;
        for (const Qt::Key k : {Qt::Key_Right, Qt::Key_Down, Qt::Key_Home, Qt::Key_End, Qt::Key_Up, Qt::Key_Left}) {
            QTest::keyClick(preview, k);
            walked += QString::number(preview->selectedCell());
        }
        QCOMPARE(walked, QStringLiteral("130310"));
        QTest::keyClick(preview, Qt::Key_Right, Qt::ControlModifier); // not the keys' own
        QCOMPARE(preview->selectedCell(), 0);
        QSignalSpy changed(preview, &LayoutPreview::changed);
        QTest::keyClick(preview, Qt::Key_Right);
        QTest::keyClick(preview, Qt::Key_Delete); // an empty cell: nothing to save
        QCOMPARE(changed.size(), 0);
        QCOMPARE(menuOf(preview, Qt::Key_Menu), QStringList()); // nor a menu
        QTest::keyClick(preview, Qt::Key_Left);
        QTest::keyClick(preview, Qt::Key_Backspace);
        QCOMPARE(saved(), QStringLiteral("2x2 on 0: ,,cam3,"));
        QCOMPARE(preview->selectedCell(), 0);

        QTest::keyClick(preview, Qt::Key_Down);
        QCOMPARE(menuOf(preview, Qt::Key_Menu),
                 QStringList(
                     {"Empty cell 3", "Move to cell 1 (empty)", "Move to cell 2 (empty)", "Move to cell 4 (empty)"}));
        choose(QStringLiteral("Move to cell 4 (empty)"));
        QTRY_COMPARE(saved(), QStringLiteral("2x2 on 0: ,,,cam3"));
        QCOMPARE(preview->selectedCell(), 3);
        QVERIFY(menuOf(preview, Qt::Key_F10).contains(QStringLiteral("Empty cell 4")));
        choose(QStringLiteral("Empty cell 4"));
        QTRY_COMPARE(saved(), QStringLiteral("2x2 on 0: ,,,"));
        // A right-click offers the menu of the cell under the pointer.
        preview->screen()->cells = {"", "cam2", "", ""};
        const QPoint two = preview->cellRect(1).center().toPoint();
        QContextMenuEvent rightClick(QContextMenuEvent::Mouse, two, preview->mapToGlobal(two));
        QCoreApplication::sendEvent(preview, &rightClick);
        QVERIFY(activeMenu() && activeMenu()->actions().first()->text() == QStringLiteral("Empty cell 2"));
        closeMenu();
        // The menus took the keyboard; back with the dialog.
        QVERIFY(drive::activate(&dialog));
        preview->setFocus(Qt::TabFocusReason);

        // The cells in the accessibility tree, named; the keys' one is the
        // focused one while the preview has the focus.
        QAccessibleInterface* cells = QAccessible::queryAccessibleInterface(preview);
        QCOMPARE(cells->role(), QAccessible::List);
        QCOMPARE(cells->childCount(), 4);
        QCOMPARE(cells->child(1)->text(QAccessible::Name), QStringLiteral("Cell 2, Yard recorder · Camera 2"));
        QCOMPARE(cells->child(2)->text(QAccessible::Name), QStringLiteral("Cell 3, empty"));
        QCOMPARE(cells->focusChild(), cells->child(3));
        cells->child(2)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(preview->selectedCell(), 2);
        QCOMPARE(cells->focusChild(), cells->child(2));
        tree->setFocus(Qt::TabFocusReason);
        QCOMPARE(cells->focusChild(), nullptr);

        // Nothing to act on beyond the layout's cells, nor without a display
        // shown (the tree's menu neither).
        QSignalSpy edits(preview, &LayoutPreview::changed);
        preview->placeCameras(4, {QStringLiteral("cam1")});
        preview->moveCell(1, 4);
        preview->emptyCell(4);
        preview->setScreen(nullptr, QString(), nullptr, 16.0 / 9.0);
        preview->placeCameras(0, {QStringLiteral("cam1")});
        preview->moveCell(1, 0);
        preview->emptyCell(0);
        QCOMPARE(menuOf(tree, Qt::Key_Menu), QStringList());
        QTest::keyClick(preview, Qt::Key_Right);
        QTest::keyClick(preview, Qt::Key_Delete);
        QCOMPARE(menuOf(preview, Qt::Key_Menu), QStringList());
        QCOMPARE(edits.size(), 0);
    }

    // A menu's choice acts on the display it was opened for: where another
    // display came under edit before it ran, nothing changes.
    void aMenusChoiceKeepsToItsDisplay()
    {
        SetupDialog dialog(m_source);
        dialog.show();
        QVERIFY(drive::activate(&dialog));
        QCOMPARE(dialog.selectedKey(), keyOf(1));
        CameraTree* tree = dialog.tree();
        LayoutPreview* preview = dialog.preview();
        tree->setFocus(Qt::TabFocusReason);
        tree->setCurrentItem(item(tree, "Camera 1"));
        QCOMPARE(menuOf(tree, Qt::Key_Menu), QStringList({"Put in cell 1"}));
        activeMenu()->actions().first()->trigger();
        dialog.selectScreen(keyOf(0));
        closeMenu();
        QTest::qWait(0);
        QCOMPARE(entry(dialog.config(), keyOf(0)), QStringLiteral("2x2 on 0: ,,,"));
        QCOMPARE(entry(dialog.config(), keyOf(1)), QStringLiteral("2x2 on 0: ,,,"));

        preview->screen()->cells = {"cam1", "", "", ""};
        preview->setFocus(Qt::TabFocusReason);
        QVERIFY(menuOf(preview, Qt::Key_Menu).contains(QStringLiteral("Move to cell 2 (empty)")));
        for (QAction* a : activeMenu()->actions())
            if (a->text() == QStringLiteral("Move to cell 2 (empty)"))
                a->trigger();
        dialog.selectScreen(keyOf(1));
        preview->screen()->cells = {"cam2", "", "", ""};
        closeMenu();
        QTest::qWait(0);
        QCOMPARE(entry(dialog.config(), keyOf(0)), QStringLiteral("2x2 on 0: cam1,,,"));
        QCOMPARE(entry(dialog.config(), keyOf(1)), QStringLiteral("2x2 on 0: cam2,,,"));
    }

    void runStateFollowsTheController()
    {
        SetupDialog dialog(m_source);
        dialog.show();
        const auto state = [&dialog] {
            return QStringLiteral("%1|%2|%3")
                .arg(dialog.stopButton()->isVisibleTo(&dialog) ? "stop" : "-", dialog.startButton()->text(),
                     dialog.status()->text());
        };
        QCOMPARE(state(), "-|Start wall|Put cameras on a display to start.");
        dialog.startButton()->click();
        QCOMPARE(state(),
                 "-|Start wall|Put cameras on at least one connected display, and tick "
                 "\u201CShow a wall on this display\u201D.");
        QVERIFY(!Controller::instance()->isRunning());

        Q_EMIT dialog.tree()->itemDoubleClicked(item(dialog.tree(), "Camera 1"), 0);
        QCOMPARE(state(), "-|Start wall|1 display ready.");
        dialog.startButton()->click();
        QCOMPARE(state(), "stop|Restart with changes|The wall is running on 1 display.");

        // A wall of another source (another sign-in) may be replaced from here.
        Controller::instance()->start(std::make_shared<TestSource>(QStringLiteral("native")), dialog.config());
        QCOMPARE(state(), "stop|Start wall|A wall from another sign-in is running. Starting this one replaces it.");
        dialog.stopButton()->click();
        QVERIFY(!Controller::instance()->isRunning());
        QCOMPARE(state(), "-|Start wall|1 display ready.");
    }

private:
    std::shared_ptr<TestSource> m_source;
};

KVR_TEST_MAIN(TestWallDialog)

#include "tst_video_wall_dialog.moc"
