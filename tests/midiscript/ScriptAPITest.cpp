// The script functions for parameters and GUI bool values: references, range errors, and
// arguments of every wrong kind.
#include "tests/midiscript/ScriptTestUnit.h"

class ScriptAPITest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        UserScript("midi.lua", "");
        m_unit = OpenUnit();
    }
    AudioUnit m_unit = nullptr;
};

TEST_F(ScriptAPITest, ParameterReferencesByIdNumericStringAndName) {
    AudioUnitSetParameter(m_unit, kParam_DryLevel, kAudioUnitScope_Global, 0, 0.25f, 0);
    EXPECT_EQ(Eval(m_unit, "getParameter(0)"), "0.25");
    EXPECT_EQ(Eval(m_unit, "getParameter('Dry Level')"), "0.25");
    EXPECT_EQ(Eval(m_unit, "getParameter(0.9)"), "0.25");  // truncated
    EXPECT_EQ(Eval(m_unit, "getParameterID('Wet Level')"), "1");
    EXPECT_EQ(Eval(m_unit, "getParameterName(39)"), "OSC Port Offset");
    EXPECT_EQ(Eval(m_unit, "table.concat({getParameterMinMax('Filter Cutoff')}, ' ')"), "50 12000");
    EXPECT_EQ(Eval(m_unit, "getParameterUnit(5)"), "10");
    EXPECT_EQ(Eval(m_unit, "isParameterUsed('Saw')"), "true");
    EXPECT_EQ(Eval(m_unit, "getNumParameters(1, 2, 3)"), "40");

    EXPECT_EQ(Run(m_unit, "setParameter('Filter Cutoff', 2500)"), "");
    EXPECT_EQ(Param(m_unit, kParam_FilterCutoff), 2500.0f);
    EXPECT_EQ(Run(m_unit, "setParameter('5', -12)"), "");
    EXPECT_EQ(Param(m_unit, kParam_PitchOffset), -12.0f);
}

TEST_F(ScriptAPITest, RangeAndNameErrorsCarryExactMessages) {
    EXPECT_EQ(ErrorOf(m_unit, "getParameter(40)"), "parameter out of range: 40");
    EXPECT_EQ(ErrorOf(m_unit, "getParameterMinMax(1e300)"), "parameter out of range: 2147483647");
    EXPECT_EQ(ErrorOf(m_unit, "getParameterName(0/0)"), "parameter out of range: -2147483648");
    EXPECT_EQ(ErrorOf(m_unit, "getParameter('dry level')"), "parameter not found: 'dry level'");
    EXPECT_EQ(ErrorOf(m_unit, "getParameterID(1)"), "parameter not found: '1'");
    EXPECT_EQ(ErrorOf(m_unit, "setGUIBoolValue(8, true)"), "indicator id out of range: 8");
    EXPECT_EQ(ErrorOf(m_unit, "setParameter(0)"), "bad argument #2 to 'setParameter' (number expected, got no value)");
    EXPECT_EQ(ErrorOf(m_unit, "setParameter(0, 0/0)"), "parameter value is not a number");
}

TEST_F(ScriptAPITest, GUIBoolValuesUseLuaTruth) {
    DataToGui& data = Unit(m_unit)->m_data;
    EXPECT_EQ(Run(m_unit, "setGUIBoolValue(3, 0)"), "");
    EXPECT_TRUE(data.GetGUIBool(3));
    EXPECT_EQ(Eval(m_unit, "getGUIBoolValue(3)"), "true");
    EXPECT_EQ(Run(m_unit, "setGUIBoolValue(3, nil)"), "");
    EXPECT_FALSE(data.GetGUIBool(3));
    EXPECT_EQ(Run(m_unit, "setGUIBoolValue('7', 'yes')"), "");
    EXPECT_TRUE(data.GetGUIBool(7));
}

TEST_F(ScriptAPITest, EveryFunctionSurvivesEveryKindOfArgument) {
    // Each call either works or raises a Lua error, and the state stays usable.
    EXPECT_EQ(Run(m_unit, R"(
        local values = {nil, 0, -1, 1e300, 0/0, 1/0, 'Dry Level', 'nope', {}, true, print, newproxy(true),
                        coroutine.create(function() end)}
        calls = 0
        for name in ([[setParameter getParameter getParameterID getParameterMinMax getParameterUnit
            getParameterName isParameterUsed getNumParameters sendOSC setOthersParameter getOthersParameter
            requestAllNoteOn requestAllNoteOff requestAllCC requestAllNRPN requestAllProgramChange
            requestAllPolyPressure requestNoteOn requestNoteOff requestCC requestNRPN requestPitchWheel
            requestChannelPressure requestProgramChange requestPolyPressure time requestTimedCallback
            requestPeriodicCallback cancelTimer setGUIBoolValue getGUIBoolValue setOthersGUIBoolValue
            getOthersGUIBoolValue registerOSCPathForParameter registerOSCPathForParameterNormalized]]):gmatch('%S+') do
            local timer = name:find('Callback') ~= nil
            for i = 1, #values + 1 do
                for j = 1, #values + 1 do
                    -- a timer with a callable second argument would keep firing: give it a number
                    pcall(_G[name], values[i], timer and values[j] == print and 1 or values[j], values[i])
                    calls = calls + 1
                end
            end
        end
    )"),
              "");
    EXPECT_GT(std::stoi(Eval(m_unit, "calls")), 1000);
    EXPECT_EQ(Eval(m_unit, "getParameter(0) >= 0"), "true");
    // Timer handles cannot be forged from other userdata.
    EXPECT_NE(ErrorOf(m_unit, "local p = newproxy(true) debug.setmetatable(p, debug.getregistry()"
                              "['TB::LuaMIDIHelper::Timer']) cancelTimer(p)"),
              "ok");
    EXPECT_EQ(ErrorOf(m_unit, "cancelTimer({})").find("bad argument #1 to 'cancelTimer' (TB::LuaMIDIHelper::Timer expected"),
              0u);
}

TEST_F(ScriptAPITest, VandalisedRegistryDoesNotBreakTheHost) {
    EXPECT_EQ(Run(m_unit, "local r = debug.getregistry() for k in pairs(r) do if type(k) == 'userdata' then r[k] = nil end end"),
              "");
    EXPECT_EQ(Eval(m_unit, "getParameterID('Saw')"), "21");
    EXPECT_EQ(Run(m_unit, "requestAllNoteOn(function() hit = true end)"), "");
    MIDI(m_unit, 0x90, 1, 1);
    EXPECT_EQ(Eval(m_unit, "hit"), "true");
}
