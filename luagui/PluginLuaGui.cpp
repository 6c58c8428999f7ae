#include "luagui/PluginLuaGui.h"

#include <climits>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "effect/DataToGui.h"
#include "gui/ALmanager.h"
#include "gui/Displays.h"
#include "gui/KnobRenderer.h"
#include "gui/Manager.h"
#include "gui/Panel.h"
#include "gui/RiraControls.h"
#include "gui/ScriptLamp.h"
#include "gui/TextField.h"
#include "gui/Texture.h"
#include "hostframework/Log.h"
#include "luagui/LuaGuiPrivate.h"

namespace TB {

namespace {

const char* const kHelpStrings[] = {"Preferences", "Capture preset", nullptr};
constexpr int kPrefsHelpID = -2;

Manager* ManagerOf(lua_State* L) {
    LuaGui* gui = LuaGui::getRefCon(L);
    if (!gui || !gui->GetManager()) {
        luaL_error(L, "no editor");
        return nullptr;
    }
    return gui->GetManager();
}

float CheckFloat(lua_State* L, int arg) { return static_cast<float>(luaL_checknumber(L, arg)); }

Texture* CheckTexture(lua_State* L, int arg) { return static_cast<Texture*>(LuaGui::CheckHandle(L, arg, kTextureTag)); }

// infoDisplay(x, y, width, height)
int lua_infoDisplay(lua_State* L) {
    const float x = CheckFloat(L, 1), y = CheckFloat(L, 2), w = CheckFloat(L, 3), h = CheckFloat(L, 4);
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, kElementTag);
    *handle = new InfoDisplay(manager, x, y, w, h, static_cast<const DataToGui*>(manager->EffectData()));
    return 1;
}

// levelMeters(texture, x, y, width, height): the numbers are read first, then the texture.
int lua_levelMeters(lua_State* L) {
    const float x = CheckFloat(L, 2), y = CheckFloat(L, 3), w = CheckFloat(L, 4), h = CheckFloat(L, 5);
    Texture* texture = CheckTexture(L, 1);
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, PluginLuaGui::kLevelMetersTag);
    auto* meters = new TexturedMeters(manager, texture, x, y, w, h);
    manager->AddEffect(meters);
    *handle = meters;
    return 1;
}

// textField(parameter name, label, x, y, width, height[, format])
int lua_textField(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    const char* label = luaL_checkstring(L, 2);
    const float x = CheckFloat(L, 3), y = CheckFloat(L, 4), w = CheckFloat(L, 5), h = CheckFloat(L, 6);
    const char* format = lua_gettop(L) > 6 ? luaL_checkstring(L, 7) : "";
    const int id = LuaGui::getParam(L, name);
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, kElementTag);
    *handle = new LabelledTextField(manager, label, id, x, y, w, h, format);
    return 1;
}

// setBackgroundTexture(background, normal map)
int lua_setBackgroundTexture(lua_State* L) {
    Texture* background = CheckTexture(L, 1);
    Texture* normalMap = CheckTexture(L, 2);
    // Only the product's manager paints a background; another one has nowhere to put it.
    if (auto* manager = dynamic_cast<ALmanager*>(ManagerOf(L))) manager->SetBackgroundTexture(background, normalMap);
    return 0;
}

// knobRenderer(knob texture, normal map, image x, image y, image size)
int lua_knobRenderer(lua_State* L) {
    const float x = CheckFloat(L, 3), y = CheckFloat(L, 4), size = CheckFloat(L, 5);
    Texture* knob = CheckTexture(L, 1);
    Texture* normalMap = CheckTexture(L, 2);
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, PluginLuaGui::kKnobRendererTag);
    auto* renderer = new TexturedKnobRenderer(manager, knob, normalMap, x, y, size);
    manager->AddEffect(renderer);
    *handle = renderer;
    return 1;
}

// meters:add(kind, index, x, y)
int lua_levelMetersAdd(lua_State* L) {
    const char* kind = luaL_checkstring(L, 2);
    const int index = TruncateToInt(luaL_checknumber(L, 3));
    const float x = CheckFloat(L, 4), y = CheckFloat(L, 5);
    if (static_cast<unsigned>(index) > 1) return luaL_error(L, "level meter index out of range: %d", index);
    auto* meters = static_cast<TexturedMeters*>(LuaGui::CheckHandle(L, 1, PluginLuaGui::kLevelMetersTag));
    TexturedMeters::Source source;
    if (std::strcmp(kind, "peak") == 0) source = TexturedMeters::kPeak;
    else if (std::strcmp(kind, "envelope") == 0) source = TexturedMeters::kEnvelope;
    else return luaL_error(L, "unknown level meter: %s", kind);
    Manager* manager = ManagerOf(L);
    if (meters) meters->Add(x, y, static_cast<const DataToGui*>(manager->EffectData()), source, index);
    return 0;
}

// scriptLamp(index, x, y, size): the lamp of GUI bool value `index` (0..7, as setGUIBoolValue).
int lua_scriptLamp(lua_State* L) {
    const int index = TruncateToInt(luaL_checknumber(L, 1));
    const float x = CheckFloat(L, 2), y = CheckFloat(L, 3), size = CheckFloat(L, 4);
    if (static_cast<unsigned>(index) >= static_cast<unsigned>(kNumGUIBools))
        return luaL_error(L, "script lamp index out of range: %d", index);
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, kElementTag);
    *handle = new ScriptLamp(manager, static_cast<const DataToGui*>(manager->EffectData()), index, x, y, size);
    return 1;
}

