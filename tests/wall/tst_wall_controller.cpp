// The wall controller and its display windows with a source of plain
// widgets, on three virtual displays (offscreen platform): which displays get
// a window, the paced start queue, stopping, identify, focus and the bar.

#include "tests/wall/WallTestKit.h"

#include "wall/Controller.h"
#include "wall/DisplayWindow.h"
#include "wall/Screens.h"

#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>

using namespace VideoWall;
using walltest::TestSource;
using walltest::TestTile;

namespace {

// Display i of the platform gets `layoutKey` with the given cells.
ScreenConfig display(int i, const QString& layoutKey, const QString& ids, bool enabled = true, int quality = 0)
{
    ScreenConfig s;
    s.key = screenKey(QGuiApplication::screens().at(i));
    s.label = QStringLiteral("display %1").arg(i + 1);
    s.layout = layoutKey;
    s.cells = QList<QString>(ids.split(QLatin1Char(',')));
    s.enabled = enabled;
    s.quality = quality;
    return s;
}

QStringList ids(int from, int to)
{
    QStringList out;
    for (int i = from; i <= to; ++i)
        out.append(QStringLiteral("cam%1").arg(i));
    return out;
}

QList<TestTile*> tilesOf(DisplayWindow* w)
{
    QList<TestTile*> out;
    for (QWidget* t : w->tiles())
        out.append(static_cast<TestTile*>(t));
    return out;
}

} // namespace

class TestWallController : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void windowsOpenOnQualifyingDisplays_data();
    void windowsOpenOnQualifyingDisplays();
    void runningChangedFollowsTheWall();
    void startsArePacedBySlotsAndDelay();
    void zeroDelayReleasesOnALaterTurn();
    void releasesOfAStoppedWallDoNotCount();
    void everyWayOutStopsTheWholeWall_data();
    void everyWayOutStopsTheWholeWall();
    void identifyLabelsLastThreeSeconds();
    void windowCellsAndBar();
    void autoQualityByTileCount();
    void focusRestartsTheRightTiles();
    void focusNeverStartsATileTwice();

private:
    std::shared_ptr<TestSource> source(int cameras = 0);
    std::unique_ptr<walltest::ManualTimers> m_timers;
};

void TestWallController::initTestCase()
{
    QCOMPARE(QGuiApplication::screens().size(), 3);
}

void TestWallController::init()
{
    m_timers = std::make_unique<walltest::ManualTimers>();
    Controller::instance()->setTimers(m_timers.get());
}

