// The wall's model: the layout table, display identity and titles, and the
// saved form of a wall.

#include "tests/support/TestKit.h"

#include "app/core/Settings.h"
#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/Screens.h"

using namespace VideoWall;

namespace {

// "<title> <rows>x<columns>: x,y-r,b ..." with each cell's first and last
// column and row.
QString describe(const Layout& l)
{
    QStringList cells;
    for (const QRect& c : l.cells)
        cells.append(QStringLiteral("%1,%2-%3,%4").arg(c.left()).arg(c.top()).arg(c.right()).arg(c.bottom()));
    return QStringLiteral("%1 %2x%3: ").arg(l.title).arg(l.rows).arg(l.columns) + cells.join(QLatin1Char(' '));
}

// What describe() gives for a plain grid, titled "<rows> × <columns>" unless told.
QString grid(int rows, int columns, const QString& title = {})
{
    Layout l{{}, title.isEmpty() ? QStringLiteral("%1 \u00D7 %2").arg(rows).arg(columns) : title, rows, columns, {}};
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            l.cells.append(QRect(x, y, 1, 1));
    return describe(l);
}

// "key/layout/enabled/quality/cells;..." of every entry.
QString describe(const Config& c)
{
    QStringList out;
    for (const ScreenConfig& s : c.screens)
        out.append(QStringLiteral("%1/%2/%3/%4/%5")
                       .arg(s.key, s.layout)
                       .arg(int(s.enabled))
                       .arg(s.quality)
                       .arg(QStringList(s.cells).join(QLatin1Char(','))));
    return out.join(QLatin1Char(';'));
}

} // namespace

class TestWallModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutTable();
    void keysOfIdenticalDisplays();
    void titles();
    void savedWallLoadsBackEqual();
    void damagedSavedWallsDegradeToDefaults();
    void connectedDisplayGetsDefaultEntry();
};

void TestWallModel::layoutTable()
{
    const QStringList keys{"1x1", "2x2", "2x3", "1+5", "3x3", "1+7", "3x4", "4x4", "5x5", "6x6", "8x8", "10x12"};
    const QString onePlusFive = "1 + 5 3x3: 0,0-1,1 2,0-2,0 2,1-2,1 0,2-0,2 1,2-1,2 2,2-2,2";
    const QString onePlusSeven = "1 + 7 4x4: 0,0-2,2 3,0-3,0 3,1-3,1 3,2-3,2 0,3-0,3 1,3-1,3 2,3-2,3 3,3-3,3";
    const QStringList expected{grid(1, 1, "Single"), grid(2, 2),   grid(2, 3), onePlusFive,
                               grid(3, 3),           onePlusSeven, grid(3, 4), grid(4, 4),
                               grid(5, 5),           grid(6, 6),   grid(8, 8), grid(10, 12, "12 \u00D7 10 (120)")};
    QCOMPARE(layouts().size(), keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(layouts().at(i).key, keys.at(i)); // the table keeps its order
        QCOMPARE(describe(layout(keys.at(i))), expected.at(i));
    }
    QCOMPARE(layout(QStringLiteral("7x7")).key, QStringLiteral("2x2"));
}

void TestWallModel::keysOfIdenticalDisplays()
{
    const QString b = identityBase(QStringLiteral("Acme"), QStringLiteral("M27"), QString(), QStringLiteral("DP"));
    QCOMPARE(b, QStringLiteral("Acme|M27||DP"));
    const QRect left(0, 0, 1920, 1080), middle(1920, 0, 1920, 1080), right(3840, 0, 1920, 1080);
    const QRect below(0, 1080, 1920, 1080);
    const struct {
        QList<ScreenFacts> connected;
        QStringList keys;
    } rows[] = {
        {{{b, middle}, {b, left}, {b, right}}, {b + "#2", b, b + "#3"}}, // listed out of order
        {{{b, below}, {b, left}}, {b + "#2", b}},                        // same left edge: the top edge decides
        {{{b, middle}, {"|||", left}}, {b, "|||"}},                      // different displays keep their text
    };
    for (const auto& row : rows) {
        QStringList keys;
        for (int i = 0; i < row.connected.size(); ++i)
            keys.append(keyAmong(row.connected, i));
        QCOMPARE(keys, row.keys);
    }
}

