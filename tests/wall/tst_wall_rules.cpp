// The wall's rules on plain values: load and stream choice, the display
// window's bar, identify labels, cell edits and drops, texts, and the
// geometry of the display map and the layout preview.

#include "tests/support/TestKit.h"

#include "wall/Config.h"
#include "wall/Layouts.h"
#include "wall/SetupRules.h"
#include "wall/Source.h"
#include "wall/WallRules.h"

using namespace VideoWall;

namespace {

const QString kDot = QStringLiteral(" \u00B7 ");

QList<QString> cells(const QString& s)
{
    return QList<QString>(s.split(QLatin1Char(',')));
}

QString joined(const QList<QString>& c)
{
    return QStringList(c).join(QLatin1Char(','));
}

ScreenConfig screenOf(const QString& key, const QString& ids, bool enabled = true)
{
    return ScreenConfig{key, key + QStringLiteral(" label"), enabled, QStringLiteral("2x2"), cells(ids)};
}

} // namespace

class TestWallRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadRules();
    void barAndIdentify();
    void cellEdits();
    void payloads();
    void runStateTexts();
    void editorTexts();
    void mapBoxes();
    void previewGeometry();
};

void TestWallRules::loadRules()
{
    QStringList caps; // frame-rate cap by tiles shown
    for (int shown : {1, 4, 5, 9, 10, 120})
        caps.append(QString::number(fpsCapFor(shown)));
    QCOMPARE(caps.join(QLatin1Char(' ')), QStringLiteral("0 0 15 15 10 10"));
    QVERIFY(useMain(kQualityAuto, 4) && !useMain(kQualityAuto, 5));
    QVERIFY(useMain(kQualityMain, 120) && !useMain(kQualitySub, 1));

    // A window only for an entry that is enabled and has a camera.
    ScreenConfig s = screenOf("k", ",,,");
    QVERIFY(!qualifies(nullptr) && !qualifies(&s));
    s.cells[2] = QStringLiteral("a");
    QVERIFY(qualifies(&s));
    s.enabled = false;
    QVERIFY(!qualifies(&s));
}

void TestWallRules::barAndIdentify()
{
    const struct {
        QPoint pointer;
        bool visible;
        BarChange change;
    } rows[] = {
        {{500, 55}, false, BarChange::Show}, // in the band
        {{500, 56}, false, BarChange::Keep}, // below it, bar hidden
        {{500, 56}, true, BarChange::Hide},  // below the band and the bar
        {{500, -3}, true, BarChange::Hide},  // outside the window above
        {{-1, 10}, false, BarChange::Keep},  // left of the window
    };
    for (const auto& row : rows)
        QCOMPARE(barChange(QSize(1920, 1080), row.pointer, row.visible, QRect(0, 0, 1920, 46)), row.change);
    QCOMPARE(barText(2, "Left", 2), "Display 2" + kDot + "Left" + kDot + "2 cameras" + kDot + "Esc stops the wall");
    QCOMPARE(barText(1, "L", 1), "Display 1" + kDot + "L" + kDot + "1 camera" + kDot + "Esc stops the wall");

    QVERIFY(identifyText(3, "<b>&").contains("&lt;b&gt;&amp;"));
    // Small natural size: grown to the minimum and centred (inclusive edges).
    QCOMPARE(identifyGeometry(QRect(1920, 0, 1920, 1080), QSize(100, 100)), QRect(2669, 409, 420, 260));
    QCOMPARE(identifyGeometry(QRect(0, 0, 1920, 1080), QSize(600, 300)), QRect(659, 389, 600, 300));
}

void TestWallRules::cellEdits()
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
        {"layout", ",a,,,b,,,,c", 0, {"2x2"}, "a,b,c,"},
        {"layout", "a,b,c,", 0, {"1x1"}, "a"},
        {"layout", "a", 0, {"1+5"}, "a,,,,,"},
        {"fill", ",x,,", 0, abc, "a,x,b,c"},
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
            changeLayout(s, row.ids.first());
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
}

void TestWallRules::payloads()
{
    QCOMPARE(camerasFromPayload("a\n\nb\n"), QStringList({"a", "b"}));
    QStringList got; // cell payloads: plain decimal numbers only
    for (const char* payload : {"3", "119", "", "cam1", "-1", " 1", "1x", "99999999999"})
        got.append(QString::number(cellFromPayload(payload).value_or(-1)));
    QCOMPARE(got.join(QLatin1Char(' ')), QStringLiteral("3 119 -1 -1 -1 -1 -1 -1"));
    QCOMPARE(cellFromPayload(cellPayload(12)), 12);
}

