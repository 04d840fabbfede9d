// Playback on the wall without a window: windows and clamps, seeking, the
// clock, the transport's state and the coverage blocks.

#include "native/live/PlaybackRules.h"
#include "tests/native/live/LiveTestKit.h"
#include "tests/support/TestKit.h"

#include <QtTest>

using namespace PlaybackRules;
using Blocks = QList<Block>;

Q_DECLARE_METATYPE(Blocks)

namespace {
const QDate kDay(2026, 3, 2);
QDateTime at(int h, int m, int s = 0, int dayOffset = 0)
{
    return QDateTime(kDay.addDays(dayOffset), QTime(h, m, s));
}
NativeCalendar::Clip clip(const QDateTime& from, const QDateTime& to)
{
    return NativeCalendar::Clip{from, to};
}
} // namespace

class TestPlaybackRules : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windows_data()
    {
        QTest::addColumn<QDateTime>("asked");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("start");
        QTest::addColumn<QDateTime>("end");
        const QDateTime now = at(14, 0);
        QTest::newRow("ten minutes ahead") << at(14, 10) << now << at(13, 59) << at(17, 59);
        QTest::newRow("9:00") << at(9, 0) << now << at(9, 0) << at(13, 0);
        QTest::newRow("21:00 stays on its day") << at(21, 0, 0, -1) << now << at(21, 0, 0, -1) << at(23, 59, 59, -1);
        QTest::newRow("23:59:30") << at(23, 59, 30, -1) << now << at(23, 58, 0, -1) << at(23, 59, 59, -1);
        QTest::newRow("23:58 itself") << at(23, 58, 0, -1) << now << at(23, 58, 0, -1) << at(23, 59, 59, -1);
        QTest::newRow("-30 s over midnight")
            << at(0, 0, 10).addSecs(-30) << now << at(23, 58, 0, -1) << at(23, 59, 59, -1);
        QTest::newRow("future late at night") << at(23, 59, 50) << at(23, 59, 30) << at(23, 58, 0) << at(23, 59, 59);
    }
    void windows()
    {
        const QDateTime start = clampStart(FETCH(QDateTime, asked), FETCH(QDateTime, now));
        QCOMPARE(start, FETCH(QDateTime, start));
        QCOMPARE(windowEnd(start), FETCH(QDateTime, end));
    }

    // The far right end of the timeline stays on the chosen day.
    void seeking_data()
    {
        QTest::addColumn<double>("second");
        QTest::addColumn<QDateTime>("target");
        QTest::newRow("start") << 0.0 << at(0, 0);
        QTest::newRow("truncated") << 3600.9 << at(1, 0);
        QTest::newRow("last second") << 86399.5 << at(23, 59, 59);
        QTest::newRow("end of day") << 86400.0 << at(23, 59, 59);
        QTest::newRow("beyond") << 90000.0 << at(23, 59, 59);
        QTest::newRow("before") << -5.0 << at(0, 0);
    }
    void seeking() { QCOMPARE(seekTarget(kDay, FETCH(double, second)), FETCH(QDateTime, target)); }

    void clock()
    {
        const QDateTime start = at(10, 0);
        // The first report sets the base: no change of second.
        QVERIFY(!clockStep(start, 5.0, 5.0, start));
        QVERIFY(!clockStep(start, 5.0, 5.96, start));
        const auto next = clockStep(start, 5.0, 6.0005, start);
        QVERIFY(next);
        QCOMPARE(*next, start.addMSecs(1000));
        QCOMPARE(*clockStep(start, 5.0, 7.5, *next), start.addMSecs(2500));
    }

    void transport()
    {
        Transport t = transportFor(false, false, false, {}, kDay);
        QVERIFY(!t.playEnabled && !t.stepEnabled);
        QCOMPARE(t.status, QStringLiteral("Pick a time"));
        QCOMPARE(t.playhead, -1.0);
        t = transportFor(true, true, false, at(10, 0, 5), kDay);
        QVERIFY(t.playEnabled && t.stepEnabled);
        QCOMPARE(t.pauseText, QStringLiteral("Pause"));
        QCOMPARE(t.status, QStringLiteral("10:00:05"));
        QCOMPARE(t.playhead, 36005.0);
        t = transportFor(true, true, true, at(10, 0, 5, -1), kDay);
        QCOMPARE(t.pauseText, QStringLiteral("Resume"));
        QCOMPARE(t.status, QStringLiteral("Paused \u00b7 10:00:05"));
        QCOMPARE(t.playhead, -1.0); // another day than the one shown
    }

    void coverage_data()
    {
        QTest::addColumn<QList<QList<NativeCalendar::Clip>>>("answers");
        QTest::addColumn<Blocks>("merged");
        QTest::newRow("two devices, one-second gap closed")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(8, 0), at(9, 0)), clip(at(8, 59, 30), at(10, 0))},
                                                  {clip(at(10, 0, 1), at(11, 0))}}
            << Blocks{{8 * 3600.0, 11 * 3600.0}};
        QTest::newRow("two-second gap stays")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(8, 0), at(9, 0)), clip(at(9, 0, 2), at(10, 0))}}
            << Blocks{{8 * 3600.0, 9 * 3600.0}, {9 * 3600.0 + 2, 10 * 3600.0}};
        QTest::newRow("over midnight to the end of day")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(23, 30), at(0, 30, 0, 1))}}
            << Blocks{{23.5 * 3600.0, 86400.0}};
        QTest::newRow("started the day before is skipped")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(23, 0, 0, -1), at(1, 0))}} << Blocks{};
        QTest::newRow("end not after start is one second")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(12, 0), at(11, 0))}}
            << Blocks{{12 * 3600.0, 12 * 3600.0 + 1}};
        QTest::newRow("nested and unsorted")
            << QList<QList<NativeCalendar::Clip>>{{clip(at(14, 0), at(15, 0))}, {clip(at(13, 0), at(16, 0))}}
            << Blocks{{13 * 3600.0, 16 * 3600.0}};
    }
    void coverage()
    {
        QList<Block> blocks;
        for (const auto& answer : FETCH(QList<QList<NativeCalendar::Clip>>, answers))
            appendClips(blocks, answer, kDay);
        QCOMPARE(mergeBlocks(blocks), FETCH(Blocks, merged));
    }

    void notes()
    {
        QCOMPARE(coverageNote(false, 3), QStringLiteral("Footage times are not listed for every camera here"));
        QCOMPARE(coverageNote(true, 0), QStringLiteral("No footage found on this day"));
        QCOMPARE(coverageNote(true, 1), QString());
        QCOMPARE(idleHeadline(false), QStringLiteral("Pick a time on the timeline"));
        QCOMPARE(idleDetail(false), QStringLiteral("Or type a time and press Play."));
        QCOMPARE(idleHeadline(true), QStringLiteral("Paused"));
        QCOMPARE(idleDetail(true), QStringLiteral("Press Resume to carry on."));
    }
};

KVR_TEST_MAIN(TestPlaybackRules)
#include "tst_playback_rules.moc"
