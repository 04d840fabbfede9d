// The video wall's controller with a camera source of plain widgets: how long
// until every tile of a 16, 36 and 120 camera wall is started, how many starts
// were in flight at once, and the longest the main thread went without
// turning its event loop while the wall started and while it stopped.
//
// Two source shapes: starts that report at once (1000 slots, no delay, as in
// native mode) and starts answered by a server after a round trip (4 slots,
// 60 ms delay, as in server mode).

#include "tests/wall/WallTestKit.h"

#include "wall/Controller.h"
#include "wall/Screens.h"

#include <QElapsedTimer>
#include <QScreen>
#include <QTemporaryFile>
#include <QTimer>

#include <cstdio>

using namespace VideoWall;

namespace {

constexpr int kServerRoundTripMs = 20;

// The longest gap between two turns of the event loop while it runs.
class StallWatch : public QObject {
public:
    StallWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] { m_worst = qMax(m_worst, m_clock.restart()); });
    }
    void begin()
    {
        m_worst = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 end()
    {
        m_timer.stop();
        return qMax(m_worst, m_clock.elapsed());
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_worst = 0;
};

struct Figures {
    qint64 allStartedMs = -1;
    int peakInFlight = 0;
    qint64 startStallMs = 0;
    qint64 stopMs = 0;
};

Figures run(int tiles, bool paced)
{
    const QString key = tiles == 16 ? QStringLiteral("4x4")
        : tiles == 36               ? QStringLiteral("6x6")
                                    : QStringLiteral("10x12");
    ScreenConfig screen;
    screen.key = screenKey(QGuiApplication::primaryScreen());
    screen.layout = key;
    for (int i = 0; i < tiles; ++i)
        screen.cells.append(QStringLiteral("cam%1").arg(i + 1));

    auto src = std::make_shared<walltest::TestSource>();
    if (paced) {
        src->m_maxStarts = 4;
        src->m_releaseDelayMs = 60;
        src->m_answer = walltest::TestSource::Answer::WhenTold;
    }
    Controller* c = Controller::instance();
    Figures f;
    StallWatch watch;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer answers; // the server answering each start after its round trip
    QObject::connect(&answers, &QTimer::timeout, &answers, [&] {
        f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
        while (!src->unanswered.isEmpty())
            src->answerNext();
    });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &check, [&] {
        f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
        if (src->runningIds.size() == tiles && f.allStartedMs < 0) {
            f.allStartedMs = clock.elapsed();
            loop.quit();
        }
    });
    answers.start(kServerRoundTripMs);
    check.start(1);
    watch.begin();
    clock.start();
    c->start(src, Config{{screen}});
    f.peakInFlight = qMax(f.peakInFlight, c->inFlight());
    if (src->runningIds.size() == tiles)
        f.allStartedMs = clock.elapsed();
    else
        loop.exec();
    answers.stop();
    check.stop();
    // The first paint of the windows and the last releases count as part of
    // starting.
    QTest::qWait(300);
    f.startStallMs = watch.end();

    clock.restart();
    c->stop();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    f.stopMs = clock.elapsed();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    // One full-HD display unless a platform or a display was chosen.
    QTemporaryFile screens;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") && screens.open()) {
        screens.write(R"({"screens":[{"name":"bench","x":0,"y":0,"width":1920,"height":1080,"dpr":1}]})");
        screens.flush();
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens.fileName()));
    }
    kvrtest::prepareEnvironment("bench_wall");
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    std::printf("video wall on %s, one %dx%d display, plain-widget tiles\n",
                qPrintable(QGuiApplication::platformName()), QGuiApplication::primaryScreen()->geometry().width(),
                QGuiApplication::primaryScreen()->geometry().height());
    std::printf("%-28s %6s %14s %14s %18s %10s\n", "source", "tiles", "all started ms", "peak in flight",
                "start stall ms", "stop ms");
    run(16, false); // warm up fonts and styles
    for (bool paced : {false, true}) {
        for (int tiles : {16, 36, 120}) {
            const Figures f = run(tiles, paced);
            std::printf("%-28s %6d %14lld %14d %18lld %10lld\n",
                        paced ? "server-like (4 slots, 60 ms)" : "at once (1000 slots, 0 ms)", tiles, f.allStartedMs,
                        f.peakInFlight, f.startStallMs, f.stopMs);
        }
    }
    return 0;
}
