#include "native/services/CalendarDaySearch.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/fixtures/devices/FakeRecordings.h"
#include "tests/support/TestKit.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <optional>

using kvrtest::FakeDevice;
using kvrtest::FakeRecordings;
using NativeCalendar::Clip;

namespace {

const QDate kDay(2025, 3, 5);

Native::Device deviceFor(const FakeDevice &fake, const QString &brand)
{
    Native::Device d;
    d.ip = QStringLiteral("127.0.0.1");
    d.httpPort = fake.httpPort();
    d.rtspPort = fake.rtspPort();
    d.username = fake.username;
    d.password = fake.password;
    d.manufacturer = brand;
    d.channels = 8;
    return d;
}

// `count` clips of ten minutes through the day, in a shuffled order.
QList<FakeRecordings::Clip> dayOf(int count)
{
    QList<FakeRecordings::Clip> out;
    for (int i = 0; i < count; ++i) {
        const QDateTime start(kDay, QTime(0, 0).addSecs(i * 30));
        out.append({start, start.addSecs(25)});
    }
    QRandomGenerator rng(7);
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

struct DayResult {
    std::optional<QList<Clip>> clips;
    QString error;
    int calls = 0;
    NativeCalendar::DayCallback cb()
    {
        return [this](const QList<Clip> &c, const QString &e) {
            clips = c;
            error = e;
            ++calls;
        };
    }
    bool sorted() const
    {
        return clips && std::is_sorted(clips->cbegin(), clips->cend(),
                                       [](const Clip &a, const Clip &b) { return a.start < b.start; });
    }
};

QString tag(const QByteArray &body, const QString &name)
{
    const QRegularExpression re(QStringLiteral("<%1>([^<]*)</%1>").arg(name));
    return re.match(QString::fromUtf8(body)).captured(1);
}

QStringList finderTrail(const QString &object, const QStringList &middle)
{
    QStringList out{QStringLiteral("create ") + object, QStringLiteral("findFile ") + object};
    for (const QString &m : middle)
        out << m + QLatin1Char(' ') + object;
    out << QStringLiteral("close ") + object << QStringLiteral("destroy ") + object;
    return out;
}

} // namespace

class TestCalendarSearchDay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void brandWithoutSearchAnswersAtOnce()
    {
        Native::Device d;
        d.ip = QStringLiteral("192.168.1.10");
        d.manufacturer = QStringLiteral("SAMSUNG");
        DayResult r;
        NativeCalendar::day(d, 1, true, kDay, r.cb());
        QCOMPARE(r.calls, 1);
        QCOMPARE(r.error, QStringLiteral("This brand has no recording search yet."));
        QCOMPARE(r.clips->size(), 0);
        NativeCalendar::day(d, 1, true, kDay, {});  // a missing callback is harmless
    }

