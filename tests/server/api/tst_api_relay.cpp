// Relay discovery, reachability probes and their caches.
#include "tests/server/api/ApiTestSupport.h"

#include <QTcpServer>

namespace {

int probesTo(quint16 port)
{
    int n = 0;
    for (const QUrl& u : apitest::sentLog())
        if (u.scheme() == "tcp" && u.port() == port)
            ++n;
    return n;
}

struct RelayAnswer {
    bool done = false;
    QString host;
    int port = -1;
    QString error;
};

// Asks the client for the relay; the answer lands in the returned holder.
std::shared_ptr<RelayAnswer> resolve(ApiClient& client)
{
    auto a = std::make_shared<RelayAnswer>();
    client.resolveRelay([a](const QString& h, int p, const QString& e) { *a = {true, h, p, e}; });
    return a;
}

} // namespace

class ApiRelayTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { apitest::installLoopbackGuard(); }
    void init()
    {
        // Discovery is bypassed while the relay host comes from the environment.
        qunsetenv("KVR_RTSP_HOST");
        qunsetenv("KVR_RTSP_PORT");
        apitest::sentLog().clear();
    }
    void cleanup()
    {
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", "9");
    }

    void probeRunAnswersInCandidateOrder()
    {
        ApiClient client;
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost));
        const quint16 closedA = kvrtest::freePort();
        const quint16 closedB = kvrtest::freePort();
        QList<bool> results;
        bool done = false;
        int calls = 0;
        // The last port is out of range: it must not wrap into the open one.
        client.probeRelays(&client,
                           {{"127.0.0.1", closedA},
                            {"127.0.0.1", open.serverPort()},
                            {"127.0.0.1", closedB},
                            {"127.0.0.1", open.serverPort() + 65536}},
                           [&](const QList<bool>& r) {
                               results = r;
                               done = true;
                               ++calls;
                           });
        QVERIFY(apitest::waitFor(done, 5000));
        QCOMPARE(results, (QList<bool>{false, true, false, false}));
        QTest::qWait(50);
        QCOMPARE(calls, 1);

        done = false;
        client.probeRelays(&client, {}, [&](const QList<bool>& r) {
            results = r;
            done = true;
        });
        QVERIFY(done);
        QVERIFY(results.isEmpty());
    }

    void probeRunWithoutContextNeverAnswers()
    {
        ApiClient client;
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost));
        bool called = false;
        auto* context = new QObject;
        client.probeRelays(context, {{"127.0.0.1", open.serverPort()}}, [&](const QList<bool>&) { called = true; });
        delete context;
        QTest::qWait(200);
        QVERIFY(!called);
    }

    void relayFoundIsCachedTwoMinutes()
    {
        kvrtest::TestClock clock;
        kvrtest::LogCapture log;
        ApiClient client;
        QTcpServer relay;
        QVERIFY(relay.listen(QHostAddress::LocalHost));
        client.setRelay("127.0.0.1", relay.serverPort());
        const auto a = resolve(client);
        const auto b = resolve(client);
        QVERIFY(apitest::waitFor(a->done) && apitest::waitFor(b->done));
        QCOMPARE(probesTo(relay.serverPort()), 1); // one probe for both
        QCOMPARE(a->host, QString("127.0.0.1"));
        QCOMPARE(a->port, int(relay.serverPort()));
        QVERIFY(a->error.isEmpty());
        QCOMPARE(b->port, a->port);
        QVERIFY(log.contains(QString("[relay] using 127.0.0.1:%1").arg(relay.serverPort())));

        clock.advanceSecs(119);
        const auto c = resolve(client);
        QVERIFY(c->done); // at once, from the cache
        QCOMPARE(probesTo(relay.serverPort()), 1);

        clock.advanceSecs(2);
        const auto d = resolve(client);
        QVERIFY(!d->done);
        QVERIFY(apitest::waitFor(d->done));
        QCOMPARE(probesTo(relay.serverPort()), 2);

        // A clock that went backwards makes the answer count as expired.
        clock.advanceSecs(-10);
        const auto e = resolve(client);
        QVERIFY(!e->done);
        QVERIFY(apitest::waitFor(e->done));
    }

    void relayMissingIsCachedFiveSeconds()
    {
        kvrtest::TestClock clock;
        ApiClient client;
        const quint16 closed = kvrtest::freePort();
        client.setRelay(" 127.0.0.1 ", closed);
        const auto a = resolve(client);
        QVERIFY(apitest::waitFor(a->done));
        QCOMPARE(a->error,
                 QString("The video relay isn\u2019t reachable from here (127.0.0.1:%1); video uses the public "
                         "HLS route.")
                     .arg(closed));
        QCOMPARE(a->host, QString("127.0.0.1"));
        clock.advanceMs(4900);
        const auto b = resolve(client);
        QVERIFY(b->done);
        QCOMPARE(b->error, a->error);
        clock.advanceMs(200);
        const auto c = resolve(client);
        QVERIFY(!c->done);
        QVERIFY(apitest::waitFor(c->done));
        QCOMPARE(probesTo(closed), 2);
    }

    void setRelayForgetsTheAnswer()
    {
        ApiClient client;
        QTcpServer relay;
        QVERIFY(relay.listen(QHostAddress::LocalHost));
        client.setRelay("127.0.0.1", relay.serverPort());
        const auto a = resolve(client);
        QVERIFY(apitest::waitFor(a->done));
        client.setRelay("127.0.0.1", relay.serverPort());
        const auto b = resolve(client);
        QVERIFY(!b->done);
        // Changing the relay while a probe runs does not stop it: its answer,
        // for the candidates fixed when it started, goes to every waiter.
        QTcpServer other;
        QVERIFY(other.listen(QHostAddress::LocalHost));
        client.setRelay("127.0.0.1", other.serverPort());
        const auto c = resolve(client);
        QVERIFY(apitest::waitFor(b->done) && apitest::waitFor(c->done));
        QCOMPARE(b->port, int(relay.serverPort()));
        QCOMPARE(c->port, int(relay.serverPort()));
        QCOMPARE(probesTo(other.serverPort()), 0);
        QCOMPARE(client.relayHost(), QString("127.0.0.1"));
        client.setRelay("", 0);
        QCOMPARE(client.configuredRelayPort(), 8565);
        client.setBaseUrl("http://127.0.0.1:4444/x");
        QCOMPARE(client.relayHost(), QString("127.0.0.1"));
    }

    void builtInRelayIsRefusedBeforeAnyConnection()
    {
        // With no relay configured the built-in one on the organisation's
        // network is the second candidate. A guard that refuses it keeps the
        // probe from connecting at all, and the candidate counts as unreachable.
        QList<QUrl> refused;
        ApiClient::setAddressGuard([&refused](const QUrl& u) {
            if (kvrtest::isLoopbackHost(u.host()))
                return true;
            refused << u;
            return false;
        });
        ApiClient client;
        client.setBaseUrl("http://127.0.0.1:1/");
        const quint16 closed = kvrtest::freePort();
        client.setRelay("", closed);
        const auto a = resolve(client);
        const bool answered = apitest::waitFor(a->done);
        apitest::installLoopbackGuard();
        QVERIFY(answered);
        QCOMPARE(refused, QList<QUrl>{QUrl("tcp://" + ApiClient::builtInRelayHost() + ":8565")});
        QCOMPARE(a->error,
                 QString("The video relay isn\u2019t reachable from here (127.0.0.1:%1, %2:8565); video uses "
                         "the public HLS route.")
                     .arg(closed)
                     .arg(ApiClient::builtInRelayHost()));
        QCOMPARE(a->port, int(closed));
    }

    void environmentRelayAnswersAtOnce()
    {
        ApiClient client;
        qputenv("KVR_RTSP_HOST", "127.0.0.1");
        qputenv("KVR_RTSP_PORT", "abc");
        const auto a = resolve(client);
        QVERIFY(a->done);
        QCOMPARE(a->host, QString("127.0.0.1"));
        QCOMPARE(a->port, 0);
        QVERIFY(a->error.isEmpty());
        qunsetenv("KVR_RTSP_PORT");
        QCOMPARE(resolve(client)->port, 8565);
        QVERIFY(apitest::sentLog().isEmpty());
    }

    void endpointProbesAreCachedAndShared()
    {
        kvrtest::TestClock clock;
        kvrtest::LogCapture log;
        ApiClient client;
        QTcpServer open;
        QVERIFY(open.listen(QHostAddress::LocalHost));
        QList<bool> answers;
        client.probeEndpoint("127.0.0.1", open.serverPort(), [&](bool r) { answers << r; });
        client.probeEndpoint("127.0.0.1", open.serverPort(), [&](bool r) { answers << r; });
        QTRY_COMPARE(answers.size(), 2);
        QCOMPARE(answers, (QList<bool>{true, true}));
        QCOMPARE(probesTo(open.serverPort()), 1);
        QVERIFY(log.contains(QString("[route] 127.0.0.1:%1 reachable").arg(open.serverPort())));
        clock.advanceSecs(100);
        client.probeEndpoint("127.0.0.1", open.serverPort(), [&](bool r) { answers << r; });
        QCOMPARE(answers.size(), 3);
        QCOMPARE(probesTo(open.serverPort()), 1);

        const quint16 closed = kvrtest::freePort();
        bool reachable = true;
        bool done = false;
        client.probeEndpoint("127.0.0.1", closed, [&](bool r) {
            reachable = r;
            done = true;
        });
        QVERIFY(apitest::waitFor(done));
        QVERIFY(!reachable);
        QVERIFY(log.contains(QString("[route] 127.0.0.1:%1 not reachable").arg(closed)));
        clock.advanceSecs(6);
        done = false;
        client.probeEndpoint("127.0.0.1", closed, [&](bool r) {
            reachable = r;
            done = true;
        });
        QVERIFY(!done);
        QVERIFY(apitest::waitFor(done));
        QCOMPARE(probesTo(closed), 2);
    }
};

KVR_TEST_MAIN(ApiRelayTest)
#include "tst_api_relay.moc"
