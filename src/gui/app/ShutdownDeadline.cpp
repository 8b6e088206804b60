#include "app/ShutdownDeadline.h"

#include <utility>

namespace orbel::studio::gui {

ShutdownDeadline::ShutdownDeadline(std::function<void()> expired) : expired_(std::move(expired)) {}

ShutdownDeadline::~ShutdownDeadline() {
    {
        std::lock_guard lock(mutex_);
        done_ = true;
    }
    finished_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void ShutdownDeadline::Arm(std::chrono::milliseconds limit) {
    if (thread_.joinable()) return;
    thread_ = std::thread([this, limit] {
        std::unique_lock lock(mutex_);
        if (!finished_.wait_for(lock, limit, [this] { return done_; })) {
            lock.unlock();
            if (expired_) expired_();
        }
    });
}

}  // namespace orbel::studio::gui
