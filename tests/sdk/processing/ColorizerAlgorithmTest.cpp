// The colorizer algorithm: which pixel each point takes, which points stay black,
// and what it refuses. The first table's images are 4 x 4 RGB8 whose byte k holds k,
// so a colour names the pixel: pixel (column c, row r) reads (3(4r + c), +1, +2). The
// second table's images are larger, each pixel coloured by its own coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Exception.h>

#include "processing/ColorizerAlgorithm.h"

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

// Pixel (column c, row r) of a coordinate image reads (c mod 256, c / 256, r).
RGB CoordinateColour(int column, int row) {
    return {static_cast<uint8_t>(column % 256), static_cast<uint8_t>(column / 256), static_cast<uint8_t>(row)};
}

std::shared_ptr<orbel::data::Image> CoordinateImage(uint32_t width, uint32_t height) {
    return MakeImage(width, height, 0, PixelFormat::RGB8, [width](size_t k) {
        const size_t pixel = k / 3;
        const RGB colour = CoordinateColour(static_cast<int>(pixel % width), static_cast<int>(pixel / width));
        return k % 3 == 0 ? colour.r : (k % 3 == 1 ? colour.g : colour.b);
    });
}

struct AlignedCase {
    const char* name;
    Point point;
    std::function<void(AlignmentInformation&)> align;
    uint32_t width;
    uint32_t height;
    std::optional<RGB> colour;  // none: black
};
void PrintTo(const AlignedCase& c, std::ostream* os) { *os << c.name; }

// A 1920-pixel row with its centre at column 960, fx = fy = 1000: a point (1, -u, 0)
// has c = (1, u, 0), so it projects at column 960 + f u 1000 on row 0.
void WideLens(AlignmentInformation& a, float k1, float k2) {
    a.k1 = k1;
    a.k2 = k2;
    a.fx = 1000;
    a.fy = 1000;
    a.cx = 960;
    a.cy = 0;
}

std::vector<AlignedCase> AlignedCases() {
    return {
        // Every term at once, worked out by hand. R turns about the camera's third axis
        // (cos 0.8, sin 0.6) and is not symmetric.
        // c0 = 0.8 * 5000 - 0.6 * -1500 + 100 = 5000; c1 = 0.6 * 5000 + 0.8 * -1500 - 4300 = -2500;
        // c2 = 1000 + 500 = 1500. u = 0.5, v = -0.3, r2 = 0.34, r2 r2 = 0.1156;
        // f = 1 - 0.2 * 0.34 + 0.4 * 0.1156 = 0.97824.
        // column = 0.97824 * 0.5 * 500 + 3 = 247.56 -> 248; row = 0.97824 * -0.3 * 450 + 200 = 67.94 -> 68.
        // (Transposed R: c1 = -8500, off the image; k2 on r2 or r2^3: column 270 or 240;
        // without T2: row 112; fx and fy swapped: 223, 53.)
        {"EveryTermRotationTranslationK1K2AndTwoFocalLengths",
         {5000, -1500, 1000},
         [](AlignmentInformation& a) {
             a.rotation = {0.8f, -0.6f, 0, 0.6f, 0.8f, 0, 0, 0, 1};
             a.translation = {100, -4300, 500};
             a.k1 = -0.2f;
             a.k2 = 0.4f;
             a.fx = 500;
             a.fy = 450;
             a.cx = 3;
             a.cy = 200;
         },
         256, 256, CoordinateColour(248, 68)},
        // A rotation with no zero in its first two rows, a turn about the third axis after one
        // about the second (cos 0.6, sin 0.8): every row and column of R takes part.
        // R p = (0.48 * 3000 - 0.6 * 1000 + 0.64 * -500, 0.36 * 3000 + 0.8 * 1000 + 0.48 * -500,
        //        -0.8 * 3000 + 0.6 * -500) = (520, 1640, -2700); c = R p + T = (2000, -400, 600).
        // u = 0.2, v = -0.3: column 0.2 * 300 + 100 = 160, row -0.3 * 200 + 120 = 60.
        // (Transposed R: c = (3680, -3040, 5400), column 348; without T2: row 390; fx and fy
        // swapped: 140, 30.)
        {"RotationWithEveryAxisAndTranslation",
         {3000, 1000, -500},
         [](AlignmentInformation& a) {
             a.rotation = {0.48f, -0.6f, 0.64f, 0.36f, 0.8f, 0.48f, -0.8f, 0, 0.6f};
             a.translation = {1480, -2040, 3300};
             a.fx = 300;
             a.fy = 200;
             a.cx = 100;
             a.cy = 120;
         },
         256, 256, CoordinateColour(160, 60)},
        // Lens fold-back. With k1 = -0.3 the image radius f(r) r = r - 0.3 r^3 peaks at
        // r2 = 1 / 0.9: u = 1.06 and u = 1.05 would both reach column 1663, and u = 1.2
        // (f = 0.568, still positive) would come back to column 1642.
        {"K1PastTheFoldStaysBlack", {1, -1.2f, 0}, [](AlignmentInformation& a) { WideLens(a, -0.3f, 0); }, 1920, 1,
         std::nullopt},
        {"K1JustPastTheFoldStaysBlack", {1, -1.06f, 0}, [](AlignmentInformation& a) { WideLens(a, -0.3f, 0); }, 1920,
         1, std::nullopt},
        // r2 = 1.1025, f = 0.66925: column 960 + 702.71 -> 1663.
        {"K1JustInsideTheFoldColours", {1, -1.05f, 0}, [](AlignmentInformation& a) { WideLens(a, -0.3f, 0); }, 1920,
         1, CoordinateColour(1663, 0)},
        // k2 = -0.1 alone: d(f r)/dr = 1 - 0.5 r^4 is zero at r2 = sqrt(2), where f is still
        // 0.8. u = 1.3 (f = 0.714) would land on column 1889.
        {"K2PastTheFoldStaysBlack", {1, -1.3f, 0}, [](AlignmentInformation& a) { WideLens(a, 0, -0.1f); }, 1920, 1,
         std::nullopt},
        // r2 = 1.21, f = 1 - 0.1 * 1.4641 = 0.85359: column 960 + 938.95 -> 1899.
        {"K2InsideTheFoldColours", {1, -1.1f, 0}, [](AlignmentInformation& a) { WideLens(a, 0, -0.1f); }, 1920, 1,
         CoordinateColour(1899, 0)},
        // k1 = -0.3 with k2 = 0.1: 1 - 0.9 r2 + 0.5 r2^2 has no real root, the radius grows
        // for ever. u = 1.2: f = 1 - 0.432 + 0.20736 = 0.77536, column 960 + 930.43 -> 1890.
        {"PositiveK2KeepsTheLensFromFolding", {1, -1.2f, 0}, [](AlignmentInformation& a) { WideLens(a, -0.3f, 0.1f); },
         1920, 1, CoordinateColour(1890, 0)},
    };
}

