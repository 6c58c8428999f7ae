// What the manager needs of the platform: a GL context for the render task, an offscreen
// context with readable pixels when framebuffer objects are missing, frame presentation, and
// window focus. Every operation but SetFocusToWindow runs on the manager's render task.
// The manager owns its bridge and deletes it on the UI thread, after the render task stopped.
#pragma once

#include <cstddef>

namespace TB {

class ManagerPlatformBridge {
public:
    virtual ~ManagerPlatformBridge() = default;

    // After a successful GL set-up and on every resize event: adapt the context to the view.
    virtual void RenderTaskHandleResize() = 0;
    // Makes the on-screen context current on the calling thread; false = no context.
    virtual bool InitGL() = 0;
    virtual void PostInitGL() = 0;
    // Only without framebuffer objects: an offscreen context of that size whose pixels are
    // readable through PixelBuffer() (kOffscreenWidth x kOffscreenHeight, 4 bytes a pixel,
    // BGRA, row 0 the top of the picture) once MakeCurrent follows a drawing.
    virtual void InitGLOffscreen(int width, int height) = 0;
    virtual void MakeCurrent() = 0;
    virtual void MakeOffscreenCurrent() = 0;
    // Last GL step of the render task: release the contexts.
    virtual void ShutdownGL() = 0;
    virtual void SwapBuffers() = 0;
    // UI thread: give keyboard focus to the editor's window.
    virtual void SetFocusToWindow() = 0;
    // UI thread: whether the user asked to close a window of the bridge's own (a window that a
    // host owns is closed by the host), and bringing such a window to the front.
    virtual bool WindowCloseRequested() const { return false; }
    virtual void BringToFront() {}

    const unsigned char* PixelBuffer() const { return m_pixelBuffer; }

    static constexpr int kOffscreenWidth = 1024;
    static constexpr int kOffscreenHeight = 512;
    static constexpr size_t kPixelBufferBytes = size_t(kOffscreenWidth) * kOffscreenHeight * 4;

protected:
    unsigned char* m_pixelBuffer = nullptr;  // owned by the implementation
};

}  // namespace TB
