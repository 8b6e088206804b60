// SensorConfig: the sensor-connection settings that the sensor panel edits and the
// sensor streamer reads at the moment of use. Plain values; the sensor panel writes
// them on the GUI thread while no stream is being set up.
#pragma once

#include <cstdint>
#include <string>

namespace orbel::studio {

struct SensorConfig {
    std::string sensor_ip = "10.10.100.11";
    int32_t sensor_port = 4000;
    std::string camera_ip = "10.10.100.12";
    bool enable_camera = true;
    bool enable_colorizer = false;
    std::string qext_path;
};

}  // namespace orbel::studio
