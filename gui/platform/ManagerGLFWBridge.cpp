#include "gui/platform/ManagerGLFWBridge.h"

#include "gui/GL.h"  // GLEW before GLFW's own gl.h
#define GLFW_INCLUDE_NONE
#include <GLFW/glfw3.h>
#include <X11/Xlib.h>

// GLFW's X11 accessors (glfw3native.h would also pull in the XRandR headers).
extern "C" Window glfwGetX11Window(GLFWwindow* window);
extern "C" Display* glfwGetX11Display(void);

#include <atomic>
#include <chrono>
#include <cstring>

#include "gui/Manager.h"
#include "hostframework/Log.h"

namespace TB {

namespace {

std::atomic<bool> g_glfwReady{false};
std::atomic<unsigned long> g_lostWindow{0};  // the X window named by the last X error
std::atomic<bool> g_xErrorReported{false};

// Xlib's own handler ends the process on any error. Ours reports the first one in one line and
// remembers the window it named: a window destroyed behind our back (another client, a window
// manager) then counts as closed, and the editor shuts down cleanly.
int OnXError(Display* display, XErrorEvent* event) {
    g_lostWindow.store(event->resourceid);
    if (!g_xErrorReported.exchange(true)) {
        char text[128] = {};
        XGetErrorText(display, event->error_code, text, sizeof text);
        LogFormat(LogLevel::kError, "X error on window 0x%lx: %s (further X errors are not reported)\n",
                  event->resourceid, text);
    }
    return 0;
}

// glfwInit once per process, on the main thread; a failed attempt may be repeated later.
bool InitialiseGLFW(const char** why) {
    if (g_glfwReady.load()) return true;
    const bool ready = glfwInit() == GLFW_TRUE;
    if (!ready) glfwGetError(why);
    if (ready) XSetErrorHandler(&OnXError);  // Debian's GLFW 3.3 runs on X11
    g_glfwReady.store(ready);
    return ready;
}

GLFWwindow* OpenWindow(int width, int height, const char* title, bool visible, int alphaBits, int depthBits) {
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_VISIBLE, visible ? GLFW_TRUE : GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_DEPTH_BITS, depthBits);
    glfwWindowHint(GLFW_ALPHA_BITS, alphaBits);
    glfwWindowHint(GLFW_SAMPLES, 0);
    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_CONTEXT_CREATION_API, GLFW_NATIVE_CONTEXT_API);
    glfwWindowHint(GLFW_FOCUS_ON_SHOW, visible ? GLFW_TRUE : GLFW_FALSE);
    return glfwCreateWindow(width, height, title ? title : "", nullptr, nullptr);
}

}  // namespace

bool ManagerGLFWBridge::WindowSystemAvailable(std::string* why) {
    const char* text = nullptr;
    if (InitialiseGLFW(&text)) return true;
    if (why) *why = text ? text : "the window system is unavailable";
    return false;
}

ManagerGLFWBridge* ManagerGLFWBridge::Create(Manager* manager, const char* title, bool visible) {
    if (manager == nullptr) return nullptr;
    const char* why = nullptr;
    if (!InitialiseGLFW(&why)) {
        LogFormat(LogLevel::kError, "no GL window: %s\n", why ? why : "the window system is unavailable");
        return nullptr;
    }
    GLFWwindow* window = OpenWindow(manager->Width(), manager->Height(), title, visible, 0, 16);
    if (window == nullptr) {
        glfwGetError(&why);
        LogFormat(LogLevel::kError, "no GL window: %s\n", why ? why : "no GL context");
        return nullptr;
    }
    // The offscreen stand-in keeps an alpha channel when the display offers one.
    GLFWwindow* offscreen = OpenWindow(kOffscreenWidth, kOffscreenHeight, "", false, 8, 0);
    if (offscreen == nullptr) offscreen = OpenWindow(kOffscreenWidth, kOffscreenHeight, "", false, 0, 0);
    glfwGetError(nullptr);
    return new ManagerGLFWBridge(manager, window, offscreen);
}

ManagerGLFWBridge::ManagerGLFWBridge(Manager* manager, GLFWwindow* window, GLFWwindow* offscreen)
    : m_manager(manager), m_ownInput(manager), m_input(&m_ownInput), m_window(window), m_offscreen(offscreen) {
    glfwSetWindowUserPointer(m_window, this);
    glfwSetCursorPosCallback(m_window, &CursorPosCallback);
    glfwSetMouseButtonCallback(m_window, &MouseButtonCallback);
    glfwSetKeyCallback(m_window, &KeyCallback);
    glfwSetCharCallback(m_window, &CharCallback);
    glfwSetWindowFocusCallback(m_window, &FocusCallback);
}

