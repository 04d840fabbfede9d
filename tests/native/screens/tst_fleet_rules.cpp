// The rules of the fleet page without a window: status, filters, the summary
// cards, row contents and order, rebuild pacing and the import notice; and
// the row painter, rendered to an image and sampled.

#include "app/core/Settings.h"
#include "app/ui/ColumnFill.h"
#include "native/screens/DeviceTable.h"
#include "native/screens/FleetCache.h"
#include "native/screens/FleetRules.h"
#include "native/screens/NativeStyle.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/AuditPaint.h"
#include "tests/support/TestKit.h"

#include <QHeaderView>
#include <QImage>
#include <QLocale>
#include <QMap>
#include <QSet>
#include <QTableView>

using namespace kvr::core;
using namespace kvr::services;
using namespace kvr::screens;

using namespace FleetRules;
using namespace screenskit;

namespace {

Native::Device withHealth(Native::Device d, const std::function<void(Native::Health&)>& edit)
{
    edit(d.health);
    return d;
}

RowInputs inputs()
{
    RowInputs in;
    in.now = testNow();
    in.dayLabels = dayLabels(testNow().date());
    return in;
}

Filters filterBy(const char* search, int status = 0, const char* brand = "", int internet = 0, int network = 0)
{
    return {QString::fromLatin1(search), status, QString::fromLatin1(brand), internet, network};
}

Cell makeCell(const char* text, int kind, const QString& sub = {}, const QString& tip = {})
{
    return {QString::fromUtf8(text), kind, sub, tip, QColor(), {}};
}

// A cell as "text | kind | sub | tip", after the case's name.
QString describe(const char* name, const Cell& c)
{
    return QStringLiteral("%1: %2 | %3 | %4 | %5").arg(QString::fromUtf8(name), c.text).arg(c.kind).arg(c.sub, c.tip);
}

} // namespace

class FleetRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusInternetIssueAndFilters();
    void cardsAndHighlights();
    void rowCellsRecordingLevelsAndUptime();
    void orderIsStableAndWorstFirst();
    void pacing();
    void importNotice();
    void modelUpdatesInPlace();
    void painterColours();
    void orderAndSearchFollowWhatDevicesAreListedBy();
    void aFleetThatGrowsKeepsItsEntries();
    void namesAlikeReadApartInColumnsKeptBetweenStarts();
};

void FleetRulesTest::statusInternetIssueAndFilters()
{
    Native::Device offUp = up("x"); // checked and found up, then deactivated
    offUp.enabled = false;
    const std::tuple<Native::Device, Status, bool> states[] = {
        {fresh("a"), Status::NotChecked, false},
        {up("a"), Status::Online, false},
        {down("a"), Status::Offline, false},
        {disabled("a"), Status::Deactivated, false},
        {withHealth(down("a"), [](Native::Health& h) { h.internet = Native::Passed; }), Status::Offline, true},
        {withHealth(up("a"), [](Native::Health& h) { h.rtspPort = Native::Failed; }), Status::Online, true},
        {withHealth(up("a"), [](Native::Health& h) { h.httpPort = Native::Failed; }), Status::Online, true},
        {withHealth(up("a"), [](Native::Health& h) { h.rtspPort = Native::NotTested; }), Status::Online, false},
        {withHealth(offUp, [](Native::Health& h) { h.rtspPort = Native::Failed; }), Status::Deactivated, false},
    };
    for (const auto& [device, status, issue] : states) {
        QCOMPARE(int(statusOf(device)), int(status));
        QCOMPARE(hasInternetIssue(device), issue);
    }
    Native::Device gate = up("Front Gate NVR");
    gate.ip = QStringLiteral("10.0.0.7");
    const Native::Device poor = withHealth(up("x"), [](Native::Health& h) { h.quality = QStringLiteral("Poor"); });
    Native::Device unnamed = gate; // shown by the name it reported
    unnamed.name.clear();
    const std::tuple<const char*, Native::Device, const char*, Filters, bool> cases[] = {
        {"search by the reported name of an unnamed device", unnamed, "", filterBy("front gate"), true},
        {"search trimmed, other case", gate, "", filterBy("  gate nvr "), true},
        {"search by address", gate, "", filterBy("0.0.7"), true},
        {"search by site", gate, "Warehouse", filterBy("WARE"), true},
        {"search misses", gate, "Warehouse", filterBy("lobby"), false},
        {"status online", gate, "", filterBy("", OnlineOnly), true},
        {"status not checked", fresh("x"), "", filterBy("", NotCheckedOnly), true},
        {"status deactivated", disabled("x"), "", filterBy("", DeactivatedOnly), true},
        {"brand case matters", gate, "", filterBy("", 0, "hikvision"), false},
        {"internet offline", down("x"), "", filterBy("", 0, "", InternetDown), true},
        {"internet reads the stored state of a deactivated device", offUp, "", filterBy("", 0, "", InternetUp), true},
        {"internet issues exclude deactivated", offUp, "", filterBy("", 0, "", InternetIssues), false},
        {"network degraded", gate, "", filterBy("", 0, "", 0, NetDegraded), false},
        {"network poor", poor, "", filterBy("", 0, "", 0, NetPoor), true},
        {"network not checked", fresh("x"), "", filterBy("", 0, "", 0, NetNotChecked), true},
    };
    for (const auto& [name, device, site, filters, passes] : cases)
        QVERIFY2(matches(device, filters, QString::fromLatin1(site)) == passes, name);
    // Names compare in one normal form: "é" typed as one character finds it
    // stored as "e" and its accent, in a device's name and a site's.
    Filters cafe = filterBy("");
    cafe.search = QStringLiteral("CAF\u00c9");
    QVERIFY(matches(up("Cafe\u0301 Nord"), cafe, QString()));
    cafe.search = QStringLiteral("cafe\u0301");
    QVERIFY(matches(gate, cafe, QStringLiteral("Caf\u00e9 Sud")));
}

