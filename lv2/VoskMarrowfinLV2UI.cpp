// The plug-in's editor inside an LV2 host.
#include "lv2/VoskMarrowfinLV2UI.h"

#include <lv2/atom/atom.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "editor/ViewFactory.h"
#include "effect/DataToGui.h"
#include "effect/VoskMarrowfinEntry.h"
#include "gui/Manager.h"
#include "gui/platform/ManagerX11Bridge.h"
#include "hostframework/AUParameterServices.h"
#include "hostframework/CFLite.h"
#include "hostframework/Log.h"
#include "hostframework/RunLoop.h"
#include "lv2/MarrowfinLV2Ports.h"

VoskMarrowfinLV2UI* VoskMarrowfinLV2UI::Create(const char* pluginURI, const char* bundlePath,
                                               LV2UI_Write_Function write, LV2UI_Controller controller,
                                               LV2UI_Widget* widget, const LV2_Feature* const* features) {
    auto* self = new VoskMarrowfinLV2UI;
    const bool stereo = pluginURI && !std::strcmp(pluginURI, MarrowfinLV2::kStereoURI);
    self->m_displayPort = MarrowfinLV2::DisplayPort(stereo ? 2 : 1);
    self->m_write = write;
    self->m_controller = controller;
    if (self->Build(bundlePath, features)) {
        if (widget) *widget = reinterpret_cast<LV2UI_Widget>(uintptr_t(self->Window()));
        return self;
    }
    delete self;
    return nullptr;
}

void VoskMarrowfinLV2UI::ReadFeatures(const LV2_Feature* const* features) {
    const LV2_Extension_Data_Feature* dataAccess = nullptr;
    const LV2_Options_Option* options = nullptr;
    LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i) {
        const LV2_Feature* f = features[i];
        if (!f->URI) continue;
        if (!std::strcmp(f->URI, LV2_UI__parent)) m_parent = reinterpret_cast<uintptr_t>(f->data);
        else if (!std::strcmp(f->URI, LV2_UI__resize)) m_resize = static_cast<const LV2UI_Resize*>(f->data);
        else if (!std::strcmp(f->URI, LV2_UI__touch)) m_touch = static_cast<const LV2UI_Touch*>(f->data);
        else if (!std::strcmp(f->URI, LV2_INSTANCE_ACCESS_URI)) m_instance = f->data;
        else if (!std::strcmp(f->URI, LV2_DATA_ACCESS_URI))
            dataAccess = static_cast<const LV2_Extension_Data_Feature*>(f->data);
        else if (!std::strcmp(f->URI, LV2_OPTIONS__options)) options = static_cast<const LV2_Options_Option*>(f->data);
        else if (!std::strcmp(f->URI, LV2_URID__map)) map = static_cast<LV2_URID_Map*>(f->data);
    }
    if (m_resize && !m_resize->ui_resize) m_resize = nullptr;
    if (m_touch && !m_touch->touch) m_touch = nullptr;

    if (m_instance && dataAccess && dataAccess->data_access) {
        const auto* access =
            static_cast<const MarrowfinLV2::EditorAccess*>(dataAccess->data_access(MarrowfinLV2::kEditorAccessURI));
        if (access && access->version >= MarrowfinLV2::kEditorAccessVersion && access->getParameter &&
            access->setParameter && access->dataToGui)
            m_access = access;
    }
    if (!m_access) m_instance = nullptr;

    if (map && map->map) {
        m_uridEventTransfer = map->map(map->handle, LV2_ATOM__eventTransfer);
        m_uridVector = map->map(map->handle, LV2_ATOM__Vector);
        m_uridFloat = map->map(map->handle, LV2_ATOM__Float);
    }
    if (options && map && map->map) {
        const LV2_URID scale = map->map(map->handle, LV2_UI__scaleFactor);
        const LV2_URID atomFloat = map->map(map->handle, LV2_ATOM__Float);
        for (int i = 0; options[i].key; ++i) {
            const LV2_Options_Option& o = options[i];
            if (o.key == scale && o.type == atomFloat && o.size == sizeof(float) && o.value) {
                const float value = *static_cast<const float*>(o.value);
                if (value > 0 && std::isfinite(value)) m_scaleFactor = value;
            }
        }
    }
}