ManagerGLFWBridge::~ManagerGLFWBridge() {
    glfwSetWindowUserPointer(m_window, nullptr);
    glfwDestroyWindow(m_window);
    if (m_offscreen) glfwDestroyWindow(m_offscreen);
    delete[] m_pixelBuffer;
}

bool ManagerGLFWBridge::PollEvents() {
    if (!g_glfwReady.load()) return false;
    glfwPollEvents();
    return true;
}

bool ManagerGLFWBridge::WaitEvents(double seconds) {
    if (!g_glfwReady.load()) return false;
    glfwWaitEventsTimeout(seconds);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Events (UI thread, inside PollEvents)

UInt32 ManagerGLFWBridge::ModifiersFromGLFW(int mods) {
    return ViewInput::ModifierWord(mods & GLFW_MOD_ALT, mods & GLFW_MOD_SHIFT, mods & GLFW_MOD_CONTROL);
}

ManagerGLFWBridge* ManagerGLFWBridge::From(GLFWwindow* window) {
    return static_cast<ManagerGLFWBridge*>(glfwGetWindowUserPointer(window));
}

void ManagerGLFWBridge::ToWindowPoint(double x, double y, double& outX, double& outY) const {
    int width = 0, height = 0;
    glfwGetWindowSize(m_window, &width, &height);
    const CGPoint p = ViewInput::FromTopLeft(x, y, height);
    outX = p.x;
    outY = p.y;
}

UInt32 ManagerGLFWBridge::CurrentModifiers() const {
    int mods = 0;
    auto down = [this](int key) { return glfwGetKey(m_window, key) == GLFW_PRESS; };
    if (down(GLFW_KEY_LEFT_CONTROL) || down(GLFW_KEY_RIGHT_CONTROL)) mods |= GLFW_MOD_CONTROL;
    if (down(GLFW_KEY_LEFT_SHIFT) || down(GLFW_KEY_RIGHT_SHIFT)) mods |= GLFW_MOD_SHIFT;
    if (down(GLFW_KEY_LEFT_ALT) || down(GLFW_KEY_RIGHT_ALT)) mods |= GLFW_MOD_ALT;
    return ModifiersFromGLFW(mods);
}

void ManagerGLFWBridge::CursorPosCallback(GLFWwindow* window, double x, double y) {
    ManagerGLFWBridge* self = From(window);
    if (self == nullptr) return;
    self->m_cursorX = x;
    self->m_cursorY = y;
    CGPoint p;
    self->ToWindowPoint(x, y, p.x, p.y);
    if (self->m_input->MouseTracking()) self->m_input->MouseDragged(p, self->CurrentModifiers());
    else self->m_input->MouseMoved(p);
}

void ManagerGLFWBridge::MouseButtonCallback(GLFWwindow* window, int button, int action, int mods) {
    ManagerGLFWBridge* self = From(window);
    if (self == nullptr || button != GLFW_MOUSE_BUTTON_LEFT) return;
    // Where the pointer was at this event: the last motion delivered before it (asking the
    // server now would give where the pointer is now, events later).
    CGPoint p;
    self->ToWindowPoint(self->m_cursorX, self->m_cursorY, p.x, p.y);
    if (action == GLFW_PRESS) self->m_input->MouseDown(p, ModifiersFromGLFW(mods));
    else if (action == GLFW_RELEASE) self->m_input->MouseUp(p, ModifiersFromGLFW(mods));
}

void ManagerGLFWBridge::KeyCallback(GLFWwindow* window, int key, int, int action, int) {
    ManagerGLFWBridge* self = From(window);
    if (self == nullptr || action == GLFW_RELEASE) return;
    if (key == GLFW_KEY_ENTER || key == GLFW_KEY_KP_ENTER) self->m_input->InsertNewline();
    else if (key == GLFW_KEY_BACKSPACE) self->m_input->DeleteBackward();
}

void ManagerGLFWBridge::CharCallback(GLFWwindow* window, unsigned int codepoint) {
    ManagerGLFWBridge* self = From(window);
    if (self) self->m_input->InsertCharacter(codepoint);
}

void ManagerGLFWBridge::FocusCallback(GLFWwindow* window, int focused) {
    ManagerGLFWBridge* self = From(window);
    if (self && !focused) self->m_input->FocusLost();
}

bool ManagerGLFWBridge::WindowCloseRequested() const {
    return glfwWindowShouldClose(m_window) == GLFW_TRUE || m_windowLost.load(std::memory_order_relaxed) ||
           g_lostWindow.load() == glfwGetX11Window(m_window);
}
void ManagerGLFWBridge::BringToFront() {
    glfwShowWindow(m_window);
    glfwFocusWindow(m_window);
}
void ManagerGLFWBridge::WakeEventWait() {
    if (g_glfwReady.load()) glfwPostEmptyEvent();
}

void ManagerGLFWBridge::SetFocusToWindow() { glfwFocusWindow(m_window); }

// ---------------------------------------------------------------------------------------------
// Frame capture (UI thread asks, render task answers in SwapBuffers)

bool ManagerGLFWBridge::CaptureNextFrame(std::vector<unsigned char>& rgba, int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_captureLock);
    m_captureRequested = true;
    m_captureReady = false;
    lock.unlock();
    m_manager->NudgeGUI();
    lock.lock();
    const bool ok = m_captureDone.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_captureReady; });
    m_captureRequested = false;
    if (ok) rgba.swap(m_capture);
    return ok;
}

