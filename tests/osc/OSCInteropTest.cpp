// `marrowfin serve` against liblo's oscsend and oscdump, an OSC implementation independent of
// ours. Loopback only, fixed high ports skipped when taken.
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

// A child process with its standard output in a file; killed and reaped at the end.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, const std::string& out) {
        m_pid = fork();
        if (m_pid == 0) {
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int n = open("/dev/null", O_RDWR);
            dup2(o, 1);
            dup2(n, 2);
            dup2(n, 0);
            for (const auto& [k, v] : env) setenv(k.c_str(), v.c_str(), 1);
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Child() { Stop(SIGKILL); }
    // Sends `sig` and waits for the end; the exit status (or 128 + signal).
    int Stop(int sig = SIGTERM) {
        if (m_pid <= 0) return m_status;
        kill(m_pid, sig);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_status = -1;
};

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int RunTool(const std::vector<std::string>& argv) {
    std::string command;
    for (const auto& a : argv) command += "'" + a + "' ";
    return std::system((command + ">/dev/null 2>&1").c_str());
}

class OSCInteropTest : public testing::Test {
protected:
    void SetUp() override {
        if (RunTool({"oscsend", "--help"}) == 127 * 256) GTEST_SKIP() << "liblo-tools are not installed";
        char pattern[] = "/tmp/marrowfin-osc-interop.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_dir = pattern;
        const std::string scripts = m_dir + "/data/Tallow Bright/Marrowfin/Scripts";
        ASSERT_EQ(std::system(("mkdir -p '" + scripts + "'").c_str()), 0);
        std::ofstream(scripts + "/sum.lua") << "function add(a, b) return a + b end\n";
    }
    // Free ports for the served unit (base and base + 1) and for oscdump, from `from` on.
    void PickPorts(int from) {
        m_base = FreePortRun(from, 2);
        m_dumpPort = FreePort(from + 50);
        m_port = m_base + 1;
    }
    void TearDown() override {
        m_dump.reset();
        m_serve.reset();
        if (!m_dir.empty()) std::system(("rm -rf '" + m_dir + "'").c_str());
    }

    // Starts `marrowfin serve` and oscdump. A port that looked free can be taken by another
    // program before the child binds it, so a start that does not come up is tried again on
    // other ports.
    void StartServe() {
        for (int attempt = 0; attempt < 3; ++attempt) {
            m_dump.reset();
            m_serve.reset();
            PickPorts(47900 + 100 * attempt);
            ASSERT_GT(m_base, 0);
            ASSERT_GT(m_dumpPort, 0);
            if (Launch()) return;
        }
        FAIL() << "serve or oscdump did not bind their ports\nserve:\n"
               << ReadFile(m_dir + "/serve.out") << "\noscdump:\n" << Dump();
    }
    bool Launch() {
        m_serve = std::make_unique<Child>(
            std::vector<std::string>{MARROWFIN_APP_PATH, "serve", "--demo", "--seconds", "60", "--osc-base-port",
                                     std::to_string(m_base), "--osc-offset", "1", "--output", m_dir + "/live.wav"},
            std::map<std::string, std::string>{{"XDG_CONFIG_HOME", m_dir + "/config"},
                                               {"XDG_DATA_HOME", m_dir + "/data"},
                                               {"XDG_DATA_DIRS", m_dir + "/local"}},
            m_dir + "/serve.out");
        m_dump = std::make_unique<Child>(std::vector<std::string>{"oscdump", "-L", std::to_string(m_dumpPort)},
                                         std::map<std::string, std::string>{}, m_dir + "/dump.out");
        return WaitUntil([&] { return !PortIsFree(m_port) && !PortIsFree(m_dumpPort); }, 10);
    }
    std::string Url(int port) const { return "osc.udp://127.0.0.1:" + std::to_string(port); }
    std::string DumpTarget() const { return "127.0.0.1:" + std::to_string(m_dumpPort); }
    // Sends with oscsend until oscdump has printed a line containing `expected`.
    bool Expect(const std::vector<std::string>& send, const std::string& expected, int port = 0) {
        std::vector<std::string> argv = {"oscsend", Url(port ? port : m_port)};
        argv.insert(argv.end(), send.begin(), send.end());
        return WaitUntil([&] {
            RunTool(argv);
            return WaitUntil([&] { return ReadFile(m_dir + "/dump.out").find(expected) != std::string::npos; }, 0.5);
        }, 10);
    }
    std::string Dump() { return ReadFile(m_dir + "/dump.out"); }

    std::string m_dir;
    int m_base = 0, m_port = 0, m_dumpPort = 0;
    std::unique_ptr<Child> m_serve, m_dump;
};

}  // namespace

