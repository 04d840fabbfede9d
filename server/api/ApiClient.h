#pragma once

#include "app/core/RequestTicket.h"
#include "server/api/ApiRules.h"
#include "server/api/ApiTypes.h"
#include "server/api/LiveStreamService.h"
#include "server/api/Tunables.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrlQuery>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

class QNetworkCookieJar;
class QNetworkReply;
class QTimer;

namespace kvr::api {

struct CatalogLoad;
struct ReadyPoll;

// The one client of the organisation's JSON web API. Lives on the GUI thread;
// every operation ends in exactly one callback there, whose last argument is
// an error text that is empty on success.
//
// Receivers: the last parameter of every operation that calls back is
// `QObject* context` (default none). Once the context is destroyed the
// callback is dropped without being called, so a window that closes while an
// answer is on its way is never called back; pass the window (or the object
// whose members the callback touches). The operation itself still runs to its
// end inside the client (a live start is still registered and leased, and
// given back by the holder's stop). Work that must happen whatever becomes of
// the receiver, such as releasing a place in a start queue, belongs in a
// callback tied to the object that owns that work. probeRelays takes its
// context first and also parents its sockets to it.
//
// Failures: besides the text, LoginStart and StreamInfo carry the kind of a
// failure (ApiFailure); decide on the kind, show the text.
class ApiClient : public LiveStreamService {
    Q_OBJECT
public:
    using JsonCallback = std::function<void(const QJsonObject& answer, int status, const QString& error)>;
    using BytesCallback = std::function<void(const QByteArray& body, int status, const QString& error)>;
    using LoginCallback = std::function<void(const LoginStart&)>;
    using Endpoint = std::pair<QString, int>;

    struct CatalogHandlers {
        std::function<void(const QList<Site>&)> sites;
        std::function<void(int index, const Site&)> site;
        std::function<void(const QString& error)> done;
        // The site list itself could not be had, before done (which says it
        // in words): no answer, a server in trouble (Failed), or an answer
        // that holds no list (Unreadable), with the wait the server asked
        // for before asking again (Retry-After; 0 for none). Not called for a
        // refusal, nor when the list came, empty or not.
        std::function<void(DeviceList outcome, qint64 retryAfterMs)> siteListFailed;
    };

    // A process-wide check run before the client connects anywhere: every
    // request and redirect with its address, every reachability probe as
    // "tcp://host:port". Tests install one that fails loudly for any address
    // other than loopback (and that sees the order of requests); none is
    // installed in the product. False stops the connection.
    using AddressGuard = std::function<bool(const QUrl& target)>;
    static void setAddressGuard(AddressGuard guard);

    explicit ApiClient(QObject* parent = nullptr);
    ~ApiClient() override;

    // The built-in sign-in server used when nothing else is configured.
    static QString defaultBaseUrl();
    // The organisation's relay on its own network, tried when none is configured.
    static QString builtInRelayHost();
    static constexpr int kDefaultRelayPort = 8565;

    // Configuration.
    QString baseUrl() const { return m_baseUrl; }
    void setBaseUrl(const QString& url);
    QString spaSecret() const { return m_spaSecret; }
    void setSpaSecret(const QString& secret);
    QString accessToken() const { return m_accessToken; }
    void setAccessToken(const QString& token);
    // The token as it is now, for the server's host (fully decoded) only.
    StreamAccess streamAccess() const;
    QString refreshToken() const { return m_refreshToken; }
    void setRefreshToken(const QString& token);
    // Why the session ended, for the expired-session message.
    QString sessionEndReason() const { return m_sessionEndReason; }
    QString cloudStreamType() const { return m_cloudStreamType; }

    // Transport.
    QNetworkRequest makeRequest(const QString& path, bool auth, bool spa, const QUrlQuery& query = {}) const;
    void postJson(const QString& path, const QJsonObject& body, bool auth, bool spa, JsonCallback callback,
                  const QUrlQuery& query = {}, bool retried = false, QObject* context = nullptr);
    void getJson(const QString& path, bool auth, JsonCallback callback, const QUrlQuery& query = {},
                 bool retried = false, QObject* context = nullptr);
    void getBytes(const QString& path, bool auth, BytesCallback callback, QObject* context = nullptr);

