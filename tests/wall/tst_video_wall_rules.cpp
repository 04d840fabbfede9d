// The wall's model and rules on plain values: the layout table, display
// identity and titles, the saved form of a wall, load and stream choice, the
// display window's bar, identify labels, cell edits and drops, texts, and the
// geometry of the display map and the layout preview.

#include "tests/support/TestKit.h"

#include "app/core/Settings.h"
#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/Screens.h"
#include "wall/SetupRules.h"
#include "wall/Source.h"
#include "wall/TileRetry.h"
#include "wall/VideoWallRules.h"

#include <QFontMetrics>
#include <QHash>
#include <QSet>
#include <QSignalSpy>

using namespace kvr::core;
using namespace kvr::wall;

using namespace VideoWall;
using namespace VideoWall::VideoWallRules;
using namespace VideoWall::SetupRules;

namespace {

const QString kDot = QStringLiteral(" \u00B7 ");

QString joined(const QList<QString>& c)
{
    return QStringList(c).join(QLatin1Char(','));
}

ScreenConfig screenOf(const QString& key, const QString& ids, bool enabled = true)
{
    return ScreenConfig{key, key + " label", enabled, "2x2", QList<QString>(ids.split(QLatin1Char(',')))};
}

// "key/layout/enabled/quality/cells;..." of every entry.
QString describe(const Config& c)
{
    QStringList out;
    for (const ScreenConfig& s : c.screens)
        out.append(QStringLiteral("%1/%2/%3/%4/%5")
                       .arg(s.key, s.layout, QString::number(s.enabled), QString::number(s.quality), joined(s.cells)));
    return out.join(QLatin1Char(';'));
}

} // namespace

class TestVideoWallRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutTable()
    {
        // Every layout's cells cover its grid, each square exactly once.
        for (const Layout& l : layouts()) {
            QList<int> covered(l.rows * l.columns);
            for (const QRect& c : l.cells)
                for (int y = c.top(); y <= c.bottom(); ++y)
                    for (int x = c.left(); x <= c.right(); ++x)
                        ++covered[y < l.rows && x < l.columns ? y * l.columns + x : 0];
            QVERIFY2(covered == QList<int>(l.rows * l.columns, 1), qPrintable(l.key));
        }
        QCOMPARE(layout(QStringLiteral("7x7")).key, QStringLiteral("2x2"));
        // Each entry of the list says its number of cells once.
        for (const Layout& l : layouts()) {
            const QString entry = SetupRules::layoutEntry(l.title, int(l.cells.size()));
            QVERIFY2(entry.count(QStringLiteral("(%1)").arg(l.cells.size())) == 1, qPrintable(entry));
        }
        QCOMPARE(SetupRules::layoutEntry(QStringLiteral("3 × 3"), 9), QStringLiteral("3 × 3  (9)"));
        // The camera tree's search: without regard to case, in one normal form.
        QVERIFY(SetupRules::matchesSearch(QStringLiteral("Cafe\u0301 Gate"), QStringLiteral("CAF\u00c9")));
        QVERIFY(SetupRules::matchesSearch(QStringLiteral("Entr\u00e9e"), QStringLiteral("entre\u0301")));
        QVERIFY(!SetupRules::matchesSearch(QStringLiteral("Cafe Gate"), QStringLiteral("caf\u00e9")));
    }

    void displayKeysAndTitles()
    {
        const QString b = identityBase(QStringLiteral("Acme"), QStringLiteral("M27"), QString(), QStringLiteral("DP"));
        QCOMPARE(b, QStringLiteral("Acme|M27||DP"));
        const QRect left(0, 0, 1920, 1080), middle(1920, 0, 1920, 1080), right(3840, 0, 1920, 1080);
        const QRect below(0, 1080, 1920, 1080);
        const auto keys = [](const QList<ScreenFacts>& connected) {
            QStringList out;
            for (int i = 0; i < connected.size(); ++i)
                out.append(keyAmong(connected, i));
            return out;
        };
        QCOMPARE(keys({{b, middle}, {b, left}, {b, right}}),
                 QStringList({b + "#2", b, b + "#3"}));                        // listed out of order
        QCOMPARE(keys({{b, below}, {b, left}}), QStringList({b + "#2", b}));   // same left edge: the top edge decides
        QCOMPARE(keys({{b, middle}, {b, below}}), QStringList({b + "#2", b})); // the left edge before the top edge
        QCOMPARE(keys({{b, middle}, {"|||", left}}), QStringList({b, "|||"})); // different displays keep their text
        const QString x = QStringLiteral(" \u00D7 ");
        QCOMPARE(titleFor("", "Studio", QSize(1920, 1080), 2.0), "Studio" + kDot + "3840" + x + "2160");
        QCOMPARE(titleFor("HDMI-1", "Studio", QSize(1280, 720), 1.0), "HDMI-1" + kDot + "1280" + x + "720");
        QCOMPARE(titleFor("", "", QSize(1000, 500), 1.5), "Display" + kDot + "1500" + x + "750");
        QCOMPARE(titleFor("%1", "", QSize(10, 10), 1.0), "%1" + kDot + "10" + x + "10");
    }

    void savedWallLoadsBackEqual()
    {
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

        // A connected display gets an entry with the defaults, once.
        Config fresh;
        QCOMPARE(fresh.ensure(QString(), QStringLiteral("x")), nullptr);
        QScreen* primary = QGuiApplication::primaryScreen();
        fresh.forScreen(primary)->cells[0] = QStringLiteral("a");
        fresh.forScreen(primary)->label = QStringLiteral("old");
        QCOMPARE(fresh.forScreen(primary)->label, screenTitle(primary)); // refreshed, not added again
        QCOMPARE(describe(fresh), screenKey(primary) + "/2x2/1/0/a,,,");
    }

    void damagedSavedWallsDegradeToDefaults()
    {
        const struct {
            QByteArray json;
            const char* expected;
        } rows[] = {
            // clang-format off
            {QByteArray("\x00\xff{{{", 5), ""},
            {R"(["screens"])", ""},
            {R"({"screens":5})", ""},
            {R"({"screens":[7,{"key":"k"}]})", "k/2x2/1/0/,,,"},
            {R"({"screens":[{"key":""},{"cells":["a"]},{"key":3}]})", ""},
            {R"({"screens":[{"key":"a","quality":7},{"key":"b","quality":-1,"enabled":"no"}]})", "a/2x2/1/2/,,,;b/2x2/1/0/,,,"},
            {R"({"screens":[{"key":"a","layout":"9x9","cells":["x","y","z","w","v"]}]})", "a/2x2/1/0/x,y,z,w"},
            {R"({"screens":[{"key":"a","layout":"3x3","cells":["1","2","3","4","5","6","7","8","9","10"]}]})", "a/3x3/1/0/1,2,3,4,5,6,7,8,9"},
            {R"({"screens":[{"key":"a","layout":"4x4","cells":[5,"b"]}]})", "a/4x4/1/0/,b,,,,,,,,,,,,,,"},
            // A display listed twice keeps its first entry.
            {R"({"screens":[{"key":"a","layout":"1x1","cells":["x"]},{"key":"b"},{"key":"a","enabled":false}]})", "a/1x1/1/0/x;b/2x2/1/0/,,,"},
            // clang-format on
        };
        for (const auto& row : rows) {
            Prefs::setBytes(Prefs::videoWallKey(QStringLiteral("damaged")), row.json);
            QCOMPARE(describe(load(QStringLiteral("damaged"))), QString::fromLatin1(row.expected));
        }
    }

    void loadRules()
    {
        QStringList caps; // frame-rate cap by tiles shown
        for (int shown : {1, 4, 5, 9, 10, 120})
            caps.append(QString::number(fpsCapFor(shown)));
        QCOMPARE(caps.join(QLatin1Char(' ')), QStringLiteral("0 0 15 15 10 10"));
        QVERIFY(useMain(kQualityAuto, 4) && !useMain(kQualityAuto, 5));
        QVERIFY(useMain(kQualityMain, 120) && !useMain(kQualitySub, 1));

        // A window only for an entry that is enabled and has a camera.
        const ScreenConfig empty = screenOf("k", ",,,"), off = screenOf("k", ",,a,", false), on = screenOf("k", ",,a,");
        QVERIFY(!qualifies(nullptr) && !qualifies(&empty) && !qualifies(&off) && qualifies(&on));
    }

    void barAndIdentify()
    {
        const auto bar = [](int x, int y, bool visible) {
            return barChange(QSize(1920, 1080), QPoint(x, y), visible, QRect(0, 0, 1920, 46));
        };
        // In the band; below it, bar hidden; below the band and the bar; above the window; left of it.
        QCOMPARE(
            QList<BarChange>(
                {bar(500, 55, false), bar(500, 56, false), bar(500, 56, true), bar(500, -3, true), bar(-1, 10, false)}),
            QList<BarChange>({BarChange::Show, BarChange::Keep, BarChange::Hide, BarChange::Hide, BarChange::Keep}));
        QCOMPARE(barText(2, "Left", 2), "Display 2" + kDot + "Left" + kDot + "2 cameras" + kDot + "Esc stops the wall");

        QVERIFY(identifyText(3, "<b>&").contains("&lt;b&gt;&amp;"));
        // Small natural size: grown to the minimum and centred (inclusive edges).
        QCOMPARE(identifyGeometry(QRect(1920, 0, 1920, 1080), QSize(100, 100)), QRect(2669, 409, 420, 260));
        QCOMPARE(identifyGeometry(QRect(0, 0, 1920, 1080), QSize(600, 300)), QRect(659, 389, 600, 300));
    }

    void cellEditsAndPayloads()
    {
        const QStringList abc{"a", "b", "c"};
        const struct {
            const char* op;
            const char* before;
            int target;
            QStringList ids; // assign: the id; move: the cell moved; layout: the layout
            const char* after;
        } rows[] = {
            {"assign", "a,,b,", 2, {"c"}, "a,,c, next 3"}, // on to the next empty cell
            {"assign", "a,b,c,d", 3, {"c"}, "a,b,c,c next 3"},
            {"assign", ",b,c,d", 3, {"c"}, ",b,c,c next 0"},
            {"assign", ",,,", -1, {"c"}, "c,,, next 1"},
            {"assign", ",,,", 9, {"c"}, ",,,c next 0"},
            {"layout", ",a,,,b,,,,c", 0, {"2x2"}, "a,b,c, left "},
            {"layout", "a,b,c,", 0, {"1x1"}, "a left b+c"},
            // Held back by an earlier change: after the display's own, once each.
            {"layout", "a,,,", 0, {"3x3", "b", "a", "", "c"}, "a,b,c,,,,,, left "},
            {"layout", "a,b,,", 0, {"1x1", "c"}, "a left b+c"},
            {"fill", ",x,y,", 0, abc, "a,x,y,b"},
            {"drop", ",,,d", 2, abc, ",,a,d"},
            {"drop", "x,,y,,", 0, abc, "a,b,y,c,"},
            {"drop", "x,,,", 1, {}, "x,,,"},
            {"move", "a,,,", 3, {"0"}, ",,,a"},
            {"move", "a,b,,", 1, {"0"}, "b,a,,"},
            {"move", "a,b,,", 0, {"0"}, "a,b,,"},
            {"move", "a,b,,", 0, {"4"}, "a,b,,"},
        };
        for (const auto& row : rows) {
            const QString op = QString::fromLatin1(row.op);
            ScreenConfig s = screenOf("k", row.before);
            QString next;
            if (op == "assign")
                next = QStringLiteral(" next %1").arg(assignToCell(s.cells, row.target, row.ids.first()));
            else if (op == "layout")
                next = QStringLiteral(" left %1").arg(changeLayout(s, row.ids.first(), row.ids.mid(1)).join('+'));
            else if (op == "fill")
                fillEmptyCells(s.cells, row.ids);
            else if (op == "drop")
                dropCameras(s.cells, row.target, camerasFromPayload(cameraPayload(row.ids)));
            else
                moveCell(s.cells, row.ids.first().toInt(), row.target);
            const QString what = QStringLiteral("%1 %2 on %3: ").arg(op, row.before).arg(row.target);
            QCOMPARE(what + joined(s.cells) + next, what + row.after);
        }
        QList<QString> none;
        QCOMPARE(assignToCell(none, 2, QStringLiteral("c")), 2);
        QCOMPARE(uniqueIds({"a", "b", "a", "c", "b"}), abc);

        QCOMPARE(camerasFromPayload("a\n\nb\n"), QStringList({"a", "b"}));
        QStringList got; // cell payloads: plain decimal numbers only
        for (const char* payload : {"3", "119", "", "cam1", "-1", " 1", "1x", "99999999999"})
            got.append(QString::number(cellFromPayload(payload).value_or(-1)));
        QCOMPARE(got.join(QLatin1Char(' ')), QStringLiteral("3 119 -1 -1 -1 -1 -1 -1"));
        QCOMPARE(cellFromPayload(cellPayload(12)), 12);
    }

    // The preview's keys: Left and Right by the cells' order, stopping at
    // the ends; Up and Down to the cell above or below where a cell begins,
    // across a big cell's span; the selection stays where no cell lies that
    // way, and comes in from outside the layout at the first cell.
    void previewKeysWalkTheCells()
    {
        using K = CellKey;
        const auto walk = [](const char* layoutKey, int from, std::initializer_list<K> keys) {
            QStringList cells{QString::number(from)};
            for (const K key : keys) {
                from = cellAfterKey(layout(QString::fromLatin1(layoutKey)), from, key);
                cells << QString::number(from);
            }
            return cells.join(QLatin1Char(' '));
        };
        // 2 x 2: 0 1 / 2 3.
        QCOMPARE(walk("2x2", 0, {K::Back, K::On, K::On, K::Down, K::Down, K::Up, K::Up, K::Last, K::On, K::First}),
                 QStringLiteral("0 0 1 2 2 2 0 0 3 3 0"));
        QCOMPARE(walk("2x2", 1, {K::Down, K::Back}), QStringLiteral("1 3 2"));
        // "1 + 5" on 3 x 3: the big cell 0 (two columns, two rows), 1 and 2 on
        // its right, 3 4 5 along the bottom.
        QCOMPARE(walk("1+5", 0, {K::Down, K::Up, K::On, K::Down, K::Down, K::Up, K::Up, K::Up}),
                 QStringLiteral("0 3 0 1 2 5 2 1 1"));
        QCOMPARE(walk("1+5", 4, {K::Up}), QStringLiteral("4 0"));
        QCOMPARE(walk("2x2", -1, {K::Down}), QStringLiteral("-1 0"));
        QCOMPARE(walk("2x2", 7, {K::Back}), QStringLiteral("7 0"));
        QCOMPARE(cellAfterKey(Layout{}, 2, K::On), -1);

        // What the keyboard's menus and a screen reader say, from cell 1 on.
        QCOMPARE(placeEntry(1, 2), QStringLiteral("Put in cell 3"));
        QCOMPARE(placeEntry(4, 0), QStringLiteral("Put 4 cameras from cell 1"));
        QCOMPARE(moveToEntry(3, QString()), QStringLiteral("Move to cell 4 (empty)"));
        QCOMPARE(moveToEntry(0, QStringLiteral("Gate")), QStringLiteral("Move to cell 1 (swap with Gate)"));
        QCOMPARE(spokenCell(0, QString()) + " / " + spokenCell(8, QStringLiteral("Gate")),
                 QStringLiteral("Cell 1, empty / Cell 9, Gate"));
    }

    void previewTitlesMapAndPreviewGeometry()
    {
        QCOMPARE(QList<double>({aspectOf(QSize(1920, 1080)), aspectOf(QSize(1920, 0)), aspectOf(QSize(10, 1000))}),
                 QList<double>({1920.0 / 1080.0, 16.0 / 9.0, 16.0 / 9.0}));
        // A cell's camera: whole when it fits; else the device and the title
        // each on a line; on one line the device part gives way first.
        QFont font("Sans");
        font.setPixelSize(13);
        const QFontMetrics m(font);
        const QString text = "Reception and lobby recorder (32 channel)" + kDot + "Camera 12";
        QCOMPARE(previewCellLines("Gate" + kDot + "Door", m, 400, 2), QStringList{"Gate" + kDot + "Door"});
        const QStringList split = previewCellLines(text, m, 100, 2);
        QVERIFY2(split.size() == 2 && split.at(0).startsWith("Recep") && split.at(1) == "Camera 12",
                 qPrintable(split.join('|')));
        const QStringList one = previewCellLines(text, m, 110, 1);
        QVERIFY2(one.size() == 1 && one.first().endsWith(kDot + "Camera 12") && m.horizontalAdvance(one.first()) <= 110,
                 qPrintable(one.join('|')));
        // A cell too small for even that keeps the camera's name, shortened
        // in its middle so that "Camera 12" and "Camera 13" stay apart.
        const int tiny = m.horizontalAdvance("Camera 12") - 4;
        const QStringList twelve = previewCellLines(text, m, tiny, 1);
        const QStringList thirteen = previewCellLines(text.chopped(1) + "3", m, tiny, 1);
        QVERIFY2(twelve.size() == 1 && twelve.first().endsWith("12") && twelve != thirteen,
                 qPrintable(twelve.join('|') + " / " + thirteen.join('|')));
        // Nine cells of one recorder whose cameras are named alike for 40
        // characters, on two lines and on one: the device they share gives
        // way, each cell reads apart, and no line is shortened alike in two.
        QStringList tower;
        for (int c = 1; c <= 9; ++c)
            tower << "Warehouse gate and yard recorder (24 channel), east block" + kDot
                    + QString("Tower B second floor lift lobby east, camera %1 of 24").arg(c, 2, 10, QChar('0'));
        for (int lines : {2, 1}) {
            QSet<QString> cells;
            QHash<QString, int> shortened;
            for (const QString& t : tower) {
                const QStringList cell = previewCellLines(t, m, 100, lines, tower);
                cells.insert(cell.join('|'));
                for (const QString& line : cell) {
                    QVERIFY2(m.horizontalAdvance(line) <= 100 && !line.startsWith("Warehouse"), qPrintable(line));
                    if (line.contains(QChar(0x2026)))
                        ++shortened[line];
                }
            }
            QCOMPARE(cells.size(), 9);
            QVERIFY(std::all_of(shortened.cbegin(), shortened.cend(), [](int n) { return n == 1; }));
        }
        QVERIFY(previewCellLines(text, m, 100, 0).isEmpty());
        QVERIFY(previewCellLines(text, m, 5 * m.averageCharWidth(), 1).isEmpty());
        const QStringList words = previewCellLines("Loading bay north gate camera", m, 90, 2);
        QVERIFY2(words.size() == 2 && words.at(0) == "Loading bay" && m.horizontalAdvance(words.at(1)) <= 90,
                 qPrintable(words.join('|')));

        // The set-up dialog opens at its own size where there is room, within
        // the display's free area where there is not.
        QCOMPARE(QList<QSize>({setupSize(QSize(1920, 1040)), setupSize(QSize(1280, 720)), setupSize(QSize(1366, 700)),
                               setupSize(QSize())}),
                 QList<QSize>({QSize(1180, 760), QSize(1180, 720), QSize(1180, 700), QSize(1180, 760)}));

        // "<device> · <title>", the title alone when the device says the same;
        // a later camera with the same id wins.
        const QHash<QString, QString> t = previewTitles({{"g", "Gate", "Gate", "", false},
                                                         {"b", "Door", "NVR", "", false},
                                                         {"c", "x", "", "", false},
                                                         {"a", "A", "A", "", false},
                                                         {"a", "Gate 2", "NVR", "", false}});
        QCOMPARE(QStringList({t["g"], t["b"], t["c"], t["a"]}),
                 QStringList({"Gate", "NVR" + kDot + "Door", "x", "NVR" + kDot + "Gate 2"}));

        const QList<MapScreen> two{{"L", "Left", QRect(0, 0, 1920, 1080)}, {"R", "Right", QRect(1920, 0, 1920, 1080)}};
        const auto boxes = [&two](const Config* c, int height) { // "<key><number> ..."
            QStringList out;
            for (const MapBox& b : VideoWall::SetupRules::mapBoxes(two, c, QSize(560, height)))
                out.append(b.key + QString::number(b.number) + (b.rect.isEmpty() ? "!" : ""));
            return out.join(QLatin1Char(' '));
        };
        QCOMPARE(boxes(nullptr, 190), QStringLiteral("L1 R2"));
        // Remembered displays with cameras go in a strip; those without are not
        // shown; a map too small keeps only the strip.
        Config c{{screenOf("L", "a,,,"), screenOf("gone", "a,b,,"), screenOf("empty", ",,,")}};
        QCOMPARE(boxes(&c, 190), QStringLiteral("L1 R2 gone0"));
        QCOMPARE(boxes(&c, 86), QStringLiteral("gone0"));

        const auto state = [](int number, const QString& ids, bool enabled, bool thisWindow) {
            const ScreenConfig entry = screenOf("k", ids, enabled);
            return mapStateText(MapBox{"k", QRectF(), "t", number}, &entry, thisWindow);
        };
        QCOMPARE(QStringList({state(0, "a,b,,", true, false), state(1, ",,,", true, false),
                              state(2, "a,b,c,", false, false), state(1, "a,,,", true, true)})
                     .join('|'),
                 "Not connected|No cameras|3 cameras" + kDot + "off|1 camera" + kDot + "this window");

        // The preview: the display's aspect fitted in, cells 3 px in from their
        // grid lines, a big cell over its whole span.
        QCOMPARE(previewArea(QSizeF(800, 316), 16.0 / 9.0), QRectF(8 + (784 - 1600.0 / 3) / 2, 8, 1600.0 / 3, 300));
        QCOMPARE(previewArea(QSizeF(400, 500), 4.0 / 3.0), QRectF(8, 106, 384, 288));

        const QRectF area(0, 0, 300, 300);
        QCOMPARE(previewCellRect(area, layout("1+5"), 0), QRectF(3, 3, 194, 194));
        QVERIFY(previewCellRect(area, layout("1+5"), 6).isEmpty());
    }

    void failedTilesTryAgainOnASlowSpreadSchedule()
    {
        using std::chrono::milliseconds;
        // Half a minute, doubling up to five minutes, each wait within a
        // quarter either way of its step, so a wall's tiles spread out.
        QList<qint64> steps;
        for (int tries = 0; tries < 7; ++tries)
            steps << retryDelay(tries, 0.5).count();
        QCOMPARE(steps, (QList<qint64>{30000, 60000, 120000, 240000, 300000, 300000, 300000}));
        QCOMPARE(retryDelay(0, 0.0), milliseconds(22500));
        QCOMPARE(retryDelay(0, 0.999999), milliseconds(37500));
        QCOMPARE(retryDelay(1000000, 0.5), milliseconds(300000)); // no overflow however long it failed
        QCOMPARE(retryDelay(2, -3.0), milliseconds(90000));       // a draw outside [0, 1) is held to it

        kvrtest::TestClock clock;
        double draw = 0.5;
        RetrySchedule s(&clock, [&] { return draw; });
        QCOMPARE(s.failed(), 30000);
        // The player's own restarts failing one by one keep the first time.
        clock.advanceSecs(10);
        draw = 0.0;
        QCOMPARE(s.failed(), 20000);
        clock.advanceSecs(20);
        s.tried();
        QCOMPARE(s.failed(), 45000); // step two, drawn low
        s.cancel();                  // a start of the tile's own: the count stays
        QVERIFY(!s.isArmed());
        draw = 0.5;
        QCOMPARE(s.failed(), 60000);
        s.tried();
        // A picture that drops again at once does not start the count over...
        s.playing();
        clock.advanceSecs(90);
        QCOMPARE(s.failed(), 120000);
        s.tried();
        // ...two minutes of steady playing does.
        s.playing();
        clock.advanceSecs(120);
        QCOMPARE(s.failed(), 30000);
        QCOMPARE(s.tries(), 0);
        s.tried();
        s.tried();
        s.reset(); // stopped, or restarted by the user
        QVERIFY(!s.isArmed());
        QCOMPARE(s.failed(), 30000);

        // The relay fell again soon after it came back: the waits have grown
        // (two tries, two minutes). Another tile playing again brings the try
        // to 1 to 4 s away, spread by the draw; the count stays, and a try
        // already that close, or none armed, is left alone.
        s.reset();
        s.failed();
        s.tried();
        s.failed();
        s.tried();
        QCOMPARE(s.failed(), 120000);
        draw = 0.0;
        QCOMPARE(s.hurry(), 1000);
        QCOMPARE(s.tries(), 2);
        QCOMPARE(s.hurry(), -1);
        clock.advanceSecs(1);
        s.tried();
        draw = 0.5;
        QCOMPARE(s.failed(), 240000);
        draw = 0.999999;
        QCOMPARE(s.hurry(), 4000);
        s.tried();
        QCOMPARE(s.hurry(), -1);

        // The timer's side: a tile on screen is started again; a hidden one
        // waits without the wait growing; a picture or a start of its own
        // drops the try.
        QWidget tile;
        tile.resize(200, 120);
        auto* retry = new TileRetry(&tile, RetrySchedule(&clock, [] { return 0.5; }));
        QSignalSpy due(retry, &TileRetry::due);
        retry->failed();
        // (A coarse timer: within 5 %.)
        const auto armedFor = [&](int ms) { return std::abs(retry->remainingMs() - ms) <= ms / 20; };
        QVERIFY(retry->isArmed() && armedFor(30000));
        retry->fire();
        QCOMPARE(due.count(), 0);
        QVERIFY(retry->isArmed() && armedFor(30000));
        tile.show();
        retry->fire();
        QCOMPARE(due.count(), 1);
        QVERIFY(!retry->isArmed());
        retry->failed();
        QVERIFY(armedFor(60000));
        retry->playing();
        QVERIFY(!retry->isArmed());
        retry->fire();
        retry->failed();
        retry->cancel();
        retry->fire();
        QCOMPARE(due.count(), 1);
        QCOMPARE(retry->schedule().tries(), 1);
        retry->reset();
        QCOMPARE(retry->schedule().tries(), 0);
        QCOMPARE(retry->remainingMs(), -1);
        retry->failed();
        retry->hurry();
        QVERIFY(retry->isArmed() && armedFor(2500));
        retry->reset();
        retry->hurry();
        QVERIFY(!retry->isArmed());
    }
};

KVR_TEST_MAIN(TestVideoWallRules)

#include "tst_video_wall_rules.moc"
