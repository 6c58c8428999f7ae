// Update subscriptions and the notification task: who receives which change, in which order,
// and what happens when the queue is full.
#include <sstream>

#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

namespace {

class OSCNotifyTest : public MarrowfinOSCTest {
protected:
    void SetUp() override {
        MarrowfinOSCTest::SetUp();
        ASSERT_GT(m_client.Port(), 0);
    }
    void Subscribe(int id, const std::string& target, const std::string& reply, bool add = true) {
        Send(add ? "/registerUpdate" : "/unregisterUpdate", {osc::int32(id), target, reply});
    }
    std::string Addresses(const std::vector<Received>& got) {
        std::ostringstream all;
        for (const Received& r : got) all << r.address << "=" << r.numbers.at(1) << " ";
        return all.str();
    }
    Receiver m_client{47800};
};

}  // namespace

TEST_F(OSCNotifyTest, ADuplicateSubscriptionCountsOnceAndSurvivesCleanup) {
    ASSERT_EQ(m_host.Initialize(), noErr);
    Subscribe(0, m_client.Target(), "/dry");
    Subscribe(0, "osc.udp://" + m_client.Target() + "/", "/dry");  // the same target written otherwise
    Subscribe(1, "127.0.0.1", "/noport");                          // stored, never delivered
    Subscribe(1, m_client.Target(), "/wet");
    ASSERT_EQ(OSC().UpdateTargets(0).size(), 1u);
    ASSERT_EQ(OSC().UpdateTargets(1).size(), 2u);
    ASSERT_EQ(m_host.Uninitialize(), noErr);
    ASSERT_EQ(m_host.Initialize(), noErr);

    ASSERT_EQ(m_host.SetParameter(0, 0.5f), noErr);
    std::vector<Received> got = m_client.Drain(0.3);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_TRUE(got[0].inImmediateBundle);
    EXPECT_EQ(got[0].address + got[0].types, "/dryif");
    EXPECT_EQ(got[0].numbers, (std::vector<double>{0, 0.5}));
    ASSERT_EQ(m_host.SetParameter(1, 0.125f), noErr);
    EXPECT_EQ(Addresses(m_client.Drain(0.3)), "/wet=0.125 ");

    Subscribe(0, m_client.Target(), "/other", false);  // matches nothing: no change
    EXPECT_EQ(OSC().UpdateTargets(0).size(), 1u);
    Subscribe(0, m_client.Target(), "/dry", false);
    EXPECT_TRUE(OSC().UpdateTargets(0).empty());
    ASSERT_EQ(m_host.SetParameter(0, 0.25f), noErr);
    EXPECT_TRUE(m_client.Drain(0.3).empty());
    EXPECT_EQ(OSC().QueuedChanges(), 0u);  // nothing queued without a subscriber
}

TEST_F(OSCNotifyTest, SubscribersOfOneParameterGetEveryChangeInSubscriptionOrder) {
    ASSERT_EQ(m_host.Initialize(), noErr);
    Subscribe(5, m_client.Target(), "/b");
    Subscribe(5, m_client.Target(), "/a");
    Subscribe(6, m_client.Target(), "/other");
    for (float v : {1.f, 2.f, 3.f}) ASSERT_EQ(m_host.SetParameter(5, v), noErr);
    EXPECT_EQ(Addresses(m_client.Drain(0.3)), "/b=1 /a=1 /b=2 /a=2 /b=3 /a=3 ");
    // "/getAllRegistered": one packet per subscription, by id, then in subscription order.
    ASSERT_EQ(m_host.SetParameter(6, -2.f), noErr);
    m_client.Drain(0.2);
    Send("/getAllRegistered", {});
    EXPECT_EQ(Addresses(m_client.Drain(0.3)), "/b=3 /a=3 /other=-2 ");
}

TEST_F(OSCNotifyTest, AFullQueueDropsTheSixtyFourthChangeWithOneLineAndDeliversTheRestLater) {
    // Not initialised: no notification task runs, so changes wait in the queue.
    Subscribe(12, m_client.Target(), "/gain");
    testing::internal::CaptureStderr();
    for (int i = 0; i < 64; ++i) ASSERT_EQ(m_host.SetParameter(12, float(i)), noErr);
    EXPECT_EQ(OSC().QueuedChanges(), 63u);
    EXPECT_TRUE(m_client.Drain(0.1).empty());

    // The task starts and sends what waited, in order, without a further change; it, not the
    // setter (which may be the render thread), reports the drop.
    ASSERT_EQ(m_host.Initialize(), noErr);
    std::vector<Received> got = m_client.Drain(0.5);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "OSCHelper::SetParamQueue::Write() overflow\n");
    ASSERT_EQ(got.size(), 63u);
    for (int i = 0; i < 63; ++i) EXPECT_EQ(got[i].numbers[1], i);
    ASSERT_EQ(m_host.SetParameter(12, 99.f), noErr);
    EXPECT_EQ(Addresses(m_client.Drain(0.3)), "/gain=99 ");
}
