// Compile-time facts of the LV2 plug-in: URIs and port indices.
// The port numbers here are the lv2:index values the .ttl generator writes; the plug-in's
// connect_port switch reads the same enum, so the two cannot drift apart.
#pragma once

#include <cstdint>

#include "effect/MarrowfinParameters.h"

namespace MarrowfinLV2 {

constexpr const char* kBaseURI = "https://tallowbright.example/plugins/marrowfin";
constexpr const char* kMonoURI = "https://tallowbright.example/plugins/marrowfin#mono";
constexpr const char* kStereoURI = "https://tallowbright.example/plugins/marrowfin#stereo";
// The state key under which the unit's class-info state (XML property-list text) is saved.
constexpr const char* kStateClassInfoURI = "https://tallowbright.example/plugins/marrowfin#classInfo";
// Beside it, the control-port values the unit last took from the host (an atom:Vector of 40
// atom:Float), so a restored session keeps values that OSC or a script set after the host last
// moved a control.
constexpr const char* kStatePortValuesURI = "https://tallowbright.example/plugins/marrowfin#portValues";

constexpr const char* kBinaryName = "marrowfin.so";
// The editor: an X11 UI of both plug-ins, in a binary of its own.
constexpr const char* kUIURI = "https://tallowbright.example/plugins/marrowfin#ui";
constexpr const char* kUIBinaryName = "marrowfin_ui.so";

// Ports 0..39 are the parameters in id order (port index = parameter id), then the latency
// output, the MIDI input, the audio inputs, the audio outputs and the display output (the
// editor's meters and pitch display for an editor that cannot reach the instance).
enum Port : uint32_t {
    kPortFirstParam = 0,
    kPortLatency = kNumParams,  // 40
    kPortControl = kNumParams + 1,
    kPortFirstAudio = kNumParams + 2,
};

// Audio port indices for a plug-in with `channels` channels (1 or 2).
constexpr uint32_t AudioInPort(uint32_t channel) { return kPortFirstAudio + channel; }
constexpr uint32_t AudioOutPort(uint32_t channels, uint32_t channel) { return kPortFirstAudio + channels + channel; }
constexpr uint32_t DisplayPort(uint32_t channels) { return kPortFirstAudio + 2 * channels; }
constexpr uint32_t PortCount(uint32_t channels) { return DisplayPort(channels) + 1; }

// The display output carries, this many times a second, one atom:Vector of atom:Float: per
// channel the frequency, then the peak meter, the envelope meter and the no-lock flag (0 or 1),
// two values each, then the eight GUI bool values (0 or 1).
constexpr uint32_t kDisplayRate = 30;
constexpr uint32_t kDisplayValues = 16;

// Host blocks are cut into slices of at most this many frames when the host tells us nothing
// about its block size (buf-size / options are optional).
constexpr uint32_t kDefaultMaxFrames = 4096;
// A host that announces a bigger maximum still gets slices of at most this many frames.
constexpr uint32_t kLargestMaxFrames = 8192;

}  // namespace MarrowfinLV2
