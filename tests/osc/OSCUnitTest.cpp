// The OSC service as the effect unit drives it, through the component interface: the stored
// base port, the "OSC Port Offset" parameter, Initialize, Uninitialize and Close.
#include <thread>

#include "tests/osc/OSCRemoteSupport.h"

using namespace osctest;

TEST(OSCUnitTest, TheStoredBasePortAndTheOffsetChooseTheListeningPort) {
    constexpr AudioUnitParameterID kOffset = 39;
    ScopedTestFolders folders("marrowfin-osc-unit");
    const SInt32 savedBase = g_OSCBasePort;
    const int base = FreePortRun(47400, 8);
    ASSERT_GT(base, 0);
    SetPrefInt("OSC Base Port", base);
    TestHost host;
    ASSERT_EQ(host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription), noErr);
    ASSERT_EQ(host.SetFormat(48000, 2), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(g_OSCBasePort, base);
    auto bound = [&](int offset) { return !PortIsFree(base + offset); };

    ASSERT_EQ(host.SetParameter(kOffset, 5), noErr);
    EXPECT_TRUE(WaitUntil([&] { return bound(5); }));
    ASSERT_EQ(host.SetParameter(kOffset, 3), noErr);
    EXPECT_TRUE(WaitUntil([&] { return bound(3) && !bound(5); }));
    ASSERT_EQ(host.Uninitialize(), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !bound(3); }));

    // An offset set while the unit is not initialised is only stored: silent after Initialize
    // until it is set again.
    ASSERT_EQ(host.SetParameter(kOffset, 4), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(bound(4));
    ASSERT_EQ(host.SetParameter(kOffset, 4), noErr);
    EXPECT_TRUE(WaitUntil([&] { return bound(4); }));
    EXPECT_EQ(host.Close(), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !bound(4); }));
    g_OSCBasePort = savedBase;
}
