// Input, focus, hover, capture, controls and gestures, driven with synthetic events on a manager
// without a window (no GL).
#include <cmath>
#include <thread>

#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>

#include "gui/UIElement.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {
namespace {

struct Calls {
    std::vector<std::string> log;
    static void BeginEdit(SInt32 id, void* self) { static_cast<Calls*>(self)->log.push_back("begin-edit " + std::to_string(id)); }
    static void EndEdit(SInt32 id, void* self) { static_cast<Calls*>(self)->log.push_back("end-edit " + std::to_string(id)); }
    static void BeginCapture(void* self) { static_cast<Calls*>(self)->log.push_back("begin-capture"); }
    static void EndCapture(void* self) { static_cast<Calls*>(self)->log.push_back("end-capture"); }
    static void Fired(Button*, void* self) { static_cast<Calls*>(self)->log.push_back("fired"); }
};

class InputTest : public GuiUnitTest {
protected:
    void SetUp() override {
        GuiUnitTest::SetUp();
        m_manager = std::make_unique<Manager>(Unit(), kNumParams);
        m_manager->SetEditCallbacks(&Calls::BeginEdit, &Calls::EndEdit, &m_calls);
        m_manager->SetCaptureCallbacks(&Calls::BeginCapture, &Calls::EndCapture, &m_calls);
        m_manager->SetWindowSize(400, 300);
        m_manager->CreateControl(0, 0);
    }
    Knob* AddKnob(int id, float x = 100, float y = 100) {
        Knob* k = new Knob(m_manager.get(), id, x, y, 40);
        m_manager->RootGroup()->AddChild(k);
        return k;
    }
    void Press(double x, double y, UInt32 mods = 0) { m_manager->HandleMouseNoLoopDown({x, y}, mods); }
    void Drag(double x, double y, UInt32 mods = 0) { m_manager->HandleMouseNoLoopDragged({x, y}, mods); }
    void Release(double x, double y, UInt32 mods = 0) { m_manager->HandleMouseNoLoopUp({x, y}, mods); }

