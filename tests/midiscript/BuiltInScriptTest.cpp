// The built-in midi.lua and the example scripts.
#include <dirent.h>

#include <cmath>

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
    MIDI(m_unit, 0x90, 60, 100);
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 60.0f);
    MIDI(m_unit, 0x90, 64, 100);
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 64.0f);
    MIDI(m_unit, 0x90, 67, 100);
    MIDI(m_unit, 0x80, 64, 0);  // not the sounding note
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 67.0f);
    MIDI(m_unit, 0x90, 67, 0);  // the sounding one: back to the latest still held
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 60.0f);
    MIDI(m_unit, 0x80, 60, 0);
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 0.0f);  // tracking again
    MIDI(m_unit, 0x80, 61, 0);  // a stray release changes nothing
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 0.0f);

    MIDI(m_unit, 0x90, 50, 1);  // the same note on two channels is two held notes
    MIDI(m_unit, 0x91, 50, 1);
    MIDI(m_unit, 0x80, 50, 0);
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 50.0f);
    MIDI(m_unit, 0x81, 50, 0);
    EXPECT_EQ(Param(m_unit, kParam_OscPitch), 0.0f);
}

TEST_F(BuiltInScriptTest, ModWheelSweepsCutoffExponentially) {
    MIDI(m_unit, 0xB0, 1, 0);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_FilterCutoff), 50.0f);
    MIDI(m_unit, 0xB0, 1, 127);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_FilterCutoff), 12000.0f);
    MIDI(m_unit, 0xB0, 1, 64);
    EXPECT_NEAR(Param(m_unit, kParam_FilterCutoff), 50.0 * std::pow(240.0, 64.0 / 127.0), 0.01);
    MIDI(m_unit, 0xB0, 2, 0);  // other controllers leave it alone
    EXPECT_NEAR(Param(m_unit, kParam_FilterCutoff), 50.0 * std::pow(240.0, 64.0 / 127.0), 0.01);
}

TEST_F(BuiltInScriptTest, PitchWheelBendsTwoSemitones) {
    MIDI(m_unit, 0xE0, 0, 0);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_PitchOffsetSweepable), -2.0f);
    MIDI(m_unit, 0xE0, 127, 127);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_PitchOffsetSweepable), 2.0f);
    MIDI(m_unit, 0xE0, 0, 64);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_PitchOffsetSweepable), 0.0f);
    MIDI(m_unit, 0xE0, 0, 96);
    EXPECT_FLOAT_EQ(Param(m_unit, kParam_PitchOffsetSweepable), 4096.0f / 8191.0f * 2.0f);
}

TEST_F(ScriptTest, ExampleScriptsLoadCleanly) {
    std::string folder = MARROWFIN_SOURCE_DIR "/resources/examples";
    DIR* dir = opendir(folder.c_str());
    ASSERT_NE(dir, nullptr);
    int examples = 0;
    while (const struct dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.substr(name.size() - 4) == ".lua") {
            std::ifstream in(folder + "/" + name);
            std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            UserScript(name, text);
            ++examples;
        }
    }
    closedir(dir);
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
