// The schedule of the event streams' attempts: when each falls due, and
// how many go out at once. One timer serves every connection (thousands of
// armed timers make each start of any timer of the thread cost as many
// steps); attempts that fall due go out in the order they fell due, as long
// as fewer than tun::kStreamOpeningsAtOnce are being opened and the
// connection gate has a place for a stream; the rest wait, and those that
// wait for want of a place are counted, so the window can say so.

#include "native/services/ConnectionGate.h"
#include "native/services/NativeEvents.h"

#include <QTimer>

#include <algorithm>
#include <iterator>
#include <limits>

namespace kvr::services {

using std::chrono::milliseconds;

void NativeEvents::armTimer(const QString& id, Connection& conn, milliseconds delay)
{
    unplan(conn);
    if (m_timerFn) {
        if (!conn.timer) {
            conn.timer = new QTimer(this);
            conn.timer->setSingleShot(true);
            connect(conn.timer, &QTimer::timeout, this, [this, id] { connectDevice(id); });
        }
        m_timerFn(id, delay, conn.timer);
        return;
    }
    conn.due = m_schedule.emplace(m_scheduleClock.elapsed() + delay.count(), id);
    conn.planned = true;
    armSchedule();
}

bool NativeEvents::isPlanned(const Connection& conn) const
{
    return conn.planned || (conn.timer && conn.timer->isActive());
}

void NativeEvents::unplan(Connection& conn)
{
    if (conn.timer)
        conn.timer->stop();
    if (conn.planned) {
        m_schedule.erase(conn.due);
        conn.planned = false;
    }
}

void NativeEvents::armSchedule()
{
    if (m_schedule.empty()) {
        m_scheduleTimer.stop();
        setHeldBack(0);
        return;
    }
    // All turns taken: the attempt that ends gives its turn on.
    if (m_openBlock == OpenBlock::Turns)
        return;
    const qint64 nowMs = m_scheduleClock.elapsed();
    qint64 next = m_schedule.begin()->first;
    if (m_openBlock == OpenBlock::Places) {
        // Those due wait for a place given back; the next to fall due is
        // counted among them when it does.
        const auto later = m_schedule.upper_bound(nowMs);
        if (later == m_schedule.end()) {
            m_scheduleTimer.stop();
            return;
        }
        next = later->first;
    }
    const qint64 wait = std::max<qint64>(0, next - nowMs);
    if (!m_scheduleTimer.isActive() || m_scheduleTimer.remainingTime() > wait)
        m_scheduleTimer.start(int(std::min<qint64>(wait, std::numeric_limits<int>::max())));
}

void NativeEvents::openDue()
{
    const qint64 nowMs = m_scheduleClock.elapsed();
    const ConnectionGate& gate = ConnectionGate::instance();
    int opened = 0;
    m_openBlock = OpenBlock::None;
    while (!m_schedule.empty() && m_schedule.begin()->first <= nowMs) {
        if (opened >= tun::kStreamOpensPerTurn) {
            m_scheduleTimer.start(0); // the rest in the next turns
            return;
        }
        // Those that fell due wait, in the order they fell due, for a turn
        // and for a connection place.
        if (m_opening >= tun::kStreamOpeningsAtOnce) {
            m_openBlock = OpenBlock::Turns;
            break;
        }
        if (!gate.hasPlace(ConnectionGate::Use::Stream)) {
            m_openBlock = OpenBlock::Places;
            break;
        }
        const QString id = m_schedule.begin()->second;
        // Every entry is the plan of its connection (a new plan or a drop
        // takes the old one out).
        auto it = m_connections.find(id);
        if (it != m_connections.end())
            it->planned = false;
        m_schedule.erase(m_schedule.begin());
        connectDevice(id);
        ++opened;
    }
    // Those due while no connection place is free wait for the open-file
    // limit, whatever else holds them.
    if (m_openBlock != OpenBlock::None && !gate.hasPlace(ConnectionGate::Use::Stream))
        setHeldBack(int(std::distance(m_schedule.begin(), m_schedule.upper_bound(nowMs))));
    else
        setHeldBack(0);
    if (m_openBlock == OpenBlock::Turns) {
        m_scheduleTimer.stop();
        return;
    }
    m_scheduleTimer.stop();
    armSchedule();
}

void NativeEvents::openDueLater()
{
    if (m_openQueued)
        return;
    m_openQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_openQueued = false;
            openDue();
        },
        Qt::QueuedConnection);
}

void NativeEvents::endOpening(Connection& conn)
{
    if (!conn.opening)
        return;
    conn.opening = false;
    --m_opening;
    if (m_openBlock == OpenBlock::Turns)
        openDueLater();
}

void NativeEvents::setHeldBack(int count)
{
    if (count == m_heldBack)
        return;
    const bool said = m_heldBack > 0 || count > 0;
    m_heldBack = count;
    if (said)
        Q_EMIT linksChanged();
}

} // namespace kvr::services
