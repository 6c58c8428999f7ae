#include "hostframework/AUMIDIBase.h"

namespace {
enum : UInt8 {
    kMidiNoteOff = 0x80,
    kMidiNoteOn = 0x90,
    kMidiPolyPressure = 0xA0,
    kMidiControlChange = 0xB0,
    kMidiProgramChange = 0xC0,
    kMidiChannelPressure = 0xD0,
    kMidiPitchWheel = 0xE0,
    kMidiCC_AllSoundOff = 120,
    kMidiCC_ResetAllControllers = 121,
    kMidiCC_AllNotesOff = 123,
};
}  // namespace

AUMIDIBase::AUMIDIBase(AUBase* inBase) : m_auBaseInstance(inBase) {}
AUMIDIBase::~AUMIDIBase() {}

OSStatus AUMIDIBase::DelegateGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement,
                                             UInt32& outDataSize, Boolean& outWritable) {
    if (inID != kMusicDeviceProperty_MIDIXMLNames) return kAudioUnitErr_InvalidProperty;
    if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
    OSStatus result = GetXMLNames(nullptr);
    if (result != noErr) return result;
    outDataSize = sizeof(CFURLRef);
    outWritable = false;
    return noErr;
}

OSStatus AUMIDIBase::DelegateGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement,
                                         void* outData) {
    if (inID != kMusicDeviceProperty_MIDIXMLNames) return kAudioUnitErr_InvalidProperty;
    if (inScope != kAudioUnitScope_Global) return kAudioUnitErr_InvalidScope;
    return GetXMLNames(static_cast<CFURLRef*>(outData));
}

OSStatus AUMIDIBase::DelegateSetProperty(AudioUnitPropertyID inID, AudioUnitScope, AudioUnitElement, const void*,
                                         UInt32) {
    if (inID == kMusicDeviceProperty_MIDIXMLNames) return kAudioUnitErr_PropertyNotWritable;
    return kAudioUnitErr_InvalidProperty;
}

OSStatus AUMIDIBase::GetXMLNames(CFURLRef*) { return kAudioUnitErr_InvalidProperty; }

OSStatus AUMIDIBase::HandleMidiEvent(UInt8 inStatus, UInt8 inChannel, UInt8 inData1, UInt8 inData2,
                                     UInt32 inStartFrame) {
    if (m_auBaseInstance == nullptr || !m_auBaseInstance->IsInitialized()) return kAudioUnitErr_Uninitialized;
    switch (inStatus) {
    case kMidiNoteOn:
        if (inData2 != 0) return HandleNoteOn(inChannel, inData1, inData2, inStartFrame);
        return HandleNoteOff(inChannel, inData1, 0, inStartFrame);
    case kMidiNoteOff:
        return HandleNoteOff(inChannel, inData1, inData2, inStartFrame);
    default:
        return HandleNonNoteEvent(inStatus, inChannel, inData1, inData2, inStartFrame);
    }
}

OSStatus AUMIDIBase::HandleNonNoteEvent(UInt8 inStatus, UInt8 inChannel, UInt8 inData1, UInt8 inData2,
                                        UInt32 inStartFrame) {
    switch (inStatus) {
    case kMidiPolyPressure:
        return HandlePolyPressure(inChannel, inData1, inData2, inStartFrame);
    case kMidiControlChange:
        switch (inData1) {
        case kMidiCC_AllSoundOff: return HandleAllSoundOff(inChannel);
        case kMidiCC_ResetAllControllers: return HandleResetAllControllers(inChannel);
        case kMidiCC_AllNotesOff: return HandleAllNotesOff(inChannel);
        default: return HandleControlChange(inChannel, inData1, inData2, inStartFrame);
        }
    case kMidiProgramChange:
        return HandleProgramChange(inChannel, inData1);
    case kMidiChannelPressure:
        return HandleChannelPressure(inChannel, inData1, inStartFrame);
    case kMidiPitchWheel:
        return HandlePitchWheel(inChannel, inData1, inData2, inStartFrame);
    default:
        return noErr;
    }
}

OSStatus AUMIDIBase::HandleNoteOn(UInt8, UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandleNoteOff(UInt8, UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandleControlChange(UInt8, UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandlePitchWheel(UInt8, UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandleChannelPressure(UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandleProgramChange(UInt8, UInt8) { return noErr; }
OSStatus AUMIDIBase::HandlePolyPressure(UInt8, UInt8, UInt8, UInt32) { return noErr; }
OSStatus AUMIDIBase::HandleResetAllControllers(UInt8) { return noErr; }
OSStatus AUMIDIBase::HandleAllNotesOff(UInt8) { return noErr; }
OSStatus AUMIDIBase::HandleAllSoundOff(UInt8) { return noErr; }
OSStatus AUMIDIBase::HandleSysEx(const UInt8*, UInt32) { return noErr; }

OSStatus AUMIDIBase::MIDIEvent(UInt32 inStatus, UInt32 inData1, UInt32 inData2, UInt32 inOffsetSampleFrame) {
    const UInt8 status = UInt8(inStatus & 0xF0);
    const UInt8 channel = UInt8(inStatus & 0x0F);
    return HandleMidiEvent(status, channel, UInt8(inData1), UInt8(inData2), inOffsetSampleFrame);
}

OSStatus AUMIDIBase::SysEx(const UInt8* inData, UInt32 inLength) {
    if (m_auBaseInstance == nullptr || !m_auBaseInstance->IsInitialized()) return kAudioUnitErr_Uninitialized;
    if (inData == nullptr && inLength != 0) return paramErr;
    return HandleSysEx(inData, inLength);
}

OSStatus AUMIDIBase::ComponentEntryDispatch(ComponentParameters* params, AUMIDIBase* This) {
    if (params == nullptr || This == nullptr) return paramErr;
    try {
        switch (params->what) {
        case kMusicDeviceMIDIEventSelect:
            return This->MIDIEvent(UInt32(params->params[0]), UInt32(params->params[1]), UInt32(params->params[2]),
                                   UInt32(params->params[3]));
        case kMusicDeviceSysExSelect:
            return This->SysEx(reinterpret_cast<const UInt8*>(params->params[0]), UInt32(params->params[1]));
        default:
            return badComponentSelector;
        }
    } catch (...) {
        return ComponentBase::ResultFromCurrentException();
    }
}