    // Sign-in. One at a time: a later sign-in, or cancelLogin(), drops the one
    // under way (its callback is not called) and gives up its connection.
    // loginSent() tells that its request reached the server.
    void login(const QString& username, const QString& password, bool remember, LoginCallback callback,
               QObject* context = nullptr);
    void cancelLogin();
    QStringList hostCandidates() const;
    void loginAt(int index, const QStringList& candidates, const QString& username, const QString& password,
                 bool remember, LoginCallback callback, QObject* context = nullptr);
    void verifyOtp(const QString& userId, const QString& otp, bool remember, LoginCallback callback,
                   QObject* context = nullptr);
    void resendOtp(const QString& userId, LoginCallback callback, QObject* context = nullptr);

    // Session. Every renewal (the timer, a 401, the cloud playlist, refresh()
    // itself) shares the one in flight: a rotating refresh token goes out once.
    void refresh(LoginCallback callback, QObject* context = nullptr);
    void refreshSession(std::function<void(bool ok)> callback, QObject* context = nullptr);
    void scheduleRefresh(int secs);
    void startSessionKeepAlive(int expiresInSecs);
    void fetchMe(std::function<void(const UserProfile&, const QString& error)> callback, QObject* context = nullptr);

    // Catalogue.
    void fetchCatalogProgressive(const QString& orgString, const CatalogHandlers& handlers, QObject* context = nullptr);
    void fetchCatalog(const QString& orgString, std::function<void(const QList<Site>&, const QString& error)> callback,
                      QObject* context = nullptr);
    // Loads the devices and channels of these sites again, as a catalogue
    // load does (a load under way is dropped): `site` with the index in this
    // list, then `done`; `sites` is not called.
    void reloadSites(const QList<Site>& sites, const CatalogHandlers& handlers, QObject* context = nullptr);

    // Organisations, presets, status.
    void fetchOrganisations(std::function<void(const QList<Organisation>&, const QString& error)> callback,
                            QObject* context = nullptr);
    void fetchPresets(const QString& orgId, std::function<void(const QList<Preset>&, const QString& error)> callback,
                      QObject* context = nullptr);
    void fetchPresetCameras(const QString& presetId,
                            std::function<void(const QList<PresetCamera>&, const QString& error)> callback,
                            QObject* context = nullptr);
    void savePreset(const QString& name, const QString& orgId, const QList<QString>& cameraIds, const QString& presetId,
                    std::function<void(const QString& error)> callback, QObject* context = nullptr);
    void fetchSystemStatus(std::function<void(bool online, int streamCount, ApiFailure failure)> callback,
                           QObject* context = nullptr);

    // Recordings.
    void fetchPlaybackCalendar(const QString& deviceId, int channel, int year, int month,
                               std::function<void(const QList<QDate>&, bool supported, const QString& error)> callback,
                               QObject* context = nullptr);
    void fetchPlaybackAvailability(
        const QString& cameraId, const QDate& date,
        std::function<void(const QList<std::pair<double, double>>&, bool supported, const QString& error)> callback,
        QObject* context = nullptr);
    void fetchCloudDates(const QString& deviceId, const QString& cameraId,
                         std::function<void(const QList<QDate>&, const QString& error)> callback,
                         QObject* context = nullptr);
    // The playlist comes with the address it was fetched from, against which
    // its relative lines are read.
    void fetchCloudPlaylist(
        const CloudPlayRequest& request,
        std::function<void(const QByteArray& playlist, const QUrl& address, const QString& error)> callback,
        bool retried = false, QObject* context = nullptr);

    // Relay and reachability.
    void setRelay(const QString& host, int port);
    QString configuredRelayHost() const { return m_relayHost; }
    int configuredRelayPort() const { return m_relayPort; }
    QString relayHost() const;
    void resolveRelay(std::function<void(const QString& host, int port, const QString& error)> callback,
                      QObject* context = nullptr);
    // Whether a TCP connection to the endpoint is taken, cached.
    void probeEndpoint(const QString& host, int port, std::function<void(bool reachable)> callback,
                       QObject* context = nullptr);
    // Whether a TLS session to the endpoint (an RTSPS route) completes its
    // handshake in time, cached: a port that takes the connection and then
    // stalls is not reachable.
    void probeSecureEndpoint(const QString& host, int port, std::function<void(bool reachable)> callback,
                             QObject* context = nullptr);
    void probeRelays(QObject* context, const QList<Endpoint>& candidates,
                     std::function<void(const QList<bool>&)> callback);
    void prewarmRoutes();

