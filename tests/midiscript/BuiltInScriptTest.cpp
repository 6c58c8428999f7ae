// The built-in midi.lua and the example scripts.
#include <filesystem>

#include "tests/midiscript/ScriptTestUnit.h"

class BuiltInScriptTest : public ScriptTest {
protected:
    void SetUp() override {
        ScriptTest::SetUp();
        testing::internal::CaptureStdout();
        m_unit = OpenUnit();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    }
    AudioUnit m_unit = nullptr;
};

TEST_F(BuiltInScriptTest, NotesPlayTheOscillatorWithLastNotePriority) {
    const struct {
        UInt32 status, note, velocity;
        float pitch;
    } steps[] = {
        {0x90, 60, 100, 60}, {0x90, 64, 100, 64}, {0x90, 67, 100, 67},
        {0x80, 64, 0, 67},  // not the sounding note
        {0x90, 67, 0, 60},  // the sounding one: back to the latest still held
        {0x80, 60, 0, 0},   // 0: tracking again
        {0x80, 61, 0, 0},   // a stray release changes nothing
        {0x90, 50, 1, 50}, {0x91, 50, 1, 50}, {0x80, 50, 0, 50},  // one note on two channels: two held notes
        {0x81, 50, 0, 0},
    };
    for (const auto& s : steps) {
        MIDI(m_unit, s.status, s.note, s.velocity);
        EXPECT_EQ(Param(m_unit, kParam_OscPitch), s.pitch) << std::hex << s.status << std::dec << " " << s.note;
    }
}

TEST_F(BuiltInScriptTest, ModWheelSweepsCutoffAndPitchWheelBendsTwoSemitones) {
    const struct {
        UInt32 status, data1, data2;
        MarrowfinParam id;
        float value;
    } cases[] = {
        {0xB0, 1, 0, kParam_FilterCutoff, 50.f},    {0xB0, 1, 127, kParam_FilterCutoff, 12000.f},
        {0xB0, 2, 0, kParam_FilterCutoff, 12000.f},  // other controllers leave it alone
        {0xE0, 0, 0, kParam_PitchOffsetSweepable, -2.f}, {0xE0, 127, 127, kParam_PitchOffsetSweepable, 2.f},
        {0xE0, 0, 64, kParam_PitchOffsetSweepable, 0.f},
    };
    for (const auto& c : cases) {
        MIDI(m_unit, c.status, c.data1, c.data2);
        EXPECT_FLOAT_EQ(Param(m_unit, c.id), c.value) << std::hex << c.status << " " << c.data1 << " " << c.data2;
    }
    MIDI(m_unit, 0xB0, 1, 64);
    EXPECT_GT(Param(m_unit, kParam_FilterCutoff), 700.f);  // exponential: the middle is far below 6 kHz
    EXPECT_LT(Param(m_unit, kParam_FilterCutoff), 850.f);
}

TEST_F(ScriptTest, ExampleScriptsLoadCleanly) {
    int examples = 0;
    std::filesystem::create_directories(ScriptsFolder(m_user));
    for (const auto& e : std::filesystem::directory_iterator(MARROWFIN_SOURCE_DIR "/resources/examples"))
        if (e.path().extension() == ".lua") {
            std::filesystem::copy_file(e.path(), ScriptsFolder(m_user) + "/" + e.path().filename().string());
            ++examples;
        }
    EXPECT_GE(examples, 3);
    testing::internal::CaptureStdout();
    AudioUnit unit = OpenUnit();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

    // NRPN 0/25 with full data sets "Filter Cutoff" to its maximum; a note lights lamp 0.
    MIDI(unit, 0xB0, 99, 0);
    MIDI(unit, 0xB0, 98, 25);
    MIDI(unit, 0xB0, 6, 127);
    MIDI(unit, 0xB0, 38, 127);
    EXPECT_FLOAT_EQ(Param(unit, kParam_FilterCutoff), 12000.0f);
    MIDI(unit, 0x90, 60, 100);
    EXPECT_TRUE(Unit(unit)->m_data.GetGUIBool(0));
    MIDI(unit, 0x80, 60, 0);
    EXPECT_FALSE(Unit(unit)->m_data.GetGUIBool(0));
}
