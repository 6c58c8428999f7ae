// The render entry and the effect's render: checks, buffers, kernels, slicing at scheduled
// parameter events, bypass, in-place, silence and floating-point mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "hostframework/DenormalMode.h"
#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;
using TB::Channels;

namespace {

GainTestEffect* Unit(TB::TestHost& host) {
    return static_cast<GainTestEffect*>(GetComponentInstanceStorage(host.Unit()));
}

Channels Ramp(UInt32 channels, UInt32 frames) {
    Channels in(channels, std::vector<float>(frames));
    for (UInt32 c = 0; c < channels; ++c)
        for (UInt32 i = 0; i < frames; ++i) in[c][i] = float(i + 1) + 1000.f * float(c);
    return in;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr); }
    TB::TestHost host;
};

}  // namespace

TEST_F(RenderTest, RefusedBeforeInitialiseAndAboveMaximumFrames) {
    Channels out;
    EXPECT_EQ(host.Render(64, Ramp(2, 64), out), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(host.SetMaxFrames(256), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.SetMaxFrames(512), kAudioUnitErr_Initialized);
    EXPECT_EQ(host.Render(257, Ramp(2, 257), out), kAudioUnitErr_TooManyFramesToProcess);
    EXPECT_EQ(host.Render(256, Ramp(2, 256), out), noErr);
    ASSERT_EQ(host.Uninitialize(), noErr);
    EXPECT_EQ(host.Render(64, Ramp(2, 64), out), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(host.SetMaxFrames(0), kAudioUnitErr_InvalidPropertyValue);
}

TEST_F(RenderTest, KernelsPerChannelOverNullAndHostBuffersAndInterleaved) {
    GainTestEffect* unit = Unit(host);
    for (UInt32 channels : {1u, 3u}) {
        for (bool interleaved : {false, true}) {
            for (bool nullBuffers : {true, false}) {
                ASSERT_EQ(host.Uninitialize(), noErr);
                EXPECT_TRUE(unit->Kernels().empty());
                ASSERT_EQ(host.SetFormat(48000, channels, interleaved), noErr);
                ASSERT_EQ(host.Initialize(), noErr);
                ASSERT_EQ(host.SetParameter(kGain, 0.5f), noErr);
                host.SetNullOutputBuffers(nullBuffers);
                Channels out;
                ASSERT_EQ(host.Render(100, Ramp(channels, 100), out), noErr);
                ASSERT_EQ(out.size(), channels);
                for (UInt32 c = 0; c < channels; ++c)
                    for (UInt32 i = 0; i < 100; i += 33)
                        EXPECT_EQ(out[c][i], 0.5f * (float(i + 1) + 1000.f * float(c))) << c << " " << i;
            }
        }
    }
    ASSERT_EQ(unit->Kernels().size(), 3u);
    for (UInt32 c = 0; c < 3; ++c) EXPECT_EQ(unit->Kernels()[c]->GetChannelNum(), c);
    // NewKernel saw the number of kernels already in the list: its channel.
    EXPECT_EQ(std::vector<int>(unit->kernelChannelsSeen.end() - 3, unit->kernelChannelsSeen.end()),
              (std::vector<int>{0, 1, 2}));
}

TEST_F(RenderTest, MismatchedInputAndOutputFormatsAreRefusedAtInitialise) {
    ASSERT_EQ(host.SetStreamFormat(kAudioUnitScope_Input, TB::TestHost::MakeFormat(44100, 1)), noErr);
    ASSERT_EQ(host.SetStreamFormat(kAudioUnitScope_Output, TB::TestHost::MakeFormat(44100, 2)), noErr);
    EXPECT_EQ(host.Initialize(), kAudioUnitErr_FormatNotSupported);
    Channels out;
    EXPECT_EQ(host.Render(16, Ramp(2, 16), out), kAudioUnitErr_Uninitialized);
    // Interleaved on one side only would make the kernels walk a buffer with the wrong stride.
    ASSERT_EQ(host.SetStreamFormat(kAudioUnitScope_Input, TB::TestHost::MakeFormat(44100, 2, true)), noErr);
    EXPECT_EQ(host.Initialize(), kAudioUnitErr_FormatNotSupported);
    ASSERT_EQ(host.SetStreamFormat(kAudioUnitScope_Output, TB::TestHost::MakeFormat(44100, 2, true)), noErr);
    EXPECT_EQ(host.Initialize(), noErr);
}

TEST_F(RenderTest, BadStreamFormatsAreRefusedAndChangeNothing) {
    AudioStreamBasicDescription before{};
    ASSERT_EQ(host.GetStreamFormat(kAudioUnitScope_Output, before), noErr);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double rate : {0.0, -44100.0, nan, inf}) {
        EXPECT_EQ(host.SetStreamFormat(kAudioUnitScope_Output, TB::TestHost::MakeFormat(rate, 2)),
                  kAudioUnitErr_FormatNotSupported)
            << rate;
        EXPECT_EQ(host.SetProperty(kAudioUnitProperty_SampleRate, rate, kAudioUnitScope_Output),
                  kAudioUnitErr_FormatNotSupported);
    }
    EXPECT_EQ(host.SetStreamFormat(kAudioUnitScope_Output, TB::TestHost::MakeFormat(44100, 0)),
              kAudioUnitErr_FormatNotSupported);
    AudioStreamBasicDescription lying = TB::TestHost::MakeFormat(44100, 2, true);
    lying.mBytesPerFrame = 4;  // interleaved stereo needs 8
    EXPECT_EQ(host.SetStreamFormat(kAudioUnitScope_Output, lying), kAudioUnitErr_FormatNotSupported);
    AudioStreamBasicDescription after{};
    ASSERT_EQ(host.GetStreamFormat(kAudioUnitScope_Output, after), noErr);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

    // Formats cannot change while initialised.
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.SetFormat(96000, 2), kAudioUnitErr_PropertyNotWritable);
}