void TestWallRules::runStateTexts()
{
    const auto state = [](bool running, bool mine, int windows, int ready) {
        const RunState s = runState(running, mine, windows, ready);
        return QStringLiteral("%1|%2|%3").arg(s.stopVisible ? "stop" : "-", s.startText, s.status);
    };
    QCOMPARE(state(false, false, 0, 0), "-|Start wall|Put cameras on a display to start.");
    QCOMPARE(state(false, false, 0, 1), "-|Start wall|1 display ready.");
    QCOMPARE(state(false, false, 0, 2), "-|Start wall|2 displays ready.");
    QCOMPARE(state(true, true, 1, 2), "stop|Restart with changes|The wall is running on 1 display.");
    QCOMPARE(state(true, true, 0, 0), "stop|Restart with changes|The wall is running on 0 displays.");
    QCOMPARE(state(true, false, 2, 1),
             "stop|Start wall|A wall from another sign-in is running. Starting this one replaces it.");
}

void TestWallRules::editorTexts()
{
    QCOMPARE(editorHeading(true, 2, "T", "L"), "Display 2" + kDot + "T");
    QCOMPARE(editorHeading(false, 0, "", "L"), "L" + kDot + "not connected");
    QCOMPARE(aspectOf(QSize(1920, 1080)), 1920.0 / 1080.0);
    QCOMPARE(aspectOf(QSize(1920, 0)), 16.0 / 9.0);
    QCOMPARE(aspectOf(QSize(10, 1000)), 16.0 / 9.0);

    // "<device> · <title>", the title alone when the device says the same;
    // a later camera with the same id wins.
    const QHash<QString, QString> t = previewTitles({{"g", "Gate", "Gate", "", false},
                                                     {"b", "Door", "NVR", "", false},
                                                     {"c", "x", "", "", false},
                                                     {"a", "A", "A", "", false},
                                                     {"a", "Gate 2", "NVR", "", false}});
    QCOMPARE(QStringList({t["g"], t["b"], t["c"], t["a"]}),
             QStringList({"Gate", "NVR" + kDot + "Door", "x", "NVR" + kDot + "Gate 2"}));
}

void TestWallRules::mapBoxes()
{
    const QList<MapScreen> two{{"L", "Left", QRect(0, 0, 1920, 1080)}, {"R", "Right", QRect(1920, 0, 1920, 1080)}};
    QList<MapBox> boxes = VideoWall::mapBoxes(two, nullptr, QSize(560, 190));
    QCOMPARE(boxes.size(), 2);
    const double s = 544.0 / 3840.0;
    QCOMPARE(boxes.at(0), (MapBox{"L", QRectF(11, 21.5, s * 1920 - 6, s * 1080 - 6), "Left", 1}));
    QCOMPARE(boxes.at(1).rect.x(), 283.0);

    // Remembered displays with cameras go in a strip at the bottom; those
    // without are not shown; a map too small keeps only the strip.
    Config c{{screenOf("L", "a,,,"), screenOf("gone", "a,b,,"), screenOf("empty", ",,,")}};
    boxes = VideoWall::mapBoxes(two, &c, QSize(560, 190));
    QCOMPARE(boxes.size(), 3);
    QCOMPARE(boxes.at(2), (MapBox{"gone", QRectF(8, 130, 200, 52), "gone label", 0}));
    QVERIFY(boxes.at(0).rect.bottom() < 130);
    boxes = VideoWall::mapBoxes(two, &c, QSize(560, 86));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).key, QStringLiteral("gone"));

    const auto state = [](int number, const QString& ids, bool enabled, bool thisWindow) {
        const ScreenConfig entry = screenOf("k", ids, enabled);
        return mapStateText(MapBox{"k", QRectF(), "t", number}, &entry, thisWindow);
    };
    QCOMPARE(state(0, "a,b,,", true, false), QStringLiteral("Not connected"));
    QCOMPARE(state(1, ",,,", true, false), QStringLiteral("No cameras"));
    QCOMPARE(state(2, "a,b,c,", false, false), "3 cameras" + kDot + "off");
    QCOMPARE(state(1, "a,,,", true, true), "1 camera" + kDot + "this window");
}

void TestWallRules::previewGeometry()
{
    const QRectF wide = previewArea(QSizeF(800, 316), 16.0 / 9.0);
    QCOMPARE(wide.height(), 300.0);
    QCOMPARE(qRound(wide.width() * 10), 5333);
    QCOMPARE(wide.x(), (784 - wide.width()) / 2 + 8);
    QCOMPARE(previewArea(QSizeF(400, 500), 4.0 / 3.0), QRectF(8, 106, 384, 288));

    const QRectF area(0, 0, 300, 300);
    const QRectF big = previewCellRect(area, layout("1+5"), 0);
    QCOMPARE(big, QRectF(3, 3, 194, 194));
    QCOMPARE(previewCellRect(area, layout("1+5"), 5), QRectF(203, 203, 94, 94));
    QVERIFY(previewCellRect(area, layout("1+5"), 6).isEmpty());
    QCOMPARE(previewClearRect(big), QRectF(173, 7, 20, 20));
}

KVR_TEST_MAIN(TestWallRules)
#include "tst_wall_rules.moc"
