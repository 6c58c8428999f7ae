// The product's manager: a tiled background painted into the labels layer, and, with eye candy
// on and GLSL available, the whole background lit through a normal map by the highlight light
// (GL light 1, which follows the hovered element). Without either, plain texturing.
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

    void InitialiseRendering() override;
    void ShutdownRendering() override;
    void DrawBackground() override;
    void RenderBackground() override;

    const ShaderProgram& BackgroundProgram() const { return m_program; }
    void* ScriptHost() const { return m_scriptHost; }

private:
    void* m_scriptHost;
    Texture* m_background = nullptr;
    Texture* m_normalMap = nullptr;
    ShaderProgram m_program;
    int m_texLocation = -1, m_normalMapLocation = -1, m_viewportHLocation = -1;
};

}  // namespace TB
