// The LV2 entry points: two descriptors (mono, stereo), the state and the worker interface.
// Only lv2_descriptor leaves the binary. No exception leaves an entry point: the host is C.
#include <lv2/core/lv2.h>
#include <lv2/state/state.h>
#include <lv2/worker/worker.h>

#include <cstring>
#include <exception>

#include "effect/DataToGui.h"
#include "hostframework/AUParameterServices.h"
#include "lv2/MarrowfinLV2EditorAccess.h"
#include "lv2/VoskMarrowfinLV2.h"

namespace {

VoskMarrowfinLV2* Self(LV2_Handle instance) { return static_cast<VoskMarrowfinLV2*>(instance); }

// Runs a non-real-time entry point; an exception is logged as one line and becomes `failed`.
template <typename Result, typename Call>
Result Guarded(const char* what, Result failed, Call call) noexcept {
    try {
        return call();
    } catch (const std::exception& e) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: %s: %s\n", what, e.what());
    } catch (...) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 error: %s failed\n", what);
    }
    return failed;
}

// Instantiation threading class.
template <uint32_t kChannels>
LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char* bundlePath, const LV2_Feature* const* features) {
    return VoskMarrowfinLV2::Create(kChannels, rate, bundlePath, features);
}

// Audio threading class.
void ConnectPort(LV2_Handle instance, uint32_t port, void* data) { Self(instance)->ConnectPort(port, data); }
void Run(LV2_Handle instance, uint32_t frames) { Self(instance)->Run(frames); }

// Instantiation threading class.
void Activate(LV2_Handle instance) {
    Guarded("activate", 0, [&] { return Self(instance)->Activate(), 0; });
}
void Deactivate(LV2_Handle instance) {
    Guarded("deactivate", 0, [&] { return Self(instance)->Deactivate(), 0; });
}
void Cleanup(LV2_Handle instance) {
    Guarded("cleanup", 0, [&] { return delete Self(instance), 0; });
}

LV2_State_Status SaveState(LV2_Handle instance, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                           const LV2_Feature* const*) {
    return Guarded("save", LV2_STATE_ERR_UNKNOWN, [&] { return Self(instance)->Save(store, handle); });
}

LV2_State_Status RestoreState(LV2_Handle instance, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                              uint32_t, const LV2_Feature* const*) {
    return Guarded("restore", LV2_STATE_ERR_UNKNOWN, [&] { return Self(instance)->Restore(retrieve, handle); });
}

const LV2_State_Interface kStateInterface = {SaveState, RestoreState};

// The host's worker thread.
LV2_Worker_Status Work(LV2_Handle instance, LV2_Worker_Respond_Function, LV2_Worker_Respond_Handle, uint32_t size,
                       const void* data) {
    return Guarded("work", LV2_WORKER_ERR_UNKNOWN, [&] { return Self(instance)->Work(size, data); });
}

// Audio thread: the worker never responds.
LV2_Worker_Status WorkResponse(LV2_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

const LV2_Worker_Interface kWorkerInterface = {Work, WorkResponse, nullptr};

// The editor's way to the unit (host UI thread).
float EditorGetParameter(LV2_Handle instance, uint32_t id) {
    AudioUnitParameterValue value = 0;
    if (instance && id < uint32_t(kNumParams))
        AudioUnitGetParameter(Self(instance)->Unit(), id, kAudioUnitScope_Global, 0, &value);
    return value;
}

void EditorSetParameter(LV2_Handle instance, uint32_t id, float value) {
    if (!instance || id >= uint32_t(kNumParams) || value != value) return;
    const AudioUnitParameter parameter{Self(instance)->Unit(), id, kAudioUnitScope_Global, 0};
    Guarded("editor parameter", 0, [&] { return AUParameterSet(nullptr, nullptr, &parameter, value, 0), 0; });
}

DataToGui* EditorData(LV2_Handle instance) {
    if (!instance) return nullptr;
    DataToGui* data = nullptr;
    UInt32 size = sizeof data;
    if (AudioUnitGetProperty(Self(instance)->Unit(), kMarrowfinProperty_DataToGui, kAudioUnitScope_Global, 0, &data,
                             &size) != noErr || size != sizeof data)
        return nullptr;
    return data;
}

const MarrowfinLV2::EditorAccess kEditorAccess = {MarrowfinLV2::kEditorAccessVersion, EditorGetParameter,
                                                  EditorSetParameter, EditorData};

// Discovery threading class.
const void* ExtensionData(const char* uri) {
    if (uri && !std::strcmp(uri, LV2_STATE__interface)) return &kStateInterface;
    if (uri && !std::strcmp(uri, MarrowfinLV2::kEditorAccessURI)) return &kEditorAccess;
    if (uri && !std::strcmp(uri, LV2_WORKER__interface)) return &kWorkerInterface;
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
