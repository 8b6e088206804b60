// When the frame loop draws: a frame is drawn when something on screen may have changed
// (input, new data, a running animation, a moment something was due to change), never more
// often than the display refreshes, and not at all while the window is iconified; otherwise
// the loop waits for events. After input the loop keeps drawing for a short while, so that
// whatever the GUI shows a frame or two after an event (hover, a popup opening, a drag's end)
// needs no further input to appear.
//
// New data is owed one frame per message: the panels take at most one message from each of
// their queues per frame, so a burst of messages needs as many frames to be shown whole (up
// to kMostOwedFrames; the queues are capped at a few messages).
//
// Contract: plain values on the GUI thread; times are seconds on one steady clock.
#pragma once

#include <limits>

namespace orbel::studio::gui {

inline constexpr double kNever = std::numeric_limits<double>::infinity();

// What a drawn frame asks of the ones after it.
struct FrameDemand {
    // Something moves by itself (splash, fades, a spinner): draw again at the display's pace.
    bool animating = false;
    // From the frame's start: draw again by then (a timer runs out, a slow pulse steps on).
    double nextChangeSeconds = kNever;

    // Both demands together.
    FrameDemand With(const FrameDemand& other) const;
    static FrameDemand Animation() { return {true, kNever}; }
    static FrameDemand ChangeIn(double seconds) { return {false, seconds}; }
};

class FramePacer {
public:
    // A display that reports no refresh rate is taken to refresh 60 times a second.
    static constexpr double kDefaultRefreshSeconds = 1.0 / 60.0;
    // After input: at least this many frames, and frames until this long after the last input.
    static constexpr int kSettleFrames = 3;
    static constexpr double kSettleSeconds = 0.5;
    // A frame may start this much before its slot: waking from a wait is not exact, and a swap
    // that does block ends a little before or after the next slot.
    static constexpr double kSlotTolerance = 0.0015;
    static constexpr int kMostOwedFrames = 8;

    struct Decision {
        bool draw = false;
        // Without a frame to draw: how long to wait for events (kNever: until one comes).
        double waitSeconds = kNever;
        bool operator==(const Decision&) const = default;
    };

    explicit FramePacer(double refreshSeconds = kDefaultRefreshSeconds) { SetRefreshInterval(refreshSeconds); }

    // The display's refresh interval; 0 or less (unknown) keeps the default.
    void SetRefreshInterval(double seconds);
    double RefreshInterval() const { return interval_; }

    void InputSeen(double at);
    // `messages` new pieces of data (frame requests) since the last look.
    void DataPosted(int messages = 1);
    void SetIconified(bool iconified) { iconified_ = iconified; }

    Decision Decide(double now) const;
    // A frame was drawn that started at `start`; `demand` is what it asked for.
    void FrameDrawn(double start, const FrameDemand& demand);

private:
    double interval_ = kDefaultRefreshSeconds;
    double nextSlot_ = -kNever;  // the earliest start of the next frame
    double changeAt_ = kNever;   // a frame is due by then
    double settleUntil_ = -kNever;
    int settleFrames_ = 0;
    bool changed_ = false;  // input since the last frame
    int owedFrames_ = 0;    // for data posted
    bool animating_ = false;
    bool iconified_ = false;
};

}  // namespace orbel::studio::gui
