#include "camera/CameraConfig_Arena.h"

#include <algorithm>
#include <optional>
#include <sstream>

#include <orbel/sdk/Exception.h>

#include "camera/vendor/Device.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/NodeMap.h"
#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::camera {

using orbel::utilities::ConvertToWStringLossy;

namespace {

std::wstring Number(double value) {
    std::wostringstream text;
    text << value;
    return text.str();
}

}  // namespace

CameraConfig_Arena::CameraConfig_Arena(vendor::Device* device) : device_(device) {}

void CameraConfig_Arena::_RequireDevice(const char* detail) const {
    if (device_ == nullptr) {
        throw orbel::sdk::Exception(std::string(detail), orbel::sdk::SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED);
    }
}

namespace {

// The failure's description, or nothing when the write went through.
template <typename V>
std::optional<std::string> TrySet(vendor::Device* device, const std::string& name, const V& value, bool streamMap) {
    try {
        vendor::NodeMap* map =
            device == nullptr ? nullptr : streamMap ? device->GetTLStreamNodeMap() : device->GetNodeMap();
        vendor::SetNodeValue<V>(map, name, value);
        return std::nullopt;
    } catch (const vendor::GenericException& e) {
        return std::string(e.GetDescription());
    }
}

std::wstring FailedWrite(const std::string& name, const std::string& description) {
    return L"CameraConfig_Arena:: Failed to set '" + ConvertToWStringLossy(name) +
           L"' (ignoring and continuing). Details: " + ConvertToWStringLossy(description);
}

}  // namespace

void CameraConfig_Arena::SetNodeValue(const std::string& name, double value, bool streamMap) {
    if (auto failure = TrySet(device_, name, value, streamMap)) ORBEL_LOG_WARNING(FailedWrite(name, *failure));
}
void CameraConfig_Arena::SetNodeValue(const std::string& name, const std::string& value, bool streamMap) {
    if (auto failure = TrySet(device_, name, value, streamMap)) ORBEL_LOG_WARNING(FailedWrite(name, *failure));
}
void CameraConfig_Arena::SetNodeValue(const std::string& name, bool value, bool streamMap) {
    if (auto failure = TrySet(device_, name, value, streamMap)) ORBEL_LOG_WARNING(FailedWrite(name, *failure));
}
void CameraConfig_Arena::SetNodeValue(const std::string& name, const char* value, bool streamMap) {
    SetNodeValue(name, std::string(value), streamMap);
}

template <typename T>
T CameraConfig_Arena::GetNodeValue(const std::string& name) {
    try {
        return vendor::GetNodeValue<T>(device_ == nullptr ? nullptr : device_->GetNodeMap(), name);
    } catch (const vendor::GenericException& e) {
        throw orbel::sdk::Exception("CameraConfig_Arena::GetNodeValue: Failed to get '" + name +
                                        "' (ignoring and continuing). Details: " + e.GetDescription(),
                                    orbel::sdk::SensorError::UNKNOWN_ERROR);
    }
}

bool CameraConfig_Arena::CheckWriteAccess() {
    if (device_ == nullptr) return false;
    try {
        vendor::ExecuteNode(device_->GetNodeMap(), "TimestampLatch");
        return true;
    } catch (const vendor::GenericException&) {
        return false;
    }
}

void CameraConfig_Arena::InitialConfiguration() {
    if (!CheckWriteAccess()) {
        ORBEL_LOG_WARNING(L"No write access to camera nodes, skipping configuration.");
        return;
    }
    SetNodeValue("StreamBufferHandlingMode", "NewestOnly", true);
    SetNodeValue("StreamAutoNegotiatePacketSize", true, true);
    SetNodeValue("StreamPacketResendEnable", true, true);
    // Written directly: a camera that refuses the key fails the connection.
    vendor::SetNodeValue<int64_t>(device_->GetTLDeviceNodeMap(), "CcpSwitchoverKey", kSwitchoverKey);
}

void CameraConfig_Arena::CheckConfiguration() {
    if (GetNodeValue<std::string>("TriggerSource") != "Line2") {
        ORBEL_LOG_WARNING(
            L"Detected atypical configuration. If you experience errors, try using 'ResetConfiguration()'.");
    }
}

