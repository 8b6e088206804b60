#include "app/GlfwMonitors.h"

#include <GLFW/glfw3.h>

namespace orbel::studio::gui {

std::vector<MonitorArea> MonitorAreas(GLFWmonitor** monitors, int count) {
    std::vector<MonitorArea> areas;
    for (int i = 0; i < count; ++i) {
        MonitorArea area;
        glfwGetMonitorPos(monitors[i], &area.x, &area.y);
        if (const GLFWvidmode* mode = glfwGetVideoMode(monitors[i])) {
            area.width = mode->width;
            area.height = mode->height;
        }
        areas.push_back(area);
    }
    return areas;
}
GLFWmonitor* MonitorHoldingWindow(GLFWwindow* window) {
    int count = 0;
    GLFWmonitor** monitors = glfwGetMonitors(&count);
    if (monitors == nullptr || count == 0) {
        return nullptr;
    }
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    glfwGetWindowPos(window, &x, &y);
    glfwGetWindowSize(window, &width, &height);
    const int holding = MonitorAt(x + width / 2, y + height / 2, MonitorAreas(monitors, count));
    return holding >= 0 ? monitors[holding] : glfwGetPrimaryMonitor();
}

}  // namespace orbel::studio::gui
