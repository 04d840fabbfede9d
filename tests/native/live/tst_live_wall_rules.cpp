// The live wall's rules without a window: keys, layouts, quality, caps, the
// wall's order and limit, pages, the camera tree and its filter, texts.

#include "native/live/WallRules.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

using namespace WallRules;

namespace {
Native::Device device(const QString& id, const QString& site, int channels, const QList<int>& online = {},
                      const QList<int>& ignored = {})
{
    Native::Device d;
    d.id = id;
    d.siteId = site;
    d.name = QStringLiteral("NVR ") + id;
    d.ip = QStringLiteral("10.0.0.5");
    d.httpPort = 8080;
    d.channels = channels;
    d.ignored = ignored;
    for (int c = 1; c <= channels; ++c) {
        Native::Camera cam;
        cam.channelId = c;
        cam.onlineKnown = online.contains(c) || online.contains(-c);
        cam.online = online.contains(c);
        d.cameras << cam;
    }
    return d;
}
QStringList keys(const QString& id, int from, int to)
{
    QStringList out;
    for (int c = from; c <= to; ++c)
        out << tileKey(id, c);
    return out;
}
} // namespace

class TestLiveWallRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keysParse_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("channel");
        QTest::newRow("plain") << "dev-1#3" << true << "dev-1" << 3;
        QTest::newRow("hash in id") << "a#b#12" << true << "a#b" << 12;
        QTest::newRow("no hash") << "dev" << false << "" << 0;
        QTest::newRow("leading hash") << "#3" << false << "" << 0;
        QTest::newRow("channel zero") << "dev#0" << false << "dev" << 0;
        QTest::newRow("negative") << "dev#-2" << false << "dev" << 0;
        QTest::newRow("not a number") << "dev#x" << false << "dev" << 0;
        QTest::newRow("too big") << "dev#99999999999" << false << "dev" << 0;
        QTest::newRow("hex is not decimal") << "dev#0x1" << false << "dev" << 0;
        QTest::newRow("empty channel") << "dev#" << false << "dev" << 0;
    }
    void keysParse()
    {
        QFETCH(QString, key);
        const TileKey k = parseTileKey(key);
        QCOMPARE(k.valid, FETCH(bool, valid));
        if (k.valid) {
            QCOMPARE(k.deviceId, FETCH(QString, device));
            QCOMPARE(k.channel, FETCH(int, channel));
            QCOMPARE(tileKey(k.deviceId, k.channel), key);
        }
    }

    void layoutTable_data()
    {
        QTest::addColumn<int>("layout");
        QTest::addColumn<bool>("playback");
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("perPage");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("auto 7 live") << 0 << false << 7 << 16 << 3 << 3;
        QTest::newRow("auto 4 live") << 0 << false << 4 << 16 << 2 << 2;
        QTest::newRow("auto 16") << 0 << false << 16 << 16 << 4 << 4;
        QTest::newRow("auto 1") << 0 << false << 1 << 16 << 1 << 1;
        QTest::newRow("auto 0") << 0 << false << 0 << 16 << 1 << 1;
        QTest::newRow("auto playback") << 0 << true << 3 << 4 << 2 << 2;
        QTest::newRow("out of range is auto") << 9 << false << 5 << 16 << 3 << 2;
        QTest::newRow("negative is auto") << -1 << true << 4 << 4 << 2 << 2;
        QTest::newRow("single") << 1 << false << 1 << 1 << 1 << 1;
        QTest::newRow("2x2") << 2 << true << 4 << 4 << 2 << 2;
        QTest::newRow("3x3") << 3 << false << 9 << 9 << 3 << 3;
        QTest::newRow("4x4") << 4 << false << 16 << 16 << 4 << 4;
        QTest::newRow("6x6") << 5 << false << 36 << 36 << 6 << 6;
        QTest::newRow("8x8") << 6 << false << 64 << 64 << 8 << 8;
        QTest::newRow("12x10 full") << 7 << false << 120 << 120 << 12 << 10;
        QTest::newRow("12x10 ten") << 7 << false << 10 << 120 << 12 << 1;
    }
    void layoutTable()
    {
        QFETCH(int, layout);
        QFETCH(int, n);
        QCOMPARE(perPage(layout, FETCH(bool, playback)), FETCH(int, perPage));
        const int columns = columnsFor(layout, n);
        QCOMPARE(columns, FETCH(int, columns));
        QCOMPARE(rowsFor(n, columns), FETCH(int, rows));
    }

    void storedChoicesClamp()
    {
        QCOMPARE(clampLayout(9), 7);
        QCOMPARE(clampLayout(-1), 0);
        QCOMPARE(clampQuality(-3), 0);
        QCOMPARE(clampQuality(5), 2);
        QCOMPARE(layoutLabels().size(), kLayoutCount);
        QCOMPARE(layoutLabels().last(), QStringLiteral("12\u00d710"));
    }

    void loadLimits_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("quality");
        QTest::addColumn<bool>("focused");
        QTest::addColumn<bool>("main");
        QTest::addColumn<bool>("mainPlayback");
        QTest::addColumn<double>("cap");
        QTest::addColumn<bool>("hardware");
        QTest::newRow("auto 4") << 4 << 0 << false << true << true << 0.0 << true;
        QTest::newRow("auto 5") << 5 << 0 << false << false << true << 15.0 << true;
        QTest::newRow("auto 6") << 6 << 0 << false << false << true << 15.0 << true;
        QTest::newRow("auto 7") << 7 << 0 << false << false << true << 15.0 << false;
        QTest::newRow("auto 9") << 9 << 0 << false << false << true << 15.0 << false;
        QTest::newRow("auto 10") << 10 << 0 << false << false << true << 10.0 << false;
        QTest::newRow("sub 1") << 1 << 1 << false << false << false << 0.0 << true;
        QTest::newRow("main 36") << 36 << 2 << false << true << true << 10.0 << false;
        QTest::newRow("focused sub") << 1 << 1 << true << true << true << 0.0 << true;
        QTest::newRow("12x10 page") << 120 << 0 << false << false << true << 10.0 << false;
    }
    void loadLimits()
    {
        QFETCH(int, n);
        QFETCH(int, quality);
        QFETCH(bool, focused);
        QCOMPARE(tileUsesMain(n, quality, focused), FETCH(bool, main));
        QCOMPARE(tileUsesMainPlayback(quality, focused), FETCH(bool, mainPlayback));
        QCOMPARE(fpsCapFor(n), FETCH(double, cap));
        QCOMPARE(hardwareDecodeFor(n), FETCH(bool, hardware));
    }

    void pages_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("per");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("clamped");
        QTest::addColumn<int>("shown");
        QTest::newRow("empty") << 0 << 16 << 3 << 0 << 0 << 0;
        QTest::newRow("one page") << 16 << 16 << 0 << 1 << 0 << 16;
        QTest::newRow("beyond last") << 17 << 16 << 5 << 2 << 1 << 1;
        QTest::newRow("negative") << 30 << 4 << -2 << 8 << 0 << 4;
        QTest::newRow("130 on 12x10 p2") << 130 << 120 << 1 << 2 << 1 << 10;
        QTest::newRow("20 playback p2") << 20 << 4 << 1 << 5 << 1 << 4;
    }
    void pages()
    {
        QFETCH(int, size);
        QFETCH(int, per);
        QCOMPARE(pageCount(size, per), FETCH(int, pages));
        const int page = clampPage(FETCH(int, page), size, per);
        QCOMPARE(page, FETCH(int, clamped));
        QStringList wall;
        for (int i = 0; i < size; ++i)
            wall << tileKey(QStringLiteral("d"), i + 1);
        const QStringList slice = pageSlice(wall, page, per);
        QCOMPARE(int(slice.size()), FETCH(int, shown));
        if (!slice.isEmpty())
            QCOMPARE(slice.first(), wall.at(page * per));
    }

    void mergeKeepsOrderAndCap()
    {
        // A new tick goes to the end whatever its place in the tree.
        const QStringList wall{QStringLiteral("b#2"), QStringLiteral("a#1")};
        WallMerge m = mergeTicked(wall, {QStringLiteral("a#1"), QStringLiteral("a#2"), QStringLiteral("b#2")});
        QCOMPARE(m.wall, (QStringList{QStringLiteral("b#2"), QStringLiteral("a#1"), QStringLiteral("a#2")}));
        QVERIFY(!m.over);
        // Unticked keys leave; nothing else moves.
        m = mergeTicked(m.wall, {QStringLiteral("a#2"), QStringLiteral("b#2")});
        QCOMPARE(m.wall, (QStringList{QStringLiteral("b#2"), QStringLiteral("a#2")}));
        // 300 ticked on an empty wall: the first 256 in tree order stay.
        const QStringList ticked = keys(QStringLiteral("site"), 1, 300);
        m = mergeTicked({}, ticked);
        QVERIFY(m.over);
        QCOMPARE(m.wall.size(), 256);
        QCOMPARE(m.wall, ticked.mid(0, 256));
        // Exactly 256 is not over.
        QVERIFY(!mergeTicked({}, ticked.mid(0, 256)).over);
    }

    void addAllOnlineRules()
    {
        Native::Device a = device(QStringLiteral("a"), QString(), 4, {1, 3, -2}, {3});
        Native::Device b = device(QStringLiteral("b"), QString(), 2, {1, 2});
        Native::Device off = device(QStringLiteral("c"), QString(), 2, {1, 2});
        off.enabled = false;
        const QStringList got = addAllOnline({QStringLiteral("b#2")}, {a, b, off});
        QCOMPARE(got, (QStringList{QStringLiteral("b#2"), QStringLiteral("a#1"), QStringLiteral("b#1")}));
        // Nothing new: the same list.
        QCOMPARE(addAllOnline(got, {a, b, off}), got);
        // Never beyond 256.
        QList<int> all;
        for (int c = 1; c <= 256; ++c)
            all << c;
        Native::Device big = device(QStringLiteral("big"), QString(), 256, all);
        QStringList full = addAllOnline({QStringLiteral("x#1")}, {big});
        QCOMPARE(full.size(), 256);
        QCOMPARE(full.last(), QStringLiteral("big#255"));
    }

    void reduceOnShowAndOnChange()
    {
        Native::Device a = device(QStringLiteral("a"), QString(), 4, {}, {2});
        Native::Device off = device(QStringLiteral("off"), QString(), 2);
        off.enabled = false;
        const QList<Native::Device> list{a, off};
        const DeviceLookup lookup = [&](const QString& id) -> const Native::Device* {
            for (const Native::Device& d : list)
                if (d.id == id)
                    return &d;
            return nullptr;
        };
        const QStringList wall{QStringLiteral("a#1"),   QStringLiteral("a#2"),    QStringLiteral("a#5"),
                               QStringLiteral("off#1"), QStringLiteral("gone#1"), QStringLiteral("a#x"),
                               QStringLiteral("a#4")};
        QCOMPARE(reduceWall(wall, lookup, true), (QStringList{QStringLiteral("a#1"), QStringLiteral("a#4")}));
        QCOMPARE(reduceWall(wall, lookup, false),
                 (QStringList{QStringLiteral("a#1"), QStringLiteral("a#2"), QStringLiteral("a#5"),
                              QStringLiteral("off#1"), QStringLiteral("a#4")}));
    }

    void treeRows()
    {
        Native::Site s1;
        s1.id = QStringLiteral("s1");
        s1.name = QStringLiteral("Depot");
        Native::Site s2;
        s2.id = QStringLiteral("s2");
        s2.name = QStringLiteral("Empty site");
        Native::Device a = device(QStringLiteral("a"), QStringLiteral("s1"), 3, {1, -2}, {3});
        a.cameras[0].name = QStringLiteral("Gate");
        Native::Device none = device(QStringLiteral("n"), QString(), 1);
        Native::Device orphan = device(QStringLiteral("o"), QStringLiteral("missing"), 1);
        Native::Device disabled = device(QStringLiteral("d"), QStringLiteral("s2"), 1);
        disabled.enabled = false;
        const QList<TreeSite> tree = buildTree({s1, s2}, {a, none, orphan, disabled}, {QStringLiteral("a#2")});
        QCOMPARE(tree.size(), 2);
        QCOMPARE(tree[0].name, QStringLiteral("Depot"));
        QCOMPARE(tree[0].devices.size(), 1);
        const TreeDevice& td = tree[0].devices[0];
        QCOMPARE(td.toolTip, QStringLiteral("10.0.0.5:8080"));
        QCOMPARE(td.cameras.size(), 2); // channel 3 is ignored
        QCOMPARE(td.cameras[0].text, QStringLiteral("1  Gate"));
        QCOMPARE(td.cameras[1].text, QStringLiteral("2  Camera 2"));
        QVERIFY(!td.cameras[0].ticked && td.cameras[1].ticked);
        QVERIFY(!td.cameras[0].offline && td.cameras[1].offline);
        // "No site" lists only devices with an empty site id.
        QCOMPARE(tree[1].name, QStringLiteral("No site"));
        QVERIFY(!tree[1].named);
        QCOMPARE(tree[1].devices.size(), 1);
        QCOMPARE(tree[1].devices[0].name, QStringLiteral("NVR n"));
    }

    void treeFilter_data()
    {
        QTest::addColumn<QString>("filter");
        QTest::addColumn<bool>("device");
        QTest::addColumn<QList<bool>>("cameras");
        QTest::newRow("empty") << "  " << true << QList<bool>{true, true};
        QTest::newRow("site name") << "depot" << true << QList<bool>{true, true};
        QTest::newRow("device name") << "NVR" << true << QList<bool>{true, true};
        QTest::newRow("camera only") << "gate" << true << QList<bool>{true, false};
        QTest::newRow("nothing") << "zzz" << false << QList<bool>{false, false};
    }
    void treeFilter()
    {
        const DeviceFilter f = filterDevice(FETCH(QString, filter), QStringLiteral("Depot"), QStringLiteral("NVR a"),
                                            {QStringLiteral("1  Gate"), QStringLiteral("2  Yard")});
        QCOMPARE(f.deviceShown, FETCH(bool, device));
        QCOMPARE(f.camerasShown, FETCH(QList<bool>, cameras));
        // A matching device with no camera is not shown.
        QVERIFY(!filterDevice(QString(), QStringLiteral("s"), QStringLiteral("d"), {}).deviceShown);
    }

    void texts()
    {
        QCOMPARE(wallHint(0), QStringLiteral("No cameras on the wall"));
        QCOMPARE(wallHint(3), QStringLiteral("3 on the wall"));
        QCOMPARE(titleText(true, false, 5), QStringLiteral("Single camera"));
        QCOMPARE(titleText(false, false, 1), QStringLiteral("Live wall \u00b7 1 camera"));
        QCOMPARE(titleText(false, true, 20), QStringLiteral("Playback \u00b7 20 cameras"));
        QCOMPARE(titleText(false, true, 0), QStringLiteral("Playback"));
        QCOMPARE(capNotice(), QStringLiteral("The wall holds up to 256 cameras"));
        QCOMPARE(emptyText(false),
                 QStringLiteral("No devices yet. Add one in Vigilo, then come back to watch it live."));
        QCOMPARE(emptyAction(false), QStringLiteral("Open Vigilo"));
        QCOMPARE(emptyText(true), QStringLiteral("Tick cameras on the left to build a wall."));
        QCOMPARE(emptyAction(true), QStringLiteral("Add all online cameras"));
    }
};

KVR_TEST_MAIN(TestLiveWallRules)
#include "tst_live_wall_rules.moc"
