// Remote calls into the MIDI script ("/exec", "/call", notes), sendOSC, and script-registered
// OSC paths.
#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

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
requestAllNoteOn(function(c, n, v) on = c * 1e6 + n * 1e3 + v end)
requestAllNoteOff(function(c, n, v) off = c * 1e6 + n * 1e3 + v end)
)";
    }
    // Runs Lua code and expects its error to contain `error` ("" for none), the stack kept.
    void ExpectLuaError(const std::string& code, const std::string& error) {
        const int height = LuaStackHeight();
        const std::string got = RunLua(code);
        EXPECT_TRUE(error.empty() ? got.empty() : got.find(error) != std::string::npos) << code << " -> " << got;
        EXPECT_EQ(LuaStackHeight(), height);
    }
    Receiver m_client{47700};
};

}  // namespace

TEST_F(OSCScriptTest, CallRepliesWithTheResultsConverted) {
    ASSERT_GT(m_client.Port(), 0);
    // Numbers and numeric strings as floats, other strings as strings, up to the first nil.
    Send("/call", {std::string("mixed"), m_client.Target(), std::string("/m")});
    auto mixed = m_client.Next();
    ASSERT_TRUE(mixed);
    EXPECT_TRUE(mixed->inImmediateBundle);
    EXPECT_EQ(mixed->types, "fsf");
    EXPECT_EQ(mixed->strings[1], "two");
    EXPECT_EQ(mixed->numbers[2], 3);
    Send("/call", {std::string("nothing"), m_client.Target(), std::string("/empty")});
    auto empty = m_client.Next();
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->address + empty->types, "/empty");
}

TEST_F(OSCScriptTest, FailedCallsPrintTheirReasonSendNothingAndRestoreTheStack) {
    ASSERT_GT(m_client.Port(), 0);
    const int height = LuaStackHeight();
    const std::string t = m_client.Target();
    const struct {
        std::string address;
        std::vector<Arg> args;
        std::string reason;
    } cases[] = {
        {"/call", {std::string("yes"), t, std::string("/r")}, "unhandled argument type return from call"},
        {"/exec", {std::string("missing")}, "failed to exec function"},
        // Only functions the scripts defined: not the standard library, not the script API.
        {"/exec", {std::string("dofile")}, "failed to exec function"},
        {"/call", {std::string("dofile"), t, std::string("/r"), std::string("/etc/hostname")}, "failed to exec function"},
        {"/exec", {std::string("require"), std::string("os")}, "failed to exec function"},
        {"/exec", {std::string("registerOSCPathForParameter"), std::string("/ping"), osc::int32(1)},
         "failed to exec function"},
        {"/call", {std::string("fail"), t, std::string("/r")}, "failed to exec function"},
        {"/exec", {std::string("record"), osc::int32(1), Blob{"abcd"}}, "unhandled argument type to exec"},
        {"/exec", {osc::int32(3)}, "wrong argument type"},
        {"/call", {std::string("add"), t}, "missing argument"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Output(c.address, c.args), ErrorLine(c.address, c.reason));
        EXPECT_EQ(LuaStackHeight(), height) << c.reason;
    }
    EXPECT_TRUE(m_client.Drain(0.2).empty());
    EXPECT_TRUE(std::isnan(LuaNumber("gotCount")));  // the blob stopped the call before the script ran

    // Without a script host calls fail and notes do nothing.
    OSCHelper bare(nullptr, nullptr);
    auto send = [&](const std::string& packet) {
        testing::internal::CaptureStdout();
        bare.HandlePacket(packet.data(), int(packet.size()), IpEndpointName());
        return testing::internal::GetCapturedStdout();
    };
    EXPECT_EQ(send(Packet("/exec", {std::string("f")})), ErrorLine("/exec", "no Lua support from OSC"));
    EXPECT_EQ(send(Packet("/call", {std::string("f"), t, std::string("/r")})), ErrorLine("/call", "no Lua support from OSC"));
    EXPECT_EQ(send(Packet("/startNote", {osc::int32(60), 0.5f})), "");
}

TEST_F(OSCScriptTest, ExecPassesEveryHandledArgumentTypeAndNotesReachTheScript) {
    EXPECT_EQ(Output("/exec", {std::string("record"), true, false, 1.5f, 2.25, osc::int32(-7), osc::int64(1) << 40,
                               std::string("s"), Nil{}, osc::int32(9)}),
              "");
    EXPECT_EQ(LuaNumber("gotCount"), 9);
    EXPECT_EQ(LuaNumber("(got[1] == true and got[2] == false and got[7] == 's' and got[8] == nil) and 1"), 1);
    EXPECT_EQ(LuaNumber("got[3] + got[4] * 10 + got[5] * 100"), 1.5 + 22.5 - 700);
    EXPECT_EQ(LuaNumber("got[6]"), 1099511627776.0);
    EXPECT_EQ(LuaNumber("got[9]"), 9);

    // Notes arrive on channel 2 with velocity * 127; no range check: the low 8 bits go through.
    Send("/startNote", {osc::int32(60), 0.5f});
    EXPECT_EQ(LuaNumber("on"), 2060063);
    Send("/stopNote", {osc::int32(61), 1.0f});
    EXPECT_EQ(LuaNumber("off"), 2061127);
    Send("/startNote", {osc::int32(256 + 64), 2.0f});
    EXPECT_EQ(LuaNumber("on"), 2064254);
    EXPECT_EQ(Output("/startNote", {osc::int32(1), NAN}), "");
}