void TestWallModel::titles()
{
    const QString dot = QStringLiteral(" \u00B7 "), x = QStringLiteral(" \u00D7 ");
    QCOMPARE(titleFor("", "Studio", QSize(1920, 1080), 2.0), "Studio" + dot + "3840" + x + "2160");
    QCOMPARE(titleFor("HDMI-1", "Studio", QSize(1280, 720), 1.0), "HDMI-1" + dot + "1280" + x + "720");
    QCOMPARE(titleFor("", "", QSize(1000, 500), 1.5), "Display" + dot + "1500" + x + "750");
    QCOMPARE(titleFor("%1", "", QSize(10, 10), 1.0), "%1" + dot + "10" + x + "10");
}

void TestWallModel::savedWallLoadsBackEqual()
{
    QCOMPARE(toJson(Config()), QByteArray(R"({"screens":[],"version":1})"));
    const Config c{{{"A|B|C|D", "Left", false, "3x3", {"a", "", "b", "", "", "", "", "", "c"}, kQualityMain},
                    {"A|B|C|D#2", "Right", true, "1x1", {"d"}, kQualitySub},
                    {"|||", "", true, "10x12", QList<QString>(120), kQualityAuto}}};
    // A source id with slashes is one key, not a group.
    save(QStringLiteral("server/h/1"), c);
    QVERIFY(!Prefs::bytes(QStringLiteral("videowall/server_h_1")).isEmpty());
    QCOMPARE(load(QStringLiteral("server/h/1")), c);
    // A wall stored as text rather than bytes reads the same.
    Prefs::setText(Prefs::videoWallKey(QStringLiteral("as text")), QString::fromUtf8(toJson(c)));
    QCOMPARE(load(QStringLiteral("as text")), c);
    QCOMPARE(load(QStringLiteral("never saved")), Config());
}

void TestWallModel::damagedSavedWallsDegradeToDefaults()
{
    const struct {
        QByteArray json;
        const char* expected;
    } rows[] = {
        {QByteArray("\x00\xff{{{", 5), ""},
        {R"(["screens"])", ""},
        {R"({"screens":5})", ""},
        {R"({"screens":[7,{"key":"k"}]})", "k/2x2/1/0/,,,"},
        {R"({"screens":[{"key":""},{"cells":["a"]},{"key":3}]})", ""},
        {R"({"screens":[{"key":"a","quality":7},{"key":"b","quality":-1,"enabled":"no"}]})",
         "a/2x2/1/2/,,,;b/2x2/1/0/,,,"},
        {R"({"screens":[{"key":"a","layout":"9x9","cells":["x","y","z","w","v"]}]})", "a/2x2/1/0/x,y,z,w"},
        {R"({"screens":[{"key":"a","layout":"3x3","cells":["1","2","3","4","5","6","7","8","9","10"]}]})",
         "a/3x3/1/0/1,2,3,4,5,6,7,8,9"},
        {R"({"screens":[{"key":"a","layout":"4x4","cells":[5,"b"]}]})", "a/4x4/1/0/,b,,,,,,,,,,,,,,"},
        // A display listed twice keeps its first entry.
        {R"({"screens":[{"key":"a","layout":"1x1","cells":["x"]},{"key":"b"},{"key":"a","enabled":false}]})",
         "a/1x1/1/0/x;b/2x2/1/0/,,,"},
    };
    for (const auto& row : rows) {
        Prefs::setBytes(Prefs::videoWallKey(QStringLiteral("damaged")), row.json);
        QCOMPARE(describe(load(QStringLiteral("damaged"))), QString::fromLatin1(row.expected));
    }
}

void TestWallModel::connectedDisplayGetsDefaultEntry()
{
    Config c;
    QCOMPARE(c.ensure(QString(), QStringLiteral("x")), nullptr);
    QScreen* primary = QGuiApplication::primaryScreen();
    ScreenConfig* s = c.forScreen(primary);
    QCOMPARE(describe(c), screenKey(primary) + "/2x2/1/0/,,,");
    s->label = QStringLiteral("old");
    s->cells[0] = QStringLiteral("a");
    QCOMPARE(c.forScreen(primary)->label, screenTitle(primary)); // refreshed, not added again
    QCOMPARE(describe(c), screenKey(primary) + "/2x2/1/0/a,,,");
}

KVR_TEST_MAIN(TestWallModel)
#include "tst_wall_model.moc"
