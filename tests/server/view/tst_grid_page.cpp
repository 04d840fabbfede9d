// The camera wall against a stand-in for the server's live streams: pages,
// grid and labels, the quality rule, the start queue, answers of an earlier
// page, overload steps on the project clock, removal, repeated cameras, one
// listener, selection, expansion and auto-advance.

#include "app/core/Settings.h"
#include "app/ui/Modal.h"
#include "server/view/CameraTile.h"
#include "server/view/GridPage.h"
#include "server/view/PlayerStop.h"
#include "tests/server/view/ViewTestSupport.h"
#include "video/FfmpegPlayer.h"
#include "video/VideoStage.h"
#include "wall/TileRetry.h"

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSpinBox>

using namespace kvr::core;
using namespace kvr::ui;
using namespace kvr::video;
using namespace kvr::view;

namespace kvr::view {

struct GridPageTestAccess {
    static QLabel* count(GridPage& g) { return g.m_countLabel; }
    static QWidget* pager(GridPage& g) { return g.m_pager; }
    static QPushButton* advance(GridPage& g) { return g.m_advanceButton; }
    static QTimer& advanceTimer(GridPage& g) { return g.m_advanceTimer; }
    static void fireAdvance(GridPage& g) { g.onAdvanceTimer(); }
    static void expand(GridPage& g, CameraTile* t) { g.toggleExpanded(t); }
    static void scout(GridPage& g) { g.scout(); }
    static bool scouting(GridPage& g) { return g.m_scoutTimer.isActive(); }
};
} // namespace kvr::view
using Access = GridPageTestAccess;
using viewtest::click;
using viewtest::FakeStreams;

namespace {

QList<GridPage::Camera> cameras(int n, int offlineFirst = 0)
{
    QList<GridPage::Camera> out;
    for (int i = 1; i <= n; ++i)
        out.append({QString("c%1").arg(i), QString("Camera %1").arg(i), QString(), i <= offlineFirst});
    return out;
}

} // namespace

class GridPageTest : public QObject {
    Q_OBJECT

    FakeStreams streams;
    std::unique_ptr<GridPage> wall;
    std::unique_ptr<kvrtest::TestClock> clock;

    QString countText() { return Access::count(*wall)->text(); }
    void choose(const QString& perPage)
    {
        click(wall.get(), perPage);
        QCoreApplication::processEvents();
    }
    void turnPage()
    {
        wall->nextPage();
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        clock = std::make_unique<kvrtest::TestClock>();
        streams.starts.clear();
        streams.stops.clear();
        Prefs::set(Prefs::kGridQuality, 0);
        Prefs::remove(Prefs::kWallAdvanceSeconds.name);
        wall = std::make_unique<GridPage>(nullptr, &streams);
        wall->resize(1280, 800);
        wall->show();
        Modal::reset();
    }
    void cleanup()
    {
        wall.reset();
        clock.reset();
    }

