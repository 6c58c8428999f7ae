// Cost of the block control computation (PreRender's work) per block.
#include <benchmark/benchmark.h>

#include "effect/MarrowfinDSP.h"

namespace {

void RunBlockControl(benchmark::State& state, int preset)
{
    Float32 params[kNumParams];
    FillPresetDefaults();
    for (UInt32 i = 0; i < kNumParams; ++i)
        params[i] = esPresets[preset].values[i];
    params[kParam_OscPitch] = static_cast<Float32>(state.range(0));  // 0 tracks, otherwise fixed pitch
    MarrowfinBlock block{};
    for (auto _ : state) {
        ComputeBlockControl(params, 48000.f, 512, block);
        benchmark::DoNotOptimize(block);
    }
}

void BM_BlockControlDefaults(benchmark::State& state) { RunBlockControl(state, 0); }
void BM_BlockControlMadness(benchmark::State& state) { RunBlockControl(state, 10); }

}  // namespace

BENCHMARK(BM_BlockControlDefaults)->Arg(0)->Arg(60);
BENCHMARK(BM_BlockControlMadness)->Arg(0)->Arg(60);
