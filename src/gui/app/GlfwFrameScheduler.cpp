#include "app/GlfwFrameScheduler.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "app/GlfwMonitors.h"
#include "app/Logging.h"

namespace orbel::studio::gui {
namespace {

int64_t SteadyNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// GLFW takes the timeout as seconds; a wait for "ever" still ends for the chores.
constexpr double kLongestWait = 3600.0;
constexpr double kShortestWait = 1e-4;

}  // namespace

double SteadySeconds() { return static_cast<double>(SteadyNanoseconds()) * 1e-9; }

// Counts the requests not yet taken by the loop and keeps the time of the oldest; only the
// first one after a take posts an empty event, so a burst of publishers costs one wake-up.
class GlfwFrameScheduler::PostedRequests final : public IFrameRequest {
public:
    void RequestFrame() override {
        int64_t none = 0;
        pendingSinceNs_.compare_exchange_strong(none, SteadyNanoseconds());
        if (count_.fetch_add(1) == 0) {
            // Under the lock, so that once Stop has returned no post is under way while the
            // window system goes away.
            std::lock_guard lock(postMutex_);
            if (posting_) glfwPostEmptyEvent();
        }
    }
    struct Taken {
        int count = 0;
        int64_t oldestNs = 0;  // 0: not known
    };
    Taken Take() {
        Taken taken;
        taken.count = count_.exchange(0);
        taken.oldestNs = pendingSinceNs_.exchange(0);
        return taken;
    }
    void Stop() {
        std::lock_guard lock(postMutex_);
        posting_ = false;
    }

private:
    std::atomic<int> count_{0};
    std::atomic<int64_t> pendingSinceNs_{0};
    std::mutex postMutex_;
    bool posting_ = true;
};

GlfwFrameScheduler::GlfwFrameScheduler(GLFWwindow* window, Mode mode, const std::string& frameLogPath)
    : window_(window), mode_(mode), requests_(std::make_shared<PostedRequests>()) {
    glfwSetWindowUserPointer(window_, this);
    InstallCallbacks();
    UpdateRefreshInterval();
    lastChore_ = SteadySeconds();
    if (!frameLogPath.empty()) {
        frameLog_ = std::fopen(frameLogPath.c_str(), "w");
        if (frameLog_ == nullptr) {
            Log("The frame log " + frameLogPath + " cannot be written", 3);
        }
    }
}

GlfwFrameScheduler::~GlfwFrameScheduler() {
    Stop();
    if (frameLog_ != nullptr) {
        std::fclose(frameLog_);
    }
}

void GlfwFrameScheduler::Stop() { requests_->Stop(); }

std::shared_ptr<IFrameRequest> GlfwFrameScheduler::Requests() const { return requests_; }

GlfwFrameScheduler* GlfwFrameScheduler::Of(GLFWwindow* window) {
    return window != nullptr ? static_cast<GlfwFrameScheduler*>(glfwGetWindowUserPointer(window)) : nullptr;
}

void GlfwFrameScheduler::OnInput(GLFWwindow* window) {
    if (GlfwFrameScheduler* self = Of(window)) {
        const int64_t now = SteadyNanoseconds();
        self->pacer_.InputSeen(static_cast<double>(now) * 1e-9);
        if (self->firstInputNs_ == 0) self->firstInputNs_ = now;
    }
}

void GlfwFrameScheduler::OnMonitorChange(GLFWmonitor*, int) {
    if (GlfwFrameScheduler* self = Of(glfwGetCurrentContext())) {
        self->UpdateRefreshInterval();
        OnInput(self->window_);
    }
}

void GlfwFrameScheduler::InstallCallbacks() {
    // Everything the user does to the window, and everything the window system does to it,
    // may change the picture.
    glfwSetCursorPosCallback(window_, [](GLFWwindow* w, double x, double y) {
        if (GlfwFrameScheduler* self = Of(w)) self->pointer_.Moved(x, y);
        OnInput(w);
    });
    glfwSetCursorEnterCallback(window_, [](GLFWwindow* w, int) { OnInput(w); });
    glfwSetMouseButtonCallback(window_, [](GLFWwindow* w, int button, int action, int) {
        if (GlfwFrameScheduler* self = Of(w)) self->pointer_.Button(button, action == GLFW_PRESS);
        OnInput(w);
    });
    glfwSetScrollCallback(window_, [](GLFWwindow* w, double, double) { OnInput(w); });
    glfwSetKeyCallback(window_, [](GLFWwindow* w, int, int, int, int) { OnInput(w); });
    glfwSetCharCallback(window_, [](GLFWwindow* w, unsigned int) { OnInput(w); });
    glfwSetWindowFocusCallback(window_, [](GLFWwindow* w, int) { OnInput(w); });
    glfwSetWindowSizeCallback(window_, [](GLFWwindow* w, int, int) { OnInput(w); });
    glfwSetFramebufferSizeCallback(window_, [](GLFWwindow* w, int, int) { OnInput(w); });
    glfwSetWindowRefreshCallback(window_, [](GLFWwindow* w) { OnInput(w); });
    glfwSetWindowMaximizeCallback(window_, [](GLFWwindow* w, int) { OnInput(w); });
    glfwSetWindowContentScaleCallback(window_, [](GLFWwindow* w, float, float) { OnInput(w); });
    glfwSetWindowPosCallback(window_, [](GLFWwindow* w, int, int) {
        if (GlfwFrameScheduler* self = Of(w)) self->UpdateRefreshInterval();
        OnInput(w);
    });
    glfwSetWindowIconifyCallback(window_, [](GLFWwindow* w, int iconified) {
        if (GlfwFrameScheduler* self = Of(w)) self->pacer_.SetIconified(iconified == GLFW_TRUE);
        OnInput(w);
    });
    glfwSetMonitorCallback(OnMonitorChange);
}

static_assert(KeyTapHold::kRelease == GLFW_RELEASE);

void GlfwFrameScheduler::HoldShortKeyTaps() {
    backendKey_ = glfwSetKeyCallback(window_, [](GLFWwindow* w, int key, int scancode, int action, int mods) {
        GlfwFrameScheduler* self = Of(w);
        if (self == nullptr || self->backendKey_ == nullptr) return;
        if (self->keys_.Take({key, scancode, action, mods})) {
            self->backendKey_(w, key, scancode, action, mods);
        }
    });
}

// Only what the callback above held comes back here, so the backend's callback is known.
void GlfwFrameScheduler::StartFrame() {
    for (const KeyTapHold::Event& release : keys_.StartFrame()) {
        backendKey_(window_, release.key, release.scancode, release.action, release.mods);
    }
}

// The refresh rate of the monitor that holds the window's centre, else of the primary one.
void GlfwFrameScheduler::UpdateRefreshInterval() {
    GLFWmonitor* monitor = MonitorHoldingWindow(window_);
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    pacer_.SetRefreshInterval(mode != nullptr && mode->refreshRate > 0 ? 1.0 / mode->refreshRate : 0.0);
}

void GlfwFrameScheduler::TakeRequests() {
    const PostedRequests::Taken taken = requests_->Take();
    if (taken.count > 0) {
        pacer_.DataPosted(taken.count);
        if (frameRequestedNs_ == 0) frameRequestedNs_ = taken.oldestNs;
    }
}

void GlfwFrameScheduler::WaitForFrame(double chorePeriod, const std::function<void()>& chore,
                                      const std::function<bool()>& endAsked) {
    const auto runChoreIfDue = [&] {
        if (SteadySeconds() - lastChore_ >= chorePeriod) {
            chore();
            if (frameLog_ != nullptr) std::fflush(frameLog_);
            lastChore_ = SteadySeconds();
        }
    };
    if (mode_ == Mode::EveryFrame) {
        glfwPollEvents();
        TakeRequests();
        runChoreIfDue();
        frameStart_ = SteadySeconds();
        return;
    }
    glfwPollEvents();
    for (;;) {
        TakeRequests();
        runChoreIfDue();
        const double now = SteadySeconds();
        const FramePacer::Decision decision = pacer_.Decide(now);
        // An end is asked also while nothing is drawn (an iconified window).
        if (decision.draw || glfwWindowShouldClose(window_) || (endAsked && endAsked())) {
            frameStart_ = now;
            return;
        }
        const double untilChore = std::max(0.0, lastChore_ + chorePeriod - now);
        glfwWaitEventsTimeout(std::clamp(std::min(decision.waitSeconds, untilChore), kShortestWait, kLongestWait));
    }
}

void GlfwFrameScheduler::FrameDrawn(const FrameDemand& demand) {
    pacer_.FrameDrawn(frameStart_, demand);
    if (frameLog_ != nullptr) {
        std::fprintf(frameLog_, "%lld %lld %lld %lld\n", static_cast<long long>(frameStart_ * 1e9),
                     static_cast<long long>(SteadyNanoseconds()), static_cast<long long>(frameRequestedNs_),
                     static_cast<long long>(firstInputNs_));
    }
    frameRequestedNs_ = 0;
    firstInputNs_ = 0;
}

}  // namespace orbel::studio::gui
