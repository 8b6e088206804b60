// Whether the program's window still exists on the window system. Another program can
// destroy it (xdotool windowclose, a window manager that crashed), and GLFW does not notice:
// its size queries then return whatever was on the stack, which the frame loop would draw
// with. The loop asks before each frame and shuts down the normal way once the window is gone.
#pragma once

struct GLFWwindow;

namespace orbel::studio::platform {

// True while the window exists; also true where the window system cannot be asked.
// GUI thread only: on X11 it makes one round trip to the server.
bool WindowStillExists(GLFWwindow* window);

}  // namespace orbel::studio::platform
