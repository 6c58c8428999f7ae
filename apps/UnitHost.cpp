#include "apps/UnitHost.h"

#include <plist/plist.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "apps/AppError.h"
#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/CFLite.h"
#include "hostframework/ClassInfoFile.h"

namespace MarrowfinApp {

namespace {

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

std::string StringOf(CFStringRef str) {
    if (!str) return std::string();
    if (const char* p = CFStringGetCStringPtr(str, kCFStringEncodingUTF8)) return p;
    char buffer[512];
    if (CFStringGetCString(str, buffer, sizeof buffer, kCFStringEncodingUTF8)) return buffer;
    return std::string();
}

std::string Code(OSStatus err) { return "error " + std::to_string(err); }

struct PlistDeleter {
    void operator()(plist_t p) const { plist_free(p); }
};
typedef std::unique_ptr<void, PlistDeleter> PlistPtr;

// Parses an unsigned decimal id ("17"); false for anything else.
bool ParseId(const std::string& text, long& id) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    id = std::stol(text);
    return true;
}

}  // namespace

UnitHost::UnitHost() {
    OSStatus err = noErr;
    m_unit = OpenMarrowfin(&err);
    if (!m_unit) throw Failure("cannot open the Marrowfin unit (" + Code(err) + ")");
}

UnitHost::~UnitHost() {
    if (m_initialized) AudioUnitUninitialize(m_unit);
    CloseComponent(m_unit);
}

void UnitHost::Configure(double sampleRate, UInt32 channels, UInt32 maxFrames) {
    const AudioStreamBasicDescription format = CanonicalStreamFormat(sampleRate, channels);
    for (AudioUnitScope scope : {kAudioUnitScope_Input, kAudioUnitScope_Output}) {
        OSStatus err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_StreamFormat, scope, 0, &format, sizeof format);
        if (err != noErr)
            throw Failure("the unit refuses " + std::to_string(channels) + " channel(s) at " +
                          std::to_string(int(sampleRate)) + " Hz (" + Code(err) + ")");
    }
    OSStatus err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_MaximumFramesPerSlice, kAudioUnitScope_Global, 0,
                                        &maxFrames, sizeof maxFrames);
    if (err != noErr) throw Failure("the unit refuses " + std::to_string(maxFrames) + " frames per call (" + Code(err) + ")");

    AURenderCallbackStruct callback{&UnitHost::InputCallback, this};
    err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_SetRenderCallback, kAudioUnitScope_Input, 0, &callback,
                               sizeof callback);
    if (err != noErr) throw Failure("the unit refuses the input callback (" + Code(err) + ")");

    m_sampleRate = sampleRate;
    m_channels = channels;
    m_maxFrames = maxFrames;
    m_outputListStorage.assign(AudioBufferListSize(channels), 0);
    m_outputList = reinterpret_cast<AudioBufferList*>(m_outputListStorage.data());
}

void UnitHost::Initialize() {
    OSStatus err = AudioUnitInitialize(m_unit);
    if (err != noErr) throw Failure("the unit failed to initialise (" + Code(err) + ")");
    m_initialized = true;
    m_sampleTime = 0.0;
}

void UnitHost::Uninitialize() {
    if (m_initialized) AudioUnitUninitialize(m_unit);
    m_initialized = false;
}

// ---------------------------------------------------------------------------------------------
// Parameters

const std::vector<ParamDesc>& UnitHost::Parameters() {
    if (!m_params.empty()) return m_params;
    UInt32 size = 0;
    Boolean writable = false;
    if (AudioUnitGetPropertyInfo(m_unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, &size,
                                 &writable) != noErr)
        return m_params;
    std::vector<AudioUnitParameterID> ids(size / sizeof(AudioUnitParameterID));
    if (ids.empty() ||
        AudioUnitGetProperty(m_unit, kAudioUnitProperty_ParameterList, kAudioUnitScope_Global, 0, ids.data(), &size) !=
            noErr)
        return m_params;
    ids.resize(size / sizeof(AudioUnitParameterID));
    for (AudioUnitParameterID id : ids) {
        AudioUnitParameterInfo info{};
        UInt32 infoSize = sizeof info;
        if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_ParameterInfo, kAudioUnitScope_Global, id, &info,
                                 &infoSize) != noErr)
            continue;
        ParamDesc d;
        d.id = id;
        d.name = (info.flags & kAudioUnitParameterFlag_HasCFNameString) && info.cfNameString
                     ? StringOf(info.cfNameString)
                     : std::string(info.name, strnlen(info.name, sizeof info.name));
        if ((info.flags & kAudioUnitParameterFlag_CFNameRelease) && info.cfNameString) CFRelease(info.cfNameString);
        d.unit = info.unit;
        d.minValue = info.minValue;
        d.maxValue = info.maxValue;
        d.defaultValue = info.defaultValue;
        d.flags = info.flags;
        m_params.push_back(std::move(d));
    }
    return m_params;
}

