// Block control: filter stability, the sine, LFO phases, parameter mending and the editor smoothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>

#include "effect/MarrowfinKernel.h"

namespace {

struct Control {
    explicit Control(Float32 sampleRate = 44100.f) : fs(sampleRate)
    {
        for (UInt32 i = 0; i < kNumParams; ++i)
            params[i] = astParamInfos[i].defaultValue;
    }
    const PreCompNoInterp& Compute(UInt32 frames = 512)
    {
        ComputeBlockControl(params, fs, frames, block);
        return block.preCompNoInterp;
    }
    Float32 params[kNumParams];
    Float32 fs;
    MarrowfinBlock block{};
};

TEST(BlockControl, CoefficientsNeverExceedTheStableBound)
{
    const float bound = static_cast<float>(2.0 * std::sin(M_PI / 4.0));
    for (Float32 fs : {8000.f, 192000.f}) {
        Control k(fs);
        k.params[kParam_LowpassCutoff] = k.params[kParam_HighpassCutoff] = 1000.f;
        k.params[kParam_FilterCutoff] = 12000.f;
        k.params[kParam_FilterEnvDepth] = 16.f;
        const PreCompNoInterp& pc = k.Compute();
        for (float coef : {pc.lpCoef, pc.hpCoef, pc.filterCoef, pc.filterCoef + pc.filterCoefEnv})
            EXPECT_LE(coef, bound) << fs;
        for (float damp : {pc.lpDamp, pc.hpDamp, pc.filterDamp})
            EXPECT_GE(damp, 0.f) << fs;
    }
}

TEST(BlockControl, NegativeCutoffHoldsTheFilter)
{
    Control c;
    // Cutoff 50 Hz, LFO depth 3 octaves, square LFO at -1: the mapped cutoff is negative.
    c.params[kParam_FilterCutoff] = 50.f;
    c.params[kParam_FilterLFOAmount] = 3.f;
    c.params[kParam_FilterLFOShape] = 3.f;
    c.params[kParam_FilterLFOSpeed] = 0.05f;
    const PreCompNoInterp& pc = c.Compute(1);  // phase just above 0: saw < 0, square -1
    EXPECT_EQ(pc.filterCoef, 0.f);
    EXPECT_EQ(pc.filterCoefEnv, 0.f);
    EXPECT_TRUE(std::isfinite(pc.filterDamp));
}

TEST(BlockControl, LFOPhasesWrap)
{
    Control c;
    c.params[kParam_PitchLFOSpeed] = 20.f;
    for (int i = 0; i < 1000; ++i) {
        c.Compute(4096);
        ASSERT_GE(c.block.lfo.pitchLfoPhase, 0.f);
        ASSERT_LT(c.block.lfo.pitchLfoPhase, 1.f);
    }
}

// The block control skips the waveform of an LFO at depth 0; the pulse width must still come out
// as the full formula gives it, -0 widths included.
TEST(BlockControl, PulseWidthAtLFODepthZeroMatchesTheFullFormula)
{
    for (float shape : {0.f, 1.f, 3.f, 4.f})
        for (float depth : {0.f, -0.f})
            for (float width : {-0.f, 0.f, 37.f}) {
                Control c;
                c.params[kParam_PWMLFOShape] = shape;
                c.params[kParam_PWMLFOAmount] = depth;
                c.params[kParam_PulseWidth] = width;
                c.params[kParam_PWMLFOSpeed] = 3.f;
                for (int block = 0; block < 8; ++block) {
                    const float got = c.Compute(900).pulseWidth;
                    const float want = (LFO(c.block.lfo.pwmLfoPhase, shape) * depth + width) * 0.01f;
                    ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0) << shape << " " << depth << " " << width;
                }
            }
}

