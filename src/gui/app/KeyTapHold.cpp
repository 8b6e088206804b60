#include "app/KeyTapHold.h"

#include <utility>

namespace orbel::studio::gui {

bool KeyTapHold::Take(const Event& event) {
    if (!event.Released()) {
        // Down again before its tap's release passed: the release is moot, and passing it
        // later would show a key held down as up.
        const auto sameKey = [&event](const Event& held) { return held.key == event.key; };
        std::erase_if(held_, sameKey);
        std::erase_if(due_, sameKey);
        pressedSinceFrame_.insert(event.key);
        return true;
    }
    if (pressedSinceFrame_.count(event.key) == 0) {
        return true;  // a frame has seen it down
    }
    held_.push_back(event);
    return false;
}

std::vector<KeyTapHold::Event> KeyTapHold::StartFrame() {
    std::vector<Event> now = std::exchange(due_, std::exchange(held_, {}));
    pressedSinceFrame_.clear();
    return now;
}

}  // namespace orbel::studio::gui
