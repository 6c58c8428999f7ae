// The editor binary in a small host of our own (no lilv, no suil), under an X server: the
// plug-in binary and the editor binary are loaded with dlopen, the editor gets a parent window
// made here and is driven by idle calls, as a host's UI thread drives it.
// Usage: marrowfin_lv2_editor_host_tests BUNDLE [gtest options]
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <dlfcn.h>
#include <malloc.h>
#include <lv2/data-access/data-access.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/options/options.h>
#include <lv2/atom/atom.h>
#include <lv2/ui/ui.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "lv2/LilvHost.h"
#include "lv2/MarrowfinLV2EditorAccess.h"
#include "lv2/MarrowfinLV2Ports.h"

namespace {

std::string g_bundle;

int ThreadCount() {
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* e = readdir(dir)) n += e->d_name[0] != '.';
        closedir(dir);
    }
    return n;
}

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * 4;
}

// What the editor told its host.
struct HostLog {
    struct Call {
        char kind;  // 'w' write, 'b' touch begin, 'e' touch end
        uint32_t port;
        float value;
    };
    std::vector<Call> calls;
    int width = 0, height = 0;
    int Writes(uint32_t port) const {
        int n = 0;
        for (const Call& c : calls) n += c.kind == 'w' && c.port == port;
        return n;
    }
};