bool VoskMarrowfinLV2UI::Build(const char* bundlePath, const LV2_Feature* const* features) {
    ReadFeatures(features);

    // The skin and midi.lua of the mirror live in the bundle folder, as for the plug-in.
    std::string folder = bundlePath ? bundlePath : "";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty()) TBRegisterBundleIdentifier(kMarrowfinBundleIdentifier, folder);

    OSStatus err = noErr;
    m_mirror = OpenMarrowfin(&err);
    if (!m_mirror) {
        TB::LogFormat(TB::LogLevel::kError, "marrowfin.lv2 editor: cannot open the effect unit (%d)\n", int(err));
        return false;
    }
    UInt32 size = sizeof m_mirrorData;
    if (AudioUnitGetProperty(m_mirror, kMarrowfinProperty_DataToGui, kAudioUnitScope_Global, 0, &m_mirrorData, &size) !=
        noErr)
        m_mirrorData = nullptr;
    if (m_access) m_pluginData = m_access->dataToGui(m_instance);

    // The mirror starts from the plug-in's values (the host sends its port values after this).
    for (AudioUnitParameterID id = 0; id < AudioUnitParameterID(kNumParams); ++id) {
        AudioUnitParameterValue value = 0;
        if (m_access) value = m_access->getParameter(m_instance, id);
        else AudioUnitGetParameter(m_mirror, id, kAudioUnitScope_Global, 0, &value);
        AudioUnitSetParameter(m_mirror, id, kAudioUnitScope_Global, 0, value, 0);
        m_known[id] = value;
    }
    CopyDisplayRecord();

    // The editor in the host's window; the preferences panel in a top-level window of its own.
    const unsigned long parent = m_parent;
    const float scale = m_scaleFactor;
    auto editorWindow = [parent, scale](TB::Manager& manager, TB::ViewInput& input,
                                        const char* title) -> TB::ManagerPlatformBridge* {
        TB::ManagerX11Bridge* bridge = TB::ManagerX11Bridge::Create(&manager, parent, title, scale);
        if (bridge) bridge->SetInput(&input);
        return bridge;
    };
    auto panelWindow = [](TB::Manager& manager, TB::ViewInput& input,
                          const char* title) -> TB::ManagerPlatformBridge* {
        TB::ManagerX11Bridge* bridge = TB::ManagerX11Bridge::Create(&manager, 0, title);
        if (bridge) bridge->SetInput(&input);
        return bridge;
    };
    m_view = ComVoskTestMarfCocoaViewFactory::uiViewForAudioUnit(m_mirror, 0, 0, editorWindow);
    TB::ManagerX11Bridge* bridge = EditorBridge();
    if (!bridge) {
        TB::LogLine(TB::LogLevel::kError, "marrowfin.lv2 editor: the editor could not be built\n");
        return false;
    }
    m_view->SetPanelBridgeFactory(panelWindow);
    // Gestures become the host's touch calls (and still reach the mirror's listeners).
    m_view->GetManager()->SetEditCallbacks(&BeginEdit, &EndEdit, this);

    if (m_resize) m_resize->ui_resize(m_resize->handle, bridge->WindowWidth(), bridge->WindowHeight());
    return true;
}

VoskMarrowfinLV2UI::~VoskMarrowfinLV2UI() {
    // The view closes the panel, then its manager stops the render task and closes the window.
    delete m_view;
    m_view = nullptr;
    if (m_mirror) CloseComponent(m_mirror);
}

TB::ManagerX11Bridge* VoskMarrowfinLV2UI::EditorBridge() const {
    if (!m_view || !m_view->GetManager()) return nullptr;
    return dynamic_cast<TB::ManagerX11Bridge*>(m_view->GetManager()->Bridge());
}

unsigned long VoskMarrowfinLV2UI::Window() const {
    TB::ManagerX11Bridge* bridge = EditorBridge();
    return bridge ? bridge->Window() : 0;
}

void VoskMarrowfinLV2UI::PortEvent(uint32_t port, uint32_t size, uint32_t format, const void* buffer) {
    if (port == m_displayPort && format != 0 && format == m_uridEventTransfer) return ReadDisplayMessage(size, buffer);
    if (port >= uint32_t(kNumParams) || format != 0 || size != sizeof(float) || !buffer) return;
    float value;
    std::memcpy(&value, buffer, sizeof value);
    if (std::isnan(value) || m_grabbed[port]) return;  // the user's drag wins over older echoes
    value = std::clamp(value, astParamInfos[port].minValue, astParamInfos[port].maxValue);
    if (value != m_known[port]) ApplyToMirror(port, value);
}

void VoskMarrowfinLV2UI::ApplyToMirror(AudioUnitParameterID id, float value) {
    m_known[id] = value;
    // Through the parameter services, so the knobs' listener moves them.
    const AudioUnitParameter parameter{m_mirror, id, kAudioUnitScope_Global, 0};
    AUParameterSet(nullptr, nullptr, &parameter, value, 0);
}

