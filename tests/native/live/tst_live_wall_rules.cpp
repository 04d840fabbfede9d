// The live wall's rules without a window: keys, layouts, quality, caps, the
// wall's order and limit, pages, the camera tree and its filter.

#include "app/core/ShownText.h"
#include "native/live/LiveWallRules.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <numeric>

using namespace kvr::services;
using namespace kvr::live;

using namespace LiveWallRules;

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
QStringList split(const char* list)
{
    return QString::fromLatin1(list).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}
} // namespace

class TestLiveWallRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keysParse()
    {
        // "" for a key that does not parse; otherwise "<device> <channel>".
        const std::pair<const char*, const char*> rows[] = {
            {"dev-1#3", "dev-1 3"}, {"a#b#12", "a#b 12"}, {"dev", ""},   {"#3", ""},
            {"dev#0", ""},          {"dev#-2", ""},       {"dev#x", ""}, {"dev#99999999999", ""},
            {"dev#0x1", ""},        {"dev#", ""},
        };
        for (const auto& [key, want] : rows) {
            const TileKey k = parseTileKey(QLatin1String(key));
            QCOMPARE(k.valid ? QStringLiteral("%1 %2").arg(k.deviceId).arg(k.channel) : QString(), QLatin1String(want));
            if (k.valid)
                QCOMPARE(tileKey(k.deviceId, k.channel), QLatin1String(key));
        }
    }

    void layoutsPagesAndLoad()
    {
        // The grid's rows: a layout of the table keeps all its cells whatever
        // the cameras that fill them; Auto fits them.
        struct Layout {
            int layout;
            bool playback;
            int n, perPage, columns, rows, gridRows;
        } layouts[] = {
            {0, false, 7, 16, 3, 3, 3},       {0, false, 4, 16, 2, 2, 2},     {0, false, 16, 16, 4, 4, 4},
            {0, false, 0, 16, 1, 1, 1},       {0, true, 3, 4, 2, 2, 2},       {9, false, 5, 16, 3, 2, 2},
            {-1, true, 4, 4, 2, 2, 2},        {1, false, 1, 1, 1, 1, 1},      {2, true, 4, 4, 2, 2, 2},
            {2, false, 1, 4, 2, 1, 2},        {3, false, 9, 9, 3, 3, 3},      {4, false, 4, 16, 4, 1, 4},
            {5, false, 36, 36, 6, 6, 6},      {5, false, 4, 36, 6, 1, 6},     {6, false, 64, 64, 8, 8, 8},
            {7, false, 120, 120, 12, 10, 10}, {7, false, 10, 120, 12, 1, 10},
        };
        for (const Layout& l : layouts) {
            const int columns = columnsFor(l.layout, l.n);
            QCOMPARE((QList<int>{perPage(l.layout, l.playback), columns, rowsFor(l.n, columns),
                                 gridRowsFor(l.layout, l.n, columns)}),
                     (QList<int>{l.perPage, l.columns, l.rows, l.gridRows}));
        }
        QCOMPARE((QList<int>{clampLayout(9), clampLayout(-1), clampQuality(-3), clampQuality(5)}),
                 (QList<int>{7, 0, 0, 2}));

        struct Load {
            int n, quality;
            bool focused, main, mainPlayback;
            double cap;
            bool hardware;
        } loads[] = {
            {4, 0, false, true, true, 0.0, true},    {5, 0, false, false, true, 15.0, true},
            {6, 0, false, false, true, 15.0, true},  {7, 0, false, false, true, 15.0, false},
            {9, 0, false, false, true, 15.0, false}, {10, 0, false, false, true, 10.0, false},
            {1, 1, false, false, false, 0.0, true},  {36, 2, false, true, true, 10.0, false},
            {1, 1, true, true, true, 0.0, true},     {120, 0, false, false, true, 10.0, false},
        };
        for (const Load& l : loads) {
            QCOMPARE(tileUsesMain(l.n, l.quality, l.focused), l.main);
            QCOMPARE(tileUsesMainPlayback(l.quality, l.focused), l.mainPlayback);
            QCOMPARE(fpsCapFor(l.n), l.cap);
            QCOMPARE(hardwareDecodeFor(l.n), l.hardware);
        }

        struct Row {
            int size, per, page, pages, clamped, shown;
        } rows[] = {
            {0, 16, 3, 0, 0, 0},  {16, 16, 0, 1, 0, 16},   {17, 16, 5, 2, 1, 1},
            {30, 4, -2, 8, 0, 4}, {130, 120, 1, 2, 1, 10}, {20, 4, 1, 5, 1, 4},
        };
        for (const Row& r : rows) {
            const QStringList wall = keys(QStringLiteral("d"), 1, r.size);
            const int page = clampPage(r.page, r.size, r.per);
            const QStringList slice = pageSlice(wall, page, r.per);
            QCOMPARE((QList<int>{pageCount(r.size, r.per), page, int(slice.size())}),
                     (QList<int>{r.pages, r.clamped, r.shown}));
            if (!slice.isEmpty())
                QCOMPARE(slice.first(), wall.at(page * r.per));
        }
    }

    // Ticks, "Add all online" and the wall kept when the page shows.
    void mergeAddAndReduce()
    {
        // A new tick goes to the end whatever its place in the tree.
        WallMerge m = mergeTicked(split("b#2 a#1"), split("a#1 a#2 b#2"));
        QCOMPARE(m.wall, split("b#2 a#1 a#2"));
        QVERIFY(!m.over);
        // Unticked keys leave; nothing else moves.
        QCOMPARE(mergeTicked(m.wall, split("a#2 b#2")).wall, split("b#2 a#2"));
        // 300 ticked on an empty wall: the first 256 in tree order stay.
        const QStringList ticked = keys(QStringLiteral("site"), 1, 300);
        m = mergeTicked({}, ticked);
        QVERIFY(m.over);
        QCOMPARE(m.wall, ticked.mid(0, 256));
        // 256 fit; one more is over.
        QCOMPARE((QList<bool>{mergeTicked({}, ticked.mid(0, 256)).over, mergeTicked({}, ticked.mid(0, 257)).over}),
                 (QList<bool>{false, true}));

        Native::Device a = device(QStringLiteral("a"), QString(), 4, {1, 3, -2}, {3});
        Native::Device b = device(QStringLiteral("b"), QString(), 2, {1, 2});
        Native::Device off = device(QStringLiteral("off"), QString(), 2, {1, 2});
        off.enabled = false;
        const QStringList got = addAllOnline(split("b#2"), {a, b, off});
        QCOMPARE(got, split("b#2 a#1 b#1"));
        QCOMPARE(addAllOnline(got, {a, b, off}), got);
        QList<int> all(256);
        std::iota(all.begin(), all.end(), 1);
        const QStringList full = addAllOnline(split("x#1"), {device(QStringLiteral("big"), QString(), 256, all)});
        QCOMPARE(full.mid(255), QStringList{QStringLiteral("big#255")}); // 256 in all

        a.ignored = {2};
        const QList<Native::Device> list{a, off};
        const DeviceLookup lookup = [&](const QString& id) -> const Native::Device* {
            for (const Native::Device& d : list)
                if (d.id == id)
                    return &d;
            return nullptr;
        };
        const QStringList wall = split("a#1 a#2 a#5 off#1 gone#1 a#x a#4");
        QCOMPARE(reduceWall(wall, lookup, true), split("a#1 a#4"));
        QCOMPARE(reduceWall(wall, lookup, false), split("a#1 a#2 a#5 off#1 a#4"));
    }

    // Names of any length (kept by an old inventory) reach the tree and the
    // video wall's titles cut to what a line shows, before they are laid out.
    void treeNamesOfAnyLengthAreCut()
    {
        const QString huge = QString(100 * 1000, QLatin1Char('x'));
        Native::Site s;
        s.id = QStringLiteral("s1");
        s.name = QStringLiteral("Depot ") + huge;
        Native::Device a = device(QStringLiteral("a"), QStringLiteral("s1"), 2, {1, 2});
        a.name = QStringLiteral("Gate ") + huge;
        a.ip = QStringLiteral("gate-") + huge;
        a.cameras[0].name = QStringLiteral("Lane ") + huge;
        const QList<TreeSite> tree = buildTree({s}, {a}, {});
        QCOMPARE(tree.size(), 1);
        QStringList texts{tree[0].name, tree[0].devices[0].name, tree[0].devices[0].toolTip};
        for (const TreeCamera& c : tree[0].devices[0].cameras)
            texts << c.text;
        for (const QString& t : std::as_const(texts))
            QVERIFY2(t.size() <= kvr::core::tun::kShownLineChars + 8, qPrintable(t.left(20)));
        QVERIFY(texts[0].startsWith(QStringLiteral("Depot xx")));
        QVERIFY(texts[3].startsWith(QStringLiteral("1  Lane xx")));
        QCOMPARE(texts[4], QStringLiteral("2  Camera 2"));
    }

    void treeRowsAndFilter()
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
        none.name.clear(); // named by what the recorder calls itself
        none.health.deviceName = QStringLiteral("Yard NVR");
        Native::Device orphan = device(QStringLiteral("o"), QStringLiteral("missing"), 1);
        Native::Device disabled = device(QStringLiteral("d"), QStringLiteral("s2"), 1);
        disabled.enabled = false;
        const QList<TreeSite> tree = buildTree({s1, s2}, {a, none, orphan, disabled}, {QStringLiteral("a#2")});
        QStringList rows;
        for (const TreeSite& s : tree) {
            rows << s.name + (s.named ? "" : " (unnamed)");
            for (const TreeDevice& d : s.devices) {
                rows << "  " + d.name + " " + d.toolTip;
                for (const TreeCamera& c : d.cameras)
                    rows << "    " + c.text + (c.ticked ? " ticked" : "") + (c.offline ? " offline" : "");
            }
        }
        // Channel 3 is ignored; "No site" lists only devices with an empty site id.
        QCOMPARE(rows,
                 (QStringList{"Depot", "  NVR a 10.0.0.5:8080", "    1  Gate", "    2  Camera 2 ticked offline",
                              "No site (unnamed)", "  Yard NVR 10.0.0.5:8080", "    1  Camera 1"}));

        const std::tuple<const char*, bool, QList<bool>> filters[] = {
            {"  ", true, {true, true}},    {"depot", true, {true, true}},  {"NVR", true, {true, true}},
            {"gate", true, {true, false}}, {"zzz", false, {false, false}},
        };
        for (const auto& [text, shown, cameras] : filters) {
            const DeviceFilter f = filterDevice(QLatin1String(text), QStringLiteral("Depot"), QStringLiteral("NVR a"),
                                                {QStringLiteral("1  Gate"), QStringLiteral("2  Yard")});
            QCOMPARE(f.deviceShown, shown);
            QCOMPARE(f.camerasShown, cameras);
        }
        // Names compare in one normal form: "é" typed as one character finds
        // it stored as "e" and its accent.
        QVERIFY(filterDevice(QStringLiteral("CAF\u00c9"), QStringLiteral("Cafe\u0301"), QStringLiteral("d"),
                             {QStringLiteral("1  x")})
                    .deviceShown);
        QCOMPARE(filterDevice(QStringLiteral("entre\u0301e"), QStringLiteral("s"), QStringLiteral("d"),
                              {QStringLiteral("1  Entr\u00e9e"), QStringLiteral("2  Cour")})
                     .camerasShown,
                 QList<bool>({true, false}));
        // A matching device with no camera is not shown.
        QVERIFY(!filterDevice(QString(), QStringLiteral("s"), QStringLiteral("d"), {}).deviceShown);
    }
};

KVR_TEST_MAIN(TestLiveWallRules)

#include "tst_live_wall_rules.moc"
