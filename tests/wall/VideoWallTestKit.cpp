#include "tests/wall/VideoWallTestKit.h"

#include "wall/TileRetry.h"

#include <QApplication>
#include <QDropEvent>

#include <cstdio>

using namespace kvr::wall;

namespace walltest {

QWidget* TestSource::makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
{
    madeTiles.append(new TestTile(cameraId, parent, std::move(onExpand)));
    if (m_tilesRetry)
        madeTiles.last()->m_retry = new VideoWall::TileRetry(madeTiles.last());
    return madeTiles.last();
}

void TestSource::tune(QWidget* tile, int shownOnDisplay, int totalOnWall)
{
    calls.append(
        QStringLiteral("tune %1 %2 %3").arg(static_cast<TestTile*>(tile)->m_id).arg(shownOnDisplay).arg(totalOnWall));
}

void TestSource::start(QWidget* tile, bool main, std::function<void()> started)
{
    auto* t = static_cast<TestTile*>(tile);
    runningIds.insert(t->m_id);
    t->m_main = main;
    calls.append(QStringLiteral("start %1 %2").arg(t->m_id, main ? QStringLiteral("main") : QStringLiteral("sub")));
    if (m_answer == Answer::AtOnce)
        started();
    else
        unanswered.append(std::move(started));
}

void TestSource::answerNext()
{
    if (!unanswered.isEmpty())
        unanswered.takeFirst()();
}

bool dragAndDrop(QWidget* target, const QPointF& pos, const QMimeData& data, Qt::DropAction action)
{
    // Qt hands a drop only to the widget that accepted the drag's entry.
    QDragEnterEvent enter(pos.toPoint(), action, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(pos.toPoint(), action, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent drop(pos, action, &data, Qt::LeftButton, Qt::NoModifier);
    drop.setAccepted(false);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QList<VideoWall::Camera> someCameras(int n)
{
    QList<VideoWall::Camera> out;
    for (int i = 1; i <= n; ++i) {
        const QString device = i % 2 ? QStringLiteral("Gate recorder") : QStringLiteral("Yard recorder");
        out.append({QStringLiteral("cam%1").arg(i), QStringLiteral("Camera %1").arg(i), device,
                    QStringLiteral("Head office"), false});
    }
    return out;
}

void ManualTimers::after(std::chrono::milliseconds delay, QObject* context, std::function<void()> fn)
{
    m_pending.emplace(m_clock.monotonicMs() + qint64(delay.count()), std::pair(QPointer(context), std::move(fn)));
}

void ManualTimers::advance(qint64 ms)
{
    const qint64 until = m_clock.monotonicMs() + ms;
    while (!m_pending.empty() && m_pending.begin()->first <= until) {
        const auto [due, timer] = *m_pending.begin();
        m_pending.erase(m_pending.begin());
        m_clock.advanceMs(due - m_clock.monotonicMs());
        if (timer.first)
            timer.second();
    }
    m_clock.advanceMs(until - m_clock.monotonicMs());
}

QString VirtualDisplay::start(int width, int height)
{
    // -displayfd 1: the server picks a free display and writes its number to
    // our pipe; -noreset keeps the monitors when xrandr, its only client
    // before the application connects, disconnects.
    m_server.setProgram(QStringLiteral("Xvfb"));
    m_server.setArguments(
        QString::asprintf("-displayfd 1 -noreset -nolisten tcp -screen 0 %dx%dx24", width, height).split(' '));
    m_server.start();
    if (!m_server.waitForStarted(5000))
        return QStringLiteral("Xvfb did not start (packages xvfb and x11-xserver-utils are needed)");
    QByteArray number;
    while (!number.contains('\n') && m_server.waitForReadyRead(10000))
        number += m_server.readAllStandardOutput();
    if (number.trimmed().isEmpty())
        return QStringLiteral("Xvfb gave no display number");
    qputenv("DISPLAY", ":" + number.trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    return {};
}

VirtualDisplay::~VirtualDisplay()
{
    // Asked to end first, so it removes its lock file and socket.
    m_server.terminate();
    m_server.waitForFinished(3000);
}

bool VirtualDisplay::xrandr(const QStringList& arguments)
{
    QProcess p;
    p.start(QStringLiteral("xrandr"), arguments);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool VirtualDisplay::addMonitor(const QString& name, const QRect& g, bool takeOutput)
{
    const auto mm = [](int px) { return px * 254 / 960; }; // at 96 dots per inch
    const QString geometry =
        QString::asprintf("%d/%dx%d/%d+%d+%d", g.width(), mm(g.width()), g.height(), mm(g.height()), g.x(), g.y());
    return xrandr({QStringLiteral("--setmonitor"), name, geometry,
                   takeOutput ? QStringLiteral("screen") : QStringLiteral("none")});
}

QScreen* screenNamed(const QString& name)
{
    for (QScreen* s : QGuiApplication::screens())
        if (s->name() == name)
            return s;
    return nullptr;
}

int runOnTwoMonitors(int argc, char** argv, const char* suite, int height,
                     const std::function<int(VirtualDisplay&)>& run)
{
    kvrtest::prepareEnvironment(suite);
    VirtualDisplay display;
    QString why = display.start(3840, height);
    if (why.isEmpty()
        && (!display.addMonitor("L", QRect(0, 0, 1920, 1080), true)
            || !display.addMonitor("R", QRect(1920, 0, 1920, 1080), false)))
        why = QStringLiteral("xrandr could not set the monitors up");
    if (!why.isEmpty()) {
        std::fprintf(stderr, "FAIL! no virtual display with two monitors: %s\n", qPrintable(why));
        return 1;
    }
    QApplication app(argc, argv);
    kvrtest::prepareApplication();
    return run(display);
}

} // namespace walltest
