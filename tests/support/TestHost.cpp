#include "tests/support/TestHost.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "hostframework/AUTypes.h"

namespace TB {

TestHost::~TestHost() { Close(); }

OSStatus TestHost::Open(ComponentEntryProc entry, const AudioComponentDescription& desc, bool installInputCallback) {
    Close();
    OSStatus err = noErr;
    m_unit = OpenComponent(entry, desc, &err);
    if (m_unit == nullptr) return err != noErr ? err : (OSStatus)-1;
    m_sampleTime = 0;
    if (installInputCallback) {
        AURenderCallbackStruct cb{&TestHost::InputCallback, this};
        err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &cb,
                                   sizeof cb);
    }
    return err;
}

OSStatus TestHost::Close() {
    if (m_unit == nullptr) return noErr;
    OSStatus err = CloseComponent(m_unit);
    m_unit = nullptr;
    return err;
}

OSStatus TestHost::SetFormat(double sampleRate, UInt32 channels, bool interleaved) {
    const AudioStreamBasicDescription f = MakeFormat(sampleRate, channels, interleaved);
    OSStatus err = SetStreamFormat(kAudioUnitScope_Input, f);
    if (err != noErr) return err;
    return SetStreamFormat(kAudioUnitScope_Output, f);
}

OSStatus TestHost::InputCallback(void* refCon, AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp*,
                                 UInt32, UInt32 inNumberFrames, AudioBufferList* ioData) {
    auto* self = static_cast<TestHost*>(refCon);
    ++self->m_inputPulls;
    const Channels empty;
    const Channels& input = self->m_input ? *self->m_input : empty;
    for (UInt32 b = 0; b < ioData->mNumberBuffers; ++b) {
        AudioBuffer& buffer = ioData->mBuffers[b];
        float* out = static_cast<float*>(buffer.mData);
        const UInt32 nch = buffer.mNumberChannels ? buffer.mNumberChannels : 1;
        for (UInt32 i = 0; i < inNumberFrames; ++i) {
            for (UInt32 c = 0; c < nch; ++c) {
                const UInt32 channel = ioData->mNumberBuffers > 1 ? b : c;
                float v = 0.f;
                if (channel < input.size() && i < input[channel].size()) v = input[channel][i];
                out[i * nch + c] = v;
            }
        }
    }
    if (self->m_inputSilent) *ioActionFlags |= kAudioUnitRenderAction_OutputIsSilence;
    return noErr;
}

OSStatus TestHost::Render(UInt32 frames, const Channels& input, Channels& output) {
    AudioStreamBasicDescription format;
    OSStatus err = GetStreamFormat(kAudioUnitScope_Output, format);
    if (err != noErr) return err;
    const bool interleaved = (format.mFormatFlags & kAudioFormatFlagIsNonInterleaved) == 0;
    const UInt32 channels = format.mChannelsPerFrame;
    const UInt32 nBuffers = interleaved ? 1 : channels;
    m_bufferListMemory.assign(AudioBufferListSize(nBuffers), 0);
    auto* abl = reinterpret_cast<AudioBufferList*>(m_bufferListMemory.data());
    abl->mNumberBuffers = nBuffers;
    m_outputMemory.assign(size_t(frames) * channels + 1, 0.f);
    for (UInt32 b = 0; b < nBuffers; ++b) {
        abl->mBuffers[b].mNumberChannels = interleaved ? channels : 1;
        abl->mBuffers[b].mDataByteSize = frames * 4 * (interleaved ? channels : 1);
        abl->mBuffers[b].mData = m_nullOutputBuffers ? nullptr : m_outputMemory.data() + size_t(b) * frames;
    }

    AudioTimeStamp ts;
    std::memset(&ts, 0, sizeof ts);
    if (m_repeatTimeStamp) {
        m_sampleTime = m_lastSampleTime;
        m_repeatTimeStamp = false;
    }
    ts.mSampleTime = m_sampleTime;
    ts.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    m_input = &input;
    err = AudioUnitRender(m_unit, &flags, &ts, 0, frames, abl);
    m_input = nullptr;
    m_lastFlags = flags;
    m_lastSampleTime = m_sampleTime;
    if (err != noErr) return err;
    m_sampleTime += frames;

    output.assign(channels, std::vector<float>(frames, 0.f));
    for (UInt32 c = 0; c < channels; ++c) {
        const UInt32 b = interleaved ? 0 : c;
        const float* data = static_cast<const float*>(abl->mBuffers[b].mData);
        if (data == nullptr) return paramErr;
        for (UInt32 i = 0; i < frames; ++i) output[c][i] = interleaved ? data[i * channels + c] : data[i];
    }
    return noErr;
}