    void pagesGridAndLabels()
    {
        wall->openCameras("Site A", cameras(17));
        QCOMPARE(wall->tiles().size(), 16);
        // Shown nine per turn of the event loop, none in the turn that built
        // them, so a big page never holds the window long.
        const auto shown = [&] {
            int n = 0;
            for (CameraTile* t : wall->tiles())
                n += t->isVisibleTo(wall.get()) ? 1 : 0;
            return n;
        };
        QCOMPARE(shown(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(shown(), 9);
        QTRY_COMPARE(shown(), 16);
        QCOMPARE(QString("%1x%2 %3").arg(wall->columns()).arg(wall->rows()).arg(countText()),
                 QString("4x4 1–16 of 17 cameras"));
        QVERIFY(!viewtest::control(wall.get(), "Previous page  (←)")->isEnabled());
        turnPage();
        QCOMPARE(wall->tiles().size(), 1);

        // Three presses before the rebuild: one rebuild, three pages on.
        wall->openCameras("Site A", cameras(40));
        choose("4");
        const qsizetype before = streams.starts.size();
        for (int i = 0; i < 3; ++i)
            wall->nextPage();
        QCoreApplication::processEvents();
        QCOMPARE(wall->currentPage(), 3);
        QCOMPARE(streams.startedIds().mid(before), (QStringList{"c13", "c14", "c15", "c16"}));

        choose("9");
        wall->openCameras("Three", cameras(3));
        QVERIFY(wall->columns() == 3 && !Access::pager(*wall)->isVisible() && !Access::advance(*wall)->isVisible());
    }

    void atMostFourStartsAtATimeAndOnlyForThePageShown()
    {
        wall->openCameras("Nine", cameras(9));
        QCOMPARE(wall->startsInFlight(), 4);
        streams.answer(0, viewtest::silentRtsp());
        QCOMPARE(streams.startedIds().mid(4), QStringList{"c5"});
        for (int i = 1; i < streams.starts.size(); ++i) { // each answer lets the next one start
            QVERIFY(wall->startsInFlight() <= 4);
            streams.fail(i, "Timed out");
        }
        QVERIFY(streams.starts.size() == 9 && wall->startsInFlight() == 0);

        // Failed tiles (all but the first) that try again later go through the same queue.
        QTRY_VERIFY(wall->tiles().last()->isVisible());
        QVERIFY(!wall->tiles().first()->retry()->isArmed());
        for (CameraTile* t : wall->tiles().mid(1)) {
            QVERIFY(t->retry()->isArmed());
            t->retry()->fire();
        }
        QCOMPARE(streams.startedIds().mid(9), (QStringList{"c2", "c3", "c4", "c5"}));
        streams.answer(9, viewtest::silentRtsp());
        QCOMPARE(streams.startedIds().mid(13), QStringList{"c6"});
        QCOMPARE(wall->startsInFlight(), 4);

        // Offline cameras pass straight through.
        streams.starts.clear();
        wall->openCameras("Nine", cameras(9, 2));
        QCOMPARE(streams.startedIds(), (QStringList{"c3", "c4", "c5", "c6"}));
        QCOMPARE(wall->tiles()[0]->videoStage()->headlineText(), QString("Offline"));

        // Answers of an earlier page change nothing.
        streams.starts.clear();
        wall->openCameras("Forty", cameras(40));
        streams.stops.clear();
        turnPage();
        QCOMPARE(streams.starts.size(), 8);
        QCOMPARE(streams.stops.size(), 4); // the old page's starts are given back unanswered
        for (int i = 0; i < 4; ++i)
            streams.answer(i, viewtest::silentRtsp());
        QCOMPARE(wall->startsInFlight(), 4);
        QCOMPARE(streams.starts.size(), 8);
        for (CameraTile* t : wall->tiles())
            QVERIFY(!t->player()->isRunning());
    }

    // The relay fell again soon after it came back, and the tiles' waits have
    // grown. While every tile waits and none plays, the one due soonest tries
    // ahead of its time (the wall's timer does this every few seconds); once
    // one plays again the others try within a few seconds, through the
    // start queue, not after their grown waits.
    void aWallComesBackSoonAfterItsRelay()
    {
        wall->openCameras("Four", cameras(4));
        QTRY_VERIFY(wall->tiles().last()->isVisible());
        const QList<CameraTile*> tiles = wall->tiles();
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 4; ++i)
                streams.fail(round * 4 + i, "Connection refused");
            if (round == 0)
                for (CameraTile* t : tiles)
                    t->retry()->fire();
        }
        QCOMPARE(streams.starts.size(), 8);
        for (CameraTile* t : tiles)
            QVERIFY(t->retry()->isArmed() && t->retry()->remainingMs() > 40000);
        // Not while nobody sees the wall (its window minimised).
        QVERIFY(Access::scouting(*wall));
        wall->suspendAll();
        QVERIFY(!Access::scouting(*wall));
        wall->resumeAll();
        QVERIFY(Access::scouting(*wall));

        Access::scout(*wall);
        QCOMPARE(streams.starts.size(), 9);
        CameraTile* first = *std::find_if(
            tiles.begin(), tiles.end(), [&](CameraTile* t) { return t->cameraId() == streams.starts.last().cameraId; });
        streams.answer(8, viewtest::silentRtsp());
        Access::scout(*wall); // one tries already
        QCOMPARE(streams.starts.size(), 9);

        Q_EMIT first->player()->frameReady(QImage(8, 8, QImage::Format_RGB32));
        for (CameraTile* t : tiles) {
            if (t == first)
                continue;
            const int ms = t->retry()->remainingMs();
            QVERIFY2(ms >= 900 && ms <= 4200, qPrintable(QString::number(ms)));
            t->retry()->fire();
        }
        QCOMPARE(streams.starts.size(), 12);
        Access::scout(*wall); // one plays
        QCOMPARE(streams.starts.size(), 12);
    }

