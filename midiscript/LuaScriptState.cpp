#include "midiscript/LuaScriptState.h"

#include <cstdlib>

extern "C" {
#include <lua.h>
}

#include "MarrowfinFacts.h"
#include "midiscript/ScriptFolders.h"

namespace TB {

void* ScriptAllocator::Alloc(void* ud, void* ptr, size_t osize, size_t nsize) {
    ScriptAllocator* allocator = static_cast<ScriptAllocator*>(ud);
    if (nsize == 0) {
        free(ptr);
        allocator->used -= (ptr ? osize : 0);
        return nullptr;
    }
    const size_t old = ptr ? osize : 0;
    if (nsize > old && allocator->used - old + nsize > allocator->limit) return nullptr;
    void* p = realloc(ptr, nsize);
    if (p) allocator->used = allocator->used - old + nsize;
    else if (nsize <= old) return ptr;  // a shrink must not fail; keep the larger block
    return p;
}

void* ScriptAllocator::Owner(lua_State* L) {
    void* ud = nullptr;
    if (lua_getallocf(L, &ud) != Alloc || !ud) return nullptr;
    return static_cast<ScriptAllocator*>(ud)->owner;
}

lua_State* NewScriptState(ScriptAllocator* allocator) { return lua_newstate(ScriptAllocator::Alloc, allocator); }

void SetScriptConstants(lua_State* L) {
    lua_pushboolean(L, 1);
    lua_setglobal(L, "isMac");
    lua_pushboolean(L, 0);
    lua_setglobal(L, "isWin");
    lua_pushboolean(L, 0);
    lua_setglobal(L, "isVST");
    lua_pushboolean(L, 1);
    lua_setglobal(L, "isAU");
    lua_pushinteger(L, MARROWFIN_VERSION_MAJOR);
    lua_setglobal(L, "majorVersion");
    lua_pushinteger(L, MARROWFIN_VERSION_MINOR);
    lua_setglobal(L, "minorVersion");
    lua_pushinteger(L, MARROWFIN_VERSION_PATCH);
    lua_setglobal(L, "dotVersion");
    lua_pushinteger(L, kMarrowfinScriptVersion);
    lua_setglobal(L, "version");
}

void SetScriptModulePaths(lua_State* L) {
    lua_getglobal(L, "package");
    if (lua_istable(L, -1)) {
        lua_pushstring(L, ScriptModulePath().c_str());
        lua_setfield(L, -2, "path");
        lua_pushstring(L, ScriptNativeModulePath().c_str());
        lua_setfield(L, -2, "cpath");
    }
    lua_pop(L, 1);
}

}  // namespace TB
