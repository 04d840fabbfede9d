#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/Verdicts.h"
#include "tests/native/services/NativeSeed.h"

#include <QHash>
#include <QSet>

using namespace kvr::services;

using namespace Native;
using namespace NativeInsights;
using nativeseed::alert;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(12, 0));

QStringList lines(const QList<Issue>& list)
{
    QStringList out;
    for (const Issue& i : list)
        out << QStringLiteral("%1/%2 %3 | %4").arg(i.level).arg(i.order).arg(i.title, i.detail);
    return out;
}

// A device whose last check found everything in order, then changed by `edit`.
Device healthy(const QString& name = QStringLiteral("Recorder"), int channels = 4,
               const std::function<void(Device&, Health&)>& edit = {})
{
    Device d = nativeseed::device(name, QString(), channels, kNow.addDays(-60));
    d.ip = QStringLiteral("192.168.1.20");
    Health& h = d.health;
    h.checkedAt = h.lastUp = kNow.addSecs(-120);
    h.fetchedAt = kNow.addSecs(-3600);
    h.internet = h.device = h.httpPort = h.rtspPort = Passed;
    h.latencyMs = 12;
    h.lossPercent = 0;
    h.quality = QStringLiteral("Good");
    h.hdd = QStringLiteral("OK");
    h.model = QStringLiteral("DS-7616");
    for (Camera& c : d.cameras)
        c.onlineKnown = c.online = true;
    if (edit)
        edit(d, h);
    return d;
}

// A healthy device whose clock read `deviceTime` when fetched at `fetchedAt`.
Device clocked(const QString& deviceTime, const QDateTime& fetchedAt = kNow.addSecs(-3600))
{
    return healthy("Clock", 4, [&](Device&, Health& h) { h.deviceTime = deviceTime, h.fetchedAt = fetchedAt; });
}

// The scheduler's refused set and the live event state under the test's control.
struct Fleet : nativeseed::Fleet {
    Fleet() : nativeseed::Fleet(kNow) {}
    QSet<QString> refused;
    QHash<QString, QList<Standing>> standing;
    QHash<QString, Native::LinkStatus> links;

    Sources sources() const
    {
        Sources s;
        s.store = store.get();
        s.refused = [this](const QString& id) { return refused.contains(id); };
        // The rule asks for one day of conditions.
        s.standing = [this](const QString& id, int hours) {
            return hours == 24 ? standing.value(id) : QList<Standing>();
        };
        s.link = [this](const QString& id) { return links.value(id); };
        return s;
    }
    QStringList of(int index) const { return lines(issuesFor(sources(), store->devices().at(index), kNow)); }
    // Each device's findings, in load order.
    void expect(const QList<QStringList>& perDevice) const
    {
        for (int i = 0; i < perDevice.size(); ++i)
            QCOMPARE(of(i), perDevice.at(i));
    }
};

} // namespace

