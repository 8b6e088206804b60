// The SDK through its public factory against the sensor emulator on loopback:
// build, status, streaming, stop, sensor errors and alerts, lost links, bad
// streams and failed builds.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <thread>

#include "sdk/api/EmulatedSensor.h"
#include "support/LogCapture.h"
#include "support/LoopbackPeer.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::emulator::EmulatorOptions;
using orbel::emulator::SensorEmulator;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::sdk::SensorFactory;
using orbel::sdk::SensorState;
using orbel::testing::Recorded;

struct Rig {
    SensorEmulator emulator;
    Recorded recorded;
    std::unique_ptr<SensorFactory> factory = std::make_unique<SensorFactory>();
    std::shared_ptr<orbel::sdk::ISensor> sensor;

    explicit Rig(EmulatorOptions options = {}) : emulator(std::move(options)) {
        orbel::testing::ConfigureRecording(*factory, recorded);
    }
    void Build() { sensor = factory->Build("127.0.0.1", emulator.Port()); }
};

TEST(SensorEndToEnd, BuildLearnsSerialNumberAndState) {
    Rig rig;
    rig.emulator.SetSerialNumber(0x03023112);
    rig.Build();
    EXPECT_EQ(rig.sensor->GetSerialNumber().ToInt(), 0x03023112u);
    EXPECT_EQ(rig.sensor->GetSerialNumber().ToString(), "MR Q9 JY - 66051");
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Idle);
    EXPECT_EQ(rig.sensor->GetCamera(), nullptr);
}

TEST(SensorEndToEnd, StreamsCompleteLinesInOrderUntilStopped) {
    Rig rig;
    rig.Build();
    rig.sensor->Start(5s);
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Running);
    ASSERT_TRUE(rig.recorded.WaitUntil([&] { return rig.recorded.clouds.size() >= 3 * 56; }));
    rig.sensor->Stop(5s);
    EXPECT_EQ(rig.sensor->GetState(), SensorState::Idle);
    EXPECT_FALSE(rig.emulator.IsStreaming());

    std::lock_guard lock(rig.recorded.mutex);
    const auto& clouds = rig.recorded.clouds;
    const uint32_t firstFrame = clouds.front()->GetMetadata().frameNumber;
    uint64_t lastTimestamp = 0;
    for (size_t i = 0; i < clouds.size(); ++i) {
        auto& cloud = *clouds[i];
        const auto& metadata = cloud.GetMetadata();
        ASSERT_EQ(metadata.frameNumber, firstFrame + i / 56) << i;
        ASSERT_EQ(metadata.lineIndex, i % 56) << i;
        EXPECT_GT(metadata.timestamp_us, lastTimestamp) << i;
        lastTimestamp = metadata.timestamp_us;
        ASSERT_EQ(cloud.GetPointCount(), 192u);
        EXPECT_EQ(cloud.GetX().size(), 192u);
        EXPECT_EQ(cloud.GetDistance().size(), 192u);
        EXPECT_EQ(cloud.GetAmbient().size(), 192u);
        EXPECT_EQ(cloud.GetColors().size(), 192u);
        for (size_t p = 0; p < 192; p += 37) {
            const float x = cloud.GetX()[p], y = cloud.GetY()[p], z = cloud.GetZ()[p];
            EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), cloud.GetDistance()[p], 1.0f);
        }
    }
}

