// Glyphs from FreeType into an alpha atlas of our own; quads built here and drawn as one
// interleaved array per string.
#include "gui/Font.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "gui/GL.h"
#include "hostframework/Log.h"

namespace TB {

namespace {

constexpr int kFirstChar = 32, kLastChar = 126, kCharCount = kLastChar - kFirstChar + 1;
constexpr int kAtlasWidth = 1024, kMaxAtlasHeight = 4096;

// Every FreeType call that creates, rasterises or frees goes through the one library under
// this lock: editors in the same process share it.
std::mutex& GlyphLock() {
    static std::mutex lock;
    return lock;
}
FT_Library g_freeType = nullptr;  // under GlyphLock; created on first use, never freed

bool IsReadableFile(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

struct Font::Glyph {
    bool present = false;
    float advance = 0;            // full-size pixels
    float left = 0, top = 0;      // bitmap offset from the pen, full-size pixels (y up)
    float width = 0, height = 0;  // bitmap size, full-size pixels
    float s0 = 0, t0 = 0, s1 = 0, t1 = 0;
};

struct Font::GlyphSource {
    FT_Face face = nullptr;
    std::atomic<bool> rasterised{false};  // set once, under the glyph lock
    float lineHeight = 0, descender = 0;  // full-size pixels
    Glyph glyphs[kCharCount];
    std::vector<float> kerning;  // kCharCount x kCharCount, full-size pixels; empty without kerning
    std::vector<unsigned char> atlas;
    int atlasHeight = 0;
    unsigned int texture = 0;

    const Glyph* For(unsigned char c) const {
        if (c < kFirstChar || c > kLastChar) return nullptr;
        const Glyph& g = glyphs[c - kFirstChar];
        return g.present ? &g : nullptr;
    }
    float Kerning(unsigned char a, unsigned char b) const {
        if (kerning.empty() || a < kFirstChar || a > kLastChar || b < kFirstChar || b > kLastChar) return 0;
        return kerning[size_t(a - kFirstChar) * kCharCount + (b - kFirstChar)];
    }
};

std::string GetFontFolder(short domain) {
    std::string folder;
    switch (domain) {
    case -32765: folder = "/usr/local/share/fonts"; break;
    case -32763: {
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        if (data && *data == '/') folder = std::string(data) + "/fonts";
        else if (home && *home) folder = std::string(home) + "/.local/share/fonts";
        break;
    }
    case -32766: folder = "/usr/share/fonts"; break;
    default: break;
    }
    return !folder.empty() && IsFolder(folder) ? folder + "/" : std::string();
}

Font* Font::Create(const std::vector<FontSpec>& specs) {
    static const short kDomains[] = {-32765, -32763, -32766};
    for (const FontSpec& spec : specs) {
        if (spec.path.empty()) continue;
        std::string path = spec.path;
        if (!IsReadableFile(path)) {
            path.clear();
            for (short domain : kDomains) {
                const std::string folder = GetFontFolder(domain);
                if (!folder.empty() && IsReadableFile(folder + spec.path)) {
                    path = folder + spec.path;
                    break;
                }
            }
        }
        if (path.empty()) continue;
        Font* font = new Font(path, spec.size);
        if (font->HasGlyphSource()) return font;
        delete font;
    }
    return nullptr;
}

Font::Font(const std::string& path, int size) : m_path(path), m_size(std::clamp(size, kMinSize, kMaxSize)) {
    std::lock_guard<std::mutex> guard(GlyphLock());
    if (g_freeType == nullptr && FT_Init_FreeType(&g_freeType) != 0) g_freeType = nullptr;
    FT_Face face = nullptr;
    if (g_freeType == nullptr || FT_New_Face(g_freeType, path.c_str(), 0, &face) != 0 ||
        FT_Set_Char_Size(face, 0, FT_F26Dot6(2 * m_size * 64), 72, 72) != 0) {
        if (face) FT_Done_Face(face);
        // There is no modal alert under the window layer: the line is the whole report.
        LogLine(LogLevel::kError, "Unable to load font\n");
        return;
    }
    m_glyphSource = new GlyphSource;
    m_glyphSource->face = face;
    m_glyphSource->lineHeight = float(face->size->metrics.height) / 64.0f;
    m_glyphSource->descender = float(face->size->metrics.descender) / 64.0f;
}

Font::~Font() {
    if (m_glyphSource == nullptr) return;
    // A texture still alive here belongs to a context that is gone; only its name leaks.
    std::lock_guard<std::mutex> guard(GlyphLock());
    FT_Done_Face(m_glyphSource->face);
    delete m_glyphSource;
}

void Font::RasteriseGlyphs() {
    if (m_glyphSource == nullptr || m_glyphSource->rasterised.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(GlyphLock());
    GlyphSource& src = *m_glyphSource;
    if (src.rasterised.load(std::memory_order_relaxed)) return;
    FT_Face face = src.face;

    struct Bitmap {
        int w = 0, h = 0;
        std::vector<unsigned char> pixels;
    };
    std::vector<Bitmap> bitmaps(kCharCount);
    unsigned int indices[kCharCount] = {};
    for (int c = kFirstChar; c <= kLastChar; ++c) {
        const unsigned int index = FT_Get_Char_Index(face, FT_ULong(c));
        if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0 ||
            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
            continue;
        const FT_GlyphSlot slot = face->glyph;
        const FT_Bitmap& bm = slot->bitmap;
        Glyph& g = src.glyphs[c - kFirstChar];
        Bitmap& out = bitmaps[c - kFirstChar];
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY && int(bm.width) <= kAtlasWidth - 2 && int(bm.rows) <= 1024) {
            out.w = int(bm.width), out.h = int(bm.rows);
            out.pixels.resize(size_t(out.w) * out.h);
            for (int row = 0; row < out.h; ++row)
                std::memcpy(&out.pixels[size_t(row) * out.w], bm.buffer + ptrdiff_t(row) * bm.pitch, size_t(out.w));
        }
        g.present = true;
        g.advance = float(slot->advance.x) / 64.0f;
        g.left = float(slot->bitmap_left);
        g.top = float(slot->bitmap_top);
        g.width = float(out.w);
        g.height = float(out.h);
        indices[c - kFirstChar] = index;
    }

    // Shelf packing, one pixel apart, rows top down.
    struct Place {
        int x, y;
    };
    std::vector<Place> places(kCharCount, Place{0, 0});
    int x = 1, y = 1, shelf = 0;
    for (int i = 0; i < kCharCount; ++i) {
        const Bitmap& b = bitmaps[i];
        if (b.w == 0 || b.h == 0) continue;
        if (x + b.w + 1 > kAtlasWidth) x = 1, y += shelf + 1, shelf = 0;
        places[i] = {x, y};
        x += b.w + 1;
        shelf = std::max(shelf, b.h);
    }
    int height = 16;
    while (height < y + shelf + 1 && height < kMaxAtlasHeight) height *= 2;
    src.atlasHeight = height;
    src.atlas.assign(size_t(kAtlasWidth) * height, 0);
    for (int i = 0; i < kCharCount; ++i) {
        const Bitmap& b = bitmaps[i];
        Glyph& g = src.glyphs[i];
        if (b.w == 0 || b.h == 0) continue;
        if (places[i].y + b.h > height) {  // past the largest atlas: drawn as blank space
            g.width = g.height = 0;
            continue;
        }
        for (int row = 0; row < b.h; ++row)
            std::memcpy(&src.atlas[size_t(places[i].y + row) * kAtlasWidth + places[i].x], &b.pixels[size_t(row) * b.w],
                        size_t(b.w));
        g.s0 = float(places[i].x) / kAtlasWidth;
        g.t0 = float(places[i].y) / float(height);
        g.s1 = float(places[i].x + b.w) / kAtlasWidth;
        g.t1 = float(places[i].y + b.h) / float(height);
    }

    if (FT_HAS_KERNING(face)) {
        src.kerning.assign(size_t(kCharCount) * kCharCount, 0.0f);
        for (int a = 0; a < kCharCount; ++a)
            for (int b = 0; b < kCharCount; ++b) {
                FT_Vector k{0, 0};
                if (indices[a] && indices[b] &&
                    FT_Get_Kerning(face, indices[a], indices[b], FT_KERNING_UNFITTED, &k) == 0)
                    src.kerning[size_t(a) * kCharCount + b] = float(k.x) / 64.0f;
            }
    }
    src.rasterised.store(true, std::memory_order_release);
}

void Font::Preload() {
    if (m_glyphSource == nullptr) return;
    RasteriseGlyphs();
    GlyphSource& src = *m_glyphSource;
    if (src.texture != 0) return;
    glGenTextures(1, &src.texture);
    glBindTexture(GL_TEXTURE_2D, src.texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_ALPHA8, kAtlasWidth, src.atlasHeight, 0, GL_ALPHA, GL_UNSIGNED_BYTE,
                 src.atlas.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    SetLinearClampedFiltering();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Font::Unload() {
    if (m_glyphSource == nullptr || m_glyphSource->texture == 0) return;
    glDeleteTextures(1, &m_glyphSource->texture);
    m_glyphSource->texture = 0;
}

unsigned int Font::TextureId() const { return m_glyphSource ? m_glyphSource->texture : 0; }

// The glyph walk: pen from the floored start, each drawn character moves it by half its advance
// plus half the kerning towards the next character; characters without a glyph are skipped.
size_t Font::DrawIntoBuffer(FontVertex* out, const char* text, float x, float y) const {
    if (m_glyphSource == nullptr || text == nullptr || !m_glyphSource->rasterised.load(std::memory_order_acquire))
        return 0;
    const GlyphSource& src = *m_glyphSource;
    float penX = std::floor(x), penY = std::floor(y);
    size_t n = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        const Glyph* g = src.For(*p);
        if (g == nullptr) continue;
        const float x0 = penX + 0.5f * g->left, y0 = penY + 0.5f * g->top;
        const float x1 = x0 + 0.5f * g->width, y1 = y0 - 0.5f * g->height;
        out[n++] = {g->s0, g->t0, x0, y0, 0};
        out[n++] = {g->s0, g->t1, x0, y1, 0};
        out[n++] = {g->s1, g->t1, x1, y1, 0};
        out[n++] = {g->s1, g->t0, x1, y0, 0};
        penX += 0.5f * (src.Kerning(p[0], p[1]) + g->advance);
    }
    return n;
}

float Font::GetStringWidth(const char* text) const {
    if (m_glyphSource == nullptr || text == nullptr) return 0;
    const_cast<Font*>(this)->RasteriseGlyphs();  // no-op once done
    float width = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        if (const Glyph* g = m_glyphSource->For(*p)) width += g->advance + m_glyphSource->Kerning(p[0], p[1]);
    return 0.5f * width;
}

float Font::LineHeight() const { return m_glyphSource ? 0.5f * m_glyphSource->lineHeight : 0; }
float Font::Descender() const { return m_glyphSource ? 0.5f * m_glyphSource->descender : 0; }

void Font::Draw(const char* text, float x, float y) const {
    if (m_glyphSource == nullptr || text == nullptr || m_glyphSource->texture == 0) return;
    const size_t need = 4 * std::strlen(text);
    if (need == 0) return;
    if (m_drawBuffer.size() < need) m_drawBuffer.resize(need);  // grows once per longer text
    const size_t count = DrawIntoBuffer(m_drawBuffer.data(), text, x, y);
    if (count == 0) return;
    glBindTexture(GL_TEXTURE_2D, m_glyphSource->texture);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_TEXTURE_2D);
    glInterleavedArrays(GL_T2F_V3F, 0, m_drawBuffer.data());
    glDrawArrays(GL_QUADS, 0, GLsizei(count));
    EndTextDrawing();
}

}  // namespace TB
