// The sensor's state as its status messages report it. A new sensor starts Idle.
#pragma once

#include <cstdint>

namespace orbel::sdk {

enum class SensorState : uint32_t {
    Unknown = 0,
    UnInitialized = 1,
    Idle = 2,
    Running = 3,
    Error = 4,
};

}  // namespace orbel::sdk
