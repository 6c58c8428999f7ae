#include "gui/RiraControls.h"

#include <cmath>

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/KnobRenderer.h"
#include "gui/Manager.h"
#include "gui/StaticText.h"

namespace TB {

// ---------------------------------------------------------------------------------------------
// RiraKnob

RiraKnob::RiraKnob(Manager* manager, TexturedKnobRenderer* renderer, int parameterID, const std::string& label,
                   float x, float y, float size)
    : Knob(manager, parameterID, x, y, size), m_renderer(renderer), m_index(renderer ? renderer->Add() : -1),
      m_label(label) {
    if (m_parameter.Unit() == kAudioUnitParameterUnit_RelativeSemiTones) m_integerValued = true;
    SetNormalised(NormalisedFromParam(m_parameter));
    if (m_renderer) {
        // A range around zero (an offset, a depth either way) grows its value arc from zero.
        const float lo = m_parameter.MinValue(), hi = m_parameter.MaxValue();
        if (lo < 0 && hi > 0) m_renderer->SetArcFrom(m_index, AngleFor(-lo / (hi - lo)));
        m_renderer->SetAngle(m_index, AngleFor(Normalised()));
        m_renderer->SetVisible(m_index, IsVisible());
    }
}

float RiraKnob::AngleFor(float normalised) {
    const double turn = (2.0 * double(normalised) - 1.0) * 3.0 * M_PI / 4.0;
    return float(double(float(turn)) + M_PI / 2.0);
}

void RiraKnob::ExtendBounds(Bounds& b) const {
    Bounds own = m_bounds;
    if (!m_label.empty()) own.max[1] += 5;
    b.Union(own);
}

void RiraKnob::ParameterChange(const AudioUnitParameter* parameter, float value) {
    Control::ParameterChange(parameter, value);
    if (m_renderer) m_renderer->SetAngle(m_index, AngleFor(Normalised()));
}

void RiraKnob::FinalPosition() {
    if (m_renderer == nullptr) return;
    Bounds w;
    GetWorldBounds(w);
    const float cx = w.CentreX();
    float cy = w.CentreY();
    if (!m_label.empty()) cy += 2.5f;
    m_renderer->SetPosition(m_index, cx, cy, w.max[0] - cx);
}

void RiraKnob::DrawLabel(const Font* font) const {
    if (m_label.empty()) return;
    Bounds w;
    GetWorldBounds(w);
    const float cy = (w.min[1] + w.max[1]) / 2;
    glColor3f(0.52f, 0.55f, 0.5f);
    font->Draw(m_label.c_str(), (w.min[0] + w.max[0]) / 2 - font->GetStringWidth(m_label.c_str()) / 2,
               cy - 0.5f * (w.max[1] - cy) - 0.5f * font->LineHeight());
}

void RiraKnob::SetVisible(bool visible) {
    Knob::SetVisible(visible);
    if (m_renderer) m_renderer->SetVisible(m_index, visible);
}

// ---------------------------------------------------------------------------------------------
// RiraButton

RiraButton::RiraButton(Manager* manager, const std::string& label, Callback callback, void* refCon, float x, float y,
                       float width, float height, int helpID)
    : Button(manager, label, callback, refCon, x, y, width, height, helpID) {}

void RiraButton::MouseEntered() {
    m_targetColour.Store(kHoverColour);
    Button::MouseEntered();
}

void RiraButton::MouseExited() {
    m_targetColour.Store(kRestColour);
    Button::MouseExited();
}

void RiraButton::Render() const {
    if (!IsVisible()) return;
    const Vec4 t = m_targetColour.Load();
    m_colour = {0.85f * m_colour.x + 0.15f * t.x, 0.85f * m_colour.y + 0.15f * t.y, 0.85f * m_colour.z + 0.15f * t.z,
                0.85f * m_colour.w + 0.15f * t.w};
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(m_colour.x, m_colour.y, m_colour.z, m_colour.w);
    glBegin(GL_QUADS);
    glVertex2f(m_bounds.min[0], m_bounds.min[1]), glVertex2f(m_bounds.max[0], m_bounds.min[1]);
    glVertex2f(m_bounds.max[0], m_bounds.max[1]), glVertex2f(m_bounds.min[0], m_bounds.max[1]);
    glEnd();
    glDisable(GL_BLEND);
}

void RiraButton::FinalPosition() {
    static const Vec4 kCaptionColour = {0.8f, 0.8f, 0.8f, 1};
    const Font* font = m_manager->MainFont();
    if (font == nullptr) return;
    Bounds w;
    GetWorldBounds(w);
    m_manager->GetStaticText()->Add(m_label, w.CentreX() - font->GetStringWidth(m_label.c_str()) / 2,
                                    w.CentreY() - 0.25f * font->LineHeight() - 0.5f * font->Descender(),
                                    &kCaptionColour);
}

}  // namespace TB
