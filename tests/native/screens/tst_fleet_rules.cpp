// The rules of the fleet page without a window: status, filters, the summary
// cards, row contents and order, rebuild pacing and the import notice; and
// the row painter, rendered to an image and sampled.

#include "native/screens/DeviceTable.h"
#include "native/screens/FleetRules.h"
#include "native/screens/NativeStyle.h"
#include "tests/native/screens/ScreensKit.h"
#include "tests/support/TestKit.h"

#include <QHeaderView>
#include <QImage>
#include <QTableView>

using namespace NativeFleet;
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

} // namespace

class FleetRulesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void statusAndInternetIssue_data();
    void statusAndInternetIssue();
    void filters_data();
    void filters();
    void cards_data();
    void cards();
    void highlights();
    void rowCells_data();
    void rowCells();
    void uptimeCell();
    void orderIsStableAndWorstFirst();
    void pacing_data();
    void pacing();
    void importNotice_data();
    void importNotice();
    void modelUpdatesInPlace();
    void painterColours();
};

void FleetRulesTest::statusAndInternetIssue_data()
{
    QTest::addColumn<Native::Device>("device");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("issue");
    QTest::newRow("never checked") << fresh("a") << int(Status::NotChecked) << false;
    QTest::newRow("up") << up("a") << int(Status::Online) << false;
    QTest::newRow("down, internet down") << down("a") << int(Status::Offline) << false;
    QTest::newRow("deactivated") << disabled("a") << int(Status::Deactivated) << false;
    QTest::newRow("internet up, device down")
        << withHealth(down("a"), [](Native::Health& h) { h.internet = Native::Passed; }) << int(Status::Offline)
        << true;
    QTest::newRow("up, rtsp closed") << withHealth(up("a"), [](Native::Health& h) { h.rtspPort = Native::Failed; })
                                     << int(Status::Online) << true;
    QTest::newRow("up, http closed") << withHealth(up("a"), [](Native::Health& h) { h.httpPort = Native::Failed; })
                                     << int(Status::Online) << true;
    QTest::newRow("up, rtsp unknown") << withHealth(up("a"), [](Native::Health& h) { h.rtspPort = Native::NotTested; })
                                      << int(Status::Online) << false;
    Native::Device off = withHealth(up("a"), [](Native::Health& h) { h.rtspPort = Native::Failed; });
    off.enabled = false;
    QTest::newRow("deactivated with a closed port") << off << int(Status::Deactivated) << false;
}

void FleetRulesTest::statusAndInternetIssue()
{
    QFETCH(Native::Device, device);
    QCOMPARE(int(statusOf(device)), FETCHED(int, status));
    QCOMPARE(hasInternetIssue(device), FETCHED(bool, issue));
}

