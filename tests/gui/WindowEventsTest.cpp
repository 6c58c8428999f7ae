// The editor window's event translation, with real X events (xdotool) on a visible window:
// points arrive with the origin at the bottom-left, modifier keys as the classic word, a press
// where the pointer was at that event, a drag outside still reaches the pressed element, and
// characters, Return and BackSpace reach the focused element as their bytes, 3 and 8.
#include <cstdlib>

#include "gui/platform/ManagerGLFWBridge.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {
namespace {

class WindowEventsTest : public GuiUnitTest {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
        if (std::system("command -v xdotool >/dev/null 2>&1") != 0) GTEST_SKIP() << "xdotool is not installed";
        GuiUnitTest::SetUp();
        m_manager = std::make_unique<Manager>(Unit(), kNumParams);
        m_manager->SetWindowSize(200, 100);
        m_element = new RecordingElement(m_manager.get(), 10, 10, 60, 40);  // near the bottom-left
        m_manager->RootGroup()->AddChild(m_element);
        m_manager->CreateControl(0, 0);
        m_bridge = ManagerGLFWBridge::Create(m_manager.get(), "gui_events_test", true);
        ASSERT_NE(nullptr, m_bridge);
        m_manager->SetBridge(m_bridge);
    }
    // Runs xdotool with `actions` (WIN stands for the window), then delivers events until
    // `count` calls were recorded. Input goes through the XTEST extension, like real devices.
    bool Send(std::string actions, size_t count) {
        if (m_windowID.empty()) {
            FILE* search = popen("xdotool search --sync --name '^gui_events_test$' 2>/dev/null", "r");
            char line[64] = {};
            if (search == nullptr) return false;
            if (fgets(line, sizeof line, search)) m_windowID = std::string(line, strcspn(line, "\n"));
            pclose(search);
        }
        for (size_t at; (at = actions.find("WIN")) != std::string::npos;) actions.replace(at, 3, m_windowID);
        if (!actions.empty() && std::system(("xdotool " + actions).c_str()) != 0) return false;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (m_element->calls.size() < count && std::chrono::steady_clock::now() < end)
            ManagerGLFWBridge::WaitEvents(0.01);
        return m_element->calls.size() >= count;
    }

    std::string m_windowID;
    std::unique_ptr<Manager> m_manager;
    ManagerGLFWBridge* m_bridge = nullptr;
    RecordingElement* m_element = nullptr;
};

TEST_F(WindowEventsTest, MouseAndKeysReachTheManagerTranslated) {
    // Window y 75 from the top is 25 from the bottom: inside the element.
    ASSERT_TRUE(Send("mousemove --window WIN 30 75 keydown shift mousedown 1 mousemove --window WIN 30 20 "
                     "mouseup 1 keyup shift",
                     4))
        << testing::PrintToString(m_element->calls);
    EXPECT_EQ((std::vector<std::string>{"entered", "down 512", "drag 512", "up 512"}),
              std::vector<std::string>(m_element->calls.begin(), m_element->calls.begin() + 4));

    m_element->calls.clear();
    m_manager->SetKeyboardFocusElement(m_element);
    ASSERT_TRUE(Send("type 7", 1)) << testing::PrintToString(m_element->calls);
    ASSERT_TRUE(Send("key Return BackSpace", 3)) << testing::PrintToString(m_element->calls);
    EXPECT_EQ((std::vector<std::string>{"key 55", "key 3", "key 8"}), m_element->calls);
}

}  // namespace
}  // namespace TB
