// Channel kernel: what the golden output hashes do not reach: periods too long to lock,
// parameter and input mending, and the format check.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "effect/MarrowfinScanWindow.h"
#include "tests/effect/EngineRig.h"

namespace {

// A sine of `period` samples (an integer period repeats sample for sample).
std::vector<float> Sine(double period, size_t frames)
{
    std::vector<float> s(frames);
    for (size_t i = 0; i < frames; ++i)
        s[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * std::fmod(static_cast<double>(i), period) / period));
    return s;
}

// Deterministic noise in [-0.5, 0.5).
std::vector<float> Noise(size_t frames, uint32_t seed = 1)
{
    std::vector<float> s(frames);
    for (float& v : s) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(seed >> 8) / 16777216.f - 0.5f;
    }
    return s;
}

TEST(KernelAnalysis, ThirtyHertzNeverLocksAndSilenceKeepsTheReset)
{
    EngineRig rig(44100.f);
    const std::vector<float> in = Sine(1470.0, 44100);
    std::vector<float> out(in.size());
    for (size_t pos = 0; pos < in.size(); ++pos) {
        rig.Render(in.data() + pos, out.data() + pos, 1, 1);
        ASSERT_TRUE(rig.kernel.period() == 1023u || rig.kernel.period() < 882u) << rig.kernel.period();
    }
    EngineRig quiet(44100.f);
    quiet.Render(std::vector<float>(10000, 0.f));
    EXPECT_EQ(quiet.kernel.period(), 1023u);
    EXPECT_TRUE(quiet.kernel.noLock());
    EXPECT_EQ(quiet.kernel.cycleEnv(), 0.f);
}

// The wide scan against the baseline one on band columns made of the values that decide a
// crossing (zeros of both signs, NaN, values just either side of 0), every start near the ring's
// end so windows wrap, and runs of one sign so crossings fall at every offset of a group.
TEST(KernelAnalysis, WideScanFindsWhatTheBaselineScanFinds)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {0.f, -0.f, nan, 1e-30f, -1e-30f, 0.5f, -0.5f, 0.25f, -1.f};
    std::vector<float> ring(2 * kMarrowfinRingFrames + 16);
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    for (int trial = 0; trial < 400; ++trial) {
        for (UInt32 f = 0; f < kMarrowfinRingFrames;) {
            const float v = values[(next() >> 8) % 9];
            for (UInt32 n = 1 + (next() >> 8) % 19; n > 0 && f < kMarrowfinRingFrames; --n, ++f)
                ring[2 * f + 1] = trial % 2 ? v : values[(next() >> 8) % 9];
        }
        const UInt32 start = (kMarrowfinRingFrames - 40 + (next() >> 8) % 80) & kMarrowfinRingMask;
        const UInt32 frames = (next() >> 8) % 1024;
        UInt32 foundWide = 99, foundBase = 99;
        const float wide = MarrowfinScanWindow(ring.data(), start, frames, foundWide, true);
        const float base = MarrowfinScanWindow(ring.data(), start, frames, foundBase, false);
        ASSERT_EQ(foundWide, foundBase) << "trial " << trial;
        ASSERT_EQ(std::memcmp(&wide, &base, sizeof wide), 0) << "trial " << trial << ": " << wide << " vs " << base;
    }
}

TEST(KernelMending, NoParameterValueMakesTheOutputNonFinite)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> in = [] {
        std::vector<float> s = Sine(266.7, 9600);
        const std::vector<float> n = Noise(9600);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] += 0.2f * n[i];
        return s;
    }();
    for (int base : {0, 10, 4})
        for (UInt32 id = 0; id < kNumParams; ++id)
            for (float v : {std::numeric_limits<float>::quiet_NaN(), inf, -inf, 1e30f, -1e30f,
                            astParamInfos[id].minValue, astParamInfos[id].maxValue, 5.f}) {
                EngineRig rig(48000.f);
                rig.SetPreset(base);
                rig.params[id] = v;
                for (float x : rig.Render(in, 256))
                    ASSERT_TRUE(std::isfinite(x)) << "preset " << base << " id " << id << " value " << v;
            }
    // Every parameter at one limit at once, a few seconds long.
    for (bool atMax : {false, true}) {
        EngineRig rig(48000.f);
        for (UInt32 id = 0; id < kNumParams; ++id)
            rig.params[id] = atMax ? astParamInfos[id].maxValue : astParamInfos[id].minValue;
        for (int round = 0; round < 20; ++round)
            for (float v : rig.Render(in, 512))
                ASSERT_TRUE(std::isfinite(v)) << atMax;
    }
}

TEST(KernelMending, NonFiniteInputStaysInsideTheRing)
{
    EngineRig rig(44100.f);
    rig.SetPreset(10);
    std::vector<float> in = Sine(147.0, 8000);
    in[100] = std::numeric_limits<float>::quiet_NaN();
    in[2000] = std::numeric_limits<float>::infinity();
    in[3000] = -1e38f;
    rig.Render(in);
    const CMarrowfinKernel::State& st = rig.kernel.state();
    EXPECT_GE(st.period, 1u);
    EXPECT_LE(st.period, 1023u);
    EXPECT_LT(st.readStart, kMarrowfinRingFrames);
    EXPECT_LT(rig.kernel.writeIndex(), kMarrowfinRingFrames);

    // Huge but finite input gives finite output.
    EngineRig loud(44100.f);
    std::vector<float> big = Sine(147.0, 8000);
    for (float& v : big)
        v *= 1e30f;
    for (float v : loud.Render(big))
        ASSERT_TRUE(std::isfinite(v));
}

TEST(KernelFormat, RefusesInterleavedBuffersAndOversizedBlocksWithoutChangingState)
{
    EngineRig rig(44100.f, 64);
    ComputeBlockControl(rig.params, rig.fs, 64, rig.block);
    std::vector<float> in(128, 0.25f), out(128, 7.f);
    bool silence = true;
    EXPECT_EQ(rig.kernel.Process(in.data(), out.data(), 64, 2, silence), kAudioUnitErr_FormatNotSupported);
    EXPECT_EQ(rig.kernel.Process(in.data(), out.data(), 65, 1, silence), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_TRUE(silence);
    EXPECT_EQ(out[0], 7.f);
    EXPECT_EQ(rig.kernel.writeIndex(), 0u);
    EXPECT_EQ(rig.kernel.state().countdown, 0u);

    EXPECT_EQ(rig.kernel.Process(in.data(), out.data(), 64, 1, silence), noErr);
    EXPECT_FALSE(silence);  // never declared silent
    EXPECT_EQ(rig.kernel.writeIndex(), 64u);
}

}  // namespace
