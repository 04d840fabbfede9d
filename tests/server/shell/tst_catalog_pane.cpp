// The catalogue tree as a person uses it: clicks, search, selection mode with
// tri-state marks, site buttons, collapse and progressive updates.
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "tests/server/shell/CatalogSamples.h"
#include "tests/support/Drive.h"
#include "tests/support/TestKit.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>

#include <algorithm>

using namespace kvr::api;
using namespace kvr::shell;

using namespace shelltest;

namespace {

// "North Gate": "Recorder A" (Gate, Lobby, Stairs, Roof) and "Door cam"
// (Door); "Yard": "Recorder B" (Bay, Fence); "Bare": "Box" without channels.
QList<Site> catalogue()
{
    auto device = [](const QString& id, const QString& site, const QString& name, const QStringList& channels) {
        Device d{id, site, name, {}, QStringLiteral("imou"), true, true, {}, {}};
        for (int i = 0; i < channels.size(); ++i)
            d.channels.append({id + QStringLiteral("-c%1").arg(i + 1), id, channels.at(i), i + 1, true, true, false});
        return d;
    };
    return {{"s1",
             "North Gate",
             false,
             {device("d1", "s1", "Recorder A", {"Gate", "Lobby", "Stairs", "Roof"}),
              device("d2", "s1", "Door cam", {"Door"})}},
            {"s2", "Yard", false, {device("d3", "s2", "Recorder B", {"Bay", "Fence"})}},
            {"s3", "Bare", false, {device("d4", "s3", "Box", {})}}};
}

// The pane, shown, over a catalogue.
struct Pane {
    CatalogPane pane;
    explicit Pane(const QList<Site>& sites = catalogue(), int height = 700)
    {
        pane.resize(320, height);
        pane.show();
        pane.setSites(sites);
    }
    QModelIndex row(const QString& text) const { return rowOf(pane.model(), text); }
    int mark(const QString& text) const { return row(text).data(CatalogModel::CheckRole).toInt(); }
    // "count label | ticked channels | marks of Recorder A and Yard" (0 none, 1 some, 2 all).
    QString ticks() const
    {
        return QStringLiteral("%1 | %2 | %3%4")
            .arg(pane.countLabel()->text(), pane.selectedChannels().join(' '))
            .arg(mark("Recorder A"))
            .arg(mark("Yard"));
    }
    void click(const QModelIndex& index, int x = 0) { clickRow(&pane, index, x); }
    void click(const QString& text, int x = 0) { click(row(text), x); }
};

} // namespace

