// The main layout: its geometry drawn for real at 1920 x 1080 (regions and collapsed columns),
// the splitters' clamps, and the timing of the progress bar and the toasts.
#include <gtest/gtest.h>

#include <imgui_internal.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "app/MainLayout.h"
#include "app/OrbelStudioController.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/HeadlessImGui.h"

namespace {

using orbel::studio::gui::AppState;
using orbel::studio::gui::MainLayout;

TEST(LayoutGeometryTest, ColumnsAndCentreShareTheWidth) {
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, false, false), 1904.0f - 350.0f - 350.0f - 48.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, true, true), 1904.0f - 48.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::CentreWidth(1904.0f, true, false), 1904.0f - 350.0f - 48.0f);

    EXPECT_FLOAT_EQ(orbel::studio::gui::ProcessingPanelHeight(1064.0f), 440.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ProcessingPanelHeight(700.0f), 300.0f) << "never below 300";
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(1064.0f, 440.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(700.0f, 300.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::LeftColumnSpacer(1264.0f, 300.0f), 340.0f);
}

TEST(LayoutGeometryTest, CentreSplitsBetweenTheViews) {
    const auto both = orbel::studio::gui::ComputeCentre(true, true, 4.0f, 0.6f, 1006.0f, 1000.0f);
    EXPECT_FLOAT_EQ(both.view2DHeight, 224.0f);
    EXPECT_FLOAT_EQ(both.view3DHeight, 1000.0f - 224.0f - 6.0f - 4.0f);
    EXPECT_FLOAT_EQ(both.view3DWidth, 600.0f);
    EXPECT_FLOAT_EQ(both.cameraWidth, 400.0f);

    const auto alone = orbel::studio::gui::ComputeCentre(false, false, 4.0f, 0.6f, 1006.0f, 1000.0f);
    EXPECT_FLOAT_EQ(alone.view2DHeight, 0.0f);
    EXPECT_FLOAT_EQ(alone.view3DHeight, 996.0f);
    EXPECT_FLOAT_EQ(alone.view3DWidth, 1006.0f);
    EXPECT_FLOAT_EQ(alone.cameraWidth, 0.0f);
}

TEST(LayoutGeometryTest, SplitterDragsAreClamped) {
    struct Case {
        float start;
        float delta;
        float expected;
    };
    // Dragging down by 100 pixels lowers the scale factor by 1, within [1, 10].
    for (const Case& c : {Case{4.0f, 100.0f, 3.0f}, Case{4.0f, -250.0f, 6.5f}, Case{1.5f, 100.0f, 1.0f},
                          Case{9.5f, -100.0f, 10.0f}}) {
        EXPECT_FLOAT_EQ(orbel::studio::gui::DragScaleFactor(c.start, c.delta), c.expected) << c.start << " " << c.delta;
    }
    // Dragging right by a tenth of the width raises the ratio by 0.1, within [0.2, 0.8].
    for (const Case& c : {Case{0.6f, 100.0f, 0.7f}, Case{0.6f, -100.0f, 0.5f}, Case{0.75f, 100.0f, 0.8f},
                          Case{0.25f, -100.0f, 0.2f}}) {
        EXPECT_NEAR(orbel::studio::gui::DragSplitRatio(c.start, c.delta, 1000.0f), c.expected, 1e-6f)
            << c.start << " " << c.delta;
    }
    EXPECT_FLOAT_EQ(orbel::studio::gui::DragSplitRatio(0.6f, 50.0f, 0.0f), 0.6f) << "no width, no change";
}

TEST(ToastTimingTest, FadesInAndOutAndASecondReplacesTheFirst) {
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(0.0f, 5.0f), 0.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(0.15f, 5.0f), 0.5f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(2.0f, 5.0f), 1.0f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(4.75f, 5.0f), 0.5f);
    EXPECT_FLOAT_EQ(orbel::studio::gui::ToastOpacity(5.2f, 5.0f), 0.0f);

    AppState state;
    state.SetToast("Sensor started", 1);
    ASSERT_TRUE(state.AdvanceToast(3.0f));
    state.SetToast("Sensor stopped", 0);
    auto second = state.AdvanceToast(0.1f);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->text, "Sensor stopped");
    EXPECT_LT(orbel::studio::gui::ToastOpacity(second->elapsed, second->duration), 1.0f) << "its own fade-in";
    EXPECT_TRUE(state.AdvanceToast(4.8f)) << "and its full 5 s";
    EXPECT_FALSE(state.AdvanceToast(0.2f));
}

TEST(ProgressTimingTest, ShowsWhileATaskRunsAndHidesThreeSecondsAfter) {
    AppState state;
    bool before = false;
    const float dt = 0.125f;  // exact in binary: 24 steps make 3 s
    orbel::studio::gui::AdvanceProgressDisplay(state, true, before, dt);
    EXPECT_TRUE(state.progressVisible);
    EXPECT_FLOAT_EQ(state.progressOpacity, 0.1875f) << "fading in at 1.5 per second";
    for (int i = 0; i < 10; ++i) orbel::studio::gui::AdvanceProgressDisplay(state, true, before, dt);
    EXPECT_FLOAT_EQ(state.progressOpacity, 1.0f);
    EXPECT_FALSE(state.progressComplete);

    int hiddenAfter = 0;
    for (int i = 1; i <= 40 && state.progressVisible; ++i) {
        if (orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt).hideNow) hiddenAfter = i;
    }
    EXPECT_EQ(hiddenAfter, 24) << "hidden 3 s after the task ended";
    EXPECT_TRUE(state.progressComplete);
    orbel::studio::gui::AdvanceProgressDisplay(state, false, before, 0.5f);
    EXPECT_FLOAT_EQ(state.progressOpacity, 0.25f) << "fading out at 1.5 per second";

    // A progress update without a task shows the bar for a full 3 s again.
    state.progressVisible = true;
    for (int i = 0; i < 23; ++i) orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt);
    EXPECT_TRUE(state.progressVisible);
    EXPECT_TRUE(orbel::studio::gui::AdvanceProgressDisplay(state, false, before, dt).hideNow);
}

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
    LayoutDrawTest() {
        settings = std::filesystem::temp_directory_path() / ("orbel-layout-" + std::to_string(::getpid()) + ".bin");
        controller = std::make_unique<orbel::studio::gui::OrbelStudioController>(settings);
        layout.toastIcons = [](int) { return 0u; };
    }
    ~LayoutDrawTest() override {
        controller.reset();
        std::filesystem::remove(settings);
    }
    void DrawLayout() {
        layout.Draw(*controller->Context()->appState, controller->Panels(), controller->Plugins(), 1.0f / 60.0f);
    }
    void DrawFrame() { gui.BareFrame([&] { DrawLayout(); }); }

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

}  // namespace
