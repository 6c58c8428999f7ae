// MIDI events through the unit's MIDI entry into the script callbacks.
#include "tests/midiscript/ScriptTestUnit.h"

namespace {

// Every callback appends "kind(args)" to the global log.
const char* kLoggingScript = R"(
    log = {}
    local function logger(kind)
        return function(...) log[#log + 1] = kind .. '(' .. table.concat({...}, ',') .. ')' end
    end
    requestAllNoteOn(logger('on'))
    requestAllNoteOff(logger('off'))
    requestAllCC(logger('cc'))
    requestAllNRPN(logger('nrpn'))
    requestAllProgramChange(logger('pc'))
    requestAllPolyPressure(logger('pp'))
    requestPitchWheel(logger('pw'))
    requestChannelPressure(logger('cp'))
    requestCC(7, logger('cc7'))
    requestCC(7, logger('cc7'))
    requestNoteOn(60, logger('on60'))
    requestNRPN(130, logger('nrpn130'))
    requestProgramChange(5, logger('pc5'))
    requestPolyPressure(61, logger('pp61'))
    function takeLog() local text = table.concat(log, ' ') log = {} return text end
)";

}  // namespace

class MIDIDispatchTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        UserScript("midi.lua", kLoggingScript);
        m_unit = OpenUnit();
    }
    std::string TakeLog() { return Eval(m_unit, "takeLog()"); }
    AudioUnit m_unit = nullptr;
};

TEST_F(MIDIDispatchTest, NRPNAssemblyInterleavesWithControllerCallbacks) {
    MIDI(m_unit, 0xB0, 99, 1);
    MIDI(m_unit, 0xB0, 98, 2);
    MIDI(m_unit, 0xB0, 6, 3);
    MIDI(m_unit, 0xB0, 38, 4);
    EXPECT_EQ(TakeLog(),
              "cc(1,99,1) cc(1,98,2) nrpn(1,130,384) nrpn130(1,130,384) cc(1,6,3) "
              "nrpn(1,130,388) nrpn130(1,130,388) cc(1,38,4)");
    // One assembly state for all channels, never reset: data entry alone reuses the last LSB.
    MIDI(m_unit, 0xB5, 6, 0);
    EXPECT_EQ(TakeLog(), "nrpn(6,130,4) nrpn130(6,130,4) cc(6,6,0)");
}

TEST_F(MIDIDispatchTest, NotesControllersAndWheelsReachTheirCallbacks) {
    MIDI(m_unit, 0x90, 60, 100);
    MIDI(m_unit, 0x91, 60, 0);  // velocity 0 is a note-off
    MIDI(m_unit, 0x82, 61, 5);
    EXPECT_EQ(TakeLog(), "on(1,60,100) on60(1,60,100) off(2,60,0) off(3,61,5)");

    MIDI(m_unit, 0xB0, 120, 0);
    MIDI(m_unit, 0xB0, 121, 0);
    MIDI(m_unit, 0xB0, 123, 0);
    EXPECT_EQ(TakeLog(), "");

    MIDI(m_unit, 0xB3, 7, 99);  // all-list first, then the keyed one, registered twice
    EXPECT_EQ(TakeLog(), "cc(4,7,99) cc7(4,7,99) cc7(4,7,99)");

    MIDI(m_unit, 0xE0, 0, 64);
    MIDI(m_unit, 0xEF, 127, 127);
    MIDI(m_unit, 0xC2, 5, 0);
    MIDI(m_unit, 0xA0, 61, 9);
    MIDI(m_unit, 0xD1, 33, 0);
    EXPECT_EQ(TakeLog(), "pw(1,8192) pw(16,16383) pc(3,5) pc5(3,5) pp(1,61,9) pp61(1,61,9) cp(2,33)");
}

TEST_F(MIDIDispatchTest, CallbackRegisteredDuringDispatchRunsInTheSameDispatch) {
    EXPECT_EQ(Run(m_unit, "requestAllNoteOn(function() if not added then added = true "
                          "requestAllNoteOn(function() log[#log + 1] = 'late' end) end end)"),
              "");
    MIDI(m_unit, 0x90, 50, 1);
    EXPECT_EQ(TakeLog(), "on(1,50,1) late");
    MIDI(m_unit, 0x90, 50, 1);
    EXPECT_EQ(TakeLog(), "on(1,50,1) late");
}

TEST_F(MIDIDispatchTest, FailingCallbacksKeepBeingCalledAndTheStackStaysPut) {
    EXPECT_EQ(Run(m_unit, "failures = 0 requestCC(20, function() failures = failures + 1 error('always') end)"
                          " requestCC(20, function() after = (after or 0) + 1 end)"),
              "");
    lua_State* L = Helper(m_unit).GetState();
    int top = lua_gettop(L);
    for (int i = 0; i < 10000; ++i) Helper(m_unit).HandleControlChange(0, 20, 1, 0);
    EXPECT_EQ(lua_gettop(L), top);
    EXPECT_EQ(Eval(m_unit, "failures .. ' ' .. after"), "10000 10000");
}

TEST_F(MIDIDispatchTest, RegistrationRefusesNonFunctions) {
    EXPECT_EQ(ErrorOf(m_unit, "requestAllCC(setmetatable({}, {__call = print}))"),
              "first argument to requestAllCC() is not a function");
    EXPECT_EQ(ErrorOf(m_unit, "requestNoteOff(60, 'f')"), "second argument to requestNoteOff() is not a function");
    EXPECT_EQ(ErrorOf(m_unit, "requestCC('x', print)"),
              "bad argument #1 to 'requestCC' (number expected, got string)");
    EXPECT_EQ(Run(m_unit, "requestNoteOn(200, print) requestNoteOn(0/0, print)"), "");  // accepted, never called
    MIDI(m_unit, 0xB0, 1, 1);
    EXPECT_EQ(TakeLog(), "cc(1,1,1)");
}
