#include "video/Pacing.h"

#include "video/Tunables.h"

#include <algorithm>
#include <cmath>

using namespace kvr::core;

namespace kvr::video {

using namespace tun;

Pacer::Pacer(double rate, bool soundClockOn, SoundClockSource* sound, double now)
    : m_rate(clampRate(rate)),
      m_soundOn(soundClockOn),
      m_sound(sound),
      m_watchdog(now),
      m_lastPlayedMove(now)
{}

double Pacer::clampRate(double rate)
{
    if (!(rate == rate)) // NaN
        return 1.0;
    return std::clamp(rate, kMinRate, kMaxRate);
}

void Pacer::firstPictureDecoded(double now)
{
    m_watchdog = now;
    m_lastPlayedMove = now;
}

void Pacer::soundWritten(double mediaTime, double now)
{
    if (m_soundOn && !m_soundStarted && mediaTime >= 0.0) {
        m_soundStarted = true;
        m_soundBase = mediaTime;
        m_lastPlayed = -1.0;
        m_lastPlayedMove = now;
    }
    m_watchdog = now;
}

void Pacer::resetClock(double now)
{
    if (m_sound)
        m_sound->clear();
    m_soundStarted = false;
    m_wallStarted = false;
    m_shownAny = false;
    m_watchdog = now;
    m_lastPlayed = -1.0;
    m_lastPlayedMove = now;
}

void Pacer::resumedAfter(double seconds)
{
    if (m_wallStarted)
        m_wallOrigin += seconds;
    // Time spent paused is not time the sound stood still.
    m_watchdog += seconds;
    m_lastPlayedMove += seconds;
}

void Pacer::dropSoundClock()
{
    m_soundOn = false;
    m_soundStarted = false;
    m_wallStarted = false;
    m_shownAny = false;
}

void Pacer::checkGiveUp(double now)
{
    if (!m_soundOn)
        return;
    const int queued = m_sound ? m_sound->queuedBytes() : 0;
    bool giveUp = false;
    if (m_soundStarted) {
        const double played = m_sound ? m_sound->playedSeconds() : 0.0;
        if (played != m_lastPlayed) {
            m_lastPlayed = played;
            m_lastPlayedMove = now;
        }
        // Ran dry, or an output that holds sound but stopped pulling it.
        if (queued == 0 && now - m_watchdog > kSoundDryGiveUp.count())
            giveUp = true;
        if (now - m_lastPlayedMove > kSoundFrozenGiveUp.count())
            giveUp = true;
    } else {
        // Never started: nothing queued for 2 s, or sound arriving without
        // times (it can never start the clock) for 2 s after the first picture.
        if (queued == 0 && now - m_watchdog > kSoundNeverGiveUp.count())
            giveUp = true;
        if (now - m_lastPlayedMove > kSoundNeverGiveUp.count())
            giveUp = true;
    }
    if (giveUp) {
        dropSoundClock();
        m_gaveUp = true;
    }
}

std::optional<double> Pacer::clockValue(double now)
{
    checkGiveUp(now);
    if (m_soundOn) {
        if (m_soundStarted)
            return m_soundBase + (m_sound ? m_sound->playedSeconds() : 0.0);
        return std::nullopt;
    }
    if (m_wallStarted)
        return (now - m_wallOrigin) * m_rate;
    return std::nullopt;
}

void Pacer::deliverFront(std::deque<PendingPicture>& queue, double now, const Deliver& deliver)
{
    PendingPicture p = std::move(queue.front());
    queue.pop_front();
    m_shownAny = true;
    if (!m_soundOn && !m_wallStarted) {
        m_wallOrigin = now - p.pts / m_rate;
        m_wallStarted = true;
    }
    if (deliver)
        deliver(std::move(p));
}

void Pacer::pass(std::deque<PendingPicture>& queue, double now, bool rtspCatchUp, const Deliver& deliver)
{
    while (!queue.empty()) {
        const std::optional<double> clock = clockValue(now);
        if (!clock) {
            if (m_shownAny)
                return;
            deliverFront(queue, now, deliver);
            continue;
        }
        const double d = queue.front().pts - *clock;
        if (d > kAheadReset.count()) {
            ++m_resets;
            resetClock(now);
            return;
        }
        if (d > kDueTolerance.count())
            return;
        if (d < -kLateCount.count())
            ++m_late;
        if (d < -kReanchor.count() && !m_soundOn && !rtspCatchUp)
            m_wallOrigin = now - queue.front().pts / m_rate;
        if (queue.size() >= 2 && queue[1].pts - *clock <= kDueTolerance.count()) {
            queue.pop_front();
            ++m_late;
            continue;
        }
        ++m_onTime;
        deliverFront(queue, now, deliver);
    }
}

bool Pacer::queueFull(const std::deque<PendingPicture>& queue, double limitSeconds, bool keyframesOnly)
{
    if (queue.size() >= size_t(kMaxPendingPictures))
        return true;
    if (keyframesOnly)
        return queue.size() > size_t(kReadAheadKeyframes);
    return queue.size() >= 2 && queue.back().pts - queue.front().pts > limitSeconds;
}

bool Pacer::holdReading(const std::deque<PendingPicture>& queue, double limitSeconds, bool keyframesOnly) const
{
    // The hard bound holds even while the output waits for its first sound;
    // the give-up rule then moves pacing to the wall clock.
    if (queue.size() >= size_t(kMaxPendingPictures))
        return true;
    return queueFull(queue, limitSeconds, keyframesOnly) && (m_soundStarted || !m_soundOn);
}

// ---- Overload --------------------------------------------------------------

bool noticeAllowed(double now, double lastNotice)
{
    return now - lastNotice > kNoticeSpacing.count();
}

bool OverloadMeter::windowDue(double now) const
{
    return now - m_windowStart >= kOverloadWindow.count();
}

bool OverloadMeter::check(double now, int onTime, int late)
{
    const int n = onTime + late;
    m_busy = m_decodeSeconds / std::max(now - m_windowStart, kOverloadMinWindow.count());
    if (n >= kOverloadMinPictures && m_busy > kOverloadBusy && 10 * late > 3 * n)
        ++m_strikes;
    else
        m_strikes = 0;
    m_decodeSeconds = 0.0;
    m_windowStart = now;
    if (m_strikes >= kOverloadStrikes && noticeAllowed(now, m_lastNotice)) {
        m_strikes = 0;
        m_lastNotice = now;
        return true;
    }
    return false;
}

// ---- Behind-live skip -------------------------------------------------------

BehindLive::Result BehindLive::onPacket(double now, double ptsSeconds, bool keyframe, double busy, double lastNotice)
{
    const double raw = now - ptsSeconds;
    if (!m_hasOffset) {
        m_offset = raw;
        m_hasOffset = true;
    } else if (raw >= m_offset && raw - m_offset > kOffsetRebase.count()) {
        m_offset = raw;
    } else {
        m_offset = std::min(m_offset + kOffsetCreep * (now - m_previousArrival), raw);
    }
    m_previousArrival = now;
    if (m_firstSeen < 0.0)
        m_firstSeen = now;

    Result r;
    r.lag = raw - m_offset;
    if (r.lag > kLagMark.count() && m_marker < 0.0)
        m_marker = now;
    if (r.lag < kLagClear.count())
        m_marker = -1.0;
    const bool farBehind = (m_marker >= 0.0 && now - m_marker > kLagHeld.count()) || r.lag > kLagFar.count();

    if (!m_skipping) {
        if (!(farBehind && now - m_firstSeen > kSkipGrace.count()))
            return r;
        m_skipCount = (now - m_previousSkip >= kSkipSeries.count()) ? 1 : m_skipCount + 1;
        r.startedSkip = true;
        m_marker = -1.0;
        if (m_skipCount >= 2 && busy > kOverloadBusy && noticeAllowed(now, lastNotice))
            r.notice = true;
        m_previousSkip = m_skipStart = now;
        m_skipping = true;
    }
    if (keyframe && (r.lag < kSkipResumeLag.count() || now - m_skipStart > kSkipMaxWait.count())) {
        m_skipping = false;
        if (now - m_skipStart > kSkipMaxWait.count())
            m_hasOffset = false;
        r.action = Action::ResumeAndDecode;
        return r;
    }
    r.action = Action::Drop;
    return r;
}

// ---- Reconnect ----------------------------------------------------------------

ReconnectStep nextReconnect(int countSoFar, bool hadPicture, bool stopped)
{
    ReconnectStep s;
    if (countSoFar < kMaxReconnects) {
        s.kind = ReconnectStep::Kind::Restart;
        s.attempt = countSoFar + 1;
        s.delayMs = int(s.attempt * kReconnectStep.count());
        s.why = stopped  ? QStringLiteral("No new picture")
            : hadPicture ? QStringLiteral("The connection dropped")
                         : QStringLiteral("No picture yet");
        return s;
    }
    s.kind = ReconnectStep::Kind::GiveUp;
    if (stopped) {
        // The connection held; what it carried stopped moving on.
        s.headline = QStringLiteral("Picture stopped");
        s.detail = QStringLiteral("The stream stopped sending new pictures.");
    } else if (hadPicture) {
        s.headline = QStringLiteral("Lost the stream");
        s.detail = QStringLiteral("The connection kept dropping.");
    } else {
        s.headline = QStringLiteral("No video from this camera");
        s.detail = QStringLiteral("The relay connected but the camera sent no picture.");
    }
    return s;
}

void ReconnectSchedule::started(int generation, bool fresh, bool continuousTimeline, bool sameLive)
{
    if (fresh) {
        m_count = 0;
        if (!sameLive || !continuousTimeline)
            m_furthestBefore = -1e300;
    }
    if ((!fresh || (sameLive && continuousTimeline)) && m_threadShown) {
        m_furthestBefore = std::max(m_furthestBefore, m_threadLatest);
    }
    m_generation = generation;
    m_stopped = false;
    m_continuous = continuousTimeline;
    m_threadShown = false;
}

std::optional<double> ReconnectSchedule::shownBefore() const
{
    if (!m_continuous || m_furthestBefore <= -1e300)
        return std::nullopt;
    return m_furthestBefore;
}

void ReconnectSchedule::picture(int generation, double mediaTime)
{
    if (generation != m_generation)
        return;
    if (!m_threadShown) {
        m_threadShown = true;
        m_threadFirst = m_threadLatest = mediaTime;
    }
    m_threadLatest = std::max(m_threadLatest, mediaTime);
    const double newFrom = m_continuous ? std::max(m_threadFirst, m_furthestBefore) : m_threadFirst;
    if (m_threadLatest - newFrom >= kRecoveredFootage.count())
        m_count = 0;
}

ReconnectSchedule::Decision ReconnectSchedule::ended(const Ended& e, bool autoReconnect)
{
    Decision d;
    if (e.generation != m_generation || m_stopped)
        return d;
    if (e.forSoftware) {
        d.kind = Decision::Kind::RestartNow;
        return d;
    }
    // A failure to start counts as the next drop while reconnecting (the
    // server may still be on its way back); otherwise, or on the last
    // attempt, it is reported.
    const bool reconnecting = autoReconnect && m_count > 0;
    if (!e.failure.isEmpty() && !(reconnecting && m_count < kMaxReconnects)) {
        d.kind = Decision::Kind::GiveUp;
        d.headline = QStringLiteral("Can\u2019t play this stream");
        d.detail = e.failure;
        d.failure = e.failureKind;
        return d;
    }
    if (e.failure.isEmpty() && (!autoReconnect || !e.unexpected))
        return d;
    const ReconnectStep step = nextReconnect(m_count, e.hadPicture, e.stopped);
    if (step.kind == ReconnectStep::Kind::Restart) {
        m_count = step.attempt;
        d.kind = Decision::Kind::Schedule;
        d.attempt = step.attempt;
        d.delayMs = step.delayMs;
        d.why = step.why;
        d.stopped = e.stopped;
    } else {
        d.kind = Decision::Kind::GiveUp;
        d.headline = step.headline;
        d.detail = step.detail;
        d.failure = e.stopped ? PlayerFailure::Stopped : PlayerFailure::Dropped;
    }
    return d;
}

bool HardwareWatch::packetDone(bool gotPicture)
{
    if (gotPicture)
        m_pictureSeen = true;
    if (m_pictureSeen)
        return false;
    return ++m_empty >= kHardwareNoPicturePackets;
}

// ---- Continuity, cap, sizes ---------------------------------------------------

double Continuity::apply(double t, double step)
{
    t += m_offset;
    if (m_has && (t < m_previous - kJumpBack.count() || t > m_previous + kJumpAhead.count())) {
        const double replacement = m_previous + step;
        m_offset += replacement - t;
        t = replacement;
    }
    m_previous = t;
    m_has = true;
    return t;
}

bool capSkips(double maxFps, std::optional<double> lastConverted, double t)
{
    if (!(maxFps > 0.0) || !lastConverted || t < *lastConverted)
        return false;
    return (t - *lastConverted) < 1.0 / maxFps - kCapTolerance.count();
}

QSize rgbOutputSize(int width, int height, int targetWidth, int targetHeight, bool cover)
{
    if (targetWidth <= 0 || targetHeight <= 0 || width <= 0 || height <= 0)
        return QSize(width, height);
    const double across = double(targetWidth) / width;
    const double down = double(targetHeight) / height;
    const double scale = std::min(cover ? std::max(across, down) : std::min(across, down), 1.0);
    // A hair of slack so that 1080 x (200/1080) lands on 200, not 199.
    int w = int(std::floor(width * scale + 1e-9));
    int h = int(std::floor(height * scale + 1e-9));
    w = std::max(16, w & ~1);
    h = std::max(16, h & ~1);
    return QSize(w, h);
}

double readAheadLimit(bool yuvOutput, bool liveKind)
{
    if (yuvOutput)
        return kReadAheadYuv.count();
    return liveKind ? kReadAheadLive.count() : kReadAheadOther.count();
}

} // namespace kvr::video