class TestVerdicts : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        nativeseed::removeFiles();
        clearUptimeCache();
    }

    void timeTexts()
    {
        const QList<QPair<qint64, const char*>> spans = {
            {0, "1 min"},       {90, "1 min"},
            {121, "2 min"},     {3599, "59 min"},
            {3650, "1 h"},      {-3700, "1 h 1 min"},
            {36060, "10 h"},    {172799, "47 h"},
            {172800, "2 days"}, {std::numeric_limits<qint64>::min(), "106751991167300 days"}};
        for (const auto& [secs, text] : spans)
            QCOMPARE(span(secs), QString::fromLatin1(text));
        const QList<QPair<qint64, const char*>> agos = {
            {59, "just now"},     {3600, "just now"},        {-60, "1 min ago"},        {-3599, "59 min ago"},
            {-86399, "23 h ago"}, {-30 * 3600, "yesterday"}, {-50 * 3600, "2 days ago"}};
        for (const auto& [secs, text] : agos)
            QCOMPARE(ago(kNow.addSecs(secs), kNow), QString::fromLatin1(text));
        QCOMPARE(ago(QDateTime(), kNow), QStringLiteral("never"));
    }

    // Each device's findings from its last check (state, recordings,
    // cameras, ports, network and clock) and its live events, in one fleet.
    void findingsPerDevice()
    {
        Fleet f;
        const Device off = healthy("Off", 4, [](Device& d, Health& h) { d.enabled = false, h.hdd = "Fault"; });
        const Device fresh = healthy("Fresh", 4, [](Device&, Health& h) { h = Health{}; });
        const Device gone = healthy("Gone", 4, [](Device& d, Health& h) {
            h.internet = h.device = Failed, h.hdd = "Fault", h.lastUp = kNow.addSecs(-2 * 3600);
            d.httpPort = 8080, d.rtspPort = 10554;
        });
        const Device mute = healthy("Mute", 4, [](Device&, Health& h) { h.device = Failed, h.lastUp = QDateTime(); });
        const Device locked = healthy("Locked", 4, [](Device&, Health& h) { h.device = Failed, h.error = "ignored"; });
        const Device erring = healthy(
            "Erring", 4, [](Device&, Health& h) { h.device = NotTested, h.error = "The device answered HTTP 500."; });
        const Device stale = healthy("Stale", 4, [](Device&, Health& h) { h.checkedAt = kNow.addSecs(-86401); });
        const Device unfetched = healthy("Unfetched", 4, [](Device&, Health& h) {
            h.checkedAt = kNow.addSecs(-86400), h.fetchedAt = QDateTime(), h.model.clear();
        });
        const Device modelOnly = healthy("Model", 4, [](Device&, Health& h) { h.fetchedAt = QDateTime(); });
        // Day counts from a device or a damaged file must not wrap around; an
        // uncounted or empty window says nothing.
        auto recorded = [](int days, int window) {
            return healthy("R", 4, [=](Device&, Health& h) { h.recordingDays = days, h.recordingWindow = window; });
        };
        Device eight = healthy(QStringLiteral("Eight"), 8);
        for (int i = 0; i < 6; ++i)
            eight.cameras[i].online = false;
        eight.cameras[0].name = QStringLiteral("Gate");
        eight.cameras[1].lastOnline = kNow.addSecs(-300);
        Device all = healthy(QStringLiteral("All"), 8);
        for (Camera& c : all.cameras)
            c.online = false;
        const Device ignoredOne =
            healthy("Ignored", 3, [](Device& d, Health&) { d.cameras[2].online = false, d.ignored = {3}; });
        Device unknown = healthy(QStringLiteral("Unknown"), 2);
        unknown.cameras[0].online = false;
        unknown.cameras[1].onlineKnown = unknown.cameras[1].online = false; // unknown is never offline
        // Camera states of a device that did not answer are not judged.
        Device down = all;
        down.id = nativeseed::newId();
        down.health.device = Failed;
        const Device port = healthy("Port", 4, [](Device& d, Health& h) { h.rtspPort = Failed, d.rtspPort = 10554; });
        auto network = [](const char* quality, int latencyMs, int lossPercent) {
            return healthy(quality, 4, [=](Device&, Health& h) {
                h.quality = QString::fromLatin1(quality), h.latencyMs = latencyMs, h.lossPercent = lossPercent;
            });
        };
        auto skewed = [](qint64 secs, const char* zone = "") {
            return clocked(kNow.addSecs(-3600 + secs).toString(Qt::ISODate) + QString::fromLatin1(zone));
        };
        // Conditions standing in the live events, and the event stream's state.
        Device gateNvr = healthy(QStringLiteral("Gate NVR"), 8);
        gateNvr.cameras[0].name = QStringLiteral("Gate");
        const Device lost = healthy("Lost"), quiet = healthy("Quiet"), streamLocked = healthy("Locked");
        const Device dahua =
            healthy("Dahua", 4, [](Device& dev, Health&) { dev.manufacturer = QStringLiteral("DAHUA"); });
        Device small = healthy(QStringLiteral("Small"), 1);
        small.cameras[0].name = QStringLiteral("Gate");
        // Details the last fetch could not read, by reason; the disk and
        // camera states make a warning, the rest a notice.
        auto unread = [](const char* name, const char* type, const QList<Unread>& parts) {
            return healthy(name, 4, [=](Device& d, Health& h) {
                d.type = QString::fromLatin1(type), h.unread = parts;
                if (h.unreadOf(Detail::Disks))
                    h.hdd.clear();
            });
        };
        const QString slow = QStringLiteral("No answer in time."),
                      junk = QStringLiteral("The device's answer could not be read.");
        down.health.unread = {{Detail::Disks, slow}}; // not judged while it does not answer
        f.load(QList<Device>{off, fresh, gone, mute, locked, erring, stale, unfetched, modelOnly, eight, all,
                             ignoredOne, unknown, down, port}
               + QList<Device>{recorded(27, 30), recorded(26, 30), recorded(0, 1), recorded(0, 30), recorded(-1, 30),
                               recorded(0, 0), recorded(2000000000, 2100000000), recorded(300000000, 400000000)}
               + QList<Device>{network("Poor", 640, -1), network("Degraded", 180, 33), skewed(121, "+05:30"),
                               skewed(-3700), skewed(120), clocked("9999-12-31T23:59:59")}
               + QList<Device>{gateNvr, lost, quiet, streamLocked, dahua, small}
               + QList<Device>{unread("Disks", "nvr",
                                      {{Detail::Disks, slow},
                                       {Detail::CameraStates, slow},
                                       {Detail::Clock, junk},
                                       {Detail::ChannelNames, slow}}),
                               unread("States", "ipcamera", {{Detail::CameraStates, junk}}),
                               unread("Names", "panel", {{Detail::ChannelNames, slow}, {Detail::Firmware, slow}})});
        f.refused.insert(locked.id);
        f.standing.insert(off.id, {Standing{7, 1, kNow.addSecs(-600)}});
        f.standing.insert(fresh.id, {Standing{4, 2, kNow.addSecs(-600)}});
        // Newest first, as the event log gives them.
        QList<Standing> many = {Standing{4, 1, kNow.addSecs(-120)}, Standing{7, 0, kNow.addSecs(-7200)},
                                Standing{4, 2, kNow.addSecs(-600)}, Standing{4, 1, kNow.addSecs(-900)}};
        for (int ch = 3; ch <= 8; ++ch)
            many << Standing{11, ch, kNow.addSecs(-10 * ch)};
        f.standing.insert(gateNvr.id, many);
        // A standing channel with no camera record is named by number.
        f.standing.insert(small.id, {Standing{4, 2, kNow.addSecs(-60)}, Standing{4, 1, kNow.addSecs(-70)}});
        const LinkStatus lostLink{Link::Lost, "The event stream dropped.", kNow.addSecs(-601), {}};
        f.links.insert(lost.id, lostLink);
        f.links.insert(quiet.id, LinkStatus{Link::Unsupported, "x", kNow.addSecs(-600), {}});
        f.links.insert(streamLocked.id, LinkStatus{Link::Refused, "y", kNow, {}});
        f.links.insert(dahua.id, lostLink); // its brand has no event stream
        const QString ntp = QStringLiteral(
            " | Recordings are stamped with the wrong time, so searches by time miss. Turn on NTP on the device.");
        f.expect({
            {},
            {"1/16 Video loss reported | Camera 2, 10 min ago, by the device's live events. Not cleared since.",
             "2/50 Not checked yet | Run a diagnostic to see whether it is reachable and recording."},
            {"0/0 Unreachable | No answer from 192.168.1.20 on ports 8080 / 10554 (checked 2 min ago). "
             "Last online 2 h ago.",
             "0/3 Disk fault | A disk reports an error: recordings may be missing or about to stop."},
            {"0/2 Not answering properly | The host answers, but the recorder did not accept the check. "
             "Never seen online."},
            {"0/1 Login refused | The saved username or password was refused. Automatic checks are paused so "
             "the account is not locked."},
            {"0/2 Not answering properly | The device answered HTTP 500. Last online 2 min ago."},
            {"2/40 Last checked yesterday | This result may be out of date. Refresh to check again."},
            {"2/41 No device info yet | Fetch device info to read its model, disks, recordings and cameras."},
            {},
            {"1/11 6 cameras offline | Gate, Camera 2 (seen 5 min ago), Camera 3, Camera 4 and 2 more."},
            {"0/5 All cameras offline | Camera 1, Camera 2, Camera 3, Camera 4 and 4 more."},
            {},
            {"1/11 1 camera offline | Camera 1."},
            {"0/2 Not answering properly | The host answers, but the recorder did not accept the check. "
             "Last online 2 min ago."},
            {"1/12 Live view port closed | RTSP port 10554 did not answer: live view and playback will not work "
             "from here."},
            {},
            {"1/10 Recording gaps | Recordings on 26 of the last 30 days."},
            {"0/4 Not recording | No recordings found in the last 1 day."},
            {"0/4 Not recording | No recordings found in the last 30 days."},
            {},
            {},
            {},
            {"1/10 Recording gaps | Recordings on 300000000 of the last 400000000 days."},
            {"1/13 Poor network | 640 ms latency, 0% of probes lost. Expect slow or broken live view."},
            {"2/30 Slow network | 180 ms latency, 33% of probes lost."},
            {"1/14 Clock ahead by 2 min" + ntp},
            {"1/14 Clock behind by 1 h 1 min" + ntp},
            {},
            // A clock thousands of years ahead stays a large positive drift.
            {"1/14 Clock ahead by 24855 days" + ntp},
            {"1/16 Video loss reported | Gate, Camera 2, 2 min ago, by the device's live events. Not cleared since.",
             "0/6 Disk error reported | 2 h ago, by the device's live events. Not cleared since.",
             "0/6 Recording failed reported | Camera 3, Camera 4, Camera 5, Camera 6 and 2 more, just now, by the "
             "device's live events. Not cleared since."},
            {"2/45 No live events | The event stream dropped. Problems show only at the next scheduled check."},
            {},
            {"2/45 No live events | The device refused the event stream's login although checks log in fine. "
             "Problems show only at the next scheduled check."},
            {},
            {"1/16 Video loss reported | Channel 2, Gate, 1 min ago, by the device's live events. Not cleared since."},
            {"1/17 Disk status unknown | The recorder did not send its disk status, the states of its cameras or the "
             "names of its cameras: No answer in time. It did not send its clock: The device's answer could not be "
             "read."},
            {"1/17 Camera states unknown | The camera did not send the states of its cameras: The device's answer "
             "could not be read."},
            {"2/42 Details not read | The device did not send the names of its cameras or its firmware version: No "
             "answer in time."},
        });
        // Disabled devices count nowhere.
        QCOMPARE(sites(f.sources(), kNow).size(), 1);
        QCOMPARE(sites(f.sources(), kNow).at(0).devices, 37);
    }

    // A device clock reads whole seconds; the check time has milliseconds
    // until the next start: compared in whole seconds.
    void clockDrift()
    {
        QCOMPARE(clockDriftSecs(clocked("9999-12-31T23:59:59")), std::numeric_limits<int>::max());
        QCOMPARE(clockDriftSecs(clocked("2026-03-02 10:07:00", QDateTime(kNow.date(), QTime(10, 0, 0, 800)))), 420);
        QCOMPARE(clockDriftSecs(clocked("soon")), kUnknownDrift);
        QCOMPARE(clockDriftSecs(clocked("2026-03-02T11:00:00", QDateTime())), kUnknownDrift);
    }

    void conditionsFromTheEventLog()
    {
        Fleet f;
        Device d = healthy(QStringLiteral("Gate NVR"), 4);
        d.cameras[0].name = QStringLiteral("Gate");
        f.load({d});
        NativeController controller(f.store.get(),
                                    [](const Device&, NativeController::Kind, int, NativeController::Done) {});
        NativeEvents events(f.store.get(), &controller);
        // Older than a day, or another device's: not standing.
        f.clock.setNowUtc(kNow.addSecs(-25 * 3600).toUTC());
        events.ingest(d.id, {alert("hdfull", 0, true)});
        f.clock.setNowUtc(kNow.addSecs(-3600).toUTC());
        events.ingest(d.id, {alert("diskerror", 0, true), alert("tamperdetection", 2, true)});
        events.ingest(QStringLiteral("other"), {alert("shelteralarm", 3, true)});
        f.clock.setNowUtc(kNow.addSecs(-600).toUTC());
        // The tampering has cleared; a motion is no condition.
        events.ingest(d.id, {alert("tamperdetection", 2, false), alert("vmd", 1, true), alert("videoloss", 1, true)});
        f.clock.setNowUtc(kNow.toUTC());
        // No stream status: no "No live events" notice.
        const Sources src = Sources::over(f.store.get(), &controller, &events);
        QCOMPARE(lines(issuesFor(src, f.store->devices().at(0), kNow)),
                 QStringList({
                     "1/16 Video loss reported | Gate, 10 min ago, by the device's live events. Not cleared since.",
                     "0/6 Disk error reported | 1 h ago, by the device's live events. Not cleared since.",
                 }));
    }

    void oneDeviceKeepsRuleOrder()
    {
        Fleet f;
        const Device d = healthy("Busy", 2, [](Device& x, Health& h) {
            h.hdd = "Fault", h.recordingDays = 3, h.recordingWindow = 30, h.rtspPort = Failed, h.quality = "Degraded";
            h.deviceTime = h.fetchedAt.addSecs(-600).toString(Qt::ISODate), h.checkedAt = kNow.addDays(-3);
            x.cameras[0].online = false;
        });
        f.load({d});
        f.standing.insert(d.id, {Standing{5, 0, kNow.addSecs(-60)}});
        QStringList titles;
        for (const Issue& i : issuesFor(f.sources(), f.store->devices().at(0), kNow))
            titles << i.title;
        QCOMPARE(titles,
                 QStringList({"Tampering reported", "Disk fault", "Recording gaps", "1 camera offline",
                              "Live view port closed", "Slow network", "Clock behind by 10 min",
                              "Last checked 3 days ago"}));
    }

    void fleetOrderAndSites()
    {
        Fleet f;
        auto site = [](const QString& name, const QString& contact = {}, const QString& isp = {}) {
            return Site{nativeseed::newId(), name, {}, contact, isp, {}, {}}; // id, name, address, contact, isp, ...
        };
        const Site north = site("north", "Ravi 98450", "FibreNet"), south = site("South"),
                   alpha = site("Alpha", {}, "Airline");
        auto southDown = [&](Device& d, Health& h) { d.siteId = south.id, h.internet = Failed; };
        const Device a = healthy("A", 4, southDown), c = healthy("C", 4, southDown);
        Device b = healthy(QStringLiteral("B"));
        b.siteId = north.id;
        b.health.quality = QStringLiteral("Poor");
        b.cameras[1].online = false;
        b.cameras[2].onlineKnown = false;
        b.ignored = {4};
        const Device orphan = healthy("Orphan", 4, [](Device& d, Health& h) { d.siteId = "gone-site", h = Health{}; });
        const Device off = healthy("Off", 4, [&](Device& d, Health&) { d.siteId = alpha.id, d.enabled = false; });
        const Device bare = healthy("Bare");
        f.load({a, b, c, orphan, off, bare}, {north, south, alpha});

        QStringList order;
        for (const Issue& i : issues(f.sources(), kNow))
            order << i.title + " " + f.store->device(i.deviceId)->name;
        QCOMPARE(order,
                 QStringList({"Unreachable A", "Unreachable C", "1 camera offline B", "Poor network B",
                              "Not checked yet Orphan"}));

        // Problems first, then warnings, then name ignoring case; one "No
        // site" row per distinct missing site id.
        auto row = [](const SiteSummary& r) {
            return QString::asprintf("%s [%s] d%d c%d u%d p%d w%d cam%d/%d/%d", qPrintable(r.name),
                                     qPrintable(r.subtitle), r.devices, r.checked, r.up, r.problems, r.warnings,
                                     r.camerasOnline, r.camerasKnown, r.cameras);
        };
        QStringList rows;
        for (const SiteSummary& r : sites(f.sources(), kNow))
            rows << row(r) + " " + (r.siteId == QLatin1String("gone-site") ? "gone" : r.siteId.isEmpty() ? "none" : "");
        // Camera online counts go on the flag alone.
        QCOMPARE(rows.mid(0, 2),
                 QStringList(
                     {"South [] d2 c2 u2 p2 w0 cam8/8/8 ", "north [FibreNet · Ravi 98450] d1 c1 u1 p0 w2 cam2/2/3 "}));
        // The unchecked one counts a device but no check.
        QStringList noSite = rows.mid(2);
        noSite.sort();
        QCOMPARE(noSite,
                 QStringList({"No site [] d1 c0 u0 p0 w0 cam4/4/4 gone", "No site [] d1 c1 u1 p0 w0 cam4/4/4 none"}));
    }

    void uptimeFiguresAndUnstable()
    {
        Fleet f;
        const Device a = healthy("A"), b = healthy("B"), exact = healthy("Exact"), shaky = healthy("Shaky");
        const Device off = healthy("Off", 4, [](Device& d, Health&) { d.enabled = false; });
        UptimeHistory history;
        const QDate today = kNow.date();
        for (int h = 0; h < 10; ++h) {
            nativeseed::hour(history, a.id, GraphType::Device, 0, today.addDays(-2), h, 60);
            nativeseed::hour(history, b.id, GraphType::Device, 0, today.addDays(-2), h, h < 5 ? 0 : 60);
            nativeseed::hour(history, off.id, GraphType::Device, 0, today.addDays(-1), h, 0);
        }
        nativeseed::hour(history, a.id, GraphType::Device, 0, today, 1, 30);
        // 20 known hours yesterday: 19 up and 1 down is exactly 95.0 %, not unstable.
        for (int h = 0; h < 20; ++h) {
            nativeseed::hour(history, exact.id, GraphType::Device, 0, today.addDays(-1), h, h == 0 ? 0 : 60);
            nativeseed::hour(history, shaky.id, GraphType::Device, 0, today.addDays(-1), h, h < 2 ? 0 : 60);
        }
        f.load({a, b, off, exact, shaky}, {}, history);
        QCOMPARE(average(dailyUptime(*f.store, exact.id, 7, kNow)), 95.0);
        QCOMPARE(f.of(3), QStringList());
        QCOMPARE(f.of(4), QStringList({"1/15 Unstable | Up 90.0% of the checked time in the last 7 days."}));
        QCOMPARE(dailyUptime(*f.store, a.id, 3, kNow), QList<double>({100.0, -1.0, 50.0}));
        QCOMPARE(dailyUptime(*f.store, b.id, 3, kNow), QList<double>({50.0, -1.0, -1.0}));
        QCOMPARE(fleetDailyUptime(*f.store, 3, kNow), QList<double>({75.0, 92.5, 50.0}));
        // A cached list is not served into a later clock hour.
        QCOMPARE(dailyUptime(*f.store, a.id, 3, kNow.addDays(1)), QList<double>({-1.0, 50.0, -1.0}));
        QCOMPARE(average({-1.0, 20.0, 40.0}), 30.0);
        QCOMPARE(average({}), -1.0);

        // A new uptime credit is seen at once, although the hour is the same.
        f.clock.setNowUtc(kNow.addSecs(-1800).toUTC());
        ProbeResult up;
        up.health = f.store->device(b.id)->health;
        up.health.checkedAt = QDateTime();
        f.store->applyProbe(b.id, up);
        f.clock.setNowUtc(kNow.toUTC());
        f.store->applyProbe(b.id, up);
        const QList<double> after = dailyUptime(*f.store, b.id, 3, kNow);
        QCOMPARE(after.at(0), 50.0);
        QVERIFY(after.at(2) > 0);
        // The credit left the other devices' figures where they were.
        QCOMPARE(f.store->uptime().revisionOf(a.id), f.store->uptime().revisionOf(exact.id));
        QVERIFY(f.store->uptime().revisionOf(b.id) > f.store->uptime().revisionOf(a.id));
        QCOMPARE(dailyUptime(*f.store, a.id, 3, kNow), QList<double>({100.0, -1.0, 50.0}));
    }
};

KVR_TEST_MAIN(TestVerdicts)

#include "tst_verdicts.moc"
