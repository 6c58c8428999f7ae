// A minimal stand-in for the effect unit around one channel kernel: parameter values, block
// records, scratch buffer and the render's flush-to-zero mode, block by block as PreRender does.
#pragma once

#include <xmmintrin.h>

#include <algorithm>
#include <vector>

#include "effect/MarrowfinKernel.h"

struct EngineRig {
    explicit EngineRig(Float32 sampleRate = 44100.f, UInt32 maxFrames = 4096)
        : fs(sampleRate), scratch(maxFrames), kernel(nullptr, &block, 0)
    {
        for (UInt32 i = 0; i < kNumParams; ++i)
            params[i] = astParamInfos[i].defaultValue;
        block.scratch = scratch.data();
        block.scratchFrames = maxFrames;
    }

    void SetPreset(int n)
    {
        FillPresetDefaults();
        for (UInt32 i = 0; i < kNumParams; ++i)
            params[i] = esPresets[n].values[i];
    }

    // Renders `in` into `out` in blocks of `blockFrames`, computing the block control before each.
    void Render(const float* in, float* out, size_t frames, UInt32 blockFrames)
    {
        EnableFlushToZero();
        for (size_t pos = 0; pos < frames; pos += blockFrames) {
            const UInt32 n = static_cast<UInt32>(std::min<size_t>(blockFrames, frames - pos));
            ComputeBlockControl(params, fs, n, block);
            bool silence = true;
            kernel.Process(in + pos, out + pos, n, 1, silence);
        }
    }
    std::vector<float> Render(const std::vector<float>& in, UInt32 blockFrames = 512)
    {
        std::vector<float> out(in.size());
        Render(in.data(), out.data(), in.size(), blockFrames);
        return out;
    }

    // The framework's render mode: flush denormal results and treat denormal inputs as zero.
    static void EnableFlushToZero() { _mm_setcsr(_mm_getcsr() | 0x8040); }

    Float32 params[kNumParams];
    Float32 fs;
    MarrowfinBlock block{};
    std::vector<float> scratch;
    CMarrowfinKernel kernel;
};
