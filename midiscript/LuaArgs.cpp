#include "midiscript/LuaArgs.h"

#include <cmath>

extern "C" {
#include <lauxlib.h>
}

#include "effect/MarrowfinParameters.h"
#include "midiscript/LuaMIDIHelper.h"

namespace TB {

int CheckInt(lua_State* L, int arg) { return TruncateToInt(luaL_checknumber(L, arg)); }

int OptOSCIndex(lua_State* L, int arg) { return lua_isnumber(L, arg) ? TruncateToInt(lua_tonumber(L, arg)) : 0; }

int CheckParamRef(lua_State* L, int arg, bool rangeChecked) {
    if (lua_isnumber(L, arg)) {
        int id = TruncateToInt(lua_tonumber(L, arg));
        if (rangeChecked && static_cast<unsigned>(id) >= static_cast<unsigned>(kNumParams))
            return luaL_error(L, "parameter out of range: %d", id);
        return id;
    }
    return LuaMIDIHelper::getParam(L, luaL_checkstring(L, arg));
}

float CheckParamValue(lua_State* L, int arg) {
    lua_Number value = luaL_checknumber(L, arg);
    if (std::isnan(value)) return luaL_error(L, "parameter value is not a number"), 0.0f;
    // Narrowing a double beyond float's range is undefined: saturate to infinity explicitly.
    if (value > 3.4028234663852886e38) return INFINITY;
    if (value < -3.4028234663852886e38) return -INFINITY;
    return static_cast<float>(value);
}

}  // namespace TB
