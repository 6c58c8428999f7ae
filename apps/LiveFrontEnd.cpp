#include "apps/LiveFrontEnd.h"

#include "apps/RemoteControl.h"

namespace MarrowfinApp {

void RunLiveFrontEnd(UnitHost&, bool, const std::function<bool()>& keepRunning) { RunMainLoopWhile(keepRunning); }

}  // namespace MarrowfinApp