    std::unique_ptr<Manager> m_manager;
    Calls m_calls;
};

TEST_F(InputTest, HitTestsFollowTreeOrderVisibilityAndGroupPositions) {
    Group* group = new Group(m_manager.get());
    group->SetPosition(50, 20);
    m_manager->RootGroup()->AddChild(group);
    auto* first = new RecordingElement(m_manager.get(), 0, 0, 30, 30);
    auto* second = new RecordingElement(m_manager.get(), 10, 10, 40, 40);
    group->AddChild(first);
    group->AddChild(second);

    EXPECT_EQ(first, m_manager->RootGroup()->HitTest({60, 30}));     // overlap: first added wins
    EXPECT_EQ(second, m_manager->RootGroup()->HitTest({90, 60}));    // edges inclusive, translated
    EXPECT_EQ(nullptr, m_manager->RootGroup()->HitTest({90.5, 60}));
    Group::ms_hitTestIncludesGroups = true;  // a plain group keeps empty bounds: never itself
    EXPECT_EQ(nullptr, m_manager->RootGroup()->HitTest({200, 200}));
    Group::ms_hitTestIncludesGroups = false;

    Bounds world;
    second->GetWorldBounds(world);
    EXPECT_FLOAT_EQ(60, world.min[0]);
    EXPECT_FLOAT_EQ(60, world.max[1]);

    group->SetVisible(false);
    EXPECT_EQ(nullptr, m_manager->RootGroup()->HitTest({60, 30}));
    auto* late = new RecordingElement(m_manager.get(), 0, 0, 1, 1);
    group->AddChild(late);
    EXPECT_FALSE(late->IsVisible());
}

TEST_F(InputTest, HoverEntersGroupThenControlAndLeavesByRecordedBounds) {
    auto* named = new NamedGroup(m_manager.get(), "Osc", 10);
    m_manager->RootGroup()->AddChild(named);
    auto* knob = new RecordingElement(m_manager.get(), 100, 100, 140, 140);
    named->AddChild(knob);
    named->FinalPosition();  // bounds 90..150

    m_manager->HandleMouseMove({95, 95});
    EXPECT_EQ(named, m_manager->HoveredElement());
    EXPECT_FLOAT_EQ(0.6f, named->TargetColour().w);  // lit while hovered

    m_manager->HandleMouseMove({120, 120});
    EXPECT_EQ(knob, m_manager->HoveredElement());
    EXPECT_TRUE(m_manager->IsHovered(named));

    m_manager->HandleMouseMove({145, 145});  // off the control, still inside the group
    EXPECT_EQ((std::vector<std::string>{"entered", "exited"}), knob->calls);
    EXPECT_TRUE(m_manager->IsHovered(named));
    EXPECT_EQ(knob, m_manager->HoveredElement());  // the group is not entered again

    m_manager->HandleMouseMove({300, 250});  // only the root: nothing entered, hovered null
    EXPECT_FALSE(m_manager->IsHovered(named));
    EXPECT_EQ(nullptr, m_manager->HoveredElement());
    EXPECT_FLOAT_EQ(0.5f, named->TargetColour().w);
}

TEST_F(InputTest, PressOnEmptySpaceClearsFocusAndCapturesNothing) {
    auto* field = new RecordingElement(m_manager.get(), 0, 0, 10, 10);
    m_manager->RootGroup()->AddChild(field);
    m_manager->SetKeyboardFocusElement(field);
    m_manager->SetKeyboardFocusElement(field);  // the same element: no LostFocus
    EXPECT_TRUE(m_manager->HandleKeypress('7'));

    Press(300, 300);
    Drag(310, 310);
    Release(310, 310);
    EXPECT_EQ((std::vector<std::string>{"key 55", "lost"}), field->calls);
    EXPECT_FALSE(m_manager->HandleKeypress('7'));
    EXPECT_TRUE(m_calls.log.empty());

    m_manager->SetKeyboardFocusElement(field);
    m_manager->HandleWindowFocusRelinquish();
    EXPECT_EQ(nullptr, m_manager->KeyboardFocusElement());
    EXPECT_EQ("lost", field->calls.back());
}

TEST_F(InputTest, ModifierChangeMidDragRestartsTheGestureWithOneCapture) {
    auto* element = new RecordingElement(m_manager.get(), 0, 0, 50, 50);
    m_manager->RootGroup()->AddChild(element);
    Press(10, 10);
    Drag(10, 20);
    Drag(10, 30, kModifierShift);
    Release(10, 30, kModifierShift);
    EXPECT_EQ((std::vector<std::string>{"down 0", "drag 0", "up 0", "down 512", "drag 512", "up 512"}),
              element->calls);
    EXPECT_EQ((std::vector<std::string>{"begin-capture", "end-capture"}), m_calls.log);
}

TEST_F(InputTest, KnobDragArithmeticWithShiftOptionClampingAndSnapping) {
    Set(kParam_WetLevel, 0.5f);
    Knob* knob = AddKnob(kParam_WetLevel);
    knob->ParameterChange(nullptr, 0);

    Press(120, 120);
    Drag(120, 420);  // 300 px up from the middle: clamped at 1
    EXPECT_FLOAT_EQ(1, Value(kParam_WetLevel));
    Drag(120, 90);   // back down past the press point: 0.5 - 0.15
    EXPECT_NEAR(0.35f, Value(kParam_WetLevel), 1e-6);
    Release(120, 90);

    Press(120, 120, kModifierShift);
    Drag(120, 420, kModifierShift);  // fine: 300 px move 0.15 from the press position
    EXPECT_NEAR(0.5f, Value(kParam_WetLevel), 1e-6);
    Drag(120, 720, kModifierShift);
    EXPECT_NEAR(0.65f, Value(kParam_WetLevel), 1e-6);
    Release(120, 720, kModifierShift);

    Set(kParam_FilterEnvDepth, 0);  // continuous -16..16; option lands on whole values
    Knob* depth = AddKnob(kParam_FilterEnvDepth, 200, 100);
    depth->ParameterChange(nullptr, 0);
    Press(220, 120, kModifierOption);
    Drag(220, 121, kModifierOption);  // n = 0.505: -16 + 0.5 + 16.16 -> 0
    EXPECT_EQ(0, Value(kParam_FilterEnvDepth));
    Drag(220, 127, kModifierOption);  // n = 0.535: 1.62 + 0.5 -> 1
    EXPECT_EQ(1, Value(kParam_FilterEnvDepth));
    EXPECT_FLOAT_EQ(17.0f / 32, depth->Normalised());
    Release(220, 127, kModifierOption);

    Set(kParam_PitchLFOShape, 0);  // Indexed 0..4: value and position snap
    Knob* shape = AddKnob(kParam_PitchLFOShape, 300, 100);
    shape->ParameterChange(nullptr, 0);
    EXPECT_TRUE(shape->IsIntegerValued());
    Press(320, 120);
    Drag(320, 240);  // n = 0.6: floor(0 + 0.5 + 2.4) = 2
    EXPECT_EQ(2, Value(kParam_PitchLFOShape));
    EXPECT_FLOAT_EQ(0.5f, shape->Normalised());
    Release(320, 240);
}

TEST_F(InputTest, KnobClicksResetToggleOrLeaveAlone) {
    Set(kParam_EnvPreGain, 40);
    Knob* gain = AddKnob(kParam_EnvPreGain, 0, 0);
    Press(20, 20, kModifierCommand);  // command-click: default, and a gesture begins
    EXPECT_EQ(12, Value(kParam_EnvPreGain));
    EXPECT_FLOAT_EQ(0.25f, gain->Normalised());
    EXPECT_EQ(kParam_EnvPreGain, m_manager->EditingParam());
    Release(20, 20, kModifierCommand);

    AddKnob(kParam_UseFilteredForDry, 100, 0);  // Boolean 0..1: a click toggles
    Press(120, 20);
    Release(120, 20);
    EXPECT_EQ(1, Value(kParam_UseFilteredForDry));
    Press(120, 20);
    Release(120, 20);
    EXPECT_EQ(0, Value(kParam_UseFilteredForDry));

    Set(kParam_EnvGate, 0.25f);  // Generic 0..1: not integer valued, a click changes nothing
    AddKnob(kParam_EnvGate, 200, 0);
    Press(220, 20);
    Release(220, 20);
    EXPECT_EQ(0.25f, Value(kParam_EnvGate));

    const std::string gainID = std::to_string(kParam_EnvPreGain);
    EXPECT_EQ("begin-edit " + gainID, m_calls.log[0]);
    EXPECT_EQ("begin-capture", m_calls.log[1]);
    EXPECT_EQ("end-capture", m_calls.log[2]);
    EXPECT_EQ("end-edit " + gainID, m_calls.log[3]);  // exactly once, by the control's release
    EXPECT_EQ(16u, m_calls.log.size());
    EXPECT_EQ(-1, m_manager->EditingParam());
}

TEST_F(InputTest, ButtonsFireOnReleaseOrOnPressByKind) {
    auto* plain = new Button(m_manager.get(), "Go", &Calls::Fired, &m_calls, 0, 0, 20, 20, -1);
    auto* momentary = new StatefulButton(m_manager.get(), "M", &Calls::Fired, &m_calls, 30, 0, 20, 20, -1,
                                         StatefulButton::kMomentary);
    auto* toggle = new StatefulButton(m_manager.get(), "T", &Calls::Fired, &m_calls, 60, 0, 20, 20, -1,
                                      StatefulButton::kToggle);
    for (UIElement* e : {static_cast<UIElement*>(plain), static_cast<UIElement*>(momentary),
                         static_cast<UIElement*>(toggle)})
        m_manager->RootGroup()->AddChild(e);

    Press(10, 10);
    EXPECT_TRUE(m_calls.log.back() == "begin-capture");
    Release(300, 300);  // released outside: still fires; end-capture but no end-edit
    EXPECT_EQ((std::vector<std::string>{"begin-capture", "end-capture", "fired"}), m_calls.log);

    m_calls.log.clear();
    EXPECT_TRUE(momentary->State());
    Press(40, 10);
    EXPECT_FALSE(momentary->State());
    EXPECT_EQ("fired", m_calls.log.front());
    Release(40, 10);
    EXPECT_TRUE(momentary->State());

    EXPECT_FALSE(toggle->State());
    Press(70, 10);
    Release(70, 10);
    EXPECT_TRUE(toggle->State());
    Press(70, 10);
    Release(70, 10);
    EXPECT_FALSE(toggle->State());
    EXPECT_EQ(3, std::count(m_calls.log.begin(), m_calls.log.end(), "fired"));
}

TEST_F(InputTest, MouseOverAndEditingParametersFollowTheControls) {
    // Help strings count down from -2; adding a known text gives its id again.
    const char* const texts[] = {"Preferences", "Capture preset", nullptr};
    m_manager->SetHelpStrings(texts);
    EXPECT_EQ("Preferences", *m_manager->HelpString(-2));
    EXPECT_EQ(nullptr, m_manager->HelpString(-1));
    EXPECT_EQ(-3, m_manager->AddHelpString("Capture preset"));
    const int help = m_manager->AddHelpString("Opens the panel");
    EXPECT_EQ(-4, help);
    EXPECT_EQ(-4, m_manager->AddHelpString("Opens the panel"));
    auto* button = new Button(m_manager.get(), "P", &Calls::Fired, &m_calls, 0, 0, 20, 20, help);
    m_manager->RootGroup()->AddChild(button);
    Knob* knob = AddKnob(kParam_WetLevel);

    m_manager->HandleMouseMove({10, 10});
    EXPECT_EQ(help, m_manager->MouseOverParam());
    EXPECT_EQ(button, m_manager->TooltipElement());
    m_manager->HandleMouseMove({120, 120});
    EXPECT_EQ(kParam_WetLevel, m_manager->MouseOverParam());
    EXPECT_EQ(knob, m_manager->TooltipElement());

    m_manager->SetEditingParam(kParam_WetLevel);
    m_manager->UnsetEditingParam(kParam_DryLevel);  // another id: nothing
    EXPECT_EQ(kParam_WetLevel, m_manager->EditingParam());
    m_manager->UnsetEditingParam(kParam_WetLevel);
    EXPECT_EQ(-1, m_manager->EditingParam());
    EXPECT_EQ((std::vector<std::string>{"begin-edit 1", "end-edit 1"}), m_calls.log);

    m_manager->HandleMouseMove({390, 290});
    EXPECT_EQ(-1, m_manager->MouseOverParam());
    EXPECT_EQ(knob, m_manager->TooltipElement());  // kept: the tooltip fades from there
}

// What the host hears of an edit: begin gesture, the values, end gesture, in that order, on
// its own listeners (the view's edit callbacks announce the gestures).
struct HostEar {
    std::vector<std::string> heard;
    static void Value(void* self, void*, const AudioUnitParameter*, float v) {
        static_cast<HostEar*>(self)->heard.push_back("value " + std::to_string(v));
    }
    static void Event(void* self, void*, const AudioUnitEvent* e, UInt64, float) {
        static_cast<HostEar*>(self)->heard.push_back(e->mEventType == kAudioUnitEvent_BeginParameterChangeGesture ? "begin"
                                                                                                           : "end");
    }
    static void Announce(SInt32 id, void* unit, AudioUnitEventType type) {
        AudioUnitEvent e{};
        e.mEventType = type;
        e.mArgument.mParameter = {static_cast<AudioUnit>(unit), AudioUnitParameterID(id), 0, 0};
        AUEventListenerNotify(nullptr, nullptr, &e);
    }
    static void Begin(SInt32 id, void* unit) { Announce(id, unit, kAudioUnitEvent_BeginParameterChangeGesture); }
    static void End(SInt32 id, void* unit) { Announce(id, unit, kAudioUnitEvent_EndParameterChangeGesture); }
};

TEST_F(InputTest, GesturesAndValuesReachTheHostsListeners) {
    Set(kParam_WetLevel, 0);
    HostEar ear;
    AUParameterListenerRef values = nullptr;
    AUEventListenerRef gestures = nullptr;
    const AudioUnitParameter p{Unit(), kParam_WetLevel, 0, 0};
    ASSERT_EQ(noErr, AUListenerCreate(&HostEar::Value, &ear, &RunLoop::Main(), nullptr, 0, &values));
    ASSERT_EQ(noErr, AUListenerAddParameter(values, nullptr, &p));
    ASSERT_EQ(noErr, AUEventListenerCreate(&HostEar::Event, &ear, &RunLoop::Main(), nullptr, 0, 0, &gestures));
    for (AudioUnitEventType t : {kAudioUnitEvent_BeginParameterChangeGesture, kAudioUnitEvent_EndParameterChangeGesture}) {
        AudioUnitEvent e{};
        e.mEventType = t;
        e.mArgument.mParameter = p;
        ASSERT_EQ(noErr, AUEventListenerAddEventType(gestures, nullptr, &e));
    }
    m_manager->SetEditCallbacks(&HostEar::Begin, &HostEar::End, Unit());
    AddKnob(kParam_WetLevel);

    Press(120, 120);
    PumpUntil([&] { return ear.heard.size() >= 1; });
    Drag(120, 220);  // 100 px: 0.5
    PumpUntil([&] { return ear.heard.size() >= 2; });
    Release(120, 220);
    PumpUntil([&] { return ear.heard.size() >= 3; });
    EXPECT_EQ((std::vector<std::string>{"begin", "value 0.500000", "end"}), ear.heard);
    AUListenerDispose(values);
    AUListenerDispose(gestures);
}

// A manager that can keep notifications from its elements.
class FilteringManager : public Manager {
public:
    using Manager::Manager;
    bool HandleParameterListener(void*, const AudioUnitParameter* p, float) override {
        return int(p->mParameterID) == blocked;
    }
    int blocked = -1;
};

TEST_F(InputTest, ParameterSetOnAnotherThreadReachesTheControlOnTheRunLoop) {
    FilteringManager manager(Unit(), kNumParams);
    manager.blocked = kParam_DryLevel;
    auto* wet = new BarControl(&manager, kParam_WetLevel, 0, 0, 10, 10);
    auto* dry = new BarControl(&manager, kParam_DryLevel, 0, 0, 10, 10);
    ASSERT_EQ(1.0f, wet->Normalised());  // default 1

    std::thread setter([&] {
        const AudioUnitParameter wetP{Unit(), kParam_WetLevel, 0, 0}, dryP{Unit(), kParam_DryLevel, 0, 0};
        AUParameterSet(nullptr, nullptr, &dryP, 0.5f, 0);
        AUParameterSet(nullptr, nullptr, &wetP, 0.25f, 0);
    });
    setter.join();
    EXPECT_TRUE(PumpUntil([&] { return wet->Normalised() == 0.25f; }));
    EXPECT_EQ(0.0f, dry->Normalised());  // kept by the manager's hook
}

TEST_F(InputTest, BadInputIsIgnored) {
    auto* element = new RecordingElement(m_manager.get(), 0, 0, 50, 50);
    const double nan = std::nan("");
    m_manager->HandleMouseMove({nan, 10});
    m_manager->HandleMouseNoLoopUp({10, 10}, 0);       // release without press
    m_manager->HandleMouseNoLoopDragged({10, 10}, 0);  // drag without press
    m_manager->HandleMouseNoLoopDown({nan, nan}, 0);
    EXPECT_TRUE(element->calls.empty());  // not even in the tree yet
    EXPECT_FALSE(m_manager->HandleKeypress('x'));

    m_manager->SetWindowSize(0, -5);
    EXPECT_EQ(1, m_manager->Width());
    m_manager->SetWindowSize(5000, 5000);
    EXPECT_EQ(512, m_manager->Height());

    Manager orphan(nullptr, 3);  // no unit: descriptors without info, controls still work
    Knob* k = new Knob(&orphan, 99, 0, 0, 10);
    orphan.RootGroup()->AddChild(k);
    orphan.HandleMouseNoLoopDown({5, 5}, 0);
    orphan.HandleMouseNoLoopDragged({5, 50}, kModifierOption);
    orphan.HandleMouseNoLoopUp({5, 50}, 0);
}

TEST_F(InputTest, RenderTaskWithoutAWindowDrawsNothingAndStops) {
    LogCapture log;
    m_manager->CreateRenderTask();
    m_manager->NudgeGUI();
    m_manager->CreateRenderTask();
    m_manager->DestroyRenderTask();
    EXPECT_FALSE(m_manager->TaskRunning());
    EXPECT_FALSE(m_manager->GLReady());
    EXPECT_EQ(0u, m_manager->FrameCount());
    EXPECT_EQ((std::vector<std::string>{"double call to CreateRenderTask()\n"}), log.Lines());
}

TEST(WindowModifiers, CtrlShiftAltBecomeCommandShiftOption) {
    EXPECT_EQ(0x300u, ManagerGLFWBridge::ModifiersFromGLFW(GLFW_MOD_CONTROL | GLFW_MOD_SHIFT));
    EXPECT_EQ(0xA00u, ManagerGLFWBridge::ModifiersFromGLFW(GLFW_MOD_ALT | GLFW_MOD_SHIFT));
    EXPECT_EQ(0u, ManagerGLFWBridge::ModifiersFromGLFW(GLFW_MOD_SUPER | GLFW_MOD_CAPS_LOCK | GLFW_MOD_NUM_LOCK));
}

TEST_F(InputTest, FrameClockBounds) {
    float rate = m_manager->AdvanceFrameClock(100, 0);  // shorter than 1 us counts as 1 us
    EXPECT_FLOAT_EQ(1e-6f, m_manager->FrameTime());
    EXPECT_FLOAT_EQ(1e6f, rate);
    EXPECT_FLOAT_EQ(5e5f, m_manager->FrameRate());
    m_manager->AdvanceFrameClock(100, 3e6f);  // mean above 1e6: stored as 0
    EXPECT_EQ(0, m_manager->FrameRate());
    m_manager->AdvanceFrameClock(20'000'000, 40);
    EXPECT_FLOAT_EQ(45, m_manager->FrameRate());
    EXPECT_NEAR(0.020002, m_manager->RunTime(), 1e-7);
}

}  // namespace
}  // namespace TB
