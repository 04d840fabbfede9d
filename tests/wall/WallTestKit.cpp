#include "tests/wall/WallTestKit.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>

namespace walltest {

TestTile::TestTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
    : QLabel(cameraId, parent),
      m_id(cameraId),
      m_onExpand(std::move(onExpand))
{
    setObjectName(QStringLiteral("TestTile"));
    setAlignment(Qt::AlignCenter);
    setMinimumSize(8, 8);
}

TestSource::TestSource(QString id, QList<VideoWall::Camera> cameras)
    : m_id(std::move(id)),
      m_cameras(std::move(cameras))
{}

QWidget* TestSource::makeTile(const QString& cameraId, QWidget* parent, std::function<void()> onExpand)
{
    auto* tile = new TestTile(cameraId, parent, std::move(onExpand));
    madeTiles.append(tile);
    return tile;
}

void TestSource::tune(QWidget* tile, int shownOnDisplay, int totalOnWall)
{
    auto* t = static_cast<TestTile*>(tile);
    t->m_shown = shownOnDisplay;
    t->m_total = totalOnWall;
    calls.append(QStringLiteral("tune %1 %2 %3").arg(t->m_id).arg(shownOnDisplay).arg(totalOnWall));
}

void TestSource::start(QWidget* tile, bool main, std::function<void()> started)
{
    auto* t = static_cast<TestTile*>(tile);
    if (t->m_running)
        ++t->m_doubleStarts;
    t->m_running = true;
    runningIds.insert(t->m_id);
    t->m_main = main;
    ++t->m_starts;
    calls.append(QStringLiteral("start %1 %2").arg(t->m_id, main ? QStringLiteral("main") : QStringLiteral("sub")));
    if (m_answer == Answer::AtOnce)
        started();
    else
        unanswered.append(std::move(started));
}

void TestSource::stop(QWidget* tile)
{
    auto* t = static_cast<TestTile*>(tile);
    t->m_running = false;
    runningIds.remove(t->m_id);
    calls.append(QStringLiteral("stop ") + t->m_id);
}

void TestSource::requestStop(QWidget* tile)
{
    calls.append(QStringLiteral("requestStop ") + static_cast<TestTile*>(tile)->m_id);
}

void TestSource::answerNext()
{
    if (unanswered.isEmpty())
        return;
    const auto started = unanswered.takeFirst();
    started();
}

QStringList TestSource::callsStarting(const QString& prefix) const
{
    QStringList out;
    for (const QString& c : calls)
        if (c.startsWith(prefix))
            out.append(c);
    return out;
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
    m_pending.append({m_clock.monotonicMs() + qint64(delay.count()), m_seq++, context, std::move(fn)});
}

void ManualTimers::advance(qint64 ms)
{
    const qint64 until = m_clock.monotonicMs() + ms;
    for (;;) {
        auto next = std::min_element(m_pending.begin(), m_pending.end(), [](const Pending& a, const Pending& b) {
            return a.due != b.due ? a.due < b.due : a.seq < b.seq;
        });
        if (next == m_pending.end() || next->due > until)
            break;
        const Pending p = *next;
        m_pending.erase(next);
        if (p.due > m_clock.monotonicMs())
            m_clock.advanceMs(p.due - m_clock.monotonicMs());
        if (p.context)
            p.fn();
    }
    if (until > m_clock.monotonicMs())
        m_clock.advanceMs(until - m_clock.monotonicMs());
}

bool VirtualDisplay::start(int width, int height, QString* why)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    const QString xrandr = QStandardPaths::findExecutable(QStringLiteral("xrandr"));
    if (xvfb.isEmpty() || xrandr.isEmpty()) {
        *why = QStringLiteral("Xvfb and xrandr are needed (packages xvfb, x11-xserver-utils)");
        return false;
    }
    // -displayfd 1: the server picks a free display and writes its number to
    // our pipe; -noreset keeps the monitors when xrandr, its only client
    // before the application connects, disconnects.
    m_server.setProgram(xvfb);
    m_server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                           QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-screen"),
                           QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(width).arg(height)});
    m_server.setProcessChannelMode(QProcess::SeparateChannels);
    m_server.start();
    if (!m_server.waitForStarted(5000)) {
        *why = QStringLiteral("Xvfb did not start");
        return false;
    }
    QByteArray number;
    while (!number.contains('\n') && m_server.waitForReadyRead(10000))
        number += m_server.readAllStandardOutput();
    number = number.trimmed();
    if (number.isEmpty()) {
        *why = QStringLiteral("Xvfb gave no display number");
        return false;
    }
    m_display = QStringLiteral(":") + QString::fromLatin1(number);
    qputenv("DISPLAY", m_display.toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qunsetenv("WAYLAND_DISPLAY");
    return true;
}

VirtualDisplay::~VirtualDisplay()
{
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!m_server.waitForFinished(3000)) {
            m_server.kill();
            m_server.waitForFinished(3000);
        }
    }
}

bool VirtualDisplay::addMonitor(const QString& name, const QRect& g, bool takeOutput)
{
    const auto mm = [](int px) { return px * 254 / 960; }; // at 96 dots per inch
    const QString geometry = QStringLiteral("%1/%2x%3/%4+%5+%6")
                                 .arg(g.width())
                                 .arg(mm(g.width()))
                                 .arg(g.height())
                                 .arg(mm(g.height()))
                                 .arg(g.x())
                                 .arg(g.y());
    QProcess p;
    p.start(QStringLiteral("xrandr"),
            {QStringLiteral("--setmonitor"), name, geometry,
             takeOutput ? QStringLiteral("screen") : QStringLiteral("none")});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool VirtualDisplay::removeMonitor(const QString& name)
{
    QProcess p;
    p.start(QStringLiteral("xrandr"), {QStringLiteral("--delmonitor"), name});
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace walltest
