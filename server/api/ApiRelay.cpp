// Relay discovery and the cached reachability probes.
#include "server/api/ApiClient.h"

#include "app/core/Clock.h"
#include "app/core/Env.h"
#include "server/api/ApiRules.h"
#include "server/api/Logging.h"
#include "server/api/Tunables.h"

#include <QSslSocket>
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
    QList<ApiRules::Reach> results;
    int open = 0;
    std::function<void(const QList<ApiRules::Reach>&)> callback;
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
    probeRelays(
        this, candidates, [this, candidates](const QList<bool>& results) {
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
                qCWarning(lcApi).noquote()
                    << "[relay]"
                    << QStringLiteral("using %1").arg(ApiRules::hostPortText(m_cachedRelayHost, m_cachedRelayPort));
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
    probeCached(host, port, false, false, tied(context, std::move(callback)));
}

void ApiClient::probeSecureEndpoint(const QString& host, int port, std::function<void(bool reachable)> callback,
                                    QObject* context)
{
    probeCached(host, port, true, false, tied(context, std::move(callback)));
}

void ApiClient::probeCached(const QString& host, int port, bool secure, bool askAgain,
                            std::function<void(bool reachable)> callback)
{
    const QString key = QStringLiteral("%1%2:%3").arg(secure ? QStringLiteral("tls://") : QString(), host).arg(port);
    const auto cached = m_endpointCache.constFind(key);
    if (cached != m_endpointCache.constEnd() && !(askAgain && cached->reachable)) {
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
    probe(this, {{host, port}}, secure, [this, key](const QList<ApiRules::Reach>& results) {
        const ApiRules::Reach reach = results.value(0, ApiRules::Reach::Unreachable);
        const bool reachable = reach == ApiRules::Reach::Reachable;
        m_endpointCache.insert(key, EndpointAnswer{reachable, nowMs()});
        qCWarning(lcApi).noquote() << "[route]" << key << ApiRules::reachText(reach);
        const auto list = m_endpointWaiters.take(key);
        for (const auto& waiter : list)
            if (waiter)
                waiter(reachable);
    });
}

void ApiClient::probeRelays(QObject* context, const QList<Endpoint>& candidates,
                            std::function<void(const QList<bool>&)> callback)
{
    probe(context, candidates, false, [callback = std::move(callback)](const QList<ApiRules::Reach>& results) {
        QList<bool> reachable;
        for (const ApiRules::Reach reach : results)
            reachable << (reach == ApiRules::Reach::Reachable);
        if (callback)
            callback(reachable);
    });
}

void ApiClient::probe(QObject* context, const QList<Endpoint>& candidates, bool secure,
                      std::function<void(const QList<ApiRules::Reach>&)> callback)
{
    if (candidates.isEmpty()) {
        if (callback)
            callback({});
        return;
    }
    auto run = std::make_shared<ProbeRun>();
    run->results = QList<ApiRules::Reach>(candidates.size(), ApiRules::Reach::Unreachable);
    run->open = int(candidates.size());
    run->callback = std::move(callback);
    const int handshakeMs = m_handshakeTimeoutMs;
    for (int i = 0; i < candidates.size(); ++i) {
        const auto& [host, port] = candidates.at(i);
        // A secure route is reachable only once its TLS handshake completes:
        // a port that takes the connection and then stalls (or breaks) the
        // handshake plays nothing. Whether its certificate is trusted is the
        // player's to judge; here only the handshake counts.
        QTcpSocket* socket = nullptr;
        if (secure) {
            auto* tls = new QSslSocket(context);
            tls->setPeerVerifyMode(QSslSocket::VerifyNone);
            socket = tls;
        } else {
            socket = new QTcpSocket(context);
        }
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        auto done = std::make_shared<bool>(false);
        auto finish = [run, socket, done, i](ApiRules::Reach reach) {
            if (*done)
                return;
            *done = true;
            run->results[i] = reach;
            socket->abort();
            socket->deleteLater();
            if (--run->open == 0 && run->callback)
                run->callback(run->results);
        };
        auto connected = std::make_shared<bool>(false);
        QObject::connect(socket, &QTcpSocket::connected, context, [finish, timer, secure, handshakeMs, connected] {
            *connected = true;
            if (!secure)
                finish(ApiRules::Reach::Reachable);
            else
                timer->start(handshakeMs); // now the handshake's own time
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, context, [finish, connected] {
            finish(*connected ? ApiRules::Reach::SecureFailed : ApiRules::Reach::Unreachable);
        });
        QObject::connect(timer, &QTimer::timeout, context, [finish, connected] {
            finish(*connected ? ApiRules::Reach::SecureStalled : ApiRules::Reach::Unreachable);
        });
        if (secure)
            QObject::connect(static_cast<QSslSocket*>(socket), &QSslSocket::encrypted, context,
                             [finish] { finish(ApiRules::Reach::Reachable); });
        timer->start(tun::kProbeTimeout);
        // A port outside 1..65535 (a mistyped relay setting) would wrap into
        // another port and find whatever listens there; a host the guard
        // refuses is not connected to either. Both count as unreachable.
        QUrl target;
        target.setScheme(QStringLiteral("tcp"));
        target.setHost(host);
        target.setPort(port);
        if (port < 1 || port > 65535 || !addressPermitted(target)) {
            QTimer::singleShot(0, socket, [finish] { finish(ApiRules::Reach::Unreachable); });
            continue;
        }
        if (secure)
            static_cast<QSslSocket*>(socket)->connectToHostEncrypted(host, quint16(port), QIODevice::ReadWrite,
                                                                     QAbstractSocket::AnyIPProtocol);
        else
            socket->connectToHost(host, quint16(port), QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    }
}

void ApiClient::prewarmRoutes()
{
    probeSecureEndpoint(QUrl(m_baseUrl, QUrl::TolerantMode).host(), tun::kPublicRtspsPort, [](bool) {});
    resolveRelay([](const QString&, int, const QString&) {});
}

} // namespace kvr::api
