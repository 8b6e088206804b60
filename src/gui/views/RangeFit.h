// RangeFit: one view's background "Fit scale": the 1st and 99th percentile of a copy of a
// frame's channel, stored into that view's colour-map range of the ViewerConfig when the
// task ends.
//
// Contract: Start, Running, PollFinished and Wait are called on the GUI thread only. The
// task runs on its own std::async thread and touches nothing but its own copies (values,
// bounds) and the two atomic range values of the ViewerConfig it was given. Wait (also run
// by the destructor) returns when no task runs any more, so a caller that resets the range
// after Wait cannot be overwritten by a late fit.
#pragma once

#include <atomic>
#include <future>
#include <memory>
#include <optional>
#include <vector>

#include "app/ViewerConfig.h"
#include "views/ViewerConfigLogic.h"

namespace orbel::studio::gui {

class RangeFit {
public:
    enum class Target { View3D, View2D };

    explicit RangeFit(Target target) : target_(target) {}
    ~RangeFit() { Wait(); }
    RangeFit(const RangeFit&) = delete;
    RangeFit& operator=(const RangeFit&) = delete;

    // Starts a fit of `values` clamped into `bounds`, then into `alsoWithin` when given.
    // False (and nothing started) while a fit runs, or without values or a configuration.
    bool Start(std::vector<float> values, ScalarBounds bounds, std::optional<ScalarBounds> alsoWithin,
               std::shared_ptr<ViewerConfig> config);
    bool Running() const { return running_; }
    // True once, on the first call after a started fit has ended: its range is in the
    // configuration now, and the views must be told.
    bool PollFinished();
    // Waits for a running fit to end and forgets it.
    void Wait();

    // A fit asked for by the panel (a first frame, a new scalar) that waits for the next draw.
    std::atomic<bool> pending{false};

private:
    Target target_;
    bool running_ = false;
    std::future<void> task_;
};

}  // namespace orbel::studio::gui
