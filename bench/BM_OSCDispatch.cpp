// The OSC address dispatcher alone: messages per second for "/set" (through the host's
// parameter-set call into the unit) and "/get" (a reply bundle sent from a fresh UDP socket).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include <oscpack/osc/OscOutboundPacketStream.h>

#include "effect/VoskMarrowfin.h"
#include "effect/VoskMarrowfinEntry.h"
#include "hostframework/ComponentBase.h"

namespace {

struct OpenUnit {
    AudioComponentInstance instance = nullptr;
    TB::OSCHelper* osc = nullptr;
    OpenUnit() {
        setenv("XDG_DATA_HOME", "/nonexistent-marrowfin-bench", 1);
        setenv("XDG_DATA_DIRS", "/nonexistent-marrowfin-bench", 1);
        instance = OpenMarrowfin();
        if (instance)
            osc = &dynamic_cast<VoskMarrowfin*>(static_cast<ComponentBase*>(GetComponentInstanceStorage(instance)))
                       ->GetOSCHelper();
    }
    ~OpenUnit() {
        if (instance) CloseComponent(instance);
    }
};

std::string SetPacket(int id, float value) {
    char buffer[256];
    osc::OutboundPacketStream p(buffer, sizeof buffer);
    p << osc::BeginMessage("/set") << osc::int32(id) << value << osc::EndMessage;
    return std::string(p.Data(), p.Size());
}

void BM_DispatchSet(benchmark::State& state) {
    OpenUnit unit;
    if (!unit.osc) {
        state.SkipWithError("cannot open the unit");
        return;
    }
    const std::string packet = SetPacket(5, 3.0f);
    const IpEndpointName from(IpEndpointName::ANY_ADDRESS, 1);
    for (auto _ : state) unit.osc->HandlePacket(packet.data(), int(packet.size()), from);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DispatchSet);

void BM_DispatchGet(benchmark::State& state) {
    OpenUnit unit;
    const int sink = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!unit.osc || sink < 0 || bind(sink, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(sink, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        state.SkipWithError("cannot set up");
        if (sink >= 0) close(sink);
        return;
    }
    const std::string target = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    char buffer[256];
    osc::OutboundPacketStream p(buffer, sizeof buffer);
    p << osc::BeginMessage("/get") << osc::int32(5) << target.c_str() << "/val" << osc::EndMessage;
    const IpEndpointName from(IpEndpointName::ANY_ADDRESS, 1);
    char drain[256];
    for (auto _ : state) {
        unit.osc->HandlePacket(p.Data(), int(p.Size()), from);
        benchmark::DoNotOptimize(recv(sink, drain, sizeof drain, MSG_DONTWAIT));
    }
    state.SetItemsProcessed(state.iterations());
    close(sink);
}
BENCHMARK(BM_DispatchGet);

}  // namespace

BENCHMARK_MAIN();