void FleetRulesTest::cardsAndHighlights()
{
    // Ten devices, three deactivated; of the seven active two are online.
    QList<Native::Device> ten;
    for (int i = 0; i < 3; ++i)
        ten << disabled(QStringLiteral("off%1").arg(i));
    ten << up("u1", QStringLiteral("s1"), 2) << up("u2", QStringLiteral("s2"), 2);
    for (int i = 0; i < 5; ++i)
        ten << fresh(QStringLiteral("n%1").arg(i), QString(), 1);
    // Latencies 10, 20, 30, 40: the upper middle, 30. Disk texts only exact.
    QList<Native::Device> lat;
    const int ms[] = {40, 10, 30, 20};
    const char* hdd[] = {"OK", "ok", "Fault", "Faulty"};
    for (int i = 0; i < 4; ++i) {
        lat << up(QStringLiteral("l%1").arg(i), {}, 1);
        lat.last().health.latencyMs = ms[i];
        lat.last().health.hdd = QString::fromLatin1(hdd[i]);
    }
    lat[3].cameras[0].online = false;
    Native::Device notRecording = up("nr", {}, 1);
    notRecording.health.recordingDays = 0;
    notRecording.health.recordingWindow = 30;
    const Native::Device issue = withHealth(up("ii", {}, 1), [](Native::Health& h) { h.rtspPort = Native::Failed; });
    const Native::Device refused = down("r", {}, 1);
    // Each card as "value (detail)", the detail left out when hidden.
    using Devices = QList<Native::Device>;
    // clang-format off
    const std::tuple<Devices, const char*> cases[] = {
        {Devices{}, "0 (0 sites · 0 cameras), 0, 0 (none down), 0, 0, 0"},
        {Devices{up("one", QStringLiteral("s1"), 1)}, "1 (1 site · 1 camera), 1 (100% of active), 0 (none down), 0 (of 1 watched), 0 (median 12 ms), 0 (1 recorder OK)"},
        {ten, "10 (2 sites · 9 cameras · 3 off), 2 (28% of active), 0 (none down), 0 (of 9 watched), 0 (median 12 ms), 0 (2 recorders OK)"},
        // Two online of three active: 66, not 67; one down whose login was refused.
        {Devices{up("a", {}, 1), up("b", {}, 1), refused}, "3 (0 sites · 3 cameras), 2 (66% of active), 1 (1 login refused), 0 (of 3 watched), 0 (median 12 ms), 0 (2 recorders OK)"},
        {lat, "4 (0 sites · 4 cameras), 4 (100% of active), 0 (none down), 1 (of 4 watched), 0 (median 30 ms), 1 (1 recorder OK)"},
        // Not recording wins over recorders OK; an internet issue.
        {Devices{notRecording, up("ok", {}, 1), issue}, "3 (0 sites · 3 cameras), 3 (100% of active), 0 (none down), 0 (of 3 watched), 1 (median 12 ms), 0 (1 not recording)"},
        {Devices{down("d", {}, 0)}, "1 (0 sites · 1 camera), 0 (0% of active), 1 (not answering), 0 (of 1 watched), 0, 0"},
    };
    // clang-format on
    for (const auto& [devices, expected] : cases) {
        const auto cards = cardTexts(countFleet(devices, [&](const QString& id) { return id == refused.id; }));
        QCOMPARE(lines(cards,
                       [](const CardText& t) { return t.detail.isEmpty() ? t.value : t.value + " (" + t.detail + ")"; })
                     .join(QStringLiteral(", ")),
                 QString::fromUtf8(expected));
    }
    // The filters and the one card they light, -1: none.
    const std::tuple<Filters, int> lights[] = {
        {Filters(), CardDevices},
        {filterBy("   "), CardDevices}, // spaces narrow nothing
        {filterBy("", OnlineOnly), CardOnline},
        {filterBy("  ", OnlineOnly), -1}, // an untrimmed search spoils Online
        {filterBy("", OfflineOnly), CardOffline},
        {filterBy("", OfflineOnly, "DAHUA"), -1},
        {filterBy("", 0, "", InternetIssues), CardInternetIssues},
        {filterBy("", OnlineOnly, "", InternetIssues), -1},
    };
    for (const auto& [filters, card] : lights) {
        std::array<bool, kCardCount> lit{};
        if (card >= 0)
            lit[size_t(card)] = true;
        QCOMPARE(cardHighlights(filters), lit);
    }
}

