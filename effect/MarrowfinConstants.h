// Facts of the effect that more than one layer needs (the engine, the unit, scripts, OSC, the
// LV2 plug-in, the editor), each written down once.
#pragma once

#include <cstdint>

// The scripts' GUI bool values kept in the record shared with the editor.
constexpr int kNumGUIBools = 8;

// The process-wide OSC base port before the preferences say otherwise.
constexpr int32_t kDefaultOSCBasePort = 7000;

// Upper bound of the analysis window (and of the dry delay), in frames; the ring keeps 2048.
constexpr int32_t kMarrowfinMaxWindow = 1023;

// The analysis window, which is also the effect's latency, in frames: 20 ms of the sample rate,
// computed in float and truncated, at most kMarrowfinMaxWindow; 0 for a negative rate, and the
// maximum for a rate that is not a number. Every user of the window computes it here, so the
// engine, the unit's latency and the LV2 latency port always agree.
inline int32_t MarrowfinAnalysisWindow(float sampleRate) {
    const float window = sampleRate * 0.02f;
    if (!(window < 1024.f)) return kMarrowfinMaxWindow;
    if (!(window >= 0.f)) return 0;
    return static_cast<int32_t>(window);
}
