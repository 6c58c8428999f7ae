// The per-unit MIDI script host: a private Lua 5.1 state running the built-in "midi.lua" and the
// user's scripts, the functions those scripts call, the dispatch of MIDI events into their
// callbacks, and their timers on the main run loop.
//
// Threads: MIDI arrives on the host's MIDI delivery thread, timers fire on the main run loop's
// thread, the OSC service enters from its receive task. Every entry into the state holds the
// recursive Lua lock; every entry is bounded by an instruction-count hook that ends a script
// running for longer than kScriptTimeLimitSeconds with the Lua error "script timed out".
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "hostframework/AUTypes.h"
#include "hostframework/MPServices.h"
#include "hostframework/RunLoop.h"
#include "osc/OSCScriptHost.h"

struct lua_State;
struct lua_Debug;
class AUBase;

namespace TB {

class OSCHelper;

// The work one entry into a script state may do before it is ended, measured on the monotonic
// clock every kScriptHookInstructions Lua instructions.
constexpr double kScriptTimeLimitSeconds = 1.0;
constexpr int kScriptHookInstructions = 10000;

class LuaMIDIHelper : public OSCScriptHost {
public:
    // Stores both pointers and creates the locks; does not create the Lua state.
    LuaMIDIHelper(AUBase* effect, OSCHelper* oscHelper);
    // Removes the timers still installed, closes the state, deletes the locks.
    virtual ~LuaMIDIHelper();
    LuaMIDIHelper(const LuaMIDIHelper&) = delete;
    LuaMIDIHelper& operator=(const LuaMIDIHelper&) = delete;

    // The state, created and loaded (built-in and user scripts) on the first call; later calls
    // return it unchanged. Construction thread, or the OSC receive task.
    lua_State* LuaInit();
    // Closes the state (releasing every callback reference). Destruction only, in practice.
    void LuaShutdown();

    // MIDI delivery thread. Channel 0..15, data bytes 0..127; the offset is not used. Each runs
    // the registered callbacks under the Lua lock; nothing happens without a state.
    virtual void HandleNoteOn(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset);
    virtual void HandleNoteOff(UInt8 channel, UInt8 note, UInt8 velocity, UInt32 offset);
    virtual void HandleControlChange(UInt8 channel, UInt8 controller, UInt8 value, UInt32 offset);
    virtual void HandlePitchWheel(UInt8 channel, UInt8 lsb, UInt8 msb, UInt32 offset);
    virtual bool isParameterUsed(SInt32 id);
    // The unit's eight GUI bool values; callers keep index in 0..7.
    virtual void setGUIBoolValue(int index, int value) = 0;
    virtual int getGUIBoolValue(int index) const = 0;

    void HandlePolyPressure(UInt8 channel, UInt8 note, UInt8 pressure, UInt32 offset);
    void HandleProgramChange(UInt8 channel, UInt8 program);
    void HandleChannelPressure(UInt8 channel, UInt8 value, UInt32 offset);

    // The OSC service's way in (OSC receive task), bounded like every other entry.
    CallStatus CallScriptFunction(const char* name, const OSCScriptValue* arguments, int count,
                                  OSCScriptResults* results) override;
    void PlayScriptNote(bool on, UInt8 note, UInt8 velocity) override;

    OSCHelper* GetOSCHelper() const { return m_oscHelper; }
    // Null until LuaInit. Use it only while holding the Lua lock.
    lua_State* GetState() const { return m_state; }

    // The recursive Lua lock. Entering it from outside (depth 0 -> 1) starts a new time budget
    // for the script code run under it; code of the OSC service that calls into the state with
    // its own lua_pcall takes this lock and so is bounded too.
    void Lock();
    void Unlock();
    class ScopedLock {
    public:
        explicit ScopedLock(LuaMIDIHelper& helper) : m_helper(helper) { m_helper.Lock(); }
        ~ScopedLock() { m_helper.Unlock(); }
        ScopedLock(const ScopedLock&) = delete;
        ScopedLock& operator=(const ScopedLock&) = delete;

    private:
        LuaMIDIHelper& m_helper;
    };

    // Calls the function under the top nargs values with them, no results, in protected mode,
    // under the Lua lock, with a fresh time budget when it is the outermost call. Returns the Lua
    // status (0 = success); on failure the error value is left on the stack for the caller.
    int protectedPcall(int nargs);

