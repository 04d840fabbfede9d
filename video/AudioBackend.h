#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kvr::video {

// The platform layer under the sound output. It has the shape of a default
// output audio unit: open the default output, set a 16-bit interleaved format
// with a render callback, read the device latency, start and stop. After a
// start the output pulls sound through the callback on a thread of its own.
//
// Implementations: the default output audio unit on macOS; on Linux ALSA
// when a device opens, otherwise a paced null output whose callback runs in
// real time, so the sound clock still advances on a computer without a sound
// card.

// One buffer the output wants filled: `byteSize` bytes at `data`.
struct AudioRenderBuffer {
    uint32_t channels = 0;
    uint32_t byteSize = 0;
    void* data = nullptr;
};

// The buffers of one render request.
struct AudioRenderBufferList {
    uint32_t count = 0;
    AudioRenderBuffer* buffers = nullptr;
};

// Called on the output's own thread for `frameCount` frames; answers 0.
using AudioRenderCallback = int (*)(void* refCon, uint32_t frameCount, AudioRenderBufferList* buffers);

class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // Sets signed 16-bit, packed, interleaved samples at `sampleRate` with
    // `channels` channels and installs the render callback. False on failure.
    virtual bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) = 0;
    // The device's own latency in seconds (0 when unknown). Valid after configure.
    virtual double latencySeconds() const = 0;
    // Starts pulling. False on failure.
    virtual bool start() = 0;
    // Stops pulling. Synchronous: once it returns the callback no longer runs.
    virtual void stop() = 0;

    // The system's default output: the default output unit on macOS; ALSA's
    // default device, else the null output, on Linux. Null when there is no
    // output at all (or a test forced that failure).
    static std::unique_ptr<AudioBackend> openDefaultOutput();

    // An output that plays nothing but pulls its callback in real time.
    static std::unique_ptr<AudioBackend> makeNullOutput();

    // The named ALSA device ("default" is the system's choice); null when
    // ALSA is not built in or the device does not open.
    static std::unique_ptr<AudioBackend> openAlsaDevice(const char* name);

    // Test seams, process-wide. A forced failure makes the next outputs fail
    // at that step; a factory replaces openDefaultOutput (empty restores it).
    enum class ForcedFailure { None, Open, Configure, Start };
    static void forceFailure(ForcedFailure failure);
    using Factory = std::function<std::unique_ptr<AudioBackend>()>;
    static void setFactory(Factory factory);
};

} // namespace kvr::video
