// The MIDI selectors.
#include <gtest/gtest.h>

#include "tests/hostframework/GainTestEffect.h"
#include "tests/support/TestHost.h"

using namespace gaintest;

// Channel messages reach their handlers as the script dispatch tests show; here what never
// reaches one: events before initialisation and system messages; sysex goes whole.
TEST(MIDI, RefusedBeforeInitialiseSystemMessagesIgnoredSysExWhole) {
    TB::TestHost host;
    ASSERT_EQ(host.Open(GainTestEffectEntry, kDescription), noErr);
    auto* unit = static_cast<GainTestEffect*>(GetComponentInstanceStorage(host.Unit()));
    EXPECT_EQ(host.MIDIEvent(0x90, 60, 100, 0), kAudioUnitErr_Uninitialized);
    EXPECT_EQ(host.SysEx({0xF0, 0xF7}), kAudioUnitErr_Uninitialized);
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(host.MIDIEvent(0xF8, 0, 0, 0), noErr);
    EXPECT_EQ(host.MIDIEvent(0x30, 1, 2, 0), noErr);
    EXPECT_EQ(host.MIDIEvent(0x93, 61, 0, 6), noErr);  // velocity 0: a note-off
    EXPECT_EQ(unit->midiLog, std::vector<std::string>{"off 3 61 0 6"});
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
