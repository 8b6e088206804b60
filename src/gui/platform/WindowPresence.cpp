// On X11 the window's attributes are asked for under an error handler of our own for that
// one request: a window destroyed by another client answers BadWindow, which Xlib's default
// handler would end the process on. On Windows no other process can destroy our window.
#include "platform/WindowPresence.h"

#ifndef _WIN32
#include <X11/Xlib.h>

#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#endif

namespace orbel::studio::platform {

#ifndef _WIN32
namespace {

// Set only while the GUI thread's one request is in flight; errors of other requests go on
// to the handler that was there before.
XErrorHandler previousHandler = nullptr;
Display* askedDisplay = nullptr;
bool windowGone = false;

int RecordBadWindow(Display* display, XErrorEvent* error) {
    if (display == askedDisplay && (error->error_code == BadWindow || error->error_code == BadDrawable)) {
        windowGone = true;
        return 0;
    }
    return previousHandler ? previousHandler(display, error) : 0;
}

}  // namespace

bool WindowStillExists(GLFWwindow* window) {
    Display* display = glfwGetX11Display();
    const Window handle = window ? glfwGetX11Window(window) : 0;
    if (!display || !handle) return true;
    XSync(display, False);  // errors of earlier requests belong to the earlier handler
    askedDisplay = display;
    windowGone = false;
    previousHandler = XSetErrorHandler(RecordBadWindow);
    XWindowAttributes attributes;
    const Status answered = XGetWindowAttributes(display, handle, &attributes);
    XSync(display, False);
    XSetErrorHandler(previousHandler);
    previousHandler = nullptr;
    askedDisplay = nullptr;
    return answered != 0 && !windowGone;
}
#else
bool WindowStillExists(GLFWwindow*) { return true; }
#endif

}  // namespace orbel::studio::platform
