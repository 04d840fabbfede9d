#include "server/api/ApiJson.h"

#include "server/api/Tunables.h"

#include <QHash>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QVariant>

#include <limits>

namespace kvr::api {

namespace {

bool isEmptyValue(const QJsonValue& v)
{
    if (v.isNull() || v.isUndefined())
        return true;
    if (v.isString())
        return v.toString().isEmpty();
    if (v.isObject())
        return v.toObject().isEmpty();
    if (v.isArray())
        return v.toArray().isEmpty();
    return false;
}

bool isWeakText(const QString& text)
{
    const QString t = text.trimmed();
    return t.isEmpty() || t.compare(QLatin1String("Error"), Qt::CaseInsensitive) == 0
        || t.compare(QLatin1String("Success"), Qt::CaseInsensitive) == 0;
}

const QSet<QString>& alwaysLifted()
{
    static const QSet<QString> keys = {
        QStringLiteral("next"),          QStringLiteral("user_id"),       QStringLiteral("userId"),
        QStringLiteral("access_token"),  QStringLiteral("refresh_token"), QStringLiteral("expires_in"),
        QStringLiteral("user"),          QStringLiteral("otp_length"),    QStringLiteral("otp_time"),
        QStringLiteral("mobile_number"), QStringLiteral("remember_me"),   QStringLiteral("success"),
        QStringLiteral("attempts"),      QStringLiteral("time"),          QStringLiteral("mobile_verification_link"),
        QStringLiteral("data"),          QStringLiteral("devices"),       QStringLiteral("cameras"),
    };
    return keys;
}

qint64 wholeNumber(double d, bool* ok)
{
    // A number with a fraction, or one too large for 64 bits, is not whole.
    if (d != d || d < -9.2e18 || d > 9.2e18 || static_cast<double>(static_cast<qint64>(d)) != d) {
        *ok = false;
        return 0;
    }
    *ok = true;
    return static_cast<qint64>(d);
}

int clamp32(qint64 v)
{
    if (v > std::numeric_limits<int>::max())
        return std::numeric_limits<int>::max();
    if (v < std::numeric_limits<int>::min())
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// How a key's value goes to the log: a secret (passwords, one-time codes,
// tokens, shared secrets) or personal data (the log goes out with support
// requests, and what it says of a person is no one else's business) is masked.
enum class Logged { AsIs, Secret, Personal };

Logged loggedAs(const QString& key)
{
    static const QHash<QString, Logged> kinds = [] {
        QHash<QString, Logged> k;
        for (const char* secret :
             {"password", "pass", "passwd", "otp", "code", "access_token", "refresh_token", "access", "refresh",
              "token", "id_token", "secret", "spa_secret", "x-spa-secret", "authorization"})
            k.insert(QLatin1String(secret), Logged::Secret);
        for (const char* personal :
             {"email",         "e_mail",    "email_address", "mail",           "phone",    "phone_number", "mobile",
              "mobile_number", "mobile_no", "telephone",     "contact_number", "contact",  "first_name",   "last_name",
              "middle_name",   "full_name", "display_name",  "firstname",      "lastname", "fullname"})
            k.insert(QLatin1String(personal), Logged::Personal);
        return k;
    }();
    return kinds.value(key.toLower(), Logged::AsIs);
}

// An object that describes a person: its plain "name" is the person's.
bool describesPerson(const QJsonObject& object)
{
    for (const char* key : {"username", "email", "first_name", "last_name", "mobile_number"})
        if (object.contains(QLatin1String(key)))
            return true;
    return false;
}

bool looksLikeEmail(const QString& text)
{
    static const QRegularExpression kEmail(QStringLiteral("[^\\s@/:]+@[^\\s@/]+\\.[A-Za-z]{2,}"));
    return !text.contains(QLatin1String("://")) && kEmail.match(text).hasMatch();
}

QJsonValue redactValue(const QJsonValue& v);

QJsonArray redactArray(const QJsonArray& a)
{
    QJsonArray out;
    for (const QJsonValue& e : a)
        out.append(redactValue(e));
    return out;
}

QJsonValue redactValue(const QJsonValue& v)
{
    if (v.isObject()) {
        QJsonObject o = v.toObject();
        redactForLog(o);
        return o;
    }
    if (v.isArray())
        return redactArray(v.toArray());
    if (v.isString()) {
        const QString s = v.toString();
        if (s.contains(QLatin1String("://")) && s.contains(QLatin1Char('@')))
            return redactUrl(s);
        if (looksLikeEmail(s))
            return QStringLiteral("***");
    }
    return v;
}

} // namespace

QJsonObject unwrapEnvelope(const QJsonObject& answer)
{
    QJsonObject top = answer;
    static const QString containers[] = {QStringLiteral("details"), QStringLiteral("data"), QStringLiteral("result")};
    for (int pass = 0; pass < 2; ++pass) {
        for (const QString& container : containers) {
            const QJsonValue cv = top.value(container);
            if (!cv.isObject())
                continue;
            const QJsonObject inner = cv.toObject();
            for (auto it = inner.begin(); it != inner.end(); ++it) {
                const QString key = it.key();
                const bool weakMessage =
                    key == QLatin1String("message") && isWeakText(findMessage(top.value(QStringLiteral("message"))));
                const bool copy =
                    !top.contains(key) || isEmptyValue(top.value(key)) || weakMessage || alwaysLifted().contains(key);
                if (copy)
                    top.insert(key, it.value());
            }
        }
    }
    return top;
}

QString findMessage(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        bool ok = false;
        const qint64 n = wholeNumber(value.toDouble(), &ok);
        return ok ? QString::number(n) : QString::number(value.toDouble());
    }
    if (value.isArray()) {
        const QJsonArray a = value.toArray();
        return a.isEmpty() ? QString() : findMessage(a.first());
    }
    if (value.isObject()) {
        const QJsonObject o = value.toObject();
        for (const char* key : {"message", "description", "detail", "error"}) {
            const QString t = findMessage(o.value(QLatin1String(key)));
            if (!t.isEmpty() && t != QLatin1String("{}"))
                return t;
        }
    }
    return QString();
}

QString errorMessage(const QJsonObject& object)
{
    for (const char* key : {"message", "error", "detail"}) {
        const QString text = findMessage(object.value(QLatin1String(key)));
        if (!isWeakText(text))
            return text;
    }
    return findMessage(object.value(QStringLiteral("message")));
}

QString jsonIdToString(const QJsonValue& value)
{
    if (value.isDouble()) {
        bool ok = false;
        const qint64 n = wholeNumber(value.toDouble(), &ok);
        return QString::number(ok ? n : 0);
    }
    if (value.isString())
        return value.toString();
    if (value.isObject())
        return jsonIdToString(value.toObject().value(QStringLiteral("id")));
    if (value.isNull() || value.isUndefined() || value.isArray())
        return QString();
    return value.toVariant().toString();
}

int jsonInt(const QJsonValue& value, int fallback)
{
    if (value.isDouble()) {
        bool ok = false;
        const qint64 n = wholeNumber(value.toDouble(), &ok);
        if (!ok) {
            // Too large to be whole in 64 bits still counts by its sign.
            const double d = value.toDouble();
            if (d > 9.2e18)
                return std::numeric_limits<int>::max();
            if (d < -9.2e18)
                return std::numeric_limits<int>::min();
            return 0;
        }
        return clamp32(n);
    }
    if (value.isString()) {
        bool ok = false;
        const qint64 n = value.toString().toLongLong(&ok, 10);
        return ok ? clamp32(n) : fallback;
    }
    return fallback;
}

QString jsonString(const QJsonObject& object, const QString& keyA, const QString& keyB)
{
    const QJsonValue a = object.value(keyA);
    if (a.isString() && !a.toString().isEmpty())
        return a.toString();
    const QJsonValue b = object.value(keyB);
    return b.isString() ? b.toString() : QString();
}

QJsonArray responseList(const QJsonObject& answer, const QStringList& keys)
{
    const QJsonObject env = unwrapEnvelope(answer);
    for (const QString& key : keys) {
        if (env.value(key).isArray())
            return env.value(key).toArray();
        if (answer.value(key).isArray())
            return answer.value(key).toArray();
    }
    return QJsonArray();
}

bool holdsList(const QJsonObject& answer, const QStringList& keys)
{
    if (answer.isEmpty())
        return false;
    const QJsonObject env = unwrapEnvelope(answer);
    bool misplaced = false;
    for (const QString& key : keys) {
        // An object under an envelope's name is the envelope (its members
        // were looked at once lifted); an empty one is no list at all.
        const bool envelope =
            key == QLatin1String("data") || key == QLatin1String("details") || key == QLatin1String("result");
        for (const QJsonObject* o : {&env, &answer}) {
            const QJsonValue v = o->value(key);
            if (v.isArray())
                return true;
            const bool nothing =
                v.isUndefined() || v.isNull() || (v.isObject() && (envelope || v.toObject().isEmpty()));
            misplaced = misplaced || !nothing;
        }
    }
    return !misplaced;
}

QJsonValue jsonIdValue64(const QString& id)
{
    bool ok = false;
    const qint64 n = id.toLongLong(&ok, 10);
    if (ok)
        return QJsonValue(n);
    return QJsonValue(id);
}

QJsonValue jsonIdValue32(const QString& id)
{
    bool ok = false;
    const int n = id.toInt(&ok, 10);
    if (ok)
        return QJsonValue(n);
    return QJsonValue(id);
}

void redactForLog(QJsonObject& object)
{
    const bool person = describesPerson(object);
    for (auto it = object.begin(); it != object.end(); ++it) {
        const Logged kind = loggedAs(it.key());
        const bool personal = kind == Logged::Personal || (person && it.key() == QLatin1String("name"));
        if (personal && (it.value().isString() || it.value().isDouble())) {
            it.value() = QStringLiteral("***");
            continue;
        }
        if (kind == Logged::Secret) {
            if (!it.value().isNull())
                it.value() = QStringLiteral("***");
            continue;
        }
        const QJsonValue v = it.value();
        if (v.isObject() || v.isArray() || v.isString())
            it.value() = redactValue(v);
    }
}

QString redactUrl(const QString& url)
{
    // Done on the text, not through a URL parser: a password holding an
    // unencoded "@", "/" or "#" makes the address invalid to the parser, and
    // such an address must not reach the log as it is. Everything from "://"
    // to the last "@" before the address ends (white space, a quote or an
    // angle bracket) is user information, also for addresses inside a text.
    QString out = url;
    int from = 0;
    while ((from = out.indexOf(QLatin1String("://"), from)) >= 0) {
        const int start = from + 3;
        int end = start;
        while (end < out.size()) {
            const QChar c = out.at(end);
            if (c.isSpace() || c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('<')
                || c == QLatin1Char('>'))
                break;
            ++end;
        }
        const int at = end > start ? int(out.lastIndexOf(QLatin1Char('@'), end - 1)) : -1;
        if (at >= start)
            out.remove(start, at + 1 - start);
        from = start;
    }
    return out;
}

QString bodySummary(const QJsonObject& answer, qint64 bodyBytes)
{
    if (bodyBytes >= tun::kLogBodyLimit_bytes)
        return QStringLiteral("<%1 KB>").arg(bodyBytes / 1024);
    QJsonObject copy = answer;
    redactForLog(copy);
    return QString::fromUtf8(QJsonDocument(copy).toJson(QJsonDocument::Compact));
}

QJsonObject tokenClaims(const QString& token)
{
    const QStringList parts = token.split(QLatin1Char('.'));
    if (parts.size() < 2)
        return QJsonObject();
    QByteArray payload = parts.at(1).toLatin1();
    while (payload.endsWith('='))
        payload.chop(1);
    const auto decoded = QByteArray::fromBase64Encoding(payload,
                                                        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals
                                                            | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return QJsonObject();
    const QJsonDocument doc = QJsonDocument::fromJson(*decoded);
    return doc.isObject() ? doc.object() : QJsonObject();
}

QString tokenSummary(const QString& token, qint64 nowSecs)
{
    if (token.split(QLatin1Char('.')).size() < 2)
        return QStringLiteral("(not a JWT)");
    const QJsonObject claims = tokenClaims(token);
    if (claims.isEmpty())
        return QStringLiteral("(unreadable)");
    const qint64 exp = claims.value(QStringLiteral("exp")).toInteger(0);
    const qint64 iat = claims.value(QStringLiteral("iat")).toInteger(0);
    QString text;
    if (iat != 0)
        text += QStringLiteral("issued %1 s ago").arg(nowSecs - iat);
    if (exp != 0) {
        text += QStringLiteral("%1ends %2 s %3")
                    .arg(text.isEmpty() ? QString() : QStringLiteral(", "))
                    .arg(qAbs(exp - nowSecs))
                    .arg(exp < nowSecs ? QStringLiteral("ago") : QStringLiteral("from now"));
        if (iat != 0)
            text += QStringLiteral(", lifetime %1 s").arg(exp - iat);
    }
    const QJsonValue jti = claims.value(QStringLiteral("jti"));
    if (jti.isString() && !jti.toString().isEmpty())
        text += QStringLiteral(", id %1").arg(jti.toString().left(8));
    return text;
}

QString encodeQuery(const QUrlQuery& query)
{
    QStringList items;
    const auto pairs = query.queryItems(QUrl::FullyDecoded);
    for (const auto& [key, value] : pairs) {
        items << QString::fromLatin1(QUrl::toPercentEncoding(key)) + QLatin1Char('=')
                + QString::fromLatin1(QUrl::toPercentEncoding(value));
    }
    return items.join(QLatin1Char('&'));
}

} // namespace kvr::api
