#include "video/Pacing.h"

#include "video/Tunables.h"

#include <algorithm>
#include <cmath>

namespace kvr::video {

using namespace tun;

Pacer::Pacer(double rate, bool soundClockOn, SoundClockSource* sound, double now)
    : rate_(clampRate(rate)), soundOn_(soundClockOn), sound_(sound), watchdog_(now), lastPlayedMove_(now)
{
}

double Pacer::clampRate(double rate)
{
    if (!(rate == rate)) // NaN
        return 1.0;
    return std::clamp(rate, kMinRate, kMaxRate);
}

void Pacer::firstPictureDecoded(double now)
{
    watchdog_ = now;
    lastPlayedMove_ = now;
}

void Pacer::soundWritten(double mediaTime, double now)
{
    if (soundOn_ && !soundStarted_ && mediaTime >= 0.0) {
        soundStarted_ = true;
        soundBase_ = mediaTime;
        lastPlayed_ = -1.0;
        lastPlayedMove_ = now;
    }
    watchdog_ = now;
}

void Pacer::resetClock(double now)
{
    if (sound_)
        sound_->clear();
    soundStarted_ = false;
    wallStarted_ = false;
    shownAny_ = false;
    watchdog_ = now;
    lastPlayed_ = -1.0;
    lastPlayedMove_ = now;
}

void Pacer::resumedAfter(double seconds)
{
    if (wallStarted_)
        wallOrigin_ += seconds;
    // Time spent paused is not time the sound stood still.
    watchdog_ += seconds;
    lastPlayedMove_ += seconds;
}

void Pacer::dropSoundClock()
{
    soundOn_ = false;
    soundStarted_ = false;
    wallStarted_ = false;
    shownAny_ = false;
}

void Pacer::checkGiveUp(double now)
{
    if (!soundOn_)
        return;
    const int queued = sound_ ? sound_->queuedBytes() : 0;
    bool giveUp = false;
    if (soundStarted_) {
        const double played = sound_ ? sound_->playedSeconds() : 0.0;
        if (played != lastPlayed_) {
            lastPlayed_ = played;
            lastPlayedMove_ = now;
        }
        // Ran dry, or an output that holds sound but stopped pulling it.
        if (queued == 0 && now - watchdog_ > kSoundDryGiveUp_s)
            giveUp = true;
        if (now - lastPlayedMove_ > kSoundFrozenGiveUp_s)
            giveUp = true;
    } else {
        // Never started: nothing queued for 2 s, or sound arriving without
        // times (it can never start the clock) for 2 s after the first picture.
        if (queued == 0 && now - watchdog_ > kSoundNeverGiveUp_s)
            giveUp = true;
        if (now - lastPlayedMove_ > kSoundNeverGiveUp_s)
            giveUp = true;
    }
    if (giveUp) {
        dropSoundClock();
        gaveUp_ = true;
    }
}

std::optional<double> Pacer::clockValue(double now)
{
    checkGiveUp(now);
    if (soundOn_) {
        if (soundStarted_)
            return soundBase_ + (sound_ ? sound_->playedSeconds() : 0.0);
        return std::nullopt;
    }
    if (wallStarted_)
        return (now - wallOrigin_) * rate_;
    return std::nullopt;
}

void Pacer::deliverFront(std::deque<PendingPicture>& queue, double now, const Deliver& deliver)
{
    PendingPicture p = std::move(queue.front());
    queue.pop_front();
    shownAny_ = true;
    if (!soundOn_ && !wallStarted_) {
        wallOrigin_ = now - p.pts / rate_;
        wallStarted_ = true;
    }
    if (deliver)
        deliver(std::move(p));
}

void Pacer::pass(std::deque<PendingPicture>& queue, double now, bool rtspCatchUp, const Deliver& deliver)
{
    while (!queue.empty()) {
        const std::optional<double> clock = clockValue(now);
        if (!clock) {
            if (shownAny_)
                return;
            deliverFront(queue, now, deliver);
            continue;
        }
        const double d = queue.front().pts - *clock;
        if (d > kAheadReset_s) {
            ++resets_;
            resetClock(now);
            return;
        }
        if (d > kDueTolerance_s)
            return;
        if (d < -kLateCount_s)
            ++late_;
        if (d < -kReanchor_s && !soundOn_ && !rtspCatchUp)
            wallOrigin_ = now - queue.front().pts / rate_;
        if (queue.size() >= 2 && queue[1].pts - *clock <= kDueTolerance_s) {
            queue.pop_front();
            ++late_;
            continue;
        }
        ++onTime_;
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
    return queueFull(queue, limitSeconds, keyframesOnly) && (soundStarted_ || !soundOn_);
}

// ---- Overload --------------------------------------------------------------

bool noticeAllowed(double now, double lastNotice)
{
    return now - lastNotice > kNoticeSpacing_s;
}

bool OverloadMeter::windowDue(double now) const
{
    return now - windowStart_ >= kOverloadWindow_s;
}

bool OverloadMeter::check(double now, int onTime, int late)
{
    const int n = onTime + late;
    busy_ = decodeSeconds_ / std::max(now - windowStart_, kOverloadMinWindow_s);
    if (n >= kOverloadMinPictures && busy_ > kOverloadBusy && 10 * late > 3 * n)
        ++strikes_;
    else
        strikes_ = 0;
    decodeSeconds_ = 0.0;
    windowStart_ = now;
    if (strikes_ >= kOverloadStrikes && noticeAllowed(now, lastNotice_)) {
        strikes_ = 0;
        lastNotice_ = now;
        return true;
    }
    return false;
}

// ---- Behind-live skip -------------------------------------------------------

BehindLive::Result BehindLive::onPacket(double now, double ptsSeconds, bool keyframe, double busy, double lastNotice)
{
    const double raw = now - ptsSeconds;
    if (!hasOffset_) {
        offset_ = raw;
        hasOffset_ = true;
    } else if (raw >= offset_ && raw - offset_ > kOffsetRebase_s) {
        offset_ = raw;
    } else {
        offset_ = std::min(offset_ + kOffsetCreep * (now - previousArrival_), raw);
    }
    previousArrival_ = now;
    if (firstSeen_ < 0.0)
        firstSeen_ = now;

    Result r;
    r.lag = raw - offset_;
    if (r.lag > kLagMark_s && marker_ < 0.0)
        marker_ = now;
    if (r.lag < kLagClear_s)
        marker_ = -1.0;
    const bool farBehind = (marker_ >= 0.0 && now - marker_ > kLagHeld_s) || r.lag > kLagFar_s;

    if (!skipping_) {
        if (!(farBehind && now - firstSeen_ > kSkipGrace_s))
            return r;
        skipCount_ = (now - previousSkip_ >= kSkipSeries_s) ? 1 : skipCount_ + 1;
        r.startedSkip = true;
        marker_ = -1.0;
        if (skipCount_ >= 2 && busy > kOverloadBusy && noticeAllowed(now, lastNotice))
            r.notice = true;
        previousSkip_ = skipStart_ = now;
        skipping_ = true;
    }
    if (keyframe && (r.lag < kSkipResumeLag_s || now - skipStart_ > kSkipMaxWait_s)) {
        skipping_ = false;
        if (now - skipStart_ > kSkipMaxWait_s)
            hasOffset_ = false;
        r.action = Action::ResumeAndDecode;
        return r;
    }
    r.action = Action::Drop;
    return r;
}

// ---- Reconnect ----------------------------------------------------------------

ReconnectStep nextReconnect(int countSoFar, bool hadPicture)
{
    ReconnectStep s;
    if (countSoFar < kMaxReconnects) {
        s.kind = ReconnectStep::Kind::Restart;
        s.attempt = countSoFar + 1;
        s.delayMs = int(s.attempt * kReconnectStep.count());
        s.why = hadPicture ? QStringLiteral("The connection dropped") : QStringLiteral("No picture yet");
        return s;
    }
    s.kind = ReconnectStep::Kind::GiveUp;
    if (hadPicture) {
        s.headline = QStringLiteral("Lost the stream");
        s.detail = QStringLiteral("The connection kept dropping.");
    } else {
        s.headline = QStringLiteral("No video from this camera");
        s.detail = QStringLiteral("The relay connected but the camera sent no picture.");
    }
    return s;
}

// ---- Continuity, cap, sizes ---------------------------------------------------

double Continuity::apply(double t, double step)
{
    t += offset_;
    if (has_ && (t < previous_ - kJumpBack_s || t > previous_ + kJumpAhead_s)) {
        const double replacement = previous_ + step;
        offset_ += replacement - t;
        t = replacement;
    }
    previous_ = t;
    has_ = true;
    return t;
}

bool capSkips(double maxFps, std::optional<double> lastConverted, double t)
{
    if (!(maxFps > 0.0) || !lastConverted || t < *lastConverted)
        return false;
    return (t - *lastConverted) < 1.0 / maxFps - kCapTolerance_s;
}

QSize rgbOutputSize(int width, int height, int targetWidth, int targetHeight)
{
    if (targetWidth <= 0 || targetHeight <= 0 || width <= 0 || height <= 0)
        return QSize(width, height);
    const double scale = std::min(std::max(double(targetWidth) / width, double(targetHeight) / height), 1.0);
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
        return kReadAheadYuv_s;
    return liveKind ? kReadAheadLive_s : kReadAheadOther_s;
}

} // namespace kvr::video
