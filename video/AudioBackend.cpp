#include "video/AudioBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kvr::video {

#ifdef KVR_HAVE_ALSA
std::unique_ptr<AudioBackend> openAlsaOutput(const char* device); // AudioBackendAlsa.cpp
#endif
#if defined(__APPLE__)
std::unique_ptr<AudioBackend> openAudioUnitOutput(); // AudioBackendMac.cpp
#endif

namespace {

std::mutex seamLock;
AudioBackend::ForcedFailure forced = AudioBackend::ForcedFailure::None;
AudioBackend::Factory factoryOverride;

AudioBackend::ForcedFailure forcedFailure()
{
    std::lock_guard<std::mutex> guard(seamLock);
    return forced;
}

// Wraps an output and makes one of its steps fail, for tests.
class FailingOutput final : public AudioBackend {
public:
    FailingOutput(std::unique_ptr<AudioBackend> inner, ForcedFailure failure)
        : m_inner(std::move(inner)),
          m_failure(failure)
    {}
    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (m_failure == ForcedFailure::Configure)
            return false;
        return m_inner->configure(sampleRate, channels, callback, refCon);
    }
    double latencySeconds() const override { return m_inner->latencySeconds(); }
    bool start() override { return m_failure == ForcedFailure::Start ? false : m_inner->start(); }
    void stop() override { m_inner->stop(); }

private:
    std::unique_ptr<AudioBackend> m_inner;
    ForcedFailure m_failure;
};

// Plays nothing, but pulls the render callback at the real rate of the
// configured format, so that a clock built on the pulled bytes advances as it
// would with a sound card. The pace follows the steady clock from the start,
// so it does not drift with the wake-up jitter of its thread.
class NullOutput final : public AudioBackend {
public:
    ~NullOutput() override { stop(); }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || m_running)
            return false;
        m_rate = sampleRate;
        m_channels = channels;
        m_callback = callback;
        m_refCon = refCon;
        m_scratch.assign(size_t(kChunkFrames) * size_t(channels) * 2, 0);
        return true;
    }

    double latencySeconds() const override { return 0.0; }

    bool start() override
    {
        if (!m_callback)
            return false;
        if (m_running)
            return true;
        {
            std::lock_guard<std::mutex> guard(m_wakeLock);
            m_stopRequested = false;
        }
        m_running = true;
        m_thread = std::thread([this] { pull(); });
        return true;
    }

    void stop() override
    {
        if (!m_running)
            return;
        {
            std::lock_guard<std::mutex> guard(m_wakeLock);
            m_stopRequested = true;
        }
        m_wake.notify_all();
        m_thread.join();
        m_running = false;
    }

private:
    static constexpr uint32_t kChunkFrames = 1024;
    static constexpr std::chrono::milliseconds kTick{10};
    static constexpr std::chrono::milliseconds kMaxBacklog{100};

    void pull()
    {
        using Clock = std::chrono::steady_clock;
        const auto origin = Clock::now();
        uint64_t pulled = 0;
        std::unique_lock<std::mutex> lock(m_wakeLock);
        while (!m_stopRequested) {
            lock.unlock();
            const double elapsed = std::chrono::duration<double>(Clock::now() - origin).count();
            const auto due = uint64_t(elapsed * m_rate);
            // After a stall of this thread (a suspended computer, a starved
            // process) carry on from now, as a device would after an underrun,
            // instead of draining the ring in one burst.
            const auto backlogLimit = uint64_t(m_rate) * uint64_t(kMaxBacklog.count()) / 1000;
            if (due > pulled + backlogLimit)
                pulled = due - backlogLimit;
            while (pulled < due) {
                const auto frames = uint32_t(std::min<uint64_t>(due - pulled, kChunkFrames));
                AudioRenderBuffer buffer{uint32_t(m_channels), uint32_t(frames * uint32_t(m_channels) * 2),
                                         m_scratch.data()};
                AudioRenderBufferList list{1, &buffer};
                m_callback(m_refCon, frames, &list);
                pulled += frames;
            }
            lock.lock();
            m_wake.wait_for(lock, kTick, [this] { return m_stopRequested; });
        }
    }

    int m_rate = 0;
    int m_channels = 0;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
    std::vector<uint8_t> m_scratch;
    std::thread m_thread;
    bool m_running = false; // touched only by the owning thread
    std::mutex m_wakeLock;
    std::condition_variable m_wake;
    bool m_stopRequested = false;
};

} // namespace

std::unique_ptr<AudioBackend> AudioBackend::makeNullOutput()
{
    return std::make_unique<NullOutput>();
}

std::unique_ptr<AudioBackend> AudioBackend::openDefaultOutput()
{
    Factory factory;
    {
        std::lock_guard<std::mutex> guard(seamLock);
        factory = factoryOverride;
    }
    const ForcedFailure failure = forcedFailure();
    if (failure == ForcedFailure::Open)
        return nullptr;

    std::unique_ptr<AudioBackend> output;
    if (factory) {
        output = factory();
    } else {
#if defined(__APPLE__)
        // The system's default output unit; without one there is no sound.
        output = openAudioUnitOutput();
#else
        // ALSA's default device when one opens, else the paced null output,
        // so the sound clock still runs on a computer without a sound card.
        output = openAlsaDevice("default");
        if (!output)
            output = makeNullOutput();
#endif
    }
    if (output && failure != ForcedFailure::None)
        output = std::make_unique<FailingOutput>(std::move(output), failure);
    return output;
}

std::unique_ptr<AudioBackend> AudioBackend::openAlsaDevice(const char* name)
{
#ifdef KVR_HAVE_ALSA
    return openAlsaOutput(name);
#else
    (void)name;
    return nullptr;
#endif
}

void AudioBackend::forceFailure(ForcedFailure failure)
{
    std::lock_guard<std::mutex> guard(seamLock);
    forced = failure;
}

void AudioBackend::setFactory(Factory factory)
{
    std::lock_guard<std::mutex> guard(seamLock);
    factoryOverride = std::move(factory);
}

} // namespace kvr::video
