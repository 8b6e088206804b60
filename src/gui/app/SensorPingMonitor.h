// SensorPingMonitor: while a live stream runs, sends one ICMP echo to the sensor's address
// every 3 s (1000 ms time-out). A missed reply marks the sensor disconnected and the stream
// stopped, logs "Sensor is offline: <ip>" and publishes AppAction SensorOffline with the
// monitor as sender; it keeps probing and reports again every round while no reply comes.
// Where echoes cannot be sent at all, it logs one warning "Sensor reachability cannot be
// checked: ..." and reports nothing: an unknown answer is never an offline sensor.
//
// Contract: created, started, stopped and destroyed by the sensor panel (never on the
// monitor's own thread). Its thread reads the SensorConfig's sensor IP before every echo and
// writes AppState atomics; publishing runs the AppAction subscribers on that thread.
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
    // Wakes the thread and joins it; returns at once during the pause between rounds.
    void Stop();
};

}  // namespace orbel::studio::gui