class AlignedProjection : public ::testing::TestWithParam<AlignedCase> {};

TEST_P(AlignedProjection, PointTakesTheWorkedOutPixel) {
    const AlignedCase& c = GetParam();
    AlignmentInformation alignment;
    c.align(alignment);
    auto algorithm = ColorizerFactory::CreateColorizerAlgorithm();
    algorithm->Initialize(alignment);

    TestCloud cloud({c.point});
    algorithm->Colorize(cloud, *CoordinateImage(c.width, c.height));

    ASSERT_EQ(cloud.Colors().size(), 1u);
    const RGB got = cloud.Colors()[0];
    EXPECT_EQ(got, c.colour.value_or(RGB{}))
        << c.name << ": got pixel (" << got.r + 256 * got.g << ", " << int{got.b} << ")";
}

INSTANTIATE_TEST_SUITE_P(Cases, AlignedProjection, ::testing::ValuesIn(AlignedCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The fold-back limit, the smallest r2 > 0 where 1 + 3 k1 r2 + 5 k2 r2^2 <= 0, for each
// shape of that quadratic.
TEST(ColorizerAlgorithm, FoldBackLimitIsTheFirstRootOfTheRadiusSlope) {
    constexpr float kNever = std::numeric_limits<float>::infinity();
    const struct {
        float k1, k2, limit;
    } cases[] = {
        {0, 0, kNever},                    // no distortion
        {0.1f, 0, kNever},                 // a barrel that only spreads
        {-0.3f, 0, 1.0f / 0.9f},           // -1 / (3 k1)
        {0, -0.1f, std::sqrt(2.0f)},       // sqrt(-1 / (5 k2))
        {-0.3f, 0.1f, kNever},             // 0.81 < 2: no real root
        {1, 0.1f, kNever},                 // both roots negative
        {-0.5f, 0.05f, 0.763932f},         // (1.5 - sqrt(1.25)) / 0.5, the nearer of two
        {0.2f, -0.1f, 2.136229f},          // 0.6 + sqrt(2.36), the positive one
        {-0.1f, -0.05f, 1.488061f},        // (sqrt(1.09) - 0.3) / 0.5
    };
    for (const auto& c : cases) {
        const float limit = orbel::processing::ColorizerAlgorithm::FoldBackRadiusSquared(c.k1, c.k2);
        if (std::isinf(c.limit)) {
            EXPECT_TRUE(std::isinf(limit) && limit > 0) << c.k1 << ", " << c.k2 << ": " << limit;
        } else {
            EXPECT_NEAR(limit, c.limit, 2e-6f * c.limit) << c.k1 << ", " << c.k2;
        }
    }
}

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
