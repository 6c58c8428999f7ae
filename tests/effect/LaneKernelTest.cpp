// Channels side by side: ProcessChannels must give every channel exactly the output of its
// kernel processed alone, whatever the parameters, sample rate, block
// sizes, channel count and lane width, also when the channels' inputs differ so that their cycle
// analyses fall on different samples. Random cases from a fixed seed.
#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "tests/effect/EngineRig.h"

namespace {

// A channel's input: silence, a loud tone, noise, a glide or decaying plucks.
std::vector<float> Input(int kind, size_t frames, std::mt19937& rng)
{
    std::vector<float> s(frames, 0.f);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const double period = 20.0 + 900.0 * u(rng);
    double phase = u(rng);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i);
        switch (kind) {
        case 1: s[i] = static_cast<float>(0.95 * std::sin(2 * M_PI * (t / period + phase))); break;
        case 2: s[i] = static_cast<float>(u(rng) - 0.5); break;
        case 3:
            phase += 1.0 / (period * (1.0 + 2.0 * t / static_cast<double>(frames)));
            s[i] = static_cast<float>(0.5 * std::sin(2 * M_PI * phase) + 0.2 * std::sin(6 * M_PI * phase));
            break;
        case 4: {
            const double p = std::fmod(t, 4000.0);
            s[i] = static_cast<float>(0.6 * std::exp(-p / 600.0) * (2.0 * std::fmod(t / period, 1.0) - 1.0));
            break;
        }
        default: break;
        }
    }
    return s;
}

struct Unit {
    explicit Unit(UInt32 channels) : scratch(1024)
    {
        block.scratch = scratch.data();
        block.scratchFrames = 1024;
        for (UInt32 c = 0; c < channels; ++c) {
            owned.push_back(std::make_unique<CMarrowfinKernel>(nullptr, &block, SInt32(c)));
            kernels.push_back(owned.back().get());
        }
    }
    MarrowfinBlock block{};
    std::vector<float> scratch;
    std::vector<std::unique_ptr<CMarrowfinKernel>> owned;
    std::vector<CMarrowfinKernel*> kernels;
};

TEST(LaneKernel, ChannelsSideBySideMatchEachChannelAloneBitForBit)
{
    const UInt32 savedWidth = CMarrowfinKernel::ms_laneWidth;
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> unit(0.f, 1.f);
    const Float32 rates[] = {22050.f, 44100.f, 48000.f, 96000.f};
    EngineRig::EnableFlushToZero();

    for (int trial = 0; trial < 48; ++trial) {
        const UInt32 channels = trial == 0 ? 3 : 1 + rng() % 8;
        const UInt32 width = 2u << (trial % 3);  // 2, 4, 8
        const Float32 fs = rates[rng() % 4];
        const size_t frames = 6000 + rng() % 6000;

        Float32 params[kNumParams];
        FillPresetDefaults();
        const int preset = static_cast<int>(rng() % 11);
        for (UInt32 i = 0; i < kNumParams; ++i)
            params[i] = esPresets[preset].values[i];
        auto randomise = [&](UInt32 count) {
            for (UInt32 n = 0; n < count; ++n) {
                const UInt32 id = rng() % kNumParams;
                const ParamInfo& info = astParamInfos[id];
                params[id] = info.minValue + (info.maxValue - info.minValue) * unit(rng);
            }
        };
        randomise(rng() % 10);

        // The first case: one silent, one loud and one noisy channel.
        std::vector<std::vector<float>> in(channels), ref(channels), out(channels);
        for (UInt32 c = 0; c < channels; ++c) {
            in[c] = Input(trial == 0 ? static_cast<int>(c) : static_cast<int>(rng() % 5), frames, rng);
            ref[c].assign(frames, 0.f);
            out[c].assign(frames, 0.f);
        }

        Unit alone(channels), together(channels);
        for (size_t pos = 0; pos < frames;) {
            const UInt32 pick = rng() % 4;
            UInt32 n = pick == 0 ? 1 + rng() % 16 : pick == 1 ? 1 : 17 + rng() % 1000;
            n = static_cast<UInt32>(std::min<size_t>(n, frames - pos));
            if (rng() % 16 == 0)
                randomise(1);
            ComputeBlockControl(params, fs, n, alone.block);
            ComputeBlockControl(params, fs, n, together.block);

            for (UInt32 c = 0; c < channels; ++c) {
                bool silence = true;
                ASSERT_EQ(noErr, alone.kernels[c]->Process(in[c].data() + pos, ref[c].data() + pos, n, 1, silence));
            }
            CMarrowfinKernel::ms_laneWidth = width;
            std::vector<const Float32*> inPtrs(channels);
            std::vector<Float32*> outPtrs(channels);
            for (UInt32 c = 0; c < channels; ++c) {
                outPtrs[c] = out[c].data() + pos;
                inPtrs[c] = in[c].data() + pos;
                if (c & 1) {  // in place
                    std::memcpy(outPtrs[c], inPtrs[c], n * sizeof(float));
                    inPtrs[c] = outPtrs[c];
                }
            }
            ASSERT_EQ(noErr, CMarrowfinKernel::ProcessChannels(together.kernels.data(), inPtrs.data(), outPtrs.data(),
                                                               channels, n));
            pos += n;
        }
        CMarrowfinKernel::ms_laneWidth = savedWidth;

        for (UInt32 c = 0; c < channels; ++c) {
            const size_t diff = static_cast<size_t>(
                std::mismatch(ref[c].begin(), ref[c].end(), out[c].begin(),
                              [](float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; })
                    .first -
                ref[c].begin());
            ASSERT_EQ(diff, frames) << "trial " << trial << ", channel " << c << " of " << channels << ", width "
                                    << width << ", preset " << preset << ", " << fs << " Hz";
            EXPECT_EQ(alone.kernels[c]->period(), together.kernels[c]->period());
            EXPECT_EQ(alone.kernels[c]->writeIndex(), together.kernels[c]->writeIndex());
        }
    }
}

}  // namespace
