// Read-only displays of the unit's live analysis, fed from its DataToGui record (the unit
// writes it at the end of every render block; the render task reads a snapshot once a frame):
// InfoDisplay prints each channel's detected frequency and nearest note, TexturedMeters draws
// vertical level bars that reveal a meter image.
#pragma once

#include <vector>

#include "gui/Effect.h"
#include "gui/UIElement.h"

class DataToGui;

namespace TB {

class Texture;

class InfoDisplay : public UIElement {
public:
    InfoDisplay(Manager* manager, float x, float y, float width, float height, const DataToGui* data);

    void Render() const override;
    void ExtendBounds(Bounds& b) const override { b.Union(m_bounds); }

    static constexpr size_t kTextSize = 32;
    // "%6.1fHz  %s" with the note text: name, octave and cents ("A 4+0", "C#3-12"); a frequency
    // that is not a positive finite number shows "--" for the note.
    static void FormatLine(float frequency, char* out);
    const char* Text(int channel) const { return m_text[channel]; }

private:
    Bounds m_bounds;
    const DataToGui* m_data;
    mutable float m_shownFrequency[2] = {0, 0};
    mutable char m_text[2][kTextSize] = {};
};

class TexturedMeters : public Effect {
public:
    enum Source { kValue, kPeak, kEnvelope };
    struct RenderInfo {
        float x, y;          // bottom-left corner, window pixels
        const float* value;  // read every frame (kValue)
        Source source;
        int channel;         // 0 or 1 (kPeak, kEnvelope)
    };

    TexturedMeters(Manager* manager, Texture* texture, float imageX, float imageY, float width, float height);

    // Meters are drawn in the order added. A meter of a plain float:
    void Add(float x, float y, const float* value);
    // A meter of the unit's analysis record (peak or envelope of channel 0 or 1), read from one
    // snapshot per frame.
    void Add(float x, float y, const DataToGui* data, Source source, int channel);

    void Render2d() override;
    const std::vector<RenderInfo>& Meters() const { return m_meters; }

private:
    std::vector<RenderInfo> m_meters;
    const DataToGui* m_data = nullptr;
    Texture* m_texture;
    float m_imageX, m_imageY, m_width, m_height;
};

}  // namespace TB
