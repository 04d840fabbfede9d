#include "native/services/NativeController.h"
#include "native/services/NativeEvents.h"
#include "native/services/NativeStore.h"
#include "native/services/Verdicts.h"
#include "tests/native/services/NativeSeed.h"
#include "tests/support/TestKit.h"

#include <QDir>
#include <QHash>
#include <QSet>

#include <memory>

using namespace Native;
using namespace NativeInsights;

namespace {

const QDateTime kNow(QDate(2026, 3, 2), QTime(12, 0));

QString line(const Issue &i)
{
    return QStringLiteral("%1/%2 %3 | %4").arg(i.level).arg(i.order).arg(i.title, i.detail);
}

QStringList lines(const QList<Issue> &list)
{
    QStringList out;
    for (const Issue &i : list)
        out << line(i);
    return out;
}

// A device whose last check found everything in order.
Device healthy(const QString &name = QStringLiteral("Recorder"), int channels = 4)
{
    Device d = nativeseed::device(name, QString(), channels, kNow.addDays(-60));
    d.ip = QStringLiteral("192.168.1.20");
    Health &h = d.health;
    h.checkedAt = kNow.addSecs(-120);
    h.fetchedAt = kNow.addSecs(-3600);
    h.internet = h.device = h.httpPort = h.rtspPort = Passed;
    h.latencyMs = 12;
    h.lossPercent = 0;
    h.quality = QStringLiteral("Good");
    h.hdd = QStringLiteral("OK");
    h.model = QStringLiteral("DS-7616");
    h.lastUp = kNow.addSecs(-120);
    for (Camera &c : d.cameras) {
        c.onlineKnown = true;
        c.online = true;
    }
    return d;
}

// A store over prepared files, with the scheduler's refused set and the
// live event state under the test's control.
struct Fleet {
    kvrtest::TestClock clock{kNow.toUTC()};
    std::unique_ptr<NativeStore> store;
    QSet<QString> refused;
    QHash<QString, QList<Standing>> standing;
    QHash<QString, LinkState> links;

    void load(const QList<Device> &devices, const QList<Site> &sites = {},
              const UptimeHistory &history = UptimeHistory())
    {
        QVERIFY(nativeseed::writeFiles(sites, devices, history, kNow.date()));
        store = std::make_unique<NativeStore>();
        QCOMPARE(store->devices().size(), devices.size());
    }

    Sources sources() const
    {
        Sources s;
        s.store = store.get();
        s.refused = [this](const QString &id) { return refused.contains(id); };
        s.standing = [this](const QString &id, int hours) {
            // The rule asks for one day of conditions.
            return hours == 24 ? standing.value(id) : QList<Standing>();
        };
        s.link = [this](const QString &id) { return links.value(id); };
        return s;
    }

    QStringList of(const Device &d) const { return lines(issuesFor(sources(), d, kNow)); }
    QStringList of(int index) const { return of(store->devices().at(index)); }
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
        QCOMPARE(span(0), QStringLiteral("1 min"));
        QCOMPARE(span(89), QStringLiteral("1 min"));
        QCOMPARE(span(90), QStringLiteral("1 min"));
        QCOMPARE(span(121), QStringLiteral("2 min"));
        QCOMPARE(span(3599), QStringLiteral("59 min"));
        QCOMPARE(span(3650), QStringLiteral("1 h"));
        QCOMPARE(span(-3700), QStringLiteral("1 h 1 min"));
        QCOMPARE(span(36060), QStringLiteral("10 h"));
        QCOMPARE(span(172799), QStringLiteral("47 h"));
        QCOMPARE(span(172800), QStringLiteral("2 days"));
        QCOMPARE(span(std::numeric_limits<qint64>::min()), QStringLiteral("106751991167300 days"));

