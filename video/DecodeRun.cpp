#include "video/AudioOut.h"
#include "video/Logging.h"
#include "video/Pacing.h"
#include "video/PictureConverter.h"
#include "video/Playback.h"
#include "video/PlayerInput.h"
#include "video/VideoDecoder.h"

#include <deque>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

using namespace kvr::core;

namespace kvr::video {

// The decode loop of one playback: reads the input, decodes, converts and
// paces pictures and sound, and delivers pictures to the player.

using namespace kvr::video;
namespace {

class SoundAdapter final : public SoundClockSource {
public:
    explicit SoundAdapter(AudioOut& out) : m_out(out) {}
    int queuedBytes() override { return m_out.queuedBytes(); }
    double playedSeconds() override { return m_out.playedSeconds(); }
    void clear() override { m_out.clear(); }

private:
    AudioOut& m_out;
};

// What a recording that broke off says: why its next segment could not be had.
QString brokenOff(const QString& why)
{
    const QString lead = QStringLiteral("The rest of the recording could not be fetched");
    if (why.startsWith(QLatin1String("HTTP ")))
        return QStringLiteral("%1 (%2).").arg(lead, why);
    return QStringLiteral("%1: %2").arg(lead, why.left(1).toLower() + why.mid(1));
}

} // namespace

class DecodeRun {
public:
    explicit DecodeRun(Playback& playback)
        : p(playback),
          c(playback.controls),
          o(playback.options),
          input(playback),
          kind(input.kind()),
          sound(audio)
    {}
    ~DecodeRun() { cleanup(); }
    void exec();

private:
    bool stopped() const { return p.stopFlag.load(); }
    bool setupVideo();
    void setupSound();
    void loop();
    void applyKeyframes();
    void applyListen();
    bool handlePause();
    void handleSeek();
    void pacingPass();
    void overloadAndStats();
    bool atEnd();
    void videoPacket();
    bool receiveVideo();
    bool handleVideoFrame(AVFrame* frame);
    void soundPacket();
    void cleanup();
    void seekTo(int64_t ts);
    bool shownAlready(double t);
    bool holdBeforeTarget(bool key);
    void decodeHeld();
    void dropHeld();
    void deliver(PendingPicture&& picture);
    bool soundWanted() const { return soundAtStart || (listening && audio.isOpen()); }
    AVFormatContext* ctx() const { return input.context(); }
    AVCodecContext* vdec() const { return decoder.context(); }

    Playback& p;
    FfmpegPlayer::Controls& c;      // the owner's live controls
    const FfmpegPlayer::Options& o; // what the playback started with
    PlayerInput input;
    InputKind kind;
    VideoDecoder decoder;
    AVCodecContext* adec = nullptr;
    SwrContext* swr = nullptr;
    PictureConverter converter;
    AVFrame* frame = nullptr;
    AVPacket* pkt = nullptr;
    AudioOut audio;
    SoundAdapter sound;
    std::unique_ptr<Pacer> pacer;
    std::unique_ptr<OverloadMeter> meter;
    BehindLive behind;
    std::deque<PendingPicture> pending;
    PlayerEnv env;

