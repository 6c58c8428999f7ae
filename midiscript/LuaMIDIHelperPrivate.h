// Pieces shared by the helper's source files; not part of its interface.
#pragma once

#include <cstddef>
#include <mutex>

#include "midiscript/LuaMIDIHelper.h"

namespace TB {

// The most memory one script state may hold; beyond it allocations fail with the Lua error
// "not enough memory", which ends the entry like any other error.
constexpr size_t kScriptMemoryLimitBytes = size_t(256) << 20;

// Held by every timer callback installed on the run loop. The dispatcher fires only while
// `helper` is set; the helper's destructor clears it under `mutex`, which also waits for a
// callback that is running at that moment.
struct LuaMIDIHelper::TimerGate {
    std::mutex mutex;
    LuaMIDIHelper* helper = nullptr;
};

// The id of a parameter name, or -1. Raises nothing.
int LookupParamId(lua_State* L, const char* name);

}  // namespace TB
