// The plug-in's GUI script host: shaded knobs drawn by one shared knob renderer, skinned and
// stateful buttons, and more script functions for the skin (infoDisplay, levelMeters,
// textField, setBackgroundTexture, knobRenderer with its method setValueArc, scriptLamp for
// the eight lamps the MIDI scripts light, panel for section backdrops); the help texts and the
// built-in "Prefs" button, whose action (opening the about and preferences panel) the editor
// installs.
//
// UI thread only.
#pragma once

#include "luagui/LuaGui.h"

namespace TB {

class PluginLuaGui : public LuaGui {
public:
    PluginLuaGui(AudioUnit unit, Button::Callback aboutCallback, void* aboutRefCon);
    ~PluginLuaGui() override;

    // Runs "gui.lua", takes its fonts, installs the help texts and the extra functions, then
    // sizes the window and runs the script's createUI. A user's skin that fails is replaced by
    // the plug-in's own, built from scratch.
    void CreateUI(Manager* manager) override;

    UIElement* CreateKnob(lua_State* L, int parameterID, const char* label, float x, float y,
                          float size) override;
    // This product has no sliders: raises "no slider support".
    UIElement* CreateSlider(lua_State* L, int argc, int parameterID, float x, float y, float width, float height,
                            bool horizontal) override;
    UIElement* CreateButton(lua_State* L, int argc, const char* label, Button::Callback callback, void* refCon,
                            float x, float y, float width, float height, int helpID) override;
    UIElement* CreateLuaButton(lua_State* L, int argc, const char* label, Button::Callback callback, void* refCon,
                               float x, float y, float width, float height, int helpID,
                               StatefulButton::Type type) override;
    // No drop-down widget: the handle holds no element.
    UIElement* CreateDropDown(lua_State* L, int parameterID, float x, float y, float width, float height) override;

    // The "Prefs" button's action: the refcon is the host, which calls the installed callback.
    static void AboutButtonProc(Button* button, void* refCon);

    static constexpr const char* kLevelMetersTag = "TBgui.LevelMeters";
    static constexpr const char* kKnobRendererTag = "TBgui.KnobRenderer";

private:
    // One build of the current skin; false when it failed.
    bool Build();

    Button::Callback m_aboutCallback;
    void* m_aboutRefCon;
};

}  // namespace TB
