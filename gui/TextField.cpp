#include "gui/TextField.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"

namespace TB {

namespace {

void Quad(float x0, float y0, float x1, float y1) {
    glVertex2f(x0, y0), glVertex2f(x1, y0), glVertex2f(x1, y1), glVertex2f(x0, y1);
}

void BlendedQuad(const Bounds& b, float r, float g, float bl, float a) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(r, g, bl, a);
    glBegin(GL_QUADS);
    Quad(b.min[0], b.min[1], b.max[0], b.max[1]);
    glEnd();
    glDisable(GL_BLEND);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Label

Label::Label(Manager* manager, const std::string& text, float x, float y, float width, float height)
    : ControlBase(manager), m_text(text) {
    m_bounds = Bounds::Rect(x, y, x + width, y + height);
}

void Label::DrawLabel(const Font* font) const {
    if (m_text.empty()) return;
    Bounds w;
    GetWorldBounds(w);
    BlendedQuad(w, 0.1f, 0.1f, 0.15f, 0.7f);
    glColor4f(0.9f, 0.9f, 0.9f, 0.6f);
    font->Draw(m_text.c_str(), w.CentreX() - font->GetStringWidth(m_text.c_str()) / 2, w.min[1] + 2);
}

// ---------------------------------------------------------------------------------------------
// TextField

bool TextField::IsValueFormat(const std::string& format) {
    int conversions = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        if (++i < format.size() && format[i] == '%') continue;
        while (i < format.size() && std::strchr("-+ #0", format[i])) ++i;
        // Width and precision of at most two digits each: the text holds 15 characters anyway.
        auto digits = [&] {
            const size_t start = i;
            while (i < format.size() && std::isdigit(static_cast<unsigned char>(format[i]))) ++i;
            return i - start <= 2;
        };
        if (!digits()) return false;
        if (i < format.size() && format[i] == '.') {
            ++i;
            if (!digits()) return false;
        }
        if (i >= format.size() || !std::strchr("feEgG", format[i])) return false;
        ++conversions;
    }
    return conversions == 1 && format.size() < 64;
}

TextField::TextField(Manager* manager, int parameterID, float x, float y, float width, float height,
                     const std::string& format)
    : Control(manager, parameterID), m_format(IsValueFormat(format) ? format : std::string()) {
    m_bounds = Bounds::Rect(x, y, x + width, y + height);
}

bool TextField::HasFocus() const { return m_manager->KeyboardFocusElement() == this; }

void TextField::Render() const {
    const Font* font = m_manager->TextFont();
    if (font == nullptr || !IsVisible()) return;
    const int cursor = m_cursor.load(std::memory_order_relaxed);
    char* text = const_cast<char*>(m_text);
    if (cursor < 0) {
        const float value = m_parameter.GetValue();
        if (value != m_shownValue) {
            m_shownValue = value;
            char formatted[Manager::kValueTextSize];
            Manager::FormatParamValue(m_parameter, formatted);
            if (!m_format.empty() && !std::isalpha(static_cast<unsigned char>(formatted[0])))
                std::snprintf(formatted, sizeof formatted, m_format.c_str(), double(value));
            std::snprintf(text, kMaxChars + 1, "%.15s", formatted);
            m_textWidth = font->GetStringWidth(m_text);
        }
    } else if (cursor != m_measuredCursor) {
        m_measuredCursor = cursor;
        m_textWidth = font->GetStringWidth(m_text);
    }
    DoRender();
}

void TextField::DoRender() const {
    const Font* font = m_manager->TextFont();
    if (HasFocus()) glColor3f(1, 1, 0);
    else glColor3f(0, 1, 0);
    glBegin(GL_LINE_LOOP);
    Quad(m_bounds.min[0], m_bounds.min[1], m_bounds.max[0], m_bounds.max[1]);
    glEnd();
    font->Draw(m_text, m_bounds.max[0] - m_textWidth - 1, m_bounds.min[1] + 2);
}

void TextField::MouseDown(CGPoint point, UInt32 modifiers) {
    m_manager->SetFocusToWindow();
    Control::MouseDown(point, modifiers);
    m_manager->SetKeyboardFocusElement(this);
}

bool TextField::Keypress(unsigned char key) {
    int cursor = m_cursor.load(std::memory_order_relaxed);
    if (cursor < 0) std::memset(m_text, 0, sizeof m_text);
    auto append = [&](unsigned char c) {
        if (cursor >= kMaxChars - 1) return true;  // 15 characters: full
        m_text[++cursor] = char(c);
        m_cursor.store(cursor, std::memory_order_relaxed);
        return true;
    };
    switch (key) {
    case 3:
    case 13: {
        float value = 0;
        if (std::sscanf(m_text, "%f", &value) != 1 || !std::isfinite(value)) return true;
        const int id = ParameterID();
        m_manager->SetEditingParam(id);
        m_parameter.SetValue(value);
        m_manager->UnsetEditingParam(id);
        m_cursor.store(-1, std::memory_order_relaxed);
        m_measuredCursor = -1;
        return true;
    }
    case 8:
        if (cursor >= 0) {
            m_text[cursor] = 0;
            m_cursor.store(cursor - 1, std::memory_order_relaxed);
        }
        return true;
    case '-':
        if (cursor == -1) {
            m_text[0] = '-';
            m_cursor.store(0, std::memory_order_relaxed);
        }
        return true;
    case '.':
        if (std::strchr(m_text, '.')) return true;
        return append(key);
    default:
        if (key >= '0' && key <= '9') return append(key);
        return false;
    }
}

void TextField::LostFocus() {
    m_cursor.store(-1, std::memory_order_relaxed);
    m_measuredCursor = -1;
    m_shownValue = 1e30f;
}

// ---------------------------------------------------------------------------------------------
// LabelledTextField

LabelledTextField::LabelledTextField(Manager* manager, const std::string& label, int parameterID, float x, float y,
                                     float width, float height, const std::string& format)
    : TextField(manager, parameterID, x, y, width, height, format), m_label(label) {}

void LabelledTextField::ExtendBounds(Bounds& b) const {
    Bounds own = m_bounds;
    if (!m_label.empty()) own.min[1] -= 10;
    b.Union(own);
}

void LabelledTextField::DrawLabel(const Font* font) const {
    if (m_label.empty()) return;
    Bounds w;
    GetWorldBounds(w);
    const float cx = w.CentreX(), cy = w.CentreY(), hh = w.max[1] - cy;
    const float width = font->GetStringWidth(m_label.c_str());
    const float half = (width + 4) / 2, lh = 0.5f * font->LineHeight();
    const float y = cy + 5 - 0.5f * hh - lh;
    BlendedQuad(Bounds::Rect(cx - half, y - 3, cx + half, y - 3 + lh), 0.1f, 0.1f, 0.15f, 0.7f);
    glColor4f(0.9f, 0.9f, 0.9f, 0.6f);
    font->Draw(m_label.c_str(), cx - width / 2, y);
}

void LabelledTextField::DoRender() const {
    const Font* font = m_manager->TextFont();
    glBegin(GL_QUADS);
    glColor3f(0.8f, 0.8f, 0.85f);
    Quad(m_bounds.min[0], m_bounds.min[1], m_bounds.max[0], m_bounds.max[1]);
    if (HasFocus()) {
        if (Editing()) glColor3f(1, 0.8f, 0.8f);
        else glColor3f(0.8f, 1, 0.8f);
        Quad(m_bounds.min[0] + 1, m_bounds.min[1] + 1, m_bounds.max[0] - 1, m_bounds.max[1] - 1);
    }
    glEnd();
    glColor3f(0.1f, 0.1f, 0.1f);
    font->Draw(m_text, m_bounds.max[0] - m_textWidth - 1, m_bounds.min[1] + 2);
}

}  // namespace TB
