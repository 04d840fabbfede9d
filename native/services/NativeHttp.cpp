#include "native/services/NativeHttp.h"

#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/Tunables.h"

#include <QAuthenticator>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace NativeHttp {

namespace {

enum class Method { Get, Post, Put };

struct RequestState {
    Native::Device device; // copy: the login answered to a challenge
    Auth auth = None;
    qint64 cap = 0;
    QByteArray challenge; // the last WWW-Authenticate seen during the exchange
    QByteArray body;
    bool answered = false; // the one challenge answer has been given
    bool overflow = false; // body passed the cap
    bool redirectRefused = false;
    bool done = false;
    bool receiverGone = false; // the answer's receiver was destroyed
};

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

void send(Method method, const Native::Device& device, const QString& path, const QByteArray& payload,
          const QByteArray& contentType, Auth auth, const QObject* receiver, Callback done, int timeoutMs, qint64 cap)
{
    if (!done)
        done = [](const Response&) {};
    const QString problem = requestProblem(device, path);
    if (!problem.isEmpty()) {
        failLater(receiver, std::move(done), problem);
        return;
    }

    auto* manager = new QNetworkAccessManager;
    // Devices are spoken to directly; a proxy would see the credentials.
    manager->setProxy(QNetworkProxy::NoProxy);

    const QUrl url(NativeBrand::baseUrl(device) + path, QUrl::TolerantMode);
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    // A redirect is followed only to the same device (HTTP or HTTPS), so a
    // device cannot send the login on to another host.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    if (auth == Basic) {
        const QByteArray pair = (device.username + QLatin1Char(':') + device.password).toUtf8();
        request.setRawHeader("Authorization", "Basic " + pair.toBase64());
    }

    auto state = std::make_shared<RequestState>();
    state->device = device;
    state->auth = auth;
    state->cap = cap;

    QObject::connect(manager, &QNetworkAccessManager::authenticationRequired, manager,
                     [state](QNetworkReply* reply, QAuthenticator* authenticator) {
                         // The network layer hides the challenge's own header
                         // here; keep what it reveals (the realm) so a later 2xx
                         // still tells that a login exchange took place.
                         QByteArray challenge = reply->rawHeader("WWW-Authenticate");
                         if (challenge.isEmpty() && !authenticator->realm().isEmpty())
                             challenge = "realm=\"" + authenticator->realm().toUtf8() + '"';
                         if (!challenge.isEmpty())
                             state->challenge = challenge;
                         if (state->auth != Digest || state->answered)
                             return; // nothing given: the device's 401 ends the request
                         state->answered = true;
                         authenticator->setUser(state->device.username);
                         authenticator->setPassword(state->device.password);
                     });

    QNetworkReply* reply = nullptr;
    switch (method) {
    case Method::Get:
        reply = manager->get(request);
        break;
    case Method::Post:
        reply = manager->post(request, payload);
        break;
    case Method::Put:
        reply = manager->put(request, payload);
        break;
    }

    if (receiver) {
        // The answer is for the receiver alone: when it goes, so does the
        // request (the end handler then calls nobody).
        QObject::connect(receiver, &QObject::destroyed, reply, [reply, state] {
            state->receiverGone = true;
            reply->abort();
        });
    }

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

    auto overCap = [state](qint64 size) { return size > state->cap; };
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state, overCap] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && overCap(length.toLongLong()) && !state->overflow) {
            state->overflow = true;
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state, overCap] {
        if (state->overflow)
            return;
        state->body += reply->read(state->cap + 1 - state->body.size());
        if (overCap(state->body.size()) || (reply->bytesAvailable() > 0 && state->body.size() >= state->cap)) {
            state->overflow = true;
            state->body.clear();
            reply->abort();
        }
    });

    QObject::connect(reply, &QNetworkReply::finished, manager, [reply, manager, state, done, overCap] {
        if (state->done)
            return;
        state->done = true;
        if (state->receiverGone) {
            reply->deleteLater();
            manager->deleteLater();
            return;
        }
        Response r;
        if (!state->overflow)
            state->body += reply->readAll();
        if (state->overflow || overCap(state->body.size())) {
            r.error = QStringLiteral("The device sent more than %1 MB; the answer was dropped.")
                          .arg(state->cap / (1024 * 1024));
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
        reply->deleteLater();
        manager->deleteLater();
        done(r);
    });
}

} // namespace

void get(const Native::Device& device, const QString& path, Auth auth, const QObject* receiver, Callback done,
         int timeoutMs, BodyLimit limit)
{
    const qint64 cap =
        limit == BodyLimit::Picture ? NativeTunables::kMaxPictureBody_bytes : NativeTunables::kMaxAnswerBody_bytes;
    send(Method::Get, device, path, QByteArray(), QByteArray(), auth, receiver, std::move(done), timeoutMs, cap);
}

void post(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
          Auth auth, const QObject* receiver, Callback done, int timeoutMs)
{
    send(Method::Post, device, path, body, contentType, auth, receiver, std::move(done), timeoutMs,
         NativeTunables::kMaxAnswerBody_bytes);
}

void put(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
         Auth auth, const QObject* receiver, Callback done, int timeoutMs)
{
    send(Method::Put, device, path, body, contentType, auth, receiver, std::move(done), timeoutMs,
         NativeTunables::kMaxAnswerBody_bytes);
}

void getAll(const Native::Device& device, const QStringList& paths, Auth auth, const QObject* receiver,
            ListCallback done, int timeoutMs)
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
            timeoutMs);
    }
}

void tcpProbe(const QString& host, int port, int timeoutMs, const QObject* receiver, TcpCallback done)
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
    timer->start(timeoutMs);
    socket->connectToHost(host, quint16(port));
}

} // namespace NativeHttp