TEST_F(OSCScriptTest, SendOSCSendsFloatsStringsIntsAndNils) {
    ASSERT_GT(m_client.Port(), 0);
    const std::string d = "'" + m_client.Target() + "'";
    const struct {
        std::string call, types;
        double first;
    } cases[] = {
        {"sendOSC(" + d + ", '/x', {1, 'a'})", "fs", 1},
        {"sendOSC('osc.udp://" + m_client.Target() + "', '/y', 'ii', {1.9, '2'})", "ii", 1},
        {"sendOSC(" + d + ", '/z', 'xi', {'3.5', 4})", "fi", 3.5},  // other type letters: float
        {"sendOSC(" + d + ", '/none')", "", 0},                      // two arguments: no OSC arguments
        {"sendOSC(" + d + ", '/holes', 'ii', {nil, 5})", "Ni", 0},
    };
    for (const auto& c : cases) {
        ExpectLuaError(c.call, "");
        auto got = m_client.Next();
        ASSERT_TRUE(got) << c.call;
        EXPECT_TRUE(got->inImmediateBundle);
        EXPECT_EQ(got->types, c.types) << c.call;
        EXPECT_EQ(c.types.empty() ? 0 : got->numbers[0], c.first) << c.call;
    }
}

TEST_F(OSCScriptTest, ScriptMisuseRaisesErrorsAndSendsOrRegistersNothing) {
    ASSERT_GT(m_client.Port(), 0);
    const std::string d = "'" + m_client.Target() + "'";
    const std::pair<std::string, std::string> cases[] = {
        {"sendOSC(" + d + ", '/x', 'i', {1, 2})", "format string length mismatch in sendOSC"},
        {"sendOSC(" + d + ", '/x', {true})", "sendOSC cannot send a boolean"},
        {"sendOSC(" + d + ", '/x', {{}})", "sendOSC cannot send a table"},
        {"sendOSC(" + d + ", '/x', 'i', 5)", "table expected"},
        {"sendOSC(nil, '/x', {})", "string expected"},
        {"sendOSC(" + d + ", '/x', {string.rep('a', 2000)})", "out of buffer memory"},
        {"sendOSC(" + d + ", '/' .. string.rep('a', 2000), {})", "out of buffer memory"},
        {"sendOSC('127.0.0.1', '/x', {1})", ""},  // nowhere to deliver is not an error
        {"registerOSCPathForParameter('/bad', 40)", "parameter out of range: 40"},
        {"registerOSCPathForParameter('/bad', {1, 1e12})", "parameter out of range: 2147483647"},
        {"registerOSCPathForParameter('/bad', 'Nope')", "parameter not found: 'Nope'"},
        {"registerOSCPathForParameter('/bad', {0, true})", "parameter reference 2 is not a number or a name"},
    };
    for (const auto& [call, error] : cases) ExpectLuaError(call, error);
    EXPECT_TRUE(m_client.Drain(0.2).empty());
    EXPECT_EQ(Output("/bad", {1.0f}), "");  // nothing registered: the hook ignores it
}

TEST_F(OSCScriptTest, RegisteredPathsSetParametersPlainOrNormalised) {
    ExpectLuaError("registerOSCPathForParameterNormalized('/fc', 'Filter Cutoff')", "");
    ExpectLuaError("registerOSCPathForParameter('/plain', 25)", "");
    Send("/fc", {0.5f});
    EXPECT_EQ(m_host.Parameter(25), 6025.0f);
    Send("/plain", {0.5f});
    EXPECT_EQ(m_host.Parameter(25), 0.5f);
    EXPECT_EQ(Output("/fc", {osc::int32(1)}), ErrorLine("/fc", "wrong argument type"));
    EXPECT_EQ(Output("/fc", {0.5f, 0.5f}), ErrorLine("/fc", "too many arguments"));
    EXPECT_EQ(m_host.Parameter(25), 0.5f);

    // Every registration of an address applies, in order: the later one wins on the same id.
    ExpectLuaError("registerOSCPathForParameter('/both', {'Dry Level', '1'})", "");
    ExpectLuaError("registerOSCPathForParameterNormalized('/both', {2, 'Dry Level'})", "");
    Send("/both", {0.25f, 0.75f});
    EXPECT_EQ(m_host.Parameter(0), 0.75f);  // plain 0.25 first, then normalised 0.75 * 1 + 0
    EXPECT_EQ(m_host.Parameter(1), 0.75f);
    EXPECT_EQ(m_host.Parameter(2), 0.25f);

    // A registered path takes precedence over a built-in one.
    ExpectLuaError("registerOSCPathForParameter('/set', 3)", "");
    EXPECT_EQ(Output("/set", {0.5f}), "");
    EXPECT_EQ(m_host.Parameter(3), 0.5f);

    // Registrations of different sizes under one address are refused with a line.
    ExpectLuaError("registerOSCPathForParameter('/pair', {0, 1})", "");
    testing::internal::CaptureStdout();
    ExpectLuaError("registerOSCPathForParameter('/pair', 2)", "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "@@@ inconsistent sizes in RegisterOSCPathForParameter\n");
    EXPECT_EQ(Output("/pair", {0.25f}), ErrorLine("/pair", "missing argument"));
    Send("/pair", {0.25f, 0.5f});
    EXPECT_EQ(m_host.Parameter(0), 0.25f);
    EXPECT_EQ(m_host.Parameter(1), 0.5f);
    EXPECT_EQ(m_host.Parameter(2), 0.25f);  // unchanged since "/both"
}