class EditorHost : public ::testing::Test {
protected:
    void SetUp() override {
        // Now and then the X server refuses a connection it takes a moment later.
        for (int attempt = 0; attempt < 20 && !m_display; ++attempt) {
            m_display = XOpenDisplay(nullptr);
            if (!m_display) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_NE(m_display, nullptr) << "needs an X server (run under xvfb-run -a)";
        m_parent = MakeParent();
        m_pluginLib = dlopen((g_bundle + "/" + MarrowfinLV2::kBinaryName).c_str(), RTLD_NOW | RTLD_LOCAL);
        m_uiLib = dlopen((g_bundle + "/" + MarrowfinLV2::kUIBinaryName).c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_TRUE(m_pluginLib && m_uiLib) << dlerror();
        auto pluginEntry = reinterpret_cast<const LV2_Descriptor* (*)(uint32_t)>(dlsym(m_pluginLib, "lv2_descriptor"));
        auto uiEntry = reinterpret_cast<const LV2UI_Descriptor* (*)(uint32_t)>(dlsym(m_uiLib, "lv2ui_descriptor"));
        ASSERT_TRUE(pluginEntry && uiEntry);
        m_plugin = pluginEntry(0);
        m_ui = uiEntry(0);
        ASSERT_TRUE(m_plugin && m_ui && m_ui->extension_data);
        m_idle = static_cast<const LV2UI_Idle_Interface*>(m_ui->extension_data(LV2_UI__idleInterface));
        m_show = static_cast<const LV2UI_Show_Interface*>(m_ui->extension_data(LV2_UI__showInterface));
        ASSERT_TRUE(m_idle && m_show);
        const LV2_Feature* features[] = {m_map.Feature(), nullptr};
        m_instance = m_plugin->instantiate(m_plugin, 48000, (g_bundle + "/").c_str(), features);
        ASSERT_NE(m_instance, nullptr);
        m_access = static_cast<const MarrowfinLV2::EditorAccess*>(m_plugin->extension_data(MarrowfinLV2::kEditorAccessURI));
        ASSERT_NE(m_access, nullptr);
        m_dataAccess.data_access = m_plugin->extension_data;
    }

    void TearDown() override {
        if (m_instance) m_plugin->cleanup(m_instance);
        // The binaries stay loaded: a host may keep them, and a second test loads them again.
        if (m_display) {
            XDestroyWindow(m_display, m_parent);
            XCloseDisplay(m_display);
        }
    }

    // Side by side on the 1280 x 1024 screen: a covered window reads back as nothing.
    Window MakeParent(int y = 0, unsigned width = 1024, unsigned height = 512) {
        const int screen = DefaultScreen(m_display);
        Window w = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 0, y, width, height, 0, 0, 0);
        XMapWindow(m_display, w);
        XSync(m_display, False);
        return w;
    }

    // An editor with the given parent (0: none) and, optionally, the way to the instance.
    LV2UI_Handle Open(Window parent, bool instanceAccess, HostLog& log, const LV2_Feature* extra = nullptr) {
        static const auto write = [](LV2UI_Controller c, uint32_t port, uint32_t size, uint32_t format,
                                     const void* buffer) {
            if (format == 0 && size == sizeof(float))
                static_cast<HostLog*>(c)->calls.push_back({'w', port, *static_cast<const float*>(buffer)});
        };
        m_resize = {&log, [](LV2UI_Feature_Handle h, int w, int hgt) {
                        static_cast<HostLog*>(h)->width = w;
                        static_cast<HostLog*>(h)->height = hgt;
                        return 0;
                    }};
        m_touch = {&log, [](LV2UI_Feature_Handle h, uint32_t port, bool grabbed) {
                       static_cast<HostLog*>(h)->calls.push_back({grabbed ? 'b' : 'e', port, 0});
                   }};
        LV2_Feature parentF{LV2_UI__parent, reinterpret_cast<void*>(parent)};
        LV2_Feature resizeF{LV2_UI__resize, &m_resize};
        LV2_Feature touchF{LV2_UI__touch, &m_touch};
        LV2_Feature instanceF{LV2_INSTANCE_ACCESS_URI, m_instance};
        LV2_Feature dataF{LV2_DATA_ACCESS_URI, &m_dataAccess};
        std::vector<const LV2_Feature*> features{m_map.Feature(), &resizeF, &touchF};
        if (parent) features.push_back(&parentF);
        if (extra) features.push_back(extra);
        if (instanceAccess) features.insert(features.end(), {&instanceF, &dataF});
        features.push_back(nullptr);
        LV2UI_Widget widget = nullptr;
        LV2UI_Handle ui = m_ui->instantiate(m_ui, MarrowfinLV2::kMonoURI, (g_bundle + "/").c_str(), write, &log,
                                            &widget, features.data());
        if (ui) m_widget = Window(reinterpret_cast<uintptr_t>(widget));
        return ui;
    }

    // Idles the editor until `done` holds (at most 10 s).
    bool IdleUntil(LV2UI_Handle ui, const std::function<bool()>& done) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < limit) {
            m_idle->idle(ui);
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // The editor's window shows more than its black background.
    bool Drawn(Window window) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(m_display, window, &a) || a.map_state != IsViewable) return false;
        XImage* image = XGetImage(m_display, window, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
        if (!image) return false;
        int lit = 0;
        for (int y = 0; y < a.height; y += 16)
            for (int x = 0; x < a.width; x += 16) lit += (XGetPixel(image, x, y) & 0xffffff) != 0;
        XDestroyImage(image);
        return lit > 100;
    }

    // The summed brightness of a rectangle of the window (top-left origin).
    long Brightness(Window window, int x0, int y0, int width, int height) {
        XImage* image = XGetImage(m_display, window, x0, y0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
        if (!image) return -1;
        long sum = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                sum += long((p >> 16) & 0xff) + long((p >> 8) & 0xff) + long(p & 0xff);
            }
        XDestroyImage(image);
        return sum;
    }

    void SendButton(Window window, int type, int x, int y) {
        XEvent e{};
        e.type = type;
        // Motion and button events share their leading members.
        e.xbutton.display = m_display;
        e.xbutton.window = window;
        e.xbutton.send_event = True;
        e.xbutton.x = x;
        e.xbutton.y = y;
        e.xbutton.same_screen = True;
        if (type == MotionNotify) e.xmotion.state = Button1Mask;
        else e.xbutton.button = Button1;
        const long mask = type == MotionNotify ? PointerMotionMask : type == ButtonPress ? ButtonPressMask : ButtonReleaseMask;
        XSendEvent(m_display, window, False, mask, &e);
        XSync(m_display, False);
    }

