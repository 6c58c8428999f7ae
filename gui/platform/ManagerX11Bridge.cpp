#include "gui/platform/ManagerX11Bridge.h"

#include "gui/GL.h"  // GLEW before glx.h
#include <GL/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/keysym.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <mutex>
#include <vector>

#include "gui/Manager.h"
#include "hostframework/Log.h"

namespace TB {

namespace {

// X errors of our own connections are logged and ignored; errors of any other connection (the
// host's) go to the handler that was installed before ours. Ours is installed while a bridge
// exists and taken out again with the last one, unless someone installed another after it.
std::mutex g_errorLock;
std::vector<Display*> g_displays;  // our connections
int (*g_previousHandler)(Display*, XErrorEvent*) = nullptr;
bool g_handlerInstalled = false;
std::atomic<int> g_liveBridges{0};
std::atomic<unsigned> g_errorCount{0};  // X errors on our connections so far

int ErrorHandler(Display* display, XErrorEvent* error) {
    int (*previous)(Display*, XErrorEvent*) = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_errorLock);
        if (std::find(g_displays.begin(), g_displays.end(), display) == g_displays.end()) {
            previous = g_previousHandler;
        } else {
            char text[128] = {};
            XGetErrorText(display, error->error_code, text, sizeof text - 1);
            LogFormat(LogLevel::kNote, "editor window: X error ignored (%s, request %d)\n", text,
                      int(error->request_code));
            g_errorCount.fetch_add(1);
            return 0;
        }
    }
    return previous ? previous(display, error) : 0;
}

void TrapErrors(Display* display) {
    std::lock_guard<std::mutex> lock(g_errorLock);
    g_displays.push_back(display);
    if (!g_handlerInstalled) {
        g_previousHandler = XSetErrorHandler(&ErrorHandler);
        g_handlerInstalled = true;
    }
}

void UntrapErrors(Display* display) {
    std::lock_guard<std::mutex> lock(g_errorLock);
    g_displays.erase(std::remove(g_displays.begin(), g_displays.end(), display), g_displays.end());
    if (g_displays.empty() && g_handlerInstalled) {
        auto current = XSetErrorHandler(g_previousHandler);
        if (current != &ErrorHandler) XSetErrorHandler(current);  // someone chained after us: keep theirs
        g_handlerInstalled = false;
        // g_previousHandler stays: a host that saved ours and puts it back later still reaches
        // its own handler through it.
    }
}

Display* OpenTrapped() {
    // A busy X server now and then refuses a connection it accepts a moment later; a few tries
    // (only on failure) cost the host's thread at most 40 ms.
    Display* display = XOpenDisplay(nullptr);
    for (int attempt = 0; !display && attempt < 4 && std::getenv("DISPLAY"); ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        display = XOpenDisplay(nullptr);
    }
    if (display) TrapErrors(display);
    return display;
}

void CloseTrapped(Display* display) {
    if (display == nullptr) return;
    XSync(display, False);  // errors of the last requests still reach our handler
    UntrapErrors(display);
    XCloseDisplay(display);
}

// A Latin-1 or Unicode key symbol as a code point; 0 for keys that type nothing.
uint32_t CodepointFromKeySym(KeySym sym) {
    if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff)) return uint32_t(sym);
    if ((sym & 0xff000000) == 0x01000000) return uint32_t(sym & 0x00ffffff);
    return 0;
}

}  // namespace

int ManagerX11Bridge::LiveCount() { return g_liveBridges.load(); }

UInt32 ManagerX11Bridge::ModifiersFromState(unsigned state) {
    return ViewInput::ModifierWord(state & Mod1Mask, state & ShiftMask, state & ControlMask);
}

