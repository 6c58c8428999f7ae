// Pieces shared by the GUI script host's source files; not part of its interface.
#pragma once

#include "luagui/LuaGui.h"
#include "midiscript/LuaArgs.h"  // TruncateToInt

namespace TB {

// Metatable names of the script-visible handles.
constexpr const char* kElementTag = "TBgui.Element";
constexpr const char* kGroupTag = "TBgui.Group";
constexpr const char* kTextureTag = "TBgui.Texture";
constexpr const char* kFontTag = "TBgui.Font";

// The private members the script functions reach.
struct LuaGuiAccess {
    static const LuaGui::ButtonLookup* ButtonLookupOf(LuaGui* gui) { return gui->m_buttonLookup; }
    static std::list<std::pair<LuaGui*, int>>& ButtonContexts(LuaGui* gui) { return gui->m_luaButtonContexts; }
    static const std::vector<std::string>& ElementTypeNames(LuaGui* gui) { return gui->m_elementTypeNames; }
    static Font* FontFromFunction(LuaGui* gui, lua_State* L);
};

// Registers the global functions and the element and group metatables (LuaGuiFunctions.cpp).
void RegisterGuiScriptFunctions(lua_State* L);


}  // namespace TB
