// Numbers of the engine that hosts need as well as the engine itself.
#pragma once

#include <cstdint>

// Upper bound of the analysis window (and of the dry delay), in samples.
constexpr int32_t kMarrowfinMaxWindow = 1023;

// The analysis window for a sample rate, in frames: 20 ms of the rate (computed in float and
// truncated), at most kMarrowfinMaxWindow (also for a rate that is not a number), 0 for a
// negative rate. The dry signal is delayed by exactly this much, so it is the unit's latency.
inline int32_t MarrowfinLatencyFrames(float sampleRate) {
    const float window = sampleRate * 0.02f;
    if (!(window < 1024.f)) return kMarrowfinMaxWindow;
    if (!(window >= 0.f)) return 0;
    return static_cast<int32_t>(window);
}
