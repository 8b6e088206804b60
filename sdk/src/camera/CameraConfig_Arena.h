// orbel::camera::CameraConfig_Arena: every GenICam node setting the SDK applies
// to the colour camera: the stream set-up at connection, bandwidth settings and
// the camera pixel format before each stream start, the reset to the system's
// acquisition and trigger defaults, and fixed or automatic exposure with the
// matching trigger delay. It keeps no state besides the device: the camera's
// own node values are the record of what was applied.
//
// Failed writes never stop an operation: each is logged at WARNING (a camera
// that lacks an optional node must not look like a lost sensor to a caller that
// treats SDK errors as fatal) and the next write follows. Failed reads throw
// orbel::sdk::Exception UNKNOWN_ERROR. Runs on the caller's thread; node access
// is serialised by the device.
#pragma once

#include <cstdint>
#include <string>

#include <orbel/sdk/IImage.h>

namespace orbel::camera {

namespace vendor {
class Device;
}

class CameraConfig_Arena {
public:
    static constexpr int64_t kSwitchoverKey = 6258;

    // device is not owned and may be null (every operation then needs a device or does nothing).
    explicit CameraConfig_Arena(vendor::Device* device);

    void InitialConfiguration();
    void CheckConfiguration();
    void OptimizeBandwidth(orbel::sdk::PixelFormat format);
    void ResetConfiguration();
    void SetAutoExposure();
    void SetFixedExposureTime(uint32_t exposureUs, double triggerOffsetUs);
    double GetExposureTime();
    bool CheckWriteAccess();

private:
    // streamMap selects the transport layer's stream node map, else the device node map.
    void SetNodeValue(const std::string& name, double value, bool streamMap = false);
    void SetNodeValue(const std::string& name, const std::string& value, bool streamMap = false);
    void SetNodeValue(const std::string& name, const char* value, bool streamMap = false);
    void SetNodeValue(const std::string& name, bool value, bool streamMap = false);
    // double or std::string, from the device node map.
    template <typename T>
    T GetNodeValue(const std::string& name);

    void _RequireDevice(const char* detail) const;

    vendor::Device* device_;
};

}  // namespace orbel::camera
