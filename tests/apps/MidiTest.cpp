// Standard MIDI files: tempo maps turn into the right frames, damaged files never crash and
// keep only whole events, and `render --midi` reaches the user's MIDI scripts.
#include <gtest/gtest.h>

#include "apps/AppError.h"
#include "apps/MidiFileEvents.h"
#include "tests/apps/AppTestSupport.h"

using namespace apptest;
using MarrowfinApp::MidiFileEvent;

namespace {

std::vector<uint8_t> Chunk(const char* id, const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out(id, id + 4);
    for (int s = 24; s >= 0; s -= 8) out.push_back(uint8_t(body.size() >> s));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> MidiFile(uint16_t format, uint16_t ppqn, const std::vector<std::vector<uint8_t>>& tracks) {
    std::vector<uint8_t> header = {0, uint8_t(format), 0, uint8_t(tracks.size()), uint8_t(ppqn >> 8), uint8_t(ppqn)};
    std::vector<uint8_t> out = Chunk("MThd", header);
    for (const auto& t : tracks) {
        auto c = Chunk("MTrk", t);
        out.insert(out.end(), c.begin(), c.end());
    }
    return out;
}

// 96 ticks per quarter. Tempo 120 BPM, then 240 BPM from tick 96. Notes at ticks 0, 96 and 192
// (running status on the second and third), a program change and a sysex message.
std::vector<uint8_t> TempoFile() {
    std::vector<uint8_t> conductor = {
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // 500000 us per quarter
        0x60, 0xFF, 0x51, 0x03, 0x03, 0xD0, 0x90,  // tick 96: 250000 us per quarter
        0x00, 0xFF, 0x2F, 0x00};
    std::vector<uint8_t> notes = {
        0x00, 0x91, 60, 100,        // tick 0: note on, channel 2
        0x60, 62, 90,               // tick 96 (running status)
        0x60, 64, 0,                // tick 192: velocity 0
        0x00, 0xC3, 7,              // program change, channel 4
        0x00, 0xF0, 0x03, 0x7D, 0x01, 0xF7,  // sysex
        0x00, 0xFF, 0x2F, 0x00};
    return MidiFile(1, 96, {conductor, notes});
}

}  // namespace

TEST(MidiFile, TempoMapSetsTheFrameOfEveryEvent) {
    auto events = MarrowfinApp::ParseMidiFile(TempoFile(), "tempo.mid", 48000.0);
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].frame, 0);
    EXPECT_EQ(events[0].bytes, (std::vector<uint8_t>{0x91, 60, 100}));
    EXPECT_EQ(events[1].frame, 24000);  // one quarter at 120 BPM
    EXPECT_EQ(events[1].bytes, (std::vector<uint8_t>{0x91, 62, 90}));
    EXPECT_EQ(events[2].frame, 36000);  // then one quarter at 240 BPM
    EXPECT_EQ(events[3].bytes, (std::vector<uint8_t>{0xC3, 7}));
    EXPECT_EQ(events[4].bytes.front(), 0xF0);
    EXPECT_EQ(events[4].bytes.back(), 0xF7);
}

TEST(MidiFile, TruncatedFilesKeepOnlyWholeEvents) {
    const std::vector<uint8_t> full = TempoFile();
    const auto all = MarrowfinApp::ParseMidiFile(full, "full.mid", 44100.0);
    for (size_t n = 0; n < full.size(); ++n) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + n);
        try {
            auto events = MarrowfinApp::ParseMidiFile(cut, "cut.mid", 44100.0);
            // Whatever survives is a prefix of the full file's channel and sysex events: no
            // phantom events made up from missing bytes.
            ASSERT_LE(events.size(), all.size());
            for (size_t i = 0; i < events.size(); ++i) {
                EXPECT_EQ(events[i].bytes, all[i].bytes) << n;
                EXPECT_EQ(events[i].frame, all[i].frame) << n;
            }
        } catch (const MarrowfinApp::AppError& e) {
            EXPECT_LT(n, 22u) << "only a file without a whole header and track chunk is refused: " << e.what();
        }
    }
}