void TestWallController::cleanup()
{
    Controller::instance()->stop();
    Controller::instance()->setTimers(nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_timers.reset();
}

std::shared_ptr<TestSource> TestWallController::source(int cameras)
{
    return std::make_shared<TestSource>(QStringLiteral("test"), walltest::someCameras(cameras));
}

void TestWallController::windowsOpenOnQualifyingDisplays_data()
{
    QTest::addColumn<QList<ScreenConfig>>("screens");
    QTest::addColumn<QList<int>>("numbers");
    QTest::addColumn<QList<int>>("tiles");
    QTest::newRow("only the second has cameras")
        << QList<ScreenConfig>{display(0, "2x2", ",,,"), display(1, "2x2", "a,,b,"), display(2, "1x1", "c", false)}
        << QList<int>{2} << QList<int>{2};
    QTest::newRow("all three") << QList<ScreenConfig>{display(0, "1x1", "a"), display(1, "3x3", "b,c,d,,,,,,e"),
                                                      display(2, "1+5", ",,,,,f")}
                               << QList<int>{1, 2, 3} << QList<int>{1, 4, 1};
    ScreenConfig gone = display(0, "1x1", "a");
    gone.key = QStringLiteral("unplugged|||");
    QTest::newRow("only a display that is not connected") << QList<ScreenConfig>{gone} << QList<int>{} << QList<int>{};
}

void TestWallController::windowsOpenOnQualifyingDisplays()
{
    QFETCH(QList<ScreenConfig>, screens);
    QFETCH(QList<int>, numbers);
    QFETCH(QList<int>, tiles);
    Controller* c = Controller::instance();
    QSignalSpy running(c, &Controller::runningChanged);
    c->start(source(), Config{screens});
    QCOMPARE(running.size(), 1);
    QCOMPARE(running.first().first().toBool(), !numbers.isEmpty());
    QCOMPARE(c->isRunning(), !numbers.isEmpty());
    QList<int> gotNumbers, gotTiles;
    for (QScreen* s : QGuiApplication::screens()) {
        DisplayWindow* w = c->windowFor(s);
        if (!w)
            continue;
        gotNumbers.append(w->number());
        gotTiles.append(w->tileCount());
        QVERIFY(w->isVisible());
        QVERIFY(w->isFullScreen());
        QCOMPARE(w->geometry(), s->geometry());
        QCOMPARE(w->windowTitle(), QStringLiteral("Video wall \u00B7 Display %1").arg(w->number()));
        QCOMPARE(w->screenConfig().key, screenKey(s));
    }
    QCOMPARE(gotNumbers, numbers);
    QCOMPARE(gotTiles, tiles);
    QCOMPARE(c->windowCount(), int(numbers.size()));
}

void TestWallController::runningChangedFollowsTheWall()
{
    Controller* c = Controller::instance();
    const Config config{{display(0, "1x1", "a")}};
    QSignalSpy running(c, &Controller::runningChanged);
    c->start(source(), config);
    c->start(source(), config);
    c->stop();
    c->stop();
    QCOMPARE(running.size(), 4);
    QCOMPARE(running.at(0).first().toBool(), true);
    QCOMPARE(running.at(1).first().toBool(), false);
    QCOMPARE(running.at(2).first().toBool(), true);
    QCOMPARE(running.at(3).first().toBool(), false);

    c->start(source(), config);
    c->stopIfFrom(QStringLiteral("native"));
    QVERIFY(c->isRunning());
    c->stopIfFrom(QStringLiteral("test"));
    QVERIFY(!c->isRunning());
    QCOMPARE(c->source()->id(), QStringLiteral("test"));
}

void TestWallController::startsArePacedBySlotsAndDelay()
{
    auto src = source();
    src->m_maxStarts = 4;
    src->m_releaseDelayMs = 60;
    src->m_answer = TestSource::Answer::WhenTold;
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "3x4", ids(1, 10).join(','))}});
    QCOMPARE(src->callsStarting("start").size(), 4);
    QCOMPARE(c->inFlight(), 4);
    QCOMPARE(c->queued(), 6);

    src->answerNext();
    m_timers->advance(59);
    QCOMPARE(src->callsStarting("start").size(), 4);
    m_timers->advance(1);
    QCOMPARE(src->callsStarting("start").size(), 5);

    for (int round = 0; round < 20 && !src->unanswered.isEmpty(); ++round) {
        src->answerNext();
        m_timers->advance(60);
        QVERIFY(c->inFlight() <= 4);
    }
    QStringList expected;
    for (const QString& id : ids(1, 10))
        expected.append(QStringLiteral("start %1 sub").arg(id));
    QCOMPARE(src->callsStarting("start"), expected);

    // No slots at all still lets one start through.
    src->m_maxStarts = 0;
    src->calls.clear();
    src->unanswered.clear();
    c->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
    QCOMPARE(src->callsStarting("start").size(), 1);
}

void TestWallController::zeroDelayReleasesOnALaterTurn()
{
    auto src = source();
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "4x4", ids(1, 16).join(','))}});
    // All sixteen went out in one pump; their slots come back later, not
    // from inside the source's start.
    QCOMPARE(src->callsStarting("start").size(), 16);
    QCOMPARE(c->inFlight(), 16);
    QCOMPARE(m_timers->pending(), 16);
    m_timers->advance(0);
    QCOMPARE(c->inFlight(), 0);
}

void TestWallController::releasesOfAStoppedWallDoNotCount()
{
    auto src = source();
    src->m_maxStarts = 2;
    src->m_releaseDelayMs = 60;
    src->m_answer = TestSource::Answer::WhenTold;
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "2x2", "a,b,,")}});
    src->answerNext(); // answered before the wall stops...
    c->stop();
    src->answerNext(); // ...and after
    src->calls.clear();

    c->start(src, Config{{display(1, "2x2", "x,y,z,")}});
    QCOMPARE(src->callsStarting("start").size(), 2);
    m_timers->advance(60);
    // The old wall's two releases must not free the new wall's slots.
    QCOMPARE(src->callsStarting("start").size(), 2);
    QCOMPARE(c->inFlight(), 2);
    src->answerNext();
    m_timers->advance(60);
    QCOMPARE(src->callsStarting("start"), QStringList({"start x main", "start y main", "start z main"}));
}

