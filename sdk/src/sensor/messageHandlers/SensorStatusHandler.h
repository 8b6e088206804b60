// orbel::sensor::SensorStatusHandler: state messages and state-change errors.
// Runs on the I/O thread under the handler list's lock; its callbacks run there too.
#pragma once

#include <functional>

#include <orbel/sdk/SensorError.h>
#include <orbel/sdk/SensorState.h>

#include "sensor/IMessageHandler.h"

namespace orbel::sensor {

class SensorStatusHandler : public IMessageHandler {
public:
    void SetStateCallback(std::function<void(const orbel::sdk::SensorState&)> callback);
    void SetErrorCallback(std::function<void(const orbel::sdk::SensorError&)> callback);
    void NotifyError(const orbel::sdk::SensorError& error);
    bool Handle(orbel::communication::VelmorantMessage& message) override;

private:
    std::function<void(const orbel::sdk::SensorState&)> stateCallback_;
    std::function<void(const orbel::sdk::SensorError&)> errorCallback_;
};

}  // namespace orbel::sensor
