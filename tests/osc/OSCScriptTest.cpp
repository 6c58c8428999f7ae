// Remote calls into the MIDI script ("/exec", "/call", notes), sendOSC, and script-registered
// OSC paths.
#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

constexpr int kReplyPorts = 47700;

class OSCScriptTest : public MarrowfinOSCTest {
protected:
    std::string ScriptText() override {
        return R"(
function add(a, b) return a + b end
function yes() return true end
function nothing() end
function mixed() return 1, "two", "3", nil, 5 end
function fail() error("boom") end
function record(...) got = {...}; gotCount = select('#', ...) end
requestAllNoteOn(function(c, n, v) onC, onN, onV = c, n, v end)
requestAllNoteOff(function(c, n, v) offC, offN, offV = c, n, v end)
)";
    }
    Receiver m_client{kReplyPorts};
};

}  // namespace

TEST_F(OSCScriptTest, CallRepliesWithTheResultsConverted) {
    ASSERT_GT(m_client.Port(), 0);
    Send("/call", {std::string("add"), m_client.Target(), std::string("/r"), osc::int32(1), osc::int32(2)});
    auto sum = m_client.Next();
    ASSERT_TRUE(sum);
    EXPECT_TRUE(sum->inImmediateBundle);
    EXPECT_EQ(sum->address, "/r");
    EXPECT_EQ(sum->types, "f");
    EXPECT_EQ(sum->numbers[0], 3);

    // Numbers and numeric strings as floats, other strings as strings, up to the first nil.
    Send("/call", {std::string("mixed"), m_client.Target(), std::string("/m")});
    auto mixed = m_client.Next();
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->types, "fsf");
    EXPECT_EQ(mixed->strings[1], "two");
    EXPECT_EQ(mixed->numbers[2], 3);

    Send("/call", {std::string("nothing"), m_client.Target(), std::string("/empty")});
    auto empty = m_client.Next();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->address, "/empty");
    EXPECT_EQ(empty->types, "");
}

TEST_F(OSCScriptTest, FailedCallsPrintTheirReasonSendNothingAndRestoreTheStack) {
    ASSERT_GT(m_client.Port(), 0);
    const int height = LuaStackHeight();
    const std::string t = m_client.Target();
    struct Case {
        std::string address;
        std::vector<Arg> args;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"/call", {std::string("yes"), t, std::string("/r")}, "unhandled argument type return from call"},
        {"/exec", {std::string("missing")}, "failed to exec function"},
        {"/exec", {std::string("fail")}, "failed to exec function"},
        {"/call", {std::string("fail"), t, std::string("/r")}, "failed to exec function"},
        {"/exec", {std::string("record"), osc::int32(1), Blob{"abcd"}}, "unhandled argument type to exec"},
        {"/exec", {osc::int32(3)}, "wrong argument type"},
        {"/exec", {}, "missing argument"},
        {"/call", {std::string("add"), t}, "missing argument"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        EXPECT_EQ(Output(c.address, c.args), ErrorLine(c.address, c.reason));
        EXPECT_EQ(LuaStackHeight(), height);
    }
    EXPECT_TRUE(m_client.Drain(0.2).empty());
    // The blob stopped the call before the script ran.
    EXPECT_TRUE(std::isnan(LuaNumber("gotCount")));
}

TEST_F(OSCScriptTest, ExecPassesEveryHandledArgumentType) {
    EXPECT_EQ(Output("/exec", {std::string("record"), true, false, 1.5f, 2.25, osc::int32(-7), osc::int64(1) << 40,
                               std::string("s"), Nil{}, osc::int32(9)}),
              "");
    EXPECT_EQ(LuaNumber("gotCount"), 9);
    EXPECT_EQ(LuaNumber("(got[1] == true and got[2] == false) and 1 or 0"), 1);
    EXPECT_EQ(LuaNumber("got[3]"), 1.5);
    EXPECT_EQ(LuaNumber("got[4]"), 2.25);
    EXPECT_EQ(LuaNumber("got[5]"), -7);
    EXPECT_EQ(LuaNumber("got[6]"), 1099511627776.0);
    EXPECT_EQ(LuaNumber("(got[7] == 's' and got[8] == nil) and 1 or 0"), 1);
    EXPECT_EQ(LuaNumber("got[9]"), 9);
}

