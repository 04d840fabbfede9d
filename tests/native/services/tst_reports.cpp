#include "native/services/Reports.h"
#include "tests/native/services/NativeSeed.h"

using namespace kvr::services;

using namespace Native;
using namespace NativeReports;

namespace {

const QDateTime kNow(QDate(2026, 3, 20), QTime(15, 30));
const QDate kToday = kNow.date();

const QString kUptimeHeader = QStringLiteral("date,site,device,scope,uptime_percent\n");
const QString kDowntimeHeader = QStringLiteral("site,device,scope,down_from,down_until,hours\n");
const QString kCamerasHeader =
    QStringLiteral("site,device,channel,camera,status,last_online,last_offline,blur_threshold\n");
const QString kStorageHeader = QStringLiteral(
    "site,device,ip,manufacturer,model,serial,firmware,hdd,recording_days,recording_window_days,last_checked\n");

struct Fleet : nativeseed::Fleet {
    Fleet() : nativeseed::Fleet(kNow) {}
    QString report(Kind kind, const QStringList& ids = {}, const QDate& from = kToday, const QDate& to = kToday) const
    {
        return build(*store, kind, ids, from, to, kNow);
    }
};

Device plain(const QString& name, int channels = 1)
{
    return nativeseed::device(name, QString(), channels, kNow.addDays(-90));
}

QStringList rows(const QString& report)
{
    QStringList l = report.split(QLatin1Char('\n'));
    // The last line ends with a line feed too.
    if (!l.isEmpty() && l.last().isEmpty())
        l.removeLast();
    return l.mid(1);
}

} // namespace

