// Callback registration and the dispatch of MIDI events (with NRPN assembly) into the scripts.
//
// Registration runs inside script functions under the Lua lock; dispatch runs on the host's
// MIDI delivery thread (or the OSC task for its note messages) and holds the Lua lock for the
// whole event. Both touch the callback lists only under that lock.
extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "midiscript/LuaArgs.h"
#include "midiscript/LuaMIDIHelper.h"

namespace TB {

namespace {

bool Append(std::vector<int>& list, int ref) noexcept {
    try {
        list.push_back(ref);
        return true;
    } catch (...) {
        return false;
    }
}

bool AppendKeyed(std::map<SInt32, std::vector<int>>& table, SInt32 key, int ref) noexcept {
    try {
        table[key].push_back(ref);
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Registration (script functions)

int LuaMIDIHelper::RegisterInList(lua_State* L, RefList LuaMIDIHelper::*list, const char* message) {
    LuaMIDIHelper* helper = getRefCon(L);
    if (!lua_isfunction(L, 1)) return luaL_error(L, "%s", message);
    lua_pushvalue(L, 1);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    if (!helper || !Append(helper->*list, ref)) {
        luaL_unref(L, LUA_REGISTRYINDEX, ref);
        return luaL_error(L, "not enough memory");
    }
    return 0;
}

int LuaMIDIHelper::RegisterInTable(lua_State* L, RefTable LuaMIDIHelper::*table, const char* message) {
    LuaMIDIHelper* helper = getRefCon(L);
    SInt32 key = CheckInt(L, 1);
    if (!lua_isfunction(L, 2)) return luaL_error(L, "%s", message);
    lua_pushvalue(L, 2);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    if (!helper || !AppendKeyed(helper->*table, key, ref)) {
        luaL_unref(L, LUA_REGISTRYINDEX, ref);
        return luaL_error(L, "not enough memory");
    }
    return 0;
}

int LuaMIDIHelper::lua_requestAllNoteOn(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allNoteOn, "first argument to requestAllNoteOn() is not a function");
}
int LuaMIDIHelper::lua_requestAllNoteOff(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allNoteOff, "first argument to requestAllNoteOff() is not a function");
}
int LuaMIDIHelper::lua_requestAllCC(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allCC, "first argument to requestAllCC() is not a function");
}
int LuaMIDIHelper::lua_requestAllNRPN(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allNRPN, "first argument to requestAllNRPN() is not a function");
}
int LuaMIDIHelper::lua_requestAllProgramChange(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allProgramChange,
                          "first argument to requestAllProgramChange() is not a function");
}
int LuaMIDIHelper::lua_requestAllPolyPressure(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_allPolyPressure,
                          "first argument to requestAllPolyPressure() is not a function");
}
int LuaMIDIHelper::lua_requestPitchWheel(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_pitchWheel, "first argument to requestPitchWheel() is not a function");
}
int LuaMIDIHelper::lua_requestChannelPressure(lua_State* L) {
    return RegisterInList(L, &LuaMIDIHelper::m_channelPressure,
                          "first argument to requestChannelPressure() is not a function");
}
int LuaMIDIHelper::lua_requestNoteOn(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_noteOn, "second argument to requestNoteOn() is not a function");
}
int LuaMIDIHelper::lua_requestNoteOff(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_noteOff, "second argument to requestNoteOff() is not a function");
}
int LuaMIDIHelper::lua_requestCC(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_cc, "second argument to requestCC() is not a function");
}
int LuaMIDIHelper::lua_requestNRPN(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_nrpn, "second argument to requestNRPN() is not a function");
}
int LuaMIDIHelper::lua_requestProgramChange(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_programChange,
                           "second argument to requestProgramChange() is not a function");
}
int LuaMIDIHelper::lua_requestPolyPressure(lua_State* L) {
    return RegisterInTable(L, &LuaMIDIHelper::m_polyPressure,
                           "second argument to requestPolyPressure() is not a function");
}

// ---------------------------------------------------------------------------------------------
// Dispatch (under the Lua lock)

void LuaMIDIHelper::CallRef(int ref, const int* args, int nargs) {
    lua_State* L = m_state;
    int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, ref);
    for (int i = 0; i < nargs; ++i) lua_pushinteger(L, args[i]);
    protectedPcall(nargs);  // a callback's error is discarded with whatever it left
    lua_settop(L, top);
}

// By index, reading the length afresh: a callback may register another one in the same list,
// which then runs in this dispatch (and may move the list's storage).
void LuaMIDIHelper::CallList(const RefList& list, const int* args, int nargs) {
    for (size_t i = 0; i < list.size() && m_state; ++i) CallRef(list[i], args, nargs);
}

void LuaMIDIHelper::CallTable(const RefTable& table, SInt32 key, const int* args, int nargs) {
    auto found = table.find(key);
    if (found != table.end()) CallList(found->second, args, nargs);
}

void LuaMIDIHelper::HandleNoteOn(UInt8 channel, UInt8 note, UInt8 velocity, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[3] = {channel + 1, note, velocity};
    CallList(m_allNoteOn, args, 3);
    CallTable(m_noteOn, note, args, 3);
}

void LuaMIDIHelper::HandleNoteOff(UInt8 channel, UInt8 note, UInt8 velocity, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[3] = {channel + 1, note, velocity};
    CallList(m_allNoteOff, args, 3);
    CallTable(m_noteOff, note, args, 3);
}

void LuaMIDIHelper::HandleControlChange(UInt8 channel, UInt8 controller, UInt8 value, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    bool nrpnEvent = false;
    switch (controller) {
    case 99: m_nrpnMSB = value; break;
    case 98: m_nrpnLSB = value; break;
    case 6: m_dataMSB = value; nrpnEvent = true; break;
    case 38: m_dataLSB = value; nrpnEvent = true; break;
    default: break;
    }
    if (nrpnEvent) {
        const SInt32 number = m_nrpnMSB * 128 + m_nrpnLSB;
        const int args[3] = {channel + 1, number, m_dataMSB * 128 + m_dataLSB};
        CallList(m_allNRPN, args, 3);
        CallTable(m_nrpn, number, args, 3);
    }
    const int args[3] = {channel + 1, controller, value};
    CallList(m_allCC, args, 3);
    CallTable(m_cc, controller, args, 3);
}

void LuaMIDIHelper::HandlePitchWheel(UInt8 channel, UInt8 lsb, UInt8 msb, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[2] = {channel + 1, msb * 128 + lsb};
    CallList(m_pitchWheel, args, 2);
}

void LuaMIDIHelper::HandlePolyPressure(UInt8 channel, UInt8 note, UInt8 pressure, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[3] = {channel + 1, note, pressure};
    CallList(m_allPolyPressure, args, 3);
    CallTable(m_polyPressure, note, args, 3);
}

void LuaMIDIHelper::HandleProgramChange(UInt8 channel, UInt8 program) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[2] = {channel + 1, program};
    CallList(m_allProgramChange, args, 2);
    CallTable(m_programChange, program, args, 2);
}

void LuaMIDIHelper::HandleChannelPressure(UInt8 channel, UInt8 value, UInt32) {
    ScopedLock lock(*this);
    if (!m_state) return;
    const int args[2] = {channel + 1, value};
    CallList(m_channelPressure, args, 2);
}

}  // namespace TB
