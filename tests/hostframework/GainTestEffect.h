// A small effect for testing the framework through the component interface: a gain kernel per
// channel, three parameters, three factory presets, and note and sysex handlers that log.
// Some inputs make it throw, so tests can check that no exception crosses the dispatch.
#pragma once

#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "hostframework/AUMIDIEffectBase.h"
#include "hostframework/DenormalMode.h"

namespace gaintest {

enum : AudioUnitParameterID { kGain = 0, kMode = 1, kOffset = 2, kNumParams = 3 };
constexpr AudioUnitPropertyID kThrowingProperty = 64500;  // GetProperty throws what its element says
constexpr AudioComponentDescription kDescription{FourCC("aumf"), FourCC("Gain"), FourCC("Test"), 0, 0};

struct Slice {
    UInt32 frames;
    Float32 gain;
};

class GainTestEffect;

class GainKernel : public AUKernelBase {
public:
    explicit GainKernel(GainTestEffect* unit);
    OSStatus Process(const Float32* in, Float32* out, UInt32 frames, UInt32 channels, bool& ioSilence) override;
};

class GainTestEffect : public AUMIDIEffectBase {
public:
    explicit GainTestEffect(AudioComponentInstance ci) : AUMIDIEffectBase(ci, false) {
        if (ms_failConstruction) throw static_cast<OSStatus>(-4242);
    }
    void PostConstructor() override {
        AUMIDIEffectBase::PostConstructor();
        Globals()->UseIndexedParameters(kNumParams);
        SetParameter(kGain, 1.f);
        SetParameter(kMode, 0.f);
        SetParameter(kOffset, 0.f);
        SetAFactoryPresetAsCurrent(Presets()[0]);
        ++ms_live;
    }
    ~GainTestEffect() override { --ms_live; }

    OSStatus Version() override { return 0x00020003; }

    OSStatus GetParameterInfo(AudioUnitScope scope, AudioUnitParameterID id, AudioUnitParameterInfo& info) override {
        static const char* const names[kNumParams] = {"Gain", "Mode", "Offset"};
        static const Float32 ranges[kNumParams][3] = {{0, 2, 1}, {0, 2, 0}, {-1, 1, 0}};
        if (scope != kAudioUnitScope_Global || id >= kNumParams) return kAudioUnitErr_InvalidParameter;
        std::snprintf(info.name, sizeof info.name, "%s", names[id]);
        info.cfNameString = TBConstantString(names[id]);
        info.unit = id == kMode ? kAudioUnitParameterUnit_Indexed : kAudioUnitParameterUnit_Generic;
        info.minValue = ranges[id][0];
        info.maxValue = ranges[id][1];
        info.defaultValue = ranges[id][2];
        info.flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable |
                     kAudioUnitParameterFlag_HasCFNameString;
        return noErr;
    }

    static const std::vector<AUPreset>& Presets() {
        static const std::vector<AUPreset> presets = {
            {0, CFSTR("Unity")}, {1, CFSTR("Half")}, {2, CFSTR("Silent")}};
        return presets;
    }
    OSStatus GetPresets(CFArrayRef* outData) const override {
        if (outData == nullptr) return noErr;
        CFMutableArrayRef array = CFArrayCreateMutable(nullptr, 3, nullptr);
        for (const AUPreset& p : Presets()) CFArrayAppendValue(array, &p);
        *outData = array;
        return noErr;
    }
    OSStatus NewFactoryPresetSet(const AUPreset& preset) override {
        static const Float32 gains[3] = {1.f, 0.5f, 0.f};
        if (preset.presetNumber < 0 || preset.presetNumber >= 3) return kAudioUnitErr_InvalidPropertyValue;
        SetParameter(kGain, gains[preset.presetNumber]);
        SetAFactoryPresetAsCurrent(Presets()[preset.presetNumber]);
        return noErr;
    }

    AUKernelBase* NewKernel() override {
        kernelChannelsSeen.push_back((int)Kernels().size());
        return new GainKernel(this);
    }
    Float64 GetTailTime() override { return tailSeconds; }
    bool SupportsTail() override { return true; }

    OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, UInt32& size,
                             Boolean& writable) override {
        if (id == kThrowingProperty) {
            size = 4;
            writable = false;
            return noErr;
        }
        return AUMIDIEffectBase::GetPropertyInfo(id, scope, element, size, writable);
    }
    OSStatus GetProperty(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                         void* data) override {
        if (id == kThrowingProperty) {
            if (element == 1) throw static_cast<OSStatus>(-31337);
            if (element == 2) throw std::bad_alloc();
            if (element == 3) throw std::runtime_error("boom");
            *static_cast<UInt32*>(data) = 7;
            return noErr;
        }
        return AUMIDIEffectBase::GetProperty(id, scope, element, data);
    }

    // MIDI: the handlers log their arguments.
    OSStatus HandleNoteOn(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return Log("on", c, n, v, f); }
    OSStatus HandleNoteOff(UInt8 c, UInt8 n, UInt8 v, UInt32 f) override { return Log("off", c, n, v, f); }
    OSStatus HandleSysEx(const UInt8* data, UInt32 length) override {
        if (length > 0 && data[0] == 1) throw static_cast<OSStatus>(-777);
        if (length > 0 && data[0] == 2) throw std::bad_alloc();
        if (length > 0 && data[0] == 3) throw 3.5;
        return Log("sysex", int(length), -1, -1, -1);
    }

    OSStatus Log(const char* what, int a, int b, int c, long long frame) {
        std::string s = what;
        for (long long v : {(long long)a, (long long)b, (long long)c, frame})
            if (v >= 0) s += " " + std::to_string(v);
        midiLog.push_back(s);
        return noErr;
    }

    // Recorded by kernel 0 while rendering (reserved up front: the render must not allocate).
    Slice sliceLog[64];
    int numSlices = 0;
    uint32_t renderMode = 0;
    bool kernelsReportSilence = false;  // kernels leave the silence flag as they get it
    bool lastSilenceOffered = false;
    double tailSeconds = 0;
    std::vector<int> kernelChannelsSeen;
    std::vector<std::string> midiLog;

    static inline bool ms_failConstruction = false;
    static inline int ms_live = 0;
};

inline GainKernel::GainKernel(GainTestEffect* unit) : AUKernelBase(unit) {}
inline OSStatus GainKernel::Process(const Float32* in, Float32* out, UInt32 frames, UInt32 channels, bool& ioSilence) {
    auto* unit = static_cast<GainTestEffect*>(GetAudioUnit());
    const Float32 gain = unit->GetParameter(kGain);
    const Float32 offset = unit->GetParameter(kOffset);
    if (GetChannelNum() == 0) {
        if (unit->numSlices < 64) unit->sliceLog[unit->numSlices++] = Slice{frames, gain};
        unit->renderMode = ScopedDenormalsOff::CurrentMode();
        unit->lastSilenceOffered = ioSilence;
    }
    for (UInt32 i = 0; i < frames; ++i) out[i * channels] = in[i * channels] * gain + offset;
    if (!unit->kernelsReportSilence) ioSilence = false;
    return noErr;
}

inline ComponentResult GainTestEffectEntry(ComponentParameters* params, void** storage) {
    if (params && params->what == kComponentOpenSelect) return ComponentBase::Open<GainTestEffect>(params, storage);
    return AUMIDIEffectBase::ComponentEntryDispatch(params, storage ? static_cast<GainTestEffect*>(*storage) : nullptr);
}

}  // namespace gaintest
