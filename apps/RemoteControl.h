// What `serve` and `live` share: OSC remote control of the running unit (its options, their
// checks, and the port it listens on) and the main thread's loop.
#pragma once

#include <functional>

namespace MarrowfinApp {

class UnitHost;

struct OSCOptions {
    int offset = 1;    // "OSC Port Offset", 0 = no OSC
    int basePort = 0;  // 0: the stored preference
};

// Usage errors for an offset outside 0 to 100 or a base port that leaves no port. Before
// anything starts.
void CheckOSCOptions(const OSCOptions& options);

// After the unit's Initialize, which reads the stored base port: an explicit base port replaces
// it, and setting "OSC Port Offset" through the unit applies the port rule (the OSC task binds
// the port). Throws a failure when a stored base port leaves no port. Prints the port it
// listens on (or that OSC is off) unless `quiet`. Main thread.
void StartOSC(UnitHost& host, const OSCOptions& options, bool quiet = false);

// Main thread: runs the main run loop (script timers, parameter listeners) in slices of at most
// 20 ms, asking `keepRunning` before each slice, until it answers false.
void RunMainLoopWhile(const std::function<bool()>& keepRunning);

}  // namespace MarrowfinApp
