// The camera configuration against the fake camera: what the reset writes, the
// stream set-up and pixel format before a stream starts, fixed and automatic
// exposure with the trigger delay they imply, a camera without write access,
// and optional nodes a camera lacks (warned about, never an error record).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "camera/CameraConfig_Arena.h"
#include "camera/vendor/NodeMap.h"
#include "sdk/camera/OpenedDevice.h"
#include "sdk/camera/RecordingNodeMap.h"
#include "support/FakeCamera.h"
#include "support/LogCapture.h"

namespace {

namespace vendor = orbel::camera::vendor;
using orbel::camera::CameraConfig_Arena;
using orbel::sdk::PixelFormat;
using orbel::sdk::Severity;
using orbel::testing::LogCapture;
using orbel::testing::OpenedDevice;
using orbel::testing::RecordingNodeMap;
using vendor::GetNodeValue;
using vendor::SetNodeValue;

using Value = std::variant<std::string, double, bool>;

Value Read(vendor::NodeMap* nodes, const std::string& name, const Value& like) {
    if (std::holds_alternative<std::string>(like)) return GetNodeValue<std::string>(nodes, name);
    if (std::holds_alternative<double>(like)) return GetNodeValue<double>(nodes, name);
    return GetNodeValue<bool>(nodes, name);
}

std::string Text(const Value& v) {
    if (auto s = std::get_if<std::string>(&v)) return *s;
    if (auto d = std::get_if<double>(&v)) return std::to_string(*d);
    return std::get<bool>(v) ? "true" : "false";
}

TEST(CameraConfiguration, ResetWritesTheSystemDefaultsAndEndsTheAtypicalWarning) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    LogCapture log;
    config.CheckConfiguration();  // the fake camera starts on trigger source Line0
    EXPECT_EQ(log.Count(L"Detected atypical configuration. If you experience errors, try using "
                        L"'ResetConfiguration()'."),
              1u);

    log.Clear();
    config.ResetConfiguration();
    EXPECT_EQ(log.Count(L"Resetting camera configuration to default values"), 1u);
    EXPECT_EQ(log.CountAt(Severity::WARNING) + log.CountAt(Severity::ERROR), 0u);
    const std::pair<const char*, Value> expected[] = {
        {"PixelFormat", std::string("BayerRG12")},     {"TriggerOverlap", std::string("PreviousFrame")},
        {"AcquisitionMode", std::string("Continuous")}, {"AcquisitionFrameRateEnable", true},
        {"AcquisitionFrameRateLinkLimitEnable", false}, {"TriggerDelay", 0.0},
        {"ExposureAuto", std::string("Continuous")},    {"ExposureAutoLimitAuto", std::string("Off")},
        {"ExposureAutoLowerLimit", 25.952},             {"ExposureAutoUpperLimit", 46000.0},
        {"TriggerMode", std::string("On")},             {"TriggerSource", std::string("Line2")},
        {"GainAuto", std::string("Off")},               {"Gain", 4.0},
        {"BalanceWhiteEnable", true},                   {"BalanceWhiteAuto", std::string("Continuous")},
    };
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(Text(Read(device->GetNodeMap(), name, value)), Text(value)) << name;
    }
    // The fake camera keeps the rate as a whole frame period in microseconds.
    EXPECT_NEAR(GetNodeValue<double>(device->GetNodeMap(), "AcquisitionFrameRate"), 21.0, 1e-3);

    log.Clear();
    config.CheckConfiguration();
    EXPECT_EQ(log.Count(L"Detected atypical configuration"), 0u);
}

// The final values cannot show a write made out of turn or lost: TriggerOverlap is written a
// second time after the trigger source, and a camera may take a node only after the one before.
TEST(CameraConfiguration, ResetWritesEachDefaultInItsTurn) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    RecordingNodeMap& nodes = RecordingNodeMap::On(*device.get());
    CameraConfig_Arena config(device.get());
    config.ResetConfiguration();
    EXPECT_EQ(nodes.Writes(), (std::vector<std::string>{
                                  "PixelFormat=BayerRG12",
                                  "TriggerOverlap=PreviousFrame",
                                  "AcquisitionMode=Continuous",
                                  "AcquisitionFrameRateEnable=true",
                                  "AcquisitionFrameRate=21",
                                  "AcquisitionFrameRateLinkLimitEnable=false",
                                  "TriggerDelay=0",
                                  "ExposureAuto=Continuous",
                                  "ExposureAutoLimitAuto=Off",
                                  "ExposureAutoLowerLimit=25.952",
                                  "ExposureAutoUpperLimit=46000",
                                  "TriggerMode=On",
                                  "TriggerSource=Line2",
                                  "TriggerOverlap=PreviousFrame",
                                  "GainAuto=Off",
                                  "Gain=4",
                                  "BalanceWhiteEnable=true",
                                  "BalanceWhiteAuto=Continuous",
                              }));
}

