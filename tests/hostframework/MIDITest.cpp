// The MIDI selectors and the parser table.
#include <gtest/gtest.h>

#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;

TEST(MIDI, ParserTable) {
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    auto* unit = static_cast<GainTestEffect*>(GetComponentInstanceStorage(host.Unit()));

    // Refused before initialisation, and nothing reaches a handler.
    EXPECT_EQ(host.MIDIEvent(0x90, 60, 100, 0), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(host.SysEx({0xF0, 0xF7}), kAudioUnitErr_Uninitialized);
    EXPECT_TRUE(unit->midiLog.empty());

    ASSERT_EQ(host.Initialize(), noErr);
    const struct {
        UInt32 status, d1, d2, frame;
        const char* expected;  // null: ignored
    } cases[] = {
        {0x90, 60, 100, 5, "on 0 60 100 5"},
        {0x93, 61, 0, 6, "off 3 61 0 6"},  // note-on with velocity 0 is a note-off
        {0x8F, 62, 64, 7, "off 15 62 64 7"},
        {0xA1, 40, 90, 8, "pp 1 40 90 8"},
        {0xB2, 7, 127, 9, "cc 2 7 127 9"},
        {0xB2, 120, 0, 9, "soundoff 2"},
        {0xB4, 121, 0, 9, "reset 4"},
        {0xB5, 123, 0, 9, "notesoff 5"},
        {0xB5, 122, 0, 9, "cc 5 122 0 9"},
        {0xC2, 7, 0, 11, "pc 2 7"},
        {0xD6, 33, 0, 12, "cp 6 33 12"},
        {0xE0, 0x00, 0x40, 13, "pb 0 0 64 13"},
        {0xF8, 0, 0, 0, nullptr},
        {0x30, 1, 2, 0, nullptr},
    };
    std::vector<std::string> expected;
    for (const auto& c : cases) {
        EXPECT_EQ(host.MIDIEvent(c.status, c.d1, c.d2, c.frame), noErr) << std::hex << c.status;
        if (c.expected) expected.push_back(c.expected);
    }
    EXPECT_EQ(unit->midiLog, expected);

    ASSERT_EQ(host.SysEx({0xF0, 0x7E, 0xF7}), noErr);
    EXPECT_EQ(unit->midiLog.back(), "sysex 3");
    EXPECT_EQ(MusicDeviceSysEx(host.Unit(), nullptr, 4), paramErr);
}

TEST(MIDI, NullUnitIsABadArgument) {
    ComponentParameters p{};
    p.what = kMusicDeviceMIDIEventSelect;
    p.count = 4;
    EXPECT_EQ(AUMIDIBase::ComponentEntryDispatch(&p, nullptr), paramErr);
    EXPECT_EQ(AUMIDIEffectBase::ComponentEntryDispatch(&p, nullptr), paramErr);
}
