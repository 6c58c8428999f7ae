// Bad input of every kind: one line on standard error naming the problem and the file, exit
// status 2 for usage errors and 1 for failures, and never an output file (or temporary file)
// left behind.
#include <gtest/gtest.h>

#include <plist/plist.h>

#include <fstream>
#include <sys/stat.h>

#include "tests/apps/AppTestSupport.h"

using namespace apptest;

namespace {

struct BadCase {
    const char* what;
    std::vector<std::string> args;  // "{IN}", "{OUT}", "{DIR}" are replaced
    int status;
    std::string mentions;  // text the error line must contain ("{...}" replaced too)
};

std::string Expand(std::string s, const ScopedTestFolders& dir) {
    auto replace = [&](const std::string& key, const std::string& value) {
        for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), value);
    };
    replace("{IN}", dir / "in.wav");
    replace("{OUT}", dir / "out.wav");
    replace("{DIR}", dir.Root());
    return s;
}

}  // namespace

TEST(BadInput, FailsCleanlyWithTheRightStatusAndNoOutput) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    std::ofstream(dir / "text.wav") << "this is not audio at all";
    std::ofstream(dir / "garbage.aupreset") << "<?xml version=\"1.0\"?><plist><dict><key>x";
    // A well-formed class-info state of some other component.
    std::ofstream(dir / "foreign.aupreset")
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>version</key><integer>0</integer><key>type</key><integer>1635083896</integer>"
           "<key>subtype</key><integer>1111111111</integer><key>manufacturer</key><integer>1987011435</integer>"
           "<key>data</key><data></data><key>name</key><string>Other</string></dict></plist>";
    std::ofstream(dir / "bad.mid") << "MThd garbage";
    // Nested 200 000 levels deep (overflowed libplist's recursive parser), and a FIFO (hung the reader).
    std::string deep = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i) deep += "<array>";
    std::ofstream(dir / "deep.aupreset") << deep;
    ASSERT_EQ(mkfifo((dir / "fifo.aupreset").c_str(), 0600), 0);
    fs::create_directory(dir / "locked");
    fs::permissions(dir / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const bool isRoot = geteuid() == 0;

    const std::vector<BadCase> cases = {
        {"missing input", {"render", "{DIR}/nope.wav", "{OUT}"}, 1, "{DIR}/nope.wav"},
        {"input that is not audio", {"render", "{DIR}/text.wav", "{OUT}"}, 1, "{DIR}/text.wav"},
        {"unknown preset name", {"render", "{IN}", "{OUT}", "--preset", "Down One Octav"}, 2, "Down One Octav"},
        {"unknown preset number", {"render", "{IN}", "{OUT}", "--preset", "11"}, 2, "11"},
        {"unknown parameter", {"render", "{IN}", "{OUT}", "--set", "Wet Levl=1"}, 2, "Wet Levl"},
        {"parameter id out of range", {"render", "{IN}", "{OUT}", "--set", "40=1"}, 2, "40"},
        {"set without value", {"render", "{IN}", "{OUT}", "--set", "Wet Level"}, 2, "Wet Level"},
        {"value nan", {"render", "{IN}", "{OUT}", "--set", "Wet Level=nan"}, 2, "nan"},
        {"value beyond a float", {"render", "{IN}", "{OUT}", "--set", "Filter Cutoff=1e39"}, 2, "1e39"},
        {"value outside the range", {"render", "{IN}", "{OUT}", "--set", "Filter Cutoff=-5"}, 2, "Filter Cutoff"},
        {"trailing junk", {"render", "{IN}", "{OUT}", "--set", "Wet Level=0.5x"}, 2, "0.5x"},
        {"corrupt state file", {"render", "{IN}", "{OUT}", "--state", "{DIR}/garbage.aupreset"}, 1, "garbage.aupreset"},
        {"foreign state", {"render", "{IN}", "{OUT}", "--state", "{DIR}/foreign.aupreset"}, 1, "foreign.aupreset"},
        {"state nested too deeply", {"render", "{IN}", "{OUT}", "--state", "{DIR}/deep.aupreset"}, 1, "deep.aupreset"},
        {"state that is a FIFO", {"render", "{IN}", "{OUT}", "--state", "{DIR}/fifo.aupreset"}, 1, "fifo.aupreset"},
        {"corrupt MIDI file", {"render", "{IN}", "{OUT}", "--midi", "{DIR}/bad.mid"}, 1, "bad.mid"},
        {"unsupported output format", {"render", "{IN}", "{DIR}/out.mp3"}, 2, "out.mp3"},
        {"float into FLAC", {"render", "{IN}", "{DIR}/out.flac", "--sample-format", "float"}, 2, "out.flac"},
        {"output into a missing folder", {"render", "{IN}", "{DIR}/no/such/out.wav"}, 1, "{DIR}/no/such/out.wav"},
        {"output is a folder", {"render", "{IN}", "{DIR}/locked"}, 2, "locked"},
        {"block of zero", {"render", "{IN}", "{OUT}", "--block", "0"}, 2, "block"},
        {"missing arguments", {"render", "{IN}"}, 2, "OUT"},
        {"unknown option", {"render", "{IN}", "{OUT}", "--loud"}, 2, "--loud"},
        {"unknown subcommand", {"rendr", "{IN}", "{OUT}"}, 2, "rendr"},
    };
    for (const BadCase& c : cases) {
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(Expand(a, dir));
        RunResult r = RunApp(args);
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(Expand(c.mentions, dir)), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        EXPECT_FALSE(fs::exists(dir / "out.flac"));
        ExpectNoTempFiles(dir);
    }

    if (!isRoot) {
        // Permissions do not stop root, so only an ordinary user can see this one fail.
        RunResult r = RunApp({"render", dir / "in.wav", dir / "locked/out.wav"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(fs::is_empty(dir / "locked"));
    }
}

TEST(BadInput, FailedRenderKeepsAnExistingOutputAndStateFile) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    std::ofstream(dir / "out.wav") << "precious";
    std::ofstream(dir / "state.aupreset") << "precious state";
    RunResult r = RunApp({"render", dir / "in.wav", dir / "out.wav", "--midi", dir / "missing.mid", "--save-state",
                          dir / "state.aupreset"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadTextFile(dir / "out.wav"), "precious");
    EXPECT_EQ(ReadTextFile(dir / "state.aupreset"), "precious state");
}

TEST(BadInput, InterruptedRenderLeavesNoFile) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "long.wav", MakeSignal(48000, 2, 60.0));
    for (int sig : {SIGINT, SIGTERM}) {
        RunResult r = RunApp({"render", dir / "long.wav", dir / "out.wav", "--block", "1", "-q"}, [&](pid_t pid) {
            // Signal once the render is under way (its temporary file exists).
            WaitUntil([&] {
                for (const auto& e : fs::directory_iterator(dir.Root()))
                    if (e.path().filename().string()[0] == '.') return true;
                return false;
            });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            kill(pid, sig);
        });
        EXPECT_EQ(r.status, 130) << sig << ": " << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        ExpectNoTempFiles(dir);
    }
}