void FleetRulesTest::rowCellsRecordingLevelsAndUptime()
{
    Native::Device nvr = up("NVR", {}, 1);
    nvr.ip = QStringLiteral("10.1.1.6");
    nvr.httpPort = 80;
    nvr.health.fetchedAt = testNow().addSecs(-3 * 3600);
    auto rec = [](int days, int window) {
        return withHealth(up("a"), [days, window](Native::Health& h) {
            h.recordingDays = days;
            h.recordingWindow = window;
        });
    };
    Native::Device uniview = rec(5, 0);
    uniview.manufacturer = QStringLiteral("UNIVIEW");
    auto drift = [&rec](int secs) {
        Native::Device d = rec(30, 30);
        d.health.fetchedAt = testNow().addSecs(-600);
        d.health.deviceTime = d.health.fetchedAt.addSecs(secs).toString(Qt::ISODate);
        return d;
    };
    Native::Device cams = up("a", {}, 4);
    cams.ignored = {2};
    cams.cameras[2].online = false;
    cams.cameras[3].online = false;
    cams.cameras[3].name = QStringLiteral("Yard");
    const Native::Device degraded = withHealth(up("a"), [](Native::Health& h) {
        h.quality = QStringLiteral("Degraded");
        h.latencyMs = 180;
        h.lossPercent = 33;
    });
    const Native::Device reachable = withHealth(up("a"), [](Native::Health& h) {
        h.quality.clear();
        h.rtspPort = Native::Failed;
    });
    auto hdd = [](const char* text) {
        return withHealth(up("a"), [text](Native::Health& h) { h.hdd = QString::fromLatin1(text); });
    };
    auto found = [](int days) { return QStringLiteral("Recordings found on %1 of the last 30 days.").arg(days); };
    const char* nvrLine = "Hall  ·  HIKVISION DS-7608NI  ·  10.1.1.6:80";
    // The whole name and line first: the table may show them shortened.
    const char* nvrTip = "NVR\nHall  ·  HIKVISION DS-7608NI  ·  10.1.1.6:80\n"
                         "HIKVISION · NVR\nModel: DS-7608NI\nFirmware: V4.1\nSerial: SN-NVR\nMAC: 44:19:b6:00:00:01\n"
                         "HTTP 80 · RTSP 554\nDevice info read 3 h ago";
    const char* rtspTip = "RTSP port 554 is closed: live view won't work.";
    enum { Plain = 0, Busy = 1, Refused = 2 };
    // clang-format off
    const std::tuple<const char*, Native::Device, int, int, Cell> cases[] = {
        {"device line with model", nvr, Plain, ColDevice, makeCell("NVR", Text, nvrLine, nvrTip)},
        {"online", up("a"), Plain, ColStatus, makeCell("Online", DotUp)},
        {"busy wins", down("a"), Busy, ColStatus, makeCell("Checking", ChipInfo, "never online", "Device is offline.")},
        {"refused", down("a"), Refused, ColStatus, makeCell("Login refused", DotDown, "never online", "Device is offline.")},
        {"not checked", fresh("a"), Plain, ColStatus, makeCell("Not checked", DotMuted)},
        {"deactivated with reason", disabled("a", "Moved"), Plain, ColStatus, makeCell("Deactivated", DotMuted, "Moved")},
        {"unreachable", down("a"), Plain, ColNetwork, makeCell("Unreachable", ChipFail)},
        {"good", up("a"), Plain, ColNetwork, makeCell("Good", ChipPass, "12 ms")},
        {"degraded with loss", degraded, Plain, ColNetwork, makeCell("Degraded", ChipWarn, "180 ms · 33% loss")},
        {"reachable, rtsp closed", reachable, Plain, ColNetwork, makeCell("Reachable", ChipPass, "12 ms", rtspTip)},
        {"network not checked", fresh("a"), Plain, ColNetwork, makeCell("—", Muted)},
        {"disk fault", hdd("Fault"), Plain, ColDisk, makeCell("Fault", ChipFail)},
        {"disk other", hdd("ok"), Plain, ColDisk, makeCell("—", Muted)},
        {"recording 21/30", rec(21, 30), Plain, ColRecording, makeCell("21/30d", ChipWarn, "", found(21))},
        {"window 0, calendar brand", rec(5, 0), Plain, ColRecording, makeCell("—", Muted)},
        {"window 0, no calendar", uniview, Plain, ColRecording, makeCell("N/A", Muted)},
        {"drift 120 s shows nothing", drift(120), Plain, ColRecording, makeCell("30/30d", ChipPass, "", found(30))},
        {"drift -121 s", drift(-121), Plain, ColRecording, makeCell("30/30d", ChipPass, "clock − 2 min", found(30))},
        {"cameras with offline", cams, Plain, ColCameras, makeCell("1/3", Text, "2 down", "Offline: Camera 3, Yard")},
        {"cameras unknown", fresh("a", {}, 4), Plain, ColCameras, makeCell("—/4", Text)},
        {"last check", up("a"), Plain, ColLastCheck, makeCell("1 min ago", Text, "info 1 min ago", "2 Mar 2026, 09:29")},
    };
    // clang-format on
    for (const auto& [name, device, flags, column, cell] : cases) {
        RowInputs in = inputs();
        in.busy = flags & Busy;
        in.refused = flags & Refused;
        in.siteName = QStringLiteral("Hall");
        const Row row = buildRow(device, in);
        QCOMPARE(describe(name, row.cells[size_t(column)]), describe(name, cell));
        // A camera count with offline cameras is the only red count.
        QCOMPARE(row.cells[ColCameras].color.isValid(), !row.cells[ColCameras].sub.isEmpty());
        // Cells given as their record and inputs are made as buildRow makes
        // them, once, when any copy first reads one; a copy then written to
        // is a copy of its own.
        const Cells later = Cells::later(DeviceRef(new SharedDevice(device)), in);
        Cells copy = later;
        QVERIFY(later.pending() && copy.pending());
        for (size_t c = 0; c < Cells::size(); ++c)
            QCOMPARE(describe(name, copy[c]), describe(name, row.cells[c]));
        QVERIFY(!later.pending());
        copy[ColDevice].text = QStringLiteral("changed");
        QCOMPARE(later[ColDevice].text, row.cells[ColDevice].text);
        QVERIFY(later == row.cells && !(copy == row.cells));
    }

    // A device without a name shows the name it reported, else its address.
    Native::Device unnamed = nvr;
    unnamed.name = QStringLiteral("  ");
    unnamed.health.deviceName = QStringLiteral("Front gate NVR");
    QCOMPARE(buildRow(unnamed, inputs()).cells[ColDevice].text, QStringLiteral("Front gate NVR"));
    unnamed.health.deviceName.clear();
    QCOMPARE(buildRow(unnamed, inputs()).cells[ColDevice].text, QStringLiteral("10.1.1.6"));
    // The last check's full time, as the C locale writes it, in local time
    // from either kind of moment, across months, years and midnights.
    for (const QDateTime& at :
         {QDateTime(QDate(2026, 1, 1), QTime(0, 0)), QDateTime(QDate(2026, 12, 31), QTime(23, 59)),
          QDateTime(QDate(2027, 5, 9), QTime(7, 5, 59)), QDateTime(QDate(2026, 9, 30), QTime(12, 0), Qt::UTC),
          QDateTime(QDate(999, 2, 3), QTime(4, 5))}) {
        Native::Device checkedThen = nvr;
        checkedThen.health.checkedAt = at;
        QCOMPARE(buildRow(checkedThen, inputs()).cells[ColLastCheck].tip,
                 QLocale::c().toString(at.toLocalTime(), QStringLiteral("d MMM yyyy, HH:mm")));
    }
    // Typed text is shown as typed: a zone index in a link-local address
    // ("%2") and a "%1" in a name are not placeholders; an IPv6 address
    // beside its port is bracketed, so the port reads as one.
    unnamed.ip = QStringLiteral("fe80::1%2");
    unnamed.httpPort = 8080;
    unnamed.manufacturer = QStringLiteral("Maker %1");
    const Row typed = buildRow(unnamed, inputs());
    QCOMPARE(typed.cells[ColDevice].text, QStringLiteral("fe80::1%2"));
    QVERIFY2(typed.cells[ColDevice].sub.endsWith(QStringLiteral("  ·  [fe80::1%2]:8080")),
             qPrintable(typed.cells[ColDevice].sub));
    QVERIFY(typed.cells[ColDevice].tip.section(QLatin1Char('\n'), 2).startsWith(QStringLiteral("Maker %1 · ")));
    // A site whose name leaves a right-to-left override open is isolated:
    // the address after it reads as written.
    RowInputs odd = inputs();
    odd.siteName = QStringLiteral("Odd \u202Enames");
    unnamed.ip = QStringLiteral("127.0.0.1");
    unnamed.httpPort = 18390;
    QCOMPARE(buildRow(unnamed, odd).cells[ColDevice].sub,
             QStringLiteral("\u2068Odd \u202Enames\u2069  ·  Maker %1 DS-7608NI  ·  127.0.0.1:18390"));

    // Whole percents of the window, rounded down: 90 and up good, 70 and up short.
    using L = RecordingLevel;
    const std::tuple<int, int, L> levels[] = {{30, 30, L::Good},   {27, 30, L::Good},  {9, 10, L::Good},
                                              {89, 100, L::Short}, {21, 30, L::Short}, {7, 10, L::Short},
                                              {20, 30, L::Poor},   {69, 100, L::Poor}, {0, 7, L::Poor}};
    for (const auto& [days, window, level] : levels)
        QVERIFY2(recordingLevel(days, window) == level, qPrintable(QStringLiteral("%1/%2").arg(days).arg(window)));

    // The uptime cell from the days of the week.
    const std::tuple<QList<double>, const char*, QColor> uptimes[] = {
        {{-1, -1, -1, -1, -1, -1, -1}, "No data", QColor()},
        {{99.96, -1, -1, -1, -1, -1, -1}, "100%", NativeStyle::kText},
        {{99.94, -1, -1, -1, -1, -1, -1}, "99.9%", NativeStyle::kText},
        {{95, 90, -1, -1, -1, -1, -1}, "92.5%", NativeStyle::kWarnText},
        {{89.9, -1, -1, -1, -1, -1, -1}, "89.9%", NativeStyle::kDanger},
    };
    RowInputs in = inputs();
    for (const auto& [daily, text, color] : uptimes) {
        in.daily = daily;
        const Cell cell = buildRow(up("a"), in).cells[ColUptime];
        QCOMPARE(QStringLiteral("%1 %2").arg(cell.text).arg(cell.kind),
                 QStringLiteral("%1 %2").arg(text).arg(int(Bars)));
        QCOMPARE(cell.color, color);
    }
    in.daily = {100, -1, 50, 100, 100, 100, 100};
    const QStringList tip = buildRow(up("a"), in).cells[ColUptime].tip.split(QLatin1Char('\n'));
    QCOMPARE(QStringList({tip.at(1), tip.at(6)}),
             QStringList({in.dayLabels.at(1) + QStringLiteral(": no checks"),
                          in.dayLabels.at(6) + QStringLiteral(": 100.0% up")}));
    QCOMPARE(describe("off", buildRow(disabled("a"), in).cells[ColUptime]), describe("off", makeCell("—", Muted)));
}