TEST(SensorEndToEnd, SensorErrorsReachTheErrorCallbackWithTheirCodes) {
    const std::pair<uint32_t, SensorError> cases[] = {
        {0x1800, SensorError::COMMAND_NOT_KNOWN},       {0x2801, SensorError::COMMAND_BUFFER_FULL},
        {0x4802, SensorError::COMMAND_NOT_SUPPORTED},   {0x2808, SensorError::PAYLOAD_INCORRECT},
        {0x2809, SensorError::UNKNOWN_ERROR},           {0x4805, SensorError::ACQUISITION_FAILED},
        {0x4809, SensorError::MEMORY_FULL},             {0x480B, SensorError::ILLEGAL_TEMPERATURE},
        {0x6801, SensorError::CRITICAL_HARDWARE_ERROR}, {0x4803, SensorError::UNABLE_TO_START},
        {0x2807, SensorError::SENSOR_ALREADY_INITIALIZED},
    };
    Rig rig;
    rig.Build();
    for (const auto& [id, code] : cases) ASSERT_TRUE(rig.emulator.SendError(id));
    ASSERT_TRUE(rig.recorded.WaitUntil([&] { return rig.recorded.errors.size() == std::size(cases); }));
    std::lock_guard lock(rig.recorded.mutex);
    for (size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(rig.recorded.errors[i].first, cases[i].second) << i;
    EXPECT_NE(rig.recorded.errors[4].second.find("The sensor reported an unspecified error: 10249"), std::string::npos);
    EXPECT_NE(rig.recorded.errors[9].second.find("Unable to perform state change action."), std::string::npos);
}

TEST(SensorEndToEnd, AlertsReachTheAlertCallback) {
    using orbel::sdk::Alert;
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.emulator.SendAlert(0x5008, true));
    ASSERT_TRUE(rig.emulator.SendAlert(0x500D, false));
    ASSERT_TRUE(rig.emulator.SendAlert(0x3006, false, 1));
    ASSERT_TRUE(rig.emulator.SendAlert(0x500E, true, 1));  // too short for its status
    ASSERT_TRUE(rig.emulator.SendAlert(0x500C, true, 0));
    ASSERT_TRUE(rig.recorded.WaitUntil([&] { return rig.recorded.alerts.size() == 5; }));
    std::lock_guard lock(rig.recorded.mutex);
    using Entry = std::pair<Alert, std::optional<bool>>;
    EXPECT_EQ(rig.recorded.alerts,
              (std::vector<Entry>{{Alert::Temperature, true},
                                  {Alert::Voltage, false},
                                  {Alert::SystemShutdown, std::nullopt},
                                  {Alert::Humidity, std::nullopt},
                                  {Alert::Power, std::nullopt}}));
}

TEST(SensorEndToEnd, PeerCloseIsNotConnectedAndResetIsATcpError) {
    for (auto [mode, code] : {std::pair{orbel::emulator::CloseMode::Graceful, SensorError::NOT_CONNECTED},
                              std::pair{orbel::emulator::CloseMode::Reset, SensorError::TCP_ERROR}}) {
        Rig rig;
        rig.Build();
        ASSERT_TRUE(rig.emulator.CloseClient(mode));
        ASSERT_TRUE(rig.recorded.WaitUntil([&] { return !rig.recorded.errors.empty(); }));
        std::this_thread::sleep_for(50ms);
        std::lock_guard lock(rig.recorded.mutex);
        ASSERT_EQ(rig.recorded.errors.size(), 1u);
        EXPECT_EQ(rig.recorded.errors[0].first, code);
    }
}

// The SDK never reconnects: once the link is gone, every command fails at once with
// NOT_CONNECTED, however many are tried (none is queued, so the send queue never fills).
TEST(SensorEndToEnd, CommandsOnALostLinkFailAtOnceWithNotConnected) {
    for (const auto mode : {orbel::emulator::CloseMode::Graceful, orbel::emulator::CloseMode::Reset}) {
        Rig rig;
        rig.Build();
        ASSERT_TRUE(rig.emulator.CloseClient(mode));
        ASSERT_TRUE(rig.recorded.WaitUntil([&] { return !rig.recorded.errors.empty(); }));
        const std::function<void()> commands[] = {[&] { rig.sensor->Start(3s); },
                                                  [&] { rig.sensor->RequestStatus(3s); },
                                                  [&] { rig.sensor->Initialize(); }, [&] { rig.sensor->Close(); }};
        for (int round = 0; round < 4; ++round) {
            for (size_t i = 0; i < std::size(commands); ++i) {
                try {
                    commands[i]();
                    ADD_FAILURE() << "command " << i << " succeeded on a lost link";
                } catch (const Exception& e) {
                    EXPECT_EQ(e.GetType(), SensorError::NOT_CONNECTED) << "command " << i << ": " << e.what();
                }
            }
        }
    }
}

