#include <orbel/sdk/Exception.h>

#include "utilities/StringConversion.h"

namespace orbel::sdk {
namespace {

const char* FixedText(SensorError code) {
    switch (code) {
        case SensorError::CONNECTION_FAILED: return "Failed to connect to the sensor on the provided IP and port.";
        case SensorError::ACTION_ILLEGAL_SENSOR_RUNNING:
            return "The requested action is not allowed while the sensor is running.";
        case SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED:
            return "The requested action is not allowed while the sensor is not initialised.";
        case SensorError::UNABLE_TO_INITIALISE:
            return "Failed to initialise the sensor. Please check the sensor's configuration and try again.";
        case SensorError::UNABLE_TO_START:
            return "Failed to start the sensor. Please check the sensor's configuration and try again.";
        case SensorError::UNABLE_TO_STOP:
            return "Failed to stop the sensor. Please check the sensor's configuration and try again.";
        case SensorError::UNABLE_TO_CLOSE:
            return "Failed to close the sensor. Please check the sensor's configuration and try again.";
        case SensorError::SENSOR_ALREADY_INITIALIZED: return "The sensor is already initialised.";
        case SensorError::ACTION_ILLEGAL_NOT_RUNNING:
            return "The requested action is not allowed while the sensor is not running. Please Start the sensor first.";
        case SensorError::COMMAND_NOT_KNOWN: return "The previous command is not known to this sensor.";
        // The sensor's own wording ends here, trailing blank included.
        case SensorError::COMMAND_BUFFER_FULL: return "The command buffer of the sensor is full. The previous command ";
        case SensorError::COMMAND_NOT_SUPPORTED: return "The previous command is not supported by this sensor.";
        case SensorError::PAYLOAD_INCORRECT: return "The payload of the previous command is incorrect.";
        case SensorError::ACQUISITION_FAILED:
            return "Something went wrong in the sensor when trying to acquire new data.";
        case SensorError::MEMORY_FULL:
            return "The internal memory of the sensor is full and the command cannot be executed.";
        case SensorError::ILLEGAL_TEMPERATURE:
            return "One of the temperature sensors provided an illegal temperature value.";
        case SensorError::CRITICAL_HARDWARE_ERROR:
            return "A critical hardware error occurred in the sensor. Part of the sensor might be unresponsive or might "
                   "be shut down to protect it. Unpower the sensor and reboot it.";
        case SensorError::UNKNOWN_ERROR: return "An error occurred that is not specifically handled by this SDK.";
        default: return "Unspecified error.";
    }
}

}  // namespace

Exception::Exception(const std::string& detail, SensorError code) : code_(code) { CreateMessage(detail); }

Exception::Exception(const std::wstring& detail, SensorError code) : code_(code) {
    CreateMessage(orbel::utilities::ConvertToString(detail, orbel::utilities::Encoding::ThreadCodePage));
}

Exception::Exception(const Exception& other) : std::exception(), message_(other.message_), code_(other.code_) {}

Exception& Exception::operator=(const Exception& other) {
    if (this != &other) {
        message_ = other.message_;
        code_ = other.code_;
    }
    return *this;
}

Exception::~Exception() = default;

void Exception::CreateMessage(std::string detail) {
    message_ = "Exception: ";
    message_ += FixedText(code_);
    if (!detail.empty()) {
        message_ += " Extra information: ";
        message_ += detail;
    }
}

SensorError Exception::GetType() const { return code_; }

const char* Exception::what() const noexcept { return message_.c_str(); }

void ThrowUnknownError(const std::string& text) { throw Exception(text, SensorError::UNKNOWN_ERROR); }

std::string GetVersion() { return "2.2.1"; }

}  // namespace orbel::sdk
