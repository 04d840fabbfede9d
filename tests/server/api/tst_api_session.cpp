// Sign-in with one-time codes, token refresh, the keep-alive timer and the
// end of a session.
#include "tests/server/api/ApiTestSupport.h"

#include <QProcess>
#include <QSignalSpy>

using orgserver::Answer;

namespace {

struct LoginResult {
    bool done = false;
    LoginStart r;
    ApiClient::LoginCallback callback()
    {
        done = false;
        return [this](const LoginStart& x) {
            r = x;
            done = true;
        };
    }
};

} // namespace

class ApiSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { apitest::installLoopbackGuard(); }

    void signInAnswers()
    {
        apitest::Rig rig;
        rig.client->setBaseUrl(rig.server.baseUrl() + "///");
        LoginResult l;
        rig.client->login("DEMO", "secret", true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::SignedIn));
        QVERIFY(!l.r.accessToken.isEmpty() && !l.r.refreshToken.isEmpty());
        QCOMPARE(l.r.expiresIn, 900);
        QCOMPARE(l.r.user.username, QString("demo"));
        QCOMPARE(l.r.user.organisationId, QString("7"));
        QVERIFY(l.r.rememberMe);
        QCOMPARE(rig.client->baseUrl(), rig.server.baseUrl());

        rig.client->login("nobody", "x", false, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QVERIFY(l.r.userNotFound);
        QCOMPARE(l.r.error, QString("User not found."));
        rig.client->login("demo", "wrong", false, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.error, QString("Username or password is incorrect."));
        QVERIFY(!l.r.userNotFound);

        rig.client->setBaseUrl(QString("http://127.0.0.1:%1").arg(kvrtest::freePort()));
        rig.client->login("demo", "secret", false, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QVERIFY(l.r.error.startsWith("Can\u2019t reach 127.0.0.1."));

        // No address at all: nothing is sent, the answer comes before login returns.
        rig.client->setBaseUrl("   ");
        rig.client->login("a", "b", false, l.callback());
        QVERIFY(l.done);
        QCOMPARE(l.r.error,
                 QString("Can\u2019t reach . Check your connection, or change the server under \u201cServer\u201d."));
    }

    void oneTimeCodes()
    {
        kvrtest::TestClock clock;
        apitest::Rig rig;
        rig.server.addUser("coded", "pw", true);
        LoginResult l;
        rig.client->login("coded", "pw", true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::CodeRequired));
        QCOMPARE(l.r.otpLength, 6);
        QCOMPARE(l.r.otpTime, 300);
        QVERIFY(!l.r.contact.isEmpty());
        const QString userId = l.r.userId;

        // Invalid code.
        rig.client->verifyOtp(userId, "000000", true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QCOMPARE(l.r.error, QString("Invalid OTP."));
        QCOMPARE(l.r.attempts, 1);

        // Expired code.
        clock.advanceSecs(301);
        rig.client->verifyOtp(userId, rig.server.otpCode, true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QVERIFY(l.r.error.contains("expired"));

        // Resent, then throttled.
        rig.client->resendOtp(userId, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::CodeRequired));
        QVERIFY(l.r.otpResent);
        QCOMPARE(l.r.otpTime, 300);
        rig.client->resendOtp(userId, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QVERIFY(l.r.message.contains("Too many requests"));
        QCOMPARE(l.r.error, l.r.message);

        // The new code works.
        rig.client->verifyOtp(userId, rig.server.otpCode, true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::SignedIn));
        QVERIFY(!l.r.accessToken.isEmpty());

        // Ids are sent as numbers without leading zeros, text stays text.
        rig.client->verifyOtp("000" + userId, "1", true, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(rig.server.requestsTo("/api/otp/verify/").last().json().value("user_id"),
                 QJsonValue(userId.toLongLong()));
        rig.client->resendOtp("u-17", l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(rig.server.requestsTo("/api/otp/regenerate/").last().json().value("user_id"), QJsonValue("u-17"));

        // No answer to a code check or a resend reads as "cannot reach".
        rig.server.script("/api/otp/verify/", Answer::hangUp(), -1);
        rig.server.script("/api/otp/regenerate/", Answer::hangUp(), -1);
        rig.client->verifyOtp(userId, "123456", false, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QVERIFY2(l.r.error.contains("reach"), qPrintable(l.r.error));
        rig.client->resendOtp(userId, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QVERIFY(l.r.error.contains("reach") && !l.r.otpResent);
    }

    void refreshRotatesTokens()
    {
        kvrtest::LogCapture log;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QSignalSpy changed(rig.client.get(), &ApiClient::refreshTokenChanged);
        // Renewal at 3/4 of a 900 s lifetime; the timer renews and reschedules.
        rig.client->startSessionKeepAlive(900);
        QVERIFY(log.contains("[session] signed in; access token"));
        QVERIFY(log.matching("cookies held:").first().endsWith("sessionid"));
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 675000);
        const QString before = rig.client->refreshToken();
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QTRY_COMPARE(changed.count(), 1);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        QVERIFY(rig.client->refreshToken() != before);
        QCOMPARE(changed.first().first().toString(), rig.client->refreshToken());
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 675000);
        LoginResult l;
        rig.client->refresh(l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::SignedIn));
        QCOMPARE(rig.client->accessToken(), l.r.accessToken);
        QCOMPARE(changed.count(), 2);

        // An answer that keeps the same refresh token, or has none, changes nothing.
        const QString held = rig.client->refreshToken();
        rig.server.script("/v2/token/refresh/",
                          Answer::json(200, {{"access_token", "A2"}, {"refresh_token", held}, {"expires_in", 40}}));
        rig.server.script("/v2/token/refresh/", Answer::json(200, {{"access", "A3"}}));
        rig.client->refresh(l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::SignedIn)); // step 0 whatever "next" said
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 30000);
        rig.client->refresh(l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(rig.client->accessToken(), QString("A3"));
        QCOMPARE(rig.client->refreshToken(), held);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 450000);
    }

    void transientRefreshFailuresRetryWithoutEndingTheSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("500") << 500;
        QTest::newRow("503") << 503;
        QTest::newRow("408") << 408;
        QTest::newRow("429") << 429;
        QTest::newRow("no answer") << 0;
    }
    void transientRefreshFailuresRetryWithoutEndingTheSession()
    {
        QFETCH(int, status);
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        if (status == 0)
            rig.server.script("/v2/token/refresh/", Answer::hangUp(), -1);
        else
            rig.server.script("/v2/token/refresh/", Answer::json(status, {{"message", "busy"}}), -1);
        rig.client->startSessionKeepAlive(900);
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QVERIFY(QTest::qWaitFor([&] { return ApiClientTestAccess::refreshIntervalMs(*rig.client) == 45000; }, 10000));
        QCOMPARE(expired.count(), 0);
        QVERIFY(!rig.client->accessToken().isEmpty());

        // The refresh itself reads as "cannot reach", so that a remembered
        // sign-in survives the outage; a refusal does not.
        LoginResult l;
        rig.client->refresh(l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::Failed));
        QVERIFY2(l.r.error.contains("reach"), qPrintable(l.r.error));
        QCOMPARE(expired.count(), 0);
        rig.server.clearScripts();
        rig.server.script("/v2/token/refresh/", Answer::json(401, {{"detail", "Token is invalid"}}));
        rig.client->refresh(l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.error, QString("Token is invalid"));
    }

    void refusedRenewalEndsTheSessionOnce()
    {
        kvrtest::TestClock clock;
        kvrtest::LogCapture log;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.client->startSessionKeepAlive(900);
        clock.advanceSecs(300); // 600 s left on the access token
        rig.server.revokeAll();
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        apitest::Reply<bool> renewal;
        const auto& [ok] = renewal.args;
        rig.client->refreshSession(renewal.callback());
        QVERIFY(apitest::waitFor(renewal.done));
        QVERIFY(!ok);
        QCOMPARE(expired.count(), 1);
        QVERIFY2(rig.client->sessionEndReason().contains("still had 10 minutes left"),
                 qPrintable(rig.client->sessionEndReason()));
        rig.client->refreshSession(renewal.callback());
        QVERIFY(apitest::waitFor(renewal.done));
        QCOMPARE(expired.count(), 1); // silent until the next sign-in
        // A failed timed renewal after the notice does not reschedule itself.
        const auto failures = log.matching("[session] renewal failed").size();
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QTRY_COMPARE(log.matching("[session] renewal failed").size(), failures + 1);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), -1);

        rig.client->startSessionKeepAlive(900);
        clock.advanceSecs(880); // token ran out
        rig.client->refreshSession(renewal.callback());
        QVERIFY(apitest::waitFor(renewal.done));
        QCOMPARE(expired.count(), 2);
        QCOMPARE(rig.client->sessionEndReason(), QString("Your sign-in ran out and could not be renewed."));
    }

    void refreshEndingAfterSignOutIsDropped()
    {
        kvrtest::LogCapture log;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QSignalSpy changed(rig.client.get(), &ApiClient::refreshTokenChanged);
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        rig.server.script(
            "/v2/token/refresh/",
            Answer::json(200, {{"access_token", "late-access"}, {"refresh_token", "late-refresh"}, {"expires_in", 900}})
                .after(300));
        apitest::Reply<bool> renewal;
        const auto& [ok] = renewal.args;
        rig.client->refreshSession(renewal.callback());
        QTRY_COMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        rig.client->logout();
        QVERIFY(apitest::waitFor(renewal.done));
        QVERIFY(!ok);
        QTRY_VERIFY(log.contains("KVR POST /v2/token/refresh/ status 200")); // the late answer is in
        QVERIFY(rig.client->accessToken().isEmpty());
        QVERIFY(rig.client->refreshToken().isEmpty());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(expired.count(), 0);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), -1);
        // Without a refresh token the answer is no, at once and without a request.
        rig.client->refreshSession(renewal.callback());
        QVERIFY(renewal.done && !ok);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);

        // The next sign-in renews normally: the dropped renewal left nothing behind.
        QVERIFY(rig.signIn());
        rig.client->refreshSession(renewal.callback());
        QVERIFY(apitest::waitFor(renewal.done));
        QVERIFY(ok);
        QCOMPARE(renewal.calls, 3); // the dropped answer called nobody a second time
    }

    void demoProgramSignsInAndServesTheCatalogue()
    {
        // The fake server as a person runs it: its own process and port.
        const quint16 port = kvrtest::freePort();
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("KVR_FAKE_PORT", QString::number(port));
        program.setProcessEnvironment(env);
        program.start(KVR_FAKE_SERVER_PROGRAM, {});
        QVERIFY(program.waitForStarted(10000));
        QVERIFY(QTest::qWaitFor([&] { return program.canReadLine(); }, 10000));
        QVERIFY(program.readLine().contains("listening on"));
        ApiClient client;
        client.setBaseUrl(QString("http://127.0.0.1:%1").arg(port));
        LoginResult l;
        client.login("demo", "demo", false, l.callback());
        QVERIFY(apitest::waitFor(l.done));
        QCOMPARE(l.r.step, int(LoginStart::SignedIn));
        client.setAccessToken(l.r.accessToken);
        apitest::Reply<const QList<Site>&, const QString&> catalogue;
        client.fetchCatalog(l.r.user.organisationName, catalogue.callback());
        QVERIFY(apitest::waitFor(catalogue.done));
        QCOMPARE(std::get<0>(catalogue.args).size(), 2);
        QVERIFY(std::get<1>(catalogue.args).isEmpty());
        program.kill();
        program.waitForFinished(5000);
    }

    void profileAndCookies()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        rig.server.script(
            "/v2/auth/me/",
            Answer::json(
                200,
                {{"data",
                  QJsonObject{{"user",
                               QJsonObject{{"username", "ann"},
                                           {"organisation", QJsonObject{{"cloud_recording_stream_type", "SUB"}}}}}}}}));
        apitest::Reply<const UserProfile&, const QString&> me;
        const auto& [profile, error] = me.args;
        rig.client->fetchMe(me.callback());
        QVERIFY(apitest::waitFor(me.done));
        QCOMPARE(profile.username, QString("ann"));
        QVERIFY(error.isEmpty());
        QCOMPARE(rig.client->cloudStreamType(), QString("SUB"));
        // The sign-in's cookie went back with it.
        QVERIFY(rig.server.requestsTo("/v2/auth/me/").last().header("cookie").startsWith("sessionid="));

        // No answer is not an empty profile. (Sticky: the network layer
        // resends a GET once when a kept-alive connection closes unanswered.)
        rig.server.script("/v2/auth/me/", Answer::hangUp(), -1);
        rig.client->fetchMe(me.callback());
        QVERIFY(apitest::waitFor(me.done));
        QVERIFY(!error.isEmpty() && profile.username.isEmpty());

        rig.server.clearScripts();

        // After sign-out neither the token nor the cookies of the session go out.
        rig.client->logout();
        rig.client->fetchMe(me.callback());
        QVERIFY(apitest::waitFor(me.done));
        const auto req = rig.server.requestsTo("/v2/auth/me/").last();
        QVERIFY(req.header("cookie").isEmpty());
        QVERIFY(req.header("authorization").isEmpty());
    }
};

KVR_TEST_MAIN(ApiSessionTest)
#include "tst_api_session.moc"
