// The manager's life, lists, parameters and input. Everything here runs on the UI thread.
#include "gui/Manager.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "gui/Effect.h"
#include "gui/Font.h"
#include "gui/ManagerPlatformBridge.h"
#include "gui/StaticText.h"
#include "gui/Texture.h"
#include "gui/UIElement.h"
#include "hostframework/RunLoop.h"

namespace TB {

std::atomic<bool> Manager::ms_enableEyeCandy{true};
std::atomic<bool> Manager::ms_enableConstantRedraw{true};
std::atomic<bool> Manager::ms_enableTooltip{false};
std::atomic<bool> Manager::ms_allowFramebufferObjects{true};
std::atomic<ManagerSwitchReader> Manager::ms_switchReader{nullptr};

void Manager::SetSwitchReader(ManagerSwitchReader reader) { ms_switchReader.store(reader); }

Manager::Manager(AudioUnit unit, int parameterCount) : m_audioUnit(unit) {
    ManagerSwitches switches;
    if (ManagerSwitchReader reader = ms_switchReader.load()) reader(&switches);
    ms_enableEyeCandy.store(switches.enableEyeCandy);
    ms_enableConstantRedraw.store(switches.enableConstantRedraw);
    ms_enableTooltip.store(switches.enableTooltip);

    AUListenerCreate(&Manager::ParameterListener, this, RunLoop::Current(), nullptr, 1.0f / 30, &m_listener);

    parameterCount = std::clamp(parameterCount, 0, 4096);
    m_parameters.reserve(parameterCount);
    for (int id = 0; id < parameterCount; ++id) m_parameters.emplace_back(unit, AudioUnitParameterID(id));

    m_rootGroup = new Group(this);
    m_staticText = new StaticText(this);
    m_effects.push_back(m_staticText);

    void* data = nullptr;
    UInt32 size = sizeof data;
    if (unit && AudioUnitGetProperty(unit, kEffectDataProperty, kAudioUnitScope_Global, 0, &data, &size) == noErr &&
        size == sizeof data)
        m_effectData = data;
}

Manager::~Manager() {
    DestroyRenderTask();
    if (m_listener) AUListenerDispose(m_listener);
    m_listener = nullptr;
    m_parameters.clear();
    DeleteBuilt();
    delete m_bridge;
}

void Manager::DeleteBuilt() {
    for (UIElement* e : m_elements) delete e;
    for (Texture* t : m_textures) delete t;
    for (Effect* e : m_effects) delete e;
    std::set<Font*> fonts(m_fonts.begin(), m_fonts.end());
    fonts.insert(m_mainFont);
    fonts.insert(m_labelFont);
    fonts.insert(m_textFont);
    for (Font* f : fonts) delete f;
    m_elements.clear();
    m_textures.clear();
    m_effects.clear();
    m_fonts.clear();
    m_mainFont = m_labelFont = m_textFont = nullptr;
}

void Manager::ResetBuild() {
    if (m_taskRunning) return;
    // The listener refers to the controls about to go: a fresh one has no entries.
    if (m_listener) AUListenerDispose(m_listener);
    m_listener = nullptr;
    AUListenerCreate(&Manager::ParameterListener, this, RunLoop::Current(), nullptr, 1.0f / 30, &m_listener);
    m_hoverSet.clear();
    m_hoveredElement.store(nullptr, std::memory_order_relaxed);
    m_tooltipElement.store(nullptr, std::memory_order_relaxed);
    m_mouseOverParam.store(-1, std::memory_order_relaxed);
    m_keyboardFocus = nullptr;
    m_captureElement = nullptr;
    DeleteBuilt();
    m_rootGroup = new Group(this);
    m_staticText = new StaticText(this);
    m_effects.push_back(m_staticText);
    m_helpStrings.clear();
    m_cachedHelpID = 0;
    m_cachedHelpText = nullptr;
    m_width = m_height = 1;
    m_readoutStripColour = {0.9f, 0.9f, 0.9f, 0.1f};
    m_bannerTextColour = {0.5f, 0.5f, 0.5f, 1.0f};
    SetLabelsClearColour(0, 0, 0);
    m_bannerY = 0;
    m_bannerVisible = true;
}

// ---------------------------------------------------------------------------------------------
// Building

void Manager::SetFonts(Font* mainFont, Font* labelFont, Font* textFont) {
    auto usable = [this](Font* f) -> Font* {
        if (f && !f->HasGlyphSource()) {
            AddFont(f);  // still owned, never drawn with
            return nullptr;
        }
        return f;
    };
    m_mainFont = usable(mainFont);
    m_labelFont = usable(labelFont);
    m_textFont = usable(textFont);
}

void Manager::SetHelpStrings(const char* const* strings) {
    if (strings == nullptr) return;
    for (int i = 0; strings[i] != nullptr; ++i) m_helpStrings[-2 - i] = strings[i];
    m_cachedHelpID = 0;
    m_cachedHelpText = nullptr;
}

int Manager::AddHelpString(const char* text) {
    if (text == nullptr) return -1;
    for (const auto& [id, s] : m_helpStrings)
        if (id <= -2 && s == text) return id;
    const int id = (!m_helpStrings.empty() && m_helpStrings.begin()->first <= -2) ? m_helpStrings.begin()->first - 1
                                                                                 : -2;
    m_helpStrings[id] = text;
    return id;
}

const std::string* Manager::HelpString(int id) const {
    auto it = m_helpStrings.find(id);
    return it == m_helpStrings.end() ? nullptr : &it->second;
}

void Manager::SetWindowSize(int width, int height) {
    m_width = std::clamp(width, 1, kLabelsWidth);
    m_height = std::clamp(height, 1, kLabelsHeight);
}

void Manager::CreateControl(float x, float y) {
    m_aspect = float(m_width) / float(m_height);
    m_xScale = 2.0f / float(m_width);
    m_yScale = 2.0f / float(m_height);
    m_fieldOfView = 65;
    m_eyeDistance = 1.0f / (std::tan(0.567232f) * m_yScale);  // one unit of z = 0 is one pixel
    m_halfWidth = 1.0f / m_xScale;
    m_halfHeight = 1.0f / m_yScale;
    m_lightTarget[0] = m_width / 2.0f;
    m_lightTarget[1] = m_height / 2.0f;
    auto toShort = [](float v) { return SInt16(std::clamp(v, -32768.0f, 32767.0f)); };
    m_controlTop = toShort(y);
    m_controlLeft = toShort(x);
    m_controlBottom = toShort(y + m_height);
    m_controlRight = toShort(x + m_width);
}

void Manager::GetControlRect(SInt16& top, SInt16& left, SInt16& bottom, SInt16& right) const {
    top = m_controlTop, left = m_controlLeft, bottom = m_controlBottom, right = m_controlRight;
}

void Manager::SetBridge(ManagerPlatformBridge* bridge) {
    if (m_taskRunning || bridge == m_bridge) return;  // the render task uses the bridge it started with
    delete m_bridge;
    m_bridge = bridge;
}

void Manager::SetEditCallbacks(EditCallback begin, EditCallback end, void* refCon) {
    m_beginEdit = begin, m_endEdit = end, m_editRefCon = refCon;
}

void Manager::SetCaptureCallbacks(CaptureCallback begin, CaptureCallback end, void* refCon) {
    m_beginCapture = begin, m_endCapture = end, m_captureRefCon = refCon;
}

void Manager::SetLabelsClearColour(float r, float g, float b) {
    m_labelsClearColour[0] = r, m_labelsClearColour[1] = g, m_labelsClearColour[2] = b;
}

// ---------------------------------------------------------------------------------------------
// Parameters

CAAUParameter Manager::GetParameter(int id) const {
    if (id >= 0 && id < int(m_parameters.size())) return m_parameters[id];
    return CAAUParameter(m_audioUnit, AudioUnitParameterID(id));
}

void Manager::AddToListener(UIElement* element, const CAAUParameter& parameter) {
    if (m_listener && element) AUListenerAddParameter(m_listener, element, &parameter);
}

bool Manager::HandleParameterListener(void*, const AudioUnitParameter*, float) { return false; }

void Manager::ParameterListener(void* refCon, void* object, const AudioUnitParameter* parameter, float value) {
    if (refCon && object) static_cast<Manager*>(refCon)->DeliverParameterChange(static_cast<UIElement*>(object), parameter, value);
}

void Manager::DeliverParameterChange(UIElement* element, const AudioUnitParameter* parameter, float value) {
    if (HandleParameterListener(element, parameter, value)) return;
    element->ParameterChange(parameter, value);
    if (!ms_enableConstantRedraw.load(std::memory_order_relaxed)) NudgeGUI();
}

// ---------------------------------------------------------------------------------------------
// Input and focus

void Manager::HandleMouseMove(CGPoint point) {
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) return;
    Group::ms_hitTestIncludesGroups = true;
    UIElement* hit = m_rootGroup->HitTest(point);
    if (hit == m_rootGroup) hit = nullptr;
    const bool isNew = hit == nullptr || m_hoverSet.count(hit) == 0;
    for (auto it = m_hoverSet.begin(); it != m_hoverSet.end();) {
        if (it->second.Contains(point.x, point.y)) {
            ++it;
            continue;
        }
        UIElement* left = it->first;
        it = m_hoverSet.erase(it);
        left->MouseExited();
    }
    if (isNew) {
        if (hit) {
            Bounds b;
            hit->GetWorldBounds(b);
            m_hoverSet[hit] = b;
            hit->MouseEntered();
        }
        m_hoveredElement.store(hit, std::memory_order_relaxed);
    }
    Group::ms_hitTestIncludesGroups = false;
}

