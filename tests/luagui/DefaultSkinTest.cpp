// The plug-in's own skin: it builds without an error line, reaches every parameter, fits the
// largest window, and draws (a screenshot is saved as luagui-default-skin.png in the build tree).
#include <stb_image_write.h>

#include <cstdlib>
#include <functional>
#include <set>

#include "gui/Controls.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "tests/luagui/LuaGuiTestSupport.h"

namespace TB {
namespace {

void Walk(const UIElement* element, const std::function<void(const UIElement*)>& visit) {
    visit(element);
    if (auto* group = dynamic_cast<const Group*>(element))
        for (const UIElement* child : group->Children()) Walk(child, visit);
}

TEST_F(LuaGuiTest, DefaultSkinReachesEveryParameterWithinTheWindowAndDraws) {
    LogCapture log;
    Build();
    for (const std::string& line : log.Lines()) EXPECT_EQ(std::string::npos, line.find("@@@")) << line;
    EXPECT_EQ(1024, m_manager->Width());
    EXPECT_EQ(512, m_manager->Height());
    ASSERT_NE(nullptr, m_manager->MainFont());

    std::set<int> ids;
    int prefsButtons = 0;
    Walk(m_manager->RootGroup(), [&](const UIElement* e) {
        if (auto* control = dynamic_cast<const Control*>(e)) ids.insert(control->ParameterID());
        if (auto* button = dynamic_cast<const Button*>(e)) prefsButtons += button->HelpID() == -2;
        if (dynamic_cast<const Group*>(e) == nullptr) {
            Bounds b;
            e->GetWorldBounds(b);
            EXPECT_GE(b.min[0], 0);
            EXPECT_GE(b.min[1], 0);
            EXPECT_LE(b.max[0], 1024);
            EXPECT_LE(b.max[1], 512);
        }
    });
    EXPECT_EQ(size_t(kNumParams), ids.size());
    EXPECT_EQ(1, prefsButtons);

    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
    m_manager->CreateControl(0, 0);
    auto* bridge = ManagerGLFWBridge::Create(m_manager.get(), "luagui_tests", false);
    ASSERT_NE(nullptr, bridge);
    m_manager->SetBridge(bridge);
    m_manager->CreateRenderTask();
    std::vector<unsigned char> pixels;
    ASSERT_TRUE(bridge->CaptureNextFrame(pixels, 5000));
    ASSERT_EQ(size_t(1024) * 512 * 4, pixels.size());
    const std::string path = std::string(MARROWFIN_BINARY_DIR) + "/luagui-default-skin.png";
    stbi_flip_vertically_on_write(1);
    EXPECT_NE(0, stbi_write_png(path.c_str(), 1024, 512, 4, pixels.data(), 1024 * 4));
    m_manager->DestroyRenderTask();
    for (const std::string& line : log.Lines()) EXPECT_EQ(std::string::npos, line.find("ERROR")) << line;
}

}  // namespace
}  // namespace TB