void FleetRulesTest::filters_data()
{
    QTest::addColumn<Native::Device>("device");
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("search");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("brand");
    QTest::addColumn<int>("internet");
    QTest::addColumn<int>("network");
    QTest::addColumn<bool>("passes");
    Native::Device gate = up("Front Gate NVR");
    gate.ip = QStringLiteral("10.0.0.7");
    QTest::newRow("no filter") << gate << ""
                               << "" << 0 << "" << 0 << 0 << true;
    QTest::newRow("search trimmed, other case") << gate << ""
                                                << "  gate nvr " << 0 << "" << 0 << 0 << true;
    QTest::newRow("search by address") << gate << ""
                                       << "0.0.7" << 0 << "" << 0 << 0 << true;
    QTest::newRow("search by site") << gate << "Warehouse"
                                    << "WARE" << 0 << "" << 0 << 0 << true;
    QTest::newRow("search misses") << gate << "Warehouse"
                                   << "lobby" << 0 << "" << 0 << 0 << false;
    QTest::newRow("only spaces") << gate << ""
                                 << "   " << 0 << "" << 0 << 0 << true;
    QTest::newRow("status online") << gate << ""
                                   << "" << 1 << "" << 0 << 0 << true;
    QTest::newRow("status offline") << gate << ""
                                    << "" << 2 << "" << 0 << 0 << false;
    QTest::newRow("status not checked") << fresh("x") << ""
                                        << "" << 3 << "" << 0 << 0 << true;
    QTest::newRow("status deactivated") << disabled("x") << ""
                                        << "" << 4 << "" << 0 << 0 << true;
    QTest::newRow("brand exact") << gate << ""
                                 << "" << 0 << "HIKVISION" << 0 << 0 << true;
    QTest::newRow("brand case matters") << gate << ""
                                        << "" << 0 << "hikvision" << 0 << 0 << false;
    QTest::newRow("internet online") << gate << ""
                                     << "" << 0 << "" << 1 << 0 << true;
    QTest::newRow("internet offline") << down("x") << ""
                                      << "" << 0 << "" << 2 << 0 << true;
    Native::Device offUp = up("x");
    offUp.enabled = false;
    QTest::newRow("internet online reads stored state of a deactivated device") << offUp << ""
                                                                                << "" << 0 << "" << 1 << 0 << true;
    QTest::newRow("internet issues excludes deactivated") << offUp << ""
                                                          << "" << 0 << "" << 3 << 0 << false;
    QTest::newRow("network good") << gate << ""
                                  << "" << 0 << "" << 0 << 1 << true;
    QTest::newRow("network degraded") << gate << ""
                                      << "" << 0 << "" << 0 << 2 << false;
    QTest::newRow("network poor") << withHealth(up("x"), [](Native::Health& h) { h.quality = QStringLiteral("Poor"); })
                                  << ""
                                  << "" << 0 << "" << 0 << 3 << true;
    QTest::newRow("network not checked") << fresh("x") << ""
                                         << "" << 0 << "" << 0 << 4 << true;
}

void FleetRulesTest::filters()
{
    QFETCH(Native::Device, device);
    Filters f;
    f.search = FETCHED(QString, search);
    f.status = FETCHED(int, status);
    f.brand = FETCHED(QString, brand);
    f.internet = FETCHED(int, internet);
    f.network = FETCHED(int, network);
    QCOMPARE(matches(device, f, FETCHED(QString, site)), FETCHED(bool, passes));
}

void FleetRulesTest::cards_data()
{
    QTest::addColumn<QList<Native::Device>>("devices");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QStringList>("details");

    QTest::newRow("empty") << QList<Native::Device>() << QStringList() << QStringList{"0", "0", "0", "0", "0", "0"}
                           << QStringList{"0 sites · 0 cameras", "", "none down", "", "", ""};

    Native::Device one = up("one", QStringLiteral("s1"), 1);
    QTest::newRow("one site, one camera")
        << QList<Native::Device>{one} << QStringList() << QStringList{"1", "1", "0", "0", "0", "0"}
        << QStringList{"1 site · 1 camera", "100% of active", "none down",
                       "of 1 watched",      "median 12 ms",   "1 recorder OK"};

    // Ten devices, three deactivated; of the seven active two are online.
    QList<Native::Device> ten;
    for (int i = 0; i < 3; ++i)
        ten << disabled(QStringLiteral("off%1").arg(i));
    ten << up("u1", QStringLiteral("s1"), 2) << up("u2", QStringLiteral("s2"), 2);
    for (int i = 0; i < 5; ++i)
        ten << fresh(QStringLiteral("n%1").arg(i), QString(), 1);
    QTest::newRow("ten with three off") << ten << QStringList() << QStringList{"10", "2", "0", "0", "0", "0"}
                                        << QStringList{"2 sites · 9 cameras · 3 off",
                                                       "28% of active",
                                                       "none down",
                                                       "of 9 watched",
                                                       "median 12 ms",
                                                       "2 recorders OK"};

    // Two online of three active: 66, not 67; one down whose login was refused.
    Native::Device refusedOne = down("r", {}, 1);
    QList<Native::Device> three{up("a", {}, 1), up("b", {}, 1), refusedOne};
    QTest::newRow("two of three, one refused")
        << three << QStringList{refusedOne.id} << QStringList{"3", "2", "1", "0", "0", "0"}
        << QStringList{"0 sites · 3 cameras", "66% of active", "1 login refused",
                       "of 3 watched",        "median 12 ms",  "2 recorders OK"};

    // Latencies 10, 20, 30, 40: the upper middle, 30. Disk texts only exact.
    QList<Native::Device> lat;
    const int ms[] = {40, 10, 30, 20};
    const char* hdd[] = {"OK", "ok", "Fault", "Faulty"};
    for (int i = 0; i < 4; ++i) {
        Native::Device d = up(QStringLiteral("l%1").arg(i), {}, 1);
        d.health.latencyMs = ms[i];
        d.health.hdd = QString::fromLatin1(hdd[i]);
        lat << d;
    }
    lat[3].cameras[0].online = false;
    QTest::newRow("median and exact disk texts")
        << lat << QStringList() << QStringList{"4", "4", "0", "1", "0", "1"}
        << QStringList{"0 sites · 4 cameras", "100% of active", "none down",
                       "of 4 watched",        "median 30 ms",   "1 recorder OK"};

    Native::Device notRecording = up("nr", {}, 1);
    notRecording.health.recordingDays = 0;
    notRecording.health.recordingWindow = 30;
    Native::Device internetIssue = withHealth(up("ii", {}, 1), [](Native::Health& h) { h.rtspPort = Native::Failed; });
    QTest::newRow("not recording wins over recorders OK, an internet issue")
        << QList<Native::Device>{notRecording, up("ok", {}, 1), internetIssue} << QStringList()
        << QStringList{"3", "3", "0", "0", "1", "0"}
        << QStringList{"0 sites · 3 cameras", "100% of active", "none down",
                       "of 3 watched",        "median 12 ms",   "1 not recording"};

    QTest::newRow("offline without refusal")
        << QList<Native::Device>{down("d", {}, 0)} << QStringList() << QStringList{"1", "0", "1", "0", "0", "0"}
        << QStringList{"0 sites · 1 camera", "0% of active", "not answering", "of 1 watched", "", ""};
}

