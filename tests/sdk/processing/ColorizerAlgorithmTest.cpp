// The colorizer algorithm: which pixel each point takes, which points stay black,
// and what it refuses. Images are 4 x 4 RGB8 whose byte k holds k, so a colour
// names the pixel: pixel (column c, row r) reads (3(4r + c), +1, +2).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Exception.h>

#include "sdk/processing/ProcessingFixtures.h"

namespace {

using orbel::processing::AlignmentInformation;
using orbel::processing::ColorizerFactory;
using orbel::sdk::PixelFormat;
using orbel::sdk::RGB;
using orbel::testing::MakeImage;
using orbel::testing::Point;
using orbel::testing::TestCloud;

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

RGB PixelColour(int column, int row) {
    const auto b = static_cast<uint8_t>(3 * (4 * row + column));
    return {b, static_cast<uint8_t>(b + 1), static_cast<uint8_t>(b + 2)};
}

struct ProjectionCase {
    const char* name;
    Point point;
    std::optional<RGB> colour;  // none: black
    std::function<void(AlignmentInformation&)> align = nullptr;
    size_t imageBytes = 48;
};
void PrintTo(const ProjectionCase& c, std::ostream* os) { *os << c.name; }

std::vector<ProjectionCase> ProjectionCases() {
    return {
        // c = (1, -1, -1), u = v = 1.
        {"DefaultAlignmentPixelOneOne", {1, -1, -1}, PixelColour(1, 1)},
        {"XZeroStaysBlack", {0, -1, -1}, std::nullopt},
        {"XBelowEpsilonStaysBlack", {5e-7f, -5e-7f, -5e-7f}, std::nullopt},
        {"ColumnEqualToWidth", {1, -4, 0}, std::nullopt},
        {"RowMinusOne", {1, 0, 1}, std::nullopt},
        {"LastPixel", {1, -3, -3}, PixelColour(3, 3)},
        // Rounding halves away from zero: 1.5 -> 2, 0.5 -> 1, -0.5 -> -1 (outside).
        {"HalfRoundsUp", {1, -1.5f, -1}, PixelColour(2, 1)},
        {"HalfRoundsAwayFromZero", {1, -0.5f, -2}, PixelColour(1, 2)},
        {"MinusHalfLeavesTheImage", {1, 0.5f, -2}, std::nullopt},
        {"AboveMinusHalfRoundsToZero", {1, 0.49f, -2}, PixelColour(0, 2)},
        {"ShortPixelDataStillColoursEarlyPixels", {1, -1, -1}, PixelColour(1, 1), nullptr, 45},
        {"ShortPixelDataLeavesLastPixelBlack", {1, -3, -3}, std::nullopt, nullptr, 45},
        {"TranslationAndPrincipalPoint", {1, 0, 0}, PixelColour(2, 3),
         [](AlignmentInformation& a) {
             a.translation = {0, -1, 0};  // c1 = -1 -> u = 1
             a.cx = 1;
             a.cy = 3;
         }},
        {"RotationSwapsAxes", {-1, 1, -2}, PixelColour(2, 1),
         [](AlignmentInformation& a) {
             // c = (1, 1, -2): u = -1, v = 2, then shifted by the principal point.
             a.rotation = {-1, 0, 0, 0, 1, 0, 0, 0, 1};
             a.cx = 3;
             a.cy = -1;
         }},
        {"PositiveK1Spreads", {1, -0.5f, -0.5f}, PixelColour(3, 3),
         [](AlignmentInformation& a) {
             a.k1 = 1;  // r2 = 0.5, f = 1.5 -> 0.75 -> fx 4 -> 3
             a.fx = 4;
             a.fy = 4;
         }},
        // Points that the projection formulas alone would place in the image.
        {"BehindTheCamera", {-1, 1, 1}, std::nullopt},  // c0 = -1 gives u = v = 1 again
        {"DepthBelowEpsilon", {1, -1, -1}, std::nullopt,
         [](AlignmentInformation& a) { a.translation = {-1 + 5e-7f, 0, 0}; }},
        {"StrongNegativeK1FoldsBack", {1, -1, -1}, std::nullopt,
         [](AlignmentInformation& a) {
             a.k1 = -1;  // r2 = 2, f = -1: px = -1 + 2 = 1 inside
             a.cx = 2;
             a.cy = 2;
         }},
        {"MildNegativeK1StillColours", {1, -1, -1}, PixelColour(3, 3),
         [](AlignmentInformation& a) {
             a.k1 = -0.1f;  // f = 0.8: px = 0.8 + 2 -> 3
             a.cx = 2;
             a.cy = 2;
         }},
        {"NaNY", {1, kNaN, -1}, std::nullopt},
        {"NaNZ", {1, -1, kNaN}, std::nullopt},
        {"NaNX", {kNaN, -1, -1}, std::nullopt},
        {"InfiniteProjection", {1e-5f, -3e38f, -1e-5f}, std::nullopt},
        // 2^32 would wrap to column 0 in a 32-bit integer.
        {"ColumnOfTwoToThe32", {1, 0, 0}, std::nullopt,
         [](AlignmentInformation& a) { a.cx = 4294967296.0f; }},
        {"RowOfMinusTwoToThe32", {1, 0, 0}, std::nullopt,
         [](AlignmentInformation& a) { a.cy = -4294967296.0f; }},
    };
}

class Projection : public ::testing::TestWithParam<ProjectionCase> {};

TEST_P(Projection, PointTakesItsPixelOrStaysBlack) {
    const ProjectionCase& c = GetParam();
    AlignmentInformation alignment;
    if (c.align) c.align(alignment);
    auto algorithm = ColorizerFactory::CreateColorizerAlgorithm();
    algorithm->Initialize(alignment);

    // Two points at the origin (x = 0, always black) around it show that only its own
    // colour is written.
    TestCloud cloud({{0, 0, 0}, c.point, {0, 0, 0}});
    auto image = MakeImage(4, 4, 0, PixelFormat::RGB8, nullptr, c.imageBytes);
    algorithm->Colorize(cloud, *image);

    ASSERT_EQ(cloud.setColorsCalls, 1);
    ASSERT_EQ(cloud.Colors().size(), 3u);
    EXPECT_EQ(cloud.Colors()[1], c.colour.value_or(RGB{})) << c.name;
    EXPECT_EQ(cloud.Colors()[0], RGB{});
    EXPECT_EQ(cloud.Colors()[2], RGB{});
}

INSTANTIATE_TEST_SUITE_P(Cases, Projection, ::testing::ValuesIn(ProjectionCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ColorizerAlgorithm, RefusesImagesThatAreNotRGB8BeforeWriting) {
    auto algorithm = ColorizerFactory::CreateColorizerAlgorithm();
    for (PixelFormat format : {PixelFormat::BayerRG8, PixelFormat::RGB12, PixelFormat::Unknown}) {
        TestCloud cloud({{1, -1, -1}});
        auto image = MakeImage(4, 4, 0, format);
        try {
            algorithm->Colorize(cloud, *image);
            FAIL() << "accepted format " << static_cast<int>(format);
        } catch (const orbel::sdk::Exception& e) {
            EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::UNKNOWN_ERROR);
            EXPECT_NE(std::string(e.what()).find("Extra information: Unsupported pixel format"), std::string::npos);
        }
        EXPECT_EQ(cloud.setColorsCalls, 0);
    }
}

TEST(ColorizerAlgorithm, EmptyCloudGetsOneEmptyColourList) {
    auto algorithm = ColorizerFactory::CreateColorizerAlgorithm();
    TestCloud cloud;
    algorithm->Colorize(cloud, *MakeImage(4, 4));
    EXPECT_EQ(cloud.setColorsCalls, 1);
    EXPECT_TRUE(cloud.Colors().empty());
}

TEST(ColorizerAlgorithm, InitializeReplacesTheAlignmentBetweenCalls) {
    auto algorithm = ColorizerFactory::CreateColorizerAlgorithm();
    auto image = MakeImage(4, 4);
    TestCloud cloud({{1, 0, 0}});
    algorithm->Colorize(cloud, *image);
    EXPECT_EQ(cloud.Colors()[0], PixelColour(0, 0));

    AlignmentInformation shifted;
    shifted.cx = 2;
    shifted.cy = 1;
    algorithm->Initialize(shifted);
    algorithm->Colorize(cloud, *image);
    EXPECT_EQ(cloud.Colors()[0], PixelColour(2, 1));
}

}  // namespace