ManagerX11Bridge* ManagerX11Bridge::Create(Manager* manager, unsigned long parent, const char* title, float scale) {
    if (manager == nullptr) return nullptr;
    scale = std::isfinite(scale) ? std::clamp(scale, 1.0f, 4.0f) : 1.0f;
    Display* ui = OpenTrapped();
    if (ui == nullptr) {
        LogLine(LogLevel::kError, "no editor window: cannot open the X display\n");
        return nullptr;
    }
    Display* gl = OpenTrapped();
    auto fail = [&](const char* why) -> ManagerX11Bridge* {
        LogFormat(LogLevel::kError, "no editor window: %s\n", why);
        CloseTrapped(gl);
        CloseTrapped(ui);
        return nullptr;
    };
    if (gl == nullptr) return fail("cannot open a second X display connection");

    // The parent decides the screen; a parent that is no window fails here, not in the host.
    int screen = DefaultScreen(ui);
    ::Window parentWindow = parent ? ::Window(parent) : RootWindow(ui, screen);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(ui, parentWindow, &attributes)) return fail("the host's parent is not a window");
    screen = XScreenNumberOfScreen(attributes.screen);

    int visualAttributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                              GLX_DEPTH_SIZE, 16, None};
    XVisualInfo* visual = glXChooseVisual(ui, screen, visualAttributes);
    if (visual == nullptr) return fail("no double-buffered GLX visual");

    const Colormap colormap = XCreateColormap(ui, RootWindow(ui, screen), visual->visual, AllocNone);
    XSetWindowAttributes set{};
    set.colormap = colormap;
    set.background_pixel = BlackPixel(ui, screen);
    set.border_pixel = 0;
    set.event_mask = ExposureMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                     StructureNotifyMask | FocusChangeMask;
    const unsigned width = unsigned(std::lround(std::max(1, manager->Width()) * scale));
    const unsigned height = unsigned(std::lround(std::max(1, manager->Height()) * scale));
    const ::Window window =
        XCreateWindow(ui, parent ? parentWindow : RootWindow(ui, screen), 0, 0, width, height, 0, visual->depth,
                      InputOutput, visual->visual, CWColormap | CWBackPixel | CWBorderPixel | CWEventMask, &set);
    const unsigned long visualID = visual->visualid;
    XFree(visual);
    XSync(ui, False);
    if (window == 0) {
        XFreeColormap(ui, colormap);
        return fail("the X server refused the window");
    }
    auto* bridge = new ManagerX11Bridge(manager, ui, gl, window, colormap, visualID, parent == 0, scale);
    bridge->m_screen = screen;
    bridge->m_windowWidth = int(width);
    bridge->m_windowHeight = int(height);
    if (parent == 0) {
        XStoreName(ui, window, title ? title : "");
        // Not resizable: the skin has one size.
        XSizeHints hints{};
        hints.flags = PMinSize | PMaxSize;
        hints.min_width = hints.max_width = int(width);
        hints.min_height = hints.max_height = int(height);
        XSetWMNormalHints(ui, window, &hints);
        Atom deleteAtom = XInternAtom(ui, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(ui, window, &deleteAtom, 1);
        bridge->m_deleteAtom = deleteAtom;
    } else {
        XMapWindow(ui, window);  // a child shows with its parent
    }
    XFlush(ui);
    return bridge;
}

ManagerX11Bridge::ManagerX11Bridge(Manager* manager, Display* uiDisplay, Display* glDisplay, unsigned long window,
                                   unsigned long colormap, unsigned long visualID, bool topLevel, float scale)
    : m_manager(manager),
      m_ownInput(manager),
      m_input(&m_ownInput),
      m_uiDisplay(uiDisplay),
      m_glDisplay(glDisplay),
      m_window(window),
      m_colormap(colormap),
      m_visualID(visualID),
      m_topLevel(topLevel),
      m_scale(scale),
      m_windowWidth(manager->Width()),
      m_windowHeight(manager->Height()) {
    g_liveBridges.fetch_add(1);
}

ManagerX11Bridge::~ManagerX11Bridge() {
    // The render task has stopped. A context it left behind (no ShutdownGL) goes here.
    if (m_context) {
        glXDestroyContext(m_glDisplay, m_context);
        m_context = nullptr;
    }
    ReleaseFrameCopy();
    CloseTrapped(m_glDisplay);
    if (!WindowGone()) XDestroyWindow(m_uiDisplay, m_window);
    XFreeColormap(m_uiDisplay, m_colormap);
    CloseTrapped(m_uiDisplay);
    delete[] m_pixelBuffer;
    g_liveBridges.fetch_sub(1);
}

// ---------------------------------------------------------------------------------------------
// Events (UI thread)

bool ManagerX11Bridge::PumpEvents() {
    while (!WindowGone() && XPending(m_uiDisplay) > 0) {
        XEvent event;
        XNextEvent(m_uiDisplay, &event);
        HandleEvent(&event);
    }
    return !WindowGone();
}

CGPoint ManagerX11Bridge::SkinPoint(int x, int y) const {
    return ViewInput::FromTopLeft(x / double(m_scale), y / double(m_scale), double(std::max(1, m_manager->Height())));
}

