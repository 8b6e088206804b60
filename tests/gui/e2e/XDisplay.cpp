#include "gui/e2e/XDisplay.h"

#include <X11/Xlib.h>

namespace orbel::testing {
namespace {
Display* AsDisplay(void* display) { return static_cast<Display*>(display); }
}  // namespace

XDisplay::XDisplay() : display_(XOpenDisplay(nullptr)) {}

XDisplay::~XDisplay() {
    if (display_) XCloseDisplay(AsDisplay(display_));
}

std::optional<unsigned long> XDisplay::FindWindow(const std::string& title) {
    Display* display = AsDisplay(display_);
    Window root = DefaultRootWindow(display);
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::optional<unsigned long> found;
    if (XQueryTree(display, root, &root, &parent, &children, &count)) {
        for (unsigned i = 0; i < count && !found; ++i) {
            char* name = nullptr;
            if (XFetchName(display, children[i], &name) && name) {
                if (title == name) found = children[i];
                XFree(name);
            }
        }
        if (children) XFree(children);
    }
    return found;
}

void XDisplay::RequestClose(unsigned long window) {
    Display* display = AsDisplay(display_);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XFlush(display);
}

}  // namespace orbel::testing
