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

QList<QString> cells(const QString& s)
{
    return QList<QString>(s.split(QLatin1Char(',')));
}

QString joined(const QList<QString>& c)
{
    return QStringList(c).join(QLatin1Char(','));
}

ScreenConfig screenOf(const QString& key, const QString& layoutKey, const QString& ids, bool enabled = true)
{
    ScreenConfig s;
    s.key = key;
    s.label = key + QStringLiteral(" label");
    s.layout = layoutKey;
    s.cells = cells(ids);
    s.enabled = enabled;
    return s;
}

} // namespace

class TestWallRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loadRules();
    void barShowsAtTheTopEdge_data();
    void barShowsAtTheTopEdge();
    void barAndIdentifyTexts();
    void assignWrapsToTheNextEmptyCell_data();
    void assignWrapsToTheNextEmptyCell();
    void layoutChangeKeepsCamerasInOrder();
    void fillAndDrops_data();
    void fillAndDrops();
    void cellPayloads_data();
    void cellPayloads();
    void runStateTexts_data();
    void runStateTexts();
    void editorTexts();
    void mapBoxes();
    void mapStates_data();
    void mapStates();
    void previewGeometry();
};

void TestWallRules::loadRules()
{
    // tiles shown -> frame-rate cap; quality x tiles -> main stream
    const QList<QPair<int, int>> caps{{1, 0}, {4, 0}, {5, 15}, {9, 15}, {10, 10}, {120, 10}};
    for (const auto& [shown, cap] : caps)
        QCOMPARE(fpsCapFor(shown), cap);
    QVERIFY(useMain(kQualityAuto, 4));
    QVERIFY(!useMain(kQualityAuto, 5));
    QVERIFY(useMain(kQualityMain, 120));
    QVERIFY(!useMain(kQualitySub, 1));

    ScreenConfig s = screenOf("k", "2x2", ",,,");
    QVERIFY(!qualifies(nullptr));
    QVERIFY(!qualifies(&s));
    s.cells[2] = QStringLiteral("a");
    QVERIFY(qualifies(&s));
    s.enabled = false;
    QVERIFY(!qualifies(&s));
}

void TestWallRules::barShowsAtTheTopEdge_data()
{
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<int>("change");
    QTest::newRow("in the band") << QPoint(500, 55) << false << int(BarChange::Show);
    QTest::newRow("below the band, bar hidden") << QPoint(500, 56) << false << int(BarChange::Keep);
    QTest::newRow("below the band and the bar") << QPoint(500, 56) << true << int(BarChange::Hide);
    QTest::newRow("outside the window above") << QPoint(500, -3) << true << int(BarChange::Hide);
    QTest::newRow("left of the window") << QPoint(-1, 10) << false << int(BarChange::Keep);
}

void TestWallRules::barShowsAtTheTopEdge()
{
    QFETCH(QPoint, pointer);
    QFETCH(bool, visible);
    QFETCH(int, change);
    QCOMPARE(int(barChange(QSize(1920, 1080), pointer, visible, QRect(0, 0, 1920, 46))), change);
}

void TestWallRules::barAndIdentifyTexts()
{
    const QString dot = QStringLiteral(" \u00B7 ");
    QCOMPARE(barText(2, "Left", 2), "Display 2" + dot + "Left" + dot + "2 cameras" + dot + "Esc stops the wall");
    QCOMPARE(barText(1, "L", 1), "Display 1" + dot + "L" + dot + "1 camera" + dot + "Esc stops the wall");
    QVERIFY(identifyText(3, "<b>&").contains("&lt;b&gt;&amp;"));
    QVERIFY(identifyText(3, "x").contains(">3</div>"));
    // Small natural size: grown to the minimum and centred (inclusive edges).
    QCOMPARE(identifyGeometry(QRect(1920, 0, 1920, 1080), QSize(100, 100)), QRect(2669, 409, 420, 260));
    QCOMPARE(identifyGeometry(QRect(0, 0, 1920, 1080), QSize(600, 300)), QRect(659, 389, 600, 300));
}

void TestWallRules::assignWrapsToTheNextEmptyCell_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("selected");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("next");
    QTest::newRow("skips to the next empty") << "a,,b," << 2 << "a,,c," << 3;
    QTest::newRow("full: stays") << "a,b,c,d" << 3 << "a,b,c,c" << 3;
    QTest::newRow("wraps to the start") << ",b,c,d" << 3 << ",b,c,c" << 0;
    QTest::newRow("negative is the first cell") << ",,," << -1 << "c,,," << 1;
    QTest::newRow("beyond the end is the last cell") << ",,," << 9 << ",,,c" << 0;
}

void TestWallRules::assignWrapsToTheNextEmptyCell()
{
    QFETCH(QString, before);
    QFETCH(int, selected);
    QFETCH(QString, after);
    QFETCH(int, next);
    QList<QString> c = cells(before);
    QCOMPARE(assignToCell(c, selected, QStringLiteral("c")), next);
    QCOMPARE(joined(c), after);
    QList<QString> none;
    QCOMPARE(assignToCell(none, 2, QStringLiteral("c")), 2);
}

