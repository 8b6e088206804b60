// The sensor streamer with the camera on: against the sensor emulator and the
// fake camera, it starts the camera beside the sensor, announces it and
// publishes each image as CameraData next to the assembled frames; a camera
// lost while streaming is told once and ends the stream.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include <orbel/emulator/SensorEmulator.h>

#include "app/AppAction.h"
#include "app/FrameData.h"
#include "app/SensorStreamer.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/FakeCamera.h"
#include "support/Threads.h"

namespace {

using orbel::studio::AppAction;
using orbel::studio::AppActionType;
using orbel::studio::CameraData;
using orbel::studio::FrameData;
using orbel::testing::Eventually;
using namespace std::chrono_literals;

struct Published : orbel::studio::IConsumer<CameraData>,
                   orbel::studio::IConsumer<FrameData>,
                   orbel::studio::IConsumer<AppAction> {
    std::mutex mutex;
    std::vector<std::shared_ptr<CameraData>> images;
    size_t frames = 0;
    std::vector<bool> cameraAvailable;

    void Consume(std::shared_ptr<CameraData> image) override {
        std::lock_guard lock(mutex);
        images.push_back(std::move(image));
    }
    void Consume(std::shared_ptr<FrameData>) override {
        std::lock_guard lock(mutex);
        ++frames;
    }
    void Consume(std::shared_ptr<AppAction> action) override {
        if (!action->Is(AppActionType::CameraAvailable)) return;
        std::lock_guard lock(mutex);
        cameraAvailable.push_back(std::get<bool>(action->payload));
    }
};

// What a streamer is made of: its state, settings naming the emulator and the camera at
// `cameraIp`, and a dispatcher.
struct StreamerInputs {
    StreamerInputs(orbel::emulator::SensorEmulator& emulator, const std::string& cameraIp) {
        config->sensor_ip = "127.0.0.1";
        config->sensor_port = emulator.Port();
        config->camera_ip = cameraIp;
    }
    std::shared_ptr<orbel::studio::gui::AppState> appState = std::make_shared<orbel::studio::gui::AppState>();
    std::shared_ptr<orbel::studio::SensorConfig> config = std::make_shared<orbel::studio::SensorConfig>();
    std::shared_ptr<orbel::studio::ObjectDispatcher> dispatcher = std::make_shared<orbel::studio::ObjectDispatcher>();
};

TEST(StreamerWithCamera, PublishesCameraDataBesideTheFrames) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    fake.Configure("Width=320 Height=240 AcquisitionFrameRate=25");
    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    StreamerInputs inputs(emulator, fake.Address());
    auto& [appState, config, dispatcher] = inputs;
    config->enable_camera = true;
    Published published;
    dispatcher->Subscribe<CameraData>(&published);
    dispatcher->Subscribe<FrameData>(&published);
    dispatcher->Subscribe<AppAction>(&published);
    {
        orbel::studio::gui::SensorStreamer streamer(appState, config, dispatcher);
        streamer.cameraEnabled = true;
        streamer.Start();
        EXPECT_TRUE(appState->streaming);
        EXPECT_TRUE(appState->cameraRunning);
        EXPECT_TRUE(log.Contains("Camera started", spdlog::level::info));
        EXPECT_TRUE(Eventually([&] {
            std::lock_guard lock(published.mutex);
            return published.images.size() >= 5 && published.frames >= 2;
        }));
        streamer.Stop();
        EXPECT_TRUE(log.Contains("Camera stopped", spdlog::level::info));
        EXPECT_EQ(log.Count("", spdlog::level::err), 0u);
    }
    dispatcher->Unsubscribe<CameraData>(&published);
    dispatcher->Unsubscribe<FrameData>(&published);
    dispatcher->Unsubscribe<AppAction>(&published);

    std::lock_guard lock(published.mutex);
    EXPECT_EQ(published.cameraAvailable, std::vector<bool>{true});
    for (size_t i = 0; i < published.images.size(); ++i) {
        const auto& image = published.images[i];
        EXPECT_EQ(image->width, 320u);
        EXPECT_EQ(image->height, 240u);
        EXPECT_EQ(image->channels, 3u);
        EXPECT_EQ(image->bitsPerChannel, 8u);
        EXPECT_EQ(image->pixels.size(), 320u * 240 * 3);
        if (i > 0) {
            const uint32_t step = orbel::testing::FakeCamera::FramesBetween(published.images[i - 1]->imageFrameNumber,
                                                                           image->imageFrameNumber);
            EXPECT_TRUE(step >= 1 && step < 10) << step;
        }
    }
}

// A camera frozen past its heartbeat time-out has given up its controller and fails every
// request from then on. The stream ends on its first report; the sensor is slow to stop (its
// stop goes unanswered until the command's time-out), so the camera's fault lasts seconds
// longer than the report, and is still told once.
TEST(StreamerWithCamera, ALostCameraIsToldOnceAndEndsTheStream) {
    ORBEL_FAKE_CAMERA_OR_SKIP(fake);
    fake.Configure("Width=64 Height=48 AcquisitionFrameRate=25");
    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    StreamerInputs inputs(emulator, fake.Address());
    auto& [appState, config, dispatcher] = inputs;
    Published published;
    dispatcher->Subscribe<CameraData>(&published);
    {
        orbel::studio::gui::SensorStreamer streamer(appState, config, dispatcher);
        streamer.cameraEnabled = true;
        streamer.Start();
        ASSERT_TRUE(appState->cameraRunning);
        ASSERT_TRUE(Eventually([&] {
            std::lock_guard lock(published.mutex);
            return !published.images.empty();
        }));
        emulator.SetCommandAnswer(orbel::emulator::ids::kStop, orbel::emulator::CommandAnswer::None);
        fake.Pause();
        std::this_thread::sleep_for(std::chrono::seconds(4));
        fake.Resume();
        ASSERT_TRUE(Eventually([&] { return log.Count("Camera error: ", spdlog::level::err) > 0; }, 30s));
        ASSERT_TRUE(Eventually([&] { return !appState->streaming && !appState->connected && !streamer.HasSensor(); },
                               30s));
        streamer.WaitForPendingRelease();
        EXPECT_EQ(log.Count("Camera error: ", spdlog::level::err), 1u);
        EXPECT_EQ(log.Count("stopped answering (control lost)", spdlog::level::err), 1u);
        EXPECT_FALSE(appState->cameraRunning);
    }
    dispatcher->Unsubscribe<CameraData>(&published);
}

// A sensor that answers and no camera at the camera address: the connection fails as the
// camera's, in its notice and in the program's own log lines.
TEST(StreamerWithCamera, NoCameraAtTheCameraAddressFailsTheConnectionAsTheCamera) {
    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    StreamerInputs inputs(emulator, "127.0.0.3");
    auto& [appState, config, dispatcher] = inputs;
    orbel::studio::gui::SensorStreamer streamer(appState, config, dispatcher);
    streamer.cameraEnabled = true;
    streamer.Connect();
    EXPECT_FALSE(streamer.HasSensor());
    EXPECT_FALSE(appState->connected);
    ASSERT_TRUE(appState->PendingToast());
    EXPECT_EQ(appState->PendingToast()->text, "Camera connection failed");
    EXPECT_EQ(log.Count("Failed to connect to camera. (", spdlog::level::err), 1u);
    EXPECT_EQ(log.Count("Sensor creation failed", spdlog::level::err), 0u);
}

}  // namespace