        QCOMPARE(ago(QDateTime(), kNow), QStringLiteral("never"));
        QCOMPARE(ago(kNow.addSecs(59), kNow), QStringLiteral("just now"));
        QCOMPARE(ago(kNow.addSecs(3600), kNow), QStringLiteral("just now"));  // in the future
        QCOMPARE(ago(kNow.addSecs(-60), kNow), QStringLiteral("1 min ago"));
        QCOMPARE(ago(kNow.addSecs(-3599), kNow), QStringLiteral("59 min ago"));
        QCOMPARE(ago(kNow.addSecs(-86399), kNow), QStringLiteral("23 h ago"));
        QCOMPARE(ago(kNow.addSecs(-30 * 3600), kNow), QStringLiteral("yesterday"));
        QCOMPARE(ago(kNow.addSecs(-50 * 3600), kNow), QStringLiteral("2 days ago"));

        QCOMPARE(countText(1, "day", "days"), QStringLiteral("1 day"));
        QCOMPARE(countText(0, "day", "days"), QStringLiteral("0 days"));
        Camera c;
        c.channelId = 3;
        QCOMPARE(cameraLabel(c), QStringLiteral("Camera 3"));
        c.name = QStringLiteral("Gate");
        QCOMPARE(cameraLabel(c), QStringLiteral("Gate"));
    }

    void disabledAndUncheckedDevices()
    {
        Fleet f;
        Device off = healthy(QStringLiteral("Off"));
        off.enabled = false;
        off.health.hdd = QStringLiteral("Fault");
        Device fresh = healthy(QStringLiteral("Fresh"));
        fresh.health = Health{};
        f.load({off, fresh});
        f.standing.insert(off.id, {Standing{7, 1, kNow.addSecs(-600)}});
        f.standing.insert(fresh.id, {Standing{4, 2, kNow.addSecs(-600)}});
        QCOMPARE(f.of(0), QStringList());
        QCOMPARE(f.of(1), QStringList({
            "1/16 Video loss reported | Camera 2, 10 min ago, by the device's live events. Not cleared since.",
            "2/50 Not checked yet | Run a diagnostic to see whether it is reachable and recording.",
        }));
        // Disabled devices count nowhere.
        QCOMPARE(sites(f.sources(), kNow).size(), 1);
        QCOMPARE(sites(f.sources(), kNow).at(0).devices, 1);
    }

    void reachabilityLoginAndDisk()
    {
        Fleet f;
        Device gone = healthy(QStringLiteral("Gone"));
        gone.health.internet = Failed;
        gone.health.device = Failed;
        gone.health.hdd = QStringLiteral("Fault");
        gone.health.lastUp = kNow.addSecs(-2 * 3600);
        gone.httpPort = 8080;
        gone.rtspPort = 10554;
        Device mute = healthy(QStringLiteral("Mute"));
        mute.health.device = Failed;
        mute.health.lastUp = QDateTime();
        Device locked = healthy(QStringLiteral("Locked"));
        locked.health.device = Failed;
        locked.health.error = QStringLiteral("ignored when refused");
        Device erring = healthy(QStringLiteral("Erring"));
        erring.health.device = NotTested;
        erring.health.error = QStringLiteral("The device answered HTTP 500.");
        f.load({gone, mute, locked, erring});
        f.refused.insert(locked.id);

        QCOMPARE(f.of(0), QStringList({
            "0/0 Unreachable | No answer from 192.168.1.20 on ports 8080 / 10554 (checked 2 min ago). "
            "Last online 2 h ago.",
            "0/3 Disk fault | A disk reports an error: recordings may be missing or about to stop.",
        }));
        QCOMPARE(f.of(1), QStringList({
            "0/2 Not answering properly | The host answers, but the recorder did not accept the check. "
            "Never seen online.",
        }));
        QCOMPARE(f.of(2), QStringList({
            "0/1 Login refused | The saved username or password was refused. Automatic checks are paused so "
            "the account is not locked.",
        }));
        QCOMPARE(f.of(3), QStringList({
            "0/2 Not answering properly | The device answered HTTP 500. Last online 2 min ago.",
        }));
    }

