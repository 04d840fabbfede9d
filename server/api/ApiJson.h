#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace kvr::api {

// Readers shared by every answer of the organisation's server, and the helpers
// that keep secrets out of the log. All are plain functions without state.

// The answer with the members of its "details", "data" and "result" objects
// lifted to the top (two passes, so a container inside a container is lifted too).
QJsonObject unwrapEnvelope(const QJsonObject& answer);
// The user text of a failed answer ("message", "error", "detail").
QString errorMessage(const QJsonObject& object);
// The text of one JSON value for error messages.
QString findMessage(const QJsonValue& value);
// An identifier of any JSON type as text.
QString jsonIdToString(const QJsonValue& value);
// A whole number; texts are parsed as decimal. Values beyond 32 bits are
// clamped to the nearest 32-bit value rather than wrapped.
int jsonInt(const QJsonValue& value, int fallback);
// The string under keyA when it is a non-empty string, else the one under keyB.
QString jsonString(const QJsonObject& object, const QString& keyA, const QString& keyB);
// The list of an answer: the first array found under the keys, unwrapped first.
QJsonArray responseList(const QJsonObject& answer, const QStringList& keys);
// Whether the answer can be read as that list: false when something other
// than an array stands under one of the keys (and none holds an array), or
// when the answer holds nothing at all (a body that was no JSON object).
bool holdsList(const QJsonObject& answer, const QStringList& keys);
// An identifier for a request body: a JSON number when the text is a decimal
// integer (64-bit for user ids, 32-bit for organisation and camera ids), else a string.
QJsonValue jsonIdValue64(const QString& id);
QJsonValue jsonIdValue32(const QString& id);

// Masks secrets in place, at any depth (objects and arrays): passwords,
// one-time codes, tokens and shared secrets by key; personal data (e-mail
// addresses wherever they stand, telephone numbers and people's names); and
// the user information of any address held in a string.
void redactForLog(QJsonObject& object);
// An address as it may be logged: user name and password removed.
QString redactUrl(const QString& url);
// The answer as shown in a log line: the size for large bodies, else redacted JSON.
QString bodySummary(const QJsonObject& answer, qint64 bodyBytes);
// One-line description of a bearer token from its claims; never the token.
QString tokenSummary(const QString& token, qint64 nowSecs);
// The claims object of a JSON Web Token (empty when unreadable).
QJsonObject tokenClaims(const QString& token);

// Query text with every value fully percent-encoded ("A+B" arrives as "A+B",
// not "A B"), items in their given order.
QString encodeQuery(const QUrlQuery& query);

} // namespace kvr::api
