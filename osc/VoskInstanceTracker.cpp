#include "osc/VoskInstanceTracker.h"

#include <algorithm>

#include "effect/DataToGui.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/AUBase.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/AudioUnitAPI.h"

namespace {

MPCriticalRegionID CreateRegion() {
    MPCriticalRegionID region = nullptr;
    MPCreateCriticalRegion(&region);
    return region;
}

class RegistryLock {
public:
    explicit RegistryLock(MPCriticalRegionID region) : m_region(region) {
        MPEnterCriticalRegion(m_region, kDurationForever);
    }
    ~RegistryLock() { MPExitCriticalRegion(m_region); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

private:
    MPCriticalRegionID m_region;
};

// The unit's OSC index matches when its "OSC Port Offset" equals the index exactly.
bool Matches(AUBase* unit, Float32 oscIndex) noexcept {
    try {
        return unit->Globals()->GetParameter(kParam_OSCPortOffset) == oscIndex;
    } catch (...) {
        return false;
    }
}

DataToGui* GuiData(AUBase* unit) noexcept {
    DataToGui* data = nullptr;
    UInt32 size = sizeof data;
    if (AudioUnitGetProperty(unit->GetComponentInstance(), kMarrowfinProperty_DataToGui, kAudioUnitScope_Global, 0,
                             &data, &size) != noErr ||
        size != sizeof data)
        return nullptr;
    return data;
}

}  // namespace

std::vector<AUBase*> VoskInstanceTracker::ms_instances;
MPCriticalRegionID VoskInstanceTracker::ms_criticalSection = CreateRegion();

void VoskInstanceTracker::Add(AUBase* unit) {
    RegistryLock lock(ms_criticalSection);
    ms_instances.push_back(unit);
}

void VoskInstanceTracker::Remove(AUBase* unit) {
    RegistryLock lock(ms_criticalSection);
    ms_instances.erase(std::remove(ms_instances.begin(), ms_instances.end(), unit), ms_instances.end());
}

void VoskInstanceTracker::SetParameterOnAllByOSCIndex(SInt32 oscIndex, SInt32 id, Float32 value) {
    RegistryLock lock(ms_criticalSection);
    const Float32 key = static_cast<Float32>(oscIndex);
    for (AUBase* unit : ms_instances) {
        if (!Matches(unit, key)) continue;
        AudioUnitParameter parameter{unit->GetComponentInstance(), static_cast<AudioUnitParameterID>(id),
                                     kAudioUnitScope_Global, 0};
        try {
            AUParameterSet(nullptr, nullptr, &parameter, value, 0);  // a refused id fails quietly
        } catch (...) {
        }
    }
}

Float32 VoskInstanceTracker::GetParameterFromAllByOSCIndex(SInt32 oscIndex, SInt32 id) {
    RegistryLock lock(ms_criticalSection);
    const Float32 key = static_cast<Float32>(oscIndex);
    for (AUBase* unit : ms_instances) {
        if (!Matches(unit, key)) continue;
        try {
            return unit->Globals()->GetParameter(static_cast<AudioUnitParameterID>(id));
        } catch (...) {
            return 0;
        }
    }
    return 0;
}

void VoskInstanceTracker::SetGUIBoolValueOnAllByOSCIndex(SInt32 oscIndex, SInt32 index, SInt32 value) {
    if (index < 0 || index >= kNumGUIBools) return;
    RegistryLock lock(ms_criticalSection);
    const Float32 key = static_cast<Float32>(oscIndex);
    for (AUBase* unit : ms_instances) {
        if (!Matches(unit, key)) continue;
        if (DataToGui* data = GuiData(unit)) data->SetGUIBool(index, value != 0);
    }
}

bool VoskInstanceTracker::GetGUIBoolValueFromAllByOSCIndex(SInt32 oscIndex, SInt32 index) {
    if (index < 0 || index >= kNumGUIBools) return false;
    RegistryLock lock(ms_criticalSection);
    const Float32 key = static_cast<Float32>(oscIndex);
    for (AUBase* unit : ms_instances) {
        if (!Matches(unit, key)) continue;
        DataToGui* data = GuiData(unit);
        return data ? data->GetGUIBool(index) : false;
    }
    return false;
}
