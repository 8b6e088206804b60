// The sensor panel with the camera on, as a user drives it: the colorizer switched on in the
// panel with the demo's alignment colours the live frames from Aravis's fake camera, a start
// that failed before the camera keeps the camera for the next one, and every start that fails
// tells the user why in a toast that names the camera when it was the camera.
//
// Clocks: the colorizer matches clouds on their main time stamp; the emulator's is put 37 s
// back onto the fake camera's clock (see the emulator's README).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include <orbel/emulator/SensorEmulator.h>
#include <orbel/fakecamera/DemoAlignment.h>

#include "app/FrameData.h"
#include "app/SensorPanel.h"
#include "gui/app/AlwaysAnswers.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/FakeCamera.h"
#include "support/LoopbackPeer.h"
#include "support/Threads.h"

namespace {

using namespace std::chrono_literals;
using orbel::studio::FrameData;
using orbel::studio::SensorConfig;
using orbel::studio::gui::AppContext;
using orbel::studio::gui::SensorPanel;
using orbel::studio::gui::SensorPingMonitor;
using orbel::testing::AlwaysAnswers;
using orbel::testing::Eventually;

struct Frames : orbel::studio::IConsumer<FrameData> {
    std::mutex mutex;
    std::vector<std::shared_ptr<FrameData>> received;
    void Consume(std::shared_ptr<FrameData> frame) override {
        std::lock_guard lock(mutex);
        received.push_back(std::move(frame));
    }
    // Frames whose points all carry a colour, and how many colours they show between them.
    size_t Coloured(std::set<uint32_t>* colours = nullptr) {
        std::lock_guard lock(mutex);
        size_t n = 0;
        for (const auto& frame : received) {
            if (frame->rgb.empty() || frame->rgb.size() != frame->xyz.size()) continue;
            ++n;
            if (!colours) continue;
            for (size_t i = 0; i + 2 < frame->rgb.size(); i += 3) {
                colours->insert(uint32_t{frame->rgb[i]} << 16 | uint32_t{frame->rgb[i + 1]} << 8 | frame->rgb[i + 2]);
            }
        }
        return n;
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return received.size();
    }
};

orbel::emulator::EmulatorOptions OnTheCamerasClock() {
    orbel::emulator::EmulatorOptions options;
    options.pointType = orbel::emulator::PointType::Basic;  // no colours of its own
    options.timestampOffset_us = -37'000'000;
    return options;
}

class SensorPanelCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!camera.Ready()) {
            if (orbel::testing::FakeCamera::Required()) FAIL() << "no fake camera: " << camera.Reason();
            GTEST_SKIP() << "no fake camera: " << camera.Reason();
        }
        qext = std::filesystem::temp_directory_path() /
               ("orbel-panel-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".qext");
        WriteQext(orbel::fakecamera::DemoAlignmentQext());
        config->sensor_ip = "127.0.0.1";
        config->sensor_port = emulator.Port();
        config->camera_ip = "127.0.0.2";
        config->enable_camera = false;
        context->dispatcher->Subscribe<FrameData>(&frames);
        panel = std::make_unique<SensorPanel>(context, config, [](std::shared_ptr<SensorConfig> c,
                                                                  std::shared_ptr<AppContext> ctx) {
            return std::make_unique<SensorPingMonitor>(std::move(c), std::move(ctx), std::make_unique<AlwaysAnswers>(),
                                                       50ms);
        });
        // As the user sets it up: camera on at the camera's address, colorizer on, the QEXT typed in.
        panel->SetCameraSwitch(true);
        panel->EditCameraIp(camera.Address().c_str());
        panel->SetColorizerSwitch(true);
        panel->SetQextPath(qext.c_str());
    }
    void TearDown() override {
        panel.reset();
        context->dispatcher->Unsubscribe<FrameData>(&frames);
        std::error_code ignored;
        std::filesystem::remove(qext, ignored);
    }
    void WriteQext(const std::vector<uint8_t>& bytes) {
        std::error_code ignored;
        std::filesystem::remove(qext, ignored);
        std::ofstream(qext, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    // Plays the GUI thread's frames until the panel's tasks are collected.
    bool SettleTasks() {
        return Eventually(
            [&] {
                panel->Update();
                return !panel->TaskPending();
            },
            60s);
    }
    std::string Toast() {
        const auto toast = context->appState->PendingToast();
        return toast ? toast->text : "";
    }
    orbel::studio::gui::AppState& State() { return *context->appState; }

    orbel::testing::FakeCamera camera;
    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator{OnTheCamerasClock()};
    std::filesystem::path qext;
    std::shared_ptr<AppContext> context = std::make_shared<AppContext>();
    std::shared_ptr<SensorConfig> config = std::make_shared<SensorConfig>();
    Frames frames;
    std::unique_ptr<SensorPanel> panel;
};

TEST_F(SensorPanelCameraTest, ColorizerSwitchedOnInThePanelColoursTheFramesFromTheCamera) {
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    ASSERT_TRUE(State().streaming) << Toast();
    ASSERT_TRUE(State().cameraRunning) << Toast();
    EXPECT_TRUE(log.Contains("Colorizer initialized", spdlog::level::info));
    ASSERT_TRUE(Eventually([&] { return frames.Coloured() >= 5; }, 60s))
        << frames.Count() << " frames, " << frames.Coloured() << " coloured";
    // The camera's moving stripes: many colours, not the one of a constant or a black picture.
    std::set<uint32_t> colours;
    frames.Coloured(&colours);
    EXPECT_GE(colours.size(), 100u);
    EXPECT_EQ(log.Count("Large timestamp difference", spdlog::level::warn), 0u);

    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    EXPECT_EQ(log.Count("", spdlog::level::err), 0u);
}

// Camera on, the sensor port pointing at nothing: the start fails before the camera, the
// switches stay as they were, and once the port is mended the next start streams with the camera.
TEST_F(SensorPanelCameraTest, FailedStartKeepsTheCameraForTheNextStart) {
    panel->EditPort(orbel::testing::LoopbackPeer::UnusedPort());
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    EXPECT_FALSE(State().connected);
    EXPECT_EQ(Toast(), "Sensor is not available: Connection refused");
    EXPECT_TRUE(panel->CameraSwitch());
    EXPECT_TRUE(panel->ColorizerSwitch());
    EXPECT_TRUE(config->enable_camera);

    panel->EditPort(emulator.Port());
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    EXPECT_TRUE(State().streaming);
    EXPECT_TRUE(State().cameraRunning);
    EXPECT_TRUE(panel->CameraSwitch());
    EXPECT_TRUE(log.Contains("Camera started", spdlog::level::info));
    EXPECT_TRUE(Eventually([&] { return frames.Coloured() >= 1; }, 60s));
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
}

// A camera that stops answering while it streams: the streamer stops everything, as on any
// SDK error, and the log and the toast name the camera, not the sensor.
TEST_F(SensorPanelCameraTest, CameraThatStopsAnsweringIsNamedAsTheCamera) {
    panel->SetColorizerSwitch(false);
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    ASSERT_TRUE(State().cameraRunning) << Toast();
    ASSERT_TRUE(Eventually([&] { return log.Contains("Camera started", spdlog::level::info); }));
    camera.Kill();
    ASSERT_TRUE(Eventually([&] { return log.Count("Camera error: ", spdlog::level::err) > 0; }, 60s));
    ASSERT_TRUE(Eventually([&] { return Toast().rfind("Camera error: ", 0) == 0; }, 60s)) << Toast();
    EXPECT_EQ(log.Count("Sensor error: ", spdlog::level::err), 0u);
    EXPECT_EQ(Toast().find("acquisition error"), std::string::npos) << "a few words: " << Toast();
    ASSERT_TRUE(Eventually([&] { return !State().streaming && !State().connected && !State().cameraRunning; }));
}

// The sensor answers and no camera does: the log keeps the SDK's own text, and the program's
// own words name the camera alone.
TEST_F(SensorPanelCameraTest, NoCameraAtTheCameraAddressIsTheCamerasFailureAlone) {
    panel->EditCameraIp("127.0.0.3");
    panel->ClickStartStop();
    ASSERT_TRUE(SettleTasks());
    EXPECT_FALSE(State().connected);
    EXPECT_EQ(Toast(), "Camera is not available: No cameras found");
    const std::string sdkText = "Failed to connect to camera. (Exception: Failed to connect to the sensor";
    EXPECT_EQ(log.Count(sdkText, spdlog::level::err), 1u);
    EXPECT_EQ(log.Count("No cameras found", spdlog::level::err), 1u);
    for (const auto& record : log.Records()) {
        if (record.level < spdlog::level::warn || record.text.rfind(sdkText, 0) == 0) continue;
        EXPECT_EQ(record.text.find("ensor"), std::string::npos) << record.text;
    }
}

TEST_F(SensorPanelCameraTest, EveryFailedStartTellsWhyAndNamesTheCamera) {
    struct Case {
        const char* name;
        std::function<void()> setUp;
        std::string toast;  // how the toast begins
    };
    std::vector<uint8_t> tenBytes = orbel::fakecamera::DemoAlignmentQext();
    tenBytes.resize(10);
    const std::string path = qext.string();
    const Case cases[] = {
        {"port with nothing behind it",
         [&] { panel->EditPort(orbel::testing::LoopbackPeer::UnusedPort()); },
         "Sensor is not available: Connection refused"},
        {"sensor start unanswered",
         [&] { emulator.SetCommandAnswer(orbel::emulator::ids::kStart, orbel::emulator::CommandAnswer::None); },
         "Sensor did not start: The command timed out"},
        {"QEXT of 10 bytes", [&] { WriteQext(tenBytes); }, "Colorizer not started: QEXT file " + path + " holds 10 bytes"},
        {"QEXT path naming a FIFO",
         [&] {
             std::error_code ignored;
             std::filesystem::remove(qext, ignored);
             ASSERT_EQ(::mkfifo(qext.c_str(), 0600), 0);
         },
         "Colorizer not started: Not a regular file (a FIFO): " + path},
        {"no camera at the camera address", [&] { panel->EditCameraIp("127.0.0.3"); },
         "Camera is not available: No cameras found"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.setUp();
        panel->ClickStartStop();
        if (!SettleTasks()) {
            ::close(::open(qext.c_str(), O_WRONLY | O_NONBLOCK));  // lets an open waiting on the FIFO go
            ADD_FAILURE() << "the start did not end";
            ASSERT_TRUE(SettleTasks());
        }
        EXPECT_FALSE(State().streaming);
        EXPECT_FALSE(State().busy);
        EXPECT_EQ(Toast().rfind(c.toast, 0), 0u) << Toast();
        EXPECT_EQ(context->appState->PendingToast()->level, 3);
        EXPECT_TRUE(panel->CameraSwitch()) << "the switches stay as the user set them";
        EXPECT_TRUE(panel->ColorizerSwitch());
        if (panel->HasStreamer()) {
            ASSERT_TRUE(panel->DisconnectEnabled());
            panel->ClickDisconnect();
        }
        // Mended for the next case.
        panel->EditPort(emulator.Port());
        panel->EditCameraIp(camera.Address().c_str());
        emulator.SetCommandAnswer(orbel::emulator::ids::kStart, orbel::emulator::CommandAnswer::Normal);
        WriteQext(orbel::fakecamera::DemoAlignmentQext());
    }
    EXPECT_EQ(log.Count("Sensor is not available", spdlog::level::err), 0u) << "a camera fault named the sensor's";
}

}  // namespace
