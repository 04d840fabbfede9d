#include "native/services/DigestAuth.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace kvr::services {

namespace NativeDigest {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isTokenChar(char c)
{
    return !isSpace(c) && c != ',' && c != '=' && c != '"';
}

// A quoted string (the opening quote at `at`) with its escapes undone.
QByteArray quoted(const QByteArray& text, qsizetype& at)
{
    QByteArray out;
    ++at;
    while (at < text.size() && text.at(at) != '"') {
        if (text.at(at) == '\\' && at + 1 < text.size())
            ++at;
        out += text.at(at++);
    }
    ++at; // the closing quote, when there is one
    return out;
}

QByteArray quote(const QByteArray& value)
{
    QByteArray out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + '"';
}

QCryptographicHash::Algorithm hashOf(const QByteArray& algorithm)
{
    return algorithm.toUpper().startsWith("SHA-256") ? QCryptographicHash::Sha256 : QCryptographicHash::Md5;
}

bool supportedAlgorithm(const QByteArray& name)
{
    const QByteArray a = name.toUpper();
    return a.isEmpty() || a == "MD5" || a == "MD5-SESS" || a == "SHA-256" || a == "SHA-256-SESS";
}

} // namespace

QList<Challenge> parseChallenges(const QByteArray& text)
{
    QList<Challenge> out;
    qsizetype at = 0;
    const qsizetype n = text.size();
    while (at < n) {
        while (at < n && (isSpace(text.at(at)) || text.at(at) == ','))
            ++at;
        if (at >= n)
            break;
        const qsizetype start = at;
        while (at < n && isTokenChar(text.at(at)))
            ++at;
        const QByteArray token = text.mid(start, at - start).toLower();
        if (token.isEmpty()) {
            ++at; // a stray "=" or quote
            continue;
        }
        qsizetype next = at;
        while (next < n && (text.at(next) == ' ' || text.at(next) == '\t'))
            ++next;
        if (next < n && text.at(next) == '=') {
            // A parameter of the challenge before it.
            at = next + 1;
            while (at < n && (text.at(at) == ' ' || text.at(at) == '\t'))
                ++at;
            QByteArray value;
            if (at < n && text.at(at) == '"') {
                value = quoted(text, at);
            } else {
                const qsizetype from = at;
                while (at < n && text.at(at) != ',' && !isSpace(text.at(at)))
                    ++at;
                value = text.mid(from, at - from);
            }
            if (!out.isEmpty())
                out.last().params.insert(token, value);
            continue;
        }
        out.append(Challenge{token, {}});
    }
    return out;
}

std::optional<Digest> pickDigest(const QList<Challenge>& challenges)
{
    std::optional<Digest> best;
    for (const Challenge& c : challenges) {
        if (c.scheme != "digest")
            continue;
        Digest d;
        d.nonce = c.params.value("nonce");
        d.realm = c.params.value("realm");
        d.opaque = c.params.value("opaque");
        d.algorithm = c.params.value("algorithm");
        d.userhash = c.params.value("userhash").toLower() == "true";
        d.stale = c.params.value("stale").toLower() == "true";
        if (d.nonce.isEmpty() || !supportedAlgorithm(d.algorithm))
            continue;
        if (c.params.contains("qop")) {
            bool auth = false;
            bool authInt = false;
            for (const QByteArray& q : c.params.value("qop").split(',')) {
                auth = auth || q.trimmed().toLower() == "auth";
                authInt = authInt || q.trimmed().toLower() == "auth-int";
            }
            if (!auth && !authInt)
                continue;
            d.qop = auth ? QByteArrayLiteral("auth") : QByteArrayLiteral("auth-int");
        }
        const bool stronger = best && hashOf(d.algorithm) == QCryptographicHash::Sha256
            && hashOf(best->algorithm) != QCryptographicHash::Sha256;
        if (!best || stronger)
            best = d;
    }
    return best;
}

bool offersBasic(const QList<Challenge>& challenges)
{
    for (const Challenge& c : challenges)
        if (c.scheme == "basic")
            return true;
    return false;
}

QByteArray answer(const Digest& d, const QByteArray& method, const QByteArray& uri, const QByteArray& body,
                  const QString& user, const QString& password, quint32 nonceCount, const QByteArray& cnonce)
{
    const QCryptographicHash::Algorithm algorithm = hashOf(d.algorithm);
    auto h = [algorithm](const QByteArray& data) { return QCryptographicHash::hash(data, algorithm).toHex(); };
    const QByteArray userBytes = user.toUtf8();
    const QByteArray nc = QByteArray::number(nonceCount, 16).rightJustified(8, '0');
    QByteArray ha1 = h(userBytes + ':' + d.realm + ':' + password.toUtf8());
    if (d.algorithm.toUpper().endsWith("-SESS"))
        ha1 = h(ha1 + ':' + d.nonce + ':' + cnonce);
    const QByteArray ha2 = d.qop == "auth-int" ? h(method + ':' + uri + ':' + h(body)) : h(method + ':' + uri);
    const QByteArray response = d.qop.isEmpty()
        ? h(ha1 + ':' + d.nonce + ':' + ha2)
        : h(ha1 + ':' + d.nonce + ':' + nc + ':' + cnonce + ':' + d.qop + ':' + ha2);

    QByteArray out = "Digest username=" + quote(d.userhash ? h(userBytes + ':' + d.realm) : userBytes);
    out += ", realm=" + quote(d.realm) + ", nonce=" + quote(d.nonce) + ", uri=" + quote(uri);
    if (!d.algorithm.isEmpty())
        out += ", algorithm=" + d.algorithm;
    out += ", response=" + quote(response);
    if (!d.opaque.isEmpty())
        out += ", opaque=" + quote(d.opaque);
    if (!d.qop.isEmpty())
        out += ", qop=" + d.qop + ", nc=" + nc + ", cnonce=" + quote(cnonce);
    if (d.userhash)
        out += ", userhash=true";
    return out;
}

QByteArray answerOnce(const QByteArray& challengeText, const QByteArray& method, const QByteArray& uri,
                      const QString& user, const QString& password)
{
    const QList<Challenge> challenges = parseChallenges(challengeText);
    if (const std::optional<Digest> digest = pickDigest(challenges))
        return answer(*digest, method, uri, QByteArray(), user, password, 1, newCnonce());
    return offersBasic(challenges) ? basicAnswer(user, password) : QByteArray();
}

QByteArray basicAnswer(const QString& user, const QString& password)
{
    return "Basic " + (user + QLatin1Char(':') + password).toUtf8().toBase64();
}

QByteArray newCnonce()
{
    const quint64 r = QRandomGenerator::system()->generate64();
    return QByteArray::number(r, 16).rightJustified(16, '0');
}

} // namespace NativeDigest

} // namespace kvr::services
