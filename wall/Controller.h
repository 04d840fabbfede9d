#pragma once

#include "app/core/RequestTicket.h"
#include "wall/Config.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>

#include <QScreen>

class QWidget;

namespace kvr::wall {

namespace VideoWall {

class DisplayWindow;
class Source;
class Timers;

// Runs the multi-display video wall for the whole process: one full-screen
// window on every connected display that is enabled and has a camera, one
// start queue for all their tiles, displays followed as they come and go,
// everything stopped on request or when the application quits. Main thread
// only.
class Controller final : public QObject {
    Q_OBJECT
public:
    static Controller* instance();

    // (Re)starts the wall: stops any wall first, then opens a window on every
    // qualifying display and queues all their tiles.
    void start(std::shared_ptr<Source> source, const Config& config);
    // Stops every tile and closes every window; emits runningChanged(false)
    // when a wall ran.
    void stop();
    // Stops the wall only when it runs from the source with that id.
    void stopIfFrom(const QString& sourceId);

    void openWindowFor(QScreen* screen);
    void closeWindowFor(QScreen* screen);

    // Hands every tile its load hint again.
    void retune();
    // Queues a tile start; starts run through the source in queue order, at
    // most its maxStartsInFlight at once.
    void enqueueStart(QWidget* tile, bool main);
    void pump();
    // Drops the queued starts of a tile that is being stopped.
    void forgetTile(QWidget* tile);

    // Shows every display's number on it for a few seconds.
    void identify();

    // A wall runs while its running flag is set or a window is open.
    bool isRunning() const { return m_running || !m_windows.isEmpty(); }
    bool runningFlag() const { return m_running; }
    int windowCount() const { return int(m_windows.size()); }
    // Screen keys of the open windows.
    QStringList windowKeys() const;
    QList<DisplayWindow*> windows() const;
    // The window of a display, null when it has none.
    DisplayWindow* windowFor(QScreen* screen) const;
    // The source of the current or last wall; null before the first start.
    std::shared_ptr<Source> source() const { return m_source; }
    const Config& config() const { return m_config; }

    // Starts handed to the source and not yet released, and those waiting.
    int inFlight() const { return m_inFlight; }
    int queued() const { return int(m_queue.size()); }

    // ---- For tests -------------------------------------------------------
    // Timers for the slot releases and the identify labels (not owned);
    // nullptr restores Qt's timers.
    void setTimers(Timers* timers);

Q_SIGNALS:
    void runningChanged(bool running);

private:
    Controller();
    void screenAdded(QScreen* screen);

    struct Entry {
        QString key;              // the display's key when its window opened
        QPointer<QScreen> screen; // the display itself: keys of identical displays shift as they come and go
        QPointer<DisplayWindow> window;
    };
    struct Request {
        QPointer<QWidget> tile;
        bool main = false;
    };

    std::shared_ptr<Source> m_source;
    Config m_config;
    bool m_running = false;
    QList<Entry> m_windows;
    QList<Request> m_queue;
    int m_inFlight = 0;
    // Moves on with every wall: a release armed for one wall is void in the next.
    core::TicketDesk m_starts;
    Timers* m_timers = nullptr;
};

} // namespace VideoWall

} // namespace kvr::wall
