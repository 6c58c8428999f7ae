// The address dispatcher against a real unit: parameters, the parameter table, strict argument
// types and the error lines, reply targets and reply packets.
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

    for (const std::string& target : {client.Target(), "osc.udp://" + client.Target() + "/", "localhost:" + std::to_string(client.Port())}) {
        SCOPED_TRACE(target);
        Send("/get", {osc::int32(5), target, std::string("/val")});
        auto reply = client.Next();
        ASSERT_TRUE(reply);
        EXPECT_TRUE(reply->inImmediateBundle);
        EXPECT_EQ(reply->address, "/val");
        EXPECT_EQ(reply->types, "if");
        EXPECT_EQ(reply->numbers[0], 5);
        EXPECT_EQ(reply->numbers[1], -12.5);
    }
}

TEST_F(OSCDispatchTest, FailuresPrintOneLineAndChangeNothing) {
    struct Case {
        std::string address;
        std::vector<Arg> args;
        std::string reason;
    };
    const std::string t = "127.0.0.1:9", r = "/r";
    const std::vector<Case> cases = {
        {"/set", {osc::int32(40), 1.0f}, "parameter id out of range in set"},
        {"/set", {osc::int32(-1), 1.0f}, "parameter id out of range in set"},
        {"/set", {5.0f, 1.0f}, "wrong argument type"},
        {"/set", {osc::int32(5), osc::int32(1)}, "wrong argument type"},
        {"/set", {osc::int32(5)}, "missing argument"},
        {"/set", {osc::int32(5), 1.0f, osc::int32(2)}, "too many arguments"},
        {"/get", {osc::int32(40), t, r}, "parameter id out of range in get"},
        {"/get", {osc::int32(40), t}, "missing argument"},  // argument errors come first
        {"/isParameterUsed", {osc::int32(40), t, r}, "parameter id out of range in isParameterUsed"},
        {"/getInfo", {osc::int32(1000), t, r}, "parameter id out of range in getInfo"},
        {"/registerUpdate", {osc::int32(40), t, r}, "parameter id out of range in registerUpdate"},
        {"/unregisterUpdate", {osc::int32(-5), t, r}, "parameter id out of range in unregisterUpdate"},
        {"/getAllRegistered", {osc::int32(1)}, "too many arguments"},
        {"/getNumParameters", {t, osc::int32(3)}, "wrong argument type"},
        {"/ping", {t}, "missing argument"},
        {"/startNote", {60.0f, 0.5f}, "wrong argument type"},
        {"/get", {osc::int32(1), t, std::string(2000, 'a')}, "out of buffer memory"},
    };
    const float before = m_host.Parameter(5);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address + " " + c.reason);
        EXPECT_EQ(Output(c.address, c.args), ErrorLine(c.address, c.reason));
    }
    EXPECT_EQ(m_host.Parameter(5), before);
    for (int id = 0; id < 40; ++id) EXPECT_TRUE(OSC().UpdateTargets(id).empty());
}

TEST_F(OSCDispatchTest, AddressesMatchWholeAndCaseSensitively) {
    const float before = m_host.Parameter(5);
    for (const char* address : {"/Set", "/set/", "/se?", "/s*", "set", "/setx"})
        EXPECT_EQ(Output(address, {osc::int32(5), 3.0f}), "") << address;
    EXPECT_EQ(m_host.Parameter(5), before);
    // A bundle's message is dispatched like a lone one.
    Send(Packet("/set", {osc::int32(5), 3.0f}, true));
    EXPECT_EQ(m_host.Parameter(5), 3.0f);
}

TEST_F(OSCDispatchTest, TheParameterTableIsDescribed) {
    Receiver client(kReplyPorts + 10);
    ASSERT_GT(client.Port(), 0);
    Send("/getInfo", {osc::int32(7), client.Target(), std::string("/info")});
    auto info = client.Next();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->types, "ifffsi");
    EXPECT_EQ(info->numbers[0], 7);
    EXPECT_EQ(info->numbers[1], 10);
    EXPECT_EQ(info->numbers[2], 1000);
    EXPECT_EQ(info->numbers[3], 800);
    EXPECT_EQ(info->strings[4], "Lowpass Cutoff");
    EXPECT_EQ(info->numbers[5], 8);

    Send("/getNumParameters", {client.Target(), std::string("/n")});
    auto count = client.Next();
    ASSERT_TRUE(count);
    EXPECT_EQ(count->types, "i");
    EXPECT_EQ(count->numbers[0], 40);

    Send("/isParameterUsed", {osc::int32(39), client.Target(), std::string("/used")});
    auto used = client.Next();
    ASSERT_TRUE(used);
    EXPECT_EQ(used->types, "iT");
    EXPECT_EQ(used->numbers[0], 39);
}

TEST_F(OSCDispatchTest, GetAllSendsEveryParameterInOrderAndNothingWithoutAPort) {
    Receiver client(kReplyPorts + 20);
    ASSERT_GT(client.Port(), 0);
    ASSERT_EQ(m_host.SetParameter(25, 4321.f), noErr);
    Send("/getAll", {client.Target(), std::string("/all")});
    std::vector<Received> replies = client.Drain(0.5);
    ASSERT_EQ(replies.size(), 40u);
    for (int id = 0; id < 40; ++id) {
        EXPECT_EQ(replies[id].address, "/all");
        EXPECT_EQ(replies[id].types, "if");
        EXPECT_EQ(replies[id].numbers[0], id);
        EXPECT_EQ(float(replies[id].numbers[1]), m_host.Parameter(id)) << id;
    }
    // No port, an empty port, a port beyond 16 bits, an unresolvable host: nothing, silently.
    for (const std::string& target : {std::string("127.0.0.1"), std::string("127.0.0.1:"),
                                      "127.0.0.1:" + std::to_string(client.Port() + 65536), std::string(":") + std::to_string(client.Port())}) {
        EXPECT_EQ(Output("/getAll", {target, std::string("/all")}), "") << target;
        EXPECT_EQ(Output("/get", {osc::int32(1), target, std::string("/one")}), "") << target;
    }
    EXPECT_TRUE(client.Drain(0.2).empty());
}

