#include "app/FramePacer.h"

#include <algorithm>

namespace orbel::studio::gui {

FrameDemand FrameDemand::With(const FrameDemand& other) const {
    return {animating || other.animating, std::min(nextChangeSeconds, other.nextChangeSeconds)};
}

void FramePacer::SetRefreshInterval(double seconds) { interval_ = seconds > 0.0 ? seconds : kDefaultRefreshSeconds; }

void FramePacer::InputSeen(double at) {
    changed_ = true;
    settleFrames_ = kSettleFrames;
    settleUntil_ = std::max(settleUntil_, at + kSettleSeconds);
}

void FramePacer::DataPosted(int messages) {
    owedFrames_ = std::min(kMostOwedFrames, owedFrames_ + std::max(0, messages));
}

FramePacer::Decision FramePacer::Decide(double now) const {
    if (iconified_) {
        return {false, kNever};
    }
    const bool wanted = changed_ || owedFrames_ > 0 || animating_ || settleFrames_ > 0 || now < settleUntil_;
    const double due = wanted ? nextSlot_ : std::max(nextSlot_, changeAt_);
    if (due == kNever) {
        return {false, kNever};
    }
    if (now >= due - kSlotTolerance) {
        return {true, 0.0};
    }
    return {false, due - now};
}

void FramePacer::FrameDrawn(double start, const FrameDemand& demand) {
    // Slots follow each other by one interval, so that a frame that starts a little early
    // never lets the rate pass the display's; after a pause they begin again at the start.
    nextSlot_ = std::max(nextSlot_, start) + interval_;
    changed_ = false;
    owedFrames_ = std::max(0, owedFrames_ - 1);
    animating_ = demand.animating;
    changeAt_ = start + demand.nextChangeSeconds;
    settleFrames_ = std::max(0, settleFrames_ - 1);
}

}  // namespace orbel::studio::gui
