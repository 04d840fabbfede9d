#pragma once

// Tunables of the native device services, in one place. Units are in the
// types (std::chrono) or in the names.

#include <QtGlobal>

#include <chrono>

namespace kvr::services::tun {

using namespace std::chrono_literals;

// ---- Inventory saving -------------------------------------------------------
// A burst of edits or probe results is written once, this long after the
// last change ...
inline constexpr std::chrono::milliseconds kSaveDelay = 1500ms;
// ... but never later than this after the first change not yet written, so a
// busy fleet whose results keep arriving still reaches the disk.
inline constexpr std::chrono::milliseconds kSaveMaxDeferral = 30s;

// ---- Uptime history ---------------------------------------------------------
// Days kept in native-uptime.json: today and the 40 days before it.
inline constexpr int kUptimeKeepDays = 40;
// The largest uptime history file read: far beyond what a large fleet
// writes (5,000 recorders of 64 cameras, 40 days, about 3 GiB at the very
// most), so anything bigger is not ours and would only exhaust memory.
inline constexpr qint64 kUptimeFileMaxBytes = qint64(4) << 30;
// The first probe after start (or after re-enabling) credits this much.
inline constexpr std::chrono::seconds kFirstCredit = 60s;
// The credit for one probe is capped at max(poll minutes x this, the floor):
// a gap longer than that (sleep, no network) stays uncredited.
inline constexpr int kCreditSecondsPerPollMinute = 90;
inline constexpr std::chrono::seconds kCreditFloor = 450s;

// ---- Probe scheduler --------------------------------------------------------
// Probe jobs that may run at once across the whole fleet.
inline constexpr int kMaxRunningJobs = 4;
// The first sweep follows the start of polling after this delay.
inline constexpr std::chrono::milliseconds kFirstSweepDelay = 1500ms;
// Poll interval and recording window: ranges of the settings (their keys and
// defaults live with the other settings, in app/core/Settings.h).
inline constexpr int kPollMinutesMin = 1;
inline constexpr int kPollMinutesMax = 60;
inline constexpr int kWindowDaysMin = 1;
inline constexpr int kWindowDaysMax = 120;

// ---- Stream start pacing ----------------------------------------------------
// Spacing of stream starts against one device (used by the live wall tile).
inline constexpr std::chrono::milliseconds kLiveStartGap = 80ms;
inline constexpr std::chrono::milliseconds kPlaybackStartGap = 300ms;

} // namespace kvr::services::tun

// ---- Device HTTP, probes and recording searches -----------------------------
#include <QtGlobal>

