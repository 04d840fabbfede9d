#pragma once

#include "app/context/AppContext.h"
#include "app/core/SessionStore.h"
#include "app/ui/Modal.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWidget>

#include <memory>

namespace shelltest {

// The fake organisation server with its demo organisation, the process's
// server client pointed at it, and dialogs that fail the test unless answered.
struct Rig {
    orgserver::FakeOrgServer server;

    Rig()
    {
        if (!server.listen())
            qFatal("fake server could not listen");
        server.populateDemo();
        server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
        server.addUser(QStringLiteral("otp"), QStringLiteral("secret"), true);
        kvr::context::AppContext& ctx = kvr::context::AppContext::instance();
        ctx.api.logout();
        ctx.api.setBaseUrl(server.baseUrl());
        ctx.user = kvr::api::UserProfile();
        ctx.sites.clear();
        ctx.orgName.clear();
        ctx.orgId.clear();
        ctx.viewActive = false;
        kvr::core::SessionStore::clear();
        kvr::ui::Modal::reset();
        kvr::ui::Modal::setStrict(true);
    }
    ~Rig() { kvr::context::AppContext::instance().api.logout(); }

    // Signs "demo" in through the client, as the sign-in window does.
    void signIn()
    {
        kvr::api::ApiClient& api = kvr::context::AppContext::instance().api;
        auto done = std::make_shared<bool>(false);
        api.login(QStringLiteral("demo"), QStringLiteral("secret"), true, [&api, done](const kvr::api::LoginStart& a) {
            api.setAccessToken(a.accessToken);
            api.setRefreshToken(a.refreshToken);
            kvr::context::AppContext::instance().user = a.user;
            *done = true;
        });
        if (!QTest::qWaitFor([done] { return *done; }, 10000))
            qFatal("sign-in did not answer");
    }
};

// The visible button (or check box) of `root` reading `text`.
template <typename T = QAbstractButton> T* buttonNamed(QWidget* root, const QString& text)
{
    for (T* b : root->findChildren<T*>())
        if (b->text() == text && b->isVisibleTo(root))
            return b;
    return nullptr;
}

// A loopback server that answers every connection in plain HTTP, as a
// server does where a secure connection was expected of it.
inline bool answerInPlainHttp(QTcpServer& server)
{
    if (!server.listen(QHostAddress::LocalHost))
        return false;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            s->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            s->disconnectFromHost();
        }
    });
    return true;
}

inline QLabel* labelNamed(QWidget* root, const QString& text)
{
    for (QLabel* l : root->findChildren<QLabel*>())
        if (l->text() == text)
            return l;
    return nullptr;
}

// The field a label is the buddy of.
inline QLineEdit* fieldOf(QWidget* root, const QString& labelText)
{
    QLabel* l = labelNamed(root, labelText);
    return l ? qobject_cast<QLineEdit*>(l->buddy()) : nullptr;
}

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
        const QString v =
            headerViolation(QString::fromLatin1(r.method), r.path, r.header("x-spa-secret"), r.header("authorization"));
        if (!v.isEmpty())
            out << v;
    }
    return out;
}

} // namespace shelltest
