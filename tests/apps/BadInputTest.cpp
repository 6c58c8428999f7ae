// Bad input of every kind: one line on standard error naming the problem and the file, exit
// status 2 for usage errors and 1 for failures, and never an output file (or temporary file)
// left behind.
#include <gtest/gtest.h>

#include <plist/plist.h>
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

std::string Expand(std::string s, const TempDir& dir) {
    auto replace = [&](const std::string& key, const std::string& value) {
        for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), value);
    };
    replace("{IN}", dir / "in.wav");
    replace("{OUT}", dir / "out.wav");
    replace("{DIR}", dir.path.string());
    return s;
}

}  // namespace

TEST(BadInput, FailsCleanlyWithTheRightStatusAndNoOutput) {
    TempDir dir;
    WriteAudio(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    std::ofstream(dir / "text.wav") << "this is not audio at all";
    std::ofstream(dir / "garbage.aupreset") << "<?xml version=\"1.0\"?><plist><dict><key>x";
    std::ofstream(dir / "array.aupreset")
        << "<?xml version=\"1.0\"?><plist version=\"1.0\"><array><integer>1</integer></array></plist>";
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
    fs::create_directory(dir.path / "locked");
    fs::permissions(dir.path / "locked", fs::perms::owner_read | fs::perms::owner_exec);
    const bool isRoot = geteuid() == 0;

    const std::vector<BadCase> cases = {
        {"missing input", {"render", "{DIR}/nope.wav", "{OUT}"}, 1, "{DIR}/nope.wav"},
        {"input that is not audio", {"render", "{DIR}/text.wav", "{OUT}"}, 1, "{DIR}/text.wav"},
        {"input that is a folder", {"render", "{DIR}", "{OUT}"}, 1, "{DIR}"},
        {"unknown preset name", {"render", "{IN}", "{OUT}", "--preset", "Down One Octav"}, 2, "Down One Octav"},
        {"unknown preset number", {"render", "{IN}", "{OUT}", "--preset", "11"}, 2, "11"},
        {"negative preset number", {"render", "{IN}", "{OUT}", "--preset", "-1"}, 2, "-1"},
        {"unknown parameter", {"render", "{IN}", "{OUT}", "--set", "Wet Levl=1"}, 2, "Wet Levl"},
        {"parameter id out of range", {"render", "{IN}", "{OUT}", "--set", "40=1"}, 2, "40"},
        {"set without value", {"render", "{IN}", "{OUT}", "--set", "Wet Level"}, 2, "Wet Level"},
        {"value not a number", {"render", "{IN}", "{OUT}", "--set", "Wet Level=loud"}, 2, "loud"},
        {"value nan", {"render", "{IN}", "{OUT}", "--set", "Wet Level=nan"}, 2, "nan"},
        {"value infinite", {"render", "{IN}", "{OUT}", "--set", "Wet Level=1e999"}, 2, "1e999"},
        {"value beyond a float", {"render", "{IN}", "{OUT}", "--set", "Filter Cutoff=1e39"}, 2, "1e39"},
        {"value outside the range", {"render", "{IN}", "{OUT}", "--set", "Filter Cutoff=-5"}, 2, "Filter Cutoff"},
        {"trailing junk", {"render", "{IN}", "{OUT}", "--set", "Wet Level=0.5x"}, 2, "0.5x"},
        {"missing state file", {"render", "{IN}", "{OUT}", "--state", "{DIR}/none.aupreset"}, 1, "none.aupreset"},
        {"corrupt state file", {"render", "{IN}", "{OUT}", "--state", "{DIR}/garbage.aupreset"}, 1, "garbage.aupreset"},
        {"state that is no dictionary", {"render", "{IN}", "{OUT}", "--state", "{DIR}/array.aupreset"}, 1, "array.aupreset"},
        {"foreign state", {"render", "{IN}", "{OUT}", "--state", "{DIR}/foreign.aupreset"}, 1, "foreign.aupreset"},
        {"state that is audio", {"render", "{IN}", "{OUT}", "--state", "{IN}"}, 1, "in.wav"},
        {"state nested too deeply", {"render", "{IN}", "{OUT}", "--state", "{DIR}/deep.aupreset"}, 1, "deep.aupreset"},
        {"state that is a FIFO", {"render", "{IN}", "{OUT}", "--state", "{DIR}/fifo.aupreset"}, 1, "fifo.aupreset"},
        {"corrupt MIDI file", {"render", "{IN}", "{OUT}", "--midi", "{DIR}/bad.mid"}, 1, "bad.mid"},
        {"unsupported output format", {"render", "{IN}", "{DIR}/out.mp3"}, 2, "out.mp3"},
        {"float into FLAC", {"render", "{IN}", "{DIR}/out.flac", "--sample-format", "float"}, 2, "out.flac"},
        {"unknown sample format", {"render", "{IN}", "{OUT}", "--sample-format", "pcm8"}, 2, "pcm8"},
        {"output into a missing folder", {"render", "{IN}", "{DIR}/no/such/out.wav"}, 1, "{DIR}/no/such/out.wav"},
        {"output is a folder", {"render", "{IN}", "{DIR}/locked"}, 2, "locked"},
        {"block of zero", {"render", "{IN}", "{OUT}", "--block", "0"}, 2, "block"},
        {"block too large", {"render", "{IN}", "{OUT}", "--block", "4097"}, 2, "block"},
        {"missing arguments", {"render", "{IN}"}, 2, "OUT"},
        {"unknown option", {"render", "{IN}", "{OUT}", "--loud"}, 2, "--loud"},
        {"unknown subcommand", {"rendr", "{IN}", "{OUT}"}, 2, "rendr"},
        {"demo with unknown preset", {"demo", "{OUT}", "--preset", "Nope"}, 2, "Nope"},
    };
    for (const BadCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args;
        for (const auto& a : c.args) args.push_back(Expand(a, dir));
        RunResult r = RunApp(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(Expand(c.mentions, dir)), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        EXPECT_FALSE(fs::exists(dir / "out.flac"));
        for (const std::string& name : dir.Entries()) EXPECT_NE(name[0], '.') << "left behind: " << name;
    }

    if (!isRoot) {
        // Permissions do not stop root, so only an ordinary user can see this one fail.
        RunResult r = RunApp({"render", dir / "in.wav", dir / "locked/out.wav"});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(fs::is_empty(dir.path / "locked"));
    }
}

TEST(BadInput, FailedRenderKeepsAnExistingOutputAndStateFile) {
    TempDir dir;
    WriteAudio(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    std::ofstream(dir / "out.wav") << "precious";
    std::ofstream(dir / "state.aupreset") << "precious state";
    RunResult r = RunApp({"render", dir / "in.wav", dir / "out.wav", "--midi", dir / "missing.mid", "--save-state",
                          dir / "state.aupreset"});
    EXPECT_EQ(r.status, 1);
    std::ifstream out(dir / "out.wav"), state(dir / "state.aupreset");
    std::string a, b;
    std::getline(out, a);
    std::getline(state, b);
    EXPECT_EQ(a, "precious");
    EXPECT_EQ(b, "precious state");
}

TEST(BadInput, InterruptedRenderLeavesNoFile) {
    TempDir dir;
    WriteAudio(dir / "long.wav", MakeSignal(48000, 2, 60.0));
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        RunResult r = RunAppWith({"render", dir / "long.wav", dir / "out.wav", "--block", "1", "-q"}, {},
                                 [&](pid_t pid) {
                                     // Signal once the render is under way (its temporary file exists).
                                     for (int i = 0; i < 2000; ++i) {
                                         bool writing = false;
                                         for (const std::string& name : dir.Entries()) writing = writing || name[0] == '.';
                                         if (writing) break;
                                         std::this_thread::sleep_for(std::chrono::milliseconds(2));
                                     }
                                     std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                     kill(pid, sig);
                                 });
        EXPECT_EQ(r.status, 130) << r.err;
        EXPECT_EQ(Lines(r.err), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.wav"));
        for (const std::string& name : dir.Entries()) EXPECT_NE(name[0], '.') << "left behind: " << name;
    }
}

// A restore skips values that are not finite and holds the others inside their ranges, so a
// damaged state never feeds the engine NaN or runaway values.
TEST(BadInput, DamagedStateValuesNeverReachTheOutput) {
    TempDir dir;
    WriteAudio(dir / "in.wav", MakeSignal(44100, 1, 0.2));
    ASSERT_EQ(RunApp({"render", dir / "in.wav", dir / "first.wav", "--save-state", dir / "good.aupreset", "-q"}).status, 0);
    std::ifstream in(dir / "good.aupreset");
    std::string xml((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // Patch "Filter Cutoff" (id 25) inside the big-endian data block: NaN, then far out of range.
    for (uint32_t bits : {0x7FC00000u, 0x7F000000u}) {
        SCOPED_TRACE(bits);
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
        for (float v : ReadAudio(dir / "out.wav").samples) ASSERT_TRUE(std::isfinite(v));
        RunResult again = RunApp({"render", dir / "in.wav", dir / "again.wav", "--state", dir / "after.aupreset", "-q"});
        ASSERT_EQ(again.status, 0) << again.err;
        EXPECT_EQ(ReadAudio(dir / "again.wav").samples, ReadAudio(dir / "out.wav").samples);
    }
}
