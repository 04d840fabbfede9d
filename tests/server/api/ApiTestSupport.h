#pragma once

#include "server/api/ApiClient.h"
#include "tests/fixtures/orgserver/FakeOrgServer.h"
#include "tests/support/TestKit.h"

#include <QHash>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>

// Reaches the client's timers and tables so that tests need not wait for
// real minutes. Defined here only; the product never uses it.
struct ApiClientTestAccess {
    static int refreshIntervalMs(const ApiClient& c)
    {
        return c.m_refreshTimer && c.m_refreshTimer->isActive() ? c.m_refreshTimer->interval() : -1;
    }
    static void fireRefreshTimer(ApiClient& c)
    {
        c.m_refreshTimer->stop();
        c.renewalTimedOut();
    }
    static int leaseIntervalMs(const ApiClient& c)
    {
        return c.m_leaseTimer && c.m_leaseTimer->isActive() ? c.m_leaseTimer->interval() : -1;
    }
    static void fireLease(ApiClient& c) { c.leaseStep(); }
    static void setTransferTimeout(ApiClient& c, int ms) { c.m_transferTimeoutMs = ms; }
    static QHash<QString, StreamInfo> liveStreams(const ApiClient& c) { return c.m_liveStreams; }
    static QHash<QString, int> liveStartGen(const ApiClient& c) { return c.m_liveStartGen; }
    static int liveCatalogLoads() { return ApiClient::liveCatalogLoads(); }
    static int peakOutstanding(const ApiClient& c) { return c.m_peakOutstanding; }
};

namespace apitest {

// Fails the test process loudly if the client is about to connect anywhere
// but loopback (requests, redirects and reachability probes alike).
// Every address the client connected to since the last clear, in order.
inline QList<QUrl>& sentLog()
{
    static QList<QUrl> log;
    return log;
}

inline void installLoopbackGuard()
{
    ApiClient::setAddressGuard([](const QUrl& target) {
        if (!kvrtest::isLoopbackHost(target.host())) {
            std::fprintf(stderr, "FAIL! the server client tried to connect to %s\n",
                         qPrintable(target.toString(QUrl::RemoveUserInfo)));
            std::fflush(stderr);
            qFatal("non-loopback connection attempt");
        }
        sentLog().append(target);
        return true;
    });
}

// A fresh fake server and a client pointed at it.
struct Rig {
    orgserver::FakeOrgServer server;
    std::unique_ptr<ApiClient> client;

    Rig()
    {
        if (!server.listen())
            qFatal("fake server could not listen");
        client = std::make_unique<ApiClient>();
        client->setBaseUrl(server.baseUrl());
        server.populateDemo();
        server.addUser(QStringLiteral("demo"), QStringLiteral("secret"), false);
    }

    // Signs in through the server and hands the tokens to the client.
    bool signIn()
    {
        bool done = false;
        LoginStart result;
        client->login(QStringLiteral("demo"), QStringLiteral("secret"), true, [&](const LoginStart& r) {
            result = r;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done; }, 10000) || result.step != LoginStart::SignedIn)
            return false;
        client->setAccessToken(result.accessToken);
        client->setRefreshToken(result.refreshToken);
        return true;
    }
};

// The arguments of the last call of a callback. Bind names to `args` once
// (const auto& [list, error] = r.args;) and they follow every later call.
template <typename... A> struct Reply {
    bool done = false;
    int calls = 0;
    std::tuple<std::decay_t<A>...> args;
    // A fresh callback; `done` is cleared until it is called.
    std::function<void(A...)> callback()
    {
        done = false;
        return [this](A... a) {
            args = std::tuple<std::decay_t<A>...>(a...);
            ++calls;
            done = true;
        };
    }
};

// Waits (event loop running) until the flag is set.
inline bool waitFor(const bool& flag, int ms = 10000)
{
    return QTest::qWaitFor([&] { return flag; }, ms);
}

} // namespace apitest
