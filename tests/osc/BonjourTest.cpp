// Bonjour publication of a listening OSC service, checked with avahi-browse. Needs dbus and
// avahi-daemon (the test command starts a loopback-only one); skipped without them.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include <avahi-client/client.h>
#include <avahi-common/simple-watch.h>

#include "osc/OSCHelper.h"
#include "tests/support/Process.h"
#include "tests/support/Udp.h"

using namespace TB;

namespace {

bool AvahiDaemonRuns() {
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (!poll) return false;
    int error = 0;
    AvahiClient* client = avahi_client_new(
        avahi_simple_poll_get(poll), AvahiClientFlags(0), [](AvahiClient*, AvahiClientState, void*) {}, nullptr, &error);
    const bool runs = client && avahi_client_get_state(client) == AVAHI_CLIENT_S_RUNNING;
    if (client) avahi_client_free(client);
    avahi_simple_poll_free(poll);
    return runs;
}

// Names of the resolved "_osc._udp" services on `port`. avahi-browse escapes names: "\032" is a
// space (decimal), "\." a dot.
std::vector<std::string> PublishedOn(int port) {
    std::vector<std::string> names;
    FILE* pipe = popen("timeout 4 avahi-browse -rpt _osc._udp 2>/dev/null", "r");
    if (!pipe) return names;
    char line[2048];
    while (fgets(line, sizeof line, pipe)) {
        std::vector<std::string> f(1);
        for (const char* c = line; *c; ++c)
            if (*c == ';') f.emplace_back();
            else f.back().push_back(*c);
        if (f.size() < 9 || f[0] != "=" || f[4] != "_osc._udp" || f[8] != std::to_string(port)) continue;
        std::string name;
        for (size_t i = 0; i < f[3].size(); ++i) {
            if (f[3][i] == '\\' && i + 3 < f[3].size() && isdigit(UInt8(f[3][i + 1]))) {
                name += char(std::stoi(f[3].substr(i + 1, 3)));
                i += 3;
            } else {
                name += f[3][i] == '\\' ? f[3][++i] : f[3][i];
            }
        }
        names.push_back(name);
    }
    pclose(pipe);
    return names;
}

bool IsOurName(const std::string& name) {
    const std::string expected = OSCHelper::BonjourServiceName();
    return name == expected || name.rfind(expected + " #", 0) == 0;  // " #2": a name collision
}

bool PublishedAs(int port, bool present) {
    return WaitUntil(
        [&] {
            bool found = false;
            for (const std::string& name : PublishedOn(port)) found = found || IsOurName(name);
            return found == present;
        },
        20.0);
}

}  // namespace

TEST(OSCHelperBonjour, ListeningPortsArePublishedWithdrawnAndRenamedOnACollision) {
    if (!AvahiDaemonRuns()) GTEST_SKIP() << "avahi-daemon is not running (scripts/test starts a loopback-only one)";
    const int first = FreePortRun(47300, 3);
    ASSERT_GT(first, 0);
    OSCHelper helper(nullptr, nullptr), other(nullptr, nullptr);
    helper.CreateTask();
    EXPECT_TRUE(PublishedOn(first).empty());

    helper.SetPort(first);
    ASSERT_TRUE(WaitUntil([&] { return helper.GetBoundPort() == first; }));
    EXPECT_TRUE(PublishedAs(first, true));
    helper.SetPort(first + 1);
    EXPECT_TRUE(PublishedAs(first + 1, true));
    EXPECT_TRUE(PublishedAs(first, false));

    // Same name on one machine: the second moves to an alternative name and both stay visible.
    other.CreateTask();
    other.SetPort(first + 2);
    EXPECT_TRUE(PublishedAs(first + 2, true));
    EXPECT_TRUE(PublishedAs(first + 1, true));

    helper.DestroyTask();
    EXPECT_TRUE(PublishedAs(first + 1, false));
}
