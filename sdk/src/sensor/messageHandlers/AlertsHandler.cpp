#include "sensor/messageHandlers/AlertsHandler.h"

#include <stdexcept>

#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::sensor {

using orbel::sdk::Alert;

namespace {

std::optional<Alert> AlertOf(uint32_t id) {
    switch (id) {
        case 0x5008: return Alert::Temperature;
        case 0x500C: return Alert::Power;
        case 0x500D: return Alert::Voltage;
        case 0x500F: return Alert::EyeSafety;
        case 0x500E: return Alert::Humidity;
        case 0x3006: return Alert::SystemShutdown;
        default: return std::nullopt;
    }
}

const char* TypeWord(Alert alert) {
    switch (alert) {
        case Alert::Temperature: return "temperature";
        case Alert::Power: return "power";
        case Alert::Voltage: return "voltage";
        case Alert::EyeSafety: return "eye safety";
        case Alert::Humidity: return "humidity";
        default: return "unknown";
    }
}

}  // namespace

class AlertsHandler::Impl {
public:
    void NotifyUser(Alert alert, std::optional<bool> status) {
        if (alertCallback) alertCallback(alert, status);
        ORBEL_LOG_INFO(L"Received an alert from the system: " +
                       orbel::utilities::ConvertToWString(AlertText(alert, status)));
    }

    AlertCallback alertCallback;
};

AlertsHandler::AlertsHandler() : impl_(std::make_unique<Impl>()) {}
AlertsHandler::~AlertsHandler() = default;

void AlertsHandler::SetAlertCallback(AlertCallback callback) { impl_->alertCallback = std::move(callback); }

std::string AlertsHandler::AlertText(Alert alert, std::optional<bool> status) {
    if (alert == Alert::SystemShutdown) return "System shutting down";
    if (static_cast<uint32_t>(alert) > static_cast<uint32_t>(Alert::Humidity)) return "unknown";
    if (!status)
        throw std::logic_error(std::string("Bug: you need to define the optional status when notifying alerts of type ") +
                               TypeWord(alert) + "!");
    switch (alert) {
        case Alert::Temperature: return *status ? "critical temperature reached" : "temperature normalized";
        case Alert::Power: return *status ? "power issue occurred" : "power normalized";
        case Alert::Voltage: return *status ? "voltage issue occurred" : "voltage normalized";
        case Alert::EyeSafety: return *status ? "eye safety issue occurred" : "eye safety normalized";
        default: return *status ? "humidity issue occurred" : "humidity normalized";
    }
}

bool AlertsHandler::Handle(orbel::communication::VelmorantMessage& message) {
    const auto alert = AlertOf(message.GetId());
    if (!alert) return false;
    if (*alert == Alert::SystemShutdown) {
        impl_->NotifyUser(*alert, std::nullopt);
        return true;
    }
    if (message.GetPayloadSize() < 2) {
        // No status byte to read: report the alert without one.
        if (impl_->alertCallback) impl_->alertCallback(*alert, std::nullopt);
        ORBEL_LOG_INFO(L"Received an alert from the system: " +
                       orbel::utilities::ConvertToWString(std::string(TypeWord(*alert))) + L" alert without a status");
        return true;
    }
    impl_->NotifyUser(*alert, message.GetPayload()[1] != 0);
    return true;
}

}  // namespace orbel::sensor
