// The editor view in process, on hidden windows: the window events as the manager receives them,
// parameter gestures as the host's listeners see them, the preferences panel's port and
// switches, and many editors opened and closed on one unit.
#include <dirent.h>
#include <stb_image_write.h>

#include <fstream>
#include <functional>

#include "editor/EditorHooks.h"
#include "editor/PanelWidgets.h"
#include "editor/ViewFactory.h"
#include "gui/Manager.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "hostframework/AUParameterServices.h"
#include "osc/Preferences.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {
namespace {

int ThreadCount() {
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (dirent* e = readdir(d)) n += e->d_name[0] != '.';
        closedir(d);
    }
    return n;
}

void Walk(UIElement* element, const std::function<void(UIElement*)>& visit) {
    visit(element);
    if (auto* group = dynamic_cast<Group*>(element))
        for (UIElement* child : group->Children()) Walk(child, visit);
}

CGPoint Centre(const UIElement* e) {
    Bounds b;
    e->GetWorldBounds(b);
    return CGPoint{b.CentreX(), (b.min[1] + b.max[1]) / 2};
}

TEST_F(GuiUnitTest, ViewInputTranslatesEventsAndDropsThoseWithoutAPress) {
    Manager manager(Unit(), kNumParams);
    manager.SetWindowSize(200, 100);
    auto* element = new RecordingElement(&manager, 10, 10, 60, 40);
    manager.RootGroup()->AddChild(element);
    manager.CreateControl(0, 0);

    EXPECT_EQ(0xA00u, ViewInput::ModifierWord(true, true, false));
    EXPECT_EQ(0x300u, ViewInput::ModifierWord(false, true, true));
    const CGPoint flipped = ViewInput::FromTopLeft(30, 75, 100);  // 75 from the top is 25 from the bottom
    EXPECT_EQ(25, flipped.y);

    // A press that reached no manager leaves drags and the release unforwarded.
    ViewInput input;
    input.MouseDown(flipped, 0);
    input.SetManager(&manager);
    input.MouseDragged(flipped, 0);
    input.MouseUp(flipped, 0);
    input.MouseDown(flipped, 0xA00);
    input.MouseDragged(CGPoint{30, 200}, 0xA00);
    input.MouseUp(CGPoint{30, 200}, 0xA00);
    manager.SetKeyboardFocusElement(element);
    input.InsertCharacter(0xE9);  // e acute: two bytes
    input.InsertCharacter(0xD800);  // a lone surrogate is no character
    input.InsertNewline();
    input.DeleteBackward();
    input.SetManager(nullptr);
    input.InsertNewline();
    EXPECT_EQ((std::vector<std::string>{"down 2560", "drag 2560", "up 2560", "key 195", "key 169", "key 3", "key 8"}),
              element->calls)
        << testing::PrintToString(element->calls);
}

class EditorViewTest : public GuiUnitTest {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
        GuiUnitTest::SetUp();
        InstallEditorHooks();
    }
    std::unique_ptr<ComVoskTestMarfCocoaView> Open() {
        std::unique_ptr<ComVoskTestMarfCocoaView> view(
            ComVoskTestMarfCocoaViewFactory::uiViewForAudioUnit(Unit(), 0, 0, MakeWindowBridgeFactory(false)));
        EXPECT_NE(nullptr, view->GetManager());
        return view;
    }
};

TEST_F(EditorViewTest, AKnobDragIsOneGestureForTheHostsListeners) {
    struct Seen {
        std::vector<std::pair<int, int>> gestures;  // event type, parameter
    } seen;
    AUEventListenerRef listener = nullptr;
    ASSERT_EQ(noErr, AUEventListenerCreate(
                         [](void* refCon, void*, const AudioUnitEvent* e, UInt64, AudioUnitParameterValue) {
                             static_cast<Seen*>(refCon)->gestures.emplace_back(
                                 int(e->mEventType), int(e->mArgument.mParameter.mParameterID));
                         },
                         &seen, &RunLoop::Main(), nullptr, 0.005f, 0, &listener));
    for (UInt32 type : {1u, 2u}) {
        AudioUnitEvent e{};
        e.mEventType = AudioUnitEventType(type);
        e.mArgument.mParameter = {Unit(), kParam_WetLevel, kAudioUnitScope_Global, 0};
        ASSERT_EQ(noErr, AUEventListenerAddEventType(listener, nullptr, &e));
    }

    auto view = Open();
    EXPECT_EQ(1024, view->Frame().width);
    EXPECT_EQ(512, view->Frame().height);
    Control* knob = nullptr;
    Walk(view->GetManager()->RootGroup(), [&](UIElement* e) {
        auto* k = dynamic_cast<Knob*>(e);
        if (k && k->ParameterID() == kParam_WetLevel) knob = k;
    });
    ASSERT_NE(nullptr, knob);
    const float before = Value(kParam_WetLevel);
    const CGPoint p = Centre(knob);
    view->Input().MouseDown(p, 0);
    for (int dy = 1; dy <= 40; ++dy) view->Input().MouseDragged(CGPoint{p.x, p.y - dy}, 0);
    view->Input().MouseUp(CGPoint{p.x, p.y - 40}, 0);
    EXPECT_LT(Value(kParam_WetLevel), before);
    EXPECT_TRUE(PumpUntil([&] { return seen.gestures.size() >= 2; }));
    EXPECT_EQ((std::vector<std::pair<int, int>>{{1, kParam_WetLevel}, {2, kParam_WetLevel}}), seen.gestures);
    AUListenerDispose(listener);
}

