#pragma once

#include "server/api/ApiClient.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"

#include <QHash>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>

// Reaches the client's timers and tables so that tests need not wait for
// real minutes. Defined here only; the product never uses it.
namespace kvr::api {

struct ApiClientTestAccess {
    static int refreshIntervalMs(const kvr::api::ApiClient& c)
    {
        return c.m_refreshTimer && c.m_refreshTimer->isActive() ? c.m_refreshTimer->interval() : -1;
    }
    static void fireRefreshTimer(kvr::api::ApiClient& c)
    {
        c.m_refreshTimer->stop();
        c.renewalTimedOut();
    }
    static int leaseIntervalMs(const kvr::api::ApiClient& c) { return c.m_leasing ? int(c.m_leaseIntervalMs) : -1; }
    // Every lease not on its way (or only the live key's) is renewed now,
    // whatever its time.
    static void fireLease(kvr::api::ApiClient& c, const QString& onlyKey = QString())
    {
        for (kvr::api::ApiRules::LeaseState& lease : c.m_leases)
            lease.forced = !c.m_leasesInFlight.contains(lease.key) && (onlyKey.isEmpty() || lease.key == onlyKey);
        c.pumpLeases();
    }
    // Restarts kept for the end of their spacing, looked at now (the spacing
    // is measured on kvr::core::Clock, which a test moves on).
    static void fireRestartsDue(kvr::api::ApiClient& c)
    {
        if (c.m_restartTimer)
            c.restartsDue();
    }
    static int leasesInFlight(const kvr::api::ApiClient& c) { return int(c.m_leasesInFlight.size()); }
    // The leases due by kvr::core::Clock go now, as the lease timer sends them.
    static void pumpLeases(kvr::api::ApiClient& c) { c.pumpLeases(); }
    // The wait the lease timer was last started with; -1 when it does not run.
    static int leaseTimerMs(const kvr::api::ApiClient& c)
    {
        return c.m_leaseTimer && c.m_leaseTimer->isActive() ? c.m_leaseTimer->interval() : -1;
    }
    static void setLeaseTimeout(kvr::api::ApiClient& c, int ms) { c.m_leaseTimeoutMs = ms; }
    // How long a secure route's probe waits for its handshake once connected.
    static void setHandshakeTimeout(kvr::api::ApiClient& c, int ms) { c.m_handshakeTimeoutMs = ms; }
    // How fast the server answers leases, as if learnt; -1: not known, as
    // for a client that has had no lease answered yet.
    static void setLeasePace(kvr::api::ApiClient& c, qint64 ms) { c.m_answerMs = ms; }
    static void setTransferTimeout(kvr::api::ApiClient& c, int ms) { c.m_transferTimeoutMs = ms; }
    static QHash<QString, kvr::api::StreamInfo> liveStreams(const kvr::api::ApiClient& c) { return c.m_liveStreams; }
    static int liveCatalogLoads() { return kvr::api::ApiClient::liveCatalogLoads(); }
    static int peakOutstanding(const kvr::api::ApiClient& c) { return c.m_peakOutstanding; }
};
} // namespace kvr::api

namespace apitest {

// Every address the client connected to since the last clear, in order.
inline QList<QUrl>& sentLog()
{
    static QList<QUrl> log;
    return log;
}

// Fails the test process loudly if the client is about to connect anywhere
// but loopback (requests, redirects and reachability probes alike).
inline void installLoopbackGuard()
{
    kvr::api::ApiClient::setAddressGuard([](const QUrl& target) {
        if (!kvrtest::isLoopbackHost(target.host()))
            qFatal("FAIL! the server client tried to connect to %s", qPrintable(target.toString(QUrl::RemoveUserInfo)));
        sentLog().append(target);
        return true;
    });
}

// Starts an operation with a callback and waits for its first call; gives
// the arguments of that call (defaults, and a failed check, when none came).
//   auto [sites, error] = await<QList<Site>, QString>([&](auto cb) { client.fetchCatalog(org, cb); });
template <typename... A, typename Start> std::tuple<A...> await(Start&& start, int ms = 10000)
{
    auto got = std::make_shared<std::optional<std::tuple<A...>>>();
    start([got](const A&... a) {
        if (!*got)
            got->emplace(a...);
    });
    if (!QTest::qWaitFor([&] { return got->has_value(); }, ms))
        QTest::qVerify(false, "answered", "no callback in time", __FILE__, __LINE__);
    return got->value_or(std::tuple<A...>());
}

// The error text of an operation's first callback: its last argument.
template <typename Start> QString errorOf(Start&& start, int ms = 10000)
{
    auto got = std::make_shared<std::optional<QString>>();
    start([got](const auto&... a) {
        if (!*got)
            got->emplace(std::get<sizeof...(a) - 1>(std::tie(a...)));
    });
    return QTest::qWaitFor([&] { return got->has_value(); }, ms) ? **got : QStringLiteral("(no answer)");
}

inline constexpr bool signedIn = true;

// A fresh fake server with the demo organisation and a client pointed at it,
// signed in when asked (Rig rig(apitest::signedIn)).
struct Rig {
    orgserver::FakeOrgServer server;
    std::unique_ptr<kvr::api::ApiClient> client = std::make_unique<kvr::api::ApiClient>();

    explicit Rig(bool signIntoServer = false)
    {
        if (!server.listen())
            qFatal("fake server could not listen");
        client->setBaseUrl(server.baseUrl());
        // Leases go out on their times from the first start on; a suite about
        // a client that has yet to learn the pace says so.
        kvr::api::ApiClientTestAccess::setLeasePace(*client, 0);
        server.populateDemo();
        server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
        if (signIntoServer)
            QVERIFY(signIn());
    }

    // Signs in through the server and hands the tokens to the client.
    bool signIn()
    {
        const auto [r] = await<kvr::api::LoginStart>(
            [this](auto cb) { client->login(QStringLiteral("demo"), QStringLiteral("secret"), true, cb); });
        client->setAccessToken(r.accessToken);
        client->setRefreshToken(r.refreshToken);
        return r.step == kvr::api::LoginStart::SignedIn;
    }

    // A GET through the client's transport.
    std::tuple<QJsonObject, int, QString> get(const QString& path, bool auth = true)
    {
        return await<QJsonObject, int, QString>([&](auto cb) { client->getJson(path, auth, cb); });
    }
};

} // namespace apitest
