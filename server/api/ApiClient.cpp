#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "app/core/NetAddress.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiPolicy.h"
#include "server/api/Tunables.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslError>
#include <QTimer>

namespace {

constexpr char kBuiltInSpaSecret[] = "5e1b7c0a93d24f68b0ce7a19d3f25b84";
constexpr char kRedirectRefused[] = "kvrRedirectRefused";
constexpr char kGuardRefused[] = "kvrGuardRefused";

ApiClient::AddressGuard& addressGuard()
{
    static ApiClient::AddressGuard guard;
    return guard;
}

bool addressAllowed(const QUrl& url)
{
    const auto& guard = addressGuard();
    return !guard || guard(url);
}

} // namespace

void ApiClient::setAddressGuard(AddressGuard guard)
{
    addressGuard() = std::move(guard);
}

namespace {

// The network layer's own text, without any user information of the address.
QString replyErrorText(QNetworkReply* reply)
{
    return redactUrl(reply->errorString());
}

} // namespace

bool ApiClient::addressPermitted(const QUrl& target)
{
    return addressAllowed(target);
}

ApiClient::ApiClient(QObject* parent)
    : LiveStreamService(parent),
      m_transferTimeoutMs(static_cast<int>(ApiTunables::kTransferTimeout.count()))
{
    m_baseUrl = envOr("KVR_API_BASE", defaultBaseUrl());
    m_spaSecret = envOr("KVR_SPA_SECRET", QString::fromLatin1(kBuiltInSpaSecret));
    m_network.setCookieJar(new QNetworkCookieJar(&m_network));
    connect(&m_network, &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply* reply, const QList<QSslError>& errors) {
                // Recorders and relays on the organisation's own network carry
                // self-signed certificates; nowhere else is that tolerated.
                if (isPrivateHost(reply->url().host(QUrl::FullyDecoded)))
                    reply->ignoreSslErrors(errors);
            });
}

ApiClient::~ApiClient()
{
    // Replies still running must not call back into a client that is going away.
    const auto replies = m_network.findChildren<QNetworkReply*>();
    for (QNetworkReply* reply : replies) {
        reply->disconnect(this);
        reply->abort();
    }
    if (m_refreshTimer)
        m_refreshTimer->stop();
    if (m_leaseTimer)
        m_leaseTimer->stop();
}

QString ApiClient::defaultBaseUrl()
{
    return QStringLiteral("https://console.kavira.app");
}

QString ApiClient::builtInRelayHost()
{
    return QStringLiteral("10.20.0.8");
}

void ApiClient::setBaseUrl(const QString& url)
{
    m_baseUrl = url.trimmed();
}

void ApiClient::setSpaSecret(const QString& secret)
{
    m_spaSecret = secret;
}

void ApiClient::setAccessToken(const QString& token)
{
    m_accessToken = token;
}

void ApiClient::setRefreshToken(const QString& token)
{
    m_refreshToken = token;
}

QNetworkRequest ApiClient::makeRequest(const QString& path, bool auth, bool spa, const QUrlQuery& query) const
{
    QUrl url(m_baseUrl, QUrl::TolerantMode);
    url.setPath(path.startsWith(QLatin1Char('/')) ? path : QLatin1Char('/') + path, QUrl::DecodedMode);
    if (!query.isEmpty())
        url.setQuery(encodeQuery(query), QUrl::StrictMode);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // Redirects are followed only within the same scheme, host and port, so the
    // bearer token and the shared secret never travel to another origin.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setTransferTimeout(m_transferTimeoutMs);
    if (spa)
        request.setRawHeader("x-spa-secret", m_spaSecret.toUtf8());
    if (auth && !m_accessToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_accessToken.toUtf8());
    return request;
}

QNetworkReply* ApiClient::send(const QNetworkRequest& request, const QByteArray& verb, const QByteArray& body)
{
    if (!addressAllowed(request.url()))
        return nullptr;
    QNetworkReply* reply = nullptr;
    if (verb == "POST")
        reply = m_network.post(request, body);
    else
        reply = m_network.get(request);
    ++m_outstanding;
    m_peakOutstanding = std::max(m_peakOutstanding, m_outstanding);
    const QUrl origin = request.url();
    connect(reply, &QNetworkReply::redirected, this, [reply, origin](const QUrl& target) {
        const QUrl resolved = origin.resolved(target);
        if (ApiPolicy::sameOrigin(origin, resolved) && addressAllowed(resolved)) {
            Q_EMIT reply->redirectAllowed();
            return;
        }
        reply->setProperty(kRedirectRefused, resolved.host());
        reply->abort();
    });
    return reply;
}

