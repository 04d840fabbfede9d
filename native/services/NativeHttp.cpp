#include "native/services/NativeHttp.h"

#include "app/core/Clock.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/DeviceLogins.h"
#include "native/services/DigestAuth.h"
#include "native/services/Tunables.h"

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

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace kvr::services {

namespace NativeHttp {

namespace {

enum class Method { Get, Post, Put };

// Why an attempt was cut short by this side.
enum class Cut {
    None,
    TooLarge,  // the body passed the cap
    TooSlow,   // the whole answer did not come within its bound
    Elsewhere, // a redirect to another host
    Loop,      // more redirects than a device needs
    NoTurn,    // the device's turn did not come within its bound
};

// An answer's body as it arrives, kept in the pieces it came in and joined
// once whole: grown in place, a large one would be copied into ever larger
// blocks, which the C library keeps after they are freed.
struct Body {
    QList<QByteArray> pieces;
    qint64 size = 0;

    void take(QNetworkReply* reply, qint64 upTo)
    {
        QByteArray piece = reply->read(upTo);
        size += piece.size();
        if (!piece.isEmpty())
            pieces.append(std::move(piece));
    }
    QByteArray joined() const
    {
        QByteArray out;
        out.reserve(size);
        for (const QByteArray& p : pieces)
            out += p;
        return out;
    }
    void clear()
    {
        pieces = {};
        size = 0;
    }
};

struct RequestState {
    Native::Device device; // copy: the login answered to a challenge
    Auth auth = None;
    Method method = Method::Get;
    QByteArray payload;
    QNetworkRequest request; // as built for the current address, without an answer to a challenge
    QByteArray target;       // the request target as it goes on the wire
    QString key;             // of what is kept about the device's login
    qint64 cap = 0;
    std::chrono::milliseconds timeout{0}; // the transfer time-out
    QNetworkAccessManager* manager = nullptr;
    QPointer<QNetworkReply> reply;
    Callback done;
    QByteArray challenge;      // the last WWW-Authenticate seen during the exchange
    NativeLogins::Sent sent;   // the login the current attempt carries
    bool fromMemory = false;   // that login answers what was kept, not a challenge of this request
    bool answered = false;     // the one answer to a fresh challenge has been sent
    bool holdsTurn = false;    // this request holds the device's turn (see DeviceLogins.h)
    bool loginPassed = false;  // the device answered a login of this request with no refusal
    int hops = 0;              // redirects followed
    bool receiverGone = false; // the answer's receiver was destroyed
    bool finished = false;
    qint64 largestBody = 0; // of all its attempts
    // Of the current attempt.
    Body body;
    Cut cut = Cut::None;
};
using StatePtr = std::shared_ptr<RequestState>;

QString challengeKey(const Native::Device& device)
{
    return NativeBrand::baseUrl(device).toLower();
}

// Whether the reply failed below HTTP (the connection, not the device's
// answer): Qt numbers those errors below 100.
bool transportFailed(QNetworkReply* reply)
{
    const int e = int(reply->error());
    return e > 0 && e < 100;
}

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

// The target as the network layer writes it on the request line, which is
// what a Digest answer covers.
QByteArray requestTarget(const QUrl& url)
{
    QUrl target = url;
    QUrl::FormattingOptions format =
        QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment | QUrl::RemoveUserInfo | QUrl::FullyEncoded;
    if (target.path().isEmpty())
        target.setPath(QStringLiteral("/"));
    else
        format |= QUrl::NormalizePathSegments;
    return target.toEncoded(format);
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void attempt(const StatePtr& state, const QByteArray& authorization);

// The blocks of a large answer, once freed, stay with the C library for
// reuse: a device sending huge answers again and again would keep this
// process at the largest mark they ever made together. A moment after such
// requests end (once for all that end meanwhile), what is free goes back to
// the system.
void giveBackLater()
{
#if defined(__GLIBC__)
    static bool pending = false;
    if (pending)
        return;
    pending = true;
    QTimer::singleShot(tun::kGiveBackDelay, [] {
        pending = false;
        malloc_trim(0);
    });
#endif
}

// The request is over: the device's turn goes on, and nothing of it stays.
// A reply still under way is dropped, not aborted: its transfer stops as it
// is deleted, and what the network layer was still reporting of it (its
// end, an error it met meanwhile) goes nowhere. Aborting instead makes the
// network layer report a second error when the reply was ending by itself
// (a refusal's body arrives with its end).
void release(const StatePtr& state)
{
    state->finished = true;
    state->body.clear();
    if (state->largestBody >= tun::kLargeAnswer_bytes)
        giveBackLater();
    if (state->holdsTurn) {
        state->holdsTurn = false;
        NativeLogins::passTurn(state->key);
    }
    if (state->reply) {
        QObject::disconnect(state->reply, nullptr, state->manager, nullptr);
        state->reply->deleteLater();
        state->reply = nullptr;
    }
    state->manager->deleteLater();
}

// Ends the request with the response, unless nobody waits for it any more.
void conclude(const StatePtr& state, const Response& r)
{
    release(state);
    if (state->receiverGone)
        return;
    Response out = r;
    // A refusal at the end (a redirect to a place that asks again) is no
    // login that passed.
    out.loginPassed = state->loginPassed && r.status != 401;
    state->done(out);
}

Response failed(const QString& error, Native::Failure failure)
{
    Response r;
    r.error = error;
    r.failure = failure;
    return r;
}

// The response of a request this side cut short.
Response cutResponse(const StatePtr& state)
{
    switch (state->cut) {
    case Cut::TooLarge:
        return failed(
            QStringLiteral("The device sent more than %1 MB; the answer was dropped.").arg(state->cap / (1024 * 1024)),
            Native::Failure::TooLarge);
    case Cut::TooSlow:
        return failed(QStringLiteral("The device was too slow to send its whole answer."), Native::Failure::Timeout);
    case Cut::Elsewhere:
        return failed(QStringLiteral("The device redirected the request to another address."),
                      Native::Failure::Redirected);
    case Cut::Loop:
        return failed(QStringLiteral("The device redirected the request in a loop."), Native::Failure::Redirected);
    case Cut::NoTurn:
        return failed(QStringLiteral("The device was still answering other requests; this one never went out."),
                      Native::Failure::Timeout);
    case Cut::None:
        break;
    }
    return {};
}

// Ends the request at once with what this side cut it short for, whatever
// its reply is still doing.
void cutShort(const StatePtr& state, Cut why)
{
    if (state->finished)
        return;
    state->cut = why;
    state->body.clear();
    conclude(state, cutResponse(state));
}

// Builds the response of the attempt that ends the request and hands it over.
void deliver(const StatePtr& state, QNetworkReply* reply)
{
    if (state->cut == Cut::None && reply->isOpen())
        state->body.take(reply, state->cap + 1 - state->body.size);
    if (state->cut == Cut::None && state->body.size > state->cap)
        state->cut = Cut::TooLarge;
    if (state->cut != Cut::None) {
        conclude(state, cutResponse(state));
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // (The network layer drops the status of an answer cut short, not its
    // headers.)
    const bool began = status != 0 || !reply->rawHeaderList().isEmpty();
    if (began && transportFailed(reply)) {
        // The device began an answer and did not finish it (a length that
        // lies, a connection dropped halfway): it is no answer.
        if (reply->error() == QNetworkReply::RemoteHostClosedError)
            conclude(state,
                     failed(QStringLiteral("The device closed the connection before its whole answer came."),
                            Native::Failure::ConnectionClosed));
        else
            conclude(state, failed(networkErrorText(reply), networkFailure(reply)));
        return;
    }
    Response r;
    r.status = status;
    if (r.status == 0) {
        r.error = networkErrorText(reply);
        r.failure = networkFailure(reply);
        conclude(state, r);
        return;
    }
    r.body = state->body.joined();
    r.contentType = reply->rawHeader("Content-Type");
    r.wwwAuthenticate = reply->rawHeader("WWW-Authenticate");
    if (r.wwwAuthenticate.isEmpty())
        r.wwwAuthenticate = state->challenge;
    if (r.status == 401)
        r.failure = Native::Failure::LoginRefused;
    else if (!r.ok())
        r.failure = Native::Failure::HttpStatus;
    // A device's answer about its own clock is compared with this moment,
    // not with when the whole exchange it belongs to ended.
    r.receivedAt = kvr::core::Clock::instance().nowUtc();
    conclude(state, r);
}

// Sends the current attempt again (after a refusal or to a new address)
// with what is kept about the device's login, or with the given answer.
void resend(const StatePtr& state, QNetworkReply* reply, const NativeLogins::Sent& sent, bool fromMemory)
{
    if (reply)
        reply->deleteLater();
    state->sent = sent;
    state->fromMemory = fromMemory;
    if (!sent.challenge.isEmpty())
        state->challenge = sent.challenge;
    attempt(state, sent.authorization);
}

NativeLogins::Request loginRequest(const StatePtr& state)
{
    return {methodName(state->method), state->target, state->payload, state->device.username, state->device.password};
}

// A 3xx with a place to go: followed when it stays on the device, a few
// times at most.
void followRedirect(const StatePtr& state, QNetworkReply* reply, int status)
{
    const QUrl from = state->request.url();
    const QUrl to = from.resolved(QUrl::fromEncoded(reply->rawHeader("Location"), QUrl::TolerantMode));
    const bool sameDevice = NativeAddress::sameDevice(from, to, state->device.httpPort);
    if (!sameDevice || ++state->hops > tun::kMaxRedirects) {
        state->cut = sameDevice ? Cut::Loop : Cut::Elsewhere;
        deliver(state, reply);
        return;
    }
    state->request.setUrl(to);
    state->target = requestTarget(to);
    // As browsers do: a 303, and a 301 or 302 of a POST, go on as a GET.
    if (state->method != Method::Get && (status == 303 || (state->method == Method::Post && status <= 302))) {
        state->method = Method::Get;
        state->payload.clear();
        state->request.setRawHeader("Content-Type", QByteArray());
    }
    state->answered = false;
    if (state->auth == Digest)
        resend(state, reply, NativeLogins::fromMemory(state->key, loginRequest(state)), true);
    else
        resend(state, reply, {}, false);
}

// Decides, when an attempt ends, whether the exchange goes on.
void onAttemptFinished(const StatePtr& state, QNetworkReply* reply)
{
    if (state->finished || reply != state->reply)
        return;
    if (state->receiverGone) {
        release(state);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (state->cut == Cut::None && isRedirect(status) && !reply->rawHeader("Location").isEmpty()
        && !transportFailed(reply)) {
        followRedirect(state, reply, status);
        return;
    }
    if (status != 401 || state->cut != Cut::None || transportFailed(reply)) {
        deliver(state, reply);
        return;
    }
    const QByteArray text = reply->rawHeader("WWW-Authenticate");
    if (!text.isEmpty())
        state->challenge = text;
    const NativeLogins::Sent refused = state->sent;

    if (state->fromMemory && refused.kind != NativeLogins::Sent::Kind::Bare) {
        // A refused answer to a nonce the device accepted before, or one it
        // calls stale, means the nonce expired (or the device restarted), and
        // a Basic answer refused with a Digest challenge that the device
        // changed its scheme: neither says the login is wrong, so the fresh
        // challenge of the refusal is answered once. Any other refused answer
        // counts as the one answer of this request.
        const std::optional<NativeDigest::Digest> digest =
            NativeDigest::pickDigest(NativeDigest::parseChallenges(text));
        const bool outdated = NativeLogins::wasAccepted(state->key, refused) || (digest && digest->stale)
            || (digest && refused.kind == NativeLogins::Sent::Kind::Basic);
        NativeLogins::forget(state->key, refused);
        if (!outdated) {
            deliver(state, reply);
            return;
        }
        NativeLogins::learn(state->key, text);
        const NativeLogins::Sent fresh = NativeLogins::fromMemory(state->key, loginRequest(state));
        if (fresh.kind == NativeLogins::Sent::Kind::Bare) {
            deliver(state, reply);
            return;
        }
        state->answered = true;
        resend(state, reply, fresh, false);
        return;
    }
    if (state->answered) {
        // The one answer was refused: the login is wrong, and a kept
        // challenge would only make the next request fail twice.
        NativeLogins::forget(state->key, refused);
        deliver(state, reply);
        return;
    }
    // Any mode keeps what it learns, so that a Digest request that follows
    // answers at once.
    NativeLogins::learn(state->key, text);
    if (state->auth != Digest) {
        deliver(state, reply);
        return;
    }
    const NativeLogins::Sent answer = NativeLogins::fromMemory(state->key, loginRequest(state));
    if (answer.kind == NativeLogins::Sent::Kind::Bare) {
        deliver(state, reply);
        return;
    }
    state->answered = true;
    resend(state, reply, answer, false);
}

// The device answered past its login (or did not ask for one): the next
// request may answer its challenge with the next count.
void onHeaders(const StatePtr& state, QNetworkReply* reply)
{
    if (reply != state->reply)
        return;
    const QVariant code = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!code.isValid() || code.toInt() == 401)
        return;
    // Whatever becomes of the answer now (a loop of redirects, a body cut
    // short, too big or too slow), the device let the login through.
    if (state->auth == Basic || state->sent.kind != NativeLogins::Sent::Kind::Bare)
        state->loginPassed = true;
    if (isRedirect(code.toInt()))
        return;
    if (code.toInt() >= 200 && code.toInt() <= 299)
        NativeLogins::accepted(state->key, state->sent);
    if (state->holdsTurn) {
        state->holdsTurn = false;
        NativeLogins::passTurn(state->key);
    }
}

// Takes what arrived of the body.
void onBody(const StatePtr& state, QNetworkReply* reply)
{
    if (reply != state->reply || state->finished)
        return;
    // The announced length is not trusted either way: the body is counted
    // as it comes, and an answer that ends short is reported as such.
    state->body.take(reply, state->cap + 1 - state->body.size);
    state->largestBody = std::max(state->largestBody, state->body.size);
    if (state->body.size > state->cap || (reply->bytesAvailable() > 0 && state->body.size >= state->cap))
        cutShort(state, Cut::TooLarge);
}

// The transfer time-out fires only when no data moves; a device that sends
// a byte now and then would hold the request for ever, so the whole answer
// has a bound of its own, counted from when the request goes out.
void startWholeBound(const StatePtr& state)
{
    auto* bound = new QTimer(state->manager);
    bound->setSingleShot(true);
    QObject::connect(bound, &QTimer::timeout, state->manager, [state] { cutShort(state, Cut::TooSlow); });
    bound->start(state->timeout * tun::kWholeAnswerFactor);
}

void attempt(const StatePtr& state, const QByteArray& authorization)
{
    QNetworkRequest request = state->request;
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    state->body.clear();
    state->cut = Cut::None;

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
    // Bounded, so that a device sending a huge answer at full speed fills
    // its connection, not this process, before the body cap ends it.
    reply->setReadBufferSize(tun::kDeviceReadBuffer_bytes);

    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, state] { onHeaders(state, reply); });
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, state] { onBody(state, reply); });
    QObject::connect(reply, &QNetworkReply::finished, state->manager,
                     [reply, state] { onAttemptFinished(state, reply); });
}

// The first attempt, with what is kept about the device's login when the
// mode answers challenges. The whole answer's bound starts here.
void begin(const StatePtr& state)
{
    startWholeBound(state);
    if (state->auth != Digest) {
        attempt(state, QByteArray());
        return;
    }
    resend(state, nullptr, NativeLogins::fromMemory(state->key, loginRequest(state)), true);
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
    state->timeout = timeout;
    state->done = std::move(done);
    state->key = challengeKey(device);
    state->manager = new QNetworkAccessManager;
    // Devices are spoken to directly; a proxy would see the credentials.
    state->manager->setProxy(QNetworkProxy::NoProxy);

    const QUrl url(NativeBrand::baseUrl(device) + path, QUrl::TolerantMode);
    state->target = requestTarget(url);

    QNetworkRequest& request = state->request;
    request.setUrl(url);
    request.setTransferTimeout(int(timeout.count()));
    // Redirects are followed here (followRedirect): each hop answers the
    // login for its own address, and a loop is seen as one.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    if (auth == Basic)
        request.setRawHeader("Authorization", NativeDigest::basicAnswer(device.username, device.password));

    if (receiver) {
        // The answer is for the receiver alone: when it goes, so does the
        // request, waiting for the device's turn or under way.
        QObject::connect(receiver, &QObject::destroyed, state->manager, [state] {
            state->receiverGone = true;
            if (!state->finished)
                release(state);
        });
    }

    // The login exchange is run here rather than by the network layer's
    // authenticator, which forgets the device's challenge with each request
    // and so has every request refused once before it is answered. Requests
    // that answer challenges take the device's turn, so that their nonce
    // counts reach it in order (see DeviceLogins.h).
    if (auth != Digest) {
        begin(state);
        return;
    }
    // The wait for the turn has a bound of its own: the requests ahead may
    // each take their whole time on a slow device, and this one's own
    // bounds start only when it goes out.
    auto* turnWait = new QTimer(state->manager);
    turnWait->setSingleShot(true);
    QObject::connect(turnWait, &QTimer::timeout, state->manager, [state] {
        if (!state->reply && !state->holdsTurn)
            cutShort(state, Cut::NoTurn);
    });
    turnWait->start(timeout * tun::kTurnWaitFactor);
    NativeLogins::takeTurn(state->key, [state, turnWait] {
        if (state->finished)
            return false;
        state->holdsTurn = true;
        turnWait->stop();
        begin(state);
        return true;
    });
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

} // namespace kvr::services
