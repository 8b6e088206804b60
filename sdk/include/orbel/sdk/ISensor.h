// The sensor handle that SensorFactory::Build returns. Commands run on the
// caller's thread, one at a time; state changes arrive on the SDK's I/O thread.
// The last reference may be dropped on any thread, the SDK's own callbacks included.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <orbel/sdk/Export.h>
#include <orbel/sdk/ICamera.h>
#include <orbel/sdk/SensorError.h>
#include <orbel/sdk/SensorState.h>
#include <orbel/sdk/SerialNumber.h>

namespace orbel::sdk {

class ORBEL_SDK_API ISensor {
public:
    virtual ~ISensor();
    virtual void Start(const std::chrono::milliseconds& timeout) = 0;
    virtual void Stop(const std::chrono::milliseconds& timeout) = 0;
    virtual SerialNumber GetSerialNumber() = 0;
    virtual SensorState GetState() = 0;
    virtual std::vector<SensorError> RequestStatus(const std::chrono::milliseconds& timeout) = 0;
    virtual void Close() = 0;
    virtual void Initialize() = 0;
    virtual std::shared_ptr<ICamera> GetCamera() = 0;
};

}  // namespace orbel::sdk
