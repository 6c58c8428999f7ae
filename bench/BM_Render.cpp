// The whole of `marrowfin render` on a 60-second stereo 48 kHz file, file reading and writing
// included. The "realtime" counter is seconds of audio rendered per second of wall time.
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "apps/OfflineRender.h"

namespace {

constexpr double kSeconds = 60.0;
constexpr int kRate = 48000;

// A plucked-ish two-voice input written once per process: saws at 98 and 147 Hz with a decay
// every half second, so the analysis locks and the envelope moves.
const std::string& InputFile() {
    static std::string path = [] {
        std::string p = (std::filesystem::temp_directory_path() / "marrowfin-bench-input.wav").string();
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
        std::vector<float> frame(2);
        const double freqs[2] = {98.0, 147.0};
        for (int i = 0; i < int(kSeconds * kRate); ++i) {
            double t = double(i) / kRate;
            double env = std::exp(-6.0 * std::fmod(t, 0.5));
            for (int c = 0; c < 2; ++c) {
                double ph = std::fmod(t * freqs[c], 1.0);
                frame[c] = float(0.4 * env * (2.0 * ph - 1.0));
            }
            sf_writef_float(f, frame.data(), 1);
        }
        sf_close(f);
        return p;
    }();
    return path;
}

void RenderWith(benchmark::State& state, const char* preset) {
    const std::string in = InputFile();
    const std::string out = (std::filesystem::temp_directory_path() / "marrowfin-bench-output.wav").string();
    MarrowfinApp::EffectOptions options;
    options.preset = preset;
    options.quiet = true;
    for (auto _ : state) MarrowfinApp::RenderFile(in, out, options);
    state.counters["realtime"] = benchmark::Counter(kSeconds * double(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove(out);
}

void BM_RenderDefaults(benchmark::State& state) { RenderWith(state, "Defaults"); }
void BM_RenderDownOneOctave(benchmark::State& state) { RenderWith(state, "Down One Octave"); }
void BM_RenderMadness(benchmark::State& state) { RenderWith(state, "Madness"); }

}  // namespace

BENCHMARK(BM_RenderDefaults)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderDownOneOctave)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_RenderMadness)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