TEST_F(OSCScriptTest, NotesReachTheScriptOnChannelTwo) {
    Send("/startNote", {osc::int32(60), 0.5f});
    EXPECT_EQ(LuaNumber("onC"), 2);
    EXPECT_EQ(LuaNumber("onN"), 60);
    EXPECT_EQ(LuaNumber("onV"), 63);
    Send("/stopNote", {osc::int32(61), 1.0f});
    EXPECT_EQ(LuaNumber("offC"), 2);
    EXPECT_EQ(LuaNumber("offN"), 61);
    EXPECT_EQ(LuaNumber("offV"), 127);
    // No range check: the low 8 bits go through; absurd velocities do not crash.
    Send("/startNote", {osc::int32(256 + 64), 2.0f});
    EXPECT_EQ(LuaNumber("onN"), 64);
    EXPECT_EQ(LuaNumber("onV"), 254);
    EXPECT_EQ(Output("/startNote", {osc::int32(1), NAN}), "");
    EXPECT_EQ(Output("/startNote", {osc::int32(1), 1e30f}), "");
}

TEST(OSCScriptless, WithoutAScriptHostCallsFailAndNotesDoNothing) {
    TB::OSCHelper helper(nullptr, nullptr);
    auto send = [&](const std::string& packet) {
        testing::internal::CaptureStdout();
        helper.HandlePacket(packet.data(), int(packet.size()), IpEndpointName());
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(send(Packet("/exec", {std::string("f")})), ErrorLine("/exec", "no Lua support from OSC"));
    EXPECT_EQ(send(Packet("/call", {std::string("f"), std::string("127.0.0.1:9"), std::string("/r")})),
              ErrorLine("/call", "no Lua support from OSC"));
    EXPECT_EQ(send(Packet("/startNote", {osc::int32(60), 0.5f})), "");
}

// ---------------------------------------------------------------------------------------------
// sendOSC

TEST_F(OSCScriptTest, SendOSCSendsFloatsStringsIntsAndNils) {
    ASSERT_GT(m_client.Port(), 0);
    const std::string d = "'" + m_client.Target() + "'";
    ASSERT_EQ(RunLua("sendOSC(" + d + ", '/x', {1, 'a'})"), "");
    auto first = m_client.Next();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->inImmediateBundle);
    EXPECT_EQ(first->address, "/x");
    EXPECT_EQ(first->types, "fs");
    EXPECT_EQ(first->numbers[0], 1);
    EXPECT_EQ(first->strings[1], "a");

    ASSERT_EQ(RunLua("sendOSC('osc.udp://" + m_client.Target() + "', '/y', 'ii', {1.9, '2'})"), "");
    auto ints = m_client.Next();
    ASSERT_TRUE(ints);
    EXPECT_EQ(ints->types, "ii");
    EXPECT_EQ(ints->numbers[0], 1);
    EXPECT_EQ(ints->numbers[1], 2);

    ASSERT_EQ(RunLua("sendOSC(" + d + ", '/z', 'xi', {'3.5', 4})"), "");  // other type letters: float
    auto typed = m_client.Next();
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->types, "fi");
    EXPECT_EQ(typed->numbers[0], 3.5);

    ASSERT_EQ(RunLua("sendOSC(" + d + ", '/none')"), "");  // two arguments: no OSC arguments
    auto none = m_client.Next();
    ASSERT_TRUE(none);
    EXPECT_EQ(none->types, "");
    ASSERT_EQ(RunLua("local t = {} t[2] = 5 sendOSC(" + d + ", '/holes', 'ii', {nil, 5})"), "");
    auto holes = m_client.Next();
    ASSERT_TRUE(holes);
    EXPECT_EQ(holes->types, "Ni");
}

TEST_F(OSCScriptTest, SendOSCMisuseRaisesScriptErrorsAndSendsNothing) {
    ASSERT_GT(m_client.Port(), 0);
    const std::string d = "'" + m_client.Target() + "'";
    const int height = LuaStackHeight();
    struct Case {
        std::string call, error;
    };
    const std::vector<Case> cases = {
        {"sendOSC(" + d + ", '/x', 'i', {1, 2})", "format string length mismatch in sendOSC"},
        {"sendOSC(" + d + ", '/x', {true})", "sendOSC cannot send a boolean"},
        {"sendOSC(" + d + ", '/x', {{}})", "sendOSC cannot send a table"},
        {"sendOSC(" + d + ", '/x', 5)", "table expected"},
        {"sendOSC(" + d + ", '/x', 'i', 5)", "table expected"},
        {"sendOSC(" + d + ", {}, {})", "string expected"},
        {"sendOSC(nil, '/x', {})", "string expected"},
        {"sendOSC(" + d + ", '/x', {string.rep('a', 2000)})", "out of buffer memory"},
        {"sendOSC(" + d + ", '/' .. string.rep('a', 2000), {})", "out of buffer memory"},
    };
    for (const Case& c : cases) {
        const std::string error = RunLua(c.call);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.call << " -> " << error;
        EXPECT_EQ(LuaStackHeight(), height);
    }
    EXPECT_TRUE(m_client.Drain(0.2).empty());
    // Nowhere to deliver is not an error: nothing is sent.
    EXPECT_EQ(RunLua("sendOSC('127.0.0.1', '/x', {1})"), "");
}

