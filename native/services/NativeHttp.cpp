#include "native/services/NativeHttp.h"

#include "app/core/Clock.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/DigestAuth.h"
#include "native/services/Tunables.h"

#include <QElapsedTimer>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace tun = kvr::native::tun;

namespace NativeHttp {

namespace {

enum class Method { Get, Post, Put };

// The Digest challenge last met on each device (by its base address), and
// how many answers its nonce has given: the next request answers it at
// once, as Digest allows, instead of first being refused. The login itself
// is never kept here. Main thread only.
struct KeptChallenge {
    NativeDigest::Digest digest;
    QByteArray text; // the challenge as the device wrote it
    quint32 uses = 0;
    bool proven = false; // an answer to it was accepted
};
QHash<QString, KeptChallenge>& keptChallenges()
{
    static QHash<QString, KeptChallenge> kept;
    return kept;
}
// A bound for a fleet whose addresses keep changing; far above any fleet.
constexpr qsizetype kMaxKeptChallenges = 4096;

QString challengeKey(const Native::Device& device)
{
    return NativeBrand::baseUrl(device).toLower();
}

void keepChallenge(const QString& key, const NativeDigest::Digest& digest, const QByteArray& text)
{
    QHash<QString, KeptChallenge>& kept = keptChallenges();
    if (kept.size() >= kMaxKeptChallenges && !kept.contains(key))
        kept.clear();
    kept.insert(key, KeptChallenge{digest, text, 0});
}

struct RequestState {
    Native::Device device; // copy: the login answered to a challenge
    Auth auth = None;
    Method method = Method::Get;
    QByteArray payload;
    QNetworkRequest request; // as built, without an answer to a challenge
    QByteArray target;       // the request target as it goes on the wire
    QString key;             // of the device's kept challenge
    qint64 cap = 0;
    QNetworkAccessManager* manager = nullptr;
    QPointer<QNetworkReply> reply;
    Callback done;
    QByteArray challenge;      // the last WWW-Authenticate seen during the exchange
    QByteArray nonce;          // of the Digest answer the current attempt carries; empty when none
    bool fromKept = false;     // that answer is to the kept challenge
    bool answered = false;     // the one answer to a fresh challenge has been sent
    bool receiverGone = false; // the answer's receiver was destroyed
    bool finished = false;
    // Of the current attempt.
    QByteArray body;
    bool overflow = false; // body passed the cap
    bool redirectRefused = false;
};
using StatePtr = std::shared_ptr<RequestState>;

Native::Failure networkFailure(QNetworkReply* reply)
{
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return Native::Failure::ConnectionRefused;
    case QNetworkReply::RemoteHostClosedError:
        return Native::Failure::ConnectionClosed;
    case QNetworkReply::HostNotFoundError:
        return Native::Failure::HostNotFound;
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return Native::Failure::Timeout;
    default:
        return Native::Failure::Network;
    }
}

QString networkErrorText(QNetworkReply* reply)
{
    switch (reply->error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("Connection refused.");
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("The device closed the connection.");
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("Host not found.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError:
        return QStringLiteral("No answer in time.");
    default:
        return reply->errorString();
    }
}

// Runs the function from the event loop, unless the receiver goes first.
void later(const QObject* receiver, std::function<void()> fn)
{
    if (receiver)
        QTimer::singleShot(0, receiver, std::move(fn));
    else
        QTimer::singleShot(0, std::move(fn));
}

// Calls back later (never before the call returns), as every request does.
void failLater(const QObject* receiver, Callback done, const QString& error)
{
    later(receiver, [done = std::move(done), error] {
        Response r;
        r.error = error;
        r.failure = Native::Failure::BadAddress;
        done(r);
    });
}

QString requestProblem(const Native::Device& d, const QString& path)
{
    const QString hostProblem = NativeAddress::problem(d.ip);
    if (!hostProblem.isEmpty())
        return hostProblem;
    if (!NativeAddress::isValidPort(d.httpPort))
        return QStringLiteral("The HTTP port %1 is not a valid port.").arg(d.httpPort);
    if (!path.startsWith(QLatin1Char('/')))
        return QStringLiteral("The request path must begin with \"/\".");
    return QString();
}

QByteArray methodName(Method m)
{
    switch (m) {
    case Method::Get:
        return "GET";
    case Method::Post:
        return "POST";
    case Method::Put:
        return "PUT";
    }
    return {};
}

void attempt(const StatePtr& state, const QByteArray& authorization);

// Builds the response of the attempt that ends the request and hands it over.
void deliver(const StatePtr& state, QNetworkReply* reply)
{
    state->finished = true;
    Response r;
    if (!state->overflow && reply->isOpen())
        state->body += reply->readAll();
    if (state->overflow || state->body.size() > state->cap) {
        r.error =
            QStringLiteral("The device sent more than %1 MB; the answer was dropped.").arg(state->cap / (1024 * 1024));
        r.failure = Native::Failure::TooLarge;
    } else if (state->redirectRefused) {
        r.error = QStringLiteral("The device redirected the request to another address.");
        r.failure = Native::Failure::Redirected;
    } else {
        const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        r.status = code.isValid() ? code.toInt() : 0;
        r.body = state->body;
        r.contentType = reply->rawHeader("Content-Type");
        r.wwwAuthenticate = reply->rawHeader("WWW-Authenticate");
        if (r.wwwAuthenticate.isEmpty())
            r.wwwAuthenticate = state->challenge;
        if (r.status == 0) {
            r.error = networkErrorText(reply);
            r.failure = networkFailure(reply);
        } else if (r.status == 401) {
            r.failure = Native::Failure::LoginRefused;
        } else if (!r.ok()) {
            r.failure = Native::Failure::HttpStatus;
        }
    }
    // A device's answer about its own clock is compared with this moment,
    // not with when the whole exchange it belongs to ended.
    if (r.status != 0)
        r.receivedAt = kvr::Clock::instance().nowUtc();
    reply->deleteLater();
    state->manager->deleteLater();
    state->done(r);
}

// Decides, when an attempt ends, whether the login exchange goes on.
void onAttemptFinished(const StatePtr& state, QNetworkReply* reply)
{
    if (state->finished || reply != state->reply)
        return;
    if (state->receiverGone) {
        state->finished = true;
        reply->deleteLater();
        state->manager->deleteLater();
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray text = reply->rawHeader("WWW-Authenticate");
    QHash<QString, KeptChallenge>& kept = keptChallenges();
    // The kept challenge this attempt answered, unless another request has
    // kept a newer one meanwhile.
    const auto answeredKept = [&]() {
        const auto it = kept.find(state->key);
        return it != kept.end() && !state->nonce.isEmpty() && it->digest.nonce == state->nonce ? it : kept.end();
    };
    if (status != 401 || state->overflow || state->redirectRefused) {
        if (status >= 200 && status <= 299)
            if (const auto it = answeredKept(); it != kept.end())
                it->proven = true;
        deliver(state, reply);
        return;
    }
    if (!text.isEmpty())
        state->challenge = text;
    const QList<NativeDigest::Challenge> challenges = NativeDigest::parseChallenges(text);
    const std::optional<NativeDigest::Digest> digest = NativeDigest::pickDigest(challenges);

    if (state->fromKept) {
        // A refused answer to a challenge that was accepted before, or one
        // the device calls stale, means the nonce expired (or the device
        // restarted): back to the request without credentials, whose
        // refusal brings a fresh challenge. A refused first answer to a
        // challenge means the login is wrong, and is not tried again.
        const auto it = answeredKept();
        const bool expired = (it != kept.end() && it->proven) || (digest && digest->stale);
        if (it != kept.end())
            kept.erase(it);
        state->fromKept = false;
        state->nonce.clear();
        if (expired) {
            reply->deleteLater();
            attempt(state, QByteArray());
        } else {
            deliver(state, reply);
        }
        return;
    }
    if (state->answered) {
        // The one answer was refused: the login is wrong, and a kept
        // challenge would only make the next request fail twice.
        kept.remove(state->key);
        deliver(state, reply);
        return;
    }
    // Any mode keeps what it learns, so that a Digest request that follows
    // answers at once.
    if (digest)
        keepChallenge(state->key, *digest, text);
    if (state->auth != Digest || (!digest && !NativeDigest::offersBasic(challenges))) {
        deliver(state, reply);
        return;
    }
    state->answered = true;
    reply->deleteLater();
    if (digest) {
        KeptChallenge& k = kept[state->key];
        state->nonce = k.digest.nonce;
        attempt(state,
                NativeDigest::answer(k.digest, methodName(state->method), state->target, state->payload,
                                     state->device.username, state->device.password, ++k.uses,
                                     NativeDigest::newCnonce()));
    } else {
        attempt(state, NativeDigest::basicAnswer(state->device.username, state->device.password));
    }
}

void attempt(const StatePtr& state, const QByteArray& authorization)
{
    QNetworkRequest request = state->request;
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    state->body.clear();
    state->overflow = false;
    state->redirectRefused = false;

    QNetworkReply* reply = nullptr;
    switch (state->method) {
    case Method::Get:
        reply = state->manager->get(request);
        break;
    case Method::Post:
        reply = state->manager->post(request, state->payload);
        break;
    case Method::Put:
        reply = state->manager->put(request, state->payload);
        break;
    }
    state->reply = reply;

    const QUrl url = request.url();
    const QString host = url.host();
    const int port = url.port(80);
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, state, host, port](const QUrl& to) {
        const bool sameDevice = to.host() == host
            && ((to.scheme() == QLatin1String("http") && to.port(80) == port) || to.scheme() == QLatin1String("https"));
        if (sameDevice) {
            Q_EMIT reply->redirectAllowed();
        } else {
            state->redirectRefused = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > state->cap && !state->overflow) {
            state->overflow = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state] {
        if (state->overflow)
            return;
        state->body += reply->read(state->cap + 1 - state->body.size());
        if (state->body.size() > state->cap || (reply->bytesAvailable() > 0 && state->body.size() >= state->cap)) {
            state->overflow = true;
            state->body.clear();
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::finished, state->manager,
                     [reply, state] { onAttemptFinished(state, reply); });
}

void send(Method method, const Native::Device& device, const QString& path, const QByteArray& payload,
          const QByteArray& contentType, Auth auth, const QObject* receiver, Callback done,
          std::chrono::milliseconds timeout, qint64 cap)
{
    if (!done)
        done = [](const Response&) {};
    const QString problem = requestProblem(device, path);
    if (!problem.isEmpty()) {
        failLater(receiver, std::move(done), problem);
        return;
    }

    auto state = std::make_shared<RequestState>();
    state->device = device;
    state->auth = auth;
    state->method = method;
    state->payload = payload;
    state->cap = cap;
    state->done = std::move(done);
    state->key = challengeKey(device);
    state->manager = new QNetworkAccessManager;
    // Devices are spoken to directly; a proxy would see the credentials.
    state->manager->setProxy(QNetworkProxy::NoProxy);

    const QUrl url(NativeBrand::baseUrl(device) + path, QUrl::TolerantMode);
    // The target as the network layer writes it on the request line, which
    // is what a Digest answer covers.
    QUrl target = url;
    QUrl::FormattingOptions format =
        QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment | QUrl::RemoveUserInfo | QUrl::FullyEncoded;
    if (target.path().isEmpty())
        target.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    state->target = target.toEncoded(format);

    QNetworkRequest& request = state->request;
    request.setUrl(url);
    request.setTransferTimeout(int(timeout.count()));
    // A redirect is followed only to the same device (HTTP or HTTPS), so a
    // device cannot send the login on to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    if (auth == Basic)
        request.setRawHeader("Authorization", NativeDigest::basicAnswer(device.username, device.password));

    if (receiver) {
        // The answer is for the receiver alone: when it goes, so does the
        // request (the end handler then calls nobody).
        QObject::connect(receiver, &QObject::destroyed, state->manager, [state] {
            state->receiverGone = true;
            if (state->reply)
                state->reply->abort();
        });
    }

    // The login exchange is run here rather than by the network layer's
    // authenticator, which forgets the device's challenge with each request
    // and so has every request refused once before it is answered.
    QByteArray authorization;
    if (auth == Digest) {
        const auto kept = keptChallenges().find(state->key);
        if (kept != keptChallenges().end()) {
            state->nonce = kept->digest.nonce;
            state->fromKept = true;
            state->challenge = kept->text;
            authorization =
                NativeDigest::answer(kept->digest, methodName(method), state->target, payload, device.username,
                                     device.password, ++kept->uses, NativeDigest::newCnonce());
        }
    }
    attempt(state, authorization);
}

} // namespace

void get(const Native::Device& device, const QString& path, Auth auth, const QObject* receiver, Callback done,
         std::chrono::milliseconds timeout, BodyLimit limit)
{
    const qint64 cap = limit == BodyLimit::Picture ? tun::kMaxPictureBody_bytes : tun::kMaxAnswerBody_bytes;
    send(Method::Get, device, path, QByteArray(), QByteArray(), auth, receiver, std::move(done), timeout, cap);
}

void post(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
          Auth auth, const QObject* receiver, Callback done, std::chrono::milliseconds timeout)
{
    send(Method::Post, device, path, body, contentType, auth, receiver, std::move(done), timeout,
         tun::kMaxAnswerBody_bytes);
}

void put(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
         Auth auth, const QObject* receiver, Callback done, std::chrono::milliseconds timeout)
{
    send(Method::Put, device, path, body, contentType, auth, receiver, std::move(done), timeout,
         tun::kMaxAnswerBody_bytes);
}

void getAll(const Native::Device& device, const QStringList& paths, Auth auth, const QObject* receiver,
            ListCallback done, std::chrono::milliseconds timeout)
{
    if (!done)
        done = [](const QList<Response>&) {};
    if (paths.isEmpty()) {
        done({});
        return;
    }
    struct FanOut {
        QList<Response> answers;
        int pending = 0;
        ListCallback done;
    };
    auto fan = std::make_shared<FanOut>();
    fan->answers.resize(paths.size());
    fan->pending = int(paths.size());
    fan->done = std::move(done);
    for (int i = 0; i < paths.size(); ++i) {
        get(
            device, paths.at(i), auth, receiver,
            [fan, i](const Response& r) {
                fan->answers[i] = r;
                if (--fan->pending == 0)
                    fan->done(fan->answers);
            },
            timeout);
    }
}

void tcpProbe(const QString& host, int port, std::chrono::milliseconds timeout, const QObject* receiver,
              TcpCallback done)
{
    if (!done)
        done = [](bool, int) {};
    if (!NativeAddress::isValid(host) || !NativeAddress::isValidPort(port)) {
        later(receiver, [done = std::move(done)] { done(false, 0); });
        return;
    }
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto* socket = new QTcpSocket;
    socket->setProxy(QNetworkProxy::NoProxy);
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    auto finished = std::make_shared<bool>(false);
    auto report = [socket, clock, finished, done = std::move(done)](bool connected) {
        if (*finished)
            return;
        *finished = true;
        const int elapsed = int(qMin<qint64>(clock->elapsed(), std::numeric_limits<int>::max()));
        socket->abort();
        socket->deleteLater();
        done(connected, elapsed);
    };
    if (receiver) {
        QObject::connect(receiver, &QObject::destroyed, socket, [socket, finished] {
            *finished = true; // nobody is called
            socket->abort();
            socket->deleteLater();
        });
    }
    QObject::connect(timer, &QTimer::timeout, socket, [report] { report(false); });
    QObject::connect(socket, &QTcpSocket::connected, socket, [report] { report(true); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [report] { report(false); });
    timer->start(timeout);
    socket->connectToHost(host, quint16(port));
}

} // namespace NativeHttp