    Display* m_display = nullptr;
    Window m_parent = 0;
    Window m_widget = 0;
    void* m_pluginLib = nullptr;
    void* m_uiLib = nullptr;
    const LV2_Descriptor* m_plugin = nullptr;
    const LV2UI_Descriptor* m_ui = nullptr;
    const LV2UI_Idle_Interface* m_idle = nullptr;
    const LV2UI_Show_Interface* m_show = nullptr;
    LV2_Handle m_instance = nullptr;
    const MarrowfinLV2::EditorAccess* m_access = nullptr;
    LV2_Extension_Data_Feature m_dataAccess{};
    LV2UI_Resize m_resize{};
    LV2UI_Touch m_touch{};
    MarrowfinLV2Test::LilvUridMap m_map;
};

// The skin's first knob ("Dry Level", id 0), centred 47 pixels from the left and 96 from the top
// of the 1024 x 512 window.
constexpr int kKnobX = 47, kKnobY = 96;

TEST_F(EditorHost, DrawsInTheParentAndKeepsHostAndPluginInStep) {
    HostLog log;
    LV2UI_Handle ui = Open(m_parent, true, log);
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(log.width, 1024);
    EXPECT_EQ(log.height, 512);
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    XQueryTree(m_display, m_widget, &root, &parent, &children, &count);
    if (children) XFree(children);
    EXPECT_EQ(parent, m_parent);
    ASSERT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); })) << "the skin never appeared";

    // A drag on the knob: one gesture, the writes inside it, the plug-in's unit at the last value.
    SendButton(m_widget, ButtonPress, kKnobX, kKnobY);
    for (int dy = 4; dy <= 40; dy += 4) SendButton(m_widget, MotionNotify, kKnobX, kKnobY - dy);
    SendButton(m_widget, ButtonRelease, kKnobX, kKnobY - 40);
    ASSERT_TRUE(IdleUntil(ui, [&] { return !log.calls.empty() && log.calls.back().kind == 'e'; }));
    ASSERT_GE(log.calls.size(), 3u);
    EXPECT_EQ(log.calls.front().kind, 'b');
    EXPECT_EQ(log.calls.front().port, 0u);
    EXPECT_GE(log.Writes(0), 1);
    for (size_t i = 1; i + 1 < log.calls.size(); ++i) EXPECT_EQ(log.calls[i].kind, 'w');
    const float last = log.calls[log.calls.size() - 2].value;
    EXPECT_GT(last, 0.f);
    EXPECT_EQ(m_access->getParameter(m_instance, 0), last);

    // The host's own change (automation, presets) and its echo of our writes come back as
    // port events: they move the editor and are never written back.
    log.calls.clear();
    const float host = 0.25f;
    m_ui->port_event(ui, 1, sizeof host, 0, &host);
    m_ui->port_event(ui, 0, sizeof last, 0, &last);
    const float garbage = 1.0f;
    m_ui->port_event(ui, 2, 3, 0, &garbage);        // wrong size: ignored
    m_ui->port_event(ui, 9999, sizeof host, 0, &host);  // no such port: ignored
    // A change on the plug-in's side (OSC, a script) reaches the editor, not the host's ports.
    m_access->setParameter(m_instance, 3, 0.5f);
    for (int i = 0; i < 10; ++i) m_idle->idle(ui);
    EXPECT_TRUE(log.calls.empty());

    m_ui->cleanup(ui);
    // A host that idles or cleans up an editor it already cleaned up.
    EXPECT_NE(m_idle->idle(ui), 0);
    m_ui->cleanup(ui);
}

