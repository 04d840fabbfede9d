// Sign-in with one-time codes, token refresh and the session keep-alive.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiReaders.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QTimer>

using namespace kvr::core;

namespace kvr::api {

namespace {

qint64 nowSecs()
{
    return kvr::core::Clock::instance().nowUtc().toSecsSinceEpoch();
}

QString hostOf(const QString& base)
{
    return QUrl(base, QUrl::TolerantMode).host();
}

} // namespace

QStringList ApiClient::hostCandidates() const
{
    QString base = m_baseUrl.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base.isEmpty() ? QStringList() : QStringList{base};
}

void ApiClient::login(const QString& username, const QString& password, bool remember, LoginCallback callback,
                      QObject* context)
{
    cancelLogin();
    m_loginDesk.issue();
    loginAt(0, hostCandidates(), username, password, remember, std::move(callback), context);
}

void ApiClient::cancelLogin()
{
    m_loginDesk.supersede();
    // Aborting finishes the reply at once; its answer finds its round over.
    if (QNetworkReply* reply = m_loginReply.data()) {
        m_loginReply.clear();
        reply->abort();
    }
}

void ApiClient::loginAt(int index, const QStringList& candidates, const QString& username, const QString& password,
                        bool remember, LoginCallback callback, QObject* context)
{
    const RequestTicket round = m_loginDesk.ticket();
    callback = round.guard(tied(context, std::move(callback)));
    if (index >= candidates.size()) {
        LoginStart r;
        r.error = cannotReachText(hostOf(candidates.isEmpty() ? m_baseUrl : candidates.last()));
        r.failure = ApiFailure::Unreachable;
        if (callback)
            callback(r);
        return;
    }
    m_baseUrl = candidates.at(index).trimmed();
    const QJsonObject body{{QStringLiteral("username"), username},
                           {QStringLiteral("password"), password},
                           {QStringLiteral("remember_me"), remember},
                           {QStringLiteral("include_refresh_token"), true}};
    auto started = [this, round](QNetworkReply* reply) {
        if (!round.current())
            return;
        m_loginReply = reply;
        connect(reply, &QNetworkReply::requestSent, this, [this, round] {
            if (round.current())
                Q_EMIT loginSent();
        });
    };
    sendJson({.post = true, .path = QStringLiteral("/v2/login/"), .body = body, .spa = true, .started = started},
             [this, index, candidates, username, password, remember, callback, round](const JsonReply& reply) {
                 if (!round.current())
                     return;
                 if (reply.status != 0) {
                     if (callback)
                         callback(parseLoginStart(reply.answer, reply.status, reply.error));
                     return;
                 }
                 if (index + 1 < candidates.size()) {
                     loginAt(index + 1, candidates, username, password, remember, callback);
                     return;
                 }
                 if (callback)
                     callback(unanswered(reply.failure));
             });
}

LoginStart ApiClient::unreachable(ApiFailure failure) const
{
    LoginStart r;
    r.error = cannotReachText(hostOf(m_baseUrl));
    r.failure = failure;
    return r;
}

LoginStart ApiClient::unanswered(ApiFailure failure) const
{
    if (failure != ApiFailure::NoAnswer)
        return unreachable(failure);
    // A server that took the connection and then said nothing is not one
    // that cannot be reached: checking the connection would not help.
    LoginStart r;
    r.error = noAnswerText(ApiRules::endpointText(QUrl(m_baseUrl, QUrl::TolerantMode)));
    r.failure = failure;
    return r;
}

void ApiClient::verifyOtp(const QString& userId, const QString& otp, bool remember, LoginCallback callback,
                          QObject* context)
{
    callback = tied(context, std::move(callback));
    const QJsonObject body{{QStringLiteral("otp"), otp},
                           {QStringLiteral("remember_me"), remember},
                           {QStringLiteral("include_refresh_token"), true},
                           {QStringLiteral("user_id"), jsonIdValue64(userId)}};
    sendJson({.post = true, .path = QStringLiteral("/api/otp/verify/"), .body = body},
             [this, callback](const JsonReply& reply) {
                 // No answer is an outage, not a wrong code: say so, so that the user
                 // can try the same code again.
                 if (callback)
                     callback(reply.status == 0 ? unanswered(reply.failure)
                                                : parseLoginStart(reply.answer, reply.status, reply.error));
             });
}

void ApiClient::resendOtp(const QString& userId, LoginCallback callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    const QJsonObject body{{QStringLiteral("user_id"), jsonIdValue64(userId)}};
    sendJson({.post = true, .path = QStringLiteral("/api/otp/regenerate/"), .body = body},
             [this, callback](const JsonReply& reply) {
                 if (callback)
                     callback(reply.status == 0 ? unanswered(reply.failure)
                                                : parseResendAnswer(reply.answer, reply.status, reply.error));
             });
}

void ApiClient::refresh(LoginCallback callback, QObject* context)
{
    renew(false, tied(context, std::move(callback)));
}

void ApiClient::refreshSession(std::function<void(bool ok)> callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    if (m_refreshToken.isEmpty()) {
        if (callback)
            callback(false);
        return;
    }
    renew(true, [callback](const LoginStart& r) {
        if (callback)
            callback(r.step == LoginStart::SignedIn);
    });
}

void ApiClient::renew(bool forSession, LoginCallback waiter)
{
    m_refreshWaiters.append(std::move(waiter));
    m_renewalForSession = m_renewalForSession || forSession;
    if (m_refreshInFlight)
        return;
    m_refreshInFlight = true;
    const RequestTicket session = m_sessionDesk.ticket();
    const QJsonObject body{{QStringLiteral("refresh_token"), m_refreshToken},
                           {QStringLiteral("include_refresh_token"), true}};
    // Sent once only: the server rotates the token when it reads it, so a
    // second copy after a dropped connection would be taken for a theft.
    sendJson({.post = true, .path = QStringLiteral("/v2/token/refresh/"), .body = body, .spa = true, .once = true},
             [this, session](const JsonReply& reply) {
                 if (!session.current()) {
                     // Signed out while the renewal was under way: its tokens
                     // belong to a session that no longer exists, and sign-out
                     // has already answered its waiters.
                     qCWarning(lcApi).noquote()
                         << "[session] refresh answer after sign-out dropped (HTTP" << reply.status << ")";
                     return;
                 }
                 renewalAnswered(reply);
             });
}

void ApiClient::renewalAnswered(const JsonReply& reply)
{
    m_refreshInFlight = false;
    const int status = reply.status;
    m_lastRefreshStatus = status;
    m_renewalRetryAfterMs = reply.retryAfterMs;
    LoginStart r = parseLoginStart(reply.answer, status, reply.error);
    if (status == 0 || (status >= 400 && !ApiRules::refreshRefused(status))) {
        // No answer, a server error, a time-out or "too many requests" is an
        // outage, not a refusal: a remembered sign-in is kept for a later try.
        r = unreachable(status == 0 ? reply.failure : ApiRules::failureOfStatus(status));
    } else if (status >= 400) {
        r.failure = ApiFailure::Expired;
    }
    if (status < 1 || status > 399 || r.accessToken.isEmpty()) {
        qCWarning(lcApi).noquote() << "[session] refresh refused (HTTP" << status
                                   << "); the refresh token we sent:" << tokenSummary(m_refreshToken, nowSecs());
        if (r.step == LoginStart::SignedIn) {
            r.step = LoginStart::Failed;
            r.failure = ApiFailure::ServerError;
        }
    } else {
        qCWarning(lcApi).noquote() << "[session] refreshed; new access token" << tokenSummary(r.accessToken, nowSecs())
                                   << "; refresh token" << tokenSummary(r.refreshToken, nowSecs());
        holdAccessToken(r.accessToken);
        if (!r.refreshToken.isEmpty() && r.refreshToken != m_refreshToken) {
            m_refreshToken = r.refreshToken;
            Q_EMIT refreshTokenChanged(m_refreshToken);
        }
        r.step = LoginStart::SignedIn;
        r.failure = ApiFailure::None;
        scheduleRefresh(r.expiresIn);
    }
    const bool ok = r.step == LoginStart::SignedIn;
    if (std::exchange(m_renewalForSession, false)) {
        qCWarning(lcApi).noquote() << "[session]" << (ok ? "renewed" : "renewal failed") << "(HTTP"
                                   << m_lastRefreshStatus << ")";
        if (!ok && ApiRules::refreshRefused(m_lastRefreshStatus) && !m_expiryNotified) {
            m_expiryNotified = true;
            // What the sign-in had left, by the server's clock: ours may be
            // set minutes apart from it.
            const qint64 heldSecs =
                m_accessTokenSetMs < 0 ? -1 : (Clock::instance().monotonicMs() - m_accessTokenSetMs) / 1000;
            m_sessionEndReason = ApiRules::sessionEndText(
                ApiRules::tokenSecondsLeft(m_accessToken, reply.serverDate, heldSecs, nowSecs()));
            Q_EMIT sessionExpired();
        }
    }
    const auto waiters = std::exchange(m_refreshWaiters, {});
    for (const auto& waiter : waiters)
        if (waiter)
            waiter(r);
}

void ApiClient::scheduleRefresh(int secs)
{
    if (!m_refreshTimer) {
        m_refreshTimer = new QTimer(this);
        m_refreshTimer->setSingleShot(true);
        connect(m_refreshTimer, &QTimer::timeout, this, &ApiClient::renewalTimedOut);
    }
    m_refreshTimer->start(static_cast<int>(ApiRules::refreshDelayMs(secs)));
}

void ApiClient::renewalTimedOut()
{
    if (m_accessToken.isEmpty())
        return;
    refreshSession([this](bool ok) {
        if (ok || m_accessToken.isEmpty() || m_expiryNotified)
            return;
        // Tried again later, and no sooner than the server asked.
        scheduleRefresh(int(tun::kRefreshRetryLifetime.count()));
        if (m_renewalRetryAfterMs > m_refreshTimer->interval())
            m_refreshTimer->start(int(m_renewalRetryAfterMs));
    });
}

void ApiClient::startSessionKeepAlive(int expiresInSecs)
{
    m_expiryNotified = false;
    setRelay(m_relayHost, m_relayPort);
    prewarmRoutes();
    QStringList names;
    if (QNetworkCookieJar* jar = m_network.cookieJar()) {
        const auto cookies = jar->cookiesForUrl(QUrl(m_baseUrl, QUrl::TolerantMode));
        for (const QNetworkCookie& c : cookies)
            names << QString::fromUtf8(c.name());
    }
    qCWarning(lcApi).noquote() << "[session] signed in; access token" << tokenSummary(m_accessToken, nowSecs())
                               << "; refresh token" << tokenSummary(m_refreshToken, nowSecs()) << "; cookies held:"
                               << (names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1Char(',')));
    scheduleRefresh(expiresInSecs);
}

void ApiClient::fetchMe(std::function<void(const UserProfile&, const QString& error)> callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    getJson(QStringLiteral("/v2/auth/me/"), true,
            [this, callback](const QJsonObject& answer, int status, const QString& error) {
                if (status == 0 || status >= 400) {
                    if (callback)
                        callback(UserProfile(), error);
                    return;
                }
                const QJsonObject env = unwrapEnvelope(answer);
                const QJsonObject u =
                    env.value(QStringLiteral("user")).isObject() ? env.value(QStringLiteral("user")).toObject() : env;
                const UserProfile p = parseUserProfile(u);
                if (!p.cloudRecordingStreamType.isEmpty())
                    m_cloudStreamType = p.cloudRecordingStreamType;
                if (callback)
                    callback(p, QString());
            });
}

} // namespace kvr::api