    void recordingRules_data()
    {
        QTest::addColumn<int>("days");
        QTest::addColumn<int>("window");
        QTest::addColumn<QString>("expected");
        QTest::newRow("27 of 30") << 27 << 30 << QString();
        QTest::newRow("26 of 30") << 26 << 30
                                  << "1/10 Recording gaps | Recordings on 26 of the last 30 days.";
        QTest::newRow("0 of 1") << 0 << 1 << "0/4 Not recording | No recordings found in the last 1 day.";
        QTest::newRow("0 of 30") << 0 << 30 << "0/4 Not recording | No recordings found in the last 30 days.";
        QTest::newRow("not counted") << -1 << 30 << QString();
        QTest::newRow("no window") << 0 << 0 << QString();
        // Numbers from a device or a damaged file must not wrap around.
        QTest::newRow("huge, enough") << 2000000000 << 2100000000 << QString();
        QTest::newRow("huge, gaps") << 300000000 << 400000000
                                    << "1/10 Recording gaps | Recordings on 300000000 of the last 400000000 days.";
    }

    void recordingRules()
    {
        QFETCH(int, days);
        QFETCH(int, window);
        QFETCH(QString, expected);
        Fleet f;
        Device d = healthy();
        d.health.recordingDays = days;
        d.health.recordingWindow = window;
        f.load({d});
        QCOMPARE(f.of(0), expected.isEmpty() ? QStringList() : QStringList{expected});
    }

    void cameraRules()
    {
        Fleet f;
        Device eight = healthy(QStringLiteral("Eight"), 8);
        for (int i = 0; i < 6; ++i)
            eight.cameras[i].online = false;
        eight.cameras[0].name = QStringLiteral("Gate");
        eight.cameras[1].lastOnline = kNow.addSecs(-300);
        Device all = healthy(QStringLiteral("All"), 8);
        for (Camera &c : all.cameras)
            c.online = false;
        Device ignoredOne = healthy(QStringLiteral("Ignored"), 3);
        ignoredOne.cameras[2].online = false;
        ignoredOne.ignored = {3};
        Device unknown = healthy(QStringLiteral("Unknown"), 2);
        unknown.cameras[0].online = false;
        unknown.cameras[1].onlineKnown = false;  // unknown is never offline
        unknown.cameras[1].online = false;
        Device downDevice = healthy(QStringLiteral("Down"), 2);
        downDevice.health.device = Failed;
        for (Camera &c : downDevice.cameras)
            c.online = false;
        f.load({eight, all, ignoredOne, unknown, downDevice});

        QCOMPARE(f.of(0), QStringList({
            "1/11 6 cameras offline | Gate, Camera 2 (seen 5 min ago), Camera 3, Camera 4 and 2 more.",
        }));
        QCOMPARE(f.of(1), QStringList({
            "0/5 All cameras offline | Camera 1, Camera 2, Camera 3, Camera 4 and 4 more.",
        }));
        QCOMPARE(f.of(2), QStringList());
        QCOMPARE(f.of(3), QStringList({"1/11 1 camera offline | Camera 1."}));
        // Camera states of a device that did not answer are not judged.
        QCOMPARE(f.of(4).size(), 1);
        QVERIFY(f.of(4).at(0).startsWith("0/2 Not answering properly"));
    }

