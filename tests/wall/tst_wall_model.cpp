// The wall's model: the layout table, display identity and titles, and the
// saved form of a wall.

#include "tests/support/TestKit.h"

#include "app/core/Settings.h"
#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/Screens.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace VideoWall;

namespace {

// "x,y-r,b" per cell: first and last column and row.
QString spans(const Layout& l)
{
    QStringList out;
    for (const QRect& c : l.cells)
        out.append(QStringLiteral("%1,%2-%3,%4").arg(c.left()).arg(c.top()).arg(c.right()).arg(c.bottom()));
    return out.join(QLatin1Char(' '));
}

QString gridSpans(int rows, int columns)
{
    QStringList out;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            out.append(QStringLiteral("%1,%2-%1,%2").arg(x).arg(y));
    return out.join(QLatin1Char(' '));
}

ScreenConfig screen(const QString& key, const QString& layoutKey, QList<QString> cells, int quality = 0,
                    bool enabled = true)
{
    ScreenConfig s;
    s.key = key;
    s.label = key + QStringLiteral(" label");
    s.layout = layoutKey;
    s.cells = std::move(cells);
    s.quality = quality;
    s.enabled = enabled;
    return s;
}

} // namespace

class TestWallModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutTable_data();
    void layoutTable();
    void unknownLayoutIsTwoByTwo();
    void keysOfIdenticalDisplays_data();
    void keysOfIdenticalDisplays();
    void titles_data();
    void titles();
    void savedWallLoadsBackEqual();
    void damagedSavedWallsDegradeToDefaults_data();
    void damagedSavedWallsDegradeToDefaults();
    void keyOfASourceWithSlashes();
    void connectedDisplayGetsDefaultEntry();
};

void TestWallModel::layoutTable_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("columns");
    QTest::addColumn<QString>("cells");
    const QString x = QString(QChar(0x00D7));
    QTest::newRow("1x1") << "Single" << 1 << 1 << gridSpans(1, 1);
    QTest::newRow("2x2") << "2 " + x + " 2" << 2 << 2 << gridSpans(2, 2);
    QTest::newRow("2x3") << "2 " + x + " 3" << 2 << 3 << gridSpans(2, 3);
    QTest::newRow("1+5") << "1 + 5" << 3 << 3 << "0,0-1,1 2,0-2,0 2,1-2,1 0,2-0,2 1,2-1,2 2,2-2,2";
    QTest::newRow("3x3") << "3 " + x + " 3" << 3 << 3 << gridSpans(3, 3);
    QTest::newRow("1+7") << "1 + 7" << 4 << 4 << "0,0-2,2 3,0-3,0 3,1-3,1 3,2-3,2 0,3-0,3 1,3-1,3 2,3-2,3 3,3-3,3";
    QTest::newRow("3x4") << "3 " + x + " 4" << 3 << 4 << gridSpans(3, 4);
    QTest::newRow("4x4") << "4 " + x + " 4" << 4 << 4 << gridSpans(4, 4);
    QTest::newRow("5x5") << "5 " + x + " 5" << 5 << 5 << gridSpans(5, 5);
    QTest::newRow("6x6") << "6 " + x + " 6" << 6 << 6 << gridSpans(6, 6);
    QTest::newRow("8x8") << "8 " + x + " 8" << 8 << 8 << gridSpans(8, 8);
    QTest::newRow("10x12") << "12 " + x + " 10 (120)" << 10 << 12 << gridSpans(10, 12);
}

void TestWallModel::layoutTable()
{
    QFETCH(QString, title);
    QFETCH(int, rows);
    QFETCH(int, columns);
    QFETCH(QString, cells);
    const QString key = QString::fromLatin1(QTest::currentDataTag());
    const Layout& l = layout(key);
    QCOMPARE(l.key, key);
    QCOMPARE(l.title, title);
    QCOMPARE(l.rows, rows);
    QCOMPARE(l.columns, columns);
    QCOMPARE(spans(l), cells);
    // The table keeps its order: the row's place is the entry's place.
    static int row = 0;
    QCOMPARE(layouts().at(row++).key, key);
    QCOMPARE(layouts().size(), 12);
}

