// A key tapped between two frames, shown to ImGui as pressed for one frame.
//
// ImGui's GLFW backend marks a key down on its press and up on its release, as they come: a
// press and its release that reach the program between two frames (a quick tap of Enter or
// an arrow while a frame takes long) leave no frame that saw the key down, and the key is
// lost. Here a release of a key pressed since the last frame began is held back until the
// frame after the next one has begun; every other key event passes at once.
//
// Contract: plain values on the GUI thread (GLFW's callbacks run there too).
#pragma once

#include <set>
#include <vector>

namespace orbel::studio::gui {

class KeyTapHold {
public:
    // GLFW's GLFW_RELEASE (the scheduler checks that they agree).
    static constexpr int kRelease = 0;

    // A key event in GLFW's terms; only `key` and whether it is a release matter here.
    struct Event {
        int key = 0;
        int scancode = 0;
        int action = 0;
        int mods = 0;
        bool Released() const { return action == kRelease; }
        bool operator==(const Event&) const = default;
    };

    // True: pass the event on now; false: it is held (see StartFrame).
    bool Take(const Event& event);
    // At a frame's start, before ImGui's: the held releases to pass on now, in their order.
    std::vector<Event> StartFrame();
    // A release is still held: frames are owed until it has passed.
    bool Pending() const { return !held_.empty() || !due_.empty(); }

private:
    std::set<int> pressedSinceFrame_;
    std::vector<Event> held_;  // since the last frame began
    std::vector<Event> due_;   // held before it: passed on at the next frame's start
};

}  // namespace orbel::studio::gui
