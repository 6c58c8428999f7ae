// Text without a GL context: glyph layout against FreeType's own metrics for DejaVu Sans, the
// font lookup and its failures, values as text for every kind of parameter, the numeric text
// field's typing rules, and the info display's frequency and note line.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "gui/Displays.h"
#include "gui/Font.h"
#include "gui/TextField.h"
#include "tests/gui/GuiTestSupport.h"

namespace TB {
namespace {

const char* const kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// FreeType's own view of a face at twice the nominal size, unhinted, as the font loads glyphs.
class ReferenceFace {
public:
    explicit ReferenceFace(int nominal) {
        FT_Init_FreeType(&m_library);
        FT_New_Face(m_library, kDejaVu, 0, &m_face);
        FT_Set_Char_Size(m_face, 0, 2 * nominal * 64, 72, 72);
    }
    ~ReferenceFace() {
        FT_Done_Face(m_face);
        FT_Done_FreeType(m_library);
    }
    FT_UInt Index(char c) { return FT_Get_Char_Index(m_face, FT_ULong(c)); }
    FT_GlyphSlot Load(char c) {
        FT_Load_Glyph(m_face, Index(c), FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP);
        FT_Render_Glyph(m_face->glyph, FT_RENDER_MODE_NORMAL);
        return m_face->glyph;
    }
    float Advance(char c) { return float(Load(c)->advance.x) / 64; }
    float Kerning(char a, char b) {
        FT_Vector k{0, 0};
        FT_Get_Kerning(m_face, Index(a), Index(b), FT_KERNING_UNFITTED, &k);
        return float(k.x) / 64;
    }
    FT_Face Face() { return m_face; }

private:
    FT_Library m_library = nullptr;
    FT_Face m_face = nullptr;
};

TEST(FontLayout, AdvancesKerningLineHeightAndHalfScaleFollowFreeType) {
    Font font(kDejaVu, 12);
    ASSERT_TRUE(font.HasGlyphSource());
    font.RasteriseGlyphs();
    ReferenceFace ref(12);

    EXPECT_FLOAT_EQ(0.5f * float(ref.Face()->size->metrics.height) / 64, font.LineHeight());
    EXPECT_FLOAT_EQ(0.5f * float(ref.Face()->size->metrics.descender) / 64, font.Descender());
    EXPECT_LT(font.Descender(), 0);
    EXPECT_EQ(0, font.GetStringWidth(""));
    EXPECT_FLOAT_EQ(0.5f * ref.Advance('A'), font.GetStringWidth("A"));
    // Unhinted advances keep their fractions (the hinted ones are whole pixels).
    EXPECT_NEAR(float(ref.Load('A')->linearHoriAdvance) / 65536, ref.Advance('A'), 1.0 / 64);

    // DejaVu kerns "AV" (a pair below 128, which must not come out as 0).
    const float kern = ref.Kerning('A', 'V');
    ASSERT_LT(kern, 0);
    EXPECT_FLOAT_EQ(0.5f * (ref.Advance('A') + kern + ref.Advance('V')), font.GetStringWidth("AV"));

    // The pen starts at the floored position; quads are half the glyph's size and offset.
    FontVertex v[12];
    ASSERT_EQ(8u, font.DrawIntoBuffer(v, "AV", 10.7f, 20.2f));
    const FT_GlyphSlot a = ref.Load('A');
    EXPECT_FLOAT_EQ(10 + 0.5f * float(a->bitmap_left), v[0].x);
    EXPECT_FLOAT_EQ(20 + 0.5f * float(a->bitmap_top), v[0].y);
    EXPECT_FLOAT_EQ(v[0].x + 0.5f * float(a->bitmap.width), v[2].x);
    EXPECT_FLOAT_EQ(v[0].y - 0.5f * float(a->bitmap.rows), v[2].y);
    const float penV = 10 + 0.5f * (ref.Advance('A') + kern);
    EXPECT_FLOAT_EQ(penV + 0.5f * float(ref.Load('V')->bitmap_left), v[4].x);
    for (const FontVertex& q : {v[0], v[2], v[4], v[6]}) {
        EXPECT_TRUE(q.s >= 0 && q.s <= 1 && q.t >= 0 && q.t <= 1 && q.z == 0);
    }
    EXPECT_LT(v[0].s, v[2].s);

    // Bytes outside printable ASCII (UTF-8 sequences, control characters) draw nothing and do
    // not move the pen.
    EXPECT_EQ(0u, font.DrawIntoBuffer(v, "\xC3\xA9\t", 0, 0));
    EXPECT_FLOAT_EQ(0.5f * (ref.Advance('A') + ref.Advance('V')), font.GetStringWidth("A\xC3\xA9V"));
}

TEST(FontLookup, SpecsFallBackThroughFoldersAndRefuseNonFonts) {
    ScopedTestFolders folders("marrowfin-font");
    const std::string notAFont = folders.Root() + "/notafont.ttf";
    std::ofstream(notAFont) << "this is not a font";
    LogCapture log;

    std::unique_ptr<Font> font(Font::Create({{"", 10}, {"/nonexistent/Missing.ttf", 10}, {kDejaVu, 10}}));
    ASSERT_NE(nullptr, font);
    EXPECT_TRUE(font->HasGlyphSource());
    // A relative path is looked up in the font folders (the system's holds DejaVu).
    EXPECT_EQ("/usr/share/fonts/", GetFontFolder(-32766));
    EXPECT_NE(nullptr, std::unique_ptr<Font>(Font::Create({{"truetype/dejavu/DejaVuSans.ttf", 10}})));
    EXPECT_TRUE(log.Lines().empty());

    EXPECT_EQ(nullptr, Font::Create({{notAFont, 10}, {"nowhere.ttf", 10}}));
    EXPECT_EQ((std::vector<std::string>{"Unable to load font\n"}), log.Lines());
    Font broken(notAFont, 10);
    EXPECT_FALSE(broken.HasGlyphSource());
    broken.RasteriseGlyphs();
    EXPECT_EQ(0, broken.GetStringWidth("abc"));
    EXPECT_EQ(0, broken.LineHeight());

    // Absurd sizes are clamped, not rasterised at any size asked for.
    Font huge(kDejaVu, 100000);
    EXPECT_EQ(Font::kMaxSize, huge.NominalSize());
}

class ReadoutTest : public GuiUnitTest {
protected:
    void SetUp() override {
        GuiUnitTest::SetUp();
        m_manager = std::make_unique<Manager>(Unit(), kNumParams);
    }
    std::string Format(int id, float value) {
        Set(id, value);
        char out[Manager::kValueTextSize];
        Manager::FormatParamValue(m_manager->GetParameter(id), out);
        return out;
    }
    std::string Readout(int id, float value) {
        Set(id, value);
        char out[Manager::kReadoutTextSize];
        m_manager->DrawParamValue(&m_font, id, 0, 0, out);  // no GL: the font has no texture yet
        return out;
    }
    std::unique_ptr<Manager> m_manager;
    Font m_font{kDejaVu, 10};
};

TEST_F(ReadoutTest, ValuesAsTextForEveryKindOfParameter) {
    // Indexed with value strings (the last one); the unit's string for a value, or a number when it
    // has none; On for Boolean; four digits.
    EXPECT_EQ("SawDn", Format(kParam_PitchLFOShape, 4));
    EXPECT_EQ("Off", Format(kParam_SyncCycles, 0));
    EXPECT_EQ("3.000", Format(kParam_SyncCycles, 3));
    EXPECT_EQ("Band", Format(kParam_FilterType, 2));
    EXPECT_EQ("2.500", Format(kParam_FilterType, 2.5f));
    EXPECT_EQ("On", Format(kParam_UseFilteredForDry, 1));
    EXPECT_EQ("12000", Format(kParam_FilterCutoff, 12000));
    EXPECT_EQ("50.00", Format(kParam_FilterCutoff, 50));
    EXPECT_EQ("0.010", Format(kParam_FilterQ, 0.01f));
    EXPECT_EQ("-16.00", Format(kParam_FilterEnvDepth, -16));

    // The read-out text: name, value and tag; no tag for Boolean; none for a tagless unit.
    EXPECT_EQ("Env Pre Gain 12.00 dB", Readout(kParam_EnvPreGain, 12));
    EXPECT_EQ("Use Filtered For Wet On", Readout(kParam_UseFilteredForWet, 1));
    EXPECT_EQ("Pitch Offset -12.00 S-T", Readout(kParam_PitchOffset, -12));
    EXPECT_EQ("Pitch LFO Shape Square", Readout(kParam_PitchLFOShape, 3));
    EXPECT_EQ("Lowpass Cutoff 800.0 Hz", Readout(kParam_LowpassCutoff, 800));
}

TEST_F(ReadoutTest, TextFieldTypesEditsAndCommitsThroughOneGesture) {
    auto* field = new TextField(m_manager.get(), kParam_FilterEnvDepth, 0, 0, 60, 16, "%.1f");
    std::vector<std::string> gestures;
    m_manager->SetEditCallbacks([](SInt32 id, void* r) { static_cast<std::vector<std::string>*>(r)->push_back("begin " + std::to_string(id)); },
                                [](SInt32 id, void* r) { static_cast<std::vector<std::string>*>(r)->push_back("end " + std::to_string(id)); },
                                &gestures);
    auto type = [&](const char* keys) {
        for (const char* k = keys; *k; ++k) field->Keypress(static_cast<unsigned char>(*k));
    };

    type("-1.5.-");  // a second '.' and a late '-' are ignored
    EXPECT_EQ("-1.5", field->Text());
    EXPECT_TRUE(field->Keypress(13));
    EXPECT_FLOAT_EQ(-1.5f, Value(kParam_FilterEnvDepth));
    const std::string id = std::to_string(kParam_FilterEnvDepth);
    EXPECT_EQ((std::vector<std::string>{"begin " + id, "end " + id}), gestures);
    EXPECT_FALSE(field->Editing());

    type("12345678901234567890");  // the 16th character on is ignored; the value is clamped
    EXPECT_EQ("123456789012345", field->Text());
    field->Keypress(3);
    EXPECT_FLOAT_EQ(16, Value(kParam_FilterEnvDepth));

    // Not a number: nothing is written and typing goes on. Backspace past the start is harmless.
    type(".");
    EXPECT_TRUE(field->Keypress(13));
    EXPECT_TRUE(field->Editing());
    EXPECT_FLOAT_EQ(16, Value(kParam_FilterEnvDepth));
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(field->Keypress(8));
    EXPECT_EQ("", field->Text());
    // Other keys, including the bytes of a UTF-8 sequence, are left to the caller.
    EXPECT_FALSE(field->Keypress('a'));
    EXPECT_FALSE(field->Keypress(0xC3));
    field->LostFocus();
    EXPECT_FALSE(field->Editing());

    EXPECT_TRUE(TextField::IsValueFormat("%5.1f"));
    EXPECT_TRUE(TextField::IsValueFormat("%%%.2e"));
    EXPECT_FALSE(TextField::IsValueFormat("%s"));
    EXPECT_FALSE(TextField::IsValueFormat("%f %f"));
    EXPECT_FALSE(TextField::IsValueFormat("%n"));
    EXPECT_FALSE(TextField::IsValueFormat("%999999999.1f"));
    EXPECT_EQ("", (new TextField(m_manager.get(), 0, 0, 0, 1, 1, "%s"))->Format());  // the manager owns it
}

TEST(InfoDisplayLine, FrequencyAndNearestNote) {
    char line[InfoDisplay::kTextSize];
    auto format = [&](float f) {
        InfoDisplay::FormatLine(f, line);
        return std::string(line);
    };
    EXPECT_EQ(" 440.0Hz  A 4+0", format(440));
    EXPECT_EQ(" 452.0Hz  A 4+47", format(452));
    EXPECT_EQ(" 427.0Hz  G#4+48", format(427));
    EXPECT_EQ("  30.0Hz  B 0-49", format(30));
    // No note below or at 0, nor for NaN or absurd values; the line stays within its buffer.
    EXPECT_EQ("   0.0Hz  --", format(0));
    EXPECT_EQ("   nanHz  --", format(NAN));
    EXPECT_LT(format(1e30f).size(), InfoDisplay::kTextSize);
}

}  // namespace
}  // namespace TB
