// A texture font: glyphs rasterised at twice the nominal size and drawn at half scale.
//
// The glyphs come from FreeType directly: the font rasterises the printable ASCII range into an
// alpha atlas of its own and builds the glyph quads itself (T2F_V3F vertices), so it knows each
// glyph's texture coordinates and takes unfitted kerning from the face.
//
// Fonts are made on the UI thread and handed to the manager (SetFonts or its font list); the
// manager preloads them on the render task during GL set-up and unloads them at GL shutdown.
// Every glyph operation (rasterising, measuring, drawing) runs on the render task; rasterising
// and face creation hold one process-wide lock, because all fonts share one FreeType library.
// A font whose file did not load measures and draws nothing.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace TB {

// One vertex of a glyph quad, in the layout of GL_T2F_V3F.
struct FontVertex {
    float s, t, x, y, z;
};

// The font folder of a domain (-32765 local, -32763 user, -32766 system) with a trailing "/",
// or empty when the folder does not exist. Local: /usr/local/share/fonts/; user:
// $XDG_DATA_HOME/fonts/ ($HOME/.local/share/fonts/ when unset); system: /usr/share/fonts/.
std::string GetFontFolder(short domain);

class Font {
public:
    struct FontSpec {
        std::string path;
        int size;
    };
    struct Glyph;
    struct GlyphSource;

    static constexpr int kMinSize = 1;
    static constexpr int kMaxSize = 96;  // nominal points; larger sizes are drawn at this size

    // Opens the face at twice `size` (clamped to kMinSize..kMaxSize) at 72 dpi; a file that is
    // not a font prints "Unable to load font" and leaves the font without a glyph source.
    Font(const std::string& path, int size);
    virtual ~Font();
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // The first spec that names a readable font file (as given, else inside the local, user
    // and system font folders), or null.
    static Font* Create(const std::vector<FontSpec>& specs);

    bool HasGlyphSource() const { return m_glyphSource != nullptr; }
    // Render task: rasterise the printable ASCII range and upload the atlas / drop the atlas
    // texture (the next Preload uploads it again).
    virtual void Preload();
    virtual void Unload();
    // Rasterises characters 32..126 into the atlas in memory, without GL (once). Preload does
    // this first; measuring and laying out work after it even without a GL context.
    void RasteriseGlyphs();

    // Render task: draws at the baseline start (x, y) in the current colour.
    virtual void Draw(const char* text, float x, float y) const;
    // Writes four vertices per drawn character into `out` (room for 4 x strlen(text) needed);
    // returns the number of vertices written.
    size_t DrawIntoBuffer(FontVertex* out, const char* text, float x, float y) const;
    // Width of the text in pixels (the pen advance, kerning included); 0 without a glyph source.
    virtual float GetStringWidth(const char* text) const;
    virtual float LineHeight() const;
    virtual float Descender() const;
    // The atlas texture (0 before Preload or without a glyph source).
    unsigned int TextureId() const;
    int NominalSize() const { return m_size; }

protected:
    std::string m_path;
    int m_size;
    GlyphSource* m_glyphSource = nullptr;  // owned; null when the file failed to load
    mutable std::vector<FontVertex> m_drawBuffer;  // render task: Draw's quads, grown as needed
};

}  // namespace TB
