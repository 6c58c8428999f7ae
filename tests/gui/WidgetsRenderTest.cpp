// The widget set drawing for real (Mesa under a virtual X server): a panel with the lit
// background, textured knobs, labels, a text field, meters and the info display, fed by a unit
// that renders a sine. Pictures are checked at probe points; one is saved as
// gui-widgets-screenshot.png in the build tree.
#include <stb_image_write.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "effect/DataToGui.h"
#include "gui/ALmanager.h"
#include "gui/Displays.h"
#include "gui/Font.h"
#include "gui/KnobRenderer.h"
#include "gui/RiraControls.h"
#include "gui/StaticText.h"
#include "gui/TextField.h"
#include "gui/Texture.h"
#include "gui/platform/ManagerGLFWBridge.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/AllocationCounter.h"

namespace TB {
namespace {

constexpr int kWidth = 600, kHeight = 400;
const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Draws a 60-character line every frame and records the allocations that drawing makes.
class AllocationProbe : public UIElement {
public:
    using UIElement::UIElement;
    void Render() const override {
        const Font* font = m_manager->MainFont();
        const long before = ThreadAllocationCount();
        font->Draw("A line of sixty characters drawn on every frame of the test.", 30, 20);
        if (++frames > 1) laterAllocations += ThreadAllocationCount() - before;
    }
    mutable int frames = 0;
    mutable long laterAllocations = 0;
};

void WriteImage(const std::string& path, int w, int h, const std::function<void(int, int, unsigned char*)>& pixel) {
    std::vector<unsigned char> data(size_t(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) pixel(x, y, &data[(size_t(y) * w + x) * 4]);
    ASSERT_NE(0, stbi_write_png(path.c_str(), w, h, 4, data.data(), w * 4));
}

void Set4(unsigned char* p, int r, int g, int b, int a) { p[0] = r, p[1] = g, p[2] = b, p[3] = a; }

class WidgetsRenderTest : public GuiUnitTest {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == 0) GTEST_SKIP() << "no X display: run the suite under xvfb-run";
        GuiUnitTest::SetUp();
        Build();
    }
    // The panel: a fresh manager with its window, elements and images.
    void Build() {
        m.reset();
        const std::string folder = m_folders.Root();
        WriteImage(folder + "/bg.png", 64, 64, [](int x, int y, unsigned char* p) {
            const int v = ((x / 8 + y / 8) % 2) ? 150 : 120;
            Set4(p, v, v - 10, v - 20, 255);
        });
        WriteImage(folder + "/normal.png", 64, 64, [](int, int, unsigned char* p) { Set4(p, 128, 128, 255, 255); });
        // A grey disc with a red pointer dot near the top of the image; the caption shows below.
        WriteImage(folder + "/knob.png", 64, 64, [](int x, int y, unsigned char* p) {
            const float dx = x - 31.5f, dy = y - 31.5f;
            if (std::hypot(x - 31.5f, y - 8.0f) < 4) Set4(p, 255, 0, 0, 255);
            else if (dx * dx + dy * dy < 24 * 24) Set4(p, 90, 90, 100, 255);
            else Set4(p, 0, 0, 0, 0);
        });
        WriteImage(folder + "/meter.png", 16, 64, [](int, int, unsigned char* p) { Set4(p, 0, 255, 0, 255); });

        m = std::make_unique<ALmanager>(Unit(), nullptr, kNumParams);
        Manager::ms_enableConstantRedraw = false;
        Manager::ms_enableTooltip = true;
        m->SetWindowSize(kWidth, kHeight);
        m->SetLabelsClearColour(0.1f, 0.1f, 0.12f);
        m->SetBannerY(370);
        m->SetFonts(Font::Create({{kDejaVu, 10}}), Font::Create({{kDejaVu, 9}}), Font::Create({{kDejaVu, 10}}));
        m->SetBackgroundTexture(new Texture(m.get(), "bg.png", folder), new Texture(m.get(), "normal.png", folder));
        auto* knobImage = new Texture(m.get(), "knob.png", folder);
        auto* knobNormals = new Texture(m.get(), "normal.png", folder);
        renderer = new TexturedKnobRenderer(m.get(), knobImage, knobNormals, 0, 0, 64);
        m->AddEffect(renderer);
        const int ids[5] = {kParam_WetLevel, kParam_DryLevel, kParam_FilterQ, kParam_PulseWidth, kParam_Saw};
        const char* labels[5] = {"Wet", "Dry", "Q", "Width", "Saw"};
        for (int i = 0; i < 5; ++i) {
            knobs[i] = new RiraKnob(m.get(), renderer, ids[i], labels[i], 30 + 70.0f * i, 250, 60);
            m->RootGroup()->AddChild(knobs[i]);
        }
        m->RootGroup()->AddChild(new Label(m.get(), "Pitch section", 400, 330, 150, 16));
        field = new LabelledTextField(m.get(), "Cutoff", kParam_FilterCutoff, 400, 280, 80, 16, "%.1f");
        m->RootGroup()->AddChild(field);
        onOff = new TextField(m.get(), kParam_UseFilteredForDry, 500, 280, 40, 16, "%.1f");
        m->RootGroup()->AddChild(onOff);
        data = static_cast<const DataToGui*>(m->EffectData());
        info = new InfoDisplay(m.get(), 30, 60, 250, 40, data);
        m->RootGroup()->AddChild(info);
        auto* meters = new TexturedMeters(m.get(), new Texture(m.get(), "meter.png", folder), 0, 0, 16, 64);
        meters->Add(500, 100, data, TexturedMeters::kPeak, 0);
        meters->Add(520, 100, data, TexturedMeters::kPeak, 1);
        m->AddEffect(meters);
        m->RootGroup()->AddChild(new RiraButton(m.get(), "Capture", nullptr, nullptr, 400, 200, 80, 20, -1));
        probe = new AllocationProbe(m.get());
        m->RootGroup()->AddChild(probe);
        static const Vec4 kBannerColour = {0.9f, 0.9f, 0.9f, 1};
        m->GetStaticText()->Add("Marrowfin", 20, 380, &kBannerColour);
        m->SetMouseOverParam(kParam_FilterCutoff, field);
        m->CreateControl(0, 0);
        bridge = ManagerGLFWBridge::Create(m.get(), "gui_tests", false);
        ASSERT_NE(nullptr, bridge) << "an X display is set but no GL window could be opened";
        m->SetBridge(bridge);
    }
    void TearDown() override {
        m.reset();
        Manager::ms_enableConstantRedraw = true;
        Manager::ms_enableTooltip = false;
        Manager::ms_enableEyeCandy = true;
        Manager::ms_allowFramebufferObjects = true;
    }
    void Capture() {
        m->NudgeGUI();
        ASSERT_TRUE(bridge->CaptureNextFrame(pixels, 5000));
        ASSERT_EQ(size_t(kWidth) * kHeight * 4, pixels.size());
    }
    const unsigned char* At(int x, int y) const { return &pixels[(size_t(y) * kWidth + x) * 4]; }
    // Centre of the red pointer's pixels inside a box.
    bool RedCentre(int x0, int y0, int x1, int y1, float& cx, float& cy) const {
        double sx = 0, sy = 0;
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const unsigned char* p = At(x, y);
                if (p[0] > p[1] + 60 && p[0] > p[2] + 60) sx += x, sy += y, ++n;
            }
        if (n < 5) return false;
        cx = float(sx / n), cy = float(sy / n);
        return true;
    }
    int CountPixels(int x0, int y0, int x1, int y1, const std::function<bool(const unsigned char*)>& test) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) n += test(At(x, y));
        return n;
    }
    // Where knob 0 (labelled: image centre (60, 285), half size 30) shows its pointer for a
    // normalised position: the image's dot sits 0.75 of the half size from the centre.
    static void PointerFor(float normalised, float& x, float& y) {
        const float a = RiraKnob::AngleFor(normalised);
        x = 60 - 22.5f * std::cos(a);
        y = 285 + 22.5f * std::sin(a);
    }
    void ExpectPointerAt(float normalised, const char* what) {
        float x = 0, y = 0, wantX, wantY;
        ASSERT_TRUE(RedCentre(30, 250, 90, 320, x, y)) << what;
        PointerFor(normalised, wantX, wantY);
        EXPECT_NEAR(wantX, x, 3) << what;
        EXPECT_NEAR(wantY, y, 3) << what;
    }

    std::unique_ptr<ALmanager> m;
    ManagerGLFWBridge* bridge = nullptr;
    TexturedKnobRenderer* renderer = nullptr;
    RiraKnob* knobs[5] = {};
    LabelledTextField* field = nullptr;
    TextField* onOff = nullptr;
    InfoDisplay* info = nullptr;
    AllocationProbe* probe = nullptr;
    const DataToGui* data = nullptr;
    std::vector<unsigned char> pixels;
};

