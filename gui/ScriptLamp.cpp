#include "gui/ScriptLamp.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "effect/DataToGui.h"
#include "gui/GL.h"
#include "gui/Manager.h"

namespace TB {

namespace {

// A disc as a triangle fan: `inner` colour at the centre, `outer` at the rim.
void Disc(float cx, float cy, float radius, const Vec4& inner, const Vec4& outer) {
    constexpr int kSegments = 24;
    glBegin(GL_TRIANGLE_FAN);
    glColor4f(inner.x, inner.y, inner.z, inner.w);
    glVertex2f(cx, cy);
    glColor4f(outer.x, outer.y, outer.z, outer.w);
    for (int i = 0; i <= kSegments; ++i) {
        const float a = 2 * float(M_PI) * float(i) / kSegments;
        glVertex2f(cx + radius * std::cos(a), cy + radius * std::sin(a));
    }
    glEnd();
}

}  // namespace

ScriptLamp::ScriptLamp(Manager* manager, const DataToGui* data, int index, float x, float y, float size)
    : ControlBase(manager), m_data(data), m_index(std::clamp(index, 0, kNumGUIBools - 1)), m_helpID(-1) {
    m_bounds = Bounds::Rect(x, y, x + size, y + size);
    if (manager) m_helpID = manager->AddHelpString(("Script lamp " + std::to_string(m_index)).c_str());
}

bool ScriptLamp::Lit() const { return m_data != nullptr && m_data->GetGUIBool(m_index); }

void ScriptLamp::Render() const {
    if (!IsVisible()) return;
    const float cx = m_bounds.CentreX(), cy = m_bounds.CentreY(), r = 0.5f * m_bounds.Width();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    Disc(cx, cy, r, {0.02f, 0.02f, 0.03f, 0.9f}, {0.3f, 0.31f, 0.34f, 1});  // bezel
    if (Lit()) {
        Disc(cx, cy, 1.9f * r, {1, 0.6f, 0.15f, 0.35f}, {1, 0.5f, 0.1f, 0});  // glow
        Disc(cx, cy, 0.78f * r, {1, 0.96f, 0.8f, 1}, {1, 0.55f, 0.12f, 1});
    } else {
        Disc(cx, cy, 0.78f * r, {0.24f, 0.16f, 0.1f, 1}, {0.1f, 0.08f, 0.07f, 1});
    }
    glDisable(GL_BLEND);
}

void ScriptLamp::MouseEntered() { m_manager->SetMouseOverParam(m_helpID, this); }

void ScriptLamp::MouseExited() {
    if (m_manager->MouseOverParam() == m_helpID) m_manager->ClearMouseOverParam();
}

}  // namespace TB
