#include "wall/TileRetry.h"

#include "app/core/Clock.h"
#include "wall/Logging.h"
#include "wall/Tunables.h"

#include <QRandomGenerator>
#include <QWidget>
#include <QtDebug>

#include <algorithm>
#include <cmath>

namespace kvr::wall {

namespace VideoWall {

using std::chrono::milliseconds;

milliseconds retryDelay(int tries, double draw)
{
    const double longest = double(tun::kRetryLongest.count());
    double wait = double(tun::kRetryFirst.count());
    for (int i = 0; i < tries && wait < longest; ++i)
        wait *= tun::kRetryGrowth;
    wait = std::min(wait, longest);
    const double share = std::clamp(draw, 0.0, 1.0) * 2.0 - 1.0; // -1 .. 1
    return milliseconds(std::llround(wait * (1.0 + tun::kRetrySpread * share)));
}

RetrySchedule::RetrySchedule(const kvr::core::Clock* clock, Draw draw) : m_clock(clock), m_draw(std::move(draw))
{
    if (!m_draw)
        m_draw = [] { return QRandomGenerator::global()->generateDouble(); };
}

qint64 RetrySchedule::now() const
{
    return (m_clock ? *m_clock : kvr::core::Clock::instance()).monotonicMs();
}

qint64 RetrySchedule::failed()
{
    const qint64 t = now();
    if (m_playing) {
        if (t - m_playingSinceMs >= tun::kRetrySteadyPlay.count())
            m_tries = 0;
        m_playing = false;
    }
    if (!m_armed) {
        m_armed = true;
        m_dueMs = t + retryDelay(m_tries, m_draw()).count();
    }
    return std::max<qint64>(0, m_dueMs - t);
}

void RetrySchedule::tried()
{
    m_armed = false;
    ++m_tries;
}

void RetrySchedule::playing()
{
    m_armed = false;
    if (!m_playing) {
        m_playing = true;
        m_playingSinceMs = now();
    }
}

qint64 RetrySchedule::hurry()
{
    if (!m_armed)
        return -1;
    const qint64 t = now();
    const qint64 last = tun::kRetryHurryLast.count();
    if (m_dueMs - t <= last)
        return -1;
    const qint64 first = tun::kRetryHurryFirst.count();
    m_dueMs = t + first + std::llround(std::clamp(m_draw(), 0.0, 1.0) * double(last - first));
    return m_dueMs - t;
}

void RetrySchedule::cancel()
{
    m_armed = false;
}

void RetrySchedule::reset()
{
    m_armed = false;
    m_tries = 0;
    m_playing = false;
}

TileRetry::TileRetry(QWidget* tile, RetrySchedule schedule)
    : QObject(tile),
      m_tile(tile),
      m_schedule(std::move(schedule))
{
    setObjectName(QStringLiteral("TileRetry"));
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TileRetry::fire);
}

void TileRetry::failed()
{
    const qint64 wait = m_schedule.failed();
    if (!m_timer.isActive())
        m_timer.start(int(std::min<qint64>(wait, tun::kRetryLongest.count() * 2)));
}

void TileRetry::playing()
{
    if (m_timer.isActive())
        m_timer.stop();
    // Called for every picture: only the first after a start or a failure counts.
    const bool again = !m_schedule.isPlaying();
    m_schedule.playing();
    if (again)
        Q_EMIT playingAgain();
}

void TileRetry::hurry()
{
    const qint64 wait = m_schedule.hurry();
    if (wait < 0)
        return;
    qCInfo(lcWall).noquote() << "[wall]" << m_label
                             << QStringLiteral("another tile plays again; trying again in %1 ms").arg(wait);
    m_timer.start(int(wait));
}

void TileRetry::cancel()
{
    m_timer.stop();
    m_schedule.cancel();
}

void TileRetry::reset()
{
    m_timer.stop();
    m_schedule.reset();
}

void TileRetry::fire()
{
    m_timer.stop();
    if (!m_schedule.isArmed())
        return;
    // Nobody watches a tile that is not on screen (another one fills the
    // wall, its window is gone): it waits, and tries once it shows again.
    if (!m_tile || !m_tile->isVisible()) {
        m_timer.start(int(tun::kRetryHiddenRecheck.count()));
        return;
    }
    m_schedule.tried();
    qCInfo(lcWall).noquote()
        << "[wall]" << m_label
        << QStringLiteral("failed earlier; trying again by itself (try %1)").arg(m_schedule.tries());
    Q_EMIT due();
}

} // namespace VideoWall

} // namespace kvr::wall
