// The product's manager: a tiled background painted into the labels layer, and, with eye candy
// on and GLSL available, the whole background lit through a normal map by the highlight light
// (GL light 1, which follows the hovered element). Without either, plain texturing.
//
// The lit picture depends only on the labels layer, the light's position and the window
// height, so with framebuffer objects it is kept in a window-sized texture and redrawn only
// when one of those changed (the light eases towards the hovered element for a while after the
// mouse moves, and then stands still); other frames copy it.
#pragma once

#include "gui/Manager.h"
#include "gui/Shaders.h"

namespace TB {

class Texture;

class ALmanager : public Manager {
public:
    // `scriptHost`: the GUI script host that creates the manager (kept, never used here).
    ALmanager(AudioUnit unit, void* scriptHost, int parameterCount);
    ~ALmanager() override;  // stops the render task first: its hooks are this class's

    // UI thread, while building: the tiled background (loaded by the labels redraw, so marked as
    // loaded by owner) and the normal map of the lighting (loaded with the other textures).
    void SetBackgroundTexture(Texture* background, Texture* normalMap);

    void ResetBuild() override;  // forgets the background textures as well
    void InitialiseRendering() override;
    void ShutdownRendering() override;
    void DrawBackground() override;
    void RenderBackground() override;

    const ShaderProgram& BackgroundProgram() const { return m_program; }
    // Render task: lit pictures drawn so far (cached frames do not count).
    uint64_t LitBackgroundDraws() const { return m_litDraws; }
    void* ScriptHost() const { return m_scriptHost; }

private:
    void* m_scriptHost;
    Texture* m_background = nullptr;
    Texture* m_normalMap = nullptr;
    ShaderProgram m_program;
    int m_texLocation = -1, m_normalMapLocation = -1, m_viewportHLocation = -1;

    void DrawLitQuad();
    bool UpdateLitCache();  // false: no cache possible, draw directly

    // The lit picture's cache and what it was drawn from (render task).
    unsigned int m_litTexture = 0, m_litFramebuffer = 0;
    int m_litWidth = 0, m_litHeight = 0;
    float m_litLight[4] = {};
    uint64_t m_litLabelsGeneration = 0;
    bool m_litValid = false;
    uint64_t m_litDraws = 0;
};

}  // namespace TB