    void networkPortAndClock()
    {
        Fleet f;
        Device port = healthy(QStringLiteral("Port"));
        port.health.rtspPort = Failed;
        port.rtspPort = 10554;
        Device poor = healthy(QStringLiteral("Poor"));
        poor.health.quality = QStringLiteral("Poor");
        poor.health.latencyMs = 640;
        poor.health.lossPercent = -1;
        Device slow = healthy(QStringLiteral("Slow"));
        slow.health.quality = QStringLiteral("Degraded");
        slow.health.latencyMs = 180;
        slow.health.lossPercent = 33;
        Device ahead = healthy(QStringLiteral("Ahead"));
        ahead.health.deviceTime = ahead.health.fetchedAt.addSecs(121).toString(Qt::ISODate) + "+05:30";
        Device behind = healthy(QStringLiteral("Behind"));
        behind.health.deviceTime = behind.health.fetchedAt.addSecs(-3700).toString(Qt::ISODate);
        Device fine = healthy(QStringLiteral("Fine"));
        fine.health.deviceTime = fine.health.fetchedAt.addSecs(120).toString(Qt::ISODate);
        Device wild = healthy(QStringLiteral("Wild"));
        wild.health.deviceTime = QStringLiteral("9999-12-31T23:59:59");
        f.load({port, poor, slow, ahead, behind, fine, wild});

        QCOMPARE(f.of(0), QStringList({
            "1/12 Live view port closed | RTSP port 10554 did not answer: live view and playback will not "
            "work from here.",
        }));
        QCOMPARE(f.of(1), QStringList({
            "1/13 Poor network | 640 ms latency, 0% of probes lost. Expect slow or broken live view.",
        }));
        QCOMPARE(f.of(2), QStringList({"2/30 Slow network | 180 ms latency, 33% of probes lost."}));
        const QString ntp = QStringLiteral(
            "Recordings are stamped with the wrong time, so searches by time miss. Turn on NTP on the device.");
        QCOMPARE(f.of(3), QStringList({"1/14 Clock ahead by 2 min | " + ntp}));
        QCOMPARE(f.of(4), QStringList({"1/14 Clock behind by 1 h 1 min | " + ntp}));
        QCOMPARE(f.of(5), QStringList());
        QCOMPARE(clockDriftSecs(f.store->devices().at(5)), 120);
        // A clock thousands of years ahead stays a large positive drift.
        QCOMPARE(clockDriftSecs(f.store->devices().at(6)), std::numeric_limits<int>::max());
        QCOMPARE(f.of(6), QStringList({"1/14 Clock ahead by 24855 days | " + ntp}));

        Device unknown = healthy();
        unknown.health.deviceTime = QStringLiteral("soon");
        QCOMPARE(clockDriftSecs(unknown), kUnknownDrift);
        unknown.health.deviceTime = QStringLiteral("2026-03-02T11:00:00");
        unknown.health.fetchedAt = QDateTime();
        QCOMPARE(clockDriftSecs(unknown), kUnknownDrift);
    }

    void unstableWeek()
    {
        Fleet f;
        Device exact = healthy(QStringLiteral("Exact"));
        Device shaky = healthy(QStringLiteral("Shaky"));
        Device blank = healthy(QStringLiteral("Blank"));
        UptimeHistory history;
        // 20 known hours yesterday: 19 up and 1 down is exactly 95.0 %.
        const QDate day = kNow.date().addDays(-1);
        for (int h = 0; h < 20; ++h) {
            nativeseed::hour(history, exact.id, GraphType::Device, 0, day, h, h == 0 ? 0 : 60);
            nativeseed::hour(history, shaky.id, GraphType::Device, 0, day, h, h < 2 ? 0 : 60);
        }
        f.load({exact, shaky, blank}, {}, history);
        QCOMPARE(average(dailyUptime(*f.store, exact.id, 7, kNow)), 95.0);
        QCOMPARE(f.of(0), QStringList());
        QCOMPARE(f.of(1), QStringList({"1/15 Unstable | Up 90.0% of the checked time in the last 7 days."}));
        QCOMPARE(average(dailyUptime(*f.store, blank.id, 7, kNow)), -1.0);
        QCOMPARE(f.of(2), QStringList());
    }

