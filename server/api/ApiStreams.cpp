// Stream start, route choice, readiness polling, leases and stopping.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiReaders.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QNetworkCookieJar>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <algorithm>

using namespace kvr::core;

namespace kvr::api {

// The shared state of one readiness wait.
struct ReadyPoll {
    StreamInfo info;
    bool live = false;
    RequestTicket start;
    QString key;
    qint64 startedMs = 0;
    ApiClient::StreamCallback callback; // taken out when the wait finishes
    QPointer<QTimer> deadline;          // ends the wait, and a poll in flight, when the budget is spent
    int lastStatus = 0;                 // of the latest readiness answer
};

namespace {

qint64 monotonicMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

StreamInfo supersededInfo()
{
    StreamInfo s;
    s.superseded = true;
    return s;
}

StreamInfo failedInfo(ApiFailure failure)
{
    StreamInfo s;
    s.failure = failure;
    return s;
}

} // namespace

QString ApiClient::liveKey(const QString& owner, const QString& cameraId)
{
    return ApiRules::liveKey(owner, cameraId);
}

QString ApiClient::ownerOf(const QString& key)
{
    return ApiRules::ownerOf(key);
}

void ApiClient::startLiveHls(const QString& cameraId, bool mainStream, StreamCallback callback, const QString& owner,
                             QObject* context)
{
    stopLiveCamera(cameraId, owner);
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), cameraId);
    q.addQueryItem(QStringLiteral("stream_type"), mainStream ? QStringLiteral("MAIN") : QStringLiteral("SUB_STREAM"));
    q.addQueryItem(QStringLiteral("warm_hls"), QStringLiteral("0"));
    startStream(QStringLiteral("/v2/api/start/live/stream/"), cameraId, q, true, tied(context, std::move(callback)),
                owner);
}

void ApiClient::startDevicePlaybackHls(const QString& cameraId, const QDate& date, const QString& startTime,
                                       const QString& endTime, StreamCallback callback, QObject* context)
{
    // The recording that played until now is replaced by this one.
    releasePlaybackStreams();
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), cameraId);
    q.addQueryItem(QStringLiteral("playback_date"), date.toString(Qt::ISODate));
    q.addQueryItem(QStringLiteral("start_time"), playbackTimeText(startTime));
    q.addQueryItem(QStringLiteral("end_time"), playbackTimeText(endTime));
    startStream(QStringLiteral("/v2/api/start/playback/stream/"), cameraId, q, false,
                tied(context, std::move(callback)), QString());
}

void ApiClient::startStream(const QString& path, const QString& cameraId, const QUrlQuery& query, bool live,
                            StreamCallback callback, const QString& owner)
{
    const QString key = liveKey(owner, cameraId);
    const QString scope = ApiRules::streamScope(live, cameraId);
    RequestTicket start;
    if (live) {
        std::shared_ptr<TicketDesk>& desk = m_liveStarts[key];
        if (!desk)
            desk = std::make_shared<TicketDesk>();
        start = desk->issue();
        // The holder starts it again: a restart kept for later is not needed.
        m_restartsDue.remove(key);
    } else {
        start = m_playbackDesk.issue();
    }
    ++m_startsInFlight[scope];
    auto send = [this, path, query, live, cameraId, key, scope, start, callback = std::move(callback)] {
        if (!start.current()) {
            // Overtaken while it waited for a stop: nothing to ask for any more.
            startSettled(scope);
            deliverSuperseded(QString(), scope, callback);
            return;
        }
        qCWarning(lcApi).noquote() << "[api] requesting" << path << "camera" << cameraId;
        if (live)
            m_startSentMs.insert(key, monotonicMs());
        JsonRequest request;
        request.path = path;
        request.auth = true;
        request.query = query;
        sendJson(request, [this, live, cameraId, key, start, callback](const JsonReply& reply) {
            streamAnswered(live, cameraId, key, start, callback, reply);
        });
    };
    // A server that takes a stop after a start of the same stream ends the
    // fresh stream (a camera's live stream, a recorder's recording, keep
    // their ids): the start waits for the stops of its scope to be answered.
    if (m_stopsInFlight.value(scope) > 0) {
        m_waitingStarts[scope].append(std::move(send));
        return;
    }
    send();
}

void ApiClient::deliverSuperseded(const QString& streamId, const QString& scope, StreamCallback callback)
{
    // The server hands out one stream id per camera (and one recording id per
    // recorder), so the id of an overtaken start may be the very stream
    // another holder, or a newer start, plays.
    releaseStream(streamId, scope);
    if (callback)
        callback(supersededInfo(), QString());
}