void ManagerX11Bridge::HandleEvent(const void* raw) {
    const XEvent& event = *static_cast<const XEvent*>(raw);
    if (event.xany.window != m_window) return;
    switch (event.type) {
        case Expose:
            if (event.xexpose.count == 0) m_manager->NudgeGUI();
            break;
        case DestroyNotify:
            // The host destroyed our parent (and with it this window): the render task stops
            // drawing into it at its next frame.
            m_windowGone.store(true, std::memory_order_release);
            break;
        case MotionNotify: {
            const CGPoint p = SkinPoint(event.xmotion.x, event.xmotion.y);
            if (m_input->MouseTracking()) m_input->MouseDragged(p, ModifiersFromState(event.xmotion.state));
            else m_input->MouseMoved(p);
            break;
        }
        case ButtonPress:
            if (event.xbutton.button == Button1)
                m_input->MouseDown(SkinPoint(event.xbutton.x, event.xbutton.y),
                                   ModifiersFromState(event.xbutton.state));
            break;
        case ButtonRelease:
            if (event.xbutton.button == Button1)
                m_input->MouseUp(SkinPoint(event.xbutton.x, event.xbutton.y),
                                 ModifiersFromState(event.xbutton.state));
            break;
        case KeyPress: {
            XKeyEvent key = event.xkey;
            char text[8];
            KeySym sym = NoSymbol;
            XLookupString(&key, text, sizeof text, &sym, nullptr);
            if (sym == XK_Return || sym == XK_KP_Enter) m_input->InsertNewline();
            else if (sym == XK_BackSpace) m_input->DeleteBackward();
            else if (const uint32_t codepoint = CodepointFromKeySym(sym)) m_input->InsertCharacter(codepoint);
            break;
        }
        case FocusOut:
            m_input->FocusLost();
            break;
        case ClientMessage:
            if (m_topLevel && Atom(event.xclient.data.l[0]) == Atom(m_deleteAtom)) m_closeRequested = true;
            break;
        default:
            break;
    }
}

void ManagerX11Bridge::Show(bool visible) {
    if (WindowGone()) return;
    if (visible) XMapRaised(m_uiDisplay, m_window);
    else XUnmapWindow(m_uiDisplay, m_window);
    XFlush(m_uiDisplay);
}

void ManagerX11Bridge::BringToFront() {
    m_closeRequested = false;
    Show(true);
}

void ManagerX11Bridge::SetFocusToWindow() {
    // A text field took the keyboard: typing goes to the editor until the host takes it back.
    if (WindowGone()) return;
    XWindowAttributes attributes;
    if (XGetWindowAttributes(m_uiDisplay, m_window, &attributes) && attributes.map_state == IsViewable)
        XSetInputFocus(m_uiDisplay, m_window, RevertToParent, CurrentTime);
    XFlush(m_uiDisplay);
}

// ---------------------------------------------------------------------------------------------
// GL (render task)

bool ManagerX11Bridge::InitGL() {
    if (InitFrameCopy()) return true;
    LogLine(LogLevel::kNote, "editor window: no GL pixel buffer, the editor draws into its window directly\n");
    XVisualInfo pattern{};
    pattern.visualid = m_visualID;
    int count = 0;
    XVisualInfo* visual = XGetVisualInfo(m_glDisplay, VisualIDMask, &pattern, &count);
    if (visual == nullptr) {
        LogLine(LogLevel::kError, "no GL context on the render task: the editor draws nothing\n");
        return false;
    }
    m_context = glXCreateContext(m_glDisplay, visual, nullptr, True);
    XFree(visual);
    if (m_context == nullptr || !glXMakeCurrent(m_glDisplay, m_window, m_context)) {
        LogLine(LogLevel::kError, "no GL context on the render task: the editor draws nothing\n");
        return false;
    }
    m_contextCurrent = true;
    return true;
}

// A frame's image in memory shared with a local X server, which then takes it without a copy
// through the connection.
struct ManagerX11Bridge::SharedImage {
    XShmSegmentInfo segment{};
};

