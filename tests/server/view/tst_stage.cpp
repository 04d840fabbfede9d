// The single-camera stage's wiring: what each mode shows, its signals, the
// status rule, the control strip, speeds, day and time navigation, cloud
// playlists and late answers, snapshots. Pictures are handed to it the way
// its player hands them; the real streams are in the peers suite.

#include "app/core/Settings.h"
#include "app/ui/TimelineBar.h"
#include "server/api/ApiReaders.h"
#include "server/view/ControlBar.h"
#include "server/view/StagePages.h"
#include "tests/server/view/ViewTestSupport.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QDateEdit>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextCharFormat>
#include <QTimeEdit>
#include <QToolTip>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::api;
using namespace kvr::view;

namespace kvr::view {

struct StagePagesTestAccess {
    static QDateEdit* picker(StagePages& s) { return s.m_dayPicker; }
    static QComboBox* speeds(StagePages& s) { return s.m_speedBox; }
    static QTimer& hideTimer(StagePages& s) { return s.m_hideTimer; }
    static QLabel* badge(StagePages& s) { return s.m_badge; }
    static double elapsedOffset(StagePages& s) { return s.m_elapsedOffset; }
    static QList<CloudSegment> segments(StagePages& s) { return s.m_playlist.segments; }
    static QWidget* part(StagePages& s, const QString& which)
    {
        const QHash<QString, QWidget*> parts{{"seg", s.m_segWrap},         {"card", s.m_dayCard},
                                             {"timeline", s.m_timeline},   {"pause", s.m_pauseButton},
                                             {"time", s.m_timeLabel},      {"fromStart", s.m_playFromStart},
                                             {"speed", s.m_speedControls}, {"retry", s.m_retry}};
        return parts.value(which);
    }
};
} // namespace kvr::view
using Access = StagePagesTestAccess;
using viewtest::asked;
using viewtest::click;
using viewtest::control;

namespace {

// 10 s segments from 10:00:00 of 2024-05-01 on a peer that never answers.
QByteArray cloudDay(int segments)
{
    QByteArray text = "#EXTM3U\n#EXT-X-TARGETDURATION:10\n";
    for (int i = 0; i < segments; ++i)
        text += "#EXTINF:10,\nhttp://" + viewtest::silentAddress().toUtf8() + "/2024-05-01_10-00-"
            + QByteArray::number(i * 10).rightJustified(2, '0') + ".ts\n";
    return text + "#EXT-X-ENDLIST\n";
}

// "badge (mode property): visible parts | timeline accent, reconnecting".
QString look(StagePages& s)
{
    QStringList out;
    for (const char* p : {"seg", "card", "timeline", "pause", "time", "fromStart", "speed", "retry"})
        if (Access::part(s, p)->isVisibleTo(&s))
            out << p;
    const QColor accent = s.timeline()->accent();
    const char* colour = accent == Theme::colour(Theme::Colour::Live) ? "live"
        : accent == Theme::colour(Theme::Colour::Cloud)               ? "cloud"
                                                                      : "device";
    return QString("%1 (%2): %3 | %4%5")
        .arg(Access::badge(s)->text(), Access::badge(s)->property("mode").toString(), out.join(' '), colour,
             s.player()->options().autoReconnect ? " reconnects" : "");
}

} // namespace

class StageTest : public QObject {
    Q_OBJECT

    std::unique_ptr<StagePages> stage;
    std::unique_ptr<kvrtest::TestClock> clock;

    QString headline() const { return stage->videoStage()->headlineText(); }
    QString detail() const { return stage->videoStage()->detailText(); }
    void showPicture()
    {
        QImage img(320, 180, QImage::Format_RGB32);
        img.fill(QColor(40, 120, 200));
        Q_EMIT stage->player()->frameReady(img);
    }

private Q_SLOTS:
    void init()
    {
        // 15:30 IST on 2024-05-02.
        clock = std::make_unique<kvrtest::TestClock>(QDateTime(QDate(2024, 5, 2), QTime(10, 0), Qt::UTC));
        Prefs::set(Prefs::kLiveMain, false);
        stage = std::make_unique<StagePages>();
        stage->resize(1200, 800);
        stage->show();
        QVERIFY(QTest::qWaitForWindowExposed(stage.get()));
    }
    void cleanup()
    {
        stage.reset();
        clock.reset();
    }

