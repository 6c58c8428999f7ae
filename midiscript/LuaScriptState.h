// What every script state of ours shares, the MIDI scripts' and the editor skin's: a capped
// allocator that also leads from the state to its owner, the platform and version constants,
// and where `require` looks.
#pragma once

#include <cstddef>

struct lua_State;

namespace TB {

// The state's allocator: realloc/free with a cap on what the state holds, so that a runaway
// script fails with "not enough memory" instead of exhausting the host. Its user data leads
// every thread (coroutine) of the state to the owner, which a script cannot alter.
struct ScriptAllocator {
    void* owner;
    size_t limit;
    size_t used = 0;

    static void* Alloc(void* ud, void* ptr, size_t osize, size_t nsize);
    // The owner of a state made by NewScriptState; null for any other state.
    static void* Owner(lua_State* L);
};

// A new state allocating through `allocator` (which must outlive it), or null.
lua_State* NewScriptState(ScriptAllocator* allocator);

// The globals isMac, isWin, isVST, isAU, majorVersion, minorVersion, dotVersion and version.
void SetScriptConstants(lua_State* L);

// package.path and package.cpath (the package library open): the scripts folders and the
// system's Lua 5.1 module folders, never the process's working directory, which a host does not
// choose for its plug-ins.
void SetScriptModulePaths(lua_State* L);

}  // namespace TB
