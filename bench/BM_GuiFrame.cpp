// The editor's frame and its parameter path. Needs an X display: run under
//   xvfb-run -a -s '-screen 0 1280x1024x24' build/bench/gui_bench
// BM_GuiFrame/40: time of one Draw (3D pass, labels quad, 2D pass, swap) at 600 x 400 with 40
// knobs in four named groups, timed on the render task around the frame; /0 without the knobs.
// BM_GuiWidgetsFrame: the same frame with the product's widgets: the lit background, 40 lit
// textured knobs with captions, two meters, the info display and the read-out line; the
// allocations of the glyph quads are checked by the gui_tests (none after the first frame).
// The second argument adds a value arc around every knob, as the default skin draws them.
// BM_GuiParameterNotification: one notification reaching a knob on the UI thread (the listener's
// delivery: hook, ParameterChange reading the value from the unit, redraw request).
// BM_GuiParameterSetWithEditorListening: the host's parameter set while the editor listens.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <memory>
#include <thread>

#include "effect/MarrowfinParameters.h"
#include "effect/VoskMarrowfinEntry.h"
#include <stb_image_write.h>

#include <cmath>
#include <functional>

#include "effect/DataToGui.h"
#include "gui/ALmanager.h"
#include "gui/Controls.h"
#include "gui/Displays.h"
#include "gui/Font.h"
#include "gui/KnobRenderer.h"
#include "gui/RiraControls.h"
#include "gui/Texture.h"
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

void WriteImage(const std::string& path, int w, int h, const std::function<void(int, int, unsigned char*)>& pixel) {
    std::vector<unsigned char> data(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixel(x, y, &data[(size_t(y) * w + x) * 4]);
    stbi_write_png(path.c_str(), w, h, 4, data.data(), w * 4);
}

void BM_GuiWidgetsFrame(benchmark::State& state) {
    setenv("XDG_DATA_HOME", "/nonexistent-marrowfin-bench", 1);
    char folderTemplate[] = "/tmp/marrowfin-bench-XXXXXX";
    const std::string folder = mkdtemp(folderTemplate);
    WriteImage(folder + "/bg.png", 64, 64, [](int x, int y, unsigned char* p) {
        p[0] = p[1] = p[2] = ((x / 8 + y / 8) % 2) ? 150 : 120, p[3] = 255;
    });
    WriteImage(folder + "/normal.png", 64, 64, [](int, int, unsigned char* p) { p[0] = p[1] = 128, p[2] = p[3] = 255; });
    WriteImage(folder + "/knob.png", 64, 64, [](int x, int y, unsigned char* p) {
        const bool in = std::hypot(x - 31.5, y - 31.5) < 24;
        p[0] = p[1] = p[2] = in ? 100 : 0, p[3] = in ? 255 : 0;
    });
    WriteImage(folder + "/meter.png", 16, 64, [](int, int, unsigned char* p) { p[0] = 0, p[1] = p[2] = p[3] = 255; });

    AudioComponentInstance unit = OpenMarrowfin();
    {
        TB::ALmanager manager(unit, nullptr, kNumParams);
        TB::Manager::ms_enableConstantRedraw = false;
        TB::Manager::ms_enableEyeCandy = state.range(0) != 0;
        manager.SetWindowSize(600, 400);
        manager.SetBannerY(370);
        const char* font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
        manager.SetFonts(TB::Font::Create({{font, 10}}), TB::Font::Create({{font, 9}}), TB::Font::Create({{font, 10}}));
        manager.SetBackgroundTexture(new TB::Texture(&manager, "bg.png", folder),
                                     new TB::Texture(&manager, "normal.png", folder));
        auto* renderer = new TB::TexturedKnobRenderer(&manager, new TB::Texture(&manager, "knob.png", folder),
                                                      new TB::Texture(&manager, "normal.png", folder), 0, 0, 64);
        manager.AddEffect(renderer);
        if (state.range(1) != 0) renderer->SetValueArc(0.64f, 0.09f, {1, 0.62f, 0.22f, 1});
        TB::RiraKnob* first = nullptr;
        for (int k = 0; k < 40; ++k) {
            auto* knob = new TB::RiraKnob(&manager, renderer, k % 39, "Knob", 10 + 58.0f * (k % 10), 20 + 80.0f * (k / 10), 50);
            manager.RootGroup()->AddChild(knob);
            if (!first) first = knob;
        }
        const auto* data = static_cast<const DataToGui*>(manager.EffectData());
        auto* meters = new TB::TexturedMeters(&manager, new TB::Texture(&manager, "meter.png", folder), 0, 0, 16, 64);
        meters->Add(560, 300, data, TB::TexturedMeters::kPeak, 0);
        meters->Add(580, 300, data, TB::TexturedMeters::kPeak, 1);
        manager.AddEffect(meters);
        manager.RootGroup()->AddChild(new TB::InfoDisplay(&manager, 10, 340, 250, 40, data));
        manager.SetMouseOverParam(kParam_FilterCutoff, first);
        manager.CreateControl(0, 0);
        auto* bridge = TB::ManagerGLFWBridge::Create(&manager, "gui_bench", false);
        if (bridge == nullptr) {
            state.SkipWithError("no GL window (run under xvfb-run)");
        } else {
            manager.SetBridge(bridge);
            manager.CreateRenderTask();
            // Warm-up: the highlight light eases from the corner to the window's centre in
            // about 150 frames; after that the lit background comes from its cache.
            for (uint64_t warm = 1; warm <= 200; ++warm) {
                manager.NudgeGUI();
                while (manager.FrameCount() < warm) std::this_thread::yield();
            }
            const uint64_t firstTimed = manager.FrameCount();
            const uint64_t litBefore = manager.LitBackgroundDraws();
            for (auto _ : state) {
                const uint64_t count = manager.FrameCount();
                manager.NudgeGUI();
                while (manager.FrameCount() == count) std::this_thread::yield();
                state.SetIterationTime(manager.LastDrawSeconds());
            }
            const double frames = double(manager.FrameCount() - firstTimed);
            manager.DestroyRenderTask();
            state.counters["litDrawsPerFrame"] = double(manager.LitBackgroundDraws() - litBefore) / frames;
        }
    }
    CloseComponent(unit);
    TB::Manager::ms_enableConstantRedraw = true;
    TB::Manager::ms_enableEyeCandy = true;
}
// /1 lit (eye candy on), /0 plain texturing; then /0 without, /1 with value arcs.
BENCHMARK(BM_GuiWidgetsFrame)
    ->Args({1, 0})
    ->Args({0, 0})
    ->Args({1, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

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