void TestWallController::everyWayOutStopsTheWholeWall_data()
{
    QTest::addColumn<QString>("way");
    QTest::newRow("Esc") << "esc";
    QTest::newRow("Stop wall button") << "button";
    QTest::newRow("close request") << "close";
}

void TestWallController::everyWayOutStopsTheWholeWall()
{
    QFETCH(QString, way);
    auto src = source();
    src->m_maxStarts = 1;
    src->m_answer = TestSource::Answer::WhenTold;
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "2x2", "a,b,c,d"), display(2, "1x1", "e")}});
    QCOMPARE(c->windowCount(), 2);
    src->answerNext();
    m_timers->advance(0);
    QCOMPARE(src->runningIds.size(), 2);
    QPointer<DisplayWindow> first = c->windowFor(QGuiApplication::screens().at(0));
    QPointer<DisplayWindow> last = c->windowFor(QGuiApplication::screens().at(2));
    QSignalSpy running(c, &Controller::runningChanged);
    if (way == "esc") {
        QTest::keyClick(last, Qt::Key_Escape);
    } else if (way == "button") {
        for (QPushButton* b : last->bar()->findChildren<QPushButton*>())
            if (b->text() == QStringLiteral("Stop wall"))
                b->click();
    } else {
        QVERIFY(!last->close());
    }
    QTRY_VERIFY(!first && !last);
    QCOMPARE(c->windowCount(), 0);
    QCOMPARE(c->queued(), 0);
    QVERIFY(!c->isRunning());
    QCOMPARE(running.size(), 1);
    QVERIFY(src->runningIds.isEmpty());
    for (const auto& t : src->madeTiles)
        QVERIFY(!t); // destroyed with their windows, after being stopped
}

void TestWallController::identifyLabelsLastThreeSeconds()
{
    Controller::instance()->identify();
    QList<QPointer<QWidget>> labels;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("WallIdentify") && w->isVisible())
            labels.append(w);
    QCOMPARE(labels.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QScreen* s = QGuiApplication::screens().at(i);
        auto it = std::find_if(labels.begin(), labels.end(), [s](const QPointer<QWidget>& l) {
            return l->geometry().contains(s->geometry().center());
        });
        QVERIFY(it != labels.end());
        const auto* label = qobject_cast<QLabel*>(it->data());
        QVERIFY(label->text().contains(QStringLiteral(">%1</div>").arg(i + 1)));
        QVERIFY(label->testAttribute(Qt::WA_ShowWithoutActivating));
        QVERIFY(label->windowFlags() & Qt::WindowDoesNotAcceptFocus);
        QVERIFY(label->width() >= 420 && label->height() >= 260);
    }
    m_timers->advance(2999);
    for (const auto& l : labels)
        QVERIFY(l && l->isVisible());
    m_timers->advance(1);
    QTRY_VERIFY(std::none_of(labels.begin(), labels.end(), [](const QPointer<QWidget>& l) { return bool(l); }));
}

void TestWallController::windowCellsAndBar()
{
    Controller* c = Controller::instance();
    c->start(source(), Config{{display(0, "2x2", "a,,b,"), display(1, "1x1", "solo")}});
    DisplayWindow* w = c->windowFor(QGuiApplication::screens().at(0));
    QCOMPARE(w->cells().size(), 4);
    QCOMPARE(qobject_cast<TestTile*>(w->cells().at(0))->cameraId(), QStringLiteral("a"));
    QCOMPARE(qobject_cast<TestTile*>(w->cells().at(2))->cameraId(), QStringLiteral("b"));
    QCOMPARE(w->cells().at(1)->objectName(), QStringLiteral("WallEmpty"));
    QCOMPARE(w->cells().at(3)->objectName(), QStringLiteral("WallEmpty"));
    QTRY_VERIFY(w->cells().at(2)->y() > w->cells().at(0)->y() + 100);
    QCOMPARE(w->cells().at(2)->x(), w->cells().at(0)->x());
    QVERIFY(w->barText().contains(QStringLiteral(" 2 cameras ")));
    QVERIFY(c->windowFor(QGuiApplication::screens().at(1))->barText().contains(QStringLiteral(" 1 camera ")));

    QVERIFY(!w->bar()->isVisible());
    w->checkPointer(w->mapToGlobal(QPoint(300, 55)));
    QVERIFY(w->bar()->isVisible());
    QCOMPARE(w->bar()->geometry(), QRect(0, 0, w->width(), 46));
    w->checkPointer(w->mapToGlobal(QPoint(300, 56)));
    QVERIFY(!w->bar()->isVisible());
}

