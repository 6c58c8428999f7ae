// Throughput of one channel kernel (band filters + cycle analysis + generation), reported as
// time per sample, at 48 kHz for the default parameters and for the "Madness" preset.
#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <cmath>
#include <vector>

#include "effect/MarrowfinKernel.h"

namespace {

constexpr Float32 kSampleRate = 48000.f;
constexpr UInt32 kMaxFrames = 4096;
constexpr size_t kSignalFrames = 1 << 16;

// A pitched input with harmonics and a slow level change, so the analysis locks and the
// envelope moves as it would on a played note.
std::vector<float> TestSignal()
{
    std::vector<float> s(kSignalFrames);
    for (size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        const double level = 0.3 + 0.25 * std::sin(2.0 * M_PI * 1.5 * t);
        s[i] = static_cast<float>(level * (std::sin(2.0 * M_PI * 196.0 * t) + 0.4 * std::sin(2.0 * M_PI * 392.0 * t) +
                                           0.2 * std::sin(2.0 * M_PI * 588.0 * t)));
    }
    return s;
}

void RunKernel(benchmark::State& state, int preset)
{
    _mm_setcsr(_mm_getcsr() | 0x8040);
    const UInt32 blockFrames = static_cast<UInt32>(state.range(0));
    Float32 params[kNumParams];
    FillPresetDefaults();
    for (UInt32 i = 0; i < kNumParams; ++i)
        params[i] = esPresets[preset].values[i];
    std::vector<float> scratch(kMaxFrames);
    MarrowfinBlock block{};
    block.scratch = scratch.data();
    block.scratchFrames = kMaxFrames;
    CMarrowfinKernel kernel(nullptr, &block, 0);
    const std::vector<float> in = TestSignal();
    std::vector<float> out(in.size());

    // The block records of consecutive blocks are computed up front, so the LFOs move as when
    // rendering but only the kernel is timed (BM_BlockControl times the records).
    constexpr size_t kRecords = 256;
    std::vector<MarrowfinBlock> records(kRecords);
    for (MarrowfinBlock& r : records) {
        ComputeBlockControl(params, kSampleRate, blockFrames, block);
        r = block;
    }

    size_t pos = 0;
    size_t record = 0;
    for (auto _ : state) {
        if (pos + blockFrames > in.size())
            pos = 0;
        block = records[record];
        record = (record + 1) % kRecords;
        bool silence = false;
        kernel.Process(in.data() + pos, out.data() + pos, blockFrames, 1, silence);
        benchmark::DoNotOptimize(out[pos]);
        pos += blockFrames;
    }
    // Per-sample cost of one channel, in seconds (shown with an SI prefix, e.g. "12.3n").
    state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * blockFrames,
                                                      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_KernelDefaults(benchmark::State& state) { RunKernel(state, 0); }
void BM_KernelMadness(benchmark::State& state) { RunKernel(state, 10); }

}  // namespace

BENCHMARK(BM_KernelDefaults)->Arg(512)->Arg(1);
BENCHMARK(BM_KernelMadness)->Arg(512)->Arg(1);