void TestWallModel::unknownLayoutIsTwoByTwo()
{
    QCOMPARE(layout(QStringLiteral("7x7")).key, QStringLiteral("2x2"));
    QCOMPARE(layout(QString()).key, QStringLiteral("2x2"));
    QVERIFY(gridLayout(QStringLiteral("g"), QString(), 0, 3).cells.isEmpty());
}

void TestWallModel::keysOfIdenticalDisplays_data()
{
    QTest::addColumn<QList<QRect>>("geometries");
    QTest::addColumn<QStringList>("bases");
    QTest::addColumn<QStringList>("keys");
    const QString b = identityBase(QStringLiteral("Acme"), QStringLiteral("M27"), QString(), QStringLiteral("DP"));
    QCOMPARE(b, QStringLiteral("Acme|M27||DP"));
    QTest::newRow("three in a row, listed out of order")
        << QList<QRect>{{1920, 0, 1920, 1080}, {0, 0, 1920, 1080}, {3840, 0, 1920, 1080}} << QStringList{b, b, b}
        << QStringList{b + "#2", b, b + "#3"};
    QTest::newRow("same left edge: top edge decides")
        << QList<QRect>{{0, 1080, 1920, 1080}, {0, 0, 1920, 1080}} << QStringList{b, b} << QStringList{b + "#2", b};
    QTest::newRow("different displays keep their text")
        << QList<QRect>{{1920, 0, 1920, 1080}, {0, 0, 1920, 1080}} << QStringList{b, "|||"} << QStringList{b, "|||"};
}

void TestWallModel::keysOfIdenticalDisplays()
{
    QFETCH(QList<QRect>, geometries);
    QFETCH(QStringList, bases);
    QFETCH(QStringList, keys);
    QList<ScreenFacts> facts;
    for (int i = 0; i < geometries.size(); ++i)
        facts.append({bases.at(i), geometries.at(i)});
    for (int i = 0; i < geometries.size(); ++i)
        QCOMPARE(keyAmong(facts, i), keys.at(i));
    QCOMPARE(screenKey(nullptr), QString());
}

void TestWallModel::titles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("model");
    QTest::addColumn<QSize>("points");
    QTest::addColumn<double>("dpr");
    QTest::addColumn<QString>("title");
    const QString dot = QString(QChar(0x00B7));
    const QString x = QString(QChar(0x00D7));
    QTest::newRow("model, dense") << ""
                                  << "Studio" << QSize(1920, 1080) << 2.0 << "Studio " + dot + " 3840 " + x + " 2160";
    QTest::newRow("name first") << "HDMI-1"
                                << "Studio" << QSize(1280, 720) << 1.0 << "HDMI-1 " + dot + " 1280 " + x + " 720";
    QTest::newRow("nothing known") << ""
                                   << "" << QSize(1000, 500) << 1.5 << "Display " + dot + " 1500 " + x + " 750";
    QTest::newRow("percent in a name") << "%1"
                                       << "" << QSize(10, 10) << 1.0 << "%1 " + dot + " 10 " + x + " 10";
}

void TestWallModel::titles()
{
    QFETCH(QString, name);
    QFETCH(QString, model);
    QFETCH(QSize, points);
    QFETCH(double, dpr);
    QFETCH(QString, title);
    QCOMPARE(titleFor(name, model, points, dpr), title);
}

void TestWallModel::savedWallLoadsBackEqual()
{
    Config empty;
    const QByteArray emptyJson = toJson(empty);
    QCOMPARE(emptyJson, QByteArray(R"({"screens":[],"version":1})"));
    QCOMPARE(fromJson(emptyJson), empty);

    Config c;
    c.screens.append(screen("A|B|C|D", "3x3", {"a", "", "b", "", "", "", "", "", "c"}, 2, false));
    c.screens.append(screen("A|B|C|D#2", "1x1", {"d"}, 1));
    c.screens.append(screen("|||", "10x12", QList<QString>(120)));
    save(QStringLiteral("test"), c);
    const QByteArray stored = Prefs::bytes(Prefs::videoWallKey(QStringLiteral("test")));
    QCOMPARE(stored, toJson(c));
    QVERIFY(!stored.contains('\n') && !stored.contains("\": ") && !stored.contains(", "));
    QCOMPARE(load(QStringLiteral("test")), c);
    QCOMPARE(load(QStringLiteral("never saved")), Config());
}

