// `marrowfin serve`: one unit running in real time for OSC remote control. A render thread of
// its own paces blocks to the sample rate with a monotonic clock (the input looped) and hands
// its output through a ring to the main thread, which writes the optional output file and runs
// the main run loop (script timers, parameter listeners) until SIGINT, SIGTERM or the time
// limit, then stops everything cleanly.
#pragma once

#include <string>

#include "apps/EffectOptions.h"

namespace MarrowfinApp {

class UnitHost;

// Something the main thread serves while the unit runs (the editor): opened on the unit once it
// runs, then given the main thread in slices instead of the plain run loop.
class ServeFrontend {
public:
    virtual ~ServeFrontend() = default;
    // After the unit is initialised and its OSC port applied. Throws AppError to give up.
    virtual void Open(UnitHost& host) = 0;
    // Runs the main run loop and the front end's own events for at most `seconds`; false when
    // the front end is done (its window closed, its picture taken).
    virtual bool Run(double seconds) = 0;
    // Before the unit stops.
    virtual void Close() = 0;
};

struct ServeOptions {
    EffectOptions effect;
    std::string inputFile;   // looped; empty: the demo bass line
    std::string outputFile;  // empty: nothing is written
    int oscOffset = 1;       // "OSC Port Offset", 0 = no OSC
    int oscBasePort = 0;     // 0: the stored preference
    double seconds = 0.0;    // 0: until a signal
    ServeFrontend* frontend = nullptr;  // null: the plain main run loop
};

// Returns when stopped; throws AppError on failures.
void Serve(const ServeOptions& options);

}  // namespace MarrowfinApp
