// The about and preferences panel: a small window of its own, drawn by the toolkit, with the
// version, the OSC base port field, the three rendering switches and a link to the maker's web
// page. The product's editor view opens it from the skin's "Prefs" button and owns it; the view
// applies the port when the panel closes.
//
// UI thread only (its manager draws on a render task of its own).
#pragma once

#include <functional>
#include <string>

#include "editor/EditorView.h"

namespace TB {
class Manager;
class PanelCheckBox;
class PanelNumberField;
}  // namespace TB

class MarrowfinAboutPanel {
public:
    static constexpr int kWidth = 360;
    static constexpr int kHeight = 250;
    static constexpr const char* kWebAddress = "https://tallowbright.example/marrowfin";
    static constexpr const char* kWindowTitle = "Marrowfin Preferences";

    // Builds the window with the fields filled from the process's current values. Check
    // IsOpen: without a window system the panel stays closed (after one logged line).
    MarrowfinAboutPanel(AudioUnit unit, const ComVoskTestMarfcocoaAUEditor::BridgeFactory& bridgeFactory);
    ~MarrowfinAboutPanel();
    MarrowfinAboutPanel(const MarrowfinAboutPanel&) = delete;
    MarrowfinAboutPanel& operator=(const MarrowfinAboutPanel&) = delete;

    bool IsOpen() const;
    bool CloseRequested() const;
    void BringToFront();

    // The port field as a number; -1 when it is empty.
    long PortValue() const;
    TB::Manager* GetManager() const { return m_manager; }
    TB::PanelNumberField* PortField() const { return m_portField; }
    TB::ViewInput& Input() { return m_input; }
    // The editor whose redraw starts at once when constant redraw is switched on.
    void SetEditorManager(TB::Manager* manager) { m_editorManager = manager; }

    // The switch actions: each flips its class-wide flag and stores the new state.
    static void setEyeCandy(void* panel);
    static void setConstantRedraw(void* panel);
    static void setFloatingTooltip(void* panel);
    static void visitWeb(TB::Button* button, void* panel);
    static void closeButton(TB::Button* button, void* panel);
    // Opens `address` in the user's default browser (xdg-open, not waited for); false with a
    // logged line when it cannot be started.
    static bool OpenWebAddress(const std::string& address);

private:
    void Build();

    TB::Manager* m_manager = nullptr;
    TB::Manager* m_editorManager = nullptr;
    TB::ViewInput m_input;
    TB::PanelNumberField* m_portField = nullptr;
    TB::PanelCheckBox* m_eyeCandy = nullptr;
    TB::PanelCheckBox* m_constantRedraw = nullptr;
    TB::PanelCheckBox* m_floatingTooltip = nullptr;
    bool m_closeRequested = false;
};