void FleetRulesTest::cards()
{
    QFETCH(QList<Native::Device>, devices);
    QFETCH(QStringList, refused);
    const auto texts = cardTexts(countFleet(devices, [&](const QString& id) { return refused.contains(id); }));
    QStringList values, details;
    for (const CardText& t : texts) {
        values << t.value;
        details << t.detail;
    }
    QCOMPARE(values, FETCHED(QStringList, values));
    QCOMPARE(details, FETCHED(QStringList, details));
}

void FleetRulesTest::highlights()
{
    struct Case {
        const char* search;
        int status, internet;
        const char* brand;
        std::array<bool, kCardCount> lit;
    };
    const Case cases[] = {
        {"", 0, 0, "", {true, false, false, false, false, false}},
        {"   ", 0, 0, "", {true, false, false, false, false, false}}, // spaces narrow nothing
        {"", 1, 0, "", {false, true, false, false, false, false}},
        {"  ", 1, 0, "", {false, false, false, false, false, false}}, // untrimmed search spoils Online
        {"", 2, 0, "", {false, false, true, false, false, false}},
        {"", 2, 0, "DAHUA", {false, false, false, false, false, false}},
        {"", 0, 3, "", {false, false, false, false, true, false}},
        {"", 1, 3, "", {false, false, false, false, false, false}},
    };
    for (const Case& c : cases) {
        Filters f;
        f.search = QString::fromLatin1(c.search);
        f.status = c.status;
        f.internet = c.internet;
        f.brand = QString::fromLatin1(c.brand);
        QCOMPARE(cardHighlights(f), c.lit);
    }
}

