// Sign-in with one-time codes, token refresh shared by every path that
// renews, the keep-alive timer, 401 handling and the end of a session.
#include "server/api/ApiPolicy.h"
#include "tests/server/api/ApiTestSupport.h"

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

    // No answer is an outage (which keeps a remembered sign-in) at every step
    // of a sign-in; what the statuses mean is read by the readers, and the
    // sign-in window's suite walks the steps.
    void signInWithoutAnAnswer()
    {
        apitest::Rig rig;
        rig.server.addUser("coded", "pw", true);
        rig.client->setBaseUrl(rig.server.baseUrl() + "///");
        const QString userId = signIn(*rig.client, "coded", "pw").userId;
        QCOMPARE(rig.client->baseUrl(), rig.server.baseUrl()); // the address reached, without trailing slashes
        for (const char* path : {"/v2/login/", "/api/otp/verify/", "/api/otp/regenerate/"})
            rig.server.script(path, Answer::hangUp(), -1);
        const auto step = [&](auto start) { return std::get<0>(await<LoginStart>(start)); };
        for (const LoginStart& r : {signIn(*rig.client, "demo", "secret"),
                                    step([&](auto cb) { rig.client->verifyOtp(userId, "123456", false, cb); }),
                                    step([&](auto cb) { rig.client->resendOtp(userId, cb); })})
            QVERIFY2(r.failure == ApiFailure::NoAnswer && r.step != LoginStart::SignedIn && !r.otpResent,
                     qPrintable(r.error));
        // Nothing listening, and no address at all (answered before login returns).
        rig.client->setBaseUrl(QString("http://127.0.0.1:%1").arg(kvrtest::freePort()));
        LoginStart r = signIn(*rig.client, "demo", "secret");
        QVERIFY(r.error.startsWith("Can\u2019t reach 127.0.0.1.") && r.failure == ApiFailure::Unreachable);
        rig.client->setBaseUrl("   ");
        rig.client->login("a", "b", false, [&](const LoginStart& x) { r = x; });
        QCOMPARE(r.error,
                 QString("Can\u2019t reach . Check your connection, or change the server under \u201cServer\u201d."));
    }

    void refreshRotatesTokensAndProfile()
    {
        apitest::Rig rig(apitest::signedIn);
        QSignalSpy changed(rig.client.get(), &ApiClient::refreshTokenChanged);
        // Renewal at 3/4 of a 900 s lifetime; the timer renews and reschedules.
        rig.client->startSessionKeepAlive(900);
        const QString before = rig.client->refreshToken();
        ApiClientTestAccess::fireRefreshTimer(*rig.client);
        QTRY_COMPARE(changed.count(), 1);
        QVERIFY(rig.client->refreshToken() != before && changed[0][0] == rig.client->refreshToken());
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 675000);
        const LoginStart r = refresh(*rig.client);
        QVERIFY(r.step == LoginStart::SignedIn && rig.client->accessToken() == r.accessToken && changed.count() == 2);
        // An answer without a refresh token keeps the one held, and its
        // interval comes from the lifetime it gives (none: the default).
        const QString held = rig.client->refreshToken();
        rig.server.script("/v2/token/refresh/", Answer::json(200, {{"access", "A3"}, {"expires_in", 40}}));
        QCOMPARE(refresh(*rig.client).step, int(LoginStart::SignedIn)); // whatever "next" said
        QVERIFY(rig.client->accessToken() == "A3" && rig.client->refreshToken() == held && changed.count() == 2);
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 30000);

        const QByteArray user =
            R"({"data":{"user":{"username":"ann","organisation":{"cloud_recording_stream_type":"SUB"}}}})";
        rig.server.script("/v2/auth/me/", Answer::text(200, user, "application/json"));
        auto me = [&] { return await<UserProfile, QString>([&](auto cb) { rig.client->fetchMe(cb); }); };
        auto [profile, error] = me();
        QVERIFY(profile.username == "ann" && error.isEmpty());
        QCOMPARE(rig.client->cloudStreamType(), QString("SUB"));
        // The sign-in's cookie went back with it.
        QVERIFY(rig.server.requestsTo("/v2/auth/me/").last().header("cookie").startsWith("sessionid="));
        // After sign-out neither the token nor the cookies of the session go out.
        rig.client->logout();
        me();
        const Request req = rig.server.requestsTo("/v2/auth/me/").last();
        QVERIFY(req.header("cookie").isEmpty() && req.header("authorization").isEmpty());
    }

    // The timer, a 401, the cloud playlist and a restored sign-in may all want
    // a renewal at once. The rotating refresh token must go out once: a second
    // copy is a replay, which ends the whole sign-in on the server.
    void everyPathSharesOneRenewal()
    {
        apitest::Rig rig(apitest::signedIn);
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        const auto me = [&](int& status) {
            rig.client->getJson("/v2/auth/me/", true, [&](const QJsonObject&, int s, const QString&) { status = s; });
        };
        rig.server.delayRule = [](const Request& r) { return r.path == "/v2/token/refresh/" ? 100 : 0; };
        rig.server.script("/v2/auth/me/", Answer::json(401, {}), 2);
        int first = 0, second = 0, late = 0;
        me(first);
        me(second);
        QCOMPARE(refresh(*rig.client).step, int(LoginStart::SignedIn));
        QTRY_VERIFY(first == 200 && second == 200);
        QCOMPARE(rig.server.countOf("/v2/auth/me/"), 4); // each repeated once, with the new token
        QCOMPARE(rig.server.requestsTo("/v2/auth/me/").last().header("authorization"),
                 "Bearer " + rig.client->accessToken().toUtf8());
        QVERIFY(rig.server.countOf("/v2/token/refresh/") == 1 && rig.server.replays == 0);
        QCOMPARE(std::get<1>(rig.get("/v2/auth/me/")), 200); // the sign-in lives on

        // A 401 for a token replaced while the request was out is repeated with
        // the new token; renewing again would spend the new refresh token.
        rig.server.script("/v2/auth/me/", Answer::json(401, {}).after(300));
        me(late);
        QTRY_COMPARE(rig.server.countOf("/v2/auth/me/"), 6);
        QVERIFY(renew(*rig.client));
        QTRY_COMPARE(late, 200);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 2);
        QCOMPARE(expired.count(), 0);

        // A refresh whose connection drops after the server read it is not sent
        // again on a new connection: the server has already rotated the token.
        rig.server.scriptHandler("/v2/token/refresh/", [&](const Request& r) {
            rig.server.modelAnswer(r);
            return Answer::hangUp();
        });
        QCOMPARE(refresh(*rig.client).failure, ApiFailure::NoAnswer);
        QVERIFY(rig.server.countOf("/v2/token/refresh/") == 3 && rig.server.replays == 0);
    }

    // Server errors, time-outs, throttling and silence are outages: the timer
    // tries again in 45 s, and a refresh reads as "cannot reach", so that a
    // remembered sign-in survives them; a refusal does not.
    void transientRefreshFailuresKeepTheSession()
    {
        apitest::Rig rig(apitest::signedIn);
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        for (const Answer& answer :
             {Answer::json(500, {}), Answer::json(408, {}), Answer::json(429, {}), Answer::hangUp()}) {
            rig.server.script("/v2/token/refresh/", answer, -1);
            rig.client->startSessionKeepAlive(900);
            ApiClientTestAccess::fireRefreshTimer(*rig.client);
            QTRY_COMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), 45000);
            const LoginStart r = refresh(*rig.client);
            QVERIFY2(r.error.startsWith("Can\u2019t reach") && ApiPolicy::isOutage(r.failure), qPrintable(r.error));
            rig.server.clearScripts();
        }
        QVERIFY(expired.isEmpty() && !rig.client->accessToken().isEmpty());
        rig.server.script("/v2/token/refresh/", Answer::json(401, {{"detail", "Token is invalid"}}));
        const LoginStart r = refresh(*rig.client);
        QVERIFY(r.error == "Token is invalid" && r.failure == ApiFailure::Expired);
        QCOMPARE(expired.count(), 0); // a restore keeps no session going
    }

    void refusedRenewalEndsTheSessionOnce()
    {
        kvrtest::TestClock clock;
        kvrtest::LogCapture log;
        apitest::Rig rig(apitest::signedIn);
        // A 401 on the repeat is reported as it came, after one renewal; a
        // request without auth is never renewed.
        rig.server.script("/v2/auth/me/", Answer::json(401, {{"message", "Nope"}}), 3);
        QCOMPARE(rig.get("/v2/auth/me/"), std::make_tuple(QJsonObject{{"message", "Nope"}}, 401, QString("Nope")));
        QCOMPARE(std::get<1>(rig.get("/v2/auth/me/", false)), 401);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 1);

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
        QCOMPARE(std::get<2>(rig.get("/v2/auth/me/")), QString("Your session has expired. Please sign in again."));
    }

    void refreshEndingAfterSignOutIsDropped()
    {
        kvrtest::LogCapture log;
        apitest::Rig rig(apitest::signedIn);
        QSignalSpy changed(rig.client.get(), &ApiClient::refreshTokenChanged);
        QSignalSpy expired(rig.client.get(), &ApiClient::sessionExpired);
        rig.server.script(
            "/v2/token/refresh/",
            Answer::json(200, {{"access_token", "late-access"}, {"refresh_token", "late-refresh"}, {"expires_in", 900}})
                .after(300));
        QList<bool> answers;
        rig.client->refreshSession([&](bool ok) { answers << ok; });
        QTRY_COMPARE(rig.server.countOf("/v2/token/refresh/"), 1);
        rig.client->logout();
        QTRY_COMPARE(answers, QList<bool>{false});
        QTRY_VERIFY(log.contains("KVR POST /v2/token/refresh/ status 200")); // the late answer is in
        QVERIFY(rig.client->accessToken().isEmpty() && rig.client->refreshToken().isEmpty());
        QVERIFY(changed.isEmpty() && expired.isEmpty());
        QCOMPARE(ApiClientTestAccess::refreshIntervalMs(*rig.client), -1);
        // Without a refresh token the answer is no, at once and without a request.
        rig.client->refreshSession([&](bool ok) { answers << ok; });
        QCOMPARE(answers, (QList<bool>{false, false}));
        // The next sign-in renews normally: the dropped renewal left nothing behind.
        QVERIFY(rig.signIn() && renew(*rig.client));
        QCOMPARE(answers.size(), 2);
        QCOMPARE(rig.server.countOf("/v2/token/refresh/"), 2);
    }
};

KVR_TEST_MAIN(ApiSessionTest)
#include "tst_api_session.moc"