class TestCatalogPane : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A click on a row, or Enter or Space on the current one, opens it; the
    // arrows only move the current row. A site row's empty area does
    // nothing, its "Play all" asks for the site's wall unless the site has
    // no channel.
    void clicksAndKeysOpenDevicesAndChannels()
    {
        Pane p;
        QSignalSpy device(&p.pane, &CatalogPane::deviceSelected);
        QSignalSpy channel(&p.pane, &CatalogPane::channelSelected);
        QSignalSpy site(&p.pane, &CatalogPane::siteLiveRequested);
        p.click("Lobby");
        QCOMPARE(channel.at(0), QVariantList({"d1", "d1-c2"}));
        p.click("Door cam");
        QCOMPARE(device.at(0).at(0).toString(), "d2");
        QTreeView* tree = p.pane.tree();
        tree->setFocus();
        tree->setCurrentIndex(p.row("Recorder A"));
        QTest::keyClick(tree, Qt::Key_Down);
        QCOMPARE(device.count() + channel.count(), 2);
        QTest::keyClick(tree, Qt::Key_Return);
        QCOMPARE(channel.at(1), QVariantList({"d1", "d1-c1"}));
        QTest::keyClick(tree, Qt::Key_Up);
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(device.at(1).at(0).toString(), "d1");
        tree->setCurrentIndex(p.row("Yard"));
        QTest::keyClick(tree, Qt::Key_Return);
        p.click("Yard", 20);
        QCOMPARE(site.count() + channel.count() + device.count(), 4);
        p.click("Yard", -20);
        QCOMPARE(site.at(0).at(0).toString(), "s2");
        p.click("Bare", -20);
        QCOMPARE(site.count(), 1);
    }

    // The menu key, Shift+F10 or a right-click: the row's actions, which do
    // what a click does; in selection mode they tick and untick.
    void rowMenusOfferWhatAClickDoes()
    {
        Pane p;
        QSignalSpy device(&p.pane, &CatalogPane::deviceSelected);
        QSignalSpy channel(&p.pane, &CatalogPane::channelSelected);
        QSignalSpy site(&p.pane, &CatalogPane::siteLiveRequested);
        QTreeView* tree = p.pane.tree();
        QVERIFY(drive::activate(&p.pane));
        tree->setFocus();
        // What the menu of `row` offers (name:enabled), and the action named
        // `pick` (when given) chosen.
        const auto menuOf = [tree, &p](const QString& row, const QString& pick = {}) {
            tree->setCurrentIndex(p.row(row));
            QTest::keyClick(tree, Qt::Key_F10, Qt::ShiftModifier);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            QStringList offered;
            if (!menu)
                return offered;
            for (QAction* a : menu->actions()) {
                offered << QString("%1:%2").arg(a->text()).arg(a->isEnabled());
                if (a->text() == pick)
                    a->trigger();
            }
            menu->close();
            return offered;
        };
        QCOMPARE(menuOf("Gate", "Open live view"), QStringList{"Open live view:1"});
        QTRY_COMPARE(channel.count(), 1);
        QCOMPARE(channel.at(0), QVariantList({"d1", "d1-c1"}));
        QCOMPARE(menuOf("Door cam", "Open device"), QStringList{"Open device:1"});
        QTRY_COMPARE(device.count(), 1);
        QCOMPARE(menuOf("Yard", "Play all"), QStringList{"Play all:1"});
        QTRY_COMPARE(site.count(), 1);
        QCOMPARE(menuOf("Bare"), QStringList{"Play all:0"});
        // The menu key, as the window system hands it on, and a right-click.
        tree->setCurrentIndex(p.row("Roof"));
        QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(1, 1), tree->mapToGlobal(QPoint(1, 1)));
        QApplication::sendEvent(tree, &key);
        QVERIFY(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
        QApplication::activePopupWidget()->close();
        const QPoint stairs = tree->visualRect(p.row("Stairs")).center();
        QContextMenuEvent click(QContextMenuEvent::Mouse, stairs, tree->viewport()->mapToGlobal(stairs));
        QApplication::sendEvent(tree->viewport(), &click);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QVERIFY(menu && menu->accessibleName() == "Stairs");
        menu->close();

        p.pane.setSelecting(true);
        QCOMPARE(menuOf("Recorder B", "Add to selection"), QStringList{"Add to selection:1"});
        QTRY_COMPARE(p.pane.selectedChannels(), QStringList({"d3-c1", "d3-c2"}));
        QCOMPARE(menuOf("Bay", "Remove from selection"), QStringList{"Remove from selection:1"});
        QTRY_COMPARE(p.pane.selectedChannels(), QStringList({"d3-c2"}));
        QCOMPARE(menuOf("North Gate", "Add to selection"), QStringList{"Add to selection:1"});
        QTRY_COMPARE(p.pane.selectedChannels().size(), 6);
        // Space ticks as a click does.
        tree->setCurrentIndex(p.row("Fence"));
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(p.pane.selectedChannels().size(), 5);
        QCOMPARE(channel.count() + device.count(), 2);
    }

    // "Play all" and the site tick marks are buttons of their own: Tab goes
    // from the tree to them, a screen reader hears which site they act on,
    // and Space presses them like a click.
    void siteButtonsAreReachableAndNamed()
    {
        Pane p;
        CatalogPane& pane = p.pane;
        QSignalSpy site(&pane, &CatalogPane::siteLiveRequested);
        const auto named = [&pane] {
            QStringList out;
            for (QPushButton* b : pane.siteButtons())
                out << QString("%1:%2:%3").arg(b->accessibleName()).arg(b->isEnabled()).arg(b->isVisible());
            out.sort();
            return out.join(" | ");
        };
        QTRY_COMPARE(named(),
                     "Play all cameras at Bare:0:1 | Play all cameras at North Gate:1:1 | "
                     "Play all cameras at Yard:1:1");
        for (QPushButton* b : pane.siteButtons())
            QVERIFY(b->focusPolicy() & Qt::TabFocus && b->text() == "Play all");
        pane.tree()->setFocus();
        QTest::keyClick(pane.tree(), Qt::Key_Tab);
        auto* first = qobject_cast<QPushButton*>(pane.window()->focusWidget());
        QVERIFY(first && first->accessibleName() == "Play all cameras at North Gate");
        QTest::keyClick(first, Qt::Key_Space);
        QTRY_COMPARE(site.count(), 1);
        QCOMPARE(site.at(0).at(0).toString(), "s1");

        // In selection mode they are the tick marks, and tick the site.
        pane.setSelecting(true);
        QTRY_COMPARE(named(),
                     "Select every camera at Bare:1:1 | Select every camera at North Gate:1:1 | "
                     "Select every camera at Yard:1:1");
        for (QPushButton* b : pane.siteButtons())
            if (b->accessibleName().endsWith("Yard"))
                QTest::mouseClick(b, Qt::LeftButton);
        QTRY_COMPARE(p.ticks(), "2 cameras selected | d3-c1 d3-c2 | 02");
        // Folding a site away takes its neighbours' buttons along.
        pane.tree()->collapse(p.row("North Gate"));
        const auto onSiteRows = [&pane] {
            const QList<QPushButton*> buttons = pane.siteButtons();
            return std::all_of(buttons.cbegin(), buttons.cend(), [&pane](QPushButton* b) {
                return CatalogModel::kindAt(pane.tree()->indexAt(b->geometry().center())) == CatalogModel::Kind::Site;
            });
        };
        QTRY_VERIFY(onSiteRows());
    }

    void selectionModeTicksWithTriStateMarks()
    {
        Pane p;
        CatalogPane& pane = p.pane;
        QTest::mouseClick(pane.selectionToggle(), Qt::LeftButton);
        QVERIFY(pane.selectionBar()->isVisible());
        p.click("Gate");
        QCOMPARE(p.ticks(), "1 camera selected | d1-c1 | 10");
        p.click("Fence");
        QCOMPARE(p.ticks(), "2 cameras selected | d1-c1 d3-c2 | 11"); // catalogue order

        // A search hides channels; ticking the device ticks the hidden ones too,
        // while its mark counts the shown ones only.
        QTest::keyClicks(pane.searchField(), QStringLiteral("lobby"));
        p.click("Recorder A");
        QCOMPARE(p.ticks(), "5 cameras selected | d1-c1 d1-c2 d1-c3 d1-c4 d3-c2 | 20");
        pane.searchField()->clear();

        // The site's tick mark: some, then all by its button, then none again.
        p.click("Yard", 12);
        QCOMPARE(p.ticks(), "6 cameras selected | d1-c1 d1-c2 d1-c3 d1-c4 d3-c1 d3-c2 | 22");
        p.click("Yard", 12);
        QCOMPARE(p.ticks(), "4 cameras selected | d1-c1 d1-c2 d1-c3 d1-c4 | 20");

        // Select all, Clear all.
        QTest::mouseClick(pane.selectAllButton(), Qt::LeftButton);
        QCOMPARE(pane.countLabel()->text() + " / " + pane.selectAllButton()->text(), "7 cameras selected / Clear all");
        QSignalSpy play(&pane, &CatalogPane::playSelectedRequested);
        QTest::mouseClick(pane.playSelectedButton(), Qt::LeftButton);
        QCOMPARE(play.at(0).at(0).toStringList().size(), 7);
        QTest::mouseClick(pane.selectAllButton(), Qt::LeftButton);
        QCOMPARE(p.ticks(), "No cameras selected |  | 00");
        QVERIFY(!pane.playSelectedButton()->isEnabled());

        // A new catalogue keeps the ticks of channels that still exist;
        // leaving selection mode clears them.
        p.click("Bay");
        p.click("Door");
        QList<Site> smaller = catalogue();
        smaller.removeAt(1);
        pane.setSites(smaller);
        QCOMPARE(pane.selectedChannels(), QStringList({"d2-c1"}));
        QTest::mouseClick(pane.selectionToggle(), Qt::LeftButton);
        QVERIFY(!pane.selectionBar()->isVisible() && pane.selectedChannels().isEmpty());
    }

    // An empty pane: nothing to select ("Select all", not "Clear all") and nothing to play.
    void emptyPaneWidthAndCollapse()
    {
        CatalogPane pane;
        QVERIFY(pane.selectAllButton()->text() == "Select all" && !pane.playSelectedButton()->isEnabled());
        QSignalSpy toggled(&pane, &CatalogPane::collapseToggled);
        QList<int> widths;
        for (int w : {100, 900}) {
            pane.setPaneWidth(w);
            widths << pane.width();
        }
        pane.setCollapsed(true, false);
        pane.setPaneWidth(300); // remembered for when it opens
        widths << pane.width();
        QCOMPARE(widths, QList<int>({220, 520, 56}));
        QVERIFY(!pane.tree()->isVisibleTo(&pane));
        pane.setCollapsed(false, true);
        QTRY_COMPARE(pane.width(), 300);
        QCOMPARE(toggled.count(), 2);
    }

    // Completions coalesce into one later update. Sites completing above the
    // rows on screen: the tree is not rebuilt, the current row and the row at
    // the top of the viewport stay; the whole tree opens, branches the user
    // folded too.
    void completedSitesKeepTheViewAsItIs()
    {
        const QList<Site> full = sampleCatalogue(30, 2, 3);
        Pane p(stillLoading(full), 500);
        QVERIFY(QTest::qWaitForWindowExposed(&p.pane));
        p.pane.updateSite(30, full.at(0)); // out of range: nothing
        QVERIFY(!p.pane.rebuildPending());
        for (int s = 10; s < 30; ++s)
            p.pane.updateSite(s, full.at(s));
        QVERIFY(p.row("Site 10  ·  loading…").isValid()); // not yet
        QTRY_VERIFY(!p.pane.rebuildPending());
        QVERIFY(p.row("Site 10").isValid() && p.row("Site 9  ·  loading…").isValid());

        CatalogModel* model = p.pane.model();
        QTreeView* tree = p.pane.tree();
        const QPersistentModelIndex camera = model->indexOf(20, 1, 2);
        tree->selectionModel()->setCurrentIndex(camera, QItemSelectionModel::ClearAndSelect);
        tree->collapse(model->indexOf(25));
        tree->collapse(model->indexOf(26, 0));
        tree->scrollTo(model->indexOf(20), QAbstractItemView::PositionAtTop);
        const int topY = tree->visualRect(model->indexOf(20)).top();

        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        for (int s = 0; s < 10; ++s)
            p.pane.updateSite(s, full.at(s));
        QTRY_VERIFY(!p.pane.rebuildPending());
        QCOMPARE(reset.count(), 0);
        QVERIFY(tree->currentIndex().data(CatalogModel::IdRole) == "d20-1-c2"
                && tree->selectionModel()->isSelected(camera));
        // Expanded: a new row, a folded site, a folded device, its open sibling.
        QCOMPARE(QList<bool>({tree->isExpanded(model->indexOf(3, 1)), tree->isExpanded(model->indexOf(25)),
                              tree->isExpanded(model->indexOf(26, 0)), tree->isExpanded(model->indexOf(26, 1))}),
                 QList<bool>({true, true, true, true}));
        QCOMPARE(tree->visualRect(model->indexOf(20)).top(), topY);
    }

    // Every search edit and every switch of selection mode shows the tree
    // all open; a search that changes the rows finds the current row again.
    void searchFindsTheCurrentRowAgain()
    {
        Pane p(sampleCatalogue(4, 2, 3));
        CatalogModel* model = p.pane.model();
        QTreeView* tree = p.pane.tree();
        p.click(model->indexOf(2, 1, 1));
        tree->collapse(model->indexOf(1));
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QTest::keyClicks(p.pane.searchField(), QStringLiteral("R")); // every device: the same rows
        QCOMPARE(reset.count(), 0);
        QVERIFY(tree->isExpanded(model->indexOf(1)));
        for (bool selecting : {true, false}) {
            tree->collapse(model->indexOf(1));
            tree->collapse(model->indexOf(2, 0));
            p.pane.setSelecting(selecting);
            QVERIFY(tree->isExpanded(model->indexOf(1)) && tree->isExpanded(model->indexOf(2, 0)));
        }
        tree->collapse(model->indexOf(1));
        QTest::keyClicks(p.pane.searchField(), QStringLiteral("ecorder 2-1"));
        QCOMPARE(model->rowCount(), 1);
        QVERIFY(tree->currentIndex().data(CatalogModel::IdRole) == "d2-1-c1"
                && tree->selectionModel()->isSelected(tree->currentIndex()));
        p.pane.searchField()->clear();
        QVERIFY(tree->isExpanded(model->indexOf(1)));
        QCOMPARE(tree->currentIndex().data(CatalogModel::IdRole).toString(), "d2-1-c1");
    }
};

KVR_TEST_MAIN(TestCatalogPane)

#include "tst_catalog_pane.moc"
