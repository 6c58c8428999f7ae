// The manager's render task and everything it draws. Only CreateRenderTask, DestroyRenderTask,
// NudgeGUI, RequestRedrawLabels and RaiseEvent run on the UI thread; the rest runs on the
// render task, which alone makes GL calls.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "gui/Effect.h"
#include "gui/Font.h"
#include "gui/GL.h"
#include "gui/Manager.h"
#include "gui/ManagerPlatformBridge.h"
#include "gui/Texture.h"
#include "gui/UIElement.h"
#include "hostframework/Log.h"

namespace TB {

namespace {
// glewInit fills process-wide entry points: one render task at a time.
std::mutex g_glewLock;
}  // namespace

// ---------------------------------------------------------------------------------------------
// Task control (UI thread)

void Manager::CreateRenderTask() {
    if (m_taskRunning) {
        LogLine(LogLevel::kNote, "double call to CreateRenderTask()\n");
        return;
    }
    OSStatus err = MPCreateEvent(&m_event);
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateEvent returned %d\n", int(err));
        m_event = nullptr;
        return;
    }
    err = MPCreateSemaphore(1, 0, &m_semaphore);
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateSemaphore returned %d\n", int(err));
        MPDeleteEvent(m_event);
        m_event = nullptr;
        m_semaphore = nullptr;
        return;
    }
    err = MPCreateTask(&Manager::RenderTaskEntry, this, 0, nullptr, nullptr, nullptr, 0, &m_task);
    if (err != noErr) {
        LogFormat(LogLevel::kNote, "MPCreateTask returned %d\n", int(err));
        MPDeleteSemaphore(m_semaphore);
        MPDeleteEvent(m_event);
        m_event = nullptr;
        m_semaphore = nullptr;
        m_task = nullptr;
        return;
    }
    m_taskRunning = true;
}

void Manager::DestroyRenderTask() {
    if (!m_taskRunning) return;
    MPSetEvent(m_event, kEventQuit);
    if (MPWaitOnSemaphore(m_semaphore, kShutdownBound) != noErr) {
        LogLine(LogLevel::kNote, "DestroyRenderTask timeout on shutdown\n");
        MPTerminateTask(m_task, kMPTimeoutErr);
    } else if (MPWaitForTaskEnd(m_task, kShutdownBound) != noErr) {
        MPTerminateTask(m_task, kMPTimeoutErr);  // signalled but never returned: leave it be
    }
    MPDeleteEvent(m_event);
    MPDeleteSemaphore(m_semaphore);
    m_task = nullptr;
    m_event = nullptr;
    m_semaphore = nullptr;
    m_taskRunning = false;
}

void Manager::RaiseEvent(MPEventFlags flags) {
    if (m_taskRunning) MPSetEvent(m_event, flags);
}

void Manager::NudgeGUI() { RaiseEvent(kEventRedraw); }
void Manager::RequestRedrawLabels() { RaiseEvent(kEventRedrawLabels); }

// ---------------------------------------------------------------------------------------------
// The render task

OSStatus Manager::RenderTaskEntry(void* manager) {
    static_cast<Manager*>(manager)->RenderTaskBody();
    return noErr;
}

float Manager::AdvanceFrameClock(UInt64 elapsedNanoseconds, float previousRate) {
    float frameTime = float(double(elapsedNanoseconds) * 1e-9);
    if (frameTime < 1e-6f) frameTime = 1e-6f;
    const float rate = 1.0f / frameTime;
    float mean = 0.5f * (rate + previousRate);
    if (mean > 1e6f) mean = 0;
    m_frameTime.store(frameTime, std::memory_order_relaxed);
    m_frameRate.store(mean, std::memory_order_relaxed);
    m_runTime.store(RunTime() + frameTime, std::memory_order_relaxed);
    return rate;
}

void Manager::RenderTaskBody() {
    InitGL();
    float previousRate = 0;
    AbsoluteTime clock = UpTime();
    for (;;) {
        Update();
        Draw();
        const AbsoluteTime now = UpTime();
        previousRate = AdvanceFrameClock(AbsoluteToNanoseconds(SubAbsoluteFromAbsolute(now, clock)).value,
                                         previousRate);
        clock = now;

        const Duration wait =
            ms_enableConstantRedraw.load(std::memory_order_relaxed) ? kConstantRedrawWait : kDurationForever;
        MPEventFlags flags = 0;
        MPWaitForEvent(m_event, &flags, wait);
        if (flags & kEventQuit) break;
        if ((flags & kEventResize) && m_bridge && GLReady()) m_bridge->RenderTaskHandleResize();
        if (flags & kEventPause) {
            flags = 0;
            MPWaitForEvent(m_event, &flags, kDurationForever);
            if (flags & kEventQuit) break;
        }
        if (flags & kEventRedrawLabels) RedrawLabels();
    }
    ShutdownGL();
    MPSignalSemaphore(m_semaphore);
}