TEST_F(EditorHost, HonoursTheHostsScaleFactor) {
    // 1.25: the window and the mouse points scale, the skin is drawn enlarged.
    HostLog log;
    const float scale = 1.25f;
    const LV2_Options_Option options[] = {
        {LV2_OPTIONS_INSTANCE, 0, m_map.Map(LV2_UI__scaleFactor), sizeof scale, m_map.Map(LV2_ATOM__Float), &scale},
        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
    const LV2_Feature optionsF{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
    const Window big = MakeParent(0, 1280, 640);
    LV2UI_Handle ui = Open(big, true, log, &optionsF);
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(log.width, 1280);
    EXPECT_EQ(log.height, 640);
    EXPECT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); }));
    const int x = int(kKnobX * scale), y = int(kKnobY * scale);
    SendButton(m_widget, ButtonPress, x, y);
    SendButton(m_widget, MotionNotify, x, y - 30);
    SendButton(m_widget, ButtonRelease, x, y - 30);
    ASSERT_TRUE(IdleUntil(ui, [&] { return !log.calls.empty() && log.calls.back().kind == 'e'; }));
    EXPECT_EQ(log.calls.front().port, 0u);
    EXPECT_GE(log.Writes(0), 1);
    m_ui->cleanup(ui);
    XDestroyWindow(m_display, big);
}

TEST_F(EditorHost, DisplayMessagesMoveTheMetersWithoutInstanceAccess) {
    HostLog log;
    LV2UI_Handle ui = Open(m_parent, false, log);
    ASSERT_NE(ui, nullptr);
    ASSERT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); }));
    // The four meters right of the "Channels" display.
    const int x = 950, y = 65, w = 60, h = 70;
    const long rest = Brightness(m_widget, x, y, w, h);
    struct {
        LV2_Atom atom;
        LV2_Atom_Vector_Body body;
        float values[MarrowfinLV2::kDisplayValues];
    } message{};
    message.atom = {uint32_t(sizeof message.body + sizeof message.values), m_map.Map(LV2_ATOM__Vector)};
    message.body = {sizeof(float), m_map.Map(LV2_ATOM__Float)};
    for (int i = 0; i < 6; ++i) message.values[i] = i < 2 ? 440.f : 1.f;  // frequency, peak, envelope
    const uint32_t transfer = m_map.Map(LV2_ATOM__eventTransfer);
    const uint32_t display = MarrowfinLV2::DisplayPort(1);
    // Malformed messages first: a short buffer, a wrong type, a wrong count. None may matter.
    m_ui->port_event(ui, display, 4, transfer, &message);
    auto wrongType = message;
    wrongType.atom.type = m_map.Map(LV2_ATOM__Int);
    m_ui->port_event(ui, display, sizeof wrongType, transfer, &wrongType);
    auto wrongCount = message;
    wrongCount.atom.size -= 4;
    m_ui->port_event(ui, display, sizeof wrongCount, transfer, &wrongCount);
    m_ui->port_event(ui, display, sizeof message, transfer, &message);
    EXPECT_TRUE(IdleUntil(ui, [&] { return Brightness(m_widget, x, y, w, h) > rest + 20000; }))
        << "the meters did not rise";
    m_ui->cleanup(ui);
}

// A top-level window of this display with that name, or 0.
Window FindNamed(Display* display, const char* name) {
    Window root, parent, *children = nullptr, found = 0;
    unsigned count = 0;
    XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
    for (unsigned i = 0; i < count && !found; ++i) {
        char* title = nullptr;
        if (XFetchName(display, children[i], &title) && title) {
            if (std::string(title) == name) found = children[i];
            XFree(title);
        }
    }
    if (children) XFree(children);
    return found;
}

