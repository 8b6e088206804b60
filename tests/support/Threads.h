// Thread counting, deadlines and waiting helpers for teardown tests (Linux: /proc/self/task).
#pragma once

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <thread>

namespace orbel::testing {

// Sanitizers start helper threads of their own with the first thread the
// process creates; one throwaway thread first keeps counts comparable.
inline size_t ThreadCount() {
    static const bool warmed = [] {
        std::thread([] {}).join();
        return true;
    }();
    (void)warmed;
    size_t n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
}

// Runs the scenario on its own thread; a scenario that hangs ends the process, since a
// hung teardown cannot be recovered from within it.
inline void WithinDeadline(const std::function<void()>& scenario,
                           std::chrono::seconds deadline = std::chrono::seconds(30)) {
    auto done = std::async(std::launch::async, scenario);
    if (done.wait_for(deadline) != std::future_status::ready) {
        std::cerr << "scenario did not finish within " << deadline.count() << " s: hang" << std::endl;
        std::_Exit(3);
    }
    done.get();
}

// Polls the condition until it holds or the deadline passes.
inline bool Eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return condition();
}

}  // namespace orbel::testing
