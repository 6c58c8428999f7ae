// Fuzz target: a class-info state as a host hands it over, in either property-list form (XML,
// or binary when it starts with "bplist"): the checked parse, libplist's writers on what it
// accepted, the unit's restore through the component interface and a save afterwards.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "hostframework/PropertyListParse.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AudioUnit unit = [] {
        fuzz::Setup();
        return fuzz::OpenUnit();
    }();
    if (!unit) return 0;
    plist_t state = ParsePropertyList(reinterpret_cast<const char*>(data), size, nullptr);
    if (!state) return 0;

    char* text = nullptr;
    uint32_t length = 0;
    plist_to_xml(state, &text, &length);
    if (text) plist_to_xml_free(text);
    text = nullptr;
    plist_to_bin(state, &text, &length);
    if (text) plist_to_bin_free(text);

    AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, sizeof state);
    plist_free(state);
    plist_t saved = nullptr;
    UInt32 savedSize = sizeof saved;
    if (AudioUnitGetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &saved, &savedSize) == noErr &&
        saved)
        plist_free(saved);
    return 0;
}
