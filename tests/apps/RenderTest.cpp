// End-to-end renders through the built `marrowfin`: formats preserved, latency compensation,
// saved states, sample formats and the demo.
#include "tests/apps/AppTestSupport.h"

using namespace apptest;

namespace {

std::vector<float> Render(const ScopedTestFolders& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {"render", dir / "in.wav", dir / "out.wav", "-q"});
    RunResult r = RunApp(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? ReadAudioFile(dir / "out.wav").samples : std::vector<float>{};
}

}  // namespace

TEST(Render, KeepsChannelsRateAndLengthForManyLayouts) {
    const struct {
        int rate, channels;
        double seconds;
        const char* outName;
        int expectFormat;
    } cases[] = {
        {44100, 1, 0.5, "mono.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
        {22050, 3, 0.3, "three.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {96000, 2, 0.2, "hi.caf", SF_FORMAT_CAF | SF_FORMAT_FLOAT},
    };
    ScopedTestFolders dir("marrowfin-apptest");
    for (const auto& c : cases) {
        const AudioFile in = MakeSignal(c.rate, c.channels, c.seconds);
        WriteAudioFile(dir / "in.wav", in);
        RunResult r = RunApp({"render", dir / "in.wav", dir / c.outName, "--preset", "Down One Octave", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        const AudioFile out = ReadAudioFile(dir / c.outName);
        EXPECT_EQ(out.sampleRate, c.rate) << c.outName;
        EXPECT_EQ(out.channels, c.channels) << c.outName;
        EXPECT_EQ(out.Frames(), in.Frames()) << c.outName;
        EXPECT_EQ(out.format, c.expectFormat) << c.outName;
        EXPECT_TRUE(std::any_of(out.samples.begin(), out.samples.end(), [](float v) { return v != 0; }))
            << "the effect produced silence";
    }
    ExpectNoTempFiles(dir);
}

TEST(Render, DryPathIsTheInputDelayedByTheLatencyOrExactlyTheInputWhenCompensated) {
    ScopedTestFolders dir("marrowfin-apptest");
    for (int channels : {1, 2}) {
        const AudioFile in = MakeSignal(48000, channels, 0.6);
        WriteAudioFile(dir / "in.wav", in);
        for (const char* block : {"1", "333", "4096"}) {
            std::vector<float> out =
                Render(dir, {"--set", "Wet Level=0", "--set", "Dry Level=1", "--compensate-latency", "--block", block});
            EXPECT_TRUE(out == in.samples) << channels << " channels, block " << block;
        }
        const std::vector<float> out = Render(dir, {"--set", "Wet Level=0", "--set", "Dry Level=1"});
        ASSERT_EQ(out.size(), in.samples.size());
        const size_t w = 960 * channels;  // 20 ms at 48 kHz
        for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], i < w ? 0.f : in.samples[i - w]) << i;
    }
}

TEST(Render, SavedStateReproducesTheSameOutput) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "in.wav", MakeSignal(44100, 2, 0.5));
    const std::vector<float> a = Render(
        dir, {"--preset", "4", "--set", "Filter Q=0.5", "--set", "25=2000", "--save-state", dir / "s.aupreset"});
    EXPECT_NE(ReadTextFile(dir / "s.aupreset").find("<plist"), std::string::npos);
    EXPECT_EQ(Render(dir, {"--state", dir / "s.aupreset"}), a);
    EXPECT_NE(Render(dir, {}), a) << "the state changed nothing, so the comparison proves nothing";
    // --set after --state wins over the state's value.
    EXPECT_NE(Render(dir, {"--state", dir / "s.aupreset", "--set", "Filter Q=0.1", "--set", "Filter Cutoff=1000"}), a);
}

TEST(Render, IntegerOutputClipsInsteadOfWrapping) {
    ScopedTestFolders dir("marrowfin-apptest");
    AudioFile in{44100, 1, 0, std::vector<float>(44100 / 4, 1.5f)};
    for (size_t i = 0; i < in.samples.size(); i += 2) in.samples[i] = -1.5f;
    WriteAudioFile(dir / "in.wav", in);
    Render(dir, {"--sample-format", "pcm16", "--set", "Wet Level=0", "--set", "Dry Level=1", "--compensate-latency"});
    const AudioFile out = ReadAudioFile(dir / "out.wav");
    EXPECT_EQ(out.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    for (size_t i = 0; i < out.samples.size(); ++i) ASSERT_NEAR(std::fabs(out.samples[i]), 1.0f, 1e-4f) << i;
}

TEST(Render, DemoRendersTenSecondsOfPitchedBass) {
    ScopedTestFolders dir("marrowfin-apptest");
    ASSERT_EQ(RunApp({"demo", dir / "demo.wav", "-q"}).status, 0);
    const AudioFile out = ReadAudioFile(dir / "demo.wav");
    EXPECT_EQ(out.sampleRate, 48000);
    EXPECT_EQ(out.channels, 1);
    EXPECT_EQ(out.Frames(), 480000);
    float peak = 0;
    for (float v : out.samples) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.05f);
    EXPECT_LT(peak, 4.0f);
    ASSERT_EQ(RunApp({"demo", dir / "ring.wav", "--preset", "Ring Mod", "-q"}).status, 0);
    EXPECT_FALSE(ReadAudioFile(dir / "ring.wav").samples == out.samples);
}
