// The plug-in's editor inside an LV2 host: the toolkit editor in an X11 child window of the
// host's parent window, driven by the host's idle calls.
//
// This binary carries its own copy of the framework, so the editor works on a mirror unit of
// its own (a unit that is never initialised and never renders) and the mirror is kept in step
// with the plug-in:
// - with instance-access and data-access, the plug-in's own unit: its parameters are read and
//   set through the plug-in's editor access (so OSC, scripts and the host stay in step) and its
//   display record (meters, frequencies, GUI bool values) is copied into the mirror's at every
//   idle call;
// - without, the plug-in's display output brings the display record as an atom message at the
//   editor's frame rate;
// - always, the host's control ports: an editor change is written to the port (inside a
//   ui:touch gesture when the host offers touch), and port_event moves the mirror.
// A value that came from the plug-in or the host is remembered as known, and only values that
// differ from the known one travel on, so no change ever comes back as a new one.
//
// Every entry point runs on the host's UI thread. The mirror's parameter listener callbacks
// and script timers run there too, inside idle (this binary's main run loop); every GL call
// runs on the editor's render task.
#pragma once

#include <lv2/core/lv2.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <cstdint>

#include "effect/MarrowfinParameters.h"
#include "hostframework/AudioUnitAPI.h"
#include "lv2/MarrowfinLV2EditorAccess.h"

class ComVoskTestMarfCocoaView;
class DataToGui;
namespace TB {
class ManagerX11Bridge;
}

class VoskMarrowfinLV2UI {
public:
    // Null (after one logged line) when the editor cannot be built: no display, no mirror unit.
    static VoskMarrowfinLV2UI* Create(const char* pluginURI, const char* bundlePath, LV2UI_Write_Function write,
                                      LV2UI_Controller controller, LV2UI_Widget* widget,
                                      const LV2_Feature* const* features);
    ~VoskMarrowfinLV2UI();
    VoskMarrowfinLV2UI(const VoskMarrowfinLV2UI&) = delete;
    VoskMarrowfinLV2UI& operator=(const VoskMarrowfinLV2UI&) = delete;

    void PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer);
    // Window events, the run loop, the panel, the values in both directions. Non-zero once a
    // top-level window was closed by the user (the host then hides or closes the editor).
    int Idle();
    int Show();
    int Hide();

    // Tests: the window the editor draws into, and whether it talks to the plug-in directly.
    unsigned long Window() const;
    bool HasInstanceAccess() const { return m_access != nullptr; }
    float ScaleFactor() const { return m_scaleFactor; }

private:
    VoskMarrowfinLV2UI() = default;
    bool Build(const char* bundlePath, const LV2_Feature* const* features);
    void ReadFeatures(const LV2_Feature* const* features);
    TB::ManagerX11Bridge* EditorBridge() const;
    // Editor changes go out; then the plug-in's own changes come in.
    void SyncParameters();
    void ApplyToMirror(AudioUnitParameterID id, float value);
    void CopyDisplayRecord();
    void ReadDisplayMessage(uint32_t size, const void* buffer);
    static void BeginEdit(SInt32 parameterID, void* refCon);
    static void EndEdit(SInt32 parameterID, void* refCon);

    LV2UI_Write_Function m_write = nullptr;
    LV2UI_Controller m_controller = nullptr;
    unsigned long m_parent = 0;
    const LV2UI_Resize* m_resize = nullptr;
    const LV2UI_Touch* m_touch = nullptr;
    float m_scaleFactor = 1.0f;
    uint32_t m_displayPort = 0;  // the plug-in's display output
    LV2_URID m_uridEventTransfer = 0;
    LV2_URID m_uridVector = 0;
    LV2_URID m_uridFloat = 0;

    // The plug-in's instance and its editor access (both or neither).
    LV2_Handle m_instance = nullptr;
    const MarrowfinLV2::EditorAccess* m_access = nullptr;
    DataToGui* m_pluginData = nullptr;

    AudioUnit m_mirror = nullptr;
    DataToGui* m_mirrorData = nullptr;
    ComVoskTestMarfCocoaView* m_view = nullptr;

    float m_known[kNumParams] = {};
    bool m_grabbed[kNumParams] = {};
};