// A camera refuses an exposure time while automatic exposure is on, so that goes off first;
// the trigger delay follows the exposure the camera reports.
TEST(CameraConfiguration, ExposureWritesComeInTheirOrder) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    RecordingNodeMap& nodes = RecordingNodeMap::On(*device.get());
    CameraConfig_Arena config(device.get());
    struct Case {
        const char* what;
        std::function<void()> call;
        std::vector<std::string> writes;
    };
    const Case cases[] = {
        {"fixed 1000 us",
         [&] { config.SetFixedExposureTime(1000, 229292.8); },
         {"ExposureAuto=Off", "TriggerDelay=0", "ExposureTime=1000", "TriggerDelay=228792.8"}},
        {"fixed 10 us, reported as 30",
         [&] { config.SetFixedExposureTime(10, 229292.8); },
         {"ExposureAuto=Off", "TriggerDelay=0", "ExposureTime=10", "TriggerDelay=229277.8"}},
        {"automatic", [&] { config.SetAutoExposure(); }, {"TriggerDelay=0", "ExposureAuto=Continuous"}},
    };
    for (const auto& c : cases) {
        nodes.ClearWrites();
        c.call();
        EXPECT_EQ(nodes.Writes(), c.writes) << c.what;
    }
}

// A camera that lacks optional nodes: each failed write is a warning naming the
// node and the writes after it still happen. An error record would make a
// caller that treats SDK errors as fatal drop the whole sensor.
TEST(CameraConfiguration, NodesTheCameraLacksAreWarnedAboutAndSkipped) {
    orbel::testing::FakeCameraOptions options;
    options.omitNodes = {"Gain", "BalanceWhiteAuto"};
    ORBEL_FAKE_CAMERA_OR_SKIP(camera, options);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    LogCapture log;
    config.ResetConfiguration();
    EXPECT_EQ(log.CountAt(Severity::ERROR), 0u);
    EXPECT_EQ(log.CountAt(Severity::WARNING), 2u);
    for (const wchar_t* node : {L"'Gain'", L"'BalanceWhiteAuto'"}) {
        EXPECT_EQ(log.Count(std::wstring(L"CameraConfig_Arena:: Failed to set ") + node +
                            L" (ignoring and continuing). Details: "),
                  1u)
            << node;
    }
    EXPECT_TRUE(GetNodeValue<bool>(device->GetNodeMap(), "BalanceWhiteEnable"));
    EXPECT_EQ(GetNodeValue<std::string>(device->GetNodeMap(), "GainAuto"), "Off");
}

TEST(CameraConfiguration, InitialConfigurationSetsUpTheStreamAndTheSwitchoverKey) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    EXPECT_TRUE(config.CheckWriteAccess());
    config.InitialConfiguration();
    auto* stream = device->GetTLStreamNodeMap();
    EXPECT_EQ(GetNodeValue<std::string>(stream, "StreamBufferHandlingMode"), "NewestOnly");
    EXPECT_TRUE(GetNodeValue<bool>(stream, "StreamAutoNegotiatePacketSize"));
    EXPECT_TRUE(GetNodeValue<bool>(stream, "StreamPacketResendEnable"));
    EXPECT_EQ(GetNodeValue<int64_t>(device->GetTLDeviceNodeMap(), "CcpSwitchoverKey"), 6258);
}

TEST(CameraConfiguration, BandwidthSetUpChoosesTheCameraPixelFormatForTheOutput) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    struct Case {
        PixelFormat output;
        const char* pixelFormat;  // what the camera streams afterwards; Mono8 is left as it was
        bool warned;
    };
    const Case cases[] = {
        {PixelFormat::RGB8, "BayerRG8", false},      {PixelFormat::RGB12, "BayerRG12", false},
        {PixelFormat::BayerRG12, "BayerRG12", false}, {PixelFormat::BayerRG12Packed, "BayerRG12Packed", false},
        {PixelFormat::BayerRG8, "Mono8", true},       {PixelFormat::Unknown, "Mono8", true},
    };
    for (const auto& c : cases) {
        const unsigned code = static_cast<unsigned>(c.output);
        SCOPED_TRACE("output format " + std::to_string(code));
        SetNodeValue<std::string>(device->GetNodeMap(), "PixelFormat", "Mono8");
        SetNodeValue<std::string>(device->GetTLStreamNodeMap(), "StreamBufferHandlingMode", "OldestFirst");
        LogCapture log;
        config.OptimizeBandwidth(c.output);
        EXPECT_EQ(GetNodeValue<std::string>(device->GetNodeMap(), "PixelFormat"), c.pixelFormat);
        EXPECT_EQ(GetNodeValue<std::string>(device->GetTLStreamNodeMap(), "StreamBufferHandlingMode"), "NewestOnly");
        EXPECT_EQ(log.Count(L"Unexpected pixel format for bandwidth optimization: " + std::to_wstring(code)),
                  c.warned ? 1u : 0u);
        EXPECT_EQ(log.Count(L"Camera bandwidth optimization settings applied."), 1u);
    }
}

