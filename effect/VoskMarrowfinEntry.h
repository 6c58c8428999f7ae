// The component entry points of the Marrowfin effect unit, and its component description.
#pragma once

#include "MarrowfinFacts.h"
#include "hostframework/AudioUnitAPI.h"

extern "C" {
// The component dispatcher: open constructs a VoskMarrowfin under the process-wide open lock;
// every other selector goes to the MIDI-effect dispatch. Never lets an exception out.
ComponentResult VoskMarrowfinEntry(ComponentParameters* params, void** storage);
// The legacy view entry: present, does nothing.
ComponentResult VoskMarrowfinViewEntry(ComponentParameters* params, void** storage);
}

// Type 'aumf' (an effect that receives MIDI), subtype 'Marf', manufacturer 'Vosk'.
extern const AudioComponentDescription kMarrowfinComponentDescription;


// Convenience for hosts and tests: opens a Marrowfin instance through the component interface.
inline AudioComponentInstance OpenMarrowfin(OSStatus* outErr = nullptr) {
    return OpenComponent(VoskMarrowfinEntry, kMarrowfinComponentDescription, outErr);
}