void FleetRulesTest::orderIsStableAndWorstFirst()
{
    // Ranks from the state alone (worst finding given).
    const Native::Device d = up("d");
    QCOMPARE((QList<int>{stateRank(down("x"), 3), stateRank(d, NativeInsights::Problem), stateRank(fresh("n"), 3),
                         stateRank(d, NativeInsights::Warning), stateRank(d, NativeInsights::Notice), stateRank(d, 3),
                         stateRank(disabled("x"), 0)}),
             (QList<int>{0, 1, 2, 3, 4, 4, 5}));
    // Rank, site name, device name and id of each device; the table sorts
    // them by their rank and their place among the names.
    const QList<int> ranks{4, 4, 0, 4, 5, 2};
    const QList<NameOrder> devices{{"b", "x", "3"}, {"B", "a", "2"}, {"z", "z", "9"},
                                   {"b", "X", "1"}, {"", "", "0"},   {"", "", "5"}};
    const QList<int> places = namePlaces(devices);
    QList<qsizetype> sorted{0, 1, 2, 3, 4, 5};
    std::sort(sorted.begin(), sorted.end(), [&](qsizetype a, qsizetype b) {
        return sortsBefore({ranks.at(a), places.at(a)}, {ranks.at(b), places.at(b)});
    });
    // Site names differing in case tie, then names ignoring case, then ids.
    QCOMPARE(lines(sorted, [&](qsizetype i) { return devices.at(i).id; }), (QStringList{"9", "5", "2", "1", "3", "0"}));

    // Name keys order names as comparing them without case does: accents,
    // letters with two lower cases, ligatures, characters beyond the first
    // plane and lone surrogates included.
    const QStringList names{QString(),
                            QStringLiteral("alpha"),
                            QStringLiteral("Alpha"),
                            QStringLiteral("ALPHA 2"),
                            QStringLiteral("alpha10"),
                            QStringLiteral("Ärger"),
                            QStringLiteral("ärger"),
                            QStringLiteral("Zebra"),
                            QStringLiteral("straße"),
                            QStringLiteral("STRASSE"),
                            QStringLiteral("Σίσυφος"),
                            QStringLiteral("σίσυφοσ"),
                            QStringLiteral("ς"),
                            QStringLiteral("İstanbul"),
                            QStringLiteral("istanbul"),
                            QStringLiteral("\uFB01le"),
                            QStringLiteral("file"),
                            QStringLiteral("a\u0301"),
                            QStringLiteral("\u00E1"),
                            QStringLiteral("\U0001D49Cbc"),
                            QStringLiteral("\U00010400"), // Deseret capital long I
                            QStringLiteral("\U00010428"), // its small letter
                            QStringLiteral("\uFFFD"),
                            QString(QChar(0xD800)) + QStringLiteral("x"),
                            QString(QChar(0xDC00)),
                            QStringLiteral("Ω"),
                            QStringLiteral("ω")};
    const auto sign = [](int v) { return v < 0 ? -1 : v > 0 ? 1 : 0; };
    for (const QString& x : names)
        for (const QString& y : names)
            QVERIFY2(sign(nameKey(x).compare(nameKey(y))) == sign(x.compare(y, Qt::CaseInsensitive)),
                     qPrintable(x + QStringLiteral(" | ") + y));
}

