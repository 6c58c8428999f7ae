// The OSC service's tasks: listening, port changes, failures of the socket and of datagrams,
// and shutdown. Every datagram goes to 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include <oscpack/osc/OscOutboundPacketStream.h>

#include "osc/OSCHelper.h"
#include "tests/osc/OSCTestSupport.h"

using namespace osctest;

namespace {

// Records every message that reaches the hook for unknown addresses.
class RecordingHelper : public TB::OSCHelper {
public:
    RecordingHelper() : TB::OSCHelper(nullptr, nullptr) {}
    ~RecordingHelper() override { DestroyTask(); }

    std::vector<std::string> Addresses() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_addresses;
    }
    bool Received(const std::string& address) {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const auto& a : m_addresses)
            if (a == address) return true;
        return false;
    }

protected:
    using TB::OSCHelper::ProcessMessage;
    void ProcessMessage(const char* address, const osc::ReceivedMessage&, const IpEndpointName&) override {
        std::lock_guard<std::mutex> lock(m_lock);
        m_addresses.push_back(address);
    }

private:
    std::mutex m_lock;
    std::vector<std::string> m_addresses;
};

std::string Message(const char* address, float value = 0.5f) {
    char buffer[256];
    osc::OutboundPacketStream packet(buffer, sizeof buffer);
    packet << osc::BeginMessage(address) << value << osc::EndMessage;
    return std::string(packet.Data(), packet.Size());
}

std::string Bundle(const char* address) {
    char buffer[256];
    osc::OutboundPacketStream packet(buffer, sizeof buffer);
    packet << osc::BeginBundleImmediate << osc::BeginMessage(address) << 1.0f << osc::EndMessage << osc::EndBundle;
    return std::string(packet.Data(), packet.Size());
}

int CountLines(const std::string& text, const std::string& prefix) {
    int count = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, prefix.size(), prefix) == 0) ++count;
        start = end + 1;
    }
    return count;
}

bool Listening(RecordingHelper& helper, int port) {
    return WaitUntil([&] { return helper.GetBoundPort() == port; });
}

// Sends `address` until the helper has it (the socket may be bound a moment before the loop
// reads), so a test does not depend on timing.
bool Deliver(RecordingHelper& helper, int port, const std::string& address) {
    return WaitUntil([&] {
        SendTo(port, Message(address.c_str()));
        return WaitUntil([&] { return helper.Received(address); }, 0.05);
    });
}

constexpr int kTestPorts = 47100;

}  // namespace

TEST(OSCHelperTasks, NothingListensWithoutAPortRequestAfterCreateTask) {
    const int port = FreePort(kTestPorts);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    EXPECT_FALSE(helper.TasksExist());
    helper.SetPort(port);  // before the tasks exist: only stored
    EXPECT_EQ(helper.GetPort(), port);
    helper.CreateTask();
    EXPECT_TRUE(helper.TasksExist());
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(helper.GetBoundPort(), 0);
    EXPECT_TRUE(PortIsFree(port));

    helper.SetPort(port);
    ASSERT_TRUE(Listening(helper, port));
    EXPECT_FALSE(PortIsFree(port));
    EXPECT_TRUE(Deliver(helper, port, "/hello"));
}

TEST(OSCHelperTasks, PortChangesCloseTheOldSocketAndDisableClosesAll) {
    const int first = FreePortRun(kTestPorts + 10, 2);
    ASSERT_GT(first, 0);
    const int second = first + 1;
    RecordingHelper helper;
    helper.CreateTask();
    helper.SetPort(first);
    ASSERT_TRUE(Listening(helper, first));
    EXPECT_TRUE(Deliver(helper, first, "/one"));

    helper.SetPort(second);
    ASSERT_TRUE(Listening(helper, second));
    EXPECT_TRUE(WaitUntil([&] { return PortIsFree(first); }));
    EXPECT_TRUE(Deliver(helper, second, "/two"));

    helper.Disable();
    EXPECT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == 0 && PortIsFree(second); }));
    EXPECT_EQ(helper.GetPort(), 0);

    // Back on after a disable.
    helper.SetPort(first);
    ASSERT_TRUE(Listening(helper, first));
}

