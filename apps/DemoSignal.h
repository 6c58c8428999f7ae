// The built-in input of `marrowfin demo`: ten seconds of a plucked bass line at 48 kHz, mono,
// synthesised in code (Karplus-Strong strings), so the demo needs no file at all.
#pragma once

#include <vector>

namespace MarrowfinApp {

constexpr double kDemoSampleRate = 48000.0;
constexpr double kDemoSeconds = 10.0;

// The whole signal, deterministic from run to run; peak level about -6 dBFS.
std::vector<float> MakeDemoBassLine();

}  // namespace MarrowfinApp
