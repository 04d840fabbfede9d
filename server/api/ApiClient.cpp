#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "app/core/NetAddress.h"
#include "server/api/ApiJson.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslError>
#include <QTimer>

#include <cstring>

using namespace kvr::core;

namespace kvr::api {

namespace {

constexpr char kBuiltInSpaSecret[] = "5e1b7c0a93d24f68b0ce7a19d3f25b84";
// A reply's mark that its request went out on a connection the server took.
constexpr char kRequestSent[] = "kvrRequestSent";

ApiClient::AddressGuard& addressGuard()
{
    static ApiClient::AddressGuard guard; // set before any request; main thread only
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

// An answer's body as it arrives, kept in the pieces it came in and joined
// once whole (grown in place, a large one would be copied into ever larger
// blocks), and never past its bound.
struct AnswerBody {
    QList<QByteArray> pieces;
    qint64 size = 0;
    bool tooLarge = false;

    void take(QNetworkReply* reply)
    {
        while (!tooLarge && reply->bytesAvailable() > 0) {
            QByteArray piece = reply->read(std::min<qint64>(reply->bytesAvailable(), tun::kAnswerReadBuffer_bytes));
            if (piece.isEmpty())
                break;
            size += piece.size();
            pieces.append(std::move(piece));
            if (size > tun::kMaxAnswer_bytes)
                refuse(reply);
        }
    }
    void refuse(QNetworkReply* reply)
    {
        if (tooLarge)
            return;
        tooLarge = true;
        pieces = {};
        reply->abort(); // finishes the reply, which says so
    }
    QByteArray joined()
    {
        if (pieces.size() == 1)
            return std::exchange(pieces, {}).first();
        QByteArray out;
        out.reserve(size);
        for (const QByteArray& p : std::as_const(pieces))
            out += p;
        pieces = {};
        return out;
    }
};

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
      m_handshakeTimeoutMs(static_cast<int>(tun::kSecureProbeHandshake.count())),
      m_leaseTimeoutMs(static_cast<int>(tun::kLeaseTimeout.count())),
      m_transferTimeoutMs(static_cast<int>(tun::kTransferTimeout.count()))
{
    m_baseUrl = envOr("KVR_API_BASE", defaultBaseUrl());
    m_spaSecret = envOr("KVR_SPA_SECRET", QString::fromLatin1(kBuiltInSpaSecret));
    prepareNetwork(m_network);
    freshCookieJar();
}

ApiClient::~ApiClient()
{
    // Replies still running must not call back into a client that is going away.
    for (QNetworkAccessManager* manager : networks()) {
        const auto replies = manager->findChildren<QNetworkReply*>();
        for (QNetworkReply* reply : replies) {
            reply->disconnect(this);
            reply->abort();
        }
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
    if (url.trimmed() != m_baseUrl)
        m_answerMs = -1; // another server: how fast it answers leases is not known
    m_baseUrl = url.trimmed();
}

void ApiClient::setSpaSecret(const QString& secret)
{
    m_spaSecret = secret;
}

void ApiClient::setAccessToken(const QString& token)
{
    holdAccessToken(token);
}

void ApiClient::holdAccessToken(const QString& token)
{
    m_accessToken = token;
    if (!token.isEmpty())
        m_sessionRefused = false; // a new sign-in
    // From here the token's issue time tells the server's clock.
    m_accessTokenSetMs = token.isEmpty() ? -1 : Clock::instance().monotonicMs();
}

StreamAccess ApiClient::streamAccess() const
{
    return {m_accessToken, ApiRules::origin(QUrl(m_baseUrl, QUrl::TolerantMode))};
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
    request.setTransferTimeout(m_transferTimeoutMs);
    if (spa)
        request.setRawHeader("x-spa-secret", m_spaSecret.toUtf8());
    if (auth && !m_accessToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_accessToken.toUtf8());
    return request;
}

namespace {

// A request body that the network layer can read only once. After a dropped
// connection it then reports the failure instead of sending the request again
// on a new one, which for a rotating refresh token would be a replay that
// the server punishes by ending the session.
class OneShotBody final : public QIODevice {
public:
    explicit OneShotBody(QByteArray data) : m_data(std::move(data)) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_data.size() - m_read + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char* out, qint64 max) override
    {
        const qint64 n = std::min<qint64>(max, m_data.size() - m_read);
        std::memcpy(out, m_data.constData() + m_read, size_t(n));
        m_read += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_read = 0;
};

} // namespace

void ApiClient::prepareNetwork(QNetworkAccessManager& manager)
{
    connect(&manager, &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply* reply, const QList<QSslError>& errors) {
                // Recorders and relays on the organisation's own network carry
                // self-signed certificates; nowhere else is that tolerated.
                if (isPrivateHost(reply->url().host(QUrl::FullyDecoded)))
                    reply->ignoreSslErrors(errors);
            });
}

QList<QNetworkAccessManager*> ApiClient::networks()
{
    QList<QNetworkAccessManager*> all{&m_network};
    for (QNetworkAccessManager* manager : m_leaseNetworks)
        if (manager)
            all << manager;
    return all;
}

QNetworkAccessManager& ApiClient::network(Lane lane)
{
    if (lane <= kMainLane || lane > tun::kLeaseLanes)
        return m_network;
    QNetworkAccessManager*& manager = m_leaseNetworks[size_t(lane - 1)];
    if (!manager) {
        manager = new QNetworkAccessManager(this);
        prepareNetwork(*manager);
        manager->setCookieJar(m_cookieJar);
        m_cookieJar->setParent(this);
    }
    return *manager;
}

void ApiClient::freshCookieJar()
{
    // The managers share one jar, which the client owns: a manager deletes
    // only a jar it is the parent of.
    QNetworkCookieJar* old = m_cookieJar;
    m_cookieJar = new QNetworkCookieJar(this);
    for (QNetworkAccessManager* manager : networks())
        manager->setCookieJar(m_cookieJar);
    m_cookieJar->setParent(this);
    delete old;
}

void ApiClient::exchange(Exchange ex, std::function<void(const ReplyOutcome&)> done)
{
    const QUrl target = ex.request.url();
    if (!addressAllowed(target)) {
        QTimer::singleShot(0, this, [done = std::move(done), host = target.host()] {
            ReplyOutcome out;
            out.networkText = out.words = QStringLiteral("Connecting to %1 is not allowed.").arg(host);
            out.failure = ApiFailure::Unreachable;
            done(out);
        });
        return;
    }
    // Redirects are followed here, within the same scheme, host and port only,
    // so that the bearer token and the shared secret never travel to another
    // origin and every header of the request (its content type too) goes along.
    ex.request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = nullptr;
    QNetworkAccessManager& manager = network(ex.lane);
    if (ex.verb != "POST") {
        reply = manager.get(ex.request);
    } else if (ex.once) {
        QNetworkRequest request = ex.request;
        // HTTP/1.1, where the one-shot body is what keeps it from being sent twice.
        request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        request.setHeader(QNetworkRequest::ContentLengthHeader, ex.body.size());
        auto* body = new OneShotBody(ex.body);
        reply = manager.post(request, body);
        body->setParent(reply);
    } else {
        reply = manager.post(ex.request, ex.body);
    }
    ++m_outstanding;
    m_peakOutstanding = std::max(m_peakOutstanding, m_outstanding);
    // Whether the request went out on a connection the server took (a secure
    // one once its handshake completed): a time-out after that is the server
    // not answering, before it no connection at all.
    for (auto signal : {&QNetworkReply::requestSent, &QNetworkReply::encrypted})
        connect(reply, signal, reply, [reply] { reply->setProperty(kRequestSent, true); });
    if (ex.started)
        ex.started(reply);
    // The body is taken as it comes, in the pieces it came in, and never
    // past its bound: a length told past it ends the request at the head.
    reply->setReadBufferSize(tun::kAnswerReadBuffer_bytes);
    auto body = std::make_shared<AnswerBody>();
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, body] {
        bool told = false;
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&told);
        if (told && length > tun::kMaxAnswer_bytes)
            body->refuse(reply);
    });
    connect(reply, &QIODevice::readyRead, this, [reply, body] { body->take(reply); });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, body, ex = std::move(ex), done = std::move(done)]() mutable {
                --m_outstanding;
                body->take(reply);
                if (body->tooLarge) {
                    reply->deleteLater();
                    ReplyOutcome out;
                    out.networkText = out.words =
                        QStringLiteral("The server's answer was too large to read (more than %1 MB).")
                            .arg(tun::kMaxAnswer_bytes >> 20);
                    out.failure = ApiFailure::ServerError;
                    qCWarning(lcApi).noquote() << "[api]" << redactUrl(reply->url().toString()) << out.networkText;
                    done(out);
                    return;
                }
                ReplyOutcome out;
                out.sent = reply->property(kRequestSent).toBool();
                out.body = body->joined();
                body.reset();
                out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
                if (out.status > 0
                    && ApiRules::answerCutShort(reply->error(), out.body.size(), reply->rawHeader("Content-Length"),
                                                reply->rawHeader("Content-Encoding"))) {
                    // Nothing of an answer that did not come whole is used:
                    // a part of a list would read as the whole list.
                    const QString network = reply->error() != QNetworkReply::NoError
                        ? replyErrorText(reply)
                        : QStringLiteral("%1 of %2 bytes")
                              .arg(out.body.size())
                              .arg(QString::fromLatin1(reply->rawHeader("Content-Length")));
                    qCWarning(lcApi).noquote() << "[api]" << redactUrl(reply->url().toString()) << "HTTP" << out.status
                                               << "cut short:" << network;
                    reply->deleteLater();
                    out = ReplyOutcome();
                    out.sent = true;
                    out.networkText = network;
                    out.words = ApiRules::cutShortText();
                    out.failure = ApiFailure::NoAnswer;
                    done(out);
                    return;
                }
                out.serverDate = ApiRules::httpDate(reply->rawHeader("Date"));
                out.retryAfterMs =
                    ApiRules::retryAfterMs(reply->rawHeader("Retry-After"), out.serverDate, Clock::instance().nowUtc());
                const QUrl location = reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
                if (reply->error() != QNetworkReply::NoError) {
                    out.networkText = replyErrorText(reply);
                    if (out.status == 0) {
                        out.failure = ApiRules::failureOfTransport(reply->error(), out.sent);
                        out.words = ApiRules::transportWords(reply->error());
                        if (reply->error() == QNetworkReply::OperationCanceledError)
                            out.words = out.sent ? QStringLiteral("The server did not answer in time.")
                                                 : QStringLiteral("The server did not take the connection in time.");
                    }
                }
                reply->deleteLater();
                if (ApiRules::isRedirect(out.status) && location.isValid()) {
                    const QUrl from = ex.request.url();
                    const QUrl next = from.resolved(location);
                    if (!ApiRules::sameOrigin(from, next) || !addressAllowed(next)) {
                        out = ReplyOutcome();
                        out.networkText = out.words = QStringLiteral("The server redirected this request to another "
                                                                     "address (%1); it was not followed.")
                                                          .arg(next.host());
                        out.failure = ApiFailure::Unreachable;
                    } else if (ex.redirectsLeft <= 0) {
                        out = ReplyOutcome();
                        out.networkText = out.words =
                            QStringLiteral("The server redirected this request too many times.");
                        out.failure = ApiFailure::ServerError;
                    } else {
                        --ex.redirectsLeft;
                        ex.request.setUrl(next);
                        ex.verb = ApiRules::redirectVerb(out.status, ex.verb);
                        if (ex.verb != "POST")
                            ex.body.clear();
                        exchange(std::move(ex), std::move(done));
                        return;
                    }
                }
                done(out);
            });
}

