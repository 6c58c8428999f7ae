// A plucked bass line for plug-in tests and benchmarks: decaying notes with a few harmonics,
// a new note every quarter second, deterministic (no random numbers).
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace MarrowfinLV2Test {

// `frames` samples of the line at `sampleRate`; channel 1 (of a stereo pair) is a fifth above.
inline std::vector<float> PluckedBass(size_t frames, double sampleRate, int channel = 0) {
    static const double kNotes[] = {41, 41, 48, 43, 41, 36, 39, 46};  // MIDI note numbers
    const double pi = 3.14159265358979323846;
    std::vector<float> out(frames);
    const size_t noteFrames = size_t(sampleRate * 0.25);
    double phase = 0;
    for (size_t i = 0; i < frames; ++i) {
        const size_t note = i / noteFrames;
        const double t = double(i % noteFrames) / sampleRate;
        const double midi = kNotes[note % 8] + (channel ? 7 : 0);
        const double freq = 440.0 * std::pow(2.0, (midi - 69) / 12.0);
        phase += freq / sampleRate;
        phase -= std::floor(phase);
        const double x = std::sin(2 * pi * phase) + 0.5 * std::sin(4 * pi * phase) + 0.25 * std::sin(6 * pi * phase);
        out[i] = float(0.5 * x * std::exp(-t * 6.0) * std::min(1.0, t * 2000.0));
    }
    return out;
}

}  // namespace MarrowfinLV2Test
