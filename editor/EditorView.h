// The editor view: what a host asks the unit for when it shows the editor. It builds the
// scripted GUI and the toolkit manager for a unit, sizes itself to the skin's window, forwards
// the window system's mouse, keyboard and focus events to the manager, and announces the
// manager's parameter gestures to the host's parameter listeners (one gesture per drag).
//
// The names are those the unit announces for its editor. The window system behind the view is
// a platform bridge that the view makes when it finishes building (a top-level GLFW window by
// default; a plug-in host's child window through SetBridgeFactory).
//
// UI thread only. Two hooks are left to the product's view: making the manager and the action
// of the skin's "Prefs" button.
#pragma once

#include <functional>

#include "gui/ViewInput.h"
#include "hostframework/AudioUnitAPI.h"

namespace TB {
class Button;
class Manager;
class ManagerPlatformBridge;
class PluginLuaGui;
}  // namespace TB

// A view's place and size in its window, in pixels.
struct ViewFrame {
    float x = 0, y = 0, width = 0, height = 0;
};

class ComVoskTestMarfcocoaAUEditor {
public:
    // Makes the window system side for a finished manager; null when there is none (the view
    // then stays without a picture). The view's input receives the window's events.
    typedef std::function<TB::ManagerPlatformBridge*(TB::Manager& manager, TB::ViewInput& input, const char* title)>
        BridgeFactory;
    static constexpr const char* kWindowTitle = "Marrowfin";

    ComVoskTestMarfcocoaAUEditor(float x, float y, float width, float height);
    virtual ~ComVoskTestMarfcocoaAUEditor();
    ComVoskTestMarfcocoaAUEditor(const ComVoskTestMarfcocoaAUEditor&) = delete;
    ComVoskTestMarfcocoaAUEditor& operator=(const ComVoskTestMarfcocoaAUEditor&) = delete;

    void setAU(AudioUnit unit) { m_AU = unit; }
    void SetBridgeFactory(BridgeFactory factory) { m_bridgeFactory = std::move(factory); }

    // Builds the script host, the manager and the element tree, then FinaliseUI.
    void CreateUI();
    // The manager's control rectangle from the frame's origin, the bridge, the gesture callbacks,
    // and the render task.
    void FinaliseUI(const ViewFrame& frame);

    // The view leaves its window: the script host goes, then the manager (which stops its render
    // task and closes the bridge). Events after this do nothing.
    void LeaveWindow();

    // ----- events, from the bridge (the input forwards them while there is a manager) -----
    TB::ViewInput& Input() { return m_input; }
    void windowDidResignKey() { m_input.FocusLost(); }

    // ----- state -----
    TB::Manager* GetManager() const { return m_pManager; }
    TB::PluginLuaGui* GetLuaGui() const { return m_luaGui; }
    AudioUnit GetAU() const { return m_AU; }
    const ViewFrame& Frame() const { return m_frame; }
    // The bridge's window was asked to close by the user.
    bool WindowCloseRequested() const;

    // Sends a begin (1) or end (2) gesture event for a parameter to the host's listeners.
    static void BeginEditCallback(SInt32 parameterID, void* refCon);
    static void EndEditCallback(SInt32 parameterID, void* refCon);
    static void BeginCaptureCallback(void*) {}
    static void EndCaptureCallback(void*) {}
    // The "Prefs" button's action: calls aboutButtonProc on the view.
    static void AboutButtonProc(TB::Button* button, void* refCon);

protected:
    virtual void createManager() {}
    virtual void aboutButtonProc(TB::Button*) {}
    const BridgeFactory& GetBridgeFactory() const { return m_bridgeFactory; }

    AudioUnit m_AU = nullptr;
    TB::Manager* m_pManager = nullptr;
    TB::PluginLuaGui* m_luaGui = nullptr;

private:
    void SendGesture(UInt32 eventType, SInt32 parameterID) const;

    ViewFrame m_frame;
    TB::ViewInput m_input;
    BridgeFactory m_bridgeFactory;
};
