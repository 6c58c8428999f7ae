// `marrowfin editor` as a user meets it, under the virtual X server: a picture of the editor,
// no display at all, and real mouse and keyboard input (xdotool) on a skin of the test's own:
// a knob drag and a typed value reach the unit (asked over OSC), and the preferences panel
// moves the unit's OSC port when it closes.
#include <signal.h>
#include <stb_image.h>

#include <filesystem>

#include "osc/Preferences.h"
#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

namespace fs = std::filesystem;

RunResult RunEditor(std::vector<std::string> args, const Environment& env = {}) {
    args.insert(args.begin(), {MARROWFIN_APP_PATH, "editor"});
    return RunProgram(args, env, nullptr, std::chrono::seconds(30));
}

bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

TEST(EditorCommand, TakesAPictureOrSaysWhyNot) {
    if (!HaveDisplay()) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
    ScopedTestFolders dir("marrowfin-editor");
    RunResult r = RunEditor({"--demo", "--osc-offset", "0", "--screenshot", dir / "shot.png", "--frames", "5"});
    ASSERT_EQ(0, r.status) << r.err;
    int width = 0, height = 0, channels = 0;
    unsigned char* pixels = stbi_load((dir / "shot.png").c_str(), &width, &height, &channels, 4);
    ASSERT_NE(nullptr, pixels);
    EXPECT_EQ(1024, width);
    EXPECT_EQ(512, height);
    int lit = 0;  // not an empty frame: many pixels are well above black
    for (int i = 0; i < width * height; ++i) lit += pixels[i * 4] + pixels[i * 4 + 1] + pixels[i * 4 + 2] > 120;
    stbi_image_free(pixels);
    EXPECT_GT(lit, width * height / 100);

    // Without a display: a picture is a failure; a live editor says so in one line and keeps the
    // effect running.
    r = RunEditor({"--osc-offset", "0", "--screenshot", dir / "none.png"}, {{"DISPLAY", ""}});
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.err.find("no window system")) << r.err;
    r = RunEditor({"--osc-offset", "0", "--seconds", "0.3"}, {{"DISPLAY", ""}});
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
}

// A skin with one knob ("Dry Level"), one text field ("Wet Level") and the Prefs button at known
// places of a 320 x 160 window.
constexpr int kSkinHeight = 160;
const char* const kSkin = R"(
function getWindowSize() return 320, 160 end
local face = {{name = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", size = 11}}
function getFont() return face end
function getLabelFont() return face end
function getTextFieldFont() return face end
function createUI()
    theKnobRenderer = knobRenderer(texture("knob.png"), texture("knob-normal.png"), 0, 0, 128)
    local g = group("")
    g:add(knob("Dry Level", "Dry", 40, 40, 64))
    g:add(textField("Wet Level", "Wet", 150, 60, 100, 16))
    g:add(button("Prefs", "Prefs", 150, 110, 80, 20))
end
)";

class EditorInputTest : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
        if (RunProgram({"xdotool", "version"}).status != 0) GTEST_SKIP() << "xdotool is not installed";
        const std::string skin = m_folders.UserData() + "/Tallow Bright/Marrowfin/Skins/Test";
        ScopedTestFolders::WriteFile(skin + "/gui.lua", kSkin);
        for (const char* image : {"knob.png", "knob-normal.png"})
            fs::copy_file(std::string(MARROWFIN_SOURCE_DIR) + "/resources/" + image, skin + "/" + image);
        ScopedTestFolders::WriteFile(GetPrefsFilePath(),
                                     "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>Skin</key>"
                                     "<string>Test</string></dict></plist>");
    }
    // xdotool with WIN standing for the named window (waited for).
    bool Xdo(const std::string& window, std::string actions) {
        const std::string search = "xdotool search --sync --onlyvisible --name '^" + window + "$' | head -1";
        RunResult id = RunProgram({"sh", "-c", search}, {}, nullptr, std::chrono::seconds(10));
        const std::string win = id.out.substr(0, id.out.find('\n'));
        if (win.empty()) return false;
        for (size_t at; (at = actions.find("WIN")) != std::string::npos;) actions.replace(at, 3, win);
        return RunProgram({"sh", "-c", "xdotool " + actions}).status == 0;
    }
    // The unit's value of a parameter, asked over OSC on `port`.
    std::optional<double> Get(int port, int id) {
        Receiver client(47700);
        for (int attempt = 0; attempt < 20; ++attempt) {
            SendTo(port, Packet("/get", {osc::int32(id), client.Target(), std::string("/v")}));
            if (auto reply = client.Next(0.25)) return reply->numbers.at(1);
        }
        return std::nullopt;
    }

    ScopedTestFolders m_folders{"marrowfin-editor"};
};

