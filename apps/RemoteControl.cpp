#include "apps/RemoteControl.h"

#include <chrono>
#include <string>

#include "apps/AppError.h"
#include "apps/UnitHost.h"
#include "effect/MarrowfinParameters.h"
#include "hostframework/Log.h"
#include "hostframework/RunLoop.h"
#include "osc/OSCHelper.h"
#include "osc/Preferences.h"

namespace MarrowfinApp {

void CheckOSCOptions(const OSCOptions& options) {
    if (options.offset < 0 || options.offset > 100) throw UsageError("--osc-offset must be 0 to 100");
    if (options.basePort < 0 || options.basePort + options.offset > 65535)
        throw UsageError("--osc-base-port must be 1 to " + std::to_string(65535 - options.offset));
}

void StartOSC(UnitHost& host, const OSCOptions& options, bool quiet) {
    if (options.basePort > 0) SetOSCBasePort(options.basePort);
    // A stored base port is not checked by the option parser: refuse one that leaves no port.
    const SInt64 oscPort = SInt64(GetOSCBasePort()) + options.offset;
    if (options.offset > 0 && !TB::OSCHelper::IsListenablePort(oscPort))
        throw Failure("the OSC base port " + std::to_string(GetOSCBasePort()) + " (preference \"" + kPrefOSCBasePort +
                      "\") and offset " + std::to_string(options.offset) + " give UDP port " +
                      std::to_string(oscPort) + ", outside 1 to 65535");
    host.SetParameter(kParam_OSCPortOffset, Float32(options.offset));
    if (quiet) return;
    if (options.offset > 0)
        TB::LogFormat(TB::LogLevel::kNote, "listening on UDP port %d\n", int(oscPort));
    else
        TB::LogLine(TB::LogLevel::kNote, "OSC remote control is off (OSC Port Offset 0)\n");
}

void RunMainLoopWhile(const std::function<bool()>& keepRunning) {
    TB::RunLoop& runLoop = TB::RunLoop::Main();
    while (keepRunning()) runLoop.RunFor(std::chrono::milliseconds(20));
}

}  // namespace MarrowfinApp
