#include "native/services/CalendarDaySearch.h"
#include "tests/fixtures/devices/FakeDevice.h"
#include "tests/native/services/NativeTestKit.h"
#include "tests/support/TestKit.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <algorithm>
#include <optional>

using namespace kvr::services;

using kvrtest::FakeDevice;
using NativeCalendar::Clip;
using nativetest::deviceFor;
using nativetest::reply;

namespace {

const QDate kDay(2025, 3, 5);
const QString kHttp500 = QStringLiteral("The device answered HTTP 500.");

// `count` clips of 25 s, 30 s apart through the day, in a shuffled order.
QList<FakeDevice::Clip> dayOf(int count)
{
    QList<FakeDevice::Clip> out;
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
    // The search's answer, kept (with how many times it came).
    auto cb()
    {
        return [this](const QList<Clip>& c, const QString& e) { clips = c, error = e, ++calls; };
    }
    // Clips found (and whether in time order), answers given, the error.
    QString summary() const
    {
        const bool inOrder = clips && std::is_sorted(clips->cbegin(), clips->cend(), [](const Clip& a, const Clip& b) {
                                 return a.start < b.start;
                             });
        return QString::asprintf("%d clips%s x%d %s", int(clips ? clips->size() : -1), inOrder ? " in order" : "",
                                 calls, qUtf8Printable(error));
    }
};

// A fake recorder with recordings, and one day's search against it.
struct Recorder {
    explicit Recorder(FakeDevice::Kind kind) : fake(kind) { started = fake.start(); }
    FakeDevice fake;
    bool started = false;

    DayResult search(const QString& brand, int channel = 1, bool mainStream = true)
    {
        DayResult r;
        NativeCalendar::day(deviceFor(fake, brand), channel, mainStream, kDay, r.cb());
        QElapsedTimer waited;
        waited.start();
        while (!r.clips && waited.elapsed() < 20000)
            QTest::qWait(5);
        return r;
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

} // namespace

class TestCalendarSearchDay : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void brandWithoutSearchAnswersAtOnce()
    {
        Native::Device d;
        d.manufacturer = QStringLiteral("SAMSUNG");
        DayResult r;
        NativeCalendar::day(d, 1, true, kDay, r.cb());
        QCOMPARE(r.summary(), "0 clips in order x1 This brand has no recording search yet.");
    }

    // The demo fleet's recorder holds nothing past now: at 08:10 its day
    // holds the clip begun at 08:00, ending at 08:10, and not the one of 09:00.
    void aRecorderOfTheDemoHoldsNothingPastNow()
    {
        kvrtest::TestClock clock(QDateTime(kDay, QTime(8, 10)).toUTC());
        Recorder rec(FakeDevice::Kind::Isapi);
        QVERIFY(rec.started);
        rec.fake.recorded = {kDay};
        rec.fake.recordedUpToNow = true;
        const DayResult r = rec.search(QStringLiteral("HIKVISION"));
        QCOMPARE(r.summary(), "1 clips in order x1 ");
        QCOMPARE(r.clips->first().start.toLocalTime().time(), QTime(8, 0));
        QCOMPARE(r.clips->first().end.toLocalTime().time(), QTime(8, 10));
    }

    void dayAcrossSkippedMidnight()
    {
        // Where the clock skips midnight (Chile starts summer time at 00:00),
        // the day still runs from 00:00:00 to 23:59:59 on the device.
        const nativetest::ScopedTz chile("America/Santiago");
        const QByteArray skipped = NativeCalendar::hikDayBody(QStringLiteral("id"), 101, QDate(2025, 9, 7), 0);
        QVERIFY(skipped.contains("<startTime>2025-09-07T00:00:00Z</startTime><endTime>2025-09-07T23:59:59Z</endTime>"));
        QVERIFY(NativeCalendar::dahuaFindFileUrl(1, true, "77", QDate(2025, 9, 7))
                    .contains(
                        "&condition.StartTime=2025-09-07%2000%3A00%3A00&condition.EndTime=2025-09-07%2023%3A59%3A59"));
    }

