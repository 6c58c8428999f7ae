// The parameter table and the factory presets.
#include "effect/MarrowfinParameters.h"

#include <cmath>

// clang-format off
const ParamInfo astParamInfos[kNumParams] = {
    // name                        unit                                      min     max       default
    { "Dry Level",                   kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Wet Level",                   kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      1.f },
    { "Osc Level",                   kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Dry Ring Mod Level",          kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Wet Ring Mod Level",          kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Pitch Offset",                kAudioUnitParameterUnit_RelativeSemiTones,      -36.f,     36.f,      0.f },
    { "Pitch Offset Sweepable",      kAudioUnitParameterUnit_Generic,                -36.f,     36.f,      0.f },
    { "Lowpass Cutoff",              kAudioUnitParameterUnit_Hertz,                   10.f,   1000.f,    800.f },
    { "Highpass Cutoff",             kAudioUnitParameterUnit_Hertz,                   10.f,   1000.f,    100.f },
    { "Use Filtered For Dry",        kAudioUnitParameterUnit_Boolean,                  0.f,      1.f,      0.f },
    { "Use Filtered For Wet",        kAudioUnitParameterUnit_Boolean,                  0.f,      1.f,      0.f },
    { "Sync Cycles",                 kAudioUnitParameterUnit_Indexed,                  0.f,      8.f,      0.f },
    { "Env Pre Gain",                kAudioUnitParameterUnit_Decibels,                 0.f,     48.f,     12.f },
    { "Env Attack",                  kAudioUnitParameterUnit_Milliseconds,             1.f,   1000.f,      1.f },
    { "Env Release",                 kAudioUnitParameterUnit_Milliseconds,             1.f,   1000.f,      1.f },
    { "Env Gate",                    kAudioUnitParameterUnit_Generic,                  0.f,      1.f,      0.f },
    { "Osc Env Follow",              kAudioUnitParameterUnit_Generic,                  0.f,      1.f,      1.f },
    { "Trigger Level",               kAudioUnitParameterUnit_Generic,                  0.f,      1.f,      0.f },
    { "Osc Pitch",                   kAudioUnitParameterUnit_Generic,                  0.f,    127.f,      0.f },
    { "Pitch Env Depth",             kAudioUnitParameterUnit_Generic,                  0.f,     48.f,      0.f },
    { "Triangle",                    kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Saw",                         kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      1.f },
    { "Square",                      kAudioUnitParameterUnit_MixerFaderCurve1,         0.f,      1.f,      0.f },
    { "Pulse Width",                 kAudioUnitParameterUnit_Percent,                  0.f,    100.f,     50.f },
    { "PWM Env Depth",               kAudioUnitParameterUnit_Percent,                  0.f,    200.f,      0.f },
    { "Filter Cutoff",               kAudioUnitParameterUnit_Hertz,                   50.f,  12000.f,   1000.f },
    { "Filter Q",                    kAudioUnitParameterUnit_Generic,                0.01f,      1.f,     0.1f },
    { "Filter Type",                 kAudioUnitParameterUnit_Generic,                  0.f,      4.f,      0.f },
    { "Filter Env Depth",            kAudioUnitParameterUnit_Generic,                -16.f,     16.f,      0.f },
    { "Pitch LFO Shape",             kAudioUnitParameterUnit_Indexed,                  0.f,      4.f,      0.f },
    { "Pitch LFO Speed",             kAudioUnitParameterUnit_Hertz,                  0.05f,     20.f,      5.f },
    { "Pitch LFO Amount",            kAudioUnitParameterUnit_Generic,                  0.f,     36.f,      0.f },
    { "Pitch LFO Amount Fine",       kAudioUnitParameterUnit_Cents,                    0.f,    100.f,      0.f },
    { "Filter LFO Shape",            kAudioUnitParameterUnit_Indexed,                  0.f,      4.f,      0.f },
    { "Filter LFO Speed",            kAudioUnitParameterUnit_Hertz,                  0.05f,     20.f,     0.2f },
    { "Filter LFO Amount",           kAudioUnitParameterUnit_Generic,                  0.f,      3.f,      0.f },
    { "PWM LFO Shape",               kAudioUnitParameterUnit_Indexed,                  0.f,      4.f,      0.f },
    { "PWM LFO Speed",               kAudioUnitParameterUnit_Hertz,                  0.05f,     20.f,     0.2f },
    { "PWM LFO Amount",              kAudioUnitParameterUnit_Percent,                  0.f,    100.f,      0.f },
    { "OSC Port Offset",             kAudioUnitParameterUnit_Indexed,                  0.f,    100.f,      0.f },
};

PresetRecord esPresets[kNumPresets] = {
    { "Defaults", 0, {} },
    { "Down One Octave", 40, {
        0.f, 0.f, 1.f, 0.f, 0.f, -12.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 2.f, 12.f, 1.f, 1.f, 0.f,
        1.f, 0.f, 0.f, 5.04f, 0.755f, 1.f, 0.f, 50.f,
        0.f, 3151.f, 0.214f, 1.f, 0.8f, 0.f, 5.f, 0.f,
        10.5f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Down Two Octaves", 40, {
        0.f, 0.f, 1.f, 0.f, 0.f, -24.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 4.f, 12.f, 1.f, 1.f, 0.f,
        1.f, 0.f, 0.f, 5.04f, 1.f, 0.f, 0.89f, 26.5f,
        41.f, 3151.f, 0.214f, 1.f, 0.8f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 6.f, 0.f,
    } },
    { "Sync To The Max", 40, {
        0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 45.955f, 55.945f, 0.f,
        1.f, 0.f, 0.f, 48.f, 0.f, 1.f, 0.f, 50.f,
        0.f, 4585.f, 0.1f, 0.98f, 0.f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Auto-Wah", 40, {
        0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 50.95f, 65.935f, 0.f,
        1.f, 0.f, 0.f, 0.f, 0.f, 1.f, 0.f, 50.f,
        0.f, 50.f, 0.867f, 1.f, 16.f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "PWM-tastic", 40, {
        0.f, 0.f, 1.f, 0.f, 0.f, -12.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 60.94f, 40.96f, 0.f,
        1.f, 0.f, 0.f, 0.f, 0.f, 0.f, 1.f, 8.f,
        91.f, 6258.f, 0.154f, 0.94f, 0.f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.18f, 0.f, 1.098f, 14.5f, 0.f,
    } },
    { "Ring Mod", 40, {
        0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 1.f, 1.f, 0.f,
        1.f, 0.f, 51.435f, 1.2f, 1.f, 0.f, 0.f, 50.f,
        0.f, 1000.f, 0.1f, 0.f, 0.f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Auto Bassline", 40, {
        0.f, 0.f, 1.f, 0.f, 0.f, 0.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 1.f, 40.96f, 0.f,
        1.f, 0.f, 30.f, 0.f, 1.f, 0.f, 1.f, 34.5f,
        6.f, 462.25f, 0.56f, 0.7f, 6.88f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Try Me On Drums", 40, {
        0.f, 1.f, 1.f, 0.f, 0.f, -24.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 2.f, 12.f, 1.f, 60.94f, 0.f,
        1.f, 0.515f, 30.f, 48.f, 0.f, 0.f, 1.f, 50.f,
        20.f, 462.25f, 0.244f, 0.98f, 2.72f, 0.f, 5.f, 0.f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Sweep The Pitch", 40, {
        0.f, 0.f, 0.f, 0.f, 1.f, -12.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 1.f, 1.f, 0.f,
        1.f, 0.f, 84.455f, 5.76f, 1.f, 0.57f, 0.f, 50.f,
        0.f, 2912.f, 0.461f, 2.f, -3.2f, 0.f, 5.f, 0.54f,
        0.f, 0.f, 0.2f, 0.f, 0.f, 0.2f, 0.f, 0.f,
    } },
    { "Madness", 40, {
        0.f, 0.f, 1.f, 0.f, 1.f, -36.f, 0.f, 800.f,
        100.f, 0.f, 0.f, 0.f, 12.f, 1.f, 1.f, 0.f,
        1.f, 0.f, 0.f, 48.f, 0.f, 1.f, 0.f, 50.f,
        0.f, 1902.25f, 0.862f, 3.f, -16.f, 3.f, 7.394f, 16.02f,
        0.f, 0.f, 5.686f, 0.33f, 0.f, 0.2f, 0.f, 0.f,
    } },
};
// clang-format on

const char* const pLFOShapeNames[kNumLFOShapes] = {"Sine", "Tri", "SawUp", "Square", "SawDn"};

bool ParamIsLFOShape(AudioUnitParameterID id) {
    return id == kParam_PitchLFOShape || id == kParam_FilterLFOShape || id == kParam_PWMLFOShape;
}

bool ParamValuesHaveStrings(AudioUnitParameterID id) {
    return id == kParam_SyncCycles || id == kParam_OscPitch || id == kParam_FilterType || id == kParam_OSCPortOffset;
}

const char* ParamStringForValue(AudioUnitParameterID id, Float32 v) {
    switch (id) {
        case kParam_SyncCycles:
        case kParam_OSCPortOffset:
            return v == 0.f ? "Off" : nullptr;
        case kParam_OscPitch:
            return v == 0.f ? "Track" : nullptr;
        case kParam_FilterType: {
            static const char* const kTypeNames[5] = {"Thru", "Low", "Band", "High", "Thru"};
            // Truncation of a value outside int's range is undefined: such a value has no name anyway.
            if (!(v > -1.f && v < 5.f)) return nullptr;
            const int n = int(v + 0.5);
            if (std::fabs(double(v) - n) < 0.005 && n >= 0 && n <= 4) return kTypeNames[n];
            return nullptr;
        }
        default:
            return nullptr;
    }
}

void FillPresetDefaults() {
    for (PresetRecord& preset : esPresets)
        for (int id = preset.count; id < kNumParams; ++id) preset.values[id] = astParamInfos[id].defaultValue;
}

const char* ParamUnitName(AudioUnitParameterUnit unit) {
    switch (unit) {
        case kAudioUnitParameterUnit_Indexed: return "indexed";
        case kAudioUnitParameterUnit_Boolean: return "boolean";
        case kAudioUnitParameterUnit_Percent: return "%";
        case kAudioUnitParameterUnit_Hertz: return "Hz";
        case kAudioUnitParameterUnit_Cents: return "cents";
        case kAudioUnitParameterUnit_RelativeSemiTones: return "semitones";
        case kAudioUnitParameterUnit_Decibels: return "dB";
        case kAudioUnitParameterUnit_MixerFaderCurve1: return "fader";
        case kAudioUnitParameterUnit_Milliseconds: return "ms";
        default: return "";
    }
}
