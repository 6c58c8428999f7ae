// The plug-in's main run loop thread (timers of MIDI scripts, parameter listeners).
//
// A plug-in host offers no run loop of ours, so the plug-in runs TB::RunLoop::Main() on a thread
// of its own: the first instance starts it, the last one stops and joins it (before the host
// may unload the binary). Instantiation threads only.
#pragma once

void VoskMarrowfinLV2AcquireMainLoop();
void VoskMarrowfinLV2ReleaseMainLoop();
// Process exit with instances still alive: stops and joins the thread whoever holds it, before
// the static objects it uses are destroyed.
void VoskMarrowfinLV2StopMainLoopAtExit();
// How many instances hold the loop (tests).
int VoskMarrowfinLV2MainLoopUsers();
