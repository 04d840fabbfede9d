#pragma once

#include "tests/fixtures/orgserver/HttpServer.h"

#include <QList>
#include <QStringList>

namespace shelltest {

// The headers each kind of request to the organisation's server must carry:
// the shared secret only with sign-in and renewal, the access token with every
// other API call and never with those, nothing with the code steps.
inline QString headerViolation(const QString& method, const QString& path, const QByteArray& secret,
                               const QByteArray& authorization)
{
    const QString what = method + QLatin1Char(' ') + path;
    if (path == QLatin1String("/v2/login/") || path == QLatin1String("/v2/token/refresh/")) {
        if (secret.isEmpty())
            return what + QStringLiteral(": no shared secret");
        if (!authorization.isEmpty())
            return what + QStringLiteral(": an access token with a sign-in step");
        return {};
    }
    if (path.startsWith(QLatin1String("/api/otp/"))) {
        if (!secret.isEmpty() || !authorization.isEmpty())
            return what + QStringLiteral(": credentials with a code step");
        return {};
    }
    if (path.startsWith(QLatin1String("/v2/"))) {
        if (!authorization.startsWith("Bearer ") || authorization.size() < 20)
            return what + QStringLiteral(": no access token");
        if (!secret.isEmpty())
            return what + QStringLiteral(": the shared secret with an API call");
    }
    return {};
}

inline QStringList headerViolations(const QList<orgserver::Request>& requests)
{
    QStringList out;
    for (const orgserver::Request& r : requests) {
        const QString v = headerViolation(QString::fromLatin1(r.method), r.path, r.header("x-spa-secret"),
                                          r.header("authorization"));
        if (!v.isEmpty())
            out << v;
    }
    return out;
}

} // namespace shelltest
