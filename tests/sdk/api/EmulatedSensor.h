// A fixture for end-to-end tests: the sensor emulator on 127.0.0.1 and a sensor
// built through the SDK's public factory, with its callbacks recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>
#include <orbel/sdk/Orbel.h>

namespace orbel::testing {

struct Recorded {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::unique_ptr<orbel::sdk::IPointCloud>> clouds;
    std::vector<std::pair<orbel::sdk::SensorError, std::string>> errors;
    std::vector<std::pair<orbel::sdk::Alert, std::optional<bool>>> alerts;

    template <typename Predicate>
    bool WaitUntil(Predicate predicate, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, deadline, [&] { return predicate(); });
    }
};

inline void ConfigureRecording(orbel::sdk::SensorFactory& factory, Recorded& recorded) {
    factory.SetPointCloudCallback([&recorded](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
        std::lock_guard lock(recorded.mutex);
        recorded.clouds.push_back(std::move(cloud));
        recorded.changed.notify_all();
    });
    factory.SetErrorCallback([&recorded](const orbel::sdk::Exception& e) {
        std::lock_guard lock(recorded.mutex);
        recorded.errors.emplace_back(e.GetType(), e.what());
        recorded.changed.notify_all();
    });
    factory.SetAlertCallback([&recorded](orbel::sdk::Alert alert, std::optional<bool> status) {
        std::lock_guard lock(recorded.mutex);
        recorded.alerts.emplace_back(alert, status);
        recorded.changed.notify_all();
    });
}

}  // namespace orbel::testing
