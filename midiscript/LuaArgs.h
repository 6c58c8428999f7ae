// Argument reading shared by the script functions. Every function here may raise a Lua error
// (longjmp in Debian's C build of Lua): callers keep no C++ object with a destructor alive
// across them.
#pragma once

#include <climits>

extern "C" {
#include <lua.h>
}

namespace TB {

// A script number truncated toward zero to an int. Converting a double outside int's range is
// undefined in C++, and scripts pass anything: NaN and values below INT_MIN give INT_MIN, values
// above INT_MAX give INT_MAX.
inline int TruncateToInt(lua_Number v) {
    if (!(v == v)) return INT_MIN;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return static_cast<int>(v);
}

// A required integer argument (a number or numeric string), truncated.
int CheckInt(lua_State* L, int arg);
// An optional OSC index: the truncated number, or 0 when the argument is not a number.
int OptOSCIndex(lua_State* L, int arg);
// A parameter reference: a number or numeric string is an id (raising "parameter out of range:
// %d" outside 0..39 when rangeChecked), anything else must be a string naming a parameter.
int CheckParamRef(lua_State* L, int arg, bool rangeChecked);
// A required number narrowed to a 32-bit float; NaN raises "parameter value is not a number".
float CheckParamValue(lua_State* L, int arg);

}  // namespace TB
