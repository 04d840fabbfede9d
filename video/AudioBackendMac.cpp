// macOS output: the system's default output audio unit, which pulls our
// render callback on its own real-time thread.
#if defined(__APPLE__)

#include "video/AudioBackend.h"

#include <AudioToolbox/AudioToolbox.h>

namespace kvr::video {

namespace {

// Buffers of one render request handed on to our callback; the default
// output asks for one interleaved buffer, a few more are tolerated.
constexpr UInt32 kMaxBuffers = 8;

class AudioUnitOutput final : public AudioBackend {
public:
    explicit AudioUnitOutput(AudioComponentInstance unit) : m_unit(unit) {}
    ~AudioUnitOutput() override
    {
        stop();
        if (m_initialised)
            AudioUnitUninitialize(m_unit);
        AudioComponentInstanceDispose(m_unit);
    }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || m_initialised)
            return false;
        m_callback = callback;
        m_refCon = refCon;

        AudioStreamBasicDescription format{};
        format.mSampleRate = Float64(sampleRate);
        format.mFormatID = kAudioFormatLinearPCM;
        format.mFormatFlags = kLinearPCMFormatFlagIsSignedInteger | kLinearPCMFormatFlagIsPacked;
        format.mBytesPerPacket = UInt32(channels) * 2;
        format.mFramesPerPacket = 1;
        format.mBytesPerFrame = UInt32(channels) * 2;
        format.mChannelsPerFrame = UInt32(channels);
        format.mBitsPerChannel = 16;
        if (AudioUnitSetProperty(m_unit, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                                 sizeof(format))
            != noErr)
            return false;

        AURenderCallbackStruct render{};
        render.inputProc = &AudioUnitOutput::render;
        render.inputProcRefCon = this;
        if (AudioUnitSetProperty(m_unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &render,
                                 sizeof(render))
            != noErr)
            return false;
        if (AudioUnitInitialize(m_unit) != noErr)
            return false;
        m_initialised = true;

        Float64 latency = 0;
        UInt32 size = sizeof(latency);
        if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &latency, &size)
            == noErr)
            m_latency = latency;
        return true;
    }

    double latencySeconds() const override { return m_latency; }

    bool start() override
    {
        if (!m_initialised)
            return false;
        if (m_running)
            return true;
        m_running = AudioOutputUnitStart(m_unit) == noErr;
        return m_running;
    }

    // AudioOutputUnitStop returns once the render thread no longer calls us.
    void stop() override
    {
        if (!m_running)
            return;
        AudioOutputUnitStop(m_unit);
        m_running = false;
    }

private:
    static OSStatus render(void* self, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32, UInt32 frames,
                           AudioBufferList* io)
    {
        auto* out = static_cast<AudioUnitOutput*>(self);
        if (!out || !io)
            return noErr;
        AudioRenderBuffer buffers[kMaxBuffers];
        const UInt32 count = io->mNumberBuffers < kMaxBuffers ? io->mNumberBuffers : kMaxBuffers;
        for (UInt32 i = 0; i < count; ++i)
            buffers[i] = AudioRenderBuffer{io->mBuffers[i].mNumberChannels, io->mBuffers[i].mDataByteSize,
                                           io->mBuffers[i].mData};
        AudioRenderBufferList list{count, buffers};
        out->m_callback(out->m_refCon, frames, &list);
        return noErr;
    }

    AudioComponentInstance m_unit;
    AudioRenderCallback m_callback = nullptr;
    void* m_refCon = nullptr;
    double m_latency = 0.0;
    bool m_initialised = false;
    bool m_running = false;
};

} // namespace

// The default output unit, or null when there is none.
std::unique_ptr<AudioBackend> openAudioUnitOutput()
{
    AudioComponentDescription description{};
    description.componentType = kAudioUnitType_Output;
    description.componentSubType = kAudioUnitSubType_DefaultOutput;
    description.componentManufacturer = kAudioUnitManufacturer_Apple;
    AudioComponent component = AudioComponentFindNext(nullptr, &description);
    if (!component)
        return nullptr;
    AudioComponentInstance unit = nullptr;
    if (AudioComponentInstanceNew(component, &unit) != noErr || !unit)
        return nullptr;
    return std::make_unique<AudioUnitOutput>(unit);
}

} // namespace kvr::video

#endif // __APPLE__
