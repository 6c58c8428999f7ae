// The skin script host: its error messages and the argument order that picks one, fonts and
// window size, the "Prefs" button, Lua buttons, the time and memory bounds, the skin lookup.
#include <algorithm>
#include <chrono>

#include "gui/Displays.h"
#include "gui/Font.h"
#include "gui/RiraControls.h"
#include "gui/TextField.h"
#include "tests/luagui/LuaGuiTestSupport.h"

namespace TB {
namespace {

const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct ErrorCase {
    const char* code;
    const char* expected;  // a part of the error message, or "ok"
};

// Each runs inside createUI, after a knob renderer, level meters and a label were made.
const ErrorCase kCases[] = {
    {"knob('Dry Level', 'Dry', 10, 10, 40)", "ok"},
    {"knob(0, 'Dry', 10, 10, 40)", "parameter not found: '0'"},
    {"knob('Dry Level', 'Dry', 10, 10)", "number expected"},
    {"button('Nope', 'x', 1, 2, 3, 4)", "button not found: Nope"},
    {"button('Nope', 'x', 1, 2, 3)", "number expected"},
    {"slider('Nope', 1, 2, 3, 4, 'diagonal')", "parameter not found: 'Nope'"},
    {"slider('Dry Level', 1, 2, 3, 4, 'diagonal')", "unknown slider orientation: diagonal"},
    {"slider('Dry Level', 1, 2, 3, 4, 'horizontal')", "no slider support"},
    {"luaButton(1, 'a', 'b', 't', 1, 2, 3, 4)", "first argument to luaButton() is not a function"},
    {"luaButton(print, 'a', 'b', 't', 1, 2, 3)", "number expected"},
    {"setParameter(40, 1)", "parameter out of range: 40"},
    {"setParameter('-1', 1)", "parameter out of range: -1"},
    {"getParameter('dry level')", "parameter not found: 'dry level'"},
    {"getParameterID('Wet')", "parameter not found: 'Wet'"},
    {"theLabel.setVisible(texture('a.png'), true)", "element expected"},
    {"add(5)", "element expected"},
    {"group('g'):add(texture('a.png'))", "element expected"},
    {"group('g').add(theLabel, theLabel)", "TBgui.Group expected"},
    {"meters:add('peak', 2, 0, 0)", "level meter index out of range: 2"},
    {"meters.add(nil, 'bogus', -1, 0, 0)", "level meter index out of range: -1"},
    {"meters.add(nil, 'bogus', 1, 0, 0)", "TBgui.LevelMeters expected"},
    {"meters:add('bogus', 0, 0, 0)", "unknown level meter: bogus"},
    {"meters:add('envelope', 1, 0, 0)", "ok"},
    {"levelMeters(5, 0, 0, 8, 'x')", "bad argument #5"},
    {"levelMeters(5, 0, 0, 8, 64)", "TBgui.Texture expected"},
    {"knobRenderer(5, 5, 0, 0, 'x')", "bad argument #5"},
    {"knobRenderer(texture('k.png'), 5, 0, 0, 64)", "bad argument #2"},
    {"setBackgroundTexture(5, texture('a.png'))", "bad argument #1"},
    {"textField('Nope', 'l', 1, 2, 3, 'x')", "number expected"},
    {"textField('Nope', 'l', 1, 2, 3, 4)", "parameter not found: 'Nope'"},
    {"font(5)", "not a function"},
    {"scriptLamp(8, 0, 0, 10)", "script lamp index out of range: 8"},
    {"scriptLamp(-1, 0, 0, 'x')", "bad argument #4"},
    {"scriptLamp(-1, 0, 0, 10)", "script lamp index out of range: -1"},
    {"add(scriptLamp(7, 0, 0, 10))", "ok"},
    {"panel(0, 0, 10, 10, 1, 1)", "bad argument #7"},
    {"theKnobRenderer:setValueArc(0.8, 0.1, 1, 0.5, 0)", "ok"},
    {"theKnobRenderer.setValueArc(theLabel, 0.8, 0.1, 1, 0.5, 0)", "TBgui.KnobRenderer expected"},
    // Values dressed up as handles through the debug library.
    {"debug.setmetatable(io.stdout, debug.getregistry()['TBgui.Element']) io.stdout:setVisible(true)",
     "element expected"},
    {"local p = newproxy() debug.setmetatable(p, debug.getregistry()['TBgui.Group']) p:add(theLabel)",
     "TBgui.Group expected"},
    {"local t = texture('a.png') debug.setmetatable(t, debug.getregistry()['TBgui.Element']) add(t)",
     "element expected"},
    {"for k in pairs(debug.getregistry()) do if type(k) == 'userdata' then"
     " debug.setmetatable(k, debug.getregistry()['TBgui.LevelMeters']) k:add('peak', 0, 0, 0) end end",
     "TBgui.LevelMeters expected"},
    {"local r = theKnobRenderer; theKnobRenderer = nil; local ok, e = pcall(knob, 'Dry Level', 'x', 1, 2, 3)"
     " theKnobRenderer = r; error(e, 0)",
     "TBgui.KnobRenderer expected"},
    {"local ok, e = pcall(function() local t = {} for i = 1, 100 do t[i] = string.rep('x', 1048576 * i) end end)"
     " collectgarbage() error(e, 0)",
     "not enough memory"},
};

TEST_F(LuaGuiTest, EveryBadCallGetsItsError) {
    std::string script =
        "function createUI()\n"
        "  theKnobRenderer = knobRenderer(texture('k.png'), texture('n.png'), 0, 0, 64)\n"
        "  meters = levelMeters(texture('m.png'), 0, 0, 8, 64)\n"
        "  theLabel = label('kept', 1, 2, 3, 4)\n"
        "  results = {}\n";
    for (size_t i = 0; i < std::size(kCases); ++i)
        script += "  do local ok, e = pcall(function() " + std::string(kCases[i].code) +
                  " end) results[" + std::to_string(i + 1) + "] = ok and 'ok' or tostring(e) end\n";
    script += "end\n";
    WriteSkin(script);
    Build();

    lua_State* L = m_gui->State();
    lua_getglobal(L, "results");
    for (size_t i = 0; i < std::size(kCases); ++i) {
        lua_rawgeti(L, -1, int(i + 1));
        const char* got = lua_tostring(L, -1);
        ASSERT_NE(nullptr, got) << kCases[i].code;
        EXPECT_NE(std::string::npos, std::string(got).find(kCases[i].expected))
            << kCases[i].code << " gave: " << got;
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
}

// Each fails in its own way, some after making elements, a knob renderer, fonts and help texts.
struct BrokenSkin {
    const char* name;
    const char* script;  // null: the skin has no gui.lua
    const char* reason;
};

const BrokenSkin kBrokenSkins[] = {
    {"Syntax", "function createUI( end", "expected"},
    {"Top", "theLabel = label('made', 1, 2, 3, 4) add(theLabel) error('top level')", "top level"},
    {"CreateUI",
     "function getFont() return {{name = '/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf', size = 30}} end\n"
     "function getWindowSize() return 300, 200 end\n"
     "function createUI()\n"
     "  setBackgroundTexture(texture('b.png'), texture('n.png'))\n"
     "  theKnobRenderer = knobRenderer(texture('k.png'), texture('n.png'), 0, 0, 64)\n"
     "  local g = group('made') g:add(knob('Dry Level', 'made', 0, 0, 40)) g:add(label('made', 1, 2, 3, 4))\n"
     "  levelMeters(texture('m.png'), 0, 0, 8, 64)\n"
     "  luaButton(print, 'made', 'A help text', 'toggle', 1, 2, 3, 4)\n"
     "  error('half way')\n"
     "end\n",
     "half way"},
    {"Without createUI", "function getWindowSize() return 300, 200 end", "no createUI function"},
    {"Missing", nullptr, "no gui.lua"},
    {"Endless", "while true do end", "script timed out"},
};

TEST_F(LuaGuiTest, BrokenUserSkinsFallBackToThePluginsOwnWithOneLine) {
    Build();  // the plug-in's own skin, to compare with
    const size_t elements = m_manager->Elements().size(), effects = m_manager->Effects().size();
    const float fontSize = m_manager->MainFont() ? m_manager->MainFont()->NominalSize() : 0;
    for (const BrokenSkin& skin : kBrokenSkins) {
        m_gui.reset();
        m_manager.reset();
        if (skin.script) {
            WriteSkin(skin.script, skin.name);
        } else {
            ScopedTestFolders::WriteFile(m_folders.UserData() + "/Tallow Bright/Marrowfin/Skins/" + skin.name +
                                             "/knob.png", "");
            SkinName() = skin.name;
        }
        LogCapture log;
        Build();
        const std::vector<std::string> lines = log.Lines();
        ASSERT_EQ(1u, lines.size()) << skin.name;
        EXPECT_EQ(0u, lines[0].rfind(std::string("skin \"") + skin.name + "\" failed", 0)) << lines[0];
        EXPECT_NE(std::string::npos, lines[0].find(skin.reason)) << lines[0];
        EXPECT_EQ(nullptr, m_gui->SkinBundle());
        EXPECT_EQ(1024, m_manager->Width());
        EXPECT_EQ(elements, m_manager->Elements().size()) << skin.name;
        EXPECT_EQ(effects, m_manager->Effects().size()) << skin.name;
        ASSERT_NE(nullptr, m_manager->MainFont());
        EXPECT_EQ(fontSize, m_manager->MainFont()->NominalSize());
        EXPECT_EQ(nullptr, m_manager->HelpString(-2 - 8 - 2));  // no help text past the skin's own
        for (UIElement* e : m_manager->Elements()) {
            auto* l = dynamic_cast<Label*>(e);
            EXPECT_FALSE(l && l->Text() == "made") << skin.name;
        }
    }
}

TEST_F(LuaGuiTest, FontsWindowSizeAndTheBanner) {
    WriteSkin(std::string("function getWindowSize() return 600.7, 400 end\n"
                          "function getFont() return {{name = '/missing.ttf', size = 9}, {name = '") +
              kDejaVu +
              "', size = 14}, 'stop', {name = 'x', size = 1}} end\n"
              "function getLabelFont() error('no label font') end\n"
              "getTextFieldFont = 'not a function'\n"
              "function createUI()\n"
              "  emptyFont = font(function() return {} end)\n"
              "  setBannerPosition(30, 0)\n"
              "end\n");
    Build();
    EXPECT_EQ(600, m_manager->Width());
    EXPECT_EQ(400, m_manager->Height());
    ASSERT_NE(nullptr, m_manager->MainFont());
    EXPECT_EQ(14, m_manager->MainFont()->NominalSize());
    EXPECT_EQ(nullptr, m_manager->LabelFont());
    EXPECT_EQ(nullptr, m_manager->TextFont());
    EXPECT_EQ(30, m_manager->BannerY());
    int w = -1, h = -1;
    lua_State* L = m_gui->State();
    luaL_dostring(L, "getWindowSize = nil");
    m_gui->LuaGetWindowSize(w, h);
    EXPECT_EQ(0, w);
    EXPECT_EQ(0, h);
}

TEST_F(LuaGuiTest, PrefsButtonLuaButtonsAndHandlesWithoutElement) {
    WriteSkin(
        "function createUI()\n"
        "  prefs = button('Prefs', 'Prefs', 10, 10, 60, 20)\n"
        "  later = luaButton(function() presses = (presses or 0) + 1\n"
        "    local ok, e = pcall(button, 'Prefs', 'x', 1, 2, 3, 4) laterError = e end,\n"
        "    'Later', 'Capture preset', 'toggle', 100, 10, 60, 20)\n"
        "  later:setState(true) stateAfterSet = tostring(later:getState())\n"
        "  local d = dropDown('Filter Type', 1, 2, 3, 4)\n"
        "  d:setVisible(true) add(d) group('g'):add(d)\n"
        "  dropDownReads = tostring(d:isVisible()) .. tostring(d:getState())\n"
        "  setParameter('Dry Level', 0.25) setParameter('2', 0.5) dry = getParameter(0) + getParameter('Osc Level')\n"
        "end\n");
    Build();
    auto* prefs = Handle<RiraButton>("prefs");
    ASSERT_NE(nullptr, prefs);
    EXPECT_EQ(-2, prefs->HelpID());
    ASSERT_NE(nullptr, m_manager->HelpString(-2));
    EXPECT_EQ("Preferences", *m_manager->HelpString(-2));
    prefs->MouseUp({20, 20}, 0);
    EXPECT_EQ(1, m_aboutCalls);

    auto* later = Handle<StatefulButton>("later");
    ASSERT_NE(nullptr, later);
    EXPECT_EQ(-3, later->HelpID());
    EXPECT_EQ("true", Global("stateAfterSet"));
    EXPECT_EQ("", Global("presses"));  // setState does not fire
    later->MouseDown({110, 20}, 0);
    EXPECT_EQ("1", Global("presses"));
    EXPECT_NE(std::string::npos, Global("laterError").find("no button lookup table"));
    EXPECT_FALSE(later->State());  // a toggle pressed once more
    EXPECT_EQ("falsefalse", Global("dropDownReads"));
    EXPECT_EQ(0.25f, Value(kParam_DryLevel));
    EXPECT_EQ("0.75", Global("dry"));
    EXPECT_EQ(-1, m_manager->EditingParam());
}

TEST_F(LuaGuiTest, EndlessScriptsAreEndedAndTheStateStaysUsable) {
    WriteSkin(
        "function createUI()\n"
        "  later = luaButton(function() presses = (presses or 0) + 1\n"
        "    if presses == 1 then while true do pcall(function() while true do end end) end end end,\n"
        "    'L', 'h', 'm', 1, 2, 3, 4)\n"
        "  add(later)\n"
        "end\n");
    Build();
    const auto start = std::chrono::steady_clock::now();
    Handle<StatefulButton>("later")->MouseDown({2, 3}, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // The next entry gets a fresh budget.
    Handle<StatefulButton>("later")->MouseDown({2, 3}, 0);
    EXPECT_EQ("2", Global("presses"));
}

TEST_F(LuaGuiTest, SkinIsLookedUpByThePreferenceAndFallsBackToThePluginsOwn) {
    WriteSkin("function getWindowSize() return 300, 200 end\nfunction createUI() end\n", "Mine");
    Build();
    EXPECT_NE(std::string::npos, m_gui->SkinFolder().find("/Skins/Mine"));
    EXPECT_EQ(300, m_manager->Width());

    m_gui.reset();
    m_manager.reset();
    SkinName() = "Not There";
    LogCapture log;
    Build();
    ASSERT_EQ(1u, log.Lines().size());
    EXPECT_NE(std::string::npos, log.Lines()[0].find("\"Not There\" not found"));
    EXPECT_EQ(nullptr, m_gui->SkinBundle());
    EXPECT_EQ("", m_gui->SkinFolder());
    EXPECT_EQ(1024, m_manager->Width());  // the plug-in's own skin
}

}  // namespace
}  // namespace TB
