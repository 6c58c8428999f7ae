// A texture font: glyphs rasterised at twice the nominal size and drawn at half scale.
//
// Fonts are made on the UI thread and handed to the manager (SetFonts or its font list); the
// manager preloads them on the render task during GL set-up and unloads them at GL shutdown.
// A font whose glyph source is missing (a file that did not load) measures and draws nothing.
#pragma once

#include <string>
#include <vector>

namespace TB {

class Font {
public:
    struct FontSpec {
        std::string path;
        int size;
    };

    Font(const std::string& path, int size);
    virtual ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // The first spec that names a readable font file, or null.
    static Font* Create(const std::vector<FontSpec>& specs);

    bool HasGlyphSource() const { return m_glyphSource != nullptr; }
    // Render task: rasterise the printable ASCII range / drop the glyph source's GL objects.
    virtual void Preload();
    virtual void Unload();
    // Render task: draws at the baseline start (x, y) in the current colour.
    virtual void Draw(const char* text, float x, float y) const;
    // Width of the text in pixels; 0 without a glyph source.
    virtual float GetStringWidth(const char* text) const;
    virtual float LineHeight() const;
    virtual float Descender() const;

protected:
    std::string m_path;
    int m_size;
    void* m_glyphSource = nullptr;  // owned; null when the file failed to load
};

}  // namespace TB
