// The render task drawing for real (Mesa under a virtual X server): frames on demand and at the
// constant-redraw rate, the labels layer in the picture through a framebuffer object and through
// the bridge's offscreen buffer, a parameter set on another thread reaching the next frame, and
// the task's start and stop rules. Pictures are checked at a few probe points.
#include <stb_image_write.h>

#include <cstdlib>
#include <thread>

#include "gui/UIElement.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {
namespace {

constexpr int kWidth = 300, kHeight = 200;

// Paints a red box near the top right of the labels layer, so its orientation shows.
class LabelsManager : public Manager {
public:
    using Manager::Manager;
    ~LabelsManager() override { DestroyRenderTask(); }
    void RenderBackground() override {
        glColor3f(1, 0, 0);
        glBegin(GL_QUADS);
        glVertex2f(200, 150), glVertex2f(280, 150), glVertex2f(280, 190), glVertex2f(200, 190);
        glEnd();
    }
};

struct Rgb {
    int r, g, b;
};

class RenderTaskTest : public GuiUnitTest {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
        GuiUnitTest::SetUp();
        m_manager = std::make_unique<LabelsManager>(Unit(), kNumParams);
        Manager::ms_enableConstantRedraw = false;
        m_manager->SetWindowSize(kWidth, kHeight);
        m_manager->SetLabelsClearColour(0.2f, 0.4f, 0.6f);
        m_bar = new BarControl(m_manager.get(), kParam_WetLevel, 20, 20, 120, 40);
        m_manager->RootGroup()->AddChild(m_bar);
        auto* group = m_group = new NamedGroup(m_manager.get(), "Filter", 10);
        group->SetPosition(150, 40);
        m_manager->RootGroup()->AddChild(group);
        group->AddChild(new Knob(m_manager.get(), kParam_FilterCutoff, 0, 0, 40));
        group->AddChild(new Knob(m_manager.get(), kParam_FilterQ, 50, 0, 40));
        m_manager->RootGroup()->AddChild(new Button(m_manager.get(), "Go", nullptr, nullptr, 20, 60, 60, 20, -1));
        m_manager->CreateControl(0, 0);
        m_bridge = ManagerGLFWBridge::Create(m_manager.get(), "gui_tests", false);
        ASSERT_NE(nullptr, m_bridge) << "an X display is set but no GL window could be opened";
        m_manager->SetBridge(m_bridge);
    }
    void TearDown() override {
        m_manager.reset();
        Manager::ms_enableConstantRedraw = true;
        Manager::ms_allowFramebufferObjects = true;
    }
    void Capture() {
        ASSERT_TRUE(m_bridge->CaptureNextFrame(m_pixels, 5000));
        ASSERT_EQ(size_t(kWidth) * kHeight * 4, m_pixels.size());
    }
    Rgb At(int x, int y) const {  // window pixels, origin bottom-left
        const unsigned char* p = &m_pixels[(size_t(y) * kWidth + x) * 4];
        return {p[0], p[1], p[2]};
    }
    static void ExpectNear(Rgb want, Rgb got, const char* what) {
        EXPECT_NEAR(want.r, got.r, 3) << what;
        EXPECT_NEAR(want.g, got.g, 3) << what;
        EXPECT_NEAR(want.b, got.b, 3) << what;
    }
    bool WaitForFrames(uint64_t count) {
        return PumpUntil([&] { return m_manager->FrameCount() >= count; }, 5.0);
    }

    std::unique_ptr<LabelsManager> m_manager;
    ManagerGLFWBridge* m_bridge = nullptr;
    BarControl* m_bar = nullptr;
    NamedGroup* m_group = nullptr;
    std::vector<unsigned char> m_pixels;
};

class LabelsPathTest : public RenderTaskTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LabelsPathTest, LabelsLayerAndControlsAreInThePicture) {
    Manager::ms_allowFramebufferObjects = GetParam();
    m_manager->CreateRenderTask();
    Capture();
    ASSERT_TRUE(m_manager->GLReady());
    EXPECT_EQ(GetParam(), m_manager->LabelsFramebuffer() != 0);
    ExpectNear({51, 102, 153}, At(5, 5), "labels clear colour");
    ExpectNear({255, 0, 0}, At(240, 170), "labels box, top right");
    ExpectNear({51, 102, 153}, At(240, 30), "no mirrored box at the bottom");
    ExpectNear({255, 255, 255}, At(70, 30), "bar at the wet level's default 1");
    // A one-pixel line on a pixel boundary lands on either side of it.
    EXPECT_TRUE(At(50, 59).g == 255 || At(50, 60).g == 255) << "button outline";

