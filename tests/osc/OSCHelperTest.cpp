// The OSC service's tasks: listening, port changes, failures of the socket and of datagrams,
// and shutdown. Every datagram goes to 127.0.0.1.
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "tests/osc/OSCRemoteSupport.h"

using namespace TB;
using osctest::Packet;

namespace {

// Records every message that reaches the hook for unknown addresses; with `block`, the hook
// waits until `release` (a script stuck in a loop, say) and shutdown waits 200 ms at most.
class RecordingHelper : public OSCHelper {
public:
    explicit RecordingHelper(bool block = false) : OSCHelper(nullptr, nullptr), m_block(block) {
        if (block) SetShutdownTimeout(200);
    }
    ~RecordingHelper() override { DestroyTask(); }
    bool Received(const std::string& address) {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::find(m_addresses.begin(), m_addresses.end(), address) != m_addresses.end();
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_addresses.size();
    }
    bool Listening(int port) {
        return WaitUntil([&] { return GetBoundPort() == port; });
    }
    std::atomic<bool> release{false}, left{false};

protected:
    using OSCHelper::ProcessMessage;
    void ProcessMessage(const char* address, const osc::ReceivedMessage&, const IpEndpointName&) override {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_addresses.push_back(address);
        }
        while (m_block && !release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        left = true;
    }

private:
    bool m_block;
    std::mutex m_lock;
    std::vector<std::string> m_addresses;
};

int CountLines(const std::string& text, const std::string& prefix) {
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);) count += line.rfind(prefix, 0) == 0;
    return count;
}

// Sends `address` until the helper has it (the socket may be bound a moment before the loop
// reads), so a test does not depend on timing.
bool Deliver(RecordingHelper& helper, int port, const std::string& address) {
    return WaitUntil([&] {
        SendTo(port, Packet(address));
        return WaitUntil([&] { return helper.Received(address); }, 0.05);
    });
}

constexpr int kTestPorts = 47100;

}  // namespace

TEST(OSCHelperTasks, RapidPortRequestsEndOnTheLastOneAndCloseTheOthers) {
    // Requests arriving while the task binds or publishes must never be lost: the task ends up
    // on the last port and the others are closed.
    const int base = FreePortRun(kTestPorts, 3);
    ASSERT_GT(base, 0);
    RecordingHelper helper;
    helper.SetPort(base);  // before the tasks exist: only stored
    helper.CreateTask();
    for (int i = 0; i < 200; ++i) {
        helper.SetPort(base + (i % 2));
        if (i % 7 == 0) helper.Disable();
    }
    helper.SetPort(base + 2);
    ASSERT_TRUE(helper.Listening(base + 2));
    EXPECT_TRUE(Deliver(helper, base + 2, "/last"));
    EXPECT_TRUE(PortIsFree(base));
    EXPECT_TRUE(PortIsFree(base + 1));
    helper.Disable();
    EXPECT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == 0 && PortIsFree(base + 2); }));
    EXPECT_EQ(helper.GetPort(), 0);
}

TEST(OSCHelperFailures, APortThatCannotBeBoundPrintsOneLineAndStaysSilent) {
    const int port = FreePort(kTestPorts + 30);
    ASSERT_GT(port, 0);
    auto holder = std::make_unique<RecordingHelper>();
    holder->CreateTask();
    holder->SetPort(port);
    ASSERT_TRUE(holder->Listening(port));
    RecordingHelper helper;
    helper.CreateTask();
    for (int bad : {port, 70000}) {
        testing::internal::CaptureStdout();
        helper.SetPort(bad);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the task tries once, then stays silent
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(CountLines(output, "std::runtime_error in TaskMain(): "), 1) << output;
        EXPECT_TRUE(bad != port || output == "std::runtime_error in TaskMain(): unable to bind udp socket\n") << output;
        EXPECT_EQ(helper.GetBoundPort(), 0);
    }
    EXPECT_TRUE(Deliver(*holder, port, "/still"));  // the first owner keeps working
    EXPECT_EQ(helper.Count(), 0u);

    // Still silent once the port is free again, until the next request.
    holder.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(helper.GetBoundPort(), 0);
    helper.SetPort(port);
    EXPECT_TRUE(helper.Listening(port));
}