    void modesShowTheirBadgeAndControls()
    {
        QVERIFY(!stage->mainStream()); // from the "liveMain" setting
        stage->openLive("Gate", QString(), false);
        QCOMPARE(look(*stage), QString("LIVE (live): seg | live reconnects"));
        stage->prepareDevice("Gate");
        QCOMPARE(look(*stage), QString("DEVICE PLAYBACK (device): card timeline pause time fromStart | device"));
        stage->prepareCloud("Gate", {});
        QCOMPARE(look(*stage), QString("CLOUD PLAYBACK (cloud): card timeline pause time speed | cloud"));
        QCOMPARE(headline(), QString("This camera has no cloud archive."));

        // Only live is flagged live to the player: recordings are not played
        // as a camera that runs ahead of them.
        stage->openLive("Gate", viewtest::silentRtsp(), false);
        QVERIFY(stage->player()->options().live);
        stage->prepareDevice("Gate");
        stage->playUrl(viewtest::silentRtsp());
        QVERIFY(!stage->player()->options().live);
        stage->openLive("Gate", viewtest::silentRtsp(), false);
        QSignalSpy clouds(stage.get(), &StagePages::playCloud);
        stage->prepareCloud("Gate", {QDate(2024, 5, 1)});
        QTRY_COMPARE(clouds.size(), 1);
        stage->playPlaylist(cloudDay(2), QUrl(), asked(clouds));
        QVERIFY(stage->isOpen() && !stage->player()->options().live);

        // Only live is suspended and resumed; a stopped or recorded view stays so.
        stage->openLive("Gate", viewtest::silentRtsp(), false);
        stage->suspendLive();
        QVERIFY(!stage->isOpen());
        stage->stopPlayback();
        stage->resumeLive();
        QVERIFY(!stage->isOpen());
        stage->prepareDevice("Gate");
        stage->suspendLive();
        stage->resumeLive();
        QVERIFY(!stage->isOpen());
    }

    // The relay chip's count: live pictures while they come; not a recording's,
    // and not once a message stands in their place or the stage stops.
    void livePicturesAreCountedAsPlaying()
    {
        const int before = LivePictures::count();
        const QImage picture(8, 8, QImage::Format_RGB32);
        stage->openLive("Gate", viewtest::silentRtsp(), false);
        Q_EMIT stage->player()->frameReady(picture);
        Q_EMIT stage->player()->frameReady(picture);
        QCOMPARE(LivePictures::count() - before, 1);
        Q_EMIT stage->player()->reconnecting(1, 3, "The connection dropped");
        QCOMPARE(LivePictures::count() - before, 0);
        Q_EMIT stage->player()->frameReady(picture);
        QCOMPARE(LivePictures::count() - before, 1);
        stage->stopPlayback();
        QCOMPARE(LivePictures::count() - before, 0);
        stage->prepareDevice("Gate");
        stage->playUrl(viewtest::silentRtsp());
        Q_EMIT stage->player()->frameReady(picture);
        QCOMPARE(LivePictures::count() - before, 0);
        stage->stopPlayback();
    }

