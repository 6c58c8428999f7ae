// Fuzz target: the command-line host's standard MIDI file reader (our own structure check and
// re-encoding, then libsmf) on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "apps/AppError.h"
#include "apps/MidiFileEvents.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = !fuzz::Setup().empty();
    (void)ready;
    try {
        MarrowfinApp::ParseMidiFile(std::vector<uint8_t>(data, data + size), "fuzz.mid", 44100.0);
    } catch (const MarrowfinApp::AppError&) {
        // Refused with a message: what bad input should get.
    }
    return 0;
}
