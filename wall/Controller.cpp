#include "wall/Controller.h"

#include "wall/DisplayWindow.h"
#include "wall/Logging.h"
#include "wall/Screens.h"
#include "wall/Source.h"
#include "wall/Timers.h"
#include "wall/Tunables.h"
#include "wall/VideoWallRules.h"

#include "app/ui/Theme.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

using namespace kvr::core;
using namespace kvr::ui;

namespace kvr::wall {

namespace VideoWall {

Controller* Controller::instance()
{
    static Controller controller;
    return &controller;
}

Controller::Controller()
{
    connect(qApp, &QGuiApplication::screenAdded, this, &Controller::screenAdded);
    connect(qApp, &QGuiApplication::screenRemoved, this, &Controller::closeWindowFor);
    connect(qApp, &QCoreApplication::aboutToQuit, this, &Controller::stop);
}

void Controller::setTimers(Timers* timers)
{
    m_timers = timers;
}

QStringList Controller::windowKeys() const
{
    QStringList keys;
    for (const Entry& e : m_windows)
        keys.append(e.key);
    return keys;
}

QList<DisplayWindow*> Controller::windows() const
{
    QList<DisplayWindow*> out;
    for (const Entry& e : m_windows)
        if (e.window)
            out.append(e.window);
    return out;
}

DisplayWindow* Controller::windowFor(QScreen* screen) const
{
    for (const Entry& e : m_windows)
        if (screen && e.screen == screen)
            return e.window;
    return nullptr;
}

void Controller::start(std::shared_ptr<Source> source, const Config& config)
{
    stop();
    m_source = std::move(source);
    m_config = config;
    for (QScreen* screen : QGuiApplication::screens())
        if (VideoWallRules::qualifies(m_config.find(screenKey(screen))))
            openWindowFor(screen);
    m_running = !m_windows.isEmpty();
    if (m_running)
        qCInfo(lcWall, "[wall] started from source \"%s\" on %d display(s)", qPrintable(m_source->id()),
               int(m_windows.size()));
    retune();
    for (DisplayWindow* w : windows())
        w->startAll();
    Q_EMIT runningChanged(m_running);
}

void Controller::stop()
{
    const bool wasRunning = isRunning();
    m_running = false;
    m_queue.clear();
    m_starts.supersede();
    const QList<Entry> taken = std::exchange(m_windows, {});
    for (const Entry& e : taken)
        if (e.window)
            e.window->stopAll();
    for (const Entry& e : taken) {
        if (!e.window)
            continue;
        e.window->hide();
        e.window->deleteLater();
    }
    m_inFlight = 0;
    if (wasRunning) {
        qCInfo(lcWall, "[wall] stopped");
        Q_EMIT runningChanged(false);
    }
}

void Controller::stopIfFrom(const QString& sourceId)
{
    if (!isRunning() || !m_source)
        return;
    if (m_source->id() == sourceId)
        stop();
}

void Controller::openWindowFor(QScreen* screen)
{
    const QString key = screenKey(screen);
    const ScreenConfig* cfg = m_config.find(key);
    if (!cfg || !m_source)
        return;
    auto* window = new DisplayWindow(m_source, *cfg, screen, screenNumber(screen));
    m_windows.append({key, screen, window});
    window->showFullScreen();
}

void Controller::closeWindowFor(QScreen* screen)
{
    // By the display itself: by now it has left the platform's list, so its
    // key would come out as another identical display's.
    qsizetype at = -1;
    for (qsizetype i = 0; i < m_windows.size(); ++i)
        if (screen && m_windows.at(i).screen == screen)
            at = i;
    if (at < 0)
        return;
    const Entry e = m_windows.takeAt(at);
    qCInfo(lcWall, "[wall] display \"%s\" went away; its window closes", qPrintable(e.key));
    if (e.window) {
        e.window->stopAll();
        e.window->hide();
        e.window->deleteLater();
    }
    retune();
    Q_EMIT runningChanged(isRunning());
}

void Controller::screenAdded(QScreen* screen)
{
    if (!m_running)
        return;
    const QString key = screenKey(screen);
    if (!VideoWallRules::qualifies(m_config.find(key)))
        return;
    for (const Entry& e : m_windows)
        if (e.screen == screen || (e.key == key && e.screen))
            return;
    openWindowFor(screen);
    DisplayWindow* window = windowFor(screen);
    if (!window)
        return;
    qCInfo(lcWall, "[wall] display \"%s\" came back; its window opens", qPrintable(key));
    retune();
    window->startAll();
    Q_EMIT runningChanged(true);
}

void Controller::retune()
{
    int total = 0;
    for (DisplayWindow* w : windows())
        total += w->tileCount();
    for (DisplayWindow* w : windows())
        w->tune(total);
}

void Controller::enqueueStart(QWidget* tile, bool main)
{
    m_queue.append({tile, main});
    pump();
}

void Controller::pump()
{
    if (!m_source)
        return;
    const int limit = qMax(m_source->maxStartsInFlight(), 1);
    while (m_inFlight < limit && !m_queue.isEmpty()) {
        const Request r = m_queue.takeFirst();
        if (!r.tile)
            continue;
        ++m_inFlight;
        const auto delay = std::chrono::milliseconds(qMax(0, m_source->startReleaseDelayMs()));
        const RequestTicket ticket = m_starts.ticket();
        const RequestTicket held = RequestTicket::heldBy(this);
        auto released = std::make_shared<bool>(false);
        // The release always goes through a timer, even at 0 ms, so pump()
        // is never entered again from inside the source's start().
        m_source->start(r.tile, r.main, [this, delay, ticket, held, released] {
            if (!held.current() || *released)
                return;
            *released = true;
            Timers& timers = m_timers ? *m_timers : Timers::system();
            timers.after(delay, this, [this, ticket] {
                // A slot of a stopped wall is not one of this wall's.
                if (!ticket.current())
                    return;
                m_inFlight = qMax(m_inFlight - 1, 0);
                pump();
            });
        });
        // The source may have stopped the wall from inside start().
        if (!ticket.current())
            return;
    }
}

void Controller::forgetTile(QWidget* tile)
{
    QList<Request> kept;
    for (const Request& r : std::as_const(m_queue))
        if (r.tile && r.tile != tile)
            kept.append(r);
    m_queue = kept;
}

void Controller::identify()
{
    Timers& timers = m_timers ? *m_timers : Timers::system();
    const QList<QScreen*> screens = QGuiApplication::screens();
    for (int i = 0; i < screens.size(); ++i) {
        QScreen* screen = screens.at(i);
        auto* label = new QLabel;
        label->setObjectName(QStringLiteral("WallIdentify"));
        label->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                              | Qt::WindowDoesNotAcceptFocus);
        label->setAttribute(Qt::WA_ShowWithoutActivating);
        label->setAttribute(Qt::WA_DeleteOnClose);
        label->setAlignment(Qt::AlignCenter);
        label->setTextFormat(Qt::RichText);
        label->setText(VideoWallRules::identifyText(i + 1, screenTitle(screen)));
        label->setStyleSheet(Theme::wallIdentifyStyle());
        label->setScreen(screen);
        label->adjustSize();
        label->setGeometry(VideoWallRules::identifyGeometry(screen->geometry(), label->size()));
        label->show();
        timers.after(tun::kIdentifyShowFor, label, [label] { label->close(); });
    }
}

} // namespace VideoWall

} // namespace kvr::wall
