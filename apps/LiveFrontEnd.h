// What the main thread of `marrowfin live` does while the unit plays: the one place where the
// editor opens on the unit and runs its loop.
#pragma once

#include <functional>

namespace MarrowfinApp {

class UnitHost;

// Main thread. Returns once `keepRunning` answers false; calls it at least every 50 ms (it also
// does the session's housekeeping: re-initialising the unit on a new sample rate, reporting
// xruns) and runs TB::RunLoop::Main() in between, where script timers and parameter listeners
// are delivered. `editor` opens the editor window on `host` and also serves its events; closing
// the window ends the session.
void RunLiveFrontEnd(UnitHost& host, bool editor, const std::function<bool()>& keepRunning);

}  // namespace MarrowfinApp
