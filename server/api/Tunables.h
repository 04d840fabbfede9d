#pragma once

#include <QtGlobal>

#include <chrono>

// Timing and sizing of the server client, in one place. Units are in the types.
namespace kvr::api::tun {

using std::chrono::milliseconds;
using std::chrono::seconds;

// Every request gives up when no bytes move for this long, so a server that
// accepts the connection and never answers cannot hang sign-in or a screen.
inline constexpr milliseconds kTransferTimeout{30000};

// Session renewal: at three quarters of the token's lifetime, never sooner
// than the floor; 450 s when the server named no lifetime; 45 s after a
// failed timed renewal. Lifetimes beyond the ceiling renew at the ceiling.
inline constexpr seconds kRefreshFloor{20};
inline constexpr milliseconds kRefreshUnknownLifetime{450000};
inline constexpr seconds kRefreshRetryLifetime{60}; // 3/4 of it: 45 s
inline constexpr milliseconds kRefreshCeiling{std::chrono::hours(24)};

// A refused renewal with at least this much left on the access token is
// worded as an early end (the account signed in elsewhere).
inline constexpr seconds kEarlyEndThreshold{31};

// Progressive catalogue: device and channel requests outstanding per load.
inline constexpr int kCatalogInFlight = 10;

// Reachability probes and their caches. A secure route (RTSPS) counts as
// reachable only once its TLS handshake completes, which it must within its
// own time after the connection is made.
inline constexpr milliseconds kProbeTimeout{2500};
inline constexpr milliseconds kSecureProbeHandshake{4000};
inline constexpr milliseconds kReachableCacheAge{120000};
inline constexpr milliseconds kUnreachableCacheAge{5000};
inline constexpr int kDefaultRelayPort = 8565;
inline constexpr int kPublicRtspsPort = 8322;

// Readiness polling of HLS streams.
inline constexpr milliseconds kReadyPollDefault{750};
inline constexpr milliseconds kReadyPollMin{300};
inline constexpr milliseconds kReadyPollMax{3000};
inline constexpr milliseconds kReadyLimit{60000};

// Leases: half the lease, at least the floor; 45 s without a lease time.
inline constexpr milliseconds kLeaseUnknown{45000};
inline constexpr milliseconds kLeaseFloor{2000};
inline constexpr milliseconds kLeaseCeiling{std::chrono::hours(1)};

// Lease requests on their way at once: at least the fewest, and as many more
// as renewing every stream within the renewal interval takes at the pace the
// server answers leases, up to the most. Leases travel on connections of
// their own (the network layer gives each manager six per host, so a lane of
// six per manager), and a lease route that is slow or hangs leaves the
// status, the catalogue and session renewal theirs. The most leaves room for
// a wall of 36 on 30 s leases answered as slowly as the lease time-out
// allows (36 x 10 s / 15 s = 24). A wall of 36 on 30 s leases
// (bench/api/bench_leases) is renewed at most 18.0 s apart with answers of
// 3 s, 16.1 s with 5 s and 16.3 s with 8 s, and 23.0 s apart when its leases
// turn from quick to 8 s; with at most 12, that round took three waves of
// 8 s and a third of the wall was renewed 31 s apart, past its lease.
inline constexpr int kLeasesInFlight = 4;
inline constexpr int kLeasesInFlightMost = 24;
inline constexpr int kConnectionsPerHost = 6;
inline constexpr int kLeaseLanes = kLeasesInFlightMost / kConnectionsPerHost;
// Leases begun together have their first renewals spread, a few (the fewest
// on their way at once) in each of these steps of the renewal interval,
// going no more than half the interval early: a wall of 36 started at once
// renews its streams first over 7 s instead of all at once, so a server
// that turns slow just then has answered the first before the last are due.
inline constexpr int kLeaseSpreadSteps = 15;
// A lease not answered within this (no bytes moving) gives up, well before
// the transfer time-out of other requests: the next round asks again.
inline constexpr milliseconds kLeaseTimeout{10000};

// A lease answer that asks for a restart (no ticket, or a stream the server
// no longer knows) does so at most once per live key in this span.
inline constexpr seconds kRestartSpacing{31};

// A request asked again after an answer with Retry-After waits as long as
// it asks, up to this.
inline constexpr milliseconds kRetryAfterLongest{120000};

// An answer's body past this ends its request ("The server's answer was too
// large to read."), so that a proxy or a broken server sending without end
// cannot fill this process (a 400 MB site list took 831 MiB). The largest
// real catalogue answers are a few MB. Little of an answer waits unread in
// the network layer.
inline constexpr qint64 kMaxAnswer_bytes = qint64(32) << 20;
inline constexpr qint64 kAnswerReadBuffer_bytes = qint64(1) << 20;

// Answers at least this large are logged by size only.
inline constexpr int kLogBodyLimit_bytes = 6001;

} // namespace kvr::api::tun
