// Golden output: fixed inputs through several presets, hashed sample for sample. Any change of
// the engine's arithmetic (an operation order, a precision, a constant) changes a hash. The hashes
// were taken from this implementation after checking it step by step against its definition;
// update them only for a deliberate change of the sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/effect/EngineRig.h"

namespace {

// A gliding tone (80 Hz to 900 Hz) with two harmonics, a level swell and a little noise, so that
// the analysis locks, loses lock and relocks, and every path of the mix is exercised.
std::vector<float> GoldenInput(double fs, size_t frames)
{
    std::vector<float> s(frames);
    double phase = 0;
    uint32_t seed = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / static_cast<double>(frames);
        phase += (80.0 * std::pow(900.0 / 80.0, t)) / fs;
        const double level = 0.05 + 0.6 * std::sin(M_PI * t * 3.0) * std::sin(M_PI * t * 3.0);
        seed = seed * 1664525u + 1013904223u;
        const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.02;
        s[i] = static_cast<float>(level * (std::sin(2 * M_PI * phase) + 0.3 * std::sin(4 * M_PI * phase) +
                                           0.2 * std::sin(6 * M_PI * phase + 1.0)) + noise);
    }
    return s;
}

uint64_t Fnv1a(const std::vector<float>& samples)
{
    uint64_t h = 14695981039346656037ull;
    for (float v : samples) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        for (int b = 0; b < 4; ++b) {
            h ^= (bits >> (8 * b)) & 0xffu;
            h *= 1099511628211ull;
        }
    }
    return h;
}

// The same input on every channel of a unit rendered side by side (CMarrowfinKernel::ProcessChannels).
std::vector<std::vector<float>> RenderChannels(const EngineRig& settings, const std::vector<float>& in,
                                               UInt32 blockFrames, UInt32 channels)
{
    MarrowfinBlock block{};
    std::vector<float> scratch(settings.scratch.size());
    block.scratch = scratch.data();
    block.scratchFrames = static_cast<UInt32>(scratch.size());
    std::vector<std::unique_ptr<CMarrowfinKernel>> owned;
    std::vector<CMarrowfinKernel*> kernels;
    for (UInt32 c = 0; c < channels; ++c) {
        owned.push_back(std::make_unique<CMarrowfinKernel>(nullptr, &block, SInt32(c)));
        kernels.push_back(owned.back().get());
    }
    std::vector<std::vector<float>> out(channels, std::vector<float>(in.size()));
    std::vector<const Float32*> inPtrs(channels);
    std::vector<Float32*> outPtrs(channels);
    EngineRig::EnableFlushToZero();
    for (size_t pos = 0; pos < in.size(); pos += blockFrames) {
        const UInt32 n = static_cast<UInt32>(std::min<size_t>(blockFrames, in.size() - pos));
        ComputeBlockControl(settings.params, settings.fs, n, block);
        for (UInt32 c = 0; c < channels; ++c) {
            inPtrs[c] = in.data() + pos;
            outPtrs[c] = out[c].data() + pos;
        }
        EXPECT_EQ(noErr, CMarrowfinKernel::ProcessChannels(kernels.data(), inPtrs.data(), outPtrs.data(), channels, n));
    }
    return out;
}

struct Golden {
    int preset;
    Float32 fs;
    UInt32 blockFrames;
    uint64_t hash;
};

TEST(GoldenOutput, PresetsRenderBitForBit)
{
    const Golden cases[] = {
        {0, 44100.f, 512, 6258003597093620536ull},   {1, 44100.f, 512, 17972645565845801564ull},
        {2, 48000.f, 256, 10257289625737422126ull},  {3, 44100.f, 512, 9769456016481062559ull},
        {4, 44100.f, 512, 8913991945692024365ull},   {5, 48000.f, 512, 9528444014452196842ull},
        {6, 44100.f, 128, 14398769333594452098ull},  {7, 44100.f, 512, 10715569122427679931ull},
        {8, 96000.f, 512, 9183873660254755359ull},   {9, 44100.f, 512, 13828054835949396821ull},
        {10, 44100.f, 512, 12497065996144855975ull}, {10, 48000.f, 1000, 14875098244339855540ull},
        // Tiny blocks take their own path through the kernel.
        {10, 44100.f, 1, 527798805159712006ull},    {9, 48000.f, 5, 4804637989002030797ull},
    };
    for (const Golden& g : cases) {
        EngineRig rig(g.fs, 1024);
        rig.SetPreset(g.preset);
        const std::vector<float> in = GoldenInput(g.fs, 3 * static_cast<size_t>(g.fs));
        const std::vector<float> out = rig.Render(in, g.blockFrames);
        for (float v : out)
            ASSERT_TRUE(std::isfinite(v)) << g.preset;
        EXPECT_EQ(Fnv1a(out), g.hash) << "preset " << g.preset << " at " << g.fs << " Hz, blocks of " << g.blockFrames;
        // Stereo and six channels side by side: every channel is the mono output.
        for (UInt32 channels : {2u, 6u}) {
            const std::vector<std::vector<float>> multi = RenderChannels(rig, in, g.blockFrames, channels);
            for (UInt32 c = 0; c < channels; ++c)
                EXPECT_EQ(Fnv1a(multi[c]), g.hash) << "preset " << g.preset << ", channel " << c << " of " << channels;
        }
    }
}

}  // namespace
