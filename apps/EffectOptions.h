// The effect options shared by `render`, `demo` and `serve`, and how they are applied to a unit:
// the factory preset first, then the saved state, then each --set in command-line order.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "apps/AudioFile.h"
#include "hostframework/AUTypes.h"

namespace MarrowfinApp {

class UnitHost;

struct EffectOptions {
    std::string preset;                // number or exact name; empty keeps the unit's own
    std::vector<std::string> sets;     // "NAME=VALUE" or "ID=VALUE"
    std::string stateFile;             // .aupreset to load
    std::string saveStateFile;         // .aupreset to write after the render
    std::string midiFile;              // standard MIDI file to play into the unit
    int block = 512;                   // frames per render call, 1 to 4096
    bool compensateLatency = false;
    bool quiet = false;
    SampleFormat sampleFormat = SampleFormat::kDefault;
};

// Resolves every --set against the unit's parameters. Throws a usage error for an unknown
// parameter, a value that is not a finite number, or one outside the parameter's range.
std::vector<std::pair<AudioUnitParameterID, Float32>> ResolveSets(UnitHost& host, const std::vector<std::string>& sets);

// Preset, state, then the resolved sets (before the unit is initialised).
void ApplyEffectOptions(UnitHost& host, const EffectOptions& options);

}  // namespace MarrowfinApp
