// One Marrowfin unit driven the way any host drives it: through the component interface only
// (open, stream formats, maximum frames, render callback, initialise, render, parameters,
// presets, class-info state, MIDI). Everything the command-line host does to the effect goes
// through this class.
//
// Threads: construction, configuration, parameters, presets and state on the main thread;
// Render and MIDIEvent on the one thread that renders (which may be the main thread).
#pragma once

#include <string>
#include <vector>

#include "hostframework/AudioUnitAPI.h"

namespace MarrowfinApp {

constexpr UInt32 kMaxFramesPerSlice = 4096;

struct ParamDesc {
    AudioUnitParameterID id;
    std::string name;
    AudioUnitParameterUnit unit;
    Float32 minValue, maxValue, defaultValue;
    AudioUnitParameterOptions flags;
};

class UnitHost {
public:
    UnitHost();  // opens a unit; throws AppError when the component cannot be opened
    ~UnitHost();
    UnitHost(const UnitHost&) = delete;
    UnitHost& operator=(const UnitHost&) = delete;

    AudioUnit Unit() const { return m_unit; }

    // Stream formats (non-interleaved 32-bit float, `channels` in and out) and the maximum
    // frames per render call. Before Initialize.
    void Configure(double sampleRate, UInt32 channels, UInt32 maxFrames = kMaxFramesPerSlice);
    void Initialize();
    // Back to configurable (a new sample rate, say); parameters and state stay.
    void Uninitialize();
    bool IsInitialized() const { return m_initialized; }

    // ---- parameters (global scope, element 0)
    const std::vector<ParamDesc>& Parameters();  // read once through the parameter list and infos
    // The id for an exact name or a decimal id, or -1 when there is no such parameter.
    int FindParameter(const std::string& nameOrId);
    void SetParameter(AudioUnitParameterID id, Float32 value);
    Float32 GetParameter(AudioUnitParameterID id);
    // Value names: the value strings of a parameter (LFO shapes) or the strings of its integer
    // values where the unit gives one ("Off", "Track", "Low", ...). Pairs of value and name.
    std::vector<std::pair<Float32, std::string>> ValueNames(const ParamDesc& param);

    // ---- presets
    std::vector<std::pair<SInt32, std::string>> FactoryPresets();
    // A number or an exact name; throws a usage error naming the preset when there is none.
    void ChoosePreset(const std::string& numberOrName);
    void ChoosePreset(SInt32 number);

    // ---- class-info state as an XML property list file (.aupreset)
    void LoadState(const std::string& path);  // throws AppError naming the file
    void SaveState(const std::string& path);  // written beside and renamed into place

    // ---- render
    // Seconds of latency as the unit reports it now (property 12).
    double LatencySeconds();
    // Renders `frames` (at most the maximum) from `input` into `output`, one pointer per
    // channel each. Returns the unit's result.
    OSStatus Render(const float* const* input, float* const* output, UInt32 frames);
    OSStatus MIDIEvent(UInt8 status, UInt8 data1, UInt8 data2, UInt32 offsetFrames);
    OSStatus SysEx(const UInt8* data, UInt32 length);

    double SampleRate() const { return m_sampleRate; }
    UInt32 Channels() const { return m_channels; }

private:
    static OSStatus InputCallback(void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp* time,
                                  UInt32 bus, UInt32 frames, AudioBufferList* ioData);

    AudioUnit m_unit = nullptr;
    bool m_initialized = false;
    double m_sampleRate = 0.0;
    UInt32 m_channels = 0;
    UInt32 m_maxFrames = kMaxFramesPerSlice;
    Float64 m_sampleTime = 0.0;
    std::vector<ParamDesc> m_params;

    // Render-time data, sized in Configure so the render path allocates nothing.
    std::vector<unsigned char> m_outputListStorage;
    AudioBufferList* m_outputList = nullptr;
    const float* const* m_currentInput = nullptr;
};

}  // namespace MarrowfinApp