    // Streams.
    void startLiveHls(const QString& cameraId, bool mainStream, StreamCallback callback,
                      const QString& owner = QString(), QObject* context = nullptr) override;
    void startDevicePlaybackHls(const QString& cameraId, const QDate& date, const QString& startTime,
                                const QString& endTime, StreamCallback callback, QObject* context = nullptr);
    static QString liveKey(const QString& owner, const QString& cameraId);
    static QString ownerOf(const QString& key);
    void stopLiveCamera(const QString& cameraId, const QString& owner = QString()) override;
    void sourceAnswers(const QString& url) override;
    void stopLive(const QString& owner = QString());
    void stopAllLive();
    void logout();

Q_SIGNALS:
    // The request of the sign-in under way went out on a connection the
    // server took; its answer is awaited.
    void loginSent();
    void sessionExpired();
    void refreshTokenChanged(const QString& refreshToken);

private:
    friend struct ApiClientTestAccess;

    // The caller's callback, dropped once its context is destroyed.
    template <typename... A> static std::function<void(A...)> tied(QObject* context, std::function<void(A...)> callback)
    {
        if (!context || !callback)
            return callback;
        return core::RequestTicket::heldBy(context).guard(std::move(callback));
    }

    // What came back for one request, redirects followed.
    struct ReplyOutcome {
        int status = 0;
        QByteArray body;
        QString networkText;                   // the network layer's own text, when it reported an error: for the log
        QString words;                         // what no answer met, in the program's words; empty with a status
        ApiFailure failure = ApiFailure::None; // its kind, when no HTTP status arrived
        QDateTime serverDate;                  // the server's clock at the answer ("Date"); invalid when none
        qint64 retryAfterMs = 0;               // the wait it asked for before asking again (Retry-After)
        bool sent = false;                     // the request went out on a connection the server took
    };
    // The connections a request travels on: 0 the main ones; leases have
    // managers of their own, lanes 1 to tun::kLeaseLanes.
    using Lane = int;
    static constexpr Lane kMainLane = 0;
    // One request on its way: the method may change at a redirect.
    struct Exchange {
        QNetworkRequest request{};
        QByteArray verb{};
        QByteArray body{};
        bool once = false; // never sent a second time by the network layer
        int redirectsLeft = 5;
        Lane lane = kMainLane;
        // Told of each reply made for it, redirects included.
        std::function<void(QNetworkReply*)> started{};
    };
    // One JSON request as the 401 handling sends it again.
    struct JsonRequest {
        bool post = false;
        QString path{};
        QJsonObject body{};
        bool auth = false;
        bool spa = false;
        QUrlQuery query{};
        bool retried = false;
        bool once = false;
        qint64 timeoutMs = 0; // below the transfer time-out: this one gives up sooner
        Lane lane = kMainLane;
        std::function<void(QNetworkReply*)> started{}; // see Exchange
    };
    struct JsonReply {
        QJsonObject answer;
        int status = 0;
        QString error;
        ApiFailure failure = ApiFailure::None;
        QDateTime serverDate;
        qint64 retryAfterMs = 0;
    };
    using ReplyCallback = std::function<void(const JsonReply&)>;

    // Sends a request through the address guard, with the transfer time-out
    // and the same-origin redirect rule; a refused address is reported as a
    // failure without a connection.
    static bool addressPermitted(const QUrl& target);
    QNetworkAccessManager& network(Lane lane);
    void prepareNetwork(QNetworkAccessManager& network);
    // Every manager takes one new cookie jar (at start and at sign-out).
    void freshCookieJar();
    // The main manager and every lease manager made so far.
    QList<QNetworkAccessManager*> networks();
    void exchange(Exchange ex, std::function<void(const ReplyOutcome&)> done);
    void sendJson(const JsonRequest& request, ReplyCallback callback);
    // A sign-in step or renewal without an HTTP answer, as an outage whose
    // text says the server cannot be reached (a renewal's, which a
    // remembered sign-in reads)...
    LoginStart unreachable(ApiFailure failure) const;
    // ...and as a sign-in step tells it to a person: a server that took the
    // connection and did not answer is said as such, with its address and port.
    LoginStart unanswered(ApiFailure failure) const;
    void renew(bool forSession, LoginCallback waiter);
    void renewalAnswered(const JsonReply& reply);
    void renewalTimedOut();
    void holdAccessToken(const QString& token);
    // The server refused to renew the session: its tokens are dropped and
    // its renewals and leases end, so that nothing goes out with a token the
    // server refused.
    void dropRefusedSession();
    // Whether a request that needs the session must stay unsent (the server
    // refused to renew it, and no sign-in came since); logged once per request.
    bool heldForEndedSession(bool auth, const QString& path) const;