// ---------------------------------------------------------------------------------------------
// Registered paths

TEST_F(OSCScriptTest, RegisteredPathsSetParametersPlainOrNormalised) {
    ASSERT_EQ(RunLua("registerOSCPathForParameterNormalized('/fc', 'Filter Cutoff')"), "");
    ASSERT_EQ(RunLua("registerOSCPathForParameter('/plain', 25)"), "");
    Send("/fc", {0.5f});
    EXPECT_EQ(m_host.Parameter(25), 6025.0f);
    Send("/plain", {0.5f});
    EXPECT_EQ(m_host.Parameter(25), 0.5f);
    EXPECT_EQ(Output("/fc", {osc::int32(1)}), ErrorLine("/fc", "wrong argument type"));
    EXPECT_EQ(Output("/fc", {0.5f, 0.5f}), ErrorLine("/fc", "too many arguments"));
    EXPECT_EQ(m_host.Parameter(25), 0.5f);

    // Every registration of an address applies, in order: the later one wins on the same id.
    ASSERT_EQ(RunLua("registerOSCPathForParameter('/both', {'Dry Level', '1'})"), "");
    ASSERT_EQ(RunLua("registerOSCPathForParameterNormalized('/both', {2, 'Dry Level'})"), "");
    Send("/both", {0.25f, 0.75f});
    EXPECT_EQ(m_host.Parameter(0), 0.75f);  // plain 0.25 first, then normalised 0.75 * 1 + 0
    EXPECT_EQ(m_host.Parameter(1), 0.75f);
    EXPECT_EQ(m_host.Parameter(2), 0.25f);
}

TEST_F(OSCScriptTest, ARegisteredPathTakesPrecedenceOverABuiltInOne) {
    ASSERT_EQ(RunLua("registerOSCPathForParameter('/set', 3)"), "");
    EXPECT_EQ(Output("/set", {0.5f}), "");
    EXPECT_EQ(m_host.Parameter(3), 0.5f);
    EXPECT_EQ(Output("/set", {osc::int32(4), 1.0f}), ErrorLine("/set", "wrong argument type"));
    EXPECT_EQ(m_host.Parameter(4), 0.0f);
}

TEST_F(OSCScriptTest, RegistrationsOfDifferentSizesAreRefusedWithALine) {
    ASSERT_EQ(RunLua("registerOSCPathForParameter('/pair', {0, 1})"), "");
    testing::internal::CaptureStdout();
    ASSERT_EQ(RunLua("registerOSCPathForParameter('/pair', 2)"), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "@@@ inconsistent sizes in RegisterOSCPathForParameter\n");
    EXPECT_EQ(Output("/pair", {0.25f}), ErrorLine("/pair", "missing argument"));
    Send("/pair", {0.25f, 0.5f});
    EXPECT_EQ(m_host.Parameter(0), 0.25f);
    EXPECT_EQ(m_host.Parameter(1), 0.5f);
    EXPECT_EQ(m_host.Parameter(2), 0.0f);
}

TEST_F(OSCScriptTest, BadParameterReferencesRaiseScriptErrorsAndRegisterNothing) {
    const int height = LuaStackHeight();
    struct Case {
        std::string call, error;
    };
    const std::vector<Case> cases = {
        {"registerOSCPathForParameter('/bad', 40)", "parameter out of range: 40"},
        {"registerOSCPathForParameterNormalized('/bad', -1)", "parameter out of range: -1"},
        {"registerOSCPathForParameter('/bad', {1, 1e12})", "parameter out of range: 2147483647"},
        {"registerOSCPathForParameter('/bad', 'Nope')", "parameter not found: 'Nope'"},
        {"registerOSCPathForParameter('/bad', {0, true})", "parameter reference 2 is not a number or a name"},
        {"registerOSCPathForParameter('/bad')", "parameter reference 1 is not a number or a name"},
        {"registerOSCPathForParameter(nil, 1)", "string expected"},
    };
    for (const Case& c : cases) {
        const std::string error = RunLua(c.call);
        EXPECT_NE(error.find(c.error), std::string::npos) << c.call << " -> " << error;
        EXPECT_EQ(LuaStackHeight(), height);
    }
    // Nothing was registered: "/bad" reaches the hook, which ignores it.
    EXPECT_EQ(Output("/bad", {1.0f}), "");
}
