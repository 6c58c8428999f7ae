// A section's backdrop: a plate with a soft vertical shade and lit top edge, drawn into the
// labels layer behind everything else. Inside a named group it covers the group's whole outline
// (the group's bounds, which include the plate's rectangle, widened by the group's indent), so
// plate and outline meet; elsewhere it covers its own rectangle. It takes no part in hit
// testing: the mouse finds the group around it.
//
// Build it before the elements it lies behind: the labels layer is drawn in creation order.
#pragma once

#include "gui/UIElement.h"

namespace TB {

class Panel : public UIElement {
public:
    Panel(Manager* manager, float x, float y, float width, float height, const Vec4& colour);

    void ExtendBounds(Bounds& b) const override { b.Union(m_bounds); }
    void DrawLabel(const Font* font) const override;

    // The rectangle the plate covers, in window pixels.
    Bounds PlateBounds() const;
    const Vec4& Colour() const { return m_colour; }

private:
    Bounds m_bounds;
    Vec4 m_colour;
};

}  // namespace TB
