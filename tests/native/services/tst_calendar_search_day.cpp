#include "native/services/CalendarDaySearch.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/fixtures/devices/FakeRecordings.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QEventLoop>
#include <QPointer>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <optional>

using kvrtest::FakeDevice;
using kvrtest::FakeRecordings;
using NativeCalendar::Clip;
using nativetest::deviceFor;
using nativetest::reply;

namespace {

const QDate kDay(2025, 3, 5);

// `count` clips of 25 s, 30 s apart through the day, in a shuffled order.
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
    bool sorted() const
    {
        return clips && std::is_sorted(clips->cbegin(), clips->cend(), [](const Clip& a, const Clip& b) {
                   return a.start < b.start;
               });
    }
};

// A fake recorder with recordings, and one day's search against it.
struct Recorder {
    explicit Recorder(FakeDevice::Kind kind, const QString& root = {}) : fake(kind)
    {
        if (!root.isEmpty())
            fake.root = root;
        started = fake.start();
    }
    FakeDevice fake;
    FakeRecordings rec{fake};
    bool started = false;

    // True once the answer came.
    bool search(DayResult& r, const QString& brand, int channel = 1, bool mainStream = true)
    {
        QEventLoop loop;
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        NativeCalendar::day(deviceFor(fake, brand), channel, mainStream, kDay,
                            [&r, guard = QPointer<QEventLoop>(&loop)](const QList<Clip>& c, const QString& e) {
                                r.clips = c;
                                r.error = e;
                                ++r.calls;
                                if (guard)
                                    guard->quit();
                            });
        if (!r.clips)
            loop.exec();
        return r.clips.has_value();
    }
};

QString tag(const QByteArray& body, const QString& name)
{
    return QRegularExpression(QStringLiteral("<%1>([^<]*)</%1>").arg(name)).match(QString::fromUtf8(body)).captured(1);
}

QStringList finderTrail(const QString& object, int nextPages)
{
    return QStringList{"create " + object, "findFile " + object} + QStringList(nextPages, "findNextFile " + object)
        + QStringList{"close " + object, "destroy " + object};
}