    void liveEventFindings()
    {
        Fleet f;
        Device d = healthy(QStringLiteral("Gate NVR"), 8);
        d.cameras[0].name = QStringLiteral("Gate");
        Device lost = healthy(QStringLiteral("Lost"));
        Device quiet = healthy(QStringLiteral("Quiet"));
        Device locked = healthy(QStringLiteral("Locked"));
        Device dahua = healthy(QStringLiteral("Dahua"));
        dahua.manufacturer = QStringLiteral("DAHUA");
        f.load({d, lost, quiet, locked, dahua});
        // Newest first, as the event log gives them.
        f.standing.insert(d.id, {
            Standing{4, 1, kNow.addSecs(-120)},
            Standing{7, 0, kNow.addSecs(-7200)},
            Standing{4, 2, kNow.addSecs(-600)},
            Standing{4, 1, kNow.addSecs(-900)},
            Standing{11, 3, kNow.addSecs(-30)},
            Standing{11, 4, kNow.addSecs(-40)},
            Standing{11, 5, kNow.addSecs(-50)},
            Standing{11, 6, kNow.addSecs(-60)},
            Standing{11, 7, kNow.addSecs(-70)},
            Standing{11, 8, kNow.addSecs(-80)},
        });
        const LinkState lostLink{Link::Lost, QStringLiteral("The event stream dropped."), kNow.addSecs(-601)};
        f.links.insert(lost.id, lostLink);
        f.links.insert(quiet.id, LinkState{Link::Unsupported, QStringLiteral("x"), kNow.addSecs(-600)});
        f.links.insert(locked.id, LinkState{Link::Refused, QStringLiteral("y"), kNow});
        f.links.insert(dahua.id, lostLink);

        QCOMPARE(f.of(0), QStringList({
            "1/16 Video loss reported | Gate, Camera 2, 2 min ago, by the device's live events. Not cleared since.",
            "0/6 Disk error reported | 2 h ago, by the device's live events. Not cleared since.",
            "0/6 Recording failed reported | Camera 3, Camera 4, Camera 5, Camera 6 and 2 more, just now, by "
            "the device's live events. Not cleared since.",
        }));
        QCOMPARE(f.of(1), QStringList({
            "2/45 No live events | The event stream dropped. Problems show only at the next scheduled check.",
        }));
        QCOMPARE(f.of(2), QStringList());
        QCOMPARE(f.of(3), QStringList({
            "2/45 No live events | The device refused the event stream's login although checks log in fine. "
            "Problems show only at the next scheduled check.",
        }));
        QCOMPARE(f.of(4), QStringList());  // its brand has no event stream

        // A standing channel with no camera record is named by number.
        Fleet g;
        Device small = healthy(QStringLiteral("Small"), 1);
        small.cameras[0].name = QStringLiteral("Gate");
        g.load({small});
        g.standing.insert(small.id, {Standing{4, 2, kNow.addSecs(-60)}, Standing{4, 1, kNow.addSecs(-70)}});
        QCOMPARE(g.of(0), QStringList({
            "1/16 Video loss reported | Channel 2, Gate, 1 min ago, by the device's live events. Not cleared "
            "since.",
        }));
    }

    void conditionsFromTheEventLog()
    {
        Fleet f;
        Device d = healthy(QStringLiteral("Gate NVR"), 4);
        d.cameras[0].name = QStringLiteral("Gate");
        f.load({d});
        NativeController controller(f.store.get(), [](const Device &, NativeController::Kind, int,
                                                      NativeController::Done) {});
        NativeEvents events(f.store.get(), &controller);
        auto alert = [](const QString &type, int channel, bool active) {
            AlertStream::Alert a;
            a.type = type;
            a.channel = channel;
            a.active = active;
            return a;
        };
        f.clock.setNowUtc(kNow.addSecs(-3600).toUTC());
        events.ingest(d.id, {alert("diskerror", 0, true), alert("tamperdetection", 2, true)});
        f.clock.setNowUtc(kNow.addSecs(-600).toUTC());
        // The tampering has cleared; a motion is no condition.
        events.ingest(d.id, {alert("tamperdetection", 2, false), alert("vmd", 1, true),
                             alert("videoloss", 1, true)});
        f.clock.setNowUtc(kNow.toUTC());
        const Sources src = Sources::over(f.store.get(), &controller, &events);
        QCOMPARE(lines(issuesFor(src, f.store->devices().at(0), kNow)), QStringList({
            "1/16 Video loss reported | Gate, 10 min ago, by the device's live events. Not cleared since.",
            "0/6 Disk error reported | 1 h ago, by the device's live events. Not cleared since.",
        }));
        // No stream status: no "No live events" notice.
        QVERIFY(src.link);
        QCOMPARE(int(src.link(d.id).link), int(Link::Off));
        QVERIFY(!src.refused(d.id));
    }