void ApiClient::releaseStream(const QString& streamId, const QString& scope)
{
    if (streamId.isEmpty() || streamHeld(streamId))
        return;
    if (m_startsInFlight.value(scope) > 0) {
        m_heldBackStops.insert(streamId, scope);
        return;
    }
    sendStop(streamId, scope);
}

void ApiClient::sendStop(const QString& streamId, const QString& scope)
{
    m_heldBackStops.remove(streamId);
    ++m_stopsInFlight[scope];
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("stream_id"), streamId);
    // Answered or not, the stop is over for the starts that wait on it.
    getJson(
        QStringLiteral("/v2/api/stop/live/stream/"), true,
        [this, scope](const QJsonObject&, int, const QString&) { stopAnswered(scope); }, q);
}

void ApiClient::stopAnswered(const QString& scope)
{
    if (--m_stopsInFlight[scope] > 0)
        return;
    m_stopsInFlight.remove(scope);
    const QList<std::function<void()>> starts = m_waitingStarts.take(scope);
    for (const auto& start : starts)
        start();
}

void ApiClient::startSettled(const QString& scope)
{
    if (--m_startsInFlight[scope] > 0)
        return;
    m_startsInFlight.remove(scope);
    QStringList due;
    for (auto it = m_heldBackStops.cbegin(); it != m_heldBackStops.cend(); ++it)
        if (it.value() == scope)
            due << it.key();
    for (const QString& streamId : std::as_const(due)) {
        m_heldBackStops.remove(streamId);
        releaseStream(streamId, scope);
    }
}

void ApiClient::flushHeldBackStops()
{
    const QHash<QString, QString> held = std::exchange(m_heldBackStops, {});
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        if (!streamHeld(it.key()))
            sendStop(it.key(), it.value());
}

void ApiClient::releasePlaybackStreams()
{
    const QSet<QString> held = std::exchange(m_playbackStreams, {});
    for (const QString& streamId : held)
        releaseStream(streamId, ApiRules::streamScope(false, QString()));
}

bool ApiClient::streamHeld(const QString& streamId) const
{
    if (m_playbackStreams.contains(streamId))
        return true;
    for (const StreamInfo& held : m_liveStreams)
        if (held.streamId == streamId)
            return true;
    return false;
}

void ApiClient::streamAnswered(bool live, const QString& cameraId, const QString& key, const RequestTicket& start,
                               StreamCallback callback, const JsonReply& reply)
{
    // A failure that arrives after a newer start or a stop of the same holder
    // must not replace what that newer start shows; a stream it did get is
    // given back.
    const QJsonObject payload = unwrapEnvelope(reply.answer);
    const QString scope = ApiRules::streamScope(live, cameraId);
    if (const auto failed = ApiRules::startFailure(reply.status, reply.error, reply.failure, payload)) {
        startSettled(scope);
        if (!start.current())
            deliverSuperseded(payload.value(QStringLiteral("stream_id")).toVariant().toString(), scope, callback);
        else if (callback)
            callback(failedInfo(failed->failure), failed->text);
        return;
    }
    const StreamTicket ticket = readTicket(payload);
    auto relayStep = [this, live, key, start, callback, payload, cameraId] {
        resolveRelay([this, live, key, start, callback, payload, cameraId](const QString& host, int port,
                                                                           const QString& relayError) {
            routeStream(live, key, start, callback, payload, cameraId, false, relayError.isEmpty(), host, port);
        });
    };
    if (ticket.usable()) {
        const QUrl ticketUrl(ticket.url, QUrl::TolerantMode);
        // An RTSPS ticket's port counts only once a TLS session completes on
        // it; a plain RTSP one's, once it takes the connection.
        auto reached = [this, live, key, start, callback, payload, cameraId, relayStep](bool reachable) {
            if (reachable)
                routeStream(live, key, start, callback, payload, cameraId, true, false, QString(), 0);
            else
                relayStep();
        };
        const bool secure = ticketUrl.scheme().compare(QLatin1String("rtsp"), Qt::CaseInsensitive) != 0;
        probeCached(ticketUrl.host(QUrl::FullyDecoded), ticketUrl.port(tun::kPublicRtspsPort), secure,
                    live && m_secureRouteKeys.contains(key), std::move(reached));
        return;
    }
    relayStep();
}

