// The catalogue tree as a person uses it: clicks, search, selection mode with
// tri-state marks, site buttons, collapse and progressive updates.
#include "server/shell/CatalogModel.h"
#include "server/shell/CatalogPane.h"
#include "tests/support/TestKit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeView>

namespace {

QList<Site> catalogue()
{
    auto device = [](const QString& id, const QString& site, const QString& name, const QStringList& channels) {
        Device d{id, site, name, {}, QStringLiteral("imou"), true, true, {}, {}};
        for (int i = 0; i < channels.size(); ++i)
            d.channels.append({id + QStringLiteral("-c%1").arg(i + 1), id, channels.at(i), i + 1, true, true, false});
        return d;
    };
    Site north{QStringLiteral("s1"), QStringLiteral("North Gate"), false, {}};
    north.devices << device(QStringLiteral("d1"), QStringLiteral("s1"), QStringLiteral("Recorder A"),
                            {"Gate", "Lobby", "Stairs", "Roof"})
                  << device(QStringLiteral("d2"), QStringLiteral("s1"), QStringLiteral("Door cam"), {"Door"});
    Site yard{QStringLiteral("s2"), QStringLiteral("Yard"), false, {}};
    yard.devices << device(QStringLiteral("d3"), QStringLiteral("s2"), QStringLiteral("Recorder B"), {"Bay", "Fence"});
    Site bare{QStringLiteral("s3"), QStringLiteral("Bare"), false, {}};
    bare.devices << device(QStringLiteral("d4"), QStringLiteral("s3"), QStringLiteral("Box"), {});
    return {north, yard, bare};
}

// Sites "Site <s>" of two devices "Recorder <s>-<d>" with three channels "Camera <c>".
QList<Site> manySites(int count)
{
    QList<Site> sites;
    for (int s = 0; s < count; ++s) {
        Site site{QStringLiteral("s%1").arg(s), QStringLiteral("Site %1").arg(s), false, {}};
        for (int d = 0; d < 2; ++d) {
            const QString id = QStringLiteral("d%1-%2").arg(s).arg(d);
            Device device{
                id, site.id, QStringLiteral("Recorder %1-%2").arg(s).arg(d), {}, QStringLiteral("imou"), true, true,
                {}, {}};
            for (int c = 0; c < 3; ++c)
                device.channels.append({id + QStringLiteral("-c%1").arg(c), id, QStringLiteral("Camera %1").arg(c),
                                        c + 1, true, true, false});
            site.devices.append(device);
        }
        sites.append(site);
    }
    return sites;
}

QList<Site> stillLoading(QList<Site> sites)
{
    for (Site& s : sites) {
        s.loading = true;
        s.devices.clear();
    }
    return sites;
}

// The index of the row reading `text` anywhere in the tree.
QModelIndex rowOf(QAbstractItemModel* m, const QString& text, const QModelIndex& parent = {})
{
    for (int r = 0; r < m->rowCount(parent); ++r) {
        const QModelIndex i = m->index(r, 0, parent);
        if (i.data().toString() == text)
            return i;
        const QModelIndex inner = rowOf(m, text, i);
        if (inner.isValid())
            return inner;
    }
    return {};
}

void click(CatalogPane& pane, const QModelIndex& index, QPoint at = {})
{
    QTreeView* tree = pane.tree();
    tree->scrollTo(index);
    const QRect r = tree->visualRect(index);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at.isNull() ? r.center() : at);
}

} // namespace

