// SIGINT and SIGTERM for the command-line host: the handler only records that a stop was asked
// for; offline renders check it between blocks, `serve` in its main loop.
#pragma once

namespace MarrowfinApp {

void InstallStopSignals();
bool StopRequested();
// The signal that asked for the stop (0 when none), for the exit status of interrupted renders.
int StopSignal();

}  // namespace MarrowfinApp