TEST_F(RenderTest, ScheduledEventsSplitTheSliceAtTheirOffsets) {
    ASSERT_EQ(host.SetFormat(44100, 1), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    GainTestEffect* unit = Unit(host);
    // Out of order on purpose: the render sorts them. Two events share offset 64.
    ASSERT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 0.25f, 96),
                                       TB::TestHost::ImmediateEvent(kGain, 0.5f, 64),
                                       TB::TestHost::ImmediateEvent(kOffset, 1.f, 64),
                                       TB::TestHost::ImmediateEvent(kGain, 2.f, 0)}),
              noErr);
    Channels out;
    ASSERT_EQ(host.Render(128, Ramp(1, 128), out), noErr);
    std::vector<std::pair<UInt32, float>> slices;
    for (int i = 0; i < unit->numSlices; ++i) slices.emplace_back(unit->sliceLog[i].frames, unit->sliceLog[i].gain);
    EXPECT_EQ(slices, (std::vector<std::pair<UInt32, float>>{{64, 2.f}, {32, 0.5f}, {32, 0.25f}}));
    EXPECT_EQ(out[0][64], 0.5f * 65.f + 1.f);

    // Events apply to one render only; an event beyond the buffer takes effect after it.
    unit->numSlices = 0;
    ASSERT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 1.5f, 500)}), noErr);
    ASSERT_EQ(host.Render(128, Ramp(1, 128), out), noErr);
    ASSERT_EQ(unit->numSlices, 1);
    EXPECT_EQ(unit->sliceLog[0].gain, 0.25f);
    EXPECT_EQ(host.Parameter(kGain), 1.5f);
}

TEST_F(RenderTest, ScheduledEventsAreCheckedAndBounded) {
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 1.f, 0),
                                       TB::TestHost::ImmediateEvent(77, 1.f, 0)}),
              kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 1.f, 0, 0, 5)}),
              kAudioUnitErr_InvalidElement);
    std::vector<AudioUnitParameterEvent> many(AUBase::kMaxScheduledEvents,
                                              TB::TestHost::ImmediateEvent(kGain, 0.75f, 3));
    EXPECT_EQ(host.ScheduleParameters(many), noErr);
    EXPECT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 1.f, 0)}),
              kAudioUnitErr_CannotDoInCurrentContext);
    Channels out;
    ASSERT_EQ(host.Render(8, Ramp(2, 8), out), noErr);
    EXPECT_EQ(out[0][2], 1.f * 3.f);
    EXPECT_EQ(out[0][3], 0.75f * 4.f);
    // The render emptied the list: room again.
    EXPECT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 1.f, 0)}), noErr);
}

TEST_F(RenderTest, NoInputSourceIsAnError) {
    TB::TestHost bare;
    ASSERT_EQ(bare.Open(GainTestEffectEntry, kDescription, false), noErr);
    ASSERT_EQ(bare.Initialize(), noErr);
    Channels out;
    EXPECT_EQ(bare.Render(16, Ramp(2, 16), out), kAudioUnitErr_NoConnection);
}

TEST_F(RenderTest, FlushToZeroIsOnDuringTheRenderAndRestoredAfter) {
    ASSERT_EQ(host.Initialize(), noErr);
    const uint32_t before = ScopedDenormalsOff::CurrentMode();
    Channels out;
    ASSERT_EQ(host.Render(16, Ramp(2, 16), out), noErr);
    const uint32_t bits = ScopedDenormalsOff::kFlushToZero | ScopedDenormalsOff::kDenormalsAreZero;
    EXPECT_EQ(Unit(host)->renderMode & bits, bits);
    EXPECT_EQ(ScopedDenormalsOff::CurrentMode(), before);
}

TEST_F(RenderTest, SilentInputReachesKernelsOnlyAfterTheTailAndSilentOutputIsZeroed) {
    ASSERT_EQ(host.SetFormat(1000, 1), noErr);
    GainTestEffect* unit = Unit(host);
    unit->tailSeconds = 0.1;  // 100 frames
    unit->kernelsReportSilence = true;
    ASSERT_EQ(host.Initialize(), noErr);
    ASSERT_EQ(host.SetParameter(kOffset, 0.5f), noErr);
    Channels out;
    ASSERT_EQ(host.Render(64, Ramp(1, 64), out), noErr);  // sound: arms the countdown
    EXPECT_FALSE(unit->lastSilenceOffered);
    host.SetInputSilentFlag(true);
    ASSERT_EQ(host.Render(64, Ramp(1, 64), out), noErr);
    EXPECT_FALSE(unit->lastSilenceOffered);
    EXPECT_EQ(out[0][0], 1.5f);  // a kernel that did not report silence keeps its output
    ASSERT_EQ(host.Render(64, Ramp(1, 64), out), noErr);
    EXPECT_FALSE(unit->lastSilenceOffered);
    ASSERT_EQ(host.Render(64, Ramp(1, 64), out), noErr);
    EXPECT_TRUE(unit->lastSilenceOffered);
    // The kernel left the flag set: the output is flagged silent and zeroed.
    EXPECT_TRUE(host.LastRenderFlags() & kAudioUnitRenderAction_OutputIsSilence);
    EXPECT_EQ(out[0][0], 0.f);
}
