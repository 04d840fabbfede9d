#pragma once

// HTTP login challenges of devices and their answers: reading a
// WWW-Authenticate text (one or several challenges, several headers joined),
// and the Authorization value that answers a Digest challenge (MD5 or
// SHA-256, with or without a session, qop "auth", "auth-int" or none) or a
// Basic one. Plain functions of their inputs; the request code decides when
// a challenge is answered and keeps it for the next request.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace kvr::services {

namespace NativeDigest {

// One challenge: its scheme in lower case and its parameters, names in
// lower case, values unquoted.
struct Challenge {
    QByteArray scheme;
    QMap<QByteArray, QByteArray> params;
};

// Every challenge of the text, in order. Unreadable pieces are skipped.
QList<Challenge> parseChallenges(const QByteArray& text);

// A Digest challenge this client can answer.
struct Digest {
    QByteArray realm;
    QByteArray nonce;
    QByteArray opaque;    // empty when the device sent none
    QByteArray algorithm; // as the device named it; empty (meaning MD5) when it named none
    QByteArray qop;       // "auth", "auth-int", or empty (the oldest form)
    bool userhash = false;
    bool stale = false; // the device says the previous nonce had expired
};

// The Digest challenge to answer among them (SHA-256 before MD5, else the
// device's order); none when no Digest challenge can be answered.
std::optional<Digest> pickDigest(const QList<Challenge>& challenges);
// Whether one of them is a Basic challenge.
bool offersBasic(const QList<Challenge>& challenges);

// The Authorization value answering the challenge for one request: the
// method and the request target as sent, the body (read only for
// "auth-int"), the login, the nonce count (1 for the first use of a nonce)
// and the client's own nonce.
QByteArray answer(const Digest& challenge, const QByteArray& method, const QByteArray& uri, const QByteArray& body,
                  const QString& user, const QString& password, quint32 nonceCount, const QByteArray& cnonce);

// The Authorization value of a request that answers the challenges of the
// text by itself, as the first use of the nonce: Digest when one can be
// answered, else Basic when it is offered; empty when neither is.
QByteArray answerOnce(const QByteArray& challengeText, const QByteArray& method, const QByteArray& uri,
                      const QString& user, const QString& password);

// "Basic " and the Base64 of the UTF-8 of user, ":" and password.
QByteArray basicAnswer(const QString& user, const QString& password);

// A fresh client nonce.
QByteArray newCnonce();

} // namespace NativeDigest

} // namespace kvr::services
