#include "gui/Displays.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "effect/DataToGui.h"
#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"
#include "gui/Texture.h"

namespace TB {

// ---------------------------------------------------------------------------------------------
// InfoDisplay

InfoDisplay::InfoDisplay(Manager* manager, float x, float y, float width, float height, const DataToGui* data)
    : UIElement(manager), m_bounds(Bounds::Rect(x, y, x + width, y + height)), m_data(data) {}

void InfoDisplay::FormatLine(float f, char* out) {
    static const char* const names[12] = {"C ", "C#", "D ", "D#", "E ", "F ", "F#", "G ", "G#", "A ", "A#", "B "};
    char note[24] = "--";
    // Below 1e-3 Hz or past 1e7 Hz there is no sensible note (and the integer would overflow).
    if (std::isfinite(f) && f > 1e-3f && f < 1e7f) {
        const float value = 12 * std::log2(f * 0.00227273f) + 69;
        const int n = int(value + 0.5f);
        const char* name = names[((n % 12) + 12) % 12];
        std::snprintf(note, sizeof note, "%c%c%d%+.0f", name[0], name[1], n / 12 - 1, double((value - n) * 100));
    }
    std::snprintf(out, kTextSize, "%6.1fHz  %.12s", double(f), note);
}

void InfoDisplay::Render() const {
    const Font* font = m_manager->MainFont();
    if (font == nullptr || m_data == nullptr || !IsVisible()) return;
    const DataToGuiAnalysis a = m_data->Analysis();
    for (int i = 0; i < 2; ++i) {
        if (a.frequency[i] != m_shownFrequency[i] || m_text[i][0] == 0) {
            m_shownFrequency[i] = a.frequency[i];
            FormatLine(a.frequency[i], m_text[i]);
        }
    }
    for (int i = 0; i < 2; ++i) {
        if (!(a.envelope[i] >= 1e-6f)) continue;
        if (a.noLock[i]) glColor3f(1, 0.1f, 0.1f);
        else glColor3f(0.5f, 0.5f, 0.5f);
        font->Draw(m_text[i], m_bounds.min[0], m_bounds.min[1] + 20 * i);
    }
}

// ---------------------------------------------------------------------------------------------
// TexturedMeters

TexturedMeters::TexturedMeters(Manager* manager, Texture* texture, float imageX, float imageY, float width,
                               float height)
    : Effect(manager), m_texture(texture), m_imageX(imageX), m_imageY(imageY), m_width(width), m_height(height) {}

void TexturedMeters::Add(float x, float y, const float* value) { m_meters.push_back({x, y, value, kValue, 0}); }

void TexturedMeters::Add(float x, float y, const DataToGui* data, Source source, int channel) {
    if (data == nullptr || source == kValue) return;
    m_data = data;
    m_meters.push_back({x, y, nullptr, source, std::clamp(channel, 0, 1)});
}

void TexturedMeters::Render2d() {
    if (m_meters.empty()) return;
    glColor4f(0.1f, 0.1f, 0.1f, 1);
    glBegin(GL_QUADS);
    for (const RenderInfo& m : m_meters) {
        glVertex2f(m.x, m.y), glVertex2f(m.x + m_width, m.y);
        glVertex2f(m.x + m_width, m.y + m_height), glVertex2f(m.x, m.y + m_height);
    }
    glEnd();

    const DataToGuiAnalysis analysis = m_data ? m_data->Analysis() : DataToGuiAnalysis{};
    const float tw = m_texture && m_texture->Width() > 0 ? float(m_texture->Width()) : 1.0f;
    const float th = m_texture && m_texture->Height() > 0 ? float(m_texture->Height()) : 1.0f;
    if (m_texture) m_texture->Bind();
    glEnable(GL_TEXTURE_2D);
    glColor4f(1, 1, 1, 1);
    const float s0 = m_imageX / tw, s1 = s0 + m_width / tw, t1 = (m_imageY + m_height) / th;
    glBegin(GL_QUADS);
    for (const RenderInfo& m : m_meters) {
        float v = m.source == kPeak       ? analysis.peak[m.channel]
                  : m.source == kEnvelope ? analysis.envelope[m.channel]
                  : m.value               ? *m.value
                                          : 0.0f;
        v = std::isnan(v) ? 0.0f : std::clamp(v, 0.0f, 1.0f);
        const float fill = m_height * v, t0 = t1 - fill / th;
        glTexCoord2f(s0, t1), glVertex2f(m.x, m.y);
        glTexCoord2f(s1, t1), glVertex2f(m.x + m_width, m.y);
        glTexCoord2f(s1, t0), glVertex2f(m.x + m_width, m.y + fill);
        glTexCoord2f(s0, t0), glVertex2f(m.x, m.y + fill);
    }
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
}

}  // namespace TB
