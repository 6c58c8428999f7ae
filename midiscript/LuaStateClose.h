// Closes a script state in bounded time, whatever its scripts left behind (see the source).
// Call it with the state's lock held, instead of lua_close.
#pragma once

struct lua_State;

namespace TB {

void CloseScriptState(lua_State* L);

}  // namespace TB
