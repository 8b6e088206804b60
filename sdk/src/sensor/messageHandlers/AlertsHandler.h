// orbel::sensor::AlertsHandler: the sensor's alerts, reported to the alert
// callback (on the I/O thread) and logged. An alert whose payload lacks the
// status byte is reported without a status rather than read past its end.
#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <orbel/sdk/Alert.h>

#include "sensor/IMessageHandler.h"

namespace orbel::sensor {

class AlertsHandler : public IMessageHandler {
public:
    using AlertCallback = std::function<void(orbel::sdk::Alert, std::optional<bool>)>;

    AlertsHandler();
    ~AlertsHandler() override;
    void SetAlertCallback(AlertCallback callback);
    bool Handle(orbel::communication::VelmorantMessage& message) override;

    // The log text of an alert; throws std::logic_error for alerts 0 to 4 without a status.
    static std::string AlertText(orbel::sdk::Alert alert, std::optional<bool> status);

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::sensor
