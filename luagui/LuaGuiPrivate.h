// Pieces shared by the GUI script host's source files; not part of its interface.
#pragma once

#include "luagui/LuaGui.h"

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

// A script number truncated toward zero to an int (NaN and values below INT_MIN give INT_MIN,
// values above INT_MAX give INT_MAX).
int GuiTruncateToInt(double v);

}  // namespace TB
