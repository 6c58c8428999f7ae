// `marrowfin serve` against liblo's oscsend and oscdump, an OSC implementation independent of
// ours. Loopback only, fixed high ports skipped when taken.
#include <signal.h>

#include "tests/osc/OSCRemoteSupport.h"
#include "tests/support/AudioFile.h"

using namespace osctest;

namespace {

class OSCInteropTest : public testing::Test {
protected:
    void SetUp() override {
        if (RunProgram({"oscsend", "--help"}).status == 127) GTEST_SKIP() << "liblo-tools are not installed";
        ScopedTestFolders::WriteFile(ScopedTestFolders::ScriptsIn(m_folders.UserData()) + "/sum.lua",
                                     "function add(a, b) return a + b end\n");
    }
    // Starts `marrowfin serve` and oscdump. A port that looked free can be taken by another
    // program before the child binds it, so a start that does not come up is tried again on
    // other ports.
    void StartServe() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_dump.reset();
            m_serve.reset();
            const int base = FreePortRun(47900 + 100 * attempt, 2);
            m_port = base + 1;
            m_dumpPort = FreePort(47950 + 100 * attempt);
            ASSERT_GT(base, 0);
            ASSERT_GT(m_dumpPort, 0);
            m_serve = std::make_unique<ChildProcess>(
                std::vector<std::string>{MARROWFIN_APP_PATH, "serve", "--demo", "--seconds", "60", "--osc-base-port",
                                         std::to_string(base), "--osc-offset", "1", "--output", m_folders / "live.wav"},
                Environment{}, m_folders / "serve.out");
            m_dump = std::make_unique<ChildProcess>(std::vector<std::string>{"oscdump", "-L", std::to_string(m_dumpPort)},
                                                    Environment{}, m_folders / "dump.out");
            if (WaitUntil([&] { return !PortIsFree(m_port) && !PortIsFree(m_dumpPort); }, 10)) return;
        }
        FAIL() << "serve or oscdump did not bind their ports\nserve:\n"
               << ReadTextFile(m_folders / "serve.out") << "\noscdump:\n" << Dump();
    }
    std::string DumpTarget() const { return "127.0.0.1:" + std::to_string(m_dumpPort); }
    std::string Dump() { return ReadTextFile(m_folders / "dump.out"); }
    // Sends with oscsend until oscdump has printed a line containing `expected`.
    bool Expect(const std::vector<std::string>& send, const std::string& expected) {
        std::vector<std::string> argv = {"oscsend", "osc.udp://127.0.0.1:" + std::to_string(m_port)};
        argv.insert(argv.end(), send.begin(), send.end());
        return WaitUntil([&] {
            RunProgram(argv);
            return WaitUntil([&] { return Dump().find(expected) != std::string::npos; }, 0.5);
        }, 10);
    }

    ScopedTestFolders m_folders{"marrowfin-osc-interop"};
    int m_port = 0, m_dumpPort = 0;
    std::unique_ptr<ChildProcess> m_serve, m_dump;
};

}  // namespace

TEST_F(OSCInteropTest, EveryKindOfRequestWorksWithLibloAndASetChangesTheSound) {
    ASSERT_NO_FATAL_FAILURE(StartServe());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a sounding start, rendered in real time
    EXPECT_TRUE(Expect({"/getInfo", "iss", "7", DumpTarget(), "/info"},
                       "/info ifffsi 7 10.000000 1000.000000 800.000000 \"Lowpass Cutoff\" 8"))
        << Dump();
    EXPECT_TRUE(Expect({"/get", "iss", "5", DumpTarget(), "/val"}, "/val if 5 0.000000")) << Dump();
    EXPECT_TRUE(Expect({"/getNumParameters", "ss", DumpTarget(), "/n"}, "/n i 40")) << Dump();
    // Subscribed through one client, changed through another.
    EXPECT_TRUE(Expect({"/registerUpdate", "iss", "5", "osc.udp://" + DumpTarget() + "/", "/upd"}, ""));
    EXPECT_TRUE(Expect({"/set", "if", "5", "-12"}, "/upd if 5 -12.000000")) << Dump();
    EXPECT_TRUE(Expect({"/call", "sssii", "add", DumpTarget(), "/sum", "1", "2"}, "/sum f 3.000000")) << Dump();
    // "/ping" names the address a client can send to.
    const std::string pong = "/pong ss \"osc.udp://127.0.0.1:" + std::to_string(m_port) + "\" \"Marrowfin 1.1.0\"";
    EXPECT_TRUE(Expect({"/ping", "ss", DumpTarget(), "/pong"}, pong)) << Dump();
    // Errors in liblo's messages are reported on the service's standard output.
    RunProgram({"oscsend", "osc.udp://127.0.0.1:" + std::to_string(m_port), "/set", "ff", "5", "1"});
    EXPECT_TRUE(WaitUntil([&] {
        return ReadTextFile(m_folders / "serve.out").find("error while parsing message: /set: wrong argument type\n") !=
               std::string::npos;
    }));

    // The defaults play the replayed (wet) signal only: at wet 0 the next blocks fall silent.
    ASSERT_TRUE(Expect({"/set", "if", "1", "0"}, ""));
    ASSERT_TRUE(Expect({"/get", "iss", "1", DumpTarget(), "/wet"}, "/wet if 1 0.000000")) << Dump();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // rendered in real time
    ASSERT_EQ(m_serve->Stop(SIGTERM), 0);
    const AudioFile live = ReadAudioFile(m_folders / "live.wav");
    ASSERT_GT(live.Frames(), live.sampleRate);
    const size_t head = size_t(live.sampleRate * live.channels / 2), tail = size_t(live.sampleRate * live.channels / 5);
    double headEnergy = 0, tailEnergy = 0;
    for (size_t i = 0; i < head; ++i) headEnergy += live.samples[i] * live.samples[i];
    for (size_t i = live.samples.size() - tail; i < live.samples.size(); ++i) tailEnergy += live.samples[i] * live.samples[i];
    EXPECT_GT(headEnergy, 1e-3);
    EXPECT_EQ(tailEnergy, 0.0);
}
