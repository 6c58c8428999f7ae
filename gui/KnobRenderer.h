// All textured knobs of one look in one effect: one texture (and optional normal map), one
// vertex buffer with four vertices a knob, one lit GLSL program; each knob is turned by
// rewriting its four vertices when its parameter changes, never per frame.
//
// Optionally each knob gets a value arc, drawn every frame under the knobs from the angle last
// set (the render task's copy of it is atomic).
//
// Knobs are added (UI thread) before the render task initialises the renderer, which sizes the
// buffer. SetAngle runs on the UI thread and writes the buffer that Render2d reads on the render
// task without a lock: a frame may show one knob half turned.
#pragma once

#include <atomic>
#include <vector>

#include "gui/Effect.h"
#include "gui/Geometry.h"
#include "gui/Shaders.h"

namespace TB {

class Texture;

struct RiraKnobRenderInfo {
    float x = 0, y = 0;    // centre, window pixels
    float halfSize = 0;
    float angle = 0;       // radians, clockwise
    std::atomic<bool> visible{true};
    // The value arc: the angle it ends at (the render task's copy of `angle`) and the angle it
    // starts from (the lowest position, or the parameter's zero for a range around zero).
    std::atomic<float> arcAngle{0};
    float arcFrom = float(kArcLowest);

    static constexpr double kArcLowest = 1.5707963267948966 - 2.356194490192345;  // pi/2 - 3pi/4

    RiraKnobRenderInfo() = default;
    RiraKnobRenderInfo(const RiraKnobRenderInfo& o)
        : x(o.x), y(o.y), halfSize(o.halfSize), angle(o.angle), visible(o.visible.load()),
          arcAngle(o.arcAngle.load()), arcFrom(o.arcFrom) {}
};

class TexturedKnobRenderer : public Effect {
public:
    // One knob vertex in the layout of GL_T2F_N3F_V3F.
    struct Vertex {
        float s, t, nx, ny, nz, x, y, z;
    };

    TexturedKnobRenderer(Manager* manager, Texture* knobTexture, Texture* normalMap, float imageX, float imageY,
                         float imageSize);

    int Add();
    void SetPosition(int index, float x, float y, float halfSize);
    void SetAngle(int index, float angle);
    void SetVisible(int index, bool visible);
    // UI thread, while building: where the knob's value arc starts (an angle as SetAngle takes).
    void SetArcFrom(int index, float angle);
    // UI thread, while building: draw a value arc around every knob, from where it starts to the
    // knob's angle, over a dark groove along the whole travel. Radius and width are fractions
    // of the knob's half size; a width of 0 (the default) draws none.
    void SetValueArc(float radius, float width, const Vec4& colour);

    void InitialiseRendering() override;
    void ShutdownRendering() override;
    void Render2d() override;

    int KnobCount() const { return int(m_knobs.size()); }
    const RiraKnobRenderInfo& Knob(int index) const { return m_knobs[size_t(index)]; }
    const std::vector<Vertex>& Vertices() const { return m_vertices; }
    const ShaderProgram& Program() const { return m_program; }
    // Render task: quad draws issued by the last Render2d.
    int LastDrawCalls() const { return m_lastDrawCalls; }

private:
    void WriteKnob(int index);
    void DrawValueArcs() const;

    std::vector<RiraKnobRenderInfo> m_knobs;
    float m_corners[4][4] = {};  // corner x, corner y, s, t
    Texture* m_texture;
    Texture* m_normalMap;
    float m_imageX, m_imageY, m_imageSize;
    std::vector<Vertex> m_vertices;
    ShaderProgram m_program;
    int m_texLocation = -1, m_normalMapLocation = -1;
    int m_lastDrawCalls = 0;
    float m_arcRadius = 0, m_arcWidth = 0;
    Vec4 m_arcColour = {1, 1, 1, 1};
};

}  // namespace TB
