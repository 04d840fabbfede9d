// Stream start, route choice, readiness polling, leases and stopping.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiPolicy.h"
#include "server/api/ApiReaders.h"
#include "server/api/Tunables.h"

#include <QNetworkCookieJar>
#include <QSet>
#include <QTimer>

// The shared state of one readiness wait.
struct ReadyPoll {
    StreamInfo info;
    bool live = false;
    int generation = 0;
    QString key;
    qint64 startedMs = 0;
    ApiClient::StreamCallback callback;
};

namespace {

qint64 monotonicMs()
{
    return kvr::Clock::instance().monotonicMs();
}

StreamInfo supersededInfo()
{
    StreamInfo s;
    s.superseded = true;
    return s;
}

} // namespace

QString ApiClient::liveKey(const QString& owner, const QString& cameraId)
{
    return ApiPolicy::liveKey(owner, cameraId);
}

QString ApiClient::ownerOf(const QString& key)
{
    return ApiPolicy::ownerOf(key);
}

void ApiClient::startLiveHls(const QString& cameraId, bool mainStream, StreamCallback callback, const QString& owner,
                             QObject* context)
{
    callback = tied(context, std::move(callback));
    stopLiveCamera(cameraId, owner);
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), cameraId);
    q.addQueryItem(QStringLiteral("stream_type"), mainStream ? QStringLiteral("MAIN") : QStringLiteral("SUB_STREAM"));
    q.addQueryItem(QStringLiteral("warm_hls"), QStringLiteral("0"));
    startStream(QStringLiteral("/v2/api/start/live/stream/"), q, true, std::move(callback), owner);
}

void ApiClient::startDevicePlaybackHls(const QString& cameraId, const QDate& date, const QString& startTime,
                                       const QString& endTime, StreamCallback callback)
{
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("camera_id"), cameraId);
    q.addQueryItem(QStringLiteral("playback_date"), date.toString(Qt::ISODate));
    q.addQueryItem(QStringLiteral("start_time"), playbackTimeText(startTime));
    q.addQueryItem(QStringLiteral("end_time"), playbackTimeText(endTime));
    startStream(QStringLiteral("/v2/api/start/playback/stream/"), q, false, std::move(callback), QString());
}

void ApiClient::startStream(const QString& path, const QUrlQuery& query, bool live, StreamCallback callback,
                            const QString& owner)
{
    const QString cameraId = query.queryItemValue(QStringLiteral("camera_id"), QUrl::FullyDecoded);
    const QString key = liveKey(owner, cameraId);
    int generation = 0;
    if (live) {
        generation = ++m_liveGeneration;
        m_liveStartGen.insert(key, generation);
    } else {
        generation = ++m_playbackGeneration;
    }
    qWarning().noquote() << "[api] requesting" << path << "camera" << cameraId;
    getJson(
        path, true,
        [this, live, cameraId, key, generation, callback = std::move(callback)](const QJsonObject& answer, int status,
                                                                                const QString& error) {
            streamAnswered(live, cameraId, key, generation, callback, answer, status, error);
        },
        query);
}

bool ApiClient::startCurrent(bool live, const QString& key, int generation) const
{
    if (live)
        return m_liveStartGen.value(key, 0) == generation;
    return m_playbackGeneration == generation;
}

void ApiClient::deliverSuperseded(bool live, const QString& streamId, StreamCallback callback)
{
    if (live && !streamId.isEmpty()) {
        QUrlQuery q;
        q.addQueryItem(QStringLiteral("stream_id"), streamId);
        getJson(QStringLiteral("/v2/api/stop/live/stream/"), true, {}, q);
    }
    if (callback)
        callback(supersededInfo(), QString());
}

