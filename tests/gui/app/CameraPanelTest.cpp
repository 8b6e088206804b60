// The camera view's decisions without a window: which queued image a frame shows, which
// images may reach the texture, where the image and the placement button go, and the
// button's click.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/CameraPanel.h"
#include "gui/app/ProgramLogCapture.h"
#include "support/HeadlessImGui.h"

namespace orbel::studio::gui {
namespace {

std::shared_ptr<CameraData> Image(uint32_t width, uint32_t height, uint32_t channels = 3, uint32_t bits = 8,
                                  std::size_t bytes = SIZE_MAX, uint32_t format = 2) {
    auto image = std::make_shared<CameraData>();
    image->width = width;
    image->height = height;
    image->channels = channels;
    image->bitsPerChannel = bits;
    image->format = format;
    image->pixels.assign(bytes != SIZE_MAX ? bytes : std::size_t{width} * height * channels * (bits > 8 ? 2 : 1), 7);
    image->byteSize = image->pixels.size();
    return image;
}

TEST(CameraPanelTest, AFrameShowsTheOldestOfAtMostThreeWaitingImages) {
    struct Case {
        int published;      // images 1..n between two frames
        uint32_t shown;     // the image the next frame shows
        std::size_t left;   // still waiting after it
    };
    // Past two waiting images the queue is emptied before the new one goes in.
    for (const Case c : {Case{1, 1, 0}, Case{3, 1, 2}, Case{4, 4, 0}, Case{6, 4, 2}, Case{7, 7, 0}}) {
        CameraPanel panel;
        for (int i = 1; i <= c.published; ++i) {
            auto image = Image(4, 2);
            image->imageFrameNumber = static_cast<uint32_t>(i);
            panel.Consume(image);
        }
        panel.Update();
        ASSERT_NE(panel.CurrentImage(), nullptr) << c.published;
        EXPECT_EQ(panel.CurrentImage()->imageFrameNumber, c.shown) << c.published;
        EXPECT_TRUE(panel.UploadWaiting()) << c.published;
        EXPECT_EQ(panel.QueuedImages(), c.left) << c.published;
    }
}

TEST(CameraPanelTest, OnlyImagesWhoseBytesMatchTheirShapeAreUploaded) {
    struct Case {
        const char* what;
        std::shared_ptr<CameraData> image;
        bool uploaded;
        int channels;
        int bits;
    };
    const Case cases[] = {
        {"RGB8, odd width", Image(5, 3), true, 3, 8},
        {"RGB12 in 16-bit words", Image(5, 3, 3, 12), true, 3, 12},
        {"four channels (a replayed picture)", Image(3, 3, 4, 8, SIZE_MAX, 3), true, 4, 8},
        {"width 0", Image(0, 3, 3, 8, 0), false, 0, 0},
        {"width 0 with bytes", Image(0, 3, 3, 8, 45), false, 0, 0},
        {"height 0", Image(5, 0, 3, 8, 0), false, 0, 0},
        {"one byte short", Image(5, 3, 3, 8, 44), false, 0, 0},
        {"one byte over", Image(5, 3, 3, 8, 46), false, 0, 0},
        {"RGB12 with one byte per sample", Image(5, 3, 3, 12, 45), false, 0, 0},
        {"RGB8 with two bytes per sample", Image(5, 3, 3, 8, 90), false, 0, 0},
        {"Bayer data", Image(5, 3, 1, 8, 15, 0), false, 0, 0},
        {"three-channel format with one channel", Image(5, 3, 1, 8, 15), false, 0, 0},
        {"bits beyond 16", Image(5, 3, 3, 32, 180), false, 0, 0},
        {"a size whose byte count overflows", Image(0xFFFFFFFFu, 0xFFFFFFFFu, 4, 16, 64), false, 0, 0},
    };
    for (const Case& c : cases) {
        const std::optional<CameraUpload> upload = PlanCameraUpload(*c.image);
        ASSERT_EQ(upload.has_value(), c.uploaded) << c.what;
        if (upload) {
            EXPECT_EQ(upload->width, static_cast<int>(c.image->width)) << c.what;
            EXPECT_EQ(upload->height, static_cast<int>(c.image->height)) << c.what;
            EXPECT_EQ(upload->channels, c.channels) << c.what;
            EXPECT_EQ(upload->bitsPerChannel, c.bits) << c.what;
        }
    }
}

TEST(CameraPanelTest, AnImageThatCannotBeShownBecomesCurrentWaitsForNoUploadAndIsLoggedOnce) {
    testing::ProgramLogCapture log;
    CameraPanel panel;
    panel.Consume(Image(0, 3, 3, 8, 0));
    panel.Update();
    ASSERT_NE(panel.CurrentImage(), nullptr);
    EXPECT_FALSE(panel.UploadWaiting());
    panel.Consume(Image(5, 3, 3, 8, 44));
    panel.Update();
    EXPECT_FALSE(panel.UploadWaiting());
    EXPECT_EQ(log.Count("Camera image not shown", spdlog::level::warn), 1u);
    panel.Consume(Image(5, 3, 1, 8, 15, 0));  // Bayer data is expected not to show: no word of it
    panel.Update();
    EXPECT_FALSE(panel.UploadWaiting());
    EXPECT_EQ(log.Count("Camera image not shown", spdlog::level::warn), 1u);
    EXPECT_EQ(panel.Texture(), 0u);
}

TEST(CameraPanelTest, TheImageKeepsItsAspectAndTheButtonSitsAtTheTopRight) {
    struct Case {
        const char* what;
        Vec2 regionMin, regionSize;
        int width, height;
        Rect image;
    };
    const Case cases[] = {
        // 1.6 : 1 in a tall region: the full width, centred vertically.
        {"wider than the region", {100, 50}, {600, 800}, 1920, 1200, {{100, 50 + 212.5f}, {700, 50 + 587.5f}}},
        // 4 : 3 in a wide region: the full height, centred horizontally.
        {"narrower than the region", {10, 0}, {1000, 300}, 640, 480, {{10 + 300, 0}, {10 + 700, 300}}},
        {"the region's own aspect", {0, 0}, {320, 240}, 640, 480, {{0, 0}, {320, 240}}},
        {"no texture", {10, 20}, {320, 240}, 0, 0, {{10, 20}, {10, 20}}},
    };
    for (const Case& c : cases) {
        const CameraViewLayout layout = LayoutCameraView(c.regionMin, c.regionSize, c.width, c.height, {5, 6}, 400,
                                                         false);
        EXPECT_FLOAT_EQ(layout.image.min.x, c.image.min.x) << c.what;
        EXPECT_FLOAT_EQ(layout.image.min.y, c.image.min.y) << c.what;
        EXPECT_FLOAT_EQ(layout.image.max.x, c.image.max.x) << c.what;
        EXPECT_FLOAT_EQ(layout.image.max.y, c.image.max.y) << c.what;
        EXPECT_FLOAT_EQ(layout.buttonMin.x, 5 + 400 - 50) << c.what;
        EXPECT_FLOAT_EQ(layout.buttonMin.y, 6 + 10) << c.what;
    }
    // With the default settings the view sits below, and its arrow points up.
    EXPECT_STREQ(LayoutCameraView({}, {100, 100}, 0, 0, {}, 100, AppState().viewerConfig->camera_above).arrow, "^");
    EXPECT_STREQ(LayoutCameraView({}, {100, 100}, 0, 0, {}, 100, true).arrow, "v");
}

TEST(CameraPanelTest, TheButtonMovesTheViewAboveAndBackAndTheViewElsewhereDoesNothing) {
    testing::HeadlessImGui gui(ImVec2(640.0f, 480.0f));
    CameraPanel panel;
    auto app = std::make_shared<AppState>();
    const auto draw = [&] { panel.DrawCameraPanel(app); };
    gui.Frame(draw);
    // The test window spans the display: the button is at (590, 10), 20 x 20.
    gui.Click(ImVec2(300.0f, 240.0f), draw);
    EXPECT_FALSE(app->viewerConfig->camera_above);
    gui.Click(ImVec2(600.0f, 20.0f), draw);
    EXPECT_TRUE(app->viewerConfig->camera_above);
    gui.Click(ImVec2(600.0f, 20.0f), draw);
    EXPECT_FALSE(app->viewerConfig->camera_above);
}

}  // namespace
}  // namespace orbel::studio::gui
