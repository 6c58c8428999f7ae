// An image texture loaded from a bundle folder. The manager owns its textures and loads them on
// the render task during GL set-up (except those marked as loaded by their owner).
#pragma once

#include <string>

namespace TB {

class Manager;

class Texture {
public:
    // `bundleFolder` empty: the plug-in's own bundle. Registers itself with the manager.
    Texture(Manager* manager, const std::string& name, const std::string& bundleFolder = std::string());
    virtual ~Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Largest side accepted (a 4096 x 4096 image decodes to 64 MiB); larger images are refused
    // from their header, before decoding.
    static constexpr int kMaxSide = 4096;

    // Render task, GL current. Tries once; a missing or undecodable image stays unloaded (id 0).
    virtual void Load();
    virtual void Unload();
    void Bind() const;
    // Render task: binds the texture to unit 1 as a lit program's normal map (sampler uniform at
    // `location`), leaving unit 0 the active one.
    void BindAsNormalMap(int location) const;

    unsigned int Id() const { return m_id; }
    bool Tried() const { return m_tried; }
    bool LoadedByOwner() const { return m_loadedByOwner; }
    void SetLoadedByOwner(bool v) { m_loadedByOwner = v; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    const std::string& Name() const { return m_name; }

protected:
    std::string m_name;
    std::string m_bundleFolder;
    unsigned int m_id = 0;
    bool m_tried = false;
    bool m_loadedByOwner = false;
    int m_width = 0, m_height = 0;
};

}  // namespace TB
