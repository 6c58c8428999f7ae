// Component instance handles and the host-side selector calls.
//
// A handle is a record that lives until the process ends: closing marks it dead, so a late call
// with a closed handle is refused instead of touching freed memory. The dispatch path reads the
// record without a lock (render thread); opening and closing take the registry lock.
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "hostframework/AudioUnitAPI.h"

struct ComponentInstanceRecord {
    static constexpr UInt32 kLive = 0x4C495645;  // 'LIVE'
    static constexpr UInt32 kDead = 0x44454144;  // 'DEAD'
    UInt32 magic = kLive;
    ComponentEntryProc entry = nullptr;
    AudioComponentDescription desc{};
    void* storage = nullptr;
};

namespace {

std::mutex& RegistryLock() {
    static std::mutex lock;
    return lock;
}
std::vector<std::unique_ptr<ComponentInstanceRecord>>& Records() {
    static auto* records = new std::vector<std::unique_ptr<ComponentInstanceRecord>>();
    return *records;
}

bool IsLive(AudioComponentInstance ci) {
    return ci != nullptr && ci->magic == ComponentInstanceRecord::kLive;
}

ComponentParameters MakeParams(SInt16 what) {
    ComponentParameters p;
    std::memset(&p, 0, sizeof p);
    p.what = what;
    return p;
}

template <class... Args>
ComponentResult Call(AudioComponentInstance ci, SInt16 what, Args... args) {
    ComponentParameters p = MakeParams(what);
    intptr_t values[] = {0, (intptr_t)args...};
    p.count = (int)sizeof...(Args);
    for (int i = 0; i < p.count; ++i) p.params[i] = values[i + 1];
    return CallComponentDispatch(ci, &p);
}

}  // namespace

AudioComponentInstance OpenComponent(ComponentEntryProc entry, const AudioComponentDescription& desc,
                                     OSStatus* outErr) {
    if (outErr) *outErr = noErr;
    if (entry == nullptr) {
        if (outErr) *outErr = paramErr;
        return nullptr;
    }
    ComponentInstanceRecord* record;
    {
        std::lock_guard<std::mutex> guard(RegistryLock());
        Records().push_back(std::make_unique<ComponentInstanceRecord>());
        record = Records().back().get();
        record->entry = entry;
        record->desc = desc;
    }
    ComponentParameters p = MakeParams(kComponentOpenSelect);
    p.count = 1;
    p.params[0] = (intptr_t)record;
    ComponentResult result = entry(&p, &record->storage);
    if (result != noErr || record->storage == nullptr) {
        record->magic = ComponentInstanceRecord::kDead;
        record->storage = nullptr;
        if (outErr) *outErr = result != noErr ? result : (OSStatus)-1;
        return nullptr;
    }
    return record;
}

OSStatus CloseComponent(AudioComponentInstance ci) {
    if (!IsLive(ci)) return badComponentInstance;
    ComponentParameters p = MakeParams(kComponentCloseSelect);
    ComponentResult result = ci->entry(&p, &ci->storage);
    ci->storage = nullptr;
    ci->magic = ComponentInstanceRecord::kDead;
    return result;
}

OSStatus GetComponentInfo(AudioComponentInstance ci, AudioComponentDescription* outDesc) {
    if (!IsLive(ci) || outDesc == nullptr) return ci ? paramErr : badComponentInstance;
    *outDesc = ci->desc;
    return noErr;
}

void* GetComponentInstanceStorage(AudioComponentInstance ci) {
    return IsLive(ci) ? ci->storage : nullptr;
}

ComponentResult CallComponentDispatch(AudioComponentInstance ci, ComponentParameters* params) {
    if (!IsLive(ci)) return badComponentInstance;
    if (params == nullptr) return paramErr;
    return ci->entry(params, &ci->storage);
}

OSStatus AudioUnitInitialize(AudioUnit ci) { return Call(ci, kAudioUnitInitializeSelect); }
OSStatus AudioUnitUninitialize(AudioUnit ci) { return Call(ci, kAudioUnitUninitializeSelect); }