void FleetRulesTest::rowCells_data()
{
    QTest::addColumn<Native::Device>("device");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("sub");
    QTest::addColumn<QString>("tip");

    Native::Device cam = up("Lobby cam", {}, 1);
    cam.type = QStringLiteral("ipcamera");
    cam.ip = QStringLiteral("10.1.1.5");
    cam.httpPort = 8080;
    cam.health = Native::Health{};
    cam.health.checkedAt = testNow();
    cam.health.device = cam.health.internet = Native::Passed;
    QTest::newRow("device line without model")
        << cam << false << false << 0 << "Lobby cam" << 0 << "Hall  ·  HIKVISION IP camera  ·  10.1.1.5:8080"
        << "HIKVISION · IP camera\nHTTP 8080 · RTSP 554";
    Native::Device nvr = up("NVR", {}, 1);
    nvr.ip = QStringLiteral("10.1.1.6");
    nvr.httpPort = 80;
    nvr.health.firmware.clear();
    nvr.health.mac.clear();
    nvr.health.model = QStringLiteral("DS-7608");
    nvr.health.serial = QStringLiteral("SN1");
    nvr.health.fetchedAt = testNow().addSecs(-3 * 3600);
    QTest::newRow("device line with model")
        << nvr << false << false << 0 << "NVR" << 0 << "Hall  ·  HIKVISION DS-7608  ·  10.1.1.6:80"
        << "HIKVISION · NVR\nModel: DS-7608\nSerial: SN1\nHTTP 80 · RTSP 554\nDevice "
           "info read 3 h ago";

    QTest::newRow("online") << up("a") << false << false << 1 << "Online" << int(DotUp) << ""
                            << "";
    QTest::newRow("busy wins") << down("a") << true << false << 1 << "Checking" << int(ChipInfo) << "never online"
                               << "Device is offline.";
    QTest::newRow("refused") << down("a") << false << true << 1 << "Login refused" << int(DotDown) << "never online"
                             << "Device is offline.";
    QTest::newRow("not checked") << fresh("a") << false << false << 1 << "Not checked" << int(DotMuted) << ""
                                 << "";
    QTest::newRow("deactivated with reason")
        << disabled("a", "Moved") << false << false << 1 << "Deactivated" << int(DotMuted) << "Moved"
        << "";

    QTest::newRow("unreachable") << down("a") << false << false << 2 << "Unreachable" << int(ChipFail) << ""
                                 << "";
    QTest::newRow("good") << up("a") << false << false << 2 << "Good" << int(ChipPass) << "12 ms"
                          << "";
    QTest::newRow("degraded with loss") << withHealth(up("a"),
                                                      [](Native::Health& h) {
                                                          h.quality = QStringLiteral("Degraded");
                                                          h.latencyMs = 180;
                                                          h.lossPercent = 33;
                                                      })
                                        << false << false << 2 << "Degraded" << int(ChipWarn) << "180 ms · 33% loss"
                                        << "";
    QTest::newRow("poor") << withHealth(up("a"), [](Native::Health& h) { h.quality = QStringLiteral("Poor"); }) << false
                          << false << 2 << "Poor" << int(ChipPoor) << "12 ms"
                          << "";
    QTest::newRow("reachable, rtsp closed") << withHealth(up("a"),
                                                          [](Native::Health& h) {
                                                              h.quality.clear();
                                                              h.rtspPort = Native::Failed;
                                                          })
                                            << false << false << 2 << "Reachable" << int(ChipPass) << "12 ms"
                                            << "RTSP port 554 is closed: live view won't work.";
    QTest::newRow("network not checked") << fresh("a") << false << false << 2 << "—" << int(Muted) << ""
                                         << "";

    QTest::newRow("disk fault") << withHealth(up("a"), [](Native::Health& h) { h.hdd = QStringLiteral("Fault"); })
                                << false << false << 3 << "Fault" << int(ChipFail) << ""
                                << "";
    QTest::newRow("disk other") << withHealth(up("a"), [](Native::Health& h) { h.hdd = QStringLiteral("ok"); }) << false
                                << false << 3 << "—" << int(Muted) << ""
                                << "";

    auto rec = [](int days, int window) {
        return withHealth(up("a"), [days, window](Native::Health& h) {
            h.recordingDays = days;
            h.recordingWindow = window;
        });
    };
    QTest::newRow("recording 27/30") << rec(27, 30) << false << false << 4 << "27/30d" << int(ChipPass) << ""
                                     << "Recordings found on 27 of the last 30 days.";
    QTest::newRow("recording 21/30") << rec(21, 30) << false << false << 4 << "21/30d" << int(ChipWarn) << ""
                                     << "Recordings found on 21 of the last 30 days.";
    QTest::newRow("recording 20/30") << rec(20, 30) << false << false << 4 << "20/30d" << int(ChipFail) << ""
                                     << "Recordings found on 20 of the last 30 days.";
    QTest::newRow("window 0, calendar brand") << rec(5, 0) << false << false << 4 << "—" << int(Muted) << ""
                                              << "";
    Native::Device uniview = rec(5, 0);
    uniview.manufacturer = QStringLiteral("UNIVIEW");
    QTest::newRow("window 0, no calendar") << uniview << false << false << 4 << "N/A" << int(Muted) << ""
                                           << "";
    auto drift = [&rec](int secs) {
        Native::Device d = rec(30, 30);
        d.health.fetchedAt = testNow().addSecs(-600);
        d.health.deviceTime = d.health.fetchedAt.addSecs(secs).toString(Qt::ISODate);
        return d;
    };
    QTest::newRow("drift 120 s shows nothing") << drift(120) << false << false << 4 << "30/30d" << int(ChipPass) << ""
                                               << "Recordings found on 30 of the last 30 days.";
    QTest::newRow("drift -121 s") << drift(-121) << false << false << 4 << "30/30d" << int(ChipPass) << "clock − 2 min"
                                  << "Recordings found on 30 of the last 30 days.";
    QTest::newRow("drift +2 h") << drift(7200) << false << false << 4 << "30/30d" << int(ChipPass) << "clock + 2 h"
                                << "Recordings found on 30 of the last 30 days.";

    Native::Device cams = up("a", {}, 4);
    cams.ignored = {2};
    cams.cameras[2].online = false;
    cams.cameras[3].online = false;
    cams.cameras[3].name = QStringLiteral("Yard");
    QTest::newRow("cameras with offline") << cams << false << false << 5 << "1/3" << 0 << "2 down"
                                          << "Offline: Camera 3, Yard";
    QTest::newRow("cameras unknown") << fresh("a", {}, 4) << false << false << 5 << "—/4" << 0 << ""
                                     << "";

    QTest::newRow("last check") << up("a") << false << false << 7 << "1 min ago" << 0 << "info 1 min ago"
                                << "2 Mar 2026, 09:29";
    QTest::newRow("never checked") << fresh("a") << false << false << 7 << "Never" << int(Muted) << ""
                                   << "";
    QTest::newRow("action") << up("a") << false << false << 8 << "View details" << int(Pill) << ""
                            << "";
}

