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

// The window titled `title`, else (titles may be set only as _NET_WM_NAME) the largest mapped
// top-level window, which on a bare Xvfb is the app's.
Window findAppWindow(Display* d, const std::string& title)
{
    int area = 0;
    Window w = findByTitle(d, DefaultRootWindow(d), title, area);
    if (w == 0) {
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
    return w;
}
} // namespace

bool grabWindow(const std::string& title, GrabbedWindow& out)
{
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr)
        return false;
    XSetErrorHandler(ignoreErrors);
    const Window w = findAppWindow(d, title);
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

bool requestClose(const std::string& title)
{
    Display* d = XOpenDisplay(nullptr);
    if (d == nullptr)
        return false;
    XSetErrorHandler(ignoreErrors);
    const Window w = findAppWindow(d, title);
    if (w != 0) {
        // What a window manager sends when the user clicks the close button.
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = w;
        event.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, w, False, NoEventMask, &event);
        XFlush(d);
    }
    XCloseDisplay(d);
    return w != 0;
}

bool internWindowManagerAtoms()
{
    // Kept open for the life of the test program: atoms live as long as the server does, and a bare
    // Xvfb resets (forgetting them) when its last client leaves.
    static Display* d = XOpenDisplay(nullptr);
    if (d == nullptr)
        return false;
    for (const char* name : {"WM_PROTOCOLS", "WM_DELETE_WINDOW", "WM_TAKE_FOCUS", "_NET_WM_PING"})
        XInternAtom(d, name, False);
    XSync(d, False);
    return true;
}

} // namespace brindlecot::test
