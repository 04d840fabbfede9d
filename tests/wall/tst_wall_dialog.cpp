// The wall set-up dialog with a source of plain widgets on two virtual
// displays: what it selects and shows, its camera tree and search, every edit
// saved at once, drops on the preview, and the run state.

#include "tests/wall/WallTestKit.h"

#include "wall/Config.h"
#include "wall/Controller.h"
#include "wall/DisplayMap.h"
#include "wall/LayoutPreview.h"
#include "wall/Screens.h"
#include "wall/SetupDialog.h"
#include "wall/SetupRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

using namespace VideoWall;
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

QStringList visibleCameras(QTreeWidget* tree)
{
    QStringList out;
    for (QTreeWidgetItemIterator it(tree); *it; ++it)
        if (!(*it)->data(0, Qt::UserRole).toString().isEmpty() && !(*it)->isHidden() && !(*it)->parent()->isHidden()
            && !(*it)->parent()->parent()->isHidden())
            out.append((*it)->text(0));
    return out;
}

QString cellsOf(const Config& c, const QString& key)
{
    const ScreenConfig* s = c.find(key);
    return s ? QStringList(s->cells).join(QLatin1Char(',')) : QStringLiteral("(none)");
}

} // namespace

class TestWallDialog : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void opensOnAnotherDisplay();
    void onlyDisplayIsTheDialogsOwn();
    void treeBySiteAndDevice();
    void searchShowsMatchingDevicesAndCameras_data();
    void searchShowsMatchingDevicesAndCameras();
    void editsAreSavedAtOnce();
    void dropsOnThePreview();
    void previewClicks();
    void runStateFollowsTheController();

private:
    std::shared_ptr<TestSource> m_source;
};

void TestWallDialog::init()
{
    QList<Camera> cams = walltest::someCameras(6);
    cams.append({"far1", "Far gate", "", "Depot", true});
    cams.append({"far2", "Yard recorder", "Yard recorder", "Depot", false});
    cams.append({"lost", "Lost", "", "", false});
    m_source = std::make_shared<TestSource>(QStringLiteral("server/h/%1").arg(QTest::currentTestFunction()), cams);
}

void TestWallDialog::cleanup()
{
    Controller::instance()->stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestWallDialog::opensOnAnotherDisplay()
{
    if (QGuiApplication::screens().size() < 2)
        QSKIP("needs two displays");
    SetupDialog dialog(m_source);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Video wall \u00B7 Test cameras"));
    QCOMPARE(dialog.size(), QSize(1180, 760));
    QCOMPARE(dialog.windowModality(), Qt::WindowModal);
    QCOMPARE(dialog.config().screens.size(), 2); // every connected display has an entry
    QCOMPARE(dialog.selectedKey(), keyOf(1));
    QCOMPARE(dialog.map()->selectedKey(), keyOf(1));
    QCOMPARE(dialog.heading()->text(), "Display 2 \u00B7 " + screenTitle(QGuiApplication::screens().at(1)));
    QVERIFY(dialog.note()->text().isEmpty());
    QVERIFY(!dialog.forgetButton()->isVisibleTo(&dialog));
    QCOMPARE(dialog.layoutCombo()->currentData().toString(), QStringLiteral("2x2"));
    QCOMPARE(dialog.layoutCombo()->itemText(11), QStringLiteral("12 \u00D7 10 (120)  (120)"));
    QCOMPARE(dialog.status()->text(), QStringLiteral("Put cameras on a display to start."));
    // Reachable by what the user reads.
    const auto labels = dialog.findChildren<QLabel*>();
    QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->buddy() == dialog.search(); }));
    QVERIFY(!dialog.layoutCombo()->accessibleName().isEmpty() && !dialog.qualityCombo()->accessibleName().isEmpty());

    // A click on the other display's box edits that one.
    dialog.map()->resize(560, 190);
    const QList<DisplayMap::Box> boxes = dialog.map()->boxes();
    QTest::mouseClick(dialog.map(), Qt::LeftButton, {}, boxes.at(0).rect.center().toPoint());
    QCOMPARE(dialog.selectedKey(), keyOf(0));
    QVERIFY(dialog.note()->text().startsWith(QStringLiteral("This is the display this window is on")));
}

void TestWallDialog::onlyDisplayIsTheDialogsOwn()
{
    if (QGuiApplication::screens().size() != 1)
        QSKIP("needs exactly one display");
    SetupDialog dialog(m_source);
    QCOMPARE(dialog.selectedKey(), keyOf(0));
    QCOMPARE(dialog.note()->text(),
             QStringLiteral("This is the display this window is on: the wall will cover it. "
                            "Press Esc on the wall, or use Stop wall at its top edge, to get "
                            "back."));
}

