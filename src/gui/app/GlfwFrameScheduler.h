// The frame loop's waiting on GLFW: it sees the window's input and state through GLFW's
// callbacks, takes the frame requests that publishers on other threads post (each wakes a
// waiting loop with an empty event), tells the FramePacer the display's refresh interval, and
// waits for events until the pacer says a frame is due. It also keeps the pointer's moves and
// button changes in order (PointerTrickle), for the loop to hand to ImGui, and holds back the
// release of a key tapped between two frames (KeyTapHold).
//
// Two test hooks, read by the program's entry only: the mode EveryFrame is the loop as it was
// before it waited (poll, draw, swap, again), kept so that a benchmark can measure both in one
// run; a frame log, when a path is given, gets one line per drawn frame with four steady-clock
// times in nanoseconds: the frame's start, the end of its swap, the oldest frame request and
// the first input since the frame before (0 when there was none).
//
// Contract: GUI thread, except Requests()' RequestFrame, which any thread may call. Construct
// it before ImGui's GLFW backend installs its callbacks: the backend passes on to the ones it
// finds. Call Stop before glfwTerminate; requests made after it wake nobody.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "app/FramePacer.h"
#include "app/IFrameRequest.h"
#include "app/KeyTapHold.h"
#include "app/PointerTrickle.h"

struct GLFWwindow;
struct GLFWmonitor;

namespace orbel::studio::gui {

// Steady-clock time in seconds, the pacer's clock.
double SteadySeconds();

class GlfwFrameScheduler {
public:
    enum class Mode { OnChange, EveryFrame };

    GlfwFrameScheduler(GLFWwindow* window, Mode mode, const std::string& frameLogPath);
    ~GlfwFrameScheduler();
    GlfwFrameScheduler(const GlfwFrameScheduler&) = delete;
    GlfwFrameScheduler& operator=(const GlfwFrameScheduler&) = delete;

    // What publishers are given to ask for a frame.
    std::shared_ptr<IFrameRequest> Requests() const;

    // Processes events and waits until a frame is due, the window is asked to close or
    // `endAsked` says the program is to end (whoever makes it true then requests a frame, which
    // wakes the wait); every `chorePeriod` seconds at least it wakes and runs `chore` (the log's
    // flush, the settings' autosave).
    void WaitForFrame(double chorePeriod, const std::function<void()>& chore,
                      const std::function<bool()>& endAsked = {});
    // The pointer's moves and button changes, for ImGui one change a frame.
    PointerTrickle& Pointer() { return pointer_; }
    // After the backend has installed its callbacks: key events pass through a KeyTapHold on
    // their way to it. StartFrame, before each ImGui frame, passes on the releases it held.
    void HoldShortKeyTaps();
    void StartFrame();
    // Input is held for frames to come (a button change, a key's release): draw them.
    bool InputPending() const { return pointer_.Pending() || keys_.Pending(); }
    // After the swap: the frame that began when WaitForFrame returned asks `demand`.
    void FrameDrawn(const FrameDemand& demand);
    void Stop();

private:
    class PostedRequests;
    static GlfwFrameScheduler* Of(GLFWwindow* window);
    static void OnInput(GLFWwindow* window);
    static void OnMonitorChange(GLFWmonitor* monitor, int event);
    void InstallCallbacks();
    void UpdateRefreshInterval();
    void TakeRequests();

    GLFWwindow* window_;
    Mode mode_;
    std::shared_ptr<PostedRequests> requests_;
    FramePacer pacer_;
    PointerTrickle pointer_;
    KeyTapHold keys_;
    void (*backendKey_)(GLFWwindow*, int, int, int, int) = nullptr;  // the callback HoldShortKeyTaps found
    double frameStart_ = 0.0;
    double lastChore_ = 0.0;
    int64_t frameRequestedNs_ = 0;  // the oldest request taken for the coming frame
    int64_t firstInputNs_ = 0;      // the first input since the last frame
    std::FILE* frameLog_ = nullptr;
};

}  // namespace orbel::studio::gui
