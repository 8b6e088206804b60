// The colour camera attached to a sensor; built by the sensor factory only when
// an image callback is set. Operations run on the caller's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <orbel/sdk/Export.h>

namespace orbel::sdk {

class ORBEL_SDK_API ICamera {
public:
    virtual ~ICamera();
    virtual void Start(const std::chrono::milliseconds& timeout) = 0;
    virtual void Stop(const std::chrono::milliseconds& timeout) = 0;
    virtual void ResetConfiguration() = 0;
    // 0 selects automatic exposure.
    virtual void SetExposureTimeUs(uint32_t exposure_us) = 0;
    virtual uint32_t GetExposureTimeUs() = 0;
    virtual std::string GetSerialNumber() = 0;
    virtual std::wstring GetSerialNumberW() = 0;
    virtual bool IsRunning() = 0;
    virtual bool CheckWriteAccess() = 0;
};

}  // namespace orbel::sdk