// A restore skips values that are not finite and holds the others inside their ranges, so a
// damaged state never feeds the engine NaN or runaway values.
TEST(BadInput, DamagedStateValuesNeverReachTheOutput) {
    ScopedTestFolders dir("marrowfin-apptest");
    WriteAudioFile(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    ASSERT_EQ(RunApp({"render", dir / "in.wav", dir / "first.wav", "--save-state", dir / "good.aupreset", "-q"}).status, 0);
    const std::string xml = ReadTextFile(dir / "good.aupreset");

    // Patch "Filter Cutoff" (id 25) inside the big-endian data block: NaN, then far out of range.
    for (uint32_t bits : {0x7FC00000u, 0x7F000000u}) {
        plist_t state = nullptr;
        plist_from_xml(xml.data(), uint32_t(xml.size()), &state);
        ASSERT_NE(state, nullptr);
        plist_t data = plist_dict_get_item(state, "data");
        ASSERT_NE(data, nullptr);
        char* raw = nullptr;
        uint64_t length = 0;
        plist_get_data_val(data, &raw, &length);
        std::vector<uint8_t> block(raw, raw + length);
        free(raw);
        const size_t at = 12 + 25 * 8;
        ASSERT_GE(block.size(), at + 8);
        ASSERT_EQ(block[at + 3], 25);  // the id of the record
        for (int i = 0; i < 4; ++i) block[at + 4 + i] = uint8_t(bits >> (24 - 8 * i));
        plist_set_data_val(data, reinterpret_cast<const char*>(block.data()), block.size());
        char* out = nullptr;
        uint32_t outLength = 0;
        plist_to_xml(state, &out, &outLength);
        std::ofstream(dir / "bad.aupreset") << std::string(out, outLength);
        plist_to_xml_free(out);
        plist_free(state);

        RunResult r = RunApp({"render", dir / "in.wav", dir / "out.wav", "--state", dir / "bad.aupreset",
                              "--set", "Filter Type=1", "--save-state", dir / "after.aupreset", "-q"});
        ASSERT_EQ(r.status, 0) << r.err;
        for (float v : ReadAudioFile(dir / "out.wav").samples) ASSERT_TRUE(std::isfinite(v));
        RunResult again = RunApp({"render", dir / "in.wav", dir / "again.wav", "--state", dir / "after.aupreset", "-q"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(ReadAudioFile(dir / "again.wav").samples, ReadAudioFile(dir / "out.wav").samples);
    }
}
