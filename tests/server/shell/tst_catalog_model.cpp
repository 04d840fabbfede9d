// The catalogue tree's model as the catalogue loads and the search changes:
// a completed site changes its own rows only, the result always equals the
// tree built from scratch, and the model keeps Qt's model contract throughout.
#include "server/shell/CatalogModel.h"
#include "tests/server/shell/CatalogSamples.h"
#include "tests/support/TestKit.h"

#include <QAbstractItemModelTester>
#include <QColor>
#include <QRandomGenerator>
#include <QSignalSpy>

#include <functional>

using namespace kvr::api;
using namespace kvr::shell;

using namespace shelltest;

namespace {

using Kind = CatalogModel::Kind;

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
    // under a search or none: every step keeps the model contract, never
    // resets, and shows what a model built from scratch for the same
    // catalogue shows.
    void loadingInAnyOrderMatchesAFreshBuild()
    {
        const QList<Site> full = sampleCatalogue(24);
        QList<int> order;
        for (int s = 0; s < full.size(); ++s)
            order << s;
        QRandomGenerator random(4711); // a fixed order that is not the catalogue's
        std::shuffle(order.begin(), order.end(), random);
        order << 7 << 0; // completed again
        for (const QString query : {"", "site 1", "DOOR", " lobby ", "zzz"}) {
            QList<Site> now = stillLoading(full);
            const QSet<QString> none;
            CatalogModel model(none);
            QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.setQuery(query);
            model.setSites(now);
            QCOMPARE(shape(model), freshShape(now, query));
            QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
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
            }
            QCOMPARE(reset.count(), 0);
            // And searches over the loaded catalogue.
            for (const QString q : {"lobby", "lo", "", "site 2", "zzz", "recorder 1-"}) {
                model.setQuery(q);
                QCOMPARE(shape(model), freshShape(now, q));
            }
        }
    }

    // A site completed once more keeps its row; the rows of other sites and
    // their children keep their indexes; what changed inside it reads anew.
    void sameRowsChangeInPlace()
    {
        const QList<Site> full = sampleCatalogue(5);
        const QSet<QString> none;
        CatalogModel model(none);
        model.setSites(full);
        const QPersistentModelIndex other = model.indexOf(3, 1, 2);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        Site again = full.at(1);
        again.devices[0].online = false;
        again.devices[0].channels[1].name = QStringLiteral("Camera one");
        QCOMPARE(model.replaceSite(1, again), CatalogModel::Change::Data);
        QVERIFY(inserted.isEmpty() && changed.count() >= 2);
        QCOMPARE(model.indexOf(1, 0, 1).data().toString(), "Camera one");
        QCOMPARE(model.indexOf(1, 0).data(Qt::ForegroundRole).value<QColor>(), QColor(0x6b, 0x76, 0x88)); // offline
        QCOMPARE(other.data(CatalogModel::IdRole).toString(), "d3-1-c2");
        QCOMPARE(model.replaceSite(-1, again), CatalogModel::Change::None); // out of range
    }

    // Names only, trimmed, case-insensitive beyond ASCII; a site name shows
    // all of the site, a device name all of the device, a channel name that
    // channel alone; a loading site shows its loading row while it matches,
    // and so does a site whose devices could not be loaded (it is not a site
    // without devices); a site without devices never shows.
    void searchShapesTheTree_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("tree");
        QTest::newRow("nothing") << "" << QStringList{"École Nord",
                                                      "  Caméra",
                                                      "    Entrée",
                                                      "    Cour",
                                                      "  Bare box",
                                                      "ΣΤΑΘΜΟΣ",
                                                      "  Box",
                                                      "    Πύλη",
                                                      "Depot  ·  loading…",
                                                      "Annex  ·  devices could not be loaded"};
        QTest::newRow("a site, blanks and case")
            << "  éCOLE " << QStringList{"École Nord", "  Caméra", "    Entrée", "    Cour", "  Bare box"};
        QTest::newRow("a device") << "CAMÉRA" << QStringList{"École Nord", "  Caméra", "    Entrée", "    Cour"};
        QTest::newRow("a channel") << "entrée" << QStringList{"École Nord", "  Caméra", "    Entrée"};
        QTest::newRow("devices, one without channels")
            << "box" << QStringList{"École Nord", "  Bare box", "ΣΤΑΘΜΟΣ", "  Box", "    Πύλη"};
        QTest::newRow("Greek") << "σ" << QStringList{"ΣΤΑΘΜΟΣ", "  Box", "    Πύλη"};
        QTest::newRow("a loading site") << "dep" << QStringList{"Depot  ·  loading…"};
        QTest::newRow("a site whose devices failed") << "annex" << QStringList{"Annex  ·  devices could not be loaded"};
        QTest::newRow("ids are not names") << "s1" << QStringList{"<No matches.>"};
    }
    void searchShapesTheTree()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, tree);
        auto dev = [](const QString& id, const QString& name, const QStringList& channels) {
            Device d;
            d.id = id;
            d.name = name;
            for (const QString& c : channels)
                d.channels.append({id + c, id, c, 1, true, true, false});
            return d;
        };
        const QList<Site> sites{
            {"s1", "École Nord", false, {dev("d1", "Caméra", {"Entrée", "Cour"}), dev("d2", "Bare box", {})}},
            {"s2", "ΣΤΑΘΜΟΣ", false, {dev("d3", "Box", {"Πύλη"})}},
            {"s3", "Depot", true, {}},
            {"s4", "Empty", false, {}},
            {"s5", "Annex", false, {}, DeviceList::Failed}};
        QCOMPARE(freshShape(sites, query), tree);
        QCOMPARE(freshShape({}, query), QStringList{"<No devices are assigned to this account.>"});
    }

    // Names compare in one normal form: "é" typed as one character finds
    // names stored with the e and its accent apart, and the other way round.
    void searchComparesOneNormalForm()
    {
        Device d;
        d.id = "d1";
        d.name = "Cafe\u0301 Bar";
        d.channels.append({"d1c1", "d1", "Entr\u00e9e", 1, true, true, false});
        d.channels.append({"d1c2", "d1", "Cour", 2, true, true, false});
        const QList<Site> sites{{"s1", "Nord", false, {d}}};
        QCOMPARE(freshShape(sites, "CAF\u00c9"),
                 (QStringList{"Nord", "  Cafe\u0301 Bar", "    Entr\u00e9e", "    Cour"}));
        QCOMPARE(freshShape(sites, "entre\u0301e"), (QStringList{"Nord", "  Cafe\u0301 Bar", "    Entr\u00e9e"}));
    }
};

KVR_TEST_MAIN(TestCatalogModel)

#include "tst_catalog_model.moc"
