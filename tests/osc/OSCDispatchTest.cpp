// The address dispatcher against a real unit: parameters, strict argument types and the error
// lines, reply targets and reply packets.
#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

constexpr int kReplyPorts = 47600;

class OSCDispatchTest : public MarrowfinOSCTest {};

}  // namespace

TEST_F(OSCDispatchTest, SetChangesTheParameterAndGetRepliesInAnImmediateBundle) {
    Receiver client(kReplyPorts);
    ASSERT_GT(client.Port(), 0);
    EXPECT_EQ(Output("/set", {osc::int32(5), -12.5f}), "");
    EXPECT_EQ(m_host.Parameter(5), -12.5f);
    for (const std::string& target :
         {client.Target(), "osc.udp://" + client.Target() + "/", "localhost:" + std::to_string(client.Port())}) {
        Send("/get", {osc::int32(5), target, std::string("/val")});
        auto reply = client.Next();
        ASSERT_TRUE(reply);
        EXPECT_TRUE(reply->inImmediateBundle);
        EXPECT_EQ(reply->address + reply->types, "/valif") << target;
        EXPECT_EQ(reply->numbers, (std::vector<double>{5, -12.5}));
    }
    Send("/isParameterUsed", {osc::int32(39), client.Target(), std::string("/used")});
    auto used = client.Next();
    ASSERT_TRUE(used);
    EXPECT_EQ(used->types, "iT");
}

TEST_F(OSCDispatchTest, FailuresPrintOneLineAndChangeNothing) {
    const std::string t = "127.0.0.1:9", r = "/r";
    const struct {
        std::string address;
        std::vector<Arg> args;
        std::string reason;
    } cases[] = {
        {"/set", {osc::int32(40), 1.0f}, "parameter id out of range in set"},
        {"/set", {osc::int32(5), osc::int32(1)}, "wrong argument type"},
        {"/set", {osc::int32(5)}, "missing argument"},
        {"/set", {osc::int32(5), 1.0f, osc::int32(2)}, "too many arguments"},
        {"/get", {osc::int32(40), t, r}, "parameter id out of range in get"},
        {"/get", {osc::int32(40), t}, "missing argument"},  // argument errors come first
        {"/isParameterUsed", {osc::int32(40), t, r}, "parameter id out of range in isParameterUsed"},
        {"/getInfo", {osc::int32(1000), t, r}, "parameter id out of range in getInfo"},
        {"/registerUpdate", {osc::int32(40), t, r}, "parameter id out of range in registerUpdate"},
        {"/unregisterUpdate", {osc::int32(-5), t, r}, "parameter id out of range in unregisterUpdate"},
        {"/get", {osc::int32(1), t, std::string(2000, 'a')}, "out of buffer memory"},
    };
    const float before = m_host.Parameter(5);
    for (const auto& c : cases) EXPECT_EQ(Output(c.address, c.args), ErrorLine(c.address, c.reason)) << c.reason;
    EXPECT_EQ(m_host.Parameter(5), before);
    for (int id = 0; id < 40; ++id) EXPECT_TRUE(OSC().UpdateTargets(id).empty());

    // Addresses match whole and case-sensitively; a bundle's message is dispatched like a lone one.
    for (const char* address : {"/Set", "/se?", "set", "/setx"})
        EXPECT_EQ(Output(address, {osc::int32(5), 3.0f}), "") << address;
    EXPECT_EQ(m_host.Parameter(5), before);
    Send(Packet("/set", {osc::int32(5), 3.0f}, true));
    EXPECT_EQ(m_host.Parameter(5), 3.0f);
}

TEST_F(OSCDispatchTest, GetAllSendsEveryParameterInOrderAndNothingWithoutAPort) {
    Receiver client(kReplyPorts + 20);
    ASSERT_GT(client.Port(), 0);
    ASSERT_EQ(m_host.SetParameter(25, 4321.f), noErr);
    Send("/getAll", {client.Target(), std::string("/all")});
    std::vector<Received> replies = client.Drain(0.5);
    ASSERT_EQ(replies.size(), 40u);
    for (int id = 0; id < 40; ++id) {
        EXPECT_EQ(replies[id].address + replies[id].types, "/allif");
        EXPECT_EQ(replies[id].numbers[0], id);
        EXPECT_EQ(float(replies[id].numbers[1]), m_host.Parameter(id)) << id;
    }
    // No port, an empty port, a port beyond 16 bits, an unresolvable host: nothing, silently.
    for (const std::string& target : {std::string("127.0.0.1"),
                                      "127.0.0.1:" + std::to_string(client.Port() + 65536)}) {
        EXPECT_EQ(Output("/getAll", {target, std::string("/all")}), "") << target;
        EXPECT_EQ(Output("/get", {osc::int32(1), target, std::string("/one")}), "") << target;
    }
    EXPECT_TRUE(client.Drain(0.2).empty());
}

TEST(OSCReplyTargets, ParseAddressSplitsPrefixHostAndPortAndResolvesIPv4) {
    const struct {
        std::string text, host;
        int port;
    } cases[] = {
        {"127.0.0.1:9000", "127.0.0.1", 9000},
        {"osc.udp://10.0.0.2:57120/", "10.0.0.2", 57120},
        {"OSC.UDP://h:1", "OSC.UDP", -1},  // only the exact prefix is skipped: "//h:1" is no number
        {"myhost:abc", "myhost", -1},
        {"myhost: 42", "myhost", 42},  // read as a "%d" conversion
        {"a:1:2", "a", 1},
        {"", "", -1},
        {std::string(1022, 'h') + ":1234", std::string(1022, 'h'), -1},  // only 1023 characters count
    };
    for (const auto& c : cases) {
        std::string host;
        SInt32 port = 0;
        OSCHelper::ParseAddress(c.text.c_str(), host, port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
    const IpEndpointName local = OSCHelper::ResolveTarget("localhost:7000");
    EXPECT_EQ(local.address, 0x7F000001ul);
    EXPECT_EQ(local.port, 7000);
    EXPECT_TRUE(OSCHelper::IsDeliverable(local));
    for (const char* bad : {"nonexistent.invalid:7000", "127.0.0.1:70000", "127.0.0.1:0"})
        EXPECT_FALSE(OSCHelper::IsDeliverable(OSCHelper::ResolveTarget(bad))) << bad;
}

TEST_F(OSCDispatchTest, AReplyThatCannotBeSentDoesNotEndListening) {
    const int port = FreePort(kReplyPorts + 60);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(Listen(port));
    // A broadcast target: no socket can be connected without permission to broadcast.
    testing::internal::CaptureStdout();
    SendTo(port, Packet("/get", {osc::int32(1), std::string("255.255.255.254:9"), std::string("/x")}));
    SendTo(port, Packet("/set", {osc::int32(2), 0.25f}));
    EXPECT_TRUE(WaitUntil([&] { return m_host.Parameter(2) == 0.25f; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(OSC().GetBoundPort(), port);
}