void FleetRulesTest::pacing()
{
    const std::tuple<const char*, bool, bool, int, int, int> cases[] = {
        {"data, first ever", true, false, 0, -1, 120},
        {"data 300 ms after a rebuild began", true, false, 0, 300, 700},
        {"data 879 ms after", true, false, 0, 879, 121},
        {"data 900 ms after", true, false, 0, 900, 120},
        {"data while pending", true, true, 500, 300, -1},
        {"filter, nothing pending", false, false, 0, 0, 120},
        {"filter pulls a data rebuild forward", false, true, 800, 0, 120},
        {"filter leaves a sooner rebuild", false, true, 50, 0, -1},
        {"filter at exactly 120 left", false, true, 120, 0, -1},
    };
    for (const auto& [name, dataChange, active, remaining, sinceLast, delay] : cases) {
        const int got = dataChange ? dataRebuildDelay(active, sinceLast) : filterRebuildDelay(active, remaining);
        QVERIFY2(got == delay, qPrintable(QStringLiteral("%1: %2").arg(QString::fromLatin1(name)).arg(got)));
    }
}

void FleetRulesTest::importNotice()
{
    auto errors = [](int n) {
        QStringList list;
        for (int i = 1; i <= n; ++i)
            list << QStringLiteral("Row %1: bad").arg(i);
        return list;
    };
    QCOMPARE(importMessage(3, 2, errors(2)),
             QStringLiteral("3 devices added, 2 skipped. Diagnostics are running.\n\nRow 1: bad\nRow 2: bad"));
    QCOMPARE(importMessage(1, 0, {}) + importMessage(0, 0, errors(1)),
             QStringLiteral("1 device added. Diagnostics are running.0 devices added.\n\nRow 1: bad"));
    QCOMPARE(importMessage(0, 14, errors(14)),
             QStringLiteral("0 devices added, 14 skipped.\n\n") + errors(10).join(QLatin1Char('\n'))
                 + QStringLiteral("\nand 4 more."));
}