TEST_F(EditorInputTest, DragTypeAndThePreferencesPanelReachTheUnit) {
    const int base = FreePortRun(47800, 2), newBase = FreePortRun(base + 10, 2);
    ASSERT_GT(base, 0);
    ChildProcess editor({MARROWFIN_APP_PATH, "editor", "--demo", "--osc-base-port", std::to_string(base),
                         "--osc-offset", "1", "--save-state", m_folders / "end.aupreset"},
                        {}, m_folders / "editor.out");
    ASSERT_TRUE(Get(base + 1, 0).has_value()) << ReadTextFile(m_folders / "editor.out");
    EXPECT_EQ(0.0, *Get(base + 1, 0));

    // The knob's centre is (72, 72) from the bottom-left: 88 from the top. Up is more.
    ASSERT_TRUE(Xdo("Marrowfin", "mousemove --window WIN 72 88 mousedown 1 mousemove --window WIN 72 60 "
                                 "mousemove --window WIN 72 28 mouseup 1"));
    EXPECT_TRUE(WaitUntil([&] { return Get(base + 1, 0).value_or(0) > 0.2; }, 5));

    ASSERT_TRUE(Xdo("Marrowfin", "mousemove --window WIN 200 92 click 1 type 0.25"));
    ASSERT_TRUE(Xdo("Marrowfin", "key Return"));
    EXPECT_TRUE(WaitUntil([&] { return std::abs(Get(base + 1, 1).value_or(0) - 0.25) < 1e-6; }, 5));

    // Prefs opens the panel; its port field takes the new base, Close applies it.
    ASSERT_TRUE(Xdo("Marrowfin", "mousemove --window WIN 190 40 click 1"));
    ASSERT_TRUE(Xdo("Marrowfin Preferences", "mousemove --window WIN 185 96 click 1 key BackSpace BackSpace "
                                             "BackSpace BackSpace BackSpace type " + std::to_string(newBase)));
    ASSERT_TRUE(Xdo("Marrowfin Preferences", "mousemove --window WIN 320 230 click 1"));
    EXPECT_TRUE(WaitUntil([&] { return GetPrefInt(kPrefOSCBasePort, 0) == newBase; }, 5));
    EXPECT_TRUE(Get(newBase + 1, 0).has_value()) << "the unit did not move to the new port";

    EXPECT_EQ(0, editor.Stop(SIGINT));
    EXPECT_TRUE(fs::exists(m_folders / "end.aupreset"));
}

TEST_F(EditorInputTest, AWindowDestroyedByAnotherClientEndsTheRunCleanly) {
    // Without care the driver went on drawing into the destroyed window and crashed the process.
    RunResult r = RunProgram({MARROWFIN_APP_PATH, "editor", "--demo", "--osc-offset", "0", "--save-state",
                              m_folders / "end.aupreset"},
                             {}, [&](pid_t) { Xdo("Marrowfin", "sleep 0.3 windowclose WIN"); },
                             std::chrono::seconds(30));
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_TRUE(fs::exists(m_folders / "end.aupreset"));
}

}  // namespace