OSStatus AudioUnitGetPropertyInfo(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope,
                                  AudioUnitElement element, UInt32* outDataSize, Boolean* outWritable) {
    return Call(ci, kAudioUnitGetPropertyInfoSelect, id, scope, element, outDataSize, outWritable);
}
OSStatus AudioUnitGetProperty(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                              void* outData, UInt32* ioDataSize) {
    return Call(ci, kAudioUnitGetPropertySelect, id, scope, element, outData, ioDataSize);
}
OSStatus AudioUnitSetProperty(AudioUnit ci, AudioUnitPropertyID id, AudioUnitScope scope, AudioUnitElement element,
                              const void* inData, UInt32 inDataSize) {
    return Call(ci, kAudioUnitSetPropertySelect, id, scope, element, inData, inDataSize);
}
OSStatus AudioUnitAddPropertyListener(AudioUnit ci, AudioUnitPropertyID id, AudioUnitPropertyListenerProc proc,
                                      void* refCon) {
    return Call(ci, kAudioUnitAddPropertyListenerSelect, id, (void*)proc, refCon);
}
OSStatus AudioUnitRemovePropertyListenerWithUserData(AudioUnit ci, AudioUnitPropertyID id,
                                                     AudioUnitPropertyListenerProc proc, void* refCon) {
    return Call(ci, kAudioUnitRemovePropertyListenerWithUserDataSelect, id, (void*)proc, refCon);
}
OSStatus AudioUnitAddRenderNotify(AudioUnit ci, AURenderCallback proc, void* refCon) {
    return Call(ci, kAudioUnitAddRenderNotifySelect, (void*)proc, refCon);
}
OSStatus AudioUnitRemoveRenderNotify(AudioUnit ci, AURenderCallback proc, void* refCon) {
    return Call(ci, kAudioUnitRemoveRenderNotifySelect, (void*)proc, refCon);
}
OSStatus AudioUnitGetParameter(AudioUnit ci, AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue* outValue) {
    return Call(ci, kAudioUnitGetParameterSelect, id, scope, element, outValue);
}
OSStatus AudioUnitSetParameter(AudioUnit ci, AudioUnitParameterID id, AudioUnitScope scope, AudioUnitElement element,
                               AudioUnitParameterValue value, UInt32 bufferOffsetInFrames) {
    ComponentParameters p = MakeParams(kAudioUnitSetParameterSelect);
    p.count = 4;
    p.params[0] = id;
    p.params[1] = scope;
    p.params[2] = element;
    p.params[3] = bufferOffsetInFrames;
    p.fp[0] = value;
    return CallComponentDispatch(ci, &p);
}
OSStatus AudioUnitScheduleParameters(AudioUnit ci, const AudioUnitParameterEvent* events, UInt32 numEvents) {
    return Call(ci, kAudioUnitScheduleParametersSelect, events, numEvents);
}
OSStatus AudioUnitRender(AudioUnit ci, AudioUnitRenderActionFlags* ioActionFlags, const AudioTimeStamp* inTimeStamp,
                         UInt32 inOutputBusNumber, UInt32 inNumberFrames, AudioBufferList* ioData) {
    return Call(ci, kAudioUnitRenderSelect, ioActionFlags, inTimeStamp, inOutputBusNumber, inNumberFrames, ioData);
}
OSStatus AudioUnitReset(AudioUnit ci, AudioUnitScope scope, AudioUnitElement element) {
    return Call(ci, kAudioUnitResetSelect, scope, element);
}
ComponentResult GetComponentVersion(AudioUnit ci) { return Call(ci, kComponentVersionSelect); }
ComponentResult ComponentCanDo(AudioUnit ci, SInt16 selector) { return Call(ci, kComponentCanDoSelect, selector); }

OSStatus MusicDeviceMIDIEvent(AudioUnit ci, UInt32 status, UInt32 data1, UInt32 data2, UInt32 offsetSampleFrame) {
    return Call(ci, kMusicDeviceMIDIEventSelect, status, data1, data2, offsetSampleFrame);
}
OSStatus MusicDeviceSysEx(AudioUnit ci, const UInt8* data, UInt32 length) {
    return Call(ci, kMusicDeviceSysExSelect, data, length);
}