void FleetRulesTest::modelUpdatesInPlace()
{
    NativeTable::DeviceTableModel model;
    auto row = [](const char* id, const char* text) {
        Row r;
        r.id = QString::fromLatin1(id);
        r.cells[0].text = QString::fromLatin1(text);
        return r;
    };
    model.setRows({row("a", "A"), row("b", "B"), row("c", "C")});
    QPersistentModelIndex b(model.index(1, 3));
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy changes(&model, &QAbstractItemModel::dataChanged);
    // Reordered, one gone, one new, one changed: the index of b follows it.
    QCOMPARE(model.setRows({row("d", "D"), row("b", "B2"), row("a", "A")}), 1);
    QVERIFY(resets.isEmpty() && changes.count() == 1 && b.row() == 1 && model.rowOf(QStringLiteral("c")) == -1);
    QCOMPARE(model.index(1, 0).data().toString() + model.index(2, 0).data(NativeTable::DeviceIdRole).toString(),
             QStringLiteral("B2a"));
    // The same rows again change nothing.
    QCOMPARE(model.setRows({row("d", "D"), row("b", "B2"), row("a", "A")}), 0);
}

void FleetRulesTest::painterColours()
{
    // One row of every look, painted by the real view and delegate.
    NativeTable::DeviceTableModel model;
    RowInputs in = inputs();
    in.daily = {100, 95, 80, -1, 100, 100, 100};
    Row row = buildRow(withHealth(down("Painted"), [](Native::Health& h) { h.hdd = QStringLiteral("Fault"); }), in);
    row.cells[ColUptime] = buildRow(up("x"), in).cells[ColUptime];
    row.cells[ColDisk].kind = ChipFail;
    model.setRows({row});
    QTableView view;
    view.setStyleSheet(NativeStyle::stylesheet());
    view.setModel(&model);
    NativeTable::configure(&view);
    view.resize(1400, NativeTable::fittedHeight(&view, 1));
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    const QImage img = view.viewport()->grab().toImage();
    const int mid = NativeTable::kRowHeight / 2;
    auto near = [](QColor a, QColor b) {
        return qAbs(a.red() - b.red()) <= 12 && qAbs(a.green() - b.green()) <= 12 && qAbs(a.blue() - b.blue()) <= 12;
    };
    auto x = [&view](int column) { return view.columnViewportPosition(column); };
    // Status: a red dot at (x1 + 16, middle - 8) (shifted up for its second line).
    QVERIFY(near(img.pixelColor(x(ColStatus) + 16, mid - 8), NativeStyle::kDanger));
    // Disk: a Fail chip filled with the danger colour at 12% over white.
    const QColor fill = img.pixelColor(x(ColDisk) + 14, mid);
    QVERIFY2(fill.red() > 240 && fill.green() < 235 && fill.green() > 200, qPrintable(fill.name()));
    // Uptime bars: green, amber, red, grey (no data), in that order, 11 px apart.
    const int bx = x(ColUptime) + 12 + 4;
    const QColor bars[] = {NativeStyle::kSuccess, NativeStyle::kWarning, NativeStyle::kDanger, NativeStyle::kHairline};
    for (int i = 0; i < 4; ++i)
        QVERIFY(near(img.pixelColor(bx + 11 * i, mid), bars[i]));
    // The hairline runs under the row.
    QVERIFY(near(img.pixelColor(x(ColDisk) + 60, NativeTable::kRowHeight - 1), NativeStyle::kHairline));

    // Selected: the primary bar at the left edge of the device cell, over a
    // light primary tint rather than the platform's selection colour.
    view.selectRow(0);
    const QImage sel = view.viewport()->grab().toImage();
    QVERIFY(near(sel.pixelColor(1, mid), NativeStyle::kPrimary));
    // A chip keeps its colours on the selected row's tint.
    QCOMPARE(sel.pixelColor(x(ColDisk) + 14, mid).name(), fill.name());
    const QColor tint = sel.pixelColor(40, 4);
    QVERIFY2(tint.blue() > 235 && tint.red() > 220 && tint.red() < 250, qPrintable(tint.name()));
    sel.save(QStringLiteral(KVR_SCREENSHOT_DIR "/native-table-row.png"));
}

