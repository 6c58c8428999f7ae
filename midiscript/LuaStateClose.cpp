// Closing a script state without running script code unbounded.
//
// lua_close runs the finalizers (__gc) of every userdata, and the interpreter turns hooks off
// while a finalizer runs, so the time bound that ends every other entry cannot end one: a script
// that gives a userdata a finalizer that loops (through newproxy or the debug library) would
// hang the host when the unit goes away. So the state is taken apart first: every root is
// cleared, which leaves all its objects garbage, and a full collection runs at the deepest C
// call level the interpreter allows, where the call of each finalizer fails ("C stack
// overflow") before any of its code runs. Each failure drops that one finalizer and the
// collection goes on from there (by steps, so each retry costs one finalizer, not a sweep) until
// it completes. lua_close then finds nothing left to finalize and only frees.
//
// The collector must not run by itself meanwhile (any allocation may start a step, which runs
// finalizers at whatever depth it happens): it is stopped first, and stopped again after every
// failed finalizer, since a failing finalizer leaves the collector's threshold as it set it.
//
// The price: finalizers do not run when a unit goes away (files a script left open stay open
// until the process ends).
#include "midiscript/LuaStateClose.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace TB {

namespace {

constexpr int kMaxDescent = 400;  // well past the interpreter's C call limit
// Every retry drops one finalizer; a state of at most 256 MB holds fewer userdata than this.
constexpr long kMaxRetries = 20000000;

struct Descent {
    int levels = 0;
    long retries = 0;
    bool started = false;
    bool collected = false;
};

int Nothing(lua_State*) { return 0; }

// Runs inside lua_cpcall, one C call level deeper each time. At the level where even an empty
// protected call overflows, a full collection's finalizer calls overflow too.
int DescendAndCollect(lua_State* L) {
    Descent* descent = static_cast<Descent*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    if (++descent->levels > kMaxDescent) return 0;  // no limit found: give up quietly
    if (lua_cpcall(L, Nothing, nullptr) != 0) {
        // The deepest level: collect here. A finalizer's failure leaves through the cpcall of
        // the level above, which comes back here to go on.
        if (!descent->started) {
            descent->started = true;
            lua_gc(L, LUA_GCCOLLECT, 0);
        } else {
            while (lua_gc(L, LUA_GCSTEP, 0) == 0) {}
        }
        descent->collected = true;
        return 0;
    }
    while (!descent->collected && ++descent->retries < kMaxRetries) {
        const int levels = descent->levels;
        lua_cpcall(L, DescendAndCollect, descent);
        lua_gc(L, LUA_GCSTOP, 0);
        lua_settop(L, 0);
        if (descent->levels > kMaxDescent) return 0;
        descent->levels = levels;
    }
    return 0;
}

// Leaves nothing reachable: the stack, the registry, the globals and the metatables of the
// basic types.
void ClearRoots(lua_State* L) {
    lua_settop(L, 0);
    lua_pushnil(L);
    while (lua_next(L, LUA_REGISTRYINDEX) != 0) {
        lua_pop(L, 1);
        lua_pushvalue(L, -1);
        lua_pushnil(L);
        lua_rawset(L, LUA_REGISTRYINDEX);
    }
    lua_newtable(L);
    lua_replace(L, LUA_GLOBALSINDEX);
    lua_pushnil(L);
    lua_pushboolean(L, 0);
    lua_pushlightuserdata(L, nullptr);
    lua_pushnumber(L, 0);
    lua_pushliteral(L, "");
    lua_pushcfunction(L, Nothing);
    lua_pushthread(L);
    for (int i = 1; i <= 7; ++i) {
        lua_pushnil(L);
        lua_setmetatable(L, i);
    }
    lua_settop(L, 0);
}

}  // namespace

void CloseScriptState(lua_State* L) {
    lua_sethook(L, nullptr, 0, 0);
    lua_gc(L, LUA_GCSTOP, 0);
    ClearRoots(L);
    Descent descent;
    lua_cpcall(L, DescendAndCollect, &descent);
    lua_settop(L, 0);
    lua_close(L);
}

}  // namespace TB