TEST(BlockControl, SanitizeMendsNonFiniteAndOutOfRangeValues)
{
    Float32 raw[kNumParams];
    Float32 out[kNumParams];
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, float ParamInfo::*> cases[] = {{std::numeric_limits<float>::quiet_NaN(), &ParamInfo::defaultValue},
                                                          {inf, &ParamInfo::defaultValue},
                                                          {1e30f, &ParamInfo::maxValue},
                                                          {-1e30f, &ParamInfo::minValue}};
    for (const auto& [bad, mended] : cases) {
        std::fill(raw, raw + kNumParams, bad);
        SanitizeParams(raw, out);
        for (UInt32 i = 0; i < kNumParams; ++i)
            EXPECT_EQ(out[i], astParamInfos[i].*mended) << i << " " << bad;
    }
    // "Filter Q" 5 would make the damping negative; it is taken as 1.
    Control c;
    c.params[kParam_FilterQ] = 5.f;
    EXPECT_EQ(c.Compute().filterDamp, 0.f);
    EXPECT_EQ(c.params[kParam_FilterQ], 5.f);  // the stored value is untouched
}

// Blocks that reuse earlier results must equal a computation from scratch, bit for bit, while
// single parameters (also -0 against +0), the sample rate and the block length change.
TEST(BlockControl, ReusedResultsEqualAFullComputation)
{
    Control k(48000.f);
    uint32_t seed = 7;
    for (int block = 0; block < 400; ++block) {
        seed = seed * 1664525u + 1013904223u;
        const UInt32 id = (seed >> 8) % kNumParams;
        const ParamInfo& info = astParamInfos[id];
        if (block % 3 == 0)
            k.params[id] = info.minValue + (info.maxValue - info.minValue) * static_cast<float>(seed >> 16) / 65536.f;
        if (block % 50 == 25)
            k.fs = k.fs == 48000.f ? 44100.f : 48000.f;
        if (block == 100)
            k.params[kParam_FilterCutoff] = -0.f;
        const UInt32 frames = 1 + (seed >> 4) % 600;

        MarrowfinBlock fresh{};
        fresh.lfo = k.block.lfo;
        ComputeBlockControl(k.params, k.fs, frames, fresh);
        k.Compute(frames);
        ASSERT_EQ(0, std::memcmp(&fresh.preComp, &k.block.preComp, sizeof fresh.preComp)) << block;
        // Field by field: the record has padding after its switches. While the pitch is tracked
        // the fixed-pitch increments keep older values.
        const PreCompNoInterp& a = fresh.preCompNoInterp;
        const PreCompNoInterp& b = k.block.preCompNoInterp;
        if (a.trackPitch) {
            fresh.preCompNoInterp.oscInc = b.oscInc;
            fresh.preCompNoInterp.oscIncEnv = b.oscIncEnv;
        }
        ASSERT_EQ(0, std::memcmp(&a, &b, offsetof(PreCompNoInterp, trackPitch))) << block;
        ASSERT_EQ(a.trackPitch, b.trackPitch);
        ASSERT_EQ(a.syncCycles, b.syncCycles);
        ASSERT_EQ(a.window, b.window);
    }
}

TEST(BlockControl, EditorDataSmoothsTowardsTheKernels)
{
    MarrowfinBlock block{};
    std::vector<float> scratch(4096);
    block.scratch = scratch.data();
    block.scratchFrames = 4096;
    CMarrowfinKernel k0(nullptr, &block, 0);
    const CMarrowfinKernel* kernels[2] = {&k0, nullptr};
    DataToGuiAnalysis gui{};
    MarrowfinSmoothing smoothing{};
    // After reset: period 1023, no lock; the display moves there step by step.
    UpdateDataToGui(gui, smoothing, 44100.f, 512, kernels);
    EXPECT_GT(gui.frequency[0], 0.f);
    EXPECT_LT(gui.frequency[0], 44100.f / 1023.f);
    for (int i = 0; i < 200; ++i)
        UpdateDataToGui(gui, smoothing, 44100.f, 512, kernels);
    EXPECT_NEAR(gui.frequency[0], 44100.f / 1023.f, 1e-3);
    EXPECT_TRUE(gui.noLock[0]);
    EXPECT_EQ(gui.frequency[1], 0.f);  // no second kernel: untouched
    EXPECT_FALSE(gui.noLock[1]);
    // Another block length renews the kept coefficient: the step equals one from an empty cache.
    DataToGuiAnalysis kept{}, fresh{};
    MarrowfinSmoothing empty{};
    UpdateDataToGui(kept, smoothing, 44100.f, 64, kernels);
    UpdateDataToGui(fresh, empty, 44100.f, 64, kernels);
    EXPECT_EQ(kept.frequency[0], fresh.frequency[0]);
}

}  // namespace