void CameraConfig_Arena::OptimizeBandwidth(orbel::sdk::PixelFormat format) {
    using orbel::sdk::PixelFormat;
    if (!CheckWriteAccess()) {
        ORBEL_LOG_WARNING(L"Cannot optimize bandwidth due to lack of write access to camera nodes.");
        return;
    }
    try {
        SetNodeValue("StreamBufferHandlingMode", "NewestOnly", true);
        SetNodeValue("StreamAutoNegotiatePacketSize", true, true);
        SetNodeValue("StreamPacketResendEnable", true, true);
        switch (format) {
            case PixelFormat::BayerRG12:
            case PixelFormat::RGB12: SetNodeValue("PixelFormat", "BayerRG12"); break;
            case PixelFormat::BayerRG12Packed: SetNodeValue("PixelFormat", "BayerRG12Packed"); break;
            case PixelFormat::RGB8: SetNodeValue("PixelFormat", "BayerRG8"); break;
            default:
                ORBEL_LOG_WARNING(L"Unexpected pixel format for bandwidth optimization: " +
                                  std::to_wstring(static_cast<unsigned>(format)));
                break;
        }
        ORBEL_LOG_INFO(L"Camera bandwidth optimization settings applied.");
    } catch (const vendor::GenericException& e) {
        ORBEL_LOG_ERROR(L"Failed to optimize bandwidth: " + ConvertToWStringLossy(e.GetDescription()));
    }
}

void CameraConfig_Arena::ResetConfiguration() {
    ORBEL_LOG_INFO(L"Resetting camera configuration to default values");
    SetNodeValue("PixelFormat", "BayerRG12");
    SetNodeValue("TriggerOverlap", "PreviousFrame");
    SetNodeValue("AcquisitionMode", "Continuous");
    SetNodeValue("AcquisitionFrameRateEnable", true);
    SetNodeValue("AcquisitionFrameRate", 21.0);
    SetNodeValue("AcquisitionFrameRateLinkLimitEnable", false);
    SetNodeValue("TriggerDelay", 0.0);
    SetNodeValue("ExposureAuto", "Continuous");
    SetNodeValue("ExposureAutoLimitAuto", "Off");
    SetNodeValue("ExposureAutoLowerLimit", 25.952);
    SetNodeValue("ExposureAutoUpperLimit", 46000.0);
    SetNodeValue("TriggerMode", "On");
    SetNodeValue("TriggerSource", "Line2");
    SetNodeValue("TriggerOverlap", "PreviousFrame");
    SetNodeValue("GainAuto", "Off");
    SetNodeValue("Gain", 4.0);
    SetNodeValue("BalanceWhiteEnable", true);
    SetNodeValue("BalanceWhiteAuto", "Continuous");
}

void CameraConfig_Arena::SetAutoExposure() {
    _RequireDevice("Camera::SetAutoExposureTime: Camera not connected");
    SetNodeValue("TriggerDelay", 0.0);
    SetNodeValue("ExposureAuto", "Continuous");
}

void CameraConfig_Arena::SetFixedExposureTime(uint32_t exposureUs, double triggerOffsetUs) {
    _RequireDevice("Camera::SetExposureTimeUs: Camera not connected");
    SetNodeValue("ExposureAuto", "Off");
    SetNodeValue("TriggerDelay", 0.0);
    SetNodeValue("ExposureTime", static_cast<double>(exposureUs));
    const double actual = GetNodeValue<double>("ExposureTime");
    ORBEL_LOG_INFO(L"Exposure changed to: " + Number(actual) + L" us");
    if (actual != static_cast<double>(exposureUs)) {
        ORBEL_LOG_WARNING(L"Requested exposure time " + std::to_wstring(exposureUs) + L" us, but camera reports " +
                          Number(actual) +
                          L" us. This indicates that the requested exposure time is out of range for the current "
                          L"configuration." +
                          L" Continuing with " + Number(actual) + L" us.");
    }
    SetNodeValue("TriggerDelay", std::max(triggerOffsetUs - actual * 0.5, 0.0));
}

double CameraConfig_Arena::GetExposureTime() { return GetNodeValue<double>("ExposureTime"); }

}  // namespace orbel::camera
