// The editor inside a plug-in host's window: an X11 child window of a window the host gives
// (or a top-level window of its own when there is none) with a GLX context, as the manager's
// platform bridge. Xlib and GLX directly: a host's window cannot be adopted by a toolkit.
//
// The bridge never relies on the host having called XInitThreads. It opens two display
// connections of its own and each is used by one thread only: the UI connection (the host's
// UI thread: the window, its events, focus) and the GL connection (the manager's render task:
// the context, frames, swaps). The window is a server-side id, so the render task draws into
// it through its own connection. X errors on either connection (a parent the host destroyed
// first, a window that is gone) are caught and logged, never fatal to the host.
//
// Frames are drawn into a pixel buffer of the bridge's own (a GLX pbuffer the host cannot
// destroy) and put into the window as an image. GL never draws into the window itself: a host
// may destroy our window's parent at any moment, and a software GL driver (Mesa's llvmpipe)
// then reads the window's size from a failed request as uninitialised memory and corrupts the
// heap; a put into a window that is gone only fails with an X error. Where no pbuffer can be
// had, the context draws into the window directly, as the last resort.
//
// A scale factor above 1 (a host's high-resolution screen) enlarges the window: the manager
// draws the skin at its own size, and each frame is then drawn enlarged over the whole window
// (filtered; the labels layer and the fonts keep their own resolution). Mouse points are
// scaled back to the skin's pixels.
//
// Without framebuffer objects the labels layer would need an offscreen context: this bridge
// keeps a cleared pixel buffer instead (the labels layer stays empty, the editor still works).
#pragma once

#include <atomic>
#include <cstdint>

#include "gui/ManagerPlatformBridge.h"
#include "gui/ViewInput.h"
#include "hostframework/AUTypes.h"

struct _XDisplay;
struct _XGC;
struct _XImage;
struct __GLXcontextRec;

namespace TB {

class Manager;

class ManagerX11Bridge : public ManagerPlatformBridge {
public:
    // UI thread. A child window of `parent` (0: a top-level window titled `title`, shown only
    // by Show) of the manager's window size. Null, after one logged line, when there is no
    // display, no GL visual, or the parent is not a window. Hand the result to
    // Manager::SetBridge, which owns it from then on.
    static ManagerX11Bridge* Create(Manager* manager, unsigned long parent, const char* title, float scale = 1.0f);
    // UI thread, after the render task stopped: destroys the window, closes both connections.
    ~ManagerX11Bridge() override;
    ManagerX11Bridge(const ManagerX11Bridge&) = delete;
    ManagerX11Bridge& operator=(const ManagerX11Bridge&) = delete;

    // UI thread: where the window's events go (by default straight to the manager).
    void SetInput(ViewInput* input) { m_input = input ? input : &m_ownInput; }
    // UI thread, never blocks: delivers the window's pending events. False once the window is
    // gone (its parent was destroyed by the host).
    bool PumpEvents();
    void Show(bool visible);

    unsigned long Window() const { return m_window; }
    // The window's size in pixels (the skin's size times the scale).
    int WindowWidth() const { return m_windowWidth; }
    int WindowHeight() const { return m_windowHeight; }
    bool WindowGone() const { return m_windowGone.load(std::memory_order_acquire); }
    // A top-level window whose close button was pressed.
    bool WindowCloseRequested() const override { return m_closeRequested; }
    void BringToFront() override;
    void SetFocusToWindow() override;

    // The modifier word from an X event's state: Ctrl 0x100 (command), Shift 0x200, Alt 0x800.
    static UInt32 ModifiersFromState(unsigned state);
    // Live bridges and GL contexts in this process (tests: nothing may leak).
    static int LiveCount();

    void RenderTaskHandleResize() override {}
    bool InitGL() override;
    void PostInitGL() override {}
    void InitGLOffscreen(int width, int height) override;
    void MakeCurrent() override;
    void MakeOffscreenCurrent() override {}
    void ShutdownGL() override;
    void SwapBuffers() override;

private:
    ManagerX11Bridge(Manager* manager, _XDisplay* uiDisplay, _XDisplay* glDisplay, unsigned long window,
                     unsigned long colormap, unsigned long visualID, bool topLevel, float scale);
    void HandleEvent(const void* event);
    CGPoint SkinPoint(int x, int y) const;
    void DrawEnlarged();
    bool InitFrameCopy();
    bool InitFrameImage();
    void PutFrame();
    void ReleaseFrameCopy();

    Manager* m_manager;  // owns this bridge
    ViewInput m_ownInput;
    ViewInput* m_input;
    _XDisplay* m_uiDisplay;            // UI thread only
    _XDisplay* m_glDisplay;            // render task only (opened and closed by the UI thread)
    unsigned long m_window;            // server-side id, used from both connections
    unsigned long m_colormap;
    unsigned long m_visualID;
    int m_screen = 0;
    unsigned long m_deleteAtom = 0;    // WM_DELETE_WINDOW of a top-level window
    bool m_topLevel;
    float m_scale;
    int m_windowWidth, m_windowHeight;
    unsigned m_enlargeTexture = 0;  // render task: the frame, drawn enlarged when m_scale > 1
    bool m_closeRequested = false;     // UI thread
    std::atomic<bool> m_windowGone{false};
    __GLXcontextRec* m_context = nullptr;  // render task
    bool m_contextCurrent = false;         // render task
    // Render task: the frame's pixel buffer and what puts its pixels into the window (none
    // when the context draws into the window directly).
    struct SharedImage;
    unsigned long m_pbuffer = 0;
    _XGC* m_gc = nullptr;
    _XImage* m_image = nullptr;
    SharedImage* m_shared = nullptr;  // the image's memory, shared with the X server
};

}  // namespace TB