    void isapiBody()
    {
        QCOMPARE(NativeCalendar::hikDayBody(QStringLiteral("3f2504e0-4f89-11d3-9a0c-0305e82c3301"), 402, kDay, 100),
                 QByteArray("<?xml version=\"1.0\" encoding=\"utf-8\"?><CMSearchDescription>"
                            "<searchID>3f2504e0-4f89-11d3-9a0c-0305e82c3301</searchID>"
                            "<trackIDList><trackID>402</trackID></trackIDList>"
                            "<timeSpanList><timeSpan><startTime>2025-03-05T00:00:00Z</startTime>"
                            "<endTime>2025-03-05T23:59:59Z</endTime></timeSpan></timeSpanList>"
                            "<maxResults>100</maxResults><searchResultPostion>100</searchResultPostion>"
                            "<metadataList><metadataDescriptor>//recordType.meta.std-cgi.com</metadataDescriptor>"
                            "</metadataList></CMSearchDescription>"));

        // Where the clock skips midnight (Chile starts summer time at 00:00),
        // the day still runs from 00:00:00 to 23:59:59 on the device.
        const QByteArray zone = qgetenv("TZ");
        qputenv("TZ", "America/Santiago");
        const QByteArray skipped =
            NativeCalendar::hikDayBody(QStringLiteral("id"), 101, QDate(2025, 9, 7), 0);
        if (zone.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", zone);
        QVERIFY(skipped.contains("<startTime>2025-09-07T00:00:00Z</startTime>"
                                 "<endTime>2025-09-07T23:59:59Z</endTime>"));
    }

    void isapiPagesByEitherLeaf_data()
    {
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("leaf");
        QTest::newRow("strg") << "HIKVISION" << "/ISAPI" << "responseStatusStrg";
        QTest::newRow("desc") << "HONEYWELL" << "/ISAPI" << "responseStatusStrDesc";
        QTest::newRow("own root") << "PRAMA_STQC" << "/pramaAPI" << "responseStatusStrg";
    }

    void isapiPagesByEitherLeaf()
    {
        QFETCH(QString, brand);
        QFETCH(QString, root);
        QFETCH(QString, leaf);
        FakeDevice fake(FakeDevice::Kind::Isapi);
        fake.root = root;
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        rec.moreLeaf = leaf;
        rec.clips = dayOf(250);
        DayResult r;
        NativeCalendar::day(deviceFor(fake, brand), 4, false, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QCOMPARE(r.error, QString());
        QCOMPARE(r.clips->size(), 250);
        QVERIFY(r.sorted());
        QCOMPARE(r.clips->first().start, QDateTime(kDay, QTime(0, 0)));
        QCOMPARE(r.clips->first().end, QDateTime(kDay, QTime(0, 0, 25)));
        QCOMPARE(rec.searchBodies.size(), 3);
        QStringList positions, ids;
        for (const QByteArray &b : rec.searchBodies) {
            positions << tag(b, "searchResultPostion");
            ids << tag(b, "searchID");
            QCOMPARE(tag(b, "trackID"), QStringLiteral("402"));
            QCOMPARE(tag(b, "maxResults"), QStringLiteral("100"));
        }
        QCOMPARE(positions, QStringList({"0", "100", "200"}));
        QCOMPARE(ids.at(0).size(), 36);
        QCOMPARE(ids, QStringList({ids.at(0), ids.at(0), ids.at(0)}));
        QCOMPARE(fake.requests().constLast().path(), root + QStringLiteral("/ContentMgmt/search"));
        QCOMPARE(fake.requests().constLast().headers.value("content-type"), QByteArray("application/xml"));
    }

    void isapiPagingStops()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        // "More" on every page: an empty page ends the search ...
        rec.alwaysMore = true;
        rec.clips = dayOf(150);
        DayResult r;
        NativeCalendar::day(deviceFor(fake, "HIKVISION"), 1, true, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QCOMPARE(r.clips->size(), 150);
        QCOMPARE(rec.searchBodies.size(), 3);

        // ... and the twentieth page ends it whatever it says.
        rec.searchBodies.clear();
        rec.clips = dayOf(2500);
        DayResult limit;
        NativeCalendar::day(deviceFor(fake, "HIKVISION"), 1, true, kDay, limit.cb());
        QTRY_VERIFY_WITH_TIMEOUT(limit.clips.has_value(), 20000);
        QCOMPARE(limit.error, QString());
        QCOMPARE(rec.searchBodies.size(), NativeCalendar::kDayMaxPages);
        QCOMPARE(tag(rec.searchBodies.constLast(), "searchResultPostion"), QStringLiteral("1900"));
        QCOMPARE(limit.clips->size(), 2000);
        QVERIFY(limit.sorted());
    }

    void isapiUnreadableClipStillMovesThePosition()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        QList<FakeRecordings::Clip> clips = dayOf(101);
        std::sort(clips.begin(), clips.end(), [](const auto &a, const auto &b) { return a.start < b.start; });
        clips[10].badEnd = true;
        rec.clips = clips;
        DayResult r;
        NativeCalendar::day(deviceFor(fake, "HIKVISION"), 1, true, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QCOMPARE(r.clips->size(), 100);
        QCOMPARE(tag(rec.searchBodies.at(1), "searchResultPostion"), QStringLiteral("100"));
    }

    void isapiFailureDropsEarlierPages()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        rec.clips = dayOf(250);
        rec.failPage = 1;
        DayResult r;
        NativeCalendar::day(deviceFor(fake, "HIKVISION"), 1, true, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QCOMPARE(r.clips->size(), 0);
        QCOMPARE(r.error, QStringLiteral("The device answered HTTP 500."));
        QCOMPARE(r.calls, 1);
    }

    void dahuaPagesAndClosesTheFinder()
    {
        FakeDevice fake(FakeDevice::Kind::Dahua);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        rec.clips = dayOf(137);
        // A clip of the day before is not found.
        rec.clips.append({QDateTime(kDay.addDays(-1), QTime(9, 0)), QDateTime(kDay.addDays(-1), QTime(9, 30))});
        DayResult r;
        NativeCalendar::day(deviceFor(fake, "DAHUA"), 2, false, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QCOMPARE(r.error, QString());
        QCOMPARE(r.clips->size(), 137);
        QVERIFY(r.sorted());
        // found=100 asks again; found=37 ends after reading items 0 to 36.
        QTRY_COMPARE(rec.finderLog, finderTrail("5001", {"findNextFile", "findNextFile"}));
        QVERIFY(rec.liveFinders().isEmpty());
        QString findFile;
        for (const kvrtest::FakeRequest &q : fake.requests())
            if (q.target.contains("action=findFile"))
                findFile = q.target;
        QVERIFY(findFile.endsWith("&condition.Channel=2&condition.StartTime=2025-03-05%2000%3A00%3A00"
                                  "&condition.EndTime=2025-03-05%2023%3A59%3A59&condition.Types[0]=dav"
                                  "&condition.VideoStream=Extra1"));
        QVERIFY(fake.requests().constLast().target.contains("action=destroy&object=5001"));
    }

    void dahuaStopsAtThePageLimit()
    {
        FakeDevice fake(FakeDevice::Kind::Dahua);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        rec.clips = dayOf(2500);
        DayResult r;
        NativeCalendar::day(deviceFor(fake, "CPPLUS"), 1, true, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 20000);
        QCOMPARE(r.clips->size(), 2000);
        QTRY_COMPARE(rec.finderLog, finderTrail("5001", QStringList(NativeCalendar::kDayMaxPages, "findNextFile")));
        QVERIFY(rec.liveFinders().isEmpty());
    }

    void dahuaFailuresStillCloseTheFinder()
    {
        FakeDevice fake(FakeDevice::Kind::Dahua);
        QVERIFY(fake.start());
        FakeRecordings rec(fake);
        rec.clips = dayOf(250);

        rec.failFindFile = true;
        DayResult a;
        NativeCalendar::day(deviceFor(fake, "DAHUA"), 1, true, kDay, a.cb());
        QTRY_VERIFY_WITH_TIMEOUT(a.clips.has_value(), 10000);
        QCOMPARE(a.error, QStringLiteral("The device answered HTTP 500."));
        QTRY_COMPARE(rec.finderLog, finderTrail("5001", {}));

        rec.failFindFile = false;
        rec.failPage = 1;
        rec.finderLog.clear();
        DayResult b;
        NativeCalendar::day(deviceFor(fake, "CPPLUS_STQC"), 1, true, kDay, b.cb());
        QTRY_VERIFY_WITH_TIMEOUT(b.clips.has_value(), 10000);
        QCOMPARE(b.clips->size(), 0);
        QCOMPARE(b.error, QStringLiteral("The device answered HTTP 500."));
        QTRY_COMPARE(rec.finderLog, finderTrail("5002", {"findNextFile", "findNextFile"}));
        QVERIFY(rec.liveFinders().isEmpty());

        // A finder that was never made is neither closed nor destroyed.
        rec.finderLog.clear();
        FakeDevice::Reply empty;
        empty.body = "result=\r\n";
        fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), empty);
        fake.clearLog();
        DayResult c;
        NativeCalendar::day(deviceFor(fake, "DAHUA"), 1, true, kDay, c.cb());
        QTRY_VERIFY_WITH_TIMEOUT(c.clips.has_value(), 10000);
        QCOMPARE(c.error, QStringLiteral("The device didn't open a search."));
        QTest::qWait(50);
        QCOMPARE(fake.requestCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=close")), 0);
        QCOMPARE(fake.requestCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=destroy")), 0);

        FakeDevice::Reply missing;
        missing.status = 404;
        fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), missing);
        DayResult d;
        NativeCalendar::day(deviceFor(fake, "DAHUA"), 1, true, kDay, d.cb());
        QTRY_VERIFY_WITH_TIMEOUT(d.clips.has_value(), 10000);
        QCOMPARE(d.error, QStringLiteral("This device doesn't support searching recordings."));
    }

    void unreachableDevice()
    {
        FakeDevice fake(FakeDevice::Kind::Isapi);
        Native::Device d = deviceFor(fake, "HIKVISION");
        d.httpPort = kvrtest::closedPort();
        DayResult r;
        NativeCalendar::day(d, 1, true, kDay, r.cb());
        QTRY_VERIFY_WITH_TIMEOUT(r.clips.has_value(), 10000);
        QVERIFY2(r.error.startsWith("Can't reach the device ("), qPrintable(r.error));
        QVERIFY(r.clips->isEmpty());
    }

    void monthKeepsOnlyDaysOfThatMonth()
    {
        const QByteArray body =
            "<trackDailyDistribution><dayList>"
            "<day><dayOfMonth>0</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>1</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>28</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>29</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>31</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>-3</dayOfMonth><record>true</record></day>"
            "<day><dayOfMonth>4000000000</dayOfMonth><record>true</record></day>"
            "</dayList></trackDailyDistribution>";
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2025, 2), QSet<int>({1, 28}));
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2024, 2), QSet<int>({1, 28, 29}));

        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        FakeDevice::Reply reply;
        reply.contentType = "application/xml";
        reply.body = body;
        fake.script(QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"), reply);
        std::optional<QSet<int>> days;
        NativeCalendar::month(deviceFor(fake, "HIKVISION"), 1, true, 2025, 2,
                              [&](const QSet<int> &d, const QString &) { days = d; });
        QTRY_VERIFY_WITH_TIMEOUT(days.has_value(), 10000);
        QCOMPARE(*days, QSet<int>({1, 28}));
    }

    void pageReaders()
    {
        // Unreadable times are skipped; a wild count reads only what is there.
        const NativeCalendar::DahuaDayPage p = NativeCalendar::readDahuaDayPage(
            "found=2147483647000\r\nitems[0].StartTime=2025-03-05 08:00:00\r\n"
            "items[0].EndTime=2025-03-05 08:30:00\r\nitems[1].StartTime=soon\r\nitems[1].EndTime=later\r\n"
            "items[2].StartTime=2025-03-05 09:00:00\r\nitems[2].EndTime=2025-03-05 09:10:00\r\n");
        QCOMPARE(p.found, Q_INT64_C(2147483647000));
        QCOMPARE(p.clips.size(), 2);
        QCOMPARE(p.clips.at(1).end, QDateTime(kDay, QTime(9, 10)));
        QCOMPARE(NativeCalendar::readDahuaDayPage("found=many\r\n").found, 0);
        QCOMPARE(NativeCalendar::readDahuaDayPage("found=-5\r\n").found, 0);

        const NativeCalendar::HikDayPage h = NativeCalendar::readHikDayPage(
            "<CMSearchResult><responseStatusStrg>more</responseStatusStrg><matchList>"
            "<searchMatchItem><timeSpan><startTime>2025-03-05T08:00:00+05:30</startTime>"
            "<endTime>2025-03-05T08:30:00Z</endTime></timeSpan></searchMatchItem>"
            "<searchMatchItem><timeSpan><startTime>x</startTime></timeSpan></searchMatchItem>"
            "</matchList></CMSearchResult>");
        QCOMPARE(h.items, 2);
        QCOMPARE(h.clips.size(), 1);
        QVERIFY(h.more);
        QCOMPARE(h.clips.at(0).start, QDateTime(kDay, QTime(8, 0)));
        QVERIFY(!NativeCalendar::readHikDayPage("<r><responseStatusStrg>OK</responseStatusStrg></r>").more);
        QVERIFY(NativeCalendar::readHikDayPage("<r><responseStatusStrDesc>MORE</responseStatusStrDesc></r>").more);
    }
};

KVR_TEST_MAIN(TestCalendarSearchDay)
#include "tst_calendar_search_day.moc"