TEST(OSCReplyTargets, ParseAddressSplitsPrefixHostAndPort) {
    struct Case {
        std::string text, host;
        int port;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1:9000", "127.0.0.1", 9000},
        {"osc.udp://10.0.0.2:57120/", "10.0.0.2", 57120},
        {"OSC.UDP://h:1", "OSC.UDP", -1},  // only the exact prefix is skipped: "//h:1" is no number
        {"osc.udp://myhost", "myhost", -1},
        {"myhost:", "myhost", -1},
        {"myhost:abc", "myhost", -1},
        {"myhost: 42", "myhost", 42},  // read as a "%d" conversion
        {"a:1:2", "a", 1},
        {"", "", -1},
    };
    for (const Case& c : cases) {
        std::string host;
        SInt32 port = 0;
        TB::OSCHelper::ParseAddress(c.text.c_str(), host, port);
        EXPECT_EQ(host, c.host) << c.text;
        EXPECT_EQ(port, c.port) << c.text;
    }
    // Only the first 1023 characters count: a port beyond them is not seen.
    std::string longText = std::string(1022, 'h') + ":1234";
    std::string host;
    SInt32 port = 0;
    TB::OSCHelper::ParseAddress(longText.c_str(), host, port);
    EXPECT_EQ(host, std::string(1022, 'h'));
    EXPECT_EQ(port, -1);
}

TEST(OSCReplyTargets, ResolvingGivesTheFirstIPv4AddressOrNothing) {
    const IpEndpointName local = TB::OSCHelper::ResolveTarget("localhost:7000");
    EXPECT_EQ(local.address, 0x7F000001ul);
    EXPECT_EQ(local.port, 7000);
    EXPECT_TRUE(TB::OSCHelper::IsDeliverable(local));
    const IpEndpointName unknown = TB::OSCHelper::ResolveTarget("nonexistent.invalid:7000");
    EXPECT_EQ(unknown.address, 0ul);
    EXPECT_FALSE(TB::OSCHelper::IsDeliverable(unknown));
    EXPECT_FALSE(TB::OSCHelper::IsDeliverable(TB::OSCHelper::ResolveTarget("127.0.0.1")));
    EXPECT_FALSE(TB::OSCHelper::IsDeliverable(TB::OSCHelper::ResolveTarget("127.0.0.1:70000")));
    EXPECT_FALSE(TB::OSCHelper::IsDeliverable(TB::OSCHelper::ResolveTarget("127.0.0.1:0")));
}

TEST_F(OSCDispatchTest, PingAnswersWithTheListeningAddressAndTheVersion) {
    const int port = FreePort(kReplyPorts + 40);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(Listen(port));

    Receiver client(kReplyPorts + 50);
    std::optional<Received> reply;
    ASSERT_TRUE(WaitUntil([&] {
        SendTo(port, Packet("/ping", {client.Target(), std::string("/pong")}));
        reply = client.Next(0.1);
        return reply.has_value();
    }));
    EXPECT_TRUE(reply->inImmediateBundle);
    EXPECT_EQ(reply->types, "ss");
    EXPECT_EQ(reply->strings[0], "osc.udp://127.0.0.1:" + std::to_string(port));
    EXPECT_EQ(reply->strings[1], "Marrowfin 1.1.0");

    // The text works as a reply target, and the listening socket still receives afterwards.
    SendTo(port, Packet("/get", {osc::int32(7), reply->strings[0].substr(0, 10) + client.Target(), std::string("/v")}));
    auto value = client.Next();
    ASSERT_TRUE(value);
    EXPECT_EQ(value->numbers[1], 800);
    // Sent back to itself, a "/set" through the ping's address reaches the unit.
    std::string host;
    SInt32 pingPort = 0;
    TB::OSCHelper::ParseAddress(reply->strings[0].c_str(), host, pingPort);
    SendTo(pingPort, Packet("/set", {osc::int32(7), 123.0f}));
    EXPECT_TRUE(WaitUntil([&] { return m_host.Parameter(7) == 123.0f; }));
}

TEST_F(OSCDispatchTest, AReplyThatCannotBeSentDoesNotEndListening) {
    const int port = FreePort(kReplyPorts + 60);
    ASSERT_GT(port, 0);
    ASSERT_TRUE(Listen(port));
    // A broadcast target: no socket can be connected without permission to broadcast; and a
    // multicast one with nowhere to route.
    testing::internal::CaptureStdout();
    SendTo(port, Packet("/get", {osc::int32(1), std::string("255.255.255.254:9"), std::string("/x")}));
    SendTo(port, Packet("/set", {osc::int32(2), 0.25f}));
    EXPECT_TRUE(WaitUntil([&] { return m_host.Parameter(2) == 0.25f; }));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(OSC().GetBoundPort(), port);
}