unsigned int Manager::InitGL() {
    // Without a context there is nothing to set up and no GL call may be made: the loop still
    // runs (and answers quit) but draws nothing. The bridge reported why.
    if (m_bridge == nullptr || !m_bridge->InitGL()) return GLEW_ERROR_NO_GL_VERSION;
    GLenum glewStatus;
    {
        std::lock_guard<std::mutex> guard(g_glewLock);
        glewStatus = glewInit();
    }
    if (glewStatus != GLEW_OK) {
        LogFormat(LogLevel::kError, "glewInit returned %d: the editor draws nothing\n", int(glewStatus));
        m_bridge->ShutdownGL();
        return glewStatus;
    }
    m_glReady.store(true, std::memory_order_release);

    m_bridge->RenderTaskHandleResize();
    glDisable(GL_MULTISAMPLE);
    glHint(GL_LINE_SMOOTH_HINT, GL_NICEST);
    LoadTextures();
    if (m_mainFont) m_mainFont->Preload();
    if (m_textFont) m_textFont->Preload();
    for (Font* f : m_fonts) f->Preload();
    FinalPositions();
    for (UIElement* e : m_elements) e->InitialiseRendering();
    for (Effect* e : m_effects) e->InitialiseRendering();
    InitialiseRendering();
    m_bridge->PostInitGL();

    glGetError();
    glGenTextures(1, &m_labelsTexture);
    if (GLEW_EXT_framebuffer_object && ms_allowFramebufferObjects.load()) {
        glGenFramebuffersEXT(1, &m_labelsFramebuffer);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_labelsFramebuffer);
        glBindTexture(GL_TEXTURE_2D, m_labelsTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kLabelsWidth, kLabelsHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        SetLinearClampedFiltering();
        glFramebufferTexture2DEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_TEXTURE_2D, m_labelsTexture, 0);
        glBindTexture(GL_TEXTURE_2D, 0);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    } else {
        m_bridge->InitGLOffscreen(m_width, m_height);
    }
    if (m_labelFont) m_labelFont->Preload();
    RedrawLabels();
    return glewStatus;
}

void Manager::Update() {
    for (Effect* e : m_effects) e->Update();
}

void Manager::LoadTextures() {
    for (Texture* t : m_textures)
        if (!t->LoadedByOwner()) t->Load();
}

void Manager::UnloadTextures() {
    for (Texture* t : m_textures) t->Unload();
}

void Manager::FinalPositions() {
    for (UIElement* e : m_elements) e->FinalPosition();
}

// ---------------------------------------------------------------------------------------------
// One frame

void Manager::Draw() {
    if (!GLReady()) return;
    const AbsoluteTime start = UpTime();
    m_bridge->MakeCurrent();
    glViewport(0, 0, m_width, m_height);

    // 3D pass: x and y are window pixels from the bottom-left on the z = 0 plane.
    glDepthMask(GL_TRUE);
    glClear(GL_DEPTH_BUFFER_BIT);
    glDepthRange(0.1, 1.0);
    glEnable(GL_DEPTH_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(m_fieldOfView, m_aspect, m_eyeDistance, 100 * m_eyeDistance);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(-m_halfWidth, -m_halfHeight, -m_eyeDistance);
    Draw3d();

    // Background, in normalised device coordinates.
    glDepthRange(0, 0.1);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    DrawBackground();

    // 2D pass: window pixels, origin bottom-left.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glTranslatef(-1, -1, 0);
    glScalef(m_xScale, m_yScale, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    Draw2d();

    m_bridge->SwapBuffers();
    m_lastDrawSeconds.store(double(AbsoluteToNanoseconds(SubAbsoluteFromAbsolute(UpTime(), start)).value) * 1e-9,
                            std::memory_order_relaxed);
    m_frameCount.fetch_add(1, std::memory_order_release);
}

void Manager::Draw3d() {
    static const GLfloat kAmbient[] = {0.2f, 0.2f, 0.2f, 1};
    static const GLfloat kDiffuse[] = {0.6f, 0.6f, 0.6f, 1};
    static const GLfloat kSpecular[] = {0.3f, 0.3f, 0.3f, 1};
    static const GLfloat kPosition[] = {1, 1, 1, 1};
    static const GLfloat kMaterialSpecular[] = {0.7f, 0.5f, 0.5f, 1};
    glEnable(GL_CULL_FACE);
    glEnable(GL_LIGHTING);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, kAmbient);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kDiffuse);
    glLightfv(GL_LIGHT0, GL_SPECULAR, kSpecular);
    glLightfv(GL_LIGHT0, GL_POSITION, kPosition);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kMaterialSpecular);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    for (Effect* e : m_effects) e->Render3d();
}

void Manager::DrawBackground() {
    glDisable(GL_LIGHTING);
    if (m_labelsFramebuffer != 0 && GLEW_EXT_framebuffer_blit) {
        // The same picture as the textured quad below (texels map one to one onto pixels, row 0
        // at the top), copied instead of sampled: a software rasteriser does it in a fraction of
        // the time.
        glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, m_labelsFramebuffer);
        glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, 0);
        glBlitFramebufferEXT(0, 0, m_width, m_height, 0, m_height, m_width, 0, GL_COLOR_BUFFER_BIT, GL_NEAREST);
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        return;
    }
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, m_labelsTexture);
    DrawLabelsLayerQuad(m_width, m_height, kLabelsWidth, kLabelsHeight);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

