// Script timers on the main run loop: installing, firing and cancelling.
//
// Lock order: Lua lock, then timer lock (script functions run under the Lua lock). A firing
// timer takes the timer lock only to look itself up and releases it before it takes the Lua
// lock. The gate (TimerGate) is taken before either and only by firing timers and the
// destructor.
#include <cmath>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "midiscript/LuaMIDIHelperPrivate.h"

namespace TB {

namespace {

// Longest delay accepted, about 115 days; shortest period of a periodic timer. NaN and negative
// delays fire as soon as possible. A zero period would spin the main thread.
constexpr double kMaxTimerSeconds = 1e7;
constexpr double kMinTimerPeriodSeconds = 0.001;

double SanitizeDelay(lua_Number seconds) {
    if (!(seconds > 0)) return 0;
    return seconds > kMaxTimerSeconds ? kMaxTimerSeconds : seconds;
}

}  // namespace

int LuaMIDIHelper::lua_requestTimedCallback(lua_State* L) { return InstallTimer(L, false); }
int LuaMIDIHelper::lua_requestPeriodicCallback(lua_State* L) { return InstallTimer(L, true); }

int LuaMIDIHelper::InstallTimer(lua_State* L, bool periodic) {
    LuaMIDIHelper* helper = getRefCon(L);
    double delay = SanitizeDelay(luaL_checknumber(L, 1));
    if (!lua_isfunction(L, 2)) return luaL_error(L, "second argument to requestTimerCallback() is not a function");
    if (!helper) return luaL_error(L, "no script host");
    if (periodic && delay < kMinTimerPeriodSeconds) delay = kMinTimerPeriodSeconds;

    // Everything that may fail inside Lua happens before the timer exists.
    lua_pushvalue(L, 2);
    int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    void* handle = lua_newuserdata(L, sizeof(RunLoop::TimerID));
    luaL_getmetatable(L, kMetatableTagTimer);
    lua_setmetatable(L, -2);

    RunLoop::TimerID timer = helper->AddTimerEntry(delay, periodic, ref);
    if (timer == 0) {
        luaL_unref(L, LUA_REGISTRYINDEX, ref);
        return luaL_error(L, "not enough memory");
    }
    memcpy(handle, &timer, sizeof timer);
    return 1;
}

RunLoop::TimerID LuaMIDIHelper::AddTimerEntry(double delay, bool periodic, int ref) noexcept {
    RunLoop::TimerID timer = 0;
    // Held across both steps, so that a timer firing at once finds its entry.
    MPEnterCriticalRegion(m_timerLock, kDurationForever);
    try {
        std::shared_ptr<TimerGate> gate = m_timerGate;
        timer = RunLoop::Main().AddTimer(delay, periodic ? delay : 0.0, [gate, periodic](RunLoop::TimerID fired) {
            TimerProc(gate, fired, periodic);
        });
        m_timers[timer] = ref;
    } catch (...) {
        if (timer) RunLoop::Main().RemoveTimer(timer);
        timer = 0;
    }
    MPExitCriticalRegion(m_timerLock);
    return timer;
}

int LuaMIDIHelper::RemoveTimerEntry(RunLoop::TimerID timer) noexcept {
    int ref = LUA_NOREF;
    MPEnterCriticalRegion(m_timerLock, kDurationForever);
    auto found = m_timers.find(timer);
    if (found != m_timers.end()) {
        ref = found->second;
        RunLoop::Main().RemoveTimer(timer);
        m_timers.erase(found);
    }
    MPExitCriticalRegion(m_timerLock);
    return ref;
}

int LuaMIDIHelper::lua_cancelTimer(lua_State* L) {
    LuaMIDIHelper* helper = getRefCon(L);
    void* handle = luaL_checkudata(L, 1, kMetatableTagTimer);
    // Only handles made by InstallTimer have this size; refuse anything dressed up as one.
    if (lua_objlen(L, 1) != sizeof(RunLoop::TimerID)) return luaL_typerror(L, 1, kMetatableTagTimer);
    RunLoop::TimerID timer;
    memcpy(&timer, handle, sizeof timer);
    int ref = helper ? helper->RemoveTimerEntry(timer) : LUA_NOREF;
    if (ref >= 0) luaL_unref(L, LUA_REGISTRYINDEX, ref);
    return 0;  // already fired or cancelled: nothing to do
}

// Main run loop's thread.
void LuaMIDIHelper::TimerProc(const std::shared_ptr<TimerGate>& gate, RunLoop::TimerID timer, bool periodic) {
    std::lock_guard<std::mutex> lock(gate->mutex);
    if (gate->helper) gate->helper->TimerFired(timer, periodic);
}

void LuaMIDIHelper::TimerFired(RunLoop::TimerID timer, bool periodic) {
    int ref = LUA_NOREF;
    MPEnterCriticalRegion(m_timerLock, kDurationForever);
    auto found = m_timers.find(timer);
    if (found == m_timers.end()) {
        MPExitCriticalRegion(m_timerLock);
        return;  // cancelled in the meantime
    }
    ref = found->second;
    if (!periodic) {
        RunLoop::Main().RemoveTimer(timer);
        m_timers.erase(found);
    }
    MPExitCriticalRegion(m_timerLock);
    if (ref < 0) return;

    ScopedLock lock(*this);
    if (!m_state) return;
    CallRef(ref, nullptr, 0);
    if (!periodic && m_state) luaL_unref(m_state, LUA_REGISTRYINDEX, ref);
}

// Under the Lua lock (LuaShutdown).
void LuaMIDIHelper::RemoveAllTimers() {
    MPEnterCriticalRegion(m_timerLock, kDurationForever);
    for (const auto& entry : m_timers) RunLoop::Main().RemoveTimer(entry.first);
    m_timers.clear();
    MPExitCriticalRegion(m_timerLock);
}

}  // namespace TB
