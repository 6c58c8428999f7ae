// The component entry points: open under the process-wide open lock, everything else through the
// framework's MIDI-effect dispatch. No exception ever leaves these functions.
#include "effect/VoskMarrowfinEntry.h"

#include <mutex>

#include "effect/VoskMarrowfin.h"

const AudioComponentDescription kMarrowfinComponentDescription = {
    kAudioUnitType_MusicEffect, FourCC("Marf"), FourCC("Vosk"), 0, 0};

namespace {

// Component opens in one process are serialised: construction touches process-wide tables
// (the preset defaults, the instance registry, the script folders).
std::mutex g_componentOpenLock;

}  // namespace

extern "C" __attribute__((visibility("default"))) ComponentResult VoskMarrowfinEntry(ComponentParameters* params,
                                                                                  void** storage) {
    if (!params || !storage) return paramErr;
    if (params->what == kComponentOpenSelect) {
        std::lock_guard<std::mutex> lock(g_componentOpenLock);
        return ComponentBase::Open<VoskMarrowfin>(params, storage);
    }
    try {
        return AUMIDIEffectBase::ComponentEntryDispatch(params, static_cast<VoskMarrowfin*>(*storage));
    } catch (...) {
        return ComponentBase::ResultFromCurrentException();
    }
}

extern "C" __attribute__((visibility("default"))) ComponentResult VoskMarrowfinViewEntry(ComponentParameters*,
                                                                                      void**) {
    return noErr;
}