TEST(MidiFile, GarbageIsRefusedOrReadSafely) {
    // Declared lengths far beyond the data, bytes above 0x7F where data belongs, random tails.
    std::vector<std::vector<uint8_t>> files = {
        MidiFile(0, 0, {{0x00, 0x90, 60, 100}}),                          // zero division
        MidiFile(0, 96, {{0x00, 0x90, 0x80, 0x90, 0x00, 0xFF, 0x2F, 0x00}}),  // status where data belongs
        MidiFile(0, 96, {{0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 100}}),  // five-byte delta
        MidiFile(0, 96, {{0x00, 0xFF, 0x51, 0x7F, 0x07}}),                // meta longer than the track
    };
    auto big = MidiFile(0, 96, {{0x00, 0x90, 60, 100}});
    big[big.size() - 5] = 0x7F;  // track length claims ~2 GB
    files.push_back(big);
    uint32_t lcg = 99;
    for (int i = 0; i < 200; ++i) {
        auto f = TempoFile();
        for (int k = 0; k < 4; ++k) {
            lcg = lcg * 1664525u + 1013904223u;
            f[14 + (lcg >> 8) % (f.size() - 14)] = uint8_t(lcg >> 24);
        }
        files.push_back(f);
    }
    for (size_t i = 0; i < files.size(); ++i) {
        try {
            for (const MidiFileEvent& e : MarrowfinApp::ParseMidiFile(files[i], "garbage.mid", 44100.0)) {
                ASSERT_FALSE(e.bytes.empty()) << i;
                EXPECT_GE(e.frame, 0) << i;
                for (size_t k = 1; e.bytes[0] != 0xF0 && k < e.bytes.size(); ++k) EXPECT_LT(e.bytes[k], 0x80) << i;
            }
        } catch (const MarrowfinApp::AppError&) {
        }
    }
}

TEST(MidiFile, ATrackEndsBeforeTimesLibsmfCannotCount) {
    // Ten notes 0x0FFFFFFF pulses apart: the ninth would lie beyond 2^31 - 1 pulses, where
    // libsmf's count turned negative and it aborted the process.
    std::vector<uint8_t> track;
    for (int i = 0; i < 10; ++i) track.insert(track.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0x90, 60, 100});
    const auto events = MarrowfinApp::ParseMidiFile(MidiFile(0, 96, {track}), "long.mid", 44100.0);
    ASSERT_EQ(events.size(), 8u);
    EXPECT_GT(events.back().frame, events.front().frame);
}

TEST(MidiFile, RenderPlaysEventsIntoTheUsersScript) {
    ScopedTestFolders dir("marrowfin-apptest");
    ScopedTestFolders::WriteFile(ScopedTestFolders::ScriptsIn(dir.UserData()) + "/printer.lua",
                                 "requestAllNoteOn(function(ch, note, vel) print('noteon', ch, note, vel) end)\n"
                                 "requestAllNoteOff(function(ch, note, vel) print('noteoff', ch, note, vel) end)\n"
                                 "requestAllProgramChange(function(ch, p) print('program', ch, p) end)\n"
                                 "requestTimedCallback(0, function() print('timer fired') end)\n");
    const auto bytes = TempoFile();
    ScopedTestFolders::WriteFile(dir / "notes.mid", std::string(bytes.begin(), bytes.end()));
    WriteAudioFile(dir / "in.wav", MakeSignal(48000, 1, 1.0));
    RunResult r = RunApp({"render", dir / "in.wav", dir / "out.wav", "--midi", dir / "notes.mid", "-q"});
    ASSERT_EQ(r.status, 0) << r.err;
    size_t at = 0;
    for (const char* line : {"noteon\t2\t60\t100", "noteon\t2\t62\t90", "noteoff\t2\t64\t0"}) {
        at = r.out.find(line, at);
        EXPECT_NE(at, std::string::npos) << line << " in order in\n" << r.out;
    }
    EXPECT_NE(r.out.find("program\t4\t7"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("timer fired"), std::string::npos) << "the run loop never ran between blocks";
}

// A script may end the whole process (os.exit) in the middle of a render: no output and no
// hidden temporary file stay behind.
TEST(MidiFile, AScriptThatExitsTheProcessLeavesNoFiles) {
    ScopedTestFolders dir("marrowfin-apptest");
    ScopedTestFolders::WriteFile(ScopedTestFolders::ScriptsIn(dir.UserData()) + "/quit.lua",
                                 "requestAllNoteOn(function() os.exit(3) end)\n");
    const auto bytes = TempoFile();
    ScopedTestFolders::WriteFile(dir / "notes.mid", std::string(bytes.begin(), bytes.end()));
    WriteAudioFile(dir / "in.wav", MakeSignal(48000, 1, 1.0));
    RunResult r = RunApp({"render", dir / "in.wav", dir / "out.wav", "--midi", dir / "notes.mid", "-q"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
    ExpectNoTempFiles(dir);
}