TEST(SensorEndToEnd, MalformedCloudIsLoggedAndTheStreamGoesOn) {
    using orbel::emulator::MalformedPointCloud;
    const std::pair<MalformedPointCloud, const wchar_t*> cases[] = {
        {MalformedPointCloud::Empty, L"The provided data was empty."},
        {MalformedPointCloud::TooShortForVersion, L"Message is too small to contain version data."},
        {MalformedPointCloud::WrongMetadataVersion, L"Incorrect metadata version number"},
        {MalformedPointCloud::TooShortForMetadata,
         L"The message is too small for a valid metadata message of the provided version."},
        {MalformedPointCloud::TooShortForPointHeader, L"The message is too small for a valid point cloud message."},
        {MalformedPointCloud::BadPointDataVersion, L"Unsupported point cloud data version."},
        {MalformedPointCloud::UnsupportedPointType, L"Unsupported point cloud data type."},
        {MalformedPointCloud::InsufficientData, L"Insufficient data for point cloud message."},
    };
    orbel::testing::LogCapture log(orbel::sdk::Severity::ERROR);
    Rig rig;
    rig.Build();
    for (const auto& [kind, text] : cases) ASSERT_TRUE(rig.emulator.SendMalformedPointCloud(kind));
    ASSERT_TRUE(rig.recorded.WaitUntil([&] { return rig.recorded.clouds.size() == std::size(cases); }));
    for (const auto& [kind, text] : cases)
        EXPECT_EQ(log.Count(std::wstring(L"Failed to process point clouds: ") + text), 1u) << text;
}

TEST(SensorEndToEnd, BurstBeyondTheRingIsCountedNotDelivered) {
    orbel::testing::LogCapture log(orbel::sdk::Severity::INFO);
    Rig rig;
    std::mutex gate;
    std::unique_lock held(gate);
    std::atomic<int> delivered{0};
    rig.factory->SetPointCloudCallback([&](std::unique_ptr<orbel::sdk::IPointCloud>) {
        if (delivered++ == 0) std::lock_guard wait(gate);  // the first delivery blocks
    });
    rig.factory->SetPointCloudBufferSize(16);
    rig.Build();
    ASSERT_TRUE(rig.emulator.SendPointCloudBurst(1));
    ASSERT_TRUE(orbel::testing::Eventually([&] { return delivered == 1; }));
    ASSERT_TRUE(rig.emulator.SendPointCloudBurst(200));
    ASSERT_TRUE(rig.emulator.SendFrame(0x1009, std::vector<uint8_t>{0}));  // a marker behind the burst
    ASSERT_TRUE(log.WaitFor(L"Received message 4105, but no handler to interpret it."));
    held.unlock();
    ASSERT_TRUE(orbel::testing::Eventually([&] { return delivered == 16; }));
    rig.sensor.reset();
    rig.factory.reset();  // release the factory's share of the link
    EXPECT_EQ(log.Count(L"Received 201 point clouds in total."), 1u);
    EXPECT_EQ(log.Count(L"Reported 16 point clouds to the customer."), 1u);
}

TEST(SensorEndToEnd, UnansweredStatusRequestTimesOutAfterFiveSeconds) {
    Rig rig;
    rig.emulator.SetStatusAnswer(orbel::emulator::StatusAnswer::None);
    const auto start = std::chrono::steady_clock::now();
    try {
        rig.Build();
        FAIL() << "built without a status answer";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::COMMAND_TIMEOUT);
        EXPECT_STREQ(e.what(), "Exception: Unspecified error. Extra information: The command timed out. Did not "
                               "receive response.");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - start, 4900ms);
}

TEST(SensorEndToEnd, BuildOnARefusedPortFailsToConnect) {
    SensorFactory factory;
    try {
        factory.Build("127.0.0.1", orbel::testing::LoopbackPeer::UnusedPort());
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::CONNECTION_FAILED);
    }
}

TEST(SensorEndToEnd, WantingImagesWithoutACameraFailsTheBuild) {
    Rig rig;
    rig.factory->SetImageCallback([](std::unique_ptr<orbel::sdk::IImage>) {});
    rig.factory->SetCameraIPAddress("127.0.0.1");
    try {
        rig.Build();
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::CONNECTION_FAILED);
        EXPECT_NE(std::string(e.what()).find("Extra information: Failed to create camera: "), std::string::npos);
        // Nothing answers a discovery at that address.
        EXPECT_NE(std::string(e.what()).find("No cameras found"), std::string::npos) << e.what();
    }
}

TEST(SensorEndToEnd, TinyPointCloudBufferIsRefused) {
    SensorFactory factory;
    EXPECT_THROW(factory.SetPointCloudBufferSize(1), std::invalid_argument);
    EXPECT_NO_THROW(factory.SetPointCloudBufferSize(2));
}

}  // namespace
