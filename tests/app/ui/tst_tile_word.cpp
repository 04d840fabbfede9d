// What a wall's tile says of itself, for the tiles of both walls: the word
// of a failed tile for each kind of player failure, and when a tile that
// shows pictures says its picture stopped (a few seconds, or longer where
// its pictures come further apart), with the count of the wait.

#include "app/ui/TileWord.h"
#include "app/ui/Tunables.h"
#include "tests/support/TestKit.h"

#include <QLabel>

using namespace kvr::ui;
using F = kvr::core::PlayerFailure;

class TestTileWord : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Nothing answered (a refused port is turned away before any answer, a
    // silent one never answers, an unreachable one is never got to): "No
    // answer"; anything that answered and still gave no picture: "Failed".
    void aFailureKindGivesItsWord()
    {
        const std::pair<F, TileFault> rows[] = {
            {F::Refused, TileFault::NoAnswer},     {F::TimedOut, TileFault::NoAnswer},
            {F::Unreachable, TileFault::NoAnswer}, {F::Unauthorized, TileFault::Failed},
            {F::Forbidden, TileFault::Failed},     {F::NotFound, TileFault::Failed},
            {F::ClientError, TileFault::Failed},   {F::ServerError, TileFault::Failed},
            {F::Untrusted, TileFault::Failed},     {F::Dropped, TileFault::Failed},
            {F::Other, TileFault::Failed},
        };
        for (const auto& [kind, fault] : rows)
            QVERIFY2(tileFaultOf(kind) == fault, qPrintable(QString::number(int(kind))));
        QCOMPARE(tileFaultWord(tileFaultOf(F::Refused)), QStringLiteral("No answer"));

        QWidget dot;
        QLabel word;
        QVERIFY(showFaultWord(&word, &dot, true, TileFault::NoAnswer));
        QVERIFY(!word.isHidden() && dot.isHidden() && word.text() == QStringLiteral("No answer"));
        QVERIFY(!showFaultWord(&word, &dot, true, TileFault::NoAnswer));
        QVERIFY(showFaultWord(&word, &dot, false, TileFault::NoAnswer));
        QVERIFY(word.isHidden() && !dot.isHidden());
    }

    // 25 pictures a second: stopped after the floor of a few seconds.
    // Keyframes only, one every 2 s: after three such gaps, not at the floor.
    // A stop does not teach it a slower pace, and a faster pace brings the
    // floor back.
    void aStoppedPictureIsToldFromTheStreamsPace()
    {
        const qint64 floor = std::chrono::milliseconds(tun::kPictureStoppedAfter).count();
        PictureWatch watch;
        QVERIFY(!watch.stopped(100000) && !watch.hadPicture());
        qint64 t = 0;
        for (int i = 0; i < 50; ++i, t += 40)
            watch.picture(t);
        const qint64 last = t - 40;
        QCOMPARE(watch.lastPictureMs(), last);
        QVERIFY(!watch.stopped(last + floor - 1));
        QVERIFY(watch.stopped(last + floor));

        for (int i = 0; i < 3; ++i, t += 2000)
            watch.picture(t);
        t -= 2000;
        QVERIFY(!watch.stopped(t + floor));
        QVERIFY(!watch.stopped(t + 3 * 2000 - 1));
        QVERIFY(watch.stopped(t + 3 * 2000));

        // A stop of a minute; a picture held back comes late, and the wait
        // still counts from the last picture before the stop; pictures that
        // flow again for a few seconds end it.
        const qint64 beforeStop = t;
        t += 60000;
        watch.picture(t);
        QCOMPARE(watch.waitFromMs(), beforeStop);
        QVERIFY(watch.stopped(t + 3 * 2000));
        for (int i = 0; i < 50; ++i)
            watch.picture(t += 40);
        QCOMPARE(watch.waitFromMs(), beforeStop); // 2 s of pictures
        for (int i = 0; i < 50; ++i)
            watch.picture(t += 40);
        QCOMPARE(watch.waitFromMs(), t);
        QVERIFY(watch.stopped(t + floor));

        watch.reset();
        QVERIFY(!watch.hadPicture() && !watch.stopped(t + 100000));
    }

    void theWaitIsCountedInSeconds()
    {
        QCOMPARE(waitedFor(noPictureYetWords(), 12999), QStringLiteral("No picture yet \u00B7 12 s"));
        QCOMPARE(waitedFor(pictureStoppedWords(), 3000), QStringLiteral("No new picture \u00B7 3 s"));
        QCOMPARE(pictureStoppedHeadline(), QStringLiteral("Picture stopped"));
        const qint64 floor = std::chrono::milliseconds(tun::kPictureStoppedAfter).count();
        QVERIFY(!waitWorthCounting(floor - 1) && waitWorthCounting(floor));
    }
};

KVR_TEST_MAIN(TestTileWord)

#include "tst_tile_word.moc"