void VoskMarrowfinLV2UI::SyncParameters() {
    for (AudioUnitParameterID id = 0; id < AudioUnitParameterID(kNumParams); ++id) {
        AudioUnitParameterValue mirror = m_known[id];
        AudioUnitGetParameter(m_mirror, id, kAudioUnitScope_Global, 0, &mirror);
        if (mirror != m_known[id]) {
            m_known[id] = mirror;
            if (m_access) m_access->setParameter(m_instance, id, mirror);
            if (m_write) m_write(m_controller, id, sizeof mirror, 0, &mirror);
        } else if (m_access) {
            const float plugin = m_access->getParameter(m_instance, id);
            if (plugin != m_known[id] && !std::isnan(plugin)) ApplyToMirror(id, plugin);
        }
    }
}

void VoskMarrowfinLV2UI::CopyDisplayRecord() {
    if (!m_pluginData || !m_mirrorData) return;
    m_mirrorData->Publish(m_pluginData->Analysis());
    for (int i = 0; i < kNumGUIBools; ++i) m_mirrorData->SetGUIBool(i, m_pluginData->GetGUIBool(i));
}

void VoskMarrowfinLV2UI::ReadDisplayMessage(uint32_t size, const void* buffer) {
    // Only without the instance: with it, the unit's own record is copied at every idle call.
    if (m_pluginData || !m_mirrorData || !buffer || size < sizeof(LV2_Atom)) return;
    const auto* atom = static_cast<const LV2_Atom*>(buffer);
    constexpr uint32_t kBodySize = sizeof(LV2_Atom_Vector_Body) + MarrowfinLV2::kDisplayValues * sizeof(float);
    if (atom->type != m_uridVector || atom->size != kBodySize || size < sizeof(LV2_Atom) + kBodySize) return;
    const auto* vector = reinterpret_cast<const LV2_Atom_Vector_Body*>(atom + 1);
    if (vector->child_size != sizeof(float) || vector->child_type != m_uridFloat) return;
    float values[MarrowfinLV2::kDisplayValues];
    std::memcpy(values, vector + 1, sizeof values);
    DataToGuiAnalysis analysis;
    for (int ch = 0; ch < 2; ++ch) {
        analysis.frequency[ch] = std::isfinite(values[0 + ch]) ? values[0 + ch] : 0.f;
        analysis.peak[ch] = std::isfinite(values[2 + ch]) ? values[2 + ch] : 0.f;
        analysis.envelope[ch] = std::isfinite(values[4 + ch]) ? values[4 + ch] : 0.f;
        analysis.noLock[ch] = values[6 + ch] != 0.f;
    }
    m_mirrorData->Publish(analysis);
    for (int i = 0; i < kNumGUIBools; ++i) m_mirrorData->SetGUIBool(i, values[8 + i] != 0.f);
}

void VoskMarrowfinLV2UI::BeginEdit(SInt32 parameterID, void* refCon) {
    auto* self = static_cast<VoskMarrowfinLV2UI*>(refCon);
    if (parameterID < 0 || parameterID >= kNumParams) return;
    self->m_grabbed[parameterID] = true;
    if (self->m_touch) self->m_touch->touch(self->m_touch->handle, uint32_t(parameterID), true);
    ComVoskTestMarfcocoaAUEditor::BeginEditCallback(parameterID, self->m_view);
}

void VoskMarrowfinLV2UI::EndEdit(SInt32 parameterID, void* refCon) {
    auto* self = static_cast<VoskMarrowfinLV2UI*>(refCon);
    if (parameterID < 0 || parameterID >= kNumParams) return;
    self->SyncParameters();  // the drag's last value reaches the host inside the gesture
    if (self->m_touch) self->m_touch->touch(self->m_touch->handle, uint32_t(parameterID), false);
    self->m_grabbed[parameterID] = false;
    ComVoskTestMarfcocoaAUEditor::EndEditCallback(parameterID, self->m_view);
}

int VoskMarrowfinLV2UI::Idle() {
    TB::ManagerX11Bridge* bridge = EditorBridge();
    if (bridge) bridge->PumpEvents();
    if (MarrowfinAboutPanel* panel = m_view ? m_view->AboutWindow() : nullptr) {
        if (panel->GetManager())
            if (auto* panelBridge = dynamic_cast<TB::ManagerX11Bridge*>(panel->GetManager()->Bridge()))
                panelBridge->PumpEvents();
    }
    // This binary's main run loop: the knobs' parameter listener, the skin's timers.
    TB::RunLoop::Main().RunOnce();
    if (m_view) m_view->Idle();
    SyncParameters();
    CopyDisplayRecord();
    return m_parent == 0 && bridge && bridge->WindowCloseRequested() ? 1 : 0;
}

int VoskMarrowfinLV2UI::Show() {
    if (TB::ManagerX11Bridge* bridge = EditorBridge(); bridge && m_parent == 0) bridge->BringToFront();
    return 0;
}

int VoskMarrowfinLV2UI::Hide() {
    if (TB::ManagerX11Bridge* bridge = EditorBridge(); bridge && m_parent == 0) bridge->Show(false);
    return 0;
}
