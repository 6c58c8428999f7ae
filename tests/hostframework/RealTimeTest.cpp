// The render path allocates nothing: the count of the thread's allocations is read in the render
// notifications, which run inside the render call just before and after the unit renders.
#include <gtest/gtest.h>

#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/TestHost.h"

using namespace gaintest;

TEST(RealTime, RenderWithEventsAllocatesNothing) {
    if (!TB::AllocationCountingEnabled()) GTEST_SKIP() << "allocation counting is off under the sanitizers";
    struct Counts {
        long atPre = -1, atPost = -1;
    } counts;
    AURenderCallback notify = [](void* refCon, AudioUnitRenderActionFlags* flags, const AudioTimeStamp*, UInt32,
                                 UInt32, AudioBufferList*) -> OSStatus {
        auto* c = static_cast<Counts*>(refCon);
        if (*flags & kAudioUnitRenderAction_PreRender) c->atPre = TB::ThreadAllocationCount();
        if (*flags & kAudioUnitRenderAction_PostRender) c->atPost = TB::ThreadAllocationCount();
        return noErr;
    };
    for (bool interleaved : {false, true}) {
        for (bool nullBuffers : {false, true}) {
            TB::TestHost host;
            ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
            ASSERT_EQ(host.SetFormat(48000, 2, interleaved), noErr);
            ASSERT_EQ(host.SetMaxFrames(512), noErr);
            ASSERT_EQ(AudioUnitAddRenderNotify(host.Unit(), notify, &counts), noErr);
            ASSERT_EQ(host.Initialize(), noErr);
            host.SetNullOutputBuffers(nullBuffers);
            TB::Channels in(2, std::vector<float>(512, 0.25f)), out;
            for (int block = 0; block < 4; ++block) {
                ASSERT_EQ(host.ScheduleParameters({TB::TestHost::ImmediateEvent(kGain, 0.5f, 100),
                                                   TB::TestHost::ImmediateEvent(kOffset, 0.1f, 300)}),
                          noErr);
                counts = Counts{};
                ASSERT_EQ(host.Render(512, in, out), noErr);
                ASSERT_GE(counts.atPre, 0);
                EXPECT_EQ(counts.atPost, counts.atPre) << "interleaved " << interleaved << " null " << nullBuffers;
            }
            EXPECT_FLOAT_EQ(out[1][511], 0.25f * 0.5f + 0.1f);
        }
    }
}

TEST(RealTime, ParameterSetWithoutListenersCostsOnlyTheUnitsSet) {
    if (!TB::AllocationCountingEnabled()) GTEST_SKIP() << "allocation counting is off under the sanitizers";
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    const AudioUnitParameter gain = host.ParameterRef(kGain);
    const long before = TB::ThreadAllocationCount();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(AUParameterSet(nullptr, nullptr, &gain, i / 100.f, 0), noErr);
    EXPECT_EQ(TB::ThreadAllocationCount(), before);
    EXPECT_EQ(host.Parameter(kGain), 0.99f);
}
