#include "gui/KnobRenderer.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "gui/GL.h"
#include "gui/Manager.h"
#include "gui/Texture.h"

namespace TB {

TexturedKnobRenderer::TexturedKnobRenderer(Manager* manager, Texture* knobTexture, Texture* normalMap, float imageX,
                                           float imageY, float imageSize)
    : Effect(manager), m_texture(knobTexture), m_normalMap(normalMap), m_imageX(imageX), m_imageY(imageY),
      m_imageSize(imageSize) {}

int TexturedKnobRenderer::Add() {
    m_knobs.emplace_back();
    return int(m_knobs.size()) - 1;
}

void TexturedKnobRenderer::SetPosition(int index, float x, float y, float halfSize) {
    if (index < 0 || index >= KnobCount()) return;
    RiraKnobRenderInfo& k = m_knobs[size_t(index)];
    k.x = x, k.y = y, k.halfSize = halfSize;
}

void TexturedKnobRenderer::SetVisible(int index, bool visible) {
    if (index >= 0 && index < KnobCount()) m_knobs[size_t(index)].visible.store(visible, std::memory_order_relaxed);
}

void TexturedKnobRenderer::SetAngle(int index, float angle) {
    if (index < 0 || index >= KnobCount()) return;
    m_knobs[size_t(index)].angle = angle;
    m_knobs[size_t(index)].arcAngle.store(angle, std::memory_order_relaxed);
    WriteKnob(index);
}

void TexturedKnobRenderer::SetArcFrom(int index, float angle) {
    if (index >= 0 && index < KnobCount()) m_knobs[size_t(index)].arcFrom = angle;
}

void TexturedKnobRenderer::SetValueArc(float radius, float width, const Vec4& colour) {
    m_arcRadius = std::isfinite(radius) ? std::clamp(radius, 0.0f, 2.0f) : 0.0f;
    m_arcWidth = std::isfinite(width) ? std::clamp(width, 0.0f, 1.0f) : 0.0f;
    m_arcColour = colour;
}

// Angles as the knobs take them: a turns the image clockwise, and pi/2 points straight up.
void TexturedKnobRenderer::DrawValueArcs() const {
    if (m_arcWidth <= 0) return;
    constexpr float kLowest = float(RiraKnobRenderInfo::kArcLowest), kHighest = float(M_PI) - kLowest;
    constexpr float kStep = 0.08f;  // radians a segment
    auto strip = [](const RiraKnobRenderInfo& k, float inner, float outer, float from, float to) {
        if (to < from) std::swap(from, to);
        const int segments = std::max(1, int(std::ceil((to - from) / kStep)));
        glBegin(GL_TRIANGLE_STRIP);
        for (int i = 0; i <= segments; ++i) {
            // t, clockwise from straight up: the screen direction (sin t, cos t).
            const float t = from + (to - from) * float(i) / float(segments) - float(M_PI / 2);
            const float dx = std::sin(t), dy = std::cos(t);
            glVertex2f(k.x + inner * dx, k.y + inner * dy);
            glVertex2f(k.x + outer * dx, k.y + outer * dy);
        }
        glEnd();
    };
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (const RiraKnobRenderInfo& k : m_knobs) {
        if (!k.visible.load(std::memory_order_relaxed)) continue;
        const float r = m_arcRadius * k.halfSize, w = 0.5f * m_arcWidth * k.halfSize;
        glColor4f(0.02f, 0.02f, 0.03f, 0.75f);
        strip(k, r - w - 0.75f, r + w + 0.75f, kLowest, kHighest);
        const float to = std::clamp(k.arcAngle.load(std::memory_order_relaxed), kLowest, kHighest);
        glColor4f(m_arcColour.x, m_arcColour.y, m_arcColour.z, m_arcColour.w);
        if (std::fabs(to - k.arcFrom) > 1e-3f) strip(k, r - w, r + w, k.arcFrom, to);
    }
    glDisable(GL_BLEND);
}

// The square turned clockwise by the angle; the normal carries the rotation to the shader.
void TexturedKnobRenderer::WriteKnob(int index) {
    if (size_t(index) * 4 + 4 > m_vertices.size()) return;  // added after the buffer was built
    const RiraKnobRenderInfo& k = m_knobs[size_t(index)];
    const float c = std::cos(k.angle), s = std::sin(k.angle);
    for (int corner = 0; corner < 4; ++corner) {
        const float cx = m_corners[corner][0], cy = m_corners[corner][1];
        m_vertices[size_t(index) * 4 + corner] = Vertex{m_corners[corner][2], m_corners[corner][3], s, -c, 0,
                                                        k.x + k.halfSize * (cx * c + cy * s),
                                                        k.y + k.halfSize * (cy * c - cx * s), 0};
    }
}

void TexturedKnobRenderer::InitialiseRendering() {
    const float tw = m_texture && m_texture->Width() > 0 ? float(m_texture->Width()) : 1.0f;
    const float th = m_texture && m_texture->Height() > 0 ? float(m_texture->Height()) : 1.0f;
    for (int k = 0; k < 4; ++k) {
        const float cx = (k & 2) ? -1.0f : 1.0f, cy = ((k + 1) & 2) ? -1.0f : 1.0f;
        m_corners[k][0] = cx;
        m_corners[k][1] = cy;
        m_corners[k][2] = (cy + 1) * 0.5f * m_imageSize / tw + m_imageX / tw;  // s follows y
        m_corners[k][3] = (cx + 1) * 0.5f * m_imageSize / th + m_imageY / th;  // t follows x
    }
    if (ShadersAvailable() && m_program.program == 0) {
        m_program = BuildProgram(kKnobVertexShader, kKnobFragmentShader);
        m_texLocation = glGetUniformLocationARB(m_program.program, "tex");
        m_normalMapLocation = glGetUniformLocationARB(m_program.program, "normalMap");
    }
    m_vertices.assign(m_knobs.size() * 4, Vertex{});
    for (int i = 0; i < KnobCount(); ++i) WriteKnob(i);
}

void TexturedKnobRenderer::ShutdownRendering() { DeleteProgram(m_program); }

void TexturedKnobRenderer::Render2d() {
    m_lastDrawCalls = 0;
    const int count = int(m_vertices.size() / 4);
    if (count == 0) return;
    DrawValueArcs();
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, 1);
    const bool lit = m_program.program != 0 && Manager::ms_enableEyeCandy.load(std::memory_order_relaxed);
    const bool normalUnit = lit && m_normalMap != nullptr;
    if (lit) {
        glUseProgramObjectARB(m_program.program);
        glActiveTextureARB(GL_TEXTURE0_ARB);
        glEnable(GL_TEXTURE_2D);
        if (m_texture) m_texture->Bind();
        glUniform1iARB(m_texLocation, 0);
        if (normalUnit) m_normalMap->BindAsNormalMap(m_normalMapLocation);
    } else {
        glEnable(GL_TEXTURE_2D);
        if (m_texture) m_texture->Bind();
    }
    glInterleavedArrays(GL_T2F_N3F_V3F, 0, m_vertices.data());
    for (int i = 0; i < count;) {
        if (!m_knobs[size_t(i)].visible.load(std::memory_order_relaxed)) {
            ++i;
            continue;
        }
        int end = i + 1;
        while (end < count && m_knobs[size_t(end)].visible.load(std::memory_order_relaxed)) ++end;
        glDrawArrays(GL_QUADS, i * 4, (end - i) * 4);
        ++m_lastDrawCalls;
        i = end;
    }
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    UnbindKnobTextures(normalUnit);
    if (lit) glUseProgramObjectARB(0);
    glDisable(GL_BLEND);
    glDisable(GL_ALPHA_TEST);
}

}  // namespace TB
