#include "editor/PanelWidgets.h"

#include <cstdlib>
#include <cstring>

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"

namespace TB {

namespace {

constexpr float kFlashSeconds = 0.3f;

void FillRect(float x0, float y0, float x1, float y1) {
    glBegin(GL_QUADS);
    glVertex2f(x0, y0), glVertex2f(x1, y0), glVertex2f(x1, y1), glVertex2f(x0, y1);
    glEnd();
}

}  // namespace

PanelText::PanelText(Manager* manager, const std::string& text, float x, float y, float brightness)
    : ControlBase(manager), m_text(text), m_brightness(brightness) {
    m_bounds = Bounds::Rect(x, y, x + 1, y + 1);
}

void PanelText::DrawLabel(const Font* font) const {
    glColor4f(m_brightness, m_brightness, m_brightness, 1);
    font->Draw(m_text.c_str(), m_bounds.min[0], m_bounds.min[1]);
}

// ---------------------------------------------------------------------------------------------

PanelCheckBox::PanelCheckBox(Manager* manager, const std::string& caption, Action action, void* refCon, float x,
                             float y)
    : ControlBase(manager), m_caption(caption), m_action(action), m_refCon(refCon) {
    m_bounds = Bounds::Rect(x, y, x + 14, y + 14);
}

void PanelCheckBox::Render() const {
    const Bounds& b = m_bounds;
    glColor3f(0.55f, 0.75f, 0.55f);
    DrawRectOutline(b.min[0], b.min[1], b.max[0], b.max[1]);
    if (!Checked()) return;
    glColor3f(0.45f, 0.95f, 0.45f);
    FillRect(b.min[0] + 3, b.min[1] + 3, b.max[0] - 3, b.max[1] - 3);
}

void PanelCheckBox::DrawLabel(const Font* font) const {
    glColor4f(0.85f, 0.85f, 0.85f, 1);
    font->Draw(m_caption.c_str(), m_bounds.max[0] + 8, m_bounds.min[1] + 2);
}

void PanelCheckBox::MouseUp(CGPoint point, UInt32) {
    if (!m_bounds.Contains(point.x, point.y)) return;  // released elsewhere: no click
    if (m_action) m_action(m_refCon);
    m_manager->NudgeGUI();
}

// ---------------------------------------------------------------------------------------------

PanelNumberField::PanelNumberField(Manager* manager, float x, float y, float width, float height)
    : ControlBase(manager) {
    m_bounds = Bounds::Rect(x, y, x + width, y + height);
}

void PanelNumberField::SetText(const std::string& digits) {
    std::memset(m_text, 0, sizeof m_text);
    int n = 0;
    for (char c : digits)
        if (c >= '0' && c <= '9' && n < kMaxDigits) m_text[n++] = c;
    m_length.store(n, std::memory_order_relaxed);
}

long PanelNumberField::Value() const { return m_text[0] ? std::strtol(m_text, nullptr, 10) : -1; }

void PanelNumberField::Render() const {
    const Bounds& b = m_bounds;
    glColor3f(0.08f, 0.1f, 0.08f);
    FillRect(b.min[0], b.min[1], b.max[0], b.max[1]);
    if (m_manager->RunTime() < m_flashUntil.load(std::memory_order_relaxed)) glColor3f(1, 0.2f, 0.2f);
    else if (m_focused.load(std::memory_order_relaxed)) glColor3f(1, 1, 0);
    else glColor3f(0.45f, 0.8f, 0.45f);
    DrawRectOutline(b.min[0], b.min[1], b.max[0], b.max[1]);
    const Font* font = m_manager->TextFont();
    if (font == nullptr) return;
    glColor3f(0.9f, 0.95f, 0.9f);
    font->Draw(m_text, b.min[0] + 5, b.min[1] + 5);
    EndTextDrawing();
    if (m_focused.load(std::memory_order_relaxed)) {  // the caret after the text
        const float x = b.min[0] + 6 + font->GetStringWidth(m_text);
        FillRect(x, b.min[1] + 4, x + 1, b.max[1] - 4);
    }
}

void PanelNumberField::MouseDown(CGPoint, UInt32) {
    m_manager->SetFocusToWindow();
    m_manager->SetKeyboardFocusElement(this);
    m_focused.store(true, std::memory_order_relaxed);
    m_manager->NudgeGUI();
}

bool PanelNumberField::Keypress(unsigned char key) {
    int n = m_length.load(std::memory_order_relaxed);
    if (key == 8) {
        if (n == 0) Refuse();
        else m_text[--n] = 0;
    } else if (key == 3 || key == 13) {
        m_manager->SetKeyboardFocusElement(nullptr);
        LostFocus();
    } else if (key >= '0' && key <= '9' && n < kMaxDigits) {
        m_text[n++] = char(key);
    } else {
        Refuse();
    }
    m_length.store(n, std::memory_order_relaxed);
    m_manager->NudgeGUI();
    return true;
}

void PanelNumberField::LostFocus() {
    m_focused.store(false, std::memory_order_relaxed);
    m_manager->NudgeGUI();
}

void PanelNumberField::Refuse() {
    ++m_refusedKeys;
    m_flashUntil.store(m_manager->RunTime() + kFlashSeconds, std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------------------------

PanelLink::PanelLink(Manager* manager, const std::string& text, Callback callback, void* refCon, float x, float y,
                     float width, float height)
    : Button(manager, text, callback, refCon, x, y, width, height, -1) {}

void PanelLink::Render() const {
    const Bounds& b = m_bounds;
    if (m_manager->IsHovered(const_cast<PanelLink*>(this))) glColor3f(0.6f, 0.8f, 1);
    else glColor3f(0.35f, 0.55f, 0.85f);
    FillRect(b.min[0], b.min[1] + 1, b.max[0], b.min[1] + 2);  // the underline
}

void PanelLink::DrawLabel(const Font* font) const {
    glColor4f(0.45f, 0.65f, 1, 1);
    font->Draw(m_label.c_str(), m_bounds.min[0], m_bounds.min[1] + 4);
}

}  // namespace TB
