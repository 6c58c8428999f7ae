// End-to-end renders through the built `marrowfin`: formats preserved, latency compensation,
// saved states, block-size independence, sample formats and the demo.
#include <gtest/gtest.h>

#include "tests/apps/AppTestSupport.h"

using namespace apptest;

namespace {

std::vector<std::string> Args(std::initializer_list<std::string> list) { return list; }

// The render's result file must be the only thing left in the folder besides the inputs.
void ExpectNoTempFiles(const TempDir& dir) {
    for (const std::string& name : dir.Entries()) EXPECT_NE(name[0], '.') << "left behind: " << name;
}

}  // namespace

TEST(Render, KeepsChannelsRateAndLengthForManyLayouts) {
    struct Case {
        int rate, channels;
        double seconds;
        const char* outName;
        int expectFormat;
    } cases[] = {
        {44100, 1, 0.5, "mono.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {48000, 2, 0.4, "stereo.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {22050, 3, 0.3, "three.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {96000, 2, 0.2, "hi.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.outName);
        Audio in = MakeSignal(c.rate, c.channels, c.seconds);
        const std::string inPath = dir / (std::string("in-") + std::to_string(c.channels) + ".wav");
        WriteAudio(inPath, in);
        for (bool compensate : {false, true}) {
            std::vector<std::string> args = {"render", inPath, dir / c.outName, "--preset", "Down One Octave", "-q"};
            if (compensate) args.push_back("--compensate-latency");
            RunResult r = RunApp(args);
            ASSERT_EQ(r.status, 0) << r.err;
            Audio out = ReadAudio(dir / c.outName);
            EXPECT_EQ(out.sampleRate, c.rate);
            EXPECT_EQ(out.channels, c.channels);
            EXPECT_EQ(out.Frames(), in.Frames());
            EXPECT_EQ(out.format, c.expectFormat);
            double energy = 0;
            for (float v : out.samples) energy += double(v) * v;
            EXPECT_GT(energy, 0.0) << "the effect produced silence";
        }
    }
    ExpectNoTempFiles(dir);
}

TEST(Render, CompensatedDryPathGivesTheInputBackExactly) {
    TempDir dir;
    for (int channels : {1, 2}) {
        Audio in = MakeSignal(44100, channels, 0.6);
        WriteAudio(dir / "in.wav", in);
        for (const char* block : {"1", "333", "4096"}) {
            SCOPED_TRACE(std::to_string(channels) + " channels, block " + block);
            RunResult r = RunApp(Args({"render", dir / "in.wav", dir / "out.wav", "--set", "Wet Level=0", "--set",
                                       "Dry Level=1", "--compensate-latency", "--block", block, "-q"}));
            ASSERT_EQ(r.status, 0) << r.err;
            Audio out = ReadAudio(dir / "out.wav");
            ASSERT_EQ(out.samples.size(), in.samples.size());
            size_t mismatches = 0;
            for (size_t i = 0; i < in.samples.size(); ++i) mismatches += out.samples[i] != in.samples[i];
            EXPECT_EQ(mismatches, 0u);
        }
    }
}

TEST(Render, UncompensatedOutputIsDelayedByTheLatency) {
    TempDir dir;
    Audio in = MakeSignal(48000, 1, 0.3);
    WriteAudio(dir / "in.wav", in);
    RunResult r = RunApp(Args({"render", dir / "in.wav", dir / "out.wav", "--set", "Wet Level=0", "--set",
                               "Dry Level=1", "-q"}));
    ASSERT_EQ(r.status, 0) << r.err;
    Audio out = ReadAudio(dir / "out.wav");
    ASSERT_EQ(out.Frames(), in.Frames());
    const size_t w = 960;  // 20 ms at 48 kHz
    for (size_t i = 0; i < w; ++i) ASSERT_EQ(out.samples[i], 0.0f) << i;
    for (size_t i = w; i < out.samples.size(); ++i) ASSERT_EQ(out.samples[i], in.samples[i - w]) << i;
}

TEST(Render, SavedStateReproducesTheSameOutput) {
    TempDir dir;
    WriteAudio(dir / "in.wav", MakeSignal(44100, 2, 0.5));
    RunResult first = RunApp(Args({"render", dir / "in.wav", dir / "a.wav", "--preset", "4", "--set",
                                   "Filter Q=0.5", "--set", "25=2000", "--save-state", dir / "s.aupreset", "-q"}));
    ASSERT_EQ(first.status, 0) << first.err;
    std::ifstream state(dir / "s.aupreset");
    std::string text((std::istreambuf_iterator<char>(state)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("<plist"), std::string::npos);

    RunResult second = RunApp(Args({"render", dir / "in.wav", dir / "b.wav", "--state", dir / "s.aupreset", "-q"}));
    ASSERT_EQ(second.status, 0) << second.err;
    RunResult plain = RunApp(Args({"render", dir / "in.wav", dir / "c.wav", "-q"}));
    ASSERT_EQ(plain.status, 0) << plain.err;

    Audio a = ReadAudio(dir / "a.wav"), b = ReadAudio(dir / "b.wav"), c = ReadAudio(dir / "c.wav");
    EXPECT_EQ(a.samples, b.samples);
    EXPECT_NE(a.samples, c.samples) << "the state changed nothing, so the comparison proves nothing";

    // --set after --state wins over the state's value.
    RunResult over = RunApp(Args({"render", dir / "in.wav", dir / "d.wav", "--state", dir / "s.aupreset", "--set",
                                  "Filter Q=0.1", "--set", "Filter Cutoff=1000", "-q"}));
    ASSERT_EQ(over.status, 0) << over.err;
    EXPECT_NE(ReadAudio(dir / "d.wav").samples, a.samples);
}

TEST(Render, BlockSizeDoesNotChangeTheOutput) {
    TempDir dir;
    WriteAudio(dir / "in.wav", MakeSignal(48000, 2, 0.4));
    for (const char* preset : {"Defaults", "Down One Octave", "Ring Mod"}) {
        SCOPED_TRACE(preset);
        std::vector<float> reference;
        for (const char* block : {"512", "1", "4096", "77"}) {
            RunResult r = RunApp(Args({"render", dir / "in.wav", dir / "out.wav", "--preset", preset,
                                       "--set", "Pitch LFO Amount Fine=0", "--block", block, "-q"}));
            ASSERT_EQ(r.status, 0) << r.err;
            Audio out = ReadAudio(dir / "out.wav");
            if (reference.empty())
                reference = out.samples;
            else
                EXPECT_EQ(out.samples, reference) << "block " << block;
        }
    }
}

TEST(Render, IntegerOutputClipsInsteadOfWrapping) {
    TempDir dir;
    Audio in;
    in.sampleRate = 44100;
    in.channels = 1;
    in.samples.assign(44100 / 4, 1.5f);
    for (size_t i = 0; i < in.samples.size(); i += 2) in.samples[i] = -1.5f;
    WriteAudio(dir / "loud.wav", in);
    RunResult r = RunApp(Args({"render", dir / "loud.wav", dir / "out.wav", "--sample-format", "pcm16", "--set",
                               "Wet Level=0", "--set", "Dry Level=1", "--compensate-latency", "-q"}));
    ASSERT_EQ(r.status, 0) << r.err;
    Audio out = ReadAudio(dir / "out.wav");
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    for (size_t i = 0; i < out.samples.size(); ++i) ASSERT_NEAR(std::fabs(out.samples[i]), 1.0f, 1e-4f) << i;
}

TEST(Render, DemoRendersTenSecondsOfPitchedBass) {
    TempDir dir;
    RunResult r = RunApp(Args({"demo", dir / "demo.wav", "-q"}));
    ASSERT_EQ(r.status, 0) << r.err;
    Audio out = ReadAudio(dir / "demo.wav");
    EXPECT_EQ(out.sampleRate, 48000);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.Frames(), 480000);
    float peak = 0;
    for (float v : out.samples) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.05f);
    EXPECT_LT(peak, 4.0f);

    // Another preset changes the result; the input itself is the same from run to run.
    ASSERT_EQ(RunApp(Args({"demo", dir / "again.wav", "-q"})).status, 0);
    EXPECT_EQ(ReadAudio(dir / "again.wav").samples, out.samples);
    ASSERT_EQ(RunApp(Args({"demo", dir / "ring.wav", "--preset", "Ring Mod", "-q"})).status, 0);
    EXPECT_NE(ReadAudio(dir / "ring.wav").samples, out.samples);
}