int UnitHost::FindParameter(const std::string& nameOrId) {
    for (const ParamDesc& p : Parameters())
        if (p.name == nameOrId) return int(p.id);
    long id;
    if (ParseId(nameOrId, id))
        for (const ParamDesc& p : Parameters())
            if (long(p.id) == id) return int(p.id);
    return -1;
}

void UnitHost::SetParameter(AudioUnitParameterID id, Float32 value) {
    OSStatus err = AudioUnitSetParameter(m_unit, id, kAudioUnitScope_Global, 0, value, 0);
    if (err != noErr) throw Failure("the unit refuses parameter " + std::to_string(id) + " (" + Code(err) + ")");
}

Float32 UnitHost::GetParameter(AudioUnitParameterID id) {
    Float32 value = 0.0f;
    OSStatus err = AudioUnitGetParameter(m_unit, id, kAudioUnitScope_Global, 0, &value);
    if (err != noErr) throw Failure("cannot read parameter " + std::to_string(id) + " (" + Code(err) + ")");
    return value;
}

std::vector<std::pair<Float32, std::string>> UnitHost::ValueNames(const ParamDesc& param) {
    std::vector<std::pair<Float32, std::string>> names;
    CFArrayRef strings = nullptr;
    UInt32 size = sizeof strings;
    if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_ParameterValueStrings, kAudioUnitScope_Global, param.id,
                             &strings, &size) == noErr &&
        strings) {
        for (CFIndex i = 0; i < CFArrayGetCount(strings); ++i)
            names.emplace_back(param.minValue + Float32(i),
                               StringOf(static_cast<CFStringRef>(CFArrayGetValueAtIndex(strings, i))));
        CFRelease(strings);
        return names;
    }
    if (!(param.flags & kAudioUnitParameterFlag_ValuesHaveStrings)) return names;
    // Ask the unit for the string of every whole value in the range (ranges here are small).
    const int lo = int(std::ceil(param.minValue)), hi = int(std::floor(param.maxValue));
    if (hi - lo > 1024) return names;
    for (int v = lo; v <= hi; ++v) {
        Float32 value = Float32(v);
        AudioUnitParameterStringFromValue request{param.id, &value, nullptr};
        UInt32 requestSize = sizeof request;
        if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_ParameterStringFromValue, kAudioUnitScope_Global, 0,
                                 &request, &requestSize) == noErr &&
            request.outString) {
            names.emplace_back(value, StringOf(request.outString));
            CFRelease(request.outString);
        }
    }
    return names;
}

// ---------------------------------------------------------------------------------------------
// Presets

std::vector<std::pair<SInt32, std::string>> UnitHost::FactoryPresets() {
    std::vector<std::pair<SInt32, std::string>> presets;
    CFArrayRef list = nullptr;
    UInt32 size = sizeof list;
    if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_FactoryPresets, kAudioUnitScope_Global, 0, &list, &size) !=
            noErr ||
        !list)
        return presets;
    for (CFIndex i = 0; i < CFArrayGetCount(list); ++i) {
        const AUPreset* p = static_cast<const AUPreset*>(CFArrayGetValueAtIndex(list, i));
        if (p) presets.emplace_back(p->presetNumber, StringOf(p->presetName));
    }
    CFRelease(list);
    return presets;
}

void UnitHost::ChoosePreset(const std::string& numberOrName) {
    const auto presets = FactoryPresets();
    for (const auto& p : presets)
        if (p.second == numberOrName) return ChoosePreset(p.first);
    long number;
    if (ParseId(numberOrName, number))
        for (const auto& p : presets)
            if (long(p.first) == number) return ChoosePreset(p.first);
    throw UsageError("unknown preset " + Quoted(numberOrName) + " (see `marrowfin presets`)");
}

