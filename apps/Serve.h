// `marrowfin serve`: one unit running in real time for OSC remote control. A render thread of
// its own paces blocks to the sample rate with a monotonic clock (the input looped) and hands
// its output through a ring to the main thread, which writes the optional output file and runs
// the main run loop (script timers, parameter listeners) until SIGINT, SIGTERM or the time
// limit, then stops everything cleanly.
#pragma once

#include <string>

#include "apps/EffectOptions.h"

namespace MarrowfinApp {

struct ServeOptions {
    EffectOptions effect;
    std::string inputFile;   // looped; empty: the demo bass line
    std::string outputFile;  // empty: nothing is written
    int oscOffset = 1;       // "OSC Port Offset", 0 = no OSC
    int oscBasePort = 0;     // 0: the stored preference
    double seconds = 0.0;    // 0: until a signal
};

// Returns when stopped; throws AppError on failures.
void Serve(const ServeOptions& options);

}  // namespace MarrowfinApp
