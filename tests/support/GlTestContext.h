// An OpenGL 3.3 core context on a hidden GLFW window, for tests that render off screen.
// Needs an X display (scripts/test runs the suites under Xvfb). Where none can be opened the
// test is skipped with a message, unless ORBEL_REQUIRE_DISPLAY is set (as in scripts/test),
// in which case it fails: a test run that is meant to render never passes by skipping.
#pragma once

#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace orbel::testing {

class GlTestContext {
public:
    GlTestContext(int width = 640, int height = 480) {
        if (!glfwInit()) {
            reason_ = "GLFW cannot be initialised (no display?)";
            return;
        }
        glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
        glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
        glfwWindowHint(GLFW_OPENGL_PROFILE, GLFW_OPENGL_CORE_PROFILE);
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        window_ = glfwCreateWindow(width, height, "orbel-test", nullptr, nullptr);
        if (window_ == nullptr) {
            reason_ = "no OpenGL 3.3 core context";
            glfwTerminate();
            return;
        }
        glfwMakeContextCurrent(window_);
    }
    ~GlTestContext() {
        if (window_ != nullptr) {
            glfwDestroyWindow(window_);
            glfwTerminate();
        }
    }
    GlTestContext(const GlTestContext&) = delete;
    GlTestContext& operator=(const GlTestContext&) = delete;

    bool Ready() const { return window_ != nullptr; }
    const std::string& Reason() const { return reason_; }
    GLFWwindow* Window() const { return window_; }

    static bool DisplayRequired() { return std::getenv("ORBEL_REQUIRE_DISPLAY") != nullptr; }

private:
    GLFWwindow* window_ = nullptr;
    std::string reason_;
};

}  // namespace orbel::testing

// In a test body: makes `name` a ready context or skips (fails where a display is required).
#define ORBEL_GL_CONTEXT_OR_SKIP(name, ...)                                              \
    ::orbel::testing::GlTestContext name{__VA_ARGS__};                                   \
    if (!name.Ready()) {                                                                 \
        if (::orbel::testing::GlTestContext::DisplayRequired()) FAIL() << name.Reason(); \
        GTEST_SKIP() << name.Reason();                                                   \
    }
