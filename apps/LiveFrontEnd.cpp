#include "apps/LiveFrontEnd.h"

#include "apps/EditorFrontend.h"
#include "apps/RemoteControl.h"

namespace MarrowfinApp {

void RunLiveFrontEnd(UnitHost& host, bool editor, const std::function<bool()>& keepRunning) {
    if (!editor) {
        RunMainLoopWhile(keepRunning);
        return;
    }
    // Closing the editor's window ends the session; without a window system the editor says so
    // in one line and the session plays on.
    EditorFrontend frontend{EditorOptions{}};
    frontend.Open(host);
    while (keepRunning() && frontend.Run(0.04)) {
    }
    frontend.Close();
}

}  // namespace MarrowfinApp