ApiClient::ReplyOutcome ApiClient::finishReply(QNetworkReply* reply)
{
    --m_outstanding;
    ReplyOutcome out;
    out.body = reply->readAll();
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant refusedHost = reply->property(kRedirectRefused);
    if (refusedHost.isValid()) {
        out.status = 0;
        out.transportError = QStringLiteral("The server redirected this request to another address (%1); "
                                            "it was not followed.")
                                 .arg(refusedHost.toString());
    } else if (reply->error() == QNetworkReply::OperationCanceledError && out.status == 0) {
        out.transportError = QStringLiteral("The server did not answer in time.");
    } else if (reply->error() != QNetworkReply::NoError && out.status == 0) {
        out.transportError = replyErrorText(reply);
    }
    reply->deleteLater();
    return out;
}

void ApiClient::failSoon(JsonCallback callback, const QString& error)
{
    QTimer::singleShot(0, this, [callback = std::move(callback), error] {
        if (callback)
            callback(QJsonObject(), 0, error);
    });
}

void ApiClient::postJson(const QString& path, const QJsonObject& body, bool auth, bool spa, JsonCallback callback,
                         const QUrlQuery& query, bool retried)
{
    sendJson(true, path, body, auth, spa, std::move(callback), query, retried);
}

void ApiClient::getJson(const QString& path, bool auth, JsonCallback callback, const QUrlQuery& query, bool retried)
{
    sendJson(false, path, QJsonObject(), auth, false, std::move(callback), query, retried);
}

void ApiClient::sendJson(bool post, const QString& path, const QJsonObject& body, bool auth, bool spa,
                         JsonCallback callback, const QUrlQuery& query, bool retried)
{
    const QNetworkRequest request = makeRequest(path, auth, spa, query);
    const QByteArray payload = post ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray();
    QNetworkReply* reply = send(request, post ? "POST" : "GET", payload);
    if (!reply) {
        failSoon(std::move(callback), QStringLiteral("Connecting to %1 is not allowed.").arg(request.url().host()));
        return;
    }
    QElapsedTimer clock;
    clock.start();
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, post, path, body, auth, spa, query, retried, clock, callback = std::move(callback)]() {
                const ReplyOutcome out = finishReply(reply);
                const QJsonDocument doc = QJsonDocument::fromJson(out.body);
                const QJsonObject answer = doc.isObject() ? doc.object() : QJsonObject();
                const char* tag = post ? "KVR POST" : "KVR GET";

                if (out.status == 401 && auth && !retried && !m_refreshToken.isEmpty()) {
                    qWarning().noquote() << tag << path << "401: renewing the session and retrying; access token"
                                         << tokenSummary(m_accessToken,
                                                         kvr::Clock::instance().nowUtc().toSecsSinceEpoch());
                    refreshSession([this, post, path, body, auth, spa, query, callback, answer](bool ok) {
                        if (ok) {
                            sendJson(post, path, body, auth, spa, callback, query, true);
                        } else if (callback) {
                            callback(answer, 401, QStringLiteral("Your session has expired. Please sign in again."));
                        }
                    });
                    return;
                }

                if (post) {
                    QJsonObject logged = body;
                    redactForLog(logged);
                    qWarning().noquote() << tag << path << "status" << out.status
                                         << QStringLiteral("in %1 ms").arg(clock.elapsed())
                                         << QString::fromUtf8(QJsonDocument(logged).toJson(QJsonDocument::Compact))
                                         << bodySummary(answer, out.body.size());
                } else {
                    qWarning().noquote() << tag << path << "status" << out.status
                                         << QStringLiteral("in %1 ms").arg(clock.elapsed())
                                         << bodySummary(answer, out.body.size());
                }

                QString error;
                if (out.status == 0)
                    error = out.transportError.isEmpty() ? QStringLiteral("No answer from the server.")
                                                         : out.transportError;
                else if (out.status >= 400) {
                    error = errorMessage(unwrapEnvelope(answer));
                    if (error.isEmpty())
                        error = replyErrorText(reply);
                }
                if (callback)
                    callback(answer, out.status, error);
            });
}

void ApiClient::getBytes(const QString& path, bool auth, BytesCallback callback)
{
    QNetworkReply* reply = send(makeRequest(path, auth, false), "GET", QByteArray());
    if (!reply) {
        QTimer::singleShot(0, this, [callback = std::move(callback)] {
            if (callback)
                callback(QByteArray(), 0, QStringLiteral("Connecting there is not allowed."));
        });
        return;
    }
    connect(reply, &QNetworkReply::finished, this, [this, reply, callback = std::move(callback)] {
        const ReplyOutcome out = finishReply(reply);
        if (callback)
            callback(out.body, out.status, out.transportError);
    });
}
