// orbel::sensor::ErrorMessageHandler: the sensor's error messages become
// orbel::sdk::Exception for the error callback (on the I/O thread). Logs nothing.
#pragma once

#include <functional>

#include <orbel/sdk/Exception.h>

#include "sensor/IMessageHandler.h"

namespace orbel::sensor {

class ErrorMessageHandler : public IMessageHandler {
public:
    explicit ErrorMessageHandler(std::function<void(const orbel::sdk::Exception&)> errorCallback);
    bool Handle(orbel::communication::VelmorantMessage& message) override;

private:
    std::function<void(const orbel::sdk::Exception&)> errorCallback_;
};

}  // namespace orbel::sensor