// panel(x, y, width, height[, r, g, b[, a]]): a section's backdrop (a dark grey plate unless
// coloured).
int lua_panel(lua_State* L) {
    const float x = CheckFloat(L, 1), y = CheckFloat(L, 2), w = CheckFloat(L, 3), h = CheckFloat(L, 4);
    Vec4 colour = {0.16f, 0.165f, 0.18f, 1};
    if (lua_gettop(L) > 4) {
        colour = {CheckFloat(L, 5), CheckFloat(L, 6), CheckFloat(L, 7), 1};
        if (lua_gettop(L) > 7) colour.w = CheckFloat(L, 8);
    }
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, kElementTag);
    *handle = new Panel(manager, x, y, w, h, colour);
    return 1;
}

// renderer:setValueArc(radius, width, r, g, b[, a]): radius and width in the knobs' half sizes.
int lua_knobRendererSetValueArc(lua_State* L) {
    const float radius = CheckFloat(L, 2), width = CheckFloat(L, 3);
    const Vec4 colour = {CheckFloat(L, 4), CheckFloat(L, 5), CheckFloat(L, 6),
                         lua_gettop(L) > 6 ? CheckFloat(L, 7) : 1.0f};
    auto* renderer = static_cast<TexturedKnobRenderer*>(LuaGui::CheckHandle(L, 1, PluginLuaGui::kKnobRendererTag));
    if (renderer) renderer->SetValueArc(radius, width, colour);
    return 0;
}

const luaL_Reg ksPluginFunctions[] = {
    {"infoDisplay", lua_infoDisplay},
    {"levelMeters", lua_levelMeters},
    {"textField", lua_textField},
    {"setBackgroundTexture", lua_setBackgroundTexture},
    {"knobRenderer", lua_knobRenderer},
    {"scriptLamp", lua_scriptLamp},
    {"panel", lua_panel},
    {nullptr, nullptr},
};

const luaL_Reg ksKnobRendererMethods[] = {
    {"setValueArc", lua_knobRendererSetValueArc},
    {nullptr, nullptr},
};

const luaL_Reg ksLevelMetersMethods[] = {
    {"add", lua_levelMetersAdd},
    {nullptr, nullptr},
};

}  // namespace

PluginLuaGui::PluginLuaGui(AudioUnit unit, Button::Callback aboutCallback, void* aboutRefCon)
    : LuaGui(unit), m_aboutCallback(aboutCallback), m_aboutRefCon(aboutRefCon) {}

PluginLuaGui::~PluginLuaGui() = default;

void PluginLuaGui::CreateUI(Manager* manager) {
    m_manager = manager;
    if (!SkinName().empty() && !SkinBundle())
        LogFormat(LogLevel::kError, "skin \"%s\" not found, using the plug-in's own\n", SkinName().c_str());
    if (Build() || !SkinBundle()) return;
    FallBackToOwnSkin();
    Build();
}

bool PluginLuaGui::Build() {
    lua_State* L = LuaInit();
    if (!L) return false;
    if (!Failure().empty() && SkinBundle()) return false;  // its top level failed: nothing more of it runs
    LuaGetFonts();
    m_manager->SetHelpStrings(kHelpStrings);

    ButtonLookup lookup;
    lookup["Prefs"] = ButtonEntry{AboutButtonProc, kPrefsHelpID};

    for (const luaL_Reg* f = ksPluginFunctions; f->name; ++f) lua_register(L, f->name, f->func);
    luaL_newmetatable(L, kLevelMetersTag);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_register(L, nullptr, ksLevelMetersMethods);
    lua_pop(L, 1);
    luaL_newmetatable(L, kKnobRendererTag);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    luaL_register(L, nullptr, ksKnobRendererMethods);
    lua_pop(L, 1);

    LuaCreateUI(&lookup);
    return Failure().empty();
}

UIElement* PluginLuaGui::CreateKnob(lua_State* L, int parameterID, const char* label, float x, float y,
                                    float size) {
    lua_getglobal(L, "theKnobRenderer");
    auto* renderer = static_cast<TexturedKnobRenderer*>(CheckHandle(L, lua_gettop(L), kKnobRendererTag));
    lua_pop(L, 1);
    return new RiraKnob(m_manager, renderer, parameterID, label, x, y, size);
}

UIElement* PluginLuaGui::CreateSlider(lua_State* L, int, int, float, float, float, float, bool) {
    luaL_error(L, "no slider support");
    return nullptr;
}

UIElement* PluginLuaGui::CreateButton(lua_State*, int, const char* label, Button::Callback callback, void* refCon,
                                      float x, float y, float width, float height, int helpID) {
    return new RiraButton(m_manager, label, callback, refCon, x, y, width, height, helpID);
}

UIElement* PluginLuaGui::CreateLuaButton(lua_State*, int, const char* label, Button::Callback callback,
                                         void* refCon, float x, float y, float width, float height, int helpID,
                                         StatefulButton::Type type) {
    return new StatefulButton(m_manager, label, callback, refCon, x, y, width, height, helpID, type);
}

UIElement* PluginLuaGui::CreateDropDown(lua_State*, int, float, float, float, float) { return nullptr; }

void PluginLuaGui::AboutButtonProc(Button* button, void* refCon) {
    auto* gui = static_cast<PluginLuaGui*>(static_cast<LuaGui*>(refCon));
    if (gui && gui->m_aboutCallback) gui->m_aboutCallback(button, gui->m_aboutRefCon);
}

}  // namespace TB
