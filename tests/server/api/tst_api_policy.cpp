// Interval maths at its limits, session-end wording, relay candidates and
// origins. Route choice, cache ages and live keys are covered end to end by
// the relay and stream suites.
#include "server/api/ApiPolicy.h"
#include "tests/support/TestKit.h"

using namespace ApiPolicy;

class ApiPolicyTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void intervalsStayInRange()
    {
        // Renewal at max(20 s, 3/4 of the lifetime); 450 s without one.
        const QList<std::pair<qint64, qint64>> refresh{{0, 450000}, {-5, 450000}, {10, 20000},  {27, 20000},
                                                       {28, 21000}, {60, 45000},  {900, 675000}};
        for (const auto& [secs, ms] : refresh)
            QCOMPARE(refreshDelayMs(secs), ms);
        // Lifetimes whose interval would overflow 32-bit milliseconds are
        // clamped to a day, never wrapped into a tiny or negative interval.
        for (qint64 huge : {40LL * 86400, qint64(std::numeric_limits<int>::max()), std::numeric_limits<qint64>::max()})
            QCOMPARE(refreshDelayMs(huge), 86400000);

        // Leases: half the lease, at least 2 s, 45 s without one, at most an hour.
        const QList<std::pair<qint64, qint64>> lease{{0, 45000},
                                                     {3, 2000},
                                                     {5, 2500},
                                                     {120, 60000},
                                                     {std::numeric_limits<int>::max(), 3600000},
                                                     {std::numeric_limits<qint64>::max(), 3600000}};
        for (const auto& [secs, ms] : lease)
            QCOMPARE(leaseIntervalMs(secs), ms);

        QCOMPARE(readinessDelayMs(-1), 300);
        QCOMPARE(readinessDelayMs(750), 750);
        QCOMPARE(readinessDelayMs(10000), 3000);
    }

    void sessionEndWording()
    {
        QVERIFY(sessionEndText(600).contains("still had 10 minutes left"));
        QVERIFY(sessionEndText(45).contains("still had 1 minute left"));
        QVERIFY(sessionEndText(60).contains("1 minute left"));
        QVERIFY(sessionEndText(61).contains("2 minutes"));
        QVERIFY(sessionEndText(31).contains("early"));
        QCOMPARE(sessionEndText(30), QString("Your sign-in ran out and could not be renewed."));
        QCOMPARE(tokenSecondsLeft("abc", 1000), 0);
        // A start without any answer: the network text, else the status sentence.
        QCOMPARE(startErrorText(0, "Error"), QString("Could not start the stream (HTTP 0)."));
        QCOMPARE(startErrorText(0, "Connection refused"), QString("Connection refused"));
    }

    void relayCandidateLists()
    {
        QCOMPARE(relayCandidates("relay.lan", 9000, "srv", "10.20.0.8"), (QList<Endpoint>{{"relay.lan", 9000}}));
        QCOMPARE(relayCandidates("", 8565, "srv", "10.20.0.8"), (QList<Endpoint>{{"srv", 8565}, {"10.20.0.8", 8565}}));
        QCOMPARE(relayCandidates("", 9000, "10.20.0.8", "10.20.0.8"), (QList<Endpoint>{{"10.20.0.8", 9000}}));
        QCOMPARE(portFromText("abc"), 0);
        QCOMPARE(portFromText("99999999999"), 0);
        QCOMPARE(portFromText("8554"), 8554);
    }

    void origins()
    {
        // Which hosts count as private is tested with the core helpers.
        QVERIFY(sameOrigin(QUrl("http://127.0.0.1:80/a"), QUrl("http://127.0.0.1/b")));
        QVERIFY(!sameOrigin(QUrl("https://a.example/a"), QUrl("http://a.example/a")));
        QVERIFY(!sameOrigin(QUrl("https://a.example/a"), QUrl("https://b.example/a")));
    }
};

KVR_TEST_MAIN(ApiPolicyTest)
#include "tst_api_policy.moc"
