// The MIDI script host: state creation, script loading, entries, the time bound, shutdown.
#include "midiscript/LuaMIDIHelper.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "MarrowfinFacts.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/CFLite.h"
#include "hostframework/Log.h"
#include "midiscript/FileLoader.h"
#include "midiscript/LuaMIDIHelperPrivate.h"
#include "midiscript/LuaScriptState.h"
#include "midiscript/LuaStateClose.h"
#include "midiscript/ScriptFolders.h"

namespace TB {

const char LuaMIDIHelper::kRefcon[] = "TB::LuaMIDIHelper::kRefcon";
const char LuaMIDIHelper::kParamLookup[] = "TB::LuaMIDIHelper::kParamLookup";
const char LuaMIDIHelper::kMetatableTagTimer[] = "TB::LuaMIDIHelper::Timer";

const LuaMIDIHelper::ScriptFunction LuaMIDIHelper::ksScriptFunctions[] = {
    {"setParameter", lua_setParameter},
    {"getParameter", lua_getParameter},
    {"getParameterID", lua_getParameterID},
    {"getParameterMinMax", lua_getParameterMinMax},
    {"getParameterUnit", lua_getParameterUnit},
    {"getParameterName", lua_getParameterName},
    {"isParameterUsed", lua_isParameterUsed},
    {"getNumParameters", lua_getNumParameters},
    {"sendOSC", lua_sendOSC},
    {"setOthersParameter", lua_setOthersParameter},
    {"getOthersParameter", lua_getOthersParameter},
    {"requestAllNoteOn", lua_requestAllNoteOn},
    {"requestAllNoteOff", lua_requestAllNoteOff},
    {"requestAllCC", lua_requestAllCC},
    {"requestAllNRPN", lua_requestAllNRPN},
    {"requestAllProgramChange", lua_requestAllProgramChange},
    {"requestAllPolyPressure", lua_requestAllPolyPressure},
    {"requestNoteOn", lua_requestNoteOn},
    {"requestNoteOff", lua_requestNoteOff},
    {"requestCC", lua_requestCC},
    {"requestNRPN", lua_requestNRPN},
    {"requestPitchWheel", lua_requestPitchWheel},
    {"requestChannelPressure", lua_requestChannelPressure},
    {"requestProgramChange", lua_requestProgramChange},
    {"requestPolyPressure", lua_requestPolyPressure},
    {"time", lua_time},
    {"requestTimedCallback", lua_requestTimedCallback},
    {"requestPeriodicCallback", lua_requestPeriodicCallback},
    {"cancelTimer", lua_cancelTimer},
    {"setGUIBoolValue", lua_setGUIBoolValue},
    {"getGUIBoolValue", lua_getGUIBoolValue},
    {"setOthersGUIBoolValue", lua_setOthersGUIBoolValue},
    {"getOthersGUIBoolValue", lua_getOthersGUIBoolValue},
    {"registerOSCPathForParameter", lua_registerOSCPathForParameter},
    {"registerOSCPathForParameterNormalized", lua_registerOSCPathForParameterNormalized},
    {nullptr, nullptr},
};

namespace {

typedef std::map<std::string, int, std::less<>> ParamLookup;



UInt64 NowNanos() { return AbsoluteToNanoseconds(UpTime()).value; }

const char* ErrorText(lua_State* L) {
    const char* message = lua_tostring(L, -1);
    return message ? message : "(error object is not a string)";
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and destruction (host threads, while no events can arrive)

LuaMIDIHelper::LuaMIDIHelper(AUBase* effect, OSCHelper* oscHelper)
    : m_effect(effect), m_oscHelper(oscHelper), m_timerGate(std::make_shared<TimerGate>()) {
    MPCreateCriticalRegion(&m_luaLock);
    MPCreateCriticalRegion(&m_timerLock);
    m_timerGate->helper = this;
}

LuaMIDIHelper::~LuaMIDIHelper() {
    {
        // Waits for a timer callback that is running now; later firings find no helper.
        std::lock_guard<std::mutex> lock(m_timerGate->mutex);
        m_timerGate->helper = nullptr;
    }
    LuaShutdown();  // removes the timers first, then closes the state
    MPDeleteCriticalRegion(m_timerLock);
    MPDeleteCriticalRegion(m_luaLock);
}

// ---------------------------------------------------------------------------------------------
// The lock and the time bound

void LuaMIDIHelper::Lock() {
    MPEnterCriticalRegion(m_luaLock, kDurationForever);
    if (m_lockDepth++ == 0) ArmTimeBudget();
}

void LuaMIDIHelper::Unlock() {
    if (--m_lockDepth == 0) m_deadlineNanos = 0;
    MPExitCriticalRegion(m_luaLock);
}

void LuaMIDIHelper::ArmTimeBudget() {
    m_deadlineNanos = NowNanos() + static_cast<UInt64>(kScriptTimeLimitSeconds * 1e9);
    if (m_state) lua_sethook(m_state, CountHook, LUA_MASKCOUNT, kScriptHookInstructions);
}

// Runs inside the interpreter every kScriptHookInstructions instructions, on the entering
// thread, under the Lua lock. Once the budget is spent it raises on every instruction, so that
// a script catching the error with pcall in a loop is ended as well.
void LuaMIDIHelper::CountHook(lua_State* L, lua_Debug*) {
    LuaMIDIHelper* helper = getRefCon(L);
    if (!helper) return;
    UInt64 now = NowNanos();
    if (helper->m_deadlineNanos == 0) {
        helper->m_deadlineNanos = now + static_cast<UInt64>(kScriptTimeLimitSeconds * 1e9);
        return;
    }
    if (now > helper->m_deadlineNanos) {
        lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
        luaL_where(L, 0);
        lua_pushliteral(L, "script timed out");
        lua_concat(L, 2);
        lua_error(L);
    }
    if (lua_gethookcount(L) != kScriptHookInstructions)
        lua_sethook(L, CountHook, LUA_MASKCOUNT, kScriptHookInstructions);
}

int LuaMIDIHelper::protectedPcall(int nargs) {
    ScopedLock lock(*this);
    if (m_pcallDepth == 0) ArmTimeBudget();
    ++m_pcallDepth;
    int status = lua_pcall(m_state, nargs, 0, 0);
    --m_pcallDepth;
    return status;
}

// ---------------------------------------------------------------------------------------------
// Static helpers for the script functions

LuaMIDIHelper* LuaMIDIHelper::getRefCon(lua_State* L) {
    return static_cast<LuaMIDIHelper*>(ScriptAllocator::Owner(L));
}

// The table is reached through the helper rather than the registry entry, which a script can
// overwrite through the debug library.
int LookupParamId(lua_State* L, const char* name) {
    LuaMIDIHelper* helper = LuaMIDIHelper::getRefCon(L);
    if (!name || !helper || !helper->m_paramLookup) return -1;
    const ParamLookup* table = static_cast<const ParamLookup*>(helper->m_paramLookup);
    auto found = table->find(std::string_view(name));
    return found == table->end() ? -1 : found->second;
}

int LuaMIDIHelper::getParam(lua_State* L, const char* name) {
    int id = LookupParamId(L, name);
    if (id < 0) return luaL_error(L, "parameter not found: '%s'", name ? name : "");
    return id;
}

int LuaMIDIHelper::LuaError(lua_State*, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    LogFormat(LogLevel::kNote, "@@@ %s", message);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Creating the state

lua_State* LuaMIDIHelper::LuaInit() {
    ScopedLock lock(*this);
    if (m_state) return m_state;

    ScriptAllocator* allocator = new ScriptAllocator{this, kScriptMemoryLimitBytes};
    lua_State* L = NewScriptState(allocator);
    if (!L) {
        delete allocator;
        LuaError(nullptr, "failed to create the script state\n");
        return nullptr;
    }
    luaL_openlibs(L);
    SetScriptModulePaths(L);
    m_state = L;

    RegisterGlobals();
    ArmTimeBudget();  // installs the count hook before any script runs
    RunScripts();
    return m_state;
}

void LuaMIDIHelper::RegisterGlobals() {
    lua_State* L = m_state;
    for (const ScriptFunction* f = ksScriptFunctions; f->name; ++f) lua_register(L, f->name, f->function);

    luaL_newmetatable(L, kMetatableTagTimer);
    lua_pop(L, 1);

    lua_pushlightuserdata(L, const_cast<char*>(kRefcon));
    lua_pushlightuserdata(L, this);
    lua_rawset(L, LUA_REGISTRYINDEX);

    ParamLookup* lookup = new ParamLookup;
    for (int id = 0; id < static_cast<int>(kNumParams); ++id) {
        char name[100];
        snprintf(name, sizeof name, "%s", astParamInfos[id].name);
        (*lookup)[name] = id;
    }
    lua_pushlightuserdata(L, const_cast<char*>(kParamLookup));
    lua_pushlightuserdata(L, lookup);
    lua_rawset(L, LUA_REGISTRYINDEX);
    m_paramLookup = lookup;

    SetScriptConstants(L);
}

void LuaMIDIHelper::RunScripts() {
    lua_State* L = m_state;
    std::vector<std::string> scripts;
    GetScripts(scripts);

    bool userMidiLua = false;
    for (const std::string& path : scripts) {
        size_t slash = path.rfind('/');
        std::string_view name = std::string_view(path).substr(slash == std::string::npos ? 0 : slash + 1);
        if (name.substr(0, 8) == "midi.lua") userMidiLua = true;
    }

    if (!userMidiLua) {
        CFBundleRef bundle = CFBundleGetBundleWithIdentifier(TBConstantString(kMarrowfinBundleIdentifier));
        if (bundle) {
            FileLoader loader("midi.lua", bundle);
            if (loader.data) {
                int top = lua_gettop(L);
                if (luaL_loadbuffer(L, loader.data, static_cast<size_t>(loader.size), "midi.lua") != 0 ||
                    protectedPcall(0) != 0)
                    LuaError(L, "failed to run buffer: %s\n", ErrorText(L));
                lua_settop(L, top);
            }
        }
    }

    for (const std::string& path : scripts) {
        int top = lua_gettop(L);
        if (luaL_loadfile(L, path.c_str()) != 0 || protectedPcall(0) != 0)
            LuaError(L, "failed to run file: %s\n", ErrorText(L));
        lua_settop(L, top);
    }
}

// ---------------------------------------------------------------------------------------------
// Shutdown

void LuaMIDIHelper::LuaShutdown() {
    ScopedLock lock(*this);
    if (!m_state) return;
    RemoveAllTimers();

    void* ud = nullptr;
    lua_getallocf(m_state, &ud);
    CloseScriptState(m_state);
    delete static_cast<ScriptAllocator*>(ud);
    delete static_cast<ParamLookup*>(m_paramLookup);
    m_paramLookup = nullptr;
    m_state = nullptr;

    // The references died with the state; a later LuaInit starts from nothing.
    for (RefList* list : {&m_allNoteOn, &m_allNoteOff, &m_allCC, &m_allNRPN, &m_allProgramChange,
                          &m_allPolyPressure, &m_pitchWheel, &m_channelPressure})
        list->clear();
    for (RefTable* table : {&m_noteOn, &m_noteOff, &m_cc, &m_nrpn, &m_programChange, &m_polyPressure})
        table->clear();
}

bool LuaMIDIHelper::isParameterUsed(SInt32) { return true; }

}  // namespace TB
