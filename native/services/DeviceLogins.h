#pragma once

// What device HTTP remembers of each device's login between requests, by
// the device's base address: the Digest challenge it last sent with the
// nonce count reached, the nonces it accepted an answer with, and whether
// it asked for Basic alone; and the turn that lets one request at a time
// answer its challenge. Only challenges are kept, never a login. Main
// thread only.
//
// Why one at a time: each answer to a kept challenge carries the next
// nonce count, and requests sent together travel on connections of their
// own, so they may arrive out of order; a device that insists on rising
// counts (a strict reading real servers use) refuses the overtaken ones.
// A request takes the turn before it sends its answer and passes it on
// when the device has answered past its login (its headers came), so the
// counts reach the device in order while the bodies still come in
// together.

#include "native/services/DigestAuth.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace kvr::services {

namespace NativeLogins {

// The login a request carries.
struct Sent {
    enum class Kind { Bare, Digest, Basic };
    Kind kind = Kind::Bare;
    QByteArray authorization; // empty for Bare
    QByteArray nonce;         // Digest: the nonce answered
    QByteArray challenge;     // Digest: the challenge text answered
};

// What a request needs to answer a kept challenge.
struct Request {
    QByteArray method;
    QByteArray target; // as it goes on the request line
    QByteArray payload;
    QString user;
    QString password;
};

// The answer to send from what is kept about the device: its Digest
// challenge (counting one more use of the nonce), else Basic when it asked
// for Basic alone, else nothing (the request goes bare).
Sent fromMemory(const QString& key, const Request& r);
// What a refusal (or any challenge the device sends) teaches: its Digest
// challenge is kept with a fresh count, or, when it offers Basic alone,
// that Basic is answered directly from now on.
void learn(const QString& key, const QByteArray& challengeText);
// Forgets what the refused answer relied on (a wrong login is not kept).
void forget(const QString& key, const Sent& refused);
// The device let an answer through.
void accepted(const QString& key, const Sent& sent);
// Whether the device has let an answer with this nonce through before.
bool wasAccepted(const QString& key, const Sent& sent);

// The turn: `go` runs now when no other request holds the device's turn,
// else when the turn comes to it. It returns whether it took the turn (a
// request that ended meanwhile no longer wants it); one that did calls
// passTurn once when it is done with it.
void takeTurn(const QString& key, std::function<bool()> go);
void passTurn(const QString& key);

} // namespace NativeLogins

} // namespace kvr::services
