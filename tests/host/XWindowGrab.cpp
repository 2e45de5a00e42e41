#include "XWindowGrab.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace brindlecot::test {

namespace {
int ignoreErrors(Display*, XErrorEvent*)
{
    return 0;
}

Window findByTitle(Display* d, Window w, const std::string& title, int& bestArea)
{
    Window found = 0;
    char* name = nullptr;
    if (XFetchName(d, w, &name) != 0 && name != nullptr) {
        XWindowAttributes a {};
        if (title == name && XGetWindowAttributes(d, w, &a) != 0 && a.map_state == IsViewable
            && a.width * a.height > bestArea) {
            bestArea = a.width * a.height;
            found = w;
        }
        XFree(name);
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n) != 0) {
        for (unsigned int i = 0; i < n; ++i)
            if (Window c = findByTitle(d, children[i], title, bestArea))
                found = c;
        if (children != nullptr)
            XFree(children);
    }
    return found;
}
} // namespace

bool grabWindow(const std::string& title, GrabbedWindow& out)
{
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr)
        return false;
    XSetErrorHandler(ignoreErrors);
    int area = 0;
    Window w = findByTitle(d, DefaultRootWindow(d), title, area);
    if (w == 0) {
        // Titles may be set only as _NET_WM_NAME; on a bare Xvfb the app's window is then the
        // largest mapped top-level window.
        Window root = 0, parent = 0;
        Window* children = nullptr;
        unsigned int n = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n) != 0) {
            for (unsigned int i = 0; i < n; ++i) {
                XWindowAttributes a {};
                if (XGetWindowAttributes(d, children[i], &a) != 0 && a.map_state == IsViewable
                    && a.width * a.height > area) {
                    area = a.width * a.height;
                    w = children[i];
                }
            }
            if (children != nullptr)
                XFree(children);
        }
    }
    bool ok = false;
    XWindowAttributes a {};
    if (w != 0 && XGetWindowAttributes(d, w, &a) != 0) {
        if (XImage* img = XGetImage(d, w, 0, 0, static_cast<unsigned>(a.width),
                static_cast<unsigned>(a.height), AllPlanes, ZPixmap)) {
            out.width = a.width;
            out.height = a.height;
            out.argb.resize(static_cast<size_t>(a.width) * static_cast<size_t>(a.height));
            for (int y = 0; y < a.height; ++y)
                for (int x = 0; x < a.width; ++x)
                    out.argb[static_cast<size_t>(y) * static_cast<size_t>(a.width) + static_cast<size_t>(x)]
                        = 0xFF000000u | static_cast<uint32_t>(XGetPixel(img, x, y) & 0xFFFFFF);
            XDestroyImage(img);
            ok = true;
        }
    }
    XCloseDisplay(d);
    return ok;
}

} // namespace brindlecot::test
