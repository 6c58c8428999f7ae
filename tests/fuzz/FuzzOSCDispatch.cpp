// Fuzz target: one datagram into a live unit's OSC service, exactly as the receive task hands
// it on: the structural check, then oscpack's parse and the address dispatcher (parameters,
// replies, subscriptions, script calls and script-registered addresses).
#include <cstddef>
#include <cstdint>

#include <oscpack/ip/IpEndpointName.h>

#include "effect/VoskMarrowfin.h"
#include "hostframework/ComponentBase.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

// Functions for "/exec" and "/call", and a registered address for the dispatcher to find.
constexpr char kScript[] = R"(
function add(a, b) return a + b end
function echo(...) return ... end
function fail() error("failed") end
registerOSCPathForParameter("/cutoff", 7)
registerOSCPathForParameterNormalized("/both", {5, 6})
)";

TB::OSCHelper* Service() {
    static TB::OSCHelper* service = [] {
        const std::string& root = fuzz::Setup();
        fuzz::WriteFile(root + "/data/Tallow Bright/Marrowfin/Scripts/fuzz.lua",
                        reinterpret_cast<const uint8_t*>(kScript), sizeof kScript - 1);
        AudioUnit unit = fuzz::OpenUnit();  // kept open for the whole run
        if (!unit) return static_cast<TB::OSCHelper*>(nullptr);
        auto* effect = dynamic_cast<VoskMarrowfin*>(static_cast<ComponentBase*>(GetComponentInstanceStorage(unit)));
        return &effect->GetOSCHelper();
    }();
    return service;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TB::OSCHelper* service = Service();
    if (!service || size > 65536) return 0;
    service->HandlePacket(reinterpret_cast<const char*>(data), int(size), IpEndpointName(127, 0, 0, 1, 9000));
    return 0;
}
