// SensorPingMonitor: while a live stream runs, sends one ICMP echo to the sensor's address
// every 3 s (1000 ms time-out). A missed reply marks the sensor disconnected and the stream
// stopped, logs "Sensor is offline: <ip>" and publishes AppAction SensorOffline with the
// monitor as sender; it keeps probing and reports again every round while no reply comes.
// Where echoes cannot be sent at all, it logs one warning "Sensor reachability cannot be
// checked: ..." and reports nothing: an unknown answer is never an offline sensor.
//
// Contract: created, started, stopped and destroyed by the sensor panel. Its thread reads the
// SensorConfig's sensor IP before every echo (the panel keeps the settings locked while a
// stream runs, so nobody writes them meanwhile) and writes AppState atomics; publishing runs
// the AppAction subscribers on that thread. A subscriber may call Stop, or even destroy the
// monitor, from inside that call: the thread is then released rather than joined, and it
// ends after the current round using only state it shares, never the monitor itself.
// Nothing is reported once Stop was called. A monitor runs once: Start after Stop does nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "app/AppContext.h"
#include "app/SensorConfig.h"
#include "platform/ReachabilityProbe.h"

namespace orbel::studio::gui {

class SensorPingMonitor {
public:
    static constexpr std::chrono::milliseconds kInterval{3000};
    static constexpr std::chrono::milliseconds kEchoTimeout{1000};

    SensorPingMonitor(std::shared_ptr<SensorConfig> sensorConfig, std::shared_ptr<AppContext> context,
                      std::unique_ptr<platform::IReachabilityProbe> probe = platform::CreateIcmpProbe(),
                      std::chrono::milliseconds interval = kInterval);
    ~SensorPingMonitor();
    SensorPingMonitor(const SensorPingMonitor&) = delete;
    SensorPingMonitor& operator=(const SensorPingMonitor&) = delete;

    void Start();
    // Wakes the thread and joins it; returns at once during the pause between rounds. On the
    // monitor's own thread it only tells the thread to end.
    void Stop();

private:
    struct Shared;  // what the thread uses; it owns a share, so it may outlive the monitor
    static void Run(const std::shared_ptr<Shared>& shared);

    std::shared_ptr<Shared> shared_;
    std::mutex threadMutex_;  // Start and Stop from different threads
    std::thread thread_;
    bool started_ = false;
};

}  // namespace orbel::studio::gui
