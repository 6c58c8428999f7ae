// What the editor installs into the layers below it once per process, and the UI thread's loop
// that serves the windows and the main run loop together.
#pragma once

// The "Skin" preference for the skin host, the stored rendering switches for new managers, the
// skins' sendOSC, and the main run loop's wake-up of the window event wait. Idempotent.
void InstallEditorHooks();

// UI thread: runs what is due on the main run loop (parameter listener callbacks, script
// timers) and delivers window events, waiting at most `maxSeconds` for either; returns after
// one round. Work posted to the run loop from any thread ends the wait at once.
void RunEditorEvents(double maxSeconds);
