// macOS output: the system's default output audio unit, which pulls our
// render callback on its own real-time thread.
#if defined(__APPLE__)

#include "video/AudioBackend.h"

#include <AudioToolbox/AudioToolbox.h>

namespace {

// Buffers of one render request handed on to our callback; the default
// output asks for one interleaved buffer, a few more are tolerated.
constexpr UInt32 kMaxBuffers = 8;

class AudioUnitOutput final : public AudioBackend {
public:
    explicit AudioUnitOutput(AudioComponentInstance unit) : unit_(unit) {}
    ~AudioUnitOutput() override
    {
        stop();
        if (initialised_)
            AudioUnitUninitialize(unit_);
        AudioComponentInstanceDispose(unit_);
    }

    bool configure(int sampleRate, int channels, AudioRenderCallback callback, void* refCon) override
    {
        if (sampleRate <= 0 || channels <= 0 || !callback || initialised_)
            return false;
        callback_ = callback;
        refCon_ = refCon;

        AudioStreamBasicDescription format{};
        format.mSampleRate = Float64(sampleRate);
        format.mFormatID = kAudioFormatLinearPCM;
        format.mFormatFlags = kLinearPCMFormatFlagIsSignedInteger | kLinearPCMFormatFlagIsPacked;
        format.mBytesPerPacket = UInt32(channels) * 2;
        format.mFramesPerPacket = 1;
        format.mBytesPerFrame = UInt32(channels) * 2;
        format.mChannelsPerFrame = UInt32(channels);
        format.mBitsPerChannel = 16;
        if (AudioUnitSetProperty(unit_, kAudioUnitProperty_StreamFormat, kAudioUnitScope_Input, 0, &format,
                                 sizeof(format))
            != noErr)
            return false;

        AURenderCallbackStruct render{};
        render.inputProc = &AudioUnitOutput::render;
        render.inputProcRefCon = this;
        if (AudioUnitSetProperty(unit_, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &render,
                                 sizeof(render))
            != noErr)
            return false;
        if (AudioUnitInitialize(unit_) != noErr)
            return false;
        initialised_ = true;

        Float64 latency = 0;
        UInt32 size = sizeof(latency);
        if (AudioUnitGetProperty(unit_, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &latency, &size)
            == noErr)
            latency_ = latency;
        return true;
    }

    double latencySeconds() const override { return latency_; }

    bool start() override
    {
        if (!initialised_)
            return false;
        if (running_)
            return true;
        running_ = AudioOutputUnitStart(unit_) == noErr;
        return running_;
    }

    // AudioOutputUnitStop returns once the render thread no longer calls us.
    void stop() override
    {
        if (!running_)
            return;
        AudioOutputUnitStop(unit_);
        running_ = false;
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
        out->callback_(out->refCon_, frames, &list);
        return noErr;
    }

    AudioComponentInstance unit_;
    AudioRenderCallback callback_ = nullptr;
    void* refCon_ = nullptr;
    double latency_ = 0.0;
    bool initialised_ = false;
    bool running_ = false;
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

#endif // __APPLE__