void ApiClient::streamAnswered(bool live, const QString& cameraId, const QString& key, int generation,
                               StreamCallback callback, const QJsonObject& answer, int status, const QString& error)
{
    // A failure that arrives after a newer start or a stop of the same holder
    // must not replace what that newer start shows.
    const QJsonObject payload = unwrapEnvelope(answer);
    if (status == 0 || status >= 400) {
        if (!startCurrent(live, key, generation)) {
            deliverSuperseded(live, QString(), callback);
            return;
        }
        // The server's own words, else a sentence for the status: the network
        // layer's "Error transferring <address> - server replied: ..." is no
        // text for a person.
        if (callback)
            callback(StreamInfo(), ApiPolicy::startErrorText(status, status == 0 ? error : errorMessage(payload)));
        return;
    }
    if (payload.contains(QStringLiteral("accepted")) && payload.value(QStringLiteral("accepted")) != QJsonValue(true)) {
        if (!startCurrent(live, key, generation)) {
            deliverSuperseded(live, payload.value(QStringLiteral("stream_id")).toString(), callback);
            return;
        }
        const QString m = errorMessage(payload);
        if (callback)
            callback(StreamInfo(), m.isEmpty() ? QStringLiteral("The server refused to open this camera.") : m);
        return;
    }
    const StreamTicket ticket = readTicket(payload);
    auto relayStep = [this, live, key, generation, callback, payload, cameraId] {
        resolveRelay([this, live, key, generation, callback, payload, cameraId](const QString& host, int port,
                                                                                const QString& relayError) {
            routeStream(live, key, generation, callback, payload, cameraId, false, relayError.isEmpty(), host, port);
        });
    };
    if (ticket.usable()) {
        const QUrl ticketUrl(ticket.url, QUrl::TolerantMode);
        probeEndpoint(ticketUrl.host(QUrl::FullyDecoded), ticketUrl.port(ApiTunables::kPublicRtspsPort),
                      [this, live, key, generation, callback, payload, cameraId, relayStep](bool reachable) {
                          if (reachable)
                              routeStream(live, key, generation, callback, payload, cameraId, true, false, QString(),
                                          0);
                          else
                              relayStep();
                      });
        return;
    }
    relayStep();
}

void ApiClient::routeStream(bool live, const QString& key, int generation, StreamCallback callback,
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
    if (info.streamId.isEmpty()) {
        if (!startCurrent(live, key, generation)) {
            deliverSuperseded(live, QString(), callback);
            return;
        }
        if (callback)
            callback(StreamInfo(), QStringLiteral("The server did not return a stream id."));
        return;
    }
    const StreamTicket ticket = readTicket(payload);
    QString via;
    switch (ApiPolicy::chooseRoute(publicRoute, publicRoute, relayRoute)) {
    case ApiPolicy::Route::PublicRtsps:
        info.url = ApiPolicy::publicRtspsUrl(ticket.url, ticket.user, ticket.password);
        info.publicRtsps = true;
        info.rtspUser = ticket.user;
        info.rtspPassword = ticket.password;
        via = QStringLiteral("public RTSPS %1").arg(redactUrl(ticket.url));
        break;
    case ApiPolicy::Route::Relay:
        info.url =
            ApiPolicy::relayUrl(envOr("KVR_RTSP_HOST", relayHostName),
                                ApiPolicy::portFromText(envOr("KVR_RTSP_PORT", QString::number(relayPortNumber))),
                                envOr("KVR_RTSP_USER", QStringLiteral("admin")),
                                envOr("KVR_RTSP_PASS", QStringLiteral("wisp")), info.streamId);
        via = QStringLiteral("company-network RTSP");
        break;
    case ApiPolicy::Route::Hls:
        if (info.playId.isEmpty())
            info.playId = info.streamId;
        info.url = ApiPolicy::hlsUrl(base, info.playId);
        info.hls = true;
        via = QStringLiteral("HLS %1").arg(redactUrl(info.url));
        break;
    }
    qWarning().noquote() << "[route] camera" << cameraId << "via" << via;

    if (!live) {
        if (info.hls) {
            waitUntilReady(info, false, generation, callback, QString());
            return;
        }
        // A recording answered after a newer playback start or a stop must
        // not replace what the stage shows now.
        if (!startCurrent(false, key, generation)) {
            deliverSuperseded(false, QString(), callback);
            return;
        }
        if (callback)
            callback(info, QString());
        return;
    }
    if (!startCurrent(true, key, generation)) {
        deliverSuperseded(true, info.streamId, callback);
        return;
    }
    m_liveStreams.insert(key, info);
    beginLease(jsonInt(payload.value(QStringLiteral("ttl_s")), 0));
    if (info.hls) {
        waitUntilReady(info, true, generation, callback, key);
        return;
    }
    if (callback)
        callback(info, QString());
}

