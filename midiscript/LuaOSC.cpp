// The script side of OSC: remote calls and notes coming in from the OSC service (the
// OSCScriptHost side of the helper), and the script functions sendOSC and
// registerOSCPathForParameter[Normalized] going out to it.
//
// Lua here is the C build: a script error is a longjmp. Entries from OSC run inside lua_cpcall,
// so no error crosses a C++ frame with live destructors; the script functions read and check
// every argument first, with no C++ object alive, then call the OSC service (which never
// throws), and raise only after it returned.
#include <climits>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "midiscript/LuaArgs.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/OSCHelper.h"

namespace TB {

namespace {

// What the protected part of a remote call reads and writes: plain data only.
struct ScriptCall {
    const char* function;
    const OSCScriptValue* arguments;
    int argumentCount;
    OSCScriptResults* results;  // null: no results wanted
    bool notCallable;
    int status;  // of the script function's own call; nonzero: it failed
};

// The remote control reaches what the scripts defined: Lua functions. The standard library and
// the script API are C functions, so neither `dofile`, `require` nor `registerOSCPathForParameter`
// can be called from the network.
bool IsScriptFunction(lua_State* L, int index) { return lua_isfunction(L, index) && !lua_iscfunction(L, index); }

void ReadResults(lua_State* L, OSCScriptResults& out) {
    for (int i = 1; i <= lua_gettop(L) && out.count < OSCScriptResults::kMaxResults; ++i) {
        if (lua_isnil(L, i)) break;
        OSCScriptResults::Result& r = out.results[out.count];
        if (lua_isnumber(L, i)) {  // a number, or a string that converts to one
            r.isString = false;
            r.number = static_cast<float>(lua_tonumber(L, i));
        } else if (lua_type(L, i) == LUA_TSTRING) {
            size_t length = 0;
            const char* s = lua_tolstring(L, i, &length);
            length = strnlen(s, length);  // OSC strings end at the first zero byte
            if (out.textUsed + length + 1 > sizeof out.text) {
                out.textOverflow = true;
                break;
            }
            r.isString = true;
            r.offset = out.textUsed;
            std::memcpy(out.text + out.textUsed, s, length);
            out.text[out.textUsed + length] = '\0';
            out.textUsed += length + 1;
        } else {
            out.badResult = true;
            break;
        }
        ++out.count;
    }
}

// Runs under lua_cpcall: pushes the function and its arguments, calls it, and reads the results
// into the record. Errors raised here end the cpcall, not the receive task.
int RunScriptCall(lua_State* L) {
    ScriptCall* call = static_cast<ScriptCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    if (!lua_checkstack(L, call->argumentCount + OSCScriptResults::kMaxResults + 2))
        return luaL_error(L, "too many arguments");
    lua_getglobal(L, call->function);
    if (!IsScriptFunction(L, -1)) {
        call->notCallable = true;
        return 0;
    }
    for (int i = 0; i < call->argumentCount; ++i) {
        const OSCScriptValue& a = call->arguments[i];
        switch (a.kind) {
            case OSCScriptValue::kNil: lua_pushnil(L); break;
            case OSCScriptValue::kBoolean: lua_pushboolean(L, a.number != 0); break;
            case OSCScriptValue::kNumber: lua_pushnumber(L, a.number); break;
            case OSCScriptValue::kString: lua_pushstring(L, a.text); break;
        }
    }
    const int wanted = call->results ? OSCScriptResults::kMaxResults : 0;
    call->status = lua_pcall(L, call->argumentCount, wanted, 0);
    if (call->status == 0 && call->results) ReadResults(L, *call->results);
    return 0;
}

}  // namespace

OSCScriptHost::CallStatus LuaMIDIHelper::CallScriptFunction(const char* name, const OSCScriptValue* arguments,
                                                            int count, OSCScriptResults* results) {
    ScriptCall call{name, arguments, count, results, false, 0};
    ScopedLock lock(*this);
    lua_State* L = LuaInit();
    if (!L) return kUnavailable;
    const int top = lua_gettop(L);
    const int status = lua_cpcall(L, RunScriptCall, &call);
    lua_settop(L, top);
    return status == 0 && call.status == 0 && !call.notCallable ? kCalled : kFailed;
}

void LuaMIDIHelper::PlayScriptNote(bool on, UInt8 note, UInt8 velocity) {
    if (on) HandleNoteOn(1, note, velocity, 0);
    else HandleNoteOff(1, note, velocity, 0);
}

// ---------------------------------------------------------------------------------------------
// Script functions

// sendOSC(destination, address, [types,] values)
int LuaMIDIHelper::lua_sendOSC(lua_State* L) {
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
    if (count > OSCScriptResults::kTextBytes) return luaL_error(L, "out of buffer memory");  // 4 bytes a value at least

    // Scratch owned by the state: nothing to free if an error follows. The strings stay alive in
    // the table, which is on the stack until this function returns.
    OSCScriptValue* values = static_cast<OSCScriptValue*>(lua_newuserdata(L, (count ? count : 1) * sizeof(OSCScriptValue)));
    for (size_t i = 1; i <= count; ++i) {
        lua_rawgeti(L, table, int(i));
        OSCScriptValue& v = values[i - 1];
        const int type = lua_type(L, -1);
        if (type == LUA_TNIL) {
            v = {OSCScriptValue::kNil, 0, nullptr};
        } else if (lua_isnumber(L, -1)) {  // numbers, and strings that read as numbers
            v = {OSCScriptValue::kNumber, lua_tonumber(L, -1), nullptr};
        } else if (type == LUA_TSTRING) {
            v = {OSCScriptValue::kString, 0, lua_tostring(L, -1)};
        } else {
            return luaL_error(L, "sendOSC cannot send a %s (value %d)", lua_typename(L, type), int(i));
        }
        lua_pop(L, 1);
    }

    switch (OSCHelper::SendScriptMessage(destination, address, types, values, int(count))) {
        case OSCHelper::kSent: return 0;
        case OSCHelper::kOutOfBuffer: return luaL_error(L, "out of buffer memory");
        case OSCHelper::kNoSocket: return luaL_error(L, "unable to connect udp socket");
        case OSCHelper::kSendFailed: break;
    }
    return luaL_error(L, "sendOSC failed");
}

namespace {

// A parameter reference at a stack index: an id (numbers and numeric strings, 0..39) or a name.
int CheckReference(lua_State* L, int index, int element) {
    const int type = lua_type(L, index);
    if (type != LUA_TNUMBER && type != LUA_TSTRING)
        return luaL_error(L, "parameter reference %d is not a number or a name", element);
    return CheckParamRef(L, index, true);
}

// registerOSCPathForParameter[Normalized](address, parameter or table of parameters)
int RegisterPath(lua_State* L, OSCHelper* osc, bool normalized) {
    const char* address = luaL_checkstring(L, 1);
    int count = 1;
    int* ids = nullptr;  // scratch owned by the script state: nothing to free if an error follows
    if (lua_istable(L, 2)) {
        const size_t length = lua_objlen(L, 2);
        if (length > size_t(INT_MAX / sizeof(int))) return luaL_error(L, "not enough memory");
        count = int(length);
        ids = static_cast<int*>(lua_newuserdata(L, (length ? length : 1) * sizeof(int)));
        for (int i = 1; i <= count; ++i) {
            lua_rawgeti(L, 2, i);
            ids[i - 1] = CheckReference(L, lua_gettop(L), i);
            lua_pop(L, 1);
        }
    } else {
        ids = static_cast<int*>(lua_newuserdata(L, sizeof(int)));
        ids[0] = CheckReference(L, 2, 1);
    }
    if (!osc) return 0;

    switch (osc->RegisterPathForParameters(address, ids, count, normalized)) {
        case OSCHelper::kRegistered: break;
        case OSCHelper::kInconsistentSizes:
            LuaMIDIHelper::LuaError(L, "inconsistent sizes in RegisterOSCPathForParameter\n");
            break;
        case OSCHelper::kBadParameter:  // CheckReference has ruled this out
        case OSCHelper::kNoMemory: return luaL_error(L, "not enough memory");
    }
    return 0;
}

}  // namespace

int LuaMIDIHelper::lua_registerOSCPathForParameter(lua_State* L) {
    return RegisterPath(L, getRefCon(L)->m_oscHelper, false);
}

int LuaMIDIHelper::lua_registerOSCPathForParameterNormalized(lua_State* L) {
    return RegisterPath(L, getRefCon(L)->m_oscHelper, true);
}

}  // namespace TB
