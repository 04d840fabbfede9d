#include "native/services/ConnectionGate.h"

#include "native/services/Logging.h"
#include "native/services/Tunables.h"

#include <QDebug>

#include <algorithm>
#include <limits>

#include <sys/resource.h>

namespace kvr::services {

namespace {
// Made on the main thread by the first device connection; it lives as long
// as the process, like the connections it counts.
ConnectionGate* g_gate = nullptr;
} // namespace

ConnectionGate& ConnectionGate::instance()
{
    if (!g_gate) {
        const qint64 limit = openFileLimit();
        const int capacity = capacityFor(limit);
        g_gate = new ConnectionGate(capacity, reserveFor(capacity));
        qCInfo(lcServices).noquote() << "native connections: at most" << capacity << "open at once ("
                                     << reserveFor(capacity) << "of them kept for checks), for a limit of" << limit
                                     << "open files";
    }
    return *g_gate;
}

ConnectionGate::ConnectionGate(int capacity, int requestReserve, QObject* parent)
    : QObject(parent),
      m_capacity(std::max(1, capacity)),
      m_reserve(std::clamp(requestReserve, 0, m_capacity - 1))
{}

ConnectionGate::~ConnectionGate() = default;

int ConnectionGate::capacityFor(qint64 openFiles)
{
    if (openFiles <= 0)
        return tun::kMinDeviceConnections;
    return int(std::clamp<qint64>(openFiles / tun::kDeviceConnectionShareOfFiles, tun::kMinDeviceConnections,
                                  tun::kMaxDeviceConnections));
}

int ConnectionGate::reserveFor(int capacity)
{
    return std::clamp(capacity / 4, 1, tun::kMaxRequestReserve);
}

qint64 ConnectionGate::openFileLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > rlim_t(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return qint64(limit.rlim_cur);
}

bool ConnectionGate::fits(Use use) const
{
    if (m_held >= m_capacity)
        return false;
    return use == Use::Request || m_heldStreams < m_capacity - m_reserve;
}

void ConnectionGate::take(Use use)
{
    ++m_held;
    if (use == Use::Stream)
        ++m_heldStreams;
    m_peak = std::max(m_peak, m_held);
}

ConnectionGate::Ticket ConnectionGate::ask(Use use, const QObject* context, std::function<void()> go)
{
    const Ticket ticket = m_next++;
    QList<Waiter>& queue = use == Use::Stream ? m_streams : m_requests;
    // Those already waiting go first.
    if (queue.isEmpty() && fits(use)) {
        take(use);
        go();
        return ticket;
    }
    Waiter w;
    w.ticket = ticket;
    w.use = use;
    w.bound = context != nullptr;
    w.context = context;
    w.go = std::move(go);
    queue.append(std::move(w));
    return ticket;
}

void ConnectionGate::cancel(Ticket ticket)
{
    for (QList<Waiter>* queue : {&m_requests, &m_streams}) {
        const auto it =
            std::find_if(queue->begin(), queue->end(), [ticket](const Waiter& w) { return w.ticket == ticket; });
        if (it != queue->end()) {
            queue->erase(it);
            return;
        }
    }
}

void ConnectionGate::release(Use use)
{
    m_held = std::max(0, m_held - 1);
    if (use == Use::Stream)
        m_heldStreams = std::max(0, m_heldStreams - 1);
    if (!m_requests.isEmpty() || !m_streams.isEmpty())
        grantLater();
    Q_EMIT placeFreed();
}

void ConnectionGate::setCapacity(int capacity, int requestReserve)
{
    m_capacity = std::max(1, capacity);
    m_reserve = std::clamp(requestReserve, 0, m_capacity - 1);
    grantLater();
    Q_EMIT placeFreed();
}

// From the event loop, never from within the release (which a connection
// makes as it ends, deep in its own handlers).
void ConnectionGate::grantLater()
{
    if (m_grantQueued)
        return;
    m_grantQueued = true;
    QMetaObject::invokeMethod(this, &ConnectionGate::grantWaiting, Qt::QueuedConnection);
}

void ConnectionGate::grantWaiting()
{
    m_grantQueued = false;
    for (QList<Waiter>* queue : {&m_requests, &m_streams}) {
        while (!queue->isEmpty() && fits(queue->first().use)) {
            Waiter w = queue->takeFirst();
            if (w.bound && !w.context)
                continue; // its connection went while it waited
            take(w.use);
            w.go();
        }
    }
}

} // namespace kvr::services
