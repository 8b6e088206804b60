#include "sensor/messageHandlers/ErrorMessageHandler.h"

#include <optional>

namespace orbel::sensor {

using orbel::sdk::Exception;
using orbel::sdk::SensorError;

namespace {

std::optional<SensorError> CodeOf(uint32_t id) {
    switch (id) {
        case 0x1800:
        case 0x4800:
        case 0x6800: return SensorError::COMMAND_NOT_KNOWN;
        case 0x2801:
        case 0x4801: return SensorError::COMMAND_BUFFER_FULL;
        case 0x2802:
        case 0x4802: return SensorError::COMMAND_NOT_SUPPORTED;
        case 0x2808: return SensorError::PAYLOAD_INCORRECT;
        case 0x2809: return SensorError::UNKNOWN_ERROR;
        case 0x4805: return SensorError::ACQUISITION_FAILED;
        case 0x4809: return SensorError::MEMORY_FULL;
        case 0x480B: return SensorError::ILLEGAL_TEMPERATURE;
        case 0x6801: return SensorError::CRITICAL_HARDWARE_ERROR;
        default: return std::nullopt;
    }
}

}  // namespace

ErrorMessageHandler::ErrorMessageHandler(std::function<void(const Exception&)> errorCallback)
    : errorCallback_(std::move(errorCallback)) {}

bool ErrorMessageHandler::Handle(orbel::communication::VelmorantMessage& message) {
    const uint32_t id = message.GetId();
    const auto code = CodeOf(id);
    if (!code) return false;
    const std::string detail =
        *code == SensorError::UNKNOWN_ERROR ? "The sensor reported an unspecified error: " + std::to_string(id) : "";
    if (errorCallback_) errorCallback_(Exception(detail, *code));
    return true;
}

}  // namespace orbel::sensor