    // The helper of a state (registry entry kRefcon).
    static LuaMIDIHelper* getRefCon(lua_State* L);
    // The id of a parameter name (exact match); raises "parameter not found: '%s'" otherwise.
    static int getParam(lua_State* L, const char* name);
    // Writes "@@@ " and the formatted text to standard output and flushes it. Returns 0.
    static int LuaError(lua_State* L, const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Registry keys: the addresses of these texts.
    static const char kRefcon[];
    static const char kParamLookup[];
    static const char kMetatableTagTimer[];

    // The script function sendOSC, which needs no helper: other script states (the skins')
    // register it too.
    static int (*SendOSCScriptFunction())(lua_State*) { return &lua_sendOSC; }

private:
    typedef std::vector<int> RefList;
    typedef std::map<SInt32, RefList> RefTable;
    struct TimerGate;

    // --- script functions (LuaScriptAPI.cpp, LuaMIDIDispatch.cpp, LuaMIDITimers.cpp, LuaOSC.cpp)
    static int lua_setParameter(lua_State* L);
    static int lua_getParameter(lua_State* L);
    static int lua_getParameterID(lua_State* L);
    static int lua_getParameterMinMax(lua_State* L);
    static int lua_getParameterUnit(lua_State* L);
    static int lua_getParameterName(lua_State* L);
    static int lua_isParameterUsed(lua_State* L);
    static int lua_getNumParameters(lua_State* L);
    static int lua_sendOSC(lua_State* L);
    static int lua_setOthersParameter(lua_State* L);
    static int lua_getOthersParameter(lua_State* L);
    static int lua_requestAllNoteOn(lua_State* L);
    static int lua_requestAllNoteOff(lua_State* L);
    static int lua_requestAllCC(lua_State* L);
    static int lua_requestAllNRPN(lua_State* L);
    static int lua_requestAllProgramChange(lua_State* L);
    static int lua_requestAllPolyPressure(lua_State* L);
    static int lua_requestNoteOn(lua_State* L);
    static int lua_requestNoteOff(lua_State* L);
    static int lua_requestCC(lua_State* L);
    static int lua_requestNRPN(lua_State* L);
    static int lua_requestPitchWheel(lua_State* L);
    static int lua_requestChannelPressure(lua_State* L);
    static int lua_requestProgramChange(lua_State* L);
    static int lua_requestPolyPressure(lua_State* L);
    static int lua_time(lua_State* L);
    static int lua_requestTimedCallback(lua_State* L);
    static int lua_requestPeriodicCallback(lua_State* L);
    static int lua_cancelTimer(lua_State* L);
    static int lua_setGUIBoolValue(lua_State* L);
    static int lua_getGUIBoolValue(lua_State* L);
    static int lua_setOthersGUIBoolValue(lua_State* L);
    static int lua_getOthersGUIBoolValue(lua_State* L);
    static int lua_registerOSCPathForParameter(lua_State* L);
    static int lua_registerOSCPathForParameterNormalized(lua_State* L);

    // The functions above in registration order.
    struct ScriptFunction {
        const char* name;
        int (*function)(lua_State*);
    };
    static const ScriptFunction ksScriptFunctions[];
    friend int LookupParamId(lua_State* L, const char* name);

    // --- state creation and entries (LuaMIDIHelper.cpp)
    void RegisterGlobals();
    void RunScripts();
    static void CountHook(lua_State* L, lua_Debug* ar);
    void ArmTimeBudget();

    // --- callback registration and dispatch (LuaMIDIDispatch.cpp)
    static int RegisterInList(lua_State* L, RefList LuaMIDIHelper::*list, const char* message);
    static int RegisterInTable(lua_State* L, RefTable LuaMIDIHelper::*table, const char* message);
    // Calls one registered function with the integer arguments; the stack is left as found.
    void CallRef(int ref, const int* args, int nargs);
    void CallList(const RefList& list, const int* args, int nargs);
    void CallTable(const RefTable& table, SInt32 key, const int* args, int nargs);

    // --- timers (LuaMIDITimers.cpp)
    static int InstallTimer(lua_State* L, bool periodic);
    static void TimerProc(const std::shared_ptr<TimerGate>& gate, RunLoop::TimerID timer, bool periodic);
    void TimerFired(RunLoop::TimerID timer, bool periodic);
    // Installs a run-loop timer and its table entry; 0 when that failed.
    RunLoop::TimerID AddTimerEntry(double delay, bool periodic, int ref) noexcept;
    // Removes a timer and its entry; its function's reference, or LUA_NOREF when there was none.
    int RemoveTimerEntry(RunLoop::TimerID timer) noexcept;
    void RemoveAllTimers();

    AUBase* m_effect;
    OSCHelper* m_oscHelper;
    lua_State* m_state = nullptr;
    MPCriticalRegionID m_luaLock = nullptr;

    RefList m_allNoteOn;
    RefList m_allNoteOff;
    RefList m_allCC;
    RefList m_allNRPN;
    RefList m_allProgramChange;
    RefList m_allPolyPressure;
    RefTable m_noteOn;
    RefTable m_noteOff;
    RefTable m_cc;
    RefTable m_nrpn;
    RefTable m_programChange;
    RefTable m_polyPressure;
    RefList m_pitchWheel;
    RefList m_channelPressure;

    // NRPN assembly, one set for all channels: controllers 98, 99, 38, 6.
    SInt32 m_nrpnLSB = 0;
    SInt32 m_nrpnMSB = 0;
    SInt32 m_dataLSB = 0;
    SInt32 m_dataMSB = 0;

    std::map<RunLoop::TimerID, int> m_timers;
    MPCriticalRegionID m_timerLock = nullptr;
    // Shared with every installed timer callback, so that one firing while the helper is being
    // destroyed finds it gone instead of touching freed memory.
    std::shared_ptr<TimerGate> m_timerGate;

    // The parameter-name table (also stored under kParamLookup); owned, freed by LuaShutdown.
    void* m_paramLookup = nullptr;

    // Entry bookkeeping, touched only under the Lua lock.
    int m_lockDepth = 0;
    int m_pcallDepth = 0;
    UInt64 m_deadlineNanos = 0;  // 0: no budget running
};

}  // namespace TB
