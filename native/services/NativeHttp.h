#pragma once

// The one way native mode talks HTTP to a recorder or camera: asynchronous
// GET, POST and PUT of a path on the device's HTTP base address with one of
// three login modes, a fan-out GET, and a bare TCP connect test. Every call
// returns at once and calls back exactly once, later, on the main thread.

#include "native/services/NativeRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace NativeHttp {

enum Auth : int {
    None = 0,   // no credentials; a challenge is reported, not answered
    Basic = 1,  // "Authorization: Basic ..." sent with the request
    Digest = 2, // the device's challenge is answered once with the stored login
};

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

    bool ok() const { return status >= 200 && status <= 299; }
};

using Callback = std::function<void(const Response&)>;
using ListCallback = std::function<void(const QList<Response>&)>;
using TcpCallback = std::function<void(bool connected, int elapsedMs)>;

void get(const Native::Device& device, const QString& path, Auth auth, Callback done, int timeoutMs,
         BodyLimit limit = BodyLimit::Answer);
void post(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
          Auth auth, Callback done, int timeoutMs);
// A PUT stays a PUT also with an empty body (the key-frame request has none).
void put(const Native::Device& device, const QString& path, const QByteArray& body, const QByteArray& contentType,
         Auth auth, Callback done, int timeoutMs);

// One GET per path, all at once; the callback gets the answers in path order
// after the last has come. An empty list calls back at once, synchronously.
void getAll(const Native::Device& device, const QStringList& paths, Auth auth, ListCallback done, int timeoutMs);

// Times one TCP connect; a connection that succeeds is closed at once.
void tcpProbe(const QString& host, int port, int timeoutMs, TcpCallback done);

} // namespace NativeHttp
