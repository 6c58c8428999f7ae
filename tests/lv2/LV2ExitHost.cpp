// A host that loads the plug-in with lilv, activates instances, runs a block and returns from
// main without freeing anything, as some hosts do. The process must end with status 0: no
// abort from a static destructor, no crash from a thread that outlives the objects it uses.
// Usage: marrowfin_lv2_exit_host BUNDLE
#include <cstdio>

#include "lv2/MarrowfinLV2Ports.h"
#include "tests/lv2/LilvHost.h"

using namespace MarrowfinLV2Test;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: marrowfin_lv2_exit_host BUNDLE\n");
        return 2;
    }
    auto* world = new LilvHostWorld(argv[1]);
    auto* map = new LilvUridMap;
    const LilvPlugin* plugin = world->Plugin(MarrowfinLV2::kStereoURI);
    // One instance activated with MIDI on its way to the script, one left deactivated after a
    // cycle, one never activated.
    auto* active = new LilvHostInstance(*world, plugin, 48000, *map);
    auto* cycled = new LilvHostInstance(*world, plugin, 48000, *map);
    auto* idle = new LilvHostInstance(*world, plugin, 48000, *map);
    if (!active->Ok() || !cycled->Ok() || !idle->Ok()) {
        std::fprintf(stderr, "marrowfin_lv2_exit_host: cannot instantiate %s\n", MarrowfinLV2::kStereoURI);
        return 1;
    }
    active->Activate();
    active->AddMidi(0, {0x90, 60, 100});
    active->Run();
    cycled->Activate();
    cycled->Run();
    cycled->Deactivate();
    std::printf("marrowfin_lv2_exit_host: leaving with three instances alive\n");
    return 0;
}
