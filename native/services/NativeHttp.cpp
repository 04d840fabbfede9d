#include "native/services/NativeHttp.h"

#include "app/core/Clock.h"
#include "native/services/AddressCheck.h"
#include "native/services/Brands.h"
#include "native/services/ConnectionGate.h"
#include "native/services/ContentCoding.h"
#include "native/services/DeviceLogins.h"
#include "native/services/DeviceWire.h"
#include "native/services/DigestAuth.h"
#include "native/services/Tunables.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QPointer>
#include <QTcpSocket>
#include <QThread>
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

    void take(DeviceWire* wire, qint64 upTo)
    {
        QByteArray piece = wire->read(upTo);
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
    QUrl url;               // the current address
    QByteArray contentType; // of the payload; none when empty
    QByteArray basic;       // the Basic login sent up front (mode Basic)
    QByteArray target;      // the request target as it goes on the wire
    QString key;            // of what is kept about the device's login
    qint64 cap = 0;
    std::chrono::milliseconds timeout{0}; // the transfer time-out
    QObject* anchor = nullptr;            // the timers and connections of the request
    QPointer<DeviceWire> reply;           // the current attempt
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

// Whether the attempt failed below HTTP (the connection, not the device's
// answer).
bool transportFailed(const DeviceWire* wire)
{
    return wire->error() != DeviceWire::Error::None;
}

Native::Failure networkFailure(const DeviceWire* wire)
{
    switch (wire->error()) {
    case DeviceWire::Error::None:
        return Native::Failure::None;
    case DeviceWire::Error::ConnectionRefused:
        return Native::Failure::ConnectionRefused;
    case DeviceWire::Error::Closed:
        return Native::Failure::ConnectionClosed;
    case DeviceWire::Error::HostNotFound:
        return Native::Failure::HostNotFound;
    case DeviceWire::Error::Timeout:
    case DeviceWire::Error::TooSlow:
        return Native::Failure::Timeout;
    case DeviceWire::Error::LoginTooLarge:
        return Native::Failure::TooLarge;
    case DeviceWire::Error::NotHttp:
    case DeviceWire::Error::Encoded:
        return Native::Failure::Unreadable;
    case DeviceWire::Error::Untrusted:
    case DeviceWire::Error::Network:
        return Native::Failure::Network;
    }
    return Native::Failure::Network;
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

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

void attempt(const StatePtr& state, const QByteArray& authorization);
void cutShort(const StatePtr& state, Cut why);

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

// What holds the requests of the application's thread. A request nobody
// waits for (a search's finder being closed) can still be under way when the
// program ends, and one let go just before has its anchor's deletion still
// posted: both go with the application, not with the process, so that
// nothing of them is left over.
QObject* requestHolder()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread())
        return nullptr;
    static QPointer<QObject> holder;
    if (!holder) {
        holder = new QObject;
        qAddPostRoutine([] { delete holder.data(); });
    }
    return holder.data();
}

// The request is over: the device's turn goes on, and nothing of it stays.
// An attempt still under way ends at once and says nothing more.
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
        state->reply->abort();
        state->reply->deleteLater();
        state->reply = nullptr;
    }
    state->anchor->deleteLater();
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

// Why a body the device sent encoded could not be read.
QString codingProblem(const ContentCoding::Decoded& decoded)
{
    if (decoded.outcome == ContentCoding::Outcome::Corrupt)
        return QStringLiteral("The device's answer was compressed (%1) and could not be read.").arg(decoded.coding);
    return QStringLiteral("The device sent its answer encoded as \"%1\", which can't be read.").arg(decoded.coding);
}

