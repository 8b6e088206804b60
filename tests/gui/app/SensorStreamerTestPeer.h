// What the streamer's tests reach inside it for: they stand in for the camera's
// image-delivery thread, and they take hold of the camera the streamer started and of the
// sensor it built. One definition for every test file of the suite.
#pragma once

#include <memory>
#include <mutex>

#include <orbel/sdk/ICamera.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/ISensor.h>

#include "app/SensorStreamer.h"

namespace orbel::studio::gui {

class SensorStreamerTestPeer {
public:
    static void DeliverImage(SensorStreamer& streamer, std::unique_ptr<orbel::sdk::IImage> image) {
        streamer.OnImage(std::move(image));
    }
    static std::shared_ptr<orbel::sdk::ICamera> Camera(SensorStreamer& streamer) {
        std::lock_guard lock(streamer.sensorMutex_);
        return streamer.camera_;
    }
    static std::shared_ptr<orbel::sdk::ISensor> Sensor(SensorStreamer& streamer) {
        std::lock_guard lock(streamer.sensorMutex_);
        return streamer.sensor_;
    }
};

}  // namespace orbel::studio::gui
