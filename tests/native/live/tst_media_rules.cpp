// The calendar, month grid and snapshot rules without a window.

#include "native/live/CalendarRules.h"
#include "native/live/SnapshotCache.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

#include <QBuffer>

using namespace CalendarRules;

namespace {
NativeCalendar::Clip clip(const QTime& from, const QTime& to)
{
    const QDate d(2026, 3, 2);
    return NativeCalendar::Clip{QDateTime(d, from), QDateTime(d, to)};
}
QSet<int> daysExcept(int count, const QSet<int>& missing)
{
    QSet<int> out;
    for (int d = 1; d <= count; ++d)
        if (!missing.contains(d))
            out.insert(d);
    return out;
}
QByteArray png(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}
} // namespace

class TestMediaRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void coverageLevels_data()
    {
        QTest::addColumn<int>("missingDays");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("level");
        QTest::newRow("27 of 30") << 3 << "27 of 30 days recorded (90%)"
                                  << "ok";
        QTest::newRow("26 of 30") << 4 << "26 of 30 days recorded (86%)"
                                  << "warn";
        QTest::newRow("21 of 30") << 9 << "21 of 30 days recorded (70%)"
                                  << "warn";
        QTest::newRow("20 of 30") << 10 << "20 of 30 days recorded (66%)"
                                  << "bad";
        QTest::newRow("all") << 0 << "30 of 30 days recorded (100%)"
                             << "ok";
    }
    void coverageLevels()
    {
        // A window of 30 days inside March: days 1..30.
        const QDate today(2026, 3, 30);
        QSet<int> missing;
        for (int d = 1; d <= FETCH(int, missingDays); ++d)
            missing.insert(d * 3);
        const Coverage c = coverage(today, 30, [&](const QDate& m) -> std::optional<QSet<int>> {
            if (m == QDate(2026, 3, 1))
                return daysExcept(31, missing);
            return std::nullopt;
        });
        QVERIFY(c.known);
        QCOMPARE(coverageText(c), FETCH(QString, text));
        QCOMPARE(levelName(c.level), FETCH(QString, level));
        QCOMPARE(int(c.missing.size()), int(missing.size()));
    }

    void coverageNeedsEveryMonth()
    {
        const QDate today(2026, 3, 10);
        int asked = 0;
        const Coverage c = coverage(today, 30, [&](const QDate& m) -> std::optional<QSet<int>> {
            ++asked;
            if (m.month() == 3)
                return QSet<int>{1, 2};
            return std::nullopt; // February is not known
        });
        QVERIFY(!c.known);
        QCOMPARE(coverageText(c), QStringLiteral("Coverage unknown"));
        QCOMPARE(asked, 1); // February is asked first (the window starts in it)
        QCOMPARE(coverage(today, 0, [](const QDate&) { return std::optional<QSet<int>>(QSet<int>{}); }).percent, 0);
    }

    void banner()
    {
        QCOMPARE(missingBanner({}), QString());
        QStringList days;
        const QDate first(2026, 2, 1);
        for (int i = 0; i < 20; ++i)
            days << english().toString(first.addDays(i), QStringLiteral("d MMM"));
        const QString text = missingBanner(days);
        QVERIFY(text.startsWith(QStringLiteral("No recording on: 1 Feb, 2 Feb, ")));
        QVERIFY(text.endsWith(QStringLiteral("14 Feb and 6 more")));
        QCOMPARE(missingBanner(days.mid(0, 14)).endsWith(QStringLiteral("14 Feb")), true);
    }

    void monthsAsked()
    {
        const QDate today(2026, 3, 10);
        QCOMPARE(monthsToKnow(QDate(2026, 3, 1), today, windowStart(today, 30)),
                 (QList<QDate>{QDate(2026, 3, 1), QDate(2026, 2, 1)}));
        QCOMPARE(monthsToKnow(QDate(2025, 12, 1), today, windowStart(today, 90)),
                 (QList<QDate>{QDate(2025, 12, 1), QDate(2026, 3, 1), QDate(2026, 2, 1), QDate(2026, 1, 1)}));
        QCOMPARE(windowStart(today, 1), today);
    }

    void clips_data()
    {
        QTest::addColumn<QList<NativeCalendar::Clip>>("clips");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("2 s gap joins") << QList<NativeCalendar::Clip>{clip(QTime(10, 0), QTime(10, 15)),
                                                                      clip(QTime(10, 15, 2), QTime(10, 30))}
                                       << QStringList{QStringLiteral("10:00:00 \u2013 10:30:00   (30 min)")};
        QTest::newRow("3 s gap stays") << QList<NativeCalendar::Clip>{clip(QTime(10, 0), QTime(10, 15)),
                                                                      clip(QTime(10, 15, 3), QTime(10, 30))}
                                       << QStringList{QStringLiteral("10:00:00 \u2013 10:15:00   (15 min)"),
                                                      QStringLiteral("10:15:03 \u2013 10:30:00   (14 min)")};
        QTest::newRow("20 s is 1 min") << QList<NativeCalendar::Clip>{clip(QTime(8, 0), QTime(8, 0, 20))}
                                       << QStringList{QStringLiteral("08:00:00 \u2013 08:00:20   (1 min)")};
        QTest::newRow("contained keeps the later end")
            << QList<NativeCalendar::Clip>{clip(QTime(9, 0), QTime(11, 0)), clip(QTime(9, 30), QTime(10, 0))}
            << QStringList{QStringLiteral("09:00:00 \u2013 11:00:00   (120 min)")};
    }
    void clips()
    {
        QStringList rows;
        for (const auto& c : mergeClips(FETCH(QList<NativeCalendar::Clip>, clips)))
            rows << clipRow(c);
        QCOMPARE(rows, FETCH(QStringList, rows));
    }

    void dayTexts()
    {
        QCOMPARE(dayStatus(0, true, QString()), QStringLiteral("No recording on this day."));
        QCOMPARE(dayStatus(1, true, QString()), QStringLiteral("1 recording. Times are the device's clock."));
        QCOMPARE(dayStatus(3, true, QString()), QStringLiteral("3 recordings. Times are the device's clock."));
        QCOMPARE(dayStatus(3, false, QStringLiteral("No playback.")), QStringLiteral("No playback."));
        QCOMPARE(windowTitle(true, QStringLiteral("Depot"), QStringLiteral("NVR")),
                 QStringLiteral("Recording retention \u2014 Depot / NVR"));
        QCOMPARE(windowTitle(true, QString(), QStringLiteral("NVR")), QStringLiteral("Recording retention \u2014 NVR"));
        QCOMPARE(windowTitle(false, QString(), QString()), QStringLiteral("Recording retention \u2014 "));
    }

    void gridCells_data()
    {
        QTest::addColumn<QDate>("first");
        QTest::addColumn<int>("firstCell");
        QTest::addColumn<int>("lastCell");
        QTest::newRow("Monday first") << QDate(2021, 2, 1) << 0 << 27; // non-leap February
        QTest::newRow("Sunday first") << QDate(2026, 3, 1) << 6 << 36;
        QTest::newRow("Wednesday first") << QDate(2026, 4, 1) << 2 << 31;
    }
    void gridCells()
    {
        QFETCH(QDate, first);
        MonthState s;
        s.first = first;
        s.known = true;
        const QDate today(2030, 1, 1);
        QList<int> drawn;
        for (int i = 0; i < kCells; ++i)
            if (cellLook(s, i, today).drawn)
                drawn << i;
        QCOMPARE(drawn.first(), FETCH(int, firstCell));
        QCOMPARE(drawn.last(), FETCH(int, lastCell));
        QCOMPARE(int(drawn.size()), first.daysInMonth());
        QCOMPARE(dateAt(first, drawn.first()), first);
    }

    void gridColours()
    {
        const QDate today(2026, 3, 20);
        MonthState s;
        s.first = QDate(2026, 3, 1); // cell of day d is d + 5
        s.days = {5, 12, 25};
        s.known = true;
        s.windowStart = QDate(2026, 3, 10);
        auto look = [&](int day) { return cellLook(s, day + 5, today); };
        QCOMPARE(look(25).fill, QColor(0, 0, 0, 0)); // after today
        QCOMPARE(look(25).text, QColor(0xce, 0xd4, 0xda));
        QCOMPARE(look(12).fill, QColor(40, 167, 69, 46)); // recorded in window
        QCOMPARE(look(12).text, QColor(0x1e, 0x7e, 0x34));
        QCOMPARE(look(5).fill, QColor(40, 167, 69, 20));  // recorded before window
        QCOMPARE(look(13).fill, QColor(220, 53, 69, 20)); // gap in window
        QCOMPARE(look(13).border, QColor(220, 53, 69, 130));
        QCOMPARE(look(13).text, QColor(0xdc, 0x35, 0x45));
        QCOMPARE(look(3).fill, QColor(0xf1, 0xf3, 0xf5)); // not recorded before window
        QCOMPARE(look(3).text, QColor(0xad, 0xb5, 0xbd));
        QCOMPARE(look(3).border.alpha(), 0);
        s.known = false;
        QCOMPARE(look(12).fill, QColor(0xf8, 0xf9, 0xfa)); // unknown: grey, recorded or not
        QCOMPARE(look(13).text, QColor(0x6c, 0x75, 0x7d));
        s.selected = today;
        const CellLook sel = look(20);
        QCOMPARE(sel.fill, QColor(0x00, 0x4a, 0xad));
        QCOMPARE(sel.text, QColor(Qt::white));
        QVERIFY(sel.ring);
        QVERIFY(!look(19).ring);
    }

    void gridClicks()
    {
        const QSizeF size(420, 326); // cells of 60 x 50
        const QDate today(2026, 3, 20);
        MonthState s;
        s.first = QDate(2026, 3, 1);
        const QRectF r = cellRect(6, size);
        QCOMPARE(r, QRectF(362, 28, 56, 46));
        QCOMPARE(cellAt(s, r.center(), size, today), 6);
        QCOMPARE(cellAt(s, QPointF(361, 40), size, today), -1);            // the 4 px gap
        QCOMPARE(cellAt(s, cellRect(0, size).center(), size, today), -1);  // February's cell
        QCOMPARE(cellAt(s, cellRect(26, size).center(), size, today), -1); // 21 March, after today
        QCOMPARE(cellAt(s, cellRect(25, size).center(), size, today), 25); // today
        QCOMPARE(cellAt(s, QPointF(30, 10), size, today), -1);             // the header
        QCOMPARE(cellAt(MonthState{}, r.center(), size, today), -1);
    }

    void snapshotReplies_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QSize>("stored");
        QTest::newRow("4:3 picture") << 200 << png(1280, 960) << "" << QSize(349, 262);
        QTest::newRow("wide picture") << 200 << png(1920, 1080) << "" << QSize(464, 261);
        QTest::newRow("small picture grows to fit") << 200 << png(232, 131) << "" << QSize(464, 262);
        QTest::newRow("not a picture") << 200 << QByteArray("<html>") << "Not a picture." << QSize();
        QTest::newRow("401") << 401 << QByteArray() << "Login refused." << QSize();
        QTest::newRow("503") << 503 << QByteArray() << "HTTP 503." << QSize();
        QTest::newRow("no answer") << 0 << QByteArray() << "No answer in time." << QSize();
    }
    void snapshotReplies()
    {
        NativeHttp::Response r;
        r.status = FETCH(int, status);
        r.body = FETCH(QByteArray, body);
        if (r.status == 0)
            r.error = QStringLiteral("No answer in time.");
        const SnapshotRules::Outcome o = SnapshotRules::readReply(r);
        QCOMPARE(o.error, FETCH(QString, error));
        QFETCH(QSize, stored);
        QCOMPARE(o.picture.isNull(), !stored.isValid());
        if (stored.isValid()) {
            const QPixmap p = SnapshotRules::cardPicture(o.picture);
            QCOMPARE(p.size(), stored);
            QCOMPARE(p.devicePixelRatio(), 2.0);
        }
    }

    void snapshotScope()
    {
        Native::Device d;
        d.id = QStringLiteral("dev");
        for (int c = 1; c <= 9; ++c) {
            Native::Camera cam;
            cam.channelId = c;
            d.cameras << cam;
        }
        d.ignored = {2, 7};
        QCOMPARE(SnapshotRules::camerasInScope(d, 0), (QList<int>{1, 3, 4, 5, 6, 8, 9}));
        QCOMPARE(SnapshotRules::camerasInScope(d, 4), (QList<int>{4}));
        QCOMPARE(SnapshotRules::camerasInScope(d, 7), (QList<int>{})); // ignored
        QMap<int, SnapshotRecord> cached;
        QVERIFY(SnapshotRules::fetchAtOpen(&d, 0, cached));
        for (int c : SnapshotRules::camerasInScope(d, 0))
            cached[c] = SnapshotRecord{};
        QVERIFY(!SnapshotRules::fetchAtOpen(&d, 0, cached)); // all cached
        QVERIFY(SnapshotRules::fetchAtOpen(&d, 3, cached));  // one channel refreshes
        QVERIFY(SnapshotRules::fetchAtOpen(nullptr, 0, cached));
        Native::Device bare;
        QVERIFY(!SnapshotRules::fetchAtOpen(&bare, 0, {})); // no cameras: nothing to fetch
    }

    void snapshotTexts()
    {
        QCOMPARE(SnapshotRules::statusText(7, 4, 2), QStringLiteral("Checking 1 of 7"));
        QCOMPARE(SnapshotRules::placeholder(nullptr), QStringLiteral("Checking"));
        SnapshotRecord r;
        r.checking = true;
        QCOMPARE(SnapshotRules::placeholder(&r), QStringLiteral("Checking"));
        r.checking = false;
        r.error = QStringLiteral("HTTP 503.");
        QCOMPARE(SnapshotRules::placeholder(&r), QStringLiteral("No snapshot\nHTTP 503."));
        QCOMPARE(SnapshotRules::noPathError(true), QStringLiteral("Needs ONVIF snapshot support."));
        QCOMPARE(SnapshotRules::noPathError(false), QStringLiteral("This brand has no snapshot over HTTP."));
        QCOMPARE(SnapshotRules::caption(3, QStringLiteral("Yard")), QStringLiteral("#3 Yard"));
    }
};

KVR_TEST_MAIN(TestMediaRules)
#include "tst_media_rules.moc"
