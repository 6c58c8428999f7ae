#include "gui/Panel.h"

#include <algorithm>

#include "gui/GL.h"

namespace TB {

Panel::Panel(Manager* manager, float x, float y, float width, float height, const Vec4& colour)
    : UIElement(manager), m_bounds(Bounds::Rect(x, y, x + width, y + height)), m_colour(colour) {}

Bounds Panel::PlateBounds() const {
    Bounds b;
    if (dynamic_cast<const NamedGroup*>(m_parent)) m_parent->GetWorldBounds(b);
    else GetWorldBounds(b);
    return b;
}

void Panel::DrawLabel(const Font*) const {
    const Bounds b = PlateBounds();
    if (!(b.Width() > 0 && b.Height() > 0)) return;  // also a rectangle of NaNs from a script
    const Vec4& c = m_colour;
    auto shade = [&c](float f, float a) { glColor4f(std::min(1.0f, c.x * f), std::min(1.0f, c.y * f), std::min(1.0f, c.z * f), a); };
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glBegin(GL_QUADS);
    shade(0.8f, c.w);
    glVertex2f(b.min[0], b.min[1]), glVertex2f(b.max[0], b.min[1]);
    shade(1.2f, c.w);
    glVertex2f(b.max[0], b.max[1]), glVertex2f(b.min[0], b.max[1]);
    glEnd();
    glBegin(GL_LINES);
    shade(1.8f, c.w);  // the lit top edge
    glVertex2f(b.min[0] + 1, b.max[1] - 1.5f), glVertex2f(b.max[0] - 1, b.max[1] - 1.5f);
    shade(0.4f, c.w);  // the shaded bottom edge
    glVertex2f(b.min[0] + 1, b.min[1] + 0.5f), glVertex2f(b.max[0] - 1, b.min[1] + 0.5f);
    glEnd();
    glDisable(GL_BLEND);
}

}  // namespace TB
