#include "hostframework/AUMIDIEffectBase.h"

AUMIDIEffectBase::AUMIDIEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace)
    : AUEffectBase(inInstance, inProcessesInPlace), AUMIDIBase(this) {}

OSStatus AUMIDIEffectBase::GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                           AudioUnitElement inElement, UInt32& outDataSize, Boolean& outWritable) {
    OSStatus result = DelegateGetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    if (result == kAudioUnitErr_InvalidProperty)
        result = AUEffectBase::GetPropertyInfo(inID, inScope, inElement, outDataSize, outWritable);
    return result;
}

OSStatus AUMIDIEffectBase::GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                       void* outData) {
    OSStatus result = DelegateGetProperty(inID, inScope, inElement, outData);
    if (result == kAudioUnitErr_InvalidProperty) result = AUEffectBase::GetProperty(inID, inScope, inElement, outData);
    return result;
}

OSStatus AUMIDIEffectBase::SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                       const void* inData, UInt32 inDataSize) {
    OSStatus result = DelegateSetProperty(inID, inScope, inElement, inData, inDataSize);
    if (result == kAudioUnitErr_InvalidProperty)
        result = AUEffectBase::SetProperty(inID, inScope, inElement, inData, inDataSize);
    return result;
}

OSStatus AUMIDIEffectBase::ComponentEntryDispatch(ComponentParameters* params, AUMIDIEffectBase* This) {
    if (params == nullptr) return paramErr;
    switch (params->what) {
    case kMusicDeviceMIDIEventSelect:
    case kMusicDeviceSysExSelect:
        return AUMIDIBase::ComponentEntryDispatch(params, This);
    case kComponentCanDoSelect:
        if (params->count >= 1 && (SInt16(params->params[0]) == kMusicDeviceMIDIEventSelect ||
                                   SInt16(params->params[0]) == kMusicDeviceSysExSelect))
            return 1;
        [[fallthrough]];
    default:
        return AUBase::ComponentEntryDispatch(params, This);
    }
}
