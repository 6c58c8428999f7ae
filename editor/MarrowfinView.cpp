#include "editor/MarrowfinView.h"

#include "effect/MarrowfinParameters.h"
#include "gui/ALmanager.h"
#include "hostframework/Log.h"
#include "osc/Preferences.h"

ComVoskTestMarfCocoaView::~ComVoskTestMarfCocoaView() {
    // Closing the panel goes through windowWillClose like a close by the user.
    if (m_aboutWindow) windowWillClose();
}

void ComVoskTestMarfCocoaView::createManager() { m_pManager = new TB::ALmanager(m_AU, m_luaGui, kNumParams); }

void ComVoskTestMarfCocoaView::aboutButtonProc(TB::Button*) {
    if (m_aboutWindow == nullptr) {
        auto* panel = new MarrowfinAboutPanel(m_AU, m_panelBridgeFactory ? m_panelBridgeFactory : GetBridgeFactory());
        if (!panel->IsOpen()) {
            delete panel;
            return;
        }
        panel->SetEditorManager(m_pManager);
        m_aboutWindow = panel;
    }
    m_aboutWindow->BringToFront();
}

void ComVoskTestMarfCocoaView::Idle() {
    if (m_aboutWindow && m_aboutWindow->CloseRequested()) windowWillClose();
}

void ComVoskTestMarfCocoaView::windowWillClose() {
    if (m_aboutWindow == nullptr) return;
    const long port = m_aboutWindow->PortValue();
    if (m_pManager && port >= 1) {
        if (port > 65535) {
            TB::LogFormat(TB::LogLevel::kError, "OSC base port %ld is not a UDP port (1 to 65535): not changed\n", port);
        } else {
            SetPrefInt(kPrefOSCBasePort, SInt32(port));
            SetOSCBasePort(SInt32(port));
            // Applying the offset again moves this unit's OSC service to the new base at once.
            const TB::CAAUParameter offset = m_pManager->GetParameter(kParam_OSCPortOffset);
            offset.SetValue(offset.GetValue());
        }
    }
    delete m_aboutWindow;
    m_aboutWindow = nullptr;
}
