#include "gui/ViewInput.h"

#include "gui/Manager.h"

namespace TB {

void ViewInput::MouseMoved(CGPoint point) {
    if (m_manager) m_manager->HandleMouseMove(point);
}

void ViewInput::MouseDown(CGPoint point, UInt32 modifiers) {
    if (m_manager == nullptr) return;
    m_manager->HandleMouseNoLoopDown(point, modifiers);
    m_mouseTracking = true;
}

void ViewInput::MouseDragged(CGPoint point, UInt32 modifiers) {
    if (m_manager && m_mouseTracking) m_manager->HandleMouseNoLoopDragged(point, modifiers);
}

void ViewInput::MouseUp(CGPoint point, UInt32 modifiers) {
    if (m_manager && m_mouseTracking) m_manager->HandleMouseNoLoopUp(point, modifiers);
    m_mouseTracking = false;
}

void ViewInput::InsertText(const char* utf8, size_t length) {
    if (m_manager == nullptr || utf8 == nullptr) return;
    for (size_t i = 0; i < length && m_manager; ++i) m_manager->HandleKeypress(static_cast<unsigned char>(utf8[i]));
}

void ViewInput::InsertCharacter(uint32_t codepoint) {
    unsigned char bytes[4];
    const int n = EncodeUTF8(codepoint, bytes);
    InsertText(reinterpret_cast<const char*>(bytes), size_t(n));
}

void ViewInput::InsertNewline() {
    if (m_manager) m_manager->HandleKeypress(kKeyReturn);
}

void ViewInput::DeleteBackward() {
    if (m_manager) m_manager->HandleKeypress(kKeyBackspace);
}

void ViewInput::FocusLost() {
    if (m_manager) m_manager->HandleWindowFocusRelinquish();
}

UInt32 ViewInput::ModifierWord(bool alt, bool shift, bool ctrl) {
    return (alt ? 0x800u : 0u) | (shift ? 0x200u : 0u) | (ctrl ? 0x100u : 0u);
}

int ViewInput::EncodeUTF8(uint32_t c, unsigned char out[4]) {
    if (c < 0x80) {
        out[0] = static_cast<unsigned char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        out[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c >= 0xD800 && c <= 0xDFFF) return 0;  // surrogates are not characters
    if (c < 0x10000) {
        out[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        out[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        return 3;
    }
    if (c > 0x10FFFF) return 0;
    out[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
    out[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    return 4;
}

}  // namespace TB