bool ManagerX11Bridge::InitFrameImage() {
    // The image the frames are put into the window with: the window's visual, 32 bits a pixel,
    // filled with native 0x00RRGGBB words.
    XVisualInfo pattern{};
    pattern.visualid = m_visualID;
    int count = 0;
    XVisualInfo* visual = XGetVisualInfo(m_glDisplay, VisualIDMask, &pattern, &count);
    if (visual == nullptr) return false;
    const int width = m_windowWidth, height = m_windowHeight;
    const int hostOrder = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ ? LSBFirst : MSBFirst;
    // Shared memory where the server offers it and keeps our byte order (it takes the pixels as
    // they are); else an image Xlib sends through the connection, reordering as it goes.
    if (XShmQueryExtension(m_glDisplay) && ImageByteOrder(m_glDisplay) == hostOrder) {
        m_shared = new SharedImage;
        XShmSegmentInfo& segment = m_shared->segment;
        segment.shmid = -1;
        m_image = XShmCreateImage(m_glDisplay, visual->visual, unsigned(visual->depth), ZPixmap, nullptr, &segment,
                                  unsigned(width), unsigned(height));
        if (m_image) segment.shmid = shmget(IPC_PRIVATE, size_t(m_image->bytes_per_line) * size_t(height), IPC_CREAT | 0600);
        void* memory = segment.shmid >= 0 ? shmat(segment.shmid, nullptr, 0) : reinterpret_cast<void*>(-1);
        bool attached = false;
        if (memory != reinterpret_cast<void*>(-1)) {
            segment.shmaddr = m_image->data = static_cast<char*>(memory);
            segment.readOnly = False;
            // A server elsewhere (or in another namespace) refuses the segment with an error.
            const unsigned errors = g_errorCount.load();
            attached = XShmAttach(m_glDisplay, &segment) && (XSync(m_glDisplay, False), g_errorCount.load() == errors);
        }
        // Marked for removal now: it goes when both sides have detached, even after a crash.
        if (segment.shmid >= 0) shmctl(segment.shmid, IPC_RMID, nullptr);
        if (!attached) {
            if (memory != reinterpret_cast<void*>(-1)) shmdt(memory);
            if (m_image) {
                m_image->data = nullptr;
                XDestroyImage(m_image);
            }
            m_image = nullptr;
            delete m_shared;
            m_shared = nullptr;
        }
    }
    if (m_image == nullptr) {
        char* pixels = static_cast<char*>(std::calloc(size_t(width) * size_t(height), 4));
        m_image = pixels ? XCreateImage(m_glDisplay, visual->visual, unsigned(visual->depth), ZPixmap, 0, pixels,
                                        unsigned(width), unsigned(height), 32, 0)
                         : nullptr;
        if (m_image == nullptr) std::free(pixels);
        else m_image->byte_order = hostOrder;
    }
    XFree(visual);
    return m_image && m_image->bits_per_pixel == 32 && m_image->bytes_per_line == width * 4 &&
           m_image->red_mask == 0xff0000 && m_image->green_mask == 0xff00 && m_image->blue_mask == 0xff;
}

bool ManagerX11Bridge::InitFrameCopy() {
    if (!InitFrameImage()) {
        ReleaseFrameCopy();
        return false;
    }

    // A double-buffered pixel buffer of the window's size, as the window would have been. With
    // an alpha channel where there is one: Mesa's software driver reads such a buffer back as
    // BGRA more than twice as fast as one without.
    int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, GLX_DOUBLEBUFFER,
                              True, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8, GLX_DEPTH_SIZE, 16,
                              GLX_ALPHA_SIZE, 8, None};
    int configs = 0;
    GLXFBConfig* config = glXChooseFBConfig(m_glDisplay, m_screen, configAttributes, &configs);
    if (config == nullptr || configs == 0) {
        if (config) XFree(config);
        configAttributes[std::size(configAttributes) - 3] = None;  // no alpha asked for
        config = glXChooseFBConfig(m_glDisplay, m_screen, configAttributes, &configs);
    }
    if (config == nullptr || configs == 0) {
        if (config) XFree(config);
        ReleaseFrameCopy();
        return false;
    }
    const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, m_windowWidth, GLX_PBUFFER_HEIGHT, m_windowHeight,
                                     GLX_PRESERVED_CONTENTS, True, None};
    m_pbuffer = glXCreatePbuffer(m_glDisplay, config[0], pbufferAttributes);
    if (m_pbuffer) m_context = glXCreateNewContext(m_glDisplay, config[0], GLX_RGBA_TYPE, nullptr, True);
    XFree(config);
    if (m_context == nullptr || !glXMakeContextCurrent(m_glDisplay, m_pbuffer, m_pbuffer, m_context)) {
        if (m_context) glXDestroyContext(m_glDisplay, m_context);
        m_context = nullptr;
        ReleaseFrameCopy();
        XSync(m_glDisplay, False);
        return false;
    }
    m_gc = XCreateGC(m_glDisplay, m_window, 0, nullptr);
    m_contextCurrent = true;
    return true;
}

