// A host for tests: drives any unit only through the component interface, as a real host does.
//
// One TestHost owns one instance. Render feeds the unit's input from per-channel sample vectors
// through an input render callback and returns the output per channel. The sample time advances
// by the frames rendered unless RepeatNextTimeStamp asks for the previous time stamp again.
// Everything runs on the test's thread; the host itself is not thread-safe.
#pragma once

#include <plist/plist.h>

#include <string>
#include <vector>

#include "hostframework/AUParameterServices.h"
#include "hostframework/AudioUnitAPI.h"
#include "hostframework/AUTypes.h"
#include "hostframework/CFLite.h"

namespace TB {

typedef std::vector<std::vector<float>> Channels;  // [channel][frame]

class TestHost {
public:
    TestHost() = default;
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    // Opens an instance; with installInputCallback the host's input callback is set (property
    // 23) so the unit pulls its input from Render's `input`.
    OSStatus Open(ComponentEntryProc entry, const AudioComponentDescription& desc, bool installInputCallback = true);
    OSStatus Close();
    AudioUnit Unit() const { return m_unit; }

    // Stream formats: both input and output element 0 (or one scope), canonical non-interleaved
    // or interleaved 32-bit float.
    static AudioStreamBasicDescription MakeFormat(double sampleRate, UInt32 channels, bool interleaved = false) {
        return CanonicalStreamFormat(sampleRate, channels, interleaved);
    }
    OSStatus SetFormat(double sampleRate, UInt32 channels, bool interleaved = false);
    OSStatus SetStreamFormat(AudioUnitScope scope, const AudioStreamBasicDescription& format) {
        return SetProperty(kAudioUnitProperty_StreamFormat, format, scope);
    }
    OSStatus GetStreamFormat(AudioUnitScope scope, AudioStreamBasicDescription& format) {
        return GetProperty(kAudioUnitProperty_StreamFormat, format, scope);
    }
    OSStatus SetMaxFrames(UInt32 frames) { return SetProperty(kAudioUnitProperty_MaximumFramesPerSlice, frames); }

    OSStatus Initialize() { return AudioUnitInitialize(m_unit); }
    OSStatus Uninitialize() { return AudioUnitUninitialize(m_unit); }
    OSStatus Reset() { return AudioUnitReset(m_unit, kAudioUnitScope_Global, 0); }

    // Renders `frames` frames. input[ch] must hold at least `frames` samples per input channel
    // (missing channels or samples read as 0). output is resized to the output channel count.
    OSStatus Render(UInt32 frames, const Channels& input, Channels& output);
    // Renders a whole signal in blocks of `blockFrames` and appends every block's output.
    OSStatus Process(const Channels& input, UInt32 blockFrames, Channels& output);
    // Time stamps: the next render uses the previous render's time stamp again (once).
    void RepeatNextTimeStamp() { m_repeatTimeStamp = true; }
    // When true (the default) the host hands the unit null output buffers, otherwise its own.
    void SetNullOutputBuffers(bool useNull) { m_nullOutputBuffers = useNull; }
    // Flags the input callback's buffers silent.
    void SetInputSilentFlag(bool silent) { m_inputSilent = silent; }
    AudioUnitRenderActionFlags LastRenderFlags() const { return m_lastFlags; }
    UInt32 InputPulls() const { return m_inputPulls; }