// Builds the response of the attempt that ends the request and hands it over.
void deliver(const StatePtr& state, DeviceWire* reply)
{
    if (state->cut == Cut::None)
        state->body.take(reply, state->cap + 1 - state->body.size);
    if (state->cut == Cut::None && state->body.size > state->cap)
        state->cut = Cut::TooLarge;
    if (state->cut != Cut::None) {
        conclude(state, cutResponse(state));
        return;
    }
    if (transportFailed(reply)) {
        // No answer, or one the device began and did not finish (a length
        // that lies, a connection dropped halfway): it is no answer.
        conclude(state, failed(reply->errorText(), networkFailure(reply)));
        return;
    }
    const ContentCoding::Decoded decoded =
        ContentCoding::decode(reply->header("Content-Encoding"), state->body.joined(), state->cap);
    state->body.clear();
    Response r;
    r.status = reply->status();
    switch (decoded.outcome) {
    case ContentCoding::Outcome::Plain:
    case ContentCoding::Outcome::Decoded:
        r.body = decoded.body;
        break;
    case ContentCoding::Outcome::TooLarge:
        state->cut = Cut::TooLarge;
        conclude(state, cutResponse(state));
        return;
    case ContentCoding::Outcome::Corrupt:
    case ContentCoding::Outcome::Unknown:
        // A refusal or a missing page says what it says whatever its body.
        if (!r.ok())
            break;
        conclude(state, failed(codingProblem(decoded), Native::Failure::Unreadable));
        return;
    }
    r.contentType = reply->header("Content-Type");
    r.wwwAuthenticate = reply->header("WWW-Authenticate");
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
void resend(const StatePtr& state, DeviceWire* reply, const NativeLogins::Sent& sent, bool fromMemory)
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
void followRedirect(const StatePtr& state, DeviceWire* reply, int status)
{
    const QUrl from = state->url;
    const QUrl to = from.resolved(QUrl::fromEncoded(reply->header("Location"), QUrl::TolerantMode));
    const bool sameDevice = NativeAddress::sameDevice(from, to, state->device.httpPort);
    if (!sameDevice || ++state->hops > tun::kMaxRedirects) {
        state->cut = sameDevice ? Cut::Loop : Cut::Elsewhere;
        deliver(state, reply);
        return;
    }
    state->url = to;
    state->target = DeviceWire::target(to);
    // As browsers do: a 303, and a 301 or 302 of a POST, go on as a GET.
    if (state->method != Method::Get && (status == 303 || (state->method == Method::Post && status <= 302))) {
        state->method = Method::Get;
        state->payload.clear();
        state->contentType.clear();
    }
    state->answered = false;
    if (state->auth == Digest)
        resend(state, reply, NativeLogins::fromMemory(state->key, loginRequest(state)), true);
    else
        resend(state, reply, {}, false);
}

// Decides, when an attempt ends, whether the exchange goes on.
void onAttemptFinished(const StatePtr& state, DeviceWire* reply)
{
    if (state->finished || reply != state->reply)
        return;
    if (state->receiverGone) {
        release(state);
        return;
    }
    const int status = reply->status();
    if (state->cut == Cut::None && isRedirect(status) && !reply->header("Location").isEmpty()
        && !transportFailed(reply)) {
        followRedirect(state, reply, status);
        return;
    }
    if (status != 401 || state->cut != Cut::None || transportFailed(reply)) {
        deliver(state, reply);
        return;
    }
    const QByteArray text = reply->header("WWW-Authenticate");
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
void onHeaders(const StatePtr& state, DeviceWire* reply)
{
    if (reply != state->reply)
        return;
    const int status = reply->status();
    if (status == 0 || status == 401)
        return;
    // Whatever becomes of the answer now (a loop of redirects, a body cut
    // short, too big or too slow), the device let the login through.
    if (state->auth == Basic || state->sent.kind != NativeLogins::Sent::Kind::Bare)
        state->loginPassed = true;
    if (isRedirect(status))
        return;
    if (status >= 200 && status <= 299)
        NativeLogins::accepted(state->key, state->sent);
    if (state->holdsTurn) {
        state->holdsTurn = false;
        NativeLogins::passTurn(state->key);
    }
}

// Takes what arrived of the body.
void onBody(const StatePtr& state, DeviceWire* reply)
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
    auto* bound = new QTimer(state->anchor);
    bound->setSingleShot(true);
    QObject::connect(bound, &QTimer::timeout, state->anchor, [state] { cutShort(state, Cut::TooSlow); });
    bound->start(state->timeout * tun::kWholeAnswerFactor);
}

void attempt(const StatePtr& state, const QByteArray& authorization)
{
    state->body.clear();
    state->cut = Cut::None;

    DeviceWire::Request request;
    request.method = methodName(state->method);
    request.url = state->url;
    request.hasBody = state->method != Method::Get;
    request.body = state->payload;
    request.transferTimeout = state->timeout;
    // Little of an answer is held unread, so that a device sending a huge
    // one at full speed fills its connection, not this process, before the
    // body cap ends it.
    request.heldLimit = tun::kDeviceReadBuffer_bytes;
    if (!state->contentType.isEmpty())
        request.headers.append({"Content-Type", state->contentType});
    const QByteArray login = !authorization.isEmpty() ? authorization : state->basic;
    if (!login.isEmpty())
        request.headers.append({"Authorization", login});

    auto* reply = new DeviceWire(std::move(request), state->anchor);
    state->reply = reply;
    QObject::connect(reply, &DeviceWire::headReceived, state->anchor, [reply, state] { onHeaders(state, reply); });
    QObject::connect(reply, &DeviceWire::readyRead, state->anchor, [reply, state] { onBody(state, reply); });
    QObject::connect(reply, &DeviceWire::finished, state->anchor, [reply, state] { onAttemptFinished(state, reply); });
    reply->start();
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
    state->anchor = new QObject(requestHolder());
    // A request whose anchor went with the application is over: a turn that
    // comes for it later does not start it on what is gone.
    QObject::connect(state->anchor, &QObject::destroyed, [weak = std::weak_ptr<RequestState>(state)] {
        if (const StatePtr s = weak.lock())
            s->finished = true;
    });
    // Redirects are followed here (followRedirect): each hop answers the
    // login for its own address, and a loop is seen as one.
    state->url = QUrl(NativeBrand::baseUrl(device) + path, QUrl::TolerantMode);
    state->target = DeviceWire::target(state->url);
    state->contentType = contentType;
    if (auth == Basic)
        state->basic = NativeDigest::basicAnswer(device.username, device.password);

    if (receiver) {
        // The answer is for the receiver alone: when it goes, so does the
        // request, waiting for the device's turn or under way.
        QObject::connect(receiver, &QObject::destroyed, state->anchor, [state] {
            state->receiverGone = true;
            if (!state->finished)
                release(state);
        });
    }

    // The login exchange is run here rather than by an authenticator that
    // forgets the device's challenge with each request and so has every
    // request refused once before it is answered. Requests
    // that answer challenges take the device's turn, so that their nonce
    // counts reach it in order (see DeviceLogins.h).
    if (auth != Digest) {
        begin(state);
        return;
    }
    // The wait for the turn has a bound of its own: the requests ahead may
    // each take their whole time on a slow device, and this one's own
    // bounds start only when it goes out.
    auto* turnWait = new QTimer(state->anchor);
    turnWait->setSingleShot(true);
    QObject::connect(turnWait, &QTimer::timeout, state->anchor, [state] {
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

namespace {

// One connect test, its place at the connection gate held.
void connectTest(const QString& host, int port, std::chrono::milliseconds timeout, const QObject* receiver,
                 TcpCallback done)
{
    auto placed = std::make_shared<bool>(true);
    auto giveBack = [placed] {
        if (std::exchange(*placed, false))
            ConnectionGate::instance().release(ConnectionGate::Use::Request);
    };
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    auto* socket = new QTcpSocket;
    socket->setProxy(QNetworkProxy::NoProxy);
    auto* timer = new QTimer(socket);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    auto finished = std::make_shared<bool>(false);
    auto report = [socket, clock, finished, giveBack, done = std::move(done)](bool connected) {
        if (*finished)
            return;
        *finished = true;
        const int elapsed = int(qMin<qint64>(clock->elapsed(), std::numeric_limits<int>::max()));
        socket->abort();
        giveBack();
        socket->deleteLater();
        done(connected, elapsed);
    };
    if (receiver) {
        QObject::connect(receiver, &QObject::destroyed, socket, [socket, finished, giveBack] {
            *finished = true; // nobody is called
            socket->abort();
            giveBack();
            socket->deleteLater();
        });
    }
    QObject::connect(timer, &QTimer::timeout, socket, [report] { report(false); });
    QObject::connect(socket, &QTcpSocket::connected, socket, [report] { report(true); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [report] { report(false); });
    timer->start(timeout);
    socket->connectToHost(NativeAddress::bare(host), quint16(port));
}

} // namespace

void tcpProbe(const QString& host, int port, std::chrono::milliseconds timeout, const QObject* receiver,
              TcpCallback done)
{
    if (!done)
        done = [](bool, int) {};
    if (!NativeAddress::isValid(host) || !NativeAddress::isValidPort(port)) {
        later(receiver, [done = std::move(done)] { done(false, 0); });
        return;
    }
    // The test's time runs from when it connects, not while it waits for a
    // place; a receiver that goes meanwhile leaves it unasked.
    ConnectionGate::instance().ask(ConnectionGate::Use::Request, receiver,
                                   [host, port, timeout, receiver, done = std::move(done)]() mutable {
                                       connectTest(host, port, timeout, receiver, std::move(done));
                                   });
}

} // namespace NativeHttp

} // namespace kvr::services