    void staleAndUnfetched()
    {
        Fleet f;
        Device stale = healthy(QStringLiteral("Stale"));
        stale.health.checkedAt = kNow.addSecs(-86401);
        Device day = healthy(QStringLiteral("Day"));
        day.health.checkedAt = kNow.addSecs(-86400);
        day.health.fetchedAt = QDateTime();
        day.health.model.clear();
        Device modelOnly = healthy(QStringLiteral("Model"));
        modelOnly.health.fetchedAt = QDateTime();
        f.load({stale, day, modelOnly});
        QCOMPARE(f.of(0), QStringList({
            "2/40 Last checked yesterday | This result may be out of date. Refresh to check again.",
        }));
        QCOMPARE(f.of(1), QStringList({
            "2/41 No device info yet | Fetch device info to read its model, disks, recordings and cameras.",
        }));
        QCOMPARE(f.of(2), QStringList());
    }

    void oneDeviceKeepsRuleOrder()
    {
        Fleet f;
        Device d = healthy(QStringLiteral("Busy"), 2);
        Health &h = d.health;
        h.hdd = QStringLiteral("Fault");
        h.recordingDays = 3;
        h.recordingWindow = 30;
        h.rtspPort = Failed;
        h.quality = QStringLiteral("Degraded");
        h.deviceTime = h.fetchedAt.addSecs(-600).toString(Qt::ISODate);
        h.checkedAt = kNow.addDays(-3);
        d.cameras[0].online = false;
        f.load({d});
        f.standing.insert(d.id, {Standing{5, 0, kNow.addSecs(-60)}});
        QStringList titles;
        for (const Issue &i : issuesFor(f.sources(), f.store->devices().at(0), kNow))
            titles << i.title;
        QCOMPARE(titles, QStringList({"Tampering reported", "Disk fault", "Recording gaps", "1 camera offline",
                                      "Live view port closed", "Slow network", "Clock behind by 10 min",
                                      "Last checked 3 days ago"}));
    }

    void fleetOrderAndSites()
    {
        Fleet f;
        Site north{nativeseed::newId(), QStringLiteral("north"), {}, QStringLiteral("Ravi 98450"),
                   QStringLiteral("FibreNet"), {}, {}};
        Site south{nativeseed::newId(), QStringLiteral("South"), {}, {}, {}, {}, {}};
        Site alpha{nativeseed::newId(), QStringLiteral("Alpha"), {}, {}, QStringLiteral("Airline"), {}, {}};
        Device a = healthy(QStringLiteral("A"));
        a.siteId = south.id;
        a.health.internet = Failed;
        Device b = healthy(QStringLiteral("B"));
        b.siteId = north.id;
        b.health.quality = QStringLiteral("Poor");
        b.cameras[1].online = false;
        b.cameras[2].onlineKnown = false;
        b.ignored = {4};
        Device c = healthy(QStringLiteral("C"));
        c.siteId = south.id;
        c.health.internet = Failed;
        Device orphan = healthy(QStringLiteral("Orphan"));
        orphan.siteId = QStringLiteral("gone-site");
        orphan.health = Health{};
        Device off = healthy(QStringLiteral("Off"));
        off.siteId = alpha.id;
        off.enabled = false;
        Device bare = healthy(QStringLiteral("Bare"));
        f.load({a, b, c, orphan, off, bare}, {north, south, alpha});

        const QList<Issue> all = issues(f.sources(), kNow);
        QStringList order;
        for (const Issue &i : all)
            order << i.title + " " + f.store->device(i.deviceId)->name;
        QCOMPARE(order, QStringList({"Unreachable A", "Unreachable C", "1 camera offline B", "Poor network B",
                                     "Not checked yet Orphan"}));

        const QList<SiteSummary> rows = sites(f.sources(), kNow);
        QStringList names;
        for (const SiteSummary &r : rows)
            names << r.name;
        // Problems first, then warnings, then name ignoring case.
        QCOMPARE(names, QStringList({"South", "north", "No site", "No site"}));
        const SiteSummary &s = rows.at(0);
        QCOMPARE(s.devices, 2);
        QCOMPARE(s.checked, 2);
        QCOMPARE(s.up, 2);
        QCOMPARE(s.problems, 2);
        QCOMPARE(s.warnings, 0);
        QCOMPARE(s.subtitle, QString());
        const SiteSummary &n = rows.at(1);
        QCOMPARE(n.subtitle, QStringLiteral("FibreNet · Ravi 98450"));
        QCOMPARE(n.cameras, 3);
        QCOMPARE(n.camerasKnown, 2);
        QCOMPARE(n.camerasOnline, 2);  // counted on the flag alone
        QCOMPARE(n.problems, 0);
        QCOMPARE(n.warnings, 2);
        // One "No site" row per distinct missing site id; the unchecked one
        // counts a device but no check.
        QSet<QString> orphanIds{rows.at(2).siteId, rows.at(3).siteId};
        QCOMPARE(orphanIds, QSet<QString>({QStringLiteral("gone-site"), QString()}));
        for (int i = 2; i < 4; ++i) {
            if (rows.at(i).siteId == QLatin1String("gone-site")) {
                QCOMPARE(rows.at(i).checked, 0);
                QCOMPARE(rows.at(i).up, 0);
                QCOMPARE(rows.at(i).devices, 1);
            }
        }
    }

