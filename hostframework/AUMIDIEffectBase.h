// An effect with MIDI input: AUEffectBase for audio, AUMIDIBase for MIDI. Properties go to the
// MIDI side first and, when it does not know them, to the effect.
#pragma once

#include "hostframework/AUEffectBase.h"
#include "hostframework/AUMIDIBase.h"

class AUMIDIEffectBase : public AUEffectBase, public AUMIDIBase {
public:
    explicit AUMIDIEffectBase(AudioComponentInstance inInstance, bool inProcessesInPlace = false);

    OSStatus GetPropertyInfo(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                             UInt32& outDataSize, Boolean& outWritable) override;
    OSStatus GetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                         void* outData) override;
    OSStatus SetProperty(AudioUnitPropertyID inID, AudioUnitScope inScope, AudioUnitElement inElement,
                         const void* inData, UInt32 inDataSize) override;

    // The MIDI selectors to AUMIDIBase, every other one to AUBase. Never throws.
    static OSStatus ComponentEntryDispatch(ComponentParameters* params, AUMIDIEffectBase* This);
};
