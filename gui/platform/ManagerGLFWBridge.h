// The Linux editor window: a GLFW window on X11 with a GLX context, as the manager's platform
// bridge. The window is made and its events are polled on the main (UI) thread, which forwards
// mouse, keyboard and focus events to the manager; the context is made current, GLEW set up and
// every GL call made only on the manager's render task. The window may be hidden (tests,
// screenshots), and a second hidden window stands in for the offscreen 1024 x 512 pixel buffer
// when the labels layer cannot use a framebuffer object.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "gui/ManagerPlatformBridge.h"
#include "gui/ViewInput.h"
#include "hostframework/AUTypes.h"

struct GLFWwindow;

namespace TB {

class Manager;

class ManagerGLFWBridge : public ManagerPlatformBridge {
public:
    // UI thread. Opens a window of the manager's window size (after SetWindowSize). Returns null,
    // after one line on standard error, when no window or GL context can be had (no display, no
    // GLX). Hand the result to Manager::SetBridge, which owns it from then on.
    static ManagerGLFWBridge* Create(Manager* manager, const char* title, bool visible);
    // UI thread (the manager's destructor, after its render task stopped): closes the windows.
    ~ManagerGLFWBridge() override;

    // UI thread: whether windows can be opened at all; `why` says what is missing otherwise
    // (no display, no X server).
    static bool WindowSystemAvailable(std::string* why);

    // UI thread: deliver pending window events to their views; or wait up to `seconds` for one.
    // False (at once) while no window was ever opened.
    static bool PollEvents();
    static bool WaitEvents(double seconds);
    // Any thread: ends a WaitEvents at once (work was posted for the UI thread).
    static void WakeEventWait();

    // UI thread: where the window's events go. By default straight to the manager; an editor
    // view hands in its own input, which forgets the manager when the view closes.
    void SetInput(ViewInput* input) { m_input = input ? input : &m_ownInput; }
    // True once the user asked to close the window (the close button or the window manager).
    bool WindowCloseRequested() const override;
    // Shows the window, brings it to the front and gives it the keyboard.
    void BringToFront() override;

    // UI thread: draws a frame now and copies it (RGBA, rows bottom-up as GL reads them).
    // False when no frame came within the timeout (no GL context, render task not running).
    bool CaptureNextFrame(std::vector<unsigned char>& rgba, int timeoutMs);

    // The modifier word of the mouse events from GLFW's modifier bits: Ctrl 0x100 (command),
    // Shift 0x200, Alt 0x800 (option); nothing else.
    static UInt32 ModifiersFromGLFW(int mods);

    GLFWwindow* Window() const { return m_window; }

    void RenderTaskHandleResize() override;
    bool InitGL() override;
    void PostInitGL() override {}
    void InitGLOffscreen(int width, int height) override;
    void MakeCurrent() override;
    void MakeOffscreenCurrent() override;
    void ShutdownGL() override;
    void SwapBuffers() override;
    void SetFocusToWindow() override;

private:
    ManagerGLFWBridge(Manager* manager, GLFWwindow* window, GLFWwindow* offscreen);

    static ManagerGLFWBridge* From(GLFWwindow* window);
    static void CursorPosCallback(GLFWwindow* window, double x, double y);
    static void MouseButtonCallback(GLFWwindow* window, int button, int action, int mods);
    static void KeyCallback(GLFWwindow* window, int key, int scancode, int action, int mods);
    static void CharCallback(GLFWwindow* window, unsigned int codepoint);
    static void FocusCallback(GLFWwindow* window, int focused);
    void ToWindowPoint(double x, double y, double& outX, double& outY) const;
    UInt32 CurrentModifiers() const;
    bool WindowAlive();

    Manager* m_manager;       // owns this bridge
    ViewInput m_ownInput;     // UI thread: the default route, straight to the manager
    ViewInput* m_input;       // UI thread
    GLFWwindow* m_window;     // UI thread creates and destroys; render task makes it current
    GLFWwindow* m_offscreen;  // hidden 1024 x 512, may be null
    int m_offscreenWidth = 0, m_offscreenHeight = 0;
    bool m_offscreenCurrent = false;  // render task
    bool m_contextCurrent = false;    // render task
    std::atomic<bool> m_windowLost{false};  // render task sets, UI thread reads
    double m_cursorX = 0, m_cursorY = 0;  // UI thread: the last pointer position delivered

    std::mutex m_captureLock;
    std::condition_variable m_captureDone;
    bool m_captureRequested = false;
    bool m_captureReady = false;
    std::vector<unsigned char> m_capture;
};

}  // namespace TB
