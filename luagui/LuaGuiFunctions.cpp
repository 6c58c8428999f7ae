// The global functions of the GUI script state and the methods of its element and group
// handles. UI thread, inside a protected call of the host. Each function reads and checks all
// of its arguments (raising the library's argument errors or its own fixed messages) before it
// builds anything.
#include <algorithm>
#include <cstring>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "effect/MarrowfinParameters.h"
#include "gui/Controls.h"
#include "gui/Font.h"
#include "gui/Manager.h"
#include "gui/TextField.h"
#include "gui/Texture.h"
#include "gui/UIElement.h"
#include "luagui/LuaGuiPrivate.h"

namespace TB {

namespace {

// The host and its manager; a state without a manager (not building an editor) refuses.
Manager* ManagerOf(lua_State* L, LuaGui** gui = nullptr) {
    LuaGui* host = LuaGui::getRefCon(L);
    if (!host || !host->GetManager()) {
        luaL_error(L, "no editor");
        return nullptr;
    }
    if (gui) *gui = host;
    return host->GetManager();
}

float CheckFloat(lua_State* L, int arg) { return static_cast<float>(luaL_checknumber(L, arg)); }

// The first of the last `count` arguments (never below 1, so missing ones raise the usual
// "got no value").
int LastArgs(lua_State* L, int count) { return std::max(1, lua_gettop(L) - count + 1); }

Vec4 CheckColour(lua_State* L, int first, int count) {
    Vec4 c{0, 0, 0, 1};
    c.x = CheckFloat(L, first);
    c.y = CheckFloat(L, first + 1);
    c.z = CheckFloat(L, first + 2);
    if (count == 4) c.w = CheckFloat(L, first + 3);
    return c;
}

// A parameter given by id (a number or numeric string, 0..39) or by name.
int CheckParamRef(lua_State* L, int arg) {
    if (lua_isnumber(L, arg)) {
        const int id = TruncateToInt(lua_tonumber(L, arg));
        if (id < 0 || id >= kNumParams) return luaL_error(L, "parameter out of range: %d", id);
        return id;
    }
    return LuaGui::getParam(L, luaL_checkstring(L, arg));
}

// A new element handle on the stack; the caller stores the element once it is made.
void** NewElement(lua_State* L) { return LuaGui::NewHandle(L, kElementTag); }

// ----- global functions -----

int lua_setGroupActiveColour(lua_State* L) {
    NamedGroup::ms_activeTargetColour = CheckColour(L, LastArgs(L, 4), 4);
    return 0;
}

int lua_setGroupInactiveColour(lua_State* L) {
    NamedGroup::ms_inactiveTargetColour = CheckColour(L, LastArgs(L, 4), 4);
    return 0;
}

int lua_group(lua_State* L) {
    const char* name = luaL_checkstring(L, LastArgs(L, 1));
    Manager* manager = ManagerOf(L);
    void** handle = LuaGui::NewHandle(L, kGroupTag);
    NamedGroup* group = new NamedGroup(manager, name, 10);
    manager->RootGroup()->AddChild(group);
    *handle = group;
    return 1;
}

int lua_knob(lua_State* L) {
    const int first = LastArgs(L, 5);
    const char* name = luaL_checkstring(L, first);
    const char* label = luaL_checkstring(L, first + 1);
    const float x = CheckFloat(L, first + 2), y = CheckFloat(L, first + 3), size = CheckFloat(L, first + 4);
    LuaGui* gui = nullptr;
    ManagerOf(L, &gui);
    const int id = LuaGui::getParam(L, name);
    void** handle = NewElement(L);
    *handle = gui->CreateKnob(L, id, label, x, y, size);
    return 1;
}

int lua_button(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    const char* label = luaL_checkstring(L, 2);
    const float x = CheckFloat(L, 3), y = CheckFloat(L, 4), w = CheckFloat(L, 5), h = CheckFloat(L, 6);
    LuaGui* gui = nullptr;
    ManagerOf(L, &gui);
    const LuaGui::ButtonLookup* lookup = LuaGuiAccess::ButtonLookupOf(gui);
    if (!lookup) return luaL_error(L, "no button lookup table");
    auto found = lookup->find(name);
    if (found == lookup->end()) return luaL_error(L, "button not found: %s", name);
    const LuaGui::ButtonEntry entry = found->second;
    const int argc = lua_gettop(L);
    void** handle = NewElement(L);
    *handle = gui->CreateButton(L, argc, label, entry.callback, gui, x, y, w, h, entry.helpID);
    return 1;
}

int lua_slider(lua_State* L) {
    const int argc = lua_gettop(L);
    const char* name = luaL_checkstring(L, 1);
    const float x = CheckFloat(L, 2), y = CheckFloat(L, 3), w = CheckFloat(L, 4), h = CheckFloat(L, 5);
    const char* orientation = luaL_checkstring(L, 6);
    LuaGui* gui = nullptr;
    ManagerOf(L, &gui);
    const int id = LuaGui::getParam(L, name);
    if (orientation[0] != 'h' && orientation[0] != 'v')
        return luaL_error(L, "unknown slider orientation: %s", orientation);
    void** handle = NewElement(L);
    *handle = gui->CreateSlider(L, argc, id, x, y, w, h, orientation[0] == 'h');
    return 1;
}

int lua_luaButton(lua_State* L) {
    const int argc = lua_gettop(L);
    if (!lua_isfunction(L, 1)) return luaL_error(L, "first argument to luaButton() is not a function");
    const char* label = luaL_checkstring(L, 2);
    const char* help = luaL_checkstring(L, 3);
    const char* kind = luaL_checkstring(L, 4);
    const float x = CheckFloat(L, 5), y = CheckFloat(L, 6), w = CheckFloat(L, 7), h = CheckFloat(L, 8);
    LuaGui* gui = nullptr;
    Manager* manager = ManagerOf(L, &gui);
    void** handle = NewElement(L);
    lua_pushvalue(L, 1);
    const int ref = luaL_ref(L, LUA_REGISTRYINDEX);
    auto& contexts = LuaGuiAccess::ButtonContexts(gui);
    contexts.emplace_back(gui, ref);
    const int helpID = manager->AddHelpString(help);
    const StatefulButton::Type type = kind[0] == 't' ? StatefulButton::kToggle : StatefulButton::kMomentary;
    *handle = gui->CreateLuaButton(L, argc, label, LuaGui::LuaButtonProc, &contexts.back(), x, y, w, h, helpID,
                                   type);
    return 1;
}

int lua_texture(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    LuaGui* gui = nullptr;
    Manager* manager = ManagerOf(L, &gui);
    void** handle = LuaGui::NewHandle(L, kTextureTag);
    *handle = new Texture(manager, name, gui->SkinFolder());
    return 1;
}

int lua_font(lua_State* L) {
    if (!lua_isfunction(L, 1)) return luaL_error(L, "argument to font() is not a function");
    LuaGui* gui = nullptr;
    Manager* manager = ManagerOf(L, &gui);
    void** handle = LuaGui::NewHandle(L, kFontTag);
    Font* font = LuaGuiAccess::FontFromFunction(gui, L);
    if (font) manager->AddFont(font);
    *handle = font;
    return 1;
}

int lua_dropDown(lua_State* L) {
    const char* name = luaL_checkstring(L, 1);
    const float x = CheckFloat(L, 2), y = CheckFloat(L, 3), w = CheckFloat(L, 4), h = CheckFloat(L, 5);
    LuaGui* gui = nullptr;
    ManagerOf(L, &gui);
    const int id = LuaGui::getParam(L, name);
    void** handle = NewElement(L);
    *handle = gui->CreateDropDown(L, id, x, y, w, h);
    return 1;
}

int lua_label(lua_State* L) {
    const char* text = luaL_checkstring(L, 1);
    const float x = CheckFloat(L, 2), y = CheckFloat(L, 3), w = CheckFloat(L, 4), h = CheckFloat(L, 5);
    Manager* manager = ManagerOf(L);
    void** handle = NewElement(L);
    *handle = new Label(manager, text, x, y, w, h);
    return 1;
}

int lua_add(lua_State* L) {
    UIElement* element = LuaGui::getElement(L, 1);
    Manager* manager = ManagerOf(L);
    if (element) manager->RootGroup()->AddChild(element);
    return 0;
}

int lua_setBackgroundColour(lua_State* L) {
    const Vec4 c = CheckColour(L, LastArgs(L, 3), 3);
    ManagerOf(L)->SetLabelsClearColour(c.x, c.y, c.z);
    return 0;
}

int lua_setBannerColour(lua_State* L) {
    const Vec4 c = CheckColour(L, 1, 4);
    ManagerOf(L)->SetReadoutStripColour(c);
    return 0;
}

int lua_setBannerTextColour(lua_State* L) {
    const Vec4 c = CheckColour(L, 1, 4);
    ManagerOf(L)->SetBannerTextColour(c);
    return 0;
}

int lua_setBannerPosition(lua_State* L) {
    const float y = CheckFloat(L, 1);
    const bool visible = lua_isboolean(L, 2) ? lua_toboolean(L, 2) != 0 : true;
    Manager* manager = ManagerOf(L);
    manager->SetBannerY(y);
    manager->SetBannerVisible(visible);
    return 0;
}

int lua_redrawLabels(lua_State* L) {
    ManagerOf(L)->RequestRedrawLabels();
    return 0;
}

// A user edit from the editor: the read-out shows the parameter while the host sets it and
// notifies every listener, the editor's own controls included.
int lua_setParameter(lua_State* L) {
    const int id = CheckParamRef(L, 1);
    const float value = CheckFloat(L, 2);
    Manager* manager = ManagerOf(L);
    manager->SetEditingParam(id);
    if (const CAAUParameter* p = manager->FindParameter(id)) p->SetValue(value);
    else manager->GetParameter(id).SetValue(value);
    manager->UnsetEditingParam(id);
    return 0;
}

int lua_getParameter(lua_State* L) {
    const int id = CheckParamRef(L, 1);
    Manager* manager = ManagerOf(L);
    const CAAUParameter* p = manager->FindParameter(id);
    lua_pushnumber(L, p ? p->GetValue() : manager->GetParameter(id).GetValue());
    return 1;
}

int lua_getParameterID(lua_State* L) {
    lua_pushinteger(L, LuaGui::getParam(L, luaL_checkstring(L, 1)));
    return 1;
}

int lua_sendOSC(lua_State* L) {
    GuiScriptFunction send = LuaGui::SendOSCFunction();
    return send ? send(L) : 0;
}

const luaL_Reg ksGuiFunctions[] = {
    {"setGroupActiveColour", lua_setGroupActiveColour},
    {"setGroupInactiveColour", lua_setGroupInactiveColour},
    {"group", lua_group},
    {"knob", lua_knob},
    {"button", lua_button},
    {"slider", lua_slider},
    {"luaButton", lua_luaButton},
    {"texture", lua_texture},
    {"font", lua_font},
    {"dropDown", lua_dropDown},
    {"label", lua_label},
    {"add", lua_add},
    {"setBackgroundColour", lua_setBackgroundColour},
    {"setBannerColour", lua_setBannerColour},
    {"setBannerTextColour", lua_setBannerTextColour},
    {"setBannerPosition", lua_setBannerPosition},
    {"redrawLabels", lua_redrawLabels},
    {"setParameter", lua_setParameter},
    {"getParameter", lua_getParameter},
    {"getParameterID", lua_getParameterID},
    {"sendOSC", lua_sendOSC},
    {nullptr, nullptr},
};

// ----- element methods (a handle without an element does nothing and reads false) -----

int lua_elementSetVisible(lua_State* L) {
    UIElement* element = LuaGui::getElement(L, 1);
    if (element) element->SetVisible(lua_toboolean(L, 2) != 0);
    return 0;
}

int lua_elementIsVisible(lua_State* L) {
    UIElement* element = LuaGui::getElement(L, 1);
    lua_pushboolean(L, element && element->IsVisible());
    return 1;
}

int lua_elementSetState(lua_State* L) {
    auto* button = dynamic_cast<StatefulButton*>(LuaGui::getElement(L, 1));
    if (button) button->SetState(lua_toboolean(L, 2) != 0);
    return 0;
}

int lua_elementGetState(lua_State* L) {
    auto* button = dynamic_cast<StatefulButton*>(LuaGui::getElement(L, 1));
    lua_pushboolean(L, button && button->State());
    return 1;
}

const luaL_Reg ksElementMethods[] = {
    {"setVisible", lua_elementSetVisible},
    {"isVisible", lua_elementIsVisible},
    {"setState", lua_elementSetState},
    {"getState", lua_elementGetState},
    {nullptr, nullptr},
};

// ----- group methods -----

int lua_groupAdd(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, 1);
    UIElement* element = LuaGui::getElement(L, 2);
    if (group && element) group->AddChild(element);
    return 0;
}

int lua_groupSetPosition(lua_State* L) {
    const int first = LastArgs(L, 3);
    NamedGroup* group = LuaGui::getGroup(L, first);
    const float x = CheckFloat(L, first + 1), y = CheckFloat(L, first + 2);
    if (group) group->SetPosition(x, y, 0);
    return 0;
}

int lua_groupWidth(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, LastArgs(L, 1));
    lua_pushnumber(L, group ? group->GetWidth() : 0);
    return 1;
}