void ApiClient::postJson(const QString& path, const QJsonObject& body, bool auth, bool spa, JsonCallback callback,
                         const QUrlQuery& query, bool retried, QObject* context)
{
    callback = tied(context, std::move(callback));
    sendJson({.post = true, .path = path, .body = body, .auth = auth, .spa = spa, .query = query, .retried = retried},
             [callback](const JsonReply& r) {
                 if (callback)
                     callback(r.answer, r.status, r.error);
             });
}

void ApiClient::getJson(const QString& path, bool auth, JsonCallback callback, const QUrlQuery& query, bool retried,
                        QObject* context)
{
    callback = tied(context, std::move(callback));
    sendJson({.path = path, .auth = auth, .query = query, .retried = retried}, [callback](const JsonReply& r) {
        if (callback)
            callback(r.answer, r.status, r.error);
    });
}

bool ApiClient::heldForEndedSession(bool auth, const QString& path) const
{
    if (!auth || !m_sessionRefused)
        return false;
    qCWarning(lcApi).noquote() << "[session] not sent, the session has ended:" << path;
    return true;
}

void ApiClient::sendJson(const JsonRequest& req, ReplyCallback callback)
{
    if (heldForEndedSession(req.auth, req.path)) {
        // Answered as a request would be, later, never from within the call.
        QTimer::singleShot(0, this, [callback = std::move(callback)] {
            if (callback)
                callback({QJsonObject(), 0, ApiRules::sessionExpiredText(), ApiFailure::Expired, QDateTime(), 0});
        });
        return;
    }
    QNetworkRequest request = makeRequest(req.path, req.auth, req.spa, req.query);
    if (req.timeoutMs > 0)
        request.setTransferTimeout(int(std::min<qint64>(req.timeoutMs, m_transferTimeoutMs)));
    const QString sentToken = req.auth ? m_accessToken : QString();
    QElapsedTimer clock;
    clock.start();
    Exchange ex{request, req.post ? "POST" : "GET",
                req.post ? QJsonDocument(req.body).toJson(QJsonDocument::Compact) : QByteArray(), req.once};
    ex.lane = req.lane;
    ex.started = req.started;
    exchange(std::move(ex), [this, req, sentToken, clock, callback = std::move(callback)](const ReplyOutcome& out) {
        const QJsonDocument doc = QJsonDocument::fromJson(out.body);
        const QJsonObject answer = doc.isObject() ? doc.object() : QJsonObject();
        const char* tag = req.post ? "KVR POST" : "KVR GET";

        if (out.status == 401 && req.auth && !req.retried && !m_refreshToken.isEmpty()) {
            JsonRequest again = req;
            again.retried = true;
            if (!m_accessToken.isEmpty() && m_accessToken != sentToken) {
                // Renewed while this request was out: its token was the old
                // one. Renewing again would spend the new refresh token.
                qCWarning(lcApi).noquote() << tag << req.path << "401 for an access token renewed meanwhile; retrying";
                sendJson(again, callback);
                return;
            }
            qCWarning(lcApi).noquote() << tag << req.path << "401: renewing the session and retrying; access token"
                                       << tokenSummary(m_accessToken,
                                                       kvr::core::Clock::instance().nowUtc().toSecsSinceEpoch());
            refreshSession([this, again, callback, answer](bool ok) {
                if (ok)
                    sendJson(again, callback);
                else if (callback)
                    callback({answer, 401, ApiRules::sessionExpiredText(), ApiFailure::Expired, QDateTime(), 0});
            });
            return;
        }

        // The network layer's own words are for the log; people are told
        // in the program's (below).
        const QString network =
            out.networkText.isEmpty() ? QString() : QStringLiteral("(network: %1)").arg(out.networkText);
        if (req.post) {
            QJsonObject logged = req.body;
            redactForLog(logged);
            qCWarning(lcApi).noquote() << tag << req.path << "status" << out.status
                                       << QStringLiteral("in %1 ms").arg(clock.elapsed())
                                       << QString::fromUtf8(QJsonDocument(logged).toJson(QJsonDocument::Compact))
                                       << bodySummary(answer, out.body.size()) << network;
        } else {
            qCWarning(lcApi).noquote() << tag << req.path << "status" << out.status
                                       << QStringLiteral("in %1 ms").arg(clock.elapsed())
                                       << bodySummary(answer, out.body.size()) << network;
        }

        JsonReply r{answer, out.status, QString(), ApiFailure::None, out.serverDate, out.retryAfterMs};
        if (out.status == 0) {
            r.error = out.words.isEmpty() ? QStringLiteral("No answer from the server.") : out.words;
            r.failure = out.failure == ApiFailure::None ? ApiFailure::NoAnswer : out.failure;
        } else if (out.status >= 400) {
            r.error = errorMessage(unwrapEnvelope(answer));
            if (r.error.isEmpty())
                r.error = ApiRules::statusWords(out.status);
            r.failure = ApiRules::failureOfStatus(out.status);
        }
        if (callback)
            callback(r);
    });
}

void ApiClient::getBytes(const QString& path, bool auth, BytesCallback callback, QObject* context)
{
    callback = tied(context, std::move(callback));
    exchange({makeRequest(path, auth, false), "GET", {}}, [callback](const ReplyOutcome& out) {
        if (callback)
            callback(out.body, out.status, out.status == 0 ? out.words : QString());
    });
}

} // namespace kvr::api
