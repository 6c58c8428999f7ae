#include "gui/Controls.h"

#include <algorithm>
#include <cmath>

#include "gui/GL.h"
#include "gui/Manager.h"
#include "hostframework/AUParameterServices.h"

namespace TB {

// ---------------------------------------------------------------------------------------------
// ControlBase

float ControlBase::NormalisedFromParam(const CAAUParameter& p) {
    return AUParameterValueToLinear(p.GetValue(), &p);
}

float ControlBase::GetNormalisedAsIntegerValued(const CAAUParameter& p, float& normalised) {
    const float lo = p.MinValue(), hi = p.MaxValue();
    const float value = std::floor(lo + 0.5f + (hi - lo) * normalised);
    normalised = (value - lo) / (hi - lo);
    return value;
}

void ControlBase::SetParamFromNormalised(const CAAUParameter& p, float& normalised) {
    const float value = m_integerValued ? GetNormalisedAsIntegerValued(p, normalised)
                                        : AUParameterValueFromLinear(normalised, &p);
    p.SetValue(value);
}

// ---------------------------------------------------------------------------------------------
// Control

Control::Control(Manager* manager, int parameterID)
    : ControlBase(manager), m_parameter(manager ? manager->GetParameter(parameterID) : CAAUParameter()) {
    if (manager) manager->AddToListener(this, m_parameter);
    switch (m_parameter.Unit()) {
    case kAudioUnitParameterUnit_Indexed:
    case kAudioUnitParameterUnit_Boolean:
    case kAudioUnitParameterUnit_MIDINoteNumber:
    case kAudioUnitParameterUnit_Beats: m_integerValued = true; break;
    default: break;
    }
}

void Control::ParameterChange(const AudioUnitParameter*, float) {
    // The value is read afresh: a notification may carry an older value than the unit holds.
    SetNormalised(NormalisedFromParam(m_parameter));
}

void Control::MouseEntered() { m_manager->SetMouseOverParam(ParameterID(), this); }

void Control::MouseExited() {
    if (m_manager->MouseOverParam() == ParameterID()) m_manager->ClearMouseOverParam();
}

void Control::MouseDown(CGPoint, UInt32) { m_manager->SetEditingParam(ParameterID()); }
void Control::MouseUp(CGPoint, UInt32) { m_manager->UnsetEditingParam(ParameterID()); }

// ---------------------------------------------------------------------------------------------
// Knob

Knob::Knob(Manager* manager, int parameterID, float x, float y, float size) : Control(manager, parameterID) {
    m_bounds = Bounds::Rect(x, y, x + size, y + size);
}

void Knob::MouseDown(CGPoint point, UInt32 modifiers) {
    if (modifiers & kModifierCommand) {
        m_parameter.SetValue(m_parameter.DefaultValue());
        SetNormalised(NormalisedFromParam(m_parameter));
    } else if (m_integerValued && m_parameter.MinValue() == 0 && m_parameter.MaxValue() == 1) {
        m_parameter.SetValue(1 - m_parameter.GetValue());  // a click toggles an on/off parameter
        SetNormalised(NormalisedFromParam(m_parameter));
    }
    m_pressX = point.x;
    m_pressY = point.y;
    m_pressPosition = Normalised();
    Control::MouseDown(point, modifiers);
}

void Knob::MouseDrag(CGPoint point, UInt32 modifiers) {
    const double dy = point.y - m_pressY;  // upwards is positive; x is ignored
    const float sensitivity = (modifiers & kModifierShift) ? m_fineSensitivity : m_normalSensitivity;
    float n = std::clamp(float(m_pressPosition + dy * sensitivity), 0.0f, 1.0f);
    if (!std::isfinite(n)) return;
    if (modifiers & kModifierOption) GetNormalisedAsIntegerValued(m_parameter, n);
    SetParamFromNormalised(m_parameter, n);
    SetNormalised(n);
}

void Knob::Render() const {
    if (!IsVisible()) return;
    const float cx = m_bounds.CentreX(), cy = m_bounds.CentreY();
    const float angle = (2 * Normalised() - 1) * 2.35619f;  // -135 to +135 degrees from straight up
    glColor3f(0, 1, 0);
    DrawRectOutline(m_bounds.min[0], m_bounds.min[1], m_bounds.max[0], m_bounds.max[1]);
    glColor3f(1, 1, 0);
    glBegin(GL_LINES);
    glVertex2f(cx, cy);
    glVertex2f(cx + std::sin(angle) * (m_bounds.max[0] - cx), cy + std::cos(angle) * (m_bounds.max[1] - cy));
    glEnd();
}

// ---------------------------------------------------------------------------------------------
// Buttons

Button::Button(Manager* manager, const std::string& label, Callback callback, void* refCon, float x, float y,
               float width, float height, int helpID)
    : ControlBase(manager), m_label(label), m_callback(callback), m_refCon(refCon), m_helpID(helpID) {
    m_bounds = Bounds::Rect(x, y, x + width, y + height);
}

void Button::Render() const {
    if (!IsVisible()) return;
    glColor3f(0, 1, 0);
    DrawRectOutline(m_bounds.min[0], m_bounds.min[1], m_bounds.max[0], m_bounds.max[1]);
}

// Every release of a press that began on the button fires it, wherever the release happens.
void Button::MouseUp(CGPoint, UInt32) { Fire(); }

void Button::MouseEntered() { m_manager->SetMouseOverParam(m_helpID, this); }

void Button::MouseExited() {
    if (m_manager->MouseOverParam() == m_helpID) m_manager->ClearMouseOverParam();
}

StatefulButton::StatefulButton(Manager* manager, const std::string& label, Callback callback, void* refCon, float x,
                               float y, float width, float height, int helpID, Type type)
    : Button(manager, label, callback, refCon, x, y, width, height, helpID), m_state(type == kMomentary),
      m_type(type) {}

void StatefulButton::MouseDown(CGPoint, UInt32) {
    if (m_type == kMomentary) m_state.store(false, std::memory_order_relaxed);
    else m_state.store(!State(), std::memory_order_relaxed);
    Fire();
}

void StatefulButton::MouseUp(CGPoint, UInt32) {
    if (m_type == kMomentary) m_state.store(true, std::memory_order_relaxed);
}

}  // namespace TB
