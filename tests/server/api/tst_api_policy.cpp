// The client's rules as plain functions: intervals, cache ages, session-end
// wording, failure kinds, start and readiness answers, redirects, relay
// candidates and routes.
#include "server/api/ApiPolicy.h"
#include "tests/support/TestKit.h"

#include <QJsonDocument>

#include <climits>

using namespace ApiPolicy;
using F = ApiFailure;

class ApiPolicyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void intervalsStayInRange()
    {
        // Renewal at max(20 s, 3/4 of the lifetime), 450 s without one; lifetimes
        // whose interval would overflow 32-bit milliseconds are clamped to a day.
        const QList<std::pair<qint64, qint64>> refresh{{0, 450000},         {-5, 450000},         {10, 20000},
                                                       {27, 20000},         {28, 21000},          {900, 675000},
                                                       {3456000, 86400000}, {LLONG_MAX, 86400000}};
        for (const auto& [secs, ms] : refresh)
            QCOMPARE(refreshDelayMs(secs), ms);
        // Leases: half the lease, at least 2 s, 45 s without one, at most an hour.
        const QList<std::pair<qint64, qint64>> lease{
            {0, 45000}, {3, 2000}, {5, 2500}, {120, 60000}, {LLONG_MAX, 3600000}};
        for (const auto& [secs, ms] : lease)
            QCOMPARE(leaseIntervalMs(secs), ms);
        const QList<std::pair<qint64, qint64>> ready{{-1, 300}, {50, 300}, {750, 750}, {10000, 3000}};
        for (const auto& [after, ms] : ready)
            QCOMPARE(readinessDelayMs(after), ms);
        // Cached reachability: 120 s when reachable, 5 s when not; a negative age is expired.
        QVERIFY(cacheFresh(119000, true) && !cacheFresh(120000, true) && !cacheFresh(-1, true));
        QVERIFY(cacheFresh(4999, false) && !cacheFresh(5000, false));
    }

    void sessionEndWording()
    {
        QVERIFY(sessionEndText(600).contains("still had 10 minutes left"));
        QVERIFY(sessionEndText(45).contains("still had 1 minute left"));
        QVERIFY(sessionEndText(61).contains("2 minutes"));
        QCOMPARE(sessionEndText(30), QString("Your sign-in ran out and could not be renewed."));
        QCOMPARE(tokenSecondsLeft("abc", 1000), 0);
        // A start without any answer: the network text, else the status sentence.
        QCOMPARE(startErrorText(0, "Error"), QString("Could not start the stream (HTTP 0)."));
        QCOMPARE(startErrorText(0, "Connection refused"), QString("Connection refused"));
    }

    void failureKinds()
    {
        const QList<std::pair<int, F>> statuses{{400, F::Refused},     {401, F::Refused},    {403, F::Refused},
                                                {404, F::NotFound},    {408, F::NoAnswer},   {429, F::Throttled},
                                                {500, F::ServerError}, {503, F::ServerError}};
        for (const auto& [status, kind] : statuses)
            QCOMPARE(failureOfStatus(status), kind);
        const QList<std::pair<QNetworkReply::NetworkError, F>> transport{
            {QNetworkReply::ConnectionRefusedError, F::Unreachable},
            {QNetworkReply::HostNotFoundError, F::Unreachable},
            {QNetworkReply::SslHandshakeFailedError, F::Unreachable},
            {QNetworkReply::RemoteHostClosedError, F::NoAnswer},
            {QNetworkReply::OperationCanceledError, F::NoAnswer},
            {QNetworkReply::ContentReSendError, F::NoAnswer}};
        for (const auto& [error, kind] : transport)
            QCOMPARE(failureOfTransport(error), kind);
        // A camera is offline when the server says so, in any letter case.
        QCOMPARE(streamFailure(400, F::None, "Camera is OFFLINE."), F::Offline);
        QCOMPARE(streamFailure(200, F::None, "Licence full"), F::Refused);
        QCOMPARE(streamFailure(0, F::NoAnswer, ""), F::NoAnswer);
        QCOMPARE(streamFailure(503, F::None, "Busy"), F::ServerError);
        // Outages keep a remembered sign-in; refusals and an ended session do not.
        for (F kind : {F::Unreachable, F::NoAnswer, F::Throttled, F::ServerError})
            QVERIFY(isOutage(kind));
        for (F kind : {F::None, F::Refused, F::NotFound, F::Expired, F::Offline})
            QVERIFY(!isOutage(kind));
    }

    // A start answer: the text shown and its kind, or none when the start goes on.
    void startAnswers()
    {
        const QList<std::tuple<int, const char*, QString, F>> rows{
            {429, "{}", "The server is busy opening cameras. Try again in a moment.", F::Throttled},
            {409, R"({"message":"Error"})", "The server could not open this camera right now.", F::Refused},
            {500, "{}", "Could not start the stream (HTTP 500).", F::ServerError},
            {400, R"({"message":"Camera is offline."})", "Camera is offline.", F::Offline},
            {0, "{}", "Connection refused", F::Unreachable},
            {200, R"({"accepted":"yes","stream_id":"s"})", "The server refused to open this camera.", F::Refused},
            {200, R"({"accepted":false,"message":"Licence full"})", "Licence full", F::Refused},
            {200, R"({"accepted":true})", "The server did not return a stream id.", F::ServerError}};
        for (const auto& [status, json, text, kind] : rows) {
            const auto failed =
                startFailure(status, "Connection refused", F::Unreachable, QJsonDocument::fromJson(json).object());
            QVERIFY2(failed && failed->text == text && failed->failure == kind, json);
        }
        QVERIFY(!startFailure(200, {}, F::None, {{"stream_id", 7}}));
        QVERIFY(!startFailure(200, {}, F::None, {{"accepted", true}, {"stream_id", "s1"}}));
    }

    // A readiness answer ends the wait (ready, or failed) or sets the pause
    // before the next poll; errors other than 408 and 429 end it at once.
    void readinessAnswers()
    {
        const QString late = "The server didn\u2019t finish preparing this video in time. Try again.";
        const QList<std::tuple<int, QJsonObject, qint64, QString, F, qint64>> rows{
            {200, {{"ready", true}}, 0, "", F::None, -1},
            {200, {{"ready", "true"}, {"poll_after_ms", 50}}, 0, "", F::None, 300},
            {503, {}, 59000, "", F::None, 750},
            {429, {{"poll_after_ms", 10000}}, 0, "", F::None, 3000},
            {0, {}, 0, "", F::None, 750},
            {200, {{"ready", false}}, 60001, late, F::NoAnswer, -1},
            {404, {}, 0, "The server could not prepare this stream (HTTP 404).", F::NotFound, -1},
            {403, {{"message", "No rights"}}, 0, "No rights", F::Refused, -1}};
        for (const auto& [status, payload, elapsed, text, kind, pause] : rows) {
            qint64 after = -1;
            const auto step = readinessStep(status, F::NoAnswer, payload, elapsed, &after);
            QCOMPARE(after, pause);
            QCOMPARE(step.has_value(), pause < 0);
            if (step)
                QVERIFY(step->text == text && step->failure == kind);
        }
    }

    void redirectsAndOrigins()
    {
        const QList<std::tuple<int, QByteArray, QByteArray>> hops{{303, "POST", "GET"},
                                                                  {302, "POST", "GET"},
                                                                  {301, "GET", "GET"},
                                                                  {307, "POST", "POST"},
                                                                  {308, "POST", "POST"}};
        for (const auto& [status, verb, next] : hops)
            QCOMPARE(redirectVerb(status, verb), next);
        QVERIFY(!isRedirect(304) && isRedirect(308));
        QVERIFY(sameOrigin(QUrl("http://127.0.0.1:80/a"), QUrl("http://127.0.0.1/b")));
        QVERIFY(!sameOrigin(QUrl("https://a.example/a"), QUrl("http://a.example/a")));
        QVERIFY(!sameOrigin(QUrl("https://a.example/a"), QUrl("https://b.example/a")));
    }

    void relayCandidateLists()
    {
        QCOMPARE(relayCandidates("relay.lan", 9000, "srv", "10.20.0.8"), (QList<Endpoint>{{"relay.lan", 9000}}));
        QCOMPARE(relayCandidates("", 8565, "srv", "10.20.0.8"), (QList<Endpoint>{{"srv", 8565}, {"10.20.0.8", 8565}}));
        QCOMPARE(relayCandidates("", 9000, "10.20.0.8", "10.20.0.8"), (QList<Endpoint>{{"10.20.0.8", 9000}}));
        QCOMPARE(portFromText("abc"), 0);
        QCOMPARE(portFromText("99999999999"), 0);
        QCOMPARE(portFromText("8554"), 8554);
        // The public route needs a ticket whose port answers; then the relay; then HLS.
        QCOMPARE(chooseRoute(true, false, true), StreamRoute::Relay);
        QCOMPARE(chooseRoute(true, false, false), StreamRoute::Hls);
    }
};

KVR_TEST_MAIN(ApiPolicyTest)
#include "tst_api_policy.moc"