TEST(OSCHelperFailures, MalformedDatagramsAreReportedAndListeningGoesOn) {
    const int port = FreePort(kTestPorts + 50);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    helper.CreateTask();
    helper.SetPort(port);
    ASSERT_TRUE(helper.Listening(port));
    ASSERT_TRUE(Deliver(helper, port, "/ready"));

    std::mt19937 random(1234);
    std::string noise(37, '\0');
    for (char& c : noise) c = char(random());
    noise[0] = '/';  // looks like an address, then garbage of a length OSC never has
    std::string truncatedBundle = Packet("/inside", {}, true);
    truncatedBundle.resize(truncatedBundle.size() - 6);
    std::string oversized = Packet("/big");
    oversized.resize(9001, 'x');  // beyond the receive buffer: arrives cut short
    const std::vector<std::string> garbage = {
        "abc", noise, truncatedBundle, oversized, std::string("/abc", 4), std::string("#bundle\0", 8),
        // Each of these once crashed oscpack or made it spin for ever.
        std::string("/x\0\0,b\0\0\xff\xff\xff\xf8" "abcdefgh", 20),               // negative blob size
        std::string("/x\0\0,b\0\0\x7f\xff\xff\xff" "abcd", 16),                   // blob far beyond the end
        std::string("/x\0\0,b\0\0", 8),                                             // blob size field past the end
        std::string("#bundle\0\0\0\0\0\0\0\0\1\xff\xff\xff\xfc/x\0\0,\0\0\0", 28),  // element size -4
    };
    testing::internal::CaptureStdout();
    for (size_t i = 0; i < garbage.size(); ++i) {
        SendTo(port, garbage[i]);
        EXPECT_TRUE(Deliver(helper, port, "/after" + std::to_string(i))) << "datagram " << i;
    }
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountLines(output, "osc::Exception in TaskMain(): "), int(garbage.size())) << output;
    EXPECT_EQ(helper.GetBoundPort(), port);
    EXPECT_FALSE(helper.Received("/inside"));
    // A well-formed bundle is unpacked into its message.
    SendTo(port, Packet("/bundled", {}, true));
    EXPECT_TRUE(WaitUntil([&] { return helper.Received("/bundled"); }));
}

TEST(OSCHelperLifecycle, DestroyTaskWhileListeningEndsPromptlyAndCanRepeat) {
    const int port = FreePort(kTestPorts + 70);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    for (int round = 0; round < 3; ++round) {
        helper.CreateTask();
        helper.SetPort(port);
        ASSERT_TRUE(helper.Listening(port)) << "round " << round;
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        helper.DestroyTask();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_FALSE(helper.TasksExist());
        helper.DestroyTask();  // harmless
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(helper.GetBoundPort(), 0);
        EXPECT_TRUE(PortIsFree(port));
    }
    // The requested port survives a clean-up; listening resumes only at the next request.
    helper.CreateTask();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(helper.GetBoundPort(), 0);
    EXPECT_TRUE(PortIsFree(port));
    helper.SetPort(port);
    ASSERT_TRUE(helper.Listening(port));
    {
        OSCHelper plain(nullptr, nullptr);  // destroyed while listening, without DestroyTask
        plain.CreateTask();
        plain.SetPort(port + 1);
        ASSERT_TRUE(WaitUntil([&] { return plain.GetBoundPort() == port + 1; }));
    }
    EXPECT_TRUE(PortIsFree(port + 1));
}

TEST(OSCHelperBonjour, ServiceNameIsTheVersionOnTheHostWithinSixtyThreeBytes) {
    const std::string name = OSCHelper::BonjourServiceName();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string full = std::string("Marrowfin 1.1.0 on ") + host;
    EXPECT_LE(name.size(), 63u);
    EXPECT_EQ(name, full.substr(0, name.size()));
    EXPECT_GE(name.size(), std::min<size_t>(full.size(), 63));
}

TEST(OSCHelperLifecycle, ATaskThatMissesTheShutdownBoundIsReportedAndLeftToFinish) {
    // A message handler that does not return holds the receive task. DestroyTask reports it,
    // returns, and the task still ends cleanly later.
    const int port = FreePort(kTestPorts + 90);
    ASSERT_GT(port, 0);
    RecordingHelper helper(true);
    helper.CreateTask();
    helper.SetPort(port);
    ASSERT_TRUE(helper.Listening(port));
    ASSERT_TRUE(Deliver(helper, port, "/block"));
    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    helper.DestroyTask();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountLines(output, "OSC: DestroyTask timeout on shutdown"), 1) << output;
    EXPECT_FALSE(helper.TasksExist());

    // Released, the abandoned task leaves its loop, closes the port and ends on its own.
    helper.release = true;
    EXPECT_TRUE(WaitUntil([&] { return helper.left.load() && helper.GetBoundPort() == 0 && PortIsFree(port); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past its last step
}
