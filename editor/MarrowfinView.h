// The editor view the unit's view factory makes: the product's manager, and the about and
// preferences panel behind the skin's "Prefs" button. The OSC base port typed into the panel is
// applied when the panel closes: stored, made the process's base port, and this unit's
// "OSC Port Offset" applied again so its OSC service moves at once.
//
// UI thread only.
#pragma once

#include "editor/AboutPanel.h"
#include "editor/EditorView.h"

class ComVoskTestMarfCocoaView : public ComVoskTestMarfcocoaAUEditor {
public:
    ComVoskTestMarfCocoaView(float x, float y, float width, float height)
        : ComVoskTestMarfcocoaAUEditor(x, y, width, height) {}
    ~ComVoskTestMarfCocoaView() override;

    // The window system for the panel (by default that of the editor).
    void SetPanelBridgeFactory(BridgeFactory factory) { m_panelBridgeFactory = std::move(factory); }
    // UI thread, from the main loop: closes the panel when the user asked to.
    void Idle();
    // The panel closes: the port is applied (when the view has a manager and the value is
    // 1 to 65535) and the panel forgotten.
    void windowWillClose();
    MarrowfinAboutPanel* AboutWindow() const { return m_aboutWindow; }
    // Opens the panel, or brings it to the front when it is open.
    void OpenAboutPanel() { aboutButtonProc(nullptr); }

protected:
    void createManager() override;
    void aboutButtonProc(TB::Button* button) override;

private:
    MarrowfinAboutPanel* m_aboutWindow = nullptr;
    BridgeFactory m_panelBridgeFactory;
};
