// Texture loading: stb_image decodes the file; the pixels are premultiplied and uploaded as
// RGBA8 from BGRA bytes with the 8-8-8-8 packing (A, R, G, B in memory order).
#include "gui/Texture.h"

#include <stb/stb_image.h>

#include <vector>

#include "gui/GL.h"
#include "gui/Manager.h"
#include "hostframework/Bundle.h"
#include "hostframework/Log.h"

namespace TB {

namespace {
bool PowerOfTwo(int v) { return v > 0 && (v & (v - 1)) == 0; }
}  // namespace

Texture::Texture(Manager* manager, const std::string& name, const std::string& bundleFolder)
    : m_name(name), m_bundleFolder(bundleFolder) {
    if (manager) manager->AddTexture(this);
}

Texture::~Texture() = default;

void Texture::Load() {
    if (m_tried) return;
    m_tried = true;
    const std::string folder = m_bundleFolder.empty() ? TBLocateOwnBundleFolder() : m_bundleFolder;
    if (folder.empty() || m_name.empty()) return;
    const std::string path = folder + "/" + m_name;
    // The header first: a missing or non-image file stops here silently, and nothing is
    // decoded that breaks the size rules.
    int w = 0, h = 0, channels = 0;
    if (!stbi_info(path.c_str(), &w, &h, &channels)) return;
    if (!PowerOfTwo(w) || !PowerOfTwo(h)) {
        LogFormat(LogLevel::kNote, "ERROR: texture %s not power of 2 sized\n", m_name.c_str());
        return;
    }
    if (w > kMaxSide || h > kMaxSide) {
        LogFormat(LogLevel::kNote, "ERROR: texture %s is %d x %d, larger than %d x %d\n", m_name.c_str(), w, h,
                  kMaxSide, kMaxSide);
        return;
    }
    unsigned char* rgba = stbi_load(path.c_str(), &w, &h, &channels, 4);
    if (rgba == nullptr) return;  // a truncated or corrupt body
    if (!PowerOfTwo(w) || !PowerOfTwo(h) || w > kMaxSide || h > kMaxSide) {
        stbi_image_free(rgba);
        return;
    }
    std::vector<unsigned char> argb(size_t(w) * h * 4);
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        const unsigned a = rgba[4 * i + 3];
        argb[4 * i + 0] = static_cast<unsigned char>(a);
        argb[4 * i + 1] = static_cast<unsigned char>((rgba[4 * i + 0] * a + 127) / 255);
        argb[4 * i + 2] = static_cast<unsigned char>((rgba[4 * i + 1] * a + 127) / 255);
        argb[4 * i + 3] = static_cast<unsigned char>((rgba[4 * i + 2] * a + 127) / 255);
    }
    stbi_image_free(rgba);
    glGenTextures(1, &m_id);
    glBindTexture(GL_TEXTURE_2D, m_id);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8, argb.data());
    SetLinearClampedFiltering();
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glBindTexture(GL_TEXTURE_2D, 0);
    m_width = w;
    m_height = h;
}

void Texture::Unload() {
    if (m_id != 0) glDeleteTextures(1, &m_id);
    m_id = 0;
}

void Texture::Bind() const { glBindTexture(GL_TEXTURE_2D, m_id); }

void Texture::BindAsNormalMap(int location) const {
    glActiveTextureARB(GL_TEXTURE1_ARB);
    glEnable(GL_TEXTURE_2D);
    Bind();
    glUniform1iARB(location, 1);
    glActiveTextureARB(GL_TEXTURE0_ARB);
}

}  // namespace TB
