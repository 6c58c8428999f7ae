// The editor's script host: a Lua 5.1 state of its own (separate from the MIDI scripts' state)
// in which a skin's "gui.lua" builds the editor through global functions: groups, knobs,
// buttons, labels, textures and fonts, colours, the banner, the window size.
//
// The skin is chosen by the "Skin" preference, read through a reader the product installs
// (SetSkinNameReader), and searched in the user's and the machine's application-support
// folders; without one, or when it is not found, the plug-in's own "gui.lua" runs.
//
// The widgets behind knobs, sliders, buttons and drop-downs come from the factory operations a
// concrete host supplies. Everything the script makes belongs to the manager.
//
// A user's skin that fails (no "gui.lua", an error or the time bound in its top level,
// getWindowSize or createUI, or no createUI at all) is not left half built: the concrete host
// calls FallBackToOwnSkin, which logs one line naming the skin and the reason, deletes what the
// skin had made and closes its state; the plug-in's own skin is then built from scratch.
//
// Threads: UI thread only (building the editor and button presses). Every entry into the state
// is bounded in time like the MIDI scripts (an instruction-count hook ends a script running for
// longer than kGuiScriptTimeLimitSeconds with "script timed out"), and the state's memory is
// capped at kGuiScriptMemoryLimitBytes.
//
// Script functions raise Lua errors (longjmp in Debian's C build of Lua): they read and check
// every argument before they make any C++ object with a destructor.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "gui/Controls.h"
#include "hostframework/AUTypes.h"
#include "hostframework/AudioUnitAPI.h"
#include "hostframework/CFLite.h"

struct lua_State;
struct lua_Debug;

namespace TB {

struct ScriptAllocator;

class Font;
class Manager;
class NamedGroup;
class UIElement;

constexpr double kGuiScriptTimeLimitSeconds = 1.0;
constexpr int kGuiScriptHookInstructions = 10000;
constexpr size_t kGuiScriptMemoryLimitBytes = size_t(64) << 20;

// Fills in the "Skin" preference (left empty when none is stored).
typedef void (*SkinNameReader)(std::string* name);
// A script function (lua_CFunction).
typedef int (*GuiScriptFunction)(lua_State* L);

class LuaGui {
public:
    struct ButtonEntry {
        Button::Callback callback;
        int helpID;
    };
    typedef std::map<std::string, ButtonEntry> ButtonLookup;

    // Reads the "Skin" preference and locates its bundle (user domain first, then local).
    explicit LuaGui(AudioUnit unit);
    virtual ~LuaGui();
    LuaGui(const LuaGui&) = delete;
    LuaGui& operator=(const LuaGui&) = delete;

    // ----- the operations a concrete host supplies -----
    virtual void CreateUI(Manager* manager) = 0;
    virtual UIElement* CreateKnob(lua_State* L, int parameterID, const char* label, float x, float y,
                                  float size) = 0;
    virtual UIElement* CreateSlider(lua_State* L, int argc, int parameterID, float x, float y, float width,
                                    float height, bool horizontal) = 0;
    virtual UIElement* CreateButton(lua_State* L, int argc, const char* label, Button::Callback callback,
                                    void* refCon, float x, float y, float width, float height, int helpID) = 0;
    virtual UIElement* CreateLuaButton(lua_State* L, int argc, const char* label, Button::Callback callback,
                                       void* refCon, float x, float y, float width, float height, int helpID,
                                       StatefulButton::Type type) = 0;
    virtual UIElement* CreateDropDown(lua_State* L, int parameterID, float x, float y, float width,
                                      float height) = 0;
    // Adds metatable names that element arguments may carry besides "TBgui.Element".
    virtual void AddUIElementTags() {}

    // ----- building (UI thread) -----
    // The state, created on the first call (globals registered, "gui.lua" run).
    lua_State* LuaInit();
    // The script's three font functions give the manager's main, label and text fonts.
    void LuaGetFonts();
    // The script's getWindowSize; 0 x 0 when it is missing or fails.
    void LuaGetWindowSize(int& width, int& height);
    // Sizes the window and runs the script's createUI with `lookup` as its button table.
    void LuaCreateUI(const ButtonLookup* lookup);
    void LuaShutdown();

    // Why building the current skin failed; empty while nothing did.
    const std::string& Failure() const { return m_failure; }

    // Calls the function under the top `nargs` values in protected mode, bounded in time when
    // this is the outermost entry. Returns the Lua status; the caller pops the results or error.
    int ProtectedCall(int nargs, int nresults);

    // ----- for the script functions -----
    static LuaGui* getRefCon(lua_State* L);
    static int getParam(lua_State* L, const char* name);
    static UIElement* getElement(lua_State* L, int arg);
    static NamedGroup* getGroup(lua_State* L, int arg);
    // Writes "@@@ " and the formatted text as one diagnostic line.
    static int LuaError(lua_State* L, const char* format, ...);
    static void LuaButtonProc(Button* button, void* refCon);
    // Pushes a new handle of the named metatable (a string with static storage), holding null;
    // the caller stores the object.
    static void** NewHandle(lua_State* L, const char* metatable);
    // The object of argument `arg`, which must be a handle this host made for the named metatable
    // and carry that metatable (the library's type error otherwise).
    static void* CheckHandle(lua_State* L, int arg, const char* metatable);

    Manager* GetManager() const { return m_manager; }
    const std::string& SkinName() const { return m_skinName; }
    CFBundleRef SkinBundle() const { return m_skinBundle; }
    // The skin bundle's folder, or empty for the plug-in's own resources.
    std::string SkinFolder() const;
    lua_State* State() const { return m_state; }

    // Process-wide, installed by the product before editors open (any thread before that).
    static void SetSkinNameReader(SkinNameReader reader);
    // What the script function sendOSC runs; without one sendOSC does nothing.
    static void SetSendOSCFunction(GuiScriptFunction function);
    static GuiScriptFunction SendOSCFunction();

protected:
    // Logs the failed skin's line, closes its state, makes the manager forget everything built
    // and drops the skin, so that the next LuaInit runs the plug-in's own "gui.lua".
    void FallBackToOwnSkin();

    Manager* m_manager = nullptr;
    std::string m_skinName;
    CFBundleRef m_skinBundle = nullptr;
    lua_State* m_state = nullptr;
    std::vector<std::string> m_elementTypeNames;
    std::list<std::pair<LuaGui*, int>> m_luaButtonContexts;
    AudioUnit m_audioUnit;

private:
    friend struct LuaGuiAccess;
    static void CountHook(lua_State* L, lua_Debug* ar);
    void ArmTimeBudget();
    void RegisterGlobals();
    void RunScript();
    // Calls the named global (no arguments, one result) and makes a font of the list it returns;
    // null when there is none.
    Font* FontFromGlobal(const char* name);

    ScriptAllocator* m_allocator = nullptr;
    void* m_paramLookup = nullptr;  // std::map<std::string, int>, owned
    const ButtonLookup* m_buttonLookup = nullptr;
    std::string m_failure;
    UInt64 m_deadlineNanos = 0;
    int m_callDepth = 0;
};

}  // namespace TB