void TestWallRules::layoutChangeKeepsCamerasInOrder()
{
    ScreenConfig s = screenOf("k", "3x3", ",a,,,b,,,,c");
    changeLayout(s, QStringLiteral("2x2"));
    QCOMPARE(joined(s.cells), QStringLiteral("a,b,c,"));
    changeLayout(s, QStringLiteral("1x1"));
    QCOMPARE(joined(s.cells), QStringLiteral("a"));
    changeLayout(s, QStringLiteral("1+5"));
    QCOMPARE(joined(s.cells), QStringLiteral("a,,,,,"));
    QCOMPARE(s.layout, QStringLiteral("1+5"));
}

void TestWallRules::fillAndDrops_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("target");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("after");
    QTest::newRow("fill from the start") << "fill"
                                         << ",x,," << 0 << QStringList{"a", "b", "c"} << "a,x,b,c";
    QTest::newRow("fill runs out") << "fill"
                                   << ",x,y," << 0 << QStringList{"a", "b", "c"} << "a,x,y,b";
    QTest::newRow("drop three on cell 2, cell 3 filled") << "drop"
                                                         << ",,,d" << 2 << QStringList{"a", "b", "c"} << ",,a,d";
    QTest::newRow("drop skips filled cells") << "drop"
                                             << "x,,y,," << 0 << QStringList{"a", "b", "c"} << "a,b,y,c,";
    QTest::newRow("drop with no ids") << "drop"
                                      << "x,,," << 1 << QStringList{} << "x,,,";
    QTest::newRow("move to an empty cell") << "move"
                                           << "a,,," << 3 << QStringList{"0"} << ",,,a";
    QTest::newRow("move onto a camera swaps") << "move"
                                              << "a,b,," << 1 << QStringList{"0"} << "b,a,,";
    QTest::newRow("move onto itself") << "move"
                                      << "a,b,," << 0 << QStringList{"0"} << "a,b,,";
    QTest::newRow("move from beyond the cells") << "move"
                                                << "a,b,," << 0 << QStringList{"4"} << "a,b,,";
}

void TestWallRules::fillAndDrops()
{
    QFETCH(QString, op);
    QFETCH(QString, before);
    QFETCH(int, target);
    QFETCH(QStringList, ids);
    QFETCH(QString, after);
    QList<QString> c = cells(before);
    if (op == "fill")
        fillEmptyCells(c, ids);
    else if (op == "drop")
        dropCameras(c, target, camerasFromPayload(cameraPayload(ids)));
    else
        moveCell(c, ids.first().toInt(), target);
    QCOMPARE(joined(c), after);
    QCOMPARE(uniqueIds({"a", "b", "a", "c", "b"}), QStringList({"a", "b", "c"}));
    QCOMPARE(camerasFromPayload("a\n\nb\n"), QStringList({"a", "b"}));
}

void TestWallRules::cellPayloads_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("cell"); // -1: not a cell
    QTest::newRow("digit") << QByteArray("3") << 3;
    QTest::newRow("two digits") << QByteArray("119") << 119;
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("text") << QByteArray("cam1") << -1;
    QTest::newRow("sign") << QByteArray("-1") << -1;
    QTest::newRow("blank") << QByteArray(" 1") << -1;
    QTest::newRow("trailing") << QByteArray("1x") << -1;
    QTest::newRow("too big") << QByteArray("99999999999") << -1;
}

void TestWallRules::cellPayloads()
{
    QFETCH(QByteArray, payload);
    QFETCH(int, cell);
    QCOMPARE(cellFromPayload(payload).value_or(-1), cell);
    QCOMPARE(cellPayload(12), QByteArray("12"));
}

void TestWallRules::runStateTexts_data()
{
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("mine");
    QTest::addColumn<int>("windows");
    QTest::addColumn<int>("ready");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("status");
    QTest::newRow("idle, nothing ready") << false << false << 0 << 0 << "Start wall"
                                         << "Put cameras on a display to start.";
    QTest::newRow("idle, one ready") << false << false << 0 << 1 << "Start wall"
                                     << "1 display ready.";
    QTest::newRow("idle, two ready") << false << false << 0 << 2 << "Start wall"
                                     << "2 displays ready.";
    QTest::newRow("mine on one") << true << true << 1 << 2 << "Restart with changes"
                                 << "The wall is running on 1 display.";
    QTest::newRow("mine on none") << true << true << 0 << 0 << "Restart with changes"
                                  << "The wall is running on 0 displays.";
    QTest::newRow("another") << true << false << 2 << 1 << "Start wall"
                             << "A wall from another sign-in is running. Starting this one replaces it.";
}