    int vidx = -1;
    int aidx = -1;
    AVRational vtb{0, 1};
    AVRational atb{0, 1};
    bool soundUsable = false;
    bool soundAtStart = false;
    bool listening = false;
    int sampleRate = 0;
    double rate = 1.0;
    double duration = 0.0;
    double readAhead = 1.0;
    bool eof = false;
    bool drained = false;
    bool anyPictureDecoded = false;
    // The sound path keys on the first picture after the start or a seek:
    // sound before it is dropped, and so is sound earlier than it.
    bool firstPictureKnown = false;
    double firstPictureTime = 0.0;
    double lastPictureTime = 0.0;
    // Where a seek asked to be: the demuxer lands on a keyframe before it
    // (on HLS, at the start of the segment), and pictures before it are
    // decoded but not shown. Packets before it wait in `held` until a later
    // keyframe makes them useless, so that only the target's own group of
    // pictures is decoded.
    std::optional<double> seekTarget;
    std::vector<AVPacket*> held;
    int64_t heldBytes = 0;
    // A restart's floor (Playback::shownUpTo), until a newer picture comes.
    std::optional<double> replayFloor;
    std::optional<double> lastConverted;
    Continuity videoCont;
    Continuity soundCont;
    HardwareWatch hardwareWatch;
    bool endForSoftware = false;
    bool loggedFirstPacket = false;
    bool loggedFirstKey = false;
    int decodedCount = 0;
    int convertedCount = 0;
    double lastStats = 0.0;
};

void runDecodeLoop(Playback& playback)
{
    DecodeRun r(playback);
    r.exec();
}

void DecodeRun::exec()
{
    p.hadPicture.store(false);
    p.onlyReplayed.store(false);
    p.playlistStopped.store(false);
    p.endedUnexpectedly.store(false);
    p.endedForSoftware.store(false);
    replayFloor = p.shownUpTo;
    env = playerEnv();

    NetPool pool;
    p.net = &pool;

    if (input.open() && setupVideo()) {
        setupSound();
        loop();
    }
    cleanup();
    p.net = nullptr;
    p.running.store(false);
}

bool DecodeRun::setupVideo()
{
    if (kind != InputKind::Rtsp) {
        if (avformat_find_stream_info(ctx(), nullptr) < 0) {
            input.close();
            p.deadlineArmed.store(false);
            if (p.segmentsFailing())
                p.fail(p.lastErrorKind, p.lastError);
            else
                p.fail(PlayerFailure::Other, QStringLiteral("No stream information"));
            return false;
        }
    }
    vidx = av_find_best_stream(ctx(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (vidx < 0) {
        input.close();
        p.fail(PlayerFailure::Other, QStringLiteral("No video stream"));
        return false;
    }
    vtb = ctx()->streams[vidx]->time_base;
    if (!decoder.open(ctx()->streams[vidx], kind != InputKind::OtherHls, o, *p.shared)) {
        input.close();
        p.fail(PlayerFailure::Other, QStringLiteral("Decoder failed"));
        return false;
    }
    p.logStep(kind == InputKind::Rtsp ? QStringLiteral("tracks known (SDP)") : QStringLiteral("stream info ready"));
    for (unsigned i = 0; i < ctx()->nb_streams; ++i) {
        const AVCodecParameters* par = ctx()->streams[i]->codecpar;
        const char* type = av_get_media_type_string(par->codec_type);
        qCWarning(lcVideo).noquote() << QStringLiteral("[play]   track %1: %2 %3 %4x%5 rate=%6")
                                            .arg(i)
                                            .arg(QString::fromUtf8(type ? type : "unknown"))
                                            .arg(QString::fromUtf8(avcodec_get_name(par->codec_id)))
                                            .arg(par->width)
                                            .arg(par->height)
                                            .arg(par->sample_rate);
    }
    return true;
}

void DecodeRun::setupSound()
{
    aidx = av_find_best_stream(ctx(), AVMEDIA_TYPE_AUDIO, -1, vidx, nullptr, 0);
    const bool hasSoundStream = aidx >= 0;
    if (hasSoundStream) {
        AVStream* st = ctx()->streams[aidx];
        atb = st->time_base;
        const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (codec && (adec = avcodec_alloc_context3(codec)) && avcodec_parameters_to_context(adec, st->codecpar) >= 0
            && avcodec_open2(adec, codec, nullptr) >= 0 && adec->sample_rate > 0) {
            if (adec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
                const int n = adec->ch_layout.nb_channels < 1 ? 2 : adec->ch_layout.nb_channels;
                av_channel_layout_uninit(&adec->ch_layout);
                av_channel_layout_default(&adec->ch_layout, n);
            }
            AVChannelLayout stereo;
            av_channel_layout_default(&stereo, 2);
            if (swr_alloc_set_opts2(&swr, &stereo, AV_SAMPLE_FMT_S16, adec->sample_rate, &adec->ch_layout,
                                    adec->sample_fmt, adec->sample_rate, 0, nullptr)
                    >= 0
                && swr && swr_init(swr) >= 0) {
                soundUsable = true;
                sampleRate = adec->sample_rate;
            }
            av_channel_layout_uninit(&stereo);
        }
        if (!soundUsable) {
            swr_free(&swr);
            avcodec_free_context(&adec);
        }
    }
    const double wantedRate = o.rate;
    if (soundUsable && o.audioEnabled && wantedRate == 1.0)
        soundAtStart = audio.open(sampleRate, 2);
    if (hasSoundStream && o.audioEnabled && wantedRate == 1.0 && !soundAtStart)
        qCWarning(lcVideo).noquote() << "Playing without audio";
    const bool present = soundUsable;
    p.post([present](FfmpegPlayer& pl) { Q_EMIT pl.audioTrack(present); });

    rate = Pacer::clampRate(wantedRate);
    duration = ctx()->duration > 0 ? double(ctx()->duration) / AV_TIME_BASE : 0.0;
    const double d = duration;
    p.post([d](FfmpegPlayer& pl) { Q_EMIT pl.durationKnown(d); });
    if (p.startSeconds > 0.5 && duration > 0.0)
        c.seekRequest.store(std::min(p.startSeconds / duration, 0.999));

    readAhead = readAheadLimit(c.yuvOutput.load(), kind != InputKind::OtherHls);
    if (o.readAheadCap > 0.0)
        readAhead = std::min(readAhead, o.readAheadCap);
    const double now = steadyNow();
    pacer = std::make_unique<Pacer>(rate, soundAtStart, &sound, now);
    meter = std::make_unique<OverloadMeter>(now);
    lastStats = now;
    frame = av_frame_alloc();
    pkt = av_packet_alloc();
}

void DecodeRun::applyKeyframes()
{
    decoder.applyKeyframesOnly(c.keyframesOnly.load());
    audio.setMuted(c.muted.load());
}

void DecodeRun::applyListen()
{
    const bool want = c.listen.load() && soundUsable && !soundAtStart;
    if (want && !listening) {
        if (!audio.isOpen())
            audio.open(sampleRate, 2);
        else
            audio.pause(false);
        audio.clear();
        listening = true;
    } else if (!want && listening) {
        if (audio.isOpen()) {
            audio.pause(true);
            audio.clear();
        }
        listening = false;
    }
}

bool DecodeRun::handlePause()
{
    if (!c.paused.load())
        return true;
    audio.pause(true);
    if (kind == InputKind::Rtsp)
        av_read_pause(ctx());
    const double t0 = steadyNow();
    while (c.paused.load() && !stopped()) {
        std::this_thread::sleep_for(tun::kPauseSlice);
        applyKeyframes();
        applyListen();
    }
    if (stopped())
        return false;
    audio.pause(false);
    if (kind == InputKind::Rtsp)
        av_read_play(ctx());
    pacer->resumedAfter(steadyNow() - t0);
    behind.forgetOffset();
    return true;
}

void DecodeRun::seekTo(int64_t ts)
{
    // Positions count from the input's own start, which need not be 0.
    if (ctx()->start_time != AV_NOPTS_VALUE && ctx()->start_time > 0)
        ts += ctx()->start_time;
    dropHeld();
    seekTarget = double(ts) / AV_TIME_BASE;
    const int rc = av_seek_frame(ctx(), -1, ts, AVSEEK_FLAG_BACKWARD);
    if (rc < 0)
        qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "seek failed:" << ffmpegError(rc);
    if (vdec())
        avcodec_flush_buffers(vdec());
    if (adec)
        avcodec_flush_buffers(adec);
    pending.clear();
    pacer->resetClock(steadyNow());
    videoCont.forget();
    soundCont.forget();
    // A seek back to before where playback began would otherwise leave all
    // sound there "before the first picture", and the clock without sound.
    firstPictureKnown = false;
    eof = false;
    drained = false;
}

bool DecodeRun::holdBeforeTarget(bool key)
{
    if (!seekTarget)
        return false;
    const int64_t at = pkt->dts != AV_NOPTS_VALUE ? pkt->dts : pkt->pts;
    if (at == AV_NOPTS_VALUE || double(at) * av_q2d(vtb) >= *seekTarget - tun::kSeekTolerance.count()) {
        decodeHeld(); // the target's group of pictures, up to here
        return false;
    }
    if (key)
        dropHeld();
    if (AVPacket* copy = av_packet_clone(pkt)) {
        held.push_back(copy);
        heldBytes += pkt->size;
    }
    // A group of pictures too long to keep is decoded as it comes.
    if (heldBytes > tun::kHeldPacketBytes)
        decodeHeld();
    return true;
}

void DecodeRun::decodeHeld()
{
    for (AVPacket* packet : held) {
        if (!stopped() && avcodec_send_packet(vdec(), packet) >= 0)
            receiveVideo();
        av_packet_free(&packet);
    }
    held.clear();
    heldBytes = 0;
}

void DecodeRun::dropHeld()
{
    for (AVPacket* packet : held)
        av_packet_free(&packet);
    held.clear();
    heldBytes = 0;
}

bool DecodeRun::shownAlready(double t)
{
    if (seekTarget) {
        if (t < *seekTarget - tun::kSeekTolerance.count() && t > *seekTarget - tun::kSeekReach.count())
            return true;
        seekTarget.reset();
    }
    if (replayFloor) {
        // A live playlist that stopped advancing serves the same footage to
        // every restart; a timeline far behind is a stream that began anew.
        if (t <= *replayFloor && t > *replayFloor - tun::kReplayWindow.count()) {
            p.onlyReplayed.store(true);
            return true;
        }
        replayFloor.reset();
    }
    return false;
}

void DecodeRun::handleSeek()
{
    const double s = c.seekRequest.exchange(-1.0);
    if (s >= 0.0 && duration > 0.0)
        seekTo(int64_t(s * double(ctx()->duration)));
}

void DecodeRun::deliver(PendingPicture&& picture)
{
    if (!p.hadPicture.load()) {
        p.hadPicture.store(true);
        p.logStep(QStringLiteral("first frame shown"));
    }
    const double pts = picture.pts;
    QImage image = std::move(picture.image);
    std::shared_ptr<const YuvFrame> yuv = std::move(picture.yuv);
    p.post([gen = p.generation, pts, image, yuv](FfmpegPlayer& pl) {
        PlayerAccess::reconnect(pl).picture(gen, pts);
        Q_EMIT pl.position(pts);
        if (yuv)
            Q_EMIT pl.yuvFrameReady(yuv);
        else
            Q_EMIT pl.frameReady(image);
    });
}

void DecodeRun::pacingPass()
{
    const bool catchUp = kind == InputKind::Rtsp && o.catchUpLive;
    pacer->pass(pending, steadyNow(), catchUp, [this](PendingPicture&& pic) { deliver(std::move(pic)); });
    if (pacer->takeGaveUp()) {
        qCWarning(lcVideo).noquote() << "Audio stopped; continuing on the wall clock";
        soundAtStart = false;
    }
}

void DecodeRun::overloadAndStats()
{
    const double now = steadyNow();
    if ((kind != InputKind::OtherHls || env.testOverload) && !c.paused.load() && meter->windowDue(now)) {
        int onTime = 0, late = 0;
        pacer->takeCounts(onTime, late);
        if (meter->check(now, onTime, late)) {
            qCWarning(lcVideo).noquote() << "[play]" << p.options.label << "can't keep up with the stream";
            p.post([](FfmpegPlayer& pl) { Q_EMIT pl.overloaded(); });
        }
    }
    if (env.playDebug && now - lastStats > tun::kDebugInterval.count()) {
        qCWarning(lcVideo).noquote() << QStringLiteral("[dbg]%1 decoded=%2 converted=%3 pending=%4 resets=%5")
                                            .arg(p.options.label)
                                            .arg(decodedCount)
                                            .arg(convertedCount)
                                            .arg(pending.size())
                                            .arg(pacer->resets());
        decodedCount = convertedCount = 0;
        lastStats = now;
    }
}

bool DecodeRun::atEnd()
{
    // The decoder still holds the last pictures of the input: drain them
    // before deciding that playback is over.
    if (!drained) {
        drained = true;
        if (vdec())
            decodeHeld(); // a seek target past the last packet
        if (vdec() && avcodec_send_packet(vdec(), nullptr) >= 0)
            receiveVideo();
        return true;
    }
    if (pending.empty()) {
        if (o.loop && !stopped() && !p.inputGivenUp) {
            seekTo(0);
            return true;
        }
        p.endedUnexpectedly.store(kind != InputKind::OtherHls && !stopped());
        // A recording whose last segments could not be fetched did not end:
        // it broke off, and says why (a live stream reconnects instead).
        if (kind == InputKind::OtherHls && !stopped() && p.segmentsFailing())
            p.fail(p.lastErrorKind, brokenOff(p.lastError));
        return false;
    }
    std::this_thread::sleep_for(tun::kIdleSleep);
    return true;
}

bool DecodeRun::receiveVideo()
{
    bool got = false;
    while (!stopped()) {
        const int r = avcodec_receive_frame(vdec(), frame);
        if (r < 0)
            break;
        if (handleVideoFrame(frame))
            got = true;
        av_frame_unref(frame);
    }
    return got;
}

void DecodeRun::videoPacket()
{
    const double now = steadyNow();
    const bool key = pkt->flags & AV_PKT_FLAG_KEY;
    if (kind == InputKind::Rtsp && o.catchUpLive && pkt->pts != AV_NOPTS_VALUE) {
        const BehindLive::Result r =
            behind.onPacket(now, double(pkt->pts) * av_q2d(vtb), key, meter->busy(), meter->lastNotice());
        if (r.startedSkip) {
            qCWarning(lcVideo).noquote() << QStringLiteral(
                                                "[play] %1 %2 s behind the camera; skipping to the next keyframe")
                                                .arg(p.options.label)
                                                .arg(r.lag, 0, 'f', 1);
            if (r.notice) {
                meter->setLastNotice(now);
                p.post([](FfmpegPlayer& pl) { Q_EMIT pl.overloaded(); });
            }
        }
        if (r.action == BehindLive::Action::Drop)
            return;
        if (r.action == BehindLive::Action::ResumeAndDecode) {
            avcodec_flush_buffers(vdec());
            pending.clear();
            pacer->resetClock(now);
            // The jump in media time is the point of the skip: it must not be
            // folded away as a timestamp glitch.
            videoCont.forget();
            soundCont.forget();
        }
    }
    if (c.keyframesOnly.load() && !key)
        return;
    if (!loggedFirstPacket) {
        loggedFirstPacket = true;
        p.logStep(QStringLiteral("first video packet"));
    }
    if (key && !loggedFirstKey) {
        loggedFirstKey = true;
        p.logStep(QStringLiteral("first video keyframe"));
    }
    if (holdBeforeTarget(key))
        return;
    const double t0 = steadyNow();
    if (env.slowDecodeMs > 0)
        sleepMs(env.slowDecodeMs);
    bool got = false;
    if (avcodec_send_packet(vdec(), pkt) >= 0)
        got = receiveVideo();
    meter->addDecodeSeconds(steadyNow() - t0);

    if (decoder.hardware() && hardwareWatch.packetDone(got || anyPictureDecoded)) {
        qCWarning(lcVideo).noquote() << "[play]" << p.options.label
                                     << "hardware decoding produced no picture; switching to software";
        p.shared->hardwareFailed.store(true);
        p.endedUnexpectedly.store(true);
        p.endedForSoftware.store(true);
        endForSoftware = true;
    }
}

bool DecodeRun::handleVideoFrame(AVFrame* f)
{
    if (f->width < 1 || f->height < 1 || f->format < 0)
        return false;
    if (decoder.yieldsNothing())
        return false; // the stand-in hardware decoder yields nothing
    double t = lastPictureTime;
    if (f->best_effort_timestamp != AV_NOPTS_VALUE)
        t = videoCont.apply(double(f->best_effort_timestamp) * av_q2d(vtb), tun::kVideoStep.count());
    lastPictureTime = t;
    if (shownAlready(t))
        return true;
    const double now = steadyNow();
    if (!anyPictureDecoded) {
        anyPictureDecoded = true;
        pacer->firstPictureDecoded(now);
        lastConverted.reset();
        p.logStep(QStringLiteral("first frame decoded"));
    }
    if (!firstPictureKnown) {
        firstPictureKnown = true;
        firstPictureTime = t;
    }
    ++decodedCount;

    const bool snap = c.snapshotRequest.exchange(false);
    if (!snap && capSkips(c.maxFps.load(), lastConverted, t))
        return true;

    const AVFrame* src = decoder.inMemory(f);
    if (!src)
        return true;
    if (snap) {
        const QImage image = PictureConverter::still(src);
        if (!image.isNull())
            p.post([image](FfmpegPlayer& pl) { Q_EMIT pl.snapshotReady(image); });
    }
    if (c.yuvOutput.load()) {
        if (std::shared_ptr<YuvFrame> y = PictureConverter::planes(src)) {
            pending.push_back(PendingPicture{QImage(), t, std::move(y)});
            ++convertedCount;
            lastConverted = t;
            return true;
        }
    }
    const QSize out =
        rgbOutputSize(src->width, src->height, c.targetWidth.load(), c.targetHeight.load(), o.coverTarget);
    QImage image = converter.scaled(src, out, o.lightDecode);
    if (image.isNull())
        return true;
    pending.push_back(PendingPicture{std::move(image), t, nullptr});
    ++convertedCount;
    lastConverted = t;
    return true;
}

void DecodeRun::soundPacket()
{
    if (avcodec_send_packet(adec, pkt) < 0)
        return;
    while (!stopped()) {
        if (avcodec_receive_frame(adec, frame) < 0)
            break;
        double t = -1.0;
        if (frame->best_effort_timestamp != AV_NOPTS_VALUE) {
            const double step = double(frame->nb_samples) / std::max(1, adec->sample_rate);
            t = soundCont.apply(double(frame->best_effort_timestamp) * av_q2d(atb), step);
        }
        const bool early = !firstPictureKnown || (t >= 0.0 && t < firstPictureTime - tun::kSoundLeadDrop.count());
        if (!early) {
            const int outSamples = swr_get_out_samples(swr, frame->nb_samples);
            if (outSamples > 0) {
                std::vector<uint8_t> buf(size_t(outSamples) * 4, 0);
                uint8_t* outPlanes[1] = {buf.data()};
                const int n = swr_convert(swr, outPlanes, outSamples, const_cast<const uint8_t**>(frame->extended_data),
                                          frame->nb_samples);
                if (n > 0) {
                    const int bytes = n * 4;
                    bool write = true;
                    if (soundAtStart) {
                        // Wait for room, pacing pictures meanwhile; give up
                        // waiting when the sound clock is given up.
                        while (!stopped() && !c.paused.load() && c.seekRequest.load() < 0.0 && audio.freeBytes() < bytes
                               && soundAtStart) {
                            pacingPass();
                            std::this_thread::sleep_for(tun::kIdleSleep);
                        }
                        if (!soundAtStart)
                            write = listening && audio.isOpen() && audio.freeBytes() >= bytes;
                    } else if (audio.freeBytes() < bytes) {
                        write = false;
                    }
                    if (write) {
                        const double now = steadyNow();
                        pacer->soundWritten(soundAtStart ? t : -1.0, now);
                        audio.write(buf.data(), bytes);
                    }
                }
            }
        }
        av_frame_unref(frame);
    }
}

void DecodeRun::loop()
{
    while (!stopped()) {
        applyKeyframes();
        applyListen();
        if (!handlePause())
            break;
        handleSeek();
        pacingPass();
        overloadAndStats();
        if (eof) {
            if (!atEnd())
                break;
            continue;
        }
        if (pacer->holdReading(pending, readAhead, c.keyframesOnly.load())) {
            std::this_thread::sleep_for(tun::kIdleSleep);
            continue;
        }
        if (av_read_frame(ctx(), pkt) < 0) {
            eof = true;
            continue;
        }
        if (pkt->stream_index == vidx) {
            videoPacket();
        } else if (pkt->stream_index == aidx && soundUsable && soundWanted() && !behind.skipping()) {
            // Sound of a stretch being skipped is skipped with it: written to
            // the output it would hold reading back to real time, and the
            // picture could never catch up with the camera.
            soundPacket();
        }
        av_packet_unref(pkt);
        if (endForSoftware)
            break;
    }
}

void DecodeRun::cleanup()
{
    dropHeld();
    audio.close();
    swr_free(&swr);
    av_frame_free(&frame);
    avcodec_free_context(&adec);
    av_packet_free(&pkt);
    decoder.close();
    input.close();
    pending.clear();
}

} // namespace kvr::video
