#include "sensor/messageHandlers/SensorStatusHandler.h"

#include <optional>

#include "utilities/Logging.h"

namespace orbel::sensor {

using orbel::sdk::SensorError;
using orbel::sdk::SensorState;

namespace {

std::optional<SensorState> StateOf(uint32_t id) {
    switch (id) {
        case 0x3000: return SensorState::Idle;
        case 0x3001: return SensorState::UnInitialized;
        case 0x5001: return SensorState::Running;
        case 0x5002: return SensorState::Idle;
        default: return std::nullopt;
    }
}

std::optional<SensorError> StateErrorOf(uint32_t id) {
    switch (id) {
        case 0x2803: return SensorError::ACTION_ILLEGAL_SENSOR_RUNNING;
        case 0x2804: return SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED;
        case 0x2805: return SensorError::UNABLE_TO_INITIALISE;
        case 0x2806: return SensorError::UNABLE_TO_CLOSE;
        case 0x2807: return SensorError::SENSOR_ALREADY_INITIALIZED;
        case 0x280B: return SensorError::ACTION_ILLEGAL_NOT_RUNNING;
        case 0x4803: return SensorError::UNABLE_TO_START;
        case 0x4804: return SensorError::UNABLE_TO_STOP;
        case 0x4806: return SensorError::ACTION_ILLEGAL_SENSOR_RUNNING;
        default: return std::nullopt;
    }
}

}  // namespace

void SensorStatusHandler::SetStateCallback(std::function<void(const SensorState&)> callback) {
    stateCallback_ = std::move(callback);
}

void SensorStatusHandler::SetErrorCallback(std::function<void(const SensorError&)> callback) {
    errorCallback_ = std::move(callback);
}

void SensorStatusHandler::NotifyError(const SensorError& error) {
    if (errorCallback_) {
        errorCallback_(error);
        return;
    }
    ORBEL_LOG_ERROR(L"Received status error. Either the system could not change state or the action requested is "
                    L"illegal in the current state.");
}

bool SensorStatusHandler::Handle(orbel::communication::VelmorantMessage& message) {
    const uint32_t id = message.GetId();
    if (const auto state = StateOf(id)) {
        if (stateCallback_) stateCallback_(*state);
        return true;
    }
    if (const auto error = StateErrorOf(id)) {
        NotifyError(*error);
        return true;
    }
    return false;
}

}  // namespace orbel::sensor
