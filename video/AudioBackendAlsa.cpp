// ALSA output for Linux: the default PCM device, pulled by a thread of ours
// that asks the render callback for one period at a time and writes it with
// blocking writes, so the device's own pace drives the callback.
#ifdef KVR_HAVE_ALSA

#include "video/AudioBackend.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// ALSA prints its configuration complaints (no card, no mixer) on standard
// error; a computer without a sound card is normal for us, so keep quiet.
void silentAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Buffer time asked of the device; the period is a quarter of it.
constexpr unsigned kBufferMicroseconds = 80000;

class AlsaOutput final : public AudioBackend {
public:
    explicit AlsaOutput(snd_pcm_t* pcm) : m_pcm(pcm) {}
    ~AlsaOutput() override
    {
        stop();
        snd_pcm_close(m_pcm);
    }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || m_thread.joinable())
            return false;
        if (snd_pcm_set_params(m_pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                               unsigned(sampleRate), 1, kBufferMicroseconds)
            < 0)
            return false;
        snd_pcm_uframes_t bufferFrames = 0;
        snd_pcm_uframes_t periodFrames = 0;
        if (snd_pcm_get_params(m_pcm, &bufferFrames, &periodFrames) < 0 || periodFrames == 0)
            return false;
        m_rate = sampleRate;
        m_channels = channels;
        m_callback = callback;
        m_refCon = refCon;
        m_periodFrames = uint32_t(periodFrames);
        m_latency = double(bufferFrames) / double(sampleRate);
        m_scratch.assign(size_t(m_periodFrames) * size_t(channels) * 2, 0);
        return true;
    }

    double latencySeconds() const override { return m_latency; }

    bool start() override
    {
        if (!m_callback)
            return false;
        if (m_thread.joinable())
            return true;
        if (snd_pcm_prepare(m_pcm) < 0)
            return false;
        m_stopRequested = false;
        m_thread = std::thread([this] { pull(); });
        return true;
    }

    void stop() override
    {
        if (!m_thread.joinable())
            return;
        m_stopRequested = true;
        m_thread.join();
        snd_pcm_drop(m_pcm);
    }

private:
    void pull()
    {
        while (!m_stopRequested) {
            AudioRenderBuffer buffer{uint32_t(m_channels), uint32_t(m_scratch.size()), m_scratch.data()};
            AudioRenderBufferList list{1, &buffer};
            m_callback(m_refCon, m_periodFrames, &list);
            const uint8_t* data = m_scratch.data();
            snd_pcm_uframes_t left = m_periodFrames;
            while (left > 0 && !m_stopRequested) {
                const snd_pcm_sframes_t written = snd_pcm_writei(m_pcm, data, left);
                if (written < 0) {
                    // Underrun or suspend: recover and go on; anything else ends the pull.
                    if (snd_pcm_recover(m_pcm, int(written), 1) < 0)
                        return;
                    continue;
                }
                left -= snd_pcm_uframes_t(written);
                data += size_t(written) * size_t(m_channels) * 2;
            }
        }
    }

    snd_pcm_t* m_pcm;
    int m_rate = 0;
    int m_channels = 0;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
    uint32_t m_periodFrames = 0;
    double m_latency = 0.0;
    std::vector<uint8_t> m_scratch;
    std::thread m_thread;
    std::atomic<bool> m_stopRequested{false};
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

#endif // KVR_HAVE_ALSA