TEST(OSCHelperTasks, RapidPortRequestsEndOnTheLastOne) {
    // Requests arriving while the task binds or publishes must never be lost: the task ends up
    // on the last port and the others are closed.
    const int base = FreePortRun(kTestPorts + 20, 3);
    ASSERT_GT(base, 0);
    RecordingHelper helper;
    helper.CreateTask();
    for (int i = 0; i < 200; ++i) {
        helper.SetPort(base + (i % 2));
        if (i % 7 == 0) helper.Disable();
    }
    helper.SetPort(base + 2);
    ASSERT_TRUE(Listening(helper, base + 2));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(helper.GetBoundPort(), base + 2);
    EXPECT_TRUE(PortIsFree(base));
    EXPECT_TRUE(PortIsFree(base + 1));
    EXPECT_TRUE(Deliver(helper, base + 2, "/last"));

    helper.SetPort(base);
    helper.Disable();
    EXPECT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == 0 && PortIsFree(base) && PortIsFree(base + 2); }));
}

TEST(OSCHelperFailures, APortTakenElsewherePrintsOneLineAndStaysSilent) {
    const int port = FreePort(kTestPorts + 30);
    ASSERT_GT(port, 0);
    const int holder = BindUdp(port);
    ASSERT_GE(holder, 0);
    RecordingHelper helper;
    helper.CreateTask();
    testing::internal::CaptureStdout();
    helper.SetPort(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "std::runtime_error in TaskMain(): unable to bind udp socket\n");
    EXPECT_EQ(helper.GetBoundPort(), 0);
    close(holder);

    // Still silent once the port is free again, until the next request.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(helper.GetBoundPort(), 0);
    helper.SetPort(port);
    EXPECT_TRUE(Listening(helper, port));
}

TEST(OSCHelperFailures, PortsOutsideTheUdpRangeAreReportedNotBound) {
    RecordingHelper helper;
    helper.CreateTask();
    for (int port : {70000, -5}) {
        testing::internal::CaptureStdout();
        helper.SetPort(port);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const std::string output = testing::internal::GetCapturedStdout();
        EXPECT_EQ(CountLines(output, "std::runtime_error in TaskMain(): "), 1) << output;
        EXPECT_EQ(helper.GetBoundPort(), 0);
    }
}

TEST(OSCHelperFailures, TheSecondHelperOnOnePortFailsAndTheFirstKeepsWorking) {
    const int port = FreePort(kTestPorts + 40);
    ASSERT_GT(port, 0);
    RecordingHelper first, second;
    first.CreateTask();
    second.CreateTask();
    first.SetPort(port);
    ASSERT_TRUE(Listening(first, port));

    testing::internal::CaptureStdout();
    second.SetPort(port);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(output, "std::runtime_error in TaskMain(): unable to bind udp socket\n");
    EXPECT_EQ(second.GetBoundPort(), 0);
    EXPECT_TRUE(Deliver(first, port, "/still"));
    EXPECT_TRUE(second.Addresses().empty());
}

TEST(OSCHelperFailures, MalformedDatagramsAreReportedAndListeningGoesOn) {
    const int port = FreePort(kTestPorts + 50);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    helper.CreateTask();
    helper.SetPort(port);
    ASSERT_TRUE(Listening(helper, port));
    ASSERT_TRUE(Deliver(helper, port, "/ready"));

    std::mt19937 random(1234);
    std::string noise(37, '\0');
    for (char& c : noise) c = char(random());
    noise[0] = '/';  // looks like an address, then garbage of a length OSC never has
    std::string truncatedBundle = Bundle("/inside");
    truncatedBundle.resize(truncatedBundle.size() - 6);
    std::string oversized = Message("/big");
    oversized.resize(9001, 'x');  // beyond the receive buffer: arrives cut short
    const std::vector<std::string> garbage = {
        std::string("abc"),           // three bytes
        noise,                        // random bytes
        truncatedBundle,              // a bundle whose element runs past the end
        oversized,                    // an oversized datagram
        std::string("/abc", 4),       // an unterminated address
        std::string("#bundle\0", 8),  // a bundle without its time tag
        // Each of these once crashed oscpack or made it spin for ever.
        std::string("/x\0\0,b\0\0\xff\xff\xff\xf8" "abcdefgh", 20),               // negative blob size
        std::string("/x\0\0,b\0\0\x7f\xff\xff\xff" "abcd", 16),                   // blob far beyond the end
        std::string("/x\0\0,b\0\0", 8),                                             // blob size field past the end
        std::string("#bundle\0\0\0\0\0\0\0\0\1\xff\xff\xff\xfc/x\0\0,\0\0\0", 28),  // element size -4
    };

    testing::internal::CaptureStdout();
    for (size_t i = 0; i < garbage.size(); ++i) {
        SendTo(port, garbage[i]);
        const std::string after = "/after" + std::to_string(i);
        EXPECT_TRUE(Deliver(helper, port, after)) << "datagram " << i;
    }
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountLines(output, "osc::Exception in TaskMain(): "), int(garbage.size())) << output;
    EXPECT_EQ(helper.GetBoundPort(), port);
    EXPECT_FALSE(helper.Received("/inside"));

    // A well-formed bundle is unpacked into its message.
    SendTo(port, Bundle("/bundled"));
    EXPECT_TRUE(WaitUntil([&] { return helper.Received("/bundled"); }));
}

