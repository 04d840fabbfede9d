#pragma once

#include <chrono>
#include <cstdint>

// Tunables of the stream player, in one place. Durations carry their unit in
// their type; other suffixes name the unit of a plain number.
namespace kvr::video::tun {

using std::chrono::microseconds;
using std::chrono::milliseconds;
using fseconds = std::chrono::duration<double>; // fractional seconds, as the pacing counts them

// ---- Reconnection -------------------------------------------------------
// Restarts per play() before the player gives up.
inline constexpr int kMaxReconnects = 3;
// The n-th restart waits n times this.
inline constexpr milliseconds kReconnectStep{1200};
// Footage not shown before that a restarted stream must play before its
// restarts count from zero again: shorter runs are a stream that flaps, and
// old footage played again (a relay's frozen playlist) is no recovery.
inline constexpr fseconds kRecoveredFootage{10.0};

// ---- Stopping ---------------------------------------------------------------
// How long stop() and play() wait for the previous decode thread to end. A
// thread still inside a system call after this (a name lookup, a sound
// device that stopped taking data) is left to end in the background.
inline constexpr milliseconds kStopWait{1000};
// How long the ALSA output's stop waits for its writer thread.
inline constexpr milliseconds kSoundStopWait{300};
// Buffer time the ALSA output asks of the device; the period is a quarter of it.
inline constexpr microseconds kSoundDeviceBuffer{80000};

// ---- Memory ---------------------------------------------------------------
// Blocks at least this large (decoders' picture pools, packet and I/O
// buffers) are mapped on their own and go back to the system when freed. The
// C library's own rule raises this bound to the largest block freed so far,
// after which every decoder's pools land in the per-thread heaps of the
// decode threads; pools of streams that come and go then leave those heaps
// holding memory no one uses, a little more with each restart.
inline constexpr int kOwnMappingBytes = 256 * 1024;
// Free memory at the top of the heap beyond this goes back to the system as
// it is freed. Set along with the bound above: the C library raises this one
// too (to twice the largest block freed before the bound was fixed, 8 MiB
// and more), and never lowers it again.
inline constexpr int kHeapTopKeptBytes = 2 * kOwnMappingBytes;
// Heaps the C library keeps for the process's threads; 0 leaves its default
// (a heap per thread, up to eight per core). One heap for all threads lets
// everything the decode threads freed go back (a stopped wall of 36 kept
// 6.5 MiB with one heap, 36-56 MiB with the default and fast bins, which
// later walls' threads largely take up), but walls of 16 and 36 tiles then
// spent 17-18 % more processor time per picture waiting on that heap's lock;
// two or four heaps cost 3-20 % (bench/video/bench_wall_heap). Pictures are
// what a wall is for.
inline constexpr int kHeaps = 0;
// Whether the C library keeps small freed blocks in its fast bins, apart and
// unmerged, for reuse. With them a heap is merged only when it is trimmed,
// and a trim gives back nothing at the top of a thread's heap: an ended
// decode thread's heap, all of it free, stayed with the process (a stopped
// wall of 36 kept 45-51 MiB, the medians of three runs; ten walls in a row
// 34-65 MiB). Without them a freed block merges with its free neighbours at
// once, and the top of a heap beyond kHeapTopKeptBytes goes back: 12-13 MiB
// after one wall of 36 as after ten, 9 MiB after a wall of 16 (20-23 MiB
// with them), for processor time per picture within the benchmark's spread
// (+2 % at 16 tiles, -2.5 % at 36: the medians of 16 rounds in three runs of
// bench/video/bench_wall_heap, each run's own from -11 to +7 %).
inline constexpr bool kFastBins = false;
// What decode threads freed goes back to the system this long after one of
// them ended, once for all that end meanwhile.
inline constexpr milliseconds kGiveBackDelay{5000};

// ---- Opening --------------------------------------------------------------
inline constexpr int kDefaultOpenAttempts = 40;
// Pause between RTSP open attempts, slept in slices so a stop is noticed.
inline constexpr milliseconds kOpenRetryPause{500};
inline constexpr milliseconds kSleepSlice{100};
// How long a failing RTSP close may take when boundedClose is on.
inline constexpr milliseconds kBoundedClose{1500};
// FFmpeg's RTSP socket time-out and the input analysis (FFmpeg takes them in
// microseconds).
inline constexpr microseconds kRtspTimeout{8000000};
inline constexpr microseconds kRtspAnalyze{6000000};
inline constexpr const char* kRtspProbeBytes = "4000000";
inline constexpr microseconds kHlsRwTimeout{15000000};
inline constexpr microseconds kRelayHlsAnalyze{1500000};
inline constexpr const char* kRelayHlsProbeBytes = "1000000";

// ---- HTTP input -----------------------------------------------------------
inline constexpr milliseconds kFetchTimeout{20000};     // whole file, or a ranged request's headers
inline constexpr milliseconds kReadStallTimeout{30000}; // no new data for a ranged read
// Redirects followed for one request (each to an address no less safe: never
// from HTTPS to plain HTTP); one more is a loop.
inline constexpr int kMaxRedirects = 5;
// A ranged read whose whole body has arrived gets this long to finish when it
// is closed, so that its connection serves the next request.
inline constexpr milliseconds kFinishGrace{200};
// Waits on the network are cut into slices of this length so that a stop of
// the player ends them promptly instead of at their time-out.
inline constexpr milliseconds kStopPoll{25};
inline constexpr int kPlaylistAttemptsFresh = 15;  // playlist fetches before the first picture
inline constexpr int kPlaylistAttemptsPlaying = 2; // once a picture was shown
inline constexpr milliseconds kPlaylistRetryPause{1000};
// A live relay playlist whose last segment stays the same for this many
// target durations (and at least the floor) has stopped: that is a drop.
inline constexpr int kStalePlaylistTargets = 3;
inline constexpr fseconds kStalePlaylistMin{3.0};
// Files fetched whole are bounded by size as well as by time: a playlist (a
// day of two-second segments takes a few MiB; the demuxer keeps an entry
// for every segment it is given, several times the playlist's own size) and
// any other file, a relay's segment (the relay's own bound on a segment is
// 50 MB by default).
inline constexpr int64_t kPlaylistMaxBytes = 4 * 1024 * 1024;
inline constexpr int64_t kWholeFileMaxBytes = 64 * 1024 * 1024;
// What the network layer holds of a whole-file fetch before it is taken.
inline constexpr int64_t kFetchReadBufferBytes = 1024 * 1024;
// Media segments that fail to open one after the other before the input is
// given up: a playlist of thousands of missing segments is not asked for
// each of them.
inline constexpr int kFailedSegmentsInARow = 5;
inline constexpr int kIoBufferBytes = 65536;
inline constexpr int64_t kReplyReadBufferBytes = 4 * 1024 * 1024;
inline constexpr int64_t kKeepBehindBytes = 4 * 1024 * 1024;  // consumed bytes kept for seeks back
inline constexpr int64_t kTrimAboveBytes = 8 * 1024 * 1024;   // consumed bytes that trigger a trim
inline constexpr int64_t kReadOnSeekBytes = 32 * 1024 * 1024; // forward seek without ranges reads on

// ---- TLS for RTSPS --------------------------------------------------------
inline constexpr milliseconds kTlsHandshakeTimeout{8000};
// Server bytes the tunnel holds for a reader that is behind; beyond this it
// stops reading from the server (the connection's own flow control takes over).
inline constexpr int64_t kTunnelHeldBytes = 1024 * 1024;
#if defined(Q_OS_MACOS) || defined(__APPLE__)
inline constexpr const char* kCaBundle = "/etc/ssl/cert.pem";
#else
inline constexpr const char* kCaBundle = "/etc/ssl/certs/ca-certificates.crt";
#endif

// ---- Drawing -------------------------------------------------------------
// How long the graphics probe waits for the copy of the program that answers
// it (see GpuProbe.cpp); a copy that takes longer is ended, and the processor
// draws. Nothing waits meanwhile: the processor draws until the answer.
inline constexpr milliseconds kGraphicsProbeWait{15000};
// The copy's answer is a few short lines; one longer than this is none.
inline constexpr int64_t kGraphicsProbeAnswerBytes = 16 * 1024;
// A window is made for the graphics chip only where the probe's answer (and,
// where the chip draws, the shared context) is in before the window first
// shows; a window shown before keeps its video with the processor. Start-up
// holds its windows that show video back for the answer this long at most
// after it started the probe, then shows them either way. The answer and the
// context come 150-400 ms after the probe starts, busy machine or not
// (bench/shell/bench_first_window).
inline constexpr milliseconds kFirstWindowWait{500};
// The GPU view merges repaints to about 60 a second at most, and gives a
// view that was shown this long to get its context before it checks.
inline constexpr milliseconds kRepaintInterval{16};
inline constexpr milliseconds kSurfaceCheckDelay{250};

// ---- Hardware decoding ----------------------------------------------------
// Video packets without a picture after which a hardware decoder is given up.
inline constexpr int kHardwareNoPicturePackets = 150;

// ---- Pacing (seconds) -------------------------------------------------------
inline constexpr fseconds kDueTolerance{0.004};
inline constexpr fseconds kAheadReset{5.0};
inline constexpr fseconds kLateCount{0.4};
inline constexpr fseconds kReanchor{1.0};
inline constexpr fseconds kSoundDryGiveUp{1.0};    // sound started, then nothing queued or heard
inline constexpr fseconds kSoundNeverGiveUp{2.0};  // sound clock never started
inline constexpr fseconds kSoundFrozenGiveUp{1.0}; // played time stands still with sound queued
inline constexpr double kMinRate = 0.25;
inline constexpr double kMaxRate = 32.0;
inline constexpr milliseconds kPauseSlice{40};
inline constexpr milliseconds kIdleSleep{4};

// Read-ahead limits (media seconds between first and last queued picture).
inline constexpr fseconds kReadAheadYuv{0.2};
inline constexpr fseconds kReadAheadLive{0.35};
inline constexpr fseconds kReadAheadOther{1.0};
inline constexpr int kReadAheadKeyframes = 3;
// Hard bound on queued pictures, whatever the sound clock does: holding more
// than this means the clock is not moving and more reading would only eat
// memory (decoded frames are large).
inline constexpr int kMaxPendingPictures = 48;

// Timestamp continuity.
inline constexpr fseconds kJumpBack{0.5};
inline constexpr fseconds kJumpAhead{5.0};
inline constexpr fseconds kVideoStep{0.04};
inline constexpr fseconds kSoundLeadDrop{0.02};
// Seeks: a picture within half a frame of the target counts as on it; a
// group of pictures is held back before it up to this size, and pictures
// further back than kSeekReach_s are not the seek's (a timestamp jump).
inline constexpr fseconds kSeekTolerance{0.02};
inline constexpr int64_t kHeldPacketBytes = 32 * 1024 * 1024;
inline constexpr fseconds kSeekReach{3600.0};
// A restart does not show footage again that is at most this far behind the
// newest already shown; further behind, the stream's timeline began anew.
inline constexpr fseconds kReplayWindow{30.0};

// ---- Overload ---------------------------------------------------------------
inline constexpr fseconds kOverloadWindow{2.0};
inline constexpr fseconds kOverloadMinWindow{0.5};
inline constexpr int kOverloadMinPictures = 12;
inline constexpr double kOverloadBusy = 0.7;
inline constexpr int kOverloadStrikes = 2;
inline constexpr fseconds kNoticeSpacing{15.0};

// ---- Behind-live skip -------------------------------------------------------
inline constexpr fseconds kOffsetRebase{30.0};
inline constexpr double kOffsetCreep = 0.003; // seconds per second
inline constexpr fseconds kLagMark{1.0};
inline constexpr fseconds kLagClear{0.5};
inline constexpr fseconds kLagHeld{2.0};
inline constexpr fseconds kLagFar{6.0};
inline constexpr fseconds kSkipGrace{3.0};
inline constexpr fseconds kSkipResumeLag{0.3};
inline constexpr fseconds kSkipMaxWait{1.5};
inline constexpr fseconds kSkipSeries{20.0};

// ---- Frame-rate cap ----------------------------------------------------------
inline constexpr fseconds kCapTolerance{0.004};

// ---- Debug statistics --------------------------------------------------------
inline constexpr fseconds kDebugInterval{2.0};

// ---- FFmpeg log filter --------------------------------------------------------
inline constexpr int kRepeatLimit = 50;

} // namespace kvr::video::tun
