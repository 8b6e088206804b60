// The main layout drawn for real at 1920 x 1080 with every panel of the program: the regions'
// sizes, collapsed columns, the camera split and a published camera image drawn in its
// region. The views draw through OpenGL, so these run with a context.
#include <gtest/gtest.h>

#include <imgui_internal.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <string>

#include "app/MainLayout.h"
#include "app/OrbelStudioController.h"
#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "support/GlTestContext.h"
#include "support/HeadlessImGui.h"
#include "support/Threads.h"

namespace {

using orbel::studio::gui::MainLayout;

// Child windows are named "<parent>/<name>_<id>"; this finds the drawn one by its own name.
ImGuiWindow* FindRegion(const std::string& name) {
    for (ImGuiWindow* window : GImGui->Windows) {
        const std::string full = window->Name;
        const auto slash = full.rfind('/');
        if (slash != std::string::npos && full.compare(slash + 1, name.size() + 1, name + "_") == 0 &&
            window->Active) {
            return window;
        }
    }
    return nullptr;
}

class LayoutDrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!gl.Ready()) {
            if (orbel::testing::GlTestContext::DisplayRequired()) FAIL() << gl.Reason();
            GTEST_SKIP() << gl.Reason();
        }
    }
    LayoutDrawTest() {
        settings = std::filesystem::temp_directory_path() / ("orbel-layout-" + std::to_string(::getpid()) + ".bin");
        controller = std::make_unique<orbel::studio::gui::OrbelStudioController>(settings);
        layout.toastIcons = [](int) { return 0u; };
    }
    ~LayoutDrawTest() override {
        if (gl.Ready()) controller->ReleaseGraphics();
        controller.reset();
        std::filesystem::remove(settings);
    }
    void DrawLayout() {
        layout.Draw(*controller->Context()->appState, controller->Panels(), controller->Plugins(), 1.0f / 60.0f);
    }
    void DrawFrame() { gui.BareFrame([&] { DrawLayout(); }); }

    orbel::testing::GlTestContext gl{320, 240};
    orbel::testing::ProgramLogCapture log;
    std::filesystem::path settings;
    std::unique_ptr<orbel::studio::gui::OrbelStudioController> controller;
    orbel::testing::HeadlessImGui gui{ImVec2(1920.0f, 1080.0f)};
    MainLayout layout;
};

TEST_F(LayoutDrawTest, RegionsTakeTheirSizesAndCollapsedColumnsGiveTheCentreTheirRoom) {
    DrawFrame();
    DrawFrame();
    struct Expected {
        const char* name;
        float width;
        float height;
    };
    // Root padding 8: 1904 x 1064 inside; the centre's border and padding take 16 of its room.
    for (const Expected& e : {Expected{"LeftColumn", 350.0f, 1064.0f}, Expected{"SensorPanel", 350.0f, 310.0f},
                              Expected{"SessionPanel", 350.0f, 250.0f}, Expected{"ProcessingPanel", 350.0f, 440.0f},
                              Expected{"ProgressPanel", 350.0f, 35.0f}, Expected{"Center", 1156.0f, 1064.0f},
                              Expected{"RightColumn", 350.0f, 1064.0f}, Expected{"RightBottom", 350.0f, 200.0f},
                              Expected{"RightTop", 350.0f, 1064.0f - 206.0f},
                              Expected{"Center2D", 1140.0f, 224.0f},
                              Expected{"Center3D", 1140.0f, 1048.0f - 224.0f - 6.0f - 4.0f}}) {
        const ImGuiWindow* region = FindRegion(e.name);
        ASSERT_NE(region, nullptr) << e.name;
        EXPECT_FLOAT_EQ(region->Size.x, e.width) << e.name;
        EXPECT_FLOAT_EQ(region->Size.y, e.height) << e.name;
    }
    EXPECT_EQ(FindRegion("CameraContent"), nullptr) << "no camera view until an image arrives";

    layout.leftCollapsed = true;
    layout.rightCollapsed = true;
    DrawFrame();
    DrawFrame();
    EXPECT_EQ(FindRegion("LeftColumn"), nullptr);
    EXPECT_EQ(FindRegion("RightColumn"), nullptr);
    ASSERT_NE(FindRegion("Center"), nullptr);
    EXPECT_FLOAT_EQ(FindRegion("Center")->Size.x, 1904.0f - 48.0f);
}

TEST_F(LayoutDrawTest, SeparatorClickCollapsesItsColumn) {
    DrawFrame();
    const ImGuiWindow* left = FindRegion("LeftColumn");
    ASSERT_NE(left, nullptr);
    // The separator lies one item spacing right of the column.
    const ImVec2 separator(left->Pos.x + left->Size.x + 8.0f + 4.0f, 500.0f);
    gui.Click(separator, [&] { DrawLayout(); }, true);
    EXPECT_TRUE(layout.leftCollapsed);
    EXPECT_FALSE(layout.rightCollapsed);
}