TEST_F(EditorHost, PrefsOpensThePanelInAWindowOfItsOwnThatClosesWithTheEditor) {
    HostLog log;
    LV2UI_Handle ui = Open(m_parent, true, log);
    ASSERT_NE(ui, nullptr);
    ASSERT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); }));
    // The skin's "Prefs" button, in the OSC section on the right.
    SendButton(m_widget, ButtonPress, 842, 238);
    SendButton(m_widget, ButtonRelease, 842, 238);
    Window panel = 0;
    ASSERT_TRUE(IdleUntil(ui, [&] { return (panel = FindNamed(m_display, "Marrowfin Preferences")) != 0; }));
    EXPECT_TRUE(IdleUntil(ui, [&] { return Drawn(panel); }));
    // The window manager's close button: the panel goes at the next idle calls.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = panel;
    close.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    XSendEvent(m_display, panel, False, NoEventMask, &close);
    XSync(m_display, False);
    EXPECT_TRUE(IdleUntil(ui, [&] { return FindNamed(m_display, "Marrowfin Preferences") == 0; }));
    // Opened again, it closes with the editor.
    SendButton(m_widget, ButtonPress, 842, 238);
    SendButton(m_widget, ButtonRelease, 842, 238);
    ASSERT_TRUE(IdleUntil(ui, [&] { return FindNamed(m_display, "Marrowfin Preferences") != 0; }));
    m_ui->cleanup(ui);
    XSync(m_display, False);
    EXPECT_EQ(FindNamed(m_display, "Marrowfin Preferences"), Window(0));
}

TEST_F(EditorHost, OpenAndCloseFiftyTimesLeavesNoThreadsOrMemory) {
    HostLog log;
    auto cycle = [&] {
        LV2UI_Handle ui = Open(m_parent, true, log);
        ASSERT_NE(ui, nullptr);
        ASSERT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); }));
        m_ui->cleanup(ui);
    };
    const int threads = ThreadCount();
    for (int i = 0; i < 10; ++i) cycle();
    const long resident = ResidentKiB();
    for (int i = 0; i < 40; ++i) cycle();
    EXPECT_EQ(ThreadCount(), threads);
    // One editor holds tens of MiB (script state, textures, fonts, the GL driver's buffers):
    // a leak of any of them would grow by far more than this over 40 cycles.
    EXPECT_LT(ResidentKiB() - resident, 8 * 1024) << "resident memory grew from " << resident << " KiB";
}

TEST_F(EditorHost, SurvivesHostsThatMisbehave) {
    HostLog log;
    // A parent that is no window: no editor, no crash.
    EXPECT_EQ(Open(Window(0x7ffffff0), true, log), nullptr);

    // No parent: a top-level window of its own, shown and hidden by the host.
    LV2UI_Handle ui = Open(0, false, log);
    ASSERT_NE(ui, nullptr);
    EXPECT_EQ(m_show->show(ui), 0);
    EXPECT_TRUE(IdleUntil(ui, [&] { return Drawn(m_widget); }));
    EXPECT_EQ(m_show->hide(ui), 0);
    m_ui->cleanup(ui);

    // Two editors of two instances at once, then the host destroys the parent of one first.
    LV2UI_Handle a = Open(m_parent, true, log);
    const Window aWindow = m_widget;
    Window other = MakeParent(512);
    LV2UI_Handle b = Open(other, false, log);
    ASSERT_TRUE(a && b);
    EXPECT_TRUE(IdleUntil(a, [&] { return Drawn(aWindow); }));
    EXPECT_TRUE(IdleUntil(b, [&] { return Drawn(m_widget); }));
    // The host destroys the parent while the editor draws: frames keep coming (a knob the host
    // automates) until the editor's idle learns that the window went.
    for (int i = 0; i < 40; ++i) {
        const float value = float(i % 2);
        m_ui->port_event(b, 1, sizeof value, 0, &value);
        m_idle->idle(b);
        m_idle->idle(a);
        if (i == 20) {
            XDestroyWindow(m_display, other);
            XFlush(m_display);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    XSync(m_display, False);
    m_ui->cleanup(b);
    EXPECT_TRUE(IdleUntil(a, [&] { return Drawn(aWindow); }));
    m_ui->cleanup(a);
}

}  // namespace

int main(int argc, char** argv) {
    // One malloc arena: each editor's render thread would otherwise leave its memory in an arena
    // of its own, and the resident size would measure arenas, not leaks.
    mallopt(M_ARENA_MAX, 1);
    // The host's own X errors (reading back a window that is going) are not fatal here either.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s BUNDLE [gtest options]\n", argv[0]);
        return 2;
    }
    g_bundle = argv[1];
    return RUN_ALL_TESTS();
}