    void overloadStepsDownTheWall()
    {
        wall->openCameras("Four", cameras(4));
        streams.answerAll(viewtest::silentRtsp());
        CameraTile* first = wall->tiles().first();
        const auto overloadAfterMs = [&](qint64 ms) {
            clock->advanceMs(ms);
            Q_EMIT first->overloaded();
            return wall->overloadStep();
        };
        QCOMPARE(overloadAfterMs(0), 1);
        QCOMPARE(wall->tiles().last()->player()->controls().maxFps.load(), 5.0);
        QCOMPARE(countText(), QString("4 cameras  ·  Lower picture rate: this computer couldn’t keep up"));

        // The computer's clock jumping a day ahead does not count as time passed.
        clock->setNowUtc(clock->nowUtc().addDays(1));
        QCOMPARE(overloadAfterMs(11'999), 1);
        clock->setNowUtc(clock->nowUtc().addDays(-2)); // nor one going back
        QCOMPARE(overloadAfterMs(1), 2);
        // All four were on Main: they restart on Sub at once, outside the queue.
        QCOMPARE(streams.mains().mid(4), (QList<bool>{false, false, false, false}));
        QCOMPARE(streams.stops.size(), 4);
        // From step 2 on, a Sub tile that fills the wall stays on Sub.
        Access::expand(*wall, first);
        QCOMPARE(streams.starts.size(), 8);
        QCOMPARE(overloadAfterMs(12'000), 3);
        QVERIFY(wall->tiles().last()->player()->controls().keyframesOnly);
        // Put back at step 3, the whole wall stays on key pictures.
        Access::expand(*wall, first);
        QVERIFY(!wall->expandedTile() && streams.starts.size() == 8);
        for (CameraTile* t : wall->tiles())
            QVERIFY(t->player()->controls().keyframesOnly);

        // A wall on Sub at step 2 goes on to step 3; the new page inherits all.
        wall->openCameras("Six", cameras(20));
        QCOMPARE(wall->overloadStep(), 0);
        first = wall->tiles().first();
        overloadAfterMs(0);
        QCOMPARE(overloadAfterMs(12'000), 3);
        QVERIFY(countText().endsWith("Still pictures only: this computer can’t play this many cameras live"));
        Prefs::set(Prefs::kGridQuality, 1);
        turnPage();
        for (CameraTile* t : wall->tiles())
            QVERIFY(!t->useMain() && t->player()->controls().maxFps.load() == 5.0
                    && t->player()->controls().keyframesOnly);
    }

    void removalRepeatsAndStopAll()
    {
        QSignalSpy closed(wall.get(), &GridPage::closed);
        // One camera listed twice plays once.
        wall->openCameras("Twice", {{"a", "A", "", false}, {"b", "B", "", false}, {"a", "A", "", false}});
        QCOMPARE(wall->cameraIds(), (QList<QString>{"a", "b"}));
        QCOMPARE(streams.startedIds(), (QStringList{"a", "b"}));
        streams.answerAll(viewtest::silentRtsp());
        Q_EMIT wall->tiles()[0]->removeRequested("a");
        QCoreApplication::processEvents();
        QVERIFY(wall->cameraIds() == QList<QString>{"b"} && wall->tiles().size() == 1 && streams.stops.contains("a"));
        Q_EMIT wall->tiles()[0]->removeRequested("b");
        QVERIFY(closed.size() == 1 && wall->tiles().isEmpty());

        Prefs::set(Prefs::kGridQuality, 2); // Sub, where Auto would take Main for two
        wall->openCameras("Two", cameras(2));
        QCOMPARE(streams.mains().last(2), (QList<bool>{false, false}));
        streams.answerAll(viewtest::silentRtsp());
        // Every tile suspended and resumed (what a suspended tile keeps: the camera tile suite).
        wall->suspendAll();
        for (CameraTile* t : wall->tiles())
            QVERIFY(!t->player()->isRunning() && t->isSuspended());
        wall->resumeAll();
        for (CameraTile* t : wall->tiles())
            QVERIFY(t->player()->isRunning());
        wall->setFullscreen(true);
        click(wall.get(), "Stop all");
        QVERIFY(closed.size() == 2 && !wall->isFullscreen());
        QVERIFY(streams.stops.contains("c1") && streams.stops.contains("c2"));
    }

    void oneListenerSelectionAndExpansion()
    {
        wall->openCameras("Five", cameras(5));
        streams.answerAll(viewtest::silentRtsp());
        const QList<CameraTile*> tiles = wall->tiles();
        for (CameraTile* t : tiles) {
            Q_EMIT t->player()->audioTrack(true);
            viewtest::hover(t);
        }
        click(tiles[0], "Listen to this camera");
        click(tiles[1], "Listen to this camera");
        QVERIFY(!tiles[0]->isListening() && tiles[1]->isListening());
        QTest::mouseClick(tiles[2], Qt::LeftButton, {}, QPoint(40, 40));
        for (CameraTile* t : tiles)
            QCOMPARE(t->property("selected").toBool(), t == tiles[2]);

        // A Sub tile at Auto is raised to Main while it fills the wall.
        // "expanded tile, starts made, last on Main, its cap, another tile hidden and on key pictures".
        const qsizetype before = streams.starts.size();
        const auto state = [&] {
            return QString::asprintf("%d %d %d %g %d %d", wall->expandedTile() == tiles[3],
                                     int(streams.starts.size() - before), streams.starts.last().main,
                                     tiles[3]->player()->controls().maxFps.load(), tiles[0]->isHidden(),
                                     tiles[0]->player()->controls().keyframesOnly.load());
        };
        Access::expand(*wall, tiles[3]);
        QCOMPARE(state(), QString("1 1 1 0 1 1"));
        Access::expand(*wall, tiles[3]);
        QCOMPARE(state(), QString("0 2 0 12 0 0"));
        // So it is at overload step 1 (from step 2 on it is not: the overload case).
        Q_EMIT tiles[0]->overloaded();
        QCOMPARE(wall->overloadStep(), 1);
        Access::expand(*wall, tiles[3]);
        QCOMPARE(state(), QString("1 3 1 0 1 1"));
        Access::expand(*wall, tiles[3]);

        // A tile on Main stays on Main both ways.
        wall->openCameras("Two", cameras(2));
        const qsizetype main = streams.starts.size();
        Access::expand(*wall, wall->tiles()[0]);
        Access::expand(*wall, wall->tiles()[0]);
        QCOMPARE(streams.starts.size(), main);
    }

    void autoAdvanceDialogAndLongIntervals()
    {
        wall->openCameras("Twenty", cameras(20));
        QString prefill;
        // Answers the dialog with a value and unit, or cancels it at 0.
        const auto answerWith = [&](int value, int unit) {
            Modal::respond([=, &prefill](QDialog& d) {
                auto* spin = d.findChild<QSpinBox*>();
                auto* units = d.findChild<QComboBox*>();
                prefill = QString("%1 %2").arg(spin->value()).arg(units->currentText());
                spin->setValue(value);
                units->setCurrentIndex(unit);
                viewtest::control(&d, value == 0 ? "Cancel" : "Start")->click();
                return d.result();
            });
        };
        const auto pageAfterSecs = [&](qint64 secs) {
            clock->advanceSecs(secs);
            Access::fireAdvance(*wall);
            QCoreApplication::processEvents();
            return wall->currentPage();
        };
        QPushButton* advance = Access::advance(*wall);
        answerWith(15, 0);
        advance->click();
        QTRY_COMPARE(advance->text(), QString("Every 15 s"));
        QCOMPARE(prefill, QString("30 seconds"));
        QCOMPARE(Prefs::get(Prefs::kWallAdvanceSeconds), 15);
        // The last page wraps.
        QCOMPARE(QList<int>({pageAfterSecs(14), pageAfterSecs(1), pageAfterSecs(15)}), QList<int>({0, 1, 0}));

        // 999 hours do not fit a millisecond timer: it is armed in slices.
        answerWith(999, 2);
        advance->click(); // off
        advance->click();
        QTRY_COMPARE(advance->text(), QString("Every 999 h"));
        QCOMPARE(pageAfterSecs(3600LL * 998), 0);
        QVERIFY(Access::advanceTimer(*wall).isActive());
        QCOMPARE(pageAfterSecs(3600), 1);

        wall->stopAll();
        QVERIFY(!advance->isChecked() && !Access::advanceTimer(*wall).isActive());
    }

    void pageChangesAndStopAllNeverWaitForDecodeThreads()
    {
        wall->openCameras("Four", cameras(8));
        choose("4");
        streams.answerAll(viewtest::silentRtsp());
        QList<QPointer<FfmpegPlayer>> players;
        for (CameraTile* t : wall->tiles()) {
            QVERIFY(t->player()->isRunning());
            players << t->player();
        }
        // Held, the old players cannot end: were the GUI thread waiting for
        // them, these calls would never return.
        QTRY_COMPARE(retiringPlayers(), 0); // earlier walls' players
        holdRetiredPlayers(true);
        const auto release = qScopeGuard([] { holdRetiredPlayers(false); });
        turnPage();
        QCOMPARE(wall->currentPage(), 1);
        QCOMPARE(retiringPlayers(), 4);
        streams.answerAll(viewtest::silentRtsp());
        wall->stopAll();
        QCOMPARE(retiringPlayers(), 8);
        QVERIFY(players.first());
        holdRetiredPlayers(false);
        QTRY_COMPARE(retiringPlayers(), 0);
        for (const QPointer<FfmpegPlayer>& p : players)
            QTRY_VERIFY(!p);
    }

    // Play all of a site of three recorders, each with "Camera 01" to
    // "Camera 04", four to a page: each page holds one recorder's cameras,
    // whose names recur on the other pages, so each names its recorder
    // ("…unit 2 · Camera 01", not "Camera 01" as on the first page again);
    // one page of them all shows the same; names that never recur name no
    // recorder.
    void pagesRepeatingCameraNamesNameTheRecorder()
    {
        QList<GridPage::Camera> site;
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c)
                site.append({QString("r%1c%2").arg(r).arg(c),
                             QString("Distribution centre recorder, loading bays, unit %1 · Camera %2")
                                 .arg(r)
                                 .arg(c, 2, 10, QChar('0')),
                             QString(), false});
        wall->resize(400, 360); // tiles too narrow for the whole title
        const auto titles = [this] {
            QStringList out;
            for (CameraTile* t : wall->tiles())
                out << t->findChild<QLabel*>("TileName")->text();
            return out;
        };
        const auto eachNames = [&titles](const QString& unit) {
            const QStringList shown = titles();
            return shown.size() == 4 && std::all_of(shown.cbegin(), shown.cend(), [&unit](const QString& t) {
                       return t.section(" · ", 0, -2).endsWith(unit) && t.contains("Camera 0");
                   });
        };
        wall->openCameras("Distribution centre", site);
        choose("4");
        for (const char* unit : {"1", "2", "3"}) {
            QTRY_VERIFY2(eachNames(unit), qPrintable(titles().join(" | ")));
            turnPage();
        }
        site.resize(4);
        wall->openCameras("Distribution centre", site);
        QTRY_VERIFY2(titles().size() == 4 && !titles().join(" | ").contains(" · "), qPrintable(titles().join(" | ")));
    }
};

KVR_TEST_MAIN(GridPageTest)

#include "tst_grid_page.moc"
