#pragma once

// The one way native mode talks HTTP to a recorder or camera: asynchronous
// GET, POST and PUT of a path on the device's HTTP base address with one of
// three login modes, a fan-out GET, and a bare TCP connect test. Every call
// returns at once and calls back exactly once, later, on the main thread.
//
// Receivers. Every call of the native services that answers through a
// callback (here, the probes, the recording searches) has a form that takes
// a receiver: the QObject the answer is for (a dialog, a tab). When the
// receiver is destroyed first, the callback is never called and the call's
// pending requests are aborted, so a search stops at once. Without a
// receiver (nullptr, or the form without one) the call runs to its end.

#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class QObject;

namespace kvr::services {

namespace NativeHttp {

enum Auth : int {
    None = 0,   // no credentials; a challenge is reported, not answered
    Basic = 1,  // "Authorization: Basic ..." sent with the request
    Digest = 2, // the device's challenge is answered once with the stored login
};

// Logins. The last Digest challenge a device sent (to a request in any
// mode) is kept per device address, and a Digest request answers it at
// once, counting its nonce's uses; one that asked for Basic alone is
// answered with Basic at once. Requests that answer a device's challenge go
// one at a time up to the device's answer past the login, so their nonce
// counts reach it in order (see DeviceLogins.h). When the device refuses an
// answer with a nonce it accepted before, or calls the nonce stale (it
// expired, or the device restarted), the fresh challenge of the refusal is
// answered once. A refused first answer to a challenge ends the request, so
// a wrong login is tried once, and forgets the challenge. Only challenges
// are kept, never the login.
//
// Bounds. Besides the time-out the caller passes (the request is given up
// when no data moves for that long), the whole answer must come within
// twice that time from when the request goes out. A request that waits for
// the device's turn goes out only when it has it; the wait has a bound of
// its own (tun::kTurnWaitFactor times the time-out). Little of an answer is
// held unread (tun::kDeviceReadBuffer_bytes), so a device sending a huge one
// waits in its connection before the body cap ends it; a refusal (401) whose
// body passes tun::kChallengeBody_bytes ends the request ("The device's
// login answer was too large."). Each attempt goes over a connection of its
// own (DeviceWire.h). A body the device sends compressed unasked (gzip,
// deflate) is decoded, within the same cap; one in a coding not read here,
// or not readable as its coding says, fails in words that say so.
// Redirects are followed to the same host only, on the device's HTTP port
// or its HTTPS port, never from HTTPS back to HTTP, three at most.

// How large a body the caller expects; the request fails past the cap.
enum class BodyLimit {
    Answer,  // text answers
    Picture, // still pictures
};

struct Response {
    int status = 0; // HTTP status of the final answer; 0 when none came
    QByteArray body;
    QByteArray contentType;
    QByteArray wwwAuthenticate; // the challenge the device sent, if any
    QString error;              // set only when status is 0
    QDateTime receivedAt;       // when the answer arrived; invalid when none came
    // What went wrong, for code to decide on: None for a 2xx, LoginRefused
    // for a 401, HttpStatus for another answer, else the network failure.
    Native::Failure failure = Native::Failure::None;
    // The device answered a login this request sent (Basic, or the answer to
    // its challenge) with something other than a refusal: the login passed,
    // also when the answer then failed (a loop of redirects, a body cut
    // short, too big or too slow).
    bool loginPassed = false;

    bool ok() const { return status >= 200 && status <= 299; }
};

using Callback = std::function<void(const Response&)>;
using ListCallback = std::function<void(const QList<Response>&)>;
using TcpCallback = std::function<void(bool connected, int elapsedMs)>;

void get(const Native::Device& device, const QString& path, Auth auth, const QObject* receiver, Callback done,
         std::chrono::milliseconds timeout, BodyLimit limit = BodyLimit::Answer);
void post(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
          Auth auth, const QObject* receiver, Callback done, std::chrono::milliseconds timeout);
// A PUT stays a PUT also with an empty body (the key-frame request has none).
void put(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
         Auth auth, const QObject* receiver, Callback done, std::chrono::milliseconds timeout);

// One GET per path, all at once; the callback gets the answers in path order
// after the last has come. An empty list calls back at once, synchronously.
void getAll(const Native::Device& device, const QStringList& paths, Auth auth, const QObject* receiver,
            ListCallback done, std::chrono::milliseconds timeout);

// Times one TCP connect; a connection that succeeds is closed at once.
void tcpProbe(const QString& host, int port, std::chrono::milliseconds timeout, const QObject* receiver,
              TcpCallback done);

// The same without a receiver: they run to their end.
inline void get(const Native::Device& device, const QString& path, Auth auth, Callback done,
                std::chrono::milliseconds timeout, BodyLimit limit = BodyLimit::Answer)
{
    get(device, path, auth, nullptr, std::move(done), timeout, limit);
}
inline void post(const Native::Device& device, const QString& path, const QByteArray& body,
                 const QByteArray& contentType, Auth auth, Callback done, std::chrono::milliseconds timeout)
{
    post(device, path, body, contentType, auth, nullptr, std::move(done), timeout);
}
inline void put(const Native::Device& device, const QString& path, const QByteArray& body,
                const QByteArray& contentType, Auth auth, Callback done, std::chrono::milliseconds timeout)
{
    put(device, path, body, contentType, auth, nullptr, std::move(done), timeout);
}
inline void getAll(const Native::Device& device, const QStringList& paths, Auth auth, ListCallback done,
                   std::chrono::milliseconds timeout)
{
    getAll(device, paths, auth, nullptr, std::move(done), timeout);
}
inline void tcpProbe(const QString& host, int port, std::chrono::milliseconds timeout, TcpCallback done)
{
    tcpProbe(host, port, timeout, nullptr, std::move(done));
}

} // namespace NativeHttp

} // namespace kvr::services
