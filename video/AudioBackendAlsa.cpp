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
    explicit AlsaOutput(snd_pcm_t* pcm) : pcm_(pcm) {}
    ~AlsaOutput() override
    {
        stop();
        snd_pcm_close(pcm_);
    }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || thread_.joinable())
            return false;
        if (snd_pcm_set_params(pcm_, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, unsigned(channels),
                               unsigned(sampleRate), 1, kBufferMicroseconds)
            < 0)
            return false;
        snd_pcm_uframes_t bufferFrames = 0;
        snd_pcm_uframes_t periodFrames = 0;
        if (snd_pcm_get_params(pcm_, &bufferFrames, &periodFrames) < 0 || periodFrames == 0)
            return false;
        rate_ = sampleRate;
        channels_ = channels;
        callback_ = callback;
        refCon_ = refCon;
        periodFrames_ = uint32_t(periodFrames);
        latency_ = double(bufferFrames) / double(sampleRate);
        scratch_.assign(size_t(periodFrames_) * size_t(channels) * 2, 0);
        return true;
    }

    double latencySeconds() const override { return latency_; }

    bool start() override
    {
        if (!callback_)
            return false;
        if (thread_.joinable())
            return true;
        if (snd_pcm_prepare(pcm_) < 0)
            return false;
        stopRequested_ = false;
        thread_ = std::thread([this] { pull(); });
        return true;
    }

    void stop() override
    {
        if (!thread_.joinable())
            return;
        stopRequested_ = true;
        thread_.join();
        snd_pcm_drop(pcm_);
    }

private:
    void pull()
    {
        while (!stopRequested_) {
            AudioRenderBuffer buffer{uint32_t(channels_), uint32_t(scratch_.size()), scratch_.data()};
            AudioRenderBufferList list{1, &buffer};
            callback_(refCon_, periodFrames_, &list);
            const uint8_t* data = scratch_.data();
            snd_pcm_uframes_t left = periodFrames_;
            while (left > 0 && !stopRequested_) {
                const snd_pcm_sframes_t written = snd_pcm_writei(pcm_, data, left);
                if (written < 0) {
                    // Underrun or suspend: recover and go on; anything else ends the pull.
                    if (snd_pcm_recover(pcm_, int(written), 1) < 0)
                        return;
                    continue;
                }
                left -= snd_pcm_uframes_t(written);
                data += size_t(written) * size_t(channels_) * 2;
            }
        }
    }

    snd_pcm_t* pcm_;
    int rate_ = 0;
    int channels_ = 0;
    AudioRenderCallback callback_ = nullptr;
    void* refCon_ = nullptr;
    uint32_t periodFrames_ = 0;
    double latency_ = 0.0;
    std::vector<uint8_t> scratch_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
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