TEST_F(OSCInteropTest, EveryKindOfRequestWorksWithLiblo) {
    ASSERT_NO_FATAL_FAILURE(StartServe());
    EXPECT_TRUE(Expect({"/getInfo", "iss", "7", DumpTarget(), "/info"},
                       "/info ifffsi 7 10.000000 1000.000000 800.000000 \"Lowpass Cutoff\" 8"))
        << Dump();
    EXPECT_TRUE(Expect({"/get", "iss", "5", DumpTarget(), "/val"}, "/val if 5 0.000000")) << Dump();
    EXPECT_TRUE(Expect({"/getNumParameters", "ss", DumpTarget(), "/n"}, "/n i 40")) << Dump();

    // Subscribed through one client, changed through another.
    EXPECT_TRUE(Expect({"/registerUpdate", "iss", "5", "osc.udp://" + DumpTarget() + "/", "/upd"}, "") ) << Dump();
    EXPECT_TRUE(Expect({"/set", "if", "5", "-12"}, "/upd if 5 -12.000000")) << Dump();
    EXPECT_TRUE(Expect({"/get", "iss", "5", DumpTarget(), "/now"}, "/now if 5 -12.000000")) << Dump();

    EXPECT_TRUE(Expect({"/call", "sssii", "add", DumpTarget(), "/sum", "1", "2"}, "/sum f 3.000000")) << Dump();

    // "/ping" names an address a client can send to.
    const std::string pong = "/pong ss \"osc.udp://127.0.0.1:" + std::to_string(m_port) + "\" \"Marrowfin 1.1.0\"";
    ASSERT_TRUE(Expect({"/ping", "ss", DumpTarget(), "/pong"}, pong)) << Dump();
    EXPECT_TRUE(Expect({"/get", "iss", "7", DumpTarget(), "/back"}, "/back if 7 800.000000", m_port)) << Dump();

    // Errors from liblo's messages are reported on the service's standard output.
    RunTool({"oscsend", Url(m_port), "/set", "ff", "5", "1"});
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(m_dir + "/serve.out").find("error while parsing message: /set: wrong argument type\n") !=
               std::string::npos;
    }));
    EXPECT_EQ(m_serve->Stop(SIGTERM), 0);
}

TEST_F(OSCInteropTest, ASetChangesWhatTheNextBlocksRender) {
    ASSERT_NO_FATAL_FAILURE(StartServe());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    // The defaults play the replayed (wet) signal only: at wet 0 the output falls silent.
    ASSERT_TRUE(Expect({"/set", "if", "1", "0"}, "") );
    ASSERT_TRUE(Expect({"/get", "iss", "1", DumpTarget(), "/wet"}, "/wet if 1 0.000000")) << Dump();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(m_serve->Stop(SIGTERM), 0);

    SF_INFO info{};
    SNDFILE* file = sf_open((m_dir + "/live.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    std::vector<float> samples(size_t(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    ASSERT_GT(info.frames, info.samplerate);
    const size_t tail = size_t(info.samplerate * info.channels / 5);  // the last 0.2 s
    const size_t head = size_t(info.samplerate * info.channels / 2);  // the first 0.5 s
    double headEnergy = 0, tailEnergy = 0;
    for (size_t i = 0; i < head; ++i) headEnergy += samples[i] * samples[i];
    for (size_t i = samples.size() - tail; i < samples.size(); ++i) tailEnergy += samples[i] * samples[i];
    EXPECT_GT(headEnergy, 1e-3);
    EXPECT_EQ(tailEnergy, 0.0);
}