class TestReports : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { nativeseed::removeFiles(); }

    void formulaGuardAndQuoting()
    {
        // Fields and what is written for them, between bars. A sign, "=" or
        // "@" first makes a formula, unless a minus sign is followed by a
        // digit (in any script) and no operator follows; separators, quotes
        // and line breaks are quoted.
        const QString fields =
            QString::fromUtf8("|Gate|=1+1|+12|@cmd|-|-x|-3|-\u0661\u0662|-1+1|-5 floor|-5.|-2+cmd!A0|\t=cmd|\r=cmd|"
                              "Main, east|The \"big\" one|a\nb|=HYPERLINK(\"x\",1)|a=b");
        QStringList written;
        for (const QString& field : fields.split('|'))
            written << csvField(field);
        QCOMPARE(written.join('|'),
                 QString::fromUtf8("|Gate|'=1+1|'+12|'@cmd|'-|'-x|-3|-\u0661\u0662|'-1+1|-5 floor|-5.|'-2+cmd!A0|"
                                   "'\t=cmd|\"'\r=cmd\"|\"Main, east\"|\"The \"\"big\"\" one\"|\"a\nb\"|"
                                   "\"'=HYPERLINK(\"\"x\"\",1)\"|a=b"));
    }

    void selectionKeepsStoreOrder()
    {
        Fleet f;
        const Device a = plain("a"), b = plain("b"), c = plain("c");
        f.load({a, b, c});
        auto names = [&](const QStringList& ids) {
            QStringList out;
            for (const QString& r : rows(f.report(Storage, ids)))
                out << r.section(QLatin1Char(','), 1, 1);
            return out;
        };
        QCOMPARE(names({c.id, "no-such-id", a.id}), QStringList({"a", "c"}));
        QCOMPARE(names({}), QStringList({"a", "b", "c"}));
        QCOMPARE(names({a.id.toUpper()}), QStringList()); // ids compare exactly
    }

    void uptimeReport()
    {
        Fleet f;
        Site site{nativeseed::newId(), QStringLiteral("Main, east"), {}, {}, {}, {}, {}};
        Device d = plain("=1+1", 3);
        d.siteId = site.id;
        d.cameras[2].name = QStringLiteral("Gate");
        d.ignored = {2};
        UptimeHistory h;
        const QDate half = kToday.addDays(-3);
        for (int hour = 0; hour < 12; ++hour)
            nativeseed::hour(h, d.id, GraphType::Device, 0, half, hour, hour < 6 ? 60 : 0);
        // Every day from 60 days back holds one full internet hour.
        for (int back = 60; back >= 0; --back)
            nativeseed::hour(h, d.id, GraphType::Internet, 0, kToday.addDays(-back), 1, 60);
        nativeseed::hour(h, d.id, GraphType::Camera, 3, kToday, 1, 0);
        nativeseed::hour(h, d.id, GraphType::Camera, 3, kToday, 2, 45);
        nativeseed::hour(h, d.id, GraphType::Camera, 1, kToday, 2, 15);
        f.load({d}, {site}, h);

        // The checked hours are shared by the device's own series: an hour
        // up on one is a down hour on the other. A camera counts only the
        // hours its state was known (camera 1 at 01:00 is no data, camera 3
        // was down then). Only today and the 39 days before it.
        const QString all = f.report(Uptime, {}, kToday.addDays(-60), kToday);
        QVERIFY(all.endsWith(QLatin1Char('\n')) && !all.contains(QLatin1Char('\r')));
        const QStringList lines = rows(all);
        const QStringList internet = lines.filter(",Internet,");
        auto day = [](const QDate& date, const char* rest) {
            return date.toString(Qt::ISODate) + ",\"Main, east\",'=1+1," + rest;
        };
        QCOMPARE(internet.size(), 40);
        QCOMPARE(internet.first(), day(kToday.addDays(-39), "Internet,100.0"));
        QCOMPARE(internet.last(), day(kToday, "Internet,50.0"));
        QVERIFY(lines.contains(day(half, "Device,50.0")));
        QVERIFY(lines.contains(day(kToday, "Camera 3 Gate,37.5")));
        QVERIFY(lines.contains(day(kToday, "Camera 1 Camera 1,25.0")));
        QVERIFY(lines.filter("Camera 2").isEmpty()); // ignored: no scope

        // A single day in range; a range that begins tomorrow or runs
        // backwards has no rows.
        QCOMPARE(rows(f.report(Uptime, {}, half, half)).filter(",Device,"), QStringList({day(half, "Device,50.0")}));
        QCOMPARE(f.report(Uptime, {}, kToday.addDays(1), kToday.addDays(5)), kUptimeHeader);
        QCOMPARE(f.report(Downtime, {}, kToday.addDays(1), kToday.addDays(5)), kDowntimeHeader);
        QCOMPARE(f.report(Uptime, {}, kToday, kToday.addDays(-1)), kUptimeHeader);
    }

    void downtimeReport()
    {
        Fleet f;
        Device d = plain("NVR");
        UptimeHistory h;
        const QDate day = kToday.addDays(-2);
        // Hours (day, hour, minutes up): 22:00 and 23:00 down, then 00:00 of
        // the next day down: one run. Down, unknown, down: two runs. Partly
        // up is not down.
        const QList<std::tuple<QDate, int, int>> seeded = {{day, 21, 60},          {day, 22, 0},   {day, 23, 0},
                                                           {day.addDays(1), 0, 0}, {kToday, 3, 0}, {kToday, 5, 0},
                                                           {kToday, 6, 30}};
        for (const auto& [date, hour, up] : seeded)
            nativeseed::hour(h, d.id, GraphType::Device, 0, date, hour, up);
        f.load({d}, {}, h);
        auto run = [](const QDate& from, int fromHour, const QDate& to, int toHour, int hours) {
            const QString fmt = QStringLiteral("yyyy-MM-dd HH:mm");
            return QStringLiteral(",NVR,Device,%1,%2,%3")
                .arg(QDateTime(from, QTime(fromHour, 0)).toString(fmt), QDateTime(to, QTime(toHour, 0)).toString(fmt))
                .arg(hours);
        };
        QCOMPARE(rows(f.report(Downtime, {}, day, kToday)).filter(",Device,"),
                 QStringList(
                     {run(day, 22, day.addDays(1), 1, 3), run(kToday, 3, kToday, 4, 1), run(kToday, 5, kToday, 6, 1)}));
        // The run is cut where the range ends.
        QCOMPARE(rows(f.report(Downtime, {}, day, day)).filter(",Device,"),
                 QStringList({run(day, 22, day.addDays(1), 0, 2)}));
    }

    void camerasAndStorageReports()
    {
        Fleet f;
        Site site{nativeseed::newId(), QStringLiteral("Depot"), {}, {}, {}, {}, {}};
        Device d = plain("-3", 4);
        d.siteId = site.id, d.ip = "10.1.2.3", d.manufacturer = "DAHUA";
        Health& h = d.health;
        h.model = "DH-NVR", h.serial = "S1", h.firmware = "=cmd|' /C calc'!A0", h.hdd = "Fault";
        h.recordingDays = 27, h.recordingWindow = 30, h.checkedAt = QDateTime(QDate(2026, 3, 20), QTime(14, 7, 59));
        // Known online, online but not known, known offline, ignored.
        d.cameras = {{1, "@door", true, true, QDateTime(QDate(2026, 3, 20), QTime(9, 5, 33)), {}, 40},
                     {2, {}, true, false, {}, {}, 0},
                     {3, {}, false, true, {}, QDateTime(QDate(2026, 3, 19), QTime(23, 59, 59)), 0},
                     {4, {}, true, true, {}, {}, 0}};
        d.ignored = {4};
        Device blank = plain("Blank");
        blank.name.clear(); // nor a name it reported: rows name its address
        blank.ip = QStringLiteral("10.1.2.4");
        blank.health.recordingWindow = 30; // days not counted
        f.load({d, blank}, {site});
        QCOMPARE(f.report(Cameras),
                 kCamerasHeader
                     + "Depot,-3,1,'@door,online,2026-03-20 09:05,,40\n"
                       "Depot,-3,2,Camera 2,unknown,,,\n"
                       "Depot,-3,3,Camera 3,offline,,2026-03-19 23:59,\n"
                       ",10.1.2.4,1,Camera 1,unknown,,,\n");
        QCOMPARE(f.report(Cameras, {blank.id}), kCamerasHeader + ",10.1.2.4,1,Camera 1,unknown,,,\n");
        QCOMPARE(f.report(Storage),
                 kStorageHeader
                     + "Depot,-3,10.1.2.3,DAHUA,DH-NVR,S1,'=cmd|' /C calc'!A0,Fault,27,30,2026-03-20 14:07\n"
                       ",10.1.2.4,10.1.2.4,HIKVISION,,,,,,,\n");
        QCOMPARE(f.report(static_cast<Kind>(7)) + f.report(static_cast<Kind>(-1)), QString()); // unknown kinds
    }
};

KVR_TEST_MAIN(TestReports)

#include "tst_reports.moc"
