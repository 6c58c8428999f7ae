// `marrowfin live`: the unit as a JACK application, for playing through it without a DAW. The
// JACK client (apps/LiveJack.h) renders on JACK's real-time thread; MIDI reaches the scripts
// through a delivery thread (apps/LiveMidi.h); OSC works as in `serve`; the main thread runs the
// front end (apps/LiveFrontEnd.h) until SIGINT, SIGTERM, the time limit or the JACK server's
// shutdown.
#pragma once

#include "apps/EffectOptions.h"
#include "apps/RemoteControl.h"

namespace MarrowfinApp {

struct LiveOptions {
    EffectOptions effect;  // preset, state, sets, save-state
    OSCOptions osc;
    int channels = 1;
    double seconds = 0.0;  // 0: until a signal
    bool connect = false;  // to the physical capture and playback ports
    bool editor = true;
};

// Returns when stopped by a signal or the time limit; throws AppError when there is no JACK
// server, or when it shut down (after saving the state when asked).
void Live(const LiveOptions& options);

}  // namespace MarrowfinApp
