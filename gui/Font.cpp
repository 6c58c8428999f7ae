// The font's glyph-source-independent parts. Until a glyph source is attached every metric is
// 0 and drawing does nothing, which is exactly how the toolkit treats a font that failed to load.
#include "gui/Font.h"

namespace TB {

Font::Font(const std::string& path, int size) : m_path(path), m_size(size) {}
Font::~Font() = default;

Font* Font::Create(const std::vector<FontSpec>&) { return nullptr; }

void Font::Preload() {}
void Font::Unload() {}
void Font::Draw(const char*, float, float) const {}
float Font::GetStringWidth(const char*) const { return 0; }
float Font::LineHeight() const { return 0; }
float Font::Descender() const { return 0; }

}  // namespace TB
