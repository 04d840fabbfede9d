#pragma once

#include "video/AudioBackend.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace kvr::video {

// Plays a stream's sound on the default output and provides the sound clock
// by which pictures are timed. The decode thread opens it, writes signed
// 16-bit interleaved samples into a ring buffer and asks how much is queued,
// how much room is left and how many seconds have been heard; the output
// pulls the samples from the ring on its own thread through `render`.
//
// The ring always holds a whole number of frames and every transfer in or out
// of it is a whole number of frames, so a channel's samples can never slide
// into the next channel's place.
class AudioOut {
public:
    // Sound the ring holds, in seconds (as a fraction, to stay exact).
    static constexpr int kRingSecondsNum = 3;
    static constexpr int kRingSecondsDen = 2;
    // Added to the device's latency for the output's own buffering, and the
    // least output latency assumed.
    static constexpr double kExtraLatencySeconds = 0.02;
    static constexpr double kMinLatencySeconds = 0.03;
    // Formats beyond these are refused as a configuration failure (a broken
    // stream can claim any rate; its ring would not fit in memory).
    static constexpr int kMaxSampleRate = 768000;
    static constexpr int kMaxChannels = 32;

    AudioOut() = default;
    ~AudioOut();
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;

    // Opens, configures and starts the default output. False on any failure,
    // with one of the "Audio unavailable: ..." warnings in the log.
    bool open(int sampleRate, int channels);
    // Stops and releases the output. The ring and the clock stay.
    void close();
    // Stops (true) or restarts (false) pulling; the ring and the clock stay.
    void pause(bool on);
    bool isOpen() const { return opened; }

    // Appends as much of `data` as fits, in whole frames; the rest is dropped.
    void write(const uint8_t* data, int length);
    int freeBytes();
    int queuedBytes();
    // Drops queued sound and restarts the clock at 0.
    void clear();
    // Seconds of sound heard since the last open or clear.
    double playedSeconds();
    void setMuted(bool on) { muted.store(on); }

    // New sizes and a fresh, silent ring, without touching the output.
    void reset(int sampleRate, int channels, int latencyBytes);
    // The copy step of the render callback for one buffer of `length` bytes.
    void fill(uint8_t* out, int length);
    // The render callback handed to the output; always answers 0.
    static int render(void* self, uint32_t frameCount, AudioRenderBufferList* buffers);

    // Whether the output takes a format at all.
    static bool formatSupported(int sampleRate, int channels);
    // Ring capacity in bytes for a format: 1.5 s rounded down to whole frames.
    static int ringCapacityBytes(int sampleRate, int channels);
    // Output latency for a device latency: device + 0.02 s, at least 0.03 s.
    static double outputLatencySeconds(double deviceLatencySeconds);

    // Silence with the clock running on; read by the output's thread.
    std::atomic<bool> muted{false};

private:
    // Ring copy for `want` bytes (a whole number of frames) under the lock.
    void fillLocked(uint8_t* out, int want);

    bool opened = false;
    std::unique_ptr<AudioBackend> unit;
    std::mutex lock;
    std::vector<uint8_t> ring;
    size_t readPos = 0;
    size_t queued = 0;
    uint64_t rendered = 0;
    int32_t bytesPerSecond = 0;
    int32_t bytesPerFrame = 0;
    int32_t latencyBytes = 0;
};

} // namespace kvr::video