void Manager::Draw2d() {
    static const GLfloat kAmbient[] = {0.2f, 0.2f, 0.2f, 1};
    static const GLfloat kDiffuse0[] = {0.8f, 0.8f, 0.8f, 1};
    static const GLfloat kSpecular0[] = {0.2f, 0.2f, 0.2f, 1};
    static const GLfloat kPosition0[] = {0.6f, 0.6f, 0.5f, 0};
    static const GLfloat kDiffuse1[] = {0.9f, 0.9f, 0.9f, 1};
    static const GLfloat kSpecular1[] = {0.5f, 0.5f, 0.7f, 1};
    static const GLfloat kMaterialSpecular[] = {0.5f, 0.5f, 0.5f, 1};
    glDisable(GL_CULL_FACE);
    glDisable(GL_LIGHTING);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, kAmbient);
    glEnable(GL_LIGHT0);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, kDiffuse0);
    glLightfv(GL_LIGHT0, GL_SPECULAR, kSpecular0);
    glLightfv(GL_LIGHT0, GL_POSITION, kPosition0);

    if (UIElement* hovered = HoveredElement()) {
        Bounds b;
        hovered->GetWorldBounds(b);
        if (b.max[0] >= b.min[0]) m_lightTarget[0] = b.CentreX(), m_lightTarget[1] = b.CentreY();
    }
    m_lightPosition.x = 0.9f * m_lightPosition.x + 0.1f * m_lightTarget[0];
    m_lightPosition.y = 0.9f * m_lightPosition.y + 0.1f * m_lightTarget[1];
    const GLfloat light1[] = {m_lightPosition.x, m_lightPosition.y, 50, 1};
    glEnable(GL_LIGHT1);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, kDiffuse1);
    glLightfv(GL_LIGHT1, GL_SPECULAR, kSpecular1);
    glLightfv(GL_LIGHT1, GL_POSITION, light1);
    glMaterialf(GL_FRONT_AND_BACK, GL_SHININESS, 40);
    glMaterialfv(GL_FRONT_AND_BACK, GL_SPECULAR, kMaterialSpecular);
    glColorMaterial(GL_FRONT_AND_BACK, GL_AMBIENT_AND_DIFFUSE);
    glEnable(GL_COLOR_MATERIAL);

    DrawReadout();
    Render();
    DrawTooltip();
}

void Manager::Render() {
    m_rootGroup->Render();
    glDepthMask(GL_FALSE);
    for (Effect* e : m_effects) e->Render2d();
    if (m_secondPass) m_rootGroup->RenderPass2();
}


// ---------------------------------------------------------------------------------------------
// The labels layer

void Manager::RedrawLabels() {
    if (!GLReady()) return;
    const bool framebuffer = m_labelsFramebuffer != 0;
    if (framebuffer) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m_labelsFramebuffer);
        glDrawBuffer(GL_COLOR_ATTACHMENT0_EXT);
        glViewport(0, 0, m_width, m_height);
    } else {
        m_bridge->MakeOffscreenCurrent();
    }
    glClearColor(m_labelsClearColour[0], m_labelsClearColour[1], m_labelsClearColour[2], 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (framebuffer) glScalef(1, -1, 1);  // texture row 0 holds the window's top row
    glTranslatef(-1, -1, 0);
    glScalef(m_xScale, m_yScale, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();

    RenderBackground();
    if (m_labelFont)
        for (UIElement* e : m_elements)
            if (e->IsVisible()) e->DrawLabel(m_labelFont);

    ++m_labelsGeneration;
    if (framebuffer) {
        glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
        glDrawBuffer(GL_BACK);
    } else {
        glFlush();
        m_bridge->MakeCurrent();
        if (const unsigned char* pixels = m_bridge->PixelBuffer()) {
            glBindTexture(GL_TEXTURE_2D, m_labelsTexture);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kLabelsWidth, kLabelsHeight, 0, GL_BGRA,
                         GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
            SetLinearClampedFiltering();
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    }
}

void Manager::ShutdownGL() {
    if (!GLReady()) return;
    m_bridge->MakeCurrent();
    UnloadTextures();
    if (m_mainFont) m_mainFont->Unload();
    if (m_labelFont) m_labelFont->Unload();
    if (m_textFont) m_textFont->Unload();
    for (Font* f : m_fonts) f->Unload();
    for (Effect* e : m_effects) e->ShutdownRendering();
    ShutdownRendering();
    if (m_labelsTexture) glDeleteTextures(1, &m_labelsTexture);
    if (m_labelsFramebuffer) glDeleteFramebuffersEXT(1, &m_labelsFramebuffer);
    m_labelsTexture = 0;
    m_labelsFramebuffer = 0;
    m_bridge->ShutdownGL();
    m_glReady.store(false, std::memory_order_release);
}

}  // namespace TB
