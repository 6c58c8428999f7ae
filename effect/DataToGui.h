// The record a unit shares with its editor (and, for guiBool, with other units' scripts)
// through property 64001. Written by the render thread (PostRender) and by script and OSC
// threads (guiBool); read by the editor without a lock: every field is one float or one byte,
// and a reader may see values from different blocks.
#pragma once

#include <cstdint>

struct DataToGui {
    uint64_t reserved;   // always zero
    float frequency[2];  // smoothed detected input frequency per channel, Hz (0 until rendered)
    float peak[2];       // smoothed cycle envelope per channel, 0..1
    float envelope[2];   // smoothed follower envelope per channel
    bool noLock[2];      // the channel's last analysis found no cycle
    bool guiBool[8];     // the eight GUI bool values of the scripts
};

// The custom property that hands out the address of a unit's DataToGui (8 bytes, read-only).
enum : uint32_t { kMarrowfinProperty_DataToGui = 64001 };
