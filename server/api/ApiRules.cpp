#include "server/api/ApiRules.h"

#include "server/api/ApiJson.h"
#include "server/api/Tunables.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace kvr::api {

namespace ApiRules {

qint64 refreshDelayMs(qint64 lifetimeSecs)
{
    if (lifetimeSecs < 1)
        return tun::kRefreshUnknownLifetime.count();
    const qint64 ceilingSecs = std::chrono::duration_cast<std::chrono::seconds>(tun::kRefreshCeiling).count();
    const qint64 secs = std::min<qint64>(
        std::max<qint64>(tun::kRefreshFloor.count(), 3 * std::min(lifetimeSecs, 4 * ceilingSecs) / 4), ceilingSecs);
    return secs * 1000;
}

qint64 leaseIntervalMs(qint64 ttlSecs)
{
    if (ttlSecs < 1)
        return tun::kLeaseUnknown.count();
    const qint64 ms = std::min<qint64>(ttlSecs, tun::kLeaseCeiling.count()) * 500;
    return std::clamp<qint64>(ms, tun::kLeaseFloor.count(), tun::kLeaseCeiling.count());
}

LeasePick pickLeases(QList<LeaseState> waiting, qint64 nowMs, const LeasePace& pace)
{
    std::sort(waiting.begin(), waiting.end(), [](const LeaseState& a, const LeaseState& b) {
        return a.triedMs != b.triedMs ? a.triedMs < b.triedMs : a.key < b.key;
    });
    const int places = std::max(1, pace.places);
    QList<qint64> dues;
    dues.reserve(waiting.size());
    int fellDue = 0;
    for (qsizetype ahead = 0; ahead < waiting.size(); ++ahead) {
        const LeaseState& lease = waiting.at(ahead);
        const qint64 lead = qint64(ahead) * pace.answerMs / places;
        dues << (lease.forced ? std::numeric_limits<qint64>::min()
                              : std::max(lease.triedMs + std::min(lease.intervalMs, pace.latestIntervalMs)
                                             - std::max(lead, lease.earlyMs),
                                         lease.notBeforeMs));
        fellDue += !lease.forced && dues.last() <= nowMs ? 1 : 0;
    }
    const int onTheirWay = places - pace.room;
    int room = std::max(pace.room, std::min(pace.burst, fellDue) - onTheirWay);
    LeasePick pick;
    for (qsizetype ahead = 0; ahead < waiting.size(); ++ahead) {
        const LeaseState& lease = waiting.at(ahead);
        const qint64 due = dues.at(ahead);
        if (due <= nowMs && room > 0) {
            pick.now << lease.key;
            --room;
        } else if (due <= nowMs) {
            ++pick.dueWaiting;
        } else if (due > nowMs && (pick.nextDueMs < 0 || due < pick.nextDueMs)) {
            // One due now and left without a place goes when an answer frees one.
            pick.nextDueMs = due;
        }
    }
    return pick;
}

qint64 firstRenewalEarlyMs(qint64 dueMs, const QList<qint64>& othersDueMs, int perStep, qint64 stepMs, qint64 mostMs)
{
    if (stepMs <= 0)
        return 0;
    qint64 early = 0;
    while (early + stepMs <= mostMs) {
        const qint64 at = dueMs - early;
        const auto inStep = std::count_if(othersDueMs.cbegin(), othersDueMs.cend(),
                                          [at, stepMs](qint64 due) { return due > at - stepMs && due <= at; });
        if (inStep < perStep)
            break;
        early += stepMs;
    }
    return early;
}

int leasePlaces(qsizetype streams, qint64 answerMs, qint64 intervalMs)
{
    if (streams < 1 || answerMs <= 0 || intervalMs <= 0)
        return tun::kLeasesInFlight;
    const qint64 needed = (qint64(streams) * answerMs + intervalMs - 1) / intervalMs;
    return int(std::clamp<qint64>(needed, tun::kLeasesInFlight, tun::kLeasesInFlightMost));
}

qint64 leaseAnswerMs(qint64 answeredMs, qint64 oldestSentMs, qint64 nowMs)
{
    return std::max<qint64>({0, answeredMs, oldestSentMs >= 0 ? nowMs - oldestSentMs : 0});
}

qint64 leasePlaceGrowsAtMs(qsizetype streams, qint64 oldestSentMs, int inFlight, qint64 intervalMs)
{
    if (streams < 1 || oldestSentMs < 0 || intervalMs <= 0 || inFlight >= tun::kLeasesInFlightMost)
        return -1;
    // leasePlaces() gives inFlight + 1 once streams x answer > inFlight x interval.
    return oldestSentMs + qint64(inFlight) * intervalMs / qint64(streams) + 1;
}

qint64 readinessDelayMs(qint64 pollAfterMs)
{
    return std::clamp<qint64>(pollAfterMs, tun::kReadyPollMin.count(), tun::kReadyPollMax.count());
}

bool refreshRefused(int status)
{
    return status >= 400 && status <= 499 && status != 408 && status != 429;
}

QString sessionExpiredText()
{
    return QStringLiteral("Your session has expired. Please sign in again.");
}

QString sessionEndText(qint64 secsLeft)
{
    if (secsLeft >= tun::kEarlyEndThreshold.count()) {
        const qint64 minutes = (secsLeft + 59) / 60;
        return QStringLiteral("The server ended this session early: the sign-in still had %1 minute%2 left. "
                              "This happens when the same account signs in somewhere else (another device or "
                              "the website).")
            .arg(minutes)
            .arg(secsLeft > 60 ? QStringLiteral("s") : QString());
    }
    return QStringLiteral("Your sign-in ran out and could not be renewed.");
}

qint64 tokenSecondsLeft(const QString& accessToken, const QDateTime& serverNow, qint64 heldSecs, qint64 localNowSecs)
{
    const QJsonObject claims = tokenClaims(accessToken);
    const qint64 exp = claims.value(QStringLiteral("exp")).toInteger(0);
    if (exp == 0)
        return 0;
    if (serverNow.isValid())
        return exp - serverNow.toSecsSinceEpoch();
    const qint64 iat = claims.value(QStringLiteral("iat")).toInteger(0);
    if (iat != 0 && heldSecs >= 0)
        return exp - (iat + heldSecs);
    return exp - localNowSecs;
}

QDateTime httpDate(const QByteArray& value)
{
    // Servers write the zone as "GMT", which the RFC 2822 reader does not take.
    QString text = QString::fromLatin1(value).simplified();
    if (text.endsWith(QLatin1String(" GMT")))
        text = text.left(text.size() - 4) + QStringLiteral(" +0000");
    const QDateTime t = QDateTime::fromString(text, Qt::RFC2822Date);
    return t.isValid() ? t.toUTC() : QDateTime();
}

qint64 retryAfterMs(const QByteArray& value, const QDateTime& serverNow, const QDateTime& localNow)
{
    const QByteArray text = value.trimmed();
    if (text.isEmpty())
        return 0;
    const qint64 longest = tun::kRetryAfterLongest.count();
    bool number = false;
    const qint64 secs = text.toLongLong(&number, 10);
    if (number)
        return secs <= 0 ? 0 : secs >= longest / 1000 ? longest : secs * 1000;
    const QDateTime until = httpDate(text);
    if (!until.isValid())
        return 0;
    const qint64 ms = (serverNow.isValid() ? serverNow : localNow).msecsTo(until);
    return std::clamp<qint64>(ms, 0, longest);
}

QString startErrorText(int status, const QString& errorText)
{
    if (!errorText.isEmpty() && errorText != QLatin1String("Error"))
        return errorText;
    if (status == 429)
        return QStringLiteral("The server is busy opening cameras. Try again in a moment.");
    if (status == 409)
        return QStringLiteral("The server could not open this camera right now.");
    return QStringLiteral("Could not start the stream (HTTP %1).").arg(status);
}

std::optional<StreamOutcome> startFailure(int status, const QString& transportText, ApiFailure transport,
                                          const QJsonObject& payload)
{
    // A 401 whose renewal was refused: the session ended, whatever the
    // server said of the token.
    if (transport == ApiFailure::Expired)
        return StreamOutcome{transportText, ApiFailure::Expired};
    if (status == 0 || status >= 400) {
        // The server's own words, else a sentence for the status: the network
        // layer's "Error transferring <address> - server replied: ..." is no
        // text for a person.
        const QString serverText = status == 0 ? QString() : errorMessage(payload);
        return StreamOutcome{startErrorText(status, status == 0 ? transportText : serverText),
                             streamFailure(status, transport, serverText)};
    }
    if (payload.contains(QStringLiteral("accepted")) && payload.value(QStringLiteral("accepted")) != QJsonValue(true)) {
        const QString m = errorMessage(payload);
        return StreamOutcome{m.isEmpty() ? QStringLiteral("The server refused to open this camera.") : m,
                             streamFailure(status, ApiFailure::None, m)};
    }
    if (payload.value(QStringLiteral("stream_id")).toVariant().toString().isEmpty())
        return StreamOutcome{QStringLiteral("The server did not return a stream id."), ApiFailure::ServerError};
    return std::nullopt;
}

std::optional<StreamOutcome> readinessStep(int status, ApiFailure transport, const QJsonObject& payload,
                                           qint64 retryAfterMs, qint64 elapsedMs, qint64* pauseMs)
{
    if (transport == ApiFailure::Expired)
        return StreamOutcome{sessionExpiredText(), ApiFailure::Expired};
    if (status >= 400 && status <= 499 && status != 408 && status != 429) {
        const QString text = errorMessage(payload);
        return StreamOutcome{!text.isEmpty() && text != QLatin1String("Error")
                                 ? text
                                 : QStringLiteral("The server could not prepare this stream (HTTP %1).").arg(status),
                             streamFailure(status, transport, text)};
    }
    if (status >= 1 && status <= 399 && payload.value(QStringLiteral("ready")) == QJsonValue(true))
        return StreamOutcome{};
    if (elapsedMs > tun::kReadyLimit.count())
        return readinessTimedOut(status);
    *pauseMs = std::max(
        readinessDelayMs(jsonInt(payload.value(QStringLiteral("poll_after_ms")), int(tun::kReadyPollDefault.count()))),
        retryAfterMs);
    return std::nullopt;
}

StreamOutcome readinessTimedOut(int lastStatus)
{
    if (lastStatus == 429)
        return {startErrorText(429, QString()), ApiFailure::Throttled};
    return {QStringLiteral("The server didn\u2019t finish preparing this video in time. Try again."),
            ApiFailure::NoAnswer};
}

ApiFailure failureOfStatus(int status)
{
    if (status == 403)
        return ApiFailure::Forbidden;
    if (status == 404)
        return ApiFailure::NotFound;
    if (status == 408)
        return ApiFailure::NoAnswer;
    if (status == 429)
        return ApiFailure::Throttled;
    if (status >= 500 || status < 400)
        return ApiFailure::ServerError;
    return ApiFailure::Refused;
}

ApiFailure failureOfTransport(QNetworkReply::NetworkError error, bool requestSent)
{
    switch (error) {
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out
        // Out of time before the request left: no connection was made.
        return requestSent ? ApiFailure::NoAnswer : ApiFailure::Unreachable;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ContentReSendError: // dropped, and not sent again
    case QNetworkReply::TemporaryNetworkFailureError:
        return ApiFailure::NoAnswer;
    default:
        return ApiFailure::Unreachable;
    }
}

QString transportWords(QNetworkReply::NetworkError error)
{
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("The server refused the connection.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("The server\u2019s address could not be found.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the transfer time-out
        return QStringLiteral("The server did not answer in time.");
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::ContentReSendError:
        return QStringLiteral("The connection to the server dropped before it answered.");
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("The secure connection to the server could not be made.");
    default:
        return QStringLiteral("The server can\u2019t be reached.");
    }
}

bool answerCutShort(QNetworkReply::NetworkError error, qint64 received, const QByteArray& contentLength,
                    const QByteArray& contentEncoding)
{
    // The network layer's own failures (connection, time-out) number below
    // those of proxies; content and protocol errors come with whole answers.
    if (error != QNetworkReply::NoError && error < QNetworkReply::ProxyConnectionRefusedError)
        return true;
    const QByteArray coding = contentEncoding.trimmed().toLower();
    if (!coding.isEmpty() && coding != "identity")
        return false;
    bool told = false;
    const qint64 length = contentLength.trimmed().toLongLong(&told);
    return told && received < length;
}

QString cutShortText()
{
    return QStringLiteral("The server's answer was cut short.");
}

QString statusWords(int status)
{
    if (status >= 500)
        return QStringLiteral("The server failed to answer this request (HTTP %1).").arg(status);
    return QStringLiteral("The server refused this request (HTTP %1).").arg(status);
}

ApiFailure streamFailure(int status, ApiFailure transport, const QString& serverText)
{
    if (serverText.contains(QLatin1String("offline"), Qt::CaseInsensitive))
        return ApiFailure::Offline;
    if (status == 0)
        return transport;
    if (status < 400)
        return ApiFailure::Refused; // answered, but not accepted
    return failureOfStatus(status);
}

bool isOutage(ApiFailure failure)
{
    return failure == ApiFailure::Unreachable || failure == ApiFailure::NoAnswer || failure == ApiFailure::Throttled
        || failure == ApiFailure::ServerError;
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

QByteArray redirectVerb(int status, const QByteArray& verb)
{
    if (status == 303 || ((status == 301 || status == 302) && verb == "POST"))
        return "GET";
    return verb;
}

QString liveKey(const QString& owner, const QString& cameraId)
{
    return owner.isEmpty() ? cameraId : owner + QChar(0x1F) + cameraId;
}

QString ownerOf(const QString& key)
{
    const int at = key.indexOf(QChar(0x1F));
    return at < 0 ? QString() : key.left(at);
}

QString cameraOf(const QString& key)
{
    const int at = key.indexOf(QChar(0x1F));
    return at < 0 ? key : key.mid(at + 1);
}

QString streamScope(bool live, const QString& cameraId)
{
    // U+001F never stands in a camera id alone, so no camera shares it.
    return live ? cameraId : QStringLiteral("\x1frecording");
}

bool cacheFresh(qint64 ageMs, bool reachable)
{
    if (ageMs < 0)
        return false;
    return ageMs < (reachable ? tun::kReachableCacheAge : tun::kUnreachableCacheAge).count();
}

QString reachText(Reach reach)
{
    switch (reach) {
    case Reach::Reachable:
        return QStringLiteral("reachable");
    case Reach::Unreachable:
        return QStringLiteral("not reachable");
    case Reach::SecureStalled:
        return QStringLiteral("not reachable: the secure connection did not complete in time");
    case Reach::SecureFailed:
        return QStringLiteral("not reachable: the secure connection did not complete");
    }
    return {};
}

QList<Endpoint> relayCandidates(const QString& configuredHost, int relayPort, const QString& baseHost,
                                const QString& builtInHost)
{
    if (!configuredHost.isEmpty())
        return {{configuredHost, relayPort}};
    QList<Endpoint> list{{baseHost, relayPort}};
    if (baseHost != builtInHost)
        list.append({builtInHost, tun::kDefaultRelayPort});
    return list;
}

Endpoint splitHostPort(const QString& text, int defaultPort)
{
    const QString t = text.trimmed();
    // "[v6]" or "[v6]:port": the address is what the brackets hold.
    const qsizetype close = t.startsWith(QLatin1Char('[')) ? t.indexOf(QLatin1Char(']')) : -1;
    if (close > 1) {
        const QString host = t.mid(1, close - 1);
        if (close == t.size() - 1)
            return {host, defaultPort};
        bool ok = false;
        const int port = t.at(close + 1) == QLatin1Char(':') ? t.mid(close + 2).toInt(&ok, 10) : 0;
        if (ok)
            return {host, port};
        return {t, defaultPort};
    }
    const qsizetype colon = t.lastIndexOf(QLatin1Char(':'));
    if (colon >= 1) {
        bool ok = false;
        const int port = t.mid(colon + 1).toInt(&ok, 10);
        if (ok)
            return {t.left(colon), port};
    }
    return {t, defaultPort};
}

QString hostPortText(const QString& host, int port)
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

QString relayUnreachableText(const QList<Endpoint>& candidates)
{
    QStringList parts;
    for (const auto& [host, port] : candidates)
        parts << hostPortText(host, port);
    return QStringLiteral("The video relay isn\u2019t reachable from here (%1); video uses the public HLS route.")
        .arg(parts.join(QStringLiteral(", ")));
}

int portFromText(const QString& text)
{
    bool ok = false;
    const int port = text.toInt(&ok, 10);
    return ok ? port : 0;
}

StreamRoute chooseRoute(bool ticketUsable, bool ticketReachable, bool relayReachable)
{
    if (ticketUsable && ticketReachable)
        return StreamRoute::PublicRtsps;
    if (relayReachable)
        return StreamRoute::Relay;
    return StreamRoute::Hls;
}

QString serverRoot(const QUrl& base)
{
    return base.scheme() + QStringLiteral("://") + base.authority(QUrl::FullyEncoded);
}

QString origin(const QUrl& address)
{
    if (address.host().isEmpty())
        return {};
    QUrl out;
    out.setScheme(address.scheme().toLower());
    out.setHost(address.host());
    out.setPort(address.port());
    return out.toString(QUrl::FullyEncoded);
}

int explicitPort(const QUrl& address)
{
    const int port = address.port();
    const QString scheme = address.scheme().toLower();
    if ((scheme == QLatin1String("http") && port == 80) || (scheme == QLatin1String("https") && port == 443))
        return -1;
    return port;
}

QString endpointText(const QUrl& address)
{
    const QString host = address.host(QUrl::FullyDecoded);
    if (host.isEmpty())
        return {};
    const int port = address.port(address.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ? 80 : 443);
    const QString shown = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

QString hlsUrl(const QUrl& base, const QString& playId)
{
    return serverRoot(base) + QStringLiteral("/mediamtx/hls/") + playId + QStringLiteral("/index.m3u8");
}

QString publicRtspsUrl(const QString& ticketUrl, const QString& user, const QString& password)
{
    QUrl u(ticketUrl, QUrl::TolerantMode);
    u.setUserName(user);
    u.setPassword(password);
    return u.toString(QUrl::FullyEncoded);
}

QString relayUrl(const QString& host, int port, const QString& user, const QString& password, const QString& streamId)
{
    // A link-local relay's zone ("fe80::10%eth0"): the player's engine hands
    // the host between the brackets to the resolver as it is written, so the
    // zone goes in as it is, not percent-encoded ("%25eth0") as URLs write
    // it, which the resolver refuses. Only a plain interface name is taken
    // so; anything else is left to the URL's own encoding.
    static const QRegularExpression plainZone(QStringLiteral("^%[A-Za-z0-9_.-]{1,64}$"));
    const qsizetype at = host.indexOf(QLatin1Char('%'));
    const QString zone = at > 0 && host.contains(QLatin1Char(':')) ? host.mid(at) : QString();
    const bool rawZone = !zone.isEmpty() && plainZone.match(zone).hasMatch();
    QUrl u;
    u.setScheme(QStringLiteral("rtsp"));
    u.setHost(rawZone ? host.left(at) : host);
    u.setPort(port);
    u.setUserName(user);
    u.setPassword(password);
    u.setPath(QLatin1Char('/') + streamId);
    QString out = u.toString(QUrl::FullyEncoded);
    if (rawZone) {
        const qsizetype close = out.indexOf(QLatin1Char(']'), out.indexOf(QLatin1Char('[')));
        if (close > 0)
            out.insert(close, zone);
    }
    return out;
}

bool sameOrigin(const QUrl& from, const QUrl& to)
{
    const QString fs = from.scheme().toLower();
    const QString ts = to.scheme().toLower();
    const int defaultPort = fs == QLatin1String("https") ? 443 : 80;
    return fs == ts && from.host().compare(to.host(), Qt::CaseInsensitive) == 0
        && from.port(defaultPort) == to.port(defaultPort);
}

} // namespace ApiRules

} // namespace kvr::api
