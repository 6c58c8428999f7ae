// Fuzz target: a hostile MIDI script. The bytes become the only user script in a temporary
// scripts folder; a unit is opened through the component interface (which loads it), its
// callbacks get a note, a controller, a pitch bend and a program change, and the unit is closed.
//
// The script host ends a script after about a second, so a looping input costs that long; run
// it with a -timeout of a few seconds. Scripts have Lua's whole standard library, files and
// processes included: inputs that name the libraries or functions that reach them are skipped,
// so a mutation can never remove files or start programs on the fuzzing machine.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "effect/VoskMarrowfin.h"
#include "hostframework/ComponentBase.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

bool NamesTheOutsideWorld(const uint8_t* data, size_t size) {
    static const std::set<std::string> kBlocked = {"os",       "io",         "package", "require", "debug",
                                                   "getfenv",  "setfenv",    "_G",      "dofile",  "loadfile",
                                                   "loadstring", "load",     "module",  "newproxy"};
    size_t i = 0;
    while (i < size) {
        if (std::isalpha(data[i]) || data[i] == '_') {
            const size_t start = i;
            while (i < size && (std::isalnum(data[i]) || data[i] == '_')) ++i;
            if (kBlocked.count(std::string(reinterpret_cast<const char*>(data) + start, i - start))) return true;
        } else {
            ++i;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string script = fuzz::Setup() + "/data/Tallow Bright/Marrowfin/Scripts/fuzz.lua";
    if (size > 16384 || NamesTheOutsideWorld(data, size)) return 0;
    fuzz::WriteFile(script, data, size);
    AudioUnit unit = fuzz::OpenUnit();
    if (!unit) return 0;
    auto* effect = dynamic_cast<VoskMarrowfin*>(static_cast<ComponentBase*>(GetComponentInstanceStorage(unit)));
    TB::LuaMIDIHelper& scripts = effect->GetLuaHelper();
    scripts.HandleNoteOn(0, 60, 100, 0);
    scripts.HandleControlChange(1, 7, 64, 0);
    scripts.HandlePitchWheel(0, 0, 64, 0);
    scripts.HandleProgramChange(0, 5);
    scripts.HandleNoteOff(0, 60, 0, 0);
    CloseComponent(unit);
    return 0;
}
