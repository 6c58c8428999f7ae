#include "gui/StaticText.h"

#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"

namespace TB {

int StaticText::Add(const std::string& text, float x, float y, const Vec4* colour) {
    m_entries.push_back(Entry{text, colour, x, y, true});
    return int(m_entries.size()) - 1;
}

void StaticText::SetVisible(int index, bool visible) {
    if (index >= 0 && index < int(m_entries.size())) m_entries[index].visible = visible;
}

void StaticText::Render2d() {
    const Font* font = m_manager->MainFont();
    if (font == nullptr) return;
    for (const Entry& e : m_entries) {
        if (!e.visible) continue;
        const Vec4 c = e.colour ? *e.colour : Vec4{1, 1, 1, 1};
        glColor4f(c.x, c.y, c.z, c.w);
        font->Draw(e.text.c_str(), e.x, e.y);
    }
}

}  // namespace TB
