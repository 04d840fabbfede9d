#include "video/AudioBackend.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

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
        : inner_(std::move(inner)), failure_(failure) {}
    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (failure_ == ForcedFailure::Configure)
            return false;
        return inner_->configure(sampleRate, channels, callback, refCon);
    }
    double latencySeconds() const override { return inner_->latencySeconds(); }
    bool start() override { return failure_ == ForcedFailure::Start ? false : inner_->start(); }
    void stop() override { inner_->stop(); }

private:
    std::unique_ptr<AudioBackend> inner_;
    ForcedFailure failure_;
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
        if (sampleRate <= 0 || channels <= 0 || !callback || running_)
            return false;
        rate_ = sampleRate;
        channels_ = channels;
        callback_ = callback;
        refCon_ = refCon;
        scratch_.assign(size_t(kChunkFrames) * size_t(channels) * 2, 0);
        return true;
    }

    double latencySeconds() const override { return 0.0; }

    bool start() override
    {
        if (!callback_)
            return false;
        if (running_)
            return true;
        {
            std::lock_guard<std::mutex> guard(wakeLock_);
            stopRequested_ = false;
        }
        running_ = true;
        thread_ = std::thread([this] { pull(); });
        return true;
    }

    void stop() override
    {
        if (!running_)
            return;
        {
            std::lock_guard<std::mutex> guard(wakeLock_);
            stopRequested_ = true;
        }
        wake_.notify_all();
        thread_.join();
        running_ = false;
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
        std::unique_lock<std::mutex> lock(wakeLock_);
        while (!stopRequested_) {
            lock.unlock();
            const double elapsed = std::chrono::duration<double>(Clock::now() - origin).count();
            const auto due = uint64_t(elapsed * rate_);
            // After a stall of this thread (a suspended computer, a starved
            // process) carry on from now, as a device would after an underrun,
            // instead of draining the ring in one burst.
            const auto backlogLimit = uint64_t(rate_) * uint64_t(kMaxBacklog.count()) / 1000;
            if (due > pulled + backlogLimit)
                pulled = due - backlogLimit;
            while (pulled < due) {
                const auto frames = uint32_t(std::min<uint64_t>(due - pulled, kChunkFrames));
                AudioRenderBuffer buffer{uint32_t(channels_), uint32_t(frames * uint32_t(channels_) * 2),
                                         scratch_.data()};
                AudioRenderBufferList list{1, &buffer};
                callback_(refCon_, frames, &list);
                pulled += frames;
            }
            lock.lock();
            wake_.wait_for(lock, kTick, [this] { return stopRequested_; });
        }
    }

    int rate_ = 0;
    int channels_ = 0;
    AudioRenderCallback callback_ = nullptr;
    void* refCon_ = nullptr;
    std::vector<uint8_t> scratch_;
    std::thread thread_;
    bool running_ = false; // touched only by the owning thread
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool stopRequested_ = false;
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
