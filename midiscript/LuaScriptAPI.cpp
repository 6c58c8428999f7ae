// The script functions for parameters, GUI bool values, other instances, OSC and the clock.
//
// They run inside a protected call under the Lua lock, on the thread that entered the state.
// Lua here is the C build: an error is a longjmp, so no function below keeps a C++ object with
// a destructor alive where it may raise, and every call that may throw runs in a noexcept
// wrapper that turns the exception into a result.
#include <cstdio>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "effect/MarrowfinConstants.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUBase.h"
#include "hostframework/AUParameterServices.h"
#include "midiscript/LuaArgs.h"
#include "midiscript/LuaMIDIHelper.h"
#include "osc/VoskInstanceTracker.h"

namespace TB {

namespace {

LuaMIDIHelper* Helper(lua_State* L) {
    LuaMIDIHelper* helper = LuaMIDIHelper::getRefCon(L);
    if (!helper) luaL_error(L, "no script host");
    return helper;
}

bool ReadParameter(AUBase* effect, int id, Float32* value) noexcept {
    try {
        *value = effect->Globals()->GetParameter(static_cast<AudioUnitParameterID>(id));
        return true;
    } catch (...) {
        return false;
    }
}

void WriteParameter(AUBase* effect, int id, Float32 value) noexcept {
    try {
        AudioUnitParameter parameter{effect->GetComponentInstance(), static_cast<AudioUnitParameterID>(id),
                                     kAudioUnitScope_Global, 0};
        AUParameterSet(nullptr, nullptr, &parameter, value, 0);
    } catch (...) {
    }
}

bool IsUsed(LuaMIDIHelper* helper, int id) noexcept {
    try {
        return helper->isParameterUsed(id);
    } catch (...) {
        return false;
    }
}

void SetGUIBool(LuaMIDIHelper* helper, int index, int value) noexcept {
    try {
        helper->setGUIBoolValue(index, value);
    } catch (...) {
    }
}

bool GetGUIBool(const LuaMIDIHelper* helper, int index) noexcept {
    try {
        return helper->getGUIBoolValue(index) != 0;
    } catch (...) {
        return false;
    }
}

int CheckGUIBoolIndex(lua_State* L, int arg) {
    int index = CheckInt(L, arg);
    if (static_cast<unsigned>(index) >= unsigned(kNumGUIBools)) return luaL_error(L, "indicator id out of range: %d", index);
    return index;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// This instance's parameters

int LuaMIDIHelper::lua_setParameter(lua_State* L) {
    LuaMIDIHelper* helper = Helper(L);
    int id = CheckParamRef(L, 1, false);
    Float32 value = CheckParamValue(L, 2);
    WriteParameter(helper->m_effect, id, value);
    return 0;
}

int LuaMIDIHelper::lua_getParameter(lua_State* L) {
    LuaMIDIHelper* helper = Helper(L);
    int id = CheckParamRef(L, 1, true);
    Float32 value = 0;
    if (!ReadParameter(helper->m_effect, id, &value)) return luaL_error(L, "parameter out of range: %d", id);
    lua_pushnumber(L, value);
    return 1;
}

int LuaMIDIHelper::lua_getParameterID(lua_State* L) {
    lua_pushinteger(L, getParam(L, luaL_checkstring(L, 1)));
    return 1;
}

int LuaMIDIHelper::lua_getParameterMinMax(lua_State* L) {
    int id = CheckParamRef(L, 1, true);
    lua_pushnumber(L, astParamInfos[id].minValue);
    lua_pushnumber(L, astParamInfos[id].maxValue);
    return 2;
}

int LuaMIDIHelper::lua_getParameterUnit(lua_State* L) {
    int id = CheckParamRef(L, 1, true);
    lua_pushnumber(L, astParamInfos[id].unit);
    return 1;
}

int LuaMIDIHelper::lua_getParameterName(lua_State* L) {
    int id = CheckParamRef(L, 1, true);
    char name[64];
    snprintf(name, sizeof name, "%s", astParamInfos[id].name);
    lua_pushstring(L, name);
    return 1;
}

int LuaMIDIHelper::lua_isParameterUsed(lua_State* L) {
    LuaMIDIHelper* helper = Helper(L);
    int id = CheckParamRef(L, 1, true);
    lua_pushboolean(L, IsUsed(helper, id));
    return 1;
}

int LuaMIDIHelper::lua_getNumParameters(lua_State* L) {
    lua_pushinteger(L, kNumParams);
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Other instances, addressed by OSC index

int LuaMIDIHelper::lua_setOthersParameter(lua_State* L) {
    int oscIndex = OptOSCIndex(L, 1);
    int id = CheckParamRef(L, 2, false);
    Float32 value = CheckParamValue(L, 3);
    VoskInstanceTracker::SetParameterOnAllByOSCIndex(oscIndex, id, value);
    return 0;
}

int LuaMIDIHelper::lua_getOthersParameter(lua_State* L) {
    int oscIndex = OptOSCIndex(L, 1);
    int id = CheckParamRef(L, 2, true);
    lua_pushnumber(L, VoskInstanceTracker::GetParameterFromAllByOSCIndex(oscIndex, id));
    return 1;
}

int LuaMIDIHelper::lua_setOthersGUIBoolValue(lua_State* L) {
    int oscIndex = OptOSCIndex(L, 1);
    int index = CheckGUIBoolIndex(L, 2);
    VoskInstanceTracker::SetGUIBoolValueOnAllByOSCIndex(oscIndex, index, lua_toboolean(L, 3));
    return 0;
}

int LuaMIDIHelper::lua_getOthersGUIBoolValue(lua_State* L) {
    int oscIndex = OptOSCIndex(L, 1);
    int index = CheckGUIBoolIndex(L, 2);
    lua_pushboolean(L, VoskInstanceTracker::GetGUIBoolValueFromAllByOSCIndex(oscIndex, index));
    return 1;
}

// ---------------------------------------------------------------------------------------------
// GUI bool values of this instance

int LuaMIDIHelper::lua_setGUIBoolValue(lua_State* L) {
    LuaMIDIHelper* helper = Helper(L);
    int index = CheckGUIBoolIndex(L, 1);
    SetGUIBool(helper, index, lua_toboolean(L, 2));
    return 0;
}

int LuaMIDIHelper::lua_getGUIBoolValue(lua_State* L) {
    LuaMIDIHelper* helper = Helper(L);
    int index = CheckGUIBoolIndex(L, 1);
    lua_pushboolean(L, GetGUIBool(helper, index));
    return 1;
}

// ---------------------------------------------------------------------------------------------
// The clock

int LuaMIDIHelper::lua_time(lua_State* L) {
    lua_pushnumber(L, static_cast<lua_Number>(AbsoluteToNanoseconds(UpTime()).value) * 1e-9);
    return 1;
}

}  // namespace TB