void FleetRulesTest::rowCells()
{
    QFETCH(Native::Device, device);
    QFETCH(int, column);
    RowInputs in = inputs();
    in.busy = FETCHED(bool, busy);
    in.refused = FETCHED(bool, refused);
    in.siteName = QStringLiteral("Hall");
    const Row row = buildRow(device, in);
    const Cell& c = row.cells[size_t(column)];
    QCOMPARE(c.text, FETCHED(QString, text));
    QCOMPARE(c.kind, FETCHED(int, kind));
    QCOMPARE(c.sub, FETCHED(QString, sub));
    QCOMPARE(c.tip, FETCHED(QString, tip));
    QCOMPARE(row.id, device.id);
    // A camera count with offline cameras is the only red count.
    QCOMPARE(row.cells[ColCameras].color.isValid(), !row.cells[ColCameras].sub.isEmpty());
}

void FleetRulesTest::uptimeCell()
{
    struct Case {
        QList<double> daily;
        const char* text;
        QColor color;
    };
    const Case cases[] = {
        {{-1, -1, -1, -1, -1, -1, -1}, "No data", QColor()},
        {{99.96, -1, -1, -1, -1, -1, -1}, "100%", NativeStyle::kText},
        {{99.94, -1, -1, -1, -1, -1, -1}, "99.9%", NativeStyle::kText},
        {{95, 90, -1, -1, -1, -1, -1}, "92.5%", NativeStyle::kWarnText},
        {{89.9, -1, -1, -1, -1, -1, -1}, "89.9%", NativeStyle::kDanger},
    };
    for (const Case& c : cases) {
        RowInputs in = inputs();
        in.daily = c.daily;
        const Cell cell = buildRow(up("a"), in).cells[ColUptime];
        QCOMPARE(cell.text, QString::fromUtf8(c.text));
        QCOMPARE(cell.kind, int(Bars));
        QCOMPARE(cell.color, c.color);
        QCOMPARE(cell.daily, c.daily);
    }
    RowInputs in = inputs();
    in.daily = {100, -1, 50, 100, 100, 100, 100};
    const QStringList tip = buildRow(up("a"), in).cells[ColUptime].tip.split(QLatin1Char('\n'));
    QCOMPARE(tip.size(), 7);
    QVERIFY(tip.at(0).endsWith(QStringLiteral(": 100.0% up")));
    QVERIFY(tip.at(1).endsWith(QStringLiteral(": no checks")));
    QCOMPARE(tip.at(6), in.dayLabels.at(6) + QStringLiteral(": 100.0% up"));
    const Cell off = buildRow(disabled("a"), in).cells[ColUptime];
    QCOMPARE(off.text, QStringLiteral("—"));
    QCOMPARE(off.kind, int(Muted));
    QVERIFY(off.tip.isEmpty());
}

