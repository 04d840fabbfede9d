// Playback on the wall without a window: windows and clamps, seeking, the
// clock, the transport's state and the coverage blocks.

#include "native/live/PlaybackRules.h"
#include "tests/support/TestKit.h"

#include <QtTest>

using namespace kvr::services;
using namespace kvr::live;

using namespace PlaybackRules;
using Blocks = QList<Block>;
using Clips = QList<NativeCalendar::Clip>;

namespace {
const QDate kDay(2026, 3, 2);
QDateTime at(int h, int m, int s = 0, int dayOffset = 0)
{
    return QDateTime(kDay.addDays(dayOffset), QTime(h, m, s));
}
} // namespace

class TestPlaybackRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The wall's suite shows ten minutes ahead of now and -30 s over midnight.
    void windowsAndSeeking()
    {
        const QDateTime now = at(14, 0);
        struct Row {
            QDateTime asked, now, start, end;
        } rows[] = {
            {at(21, 0, 0, -1), now, at(21, 0, 0, -1), at(23, 59, 59, -1)}, // stays on its day
            {at(23, 59, 30, -1), now, at(23, 58, 0, -1), at(23, 59, 59, -1)},
            {at(23, 58, 0, -1), now, at(23, 58, 0, -1), at(23, 59, 59, -1)},
            {at(23, 59, 50), at(23, 59, 30), at(23, 58, 0), at(23, 59, 59)}, // future late at night
        };
        for (const Row& r : rows) {
            const QDateTime start = clampStart(r.asked, r.now);
            QCOMPARE((QList<QDateTime>{start, windowEnd(start)}), (QList<QDateTime>{r.start, r.end}));
        }
        // The far right end of the timeline stays on the chosen day.
        const std::pair<double, QDateTime> seeks[] = {
            {0.0, at(0, 0)},           {3600.9, at(1, 0)},        {86399.5, at(23, 59, 59)},
            {86400.0, at(23, 59, 59)}, {90000.0, at(23, 59, 59)}, {-5.0, at(0, 0)},
        };
        for (const auto& [second, target] : seeks)
            QCOMPARE(seekTarget(kDay, second), target);
    }

    void clockAndTransport()
    {
        const QDateTime start = at(10, 0);
        // The first report sets the base: no change of second.
        QVERIFY(!clockStep(start, 5.0, 5.96, start));
        const auto next = clockStep(start, 5.0, 6.0005, start);
        QCOMPARE(next.value_or(QDateTime()), start.addMSecs(1000));
        QCOMPARE(*clockStep(start, 5.0, 7.5, *next), start.addMSecs(2500));

        // "<play> <step> <playhead>".
        const auto transport = [](const Transport& t) {
            return QStringLiteral("%1 %2 %3").arg(int(t.playEnabled)).arg(int(t.stepEnabled)).arg(t.playhead);
        };
        QCOMPARE(transport(transportFor(false, false, false, {}, kDay)), QStringLiteral("0 0 -1"));
        QCOMPARE(transport(transportFor(true, true, false, at(10, 0, 5), kDay)), QStringLiteral("1 1 36005"));
        // Another day than the one shown: no playhead.
        QCOMPARE(transport(transportFor(true, true, true, at(10, 0, 5, -1), kDay)), QStringLiteral("1 1 -1"));
    }

    void coverage()
    {
        const auto clip = [](const QDateTime& from, const QDateTime& to) { return NativeCalendar::Clip{from, to}; };
        const std::pair<QList<Clips>, Blocks> rows[] = {
            // Two devices, a one-second gap closed.
            {{{clip(at(8, 0), at(9, 0)), clip(at(8, 59, 30), at(10, 0))}, {clip(at(10, 0, 1), at(11, 0))}},
             {{8 * 3600.0, 11 * 3600.0}}},
            // A two-second gap stays.
            {{{clip(at(8, 0), at(9, 0)), clip(at(9, 0, 2), at(10, 0))}},
             {{8 * 3600.0, 9 * 3600.0}, {9 * 3600.0 + 2, 10 * 3600.0}}},
            // Over midnight: to the end of the day.
            {{{clip(at(23, 30), at(0, 30, 0, 1))}}, {{23.5 * 3600.0, 86400.0}}},
            // Started the day before: skipped.
            {{{clip(at(23, 0, 0, -1), at(1, 0))}}, {}},
            // An end not after the start is one second.
            {{{clip(at(12, 0), at(11, 0))}}, {{12 * 3600.0, 12 * 3600.0 + 1}}},
            // Nested and unsorted.
            {{{clip(at(14, 0), at(15, 0))}, {clip(at(13, 0), at(16, 0))}}, {{13 * 3600.0, 16 * 3600.0}}},
        };
        for (const auto& [answers, merged] : rows) {
            Blocks blocks;
            for (const Clips& answer : answers)
                appendClips(blocks, answer, kDay);
            QCOMPARE(mergeBlocks(blocks), merged);
        }
    }
};

KVR_TEST_MAIN(TestPlaybackRules)

#include "tst_playback_rules.moc"
