// Block control: filter stability, the sine, LFO phases, parameter mending and the editor smoothing.
#include <gtest/gtest.h>

#include <cmath>
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

TEST(BlockControl, EditorDataSmoothsTowardsTheKernels)
{
    MarrowfinBlock block{};
    std::vector<float> scratch(4096);
    block.scratch = scratch.data();
    block.scratchFrames = 4096;
    CMarrowfinKernel k0(nullptr, &block, 0);
    const CMarrowfinKernel* kernels[2] = {&k0, nullptr};
    DataToGuiAnalysis gui{};
    // After reset: period 1023, no lock; the display moves there step by step.
    UpdateDataToGui(gui, 44100.f, 512, kernels);
    EXPECT_GT(gui.frequency[0], 0.f);
    EXPECT_LT(gui.frequency[0], 44100.f / 1023.f);
    for (int i = 0; i < 200; ++i)
        UpdateDataToGui(gui, 44100.f, 512, kernels);
    EXPECT_NEAR(gui.frequency[0], 44100.f / 1023.f, 1e-3);
    EXPECT_TRUE(gui.noLock[0]);
    EXPECT_EQ(gui.frequency[1], 0.f);  // no second kernel: untouched
    EXPECT_FALSE(gui.noLock[1]);
}

}  // namespace
