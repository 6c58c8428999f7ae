// The instance registry: matching by exact OSC index, all-set and first-get semantics.
#include "tests/midiscript/ScriptTestUnit.h"

class InstanceTrackerTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        UserScript("midi.lua", "");
    }
    AudioUnit OpenWithOffset(float offset) {
        AudioUnit unit = OpenUnit();
        AudioUnitSetParameter(unit, kParam_OSCPortOffset, kAudioUnitScope_Global, 0, offset, 0);
        return unit;
    }
};

TEST_F(InstanceTrackerTest, SetsReachEveryMatchGetsReadTheFirstEntered) {
    AudioUnit first = OpenWithOffset(3);
    AudioUnit second = OpenWithOffset(3);
    AudioUnit fractional = OpenWithOffset(3.5f);
    AudioUnitSetParameter(first, kParam_WetLevel, kAudioUnitScope_Global, 0, 0.1f, 0);
    AudioUnitSetParameter(second, kParam_WetLevel, kAudioUnitScope_Global, 0, 0.2f, 0);

    VoskInstanceTracker::SetParameterOnAllByOSCIndex(3, kParam_DryLevel, 0.5f);
    EXPECT_EQ(Param(first, kParam_DryLevel), 0.5f);
    EXPECT_EQ(Param(second, kParam_DryLevel), 0.5f);
    EXPECT_EQ(Param(fractional, kParam_DryLevel), 0.0f);  // 3.5 matches no integer index
    EXPECT_EQ(VoskInstanceTracker::GetParameterFromAllByOSCIndex(3, kParam_WetLevel), 0.1f);

    VoskInstanceTracker::SetGUIBoolValueOnAllByOSCIndex(3, 2, 7);
    EXPECT_TRUE(Unit(first)->m_data.GetGUIBool(2));
    EXPECT_TRUE(Unit(second)->m_data.GetGUIBool(2));
    EXPECT_FALSE(Unit(fractional)->m_data.GetGUIBool(2));
    EXPECT_TRUE(VoskInstanceTracker::GetGUIBoolValueFromAllByOSCIndex(3, 2));
    VoskInstanceTracker::SetGUIBoolValueOnAllByOSCIndex(3, 2, 0);
    EXPECT_FALSE(Unit(second)->m_data.GetGUIBool(2));

    // A unit that left the registry is no longer reached.
    CloseUnit(first);
    EXPECT_EQ(VoskInstanceTracker::GetParameterFromAllByOSCIndex(3, kParam_WetLevel), 0.2f);
    // Unknown ids and indices fail quietly.
    VoskInstanceTracker::SetParameterOnAllByOSCIndex(3, 40, 1.0f);
    EXPECT_EQ(VoskInstanceTracker::GetParameterFromAllByOSCIndex(3, -1), 0.0f);
    EXPECT_EQ(VoskInstanceTracker::GetParameterFromAllByOSCIndex(42, kParam_WetLevel), 0.0f);
    EXPECT_FALSE(VoskInstanceTracker::GetGUIBoolValueFromAllByOSCIndex(42, 2));
}

TEST_F(InstanceTrackerTest, ScriptFunctionsForOtherInstances) {
    AudioUnit caller = OpenWithOffset(0);
    AudioUnit target = OpenWithOffset(9);
    EXPECT_EQ(Run(caller, "setOthersParameter(9, 'Saw', 0.25) setOthersGUIBoolValue('9', 4, true)"), "");
    EXPECT_EQ(Param(target, kParam_Saw), 0.25f);
    EXPECT_TRUE(Unit(target)->m_data.GetGUIBool(4));
    EXPECT_EQ(Eval(caller, "getOthersParameter(9, 'Saw')"), "0.25");
    EXPECT_EQ(Eval(caller, "getOthersGUIBoolValue(9, 4)"), "true");
    EXPECT_EQ(Eval(caller, "getOthersParameter('x', 'Wet Level')"), "1");  // a non-number index is 0: itself
    EXPECT_EQ(Eval(caller, "getOthersParameter(9.5, 'Saw')"), "0.25");     // the index is truncated
}