int lua_groupHeight(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, LastArgs(L, 1));
    lua_pushnumber(L, group ? group->GetHeight() : 0);
    return 1;
}

int lua_groupBounds(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, 1);
    Bounds b;
    if (group) group->ExtendBounds(b);
    lua_pushnumber(L, b.min[0]);
    lua_pushnumber(L, b.min[1]);
    lua_pushnumber(L, b.max[0]);
    lua_pushnumber(L, b.max[1]);
    return 4;
}

int lua_groupSetVisible(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, 1);
    if (group) group->SetVisible(lua_toboolean(L, 2) != 0);
    return 0;
}

int lua_groupIsVisible(lua_State* L) {
    NamedGroup* group = LuaGui::getGroup(L, 1);
    lua_pushboolean(L, group && group->IsVisible());
    return 1;
}

const luaL_Reg ksGroupMethods[] = {
    {"add", lua_groupAdd},
    {"setPosition", lua_groupSetPosition},
    {"width", lua_groupWidth},
    {"height", lua_groupHeight},
    {"bounds", lua_groupBounds},
    {"setVisible", lua_groupSetVisible},
    {"isVisible", lua_groupIsVisible},
    {nullptr, nullptr},
};

// A metatable whose __index is itself, holding the methods.
void NewClass(lua_State* L, const char* name, const luaL_Reg* methods) {
    luaL_newmetatable(L, name);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    if (methods) luaL_register(L, nullptr, methods);
    lua_pop(L, 1);
}

}  // namespace

void RegisterGuiScriptFunctions(lua_State* L) {
    for (const luaL_Reg* f = ksGuiFunctions; f->name; ++f) lua_register(L, f->name, f->func);
    NewClass(L, kGroupTag, ksGroupMethods);
    NewClass(L, kElementTag, ksElementMethods);
    luaL_newmetatable(L, kTextureTag);
    lua_pop(L, 1);
    luaL_newmetatable(L, kFontTag);
    lua_pop(L, 1);
}

}  // namespace TB
