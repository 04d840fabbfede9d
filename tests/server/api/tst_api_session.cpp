// Sign-in with one-time codes, token refresh shared by every path that
// renews, the keep-alive timer, 401 handling and the end of a session.
#include "server/api/ApiPolicy.h"
#include "tests/server/api/ApiTestSupport.h"

#include <QProcess>
#include <QSignalSpy>

using apitest::await;
using orgserver::Answer;
using orgserver::Request;

namespace {

LoginStart signIn(ApiClient& client, const QString& user, const QString& password)
{
    return std::get<0>(await<LoginStart>([&](auto cb) { client.login(user, password, false, cb); }));
}

LoginStart refresh(ApiClient& client)
{
    return std::get<0>(await<LoginStart>([&](auto cb) { client.refresh(cb); }));
}

bool renew(ApiClient& client)
{
    return std::get<0>(await<bool>([&](auto cb) { client.refreshSession(cb); }));
}

} // namespace

class ApiSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { apitest::installLoopbackGuard(); }

    void signInAnswers()
    {
        apitest::Rig rig;
        rig.client->setBaseUrl(rig.server.baseUrl() + "///");
        LoginStart r = signIn(*rig.client, "DEMO", "secret");
        QCOMPARE(r.step, int(LoginStart::SignedIn));
        QVERIFY(!r.accessToken.isEmpty() && !r.refreshToken.isEmpty());
        QCOMPARE(r.expiresIn, 900);
        QCOMPARE(r.user.organisationId, QString("7"));
        QCOMPARE(r.failure, ApiFailure::None);
        QCOMPARE(rig.client->baseUrl(), rig.server.baseUrl());
        r = signIn(*rig.client, "nobody", "x");
        QVERIFY(r.userNotFound && r.error == "User not found.");
        r = signIn(*rig.client, "demo", "wrong");
        QCOMPARE(r.error, QString("Username or password is incorrect."));
        // No address at all: nothing is sent, the answer comes before login returns.
        rig.client->setBaseUrl("   ");
        rig.client->login("a", "b", false, [&](const LoginStart& x) { r = x; });
        QCOMPARE(r.error,
                 QString("Can\u2019t reach . Check your connection, or change the server under \u201cServer\u201d."));
    }

    // What went wrong is told by its kind: an outage keeps a remembered
    // sign-in, a refusal does not.
    void failureKindsOfASignIn_data()
    {
        QTest::addColumn<int>("mode"); // 0 closed port, 1 never answers, 2 hangs up, else an HTTP status
        QTest::addColumn<ApiFailure>("kind");
        QTest::newRow("closed port") << 0 << ApiFailure::Unreachable;
        QTest::newRow("silence") << 1 << ApiFailure::NoAnswer;
        QTest::newRow("hang-up") << 2 << ApiFailure::NoAnswer;
        QTest::newRow("429") << 429 << ApiFailure::Throttled;
        QTest::newRow("502") << 502 << ApiFailure::ServerError;
        QTest::newRow("403") << 403 << ApiFailure::Refused;
    }
    void failureKindsOfASignIn()
    {
        QFETCH(int, mode);
        QFETCH(ApiFailure, kind);
        apitest::Rig rig;
        ApiClientTestAccess::setTransferTimeout(*rig.client, 300);
        if (mode == 0)
            rig.client->setBaseUrl(QString("http://127.0.0.1:%1").arg(kvrtest::freePort()));
        else
            rig.server.script("/v2/login/",
                              mode == 1       ? Answer::never()
                                  : mode == 2 ? Answer::hangUp()
                                              : Answer::json(mode, {}),
                              -1);
        const LoginStart r = signIn(*rig.client, "demo", "secret");
        QCOMPARE(r.step, int(LoginStart::Failed));
        QCOMPARE(r.failure, kind);
        if (mode < 3)
            QVERIFY2(r.error.startsWith("Can\u2019t reach 127.0.0.1."), qPrintable(r.error));
    }

    void oneTimeCodes()
    {
        kvrtest::TestClock clock;
        apitest::Rig rig;
        rig.server.addUser("coded", "pw", true);
        auto step = [&](auto start) { return std::get<0>(await<LoginStart>(start)); };
        LoginStart r = signIn(*rig.client, "coded", "pw");
        QCOMPARE(r.step, int(LoginStart::CodeRequired));
        QVERIFY(r.otpLength == 6 && r.otpTime == 300 && !r.contact.isEmpty());
        const QString userId = r.userId;
        r = step([&](auto cb) { rig.client->verifyOtp(userId, "000000", true, cb); });
        QVERIFY(r.step == LoginStart::Failed && r.error == "Invalid OTP." && r.attempts == 1);
        QCOMPARE(r.failure, ApiFailure::Refused);
        clock.advanceSecs(301);
        r = step([&](auto cb) { rig.client->verifyOtp(userId, rig.server.otpCode, true, cb); });
        QVERIFY(r.step == LoginStart::Failed && r.error.contains("expired"));
        r = step([&](auto cb) { rig.client->resendOtp(userId, cb); });
        QVERIFY(r.step == LoginStart::CodeRequired && r.otpResent && r.otpTime == 300);
        r = step([&](auto cb) { rig.client->resendOtp(userId, cb); });
        QVERIFY(r.step == LoginStart::Failed && r.message.contains("Too many requests") && r.error == r.message);
        QCOMPARE(r.failure, ApiFailure::Throttled);
        r = step([&](auto cb) { rig.client->verifyOtp(userId, rig.server.otpCode, true, cb); });
        QVERIFY(r.step == LoginStart::SignedIn && !r.accessToken.isEmpty());

        // Ids are sent as numbers without leading zeros, text stays text.
        step([&](auto cb) { rig.client->verifyOtp("000" + userId, "1", true, cb); });
        QCOMPARE(rig.server.requestsTo("/api/otp/verify/").last().json().value("user_id"),
                 QJsonValue(userId.toLongLong()));
        step([&](auto cb) { rig.client->resendOtp("u-17", cb); });
        QCOMPARE(rig.server.requestsTo("/api/otp/regenerate/").last().json().value("user_id"), QJsonValue("u-17"));

        // No answer to a code check or a resend is an outage, not a wrong code.
        rig.server.script("/api/otp/verify/", Answer::hangUp(), -1);
        rig.server.script("/api/otp/regenerate/", Answer::hangUp(), -1);
        r = step([&](auto cb) { rig.client->verifyOtp(userId, "123456", false, cb); });
        QVERIFY(r.step == LoginStart::Failed && r.failure == ApiFailure::NoAnswer);
        r = step([&](auto cb) { rig.client->resendOtp(userId, cb); });
        QVERIFY(r.failure == ApiFailure::NoAnswer && !r.otpResent);
    }

    void refreshRotatesTokens()
    {
        kvrtest::LogCapture log;
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QSignalSpy changed(rig.client.get(), &ApiClient::refreshTokenChanged);
        // Renewal at 3/4 of a 900 s lifetime; the timer renews and reschedules.
        rig.client->startSessionKeepAlive(900);
        QVERIFY(log.matching("[session] signed in; access token").first().endsWith("cookies held: sessionid"));
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 675000);
        const QString before = rig.client->refreshToken();
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QTRY_COMPARE(changed.count(), 1);
        QVERIFY(rig.client->refreshToken() != before);
        QCOMPARE(changed.first().first().toString(), rig.client->refreshToken());
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 675000);
        const LoginStart r = refresh(*rig.client);
        QCOMPARE(r.step, int(LoginStart::SignedIn));
        QCOMPARE(rig.client->accessToken(), r.accessToken);
        QCOMPARE(changed.count(), 2);

        // An answer that keeps the same refresh token, or has none, changes nothing.
        const QString held = rig.client->refreshToken();
        rig.server.script("/v2/token/refresh/",
                          Answer::json(200, {{"access_token", "A2"}, {"refresh_token", held}, {"expires_in", 40}}));
        rig.server.script("/v2/token/refresh/", Answer::json(200, {{"access", "A3"}}));
        QCOMPARE(refresh(*rig.client).step, int(LoginStart::SignedIn)); // step 0 whatever "next" said
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 30000);
        refresh(*rig.client);
        QCOMPARE(rig.client->accessToken(), QString("A3"));
        QCOMPARE(rig.client->refreshToken(), held);
        QCOMPARE(changed.count(), 2);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 450000);
    }

    // The timer, a 401, the cloud playlist and a restored sign-in may all want
    // a renewal at once. The rotating refresh token must go out once: a second
    // copy is a replay, which ends the whole sign-in on the server.
    void everyPathSharesOneRenewal()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        rig.server.delayRule = [](const Request& r) { return r.path == "/v2/token/refresh/" ? 100 : 0; };
        rig.server.script("/v2/auth/me/", Answer::json(401, {}), 2);
        QList<int> statuses;
        for (int i = 0; i < 2; ++i)
            rig.client->getJson("/v2/auth/me/", true,
                                [&](const QJsonObject&, int s, const QString&) { statuses << s; });
        QCOMPARE(refresh(*rig.client).step, int(LoginStart::SignedIn));
        QTRY_COMPARE(statuses, (QList<int>{200, 200}));
        QCOMPARE(rig.server.countOf("/v2/auth/me/"), 4); // each repeated once, with the new token
        QCOMPARE(rig.server.requestsTo("/v2/auth/me/").last().header("authorization"),
                 "Bearer " + rig.client->accessToken().toUtf8());
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        QCOMPARE(rig.server.replays, 0);
        QCOMPARE(std::get<1>(rig.get("/v2/auth/me/")), 200); // the sign-in lives on

        // A 401 for a token replaced while the request was out is repeated with
        // the new token; renewing again would spend the new refresh token.
        rig.server.script("/v2/auth/me/", Answer::json(401, {}).after(300));
        int late = 0;
        rig.client->getJson("/v2/auth/me/", true, [&](const QJsonObject&, int s, const QString&) { late = s; });
        QTRY_COMPARE(rig.server.countOf("/v2/auth/me/"), 6);
        QVERIFY(renew(*rig.client));
        QTRY_COMPARE(late, 200);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 2);
        QCOMPARE(expired.count(), 0);
    }

    // A refresh whose connection drops after the server read it is not sent
    // again on a new connection: the server has already rotated the token.
    void refreshIsNeverReplayed()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        // Sign-in kept the connection alive; the refresh reuses it.
        rig.server.scriptHandler(
            "/v2/token/refresh/",
            [&](const Request& r) {
                rig.server.modelAnswer(r);
                return Answer::hangUp();
            },
            1);
        const LoginStart r = refresh(*rig.client);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        QCOMPARE(rig.server.replays, 0);
        QCOMPARE(r.failure, ApiFailure::NoAnswer);
    }

    void transientRefreshFailuresRetryWithoutEndingTheSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("500") << 500;
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
        rig.server.script("/v2/token/refresh/", status ? Answer::json(status, {{"message", "busy"}}) : Answer::hangUp(),
                          -1);
        rig.client->startSessionKeepAlive(900);
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QVERIFY(QTest::qWaitFor([&] { return ApiClientTestAccess::refreshIntervalMs(*rig.client) == 45000; }, 10000));
        QVERIFY(expired.isEmpty() && !rig.client->accessToken().isEmpty());
        // The refresh itself reads as "cannot reach", so that a remembered
        // sign-in survives the outage; a refusal does not.
        LoginStart r = refresh(*rig.client);
        QVERIFY2(r.error.startsWith("Can\u2019t reach") && ApiPolicy::isOutage(r.failure), qPrintable(r.error));
        rig.server.clearScripts();
        rig.server.script("/v2/token/refresh/", Answer::json(401, {{"detail", "Token is invalid"}}));
        r = refresh(*rig.client);
        QCOMPARE(r.error, QString("Token is invalid"));
        QCOMPARE(r.failure, ApiFailure::Expired);
        QCOMPARE(expired.count(), 0); // no session was being kept by a restore
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
        QVERIFY(!renew(*rig.client));
        QCOMPARE(expired.count(), 1);
        QVERIFY2(rig.client->sessionEndReason().contains("still had 10 minutes left"),
                 qPrintable(rig.client->sessionEndReason()));
        QVERIFY(!renew(*rig.client));
        QCOMPARE(expired.count(), 1); // silent until the next sign-in
        // A failed timed renewal after the notice does not reschedule itself.
        const auto failures = log.matching("[session] renewal failed").size();
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QTRY_COMPARE(log.matching("[session] renewal failed").size(), failures + 1);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), -1);

        rig.client->startSessionKeepAlive(900);
        clock.advanceSecs(880); // the token ran out
        QVERIFY(!renew(*rig.client));
        QCOMPARE(expired.count(), 2);
        QCOMPARE(rig.client->sessionEndReason(), QString("Your sign-in ran out and could not be renewed."));

        // A 401 whose renewal is refused reaches its caller as an ended session.
        const auto [a, status, error] = rig.get("/v2/auth/me/");
        QCOMPARE(status, 401);
        QCOMPARE(error, QString("Your session has expired. Please sign in again."));
    }

    void unrenewed401s()
    {
        apitest::Rig rig;
        QVERIFY(rig.signIn());
        // A 401 on the repeat is reported as it came, after one renewal.
        rig.server.script("/v2/auth/me/", Answer::json(401, {{"message", "Nope"}}), 2);
        QCOMPARE(rig.get("/v2/auth/me/"), std::make_tuple(QJsonObject{{"message", "Nope"}}, 401, QString("Nope")));
        QCOMPARE(rig.server.countOf("/v2/auth/me/"), 2);
        // A request without auth is never renewed.
        QCOMPARE(std::get<1>(rig.get("/v2/auth/me/", false)), 401);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
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
        int calls = 0;
        bool ok = true;
        rig.client->refreshSession([&](bool r) {
            ok = r;
            ++calls;
        });
        QTRY_COMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        rig.client->logout();
        QTRY_COMPARE(calls, 1);
        QVERIFY(!ok);
        QTRY_VERIFY(log.contains("KVR POST /v2/token/refresh/ status 200")); // the late answer is in
        QVERIFY(rig.client->accessToken().isEmpty() && rig.client->refreshToken().isEmpty());
        QVERIFY(changed.isEmpty() && expired.isEmpty());
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), -1);
        // Without a refresh token the answer is no, at once and without a request.
        rig.client->refreshSession([&](bool r) { ok = r; });
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        // The next sign-in renews normally: the dropped renewal left nothing behind.
        QVERIFY(rig.signIn());
        QVERIFY(renew(*rig.client));
        QCOMPARE(calls, 1);
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
        auto me = [&] { return await<UserProfile, QString>([&](auto cb) { rig.client->fetchMe(cb); }); };
        auto [profile, error] = me();
        QVERIFY(profile.username == "ann" && error.isEmpty());
        QCOMPARE(rig.client->cloudStreamType(), QString("SUB"));
        // The sign-in's cookie went back with it.
        QVERIFY(rig.server.requestsTo("/v2/auth/me/").last().header("cookie").startsWith("sessionid="));
        // No answer is not an empty profile.
        rig.server.script("/v2/auth/me/", Answer::hangUp(), -1);
        std::tie(profile, error) = me();
        QVERIFY(!error.isEmpty() && profile.username.isEmpty());
        rig.server.clearScripts();
        // After sign-out neither the token nor the cookies of the session go out.
        rig.client->logout();
        me();
        const Request req = rig.server.requestsTo("/v2/auth/me/").last();
        QVERIFY(req.header("cookie").isEmpty() && req.header("authorization").isEmpty());
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
        ApiClient client;
        client.setBaseUrl(QString("http://127.0.0.1:%1").arg(port));
        const LoginStart r = signIn(client, "demo", "demo");
        QCOMPARE(r.step, int(LoginStart::SignedIn));
        client.setAccessToken(r.accessToken);
        const auto [sites, error] =
            await<QList<Site>, QString>([&](auto cb) { client.fetchCatalog(r.user.organisationName, cb); });
        QVERIFY(sites.size() == 2 && error.isEmpty());
        program.kill();
        program.waitForFinished(5000);
    }
};

KVR_TEST_MAIN(ApiSessionTest)
#include "tst_api_session.moc"
