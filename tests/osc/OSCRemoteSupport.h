// Helpers for the remote-control tests: OSC packets built for the dispatcher, a UDP receiver on
// 127.0.0.1 that unpacks replies, and a Marrowfin unit in isolated folders with a test script.
#pragma once

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
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
#include "hostframework/ComponentBase.h"
#include "osc/Preferences.h"
#include "tests/osc/OSCTestSupport.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"

namespace osctest {

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

// A received message: its address, type tags and arguments (numbers as double, strings as text).
struct Received {
    std::string address;
    std::string types;
    std::vector<double> numbers;       // one per argument; 0 for strings
    std::vector<std::string> strings;  // one per argument; "" for numbers
    bool inImmediateBundle = false;    // the message came alone in a bundle timed "immediately"
};

inline Received Unpack(const char* data, int size) {
    Received r;
    osc::ReceivedPacket packet(data, size);
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
        double n = 0;
        std::string s;
        switch (it->TypeTag()) {
            case 'i': n = it->AsInt32(); break;
            case 'f': n = it->AsFloat(); break;
            case 'T': n = 1; break;
            case 's': s = it->AsString(); break;
            default: break;
        }
        r.numbers.push_back(n);
        r.strings.push_back(s);
    }
    return r;
}

// A UDP socket on 127.0.0.1 at a free port at or above `from`.
class Receiver {
public:
    explicit Receiver(int from) {
        for (int port = from; port < from + 300 && m_fd < 0; ++port) {
            m_fd = BindUdp(port);
            if (m_fd >= 0) m_port = port;
        }
    }
    ~Receiver() {
        if (m_fd >= 0) close(m_fd);
    }
    int Port() const { return m_port; }
    std::string Target() const { return "127.0.0.1:" + std::to_string(m_port); }
    // The next datagram within `seconds`, unpacked.
    std::optional<Received> Next(double seconds = 2.0) {
        pollfd p{m_fd, POLLIN, 0};
        if (poll(&p, 1, int(seconds * 1000)) <= 0) return std::nullopt;
        char buffer[8192];
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        return Unpack(buffer, int(n));
    }
    // Everything that arrives within `seconds`.
    std::vector<Received> Drain(double seconds = 0.2) {
        std::vector<Received> all;
        while (auto r = Next(seconds)) all.push_back(*r);
        return all;
    }

private:
    int m_fd = -1;
    int m_port = 0;
};

// A Marrowfin unit opened through the component interface, with configuration, data and script
// folders of its own; ScriptText() is written as a user script before the unit is opened.
class MarrowfinOSCTest : public testing::Test {
protected:
    virtual std::string ScriptText() { return ""; }

    void SetUp() override {
        m_folders.emplace("marrowfin-osc-remote");
        const std::string script = ScriptText();
        if (!script.empty())
            TB::ScopedTestFolders::WriteFile(TB::ScopedTestFolders::ScriptsIn(m_folders->UserData()) + "/osctest.lua",
                                             script);
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
    TB::OSCHelper& OSC() { return Unit().GetOSCHelper(); }
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
    // Runs Lua code in the unit's script state; returns the error text, or "" on success.
    std::string RunLua(const std::string& code) {
        TB::LuaMIDIHelper& lua = Unit().GetLuaHelper();
        TB::LuaMIDIHelper::ScopedLock lock(lua);
        lua_State* L = lua.LuaInit();
        const int top = lua_gettop(L);
        std::string error;
        if (luaL_dostring(L, code.c_str()) != 0) error = lua_tostring(L, -1) ? lua_tostring(L, -1) : "?";
        lua_settop(L, top);
        return error;
    }
    // A global of the script as a number (NaN when it is not one).
    double LuaNumber(const std::string& expression) {
        TB::LuaMIDIHelper& lua = Unit().GetLuaHelper();
        TB::LuaMIDIHelper::ScopedLock lock(lua);
        lua_State* L = lua.LuaInit();
        const int top = lua_gettop(L);
        double result = NAN;
        if (luaL_dostring(L, ("return " + expression).c_str()) == 0 && lua_isnumber(L, -1)) result = lua_tonumber(L, -1);
        lua_settop(L, top);
        return result;
    }
    int LuaStackHeight() {
        TB::LuaMIDIHelper& lua = Unit().GetLuaHelper();
        TB::LuaMIDIHelper::ScopedLock lock(lua);
        return lua_gettop(lua.LuaInit());
    }

    std::optional<TB::ScopedTestFolders> m_folders;
    TB::TestHost m_host;
};

inline std::string ErrorLine(const std::string& address, const std::string& reason) {
    return "error while parsing message: " + address + ": " + reason + "\n";
}

}  // namespace osctest
