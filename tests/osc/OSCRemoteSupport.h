// Helpers for the remote-control tests: OSC packets built for the dispatcher, a UDP receiver on
// 127.0.0.1 that unpacks replies, and a Marrowfin unit in isolated folders with a test script.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <variant>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <oscpack/osc/OscOutboundPacketStream.h>
#include <oscpack/osc/OscReceivedElements.h>

#include "effect/VoskMarrowfin.h"
#include "effect/VoskMarrowfinEntry.h"
#include "osc/Preferences.h"
#include "tests/support/Process.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"
#include "tests/support/Udp.h"

namespace osctest {

using namespace TB;

// One OSC argument for building a packet.
struct Nil {};
struct Blob {
    std::string bytes;
};
using Arg = std::variant<osc::int32, float, double, osc::int64, std::string, bool, Nil, Blob>;

// A message (or, with bundle, a bundle holding it) as bytes.
inline std::string Packet(const std::string& address, const std::vector<Arg>& args = {}, bool bundle = false) {
    char buffer[4096];
    osc::OutboundPacketStream p(buffer, sizeof buffer);
    if (bundle) p << osc::BeginBundleImmediate;
    p << osc::BeginMessage(address.c_str());
    for (const Arg& a : args) {
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>) p << v.c_str();
                else if constexpr (std::is_same_v<T, Nil>) p << osc::OscNil;
                else if constexpr (std::is_same_v<T, Blob>) p << osc::Blob(v.bytes.data(), osc::osc_bundle_element_size_t(v.bytes.size()));
                else p << v;
            },
            a);
    }
    p << osc::EndMessage;
    if (bundle) p << osc::EndBundle;
    return std::string(p.Data(), p.Size());
}

// A received message: address, type tags, arguments (numbers as double, strings as text).
struct Received {
    std::string address, types;
    std::vector<double> numbers;       // one per argument; 0 for strings
    std::vector<std::string> strings;  // one per argument; "" for numbers
    bool inImmediateBundle = false;    // the message came alone in a bundle timed "immediately"
};

inline Received Unpack(const std::string& bytes) {
    Received r;
    osc::ReceivedPacket packet(bytes.data(), osc::osc_bundle_element_size_t(bytes.size()));
    std::optional<osc::ReceivedMessage> message;
    if (packet.IsBundle()) {
        osc::ReceivedBundle bundle(packet);
        r.inImmediateBundle = bundle.TimeTag() == 1 && bundle.ElementCount() == 1;
        message.emplace(*bundle.ElementsBegin());
    } else {
        message.emplace(packet);
    }
    r.address = message->AddressPattern();
    for (auto it = message->ArgumentsBegin(); it != message->ArgumentsEnd(); ++it) {
        r.types += it->TypeTag();
        const char t = it->TypeTag();
        r.numbers.push_back(t == 'i' ? it->AsInt32() : t == 'f' ? it->AsFloat() : t == 'T' ? 1 : 0);
        r.strings.push_back(t == 's' ? it->AsString() : "");
    }
    return r;
}

// A UDP socket on 127.0.0.1 whose datagrams are unpacked as OSC.
class Receiver : public UdpReceiver {
public:
    using UdpReceiver::UdpReceiver;
    std::optional<Received> Next(double seconds = 2.0) {
        auto bytes = NextDatagram(seconds);
        return bytes ? std::optional<Received>(Unpack(*bytes)) : std::nullopt;
    }
    // Everything that arrives until nothing more comes for `seconds`.
    std::vector<Received> Drain(double seconds = 0.2) {
        std::vector<Received> all;
        while (auto r = Next(seconds)) all.push_back(*r);
        return all;
    }
};

// A Marrowfin unit opened through the component interface, with configuration, data and script
// folders of its own; ScriptText() is written as a user script before the unit is opened.
class MarrowfinOSCTest : public testing::Test {
protected:
    virtual std::string ScriptText() { return ""; }

    void SetUp() override {
        m_folders.emplace("marrowfin-osc-remote");
        if (!ScriptText().empty())
            ScopedTestFolders::WriteFile(ScopedTestFolders::ScriptsIn(m_folders->UserData()) + "/osctest.lua", ScriptText());
        ASSERT_EQ(m_host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription), noErr);
        ASSERT_EQ(m_host.SetFormat(48000, 2), noErr);
    }
    void TearDown() override {
        m_host.Close();
        m_folders.reset();
    }

    VoskMarrowfin& Unit() {
        return *dynamic_cast<VoskMarrowfin*>(static_cast<ComponentBase*>(GetComponentInstanceStorage(m_host.Unit())));
    }
    OSCHelper& OSC() { return Unit().GetOSCHelper(); }
    // Initialises the unit listening on `port` (stored base port port - 1, offset 1).
    bool Listen(int port) {
        const SInt32 savedBase = g_OSCBasePort;
        SetPrefInt("OSC Base Port", port - 1);
        const bool ok = m_host.Initialize() == noErr && m_host.SetParameter(39, 1) == noErr &&
                        WaitUntil([&] { return OSC().GetBoundPort() == port; });
        g_OSCBasePort = savedBase;
        return ok;
    }
    // Hands one packet to the dispatcher, as the receive task does.
    void Send(const std::string& packet) {
        OSC().HandlePacket(packet.data(), int(packet.size()), IpEndpointName(IpEndpointName::ANY_ADDRESS, 1));
    }
    void Send(const std::string& address, const std::vector<Arg>& args) { Send(Packet(address, args)); }
    // Sends one message and returns what it printed on standard output.
    std::string Output(const std::string& address, const std::vector<Arg>& args) {
        testing::internal::CaptureStdout();
        Send(address, args);
        return testing::internal::GetCapturedStdout();
    }
    // Runs Lua code in the unit's script state: the error text or "" on success, and the number
    // it returned (NaN for anything else) in *number. The stack is left as it was.
    std::string RunLua(const std::string& code, double* number = nullptr) {
        LuaMIDIHelper& lua = Unit().GetLuaHelper();
        LuaMIDIHelper::ScopedLock lock(lua);
        lua_State* L = lua.LuaInit();
        const int top = lua_gettop(L);
        std::string error;
        if (luaL_dostring(L, code.c_str()) != 0) error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
        if (number) *number = error.empty() && lua_isnumber(L, -1) ? lua_tonumber(L, -1) : NAN;
        lua_settop(L, top);
        return error;
    }
    double LuaNumber(const std::string& expression) {
        double n = NAN;
        RunLua("return " + expression, &n);
        return n;
    }
    int LuaStackHeight() {
        LuaMIDIHelper::ScopedLock lock(Unit().GetLuaHelper());
        return lua_gettop(Unit().GetLuaHelper().LuaInit());
    }

    std::optional<ScopedTestFolders> m_folders;
    TestHost m_host;
};

inline std::string ErrorLine(const std::string& address, const std::string& reason) {
    return "error while parsing message: " + address + ": " + reason + "\n";
}

}  // namespace osctest