void TestWallDialog::treeBySiteAndDevice()
{
    SetupDialog dialog(m_source);
    CameraTree* tree = dialog.tree();
    QCOMPARE(tree->topLevelItemCount(), 3);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Head office"));
    QCOMPARE(tree->topLevelItem(1)->text(0), QStringLiteral("Depot"));
    QCOMPARE(tree->topLevelItem(2)->text(0), QStringLiteral("No site"));
    QCOMPARE(tree->topLevelItem(2)->child(0)->text(0), QStringLiteral("Cameras"));
    QCOMPARE(tree->topLevelItem(0)->data(0, Qt::FontRole).value<QFont>().weight(), QFont::DemiBold);
    QCOMPARE(tree->topLevelItem(0)->childCount(), 2); // Gate and Yard recorders
    QCOMPARE(tree->topLevelItem(1)->childCount(), 2); // a device name under two sites is two items
    QTreeWidgetItem* offline = item(tree, "Far gate");
    QCOMPARE(offline->foreground(0).color(), QColor(0xf2, 0x55, 0x5a));
    QCOMPARE(offline->toolTip(0), QStringLiteral("Offline at the last check"));
    QVERIFY(tree->isExpanded(tree->model()->index(0, 0)));

    // Dragging a site and one of its cameras carries every camera once.
    QCOMPARE(tree->mimeTypes(), QStringList{kCameraMime});
    std::unique_ptr<QMimeData> data(
        tree->mimeData({item(tree, "Camera 3"), tree->topLevelItem(0), item(tree, "Far gate")}));
    QCOMPARE(camerasFromPayload(data->data(kCameraMime)),
             QStringList({"cam3", "cam1", "cam5", "cam2", "cam4", "cam6", "far1"}));
    QCOMPARE(dialog.titles().value("cam2"), QStringLiteral("Yard recorder \u00B7 Camera 2"));
    QCOMPARE(dialog.titles().value("far2"), QStringLiteral("Yard recorder"));
}

void TestWallDialog::searchShowsMatchingDevicesAndCameras_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("shown");
    const QStringList all{"Camera 1", "Camera 3", "Camera 5",      "Camera 2", "Camera 4",
                          "Camera 6", "Far gate", "Yard recorder", "Lost"};
    QTest::newRow("nothing") << "  " << all;
    QTest::newRow("a device, any case") << "GATE rec" << QStringList{"Camera 1", "Camera 3", "Camera 5"};
    QTest::newRow("a site") << "depot" << QStringList{"Far gate", "Yard recorder"};
    QTest::newRow("a camera title") << " camera 4 " << QStringList{"Camera 4"};
    QTest::newRow("a word in both") << "yard" << QStringList{"Camera 2", "Camera 4", "Camera 6", "Yard recorder"};
    QTest::newRow("no match") << "zzz" << QStringList{};
}

void TestWallDialog::searchShowsMatchingDevicesAndCameras()
{
    QFETCH(QString, text);
    QFETCH(QStringList, shown);
    SetupDialog dialog(m_source);
    QTest::keyClicks(dialog.search(), text);
    QCOMPARE(visibleCameras(dialog.tree()), shown);
    if (shown.isEmpty())
        for (int i = 0; i < dialog.tree()->topLevelItemCount(); ++i)
            QVERIFY(dialog.tree()->topLevelItem(i)->isHidden());
    dialog.search()->clear();
    QCOMPARE(visibleCameras(dialog.tree()).size(), 9);
}

void TestWallDialog::editsAreSavedAtOnce()
{
    SetupDialog dialog(m_source);
    const QString key = dialog.selectedKey();
    const auto saved = [this, &key] { return cellsOf(load(m_source->id()), key); };
    QTreeWidget* tree = dialog.tree();

    // Double-click: into the selected cell, then on to the next empty one.
    Q_EMIT tree->itemDoubleClicked(item(tree, "Camera 1"), 0);
    Q_EMIT tree->itemDoubleClicked(item(tree, "Camera 2"), 0);
    Q_EMIT tree->itemDoubleClicked(tree->topLevelItem(0), 0); // a site assigns nothing
    QCOMPARE(saved(), QStringLiteral("cam1,cam2,,"));
    QCOMPARE(dialog.preview()->selectedCell(), 2);
    QCOMPARE(dialog.status()->text(), QStringLiteral("1 display ready."));

    // Fill: a device and one of its cameras fill each camera once.
    tree->clearSelection();
    item(tree, "Gate recorder")->setSelected(true);
    item(tree, "Camera 5")->setSelected(true);
    dialog.fillButton()->click();
    QCOMPARE(saved(), QStringLiteral("cam1,cam2,cam1,cam3"));

    const int threeByThree = dialog.layoutCombo()->findData(QStringLiteral("3x3"));
    dialog.layoutCombo()->setCurrentIndex(threeByThree);
    Q_EMIT dialog.layoutCombo()->activated(threeByThree);
    QCOMPARE(saved(), QStringLiteral("cam1,cam2,cam1,cam3,,,,,"));
    dialog.qualityCombo()->setCurrentIndex(2);
    Q_EMIT dialog.qualityCombo()->activated(2);
    dialog.enabledBox()->click();
    const ScreenConfig* stored = load(m_source->id()).find(key);
    QCOMPARE(stored->quality, kQualityMain);
    QVERIFY(!stored->enabled);
    QCOMPARE(dialog.status()->text(), QStringLiteral("Put cameras on a display to start."));

    dialog.clearButton()->click();
    QCOMPARE(saved(), QStringLiteral(",,,,,,,,"));
    QCOMPARE(load(m_source->id()).find(key)->layout, QStringLiteral("3x3"));
    QCOMPARE(load(m_source->id()), dialog.config());
}