// ---------------------------------------------------------------------------------------------
// GL (render task)

bool ManagerGLFWBridge::InitGL() {
    glfwMakeContextCurrent(m_window);
    if (glfwGetCurrentContext() != m_window) {
        LogLine(LogLevel::kError, "no GL context on the render task: the editor draws nothing\n");
        return false;
    }
    m_contextCurrent = true;
    glfwSwapInterval(0);  // the render task paces itself
    return true;
}

void ManagerGLFWBridge::RenderTaskHandleResize() {
    // The window's framebuffer follows its size; the manager sets the viewport every frame.
}

void ManagerGLFWBridge::InitGLOffscreen(int width, int height) {
    if (m_offscreen == nullptr) return;
    m_offscreenWidth = width;
    m_offscreenHeight = height;
    if (m_pixelBuffer == nullptr) {
        m_pixelBuffer = new unsigned char[kPixelBufferBytes];
        std::memset(m_pixelBuffer, 0, kPixelBufferBytes);
    }
    glfwMakeContextCurrent(m_offscreen);
    m_offscreenCurrent = true;
}

void ManagerGLFWBridge::MakeOffscreenCurrent() {
    if (m_offscreen == nullptr || m_pixelBuffer == nullptr) return;
    glfwMakeContextCurrent(m_offscreen);
    m_offscreenCurrent = true;
    glViewport(0, kOffscreenHeight - m_offscreenHeight, m_offscreenWidth, m_offscreenHeight);
}

// Render task, once a frame: a window destroyed behind our back (another client) must not be
// drawn into again, or the GL driver works on buffers that are gone. One round trip a frame
// asks the server whether the window still exists; from then on no context is current, and
// every GL call of the frame does nothing.
bool ManagerGLFWBridge::WindowAlive() {
    if (m_windowLost.load(std::memory_order_relaxed)) return false;
    XWindowAttributes attributes;
    const ::Window xwindow = glfwGetX11Window(m_window);
    if (XGetWindowAttributes(glfwGetX11Display(), xwindow, &attributes) != 0 && g_lostWindow.load() != xwindow)
        return true;
    m_windowLost.store(true, std::memory_order_relaxed);
    glfwMakeContextCurrent(nullptr);
    m_contextCurrent = false;
    return false;
}

void ManagerGLFWBridge::MakeCurrent() {
    if (!WindowAlive()) return;
    if (m_offscreenCurrent) {
        // Leaving the offscreen context: its picture becomes readable in the pixel buffer, row 0
        // the top row (GL reads bottom-up).
        std::vector<unsigned char> rows(kPixelBufferBytes);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, kOffscreenWidth, kOffscreenHeight, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, rows.data());
        const size_t stride = size_t(kOffscreenWidth) * 4;
        for (int r = 0; r < kOffscreenHeight; ++r)
            std::memcpy(m_pixelBuffer + size_t(r) * stride, rows.data() + size_t(kOffscreenHeight - 1 - r) * stride,
                        stride);
        m_offscreenCurrent = false;
    }
    glfwMakeContextCurrent(m_window);
}

void ManagerGLFWBridge::SwapBuffers() {
    if (m_windowLost.load(std::memory_order_relaxed)) return;
    {
        std::lock_guard<std::mutex> guard(m_captureLock);
        if (m_captureRequested && !m_captureReady) {
            const int width = m_manager->Width(), height = m_manager->Height();  // the window's size
            m_capture.assign(size_t(width) * height * 4, 0);
            glReadBuffer(GL_BACK);
            glPixelStorei(GL_PACK_ALIGNMENT, 1);
            glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, m_capture.data());
            m_captureReady = true;
            m_captureDone.notify_all();
        }
    }
    glfwSwapBuffers(m_window);
}

void ManagerGLFWBridge::ShutdownGL() {
    if (m_contextCurrent) glfwMakeContextCurrent(nullptr);
    m_contextCurrent = false;
    m_offscreenCurrent = false;
}

}  // namespace TB