void TestWallModel::damagedSavedWallsDegradeToDefaults_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected"); // key/layout/enabled/quality/cells;...
    QTest::newRow("not json") << QByteArray("\x00\xff{{{", 5) << "";
    QTest::newRow("foreign document") << QByteArray(R"(["screens"])") << "";
    QTest::newRow("screens not a list") << QByteArray(R"({"screens":5})") << "";
    QTest::newRow("entry not an object") << QByteArray(R"({"screens":[7,{"key":"k"}]})") << "k/2x2/1/0/,,,";
    QTest::newRow("empty or missing key dropped")
        << QByteArray(R"({"screens":[{"key":""},{"cells":["a"]},{"key":3}]})") << "";
    QTest::newRow("quality clamped, enabled by default")
        << QByteArray(R"({"screens":[{"key":"a","quality":7},{"key":"b","quality":-1,"enabled":"no"}]})")
        << "a/2x2/1/2/,,,;b/2x2/1/0/,,,";
    QTest::newRow("unknown layout") << QByteArray(
        R"({"screens":[{"key":"a","layout":"9x9","cells":["x","y","z","w","v"]}]})")
                                    << "a/2x2/1/0/x,y,z,w";
    QTest::newRow("too many cells") << QByteArray(
        R"({"screens":[{"key":"a","layout":"3x3","cells":["1","2","3","4","5","6","7","8","9","10","11","12"]}]})")
                                    << "a/3x3/1/0/1,2,3,4,5,6,7,8,9";
    QTest::newRow("too few cells, odd elements")
        << QByteArray(R"({"screens":[{"key":"a","layout":"4x4","cells":[5,"b"]}]})") << "a/4x4/1/0/,b,,,,,,,,,,,,,,";
    QTest::newRow("a display listed twice keeps its first entry") << QByteArray(
        R"({"screens":[{"key":"a","layout":"1x1","cells":["x"]},{"key":"b"},{"key":"a","enabled":false}]})")
                                                                  << "a/1x1/1/0/x;b/2x2/1/0/,,,";
}

void TestWallModel::damagedSavedWallsDegradeToDefaults()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, expected);
    Prefs::setBytes(Prefs::videoWallKey(QStringLiteral("damaged")), json);
    const Config c = load(QStringLiteral("damaged"));
    QStringList got;
    for (const ScreenConfig& s : c.screens)
        got.append(QStringLiteral("%1/%2/%3/%4/%5")
                       .arg(s.key, s.layout)
                       .arg(int(s.enabled))
                       .arg(s.quality)
                       .arg(QStringList(s.cells).join(QLatin1Char(','))));
    QCOMPARE(got.join(QLatin1Char(';')), expected);
}

void TestWallModel::keyOfASourceWithSlashes()
{
    QCOMPARE(Prefs::videoWallKey(QStringLiteral("server/vms.example.org/42")),
             QStringLiteral("videowall/server_vms.example.org_42"));
    QCOMPARE(Prefs::videoWallKey(QStringLiteral("native")), QStringLiteral("videowall/native"));
    Config c;
    c.screens.append(screen("k", "1x1", {"x"}));
    save(QStringLiteral("server/h/1"), c);
    QVERIFY(!Prefs::bytes(QStringLiteral("videowall/server_h_1")).isEmpty());
    QCOMPARE(load(QStringLiteral("server/h/1")), c);
}

void TestWallModel::connectedDisplayGetsDefaultEntry()
{
    Config c;
    QCOMPARE(c.ensure(QString(), QStringLiteral("x")), nullptr);
    ScreenConfig* s = c.forScreen(QGuiApplication::primaryScreen());
    QVERIFY(s);
    QCOMPARE(s->key, screenKey(QGuiApplication::primaryScreen()));
    QCOMPARE(s->label, screenTitle(QGuiApplication::primaryScreen()));
    QCOMPARE(s->layout, QStringLiteral("2x2"));
    QCOMPARE(s->cells, QList<QString>(4));
    QVERIFY(s->enabled);
    s->label = QStringLiteral("old");
    s->cells[0] = QStringLiteral("a");
    QCOMPARE(c.forScreen(QGuiApplication::primaryScreen())->label, screenTitle(QGuiApplication::primaryScreen()));
    QCOMPARE(c.screens.size(), 1);
    QCOMPARE(c.screens.first().assignedCount(), 1);
}

KVR_TEST_MAIN(TestWallModel)
#include "tst_wall_model.moc"