void Manager::HandleMouseNoLoopDown(CGPoint point, UInt32 modifiers) {
    if (m_keyboardFocus) {
        UIElement* focus = m_keyboardFocus;
        m_keyboardFocus = nullptr;
        focus->LostFocus();
    }
    m_captureElement = nullptr;
    if (!std::isfinite(point.x) || !std::isfinite(point.y)) return;
    m_captureElement = m_rootGroup->HitTest(point);
    m_captureModifiers = modifiers;
    if (m_captureElement) {
        m_captureElement->MouseDown(point, modifiers);
        if (m_beginCapture) m_beginCapture(m_captureRefCon);
    }
}

void Manager::HandleMouseNoLoopDragged(CGPoint point, UInt32 modifiers) {
    if (m_captureElement == nullptr || !std::isfinite(point.x) || !std::isfinite(point.y)) return;
    if (modifiers != m_captureModifiers) {
        // A change of modifiers restarts the gesture from here, as a fresh press.
        m_captureElement->MouseUp(point, m_captureModifiers);
        m_captureElement->MouseDown(point, modifiers);
        m_captureModifiers = modifiers;
    }
    m_captureElement->MouseDrag(point, modifiers);
}

void Manager::HandleMouseNoLoopUp(CGPoint point, UInt32 modifiers) {
    if (m_captureElement) {
        if (m_endCapture) m_endCapture(m_captureRefCon);
        m_captureElement->MouseUp(point, modifiers);
        const int editing = EditingParam();
        if (editing >= 0) {
            if (m_endEdit) m_endEdit(editing, m_editRefCon);
            m_editingParam.store(-1, std::memory_order_relaxed);
        }
    }
    m_captureElement = nullptr;
}