const QString kHttp500 = QStringLiteral("The device answered HTTP 500.");

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
        NativeCalendar::day(d, 1, true, kDay, [&r](const QList<Clip>& c, const QString& e) {
            r.clips = c;
            r.error = e;
        });
        QCOMPARE(r.error, QStringLiteral("This brand has no recording search yet."));
        QCOMPARE(r.clips->size(), 0);
        NativeCalendar::day(d, 1, true, kDay, {}); // a missing callback is harmless
    }

    void isapiDayAcrossSkippedMidnight()
    {
        // Where the clock skips midnight (Chile starts summer time at 00:00),
        // the day still runs from 00:00:00 to 23:59:59 on the device.
        const nativetest::ScopedTz chile("America/Santiago");
        const QByteArray skipped = NativeCalendar::hikDayBody(QStringLiteral("id"), 101, QDate(2025, 9, 7), 0);
        QVERIFY(skipped.contains("<startTime>2025-09-07T00:00:00Z</startTime><endTime>2025-09-07T23:59:59Z</endTime>"));
    }

    void isapiPagesByEitherLeaf_data()
    {
        QTest::addColumn<QString>("brand");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("leaf");
        QTest::newRow("strg") << "HIKVISION"
                              << "/ISAPI"
                              << "responseStatusStrg";
        QTest::newRow("desc") << "HONEYWELL"
                              << "/ISAPI"
                              << "responseStatusStrDesc";
        QTest::newRow("own root") << "PRAMA_STQC"
                                  << "/pramaAPI"
                                  << "responseStatusStrg";
    }

    void isapiPagesByEitherLeaf()
    {
        QFETCH(QString, brand);
        QFETCH(QString, root);
        QFETCH(QString, leaf);
        Recorder dev(FakeDevice::Kind::Isapi, root);
        QVERIFY(dev.started);
        dev.rec.moreLeaf = leaf;
        dev.rec.clips = dayOf(250);
        DayResult r;
        QVERIFY(dev.search(r, brand, 4, false));
        QCOMPARE(r.error, QString());
        QCOMPARE(r.clips->size(), 250);
        QVERIFY(r.sorted());
        QCOMPARE(r.clips->first().start, QDateTime(kDay, QTime(0, 0)));
        QCOMPARE(r.clips->first().end, QDateTime(kDay, QTime(0, 0, 25)));
        // One search id, positions 0, 100, 200 on the sub stream's track.
        QStringList positions, ids;
        for (const QByteArray& b : std::as_const(dev.rec.searchBodies)) {
            positions << tag(b, "searchResultPostion");
            ids << tag(b, "searchID");
            QCOMPARE(tag(b, "trackID"), QStringLiteral("402"));
            QCOMPARE(tag(b, "maxResults"), QStringLiteral("100"));
            QCOMPARE(tag(b, "startTime"), QStringLiteral("2025-03-05T00:00:00Z"));
            QCOMPARE(tag(b, "endTime"), QStringLiteral("2025-03-05T23:59:59Z"));
        }
        QCOMPARE(positions, QStringList({"0", "100", "200"}));
        QCOMPARE(ids.at(0).size(), 36);
        QCOMPARE(ids, QStringList({ids.at(0), ids.at(0), ids.at(0)}));
        QCOMPARE(dev.fake.requests().constLast().path(), root + QStringLiteral("/ContentMgmt/search"));
        QCOMPARE(dev.fake.requests().constLast().headers.value("content-type"), QByteArray("application/xml"));
    }

    void isapiPagingStops()
    {
        Recorder dev(FakeDevice::Kind::Isapi);
        QVERIFY(dev.started);
        // "More" on every page: an empty page ends the search ...
        dev.rec.alwaysMore = true;
        dev.rec.clips = dayOf(150);
        DayResult r;
        QVERIFY(dev.search(r, "HIKVISION"));
        QCOMPARE(r.clips->size(), 150);
        QCOMPARE(dev.rec.searchBodies.size(), 3);

        // ... and the twentieth page ends it whatever it says.
        Recorder full(FakeDevice::Kind::Isapi);
        QVERIFY(full.started);
        full.rec.clips = dayOf(2500);
        DayResult limit;
        QVERIFY(full.search(limit, "HIKVISION"));
        QCOMPARE(limit.error, QString());
        QCOMPARE(full.rec.searchBodies.size(), NativeCalendar::kDayMaxPages);
        QCOMPARE(tag(full.rec.searchBodies.constLast(), "searchResultPostion"), QStringLiteral("1900"));
        QCOMPARE(limit.clips->size(), 2000);
        QVERIFY(limit.sorted());

        // An unreadable clip still moves the position on.
        Recorder odd(FakeDevice::Kind::Isapi);
        QVERIFY(odd.started);
        odd.rec.clips = dayOf(101);
        std::sort(odd.rec.clips.begin(), odd.rec.clips.end(),
                  [](const auto& a, const auto& b) { return a.start < b.start; });
        odd.rec.clips[10].badEnd = true;
        DayResult bad;
        QVERIFY(odd.search(bad, "HIKVISION"));
        QCOMPARE(bad.clips->size(), 100);
        QCOMPARE(tag(odd.rec.searchBodies.at(1), "searchResultPostion"), QStringLiteral("100"));
    }

    void isapiFailureDropsEarlierPages()
    {
        Recorder dev(FakeDevice::Kind::Isapi);
        QVERIFY(dev.started);
        dev.rec.clips = dayOf(250);
        dev.rec.failPage = 1;
        DayResult r;
        QVERIFY(dev.search(r, "HIKVISION"));
        QCOMPARE(r.clips->size(), 0);
        QCOMPARE(r.error, kHttp500);
        QCOMPARE(r.calls, 1);
    }

    void dahuaPagesAndClosesTheFinder()
    {
        Recorder dev(FakeDevice::Kind::Dahua);
        QVERIFY(dev.started);
        dev.rec.clips = dayOf(137);
        // A clip of the day before is not found.
        dev.rec.clips.append({QDateTime(kDay.addDays(-1), QTime(9, 0)), QDateTime(kDay.addDays(-1), QTime(9, 30))});
        DayResult r;
        QVERIFY(dev.search(r, "DAHUA", 2, false));
        QCOMPARE(r.error, QString());
        QCOMPARE(r.clips->size(), 137);
        QVERIFY(r.sorted());
        // found=100 asks again; found=37 ends after reading items 0 to 36.
        QTRY_COMPARE(dev.rec.finderLog, finderTrail("5001", 2));
        QVERIFY(dev.rec.liveFinders().isEmpty());
        QString findFile;
        for (const kvrtest::FakeRequest& q : dev.fake.requests())
            if (q.target.contains("action=findFile"))
                findFile = q.target;
        QVERIFY(findFile.endsWith("&condition.Channel=2&condition.StartTime=2025-03-05%2000%3A00%3A00"
                                  "&condition.EndTime=2025-03-05%2023%3A59%3A59&condition.Types[0]=dav"
                                  "&condition.VideoStream=Extra1"));
        QVERIFY(dev.fake.requests().constLast().target.contains("action=destroy&object=5001"));

        // No more pages than the limit, and the finder still goes.
        Recorder full(FakeDevice::Kind::Dahua);
        QVERIFY(full.started);
        full.rec.clips = dayOf(2500);
        DayResult limit;
        QVERIFY(full.search(limit, "CPPLUS"));
        QCOMPARE(limit.clips->size(), 2000);
        QTRY_COMPARE(full.rec.finderLog, finderTrail("5001", NativeCalendar::kDayMaxPages));
        QVERIFY(full.rec.liveFinders().isEmpty());
    }

    void dahuaFailuresStillCloseTheFinder()
    {
        Recorder dev(FakeDevice::Kind::Dahua);
        QVERIFY(dev.started);
        dev.rec.clips = dayOf(250);
        dev.rec.failFindFile = true;
        DayResult a;
        QVERIFY(dev.search(a, "DAHUA"));
        QCOMPARE(a.error, kHttp500);
        QTRY_COMPARE(dev.rec.finderLog, finderTrail("5001", 0));

        dev.rec.failFindFile = false;
        dev.rec.failPage = 1;
        dev.rec.finderLog.clear();
        DayResult b;
        QVERIFY(dev.search(b, "CPPLUS_STQC"));
        QCOMPARE(b.clips->size(), 0);
        QCOMPARE(b.error, kHttp500);
        QTRY_COMPARE(dev.rec.finderLog, finderTrail("5002", 2));
        QVERIFY(dev.rec.liveFinders().isEmpty());

        // A finder that was never made is neither closed nor destroyed.
        dev.fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), reply(200, "result=\r\n"));
        dev.fake.clearLog();
        DayResult c;
        QVERIFY(dev.search(c, "DAHUA"));
        QCOMPARE(c.error, QStringLiteral("The device didn't open a search."));
        QTest::qWait(50);
        QCOMPARE(dev.fake.requestCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=close")), 0);
        QCOMPARE(dev.fake.requestCount(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=destroy")), 0);

        dev.fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), reply(404));
        DayResult d;
        QVERIFY(dev.search(d, "DAHUA"));
        QCOMPARE(d.error, QStringLiteral("This device doesn't support searching recordings."));

        // Nothing listening.
        Native::Device gone = deviceFor(dev.fake, "HIKVISION");
        gone.httpPort = kvrtest::closedPort();
        DayResult e;
        NativeCalendar::day(gone, 1, true, kDay, [&e](const QList<Clip>& clips, const QString& err) {
            e.clips = clips;
            e.error = err;
        });
        QTRY_VERIFY_WITH_TIMEOUT(e.clips.has_value(), 10000);
        QVERIFY2(e.error.startsWith("Can't reach the device ("), qPrintable(e.error));
        QVERIFY(e.clips->isEmpty());
    }

    void monthKeepsOnlyDaysOfThatMonth()
    {
        QByteArray body = "<trackDailyDistribution><dayList>";
        for (const char* day : {"0", "1", "28", "29", "31", "-3", "4000000000"})
            body += QByteArray("<day><dayOfMonth>") + day + "</dayOfMonth><record>true</record></day>";
        body += "</dayList></trackDailyDistribution>";
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2025, 2), QSet<int>({1, 28}));
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2024, 2), QSet<int>({1, 28, 29}));

        FakeDevice fake(FakeDevice::Kind::Isapi);
        QVERIFY(fake.start());
        fake.script(QStringLiteral("/ISAPI/ContentMgmt/record/tracks/101/dailyDistribution"),
                    reply(200, body, [](FakeDevice::Reply& r) { r.contentType = "application/xml"; }));
        std::optional<QSet<int>> days;
        NativeCalendar::month(deviceFor(fake, "HIKVISION"), 1, true, 2025, 2,
                              [&](const QSet<int>& d, const QString&) { days = d; });
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