TEST(OSCHelperLifecycle, CreateTaskTwiceWarnsAndChangesNothing) {
    const int port = FreePort(kTestPorts + 60);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    helper.CreateTask();
    helper.SetPort(port);
    ASSERT_TRUE(Listening(helper, port));
    testing::internal::CaptureStdout();
    helper.CreateTask();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Warning: Attempt to recreate OSC task\n");
    EXPECT_TRUE(Deliver(helper, port, "/same"));
}

TEST(OSCHelperLifecycle, DestroyTaskWhileListeningEndsPromptlyAndCanRepeat) {
    const int port = FreePort(kTestPorts + 70);
    ASSERT_GT(port, 0);
    RecordingHelper helper;
    for (int round = 0; round < 3; ++round) {
        helper.CreateTask();
        helper.SetPort(port);
        ASSERT_TRUE(Listening(helper, port)) << "round " << round;
        testing::internal::CaptureStdout();
        const auto start = std::chrono::steady_clock::now();
        helper.DestroyTask();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 2.0);
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
}

TEST(OSCHelperLifecycle, DestroyingAListeningHelperFreesItsPort) {
    const int port = FreePort(kTestPorts + 80);
    ASSERT_GT(port, 0);
    {
        TB::OSCHelper helper(nullptr, nullptr);
        helper.CreateTask();
        helper.SetPort(port);
        ASSERT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == port; }));
    }
    EXPECT_TRUE(PortIsFree(port));
}

TEST(OSCHelperBonjour, ServiceNameIsTheVersionOnTheHostWithinSixtyThreeBytes) {
    const std::string name = TB::OSCHelper::BonjourServiceName();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(name.rfind("Marrowfin 1.1.0", 0), 0u);
    EXPECT_LE(name.size(), 63u);
    const std::string full = std::string("Marrowfin 1.1.0 on ") + host;
    if (full.size() <= 63) EXPECT_EQ(name, full);
    else EXPECT_EQ(full.rfind(name, 0), 0u);
}

TEST(OSCHelperLifecycle, ATaskThatMissesTheShutdownBoundIsReportedAndLeftToFinish) {
    // A message handler that does not return (a script stuck in a loop, say) holds the receive
    // task. DestroyTask reports it, returns, and the task still ends cleanly later.
    class BlockingHelper : public TB::OSCHelper {
    public:
        BlockingHelper() : TB::OSCHelper(nullptr, nullptr) { SetShutdownTimeout(200); }
        std::atomic<bool> entered{false}, release{false}, left{false};

    protected:
        using TB::OSCHelper::ProcessMessage;
        void ProcessMessage(const char*, const osc::ReceivedMessage&, const IpEndpointName&) override {
            entered = true;
            while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            left = true;
        }
    };
    const int port = FreePort(kTestPorts + 90);
    ASSERT_GT(port, 0);
    BlockingHelper helper;
    helper.CreateTask();
    helper.SetPort(port);
    ASSERT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == port; }));
    ASSERT_TRUE(WaitUntil([&] {
        SendTo(port, Message("/block"));
        return WaitUntil([&] { return helper.entered.load(); }, 0.05);
    }));

    testing::internal::CaptureStdout();
    const auto start = std::chrono::steady_clock::now();
    helper.DestroyTask();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(CountLines(output, "OSC: DestroyTask timeout on shutdown"), 1) << output;
    EXPECT_LT(seconds, 2.0);
    EXPECT_FALSE(helper.TasksExist());

    // Released, the abandoned task leaves its loop, closes the port and ends on its own.
    helper.release = true;
    EXPECT_TRUE(WaitUntil([&] { return helper.left.load() && helper.GetBoundPort() == 0 && PortIsFree(port); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // past its last step
}
