#include "apps/DemoSignal.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace MarrowfinApp {

namespace {

// One note of the line: MIDI note number, start and length in eighth notes.
struct DemoNote {
    int note;
    int start;
    int length;
};

// 120 BPM, eighth notes of 0.25 s: 40 eighths in ten seconds. An A-minor riff kept between
// A1 (55 Hz) and E3 (165 Hz), inside the range whose cycles fit the effect's 20 ms analysis window.
constexpr DemoNote kLine[] = {
    {33, 0, 2},  {33, 2, 1},  {45, 3, 1},  {43, 4, 2},  {40, 6, 2},   //
    {36, 8, 2},  {36, 10, 1}, {48, 11, 1}, {43, 12, 2}, {38, 14, 2},  //
    {41, 16, 2}, {41, 18, 1}, {53, 19, 1}, {48, 20, 2}, {45, 22, 2},  //
    {40, 24, 2}, {40, 26, 1}, {52, 27, 1}, {47, 28, 1}, {45, 29, 1}, {43, 30, 1}, {40, 31, 1},  //
    {33, 32, 3}, {45, 35, 1}, {40, 36, 1}, {43, 37, 1}, {45, 38, 2},
};

// A small deterministic noise source for the pluck excitation.
struct Lcg {
    uint32_t state = 0x2545F491u;
    float Next() {
        state = state * 1664525u + 1013904223u;
        return float(int32_t(state)) * (1.0f / 2147483648.0f);
    }
};

// Karplus-Strong string: a delay line of one period fed back through a two-point average,
// with a fractional delay (linear interpolation) for exact tuning and a damping factor that
// closes the string at the note's end.
void PluckInto(std::vector<float>& out, const DemoNote& n, double eighth, Lcg& noise) {
    const double fs = kDemoSampleRate;
    const double freq = 440.0 * std::pow(2.0, (n.note - 69) / 12.0);
    const double period = fs / freq;
    const size_t begin = size_t(n.start * eighth * fs);
    const size_t held = size_t(n.length * eighth * fs * 0.92);
    const size_t ring = size_t(0.06 * fs);  // release tail after the note is let go

    const size_t lineLength = size_t(period) + 2;
    std::vector<double> line(lineLength, 0.0);
    // Excitation: noise smoothed twice so the pluck sounds round, like a finger on a bass string.
    double lp1 = 0.0, lp2 = 0.0;
    for (size_t i = 0; i < lineLength; ++i) {
        lp1 += 0.5 * (noise.Next() - lp1);
        lp2 += 0.5 * (lp1 - lp2);
        line[i] = lp2;
    }
    double mean = 0.0;
    for (double v : line) mean += v;
    mean /= double(lineLength);
    for (double& v : line) v -= mean;

    const double delay = period - 0.5;  // the averaging filter adds half a sample
    size_t write = 0;
    double previous = 0.0;
    for (size_t i = 0; i < held + ring && begin + i < out.size(); ++i) {
        double readPos = double(write) - delay;
        while (readPos < 0.0) readPos += double(lineLength);
        size_t r0 = size_t(readPos) % lineLength;
        size_t r1 = (r0 + 1) % lineLength;
        double frac = readPos - std::floor(readPos);
        double delayed = line[r0] + frac * (line[r1] - line[r0]);
        double damping = i < held ? 0.996 : 0.93;
        double sample = damping * 0.5 * (delayed + previous);
        previous = delayed;
        line[write] = sample;
        write = (write + 1) % lineLength;
        out[begin + i] += float(sample);
    }
}

}  // namespace

std::vector<float> MakeDemoBassLine() {
    std::vector<float> out(size_t(kDemoSampleRate * kDemoSeconds), 0.0f);
    const double eighth = 0.25;
    Lcg noise;
    for (const DemoNote& n : kLine) PluckInto(out, n, eighth, noise);

    float peak = 0.0f;
    for (float v : out) peak = std::max(peak, std::fabs(v));
    if (peak > 0.0f) {
        const float gain = 0.5f / peak;
        for (float& v : out) v *= gain;
    }
    return out;
}

}  // namespace MarrowfinApp
