#include "video/AudioOut.h"
#include "video/Logging.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace kvr::video {

AudioOut::~AudioOut()
{
    close();
}

bool AudioOut::formatSupported(int sampleRate, int channels)
{
    return sampleRate > 0 && sampleRate <= kMaxSampleRate && channels > 0 && channels <= kMaxChannels;
}

int AudioOut::ringCapacityBytes(int sampleRate, int channels)
{
    if (!formatSupported(sampleRate, channels))
        return 0;
    // 1.5 s counted in frames first: with an odd rate 1.5 s of bytes would end
    // in the middle of a frame and the ring's wrap would shift the channels.
    const int64_t frames = int64_t(sampleRate) * kRingSecondsNum / kRingSecondsDen;
    return int(frames * channels * 2);
}

double AudioOut::outputLatencySeconds(double deviceLatencySeconds)
{
    const double device = deviceLatencySeconds > 0.0 ? deviceLatencySeconds : 0.0;
    return std::max(device + kExtraLatencySeconds, kMinLatencySeconds);
}

bool AudioOut::open(int sampleRate, int channels)
{
    if (unit)
        close();

    unit = AudioBackend::openDefaultOutput();
    if (!unit) {
        qCWarning(lcVideo).noquote() << "Audio unavailable: no default output";
        return false;
    }
    if (!formatSupported(sampleRate, channels) || !unit->configure(sampleRate, channels, &AudioOut::render, this)) {
        qCWarning(lcVideo).noquote() << "Audio unavailable: could not configure the output";
        unit.reset();
        return false;
    }

    const double latency = outputLatencySeconds(unit->latencySeconds());
    reset(sampleRate, channels, int(latency * sampleRate * channels * 2));

    if (!unit->start()) {
        qCWarning(lcVideo).noquote() << "Audio unavailable: could not start the output";
        unit.reset();
        return false;
    }
    opened = true;
    return true;
}

void AudioOut::close()
{
    if (unit) {
        unit->stop();
        unit.reset();
    }
    opened = false;
}

void AudioOut::pause(bool on)
{
    if (!unit)
        return;
    if (on)
        unit->stop();
    else
        unit->start();
}

void AudioOut::reset(int sampleRate, int channels, int latency)
{
    std::lock_guard<std::mutex> guard(lock);
    const bool valid = formatSupported(sampleRate, channels);
    bytesPerSecond = valid ? channels * 2 * sampleRate : 0;
    bytesPerFrame = valid ? channels * 2 : 0;
    latencyBytes = std::max(latency, 0);
    ring.assign(size_t(ringCapacityBytes(sampleRate, channels)), 0);
    readPos = 0;
    queued = 0;
    rendered = 0;
}

void AudioOut::write(const uint8_t* data, int length)
{
    if (!data || length <= 0)
        return;
    std::lock_guard<std::mutex> guard(lock);
    const size_t capacity = ring.size();
    if (capacity == 0 || bytesPerFrame <= 0)
        return;
    size_t n = std::min(capacity - queued, size_t(length));
    n -= n % size_t(bytesPerFrame);
    const size_t writePos = (readPos + queued) % capacity;
    const size_t first = std::min(n, capacity - writePos);
    std::memcpy(ring.data() + writePos, data, first);
    std::memcpy(ring.data(), data + first, n - first);
    queued += n;
}

int AudioOut::freeBytes()
{
    std::lock_guard<std::mutex> guard(lock);
    return int(ring.size() - queued);
}

int AudioOut::queuedBytes()
{
    std::lock_guard<std::mutex> guard(lock);
    return int(queued);
}

void AudioOut::clear()
{
    std::lock_guard<std::mutex> guard(lock);
    readPos = 0;
    queued = 0;
    rendered = 0;
}

double AudioOut::playedSeconds()
{
    std::lock_guard<std::mutex> guard(lock);
    if (bytesPerSecond <= 0)
        return 0.0;
    const int64_t heard = int64_t(rendered) - int64_t(latencyBytes);
    return heard > 0 ? double(heard) / double(bytesPerSecond) : 0.0;
}

void AudioOut::fill(uint8_t* out, int length)
{
    if (!out || length <= 0)
        return;
    std::lock_guard<std::mutex> guard(lock);
    fillLocked(out, length);
}

void AudioOut::fillLocked(uint8_t* out, int length)
{
    const size_t capacity = ring.size();
    if (capacity == 0 || bytesPerFrame <= 0) {
        std::memset(out, 0, size_t(length));
        return;
    }
    // Only whole frames leave the ring; a stray tail of the buffer is silence.
    const size_t want = size_t(length) - size_t(length) % size_t(bytesPerFrame);
    const size_t n = std::min(queued, want);
    const size_t first = std::min(n, capacity - readPos);
    std::memcpy(out, ring.data() + readPos, first);
    std::memcpy(out + first, ring.data(), n - first);
    readPos = (readPos + n) % capacity;
    queued -= n;
    rendered += n;
    if (muted.load(std::memory_order_relaxed))
        std::memset(out, 0, size_t(length));
    else if (n < size_t(length))
        std::memset(out + n, 0, size_t(length) - n);
}

int AudioOut::render(void* self, uint32_t frameCount, AudioRenderBufferList* buffers)
{
    auto* out = static_cast<AudioOut*>(self);
    if (!out || !buffers)
        return 0;
    for (uint32_t i = 0; i < buffers->count; ++i) {
        AudioRenderBuffer& buffer = buffers->buffers[i];
        if (!buffer.data || buffer.byteSize == 0)
            continue;
        std::lock_guard<std::mutex> guard(out->lock);
        const uint64_t wanted = uint64_t(std::max(out->bytesPerFrame, 0)) * frameCount;
        const auto want = int(std::min<uint64_t>(wanted, buffer.byteSize));
        auto* data = static_cast<uint8_t*>(buffer.data);
        if (want > 0)
            out->fillLocked(data, want);
        if (uint32_t(want) < buffer.byteSize)
            std::memset(data + want, 0, buffer.byteSize - uint32_t(want));
    }
    return 0;
}

} // namespace kvr::video
