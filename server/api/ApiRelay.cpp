// Relay discovery and the cached reachability probes.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QTcpSocket>
#include <QTimer>

using namespace kvr::core;

namespace kvr::api {

namespace {

// Cache ages are measured on the monotonic clock: a wall clock set back or
// forward neither keeps an old answer nor throws away a fresh one.
qint64 nowMs()
{
    return kvr::core::Clock::instance().monotonicMs();
}

struct ProbeRun {
    QList<bool> results;
    int open = 0;
    std::function<void(const QList<bool>&)> callback;
};

} // namespace

void ApiClient::setRelay(const QString& host, int port)
{
    m_relayHost = host.trimmed();
    m_relayPort = port > 0 ? port : kDefaultRelayPort;
    m_relayAnsweredMs.reset();
    m_relayFound = false;
}

QString ApiClient::relayHost() const
{
    return m_relayHost.isEmpty() ? QUrl(m_baseUrl, QUrl::TolerantMode).host() : m_relayHost;
}

void ApiClient::resolveRelay(std::function<void(const QString& host, int port, const QString& error)> callback,
                             QObject* context)
{
    callback = tied(context, std::move(callback));
    const QString envHost = envOr("KVR_RTSP_HOST");
    if (!envHost.isEmpty()) {
        if (callback)
            callback(envHost, ApiRules::portFromText(envOr("KVR_RTSP_PORT", QStringLiteral("8565"))), QString());
        return;
    }
    if (m_relayAnsweredMs) {
        const qint64 age = nowMs() - *m_relayAnsweredMs;
        if (ApiRules::cacheFresh(age, m_relayFound)) {
            if (callback)
                callback(m_cachedRelayHost, m_cachedRelayPort, m_relayFound ? QString() : m_relayError);
            return;
        }
    }
    m_relayWaiters.append(std::move(callback));
    if (m_relayProbeRunning)
        return;
    m_relayProbeRunning = true;
    const QList<Endpoint> candidates = ApiRules::relayCandidates(
        m_relayHost, m_relayPort, QUrl(m_baseUrl, QUrl::TolerantMode).host(), builtInRelayHost());
    probeRelays(this, candidates, [this, candidates](const QList<bool>& results) {
        m_relayProbeRunning = false;
        m_relayAnsweredMs = nowMs();
        m_relayFound = false;
        for (int i = 0; i < candidates.size(); ++i) {
            if (i < results.size() && results.at(i)) {
                m_relayFound = true;
                m_cachedRelayHost = candidates.at(i).first;
                m_cachedRelayPort = candidates.at(i).second;
                m_relayError.clear();
                break;
            }
        }
        if (!m_relayFound) {
            m_cachedRelayHost = candidates.isEmpty() ? QString() : candidates.first().first;
            m_cachedRelayPort = candidates.isEmpty() ? 0 : candidates.first().second;
            m_relayError = ApiRules::relayUnreachableText(candidates);
        }
        if (m_relayFound)
            qCWarning(lcApi).noquote() << "[relay]"
                                       << QStringLiteral("using %1:%2").arg(m_cachedRelayHost).arg(m_cachedRelayPort);
        else
            qCWarning(lcApi).noquote() << "[relay]" << m_relayError;
        const auto waiters = std::exchange(m_relayWaiters, {});
        for (const auto& waiter : waiters)
            if (waiter)
                waiter(m_cachedRelayHost, m_cachedRelayPort, m_relayFound ? QString() : m_relayError);
    });
}

void ApiClient::probeEndpoint(const QString& host, int port, std::function<void(bool reachable)> callback,
                              QObject* context)
{
    callback = tied(context, std::move(callback));
    const QString key = QStringLiteral("%1:%2").arg(host).arg(port);
    const auto cached = m_endpointCache.constFind(key);
    if (cached != m_endpointCache.constEnd()) {
        const qint64 age = nowMs() - cached->probedMs;
        if (ApiRules::cacheFresh(age, cached->reachable)) {
            if (callback)
                callback(cached->reachable);
            return;
        }
    }
    auto& waiters = m_endpointWaiters[key];
    waiters.append(std::move(callback));
    if (waiters.size() > 1)
        return;
    probeRelays(this, {{host, port}}, [this, key](const QList<bool>& results) {
        const bool reachable = !results.isEmpty() && results.first();
        m_endpointCache.insert(key, EndpointAnswer{reachable, nowMs()});
        qCWarning(lcApi).noquote() << "[route]" << key << (reachable ? "reachable" : "not reachable");
        const auto list = m_endpointWaiters.take(key);
        for (const auto& waiter : list)
            if (waiter)
                waiter(reachable);
    });
}

void ApiClient::probeRelays(QObject* context, const QList<Endpoint>& candidates,
                            std::function<void(const QList<bool>&)> callback)
{
    if (candidates.isEmpty()) {
        if (callback)
            callback({});
        return;
    }
    auto run = std::make_shared<ProbeRun>();
    run->results = QList<bool>(candidates.size(), false);
    run->open = int(candidates.size());
    run->callback = std::move(callback);
    for (int i = 0; i < candidates.size(); ++i) {
        const auto& [host, port] = candidates.at(i);
        auto* socket = new QTcpSocket(context);
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        auto done = std::make_shared<bool>(false);
        auto finish = [run, socket, done, i](bool ok) {
            if (*done)
                return;
            *done = true;
            run->results[i] = ok;
            socket->abort();
            socket->deleteLater();
            if (--run->open == 0 && run->callback)
                run->callback(run->results);
        };
        QObject::connect(socket, &QTcpSocket::connected, context, [finish] { finish(true); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, context, [finish] { finish(false); });
        QObject::connect(timer, &QTimer::timeout, context, [finish] { finish(false); });
        timer->start(tun::kProbeTimeout);
        // A port outside 1..65535 (a mistyped relay setting) would wrap into
        // another port and find whatever listens there; a host the guard
        // refuses is not connected to either. Both count as unreachable.
        QUrl target;
        target.setScheme(QStringLiteral("tcp"));
        target.setHost(host);
        target.setPort(port);
        if (port < 1 || port > 65535 || !addressPermitted(target)) {
            QTimer::singleShot(0, socket, [finish] { finish(false); });
            continue;
        }
        socket->connectToHost(host, quint16(port), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    }
}

void ApiClient::prewarmRoutes()
{
    probeEndpoint(QUrl(m_baseUrl, QUrl::TolerantMode).host(), tun::kPublicRtspsPort, [](bool) {});
    resolveRelay([](const QString&, int, const QString&) {});
}

} // namespace kvr::api
