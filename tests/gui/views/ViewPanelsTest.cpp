// The views' intake and decisions without a window: queue caps and the oldest-dropped
// rule, one action per GUI frame, which frame each view takes, clearing, frames that are not
// scan lines (replayed after a session), exports without a picture, the logo that cannot be
// decoded, and the background range fits.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "gui/app/ProgramLogCapture.h"
#include "gui/sessions/SessionFixtures.h"
#include "sessions/PlyFile.h"
#include "sessions/ReplayPanel.h"
#include "support/Threads.h"
#include "views/Lidar2DViewPanel.h"
#include "views/RangeFit.h"
#include "views/View3DPanel.h"

namespace orbel::studio::gui {
namespace {

std::shared_ptr<FrameData> Frame(int number, int width = 4) {
    auto frame = std::make_shared<FrameData>();
    frame->frameNumber = number;
    frame->width = static_cast<uint32_t>(width);
    frame->height = 56;
    frame->signal.assign(static_cast<std::size_t>(56 * width), static_cast<float>(number));
    frame->ambient = frame->signal;
    for (int i = 0; i < 56 * width; ++i) {
        frame->xyz.insert(frame->xyz.end(), {1000.0f * static_cast<float>(number), static_cast<float>(i), 0.0f});
    }
    return frame;
}

std::shared_ptr<AppAction> Action(AppActionType type) { return std::make_shared<AppAction>(type, nullptr); }

TEST(View3DPanelTest, KeepsTwentyFramesAndFiveActionsDroppingTheOldest) {
    View3DPanel panel;
    for (int i = 1; i <= 21; ++i) {
        panel.Consume(Frame(i));
    }
    EXPECT_EQ(panel.QueuedFrames(), 20u);
    for (int i = 0; i < 6; ++i) {
        panel.Consume(Action(AppActionType::ResetView3DCamera));
    }
    EXPECT_EQ(panel.QueuedActions(), 5u);

    // One action per GUI frame; of the frames only the newest is taken.
    auto app = std::make_shared<AppState>();
    panel.UpdateScene(app);
    EXPECT_EQ(panel.QueuedActions(), 4u);
    EXPECT_EQ(panel.QueuedFrames(), 0u);
    ASSERT_NE(panel.CurrentFrame(), nullptr);
    EXPECT_EQ(panel.CurrentFrame()->frameNumber, 21);
    EXPECT_EQ(panel.PickPositions().size(), 56u * 4u * 3u);
    EXPECT_FLOAT_EQ(panel.PickPositions()[0], 21.0f);
    EXPECT_TRUE(panel.Renderer().HasObject("lidar"));
    EXPECT_TRUE(panel.Renderer().HasObject("axis_x"));
    EXPECT_TRUE(panel.Renderer().HasObject("circle_r100000"));
    panel.UpdateScene(app);
    EXPECT_EQ(panel.QueuedActions(), 3u);
}

TEST(View3DPanelTest, ClearViewsDropsFrameSceneAndQueuedFrames) {
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(Frame(1));
    panel.UpdateScene(app);
    panel.Consume(Frame(2));
    panel.Consume(Action(AppActionType::ClearViews));
    panel.UpdateScene(app);
    EXPECT_EQ(panel.CurrentFrame(), nullptr);
    EXPECT_FALSE(panel.Renderer().HasObject("lidar"));
    EXPECT_TRUE(panel.PickPositions().empty());
    EXPECT_EQ(panel.QueuedFrames(), 0u);
    EXPECT_TRUE(panel.Renderer().HasObject("axis_z"));  // put back by the same update

    // Switched off in the settings, grid and axes leave the scene.
    app->viewerConfig->show_grid = false;
    app->viewerConfig->show_origin = false;
    panel.UpdateScene(app);
    EXPECT_FALSE(panel.Renderer().HasObject("axis_z"));
    EXPECT_FALSE(panel.Renderer().HasObject("circle_r5000"));
}

// A replay publishes ClearViews and then its first frame: the clear drops only what was made
// before it, however late the view acts on it.
TEST(View3DPanelTest, AClearKeepsTheFramesMadeAfterIt) {
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(Frame(1));
    panel.UpdateScene(app);
    const auto before = Frame(2);
    panel.Consume(before);
    panel.Consume(Action(AppActionType::ClearViews));
    panel.Consume(Frame(3));
    panel.UpdateScene(app);
    ASSERT_NE(panel.CurrentFrame(), nullptr);
    EXPECT_EQ(panel.CurrentFrame()->frameNumber, 3);
    EXPECT_TRUE(panel.Renderer().HasObject("lidar"));

    // An action ahead of the clear: the later frame is shown first and stays shown.
    panel.Consume(Action(AppActionType::ResetView3DCamera));
    panel.Consume(Action(AppActionType::ClearViews));
    panel.Consume(Frame(4));
    panel.UpdateScene(app);
    EXPECT_EQ(panel.CurrentFrame()->frameNumber, 4);
    panel.UpdateScene(app);
    ASSERT_NE(panel.CurrentFrame(), nullptr);
    EXPECT_EQ(panel.CurrentFrame()->frameNumber, 4);
    EXPECT_TRUE(panel.Renderer().HasObject("lidar"));
    EXPECT_EQ(panel.PickPositions().size(), 56u * 4u * 3u);
}

TEST(View3DPanelTest, ViewerConfigChangedRebuildsTheStoredFrame) {
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(Frame(3));
    panel.UpdateScene(app);
    app->viewerConfig->view3d_scalar_type = ScalarType::Signal;
    app->viewerConfig->view3d_max_scalar_value = 77.0f;
    panel.UpdateScene(app);  // nothing said: the object stays as it was
    EXPECT_EQ(panel.Renderer().FindObject("lidar")->scalar_max, 4000.0f);
    panel.Consume(Action(AppActionType::ViewerConfigChanged));
    panel.UpdateScene(app);
    const auto lidar = panel.Renderer().FindObject("lidar");
    ASSERT_TRUE(lidar.has_value());
    EXPECT_EQ(lidar->scalar_max, 77.0f);
    EXPECT_EQ(lidar->scalars.front(), 3.0f);  // the signal channel
}

TEST(View3DPanelTest, RotateModeShowsRingsAroundTheOffsetOnly) {
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    app->viewerConfig->cloud_transform_mode = 2;
    app->viewerConfig->cloud_offset_x_meters = 2.0f;
    panel.UpdateScene(app);
    const auto ring = panel.Renderer().FindObject("cloud_rotation_ring_z");
    ASSERT_TRUE(ring.has_value());
    EXPECT_EQ(ring->positions.size(), 97u);
    EXPECT_NEAR(ring->positions[0].x, 2000.0f + 1700.0f, 1e-2f);
    app->viewerConfig->cloud_transform_mode = 1;
    panel.UpdateScene(app);
    EXPECT_FALSE(panel.Renderer().HasObject("cloud_rotation_ring_z"));
}

TEST(View3DPanelTest, AnExportBeforeTheFirstDrawReportsNothingToExport) {
    testing::ProgramLogCapture log;
    View3DPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(std::make_shared<AppAction>(AppActionType::Export3DView, nullptr, std::string("/tmp/x.png")));
    panel.UpdateScene(app);
    ASSERT_TRUE(app->PendingToast().has_value());
    EXPECT_EQ(app->PendingToast()->text, "Nothing to export");
    EXPECT_EQ(app->PendingToast()->level, 2);
    EXPECT_TRUE(log.Contains("3D rendering: nothing to export", spdlog::level::warn));
}

TEST(Lidar2DViewPanelTest, KeepsFiveOfEachAndShowsTheOldestFrameFirst) {
    Lidar2DViewPanel panel;
    auto app = std::make_shared<AppState>();
    for (int i = 1; i <= 6; ++i) {
        panel.Consume(Frame(i));
        panel.Consume(Action(AppActionType::ResetView3DCamera));  // ignored kinds still count
    }
    EXPECT_EQ(panel.QueuedFrames(), 5u);
    EXPECT_EQ(panel.QueuedActions(), 5u);
    app->viewerConfig->view2d_colormap = COLORMAP_GRAYSCALE;
    app->viewerConfig->view2d_max_scalar_value = 6.0f;
    panel.Update(app);
    EXPECT_EQ(panel.QueuedFrames(), 4u);
    EXPECT_EQ(panel.QueuedActions(), 4u);
    ASSERT_TRUE(panel.HasImage());
    EXPECT_EQ(panel.ImageWidth(), 4);
    EXPECT_EQ(panel.ImageBytes()[0], static_cast<uint8_t>(255.0f * 2.0f / 6.0f));  // frame 2: frame 1 was dropped
    panel.Update(app);
    EXPECT_EQ(panel.ImageBytes()[0], static_cast<uint8_t>(255.0f * 3.0f / 6.0f));
}

TEST(Lidar2DViewPanelTest, RecoloursOnSettingsChangeClearsOnFramesThatAreNotLinesAndClears) {
    testing::ProgramLogCapture log;
    Lidar2DViewPanel panel;
    auto app = std::make_shared<AppState>();
    app->viewerConfig->view2d_colormap = COLORMAP_GRAYSCALE;
    app->viewerConfig->view2d_max_scalar_value = 10.0f;
    panel.Update(app);  // nothing yet: no image, nothing breaks
    EXPECT_FALSE(panel.HasImage());
    panel.Consume(std::make_shared<AppAction>(AppActionType::ViewerConfigChanged, nullptr));
    panel.Update(app);
    EXPECT_FALSE(panel.HasImage());

    panel.Consume(Frame(5));
    panel.Update(app);
    EXPECT_EQ(panel.ImageBytes()[0], 127);
    app->viewerConfig->view2d_max_scalar_value = 5.0f;
    panel.Consume(Action(AppActionType::ViewerConfigChanged));
    panel.Update(app);
    EXPECT_EQ(panel.ImageBytes()[0], 255);

    // Frames that are not 56 lines: the picture of the frame before does not stay, and the
    // log says why once for the run of them.
    for (int i = 0; i < 2; ++i) {
        auto ten = std::make_shared<FrameData>();
        ten->frameNumber = 9;
        ten->sourceName = "sphere.ply";
        ten->signal.assign(10, 1.0f);
        panel.Consume(ten);
        panel.Update(app);
        EXPECT_FALSE(panel.HasImage());
        EXPECT_EQ(panel.ImageWidth(), 0);
    }
    EXPECT_EQ(log.Count("2D view: frame 9 (sphere.ply) cannot be shown as scan lines: its 10 points are not 56 lines "
                        "of equal length",
                        spdlog::level::warn),
              1u);

    for (AppActionType clear : {AppActionType::ClearViews, AppActionType::Show2DView}) {
        panel.Consume(Frame(1));
        panel.Update(app);
        ASSERT_TRUE(panel.HasImage());
        panel.Consume(Frame(2));
        panel.Consume(Action(clear));
        panel.Update(app);
        EXPECT_FALSE(panel.HasImage());
        EXPECT_EQ(panel.QueuedFrames(), 0u);
    }
}

TEST(Lidar2DViewPanelTest, AClearKeepsTheFramesMadeAfterIt) {
    Lidar2DViewPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(Frame(1));
    panel.Consume(Action(AppActionType::ClearViews));
    panel.Consume(Frame(2));
    panel.Update(app);
    ASSERT_TRUE(panel.HasImage());
    EXPECT_EQ(panel.QueuedFrames(), 0u);

    // An action ahead of the clear: the picture of the later frame stays.
    panel.Consume(Action(AppActionType::ResetView3DCamera));
    panel.Consume(Action(AppActionType::Show2DView));
    panel.Consume(Frame(3));
    panel.Update(app);
    panel.Update(app);
    EXPECT_TRUE(panel.HasImage());
}

// A replay of a session, then of a PLY frame of another tool that is not 56 lines (an
// Open3D sphere of 1,000 points), through the replay panel as the program wires it: the
// 2D view never goes on showing the first session's picture.
class Lidar2DViewReplay : public testing::ScratchFolder {};

TEST_F(Lidar2DViewReplay, AFrameThatIsNotLinesLeavesNoEarlierPicture) {
    const std::filesystem::path& root = root_;
    testing::WriteQpc(root / "room" / "frames_qpc" / "frame_00000001.qpc", 0x60, 4, 1);
    FrameData sphere;
    for (int i = 0; i < 1000; ++i) sphere.xyz.insert(sphere.xyz.end(), {1.0f * i, 2.0f, 3.0f});
    std::filesystem::create_directories(root / "sphere");
    WritePly(root / "sphere" / "sphere.ply", sphere);

    testing::ProgramLogCapture log;
    auto dispatcher = std::make_shared<ObjectDispatcher>();
    auto app = std::make_shared<AppState>();
    Lidar2DViewPanel view;
    ReplayPanel replay(0);
    replay.SetDispatcher(dispatcher);
    dispatcher->Subscribe<FrameData>(&view);
    dispatcher->Subscribe<AppAction>(&view);
    dispatcher->Subscribe<AppAction>(&replay);
    // Each load's frame is in the view's queue before the view takes anything, as when the
    // GUI thread is slower than the replay's worker.
    const auto load = [&](const std::filesystem::path& folder) {
        replay.SetFolder(folder.string());
        replay.LoadSession(app);
        ASSERT_TRUE(testing::Eventually([&] { return view.QueuedFrames() == 1; }));
        for (int draw = 0; draw < 2 * static_cast<int>(Lidar2DViewPanel::kMaxQueued); ++draw) view.Update(app);
    };
    load(root / "room");
    ASSERT_TRUE(view.HasImage());
    EXPECT_EQ(view.ImageWidth(), 4);
    const std::string why =
        "2D view: frame 0 (sphere.ply) cannot be shown as scan lines: its 1000 points are not 56 lines of equal length";
    load(root / "sphere");
    EXPECT_FALSE(view.HasImage());
    EXPECT_EQ(log.Count(why, spdlog::level::warn), 1u);
    load(root / "sphere");  // loaded again: told again
    EXPECT_EQ(log.Count(why, spdlog::level::warn), 2u);
    replay.Unload();
    dispatcher->Unsubscribe<AppAction>(&replay);
}

TEST(Lidar2DViewPanelTest, ExportWithoutAPictureLogsAndWritesNothing) {
    testing::ProgramLogCapture log;
    Lidar2DViewPanel panel;
    auto app = std::make_shared<AppState>();
    panel.Consume(std::make_shared<AppAction>(AppActionType::Export2DView, nullptr, std::string("/tmp/none.png")));
    panel.Update(app);
    EXPECT_TRUE(log.Contains("No image available to export", spdlog::level::err));
    EXPECT_FALSE(app->PendingToast().has_value());
}

TEST(Lidar2DViewPanelTest, ALogoThatCannotBeDecodedIsLoggedOnce) {
    testing::ProgramLogCapture log;
    static const unsigned char kNotAPng[] = {1, 2, 3, 4, 5};
    Lidar2DViewPanel panel(PngBytes(kNotAPng, sizeof kNotAPng));
    for (int i = 0; i < 5; ++i) {
        panel.LoadLogoTexture();
    }
    EXPECT_FALSE(panel.LogoLoaded());
    EXPECT_EQ(log.Count("Failed to load velmorant logo from memory", spdlog::level::err), 1u);
}

TEST(RangeFitTest, StoresTheFitWhenItEndsAndReportsTheEndOnce) {
    auto config = std::make_shared<ViewerConfig>();
    RangeFit fit(RangeFit::Target::View2D);
    EXPECT_FALSE(fit.Start({}, {0, 300}, std::nullopt, config));
    std::vector<float> values(1000);
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<float>(i % 100);
    }
    ASSERT_TRUE(fit.Start(values, {0, 300}, std::nullopt, config));
    EXPECT_TRUE(fit.Running());
    EXPECT_FALSE(fit.Start(values, {0, 300}, std::nullopt, config));  // one at a time
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool finished = false;
    while (!finished && std::chrono::steady_clock::now() < deadline) {
        finished = fit.PollFinished();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(finished);
    EXPECT_FALSE(fit.Running());
    EXPECT_FALSE(fit.PollFinished());
    EXPECT_EQ(config->view2d_min_scalar_value.load(), 1.0f);
    EXPECT_EQ(config->view2d_max_scalar_value.load(), 99.0f);
    EXPECT_EQ(config->view3d_min_scalar_value.load(), -4000.0f);

    // The 3D fit is also held within the second bounds it was started with.
    RangeFit fit3d(RangeFit::Target::View3D);
    ASSERT_TRUE(fit3d.Start(values, {0, 300}, ScalarBounds{10, 50}, config));
    fit3d.Wait();
    EXPECT_EQ(config->view3d_min_scalar_value.load(), 10.0f);
    EXPECT_EQ(config->view3d_max_scalar_value.load(), 50.0f);
}

}  // namespace
}  // namespace orbel::studio::gui