    void paging_data()
    {
        QTest::addColumn<bool>("more");
        QTest::addColumn<int>("items");
        QTest::addColumn<int>("page");
        QTest::addColumn<qint64>("hikNext"); // from position 200
        QTest::addColumn<bool>("dahuaNext"); // with found = items
        QTest::newRow("full, more") << true << 100 << 2 << qint64(300) << true;
        QTest::newRow("short, more") << true << 37 << 2 << qint64(237) << false;
        QTest::newRow("full, no more") << false << 100 << 2 << qint64(-1) << true;
        QTest::newRow("empty, more") << true << 0 << 2 << qint64(-1) << false;
        QTest::newRow("twentieth page") << true << 100 << 19 << qint64(-1) << false;
        QTest::newRow("nineteenth page") << true << 100 << 18 << qint64(300) << true;
    }
    void paging()
    {
        QFETCH(bool, more);
        QFETCH(int, items);
        QFETCH(int, page);
        NativeCalendar::HikDayPage hik;
        hik.more = more;
        hik.items = items;
        QTEST(NativeCalendar::hikNextPosition(hik, 200, page), "hikNext");
        NativeCalendar::DahuaDayPage dahua;
        dahua.found = items;
        QTEST(NativeCalendar::dahuaWantsNextPage(dahua, page), "dahuaNext");
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
        QCOMPARE(NativeCalendar::readDahuaDayPage("found=-5\r\n").found, 0);

        // An unreadable clip still counts towards the next position; either
        // leaf marks a further page.
        const NativeCalendar::HikDayPage h = NativeCalendar::readHikDayPage(
            "<CMSearchResult><responseStatusStrg>more</responseStatusStrg><matchList>"
            "<searchMatchItem><timeSpan><startTime>2025-03-05T08:00:00+05:30</startTime>"
            "<endTime>2025-03-05T08:30:00Z</endTime></timeSpan></searchMatchItem>"
            "<searchMatchItem><timeSpan><startTime>x</startTime></timeSpan></searchMatchItem>"
            "</matchList></CMSearchResult>");
        QCOMPARE(QList<qsizetype>({h.items, h.clips.size(), h.more}), QList<qsizetype>({2, 1, 1}));
        QCOMPARE(h.clips.at(0).start, QDateTime(kDay, QTime(8, 0)));
        QVERIFY(!NativeCalendar::readHikDayPage("<r><responseStatusStrg>OK</responseStatusStrg></r>").more);
        QVERIFY(NativeCalendar::readHikDayPage("<r><responseStatusStrDesc>MORE</responseStatusStrDesc></r>").more);
    }

    void isapiSearch()
    {
        Recorder dev(FakeDevice::Kind::Isapi);
        QVERIFY(dev.started);
        dev.fake.clips = dayOf(250);
        const DayResult r = dev.search("HIKVISION", 4, false);
        QCOMPARE(r.summary(), "250 clips in order x1 ");
        QCOMPARE(r.clips->first().end, QDateTime(kDay, QTime(0, 0, 25)));
        // One search id, positions 0, 100, 200 on the sub stream's track.
        QStringList pages;
        for (const QByteArray& b : std::as_const(dev.fake.searchBodies))
            pages << tag(b, "searchID") + " " + tag(b, "searchResultPostion") + " " + tag(b, "trackID") + " "
                    + tag(b, "startTime") + " " + tag(b, "endTime");
        const QString id = tag(dev.fake.searchBodies.first(), "searchID");
        QCOMPARE(id.size(), 36);
        const QString day = QStringLiteral(" 402 2025-03-05T00:00:00Z 2025-03-05T23:59:59Z");
        QCOMPARE(pages, QStringList({id + " 0" + day, id + " 100" + day, id + " 200" + day}));
        QCOMPARE(dev.fake.requests().constLast().headers.value("content-type"), QByteArray("application/xml"));

        // A failure drops what earlier pages brought.
        dev.fake.searchBodies.clear();
        dev.fake.failPage = 4;
        QCOMPARE(dev.search("PRAMA").summary(), "0 clips in order x1 " + kHttp500);
    }

