#include "gui/ALmanager.h"

#include <algorithm>

#include "gui/GL.h"
#include "gui/Texture.h"

namespace TB {

ALmanager::ALmanager(AudioUnit unit, void* scriptHost, int parameterCount)
    : Manager(unit, parameterCount), m_scriptHost(scriptHost) {}

ALmanager::~ALmanager() { DestroyRenderTask(); }

void ALmanager::SetBackgroundTexture(Texture* background, Texture* normalMap) {
    m_background = background;
    m_normalMap = normalMap;
    if (m_background) m_background->SetLoadedByOwner(true);
}

void ALmanager::ResetBuild() {
    if (TaskRunning()) return;
    m_background = m_normalMap = nullptr;
    Manager::ResetBuild();
}

void ALmanager::InitialiseRendering() {
    if (ShadersAvailable() && m_program.program == 0) {
        m_program = BuildProgram(nullptr, kBackgroundFragmentShader);
        glUseProgramObjectARB(m_program.program);
        m_texLocation = glGetUniformLocationARB(m_program.program, "tex");
        m_normalMapLocation = glGetUniformLocationARB(m_program.program, "normalMap");
        m_viewportHLocation = glGetUniformLocationARB(m_program.program, "viewportH");
        glUseProgramObjectARB(0);
    }
    if (m_normalMap && m_normalMap->Id() != 0) {
        m_normalMap->Bind();
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
        glBindTexture(GL_TEXTURE_2D, 0);
    }
}

void ALmanager::ShutdownRendering() {
    DeleteProgram(m_program);
    if (m_litFramebuffer) glDeleteFramebuffersEXT(1, &m_litFramebuffer);
    if (m_litTexture) glDeleteTextures(1, &m_litTexture);
    m_litFramebuffer = m_litTexture = 0;
    m_litValid = false;
}

// Window pixels, into the labels layer: the background repeats at one texel per pixel, shaded
// from a slightly red bottom to white below the banner, with alpha 0 (lit by the shader); the
// banner strip above gets alpha 0.16 (shown unlit).
void ALmanager::RenderBackground() {
    if (m_background == nullptr) return;
    m_background->Load();  // once; an image that failed leaves the quad untextured
    const float w = float(Width()), h = float(Height());
    const float tw = float(std::max(1, m_background->Width())), th = float(std::max(1, m_background->Height()));
    const float top = BannerY() - 7;
    m_background->Bind();
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glEnable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    glColor4f(0.85f, 0.8f, 0.8f, 0);
    glTexCoord2f(0, top / th), glVertex2f(0, 0);
    glTexCoord2f(w / tw, top / th), glVertex2f(w, 0);
    glColor4f(1, 1, 1, 0);
    glTexCoord2f(w / tw, 0), glVertex2f(w, top);
    glTexCoord2f(0, 0), glVertex2f(0, top);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, 0);
    const float* clear = LabelsClearColour();
    glColor4f(clear[0], clear[1], clear[2], 0.16f);
    glBegin(GL_QUADS);
    glVertex2f(0, top), glVertex2f(w, top), glVertex2f(w, h), glVertex2f(0, h);
    glEnd();
}

void ALmanager::DrawBackground() {
    if (m_program.program == 0 || !ms_enableEyeCandy.load(std::memory_order_relaxed)) {
        Manager::DrawBackground();  // the same picture, unlit
        return;
    }
    glDisable(GL_LIGHTING);
    if (!UpdateLitCache()) {
        DrawLitQuad();
        return;
    }
    glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, m_litFramebuffer);
    glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, 0);
    glBlitFramebufferEXT(0, 0, m_litWidth, m_litHeight, 0, 0, m_litWidth, m_litHeight, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

bool ALmanager::UpdateLitCache() {
    if (LabelsFramebuffer() == 0 || !GLEW_EXT_framebuffer_blit) return false;
    const int w = Width(), h = Height();
    if (m_litFramebuffer == 0 || w != m_litWidth || h != m_litHeight) {
        if (m_litTexture == 0) glGenTextures(1, &m_litTexture);
        if (m_litFramebuffer == 0) glGenFramebuffersEXT(1, &m_litFramebuffer);
        glBindTexture(GL_TEXTURE_2D, m_litTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_litFramebuffer);
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, m_litTexture, 0);
        const bool complete = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        if (!complete) {
            glDeleteFramebuffersEXT(1, &m_litFramebuffer);
            glDeleteTextures(1, &m_litTexture);
            m_litFramebuffer = m_litTexture = 0;
            return false;
        }
        m_litWidth = w, m_litHeight = h;
        m_litValid = false;
    }
    GLfloat light[4];
    glGetLightfv(GL_LIGHT1, GL_POSITION, light);
    const bool same = m_litValid && m_litLabelsGeneration == LabelsGeneration() && light[0] == m_litLight[0] &&
                      light[1] == m_litLight[1] && light[2] == m_litLight[2] && light[3] == m_litLight[3];
    if (same) return true;
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_litFramebuffer);
    glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
    DrawLitQuad();
    glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    glDrawBuffer(GL_BACK);
    for (int i = 0; i < 4; ++i) m_litLight[i] = light[i];
    m_litLabelsGeneration = LabelsGeneration();
    m_litValid = true;
    return true;
}

// The labels layer through the background program, over the whole window.
void ALmanager::DrawLitQuad() {
    ++m_litDraws;
    const bool normalUnit = m_normalMap != nullptr;
    glUseProgramObjectARB(m_program.program);
    glActiveTextureARB(GL_TEXTURE0_ARB);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, LabelsTexture());
    glUniform1iARB(m_texLocation, 0);
    if (normalUnit) m_normalMap->BindAsNormalMap(m_normalMapLocation);
    glUniform1fARB(m_viewportHLocation, float(Height()));
    DrawLabelsLayerQuad(Width(), Height(), kLabelsWidth, kLabelsHeight);
    UnbindKnobTextures(normalUnit);
    glUseProgramObjectARB(0);
}

}  // namespace TB
