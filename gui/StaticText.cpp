#include "gui/StaticText.h"

#include "gui/GL.h"
#include "gui/Manager.h"

namespace TB {

int StaticText::Add(const std::string& text, float x, float y, const Vec4* colour) {
    Entry e{text, colour, x, y};
    e.vertexCount = uint32_t(4 * text.size());
    m_entries.push_back(e);
    m_dirty.store(true, std::memory_order_release);
    return int(m_entries.size()) - 1;
}

void StaticText::SetVisible(int index, bool visible) {
    if (index >= 0 && index < int(m_entries.size())) m_entries[index].visible = visible;
}

void StaticText::InitialiseRendering() {
    m_dirty.store(false, std::memory_order_relaxed);
    const Font* font = m_manager->MainFont();
    if (font == nullptr) return;
    uint32_t total = 0;
    for (Entry& e : m_entries) {
        e.firstVertex = total;
        total += e.vertexCount;
    }
    // Zeroed: the vertices reserved for characters without a glyph stay degenerate.
    m_vertices.assign(total, FontVertex{0, 0, 0, 0, 0});
    for (const Entry& e : m_entries) font->DrawIntoBuffer(m_vertices.data() + e.firstVertex, e.text.c_str(), e.x, e.y);
}

void StaticText::Render2d() {
    const Font* font = m_manager->MainFont();
    if (font == nullptr) return;
    if (m_dirty.load(std::memory_order_acquire)) InitialiseRendering();
    if (m_vertices.empty()) return;
    glBindTexture(GL_TEXTURE_2D, font->TextureId());
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glInterleavedArrays(GL_T2F_V3F, 0, m_vertices.data());
    for (const Entry& e : m_entries) {
        if (!e.visible || e.vertexCount == 0) continue;
        const Vec4 c = e.colour ? *e.colour : Vec4{1, 1, 1, 1};
        glColor4f(c.x, c.y, c.z, c.w);
        glDrawArrays(GL_QUADS, GLint(e.firstVertex), GLsizei(e.vertexCount));
    }
    EndTextDrawing();
}

}  // namespace TB
