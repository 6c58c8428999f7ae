#include "luagui/LuaGui.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>
}

#include "effect/MarrowfinParameters.h"
#include "gui/Font.h"
#include "gui/Manager.h"
#include "hostframework/Log.h"
#include "hostframework/MPServices.h"
#include "luagui/LuaGuiPrivate.h"
#include "midiscript/FileLoader.h"
#include "midiscript/LuaScriptState.h"
#include "midiscript/LuaStateClose.h"
#include "midiscript/ScriptFolders.h"

namespace TB {

namespace {

// Registry keys: the addresses of these statics.
const char kViewRefcon[] = "TBgui::kViewRefcon";
const char kParamLookup[] = "TBgui::kParamLookup";
const char kButtonLookup[] = "TBgui::kButtonLookup";

typedef std::map<std::string, int, std::less<>> ParamLookup;

std::atomic<SkinNameReader> g_skinNameReader{nullptr};
std::atomic<GuiScriptFunction> g_sendOSCFunction{nullptr};

UInt64 NowNanos() { return AbsoluteToNanoseconds(UpTime()).value; }

const char* ErrorText(lua_State* L) {
    const char* message = lua_tostring(L, -1);
    return message ? message : "(error object is not a string)";
}

}  // namespace



// ---------------------------------------------------------------------------------------------
// Construction and destruction (UI thread)

LuaGui::LuaGui(AudioUnit unit) : m_audioUnit(unit) {
    if (SkinNameReader reader = g_skinNameReader.load()) reader(&m_skinName);
    if (!m_skinName.empty()) m_skinBundle = LocateSkinBundle(m_skinName);
}

LuaGui::~LuaGui() {
    LuaShutdown();
    if (m_skinBundle) CFRelease(m_skinBundle);
    m_luaButtonContexts.clear();
}

void LuaGui::SetSkinNameReader(SkinNameReader reader) { g_skinNameReader.store(reader); }
void LuaGui::SetSendOSCFunction(GuiScriptFunction function) { g_sendOSCFunction.store(function); }
GuiScriptFunction LuaGui::SendOSCFunction() { return g_sendOSCFunction.load(); }

std::string LuaGui::SkinFolder() const { return m_skinBundle ? TBBundlePath(m_skinBundle) : std::string(); }

// ---------------------------------------------------------------------------------------------
// The time bound

void LuaGui::ArmTimeBudget() {
    m_deadlineNanos = NowNanos() + static_cast<UInt64>(kGuiScriptTimeLimitSeconds * 1e9);
    if (m_state) lua_sethook(m_state, CountHook, LUA_MASKCOUNT, kGuiScriptHookInstructions);
}

// Runs inside the interpreter every kGuiScriptHookInstructions instructions. Once the budget is
// spent it raises on every instruction, so a script catching the error with pcall in a loop is
// ended as well.
void LuaGui::CountHook(lua_State* L, lua_Debug*) {
    LuaGui* gui = getRefCon(L);
    if (!gui) return;
    if (gui->m_callDepth == 0) return;  // not inside an entry: nothing to bound
    if (NowNanos() > gui->m_deadlineNanos) {
        lua_sethook(L, CountHook, LUA_MASKCOUNT, 1);
        luaL_where(L, 0);
        lua_pushliteral(L, "script timed out");
        lua_concat(L, 2);
        lua_error(L);
    }
    if (lua_gethookcount(L) != kGuiScriptHookInstructions)
        lua_sethook(L, CountHook, LUA_MASKCOUNT, kGuiScriptHookInstructions);
}

int LuaGui::ProtectedCall(int nargs, int nresults) {
    if (m_callDepth == 0) ArmTimeBudget();
    ++m_callDepth;
    int status = lua_pcall(m_state, nargs, nresults, 0);
    --m_callDepth;
    return status;
}

// ---------------------------------------------------------------------------------------------
// Static helpers

LuaGui* LuaGui::getRefCon(lua_State* L) {
    return static_cast<LuaGui*>(ScriptAllocator::Owner(L));
}

// The table is reached through the host rather than its registry entry, which a script can
// overwrite through the debug library.
int LuaGui::getParam(lua_State* L, const char* name) {
    LuaGui* gui = getRefCon(L);
    if (name && gui && gui->m_paramLookup) {
        const ParamLookup* table = static_cast<const ParamLookup*>(gui->m_paramLookup);
        auto found = table->find(std::string_view(name));
        if (found != table->end()) return found->second;
    }
    return luaL_error(L, "parameter not found: '%s'", name ? name : "");
}

namespace {

// A script handle. Besides the object it records what it was made as: the debug library lets a
// script give any value any metatable (a file handle, a bare proxy, a texture handle made to
// look like an element), so the metatable alone does not prove what a userdata holds. Only this
// host writes handles, so the size and the magic word mark the genuine ones.
const char kHandleMagic = 0;
struct ScriptHandle {
    void* object;
    const char* kind;   // the metatable name it was made for (static storage)
    const void* magic;  // &kHandleMagic
};

// The handle at `arg` when it is a genuine one made for `kind`, else null. Raises nothing.
ScriptHandle* AsHandle(lua_State* L, int arg, const char* kind) {
    if (lua_type(L, arg) != LUA_TUSERDATA || lua_objlen(L, arg) != sizeof(ScriptHandle)) return nullptr;
    auto* handle = static_cast<ScriptHandle*>(lua_touserdata(L, arg));
    if (handle->magic != &kHandleMagic || std::strcmp(handle->kind, kind) != 0) return nullptr;
    return handle;
}

}  // namespace

void** LuaGui::NewHandle(lua_State* L, const char* metatable) {
    auto* handle = static_cast<ScriptHandle*>(lua_newuserdata(L, sizeof(ScriptHandle)));
    *handle = ScriptHandle{nullptr, metatable, &kHandleMagic};
    luaL_getmetatable(L, metatable);
    lua_setmetatable(L, -2);
    return &handle->object;
}

void* LuaGui::CheckHandle(lua_State* L, int arg, const char* metatable) {
    luaL_checkudata(L, arg, metatable);
    ScriptHandle* handle = AsHandle(L, arg, metatable);
    if (!handle) luaL_typerror(L, arg, metatable);
    return handle ? handle->object : nullptr;
}

UIElement* LuaGui::getElement(lua_State* L, int arg) {
    LuaGui* gui = getRefCon(L);
    if (!gui || !lua_touserdata(L, arg) || !lua_getmetatable(L, arg)) {
        luaL_argerror(L, arg, "element expected");
        return nullptr;
    }
    const char* kind = nullptr;
    for (const std::string& name : gui->m_elementTypeNames) {
        lua_getfield(L, LUA_REGISTRYINDEX, name.c_str());
        const bool same = lua_rawequal(L, -1, -2) != 0;
        lua_pop(L, 1);
        if (same) {
            kind = name.c_str();
            break;
        }
    }
    lua_pop(L, 1);  // the metatable
    if (ScriptHandle* handle = kind ? AsHandle(L, arg, kind) : nullptr) return static_cast<UIElement*>(handle->object);
    luaL_typerror(L, arg, "element");
    return nullptr;
}

NamedGroup* LuaGui::getGroup(lua_State* L, int arg) {
    return static_cast<NamedGroup*>(CheckHandle(L, arg, kGroupTag));
}

int LuaGui::LuaError(lua_State*, const char* format, ...) {
    char message[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    LogFormat(LogLevel::kNote, "@@@ %s", message);
    return 0;
}

// A Lua button was pressed (UI thread): call its function; an error ends it silently.
void LuaGui::LuaButtonProc(Button*, void* refCon) {
    auto* context = static_cast<std::pair<LuaGui*, int>*>(refCon);
    if (!context || !context->first || !context->first->m_state) return;
    LuaGui* gui = context->first;
    lua_State* L = gui->m_state;
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, context->second);
    gui->ProtectedCall(0, 0);
    lua_settop(L, top);
}

// ---------------------------------------------------------------------------------------------
// Creating the state and running "gui.lua"

lua_State* LuaGui::LuaInit() {
    if (m_state) return m_state;
    ScriptAllocator* allocator = new ScriptAllocator{this, kGuiScriptMemoryLimitBytes};
    lua_State* L = NewScriptState(allocator);
    if (!L) {
        delete allocator;
        LuaError(nullptr, "failed to create the script state\n");
        return nullptr;
    }
    m_allocator = allocator;
    m_state = L;
    luaL_openlibs(L);
    SetScriptModulePaths(L);  // never the host's working directory
    RegisterGlobals();
    RunScript();
    return m_state;
}

void LuaGui::RegisterGlobals() {
    lua_State* L = m_state;
    RegisterGuiScriptFunctions(L);

    m_elementTypeNames.assign(1, kElementTag);
    AddUIElementTags();

    lua_pushlightuserdata(L, const_cast<char*>(kViewRefcon));
    lua_pushlightuserdata(L, this);
    lua_rawset(L, LUA_REGISTRYINDEX);

    ParamLookup* lookup = new ParamLookup;
    for (int id = 0; id < kNumParams; ++id) {
        char name[100];
        snprintf(name, sizeof name, "%s", astParamInfos[id].name);
        (*lookup)[name] = id;
    }
    m_paramLookup = lookup;
    lua_pushlightuserdata(L, const_cast<char*>(kParamLookup));
    lua_pushlightuserdata(L, lookup);
    lua_rawset(L, LUA_REGISTRYINDEX);

    SetScriptConstants(L);
}

// A user's skin reports its failure through the fallback's line instead of its own.
void LuaGui::RunScript() {
    lua_State* L = m_state;
    FileLoader loader("gui.lua", m_skinBundle);
    if (!loader.data) {
        m_failure = "no gui.lua";
        return;
    }
    const int top = lua_gettop(L);
    if (luaL_loadbuffer(L, loader.data, static_cast<size_t>(loader.size), "gui.lua") != 0 ||
        ProtectedCall(0, 0) != 0) {
        m_failure = ErrorText(L);
        if (!m_skinBundle) LuaError(L, "failed to run buffer: %s\n", m_failure.c_str());
    }
    lua_settop(L, top);
}

void LuaGui::FallBackToOwnSkin() {
    LogFormat(LogLevel::kError, "skin \"%s\" failed, using the plug-in's own: %s\n", m_skinName.c_str(),
              m_failure.empty() ? "unknown error" : m_failure.c_str());
    LuaShutdown();
    m_luaButtonContexts.clear();  // their buttons go with the rest
    if (m_manager) m_manager->ResetBuild();
    if (m_skinBundle) CFRelease(m_skinBundle);
    m_skinBundle = nullptr;
    m_failure.clear();
}

void LuaGui::LuaShutdown() {
    if (!m_state) return;
    CloseScriptState(m_state);
    m_state = nullptr;
    delete m_allocator;
    m_allocator = nullptr;
    delete static_cast<ParamLookup*>(m_paramLookup);
    m_paramLookup = nullptr;
    // The references died with the state; the buttons keep their context but find no state.
    for (auto& context : m_luaButtonContexts) context.first = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Window size, fonts and createUI

void LuaGui::LuaGetWindowSize(int& width, int& height) {
    width = height = 0;
    if (!m_state) return;
    lua_State* L = m_state;
    const int top = lua_gettop(L);
    lua_getglobal(L, "getWindowSize");
    if (lua_isfunction(L, -1)) {
        if (ProtectedCall(0, 2) == 0) {
            width = TruncateToInt(lua_tonumber(L, -2));
            height = TruncateToInt(lua_tonumber(L, -1));
        } else if (m_failure.empty()) {
            m_failure = ErrorText(L);
        }
    }
    lua_settop(L, top);
}

namespace {

// Where `font` leaves the function it was given while the font is made.
const char kFontFunction[] = "TBgui::kFontFunction";

struct FontCall {
    LuaGui* gui;
    const char* global;  // null: the function under kFontFunction
    std::vector<Font::FontSpec>* specs;
    bool listed;
};

// Inside lua_cpcall: an error of the library (out of memory, the time bound) ends here and
// cannot jump over the caller's vector. Calls the font function and reads the font description
// list it returns: entries 1, 2, ... while they are tables, each with `name` and `size`.
int CallFontFunction(lua_State* L) {
    FontCall* call = static_cast<FontCall*>(lua_touserdata(L, 1));
    lua_settop(L, 0);
    if (call->global) {
        lua_getglobal(L, call->global);
    } else {
        lua_pushlightuserdata(L, const_cast<char*>(kFontFunction));
        lua_rawget(L, LUA_REGISTRYINDEX);
    }
    if (!lua_isfunction(L, -1)) return 0;
    if (call->gui->ProtectedCall(0, 1) != 0 || !lua_istable(L, -1)) return 0;
    call->listed = true;
    for (int i = 1;; ++i) {
        lua_rawgeti(L, 1, i);
        if (!lua_istable(L, -1)) break;
        lua_getfield(L, -1, "name");
        lua_getfield(L, -2, "size");
        const char* name = lua_tostring(L, -2);
        const int size = TruncateToInt(lua_tonumber(L, -1));
        call->specs->push_back({name ? std::string(name) : std::string(), size});
        lua_pop(L, 3);
    }
    return 0;
}

Font* MakeFont(LuaGui* gui, lua_State* L, const char* global) {
    std::vector<Font::FontSpec> specs;
    FontCall call{gui, global, &specs, false};
    const int top = lua_gettop(L);
    const int status = lua_cpcall(L, CallFontFunction, &call);
    lua_settop(L, top);
    if (status != 0 || !call.listed) return nullptr;
    return Font::Create(specs);
}

}  // namespace

Font* LuaGui::FontFromGlobal(const char* name) { return m_state ? MakeFont(this, m_state, name) : nullptr; }

// The function is argument 1 of the calling script function.
Font* LuaGuiAccess::FontFromFunction(LuaGui* gui, lua_State* L) {
    lua_pushlightuserdata(L, const_cast<char*>(kFontFunction));
    lua_pushvalue(L, 1);
    lua_rawset(L, LUA_REGISTRYINDEX);
    Font* font = MakeFont(gui, L, nullptr);
    lua_pushlightuserdata(L, const_cast<char*>(kFontFunction));
    lua_pushnil(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    return font;
}

void LuaGui::LuaGetFonts() {
    if (!m_manager || !m_state) return;
    Font* text = FontFromGlobal("getTextFieldFont");
    Font* label = FontFromGlobal("getLabelFont");
    Font* main = FontFromGlobal("getFont");
    m_manager->SetFonts(main, label, text);
}

void LuaGui::LuaCreateUI(const ButtonLookup* lookup) {
    if (!m_manager || !m_state) return;
    int width = 0, height = 0;
    LuaGetWindowSize(width, height);
    m_manager->SetWindowSize(width, height);

    lua_State* L = m_state;
    const int top = lua_gettop(L);
    m_buttonLookup = lookup;
    lua_pushlightuserdata(L, const_cast<char*>(kButtonLookup));
    lua_pushlightuserdata(L, const_cast<ButtonLookup*>(lookup));
    lua_rawset(L, LUA_REGISTRYINDEX);
    lua_getglobal(L, "createUI");
    if (!lua_isfunction(L, -1)) {
        if (m_failure.empty()) m_failure = "no createUI function";
    } else if (ProtectedCall(0, 0) != 0 && m_failure.empty()) {
        m_failure = ErrorText(L);  // what was built stays unless the host falls back
    }
    lua_settop(L, top);
    lua_pushlightuserdata(L, const_cast<char*>(kButtonLookup));
    lua_pushnil(L);
    lua_rawset(L, LUA_REGISTRYINDEX);
    m_buttonLookup = nullptr;
}

}  // namespace TB
