// The OSC service as the effect unit drives it, through the component interface: the stored
// base port, the "OSC Port Offset" parameter, Initialize and Cleanup.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>

#include "effect/VoskMarrowfinEntry.h"
#include "osc/Preferences.h"
#include "tests/osc/OSCTestSupport.h"
#include "tests/support/ScopedTestFolders.h"
#include "tests/support/TestHost.h"

using namespace osctest;

namespace {

constexpr AudioUnitParameterID kOffset = 39;

class OSCUnitTest : public testing::Test {
protected:
    void SetUp() override {
        m_folders.emplace("marrowfin-osc-unit");
        m_folder = m_folders->Config();
        m_savedBase = g_OSCBasePort;
    }
    void TearDown() override {
        m_folders.reset();
        g_OSCBasePort = m_savedBase;
    }
    OSStatus OpenAndFormat(TB::TestHost& host) {
        OSStatus err = host.Open(VoskMarrowfinEntry, kMarrowfinComponentDescription);
        if (err == noErr) err = host.SetFormat(48000, 2);
        return err;
    }

    std::optional<TB::ScopedTestFolders> m_folders;
    std::string m_folder;
    SInt32 m_savedBase = 7000;
};

}  // namespace

TEST_F(OSCUnitTest, TheStoredBasePortAndTheOffsetChooseTheListeningPort) {
    const int base = FreePortRun(47400, 8);
    ASSERT_GT(base, 0);
    SetPrefInt("OSC Base Port", base);

    TB::TestHost host;
    ASSERT_EQ(OpenAndFormat(host), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(g_OSCBasePort, base);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (int i = 0; i < 8; ++i) EXPECT_TRUE(PortIsFree(base + i)) << "offset 0 listens nowhere";

    ASSERT_EQ(host.SetParameter(kOffset, 5), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !PortIsFree(base + 5); }));
    ASSERT_EQ(host.SetParameter(kOffset, 6), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !PortIsFree(base + 6) && PortIsFree(base + 5); }));
    ASSERT_EQ(host.SetParameter(kOffset, 0), noErr);
    EXPECT_TRUE(WaitUntil([&] { return PortIsFree(base + 6); }));

    ASSERT_EQ(host.SetParameter(kOffset, 3), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !PortIsFree(base + 3); }));
    ASSERT_EQ(host.Uninitialize(), noErr);
    EXPECT_TRUE(WaitUntil([&] { return PortIsFree(base + 3); }));

    // An offset set while the unit is not initialised is only stored: silent after Initialize
    // until it is set again.
    ASSERT_EQ(host.SetParameter(kOffset, 4), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(PortIsFree(base + 4));
    ASSERT_EQ(host.SetParameter(kOffset, 4), noErr);
    EXPECT_TRUE(WaitUntil([&] { return !PortIsFree(base + 4); }));
    EXPECT_EQ(host.Close(), noErr);
    EXPECT_TRUE(WaitUntil([&] { return PortIsFree(base + 4); }));
}

TEST_F(OSCUnitTest, ABasePortStoredAsTextReadsAsTheDefault) {
    // Written by hand or by another tool as a string: the default 7000, not the text's number.
    const std::string path = GetPrefsFilePath();
    std::system(("mkdir -p '" + m_folder + "'").c_str());
    FILE* file = std::fopen(path.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
               "<key>OSC Base Port</key><string>9000</string></dict></plist>\n",
               file);
    std::fclose(file);
    g_OSCBasePort = 1234;
    TB::TestHost host;
    ASSERT_EQ(OpenAndFormat(host), noErr);
    ASSERT_EQ(host.Initialize(), noErr);
    EXPECT_EQ(g_OSCBasePort, 7000);
}