void ApiClient::routeStream(bool live, const QString& key, const RequestTicket& start, StreamCallback callback,
                            const QJsonObject& payload, const QString& cameraId, bool publicRoute, bool relayRoute,
                            const QString& relayHostName, int relayPortNumber)
{
    const QUrl base(m_baseUrl, QUrl::TolerantMode);
    StreamInfo info;
    info.streamId = payload.value(QStringLiteral("stream_id")).toVariant().toString();
    info.playId = payload.value(QStringLiteral("play_id")).toVariant().toString();
    if (payload.value(QStringLiteral("stream_id")).isDouble())
        info.streamId = jsonIdToString(payload.value(QStringLiteral("stream_id")));
    if (payload.value(QStringLiteral("play_id")).isDouble())
        info.playId = jsonIdToString(payload.value(QStringLiteral("play_id")));
    info.cameraId = cameraId;
    const StreamTicket ticket = readTicket(payload);
    QString via;
    switch (ApiRules::chooseRoute(publicRoute, publicRoute, relayRoute)) {
    case StreamRoute::PublicRtsps:
        info.url = ApiRules::publicRtspsUrl(ticket.url, ticket.user, ticket.password);
        info.publicRtsps = true;
        info.rtspUser = ticket.user;
        info.rtspPassword = ticket.password;
        via = QStringLiteral("public RTSPS %1").arg(redactUrl(ticket.url));
        break;
    case StreamRoute::Relay:
        info.url = ApiRules::relayUrl(envOr("KVR_RTSP_HOST", relayHostName),
                                      ApiRules::portFromText(envOr("KVR_RTSP_PORT", QString::number(relayPortNumber))),
                                      envOr("KVR_RTSP_USER", QStringLiteral("admin")),
                                      envOr("KVR_RTSP_PASS", QStringLiteral("wisp")), info.streamId);
        via = QStringLiteral("company-network RTSP");
        break;
    case StreamRoute::Hls:
    case StreamRoute::None:
        if (info.playId.isEmpty())
            info.playId = info.streamId;
        info.url = ApiRules::hlsUrl(base, info.playId);
        info.hls = true;
        via = QStringLiteral("HLS %1").arg(redactUrl(info.url));
        break;
    }
    qCWarning(lcApi).noquote() << "[route] camera" << cameraId << "via" << via;

    const QString scope = ApiRules::streamScope(live, cameraId);
    if (!live) {
        // A recording answered after a newer playback start or a stop must
        // not replace what the stage shows now; the server stream it opened
        // is given back all the same, unless the newer start takes its id.
        if (!start.current()) {
            startSettled(scope);
            deliverSuperseded(info.streamId, scope, callback);
            return;
        }
        if (!info.streamId.isEmpty())
            m_playbackStreams.insert(info.streamId);
        startSettled(scope);
        if (info.hls) {
            waitUntilReady(info, false, start, callback, QString());
            return;
        }
        if (callback)
            callback(info, QString());
        return;
    }
    if (!start.current()) {
        startSettled(scope);
        deliverSuperseded(info.streamId, scope, callback);
        return;
    }
    m_liveStreams.insert(key, info);
    if (info.publicRtsps)
        m_secureRouteKeys.insert(key);
    else
        m_secureRouteKeys.remove(key);
    startSettled(scope);
    beginLease(key, jsonInt(payload.value(QStringLiteral("ttl_s")), 0));
    if (info.hls) {
        waitUntilReady(info, true, start, callback, key);
        return;
    }
    if (callback)
        callback(info, QString());
}

void ApiClient::waitUntilReady(const StreamInfo& info, bool live, const RequestTicket& start, StreamCallback callback,
                               const QString& key)
{
    auto poll = std::make_shared<ReadyPoll>();
    poll->info = info;
    poll->live = live;
    poll->start = start;
    poll->key = key.isEmpty() ? info.cameraId : key;
    poll->startedMs = monotonicMs();
    poll->callback = std::move(callback);
    poll->deadline = new QTimer(this);
    poll->deadline->setSingleShot(true);
    connect(poll->deadline, &QTimer::timeout, this, [this, weak = std::weak_ptr<ReadyPoll>(poll)] {
        if (const auto p = weak.lock()) {
            const auto timedOut = ApiRules::readinessTimedOut(p->lastStatus);
            finishReady(p, failedInfo(timedOut.failure), timedOut.text, false);
        }
    });
    pollReady(poll);
}

bool ApiClient::pollCurrent(const ReadyPoll& poll) const
{
    return poll.start.current() && (!poll.live || m_liveStreams.contains(poll.key));
}