TEST_F(EditorViewTest, ThePanelTakesWholeNumbersAndAppliesThePortWhenItCloses) {
    auto view = Open();
    const SInt32 basePort = GetOSCBasePort();
    const bool eyeCandy = Manager::ms_enableEyeCandy;
    view->OpenAboutPanel();
    MarrowfinAboutPanel* panel = view->AboutWindow();
    ASSERT_NE(nullptr, panel);
    view->OpenAboutPanel();  // a second press only raises it
    EXPECT_EQ(panel, view->AboutWindow());
    EXPECT_EQ(basePort, panel->PortValue());

    PanelNumberField* field = panel->PortField();
    panel->Input().MouseDown(Centre(field), 0);
    for (int i = 0; i < 5; ++i) panel->Input().DeleteBackward();  // the fifth finds nothing to delete
    panel->Input().InsertText("9x0.00", 6);  // a letter and a point are refused
    EXPECT_EQ("9000", field->Text());
    EXPECT_EQ(3, field->RefusedKeys());
    // The panel's picture is kept in the build tree for a look (build/editor-panel.png).
    std::vector<unsigned char> rgba;
    auto* bridge = dynamic_cast<ManagerGLFWBridge*>(panel->GetManager()->Bridge());
    ASSERT_TRUE(bridge && bridge->CaptureNextFrame(rgba, 5000));
    stbi_flip_vertically_on_write(1);
    stbi_write_png(MARROWFIN_BINARY_DIR "/editor-panel.png", MarrowfinAboutPanel::kWidth, MarrowfinAboutPanel::kHeight,
                   4, rgba.data(), MarrowfinAboutPanel::kWidth * 4);

    MarrowfinAboutPanel::setEyeCandy(panel);
    EXPECT_EQ(!eyeCandy, Manager::ms_enableEyeCandy.load());
    EXPECT_EQ(!eyeCandy, GetPrefInt(kPrefEnableEyeCandy, -1) != 0);
    MarrowfinAboutPanel::setEyeCandy(panel);  // twice: back where it started
    EXPECT_EQ(eyeCandy, Manager::ms_enableEyeCandy.load());

    view->windowWillClose();
    EXPECT_EQ(nullptr, view->AboutWindow());
    EXPECT_EQ(9000, GetPrefInt(kPrefOSCBasePort, 0));
    EXPECT_EQ(9000, GetOSCBasePort());

    // 0 (and nothing at all) changes nothing.
    view->OpenAboutPanel();
    view->AboutWindow()->PortField()->SetText("0");
    view->windowWillClose();
    EXPECT_EQ(9000, GetPrefInt(kPrefOSCBasePort, 0));
    SetOSCBasePort(basePort);
}

TEST_F(EditorViewTest, OpeningAndClosingEditorsLeavesNoThreadsBehind) {
    Open().reset();  // the first editor starts the process's lasting threads (GL driver, fonts)
    const int threads = ThreadCount();
    for (int i = 0; i < 8; ++i) {
        auto view = Open();
        if (i % 3 == 0) view->OpenAboutPanel();
        RunEditorEvents(0.001);
        if (i % 2) view->LeaveWindow();  // events after the view left its window do nothing
        view->Input().MouseDown(CGPoint{10, 10}, 0);
        view->Input().InsertNewline();
    }
    EXPECT_EQ(threads, ThreadCount());
}

}  // namespace
}  // namespace TB