void ManagerX11Bridge::ReleaseFrameCopy() {
    if (m_pbuffer) glXDestroyPbuffer(m_glDisplay, m_pbuffer);
    m_pbuffer = 0;
    if (m_gc) XFreeGC(m_glDisplay, m_gc);
    m_gc = nullptr;
    if (m_shared) {
        XShmDetach(m_glDisplay, &m_shared->segment);
        XSync(m_glDisplay, False);
        shmdt(m_shared->segment.shmaddr);
        m_image->data = nullptr;
        delete m_shared;
        m_shared = nullptr;
    }
    if (m_image) XDestroyImage(m_image);  // frees pixels of its own
    m_image = nullptr;
}

void ManagerX11Bridge::PutFrame() {
    const int width = m_image->width, height = m_image->height;
    auto* pixels = reinterpret_cast<uint32_t*>(m_image->data);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_INT_8_8_8_8_REV, pixels);
    glPopClientAttrib();
    // GL's rows run from the bottom up, the image's from the top down.
    for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
        std::swap_ranges(pixels + size_t(top) * size_t(width), pixels + size_t(top + 1) * size_t(width),
                         pixels + size_t(bottom) * size_t(width));
    if (m_shared)
        XShmPutImage(m_glDisplay, m_window, m_gc, m_image, 0, 0, 0, 0, unsigned(width), unsigned(height), False);
    else
        XPutImage(m_glDisplay, m_window, m_gc, m_image, 0, 0, 0, 0, unsigned(width), unsigned(height));
    // One frame in flight at most, as with a swap.
    XSync(m_glDisplay, False);
}

void ManagerX11Bridge::InitGLOffscreen(int, int) {
    if (m_pixelBuffer == nullptr) {
        m_pixelBuffer = new unsigned char[kPixelBufferBytes];
        std::memset(m_pixelBuffer, 0, kPixelBufferBytes);
    }
}

void ManagerX11Bridge::MakeCurrent() {
    if (m_context == nullptr) return;
    if (m_pbuffer) {
        // The pixel buffer is ours: drawing into it is safe whatever became of the window.
        if (!m_contextCurrent) m_contextCurrent = glXMakeContextCurrent(m_glDisplay, m_pbuffer, m_pbuffer, m_context);
        return;
    }
    if (WindowGone()) {
        // Nothing to draw into: without a current context every GL call of the frame does nothing.
        if (m_contextCurrent) glXMakeCurrent(m_glDisplay, None, nullptr);
        m_contextCurrent = false;
        return;
    }
    if (!m_contextCurrent) m_contextCurrent = glXMakeCurrent(m_glDisplay, m_window, m_context);
}

void ManagerX11Bridge::SwapBuffers() {
    if (!m_contextCurrent || WindowGone()) return;
    if (m_scale > 1.0f) DrawEnlarged();
    if (m_pbuffer) PutFrame();
    else glXSwapBuffers(m_glDisplay, m_window);
}

void ManagerX11Bridge::DrawEnlarged() {
    // The manager drew the skin's size at the bottom-left of the back buffer: copy it into a
    // texture and draw that over the whole window.
    const int width = std::max(1, m_manager->Width()), height = std::max(1, m_manager->Height());
    if (m_enlargeTexture == 0) {
        glGenTextures(1, &m_enlargeTexture);
        glBindTexture(GL_TEXTURE_2D, m_enlargeTexture);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB8, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    if (GLEW_VERSION_2_0) glUseProgram(0);
    if (GLEW_VERSION_1_3) glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, m_enlargeTexture);
    glReadBuffer(GL_BACK);
    glCopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, width, height);
    glViewport(0, 0, m_windowWidth, m_windowHeight);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0), glVertex2f(-1, -1);
    glTexCoord2f(1, 0), glVertex2f(1, -1);
    glTexCoord2f(1, 1), glVertex2f(1, 1);
    glTexCoord2f(0, 1), glVertex2f(-1, 1);
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glBindTexture(GL_TEXTURE_2D, 0);
    glPopAttrib();
}

void ManagerX11Bridge::ShutdownGL() {
    if (m_context == nullptr) return;
    if (m_enlargeTexture && m_contextCurrent) glDeleteTextures(1, &m_enlargeTexture);
    m_enlargeTexture = 0;
    if (m_pbuffer) glXMakeContextCurrent(m_glDisplay, None, None, nullptr);
    else glXMakeCurrent(m_glDisplay, None, nullptr);
    glXDestroyContext(m_glDisplay, m_context);
    ReleaseFrameCopy();
    XSync(m_glDisplay, False);
    m_context = nullptr;
    m_contextCurrent = false;
}

}  // namespace TB