    void dahuaSearchAlwaysClosesItsFinder()
    {
        Recorder dev(FakeDevice::Kind::Dahua);
        QVERIFY(dev.started);
        dev.fake.clips = dayOf(137);
        // A clip of the day before is not found.
        dev.fake.clips.append({QDateTime(kDay.addDays(-1), QTime(9, 0)), QDateTime(kDay.addDays(-1), QTime(9, 30))});
        const DayResult r = dev.search("DAHUA", 2, false);
        QCOMPARE(r.summary(), "137 clips in order x1 ");
        // found=100 asks again; found=37 ends after reading items 0 to 36.
        QTRY_COMPARE(dev.fake.finderLog(), finderTrail("1000", 2));
        QVERIFY(dev.fake.requests().at(2).target.endsWith(
            "&condition.Channel=2&condition.StartTime=2025-03-05%2000%3A00%3A00"
            "&condition.EndTime=2025-03-05%2023%3A59%3A59&condition.Types[0]=dav&condition.VideoStream=Extra1"));

        // A failed findFile, and a failed page: nothing, and the finder goes.
        dev.fake.clearLog();
        dev.fake.failFindFile = true;
        QCOMPARE(dev.search("DAHUA").error, kHttp500);
        QTRY_COMPARE(dev.fake.finderLog(), finderTrail("1001", 0));
        dev.fake.failFindFile = false;
        dev.fake.failPage = 3;
        dev.fake.clearLog();
        QCOMPARE(dev.search("CPPLUS_STQC").summary(), "0 clips in order x1 " + kHttp500);
        QTRY_COMPARE(dev.fake.finderLog(), finderTrail("1002", 2));
        QVERIFY(dev.fake.liveFinders().isEmpty());

        // A finder without an object, or with one that would change the next
        // addresses: nothing is searched, closed or destroyed.
        for (const QByteArray& body : {QByteArray("result=\r\n"), QByteArray("result=7&action=destroy\r\n")}) {
            dev.fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), reply(200, body));
            dev.fake.clearLog();
            QCOMPARE(dev.search("DAHUA").error, QStringLiteral("The device didn't open a search."));
            QTest::qWait(50);
            QCOMPARE(dev.fake.requestCount(), 1); // the create alone, its login answered at once
        }
        dev.fake.script(QStringLiteral("/cgi-bin/mediaFileFind.cgi?action=factory.create"), reply(404));
        QCOMPARE(dev.search("DAHUA").error, QStringLiteral("This device doesn't support searching recordings."));

        // Nothing listening.
        Recorder gone(FakeDevice::Kind::Isapi);
        gone.fake.closeHttp();
        const DayResult e = gone.search("HIKVISION");
        QVERIFY2(e.error.startsWith("Can't reach the device ("), qPrintable(e.error));
    }

    void monthKeepsOnlyDaysOfThatMonth()
    {
        QByteArray body = "<trackDailyDistribution><dayList>";
        for (const char* day : {"0", "1", "28", "29", "31", "-3", "4000000000", "x"})
            body += QByteArray("<day><dayOfMonth>") + day + "</dayOfMonth><record>True</record></day>";
        body += "<day><dayOfMonth>3</dayOfMonth><record>false</record></day>";
        body += "</dayList></trackDailyDistribution>";
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2025, 2), QSet<int>({1, 28}));
        QCOMPARE(NativeCalendar::hikMonthDays(body, 2024, 2), QSet<int>({1, 28, 29}));
    }
};

KVR_TEST_MAIN(TestCalendarSearchDay)

#include "tst_calendar_search_day.moc"
