#include "gui/UIElement.h"

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"
#include "gui/StaticText.h"

namespace TB {

bool Group::ms_hitTestIncludesGroups = false;
Vec4 NamedGroup::ms_activeTargetColour = {0.5f, 0.8f, 1.0f, 0.6f};
Vec4 NamedGroup::ms_inactiveTargetColour = {0.5f, 0.5f, 0.5f, 0.5f};

// ---------------------------------------------------------------------------------------------
// UIElement

UIElement::UIElement(Manager* manager) : m_manager(manager) {
    if (m_manager) m_manager->AddElement(this);
}

UIElement::~UIElement() = default;

void UIElement::GetWorldBounds(Bounds& b) const {
    ExtendBounds(b);
    if (m_parent) m_parent->TransformBounds(b);
}

float UIElement::GetWidth() const {
    Bounds b;
    ExtendBounds(b);
    return b.Width();
}

float UIElement::GetHeight() const {
    Bounds b;
    ExtendBounds(b);
    return b.Height();
}

// ---------------------------------------------------------------------------------------------
// Group

Group::Group(Manager* manager) : UIElement(manager) {}

void Group::AddChild(UIElement* element) {
    if (element == nullptr || element == this) return;
    m_children.push_back(element);
    element->m_parent = this;
    element->SetVisible(IsVisible());
}

void Group::TransformBounds(Bounds& b) const {
    for (const Group* g = this; g != nullptr; g = g->m_parent)
        b.Translate(g->m_position[0], g->m_position[1], g->m_position[2]);
}

void Group::ExtendBounds(Bounds& b) const {
    Bounds c;
    for (const UIElement* child : m_children) child->ExtendBounds(c);
    c.Translate(m_position[0], m_position[1], m_position[2]);
    b.Union(c);
}

UIElement* Group::HitTest(CGPoint point) {
    if (!IsVisible()) return nullptr;
    const CGPoint local{point.x - m_position[0], point.y - m_position[1]};
    for (UIElement* child : m_children)
        if (UIElement* hit = child->HitTest(local)) return hit;
    if (ms_hitTestIncludesGroups && m_bounds.Load().Contains(point.x, point.y)) return this;
    return nullptr;
}

void Group::Render() const {
    glPushMatrix();
    glTranslatef(m_position[0], m_position[1], m_position[2]);
    for (const UIElement* child : m_children) child->Render();
    glPopMatrix();
}

void Group::RenderPass2() const {
    glPushMatrix();
    glTranslatef(m_position[0], m_position[1], m_position[2]);
    for (const UIElement* child : m_children) child->RenderPass2();
    glPopMatrix();
}

void Group::SetVisible(bool visible) {
    UIElement::SetVisible(visible);
    for (UIElement* child : m_children) child->SetVisible(visible);
}

// ---------------------------------------------------------------------------------------------
// NamedGroup

NamedGroup::NamedGroup(Manager* manager, const std::string& name, float indent)
    : Group(manager),
      m_name(name),
      m_indent(indent),
      m_colour(ms_inactiveTargetColour),
      m_targetColour(ms_inactiveTargetColour) {}

void NamedGroup::ExtendBounds(Bounds& b) const {
    Bounds c;
    for (const UIElement* child : m_children) child->ExtendBounds(c);
    c.min[0] -= m_indent, c.min[1] -= m_indent;
    c.max[0] += m_indent, c.max[1] += m_indent;
    c.Translate(m_position[0], m_position[1], m_position[2]);
    b.Union(c);
}

void NamedGroup::SetVisible(bool visible) {
    Group::SetVisible(visible);
    const int title = TitleIndex();
    if (m_manager && m_manager->MainFont() && title >= 0) m_manager->GetStaticText()->SetVisible(title, visible);
}

void NamedGroup::FinalPosition() {
    Bounds w;
    GetWorldBounds(w);
    const float titleX = w.min[0] + m_indent;
    float titleWidth = 0;
    if (const Font* font = m_manager ? m_manager->MainFont() : nullptr) {
        const float titleY = w.max[1] - 0.25f * font->LineHeight() - 0.5f * font->Descender();
        const int title = m_manager->GetStaticText()->Add(m_name, titleX, titleY, &m_colour);
        m_manager->GetStaticText()->SetVisible(title, IsVisible());
        m_titleIndex.store(title, std::memory_order_relaxed);
        titleWidth = font->GetStringWidth(m_name.c_str());
    }
    const float points[12] = {titleX,    w.max[1], w.min[0], w.max[1], w.min[0], w.min[1],
                              w.max[0],  w.min[1], w.max[0], w.max[1], titleX + titleWidth, w.max[1]};
    std::copy(points, points + 12, m_outline);
    m_bounds.Store(w);
}

void NamedGroup::Render() const {
    if (!IsVisible()) return;
    Group::Render();
    const Vec4 t = m_targetColour.Load();
    m_colour = {0.85f * m_colour.x + 0.15f * t.x, 0.85f * m_colour.y + 0.15f * t.y,
                0.85f * m_colour.z + 0.15f * t.z, 0.85f * m_colour.w + 0.15f * t.w};
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(m_colour.x, m_colour.y, m_colour.z, m_colour.w);
    glBegin(GL_LINE_STRIP);
    for (int i = 0; i < 6; ++i) glVertex2f(m_outline[2 * i], m_outline[2 * i + 1]);
    glEnd();
    glDisable(GL_BLEND);
}

void NamedGroup::MouseEntered() { m_targetColour.Store(ms_activeTargetColour); }
void NamedGroup::MouseExited() { m_targetColour.Store(ms_inactiveTargetColour); }

}  // namespace TB