// A fleet that grows past the room its cache had (an import, devices added
// while the window is open): the devices already known are found where they
// were, their entries whole, as the new ones come.
void FleetRulesTest::aFleetThatGrowsKeepsItsEntries()
{
    Native::Site yard = site(QStringLiteral("Yard"));
    Bench bench({fresh(QStringLiteral("Gate"), yard.id), fresh(QStringLiteral("Dock"), yard.id)}, {yard});
    NativeStore& store = bench.store();
    const NativeContext context = bench.context();
    FleetCache cache;
    cache.update(context, store.devices(), testNow());
    for (int n = 0; n < 300; ++n) {
        Native::Device d = fresh(QStringLiteral("Recorder %1").arg(n), yard.id);
        d.ip = QStringLiteral("127.0.%1.%2").arg(1 + n / 200).arg(1 + n % 200);
        QVERIFY(!store.addDevice(d).isEmpty());
    }
    cache.markLists();
    cache.update(context, store.devices(), testNow());
    for (const Native::Device& d : store.devices()) {
        const FleetCache::Entry* e = cache.entry(d.id);
        QVERIFY(e && e->record && e->record->device.name == d.name);
    }
    QCOMPARE(cache.entriesOf(store.devices()).size(), store.devices().size());
}

// The table's order follows what a device is listed by: an unnamed device's
// address, changed, puts it in its new place; the search finds a device by
// its site's name as the site is called now.
void FleetRulesTest::orderAndSearchFollowWhatDevicesAreListedBy()
{
    Native::Site yard = site(QStringLiteral("Yard"));
    Native::Device first = fresh(QString(), yard.id);
    first.ip = QStringLiteral("127.0.0.30");
    Native::Device second = fresh(QString(), yard.id);
    second.ip = QStringLiteral("127.0.0.40");
    Bench bench({first, second}, {yard});
    NativeStore& store = bench.store();
    const NativeContext context = bench.context();
    FleetCache cache;
    cache.update(context, store.devices(), testNow());
    const auto order = [&] {
        QMap<int, QString> places;
        for (const Native::Device& d : store.devices())
            places.insert(cache.entry(d.id)->order, d.ip);
        return places.values();
    };
    QCOMPARE(order(), (QStringList{"127.0.0.30", "127.0.0.40"}));
    Native::Device moved = store.devices().first();
    moved.ip = QStringLiteral("127.0.0.50");
    store.updateDevice(moved);
    cache.markLists();
    cache.update(context, store.devices(), testNow());
    QCOMPARE(order(), (QStringList{"127.0.0.40", "127.0.0.50"}));

    yard.name = QStringLiteral("Loading yard north");
    store.updateSite(yard);
    cache.markLists();
    cache.update(context, store.devices(), testNow());
    for (const Native::Device& d : store.devices())
        QVERIFY(matches(d, filterBy("yard north"), cache.entry(d.id)->site));
}