void TestWallController::autoQualityByTileCount()
{
    auto src = source();
    Controller* c = Controller::instance();
    c->start(src,
             Config{{display(0, "2x2", "a,b,c,d"), display(1, "2x3", "e,f,g,h,i,"),
                     display(2, "2x3", "j,k,l,m,n,o", true, kQualityMain)}});
    for (const char* id : {"a", "b", "c", "d"})
        QVERIFY(src->calls.contains(QStringLiteral("start %1 main").arg(QLatin1String(id))));
    for (const char* id : {"e", "f", "g", "h", "i"})
        QVERIFY(src->calls.contains(QStringLiteral("start %1 sub").arg(QLatin1String(id))));
    QVERIFY(src->calls.contains(QStringLiteral("start o main")));
    // Load hints: four tiles on the first display, fifteen on the wall.
    QVERIFY(src->calls.contains(QStringLiteral("tune a 4 15")));
    QVERIFY(src->calls.contains(QStringLiteral("tune e 5 15")));
}

void TestWallController::focusRestartsTheRightTiles()
{
    auto src = source();
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "2x2", "a,b,c,d", true, kQualitySub), display(1, "1x1", "e")}});
    DisplayWindow* w = c->windowFor(QGuiApplication::screens().at(0));
    const QList<TestTile*> t = tilesOf(w);
    m_timers->advance(0);

    src->calls.clear();
    t[0]->expand();
    QTRY_COMPARE(w->focusedCell(), 0);
    QVERIFY(t[0]->running() && !t[0]->main()); // a Sub display stays on sub
    QCOMPARE(t[0]->shown(), 1);
    QVERIFY(!t[1]->running() && !t[2]->running() && !t[3]->running());
    QVERIFY(t[0]->isVisible() && !t[1]->isVisible());

    t[2]->expand();
    QTRY_COMPARE(w->focusedCell(), 2);
    QVERIFY(!t[0]->running() && !t[0]->isVisible());
    QVERIFY(t[2]->running() && t[2]->isVisible());

    src->calls.clear();
    t[2]->expand();
    QTRY_COMPARE(w->focusedCell(), -1);
    QCOMPARE(src->callsStarting("start"), QStringList({"start a sub", "start b sub", "start c sub", "start d sub"}));
    QVERIFY(src->calls.contains(QStringLiteral("tune a 4 5")));
    for (TestTile* tile : t)
        QVERIFY(tile->isVisible() && tile->running());

    // On an Auto display a focused tile plays the main stream.
    auto autoSrc = source();
    c->start(autoSrc, Config{{display(0, "3x3", "a,b,c,d,e,f,,,")}});
    w = c->windowFor(QGuiApplication::screens().at(0));
    TestTile* f = tilesOf(w).at(5);
    QVERIFY(!f->main());
    f->expand();
    QTRY_COMPARE(w->focusedCell(), 5);
    QVERIFY(f->main());
    // A placeholder or a cell out of range asks nothing.
    w->toggleFocus(7);
    w->toggleFocus(40);
    QCOMPARE(w->focusedCell(), 5);
}

void TestWallController::focusNeverStartsATileTwice()
{
    auto src = source();
    src->m_maxStarts = 1;
    src->m_answer = TestSource::Answer::WhenTold;
    Controller* c = Controller::instance();
    c->start(src, Config{{display(0, "2x2", "a,b,c,d")}});
    DisplayWindow* w = c->windowFor(QGuiApplication::screens().at(0));
    const QList<TestTile*> t = tilesOf(w);
    QCOMPARE(c->queued(), 3); // a in flight, b c d waiting

    w->toggleFocus(2); // c was still waiting in the queue
    QCOMPARE(c->queued(), 1);
    for (int i = 0; i < 4; ++i) {
        src->answerNext();
        m_timers->advance(0);
    }
    QCOMPARE(t[2]->starts(), 1);
    QCOMPARE(t[2]->doubleStarts(), 0);
    QCOMPARE(src->callsStarting("start"), QStringList({"start a main", "start c main"}));
}

KVR_TEST_MAIN(TestWallController)
#include "tst_wall_controller.moc"
