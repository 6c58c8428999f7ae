// The Turtle description of the plug-in bundle, written from the one parameter and preset table.
// Runs at build time (the marrowfin_lv2_ttl generator) and in tests; never inside a host.
#pragma once

#include <ostream>
#include <string>

#include "effect/MarrowfinParameters.h"

namespace MarrowfinLV2 {

// The port symbol of a parameter: its name in lower case, every run of other characters one '_'
// ("Dry Level" -> "dry_level", "PWM LFO Speed" -> "pwm_lfo_speed").
std::string ParamSymbol(AudioUnitParameterID id);
// The shortest decimal text that reads back as exactly `value` (also when read as a double
// and then narrowed to float, as LV2 hosts do).
std::string FormatFloat(float value);
// The URI of factory preset `number` for the plug-in with `channels` channels.
std::string PresetURI(int channels, int number);
std::string PluginURI(int channels);

void WriteManifest(std::ostream& out);
void WritePluginDescription(std::ostream& out);  // both plug-ins, their ports and port groups
void WritePresets(std::ostream& out);            // FillPresetDefaults() must have run

}  // namespace MarrowfinLV2