void ApiClient::pollReady(const std::shared_ptr<ReadyPoll>& poll)
{
    if (!poll->callback)
        return;
    if (!pollCurrent(*poll)) {
        finishReady(poll, StreamInfo(), QString(), true);
        return;
    }
    // The budget is a deadline: a poll that hangs near its end does not
    // stretch it, and no poll starts after it.
    const qint64 left = tun::kReadyLimit.count() - (monotonicMs() - poll->startedMs);
    if (left <= 0) {
        const auto timedOut = ApiRules::readinessTimedOut(poll->lastStatus);
        finishReady(poll, failedInfo(timedOut.failure), timedOut.text, false);
        return;
    }
    poll->deadline->start(int(left));
    JsonRequest request;
    request.path = QStringLiteral("/v2/api/vms/stream/ready/");
    request.auth = true;
    request.query.addQueryItem(QStringLiteral("path_id"), poll->info.streamId);
    request.query.addQueryItem(QStringLiteral("play_id"), poll->info.playId);
    request.query.addQueryItem(QStringLiteral("camera_id"), poll->info.cameraId);
    request.timeoutMs = left;
    sendJson(request, [this, poll](const JsonReply& reply) {
        if (!poll->callback)
            return; // the deadline came first
        const qint64 elapsed = monotonicMs() - poll->startedMs;
        poll->lastStatus = reply.status;
        qint64 pause = 0;
        const auto step = ApiRules::readinessStep(reply.status, reply.failure, unwrapEnvelope(reply.answer),
                                                  reply.retryAfterMs, elapsed, &pause);
        if (!step) {
            QTimer::singleShot(int(pause), this, [this, poll] { pollReady(poll); });
        } else if (step->failure == ApiFailure::None) {
            qCWarning(lcApi).noquote() << QStringLiteral("[hls] ready after %1 ms").arg(elapsed);
            finishReady(poll, poll->info, QString(), false);
        } else {
            finishReady(poll, failedInfo(step->failure), step->text, false);
        }
    });
}

void ApiClient::finishReady(const std::shared_ptr<ReadyPoll>& poll, const StreamInfo& info, const QString& error,
                            bool superseded)
{
    StreamCallback callback = std::exchange(poll->callback, nullptr);
    if (poll->deadline)
        poll->deadline->deleteLater();
    if (!callback)
        return;
    // The outcome counts only for the start that is still current.
    if (superseded || !pollCurrent(*poll)) {
        callback(supersededInfo(), QString());
        return;
    }
    callback(info, error);
}

void ApiClient::stopLiveCamera(const QString& cameraId, const QString& owner)
{
    const QString key = liveKey(owner, cameraId);
    m_liveStarts.remove(key);
    m_restartsDue.remove(key);
    m_startSentMs.remove(key);
    const auto it = m_liveStreams.find(key);
    if (it == m_liveStreams.end())
        return;
    const QString streamId = it->streamId;
    m_liveStreams.erase(it);
    m_leases.remove(key);
    if (m_liveStreams.isEmpty())
        stopLeasing();
    releaseStream(streamId, ApiRules::streamScope(true, cameraId));
}

void ApiClient::stopLive(const QString& owner)
{
    if (owner.isEmpty()) {
        m_playbackDesk.supersede();
        releasePlaybackStreams();
    }
    QStringList keys;
    for (auto it = m_liveStreams.cbegin(); it != m_liveStreams.cend(); ++it)
        if (ownerOf(it.key()) == owner)
            keys << it.key();
    for (auto it = m_liveStarts.cbegin(); it != m_liveStarts.cend(); ++it)
        if (ownerOf(it.key()) == owner && !keys.contains(it.key()))
            keys << it.key();
    for (const QString& key : std::as_const(keys))
        stopLiveCamera(ApiRules::cameraOf(key), owner);
    if (m_liveStreams.isEmpty())
        stopLeasing();
}

void ApiClient::stopAllLive()
{
    m_playbackDesk.supersede();
    releasePlaybackStreams();
    QSet<QString> owners;
    for (auto it = m_liveStreams.cbegin(); it != m_liveStreams.cend(); ++it)
        owners.insert(ownerOf(it.key()));
    for (auto it = m_liveStarts.cbegin(); it != m_liveStarts.cend(); ++it)
        owners.insert(ownerOf(it.key()));
    for (const QString& owner : std::as_const(owners))
        stopLive(owner);
    // Nothing of this session is held any more: what waited for a start to
    // settle goes now, while the session can still ask.
    flushHeldBackStops();
    stopLeasing();
}

void ApiClient::logout()
{
    stopAllLive();
    if (m_refreshTimer)
        m_refreshTimer->stop();
    holdAccessToken(QString());
    m_refreshToken.clear();
    // Answers of the session that ends here must not bring its tokens back,
    // and its cookies must not follow the next user.
    m_sessionDesk.supersede();
    // A catalogue still loading belongs to the user who signed out.
    supersedeCatalog();
    freshCookieJar();
    if (m_refreshInFlight) {
        m_refreshInFlight = false;
        m_renewalForSession = false;
        LoginStart signedOut;
        signedOut.error = QStringLiteral("Signed out.");
        signedOut.failure = ApiFailure::Expired;
        const auto waiters = std::exchange(m_refreshWaiters, {});
        QTimer::singleShot(0, this, [waiters, signedOut] {
            for (const auto& waiter : waiters)
                if (waiter)
                    waiter(signedOut);
        });
    }
}

} // namespace kvr::api
