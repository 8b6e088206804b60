// SensorPingMonitor: one thread of echo rounds with a pause it can be woken from. The thread
// holds a share of everything it touches, so stopping or destroying the monitor from a
// subscriber running on that thread leaves nothing dangling.
#include "app/SensorPingMonitor.h"

#include <exception>
#include <string>
#include <utility>

#include "app/AppAction.h"
#include "app/Logging.h"

namespace orbel::studio::gui {

namespace {
constexpr int kWarning = 3;
constexpr int kError = 4;

// The monitor whose thread this is, if any: tells Stop and the destructor that they run on
// the thread they would otherwise join, without reading the std::thread another thread may
// be joining.
thread_local const void* tCurrentMonitor = nullptr;
}  // namespace

struct SensorPingMonitor::Shared {
    std::shared_ptr<SensorConfig> sensorConfig;
    std::shared_ptr<AppContext> context;
    std::unique_ptr<platform::IReachabilityProbe> probe;
    std::chrono::milliseconds interval;
    const void* sender;  // the monitor, as the sender of its messages; never dereferenced

    std::atomic<bool> running{false};
    std::mutex pauseMutex;
    std::condition_variable wake;
};

SensorPingMonitor::SensorPingMonitor(std::shared_ptr<SensorConfig> sensorConfig, std::shared_ptr<AppContext> context,
                                     std::unique_ptr<platform::IReachabilityProbe> probe,
                                     std::chrono::milliseconds interval)
    : shared_(std::make_shared<Shared>()) {
    shared_->sensorConfig = std::move(sensorConfig);
    shared_->context = std::move(context);
    shared_->probe = probe != nullptr ? std::move(probe) : platform::CreateIcmpProbe();
    shared_->interval = interval;
    shared_->sender = this;
}

SensorPingMonitor::~SensorPingMonitor() {
    if (tCurrentMonitor == shared_.get()) {
        // Destroyed by a subscriber on the monitor's own thread: that thread cannot join
        // itself; it finishes its round on its own share and ends.
        {
            std::lock_guard lock(shared_->pauseMutex);
            shared_->running = false;
        }
        if (thread_.joinable()) {
            thread_.detach();
        }
        return;
    }
    Stop();
}

void SensorPingMonitor::Start() {
    // The thread waits for this gate, so a subscriber that destroys the monitor on the first
    // round finds thread_ set and Start no longer touching the monitor. The gate is released
    // last: it lives in the shared part, which the thread keeps alive.
    std::shared_ptr<Shared> shared = shared_;
    std::lock_guard gate(shared->pauseMutex);
    std::lock_guard lock(threadMutex_);
    if (started_) {
        return;
    }
    started_ = true;
    shared->running = true;
    thread_ = std::thread(&SensorPingMonitor::Run, shared);
}

void SensorPingMonitor::Stop() {
    {
        // Under the pause's mutex, so the thread cannot miss the wake between its check of
        // `running` and its wait.
        std::lock_guard lock(shared_->pauseMutex);
        shared_->running = false;
    }
    shared_->wake.notify_all();
    if (tCurrentMonitor == shared_.get()) {
        // The monitor's own thread: the one who destroys the monitor joins it.
        return;
    }
    std::lock_guard lock(threadMutex_);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SensorPingMonitor::Run(const std::shared_ptr<Shared>& shared) {
    tCurrentMonitor = shared.get();
    { std::lock_guard gate(shared->pauseMutex); }
    bool unavailableLogged = false;
    while (shared->running) {
        try {
            const std::string ip = shared->sensorConfig->sensor_ip;
            const platform::EchoResult result = shared->probe->Echo(ip, kEchoTimeout);
            // A stream stopped during the echo is not reported as lost.
            if (shared->running && result == platform::EchoResult::NoReply) {
                AppState& state = *shared->context->appState;
                state.connected = false;
                state.streaming = false;
                Log("Sensor is offline: " + ip, kWarning);
                shared->context->dispatcher->Publish(
                    std::make_shared<AppAction>(AppActionType::SensorOffline, shared->sender));
            } else if (result == platform::EchoResult::Unavailable && !unavailableLogged) {
                // Not knowing is not the same as no answer: nothing is reported.
                unavailableLogged = true;
                Log("Sensor reachability cannot be checked: " + shared->probe->UnavailableReason(), kWarning);
            }
        } catch (const std::exception& error) {
            Log(std::string("Sensor ping monitor: ") + error.what(), kError);
        }
        std::unique_lock lock(shared->pauseMutex);
        shared->wake.wait_for(lock, shared->interval, [&] { return !shared->running; });
    }
    tCurrentMonitor = nullptr;
}

}  // namespace orbel::studio::gui