TEST_F(LayoutDrawTest, CameraViewTakesItsShareOfTheCentre) {
    auto& config = *controller->Context()->appState->viewerConfig;
    config.show_camera = true;
    config.camera_above = true;
    DrawFrame();
    DrawFrame();
    const ImGuiWindow* view3D = FindRegion("Center3D");
    const ImGuiWindow* camera = FindRegion("CameraContent");
    ASSERT_NE(view3D, nullptr);
    ASSERT_NE(camera, nullptr);
    // ImGui sizes regions in whole pixels.
    EXPECT_FLOAT_EQ(view3D->Size.x, std::floor((1140.0f - 6.0f) * 0.6f));
    EXPECT_FLOAT_EQ(camera->Size.x, std::floor((1140.0f - 6.0f) * 0.4f));
    EXPECT_FLOAT_EQ(camera->Size.y, view3D->Size.y) << "beside the 3D view";

    config.camera_above = false;  // camera below, beside the 2D view
    config.show_camera = true;
    DrawFrame();
    DrawFrame();
    const ImGuiWindow* view2D = FindRegion("Center2D");
    ASSERT_NE(view2D, nullptr);
    EXPECT_FLOAT_EQ(FindRegion("Center3D")->Size.x, 1140.0f);
    EXPECT_FLOAT_EQ(view2D->Size.x, std::floor((1140.0f - 6.0f) * 0.6f));
    EXPECT_FLOAT_EQ(FindRegion("CameraContent")->Size.y, 224.0f);
}

TEST_F(LayoutDrawTest, ACameraViewBelowKeepsTheRowTheHidden2DViewLeft) {
    auto& config = *controller->Context()->appState->viewerConfig;
    config.show_camera = true;
    config.camera_above = false;
    config.show_2d_view = false;
    DrawFrame();
    DrawFrame();
    const ImGuiWindow* view3D = FindRegion("Center3D");
    const ImGuiWindow* camera = FindRegion("CameraContent");
    ASSERT_NE(view3D, nullptr);
    ASSERT_NE(camera, nullptr) << "the camera view has no region";
    EXPECT_EQ(FindRegion("Center2D"), nullptr);
    EXPECT_FLOAT_EQ(camera->Size.x, 1140.0f) << "the whole row";
    EXPECT_FLOAT_EQ(camera->Size.y, 224.0f);
    // The centre's 1048 pixels of height: the 3D view, the splitter and the row, nothing over.
    EXPECT_FLOAT_EQ(view3D->Size.y + 6.0f + camera->Size.y, 1048.0f - 4.0f);
}

// A recording ends with its stream whatever the left column shows: here the column is
// collapsed, so the "Recorder" tab is not drawn at all.
TEST_F(LayoutDrawTest, ARecordingStopsWithItsStreamWhileTheRecorderIsNotShown) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("orbel-layout-rec-" + std::to_string(::getpid()));
    auto& state = *controller->Context()->appState;
    auto& recorder = controller->Panels().recorderPanel;
    state.streaming = true;
    recorder.SetOutputFolder(folder.string());
    layout.leftCollapsed = true;
    DrawFrame();
    recorder.PressRecordButton();
    ASSERT_TRUE(recorder.IsRecording());
    state.streaming = false;
    DrawFrame();
    EXPECT_FALSE(recorder.HasRecorder()) << "the recording outlived its stream";
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_TRUE(log.Contains("Recording stopped", spdlog::level::info));
    std::filesystem::remove_all(folder);
}

TEST_F(LayoutDrawTest, APublishedImageOpensTheCameraViewAndShowsThere) {
    auto image = std::make_shared<orbel::studio::CameraData>();
    image->width = 8;
    image->height = 4;
    image->pixels.assign(8 * 4 * 3, 200);
    image->byteSize = image->pixels.size();
    controller->Context()->dispatcher->Publish(image);
    controller->Update(16.0);
    DrawFrame();
    const unsigned texture = controller->Panels().cameraPanel.Texture();
    ASSERT_NE(texture, 0u);
    const ImGuiWindow* camera = FindRegion("CameraContent");
    ASSERT_NE(camera, nullptr);
    int drawn = 0;
    for (const ImDrawCmd& cmd : camera->DrawList->CmdBuffer) {
        drawn += cmd.TextureId == reinterpret_cast<ImTextureID>(static_cast<intptr_t>(texture)) ? 1 : 0;
    }
    EXPECT_EQ(drawn, 1);
}

// "Recorder" is the tab shown: a session loaded in the lidar replay still reaches the camera
// replay, whose tab is not drawn, and its first image the camera panel.
TEST_F(LayoutDrawTest, TheCameraReplayLoadsItsSessionWhileItsTabIsHidden) {
    const std::filesystem::path images =
        std::filesystem::temp_directory_path() / ("orbel-layout-rgb-" + std::to_string(::getpid()));
    std::filesystem::create_directories(images);
    orbel::testing::RgbImage(3, 1000, 8, 4)->SaveAsJpeg(images / "image_00000003_00000000000000001000.jpg", 90, false);
    DrawFrame();
    controller->Context()->dispatcher->Publish(std::make_shared<orbel::studio::AppAction>(
        orbel::studio::AppActionType::SessionLoaded, &controller->Panels().lidarReplayPanel, images.string()));
    DrawFrame();
    const auto* player = controller->Panels().cameraReplayPanel.Player();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->FileCount(), 1);
    EXPECT_TRUE(orbel::testing::Eventually([&] { return controller->Panels().cameraPanel.QueuedImages() > 0; }));
    std::filesystem::remove_all(images);
}

}  // namespace
