// A small X11 helper for the host tests: finds the editor's window inside a host's window,
// and saves a window's picture as PNG.
// Usage: marrowfin_x11_probe find TOPLEVEL WIDTH HEIGHT  -> "WINDOW X Y" (screen position)
//        marrowfin_x11_probe shot WINDOW OUT.png        -> the number of lit sampled pixels
// Exit status 1 when the window is not there (yet).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

Window FindSized(Display* d, Window w, int width, int height) {
    XWindowAttributes a;
    if (XGetWindowAttributes(d, w, &a) && a.width == width && a.height == height && a.map_state == IsViewable)
        return w;
    Window root, parent, *children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &count)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < count && !found; ++i) found = FindSized(d, children[i], width, height);
    if (children) XFree(children);
    return found;
}

}  // namespace

int main(int argc, char** argv) {
    Display* d = XOpenDisplay(nullptr);
    for (int attempt = 0; attempt < 20 && !d; ++attempt) {  // the X server refuses one now and then
        usleep(50000);
        d = XOpenDisplay(nullptr);
    }
    if (!d || argc < 4) return 2;
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window that went away is "not there"
    const Window w = Window(std::strtoul(argv[2], nullptr, 0));
    const std::string_view mode = argv[1];
    if (mode == "find" && argc == 5) {
        const Window found = FindSized(d, w, std::atoi(argv[3]), std::atoi(argv[4]));
        int x = 0, y = 0;
        Window child;
        if (!found || !XTranslateCoordinates(d, found, DefaultRootWindow(d), 0, 0, &x, &y, &child)) return 1;
        std::printf("%lu %d %d\n", found, x, y);
        return 0;
    }
    if (mode == "shot") {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, w, &a)) return 1;
        XImage* image = XGetImage(d, w, 0, 0, unsigned(a.width), unsigned(a.height), AllPlanes, ZPixmap);
        if (!image) return 1;
        std::vector<unsigned char> rgb(size_t(a.width) * a.height * 3);
        int lit = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) {
                const unsigned long p = XGetPixel(image, x, y);
                unsigned char* o = &rgb[(size_t(y) * a.width + x) * 3];
                o[0] = (p >> 16) & 0xff, o[1] = (p >> 8) & 0xff, o[2] = p & 0xff;
                lit += x % 16 == 0 && y % 16 == 0 && (p & 0xffffff) != 0;
            }
        XDestroyImage(image);
        if (!stbi_write_png(argv[3], a.width, a.height, 3, rgb.data(), a.width * 3)) return 1;
        std::printf("%d\n", lit);
        return 0;
    }
    return 2;
}
