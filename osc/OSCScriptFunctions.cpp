// Script-driven OSC: sendOSC, the registration of script-owned OSC paths, and their dispatch.
//
// The two script functions run on the script's thread under its lock. Lua here is the C build:
// a script error is a longjmp, so each function first reads and checks every argument (which may
// raise) with no C++ object alive, then does its C++ work in a noexcept step that reports
// failure by value, and raises only after that step has returned.
#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "effect/MarrowfinParameters.h"
#include "midiscript/LuaArgs.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/OSCHelper.h"
#include "osc/OSCReply.h"

namespace TB {

namespace {

enum SendResult { kSent, kOutOfBuffer, kNoSocket, kSendFailed };

// Builds the packet from the checked table and sends it. Reads table elements raw and
// converts without raising (no Lua error can happen here).
SendResult BuildAndSend(lua_State* L, const IpEndpointName& target, const char* address, const char* types,
                        int table, int count) noexcept {
    try {
        OSCReplyPacket packet(address);
        for (int i = 1; i <= count; ++i) {
            lua_rawgeti(L, table, i);
            if (lua_isnil(L, -1)) {
                packet.Args() << osc::OscNil;
            } else if (lua_isnumber(L, -1)) {
                const lua_Number n = lua_tonumber(L, -1);
                if (types && types[i - 1] == 'i') packet.Args() << osc::int32(TruncateToInt(n));
                else packet.Args() << static_cast<float>(n);
            } else {
                packet.Args() << lua_tostring(L, -1);
            }
            lua_pop(L, 1);
        }
        packet.Finish();
        SendOSCDatagram(target, packet.Data(), packet.Size());
        return kSent;
    } catch (const osc::OutOfBufferMemoryException&) {
        return kOutOfBuffer;
    } catch (const std::runtime_error&) {
        return kNoSocket;
    } catch (...) {
        return kSendFailed;
    }
}

// A parameter reference at a stack index: an id (numbers and numeric strings, 0..39) or a name.
int CheckReference(lua_State* L, int index, int element) {
    const int type = lua_type(L, index);
    if (type != LUA_TNUMBER && type != LUA_TSTRING)
        return luaL_error(L, "parameter reference %d is not a number or a name", element);
    return CheckParamRef(L, index, true);
}

}  // namespace

int OSCHelper::LuaSendOSC(lua_State* L) {
    const int argc = lua_gettop(L);
    const char* destination = luaL_checkstring(L, 1);
    const char* address = luaL_checkstring(L, 2);
    const char* types = nullptr;
    size_t typesLength = 0;
    int table = 0;
    if (argc == 3) {
        luaL_checktype(L, 3, LUA_TTABLE);
        table = 3;
    } else if (argc == 4) {
        types = luaL_checklstring(L, 3, &typesLength);
        luaL_checktype(L, 4, LUA_TTABLE);
        table = 4;
    }
    const size_t count = table ? lua_objlen(L, table) : 0;
    if (types && typesLength != count) return luaL_error(L, "format string length mismatch in sendOSC");
    if (count > kOSCPacketBufferSize) return luaL_error(L, "out of buffer memory");  // 4 bytes a value at least
    for (size_t i = 1; i <= count; ++i) {
        lua_rawgeti(L, table, int(i));
        const int type = lua_type(L, -1);
        if (type != LUA_TNIL && type != LUA_TNUMBER && type != LUA_TSTRING)
            return luaL_error(L, "sendOSC cannot send a %s (value %d)", lua_typename(L, type), int(i));
        lua_pop(L, 1);
    }

    const IpEndpointName target = ResolveTarget(destination);
    switch (BuildAndSend(L, target, address, types, table, int(count))) {
        case kSent: return 0;
        case kOutOfBuffer: return luaL_error(L, "out of buffer memory");
        case kNoSocket: return luaL_error(L, "unable to connect udp socket");
        case kSendFailed: break;
    }
    return luaL_error(L, "sendOSC failed");
}

// ---------------------------------------------------------------------------------------------
// Registered paths

namespace {

enum RegisterResult { kRegistered, kInconsistentSizes, kNoMemory };

RegisterResult AddRegistration(std::mutex& lock,
                               std::multimap<std::string, std::vector<RegisteredPathParam>>& paths,
                               const char* address, const int* ids, int count, bool normalized) noexcept {
    try {
        std::vector<RegisteredPathParam> list;
        list.reserve(size_t(count));
        for (int i = 0; i < count; ++i) {
            const ParamInfo& info = astParamInfos[ids[i]];
            if (normalized) list.push_back({ids[i], info.minValue, info.maxValue - info.minValue});
            else list.push_back({ids[i], 0.0f, 1.0f});
        }
        std::string key(address);
        std::lock_guard<std::mutex> guard(lock);
        auto existing = paths.find(key);
        if (existing != paths.end() && existing->second.size() != list.size()) return kInconsistentSizes;
        paths.emplace_hint(paths.upper_bound(key), std::move(key), std::move(list));
        return kRegistered;
    } catch (...) {
        return kNoMemory;
    }
}

}  // namespace

void OSCHelper::RegisterOSCPathForParameter(lua_State* L, bool normalized) {
    const char* address = luaL_checkstring(L, 1);
    int count = 1;
    int* ids = nullptr;  // scratch owned by the script state: nothing to free if an error follows
    if (lua_istable(L, 2)) {
        const size_t length = lua_objlen(L, 2);
        if (length > size_t(INT_MAX / sizeof(int))) luaL_error(L, "not enough memory");
        count = int(length);
        ids = static_cast<int*>(lua_newuserdata(L, std::max<size_t>(length, 1) * sizeof(int)));
        for (int i = 1; i <= count; ++i) {
            lua_rawgeti(L, 2, i);
            ids[i - 1] = CheckReference(L, lua_gettop(L), i);
            lua_pop(L, 1);
        }
    } else {
        ids = static_cast<int*>(lua_newuserdata(L, sizeof(int)));
        ids[0] = CheckReference(L, 2, 1);
    }

    switch (AddRegistration(m_listsLock, m_registeredPaths, address, ids, count, normalized)) {
        case kRegistered: break;
        case kInconsistentSizes:
            LuaMIDIHelper::LuaError(L, "inconsistent sizes in RegisterOSCPathForParameter\n");
            break;
        case kNoMemory: luaL_error(L, "not enough memory"); break;
    }
}

// Receive task. Every registration of the address gets the same float arguments.
bool OSCHelper::DispatchRegisteredPath(const char* address, const osc::ReceivedMessage& message) {
    std::vector<std::vector<RegisteredPathParam>> registrations;
    {
        std::lock_guard<std::mutex> lock(m_listsLock);
        if (m_registeredPaths.empty()) return false;
        auto range = m_registeredPaths.equal_range(address);
        if (range.first == range.second) return false;
        for (auto it = range.first; it != range.second; ++it) registrations.push_back(it->second);
    }
    const size_t count = registrations.front().size();
    std::vector<float> values(count);
    osc::ReceivedMessageArgumentStream args = message.ArgumentStream();
    for (float& v : values) args >> v;
    args >> osc::EndMessage;
    for (const auto& list : registrations)
        for (size_t i = 0; i < count && i < list.size(); ++i)
            SetParameterValue(list[i].paramID, values[i] * list[i].scale + list[i].offset);
    return true;
}

}  // namespace TB
