// The LV2 entry points: two descriptors (mono, stereo) and the state interface.
// Only lv2_descriptor leaves the binary.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>

#include <cstring>

#include "lv2/VoskMarrowfinLV2.h"

namespace {

VoskMarrowfinLV2* Self(LV2_Handle instance) { return static_cast<VoskMarrowfinLV2*>(instance); }

// Instantiation threading class.
template <uint32_t kChannels>
LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char* bundlePath, const LV2_Feature* const* features) {
    return VoskMarrowfinLV2::Create(kChannels, rate, bundlePath, features);
}

// Audio threading class.
void ConnectPort(LV2_Handle instance, uint32_t port, void* data) { Self(instance)->ConnectPort(port, data); }
void Run(LV2_Handle instance, uint32_t frames) { Self(instance)->Run(frames); }

// Instantiation threading class.
void Activate(LV2_Handle instance) { Self(instance)->Activate(); }
void Deactivate(LV2_Handle instance) { Self(instance)->Deactivate(); }
void Cleanup(LV2_Handle instance) { delete Self(instance); }

LV2_State_Status SaveState(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                           const LV2_Feature* const*) {
    return Self(instance)->Save(store, handle);
}

LV2_State_Status RestoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                              uint32_t, const LV2_Feature* const*) {
    return Self(instance)->Restore(retrieve, handle);
}

const LV2_State_Interface kStateInterface = {SaveState, RestoreState};

// Discovery threading class.
const void* ExtensionData(const char* uri) {
    if (uri && !std::strcmp(uri, LV2_STATE__interface)) return &kStateInterface;
    return nullptr;
}

const LV2_Descriptor kDescriptors[2] = {
    {MarrowfinLV2::kMonoURI, Instantiate<1>, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
    {MarrowfinLV2::kStereoURI, Instantiate<2>, ConnectPort, Activate, Run, Deactivate, Cleanup, ExtensionData},
};

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < 2 ? &kDescriptors[index] : nullptr;
}