    void liveStatusRetryAndSignals()
    {
        QSignalSpy retry(stage.get(), &StagePages::retryLive);
        stage->openLive("Gate 1", QString(), true);
        QCOMPARE(headline() + " | " + detail(), QString("Offline | Gate 1"));
        QVERIFY(!stage->isOpen());
        stage->openLive("Gate 1", QString(), false);
        Q_EMIT stage->player()->status("Can’t open the stream", "HTTP 404");
        click(stage.get(), "Try again");
        QCOMPARE(retry.size(), 1);
        Q_EMIT stage->player()->reconnecting(2, 3, "Connection lost");
        QCOMPARE(headline() + " | " + detail(), QString("Reconnecting… | Connection lost (attempt 2 of 3)"));
        // What the stage paints, a screen reader reads; a picture ends it.
        QCOMPARE(stage->videoStage()->accessibleDescription(),
                 QString("Reconnecting…: Connection lost (attempt 2 of 3)"));
        showPicture();
        QVERIFY(stage->videoStage()->accessibleDescription().isEmpty());
        stage->showError("No", "", false);
        QVERIFY(!Access::part(*stage, "retry")->isVisible());

        // Signals only on a change.
        QSignalSpy toggled(stage.get(), &StagePages::streamToggled);
        QSignalSpy full(stage.get(), &StagePages::fullscreenToggled);
        QSignalSpy stopped(stage.get(), &StagePages::stopped);
        click(stage.get(), "Sub"); // already chosen
        stage->setMainStream(false);
        click(stage.get(), "Main");
        QVERIFY(toggled.size() == 1 && toggled[0][0].toBool());
        stage->setFullscreen(false);
        QCOMPARE(full.size(), 0);
        QTest::mouseDClick(stage->videoStage(), Qt::LeftButton);
        QVERIFY(control(stage.get(), "Exit full screen"));
        click(stage.get(), "Stop"); // leaves full screen, tells the owner
        QVERIFY(full.size() == 2 && !full[1][0].toBool() && stopped.size() == 1);
    }

    void controlStripHidesOnlyOverAPictureAndNotUnderThePointer()
    {
        QTimer& hide = Access::hideTimer(*stage);
        ControlBar* bar = stage->controlBar();
        stage->openLive("Gate", QString(), false);
        QTest::mouseMove(stage->videoStage(), QPoint(200, 100));
        QVERIFY(!hide.isActive()); // no picture yet: never hides
        showPicture();
        QVERIFY(hide.isActive());
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(bar, &enter);
        QVERIFY(!hide.isActive());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(bar, &leave);
        QTRY_VERIFY_WITH_TIMEOUT(!bar->isShown(), 8000);
        // A message brings it back and holds it.
        Q_EMIT stage->player()->status("Stream ended", "");
        QVERIFY(bar->isShown() && !hide.isActive());
        // The pointer resting on the strip while a new run of pictures starts
        // its countdown: the countdown ends with the strip still there.
        QTest::mouseMove(bar, bar->rect().center());
        QTRY_VERIFY(bar->underMouse());
        showPicture();
        QVERIFY(hide.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!hide.isActive(), 8000);
        QVERIFY(bar->isShown());

        // Shown again as the page in front (it went hidden behind another
        // page with its strip faded out): the strip is there, and fades on
        // its own again over the picture.
        QTest::mouseMove(stage->videoStage(), QPoint(200, 100));
        QTRY_VERIFY_WITH_TIMEOUT(!bar->isShown(), 8000);
        stage->hide();
        stage->show();
        QVERIFY(bar->isShown() && hide.isActive());
        QTRY_COMPARE(bar->opacity(), 1.0);
    }

