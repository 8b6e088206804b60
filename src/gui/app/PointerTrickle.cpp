#include "app/PointerTrickle.h"

namespace orbel::studio::gui {

void PointerTrickle::Moved(double x, double y) {
    if (queuedChanges_ == 0) {
        // Nothing waits for a frame (the queue is empty): only the place is kept, for a
        // button change that comes before the next move.
        place_ = Place{x, y};
        return;
    }
    queue_.push_back(Event{false, Place{x, y}, 0, false});
}

void PointerTrickle::Button(int button, bool down) {
    if (button < 0 || button >= kButtons) return;
    queue_.push_back(Event{true, {}, button, down});
    ++queuedChanges_;
}

std::optional<PointerTrickle::Pointer> PointerTrickle::TakeFrame() {
    if (queuedChanges_ == 0) return std::nullopt;
    while (!queue_.empty()) {
        const Event event = queue_.front();
        queue_.pop_front();
        if (event.isButton) {
            down_[static_cast<std::size_t>(event.button)] = event.down;
            --queuedChanges_;
            break;
        }
        place_ = event.place;
    }
    const Pointer frame{place_, down_};
    if (queuedChanges_ == 0) {
        // What follows the last change are moves: the next frame's own reading covers them.
        for (const Event& event : queue_) place_ = event.place;
        queue_.clear();
    }
    return frame;
}

}  // namespace orbel::studio::gui
