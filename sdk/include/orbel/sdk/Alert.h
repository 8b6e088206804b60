// Alerts the sensor raises; all but SystemShutdown come with an on/off status.
#pragma once

#include <cstdint>

namespace orbel::sdk {

enum class Alert : uint32_t {
    Temperature = 0,
    Power = 1,
    Voltage = 2,
    EyeSafety = 3,
    Humidity = 4,
    SystemShutdown = 5,
};

}  // namespace orbel::sdk
