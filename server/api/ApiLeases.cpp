// Leases of live streams: their renewal order, the answers, and the restarts
// the answers ask for.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiReaders.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QTimer>

#include <algorithm>

using namespace kvr::core;

namespace kvr::api {

namespace {

qint64 monotonicMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

} // namespace

void ApiClient::beginLease(const QString& key, int ttlSecs)
{
    if (!m_leaseTimer) {
        m_leaseTimer = new QTimer(this);
        m_leaseTimer->setSingleShot(true);
        connect(m_leaseTimer, &QTimer::timeout, this, &ApiClient::pumpLeases);
    }
    // The server's lease runs from when it took the start, which was no
    // earlier than when the start was sent.
    ApiRules::LeaseState lease;
    lease.key = key;
    lease.triedMs = m_startSentMs.take(key);
    if (lease.triedMs == 0)
        lease.triedMs = monotonicMs();
    lease.intervalMs = ApiRules::leaseIntervalMs(ttlSecs);
    // Until a lease has been answered, how fast the server answers leases is
    // not known, and a wall that starts at once would have its first round
    // fall due at once, too late to end within the lease on a slow server:
    // such a lease is asked for now, which tells the pace.
    lease.forced = m_answerMs < 0;
    lease.earlyMs = spreadLeaseMs(key, lease.triedMs + lease.intervalMs, lease.intervalMs);
    m_leases.insert(key, lease);
    m_leaseIntervalMs = lease.intervalMs;
    m_leasing = true;
    pumpLeases();
}

// Leases begun together (a wall started at once), or asked for together to
// learn the pace, would all fall due together: each one's next renewal goes
// a step earlier while the step holds as many as go out at once on a quick
// server.
qint64 ApiClient::spreadLeaseMs(const QString& key, qint64 dueMs, qint64 intervalMs) const
{
    QList<qint64> dues;
    dues.reserve(m_leases.size());
    for (const ApiRules::LeaseState& other : m_leases)
        if (other.key != key)
            dues << other.triedMs + other.intervalMs - other.earlyMs;
    return ApiRules::firstRenewalEarlyMs(dueMs, dues, tun::kLeasesInFlight, intervalMs / tun::kLeaseSpreadSteps,
                                         intervalMs / 2);
}

void ApiClient::stopLeasing()
{
    m_leasing = false;
    if (m_leaseTimer)
        m_leaseTimer->stop();
    for (ApiRules::LeaseState& lease : m_leases)
        lease.forced = false;
}

void ApiClient::noteAnswerTime(qint64 ms)
{
    // Up at once, down a quarter of the way per answer: one quick answer
    // amid slow ones does not make the next round start late.
    m_answerMs = m_answerMs < 0 ? ms : std::max(ms, (3 * m_answerMs + ms) / 4);
}

RequestTicket ApiClient::liveStartTicket(const QString& key) const
{
    const std::shared_ptr<TicketDesk> desk = m_liveStarts.value(key);
    return desk ? desk->ticket() : RequestTicket();
}

void ApiClient::pumpLeases()
{
    if (!m_leasing)
        return;
    QList<ApiRules::LeaseState> waiting;
    for (const ApiRules::LeaseState& lease : std::as_const(m_leases))
        if (!m_leasesInFlight.contains(lease.key))
            waiting << lease;
    const qint64 now = monotonicMs();
    // A lease still on its way says the server takes at least that long.
    qint64 oldestSentMs = -1;
    for (auto it = m_leasesInFlight.cbegin(); it != m_leasesInFlight.cend(); ++it) {
        const auto lease = m_leases.constFind(it.key());
        if (lease != m_leases.cend() && (oldestSentMs < 0 || lease->triedMs < oldestSentMs))
            oldestSentMs = lease->triedMs;
    }
    ApiRules::LeasePace pace;
    pace.latestIntervalMs = m_leaseIntervalMs;
    pace.answerMs = ApiRules::leaseAnswerMs(m_answerMs, oldestSentMs, now);
    // A slow server gets more leases at once, so that a round of every
    // stream still ends within the interval.
    pace.places = ApiRules::leasePlaces(m_leases.size(), pace.answerMs, m_leaseIntervalMs);
    pace.room = pace.places - int(m_leasesInFlight.size());
    pace.burst = tun::kLeasesInFlightMost;
    const ApiRules::LeasePick pick = ApiRules::pickLeases(waiting, now, pace);
    for (const QString& key : pick.now) {
        const auto entry = m_liveStreams.constFind(key);
        if (entry == m_liveStreams.cend())
            continue;
        ApiRules::LeaseState& lease = m_leases[key];
        const bool forced = lease.forced;
        lease.triedMs = now;
        lease.forced = false;
        lease.notBeforeMs = 0;
        lease.earlyMs = 0;
        // Asked for early with the others begun meanwhile: spread as they were.
        if (forced)
            lease.earlyMs = spreadLeaseMs(key, now + lease.intervalMs, lease.intervalMs);
        const QString cameraId = entry->cameraId;
        const bool publicRtsps = entry->publicRtsps;
        const RequestTicket start = liveStartTicket(key);
        m_leasesInFlight.insert(key, start);
        // The lane with most of its host's connections free.
        const int lane =
            int(std::min_element(m_leasesOnLane.cbegin(), m_leasesOnLane.cend()) - m_leasesOnLane.cbegin());
        ++m_leasesOnLane[size_t(lane)];
        JsonRequest request;
        request.path = QStringLiteral("/v2/api/vms/stream/lease/");
        request.auth = true;
        request.query.addQueryItem(QStringLiteral("path_id"), entry->streamId);
        request.query.addQueryItem(QStringLiteral("camera_id"), cameraId);
        request.timeoutMs = m_leaseTimeoutMs;
        request.lane = lane + 1;
        sendJson(request, [this, key, cameraId, publicRtsps, start, now, lane](const JsonReply& reply) {
            m_leasesInFlight.remove(key);
            --m_leasesOnLane[size_t(lane)];
            if (reply.status > 0)
                noteAnswerTime(monotonicMs() - now);
            // A server that asks for a wait gets it, up to the stream's
            // interval: renewed later than that, the stream would lapse.
            const auto asked = m_leases.find(key);
            if (reply.retryAfterMs > 0 && asked != m_leases.end())
                asked->notBeforeMs = monotonicMs() + std::min(reply.retryAfterMs, asked->intervalMs);
            leaseAnswered(key, cameraId, publicRtsps, start, reply.answer, reply.status);
            pumpLeases();
        });
    }
    // A lease due now that found no place goes when an answer frees one, or
    // when the leases on their way have waited long enough to say the server
    // takes longer, and more go at once.
    qint64 wakeMs = pick.nextDueMs;
    if (pick.dueWaiting > 0) {
        if (oldestSentMs < 0 && !pick.now.isEmpty())
            oldestSentMs = now;
        const qint64 grows = ApiRules::leasePlaceGrowsAtMs(m_leases.size(), oldestSentMs, int(m_leasesInFlight.size()),
                                                           m_leaseIntervalMs);
        if (grows >= 0)
            wakeMs = wakeMs < 0 ? grows : std::min(wakeMs, grows);
    }
    if (wakeMs >= 0)
        m_leaseTimer->start(int(std::clamp<qint64>(wakeMs - now, 0, tun::kLeaseCeiling.count())));
    else
        m_leaseTimer->stop();
}

bool ApiClient::askRestart(const QString& key, const QString& cameraId, const QString& why)
{
    const qint64 now = monotonicMs();
    const auto asked = m_restartAskedAt.constFind(key);
    if (asked != m_restartAskedAt.constEnd() && now - *asked < std::chrono::milliseconds(tun::kRestartSpacing).count())
        return false;
    m_restartAskedAt.insert(key, now);
    qCWarning(lcApi).noquote() << "[route] camera" << cameraId << why << "asking for a restart";
    const QString owner = ownerOf(key);
    if (!owner.isEmpty())
        Q_EMIT ownedStreamNeedsRestart(owner, cameraId);
    else
        Q_EMIT streamNeedsRestart(cameraId);
    return true;
}

void ApiClient::rememberRestart(const QString& key, const QString& cameraId)
{
    m_restartsDue.insert(key, cameraId);
    if (!m_restartTimer) {
        m_restartTimer = new QTimer(this);
        m_restartTimer->setSingleShot(true);
        connect(m_restartTimer, &QTimer::timeout, this, &ApiClient::restartsDue);
    }
    restartsDue();
}

void ApiClient::restartsDue()
{
    // Each waits for the spacing of its own key; the timer runs until the first
    // of them is due.
    const qint64 spacing = std::chrono::milliseconds(tun::kRestartSpacing).count();
    const qint64 now = monotonicMs();
    qint64 next = -1;
    const QHash<QString, QString> due = m_restartsDue;
    for (auto it = due.cbegin(); it != due.cend(); ++it) {
        const qint64 left = m_restartAskedAt.value(it.key()) + spacing - now;
        if (left > 0) {
            next = next < 0 ? left : std::min(next, left);
            continue;
        }
        m_restartsDue.remove(it.key());
        if (!m_liveStreams.contains(it.key()))
            askRestart(it.key(), it.value(), QStringLiteral("lease: the server no longer knows this stream;"));
    }
    if (next >= 0)
        m_restartTimer->start(int(next));
    else
        m_restartTimer->stop();
}

void ApiClient::leaseAnswered(const QString& key, const QString& cameraId, bool publicRtsps, const RequestTicket& start,
                              const QJsonObject& answer, int status)
{
    if (status == 403) {
        stopLeasing();
        return;
    }
    const bool current = m_liveStreams.contains(key) && start.current();
    if (status == 404) {
        // The server no longer knows the stream (it restarted, or let the
        // stream go): renewing it again is pointless, and what the holder
        // plays is ending. Forget it, so that no lease and no stop goes out
        // for it, and have the holder start the camera afresh.
        if (current) {
            m_liveStreams.remove(key);
            m_leases.remove(key);
            if (m_liveStreams.isEmpty())
                stopLeasing();
            // Within the spacing the restart is kept for later, not dropped:
            // the stream would otherwise play on with no lease at all.
            if (!askRestart(key, cameraId, QStringLiteral("lease: the server no longer knows this stream;")))
                rememberRestart(key, cameraId);
        }
        return;
    }
    const QJsonObject payload = unwrapEnvelope(answer);
    if (publicRtsps && m_liveStreams.contains(key)) {
        const StreamTicket ticket = readTicket(payload);
        if (ticket.usable())
            m_liveStreams[key].rtspPassword = ticket.password;
        else if (status >= 1 && status <= 399)
            askRestart(key, cameraId, QStringLiteral("lease returned no ticket;"));
    }
    // The lease time named here holds for this stream from now on; a shorter
    // one also brings every other stream's next renewal forward (pumpLeases).
    const int ttl = jsonInt(payload.value(QStringLiteral("ttl_s")), 0);
    if (ttl > 0 && current && m_leasing) {
        m_leaseIntervalMs = ApiRules::leaseIntervalMs(ttl);
        m_leases[key].intervalMs = m_leaseIntervalMs;
    }
}

} // namespace kvr::api