TEST(CameraConfiguration, FixedExposureSetsTheTriggerDelayFromWhatTheCameraReports) {
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    auto* nodes = device->GetNodeMap();
    struct Case {
        uint32_t requested;
        double reported;  // the fake camera keeps at least 30 µs
        double triggerDelay;
    };
    const Case cases[] = {{1000, 1000, 228792.8}, {10, 30, 229277.8}, {500000, 500000, 0.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.requested);
        SetNodeValue<std::string>(nodes, "ExposureAuto", "Continuous");
        LogCapture log;
        config.SetFixedExposureTime(c.requested, 229292.8);
        EXPECT_EQ(GetNodeValue<std::string>(nodes, "ExposureAuto"), "Off");
        EXPECT_EQ(config.GetExposureTime(), c.reported);
        EXPECT_NEAR(GetNodeValue<double>(nodes, "TriggerDelay"), c.triggerDelay, 1e-6);
        std::wostringstream changed;
        changed << L"Exposure changed to: " << c.reported << L" us";
        EXPECT_EQ(log.Count(changed.str()), 1u);
        const bool clamped = c.reported != c.requested;
        EXPECT_EQ(log.CountAt(Severity::WARNING), clamped ? 1u : 0u);
        if (clamped) {
            EXPECT_EQ(log.Count(L"Requested exposure time 10 us, but camera reports 30 us. This indicates that the "
                                L"requested exposure time is out of range for the current configuration. Continuing "
                                L"with 30 us."),
                      1u);
        }
    }

    config.SetAutoExposure();
    EXPECT_EQ(GetNodeValue<std::string>(nodes, "ExposureAuto"), "Continuous");
    EXPECT_EQ(GetNodeValue<double>(nodes, "TriggerDelay"), 0.0);
}

TEST(CameraConfiguration, ACameraWithoutWriteAccessGetsNoConfiguration) {
    orbel::testing::FakeCameraOptions options;
    options.omitNodes = {"TimestampLatch"};
    ORBEL_FAKE_CAMERA_OR_SKIP(camera, options);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    EXPECT_FALSE(config.CheckWriteAccess());
    SetNodeValue<std::string>(device->GetNodeMap(), "PixelFormat", "Mono8");
    LogCapture log;
    config.InitialConfiguration();
    config.OptimizeBandwidth(PixelFormat::RGB8);
    EXPECT_EQ(log.Count(L"No write access to camera nodes, skipping configuration."), 1u);
    EXPECT_EQ(log.Count(L"Cannot optimize bandwidth due to lack of write access to camera nodes."), 1u);
    EXPECT_EQ(GetNodeValue<std::string>(device->GetNodeMap(), "PixelFormat"), "Mono8");
    EXPECT_EQ(GetNodeValue<std::string>(device->GetTLStreamNodeMap(), "StreamBufferHandlingMode"), "OldestFirst");
}

TEST(CameraConfiguration, FailedReadsAndAMissingDeviceThrowTheirCodes) {
    orbel::testing::FakeCameraOptions options;
    options.omitNodes = {"ExposureTime"};
    ORBEL_FAKE_CAMERA_OR_SKIP(camera, options);
    OpenedDevice device(camera);
    CameraConfig_Arena config(device.get());
    try {
        config.GetExposureTime();
        ADD_FAILURE() << "no exception";
    } catch (const orbel::sdk::Exception& e) {
        EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::UNKNOWN_ERROR);
        EXPECT_NE(std::string(e.what()).find("CameraConfig_Arena::GetNodeValue: Failed to get 'ExposureTime'"),
                  std::string::npos);
    }

    CameraConfig_Arena detached(nullptr);
    EXPECT_FALSE(detached.CheckWriteAccess());
    for (auto [call, text] : {std::pair<std::function<void()>, const char*>{
                                  [&] { detached.SetAutoExposure(); },
                                  "Camera::SetAutoExposureTime: Camera not connected"},
                              {[&] { detached.SetFixedExposureTime(1000, 229292.8); },
                               "Camera::SetExposureTimeUs: Camera not connected"}}) {
        try {
            call();
            ADD_FAILURE() << text;
        } catch (const orbel::sdk::Exception& e) {
            EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED);
            EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
        }
    }
}

}  // namespace
