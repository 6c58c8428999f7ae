// Small pure helpers of the plug-in, kept inline so tests can check them without the binary.
#pragma once

#include <cstdint>

#include "lv2/VoskMarrowfinLV2Queue.h"

namespace MarrowfinLV2 {

// Turns the bytes of one MIDI event into a queue item. False for what the unit would ignore
// anyway or cannot take: running status, system messages and sysex, truncated messages.
inline bool MidiJobFromBytes(const uint8_t* bytes, uint32_t size, uint32_t frame, VoskMarrowfinLV2Job& job) {
    if (!bytes || size == 0) return false;
    const uint8_t status = bytes[0];
    if (status < 0x80 || status >= 0xF0) return false;
    const uint32_t length = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    if (size < length) return false;
    job.kind = VoskMarrowfinLV2Job::kMidi;
    job.status = status;
    job.data1 = bytes[1] & 0x7F;
    job.data2 = length == 3 ? (bytes[2] & 0x7F) : 0;
    job.frame = frame;
    return true;
}

}  // namespace MarrowfinLV2
