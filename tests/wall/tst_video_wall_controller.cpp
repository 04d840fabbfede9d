// The wall controller and its display windows with a source of plain
// widgets, on three virtual displays (offscreen platform): which displays get
// a window, the paced start queue, stopping, identify, focus, the bar and
// tiles that start again by themselves.

#include "tests/wall/VideoWallTestKit.h"

#include "tests/support/Drive.h"
#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/Screens.h"
#include "wall/TileRetry.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

using namespace kvr::wall;

using namespace VideoWall;
using walltest::TestSource;
using walltest::TestTile;

namespace {

// Display i of the platform gets `layoutKey` with the given cells.
ScreenConfig display(int i, const QString& layoutKey, const QString& ids, bool enabled = true, int quality = 0)
{
    const QString key = screenKey(QGuiApplication::screens().at(i));
    return ScreenConfig{key, key, enabled, layoutKey, QList<QString>(ids.split(QLatin1Char(','))), quality};
}

DisplayWindow* windowOn(int i)
{
    return Controller::instance()->windowFor(QGuiApplication::screens().at(i));
}

TestTile* tileOf(DisplayWindow* w, int i)
{
    return static_cast<TestTile*>(w->tiles().at(i));
}

// The running flags a spy on runningChanged saw: "1 0 1".
QString flags(const QSignalSpy& spy)
{
    QStringList out;
    for (const QList<QVariant>& args : spy)
        out.append(QString::number(args.first().toBool()));
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestWallController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::screens().size(), 3);
        m_wall->setTimers(&m_timers);
    }

    void cleanup()
    {
        m_wall->stop();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void windowsOpenOnQualifyingDisplays()
    {
        // "<display number>:<tiles>" per window, with "!" when it does not cover
        // its display; the windows counted and the running flags emitted.
        const auto windows = [this](const QList<ScreenConfig>& screens) {
            m_wall->stop();
            QSignalSpy running(m_wall, &Controller::runningChanged);
            m_wall->start(source(), Config{screens});
            QStringList out;
            for (QScreen* s : QGuiApplication::screens())
                if (DisplayWindow* w = m_wall->windowFor(s)) {
                    const bool covers = w->isVisible() && w->isFullScreen() && w->geometry() == s->geometry()
                        && w->screenConfig().key == screenKey(s);
                    out.append(QStringLiteral("%1:%2%3").arg(w->number()).arg(w->tileCount()).arg(covers ? "" : "!"));
                }
            return out.join(' ') + QStringLiteral(" | %1 | ").arg(m_wall->windowCount()) + flags(running);
        };
        QCOMPARE(windows({display(0, "2x2", ",,,"), display(1, "2x2", "a,,b,"), display(2, "1x1", "c", false)}),
                 QStringLiteral("2:2 | 1 | 1"));
        // Only a display that is not connected.
        QCOMPARE(windows({{"unplugged|||", "", true, "1x1", {"a"}}}), QStringLiteral(" | 0 | 0"));
    }

    void startsArePacedBySlotsAndDelay()
    {
        auto src = source(4, 60, false);
        m_wall->start(src, Config{{display(0, "3x4", "c1,c2,c3,c4,c5,c6,c7,c8,c9,c10,,")}});
        QCOMPARE(src->calls.filter(u"start ").size(), 4);
        QCOMPARE(m_wall->queued(), 6);

        src->answerNext();
        m_timers.advance(59);
        QCOMPARE(src->calls.filter(u"start ").size(), 4);
        m_timers.advance(1);
        QCOMPARE(src->calls.filter(u"start ").size(), 5);

        for (int round = 0; round < 20 && !src->unanswered.isEmpty(); ++round) {
            src->answerNext();
            m_timers.advance(60);
            QVERIFY(m_wall->inFlight() <= 4);
        }
        QCOMPARE(src->calls.filter(u"start ").join(','),
                 "start c1 sub,start c2 sub,start c3 sub,start c4 sub,start c5 sub,"
                 "start c6 sub,start c7 sub,start c8 sub,start c9 sub,start c10 sub");

        // No slots at all still lets one start through.
        src = source(0, 60, false);
        m_wall->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
        QCOMPARE(src->calls.filter(u"start ").size(), 1);
    }

    void releasesOfAStoppedWallDoNotCount()
    {
        auto src = source(2, 60, false);
        m_wall->start(src, Config{{display(0, "2x2", "a,b,,")}});
        src->answerNext(); // answered before the wall stops...
        m_wall->stop();
        src->answerNext(); // ...and after
        src->calls.clear();

        m_wall->start(src, Config{{display(1, "2x2", "x,y,z,")}});
        QCOMPARE(src->calls.filter(u"start ").size(), 2);
        m_timers.advance(60);
        // The old wall's two releases must not free the new wall's slots.
        QCOMPARE(src->calls.filter(u"start ").size(), 2);
        src->answerNext();
        m_timers.advance(60);
        QCOMPARE(src->calls.filter(u"start "), QStringList({"start x main", "start y main", "start z main"}));
    }

    void everyWayOutStopsTheWholeWall_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("Esc") << "esc";
        QTest::newRow("Stop wall button") << "button";
        QTest::newRow("close request") << "close";
        QTest::newRow("sign-out of its source") << "source";
    }

    void everyWayOutStopsTheWholeWall()
    {
        QFETCH(QString, way);
        auto src = source(1, 0, false);
        m_wall->start(src, Config{{display(0, "2x2", "a,b,c,d"), display(2, "1x1", "e")}});
        src->answerNext();
        m_timers.advance(0);
        QCOMPARE(src->runningIds.size(), 2);
        QPointer<DisplayWindow> first = windowOn(0);
        QPointer<DisplayWindow> last = windowOn(2);
        QSignalSpy running(m_wall, &Controller::runningChanged);
        if (way == "esc") {
            QTest::keyClick(last, Qt::Key_Escape);
        } else if (way == "button") {
            last->bar()->findChildren<QPushButton*>().last()->click(); // "Stop wall", after "Identify displays"
        } else if (way == "close") {
            QVERIFY(!last->close());
        } else {
            m_wall->stopIfFrom(QStringLiteral("native"));
            QVERIFY(m_wall->isRunning());
            m_wall->stopIfFrom(QStringLiteral("test"));
        }
        QTRY_VERIFY(!first && !last);
        QCOMPARE(m_wall->windowCount() + m_wall->queued(), 0);
        QCOMPARE(flags(running), QStringLiteral("0"));
        QVERIFY(src->runningIds.isEmpty());
        for (const auto& t : src->madeTiles)
            QVERIFY(!t); // destroyed with their windows, after being stopped
    }

    void identifyLabelsLastThreeSeconds()
    {
        m_wall->identify();
        QList<QPointer<QWidget>> labels;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("WallIdentify") && w->isVisible())
                labels.append(w);
        QCOMPARE(labels.size(), 3);
        for (const auto& l : labels) // each display shows its own number
            QVERIFY(qobject_cast<QLabel*>(l)->text().contains(
                QStringLiteral(">%1</div>").arg(screenNumber(QGuiApplication::screenAt(l->geometry().center())))));
        m_timers.advance(2999);
        QVERIFY(
            std::all_of(labels.begin(), labels.end(), [](const QPointer<QWidget>& l) { return l && l->isVisible(); }));
        m_timers.advance(1);
        QTRY_VERIFY(std::none_of(labels.begin(), labels.end(), [](const QPointer<QWidget>& l) { return bool(l); }));
    }

    // Tab reaches the bar's buttons as a pointer at the top edge does: the
    // bar shows while one of them holds the focus, also with the pointer
    // away, and goes once the focus leaves it; Tab from tile to tile leaves
    // it hidden. Space on "Identify displays" identifies the displays.
    void tabBringsTheBarOut()
    {
        m_wall->start(source(), Config{{display(0, "2x2", "a,b,,")}});
        DisplayWindow* w = windowOn(0);
        for (QWidget* tile : w->tiles())
            tile->setFocusPolicy(Qt::TabFocus); // as the sources' tiles are
        QVERIFY(drive::activate(w));
        const QPoint away = w->mapToGlobal(w->rect().center());
        w->checkPointer(away);
        const auto at = [w] {
            QWidget* focused = QApplication::focusWidget();
            const auto* button = qobject_cast<QPushButton*>(focused);
            return QStringLiteral("%1 %2").arg(button        ? button->text()
                                                   : focused ? qobject_cast<QLabel*>(focused)->text()
                                                             : QStringLiteral("-"),
                                               w->bar()->isVisible() ? QStringLiteral("bar")
                                                                     : QStringLiteral("no bar"));
        };
        tileOf(w, 0)->setFocus(Qt::TabFocusReason);
        QStringList walk{at()};
        for (int i = 0; i < 2; ++i) {
            drive::press(w, Qt::Key_Tab);
            walk << at();
        }
        QCOMPARE(walk, QStringList({"a no bar", "b no bar", "Identify displays bar"}));
        w->checkPointer(away);
        QCOMPARE(at(), QStringLiteral("Identify displays bar"));
        drive::press(w, Qt::Key_Space);
        const auto identifying = [] {
            const QWidgetList all = QApplication::topLevelWidgets();
            return std::count_if(all.begin(), all.end(), [](QWidget* l) {
                return l->objectName() == QStringLiteral("WallIdentify") && l->isVisible();
            });
        };
        QCOMPARE(identifying(), 3);
        m_timers.advance(3000);
        walk.clear();
        for (const auto key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab}) {
            drive::press(w, key);
            walk << at();
        }
        QCOMPARE(walk, QStringList({"Stop wall bar", "a no bar", "Stop wall bar"}));
        // The pointer at the top edge brought it: it stays when Tab leaves,
        // until the pointer goes.
        drive::press(w, Qt::Key_Tab);
        w->checkPointer(w->mapToGlobal(QPoint(300, 2)));
        drive::press(w, Qt::Key_Backtab);
        drive::press(w, Qt::Key_Tab);
        QCOMPARE(at(), QStringLiteral("a bar"));
        w->checkPointer(away);
        QCOMPARE(at(), QStringLiteral("a no bar"));
    }

    void windowCellsStreamsBarAndFocus()
    {
        auto src = source();
        m_wall->start(src,
                      Config{{display(0, "2x2", "a,,b,c", true, kQualitySub), display(1, "2x3", "e,f,g,h,i,"),
                              display(2, "2x3", "j,k,l,m,n,o", true, kQualityMain)}});
        // Cells in the layout's places; empty ones hold a placeholder.
        DisplayWindow* w = windowOn(0);
        const QList<QWidget*> cells = w->cells();
        QCOMPARE(cells.at(1)->objectName() + qobject_cast<TestTile*>(cells.at(2))->m_id, QStringLiteral("WallEmptyb"));
        QTRY_VERIFY(cells.at(2)->y() > cells.at(0)->y() + 100 && cells.at(2)->x() == cells.at(0)->x());

        // Each display's quality rule picks the stream; load hints per display
        // and for the wall.
        for (const char* call : {"start a sub", "start e sub", "start o main", "tune e 5 14"})
            QVERIFY2(src->calls.contains(QLatin1String(call)), call);
        // Slots come back on a later turn, never from inside the source's start.
        QCOMPARE(m_wall->inFlight(), 14);
        m_timers.advance(0);
        QCOMPARE(m_wall->inFlight(), 0);

        w->checkPointer(w->mapToGlobal(QPoint(300, 55)));
        QCOMPARE(w->bar()->isVisible() ? w->bar()->geometry() : QRect(), QRect(0, 0, w->width(), 46));

        // Focus. Per tile: R running and shown (M on main), v shown only, h
        // running hidden, - neither.
        const auto shown = [&w, src] {
            QString out;
            for (QWidget* tile : w->tiles()) {
                const auto* t = static_cast<TestTile*>(tile);
                const bool running = src->runningIds.contains(t->m_id);
                out += tile->isVisible() ? (running ? (t->m_main ? 'M' : 'R') : 'v') : (running ? 'h' : '-');
            }
            return out;
        };
        tileOf(w, 0)->expand();
        QTRY_COMPARE(w->focusedCell(), 0);
        QCOMPARE(shown(), QStringLiteral("R--")); // a Sub display stays on sub

        src->calls.clear();
        tileOf(w, 0)->expand();
        QTRY_COMPARE(w->focusedCell(), -1);
        QCOMPARE(shown(), QStringLiteral("RRR")); // the others started again
        QVERIFY(src->calls.contains(QStringLiteral("tune a 3 14")));

        // On an Auto display a focused tile plays the main stream.
        w = windowOn(1);
        tileOf(w, 1)->expand();
        QTRY_COMPARE(w->focusedCell(), 1);
        QCOMPARE(shown(), QStringLiteral("-M---"));
        // A placeholder or a cell out of range asks nothing.
        w->toggleFocus(5);
        w->toggleFocus(40);
        QCOMPARE(w->focusedCell(), 1);

        // A restart is a stop and a start.
        QSignalSpy running(m_wall, &Controller::runningChanged);
        m_wall->start(src, Config{{display(0, "1x1", "a")}});
        QCOMPARE(flags(running), QStringLiteral("0 1"));
    }

    void focusNeverStartsATileTwice()
    {
        auto src = source(1, 0, false);
        m_wall->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
        DisplayWindow* w = windowOn(0);
        QCOMPARE(m_wall->queued(), 3); // a in flight, b c d waiting

        w->toggleFocus(2); // c was still waiting in the queue
        QCOMPARE(m_wall->queued(), 1);
        for (int i = 0; i < 4; ++i) {
            src->answerNext();
            m_timers.advance(0);
        }
        QCOMPARE(src->calls.filter(u"start "), QStringList({"start a main", "start c main"}));
    }

    // A failed tile that tries again by itself is queued like any start,
    // with its display's stream choice; behind a tile that fills the
    // display it waits.
    void tilesTryingAgainGoThroughTheQueue()
    {
        auto src = source(1, 0, false);
        src->m_tilesRetry = true;
        m_wall->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
        DisplayWindow* w = windowOn(0);
        for (int i = 0; i < 4; ++i) {
            src->answerNext();
            m_timers.advance(0);
        }
        src->calls.clear();
        QTRY_VERIFY(w->tiles().at(3)->isVisible());
        const auto tryAgain = [&](int tile) {
            TileRetry* retry = src->tileRetry(w->tiles().at(tile));
            retry->failed();
            retry->fire();
        };
        tryAgain(2);
        tryAgain(1);
        QCOMPARE(m_wall->queued(), 1); // b waits for c's slot
        src->answerNext();
        m_timers.advance(0);
        QCOMPARE(src->calls.filter(u"start "), QStringList({"start c main", "start b main"}));
        src->answerNext();
        m_timers.advance(0);

        w->toggleFocus(0);
        src->answerNext();
        m_timers.advance(0);
        src->calls.clear();
        tryAgain(3);                                    // hidden: the tile waits
        Q_EMIT src->tileRetry(w->tiles().at(3))->due(); // and the window would not start it anyway
        QVERIFY(src->calls.filter(u"start ").isEmpty() && m_wall->queued() == 0);
    }

    // Once one tile of a display shows pictures again, whatever carries the
    // display's streams answers: the tiles waiting out their slow schedule
    // try within seconds, not after the waits they grew while it was down.
    void aDisplayHurriesItsWaitingTilesOnceOnePlaysAgain()
    {
        auto src = source();
        src->m_tilesRetry = true;
        m_wall->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
        DisplayWindow* w = windowOn(0);
        m_timers.advance(0);
        QTRY_VERIFY(w->tiles().at(3)->isVisible());
        const auto retry = [&](int tile) { return src->tileRetry(w->tiles().at(tile)); };
        for (int i = 0; i < 4; ++i)
            retry(i)->playing();
        for (int i = 0; i < 4; ++i)
            retry(i)->failed(); // the relay fell: every tile waits half a minute or more
        for (int i = 1; i < 4; ++i)
            QVERIFY2(retry(i)->remainingMs() > 20000, qPrintable(QString::number(retry(i)->remainingMs())));
        retry(0)->cancel();
        retry(0)->playing(); // its try came through
        // Within 1-4 s; a coarse timer may end up to 5 % later than asked.
        for (int i = 1; i < 4; ++i) {
            const int left = retry(i)->remainingMs();
            QVERIFY2(left > 0 && left <= 4200, qPrintable(QStringLiteral("tile %1: %2 ms").arg(i).arg(left)));
        }
        // Pictures that go on coming hurry nothing further.
        QSignalSpy again(retry(0), &TileRetry::playingAgain);
        retry(0)->playing();
        QCOMPARE(again.count(), 0);
    }

private:
    Controller* const m_wall = Controller::instance();

    std::shared_ptr<TestSource> source(int maxStarts = 1000, int releaseDelayMs = 0, bool answerAtOnce = true)
    {
        auto src = std::make_shared<TestSource>();
        src->m_maxStarts = maxStarts;
        src->m_releaseDelayMs = releaseDelayMs;
        src->m_answer = answerAtOnce ? TestSource::Answer::AtOnce : TestSource::Answer::WhenTold;
        return src;
    }

    // Left armed from one case to the next they are void: a stop voids
    // every release of its wall.
    walltest::ManualTimers m_timers;
};

KVR_TEST_MAIN(TestWallController)

#include "tst_video_wall_controller.moc"
