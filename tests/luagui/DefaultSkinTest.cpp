// The plug-in's own skin: it builds without an error line, reaches every parameter, fits the
// largest window below the read-out strip with nothing overlapping, shows the eight script lamps lit from the unit's record, and draws (a
// screenshot, with some lamps lit and both channels sounding, is saved as
// luagui-default-skin.png in the build tree).
#include <stb_image_write.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "effect/DataToGui.h"
#include "gui/Controls.h"
#include "gui/Panel.h"
#include "gui/ScriptLamp.h"
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
    std::map<int, const ScriptLamp*> lamps;
    std::vector<std::pair<const UIElement*, Bounds>> leaves;  // world bounds
    Walk(m_manager->RootGroup(), [&](const UIElement* e) {
        if (auto* control = dynamic_cast<const Control*>(e)) ids.insert(control->ParameterID());
        if (auto* button = dynamic_cast<const Button*>(e)) prefsButtons += button->HelpID() == -2;
        if (auto* lamp = dynamic_cast<const ScriptLamp*>(e)) lamps[lamp->Index()] = lamp;
        if (dynamic_cast<const Group*>(e) == nullptr) {
            Bounds b;
            e->GetWorldBounds(b);
            EXPECT_GE(b.min[0], 0);
            EXPECT_GE(b.min[1], 0);
            EXPECT_LE(b.max[0], 1024);
            EXPECT_LE(b.max[1], m_manager->BannerY() - 7);  // clear of the read-out strip
            if (dynamic_cast<const Panel*>(e) == nullptr) leaves.push_back({e, b});
        }
    });
    // Nothing overlaps, and the mouse reaches each clickable thing (no backdrop takes it).
    for (size_t i = 0; i < leaves.size(); ++i) {
        const Bounds& a = leaves[i].second;
        for (size_t j = i + 1; j < leaves.size(); ++j) {
            const Bounds& b = leaves[j].second;
            EXPECT_FALSE(a.min[0] < b.max[0] && b.min[0] < a.max[0] && a.min[1] < b.max[1] && b.min[1] < a.max[1])
                << "elements " << i << " and " << j << " overlap at " << a.min[0] << ", " << a.min[1];
        }
        if (dynamic_cast<const ControlBase*>(leaves[i].first)) {
            EXPECT_EQ(leaves[i].first, m_manager->RootGroup()->HitTest({a.CentreX(), a.CentreY()})) << i;
        }
    }
    EXPECT_EQ(size_t(kNumParams), ids.size());
    EXPECT_EQ(1, prefsButtons);
    ASSERT_EQ(size_t(kNumGUIBools), lamps.size());
    ASSERT_NE(nullptr, m_manager->HelpString(lamps[3]->HelpID()));
    EXPECT_EQ("Script lamp 3", *m_manager->HelpString(lamps[3]->HelpID()));

    auto* data = static_cast<DataToGui*>(m_manager->EffectData());
    ASSERT_NE(nullptr, data);
    data->SetGUIBool(0, true);
    data->SetGUIBool(5, true);
    data->Publish({{220, 331}, {0.8f, 0.55f}, {0.6f, 0.35f}, {false, false}});

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
    for (const auto& [index, lamp] : lamps) {
        Bounds b;
        lamp->GetWorldBounds(b);
        const unsigned char* p = &pixels[(size_t(b.CentreY()) * 1024 + size_t(b.CentreX())) * 4];
        if (index == 0 || index == 5) EXPECT_TRUE(p[0] > 200 && p[1] > 150) << "lamp " << index << " unlit";
        else EXPECT_LT(p[0], 100) << "lamp " << index << " lit";
    }
    m_manager->DestroyRenderTask();
    for (const std::string& line : log.Lines()) EXPECT_EQ(std::string::npos, line.find("ERROR")) << line;
}

}  // namespace
}  // namespace TB