void ApiClient::waitUntilReady(const StreamInfo& info, bool live, int generation, StreamCallback callback,
                               const QString& key)
{
    auto poll = std::make_shared<ReadyPoll>();
    poll->info = info;
    poll->live = live;
    poll->generation = generation;
    poll->key = key.isEmpty() ? info.cameraId : key;
    poll->startedMs = monotonicMs();
    poll->callback = std::move(callback);
    pollReady(poll);
}

void ApiClient::pollReady(const std::shared_ptr<ReadyPoll>& poll)
{
    const bool current = poll->live
        ? (m_liveStreams.contains(poll->key) && startCurrent(true, poll->key, poll->generation))
        : startCurrent(false, QString(), poll->generation);
    if (!current) {
        finishReady(poll, StreamInfo(), QString(), true);
        return;
    }
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("path_id"), poll->info.streamId);
    q.addQueryItem(QStringLiteral("play_id"), poll->info.playId);
    q.addQueryItem(QStringLiteral("camera_id"), poll->info.cameraId);
    getJson(
        QStringLiteral("/v2/api/vms/stream/ready/"), true,
        [this, poll](const QJsonObject& answer, int status, const QString&) {
            const QJsonObject payload = unwrapEnvelope(answer);
            const qint64 elapsed = monotonicMs() - poll->startedMs;
            if (status >= 400 && status <= 499 && status != 408 && status != 429) {
                const QString text = errorMessage(payload);
                finishReady(poll, StreamInfo(),
                            !text.isEmpty() && text != QLatin1String("Error")
                                ? text
                                : QStringLiteral("The server could not prepare this stream (HTTP %1).").arg(status),
                            false);
                return;
            }
            if (status >= 1 && status <= 399 && payload.value(QStringLiteral("ready")) == QJsonValue(true)) {
                qWarning().noquote() << QStringLiteral("[hls] ready after %1 ms").arg(elapsed);
                finishReady(poll, poll->info, QString(), false);
                return;
            }
            if (elapsed > ApiTunables::kReadyLimit.count()) {
                finishReady(poll, StreamInfo(),
                            QStringLiteral("The server didn\u2019t finish preparing this video in time. Try again."),
                            false);
                return;
            }
            const qint64 delay = ApiPolicy::readinessDelayMs(
                jsonInt(payload.value(QStringLiteral("poll_after_ms")), int(ApiTunables::kReadyPollDefault.count())));
            QTimer::singleShot(int(delay), this, [this, poll] { pollReady(poll); });
        },
        q);
}

void ApiClient::finishReady(const std::shared_ptr<ReadyPoll>& poll, const StreamInfo& info, const QString& error,
                            bool superseded)
{
    StreamCallback callback = std::exchange(poll->callback, nullptr);
    if (!callback)
        return;
    // The outcome counts only for the start that is still current.
    const bool current = poll->live
        ? (m_liveStreams.contains(poll->key) && startCurrent(true, poll->key, poll->generation))
        : startCurrent(false, QString(), poll->generation);
    if (superseded || !current) {
        callback(supersededInfo(), QString());
        return;
    }
    callback(info, error);
}

void ApiClient::beginLease(int ttlSecs)
{
    if (!m_leaseTimer) {
        m_leaseTimer = new QTimer(this);
        m_leaseTimer->setSingleShot(false);
        connect(m_leaseTimer, &QTimer::timeout, this, &ApiClient::leaseStep);
    }
    m_leaseTimer->start(int(ApiPolicy::leaseIntervalMs(ttlSecs)));
}

void ApiClient::leaseStep()
{
    for (auto it = m_liveStreams.cbegin(); it != m_liveStreams.cend(); ++it) {
        const QString key = it.key();
        const QString cameraId = it->cameraId;
        const bool publicRtsps = it->publicRtsps;
        QUrlQuery q;
        q.addQueryItem(QStringLiteral("path_id"), it->streamId);
        q.addQueryItem(QStringLiteral("camera_id"), cameraId);
        getJson(
            QStringLiteral("/v2/api/vms/stream/lease/"), true,
            [this, key, cameraId, publicRtsps](const QJsonObject& answer, int status, const QString&) {
                leaseAnswered(key, cameraId, publicRtsps, answer, status);
            },
            q);
    }
}

