// The editor's frame and its parameter path. Needs an X display: run under
//   xvfb-run -a -s '-screen 0 1280x1024x24' build/bench/gui_bench
// BM_GuiFrame/40: time of one Draw (3D pass, labels quad, 2D pass, swap) at 600 x 400 with 40
// knobs in four named groups, timed on the render task around the frame; /0 without the knobs.
// BM_GuiParameterNotification: one notification reaching a knob on the UI thread (the listener's
// delivery: hook, ParameterChange reading the value from the unit, redraw request).
// BM_GuiParameterSetWithEditorListening: the host's parameter set while the editor listens.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <memory>
#include <thread>

#include "effect/MarrowfinParameters.h"
#include "effect/VoskMarrowfinEntry.h"
#include "gui/Controls.h"
#include "gui/Manager.h"
#include "gui/UIElement.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "hostframework/RunLoop.h"

namespace {

struct Editor {
    AudioComponentInstance unit = nullptr;
    std::unique_ptr<TB::Manager> manager;
    std::vector<TB::Knob*> knobs;

    explicit Editor(int knobCount = 40) {
        setenv("XDG_DATA_HOME", "/nonexistent-marrowfin-bench", 1);
        setenv("XDG_DATA_DIRS", "/nonexistent-marrowfin-bench", 1);
        unit = OpenMarrowfin();
        manager = std::make_unique<TB::Manager>(unit, kNumParams);
        TB::Manager::ms_enableConstantRedraw = false;
        manager->SetWindowSize(600, 400);
        for (int g = 0; g < 4; ++g) {
            auto* group = new TB::NamedGroup(manager.get(), "Group", 10);
            group->SetPosition(20 + 145 * g, 20);
            manager->RootGroup()->AddChild(group);
            for (int k = 0; k < 10 && g * 10 + k < knobCount; ++k) {
                auto* knob = new TB::Knob(manager.get(), (g * 10 + k) % 39, float(k % 2) * 60, float(k / 2) * 70, 50);
                group->AddChild(knob);
                knobs.push_back(knob);
            }
        }
        manager->CreateControl(0, 0);
    }
    ~Editor() {
        manager.reset();
        if (unit) CloseComponent(unit);
        TB::Manager::ms_enableConstantRedraw = true;
    }
};

void BM_GuiFrame(benchmark::State& state) {
    Editor editor(int(state.range(0)));
    auto* bridge = TB::ManagerGLFWBridge::Create(editor.manager.get(), "gui_bench", false);
    if (bridge == nullptr) {
        state.SkipWithError("no GL window (run under xvfb-run)");
        return;
    }
    editor.manager->SetBridge(bridge);
    editor.manager->CreateRenderTask();
    while (editor.manager->FrameCount() < 1) std::this_thread::yield();
    for (auto _ : state) {
        const uint64_t count = editor.manager->FrameCount();
        editor.manager->NudgeGUI();
        while (editor.manager->FrameCount() == count) std::this_thread::yield();
        state.SetIterationTime(editor.manager->LastDrawSeconds());
    }
    editor.manager->DestroyRenderTask();
}
// 40 knobs, and none (the fixed cost: background layer, passes, swap).
BENCHMARK(BM_GuiFrame)->Arg(40)->Arg(0)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_GuiParameterNotification(benchmark::State& state) {
    Editor editor;
    TB::Knob* knob = editor.knobs[1];
    const AudioUnitParameter& p = knob->Parameter();
    float v = 0;
    for (auto _ : state) {
        AudioUnitSetParameter(editor.unit, p.mParameterID, 0, 0, v, 0);
        editor.manager->DeliverParameterChange(knob, &p, v);
        v = v > 0.9f ? 0 : v + 0.01f;
    }
    benchmark::DoNotOptimize(knob->Normalised());
}
BENCHMARK(BM_GuiParameterNotification);

void BM_GuiParameterSetWithEditorListening(benchmark::State& state) {
    Editor editor;
    const AudioUnitParameter p{editor.unit, kParam_WetLevel, 0, 0};
    float v = 0;
    int n = 0;
    for (auto _ : state) {
        AUParameterSet(nullptr, nullptr, &p, v, 0);
        v = v > 0.9f ? 0 : v + 0.01f;
        if (++n % 1024 == 0) TB::RunLoop::Main().RunOnce();  // deliveries, coalesced at 1/30 s
    }
}
BENCHMARK(BM_GuiParameterSetWithEditorListening);

}  // namespace
