// What every fuzz target shares: a private set of configuration and data folders, the product's
// diagnostic lines and standard output silenced (a line per bad input would dominate the run),
// and no network traffic beyond the machine (see FuzzSupport.cpp). One thread per target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hostframework/AudioUnitAPI.h"

namespace fuzz {

// Once per process: folders created, environment pointed at them, output silenced. Returns the
// root folder ($XDG_CONFIG_HOME is <root>/config, $XDG_DATA_HOME <root>/data).
const std::string& Setup();

// Writes `size` bytes to `path`, creating the folders on the way.
void WriteFile(const std::string& path, const uint8_t* data, size_t size);

// A Marrowfin unit opened through the component interface (stereo, 48 kHz, not initialised, so
// no OSC task binds a port). Null when it cannot be opened.
AudioUnit OpenUnit();

}  // namespace fuzz
