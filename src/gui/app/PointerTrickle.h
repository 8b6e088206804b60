// What the pointer did between two frames, handed to ImGui one button change per frame.
//
// ImGui's GLFW backend reads the pointer's place when a frame starts, not where a button
// changed: on a frame that took long, a press, its release and the move away that followed
// reach the program together, and the click lands where the pointer went (often on nothing,
// or on another widget). This queue keeps the pointer's moves and button changes in their
// order, with the place each change happened; each frame takes the moves up to the next
// button change and that change, and leaves the rest to the frames after it. A frame with
// no button change queued takes nothing: the backend's own reading, the freshest, stands.
//
// Contract: plain values on the GUI thread (GLFW's callbacks run there too).
#pragma once

#include <array>
#include <deque>
#include <optional>

namespace orbel::studio::gui {

class PointerTrickle {
public:
    static constexpr int kButtons = 5;  // ImGui's mouse buttons

    struct Place {
        double x = 0.0;
        double y = 0.0;
        bool operator==(const Place&) const = default;
    };
    // What one frame is to see.
    struct Pointer {
        std::optional<Place> place;  // none before the first move was seen
        std::array<bool, kButtons> down{};
        bool operator==(const Pointer&) const = default;
    };

    void Moved(double x, double y);
    // Buttons outside ImGui's five are not queued.
    void Button(int button, bool down);

    // For the frame about to start; none while no button change is queued.
    std::optional<Pointer> TakeFrame();
    // A button change is still queued: another frame is owed for it.
    bool Pending() const { return queuedChanges_ > 0; }

private:
    struct Event {
        bool isButton = false;
        Place place;
        int button = 0;
        bool down = false;
    };
    std::deque<Event> queue_;
    int queuedChanges_ = 0;
    std::optional<Place> place_;  // as the frames have been given it
    std::array<bool, kButtons> down_{};
};

}  // namespace orbel::studio::gui
