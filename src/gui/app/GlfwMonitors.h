// The monitors as GLFW reports them, for placing the window and pacing its frames.
//
// Contract: main thread, between glfwInit and glfwTerminate.
#pragma once

#include <vector>

#include "app/Startup.h"

struct GLFWmonitor;
struct GLFWwindow;

namespace orbel::studio::gui {

// The screen rectangles of the monitors' current video modes, in the order given.
std::vector<MonitorArea> MonitorAreas(GLFWmonitor** monitors, int count);

// The monitor that holds the window's centre, else the primary one; null without monitors.
GLFWmonitor* MonitorHoldingWindow(GLFWwindow* window);

}  // namespace orbel::studio::gui
