// The first automatic colour fit with the camera on, through the program's own panels:
// the controller and its layout drawn headless, the sensor panel pointed at the emulator
// and Aravis's fake camera, "Start streaming" clicked. The viewer fits its 3D range to the
// first frame it gets; that frame must be a whole one, so the range spans the emulator's
// room from floor to ceiling, as "Fit scale" on any later frame does. (The camera starts
// after the sensor, and lines sent meanwhile are never taken in: the first frame used to be
// the tail of one, a strip of floor, in most starts.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

#include <orbel/emulator/SensorEmulator.h>

#include "app/MainLayout.h"
#include "app/OrbelStudioController.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/FakeCamera.h"
#include "support/GlTestContext.h"
#include "support/HeadlessImGui.h"
#include "support/Threads.h"

namespace {

using orbel::studio::FrameData;
using orbel::studio::gui::MainLayout;
using orbel::studio::gui::OrbelStudioController;

// The first frame published, as the viewer panel receives it.
struct FirstFrame : orbel::studio::IConsumer<FrameData> {
    std::mutex mutex;
    std::shared_ptr<FrameData> frame;
    void Consume(std::shared_ptr<FrameData> published) override {
        std::lock_guard lock(mutex);
        if (!frame) frame = std::move(published);
    }
    size_t Lines() {
        std::lock_guard lock(mutex);
        return frame && frame->width > 0 ? frame->xyz.size() / 3 / frame->width : 0;
    }
};

TEST(FirstFitWithCamera, TheFirstFitSpansTheWholeRoom) {
    orbel::testing::GlTestContext gl{320, 240};
    if (!gl.Ready()) {
        if (orbel::testing::GlTestContext::DisplayRequired()) FAIL() << gl.Reason();
        GTEST_SKIP() << gl.Reason();
    }
    ORBEL_FAKE_CAMERA_OR_SKIP(camera);
    camera.Configure("Width=320 Height=240 AcquisitionFrameRate=25");
    orbel::testing::ProgramLogCapture log;
    orbel::emulator::SensorEmulator emulator;
    const std::filesystem::path settings =
        std::filesystem::temp_directory_path() / ("orbel-first-fit-" + std::to_string(::getpid()) + ".bin");

    // The camera's start ends at a different line of a frame each time; two fresh starts
    // leave little chance that both end on a frame's boundary.
    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE("start " + std::to_string(start + 1));
        std::filesystem::remove(settings);
        orbel::testing::HeadlessImGui gui{ImVec2(1920.0f, 1080.0f)};
        auto controller = std::make_unique<OrbelStudioController>(settings);
        MainLayout layout;
        layout.toastIcons = [](int) { return 0u; };
        const auto draw = [&] {
            controller->Update(16.0);
            gui.BareFrame([&] {
                layout.Draw(*controller->Context()->appState, controller->Panels(), controller->Plugins(),
                            1.0f / 60.0f);
            });
        };
        FirstFrame first;
        controller->Context()->dispatcher->Subscribe<FrameData>(&first);

        auto& sensorPanel = controller->Panels().sensorPanel;
        sensorPanel.EditSensorIp("127.0.0.1");
        sensorPanel.EditPort(emulator.Port());
        sensorPanel.EditCameraIp(camera.Address().c_str());
        sensorPanel.SetCameraSwitch(true);
        sensorPanel.SetColorizerSwitch(false);
        draw();
        sensorPanel.ClickStartStop();  // "Start streaming"

        auto& appState = *controller->Context()->appState;
        const auto& viewer = controller->Panels().viewerConfig;
        ASSERT_TRUE(orbel::testing::Eventually(
            [&] {
                draw();
                return appState.cameraRunning.load() && viewer.CurrentFrame() != nullptr && !viewer.FitRunning3D();
            },
            std::chrono::seconds(60)))
            << "no fitted frame with the camera running";

        EXPECT_EQ(first.Lines(), 56u) << "the first frame is a part of one";
        const auto& config = *appState.viewerConfig;
        EXPECT_EQ(config.view3d_min_scalar_value.load(), -1500.0f) << "the floor";
        EXPECT_EQ(config.view3d_max_scalar_value.load(), 2500.0f) << "the ceiling";

        sensorPanel.ClickStartStop();  // "Stop streaming"
        ASSERT_TRUE(orbel::testing::Eventually(
            [&] {
                draw();
                return !appState.streaming.load() && !sensorPanel.TaskPending();
            },
            std::chrono::seconds(60)));
        controller->Context()->dispatcher->Unsubscribe<FrameData>(&first);
        controller->ReleaseGraphics();
        controller.reset();
    }
    std::filesystem::remove(settings);
}

}  // namespace