    // `askAgain`: a cached answer that the endpoint was reachable is not
    // trusted (one that it was not still is, for its short age).
    void probeCached(const QString& host, int port, bool secure, bool askAgain,
                     std::function<void(bool reachable)> callback);
    void probe(QObject* context, const QList<Endpoint>& candidates, bool secure,
               std::function<void(const QList<ApiRules::Reach>&)> callback);

    void supersedeCatalog();
    void startCatalogLoad(const core::RequestTicket& ticket, const QList<Site>& sites, const CatalogHandlers& handlers);
    void pumpCatalog(const std::shared_ptr<CatalogLoad>& load);
    void catalogDevicesAnswered(const std::shared_ptr<CatalogLoad>& load, int site, const JsonReply& reply);
    void catalogChannelsAnswered(const std::shared_ptr<CatalogLoad>& load, int site, int device,
                                 const QJsonObject& answer, int status, const QString& error);
    void catalogSiteDone(const std::shared_ptr<CatalogLoad>& load, int site);

    // Asks for the camera's stream; `query` carries the camera id among the
    // server's own parameters.
    void startStream(const QString& path, const QString& cameraId, const QUrlQuery& query, bool live,
                     StreamCallback callback, const QString& owner);
    void streamAnswered(bool live, const QString& cameraId, const QString& key, const core::RequestTicket& start,
                        StreamCallback callback, const JsonReply& reply);
    void routeStream(bool live, const QString& key, const core::RequestTicket& start, StreamCallback callback,
                     const QJsonObject& payload, const QString& cameraId, bool publicRoute, bool relayRoute,
                     const QString& relayHostName, int relayPortNumber);
    void deliverSuperseded(const QString& streamId, const QString& scope, StreamCallback callback);
    // Whether a live entry of any holder, or the recording the stage plays,
    // holds this stream id.
    bool streamHeld(const QString& streamId) const;
    // Gives a stream id back to the server once nobody needs it: not while a
    // holder plays it (then never), and not while a start of its scope is
    // under way, which may be answered with the very same id (then once that
    // start is settled, and only if it did not take the id).
    void releaseStream(const QString& streamId, const QString& scope);
    void sendStop(const QString& streamId, const QString& scope);
    void stopAnswered(const QString& scope);
    // A start of the scope has its stream id placed (held or given back) or
    // has failed: stops held back for the scope are decided now.
    void startSettled(const QString& scope);
    // Sends every stop held back, whatever is under way (sign-out).
    void flushHeldBackStops();
    // Gives back the device-playback streams: the stage plays one recording at a time.
    void releasePlaybackStreams();
    bool pollCurrent(const ReadyPoll& poll) const;
    void waitUntilReady(const StreamInfo& info, bool live, const core::RequestTicket& start, StreamCallback callback,
                        const QString& key);
    void pollReady(const std::shared_ptr<ReadyPoll>& poll);
    void finishReady(const std::shared_ptr<ReadyPoll>& poll, const StreamInfo& info, const QString& error,
                     bool superseded);
    // Leases: each live stream is renewed on its own time, a few at once
    // (ApiRules::pickLeases); the timer waits for the next one due.
    void beginLease(const QString& key, int ttlSecs);
    void stopLeasing();
    void pumpLeases();
    // How much before its time (`dueMs`) the next renewal of the lease of
    // `key` goes, so that leases renewed together do not fall due together.
    qint64 spreadLeaseMs(const QString& key, qint64 dueMs, qint64 intervalMs) const;
    // How long the server took to answer a lease, lately.
    void noteAnswerTime(qint64 ms);
    void leaseAnswered(const QString& key, const QString& cameraId, bool publicRtsps, const core::RequestTicket& start,
                       const QJsonObject& answer, int status);
    // The ticket of the live key's latest start: current until the key starts again or stops.
    core::RequestTicket liveStartTicket(const QString& key) const;
    // Emits the restart signal for the live key unless one went out within
    // the restart spacing; true when it did.
    bool askRestart(const QString& key, const QString& cameraId, const QString& why);
    // A stream the server no longer knew, within the restart spacing of the
    // last restart asked for: asked for once the spacing ends, unless its
    // holder started or stopped it by then.
    void rememberRestart(const QString& key, const QString& cameraId);
    void restartsDue();

