#pragma once

#include "video/PlayerFailure.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace kvr::video {

struct YuvFrame;

// The player's rules, kept free of FFmpeg, threads and sockets so they can be
// driven with made-up times: pacing on the sound or wall clock, read-ahead,
// overload detection, the behind-live skip, the reconnect schedule, the
// frame-rate cap, timestamp continuity and picture sizing. Times are seconds
// on a steady clock, handed in by the caller.

// One converted picture waiting for its display time.
struct PendingPicture {
    QImage image;                        // RGB32; null in YUV mode
    double pts = 0.0;                    // media time, seconds
    std::shared_ptr<const YuvFrame> yuv; // the picture in YUV mode; null in RGB mode
};

// What the pacing needs of the sound output.
class SoundClockSource {
public:
    virtual ~SoundClockSource() = default;
    virtual int queuedBytes() = 0;
    virtual double playedSeconds() = 0;
    virtual void clear() = 0;
};

// Picture pacing with the sound clock or a wall clock scaled by the rate.
class Pacer {
public:
    using Deliver = std::function<void(PendingPicture&&)>;

    // `sound` may be null when there is no output at all.
    Pacer(double rate, bool soundClockOn, SoundClockSource* sound, double now);

    static double clampRate(double rate);

    // The decode loop's events.
    void firstPictureDecoded(double now);
    // A chunk went to the output; mediaTime < 0 when it has no time.
    void soundWritten(double mediaTime, double now);
    // Seek, loop, behind-live resume, or a picture far ahead.
    void resetClock(double now);
    // The loop comes back from a pause that lasted `seconds`.
    void resumedAfter(double seconds);
    // The sound output was not opened after all: run on the wall clock.
    void dropSoundClock();

    // One pacing pass: delivers what is due from the front of `queue`.
    // `rtspCatchUp`: RTSP input with catch-up on (late pictures are dropped
    // instead of re-anchoring the wall clock).
    void pass(std::deque<PendingPicture>& queue, double now, bool rtspCatchUp, const Deliver& deliver);

    // Whether the loop should hold off reading.
    static bool queueFull(const std::deque<PendingPicture>& queue, double limitSeconds, bool keyframesOnly);
    bool holdReading(const std::deque<PendingPicture>& queue, double limitSeconds, bool keyframesOnly) const;

    // The current clock value, if any (applies the give-up rule first).
    std::optional<double> clockValue(double now);

    bool soundClockOn() const { return m_soundOn; }
    int resets() const { return m_resets; }
    int onTime() const { return m_onTime; }
    int late() const { return m_late; }
    void takeCounts(int& onTime, int& late)
    {
        onTime = m_onTime;
        late = m_late;
        m_onTime = m_late = 0;
    }
    // True once after the sound clock was given up (for the log line).
    bool takeGaveUp()
    {
        bool g = m_gaveUp;
        m_gaveUp = false;
        return g;
    }

private:
    void deliverFront(std::deque<PendingPicture>& queue, double now, const Deliver& deliver);
    void checkGiveUp(double now);

    double m_rate;
    bool m_soundOn;
    SoundClockSource* m_sound;
    bool m_soundStarted = false;
    double m_soundBase = 0.0;
    double m_watchdog;
    double m_lastPlayed = -1.0;
    double m_lastPlayedMove;
    bool m_wallStarted = false;
    double m_wallOrigin = 0.0;
    bool m_shownAny = false;
    int m_resets = 0;
    int m_onTime = 0;
    int m_late = 0;
    bool m_gaveUp = false;
};

// Overload detection over windows of at least 2 s.
class OverloadMeter {
public:
    explicit OverloadMeter(double now) : m_windowStart(now) {}
    void addDecodeSeconds(double s) { m_decodeSeconds += s; }
    // Closes a window when due; answers true when a notice is to be posted.
    bool check(double now, int onTime, int late);
    // The window length so far and whether `check` would close it.
    bool windowDue(double now) const;
    double busy() const { return m_busy; }
    double lastNotice() const { return m_lastNotice; }
    void setLastNotice(double t) { m_lastNotice = t; }
    int strikes() const { return m_strikes; }

private:
    double m_windowStart;
    double m_decodeSeconds = 0.0;
    double m_busy = 0.0;
    int m_strikes = 0;
    double m_lastNotice = -1e18; // the first notice of a call is never held back
};

// Whether a notice may be posted now (15 s spacing).
bool noticeAllowed(double now, double lastNotice);