void TestWallRules::runStateTexts()
{
    QFETCH(bool, running);
    QFETCH(bool, mine);
    QFETCH(int, windows);
    QFETCH(int, ready);
    QFETCH(QString, start);
    QFETCH(QString, status);
    const RunState s = runState(running, mine, windows, ready);
    QCOMPARE(s.stopVisible, running);
    QCOMPARE(s.startText, start);
    QCOMPARE(s.status, status);
}

void TestWallRules::editorTexts()
{
    const QString dot = QStringLiteral(" \u00B7 ");
    QCOMPARE(editorHeading(true, 2, "T", "L"), "Display 2" + dot + "T");
    QCOMPARE(editorHeading(false, 0, "", "L"), "L" + dot + "not connected");
    QVERIFY(editorNote(DisplayPlace::ThisWindow).startsWith("This is the display this window is on"));
    QVERIFY(editorNote(DisplayPlace::OtherConnected).isEmpty());
    QVERIFY(editorNote(DisplayPlace::NotConnected).startsWith("This display isn't connected."));
    QCOMPARE(aspectOf(QSize(1920, 1080)), 1920.0 / 1080.0);
    QCOMPARE(aspectOf(QSize(1920, 0)), 16.0 / 9.0);
    QCOMPARE(aspectOf(QSize(10, 1000)), 16.0 / 9.0);

    QList<Camera> cams{{"a", "Gate", "Gate", "", false},
                       {"b", "Door", "NVR", "", false},
                       {"c", "x", "", "", false},
                       {"a", "Gate 2", "NVR", "", false}};
    const QHash<QString, QString> t = previewTitles(cams);
    QCOMPARE(t.value("b"), "NVR" + dot + "Door");
    QCOMPARE(t.value("c"), QStringLiteral("x"));
    QCOMPARE(t.value("a"), "NVR" + dot + "Gate 2");
    QVERIFY(previewTitles({{"g", "Gate", "Gate", "", false}}).value("g") == "Gate");
}

void TestWallRules::mapBoxes()
{
    const QList<MapScreen> two{{"L", "Left", QRect(0, 0, 1920, 1080)}, {"R", "Right", QRect(1920, 0, 1920, 1080)}};
    QList<MapBox> boxes = VideoWall::mapBoxes(two, nullptr, QSize(560, 190));
    QCOMPARE(boxes.size(), 2);
    const double s = 544.0 / 3840.0;
    QCOMPARE(boxes.at(0), (MapBox{"L", QRectF(11, 21.5, s * 1920 - 6, s * 1080 - 6), "Left", 1}));
    QCOMPARE(boxes.at(1).rect.x(), 283.0);
    QCOMPARE(qRound(boxes.at(1).rect.width()), 266);
    QCOMPARE(qRound(boxes.at(1).rect.height()), 147);

    // Remembered displays with cameras go in a strip at the bottom; those
    // without are not shown; a map too small keeps only the strip.
    Config c;
    c.screens = {screenOf("L", "2x2", "a,,,"), screenOf("gone", "2x2", "a,b,,"), screenOf("empty", "2x2", ",,,")};
    boxes = VideoWall::mapBoxes(two, &c, QSize(560, 190));
    QCOMPARE(boxes.size(), 3);
    QCOMPARE(boxes.at(2), (MapBox{"gone", QRectF(8, 130, 200, 52), "gone label", 0}));
    QVERIFY(boxes.at(0).rect.bottom() < 130);
    boxes = VideoWall::mapBoxes(two, &c, QSize(560, 86));
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes.at(0).key, QStringLiteral("gone"));
    QVERIFY(VideoWall::mapBoxes({}, nullptr, QSize(560, 190)).isEmpty());
}

void TestWallRules::mapStates_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("ids");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("thisWindow");
    QTest::addColumn<QString>("text");
    const QString dot = QStringLiteral(" \u00B7 ");
    QTest::newRow("remembered") << 0 << "a,b,," << true << false << "Not connected";
    QTest::newRow("no cameras") << 1 << ",,," << true << false << "No cameras";
    QTest::newRow("three, off") << 2 << "a,b,c," << false << false << "3 cameras" + dot + "off";
    QTest::newRow("one, this window") << 1 << "a,,," << true << true << "1 camera" + dot + "this window";
}

void TestWallRules::mapStates()
{
    QFETCH(int, number);
    QFETCH(QString, ids);
    QFETCH(bool, enabled);
    QFETCH(bool, thisWindow);
    QFETCH(QString, text);
    const ScreenConfig s = screenOf("k", "2x2", ids, enabled);
    QCOMPARE(mapStateText(MapBox{"k", QRectF(), "t", number}, &s, thisWindow), text);
}

void TestWallRules::previewGeometry()
{
    const QRectF wide = previewArea(QSizeF(800, 316), 16.0 / 9.0);
    QCOMPARE(wide.height(), 300.0);
    QCOMPARE(qRound(wide.width() * 10), 5333);
    QCOMPARE(wide.y(), 8.0);
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