TEST_F(WidgetsRenderTest, PanelDrawsKnobsLabelsFieldAndReadoutLitAndUnlit) {
    LogCapture log;
    m->CreateRenderTask();
    Capture();
    ASSERT_TRUE(m->GLReady());
    EXPECT_TRUE(renderer->Program().linked) << renderer->Program().log;
    EXPECT_TRUE(m->BackgroundProgram().linked) << m->BackgroundProgram().log;
    for (const std::string& l : {renderer->Program().log, m->BackgroundProgram().log})
        EXPECT_EQ(std::string::npos, l.find("rror")) << l;
    const std::string path = std::string(MARROWFIN_BINARY_DIR) + "/gui-widgets-screenshot.png";
    stbi_flip_vertically_on_write(1);
    EXPECT_NE(0, stbi_write_png(path.c_str(), kWidth, kHeight, 4, pixels.data(), kWidth * 4));

    // The pointer follows the parameter: Wet Level starts at 1 (lower right), then 0 and 0.5.
    ExpectPointerAt(1, "wet level 1");
    Set(kParam_WetLevel, 0);
    ASSERT_TRUE(PumpUntil([&] { return knobs[0]->Normalised() == 0; }));
    Capture();
    ExpectPointerAt(0, "wet level 0");
    Set(kParam_WetLevel, 0.5f);
    ASSERT_TRUE(PumpUntil([&] { return knobs[0]->Normalised() == 0.5f; }));
    Capture();
    ExpectPointerAt(0.5f, "wet level 0.5");

    // The labels layer holds the captions: light text over the dark label box.
    EXPECT_GT(CountPixels(400, 330, 550, 346, [](const unsigned char* p) { return p[0] > 150; }), 10);
    EXPECT_GT(CountPixels(400, 330, 550, 346, [](const unsigned char* p) { return p[0] < 60; }), 500);
    EXPECT_GT(CountPixels(40, 252, 80, 266, [](const unsigned char* p) { return p[1] > 110 && p[1] > p[0]; }), 3)
        << "knob caption";
    // The text field's box and its right-aligned value; the banner in the static text layer.
    EXPECT_NEAR(204, At(403, 290)[0], 3);
    EXPECT_GT(CountPixels(440, 282, 479, 295, [](const unsigned char* p) { return p[0] < 100; }), 10);
    EXPECT_GT(CountPixels(20, 376, 100, 395, [](const unsigned char* p) { return p[0] > 200; }), 10);

    // Unlit: the same knobs and captions, the background without the light's shading.
    const std::vector<unsigned char> lit = pixels;
    Manager::ms_enableEyeCandy = false;
    Capture();
    ExpectPointerAt(0.5f, "unlit");
    int differing = 0;
    for (size_t i = 0; i < pixels.size(); i += 4) differing += pixels[i] != lit[i];
    EXPECT_GT(differing, 1000);
    EXPECT_GT(CountPixels(400, 330, 550, 346, [](const unsigned char* p) { return p[0] > 150; }), 10);

    // Hidden knobs 1 and 3 of five: three runs, three draws.
    knobs[1]->SetVisible(false);
    knobs[3]->SetVisible(false);
    Capture();
    m->DestroyRenderTask();
    EXPECT_EQ(3, renderer->LastDrawCalls());
    // A field shows its format applied to the value, unless the value reads as a word.
    EXPECT_EQ("1000.0", field->Text());
    EXPECT_EQ("Off", onOff->Text());
    EXPECT_STREQ("Filter Cutoff 1000 Hz", m->TooltipText());
    EXPECT_GT(m->TooltipAlpha(), 0.5f);
    if (AllocationCountingEnabled()) {
        EXPECT_GT(probe->frames, 3);
        EXPECT_EQ(0, probe->laterAllocations) << "glyph quads of a 60-character line after the first frame";
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Lines()[0];

    // A tooltip wider than the room left of its anchor starts at x = 5; once the mouse leaves it
    // fades by 0.89 a frame (the restarted task keeps the tooltip's state).
    m->SetMouseOverParam(kParam_PitchLFOAmountFine, knobs[0]);
    m->CreateRenderTask();
    Capture();
    m->DestroyRenderTask();
    EXPECT_EQ(5, m->TooltipX());
    EXPECT_STREQ("Pitch LFO Amount Fine 0.000 Cents", m->TooltipText());
    const float shown = m->TooltipAlpha();
    const uint64_t frames = m->FrameCount();
    m->ClearMouseOverParam();
    m->CreateRenderTask();
    Capture();
    m->DestroyRenderTask();
    EXPECT_NEAR(shown * std::pow(0.89, double(m->FrameCount() - frames)), m->TooltipAlpha(), 1e-4);
    EXPECT_STREQ("Pitch LFO Amount Fine 0.000 Cents", m->TooltipText()) << "the last text while fading";
}

// Without framebuffer objects the labels are drawn in the bridge's offscreen context: the same
// captions and background reach the picture.
TEST_F(WidgetsRenderTest, OffscreenLabelsLayerShowsTheSameCaptionsAndBackground) {
    Manager::ms_enableEyeCandy = false;
    m->CreateRenderTask();
    Capture();
    const std::vector<unsigned char> framebuffer = pixels;
    Manager::ms_allowFramebufferObjects = false;
    Build();
    Manager::ms_enableEyeCandy = false;  // a new manager reads the switches afresh
    m->CreateRenderTask();
    Capture();
    ASSERT_EQ(0u, m->LabelsFramebuffer());
    int differing = 0;
    for (int y = 240; y < 350; ++y)  // knob captions, label box, field caption
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                differing += std::abs(int(At(x, y)[c]) - framebuffer[(size_t(y) * kWidth + x) * 4 + c]) > 8;
    EXPECT_LT(differing, 400);  // of 198000 values: rounding along glyph edges
}

TEST_F(WidgetsRenderTest, InfoDisplayAndMetersFollowASineThroughTheUnit) {
    ASSERT_EQ(noErr, m_host.SetFormat(44100, 2));
    ASSERT_EQ(noErr, m_host.SetMaxFrames(512));
    ASSERT_EQ(noErr, m_host.Initialize());
    auto play = [&](float amplitude) {
        Channels in(2, std::vector<float>(44100)), out;
        for (size_t i = 0; i < in[0].size(); ++i) in[0][i] = in[1][i] = amplitude * std::sin(2 * M_PI * 440 * i / 44100.0);
        ASSERT_EQ(noErr, m_host.Process(in, 512, out));
    };
    auto meterHeight = [&] {
        return CountPixels(507, 100, 508, 164, [](const unsigned char* p) { return p[1] > 200 && p[0] < 60; });
    };
    play(0.05f);
    m->CreateRenderTask();
    Capture();
    const int quiet = meterHeight();
    play(0.8f);
    Capture();
    const int loud = meterHeight();
    EXPECT_GT(loud, quiet + 5) << "meters rise with the input level";
    EXPECT_GT(loud, 0);

    m->DestroyRenderTask();
    const std::string line = info->Text(0);
    EXPECT_NEAR(440, std::atof(line.c_str()), 3) << line;
    EXPECT_NE(std::string::npos, line.find("Hz  A 4")) << line;
    EXPECT_GT(CountPixels(30, 55, 200, 75, [](const unsigned char* p) {
                  return std::abs(p[0] - p[1]) < 12 && p[0] > 90 && p[0] < 160;
              }), 10)
        << "the line is drawn in grey";
}

TEST_F(WidgetsRenderTest, BadImagesStayUntexturedWithOneLineForSizesAndGoodOnesLoad) {
    const std::string folder = m_folders.Root();
    {
        std::ifstream in(folder + "/knob.png", std::ios::binary);
        std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::ofstream(folder + "/truncated.png", std::ios::binary) << png.substr(0, png.size() / 2);
        std::string huge = png;  // the header claims 16384 x 16384
        huge[18] = char(0x40), huge[19] = 0, huge[22] = char(0x40), huge[23] = 0;
        std::ofstream(folder + "/huge.png", std::ios::binary) << huge;
        std::ofstream(folder + "/text.png") << "not an image";
        std::ofstream(folder + "/empty.png");
    }
    WriteImage(folder + "/wide.png", 300, 256, [](int, int, unsigned char* p) { Set4(p, 200, 200, 200, 255); });
    std::vector<Texture*> bad;
    for (const char* name : {"wide.png", "truncated.png", "huge.png", "text.png", "empty.png", "missing.png", ""})
        bad.push_back(new Texture(m.get(), name, folder));
    auto* good = new Texture(m.get(), "knob.png", folder);
    auto* meters = new TexturedMeters(m.get(), bad[2], 0, 0, 16, 64);
    static const float kFull = 1.3f;
    meters->Add(560, 100, &kFull);
    m->AddEffect(meters);
    LogCapture log;
    m->CreateRenderTask();
    Capture();
    for (Texture* t : bad) EXPECT_EQ(0u, t->Id()) << t->Name();
    EXPECT_EQ(64, good->Width());
    EXPECT_EQ((std::vector<std::string>{"ERROR: texture wide.png not power of 2 sized\n",
                                        "ERROR: texture huge.png is 16384 x 16384, larger than 4096 x 4096\n"}),
              log.Lines());
    // The untextured meter still draws its full bar in the plain colour.
    EXPECT_GT(At(568, 150)[0], 200);
}

}  // namespace
}  // namespace TB