    // The keyboard on the strip shows it as the pointer over it does, and
    // holds it while the focus stays there; leaving, the focus starts the
    // countdown again. A click that leaves the focus on a button holds
    // nothing.
    void theKeyboardOnTheStripHoldsIt()
    {
        QTimer& hide = Access::hideTimer(*stage);
        ControlBar* bar = stage->controlBar();
        stage->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(stage.get()));
        stage->openLive("Gate", QString(), false);
        showPicture();
        QWidget* stop = control(stage.get(), "Stop");
        stop->setFocus(Qt::MouseFocusReason);
        hide.start(1);
        QTRY_VERIFY(!bar->isShown());
        stage->videoStage()->setFocus(Qt::MouseFocusReason);
        QVERIFY(!hide.isActive());
        stop->setFocus(Qt::TabFocusReason);
        QVERIFY(bar->isShown() && !hide.isActive());
        hide.start(1);
        QTRY_VERIFY(!hide.isActive());
        QVERIFY(bar->isShown());
        stage->videoStage()->setFocus(Qt::MouseFocusReason);
        QVERIFY(hide.isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!bar->isShown(), 8000);
    }

    void speedsSteerThePlayer()
    {
        stage->prepareCloud("Gate", {});
        QComboBox* box = Access::speeds(*stage);
        // What each speed does to the player: the rule suite's speed table.
        box->setCurrentIndex(5);
        Q_EMIT box->activated(5);
        QCOMPARE(QString("%1 %2 %3")
                     .arg(stage->player()->options().rate)
                     .arg(stage->player()->controls().keyframesOnly.load())
                     .arg(control(stage.get(), "Mute")->isEnabled()),
                 QString("8 1 0"));
        stage->prepareDevice("Gate"); // back to 1×
        QVERIFY(box->currentIndex() == 0 && stage->player()->options().rate == 1.0);
    }

    // One recorder walked through its days: what is asked, in IST clock
    // digits, clamped to the day, snapped to footage, across IST midnight.
    void devicePlaybackAsksInIstDaysAndClampsItsJumps()
    {
        QSignalSpy months(stage.get(), &StagePages::deviceMonthRequested);
        QSignalSpy days(stage.get(), &StagePages::deviceDayRequested);
        QSignalSpy plays(stage.get(), &StagePages::playDevice);
        const auto last = [&] {
            return plays.isEmpty() ? QString() : plays.last()[0].toDateTime().toString(Qt::ISODate);
        };
        clock->setNowUtc(QDateTime(QDate(2024, 5, 2), QTime(18, 20), Qt::UTC)); // 23:50 IST
        stage->prepareDevice("Gate");
        QCOMPARE(QString("%1-%2 ").arg(months[0][0].toInt()).arg(months[0][1].toInt())
                     + days[0][0].toDate().toString(Qt::ISODate),
                 QString("2024-5 2024-05-02"));
        QCOMPARE(headline(), QString("Play from 00:00, or pick a time on the timeline"));
        click(stage.get(), "Next day"); // today: nothing
        QCOMPARE(plays.size(), 0);      // nor do the picker's own changes start anything

        // 01:30 on the day the clocks here go forward does not exist in
        // local time; IST has no such gap.
        stage->startDay(QDate(2024, 3, 31), 5400.7);
        QCOMPARE(last(), QString("2024-03-31T01:30:00+05:30"));
        QCOMPARE(plays[0][1].toDateTime().time(), QTime(23, 59, 59));
        QCOMPARE(days.last()[0].toDate(), QDate(2024, 3, 31));

        stage->startDay(QDate(2024, 5, 2), 30);
        click(stage.get(), "Back 1 minute");
        QCOMPARE(last(), QString("2024-05-02T00:00:00+05:30"));
        // The timeline's right end is 86400, which is no clock time.
        Q_EMIT stage->timeline()->seekRequested(86400);
        QCOMPARE(last(), QString("2024-05-02T23:59:59+05:30"));
        stage->setDeviceCoverage(QDate(2024, 5, 2), {{3600, 7200}}, true);
        Q_EMIT stage->timeline()->seekRequested(100);
        QCOMPARE(last(), QString("2024-05-02T01:00:00+05:30"));
        stage->findChild<QTimeEdit*>()->setTime(QTime(1, 30));
        click(stage.get(), "Go");
        QCOMPARE(last(), QString("2024-05-02T01:30:00+05:30"));
        // Within a minute: the recorder is asked for the whole minute (the
        // server client cuts the seconds), so the clock counts from there
        // with the footage, not from the seconds typed.
        stage->findChild<QTimeEdit*>()->setTime(QTime(1, 30, 28));
        click(stage.get(), "Go");
        QCOMPARE(playbackTimeText(plays.last()[0].toDateTime().time().toString("HH:mm:ss")), QString("01:30:00"));
        stage->onPosition(10);
        stage->onPosition(15);
        QCOMPARE(TimelineBar::clock(stage->playheadSecond()), QString("01:30:05"));
        stage->setDeviceCoverage(QDate(2024, 5, 1), {{0, 10}}, true); // another day's answer
        QCOMPARE(stage->timeline()->coverage(), (FootageBlocks{{3600, 7200}}));

        // The day buttons after IST midnight.
        clock->advanceSecs(20 * 60); // 00:10 IST on the 3rd
        QStringList reached;
        for (const char* button : {"Next day", "Previous day", "Today", "Today"}) { // Today again restarts it
            click(stage.get(), button);
            reached << last().left(10);
        }
        QCOMPARE(reached.join(' ') + " " + QString::number(plays.size()),
                 QString("2024-05-03 2024-05-02 2024-05-03 2024-05-03 11"));
        Access::picker(*stage)->setDate(QDate(2024, 4, 20)); // a day chosen in the calendar
        QCOMPARE(plays.last()[0].toDateTime(), Ist::at(QDate(2024, 4, 20), 0));

        // Live or cloud: no playback asked, no recorder's footage taken.
        stage->openLive("Gate", QString(), false);
        stage->startDay(QDate(2024, 5, 1), 0);
        stage->jumpTo(100);
        QCOMPARE(plays.size(), 12);
        stage->prepareCloud("Gate", {});
        stage->setDeviceCoverage(QDate(2024, 5, 2), {{0, 10}}, true);
        QVERIFY(stage->timeline()->coverage().isEmpty());
    }

    void recordingDaysOnlyFromTheLatestAnswer()
    {
        QCalendarWidget* calendar = Access::picker(*stage)->calendarWidget();
        const auto marked = [&](const QDate& d) { return calendar->dateTextFormat(d).fontWeight() == 700; };
        QSignalSpy months(stage.get(), &StagePages::deviceMonthRequested);
        stage->prepareDevice("Gate");
        const RequestTicket first = asked(months);
        calendar->setCurrentPage(2024, 4);
        const RequestTicket april = asked(months);
        stage->addDeviceDays({QDate(2024, 5, 1)}, first); // late: a newer month was asked for
        QVERIFY(!marked(QDate(2024, 5, 1)));
        stage->addDeviceDays({QDate(2024, 4, 3)}, april);
        QVERIFY(marked(QDate(2024, 4, 3)));

        // A recorder's days that come after the user went to the cloud archive.
        stage->prepareCloud("Gate", {});
        stage->addDeviceDays({QDate(2024, 4, 5)}, april);
        QVERIFY(!marked(QDate(2024, 4, 5)));
        stage->prepareDevice("Gate"); // a new camera starts unmarked
        QVERIFY(!marked(QDate(2024, 4, 3)));
    }

    void cloudDayStartsOnTheLastDayAndJumpsInsideItsPlaylist()
    {
        kvrtest::LogCapture log;
        QSignalSpy clouds(stage.get(), &StagePages::playCloud);
        const auto asked = [&] {
            return QStringList{clouds.last()[1].toString(), clouds.last()[2].toString()}.join('-');
        };
        stage->prepareCloud("Gate", {QDate(2024, 4, 30), QDate(2024, 5, 1), QDate(2024, 5, 2)});
        QCOMPARE(clouds.size(), 0);
        QTRY_COMPARE(clouds.size(), 1);
        QCOMPARE(clouds[0][0].toDate().toString(Qt::ISODate) + " " + asked(), QString("2024-05-02 00:00-current"));

        // A start second waits for its playlist.
        stage->startDay(QDate(2024, 5, 1), 36030);
        QCOMPARE(asked(), QString("10:00-23:59"));
        stage->playPlaylist(cloudDay(6), QUrl(), viewtest::asked(clouds));
        QVERIFY(stage->isOpen());
        QVERIFY(log.contains("[cloud] jump to 10:00:30: segment 4 of 6, skipping 0.0 s into it"));
        QCOMPARE(stage->playheadSecond(), 36030.0);
        QCOMPARE(stage->timeline()->coverage(), (FootageBlocks{{36000, 36060}}));

        // A seek inside the playlist, even before the shortened list, jumps without asking the server again.
        Q_EMIT stage->timeline()->seekRequested(36025);
        QCOMPARE(clouds.size(), 2);
        QVERIFY(log.contains("[cloud] jump to 10:00:25: segment 3 of 6, skipping 5.0 s into it"));
        QCOMPARE(Access::elapsedOffset(*stage), 25.0);
        QCOMPARE(detail(), QString("Jumping to 10:00:25…"));

        // At most a second past the first segment: the whole list plays.
        log.clear();
        stage->startDay(QDate(2024, 5, 1), 36001);
        stage->playPlaylist(cloudDay(6), QUrl(), viewtest::asked(clouds));
        QVERIFY(!log.contains("jump to"));

        // Start times that cannot be read: hatched day, the whole list plays.
        stage->startDay(QDate(2024, 5, 1), 600);
        stage->playPlaylist("#EXTM3U\n#EXTINF:10,\nhttp://127.0.0.1:9/a.ts\n", QUrl(), viewtest::asked(clouds));
        QVERIFY(log.contains("[cloud] could not read segment start times; first segment: http://127.0.0.1:9/a.ts"));
        QVERIFY(!stage->timeline()->coverageKnown());
        stage->onPosition(3);
        stage->onPosition(5);
        QCOMPARE(stage->playheadSecond(), 602.0);

        // A day without cloud recording asks nothing.
        const qsizetype before = clouds.size();
        Access::picker(*stage)->setDate(QDate(2024, 4, 29));
        QCOMPARE(clouds.size(), before);
        QCOMPARE(headline(), QString("No cloud recording for this day."));
        // Without a list of days (its request failed) every day may be tried.
        stage->prepareCloud("Gate", {});
        stage->startDay(QDate(2024, 4, 29), 0);
        QCOMPARE(clouds.size(), before + 1);
    }

    void lateCloudPlaylistsNeverPlay()
    {
        kvrtest::LogCapture log;
        QSignalSpy clouds(stage.get(), &StagePages::playCloud);
        stage->prepareCloud("Gate", {QDate(2024, 4, 30), QDate(2024, 5, 1)});
        QTRY_COMPARE(clouds.size(), 1);
        const RequestTicket first = asked(clouds);
        Access::picker(*stage)->setDate(QDate(2024, 4, 30));
        QCOMPARE(clouds.size(), 2);
        stage->playPlaylist(cloudDay(2), QUrl(), first); // the earlier day's answer
        QVERIFY(!stage->isOpen() && Access::segments(*stage).isEmpty());
        const RequestTicket second = asked(clouds);
        stage->playPlaylist(cloudDay(2), QUrl(), second);
        QVERIFY(stage->isOpen());
        stage->playPlaylist(cloudDay(3), QUrl(), second); // nothing awaited any more
        QCOMPARE(Access::segments(*stage).size(), 2);

        // The user went live while the day was loading.
        Access::picker(*stage)->setDate(QDate(2024, 5, 1));
        stage->openLive("Gate", QString(), false);
        log.clear();
        stage->playPlaylist(cloudDay(2), QUrl(), asked(clouds));
        QVERIFY(!stage->isOpen());
        QCOMPARE(detail(), QString("Opening the camera on the server…"));
        QVERIFY(!log.contains("[cloud]"));
        // Or an error answered it.
        const qsizetype asks = clouds.size();
        stage->prepareCloud("Gate", {QDate(2024, 5, 1)});
        QTRY_COMPARE(clouds.size(), asks + 1);
        stage->showError("Can’t play this recording", "", false);
        stage->playPlaylist(cloudDay(2), QUrl(), asked(clouds));
        QVERIFY(!stage->isOpen());
    }

    void snapshotsNameTheMomentShown()
    {
        kvrtest::LogCapture log;
        const QString folder = kvrtest::homeDir() + "/Pictures/Kavira";
        QDir(folder).removeRecursively();
        stage->prepareDevice("Gate 1 / North");
        stage->startDay(QDate(2024, 5, 1), 36000);
        stage->onPosition(1.5);
        stage->onPosition(6.5); // 5 s into the recording
        showPicture();
        click(stage.get(), "Save a snapshot");
        QVERIFY(QFile::exists(folder + "/Gate_1_North_20240501_100005.png"));
        QCOMPARE(QToolTip::text(), QString("Saved to Pictures/Kavira"));

        // The folder cannot be made: the failure is said, not hidden.
        QDir(folder).removeRecursively();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        showPicture();
        click(stage.get(), "Save a snapshot");
        QCOMPARE(QToolTip::text(), QString("Could not save the snapshot: the folder could not be made."));
        QVERIFY(log.contains("[snapshot] failed: " + folder + "/Gate_1_North_20240501_100005.png"));
        QFile::remove(folder);
    }
};

KVR_TEST_MAIN(StageTest)

#include "tst_stage.moc"
