#pragma once

#include "server/api/ApiTypes.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <utility>

namespace kvr::api {

// The client's rules as plain functions: intervals, texts, route choice and
// caching. They take their inputs and return a result, so they test without
// a socket or a timer.
namespace ApiRules {

// Renewal timer interval for an access-token lifetime in seconds (64-bit
// arithmetic, clamped to the ceiling).
qint64 refreshDelayMs(qint64 lifetimeSecs);
// Lease timer interval for a lease time in seconds (below 1: unknown).
qint64 leaseIntervalMs(qint64 ttlSecs);
// Lease renewal order. The server ends a live stream whose lease runs out,
// and leases go out a few at a time: when they are answered slowly, fewer are
// renewed in a lease's time than the wall holds. Each stream is renewed on its
// own time, and of those due the one asked for longest ago goes first: no
// lease waits while another is renewed twice.
struct LeaseState {
    QString key;
    qint64 triedMs = 0;     // monotonic: its start, or its last renewal, was sent
    qint64 intervalMs = 0;  // what the answer to that named (half its lease)
    bool forced = false;    // to be renewed now, whatever its time
    qint64 notBeforeMs = 0; // monotonic: not sent before (the server asked for a wait)
    // Its first renewal goes this much before its time, so that leases
    // begun together do not all fall due together (firstRenewalEarlyMs);
    // the time the leases before it take to go out, when longer, counts
    // instead.
    qint64 earlyMs = 0;
};
struct LeasePace {
    qint64 latestIntervalMs = 0; // the interval the latest answer named
    int places = 1;              // leases on their way at once, at most
    int room = 0;                // places free now
    qint64 answerMs = 0;         // how long the server takes to answer lately
    int burst = 0;               // on their way at once while more fell due than there are places
};
struct LeasePick {
    QStringList now;       // the keys to send now, longest waiting first
    qint64 nextDueMs = -1; // monotonic: when the next not yet due falls due; -1: none
    int dueWaiting = 0;    // due now, left without a place
};
// Of the leases not on their way, those to send now. A lease falls due at its
// try plus the shorter of its own interval and the latest any answer named
// (a server that shortens its leases has every stream renewed in the new
// time), brought forward by the time the leases before it take to go out at
// the pace the server answers: a slow server's round starts early enough to
// end within the lease, a quick one's leases wait their whole interval.
// Leases that fell due together (a wall started at once, on a server that
// has just slowed down) go up to `burst` at a time instead of queueing for
// the places; one asked for early to learn the pace (forced) does not count.
LeasePick pickLeases(QList<LeaseState> waiting, qint64 nowMs, const LeasePace& pace);
// How much before its time (`dueMs`) the first renewal of a lease that
// begins now goes. Leases begun together (a wall started at once) would all
// fall due together, and a server that turns slow just then answers the
// first of them only when the rest are already late: each step of `stepMs`
// before the time takes at most `perStep` first renewals, the new one going
// a step earlier while the step holds as many, never more than `mostMs`
// early. `othersDueMs`: when the other leases fall due.
qint64 firstRenewalEarlyMs(qint64 dueMs, const QList<qint64>& othersDueMs, int perStep, qint64 stepMs, qint64 mostMs);
// Leases on their way at once: enough that every one of `streams` is renewed
// within the interval when each answer takes `answerMs`, at least the fewest
// and at most the most of the tunables.
int leasePlaces(qsizetype streams, qint64 answerMs, qint64 intervalMs);
// How long the server takes to answer leases, as far as is known at `nowMs`:
// what answers took lately (`answeredMs`, -1 before any), and at least as
// long as the lease on its way longest (sent at `oldestSentMs`, -1 for none)
// has waited, so that a server that has just turned slow is taken for slow
// before its first slow answer comes.
qint64 leaseAnswerMs(qint64 answeredMs, qint64 oldestSentMs, qint64 nowMs);
// When the lease on its way longest will have waited long enough that
// `streams` get one place more than the `inFlight` on their way now; -1 when
// no wait does (the most are on their way).
qint64 leasePlaceGrowsAtMs(qsizetype streams, qint64 oldestSentMs, int inFlight, qint64 intervalMs);

// Readiness pause for the server's "poll_after_ms" (already read as a number).
qint64 readinessDelayMs(qint64 pollAfterMs);

// A refresh answer that ends the session: refused with 4xx, except 408 and
// 429, which are retried like server errors.
bool refreshRefused(int status);
// What a request that needed the session is told once the session ended.
QString sessionExpiredText();
// Why the session ended, from the seconds the access token still had.
QString sessionEndText(qint64 secsLeft);
// Seconds an access token still has, by the server's own clock: its expiry
// less the server's time now, which is the date of the server's latest answer
// when one came with it, else the token's issue time plus the seconds it has
// been held here; by our clock only when the token names no issue time
// either. 0 when it names no expiry.
qint64 tokenSecondsLeft(const QString& accessToken, const QDateTime& serverNow, qint64 heldSecs, qint64 localNowSecs);

// An HTTP date ("Sun, 06 Nov 1994 08:49:37 GMT", or the asctime form);
// invalid when unreadable.
QDateTime httpDate(const QByteArray& value);
// The wait a Retry-After header asks for, in ms: its seconds, or its date
// less the server's time of the same answer (ours when the answer named
// none); at most tun::kRetryAfterLongest; 0 when absent, unreadable or past.
qint64 retryAfterMs(const QByteArray& value, const QDateTime& serverNow, const QDateTime& localNow);

// Text for a failed stream start.
QString startErrorText(int status, const QString& errorText);

// A failed stream start, or a readiness wait that ends.
struct StreamOutcome {
    QString text;
    ApiFailure failure = ApiFailure::None;
};
// What a start answer means before a route is chosen: a failure, or none when
// the start goes on. The payload is the unwrapped answer.
std::optional<StreamOutcome> startFailure(int status, const QString& transportText, ApiFailure transport,
                                          const QJsonObject& payload);
// One readiness answer after elapsedMs of waiting: ready (an empty outcome),
// a failure that ends the wait, or none with the pause before the next poll
// (what the answer asked for: "poll_after_ms", or a longer Retry-After).
std::optional<StreamOutcome> readinessStep(int status, ApiFailure transport, const QJsonObject& payload,
                                           qint64 retryAfterMs, qint64 elapsedMs, qint64* pauseMs);
// The wait ran out; `lastStatus` is that of the latest answer (429: the
// server kept asking to slow down, which is said as such).
StreamOutcome readinessTimedOut(int lastStatus);

// The kind of a failure: by an HTTP status of 400 or more, or by the network
// layer's error when no status arrived.
ApiFailure failureOfStatus(int status);
// `requestSent`: the request went out on a connection the server took, so
// a time-out is the server not answering, not a connection never made.
ApiFailure failureOfTransport(QNetworkReply::NetworkError error, bool requestSent = true);
// What a request met when no answer came, in the program's words, by the
// network layer's error: its own text ("Connection refused", "Error
// transferring <address> - server replied: ...") is for the log only.
QString transportWords(QNetworkReply::NetworkError error);
// Whether an answer that came with a status did not come whole: the
// connection failed (it dropped, or went silent past the time-out) before its
// end, or its body is shorter than its Content-Length says (a body the
// network layer decoded from a coding has another length, and is judged by
// the connection alone). `received`: the body's bytes.
bool answerCutShort(QNetworkReply::NetworkError error, qint64 received, const QByteArray& contentLength,
                    const QByteArray& contentEncoding);
QString cutShortText();
// A failing status (400 or more) the server gave no words for.
QString statusWords(int status);
// A failed stream start or readiness wait. The server names an offline camera
// only in its own words, so they are read here, and only here.
ApiFailure streamFailure(int status, ApiFailure transport, const QString& serverText);
// An outage (try again later; a remembered sign-in is kept) rather than a refusal.
bool isOutage(ApiFailure failure);

// Redirects: whether a status sends the request elsewhere, and the method of
// the next hop (303, and 301 or 302 after a POST, continue as GET).
bool isRedirect(int status);
QByteArray redirectVerb(int status, const QByteArray& verb);

// Live keys: owner, U+001F, camera id; the camera id alone without an owner.
QString liveKey(const QString& owner, const QString& cameraId);
QString ownerOf(const QString& key);
QString cameraOf(const QString& key);

// What the stops and starts of a server stream are kept in order by: a live
// stream's id belongs to its camera; a recording's id belongs to its recorder
// (which reuses it for the next recording), and the client is not told the
// recorder, so every recording shares one scope.
QString streamScope(bool live, const QString& cameraId);

// Whether a cached reachability answer may be reused after ageMs.
bool cacheFresh(qint64 ageMs, bool reachable);

// What a reachability probe found.
enum class Reach : quint8 {
    Reachable,     // connected (and, for a secure route, the handshake completed)
    Unreachable,   // refused, no route, or no connection in time
    SecureStalled, // connected, but the secure connection did not complete in time
    SecureFailed,  // connected, but the secure connection was refused or broken
};
// The log's words for a probe's finding.
QString reachText(Reach reach);

using Endpoint = std::pair<QString, int>;
// Relay candidates: the configured relay alone, else the server's host and the
// built-in relay (unless they are the same host).
QList<Endpoint> relayCandidates(const QString& configuredHost, int relayPort, const QString& baseHost,
                                const QString& builtInHost);
QString relayUnreachableText(const QList<Endpoint>& candidates);
// A relay address as people write it, "host", "host:port" or "[v6]:port",
// split into host and port: a bracketed address loses its brackets and
// takes the number after "]:"; any other text splits at its last colon when
// that colon is not the first character and what follows reads as a whole
// number (so "fe80::1" gives "fe80:" and 1: an IPv6 address with a port
// wants its brackets); otherwise the whole text is the host, with
// `defaultPort`. The text is taken trimmed.
Endpoint splitHostPort(const QString& text, int defaultPort);
// "host:port" for people to read, an IPv6 address in brackets.
QString hostPortText(const QString& host, int port);
// Port from KVR_RTSP_PORT-style text: 0 when not a whole 32-bit number.
int portFromText(const QString& text);

// Route of a started stream, in falling order of preference.
StreamRoute chooseRoute(bool ticketUsable, bool ticketReachable, bool relayReachable);

// Scheme and authority of the base address (no path).
QString serverRoot(const QUrl& base);
// Scheme, host and port of an address, without its user, path or query
// ("https://vms.example.org:8443"): where the server's token belongs.
QString origin(const QUrl& address);
// "host:port" of an address, with the scheme's port where it names none
// (an IPv6 host in brackets); empty without a host.
QString endpointText(const QUrl& address);
// The port an address names, unless it is its scheme's own (80 for http,
// 443 for https); -1 otherwise.
int explicitPort(const QUrl& address);
QString hlsUrl(const QUrl& base, const QString& playId);
QString publicRtspsUrl(const QString& ticketUrl, const QString& user, const QString& password);
QString relayUrl(const QString& host, int port, const QString& user, const QString& password, const QString& streamId);

// Whether following a redirect from one address to another keeps the request
// where its credentials belong: same scheme, host and port.
bool sameOrigin(const QUrl& from, const QUrl& to);

} // namespace ApiRules

} // namespace kvr::api
