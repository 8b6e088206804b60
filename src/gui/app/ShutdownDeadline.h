// ShutdownDeadline: once the window has closed, the program ends within a bounded time even
// when a background task never returns (a read that waits on a device, a sensor or camera
// call the OS keeps for minutes). Destroying a std::async future waits for its task, so
// without it one stuck task would keep the process alive with no window.
//
// Contract: Arm, once, on the GUI thread after the frame loop; the destructor (the last
// thing the shutdown does) disarms it and joins its thread. When the deadline passes first,
// `expired` runs on the deadline's own thread; the program's one ends the process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace orbel::studio::gui {

class ShutdownDeadline {
public:
    explicit ShutdownDeadline(std::function<void()> expired);
    ~ShutdownDeadline();
    ShutdownDeadline(const ShutdownDeadline&) = delete;
    ShutdownDeadline& operator=(const ShutdownDeadline&) = delete;

    // Starts counting; a second call does nothing.
    void Arm(std::chrono::milliseconds limit);

private:
    std::function<void()> expired_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace orbel::studio::gui
