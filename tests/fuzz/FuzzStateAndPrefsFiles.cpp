// Fuzz target: the same bytes as an ".aupreset" file read and restored into a unit (the
// command-line host's --state), and as the preferences file every key is read from.
#include <cstddef>
#include <cstdint>
#include <string>

#include "hostframework/ClassInfoFile.h"
#include "osc/Preferences.h"
#include "tests/fuzz/FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static AudioUnit unit = [] {
        fuzz::Setup();
        return fuzz::OpenUnit();
    }();
    static const std::string preset = fuzz::Setup() + "/fuzz.aupreset";
    if (!unit) return 0;

    fuzz::WriteFile(preset, data, size);
    std::string why;
    if (plist_t state = ReadClassInfoFile(preset, &why)) {
        AudioUnitSetProperty(unit, kAudioUnitProperty_ClassInfo, kAudioUnitScope_Global, 0, &state, sizeof state);
        plist_free(state);
    }

    fuzz::WriteFile(GetPrefsFilePath(), data, size);
    for (const char* key : {kPrefOSCBasePort, kPrefEnableEyeCandy, kPrefEnableConstantRedraw, kPrefEnableFloatingTooltip})
        GetPrefInt(key, 1);
    std::string skin;
    GetPrefString(kPrefSkin, skin);
    return 0;
}