void FleetRulesTest::orderIsStableAndWorstFirst()
{
    Native::Device d = up("d");
    Native::Device n = fresh("n");
    // Ranks from the state alone (worst finding given).
    QCOMPARE(stateRank(down("x"), 3), 0);
    QCOMPARE(stateRank(d, NativeInsights::Problem), 1);
    QCOMPARE(stateRank(n, 3), 2);
    QCOMPARE(stateRank(d, NativeInsights::Warning), 3);
    QCOMPARE(stateRank(d, NativeInsights::Notice), 4);
    QCOMPARE(stateRank(d, 3), 4);
    QCOMPARE(stateRank(disabled("x"), 0), 5);

    QList<SortKey> keys{
        {4, "b", "x", "3"}, {4, "B", "a", "2"}, {0, "z", "z", "9"},
        {4, "b", "X", "1"}, {5, "", "", "0"},   {2, "", "", "5"},
    };
    std::sort(keys.begin(), keys.end(), sortsBefore);
    QStringList ids;
    for (const SortKey& k : keys)
        ids << k.id;
    // Site names differing in case tie, then names ignoring case, then ids.
    QCOMPARE(ids, (QStringList{"9", "5", "2", "1", "3", "0"}));
}

void FleetRulesTest::pacing_data()
{
    QTest::addColumn<bool>("dataChange");
    QTest::addColumn<bool>("active");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<int>("sinceLast");
    QTest::addColumn<int>("delay");
    QTest::newRow("data, first ever") << true << false << 0 << -1 << 120;
    QTest::newRow("data 300 ms after a rebuild began") << true << false << 0 << 300 << 700;
    QTest::newRow("data 879 ms after") << true << false << 0 << 879 << 121;
    QTest::newRow("data 900 ms after") << true << false << 0 << 900 << 120;
    QTest::newRow("data while pending") << true << true << 500 << 300 << -1;
    QTest::newRow("filter, nothing pending") << false << false << 0 << 0 << 120;
    QTest::newRow("filter pulls a data rebuild forward") << false << true << 800 << 0 << 120;
    QTest::newRow("filter leaves a sooner rebuild") << false << true << 50 << 0 << -1;
    QTest::newRow("filter at exactly 120 left") << false << true << 120 << 0 << -1;
}

void FleetRulesTest::pacing()
{
    QFETCH(bool, active);
    const int got = FETCHED(bool, dataChange) ? dataRebuildDelay(active, FETCHED(int, sinceLast))
                                              : filterRebuildDelay(active, FETCHED(int, remaining));
    QCOMPARE(got, FETCHED(int, delay));
}