void ApiClient::leaseAnswered(const QString& key, const QString& cameraId, bool publicRtsps, const QJsonObject& answer,
                              int status)
{
    if (status == 403) {
        if (m_leaseTimer)
            m_leaseTimer->stop();
        return;
    }
    const QJsonObject payload = unwrapEnvelope(answer);
    if (publicRtsps && m_liveStreams.contains(key)) {
        const StreamTicket ticket = readTicket(payload);
        if (ticket.usable()) {
            m_liveStreams[key].rtspPassword = ticket.password;
        } else if (status >= 1 && status <= 399) {
            const QDateTime now = kvr::Clock::instance().nowUtc();
            const auto asked = m_restartAskedAt.constFind(key);
            if (asked == m_restartAskedAt.constEnd() || asked->secsTo(now) >= ApiTunables::kRestartSpacing.count()) {
                m_restartAskedAt.insert(key, now);
                qWarning().noquote() << "[route] camera" << cameraId
                                     << "lease returned no ticket; asking for a restart";
                const QString owner = ownerOf(key);
                if (!owner.isEmpty())
                    Q_EMIT ownedStreamNeedsRestart(owner, cameraId);
                else
                    Q_EMIT streamNeedsRestart(cameraId);
            }
        }
    }
    const int ttl = jsonInt(payload.value(QStringLiteral("ttl_s")), 0);
    if (ttl > 0 && m_leaseTimer)
        m_leaseTimer->setInterval(int(ApiPolicy::leaseIntervalMs(ttl)));
}

void ApiClient::stopLiveCamera(const QString& cameraId, const QString& owner)
{
    const QString key = liveKey(owner, cameraId);
    m_liveStartGen.remove(key);
    const auto it = m_liveStreams.find(key);
    if (it == m_liveStreams.end())
        return;
    const QString streamId = it->streamId;
    m_liveStreams.erase(it);
    if (m_liveStreams.isEmpty() && m_leaseTimer)
        m_leaseTimer->stop();
    for (const StreamInfo& other : std::as_const(m_liveStreams))
        if (other.streamId == streamId)
            return;
    QUrlQuery q;
    q.addQueryItem(QStringLiteral("stream_id"), streamId);
    getJson(QStringLiteral("/v2/api/stop/live/stream/"), true, {}, q);
}

void ApiClient::stopLive(const QString& owner)
{
    if (owner.isEmpty())
        ++m_playbackGeneration;
    QStringList keys;
    for (auto it = m_liveStreams.cbegin(); it != m_liveStreams.cend(); ++it)
        if (ownerOf(it.key()) == owner)
            keys << it.key();
    for (auto it = m_liveStartGen.cbegin(); it != m_liveStartGen.cend(); ++it)
        if (ownerOf(it.key()) == owner && !keys.contains(it.key()))
            keys << it.key();
    for (const QString& key : std::as_const(keys))
        stopLiveCamera(ApiPolicy::cameraOf(key), owner);
    if (m_liveStreams.isEmpty() && m_leaseTimer)
        m_leaseTimer->stop();
}

void ApiClient::stopAllLive()
{
    ++m_playbackGeneration;
    QSet<QString> owners;
    for (auto it = m_liveStreams.cbegin(); it != m_liveStreams.cend(); ++it)
        owners.insert(ownerOf(it.key()));
    for (auto it = m_liveStartGen.cbegin(); it != m_liveStartGen.cend(); ++it)
        owners.insert(ownerOf(it.key()));
    for (const QString& owner : std::as_const(owners))
        stopLive(owner);
    if (m_leaseTimer)
        m_leaseTimer->stop();
}

void ApiClient::logout()
{
    stopAllLive();
    if (m_refreshTimer)
        m_refreshTimer->stop();
    m_accessToken.clear();
    m_refreshToken.clear();
    // Answers of the session that ends here must not bring its tokens back,
    // and its cookies must not follow the next user.
    ++m_sessionGeneration;
    // A catalogue still loading belongs to the user who signed out.
    supersedeCatalog();
    m_network.setCookieJar(new QNetworkCookieJar(&m_network));
    if (m_refreshInFlight) {
        m_refreshInFlight = false;
        const auto waiters = std::exchange(m_refreshWaiters, {});
        QTimer::singleShot(0, this, [waiters] {
            for (const auto& waiter : waiters)
                if (waiter)
                    waiter(false);
        });
    }
}
