#pragma once

#include "video/FfmpegPlayer.h"

#include <QString>

struct AVBufferRef;
struct AVCodecContext;
struct AVFrame;
struct AVStream;

namespace kvr::video {

struct PlayerShared;

// The video decoder of one playback, in hardware where the owner asked for it
// and the platform has it, else in software. Decode thread only.
class VideoDecoder {
public:
    VideoDecoder() = default;
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // Opens the decoder of `stream` as the playback's options and the live
    // controls say; `liveKind` tunes it for low delay. A hardware decoder that
    // will not open is no reason to give up: it is marked failed for the
    // player's later playbacks and software decoding takes over at once. False
    // when no decoder opened.
    bool open(const AVStream* stream, bool liveKind, const FfmpegPlayer::Options& options, PlayerShared& shared);
    void close();

    AVCodecContext* context() const { return m_dec; }
    // Whether a hardware decoder (or the test seam's stand-in) is decoding.
    bool hardware() const { return m_hwDevice || m_hwFake; }
    // Whether the test seam's stand-in hardware decoder yields nothing.
    bool yieldsNothing() const;
    // Decodes keyframes only, or every picture again.
    void applyKeyframesOnly(bool on);
    // The picture in system memory: `frame` itself, or its copy out of the
    // hardware; null when that copy failed.
    AVFrame* inMemory(AVFrame* frame);

    static void setSeam(FfmpegPlayer::HardwareSeam seam);

private:
    bool openOnce(const AVStream* stream, bool liveKind, const FfmpegPlayer::Options& options, PlayerShared& shared,
                  bool allowHardware, bool& hardwareOpenFailed);

    AVCodecContext* m_dec = nullptr;
    AVBufferRef* m_hwDevice = nullptr;
    int m_hwPixFmt = -1;
    bool m_hwFake = false; // the test seam stands in for a hardware device
    AVFrame* m_hwFrame = nullptr;
    bool m_keyframesOnly = false;
};

} // namespace kvr::video