// Recorders named alike for their first 40 characters, in a device column
// narrower than their names: each row reads apart, whole in its tool tip;
// every column widens by its own edge, the device's too, without narrowing
// another; the widths a person gives the columns are there at the next
// start.
void FleetRulesTest::namesAlikeReadApartInColumnsKeptBetweenStarts()
{
    NativeTable::DeviceTableModel model;
    QList<Row> rows;
    for (int n = 1; n <= 3; ++n)
        rows << buildRow(up(QStringLiteral("Warehouse fire exit recorder number %1").arg(n)), inputs());
    for (int n = 0; n < 3; ++n)
        rows[n].id = QString::number(n);
    QVERIFY(rows.first().cells[ColDevice].tip.startsWith(QStringLiteral("Warehouse fire exit recorder number 1\n")));
    model.setRows(rows);
    Prefs::remove(Prefs::kNativeTableColumns.name);
    {
        QTableView view;
        view.setStyleSheet(NativeStyle::stylesheet());
        view.setModel(&model);
        NativeTable::configure(&view);
        view.resize(1100, NativeTable::fittedHeight(&view, 3));
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // The device's column takes what the others leave; a person widens
        // the uptime column: no other narrows, the table scrolls.
        QHeaderView* header = view.horizontalHeader();
        const int device = header->sectionSize(ColDevice);
        QCOMPARE(device, view.viewport()->width() - (header->length() - device));
        header->resizeSection(ColUptime, 300);
        QCoreApplication::processEvents();
        QCOMPARE(header->sectionSize(ColDevice), device);
        QVERIFY(header->length() > view.viewport()->width());
        QSet<QString> names;
        const screenaudit::Painting painted = screenaudit::recordPainting(view.viewport());
        for (const screenaudit::PaintedText& t : painted.texts)
            if (t.text.contains(QStringLiteral("number")))
                names.insert(t.text);
        QVERIFY2(names.size() == 3 && !names.contains(QStringLiteral("Warehouse fire exit recorder number 1")),
                 qPrintable(QStringList(names.cbegin(), names.cend()).join(" | ")));
        QTRY_COMPARE(Prefs::get(Prefs::kNativeTableColumns).value(ColUptime - 1), QStringLiteral("300"));
        // The device's own edge widens it.
        header->resizeSection(ColDevice, device + 200);
        QCoreApplication::processEvents();
        QCOMPARE(header->sectionSize(ColDevice), device + 200);
        QTRY_COMPARE(Prefs::get(Prefs::kNativeTableColumns).value(kColumnCount - 1), QString::number(device + 200));
    }
    QTableView again;
    again.setModel(&model);
    NativeTable::configure(&again);
    again.resize(1100, 200);
    again.show();
    QVERIFY(QTest::qWaitForWindowExposed(&again));
    QCOMPARE(again.horizontalHeader()->sectionSize(ColUptime), 300);
    QTRY_COMPARE(again.horizontalHeader()->sectionSize(ColDevice),
                 Prefs::get(Prefs::kNativeTableColumns).last().toInt());
    // Kept widths that do not read as such are left for the table's own.
    QCOMPARE(NativeTable::savedWidths({QStringLiteral("90"), QStringLiteral("x")}), QList<int>());
    QCOMPARE(NativeTable::savedWidths(QStringList(kColumnCount - 1, QStringLiteral("9"))), QList<int>());
    QCOMPARE(NativeTable::savedWidths(QStringList(kColumnCount - 1, QStringLiteral("120"))),
             QList<int>(kColumnCount - 1, 120));
    // A column left wider than anything it shows comes back at most as wide
    // as the widest of them needs, so the row's action stays near.
    QCOMPARE(NativeTable::savedWidths(QStringList(kColumnCount - 1, QStringLiteral("1500"))),
             QList<int>(kColumnCount - 1, 480));
    // The device's own kept width, after the others' (kept widths of an
    // earlier version have none).
    QCOMPARE(NativeTable::savedDeviceWidth(QStringList(kColumnCount - 1, QStringLiteral("120"))), 0);
    QCOMPARE(NativeTable::savedDeviceWidth(QStringList(kColumnCount - 1, QStringLiteral("120")) << "480"), 480);
    QCOMPARE(NativeTable::savedDeviceWidth(QStringList(kColumnCount - 1, QStringLiteral("120")) << "0"), 0);
    // A filling column: what it was left at, else its share of the room.
    QCOMPARE(kvr::ui::ColumnFill::width(0, 900, 3, 56), 300);
    QCOMPARE(kvr::ui::ColumnFill::width(420, 900, 3, 56), 420);
    QCOMPARE(kvr::ui::ColumnFill::width(0, 90, 3, 56), 56);
}

KVR_TEST_MAIN(FleetRulesTest)

#include "tst_fleet_rules.moc"