    void dailyAndFleetUptime()
    {
        Fleet f;
        Device a = healthy(QStringLiteral("A"));
        Device b = healthy(QStringLiteral("B"));
        Device off = healthy(QStringLiteral("Off"));
        off.enabled = false;
        UptimeHistory history;
        const QDate today = kNow.date();
        for (int h = 0; h < 10; ++h) {
            nativeseed::hour(history, a.id, GraphType::Device, 0, today.addDays(-2), h, 60);
            nativeseed::hour(history, b.id, GraphType::Device, 0, today.addDays(-2), h, h < 5 ? 0 : 60);
            nativeseed::hour(history, off.id, GraphType::Device, 0, today.addDays(-1), h, 0);
        }
        nativeseed::hour(history, a.id, GraphType::Device, 0, today, 1, 30);
        f.load({a, b, off}, {}, history);
        QCOMPARE(dailyUptime(*f.store, a.id, 3, kNow), QList<double>({100.0, -1.0, 50.0}));
        QCOMPARE(dailyUptime(*f.store, b.id, 3, kNow), QList<double>({50.0, -1.0, -1.0}));
        QCOMPARE(dailyUptime(*f.store, a.id, 0, kNow), QList<double>());
        QCOMPARE(fleetDailyUptime(*f.store, 3, kNow), QList<double>({75.0, -1.0, 50.0}));
        // A cached list is not served into a later clock hour: the next day
        // moves the days along, though nothing new was credited.
        QCOMPARE(dailyUptime(*f.store, a.id, 3, kNow.addDays(1)), QList<double>({-1.0, 50.0, -1.0}));
        QCOMPARE(average({-1.0, 20.0, 40.0}), 30.0);
        QCOMPARE(average({-1.0}), -1.0);
        QCOMPARE(average({}), -1.0);

        // A new uptime credit is seen at once, although the hour is the same.
        Device *live = f.store->device(b.id);
        QVERIFY(live);
        f.clock.setNowUtc(kNow.addSecs(-1800).toUTC());
        ProbeResult up;
        up.health = live->health;
        up.health.checkedAt = QDateTime();
        f.store->applyProbe(b.id, up);
        f.clock.setNowUtc(kNow.toUTC());
        f.store->applyProbe(b.id, up);
        const QList<double> after = dailyUptime(*f.store, b.id, 3, kNow);
        QCOMPARE(after.at(0), 50.0);
        QVERIFY(after.at(2) > 0);
        QCOMPARE(dailyUptime(*f.store, b.id, 3, kNow), after);
    }
};

KVR_TEST_MAIN(TestVerdicts)
#include "tst_verdicts.moc"
