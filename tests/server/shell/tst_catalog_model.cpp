// The catalogue tree's model as the catalogue loads and the search changes:
// a completed site changes its own rows only, the result always equals the
// tree built from scratch, and the model keeps Qt's model contract throughout.
#include "app/ui/Theme.h"
#include "server/shell/CatalogModel.h"
#include "tests/support/TestKit.h"

#include <QAbstractItemModelTester>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <functional>

namespace {

using Kind = CatalogModel::Kind;

// Sites "Site <s>" with devices "Recorder <s>-<d>" and channels "Camera <c>";
// every fifth site's devices are called "Door <s>-<d>", and channel 3 of
// every device "Lobby".
Site site(int s, int devices, int channels)
{
    Site out{QStringLiteral("s%1").arg(s), QStringLiteral("Site %1").arg(s), false, {}};
    for (int d = 0; d < devices; ++d) {
        Device dev;
        dev.id = QStringLiteral("d%1-%2").arg(s).arg(d);
        dev.siteId = out.id;
        dev.online = true;
        dev.onlineKnown = true;
        dev.name = QStringLiteral("%1 %2-%3").arg(s % 5 == 0 ? "Door" : "Recorder").arg(s).arg(d);
        for (int c = 0; c < channels; ++c)
            dev.channels.append({dev.id + QStringLiteral("-c%1").arg(c), dev.id,
                                 c == 3 ? QStringLiteral("Lobby") : QStringLiteral("Camera %1").arg(c), c + 1, true,
                                 true, false});
        out.devices.append(dev);
    }
    return out;
}

QList<Site> catalogue(int sites, int devices = 3, int channels = 4)
{
    QList<Site> out;
    for (int s = 0; s < sites; ++s)
        out.append(site(s, devices, channels));
    return out;
}

QList<Site> pending(QList<Site> sites)
{
    for (Site& s : sites) {
        s.loading = true;
        s.devices.clear();
    }
    return sites;
}

// The shown tree as lines, "site", "  device", "    channel"; notices as <...>.
QStringList shape(const QAbstractItemModel& model)
{
    QStringList out;
    std::function<void(const QModelIndex&, int)> walk = [&](const QModelIndex& parent, int depth) {
        for (int r = 0; r < model.rowCount(parent); ++r) {
            const QModelIndex i = model.index(r, 0, parent);
            QString text = i.data().toString();
            if (text.isEmpty() || !(model.flags(i) & Qt::ItemIsEnabled))
                text = QStringLiteral("<%1>").arg(text);
            out << QString(depth * 2, QLatin1Char(' ')) + text;
            walk(i, depth + 1);
        }
    };
    walk({}, 0);
    return out;
}

QStringList freshShape(const QList<Site>& sites, const QString& query)
{
    const QSet<QString> none;
    CatalogModel model(none);
    model.setQuery(query);
    model.setSites(sites);
    return shape(model);
}

} // namespace

class TestCatalogModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Sites completing in any order, some with nothing to show, some twice,
    // under a search or none: every step keeps the model contract and
    // shows what a model built from scratch for the same catalogue shows.
    void loadingInAnyOrderMatchesAFreshBuild_data()
    {
        QTest::addColumn<QString>("query");
        QTest::newRow("no search") << QString();
        QTest::newRow("a site name") << "site 1";
        QTest::newRow("a device name") << "DOOR";
        QTest::newRow("a channel name") << " lobby ";
        QTest::newRow("nothing") << "zzz";
    }
    void loadingInAnyOrderMatchesAFreshBuild()
    {
        QFETCH(QString, query);
        const QList<Site> full = catalogue(24);
        QList<Site> now = pending(full);
        const QSet<QString> none;
        CatalogModel model(none);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setQuery(query);
        model.setSites(now);
        QCOMPARE(shape(model), freshShape(now, query));

        QList<int> order;
        for (int s = 0; s < full.size(); ++s)
            order << s;
        QRandomGenerator random(4711); // a fixed order that is not the catalogue's
        std::shuffle(order.begin(), order.end(), random);
        order << 7 << 0; // completed again
        for (int s : std::as_const(order)) {
            Site next = full.at(s);
            if (s == 7 && now.at(7).loading == false) {
                // Second time round: a device fewer and one renamed.
                next.devices.removeFirst();
                next.devices[0].name = QStringLiteral("Door renamed");
            } else if (s == 4) {
                next.devices.clear(); // nothing to show, ever
            }
            now[s] = next;
            model.replaceSite(s, next);
            QCOMPARE(shape(model), freshShape(now, query));
            if (QTest::currentTestFailed())
                return;
        }
        // And searches over the loaded catalogue.
        for (const char* q : {"lobby", "lo", "", "site 2", "zzz", "recorder 1-"}) {
            model.setQuery(QString::fromUtf8(q));
            QCOMPARE(shape(model), freshShape(now, QString::fromUtf8(q)));
        }
    }

    // What a completion does to the rows, by the search in force.
    void completionChangesItsOwnRowsOnly_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("completes");         // a pending site of catalogue(6)
        QTest::addColumn<bool>("withDevices");      // it completes with its devices, or with none
        QTest::addColumn<int>("topBefore");         // top-level rows before
        QTest::addColumn<QString>("insertedUnder"); // "site": under the site's row, "top": a top-level row
        QTest::addColumn<int>("removedTop");        // top-level rows removed
        QTest::addColumn<QStringList>("topAfter");
        // Every site matches "site": each shows a loading row that turns into the site.
        QTest::newRow("loading row becomes the site")
            << "site" << 2 << true << 6 << "site" << 0
            << QStringList{"Site 0  ·  loading…", "Site 1  ·  loading…", "Site 2",
                           "Site 3  ·  loading…", "Site 4  ·  loading…", "Site 5  ·  loading…"};
        QTest::newRow("loading row leaves: nothing to show")
            << "site" << 2 << false << 6 << "" << 1
            << QStringList{"Site 0  ·  loading…", "Site 1  ·  loading…", "Site 3  ·  loading…", "Site 4  ·  loading…",
                           "Site 5  ·  loading…"};
        // Only site 5's devices match "door": it comes in place of the notice.
        QTest::newRow("a hidden site appears") << "door" << 5 << true << 1 << "top" << 1 << QStringList{"Site 5"};
        QTest::newRow("a hidden site stays hidden")
            << "door" << 3 << true << 1 << "" << 0 << QStringList{"No matches."};
    }
    void completionChangesItsOwnRowsOnly()
    {
        QFETCH(QString, query);
        QFETCH(int, completes);
        QFETCH(bool, withDevices);
        QFETCH(int, topBefore);
        QFETCH(QString, insertedUnder);
        QFETCH(int, removedTop);
        QFETCH(QStringList, topAfter);

        const QList<Site> full = catalogue(6);
        const QSet<QString> none;
        CatalogModel model(none);
        model.setQuery(query);
        model.setSites(pending(full));
        QCOMPARE(model.rowCount(), topBefore);
        const QPersistentModelIndex first = model.index(0, 0);

        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        Site done = full.at(completes);
        if (!withDevices)
            done.devices.clear();
        model.replaceSite(completes, done);

        QCOMPARE(reset.count(), 0);
        int removedAtTop = 0;
        for (const QList<QVariant>& r : std::as_const(removed))
            if (!r.at(0).toModelIndex().isValid())
                removedAtTop += r.at(2).toInt() - r.at(1).toInt() + 1;
        QCOMPARE(removedAtTop, removedTop);
        QStringList under;
        for (const QList<QVariant>& r : std::as_const(inserted))
            under << (r.at(0).toModelIndex().isValid() ? QStringLiteral("site") : QStringLiteral("top"));
        QCOMPARE(under.join(QLatin1Char(',')), insertedUnder);
        if (insertedUnder == QLatin1String("site")) {
            const QModelIndex parent = inserted.at(0).at(0).toModelIndex();
            QCOMPARE(parent.data(CatalogModel::IdRole).toString(), full.at(completes).id);
            QCOMPARE(inserted.at(0).at(2).toInt(), int(full.at(completes).devices.size()) - 1);
        }
        QStringList top;
        for (int r = 0; r < model.rowCount(); ++r)
            top << model.index(r, 0).data().toString();
        QCOMPARE(top, topAfter);
        // Rows of the other sites are the same rows as before.
        if (completes != 0 && topBefore == 6) {
            QVERIFY(first.isValid());
            QCOMPARE(first.data().toString(), QStringLiteral("Site 0  ·  loading…"));
        }
    }

    // A site completed once more keeps its row; the rows of other sites and
    // their children keep their indexes; what changed inside it reads anew.
    void sameRowsChangeInPlace()
    {
        const QList<Site> full = catalogue(5);
        const QSet<QString> none;
        CatalogModel model(none);
        model.setSites(full);
        const QPersistentModelIndex other = model.indexOf(3, 1, 2);
        QCOMPARE(other.data().toString(), QStringLiteral("Camera 2"));
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        Site again = full.at(1);
        again.devices[0].online = false;
        again.devices[0].channels[1].name = QStringLiteral("Camera one");
        QCOMPARE(model.replaceSite(1, again), CatalogModel::Change::Data);
        QCOMPARE(inserted.count(), 0);
        QVERIFY(changed.count() >= 2);
        QCOMPARE(model.indexOf(1, 0, 1).data().toString(), QStringLiteral("Camera one"));
        QCOMPARE(model.indexOf(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(0x6b, 0x76, 0x88)); // offline
        QVERIFY(!model.indexOf(1, 1).data(Qt::ForegroundRole).isValid());
        QVERIFY(other.isValid());
        QCOMPARE(other.data(CatalogModel::IdRole).toString(), QStringLiteral("d3-1-c2"));
        QCOMPARE(model.replaceSite(9, again), CatalogModel::Change::None); // out of range
        QCOMPARE(model.replaceSite(-1, again), CatalogModel::Change::None);
    }

    // A keystroke that leaves the shown rows as they are resets nothing.
    void searchResetsOnlyWhenRowsChange_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("resets");
        QTest::newRow("same rows: every device matched, then every channel") << "r"
                                                                             << "cam" << false;
        QTest::newRow("blanks and case") << "camera 1"
                                         << "  CAMERA 1 " << false;
        QTest::newRow("fewer rows") << "site"
                                    << "site 1" << true;
        QTest::newRow("more rows") << "camera 1"
                                   << "" << true;
        QTest::newRow("nothing to nothing") << "zzz"
                                            << "zzzz" << false;
    }
    void searchResetsOnlyWhenRowsChange()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, resets);
        const QList<Site> sites = catalogue(12, 2, 3); // every channel a "Camera"
        const QSet<QString> none;
        CatalogModel model(none);
        model.setSites(sites);
        model.setQuery(from);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
        QCOMPARE(model.setQuery(to), resets);
        QCOMPARE(reset.count(), resets ? 1 : 0);
        QCOMPARE(shape(model), freshShape(sites, to));
    }

    // Case-insensitive beyond ASCII; names only.
    void searchFoldsCase_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("tree");
        QTest::newRow("accented capitals") << "ÉCOLE" << QStringList{"École Nord", "  Caméra", "    Entrée"};
        QTest::newRow("accented channel") << "ENTRÉE" << QStringList{"École Nord", "  Caméra", "    Entrée"};
        QTest::newRow("Greek") << "σ" << QStringList{"ΣΤΑΘΜΟΣ", "  Box", "    Πύλη"};
        QTest::newRow("ids are not names") << "s1" << QStringList{"<No matches.>"};
    }
    void searchFoldsCase()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, tree);
        Site school{QStringLiteral("s1"), QStringLiteral("École Nord"), false, {}};
        Device cam;
        cam.id = QStringLiteral("d1");
        cam.name = QStringLiteral("Caméra");
        cam.channels.append({QStringLiteral("c1"), cam.id, QStringLiteral("Entrée"), 1, true, true, false});
        school.devices.append(cam);
        Site station{QStringLiteral("s2"), QStringLiteral("ΣΤΑΘΜΟΣ"), false, {}};
        Device box;
        box.id = QStringLiteral("d2");
        box.name = QStringLiteral("Box");
        box.channels.append({QStringLiteral("c2"), box.id, QStringLiteral("Πύλη"), 1, true, true, false});
        station.devices.append(box);
        QCOMPARE(freshShape({school, station}, query), tree);
    }

    // Rows found again by what they show, as the pane does after a search.
    void indexOfAndRefOfAgree()
    {
        const QList<Site> sites = catalogue(40, 3, 5);
        const QSet<QString> ticked{QStringLiteral("d7-1-c0"), QStringLiteral("d7-1-c3")};
        CatalogModel model(ticked);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setSites(sites);
        model.setQuery(QStringLiteral("lobby"));
        const QModelIndex lobby = model.indexOf(7, 1, 3);
        QCOMPARE(lobby.row(), 0); // the only channel shown under its device
        const CatalogModel::Ref ref = model.refOf(lobby);
        QCOMPARE(int(ref.kind), int(Kind::Channel));
        QCOMPARE(ref.site, 7);
        QCOMPARE(ref.device, 1);
        QCOMPARE(ref.channel, 3);
        QCOMPARE(lobby.data(CatalogModel::IdRole).toString(), QStringLiteral("d7-1-c3"));
        QCOMPARE(lobby.parent(), model.indexOf(7, 1));
        QCOMPARE(lobby.parent().parent(), model.indexOf(7));
        QVERIFY(!model.indexOf(7, 1, 0).isValid()); // hidden by the search
        QVERIFY(!model.indexOf(99).isValid());
        // The device's mark counts the shown channel only: all ticked.
        QCOMPARE(model.indexOf(7, 1).data(CatalogModel::CheckRole).toInt(), 2);
        model.setQuery(QString());
        QCOMPARE(model.indexOf(7, 1).data(CatalogModel::CheckRole).toInt(), 1);
        QCOMPARE(model.indexOf(7).data(CatalogModel::CheckRole).toInt(), 1);
        QCOMPARE(model.shownRowCount(), 40 + 40 * 3 + 40 * 3 * 5);
    }
};

KVR_TEST_MAIN(TestCatalogModel)
#include "tst_catalog_model.moc"