bool Manager::HandleKeypress(unsigned char key) { return m_keyboardFocus ? m_keyboardFocus->Keypress(key) : false; }

void Manager::HandleWindowFocusRelinquish() {
    UIElement* focus = m_keyboardFocus;
    m_keyboardFocus = nullptr;
    if (focus) focus->LostFocus();
}

void Manager::SetKeyboardFocusElement(UIElement* element) {
    if (m_keyboardFocus && m_keyboardFocus != element) m_keyboardFocus->LostFocus();
    m_keyboardFocus = element;
}

void Manager::SetFocusToWindow() {
    if (m_bridge) m_bridge->SetFocusToWindow();
}

void Manager::SetEditingParam(int id) {
    m_editingParam.store(id, std::memory_order_relaxed);
    if (m_beginEdit) m_beginEdit(id, m_editRefCon);
}

void Manager::UnsetEditingParam(int id) {
    if (id < 0 || id != EditingParam()) return;
    if (m_endEdit) m_endEdit(id, m_editRefCon);
    m_editingParam.store(-1, std::memory_order_relaxed);
}

void Manager::SetMouseOverParam(int id, UIElement* element) {
    m_mouseOverParam.store(id, std::memory_order_relaxed);
    m_tooltipElement.store(element, std::memory_order_relaxed);
    if (!ms_enableConstantRedraw.load(std::memory_order_relaxed)) NudgeGUI();
}

}  // namespace TB
