// The plug-in in a small lilv host, in the orders real hosts call it: state restored before or
// after activation, and deactivate / activate cycles.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "lv2/MarrowfinLV2Ports.h"
#include "osc/Preferences.h"
#include "tests/lv2/LilvHost.h"
#include "tests/support/Process.h"
#include "tests/support/Udp.h"
#include "tests/support/ScopedTestFolders.h"

namespace {

using namespace MarrowfinLV2Test;

const std::string kBundle = std::string(MARROWFIN_BINARY_DIR) + "/lv2/marrowfin.lv2";

// Whether a UDP socket of this process or another is bound to `port` on IPv4, read from the
// kernel's table: looking never takes the port away from the plug-in.
bool UdpPortBound(int port) {
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local;
        fields >> slot >> local;
        const size_t colon = local.find(':');
        if (colon != std::string::npos && std::stoi(local.substr(colon + 1), nullptr, 16) == port) return true;
    }
    return false;
}

bool BecomesBound(int port) { return TB::WaitUntil([&] { return UdpPortBound(port); }); }
bool BecomesFree(int port) { return TB::WaitUntil([&] { return !UdpPortBound(port); }); }

class LV2LilvHostTest : public ::testing::Test {
protected:
    LilvHostWorld m_world{kBundle};
    LilvUridMap m_map;
    const LilvPlugin* m_stereo = m_world.Plugin(MarrowfinLV2::kStereoURI);
};

TEST_F(LV2LilvHostTest, OSCPortListensWhateverTheOrderOfRestoreAndActivation) {
    TB::ScopedTestFolders folders("marrowfin-lv2-lilv");
    const int base = TB::FreePortRun(7600, 4);
    ASSERT_GT(base, 0);
    SetPrefInt("OSC Base Port", base);  // the plug-in reads it at activation
    const int port = base + 2;

    LilvState* state = nullptr;
    {
        LilvHostInstance source(m_world, m_stereo, 48000, m_map);
        ASSERT_TRUE(source.Ok());
        source.Control("osc_port_offset") = 2;
        source.Activate();
        source.Run();
        ASSERT_TRUE(BecomesBound(port));
        state = source.Save();
        ASSERT_NE(state, nullptr);
    }
    ASSERT_TRUE(BecomesFree(port));

    // Restored before activation, as jalv does with a saved session.
    {
        LilvHostInstance instance(m_world, m_stereo, 48000, m_map);
        ASSERT_TRUE(instance.Ok());
        instance.Restore(state);
        EXPECT_EQ(instance.Control("osc_port_offset"), 2.f);
        instance.Activate();
        instance.Run();
        EXPECT_TRUE(BecomesBound(port));
        // Deactivated the port closes; activated again it listens without being touched.
        instance.Deactivate();
        EXPECT_TRUE(BecomesFree(port));
        instance.Activate();
        instance.Run();
        EXPECT_TRUE(BecomesBound(port));
    }
    ASSERT_TRUE(BecomesFree(port));

    // Restored while active.
    {
        LilvHostInstance instance(m_world, m_stereo, 48000, m_map);
        ASSERT_TRUE(instance.Ok());
        instance.Activate();
        instance.Run();
        instance.Restore(state);
        instance.Run();
        EXPECT_TRUE(BecomesBound(port));
        // The host moves the control while deactivated: the new port is taken at activation.
        instance.Deactivate();
        instance.Control("osc_port_offset") = 3;
        instance.Activate();
        instance.Run();
        EXPECT_TRUE(BecomesBound(base + 3));
        EXPECT_TRUE(BecomesFree(port));
    }
    lilv_state_free(state);
    EXPECT_TRUE(BecomesFree(base + 3));
}

TEST_F(LV2LilvHostTest, DisplayOutputCarriesTheMetersAtTheEditorsFrameRate) {
    // For an editor that cannot reach the instance: 30 messages a second, each one vector of
    // the display values; empty sequences in between.
    LilvHostInstance instance(m_world, m_stereo, 48000, m_map);
    ASSERT_TRUE(instance.Ok());
    instance.Activate();
    for (uint32_t c = 0; c < 2; ++c) {
        std::vector<float>& in = instance.Audio(MarrowfinLV2::AudioInPort(c));
        // 187.5 Hz: two whole cycles in each 512-frame block, so the repeated block is one tone.
        for (size_t i = 0; i < in.size(); ++i) in[i] = float(0.5 * std::sin(2 * 3.14159265 * 187.5 * double(i) / 48000));
    }
    const LV2_URID vectorType = m_map.Map(LV2_ATOM__Vector), floatType = m_map.Map(LV2_ATOM__Float);
    int messages = 0;
    float frequency = 0, peak = 0;
    for (int block = 0; block < 48000 / int(LilvHostInstance::kBlock); ++block) {  // about one second
        instance.Run();
        const LV2_Atom_Sequence* seq = instance.Output();
        ASSERT_EQ(seq->atom.type, m_map.Map(LV2_ATOM__Sequence));
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            ASSERT_EQ(ev->body.type, vectorType);
            const auto* vector = reinterpret_cast<const LV2_Atom_Vector*>(&ev->body);
            ASSERT_EQ(vector->body.child_type, floatType);
            ASSERT_EQ((ev->body.size - sizeof(LV2_Atom_Vector_Body)) / sizeof(float), MarrowfinLV2::kDisplayValues);
            const float* values = reinterpret_cast<const float*>(&vector->body + 1);
            frequency = values[1];  // the right channel's
            peak = values[2];
            ++messages;
        }
    }
    EXPECT_NEAR(messages, 30, 2);
    EXPECT_NEAR(frequency, 187.5, 3);
    EXPECT_GT(peak, 0.f);
}

}  // namespace