    if (GetParam()) {
        const std::string path = std::string(MARROWFIN_BINARY_DIR) + "/gui-screenshot.png";
        stbi_flip_vertically_on_write(1);
        EXPECT_NE(0, stbi_write_png(path.c_str(), kWidth, kHeight, 4, m_pixels.data(), kWidth * 4));
    }
}

INSTANTIATE_TEST_SUITE_P(FramebufferAndOffscreen, LabelsPathTest, ::testing::Bool());

TEST_F(RenderTaskTest, FramesOnDemandAndAtTheConstantRate) {
    m_manager->CreateRenderTask();
    ASSERT_TRUE(WaitForFrames(1));
    // On demand: no frame until asked. The loop waits without timeout, so a short look suffices.
    EXPECT_FALSE(PumpUntil([&] { return m_manager->FrameCount() > 1; }, 0.2));
    m_manager->NudgeGUI();
    ASSERT_TRUE(WaitForFrames(2));

    Manager::ms_enableConstantRedraw = true;
    m_manager->NudgeGUI();  // wakes the loop from its unbounded wait
    ASSERT_TRUE(WaitForFrames(3));
    const uint64_t start = m_manager->FrameCount();
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForFrames(start + 6));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GE(seconds, 5 * 0.033 - 0.005);  // the 33 ms wait paces the frames
    EXPECT_GT(m_manager->FrameRate(), 0);
    EXPECT_GT(m_manager->RunTime(), 0);
}

TEST_F(RenderTaskTest, ParameterSetOnAnotherThreadMovesTheControlInTheNextFrame) {
    m_manager->CreateRenderTask();
    ASSERT_TRUE(WaitForFrames(1));
    std::thread setter([&] {
        const AudioUnitParameter p{Unit(), kParam_WetLevel, 0, 0};
        AUParameterSet(nullptr, nullptr, &p, 0.25f, 0);
    });
    setter.join();
    ASSERT_TRUE(PumpUntil([&] { return m_bar->Normalised() == 0.25f; }));
    Capture();
    ExpectNear({255, 255, 255}, At(40, 30), "filled part");
    ExpectNear({0, 0, 128}, At(60, 30), "empty part");
}

TEST_F(RenderTaskTest, HoveredGroupOutlineEasesFifteenPercentAFrame) {
    m_manager->CreateRenderTask();
    ASSERT_TRUE(WaitForFrames(1));  // the group's bounds come from its final position, on the task
    m_manager->HandleMouseMove({145, 35});  // inside the outline, beside the knobs
    ASSERT_EQ(m_group, m_manager->HoveredElement());
    for (uint64_t frame = 2; frame <= 4; ++frame) {
        m_manager->NudgeGUI();
        ASSERT_TRUE(WaitForFrames(frame));
    }
    m_manager->DestroyRenderTask();  // the task owns the current colour: read it once it stopped
    const Vec4 from = NamedGroup::ms_inactiveTargetColour, to = NamedGroup::ms_activeTargetColour;
    const float left = 0.85f * 0.85f * 0.85f;
    EXPECT_NEAR(to.x + (from.x - to.x) * left, m_group->Colour().x, 1e-5);
    EXPECT_NEAR(to.y + (from.y - to.y) * left, m_group->Colour().y, 1e-5);
    EXPECT_NEAR(to.w + (from.w - to.w) * left, m_group->Colour().w, 1e-5);
}

TEST_F(RenderTaskTest, SecondStartIsRefusedAndStopKeepsItsBound) {
    LogCapture log;
    m_manager->CreateRenderTask();
    ASSERT_TRUE(WaitForFrames(1));
    m_manager->CreateRenderTask();
    m_manager->RequestRedrawLabels();
    m_manager->NudgeGUI();
    ASSERT_TRUE(WaitForFrames(2));
    m_manager->DestroyRenderTask();
    EXPECT_FALSE(m_manager->TaskRunning());
    EXPECT_FALSE(m_manager->GLReady());  // ShutdownGL ran on the task before it signalled
    EXPECT_EQ((std::vector<std::string>{"double call to CreateRenderTask()\n"}), log.Lines());

    m_manager->CreateRenderTask();  // and it starts again after a stop
    ASSERT_TRUE(PumpUntil([&] { return m_manager->GLReady(); }, 5.0));
}

}  // namespace
}  // namespace TB