// The behind-live skip for RTSP with catch-up.
class BehindLive {
public:
    enum class Action { Decode, Drop, ResumeAndDecode };
    struct Result {
        Action action = Action::Decode;
        bool startedSkip = false; // log "... s behind the camera; skipping ..."
        double lag = 0.0;
        bool notice = false; // post `overloaded`
    };
    // `busy` and `lastNotice` come from the overload meter; on a notice the
    // caller stores `now` as the last notice.
    Result onPacket(double now, double ptsSeconds, bool keyframe, double busy, double lastNotice);
    // A pause forgets the offset.
    void forgetOffset() { m_hasOffset = false; }
    bool skipping() const { return m_skipping; }

private:
    bool m_hasOffset = false;
    double m_offset = 0.0;
    double m_previousArrival = 0.0;
    double m_firstSeen = -1.0;
    double m_marker = -1.0;
    bool m_skipping = false;
    double m_skipStart = 0.0;
    double m_previousSkip = -100.0;
    int m_skipCount = 0;
};

// Reconnect schedule after an unexpected end.
struct ReconnectStep {
    enum class Kind { Restart, GiveUp };
    Kind kind = Kind::GiveUp;
    int attempt = 0;  // 1..3 for a restart
    int delayMs = 0;  // attempt x 1200
    QString why;      // for `reconnecting`
    QString headline; // for `status` when giving up
    QString detail;
};
// `stopped`: the stream stopped moving on (a live playlist that no longer
// advances) rather than dropping.
ReconnectStep nextReconnect(int countSoFar, bool hadPicture, bool stopped = false);

// The player's side of restarting (GUI thread): what follows when a decode
// thread ends, whether a scheduled restart is still wanted, and when the
// restart count goes back to zero.
class ReconnectSchedule {
public:
    // How one decode thread ended.
    struct Ended {
        int generation = 0;
        bool hadPicture = false;  // it showed a picture
        bool unexpected = false;  // a live input dropped
        bool forSoftware = false; // hardware decoding gave up: go on in software
        QString failure;          // why it could not start playing; empty when it did

        core::PlayerFailure failureKind = core::PlayerFailure::None; // the kind of `failure`
        bool stopped = false;                                        // the live playlist stopped moving on (not a drop)
    };
    struct Decision {
        enum class Kind { Nothing, RestartNow, Schedule, GiveUp };
        Kind kind = Kind::Nothing;
        int attempt = 0; // Schedule: 1..3, the restart's delay and the text for `reconnecting`
        int delayMs = 0;
        QString why;
        QString headline; // GiveUp: the `status` texts and the failure's kind
        QString detail;
        core::PlayerFailure failure = core::PlayerFailure::None;
        // Schedule: the restart follows a stream that stopped, not a drop.
        bool stopped = false;
    };

    // A decode thread starts: `fresh` for play(), false for a restart.
    // `continuousTimeline`: media times go on across restarts (HLS); an RTSP
    // session starts its clock afresh, so all it shows is new. `sameLive`:
    // play() of the live stream the last playback played, whose media times
    // go on too: what earlier playbacks showed is not shown as live again.
    void started(int generation, bool fresh, bool continuousTimeline, bool sameLive = false);
    // The owner stopped the playback: nothing of it restarts.
    void stopped() { m_stopped = true; }
    // A picture of `generation` was shown.
    void picture(int generation, double mediaTime);
    Decision ended(const Ended& e, bool autoReconnect);
    // A restart scheduled for the thread `generation` is due.
    bool restartDue(int generation) const { return generation == m_generation && !m_stopped; }
    // For the thread just started: the latest media time earlier threads of
    // this playback showed, when media times go on across restarts.
    std::optional<double> shownBefore() const;
    int count() const { return m_count; }

private:
    int m_generation = -1;
    bool m_stopped = false;
    bool m_continuous = false;
    int m_count = 0;
    double m_furthestBefore = -1e300; // latest media time shown by earlier threads
    bool m_threadShown = false;
    double m_threadFirst = 0.0;
    double m_threadLatest = 0.0;
};

// Gives a hardware decoder up when it keeps producing nothing: the 150th
// video packet without a picture, as long as none has come.
class HardwareWatch {
public:
    // After each video packet; true when hardware decoding is to be given up.
    bool packetDone(bool gotPicture);

private:
    bool m_pictureSeen = false;
    int m_empty = 0;
};

// Timestamp continuity: folds jumps back of more than 0.5 s or ahead of more
// than 5 s into a steady progression.
class Continuity {
public:
    // Applies the offset and the jump rule; `step` replaces a jump.
    double apply(double t, double step);
    void forget()
    {
        m_has = false;
        m_offset = 0.0;
    }
    double offset() const { return m_offset; }

private:
    bool m_has = false;
    double m_previous = 0.0;
    double m_offset = 0.0;
};

// Frame-rate cap: whether the picture at `t` is to be skipped.
bool capSkips(double maxFps, std::optional<double> lastConverted, double t);

// RGB output size: fits inside the target, or with `cover` covers it (for a
// surface that crops); never enlarges, even, at least 16.
QSize rgbOutputSize(int width, int height, int targetWidth, int targetHeight, bool cover);

// Read-ahead limit by output and input kind.
double readAheadLimit(bool yuvOutput, bool liveKind);

} // namespace kvr::video