OSStatus TestHost::Process(const Channels& input, UInt32 blockFrames, Channels& output) {
    size_t total = 0;
    for (const auto& ch : input) total = std::max(total, ch.size());
    output.clear();
    for (size_t pos = 0; pos < total; pos += blockFrames) {
        const UInt32 n = UInt32(std::min<size_t>(blockFrames, total - pos));
        Channels block(input.size());
        for (size_t c = 0; c < input.size(); ++c)
            for (UInt32 i = 0; i < n; ++i) block[c].push_back(pos + i < input[c].size() ? input[c][pos + i] : 0.f);
        Channels out;
        OSStatus err = Render(n, block, out);
        if (err != noErr) return err;
        if (output.empty()) output.resize(out.size());
        for (size_t c = 0; c < out.size(); ++c) output[c].insert(output[c].end(), out[c].begin(), out[c].end());
    }
    return noErr;
}

AudioUnitParameterValue TestHost::Parameter(AudioUnitParameterID id) {
    AudioUnitParameterValue v = 0;
    return GetParameter(id, v) == noErr ? v : std::numeric_limits<float>::quiet_NaN();
}

AudioUnitParameterEvent TestHost::ImmediateEvent(AudioUnitParameterID id, AudioUnitParameterValue value,
                                                 UInt32 bufferOffset, AudioUnitScope scope,
                                                 AudioUnitElement element) {
    AudioUnitParameterEvent e;
    std::memset(&e, 0, sizeof e);
    e.scope = scope;
    e.element = element;
    e.parameter = id;
    e.eventType = kParameterEvent_Immediate;
    e.eventValues.immediate.bufferOffset = bufferOffset;
    e.eventValues.immediate.value = value;
    return e;
}

std::vector<AudioUnitParameterID> TestHost::ParameterList(AudioUnitScope scope) {
    UInt32 size = 0;
    Boolean writable = false;
    if (AudioUnitGetPropertyInfo(m_unit, kAudioUnitProperty_ParameterList, scope, 0, &size, &writable) != noErr)
        return {};
    std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID));
    if (ids.empty()) return ids;
    if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_ParameterList, scope, 0, ids.data(), &size) != noErr) return {};
    return ids;
}

OSStatus TestHost::GetPresentPreset(SInt32& number, std::string& name) {
    AUPreset preset{0, nullptr};
    OSStatus err = GetProperty(kAudioUnitProperty_PresentPreset, preset);
    if (err != noErr) return err;
    number = preset.presetNumber;
    name = CFToString(preset.presetName);
    if (preset.presetName) CFRelease(preset.presetName);
    return noErr;
}

std::vector<std::string> TestHost::FactoryPresetNames() {
    CFArrayRef presets = nullptr;
    std::vector<std::string> names;
    if (GetProperty(kAudioUnitProperty_FactoryPresets, presets) != noErr || presets == nullptr) return names;
    for (CFIndex i = 0; i < CFArrayGetCount(presets); ++i) {
        const auto* preset = static_cast<const AUPreset*>(CFArrayGetValueAtIndex(presets, i));
        names.push_back(preset ? CFToString(preset->presetName) : std::string());
    }
    CFRelease(presets);
    return names;
}

plist_t TestHost::SaveState(OSStatus* err) {
    plist_t state = nullptr;
    OSStatus result = GetProperty(kAudioUnitProperty_ClassInfo, state);
    if (err) *err = result;
    return result == noErr ? state : nullptr;
}

std::string CFToString(CFStringRef str) {
    const char* text = str ? CFStringGetCStringPtr(str, kCFStringEncodingUTF8) : nullptr;
    return text ? std::string(text) : std::string();
}

}  // namespace TB