void UnitHost::ChoosePreset(SInt32 number) {
    AUPreset preset{number, nullptr};
    OSStatus err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_PresentPreset, kAudioUnitScope_Global, 0, &preset,
                                        sizeof preset);
    if (err != noErr) throw UsageError("unknown preset " + std::to_string(number) + " (" + Code(err) + ")");
}

// ---------------------------------------------------------------------------------------------
// Class-info state

void UnitHost::LoadState(const std::string& path) {
    std::string why;
    PlistPtr state(ReadClassInfoFile(path, &why));
    if (!state) throw Failure("cannot read state file " + Quoted(path) + ": " + why);
    plist_t raw = state.get();
    OSStatus err = AudioUnitSetProperty(m_unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &raw,
                                        sizeof raw);
    if (err != noErr)
        throw Failure("cannot load state file " + Quoted(path) + ": not a Marrowfin state (" + Code(err) + ")");
}

void UnitHost::SaveState(const std::string& path) {
    plist_t raw = nullptr;
    UInt32 size = sizeof raw;
    OSStatus err = AudioUnitGetProperty(m_unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &raw, &size);
    PlistPtr state(raw);
    if (err != noErr || !raw) throw Failure("cannot read the unit's state (" + Code(err) + ")");
    std::string why;
    if (WriteClassInfoFile(raw, path, &why) != noErr)
        throw Failure("cannot write state file " + Quoted(path) + ": " + why);
}

// ---------------------------------------------------------------------------------------------
// Render

double UnitHost::LatencySeconds() {
    Float64 latency = 0.0;
    UInt32 size = sizeof latency;
    if (AudioUnitGetProperty(m_unit, kAudioUnitProperty_Latency, kAudioUnitScope_Global, 0, &latency, &size) != noErr)
        return 0.0;
    return latency;
}

OSStatus UnitHost::InputCallback(void* refCon, AudioUnitRenderActionFlags*, const AudioTimeStamp*, UInt32,
                                 UInt32 frames, AudioBufferList* ioData) {
    auto* self = static_cast<UnitHost*>(refCon);
    if (!ioData || !self->m_currentInput) return paramErr;
    for (UInt32 i = 0; i < ioData->mNumberBuffers && i < self->m_channels; ++i) {
        AudioBuffer& b = ioData->mBuffers[i];
        const float* src = self->m_currentInput[i];
        if (!b.mData) {
            // The unit offers no buffer of its own: lend it ours (it only reads input).
            b.mData = const_cast<float*>(src);
        } else if (b.mData != src) {
            std::memcpy(b.mData, src, frames * sizeof(float));
        }
        b.mDataByteSize = frames * sizeof(float);
    }
    return noErr;
}

OSStatus UnitHost::Render(const float* const* input, float* const* output, UInt32 frames) {
    m_outputList->mNumberBuffers = m_channels;
    for (UInt32 i = 0; i < m_channels; ++i) {
        m_outputList->mBuffers[i].mNumberChannels = 1;
        m_outputList->mBuffers[i].mDataByteSize = frames * sizeof(float);
        m_outputList->mBuffers[i].mData = output[i];
    }
    AudioTimeStamp time{};
    time.mSampleTime = m_sampleTime;
    time.mFlags = kAudioTimeStampSampleTimeValid;
    AudioUnitRenderActionFlags flags = 0;
    m_currentInput = input;
    OSStatus err = AudioUnitRender(m_unit, &flags, &time, 0, frames, m_outputList);
    m_currentInput = nullptr;
    m_sampleTime += frames;
    if (err != noErr) return err;
    // A unit may answer with buffers of its own instead of filling ours.
    for (UInt32 i = 0; i < m_channels; ++i) {
        const void* data = m_outputList->mBuffers[i].mData;
        if (data && data != output[i]) std::memcpy(output[i], data, frames * sizeof(float));
    }
    return noErr;
}

OSStatus UnitHost::MIDIEvent(UInt8 status, UInt8 data1, UInt8 data2, UInt32 offsetFrames) {
    return MusicDeviceMIDIEvent(m_unit, status, data1, data2, offsetFrames);
}

OSStatus UnitHost::SysEx(const UInt8* data, UInt32 length) { return MusicDeviceSysEx(m_unit, data, length); }

}  // namespace MarrowfinApp
