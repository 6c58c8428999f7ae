// The cycle analysis's scan of a channel's ring.
#pragma once

#include "effect/MarrowfinDSP.h"

// The cycle analysis's scan: `frames` frames of a ring's band-limited column from frame `start`
// on (wrapping), up to the first rising zero crossing ("v > 0" after "v <= 0"), all of them when
// there is none. Returns the largest value above +0 among the frames scanned, and sets `found`
// to the crossing's offset from start, or 0. `wide` lets processors with AVX2 scan sixteen frames
// at a time (the same results); tests compare the two. Render thread.
float MarrowfinScanWindow(const float* ring, UInt32 start, UInt32 frames, UInt32& found, bool wide = true);