void TestWallDialog::dropsOnThePreview()
{
    SetupDialog dialog(m_source);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    LayoutPreview* preview = dialog.preview();
    ScreenConfig* s = preview->screen();
    s->cells = {"", "", "", "cam9"};
    const QString key = s->key;

    QMimeData cameras;
    cameras.setData(kCameraMime, cameraPayload({"cam1", "cam2", "cam3"}));
    QVERIFY(walltest::dragAndDrop(preview, preview->cellRect(2).center(), cameras));
    QCOMPARE(cellsOf(load(m_source->id()), key), QStringLiteral(",,cam1,cam9"));
    QCOMPARE(preview->selectedCell(), 2);
    QCOMPARE(preview->dropTarget(), -1);

    // Cell data that did not come from this preview names someone else's
    // cells, and a payload that is no number names none: both are refused.
    for (const QByteArray& payload : {QByteArray("2"), QByteArray("x")}) {
        QMimeData cell;
        cell.setData(kCellMime, payload);
        QVERIFY(!walltest::dragAndDrop(preview, preview->cellRect(0).center(), cell, Qt::MoveAction));
        QCOMPARE(cellsOf(dialog.config(), key), QStringLiteral(",,cam1,cam9"));
    }
    QCOMPARE(preview->selectedCell(), 2);

    // Between cells nothing is taken.
    const QPointF gap = (preview->cellRect(0).topRight() + preview->cellRect(1).topLeft()) / 2 + QPointF(0, 10);
    QCOMPARE(preview->cellAt(gap), -1);
    QVERIFY(!walltest::dragAndDrop(preview, gap, cameras));
    QCOMPARE(cellsOf(dialog.config(), key), QStringLiteral(",,cam1,cam9"));
}

void TestWallDialog::previewClicks()
{
    SetupDialog dialog(m_source);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    LayoutPreview* preview = dialog.preview();
    preview->screen()->cells = {"cam1", "", "cam2", ""};
    QTest::mouseClick(preview, Qt::LeftButton, {}, preview->cellRect(3).center().toPoint());
    QCOMPARE(preview->selectedCell(), 3);
    // The clear button of a filled cell empties it and leaves the selection.
    const QPoint clear = preview->clearRect(2).center().toPoint();
    QTest::mouseMove(preview, clear);
    QCOMPARE(preview->hoverCell(), 2);
    QTest::mouseClick(preview, Qt::LeftButton, {}, clear);
    QCOMPARE(cellsOf(load(m_source->id()), dialog.selectedKey()), QStringLiteral("cam1,,,"));
    QCOMPARE(preview->selectedCell(), 3);
    // On an empty cell the same spot only selects it.
    QTest::mouseClick(preview, Qt::LeftButton, {}, clear);
    QCOMPARE(preview->selectedCell(), 2);
}

void TestWallDialog::runStateFollowsTheController()
{
    SetupDialog dialog(m_source);
    dialog.show();
    QVERIFY(!dialog.stopButton()->isVisibleTo(&dialog));
    dialog.startButton()->click();
    QCOMPARE(dialog.status()->text(),
             QStringLiteral("Put cameras on at least one connected display, and tick "
                            "\u201CShow a wall on this display\u201D."));
    QVERIFY(!Controller::instance()->isRunning());

    Q_EMIT dialog.tree()->itemDoubleClicked(item(dialog.tree(), "Camera 1"), 0);
    dialog.startButton()->click();
    QVERIFY(Controller::instance()->isRunning());
    QCOMPARE(dialog.status()->text(), QStringLiteral("The wall is running on 1 display."));
    QCOMPARE(dialog.startButton()->text(), QStringLiteral("Restart with changes"));
    QVERIFY(dialog.stopButton()->isVisibleTo(&dialog));

    // A wall of another source (another sign-in) may be replaced from here.
    auto other = std::make_shared<TestSource>(QStringLiteral("native"));
    Controller::instance()->start(other, dialog.config());
    QCOMPARE(dialog.status()->text(),
             QStringLiteral("A wall from another sign-in is running. Starting this one replaces it."));
    QCOMPARE(dialog.startButton()->text(), QStringLiteral("Start wall"));
    dialog.stopButton()->click();
    QVERIFY(!Controller::instance()->isRunning());
    QCOMPARE(dialog.status()->text(), QStringLiteral("1 display ready."));
    QVERIFY(!dialog.stopButton()->isVisibleTo(&dialog));
}

KVR_TEST_MAIN(TestWallDialog)
#include "tst_wall_dialog.moc"
