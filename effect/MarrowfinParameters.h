// The parameter table and the factory presets: the one place these numbers live.
// Everything else (the unit, scripts, OSC, the LV2 metadata, the command-line host) reads them here.
#pragma once

#include "hostframework/AUTypes.h"

enum MarrowfinParam : AudioUnitParameterID {
    kParam_DryLevel = 0,
    kParam_WetLevel,
    kParam_OscLevel,
    kParam_DryRingModLevel,
    kParam_WetRingModLevel,
    kParam_PitchOffset,
    kParam_PitchOffsetSweepable,
    kParam_LowpassCutoff,
    kParam_HighpassCutoff,
    kParam_UseFilteredForDry,
    kParam_UseFilteredForWet,
    kParam_SyncCycles,
    kParam_EnvPreGain,
    kParam_EnvAttack,
    kParam_EnvRelease,
    kParam_EnvGate,
    kParam_OscEnvFollow,
    kParam_TriggerLevel,
    kParam_OscPitch,
    kParam_PitchEnvDepth,
    kParam_Triangle,
    kParam_Saw,
    kParam_Square,
    kParam_PulseWidth,
    kParam_PWMEnvDepth,
    kParam_FilterCutoff,
    kParam_FilterQ,
    kParam_FilterType,
    kParam_FilterEnvDepth,
    kParam_PitchLFOShape,
    kParam_PitchLFOSpeed,
    kParam_PitchLFOAmount,
    kParam_PitchLFOAmountFine,
    kParam_FilterLFOShape,
    kParam_FilterLFOSpeed,
    kParam_FilterLFOAmount,
    kParam_PWMLFOShape,
    kParam_PWMLFOSpeed,
    kParam_PWMLFOAmount,
    kParam_OSCPortOffset,
};

// A plain int, so loops over ids compare cleanly with signed and unsigned counters alike.
constexpr int kNumParams = 40;
static_assert(kParam_OSCPortOffset + 1 == kNumParams);

struct ParamInfo {
    const char* name;
    AudioUnitParameterUnit unit;
    Float32 minValue;
    Float32 maxValue;
    Float32 defaultValue;
};

extern const ParamInfo astParamInfos[kNumParams];

// Ids whose values the host asks a string for (property 33).
bool ParamValuesHaveStrings(AudioUnitParameterID id);
// The string for value v of a flagged id, or null when the table gives none (or the id is not flagged).
const char* ParamStringForValue(AudioUnitParameterID id, Float32 v);

// The five LFO shape names, in value order (ids 29, 33, 36).
constexpr int kNumLFOShapes = 5;
extern const char* const pLFOShapeNames[kNumLFOShapes];
bool ParamIsLFOShape(AudioUnitParameterID id);

// Factory presets: number = index. `count` values are given; the rest are the defaults
// (FillPresetDefaults writes them, once, at the first unit's construction).
constexpr int kNumPresets = 11;
struct PresetRecord {
    const char* name;
    SInt32 count;
    Float32 values[kNumParams];
};
extern PresetRecord esPresets[kNumPresets];
void FillPresetDefaults();

// Short unit names for listings ("Hz", "ms", "dB", ...); empty for generic values.
const char* ParamUnitName(AudioUnitParameterUnit unit);
