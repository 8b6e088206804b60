// The background percentile fit of one view's colour-map range.
#include "views/RangeFit.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace orbel::studio::gui {

bool RangeFit::Start(std::vector<float> values, ScalarBounds bounds, std::optional<ScalarBounds> alsoWithin,
                     std::shared_ptr<ViewerConfig> config) {
    if (running_ || values.empty() || !config) {
        return false;
    }
    const Target target = target_;
    task_ = std::async(std::launch::async, [values = std::move(values), bounds, alsoWithin, config = std::move(config),
                                            target]() mutable {
        std::optional<ScalarBounds> fit = FitRange(std::move(values), bounds);
        if (!fit) {
            return;
        }
        if (alsoWithin) {
            const float lo = std::min(alsoWithin->lower, alsoWithin->upper);
            const float hi = std::max(alsoWithin->lower, alsoWithin->upper);
            fit->lower = std::clamp(fit->lower, lo, hi);
            fit->upper = std::clamp(fit->upper, lo, hi);
        }
        if (target == Target::View3D) {
            config->view3d_min_scalar_value.exchange(fit->lower);
            config->view3d_max_scalar_value.exchange(fit->upper);
        } else {
            config->view2d_min_scalar_value.exchange(fit->lower);
            config->view2d_max_scalar_value.exchange(fit->upper);
        }
    });
    running_ = true;
    return true;
}

bool RangeFit::PollFinished() {
    if (!running_ || !task_.valid() ||
        task_.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return false;
    }
    task_.get();
    running_ = false;
    return true;
}

void RangeFit::Wait() {
    if (task_.valid()) {
        task_.wait();
        task_ = {};
    }
    running_ = false;
}

}  // namespace orbel::studio::gui
