// The calendar, month grid and snapshot rules without a window.

#include "native/live/CalendarRules.h"
#include "native/live/SnapshotCache.h"
#include "native/live/SnapshotRules.h"
#include "tests/native/live/LiveTestKit.h"

#include <QtTest>

using namespace kvr::services;
using namespace kvr::live;

using namespace CalendarRules;

namespace {
NativeCalendar::Clip clip(const QTime& from, const QTime& to)
{
    const QDate d(2026, 3, 2);
    return NativeCalendar::Clip{QDateTime(d, from), QDateTime(d, to)};
}
// "fill border text[ ring]" of a cell, as #aarrggbb.
QString describe(const CellLook& l)
{
    return QStringLiteral("%1 %2 %3%4")
        .arg(l.fill.name(QColor::HexArgb), l.border.name(QColor::HexArgb), l.text.name(QColor::HexArgb),
             l.ring ? QStringLiteral(" ring") : QString());
}
} // namespace

class TestMediaRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void coverageOfTheWindow()
    {
        // A window of 30 days inside March: days 1..30, every third one missing up to `missing`.
        const std::pair<int, const char*> rows[] = {
            {3, "27 of 30 days recorded (90%) ok"},   {4, "26 of 30 days recorded (86%) warn"},
            {9, "21 of 30 days recorded (70%) warn"}, {10, "20 of 30 days recorded (66%) bad"},
            {0, "30 of 30 days recorded (100%) ok"},
        };
        for (const auto& [missing, want] : rows) {
            QSet<int> days;
            for (int d = 1; d <= 31; ++d)
                if (d % 3 != 0 || d / 3 > missing)
                    days.insert(d);
            const Coverage c = coverage(QDate(2026, 3, 30), 30, [&](const QDate& m) -> std::optional<QSet<int>> {
                return m == QDate(2026, 3, 1) ? std::optional(days) : std::nullopt;
            });
            QCOMPARE(coverageText(c) + " " + levelName(c.level), QLatin1String(want));
            QCOMPARE(int(c.missing.size()), missing);
        }
        // Every month of the window must be known.
        const QDate today(2026, 3, 10);
        int asked = 0;
        const Coverage c = coverage(today, 30, [&](const QDate& m) -> std::optional<QSet<int>> {
            ++asked;
            return m.month() == 3 ? std::optional(QSet<int>{1, 2}) : std::nullopt;
        });
        QVERIFY(!c.known);
        QCOMPARE(coverageText(c), QStringLiteral("Coverage unknown"));
        QCOMPARE(asked, 1); // February is asked first (the window starts in it)
        QCOMPARE(monthsToKnow(QDate(2025, 12, 1), today, windowStart(today, 90)),
                 (QList<QDate>{QDate(2025, 12, 1), QDate(2026, 3, 1), QDate(2026, 2, 1), QDate(2026, 1, 1)}));
        QCOMPARE(windowStart(today, 1), today);
    }

    void bannerAndClips()
    {
        QCOMPARE(missingBanner({}), QString());
        QStringList days;
        for (int i = 0; i < 20; ++i)
            days << english().toString(QDate(2026, 2, 1).addDays(i), QStringLiteral("d MMM"));
        QVERIFY(missingBanner(days).endsWith(QStringLiteral(", 14 Feb and 6 more")));
        QVERIFY(missingBanner(days.mid(0, 14)).endsWith(QStringLiteral(", 13 Feb, 14 Feb")));

        const std::pair<QList<NativeCalendar::Clip>, QStringList> rows[] = {
            {{clip(QTime(10, 0), QTime(10, 15)), clip(QTime(10, 15, 3), QTime(10, 30))}, // 3 s gap stays
             {QStringLiteral("10:00:00 \u2013 10:15:00   (15 min)"),
              QStringLiteral("10:15:03 \u2013 10:30:00   (14 min)")}},
            {{clip(QTime(9, 0), QTime(11, 0)), clip(QTime(9, 30), QTime(10, 0))}, // contained keeps the later end
             {QStringLiteral("09:00:00 \u2013 11:00:00   (120 min)")}},
        };
        for (const auto& [clips, want] : rows) {
            QStringList got;
            for (const auto& c : mergeClips(clips))
                got << clipRow(c);
            QCOMPARE(got, want);
        }
        QCOMPARE(dayStatus(0, true, QString()), QStringLiteral("No recording on this day."));
        QCOMPARE(dayStatus(1, true, QString()), QStringLiteral("1 recording. Times are the device's clock."));
    }

    void grid()
    {
        // The first of the month, its cell and the last day's cell.
        const std::tuple<QDate, int, int> rows[] = {
            {QDate(2021, 2, 1), 0, 27}, {QDate(2026, 3, 1), 6, 36}, {QDate(2026, 4, 1), 2, 31}};
        for (const auto& [first, firstCell, lastCell] : rows) {
            MonthState s;
            s.first = first;
            s.known = true;
            QList<int> drawn;
            for (int i = 0; i < kCells; ++i)
                if (cellLook(s, i, QDate(2030, 1, 1)).drawn)
                    drawn << i;
            QCOMPARE((QList<int>{drawn.first(), drawn.last(), int(drawn.size())}),
                     (QList<int>{firstCell, lastCell, first.daysInMonth()}));
            QCOMPARE(dateAt(first, firstCell), first);
        }

        // Colours and clicks in March 2026 (cell of day d is d + 5), on the 20th.
        const QDate today(2026, 3, 20);
        MonthState s;
        s.first = QDate(2026, 3, 1);
        s.days = {5, 12, 25};
        s.known = true;
        s.windowStart = QDate(2026, 3, 10);
        auto look = [&](int day) { return describe(cellLook(s, day + 5, today)); };
        QCOMPARE(look(25), QStringLiteral("#00000000 #00000000 #ffced4da")); // after today
        QCOMPARE(look(12), QStringLiteral("#2e28a745 #00000000 #ff1e7e34")); // recorded in window
        QCOMPARE(look(5), QStringLiteral("#1428a745 #00000000 #ff6c757d"));  // recorded before window
        QCOMPARE(look(13), QStringLiteral("#14dc3545 #82dc3545 #ffdc3545")); // gap in window
        QCOMPARE(look(3), QStringLiteral("#fff1f3f5 #00000000 #ffadb5bd"));  // not recorded before window
        s.known = false;
        QCOMPARE(look(12), QStringLiteral("#fff8f9fa #00000000 #ff6c757d")); // unknown: grey, recorded or not
        s.selected = today;
        QCOMPARE(look(20), QStringLiteral("#ff004aad #00000000 #ffffffff ring"));

        const QSizeF size(420, 326); // cells of 60 x 50
        const QRectF r = cellRect(6, size);
        QCOMPARE(r, QRectF(362, 28, 56, 46));
        const std::pair<QPointF, int> clicks[] = {
            {r.center(), 6},
            {QPointF(361, 40), -1},            // the 4 px gap
            {cellRect(0, size).center(), -1},  // February's cell
            {cellRect(25, size).center(), 25}, // today; the dialogs suite clicks a day after it
            {QPointF(30, 10), -1},             // the header
        };
        for (const auto& [point, cell] : clicks)
            QCOMPARE(cellAt(s, point, size, today), cell);
        QCOMPARE(cellAt(MonthState{}, r.center(), size, today), -1);
    }

    // The keys move over the days a click may pick (the shown month up to
    // today), stopping at their ends; they start on the selected day, else
    // today, else the month's first. A screen reader hears each day with
    // what it holds.
    void gridByKeys()
    {
        const QDate today(2026, 3, 20);
        MonthState s;
        s.first = QDate(2026, 3, 1);
        s.days = {5, 12};
        s.known = true;
        s.windowStart = QDate(2026, 3, 10);
        QCOMPARE(keyDayStart(s, today), today);
        s.selected = QDate(2026, 3, 12);
        QCOMPARE(keyDayStart(s, today), s.selected);
        s.selected = QDate(2026, 2, 27); // another month's
        QCOMPARE(keyDayStart(s, today), today);
        const auto moved = [&](int from, int days) { return keyDayMoved(s, QDate(2026, 3, from), days, today).day(); };
        QCOMPARE((QList<int>{moved(10, 1), moved(10, -7), moved(3, -7), moved(19, 1), moved(18, 7), moved(1, -1)}),
                 (QList<int>{11, 3, 1, 20, 20, 1}));
        QCOMPARE(keyDayMoved(s, QDate(2026, 4, 2), 1, today), today); // from elsewhere: from today, and no further
        QCOMPARE(lastPickable(s, today), today);
        MonthState past = s;
        past.first = QDate(2026, 2, 1);
        QCOMPARE(keyDayStart(past, today), past.selected); // picked there
        past.selected = QDate();
        QCOMPARE(keyDayStart(past, today), QDate(2026, 2, 1));
        QCOMPARE(lastPickable(past, today), QDate(2026, 2, 28));
        MonthState future = s;
        future.first = QDate(2026, 4, 1);
        QVERIFY(!keyDayStart(future, today).isValid() && !keyDayMoved(future, today, 1, today).isValid());
        QCOMPARE(
            (QList<int>{cellOf(s, QDate(2026, 3, 1)), cellOf(s, QDate(2026, 3, 31)), cellOf(s, today.addMonths(1))}),
            (QList<int>{6, 36, -1}));

        s.selected = QDate(2026, 3, 12);
        const auto said = [&](int day) { return spokenDay(s, QDate(2026, 3, day), today); };
        QCOMPARE(said(12), QStringLiteral("Thursday 12 March 2026, recorded, selected"));
        QCOMPARE(said(13), QStringLiteral("Friday 13 March 2026, no recording"));
        QCOMPARE(said(5), QStringLiteral("Thursday 5 March 2026, recorded, before the recording window"));
        QCOMPARE(said(20), QStringLiteral("Friday 20 March 2026, no recording, today"));
        QCOMPARE(said(21), QStringLiteral("Saturday 21 March 2026, not yet"));
        s.known = false;
        QCOMPARE(said(12), QStringLiteral("Thursday 12 March 2026, not known yet, selected"));
    }

    void snapshots()
    {
        const std::tuple<int, QByteArray, const char*, QSize> rows[] = {
            {200, livetest::pictureBytes(1280, 960, "PNG"), "", QSize(349, 262)},
            {200, livetest::pictureBytes(1920, 1080, "PNG"), "", QSize(464, 261)},
            {200, livetest::pictureBytes(232, 131, "PNG"), "", QSize(464, 262)}, // small grows to fit
            {200, "<html>", "Not a picture.", QSize()},
            {401, "", "Login refused.", QSize()},
            {503, "", "HTTP 503.", QSize()},
            {0, "", "No answer in time.", QSize()},
        };
        for (const auto& [status, body, error, stored] : rows) {
            NativeHttp::Response r;
            r.status = status;
            r.body = body;
            if (status == 0)
                r.error = QStringLiteral("No answer in time.");
            const SnapshotRules::Outcome o = SnapshotRules::readReply(r);
            QCOMPARE(o.error, QLatin1String(error));
            QCOMPARE(o.picture.isNull(), !stored.isValid());
            if (stored.isValid()) {
                const QPixmap p = SnapshotRules::cardPicture(o.picture);
                QCOMPARE(p.size(), stored);
                QCOMPARE(p.devicePixelRatio(), 2.0);
            }
        }

        Native::Device d;
        for (int c = 1; c <= 9; ++c) {
            Native::Camera cam;
            cam.channelId = c;
            d.cameras << cam;
        }
        d.ignored = {2, 7};
        QCOMPARE(SnapshotRules::camerasInScope(d, 7), (QList<int>{})); // ignored
        // Nothing cached: fetched (the dialogs suite shows the cache at work); no cameras: nothing to fetch.
        const Native::Device bare;
        QCOMPARE((QList<bool>{SnapshotRules::fetchAtOpen(&d, 0, {}), SnapshotRules::fetchAtOpen(nullptr, 0, {}),
                              SnapshotRules::fetchAtOpen(&bare, 0, {})}),
                 (QList<bool>{true, true, false}));
        QCOMPARE(SnapshotRules::statusText(7, 4, 2), QStringLiteral("Checking 1 of 7"));
    }
};

KVR_TEST_MAIN(TestMediaRules)

#include "tst_media_rules.moc"
