#include "gui/e2e/XDisplay.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>

namespace orbel::testing {
namespace {
Display* AsDisplay(void* display) { return static_cast<Display*>(display); }

// The program's windows come and go on their own (a closed dialog, the program's end take
// their damage objects with them): a request about one that is gone is no failure of the
// test. Xlib's default handler would end the process.
int IgnoreErrors(Display*, XErrorEvent*) { return 0; }
}  // namespace

XDisplay::XDisplay() : display_(XOpenDisplay(nullptr)) { XSetErrorHandler(IgnoreErrors); }

XDisplay::~XDisplay() {
    // Closing the connection frees the damage object too.
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

void XDisplay::KillClient(unsigned long window) {
    Display* display = AsDisplay(display_);
    if (damage_) {
        // The damage object goes with the window's client.
        XDamageDestroy(display, damage_);
        damage_ = 0;
    }
    XKillClient(display, window);
    XSync(display, False);
}

void XDisplay::Iconify(unsigned long window) {
    Display* display = AsDisplay(display_);
    XUnmapWindow(display, window);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const long state[] = {IconicState, None};  // the state, and no icon window
    XChangeProperty(display, window, wmState, wmState, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(state), 2);
    XSync(display, False);
}

bool XDisplay::WatchFrames(unsigned long window) {
    Display* display = AsDisplay(display_);
    int errorBase = 0;
    if (!display || !XDamageQueryExtension(display, &damageEventBase_, &errorBase)) return false;
    if (damage_) XDamageDestroy(display, damage_);
    // One event each time the damaged area turns non-empty; subtracting it empties it again.
    damage_ = XDamageCreate(display, window, XDamageReportNonEmpty);
    frames_ = 0;
    XSync(display, False);
    return true;
}

uint64_t XDisplay::FramesPresented() {
    Display* display = AsDisplay(display_);
    if (!display || !damage_) return frames_;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == damageEventBase_ + XDamageNotify) {
            ++frames_;
            XDamageSubtract(display, damage_, None, None);
        }
    }
    XFlush(display);
    return frames_;
}

}  // namespace orbel::testing
