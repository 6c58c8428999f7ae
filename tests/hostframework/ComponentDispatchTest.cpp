// Opening, closing and calling a unit through the component interface; exceptions at the
// dispatch become result codes.
#include <gtest/gtest.h>

#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;

TEST(ComponentDispatch, OpenCallCloseAndRefuseAClosedHandle) {
    const int liveBefore = GainTestEffect::ms_live;
    OSStatus err = 1;
    AudioUnit unit = OpenComponent(GainTestEffectEntry, kDescription, &err);
    ASSERT_NE(unit, nullptr);
    EXPECT_EQ(err, noErr);
    EXPECT_EQ(GainTestEffect::ms_live, liveBefore + 1);
    EXPECT_EQ(GetComponentVersion(unit), 0x00020003);

    EXPECT_EQ(ComponentCanDo(unit, kMusicDeviceMIDIEventSelect), 1);
    EXPECT_EQ(ComponentCanDo(unit, 0x55), 0);

    ASSERT_EQ(CloseComponent(unit), noErr);
    EXPECT_EQ(GainTestEffect::ms_live, liveBefore);
    // A late call with the closed handle is refused, not dispatched to freed memory.
    EXPECT_EQ(AudioUnitInitialize(unit), badComponentInstance);
    EXPECT_EQ(GetComponentInstanceStorage(unit), nullptr);
    EXPECT_EQ(CloseComponent(unit), badComponentInstance);
    EXPECT_EQ(AudioUnitInitialize(nullptr), badComponentInstance);

    // A constructor that throws: its code comes back and no handle.
    GainTestEffect::ms_failConstruction = true;
    unit = OpenComponent(GainTestEffectEntry, kDescription, &err);
    GainTestEffect::ms_failConstruction = false;
    EXPECT_EQ(unit, nullptr);
    EXPECT_EQ(err, -4242);
}

TEST(ComponentDispatch, ExceptionsBecomeResultCodes) {
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    UInt32 value = 0, size = 4;
    EXPECT_EQ(host.GetPropertyRaw(kThrowingProperty, 0, 0, &value, &size), noErr);
    EXPECT_EQ(value, 7u);
    // The element picks what GetProperty throws: a code, bad_alloc, another exception.
    const OSStatus codes[] = {-31337, memFullErr, -1};
    for (UInt32 element = 1; element <= 3; ++element)
        EXPECT_EQ(host.GetPropertyRaw(kThrowingProperty, 0, element, &value, &size), codes[element - 1]);

    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.SysEx({1, 2}), -777);
    EXPECT_EQ(host.SysEx({3}), -1);
}

TEST(ComponentDispatch, ElementsAndScopesAreCheckedAtTheBoundary) {
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    AudioStreamBasicDescription f{};
    UInt32 size = sizeof f;
    EXPECT_EQ(host.GetPropertyRaw(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 1, &f, &size),
              kAudioUnitErr_InvalidElement);
    EXPECT_EQ(host.GetPropertyRaw(kAudioUnitProperty_StreamFormat, 7, 0, &f, &size), kAudioUnitErr_InvalidScope);
    AudioUnitParameterValue v = 0;
    EXPECT_EQ(host.GetParameter(kNumParams, v), kAudioUnitErr_InvalidParameter);
    EXPECT_EQ(host.SetParameter(kGain, 1.f, kAudioUnitScope_Global, 3), kAudioUnitErr_InvalidElement);
    EXPECT_EQ(host.SetParameter(99, 1.f), kAudioUnitErr_InvalidParameter);
    // A too small buffer is refused rather than filled with half a value.
    size = sizeof f - 4;
    EXPECT_EQ(host.GetPropertyRaw(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, &f, &size),
              kAudioUnitErr_InvalidPropertyValue);
    // With null data the size is reported.
    size = 0;
    EXPECT_EQ(host.GetPropertyRaw(kAudioUnitProperty_StreamFormat, kAudioUnitScope_Output, 0, nullptr, &size), noErr);
    EXPECT_EQ(size, sizeof f);
    EXPECT_EQ(host.GetPropertyRaw(12345, 0, 0, &f, &size), kAudioUnitErr_InvalidProperty);
}
