// ALSA output for Linux: the default PCM device, pulled by a thread of ours
// that asks the render callback for one period at a time and writes it with
// blocking writes, so the device's own pace drives the callback. A device
// that stops taking data leaves that thread in a write; stopping does not
// wait for it beyond a short while.
#ifdef KVR_HAVE_ALSA

#include "video/AudioBackend.h"
#include "video/Tunables.h"

#include <alsa/asoundlib.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kvr::video {

namespace {

// ALSA prints its configuration complaints (no card, no mixer) on standard
// error; a computer without a sound card is normal for us, so keep quiet.
void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// What the writer thread shares with the output. The thread holds it too, so
// a writer stuck in a write that never returns (a device that stopped taking
// data) can be left behind: it closes the device itself when it comes out.
struct AlsaShared {
    explicit AlsaShared(snd_pcm_t* p) : pcm(p) {}
    ~AlsaShared() { snd_pcm_close(pcm); }
    snd_pcm_t* pcm;
    // Held while the render callback runs; stop() takes it to know that the
    // callback has run for the last time.
    std::mutex callbackLock;
    bool stopRequested = false; // under callbackLock
    std::mutex endLock;
    std::condition_variable endCv;
    bool ended = false; // under endLock
};

class AlsaOutput final : public AudioBackend {
public:
    explicit AlsaOutput(snd_pcm_t* pcm) : m_shared(std::make_shared<AlsaShared>(pcm)) {}
    ~AlsaOutput() override { stop(); }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || m_thread.joinable() || m_abandoned)
            return false;
        snd_pcm_t* pcm = m_shared->pcm;
        if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                               unsigned(sampleRate), 1, unsigned(tun::kSoundDeviceBuffer.count()))
            < 0)
            return false;
        snd_pcm_uframes_t bufferFrames = 0;
        snd_pcm_uframes_t periodFrames = 0;
        if (snd_pcm_get_params(pcm, &bufferFrames, &periodFrames) < 0 || periodFrames == 0)
            return false;
        m_channels = channels;
        m_callback = callback;
        m_refCon = refCon;
        m_periodFrames = uint32_t(periodFrames);
        m_latency = double(bufferFrames) / double(sampleRate);
        return true;
    }

    double latencySeconds() const override { return m_latency; }

    bool start() override
    {
        // A writer left stuck in the device still owns it.
        if (!m_callback || m_abandoned)
            return false;
        if (m_thread.joinable())
            return true;
        if (snd_pcm_prepare(m_shared->pcm) < 0)
            return false;
        {
            std::lock_guard<std::mutex> guard(m_shared->callbackLock);
            m_shared->stopRequested = false;
        }
        {
            std::lock_guard<std::mutex> guard(m_shared->endLock);
            m_shared->ended = false;
        }
        m_thread = std::thread(pull, m_shared, m_callback, m_refCon, m_periodFrames, m_channels);
        return true;
    }

    // Once this returns the callback no longer runs, whatever the device does.
    void stop() override
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> guard(m_shared->callbackLock);
            m_shared->stopRequested = true;
        }
        std::unique_lock<std::mutex> lock(m_shared->endLock);
        const bool ended = m_shared->endCv.wait_for(lock, tun::kSoundStopWait, [this] { return m_shared->ended; });
        lock.unlock();
        if (ended) {
            m_thread.join();
            snd_pcm_drop(m_shared->pcm);
        } else {
            m_thread.detach();
            m_abandoned = true;
        }
    }

private:
    static void pull(std::shared_ptr<AlsaShared> shared, AudioRenderCallback callback, void* refCon,
                     uint32_t periodFrames, int channels)
    {
        std::vector<uint8_t> scratch(size_t(periodFrames) * size_t(channels) * 2, 0);
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(shared->callbackLock);
                if (shared->stopRequested)
                    break;
                AudioRenderBuffer buffer{uint32_t(channels), uint32_t(scratch.size()), scratch.data()};
                AudioRenderBufferList list{1, &buffer};
                callback(refCon, periodFrames, &list);
            }
            const uint8_t* data = scratch.data();
            snd_pcm_uframes_t left = periodFrames;
            bool failed = false;
            while (left > 0) {
                const snd_pcm_sframes_t written = snd_pcm_writei(shared->pcm, data, left);
                if (written < 0) {
                    // Underrun or suspend: recover and go on; anything else ends the pull.
                    if (snd_pcm_recover(shared->pcm, int(written), 1) < 0) {
                        failed = true;
                        break;
                    }
                    continue;
                }
                left -= snd_pcm_uframes_t(written);
                data += size_t(written) * size_t(channels) * 2;
            }
            if (failed)
                break;
        }
        std::lock_guard<std::mutex> guard(shared->endLock);
        shared->ended = true;
        shared->endCv.notify_all();
    }

    std::shared_ptr<AlsaShared> m_shared;
    int m_channels = 0;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
    uint32_t m_periodFrames = 0;
    double m_latency = 0.0;
    std::thread m_thread;
    bool m_abandoned = false;
};

} // namespace

// The named ALSA device, or null when it does not open.
std::unique_ptr<AudioBackend> openAlsaOutput(const char* device)
{
    if (!device)
        return nullptr;
    snd_lib_error_set_handler(silentAlsaError);
    snd_pcm_t* pcm = nullptr;
    // Opened without blocking so a busy device fails at once instead of
    // waiting; writes block afterwards so the device paces the pull.
    if (snd_pcm_open(&pcm, device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0 || !pcm)
        return nullptr;
    if (snd_pcm_nonblock(pcm, 0) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaOutput>(pcm);
}

} // namespace kvr::video

#endif // KVR_HAVE_ALSA
