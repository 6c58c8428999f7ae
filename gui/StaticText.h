// The shared layer of fixed strings (banner, group titles, button captions) that the manager
// draws every frame with its main font. Entries are added on the UI thread while the editor is
// built and on the render task from FinalPosition; each entry follows a colour owned by someone
// else. The strings are laid out once into one vertex buffer (again after every Add) and drawn
// with one array draw per entry.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "gui/Effect.h"
#include "gui/Font.h"
#include "gui/Geometry.h"

namespace TB {

class StaticText : public Effect {
public:
    struct Entry {
        std::string text;
        const Vec4* colour;  // read at every draw
        float x, y;          // baseline start, window pixels
        uint32_t firstVertex = 0;
        uint32_t vertexCount = 0;  // 4 x the text's length in bytes
        bool visible = true;
    };

    explicit StaticText(Manager* manager) : Effect(manager) {}

    // Returns the entry's index (0 for the first).
    int Add(const std::string& text, float x, float y, const Vec4* colour);
    void SetVisible(int index, bool visible);
    const std::vector<Entry>& Entries() const { return m_entries; }
    const std::vector<FontVertex>& Vertices() const { return m_vertices; }

    // Render task: lays the entries out with the main font.
    void InitialiseRendering() override;
    void Render2d() override;

private:
    std::vector<Entry> m_entries;
    std::vector<FontVertex> m_vertices;
    std::atomic<bool> m_dirty{true};
};

}  // namespace TB