class TestCatalogPane : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyCatalogueAndNoMatches()
    {
        CatalogPane pane;
        pane.setSites({});
        QCOMPARE(pane.model()->rowCount(), 1);
        const QModelIndex only = pane.model()->index(0, 0);
        QCOMPARE(only.data().toString(), QStringLiteral("No devices are assigned to this account."));
        QCOMPARE(pane.model()->flags(only), Qt::NoItemFlags);
        QCOMPARE(pane.selectAllButton()->text(), QStringLiteral("Select all"));
        QVERIFY(!pane.playSelectedButton()->isEnabled());
        pane.setSites(catalogue());
        QTest::keyClicks(pane.searchField(), QStringLiteral("nothing here"));
        QCOMPARE(pane.model()->rowCount(), 1);
        QCOMPARE(pane.model()->index(0, 0).data().toString(), QStringLiteral("No matches."));
    }

    void clicksOpenDevicesAndChannelsKeysDoNot()
    {
        CatalogPane pane;
        pane.resize(320, 700);
        pane.show();
        pane.setSites(catalogue());
        QSignalSpy device(&pane, &CatalogPane::deviceSelected);
        QSignalSpy channel(&pane, &CatalogPane::channelSelected);
        click(pane, rowOf(pane.model(), QStringLiteral("Lobby")));
        QCOMPARE(channel.count(), 1);
        QCOMPARE(channel.at(0), QVariantList({QStringLiteral("d1"), QStringLiteral("d1-c2")}));
        click(pane, rowOf(pane.model(), QStringLiteral("Door cam")));
        QCOMPARE(device.at(0).at(0).toString(), QStringLiteral("d2"));
        // The keyboard moves the current row and acts on nothing.
        pane.tree()->setFocus();
        QTest::keyClick(pane.tree(), Qt::Key_Down);
        QTest::keyClick(pane.tree(), Qt::Key_Return);
        QCOMPARE(channel.count() + device.count(), 2);
        // A site row's empty area does nothing; its "Play all" asks for the site's wall.
        QSignalSpy site(&pane, &CatalogPane::siteLiveRequested);
        const QModelIndex yard = rowOf(pane.model(), QStringLiteral("Yard"));
        click(pane, yard, pane.tree()->visualRect(yard).topLeft() + QPoint(20, 18));
        QCOMPARE(site.count() + channel.count() + device.count(), 2);
        const QRect row = pane.tree()->visualRect(yard);
        click(pane, yard, QPoint(row.right() - 20, row.center().y()));
        QCOMPARE(site.count(), 1);
        QCOMPARE(site.at(0).at(0).toString(), QStringLiteral("s2"));
        // A site without channels offers nothing to play.
        const QModelIndex bare = rowOf(pane.model(), QStringLiteral("Bare"));
        QVERIFY(!bare.data(CatalogModel::HasChannelsRole).toBool());
        const QRect bareRow = pane.tree()->visualRect(bare);
        click(pane, bare, QPoint(bareRow.right() - 20, bareRow.center().y()));
        QCOMPARE(site.count(), 1);
    }

    void selectionModeTicksWithTriStateMarks()
    {
        CatalogPane pane;
        pane.resize(320, 700);
        pane.show();
        pane.setSites(catalogue());
        QTest::mouseClick(pane.selectionToggle(), Qt::LeftButton);
        QVERIFY(pane.selecting());
        QVERIFY(pane.selectionBar()->isVisible());
        QCOMPARE(pane.countLabel()->text(), QStringLiteral("No cameras selected"));

        click(pane, rowOf(pane.model(), QStringLiteral("Gate")));
        QCOMPARE(pane.countLabel()->text(), QStringLiteral("1 camera selected"));
        QCOMPARE(rowOf(pane.model(), QStringLiteral("Recorder A")).data(CatalogModel::CheckRole).toInt(), 1);
        click(pane, rowOf(pane.model(), QStringLiteral("Fence")));
        QCOMPARE(pane.countLabel()->text(), QStringLiteral("2 cameras selected"));
        QCOMPARE(pane.selectedChannels(), QStringList({"d1-c1", "d3-c2"})); // catalogue order

        // A search hides channels; ticking the device ticks the hidden ones too,
        // while its mark counts the shown ones only.
        QTest::keyClicks(pane.searchField(), QStringLiteral("lobby"));
        click(pane, rowOf(pane.model(), QStringLiteral("Recorder A")));
        QCOMPARE(pane.selectedChannels(), QStringList({"d1-c1", "d1-c2", "d1-c3", "d1-c4", "d3-c2"}));
        QCOMPARE(rowOf(pane.model(), QStringLiteral("Recorder A")).data(CatalogModel::CheckRole).toInt(), 2);
        pane.searchField()->clear();

        // The site's tick mark: some, then all by its button, then none again.
        const QModelIndex yard = rowOf(pane.model(), QStringLiteral("Yard"));
        QCOMPARE(yard.data(CatalogModel::CheckRole).toInt(), 1);
        const QRect row = pane.tree()->visualRect(yard);
        click(pane, yard, QPoint(row.left() + 12, row.center().y()));
        QCOMPARE(rowOf(pane.model(), QStringLiteral("Yard")).data(CatalogModel::CheckRole).toInt(), 2);
        click(pane, rowOf(pane.model(), QStringLiteral("Yard")), QPoint(row.left() + 12, row.center().y()));
        QCOMPARE(rowOf(pane.model(), QStringLiteral("Yard")).data(CatalogModel::CheckRole).toInt(), 0);

        // Select all, Clear all.
        QTest::mouseClick(pane.selectAllButton(), Qt::LeftButton);
        QCOMPARE(pane.countLabel()->text(), QStringLiteral("7 cameras selected"));
        QCOMPARE(pane.selectAllButton()->text(), QStringLiteral("Clear all"));
        QSignalSpy play(&pane, &CatalogPane::playSelectedRequested);
        QTest::mouseClick(pane.playSelectedButton(), Qt::LeftButton);
        QCOMPARE(play.at(0).at(0).toStringList().size(), 7);
        QTest::mouseClick(pane.selectAllButton(), Qt::LeftButton);
        QCOMPARE(pane.countLabel()->text(), QStringLiteral("No cameras selected"));
        QVERIFY(!pane.playSelectedButton()->isEnabled());

        // A new catalogue keeps the ticks of channels that still exist;
        // leaving selection mode clears them.
        click(pane, rowOf(pane.model(), QStringLiteral("Bay")));
        click(pane, rowOf(pane.model(), QStringLiteral("Door")));
        QList<Site> smaller = catalogue();
        smaller.removeAt(1);
        pane.setSites(smaller);
        QCOMPARE(pane.selectedChannels(), QStringList({"d2-c1"}));
        QTest::mouseClick(pane.selectionToggle(), Qt::LeftButton);
        QVERIFY(!pane.selectionBar()->isVisible());
        QVERIFY(pane.selectedChannels().isEmpty());
    }

    void widthAndCollapse()
    {
        CatalogPane pane;
        QSignalSpy toggled(&pane, &CatalogPane::collapseToggled);
        pane.setPaneWidth(100);
        QCOMPARE(pane.width(), 220);
        pane.setPaneWidth(900);
        QCOMPARE(pane.width(), 520);
        pane.setCollapsed(true, false);
        QCOMPARE(pane.width(), 56);
        QCOMPARE(pane.collapseButton()->toolTip(), QStringLiteral("Expand catalog"));
        pane.setPaneWidth(300);
        QCOMPARE(pane.width(), 56);
        QVERIFY(!pane.tree()->isVisibleTo(&pane));
        pane.setCollapsed(false, true);
        QTRY_COMPARE(pane.width(), 300);
        QVERIFY(pane.tree()->isVisibleTo(&pane));
        QCOMPARE(toggled.count(), 2);
        QCOMPARE(toggled.at(0).at(0).toBool(), true);
    }

    void progressiveUpdatesCoalesce()
    {
        CatalogPane pane;
        QList<Site> sites = catalogue();
        QList<Site> loading = sites;
        for (Site& s : loading) {
            s.loading = true;
            s.devices.clear();
        }
        pane.setSites(loading);
        QCOMPARE(rowOf(pane.model(), QStringLiteral("North Gate  ·  loading…")).isValid(), true);
        pane.updateSite(7, sites.at(0)); // out of range: nothing
        QVERIFY(!pane.rebuildPending());
        pane.updateSite(0, sites.at(0));
        pane.updateSite(1, sites.at(1));
        QVERIFY(pane.rebuildPending());
        QVERIFY(!rowOf(pane.model(), QStringLiteral("Gate")).isValid()); // not yet
        QTRY_VERIFY(rowOf(pane.model(), QStringLiteral("Gate")).isValid());
        QVERIFY(rowOf(pane.model(), QStringLiteral("Bare  ·  loading…")).isValid());
        pane.setLoadingText(QStringLiteral("Loading devices… 2 of 3 sites"));
        QVERIFY(pane.loadingLabel()->isVisibleTo(&pane));
        pane.setLoadingText(QString());
        QVERIFY(!pane.loadingLabel()->isVisibleTo(&pane));
    }

    // Sites completing above the rows on screen: the tree is not rebuilt,
    // the current row, the branches the user folded and the row at the top
    // of the viewport stay; the new rows open.
    void completedSitesKeepTheViewAsItIs()
    {
        CatalogPane pane;
        pane.resize(320, 500);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        const QList<Site> full = manySites(30);
        pane.setSites(stillLoading(full));
        for (int s = 10; s < 30; ++s)
            pane.updateSite(s, full.at(s));
        QTRY_VERIFY(!pane.rebuildPending());

        CatalogModel* model = pane.model();
        QTreeView* tree = pane.tree();
        const QPersistentModelIndex camera = model->indexOf(20, 1, 2);
        QCOMPARE(camera.data(CatalogModel::IdRole).toString(), QStringLiteral("d20-1-c2"));
        tree->selectionModel()->setCurrentIndex(camera, QItemSelectionModel::ClearAndSelect);
        tree->collapse(model->indexOf(25));
        tree->collapse(model->indexOf(26, 0));
        tree->scrollTo(model->indexOf(20), QAbstractItemView::PositionAtTop);
        const QModelIndex top = tree->indexAt(QPoint(0, 0));
        QCOMPARE(top, model->indexOf(20));
        const int topY = tree->visualRect(top).top();

        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        for (int s = 0; s < 10; ++s)
            pane.updateSite(s, full.at(s));
        QTRY_VERIFY(!pane.rebuildPending());
        QCOMPARE(reset.count(), 0);
        QVERIFY(rowOf(model, QStringLiteral("Recorder 3-1")).isValid());
        QVERIFY(tree->isExpanded(model->indexOf(3)));
        QVERIFY(tree->isExpanded(model->indexOf(3, 1)));
        QVERIFY(camera.isValid());
        QCOMPARE(tree->currentIndex(), QModelIndex(camera));
        QVERIFY(tree->selectionModel()->isSelected(camera));
        QVERIFY(!tree->isExpanded(model->indexOf(25)));
        QVERIFY(!tree->isExpanded(model->indexOf(26, 0)));
        QVERIFY(tree->isExpanded(model->indexOf(26, 1)));
        QCOMPARE(tree->indexAt(QPoint(0, 0)), model->indexOf(20));
        QCOMPARE(tree->visualRect(model->indexOf(20)).top(), topY);
    }

    // A search that changes the rows shows them all open and finds the
    // current row again; one that changes nothing leaves the tree alone.
    void searchFindsTheCurrentRowAgain()
    {
        CatalogPane pane;
        pane.resize(320, 700);
        pane.show();
        pane.setSites(manySites(4));
        CatalogModel* model = pane.model();
        QTreeView* tree = pane.tree();
        click(pane, model->indexOf(2, 1, 1));
        QCOMPARE(tree->currentIndex().data(CatalogModel::IdRole).toString(), QStringLiteral("d2-1-c1"));
        tree->collapse(model->indexOf(1));
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QTest::keyClicks(pane.searchField(), QStringLiteral("Re")); // every device: the same rows
        QCOMPARE(reset.count(), 0);
        QVERIFY(!tree->isExpanded(model->indexOf(1)));
        QTest::keyClicks(pane.searchField(), QStringLiteral("corder 2-1"));
        QVERIFY(reset.count() > 0);
        QCOMPARE(model->rowCount(), 1);
        QCOMPARE(tree->currentIndex().data(CatalogModel::IdRole).toString(), QStringLiteral("d2-1-c1"));
        QVERIFY(tree->selectionModel()->isSelected(tree->currentIndex()));
        pane.searchField()->clear();
        QVERIFY(tree->isExpanded(model->indexOf(1)));
        QCOMPARE(tree->currentIndex().data(CatalogModel::IdRole).toString(), QStringLiteral("d2-1-c1"));
    }
};

KVR_TEST_MAIN(TestCatalogPane)
#include "tst_catalog_pane.moc"