    // Parameters (global scope, element 0 unless given).
    OSStatus GetParameter(AudioUnitParameterID id, AudioUnitParameterValue& value, AudioUnitScope scope = 0,
                          AudioUnitElement element = 0) {
        return AudioUnitGetParameter(m_unit, id, scope, element, &value);
    }
    AudioUnitParameterValue Parameter(AudioUnitParameterID id);  // NaN when the call fails
    OSStatus SetParameter(AudioUnitParameterID id, AudioUnitParameterValue value, AudioUnitScope scope = 0,
                          AudioUnitElement element = 0, UInt32 bufferOffset = 0) {
        return AudioUnitSetParameter(m_unit, id, scope, element, value, bufferOffset);
    }
    // Through the host's parameter service, so listeners hear of it.
    OSStatus SetParameterNotifying(AudioUnitParameterID id, AudioUnitParameterValue value) {
        const AudioUnitParameter p = ParameterRef(id);
        return AUParameterSet(nullptr, nullptr, &p, value, 0);
    }
    static AudioUnitParameterEvent ImmediateEvent(AudioUnitParameterID id, AudioUnitParameterValue value,
                                                  UInt32 bufferOffset, AudioUnitScope scope = 0,
                                                  AudioUnitElement element = 0);
    OSStatus ScheduleParameters(const std::vector<AudioUnitParameterEvent>& events) {
        return AudioUnitScheduleParameters(m_unit, events.data(), UInt32(events.size()));
    }
    OSStatus GetParameterInfo(AudioUnitParameterID id, AudioUnitParameterInfo& info, AudioUnitScope scope = 0) {
        return GetProperty(kAudioUnitProperty_ParameterInfo, info, scope, id);
    }
    std::vector<AudioUnitParameterID> ParameterList(AudioUnitScope scope = 0);
    AudioUnitParameter ParameterRef(AudioUnitParameterID id) const { return {m_unit, id, 0, 0}; }

    // Properties.
    OSStatus GetPropertyInfo(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, UInt32* size,
                             Boolean* writable) {
        return AudioUnitGetPropertyInfo(m_unit, id, scope, element, size, writable);
    }
    OSStatus GetPropertyRaw(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element, void* data,
                            UInt32* size) {
        return AudioUnitGetProperty(m_unit, id, scope, element, data, size);
    }
    OSStatus SetPropertyRaw(AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                            const void* data, UInt32 size) {
        return AudioUnitSetProperty(m_unit, id, scope, element, data, size);
    }
    template <class T>
    OSStatus GetProperty(AudioUnitPropertyID id, T& value, AudioUnitScope scope = 0, AudioUnitElement element = 0) {
        UInt32 size = sizeof(T);
        return GetPropertyRaw(id, scope, element, &value, &size);
    }
    template <class T>
    OSStatus SetProperty(AudioUnitPropertyID id, const T& value, AudioUnitScope scope = 0,
                         AudioUnitElement element = 0) {
        return SetPropertyRaw(id, scope, element, &value, sizeof(T));
    }

    // Presets: choosing sets the present-preset property (36) with a number and no name.
    OSStatus ChoosePreset(SInt32 number) { return SetProperty(kAudioUnitProperty_PresentPreset, AUPreset{number, nullptr}); }
    OSStatus GetPresentPreset(SInt32& number, std::string& name);
    std::vector<std::string> FactoryPresetNames();  // empty when the unit has none

    // Class-info state (property 0): a dictionary the caller frees, or null with *err set.
    plist_t SaveState(OSStatus* err = nullptr);
    OSStatus RestoreState(plist_t state) { return SetProperty(kAudioUnitProperty_ClassInfo, state); }

    // MIDI.
    OSStatus MIDIEvent(UInt32 status, UInt32 data1, UInt32 data2, UInt32 offset = 0) {
        return MusicDeviceMIDIEvent(m_unit, status, data1, data2, offset);
    }
    OSStatus SysEx(const std::vector<UInt8>& data) { return MusicDeviceSysEx(m_unit, data.data(), UInt32(data.size())); }

private:
    static OSStatus InputCallback(void* refCon, AudioUnitRenderActionFlags* ioActionFlags,
                                  const AudioTimeStamp* inTimeStamp, UInt32 inBusNumber, UInt32 inNumberFrames,
                                  AudioBufferList* ioData);

    AudioUnit m_unit = nullptr;
    const Channels* m_input = nullptr;
    double m_sampleTime = 0;
    double m_lastSampleTime = 0;
    bool m_repeatTimeStamp = false;
    bool m_nullOutputBuffers = true;
    bool m_inputSilent = false;
    AudioUnitRenderActionFlags m_lastFlags = 0;
    UInt32 m_inputPulls = 0;
    std::vector<float> m_outputMemory;
    std::vector<UInt8> m_bufferListMemory;
};

// A CFString's UTF-8 text ("" for null).
std::string CFToString(CFStringRef str);

}  // namespace TB
