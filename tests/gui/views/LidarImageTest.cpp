// The 2D view's picture: the channel for each scalar type, image rows from frames with
// missing lines or the wrong number of values, and where the picture and logo sit.
#include "views/LidarImage.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "views/Colormaps.h"

namespace orbel::studio::gui {
namespace {

// A frame as the assembler builds it when `missing` lines never arrived: signal and
// ambient hold 56 rows by line index with zero rows for the missing lines, xyz only
// the lines that came.
std::shared_ptr<FrameData> FrameWithMissingLines(int width, std::vector<int> missing) {
    auto frame = std::make_shared<FrameData>();
    frame->width = static_cast<uint32_t>(width);
    frame->height = kImageRows;
    frame->signal.assign(static_cast<std::size_t>(kImageRows * width), 0.0f);
    frame->ambient.assign(static_cast<std::size_t>(kImageRows * width), 0.0f);
    for (int line = 0; line < kImageRows; ++line) {
        if (std::find(missing.begin(), missing.end(), line) != missing.end()) {
            continue;
        }
        for (int column = 0; column < width; ++column) {
            frame->signal[static_cast<std::size_t>(line * width + column)] = 300.0f;
            frame->ambient[static_cast<std::size_t>(line * width + column)] = static_cast<float>(line);
            frame->xyz.insert(frame->xyz.end(), {1000.0f * static_cast<float>(column), 0.0f, 0.0f});
        }
    }
    return frame;
}

std::vector<uint8_t> Pixel(const std::vector<uint8_t>& rgb, int width, int row, int column) {
    const auto at = static_cast<std::size_t>((row * width + column) * 3);
    return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

TEST(LidarImageTest, RowsAreScanLinesAndMissingLinesShowTheLowestColour) {
    auto frame = FrameWithMissingLines(5, {2, 40});
    std::vector<uint8_t> rgb;
    int width = 0;
    ASSERT_TRUE(BuildImageRows(*Channel2D(*frame, ScalarType::Signal), COLORMAP_GRAYSCALE, 0.0f, 300.0f, rgb, width));
    EXPECT_EQ(width, 5);
    ASSERT_EQ(rgb.size(), 56u * 5u * 3u);
    EXPECT_EQ(Pixel(rgb, 5, 0, 0), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(Pixel(rgb, 5, 2, 4), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(Pixel(rgb, 5, 40, 0), (std::vector<uint8_t>{0, 0, 0}));
    EXPECT_EQ(Pixel(rgb, 5, 55, 4), (std::vector<uint8_t>{255, 255, 255}));

    // Ambient, by line index: row 55 is the top of the grey ramp.
    ASSERT_TRUE(BuildImageRows(*Channel2D(*frame, ScalarType::Ambient), COLORMAP_GRAYSCALE, 0.0f, 55.0f, rgb, width));
    EXPECT_EQ(Pixel(rgb, 5, 55, 0), (std::vector<uint8_t>{255, 255, 255}));
    EXPECT_EQ(Pixel(rgb, 5, 1, 0)[0], static_cast<uint8_t>(255.0f / 55.0f));
}

TEST(LidarImageTest, ChannelsOfTheWrongLengthLeaveThePreviousImage) {
    auto frame = FrameWithMissingLines(5, {2});
    std::vector<uint8_t> rgb(3, 7);
    int width = 9;
    // Depth follows the lines that arrived: 55 x 5 values are not 56 whole rows.
    EXPECT_FALSE(BuildImageRows(*Channel2D(*frame, ScalarType::XAxis), COLORMAP_JET, 0.0f, 1.0f, rgb, width));
    EXPECT_FALSE(BuildImageRows(std::vector<float>(10, 1.0f), COLORMAP_JET, 0.0f, 1.0f, rgb, width));
    EXPECT_FALSE(BuildImageRows({}, COLORMAP_JET, 0.0f, 1.0f, rgb, width));
    EXPECT_EQ(width, 9);
    EXPECT_EQ(rgb, std::vector<uint8_t>(3, 7));

    auto whole = FrameWithMissingLines(192, {});
    ASSERT_TRUE(BuildImageRows(*Channel2D(*whole, ScalarType::XAxis), COLORMAP_JET, 0.0f, 1.0f, rgb, width));
    EXPECT_EQ(width, 192);
}

TEST(LidarImageTest, EveryScalarButDepthAndAmbientShowsTheSignal) {
    auto frame = FrameWithMissingLines(2, {});
    for (ScalarType type : {ScalarType::YAxis, ScalarType::ZAxis, ScalarType::Signal, ScalarType::Depth}) {
        EXPECT_EQ(Channel2D(*frame, type), &frame->signal) << static_cast<int>(type);
    }
    EXPECT_EQ(Channel2D(*frame, ScalarType::Ambient), &frame->ambient);
    EXPECT_EQ(Channel2D(*frame, ScalarType::XAxis), &frame->xCache);
}

TEST(LidarImageTest, ThePictureKeepsItsAspectCentredInTheRegion) {
    // 192 x 56 in a wide region: full height, centred horizontally.
    Rect r = FitImage({10, 20}, {1000, 112}, 192, 56);
    EXPECT_FLOAT_EQ(r.max.y - r.min.y, 112.0f);
    EXPECT_FLOAT_EQ(r.max.x - r.min.x, 384.0f);
    EXPECT_FLOAT_EQ(r.min.x, 10.0f + 308.0f);
    // In a tall region: full width, centred vertically.
    r = FitImage({0, 0}, {384, 400}, 192, 56);
    EXPECT_FLOAT_EQ(r.max.x - r.min.x, 384.0f);
    EXPECT_FLOAT_EQ(r.min.y, (400.0f - 112.0f) / 2.0f);

    const Rect logo = LogoRect({0, 0}, {1000, 400}, 300, 100);
    EXPECT_FLOAT_EQ(logo.max.x - logo.min.x, 600.0f);
    EXPECT_FLOAT_EQ(logo.max.y - logo.min.y, 200.0f);
    EXPECT_FLOAT_EQ(logo.min.x, 200.0f);

    EXPECT_FLOAT_EQ(FadeAlpha({50, 50}, {50, 50}), 1.0f);
    EXPECT_FLOAT_EQ(FadeAlpha({110, 50}, {50, 50}), 0.5f);
    EXPECT_FLOAT_EQ(FadeAlpha({500, 50}, {50, 50}), 0.0f);
    EXPECT_FLOAT_EQ(FadeAlpha({-FLT_MAX, -FLT_MAX}, {50, 50}), 0.0f);
}

}  // namespace
}  // namespace orbel::studio::gui
