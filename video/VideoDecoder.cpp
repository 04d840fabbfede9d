#include "video/VideoDecoder.h"

#include "video/Logging.h"
#include "video/Playback.h"

#include <QtDebug>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/hwcontext.h>
}

namespace kvr::video {

namespace {

std::atomic<FfmpegPlayer::HardwareSeam> hardwareSeam{FfmpegPlayer::HardwareSeam::Real};

// The platform's hardware decoding device.
#if defined(__APPLE__)
constexpr const char* kHardwareDevice = "videotoolbox";
#else
constexpr const char* kHardwareDevice = "vaapi";
#endif

enum AVPixelFormat chooseHardwareFormat(AVCodecContext* ctx, const enum AVPixelFormat* offered)
{
    if (!offered || *offered == AV_PIX_FMT_NONE)
        return AV_PIX_FMT_NONE;
    const auto wanted = static_cast<AVPixelFormat>(reinterpret_cast<intptr_t>(ctx->opaque));
    for (const AVPixelFormat* f = offered; *f != AV_PIX_FMT_NONE; ++f) {
        if (*f == wanted)
            return wanted;
    }
    return offered[0];
}

} // namespace

VideoDecoder::~VideoDecoder()
{
    close();
}

void VideoDecoder::setSeam(FfmpegPlayer::HardwareSeam seam)
{
    hardwareSeam.store(seam);
}

bool VideoDecoder::open(const AVStream* stream, bool liveKind, const FfmpegPlayer::Options& options,
                        PlayerShared& shared)
{
    bool hwOpenFailed = false;
    if (openOnce(stream, liveKind, options, shared, true, hwOpenFailed))
        return true;
    if (!hwOpenFailed)
        return false;
    qCWarning(lcVideo).noquote() << "[play]" << options.label
                                 << "hardware decoder failed to open; decoding in software";
    return openOnce(stream, liveKind, options, shared, false, hwOpenFailed);
}

bool VideoDecoder::openOnce(const AVStream* st, bool liveKind, const FfmpegPlayer::Options& options,
                            PlayerShared& shared, bool allowHardware, bool& hardwareOpenFailed)
{
    hardwareOpenFailed = false;
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec)
        return false;
    m_dec = avcodec_alloc_context3(codec);
    if (!m_dec || avcodec_parameters_to_context(m_dec, st->codecpar) < 0)
        return false;
    if (liveKind) {
        m_dec->flags |= AV_CODEC_FLAG_LOW_DELAY;
        m_dec->flags2 |= AV_CODEC_FLAG2_FAST;
        m_dec->thread_type = FF_THREAD_SLICE;
        m_dec->thread_count = options.lightDecode ? 1 : 0;
    }
    if (options.lightDecode) {
        m_dec->skip_loop_filter = AVDISCARD_ALL;
        m_dec->flags2 |= AV_CODEC_FLAG2_FAST;
    }
    m_keyframesOnly = shared.controls.keyframesOnly.load();
    if (m_keyframesOnly)
        m_dec->skip_frame = AVDISCARD_NONKEY;

    m_hwFake = false;
    if (allowHardware && shared.controls.hardwareDecode.load() && !shared.hardwareFailed.load()) {
        if (hardwareSeam.load() != FfmpegPlayer::HardwareSeam::Real) {
            m_hwFake = true;
            m_dec->thread_count = 1;
        } else {
            const AVHWDeviceType type = av_hwdevice_find_type_by_name(kHardwareDevice);
            if (type != AV_HWDEVICE_TYPE_NONE) {
                for (int i = 0;; ++i) {
                    const AVCodecHWConfig* cfg = avcodec_get_hw_config(codec, i);
                    if (!cfg)
                        break;
                    if ((cfg->methods & AV_CODEC_HW_CONFIG_METHOD_HW_DEVICE_CTX) && cfg->device_type == type) {
                        if (av_hwdevice_ctx_create(&m_hwDevice, type, nullptr, nullptr, 0) == 0) {
                            m_dec->hw_device_ctx = av_buffer_ref(m_hwDevice);
                            m_dec->opaque = reinterpret_cast<void*>(intptr_t(cfg->pix_fmt));
                            m_hwPixFmt = cfg->pix_fmt;
                            m_dec->thread_count = 1;
                            m_dec->get_format = chooseHardwareFormat;
                        }
                        break;
                    }
                }
            }
        }
    }
    const bool withHardware = m_hwDevice || m_hwFake;
    int rc = avcodec_open2(m_dec, codec, nullptr);
    if (rc >= 0 && m_hwFake && hardwareSeam.load() == FfmpegPlayer::HardwareSeam::FailOpen)
        rc = AVERROR(ENOSYS);
    if (rc < 0) {
        avcodec_free_context(&m_dec);
        av_buffer_unref(&m_hwDevice);
        m_hwPixFmt = -1;
        m_hwFake = false;
        if (withHardware) {
            shared.hardwareFailed.store(true);
            hardwareOpenFailed = true;
        }
        return false;
    }
    return true;
}

void VideoDecoder::close()
{
    av_frame_free(&m_hwFrame);
    avcodec_free_context(&m_dec);
    av_buffer_unref(&m_hwDevice);
}

bool VideoDecoder::yieldsNothing() const
{
    return m_hwFake && hardwareSeam.load() == FfmpegPlayer::HardwareSeam::NoPicture;
}

void VideoDecoder::applyKeyframesOnly(bool on)
{
    if (on != m_keyframesOnly && m_dec) {
        m_dec->skip_frame = on ? AVDISCARD_NONKEY : AVDISCARD_DEFAULT;
        m_keyframesOnly = on;
    }
}

AVFrame* VideoDecoder::inMemory(AVFrame* frame)
{
    if (m_hwPixFmt < 0 || frame->format != m_hwPixFmt)
        return frame;
    if (!m_hwFrame && !(m_hwFrame = av_frame_alloc()))
        return nullptr;
    av_frame_unref(m_hwFrame);
    if (av_hwframe_transfer_data(m_hwFrame, frame, 0) < 0)
        return nullptr;
    av_frame_copy_props(m_hwFrame, frame);
    return m_hwFrame;
}

} // namespace kvr::video