namespace kvr::services::tun {

// Transfer time-outs the callers pass to device HTTP (the request is given
// up when no data moves for this long).
inline constexpr std::chrono::milliseconds kDeviceRequestTimeout = 8s; // probe, details, calendar
inline constexpr std::chrono::milliseconds kTcpConnectTimeout = 3s;    // one TCP connect test
// The whole answer of a device request must come within this many times its
// transfer time-out, counted from when the request goes out: a device that
// sends a byte now and then never lets the transfer time-out fire.
inline constexpr int kWholeAnswerFactor = 2;
// A request that answers a device's login waits for the device's turn (one
// at a time, see DeviceLogins.h) at most this many times its transfer
// time-out: for the requests of a probe, longer than the probe's deadline,
// so a slow device's whole probe (a dozen answers of 3 to 6 s each, one
// after another) is never cut short by the wait; for the others, a bound
// on a device that keeps the turn busy.
inline constexpr int kTurnWaitFactor = 8;
// How much of an answer is held unread; past it the
// device's bytes wait in the connection (its sending slows down) instead of
// in memory, so a device sending a huge answer at full speed costs this
// much before the body cap ends it.
inline constexpr qint64 kDeviceReadBuffer_bytes = 256 * 1024;
// What is read from a device's connection at a time, and held of it before
// the answer's framing is read: the connection holds the rest.
inline constexpr qint64 kWireSocketBuffer_bytes = 64 * 1024;
// The largest head of an answer (status line and headers, or a chunked
// body's trailers); a longer one is no answer of a device.
inline constexpr qint64 kAnswerHead_bytes = 64 * 1024;
// The largest body of a refusal (401) read: it carries nothing but a page
// for browsers, the challenge is in the headers. A longer one ends the
// exchange ("The device's login answer was too large.").
inline constexpr qint64 kChallengeBody_bytes = 64 * 1024;
// Redirects to the same device followed by one request (or event stream)
// before it is given up as a loop.
inline constexpr int kMaxRedirects = 3;
// A probe job ends with what it found by then, whatever its requests still
// wait for, so that a slow device gives a finding and frees its place.
inline constexpr std::chrono::milliseconds kProbeDeadline = 60s;
static_assert(kDeviceRequestTimeout * kTurnWaitFactor > kProbeDeadline,
              "a probe's request must not give up waiting for the device's turn before the probe ends");

// Largest answer body accepted from a device. Text answers (device
// information, disks, channel lists, search pages) stay far below the first;
// pictures get more room. A device past the cap (a broken firmware that
// streams forever) fails the request instead of filling the memory.
inline constexpr qint64 kMaxAnswerBody_bytes = 4 * 1024 * 1024;
inline constexpr qint64 kMaxPictureBody_bytes = 24 * 1024 * 1024;
// An answer this large (still pictures, or a device past the cap) leaves
// freed memory worth giving back to the system, this long after the last
// such request ended.
inline constexpr qint64 kLargeAnswer_bytes = 1024 * 1024;
inline constexpr std::chrono::milliseconds kGiveBackDelay = 2s;

// Connections to devices open at once (checks, details, pictures, searches
// and event streams together): this share of the process's open-file limit
// (half of it: 128 of the 256 a program on macOS starts with), leaving the
// rest to the program's own files and sockets and to the live wall's
// video, within these bounds. Of them, a quarter (at most the ceiling) is
// kept for requests, which event streams, open for good, never take.
inline constexpr qint64 kDeviceConnectionShareOfFiles = 2;
inline constexpr int kMinDeviceConnections = 16;
inline constexpr int kMaxDeviceConnections = 8192;
inline constexpr int kMaxRequestReserve = 64;

// HTTP-port connect attempts of one probe (latency and loss are taken from
// them).
inline constexpr int kProbeConnectAttempts = 3;
// Network quality: mean connect time limits and lost attempts allowed.
inline constexpr std::chrono::milliseconds kGoodLatency = 100ms;
inline constexpr std::chrono::milliseconds kDegradedLatency = 300ms;
inline constexpr int kDegradedMaxLost = 1;

// Recorded-day count: the window is clamped to this many days.
inline constexpr int kMaxRecordingWindowDays = 120;

} // namespace kvr::services::tun

// ---- CSV import ---------------------------------------------------------------
namespace kvr::services::tun {

// A file that sends nothing for this long (a pipe nobody writes to, a
// network share that stopped answering) ends the import with nothing added.
inline constexpr std::chrono::milliseconds kImportStall = 15s;
// How often the window looks at the reading thread's progress.
inline constexpr std::chrono::milliseconds kImportPoll = 100ms;
// Read from the file at a time.
inline constexpr qint64 kImportChunk_bytes = 256 * 1024;

} // namespace kvr::services::tun

// ---- Lengths of what a device record holds ---------------------------------------
// The longest text each field of an imported row may hold, in characters
// (UTF-16 code units); a longer one refuses its row, with a sentence. Far
// beyond what people write, and what devices take, so that a cell pasted by
// mistake (a whole document in one name) is never taken into the inventory.
namespace kvr::services::tun {

inline constexpr int kMaxNameChars = 256;     // a device's or a site's name
inline constexpr int kMaxAddressChars = 512;  // a site's postal address
inline constexpr int kMaxHostChars = 253;     // an IP address or host name (as long as a DNS name may be)
inline constexpr int kMaxUserChars = 64;      // a device's login name
inline constexpr int kMaxPasswordChars = 128; // a device's password (devices take 16 to 64)
inline constexpr int kMaxCodeChars = 64;      // a site or store code put before the name
inline constexpr int kMaxWordChars = 64;      // a brand code or a device type
inline constexpr int kMaxNumberChars = 32;    // a port or a channel count, spaces and signs included

} // namespace kvr::services::tun
