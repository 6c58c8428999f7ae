// A unit, the product's manager bound to it and the plug-in's script host running a skin that
// the test writes into the user's skin folder (or the plug-in's own skin), chosen through the
// installed "Skin" reader.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include "gui/ALmanager.h"
#include "luagui/PluginLuaGui.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {

class LuaGuiTest : public GuiUnitTest {
protected:
    static std::string& SkinName() {
        static std::string name;
        return name;
    }
    static void ReadSkin(std::string* name) { *name = SkinName(); }

    void SetUp() override {
        GuiUnitTest::SetUp();
        LuaGui::SetSkinNameReader(ReadSkin);
        SkinName().clear();
    }
    void TearDown() override {
        m_gui.reset();  // the script host first, then the manager that owns what it made
        m_manager.reset();
        LuaGui::SetSkinNameReader(nullptr);
    }
    // Writes gui.lua of a skin named `name` and selects it.
    void WriteSkin(const std::string& script, const std::string& name = "Test Skin") {
        ScopedTestFolders::WriteFile(m_folders.UserData() + "/Tallow Bright/Marrowfin/Skins/" + name + "/gui.lua",
                                     script);
        SkinName() = name;
    }
    void Build() {
        m_manager = std::make_unique<ALmanager>(Unit(), nullptr, kNumParams);
        m_gui = std::make_unique<PluginLuaGui>(Unit(), &About, this);
        m_gui->CreateUI(m_manager.get());
    }
    // A global of the script state as text ("" when it is not a string or number).
    std::string Global(const char* name) {
        lua_State* L = m_gui->State();
        lua_getglobal(L, name);
        const char* s = lua_tostring(L, -1);
        std::string text = s ? s : "";
        lua_pop(L, 1);
        return text;
    }
    template <class T>
    T* Handle(const char* name) {
        lua_State* L = m_gui->State();
        lua_getglobal(L, name);
        void* p = lua_touserdata(L, -1);
        lua_pop(L, 1);
        return p ? dynamic_cast<T*>(*static_cast<UIElement**>(p)) : nullptr;
    }
    static void About(Button*, void* self) { ++static_cast<LuaGuiTest*>(self)->m_aboutCalls; }

    std::unique_ptr<ALmanager> m_manager;
    std::unique_ptr<PluginLuaGui> m_gui;
    int m_aboutCalls = 0;
};

}  // namespace TB
