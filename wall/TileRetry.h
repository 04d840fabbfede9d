#pragma once

// A failed tile of a wall tries again by itself. A wall is watched, not
// operated: once a tile's player has used up its own few quick restarts (a
// relay down for longer than they last, a camera rebooting), nobody may be
// there to press Retry, and the tile must not stay dark after the camera is
// back. It tries again on a slow schedule instead: about half a minute after
// the failure, then further apart up to a few minutes. Each wait is spread by
// a random share, so that the tiles of a wall that failed together do not
// all ask again in the same second; their starts still go through the wall's
// own start queue and pacing. Only tiles of a wall do this; the single-camera
// view and the dialogs leave it to the user.

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>

class QWidget;
namespace kvr::core {
class Clock;
} // namespace kvr::core

namespace kvr::wall {

namespace VideoWall {

// The wait before the next try, when `tries` tries were made since the last
// stretch of steady playing; `draw` is a random number in [0, 1) that places
// the wait within its spread.
std::chrono::milliseconds retryDelay(int tries, double draw);

// The schedule of one tile, on plain values: the clock and the random draw
// are injected, so that it is tried without waiting.
class RetrySchedule {
public:
    using Draw = std::function<double()>; // a random number in [0, 1)

    // Null clock: the process clock. Empty draw: the system's random numbers.
    explicit RetrySchedule(const kvr::core::Clock* clock = nullptr, Draw draw = {});

    // The tile failed: arms the next try and gives the wait until it (ms).
    // A try already armed keeps its time: a failure reported again (the
    // player's own restarts failing one by one) does not push it back.
    qint64 failed();
    // The armed try is being made; the one after a further failure waits longer.
    void tried();
    // A picture is shown: no try is needed. The count of tries is kept until
    // the stream has played steadily for a while, so that a camera that shows
    // a picture and drops again at once is not asked every half minute.
    void playing();
    // Another tile of the wall has just begun to show pictures: whatever
    // carries the wall's streams answers again. An armed try further off is
    // brought to within a few seconds, spread by the draw, so that a wall
    // whose relay is back does not sit out waits grown over earlier
    // failures; the count of tries stays. The new wait (ms), or -1 when
    // nothing changed.
    qint64 hurry();
    // A start is under way: the armed try is dropped, the count stays.
    void cancel();
    // Everything forgotten: the tile was stopped or the user restarted it.
    void reset();

    bool isArmed() const { return m_armed; }
    // Pictures show and no failure has come since.
    bool isPlaying() const { return m_playing; }
    // When the armed try is due, on the clock's monotonic reading.
    qint64 dueMs() const { return m_dueMs; }
    int tries() const { return m_tries; }

private:
    qint64 now() const;

    const kvr::core::Clock* m_clock;
    Draw m_draw;
    bool m_armed = false;
    qint64 m_dueMs = 0;
    int m_tries = 0;
    bool m_playing = false;
    qint64 m_playingSinceMs = 0;
};

// Runs a tile's schedule with a timer. When a try is due and the tile is on
// screen it emits `due`, and the wall that holds the tile starts it again
// through its own start queue; a hidden tile is looked at again later. The
// tile reports to it: failed, playing, cancel (a start of its own began),
// reset (stopped, or restarted by the user); its wall may hurry it. A child of the tile; a wall
// that holds tiles as plain widgets reaches it through its camera source.
class TileRetry final : public QObject {
    Q_OBJECT
public:
    explicit TileRetry(QWidget* tile, RetrySchedule schedule = RetrySchedule());

    // Names the tile in the log line of each try.
    void setLabel(const QString& label) { m_label = label; }

    void failed();
    void playing();
    void hurry();
    void cancel();
    void reset();

    bool isArmed() const { return m_timer.isActive(); }
    // Milliseconds until the armed try; -1 when none is armed.
    int remainingMs() const { return m_timer.isActive() ? m_timer.remainingTime() : -1; }
    const RetrySchedule& schedule() const { return m_schedule; }
    // What the timer does when the try is due; tests call it instead of waiting.
    void fire();

Q_SIGNALS:
    // Start the tile again.
    void due();
    // The tile shows pictures: its first, or again after a failure. The wall
    // that holds it hurries its other tiles' tries then.
    void playingAgain();

private:
    QPointer<QWidget> m_tile;
    QString m_label;
    RetrySchedule m_schedule;
    QTimer m_timer;
};

} // namespace VideoWall

} // namespace kvr::wall
