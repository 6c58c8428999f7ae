// The queue through which the plug-in's run() (producer, host audio thread) hands MIDI events and
// OSC-port changes to the instance's worker thread (consumer).
#pragma once

#include <cstdint>

#include "hostframework/SPSCQueue.h"

// One item: a MIDI channel message, or a parameter value the worker must set off the audio thread.
struct VoskMarrowfinLV2Job {
    enum Kind : uint8_t { kMidi = 0, kParameter = 1 };
    Kind kind = kMidi;
    uint8_t status = 0;  // kMidi: status byte 0x80..0xEF
    uint8_t data1 = 0;
    uint8_t data2 = 0;
    uint32_t frame = 0;    // kMidi: offset in the host block
    uint32_t paramID = 0;  // kParameter: the parameter id
    float value = 0.f;   // kParameter: the value
    // kParameter: the instance's state generation when run() queued it. A state restored since
    // then supersedes the value, so it is dropped.
    uint32_t generation = 0;
};

typedef TB::SPSCQueue<VoskMarrowfinLV2Job, 1024> VoskMarrowfinLV2Queue;
