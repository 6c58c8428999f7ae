// Throughput of the channel kernels (band filters + cycle analysis + generation) of a unit with
// 1, 2 or 8 channels rendered side by side, reported as time per sample per channel, at 48 kHz
// for the default parameters and for the "Madness" preset, in blocks of 512, 32 and 1 frames; and
// for the default parameters on silence, where no cycle is found and every analysis scans its
// whole window (what lv2bench feeds the plug-in).
#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <cmath>
#include <cstring>
#include <memory>
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

void RunKernel(benchmark::State& state, int preset, bool silent = false)
{
    _mm_setcsr(_mm_getcsr() | 0x8040);
    const UInt32 blockFrames = static_cast<UInt32>(state.range(0));
    const UInt32 channels = static_cast<UInt32>(state.range(1));
    Float32 params[kNumParams];
    FillPresetDefaults();
    for (UInt32 i = 0; i < kNumParams; ++i)
        params[i] = esPresets[preset].values[i];
    std::vector<float> scratch(kMaxFrames);
    MarrowfinBlock block{};
    block.scratch = scratch.data();
    block.scratchFrames = kMaxFrames;
    std::vector<std::unique_ptr<CMarrowfinKernel>> kernels;
    std::vector<CMarrowfinKernel*> kernelPtrs;
    for (UInt32 c = 0; c < channels; ++c) {
        kernels.push_back(std::make_unique<CMarrowfinKernel>(nullptr, &block, SInt32(c)));
        kernelPtrs.push_back(kernels.back().get());
    }
    const std::vector<float> in = silent ? std::vector<float>(kSignalFrames) : TestSignal();
    std::vector<float> out(in.size() * channels);

    // The block records of consecutive blocks are computed up front, so the LFOs move as when
    // rendering but only the kernels are timed (BM_BlockControl times the records).
    constexpr size_t kRecords = 256;
    std::vector<MarrowfinBlock> records(kRecords);
    for (MarrowfinBlock& r : records) {
        ComputeBlockControl(params, kSampleRate, blockFrames, block);
        r = block;
    }

    // The block control leaves a record that does not change alone (no LFO at work), so only the
    // records that differ from the one before are written.
    std::vector<char> changed(kRecords);
    for (size_t i = 0; i < kRecords; ++i) {
        const MarrowfinBlock& a = records[i];
        const MarrowfinBlock& b = records[(i + kRecords - 1) % kRecords];
        changed[i] = std::memcmp(&a.preComp, &b.preComp, sizeof a.preComp) != 0 ||
                     std::memcmp(&a.preCompNoInterp, &b.preCompNoInterp, sizeof a.preCompNoInterp) != 0;
    }

    // Channel c reads the signal c * 37 frames later, so the channels' cycles start apart.
    std::vector<const Float32*> inPtrs(channels);
    std::vector<Float32*> outPtrs(channels);
    const size_t span = in.size() - 37 * channels;
    size_t pos = 0;
    size_t record = 0;
    for (auto _ : state) {
        if (pos + blockFrames > span)
            pos = 0;
        if (changed[record]) {
            const MarrowfinBlock& r = records[record];
            block.preComp = r.preComp;
            block.preCompNoInterp = r.preCompNoInterp;
        }
        record = (record + 1) % kRecords;
        for (UInt32 c = 0; c < channels; ++c) {
            inPtrs[c] = in.data() + pos + 37 * c;
            outPtrs[c] = out.data() + in.size() * c + pos;
        }
        CMarrowfinKernel::ProcessChannels(kernelPtrs.data(), inPtrs.data(), outPtrs.data(), channels, blockFrames);
        benchmark::DoNotOptimize(out[pos]);
        pos += blockFrames;
    }
    // Per-sample cost of one channel, in seconds (shown with an SI prefix, e.g. "12.3n").
    state.counters["per_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * blockFrames * channels,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_KernelDefaults(benchmark::State& state) { RunKernel(state, 0); }
void BM_KernelMadness(benchmark::State& state) { RunKernel(state, 10); }
void BM_KernelSilence(benchmark::State& state) { RunKernel(state, 0, true); }

// {block frames, channels}
void KernelArgs(benchmark::internal::Benchmark* b)
{
    for (int frames : {512, 32, 1})
        for (int channels : {1, 2, 8})
            b->Args({frames, channels});
}

}  // namespace

BENCHMARK(BM_KernelDefaults)->Apply(KernelArgs);
BENCHMARK(BM_KernelMadness)->Apply(KernelArgs);
BENCHMARK(BM_KernelSilence)->Apply(KernelArgs);
