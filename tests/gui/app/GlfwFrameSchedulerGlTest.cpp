// The frame loop's wait on a real (hidden) GLFW window: with no input and no data it draws
// nothing, yet still wakes for its chores (the log's flush), so that what was logged
// reaches the file while nothing happens on screen.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "app/GlfwFrameScheduler.h"
#include "support/GlTestContext.h"

namespace orbel::studio::gui {
namespace {

using namespace std::chrono_literals;

TEST(GlfwFrameSchedulerGlTest, AnIdleWaitStillWakesForItsChores) {
    ORBEL_GL_CONTEXT_OR_SKIP(gl);
    GLFWwindow* window = gl.Window();
    {
        GlfwFrameScheduler scheduler(window, GlfwFrameScheduler::Mode::OnChange, "");
        // A wait that sleeps through its chores would hold the test for an hour: long after
        // the chores were due, frame requests end it, and the test knows it was rescued.
        std::atomic<bool> done{false};
        std::atomic<bool> rescued{false};
        std::thread rescue([&, requests = scheduler.Requests()] {
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (!done && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
            while (!done) {
                rescued = true;
                requests->RequestFrame();
                std::this_thread::sleep_for(50ms);
            }
        });

        // Frames drawn when each chore ran: two chores with no frame between them ran while
        // the loop drew nothing, which ends the wait.
        int frames = 0;
        std::vector<int> framesAtChores;
        const auto chore = [&] {
            if (!framesAtChores.empty() && framesAtChores.back() == frames) {
                glfwSetWindowShouldClose(window, GLFW_TRUE);
            }
            framesAtChores.push_back(frames);
        };
        while (!glfwWindowShouldClose(window) && !rescued) {
            scheduler.WaitForFrame(0.1, chore);
            if (glfwWindowShouldClose(window)) break;
            scheduler.FrameDrawn({});  // a frame that asks for nothing more
            ++frames;
        }
        done = true;
        rescue.join();
        scheduler.Stop();
        EXPECT_FALSE(rescued) << "the idle wait slept past its chores (" << framesAtChores.size() << " chores, "
                              << frames << " frames)";
        glfwSetWindowShouldClose(window, GLFW_FALSE);
    }
    // The scheduler's callbacks find it through the window.
    glfwSetWindowUserPointer(window, nullptr);
}

}  // namespace
}  // namespace orbel::studio::gui
