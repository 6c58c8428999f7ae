// MIDI input for a unit: the two MIDI selectors, the parser that splits an event into its kind
// and channel, and one handler per kind whose default does nothing and returns success.
//
// Threads: the host's MIDI delivery thread (which may be the render thread in simple hosts):
// nothing here allocates or locks. Events are refused with -10867 before the unit is initialised.
#pragma once

#include "hostframework/AUBase.h"

class AUMIDIBase {
public:
    explicit AUMIDIBase(AUBase* inBase);
    virtual ~AUMIDIBase();

    // MIDI properties (the MIDI-names property 1006 when GetXMLNames answers). Each answers
    // -10879 for a property that is not a MIDI one, so the caller asks the effect next.
    virtual OSStatus DelegateGetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope,
                                             AudioUnitElement inElement, UInt32& outDataSize, Boolean& outWritable);
    virtual OSStatus DelegateGetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                         void* outData);
    virtual OSStatus DelegateSetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                                         const void* inData, UInt32 inDataSize);

    // The parser: inStatus is the upper four bits (0x80 ... 0xE0), inChannel the lower four.
    virtual OSStatus HandleMidiEvent(UInt8 inStatus, UInt8 inChannel, UInt8 inData1, UInt8 inData2,
                                     UInt32 inStartFrame);
    // Everything but note-on and note-off.
    virtual OSStatus HandleNonNoteEvent(UInt8 inStatus, UInt8 inChannel, UInt8 inData1, UInt8 inData2,
                                        UInt32 inStartFrame);
    // Default -10879: the MIDI-names property is not offered.
    virtual OSStatus GetXMLNames(CFURLRef* outNameDocument);

    virtual OSStatus HandleNoteOn(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame);
    virtual OSStatus HandleNoteOff(UInt8 inChannel, UInt8 inNoteNumber, UInt8 inVelocity, UInt32 inStartFrame);
    virtual OSStatus HandleControlChange(UInt8 inChannel, UInt8 inController, UInt8 inValue, UInt32 inStartFrame);
    virtual OSStatus HandlePitchWheel(UInt8 inChannel, UInt8 inPitch1, UInt8 inPitch2, UInt32 inStartFrame);
    virtual OSStatus HandleChannelPressure(UInt8 inChannel, UInt8 inValue, UInt32 inStartFrame);
    virtual OSStatus HandleProgramChange(UInt8 inChannel, UInt8 inValue);
    virtual OSStatus HandlePolyPressure(UInt8 inChannel, UInt8 inKey, UInt8 inValue, UInt32 inStartFrame);
    virtual OSStatus HandleResetAllControllers(UInt8 inChannel);
    virtual OSStatus HandleAllNotesOff(UInt8 inChannel);
    virtual OSStatus HandleAllSoundOff(UInt8 inChannel);
    virtual OSStatus HandleSysEx(const UInt8* inData, UInt32 inLength);

    // The MIDI selector calls: check initialisation, then parse.
    OSStatus MIDIEvent(UInt32 inStatus, UInt32 inData1, UInt32 inData2, UInt32 inOffsetSampleFrame);
    OSStatus SysEx(const UInt8* inData, UInt32 inLength);

    // The two MIDI selectors (others: badComponentSelector). A null unit gives -50. Never throws.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUMIDIBase* This);


private:
    AUBase* m_auBaseInstance;
};