    QString m_baseUrl;
    // Relay and reachability.
    QString m_relayHost;
    int m_relayPort = kDefaultRelayPort;
    QString m_cachedRelayHost;
    int m_cachedRelayPort = 0;
    bool m_relayFound = false;
    QString m_relayError;
    std::optional<qint64> m_relayAnsweredMs; // monotonic; none: no answer held
    bool m_relayProbeRunning = false;
    QList<std::function<void(const QString&, int, const QString&)>> m_relayWaiters;
    struct EndpointAnswer {
        bool reachable = false;
        qint64 probedMs = 0; // monotonic
    };
    QHash<QString, EndpointAnswer> m_endpointCache;
    int m_handshakeTimeoutMs;
    QHash<QString, QList<std::function<void(bool)>>> m_endpointWaiters;
    // Catalogue.
    core::TicketDesk m_catalogDesk;
    std::shared_ptr<CatalogLoad> m_catalogLoad;
    static int liveCatalogLoads();

    QString m_sessionEndReason;
    QString m_cloudStreamType = QStringLiteral("MAIN");
    QString m_spaSecret;
    QString m_accessToken;
    QString m_refreshToken;
    QNetworkAccessManager m_network;
    // Made on the first lease; each takes at most its host's connections.
    std::array<QNetworkAccessManager*, tun::kLeaseLanes> m_leaseNetworks{};
    std::array<int, tun::kLeaseLanes> m_leasesOnLane{};
    QNetworkCookieJar* m_cookieJar = nullptr; // shared by every manager

    // Streams.
    // Live key -> the desk of its starts: a later start of the key, or its
    // stop, drops what an earlier start is still waiting for.
    QHash<QString, std::shared_ptr<core::TicketDesk>> m_liveStarts;
    core::TicketDesk m_playbackDesk;
    QHash<QString, StreamInfo> m_liveStreams;
    // Live keys whose latest start took the public RTSPS route: started again
    // (a tile that failed to play retries so), they ask whether the route
    // still completes its handshake instead of trusting a cached answer.
    QSet<QString> m_secureRouteKeys;
    // A stop and a start of one stream must reach the server in the order
    // they were made: a start waits while a stop of its scope (its camera, or
    // the recordings) is unanswered, and a stop waits while a start of its
    // scope is unanswered (ApiRules::streamScope).
    QHash<QString, int> m_startsInFlight;                         // scope -> starts not yet settled
    QHash<QString, int> m_stopsInFlight;                          // scope -> stop requests not yet answered
    QHash<QString, QString> m_heldBackStops;                      // stream id -> scope
    QHash<QString, QList<std::function<void()>>> m_waitingStarts; // scope -> starts to send after its stops
    QSet<QString> m_playbackStreams;                              // device-playback stream ids
    QTimer* m_leaseTimer = nullptr;                               // single shot: the next lease due
    bool m_leasing = false;                                       // off from a refusal (403) to the next start
    qint64 m_leaseIntervalMs = 0;                                 // the latest an answer named
    QHash<QString, ApiRules::LeaseState> m_leases;                // live key -> its lease
    QHash<QString, qint64> m_startSentMs;                         // live key -> when its start went out (monotonic)
    qint64 m_answerMs = -1;                                       // see noteAnswerTime; -1: not known yet
    // Leases on their way, each with the ticket of the start it renews.
    QHash<QString, core::RequestTicket> m_leasesInFlight;
    int m_leaseTimeoutMs;
    QHash<QString, qint64> m_restartAskedAt; // live key -> monotonic ms of the last restart asked for
    QHash<QString, QString> m_restartsDue;   // live key -> camera id, see rememberRestart
    QTimer* m_restartTimer = nullptr;

    // Session.
    QTimer* m_refreshTimer = nullptr;
    QList<LoginCallback> m_refreshWaiters;
    bool m_refreshInFlight = false;
    bool m_renewalForSession = false; // a waiter of the renewal in flight keeps the session
    bool m_expiryNotified = false;
    int m_lastRefreshStatus = 0;
    qint64 m_accessTokenSetMs = -1;   // monotonic: when the access token came; -1: none held
    qint64 m_renewalRetryAfterMs = 0; // the latest renewal answer's Retry-After
    bool m_sessionRefused = false;    // a renewal was refused; cleared by the next access token
    // Changes at sign-out, so that answers of an earlier session are dropped.
    core::TicketDesk m_sessionDesk;
    // The sign-in under way: its round, and its request while on its way.
    core::TicketDesk m_loginDesk;
    QPointer<QNetworkReply> m_loginReply;

    // Transport bookkeeping.
    int m_transferTimeoutMs;
    int m_outstanding = 0;
    int m_peakOutstanding = 0;
};

} // namespace kvr::api