void FleetRulesTest::importNotice_data()
{
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("skipped");
    QTest::addColumn<int>("errors");
    QTest::addColumn<QString>("text");
    QTest::newRow("three added, two skipped")
        << 3 << 2 << 2 << "3 devices added, 2 skipped. Diagnostics are running.\n\nRow 1: bad\nRow 2: bad";
    QTest::newRow("one added") << 1 << 0 << 0 << "1 device added. Diagnostics are running.";
    QTest::newRow("nothing") << 0 << 0 << 1 << "0 devices added.\n\nRow 1: bad";
    QString fourteen = QStringLiteral("0 devices added, 14 skipped.\n\n");
    for (int i = 1; i <= 10; ++i)
        fourteen += QStringLiteral("Row %1: bad%2").arg(i).arg(i < 10 ? QStringLiteral("\n") : QString());
    QTest::newRow("fourteen errors") << 0 << 14 << 14 << fourteen + QStringLiteral("\nand 4 more.");
}

void FleetRulesTest::importNotice()
{
    QStringList list;
    for (int i = 1; i <= FETCHED(int, errors); ++i)
        list << QStringLiteral("Row %1: bad").arg(i);
    QCOMPARE(importMessage(FETCHED(int, added), FETCHED(int, skipped), list), FETCHED(QString, text));
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
    QCOMPARE(resets.count(), 0);
    QCOMPARE(changes.count(), 1);
    QVERIFY(b.isValid());
    QCOMPARE(b.row(), 1);
    QCOMPARE(b.column(), 3);
    QStringList shown;
    for (int r = 0; r < model.rowCount(); ++r)
        shown << model.index(r, 0).data(NativeTable::DeviceIdRole).toString() + model.index(r, 0).data().toString();
    QCOMPARE(shown, (QStringList{"dD", "bB2", "aA"}));
    QCOMPARE(model.rowOf(QStringLiteral("a")), 2);
    QCOMPARE(model.rowOf(QStringLiteral("c")), -1);
    QVERIFY(!model.index(0, 1).data(NativeTable::DeviceIdRole).isValid());
    // The same rows again change nothing.
    QCOMPARE(model.setRows({row("d", "D"), row("b", "B2"), row("a", "A")}), 0);
}

void FleetRulesTest::painterColours()
{
    // One row of every look, painted by the real view and delegate.
    NativeTable::DeviceTableModel model;
    RowInputs in = inputs();
    in.daily = {100, 95, 80, -1, 100, 100, 100};
    Native::Device d = withHealth(down("Painted"), [](Native::Health& h) { h.hdd = QStringLiteral("Fault"); });
    Row row = buildRow(d, in);
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
    QVERIFY(near(img.pixelColor(bx, mid), NativeStyle::kSuccess));
    QVERIFY(near(img.pixelColor(bx + 11, mid), NativeStyle::kWarning));
    QVERIFY(near(img.pixelColor(bx + 22, mid), NativeStyle::kDanger));
    QVERIFY(near(img.pixelColor(bx + 33, mid), NativeStyle::kHairline));
    // The pill's outline is the hairline colour when not hovered, its ground white.
    QColor edge = NativeStyle::kWhite;
    for (int y = mid - 17; y <= mid - 13; ++y)
        if (img.pixelColor(x(ColAction) + 12 + 50, y).lightness() < edge.lightness())
            edge = img.pixelColor(x(ColAction) + 12 + 50, y);
    QVERIFY2(edge.lightness() < 245 && qAbs(edge.red() - edge.blue()) < 12, qPrintable(edge.name()));
    QVERIFY(near(img.pixelColor(x(ColAction) + 12 + 4, mid), NativeStyle::kWhite));
    // The hairline under the row.
    QVERIFY(near(img.pixelColor(x(ColDisk) + 60, NativeTable::kRowHeight - 1), NativeStyle::kHairline));

    // Selected: the primary bar at the left edge of the device cell.
    view.selectRow(0);
    const QImage sel = view.viewport()->grab().toImage();
    QVERIFY(near(sel.pixelColor(1, mid), NativeStyle::kPrimary));
    // A light primary tint over white, not the platform's selection colour.
    const QColor tint = sel.pixelColor(40, 4);
    QVERIFY2(tint.blue() > 235 && tint.red() > 220 && tint.red() < 250, qPrintable(tint.name()));
    QString saved = QStringLiteral(KVR_SCREENSHOT_DIR "/native-table-row.png");
    sel.save(saved);
}

KVR_TEST_MAIN(FleetRulesTest)
#include "tst_fleet_rules.moc"
