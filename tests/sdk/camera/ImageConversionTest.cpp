// Bayer-to-RGB8 and RGB12-to-RGB8 conversions: uniform mosaics stay uniform to
// the last edge pixel in every layout, the fast path agrees with a plain
// per-pixel bilinear reference, the packed layout is read as the camera writes
// it, wrapped sizes are exact, and short or empty buffers are refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "camera/ImageConversion.h"
#include "camera/vendor/Pfnc.h"
#include "sdk/camera/BayerMosaic.h"

namespace {

using orbel::camera::ConvertBayerRG12ToRGB8;
using orbel::camera::ConvertBayerRG8ToRGB8;
using orbel::camera::ConvertRGB12ToRGB8;
using orbel::testing::BayerColour;
using orbel::testing::SiteColour;
namespace pfnc = orbel::camera::vendor::pfnc;

enum class Layout { RG8, RG12, RG12Packed };

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::RG8: return "RG8";
        case Layout::RG12: return "RG12";
        default: return "RG12Packed";
    }
}

std::vector<uint8_t> Pack(Layout layout, const std::vector<uint16_t>& samples) {
    switch (layout) {
        case Layout::RG8: return orbel::testing::PackRG8(samples);
        case Layout::RG12: return orbel::testing::PackRG12(samples);
        default: return orbel::testing::PackRG12Packed(samples);
    }
}

std::vector<uint8_t> Convert(Layout layout, const std::vector<uint8_t>& source, uint32_t width, uint32_t height) {
    std::vector<uint8_t> rgb(size_t{width} * height * 3, 0xEE);
    if (layout == Layout::RG8) {
        ConvertBayerRG8ToRGB8(source, rgb, width, height);
    } else {
        ConvertBayerRG12ToRGB8(source, rgb, width, height, layout == Layout::RG12Packed);
    }
    return rgb;
}

// --- Uniform mosaics ---------------------------------------------------------

void PrintTo(Layout layout, std::ostream* os) { *os << LayoutName(layout); }

using UniformCase = std::tuple<Layout, BayerColour, std::pair<uint32_t, uint32_t>>;

class UniformMosaic : public ::testing::TestWithParam<UniformCase> {};

TEST_P(UniformMosaic, ComesOutExactlyUniformIncludingEdges) {
    const auto [layout, colour, size] = GetParam();
    const auto [width, height] = size;
    // 12-bit 0xABC reduces to 0xAB; the packed layout may drop an odd last sample's low bits.
    const uint16_t sample = layout == Layout::RG8 ? 0xC8 : 0xABC;
    const uint8_t lit = layout == Layout::RG8 ? 0xC8 : 0xAB;
    const std::vector<uint16_t> samples = orbel::testing::UniformMosaic(width, height, colour, sample);

    bool colourHasSites = false;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) colourHasSites |= SiteColour(x, y) == colour;

    const std::vector<uint8_t> rgb = Convert(layout, Pack(layout, samples), width, height);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const uint8_t expected = (c == static_cast<int>(colour) && colourHasSites) ? lit : 0;
                ASSERT_EQ(rgb[(size_t{y} * width + x) * 3 + c], expected) << "x " << x << " y " << y << " c " << c;
            }
        }
    }
}

std::string UniformCaseName(const ::testing::TestParamInfo<UniformCase>& info) {
    static const char* colours[] = {"Red", "Green", "Blue"};
    const auto size = std::get<2>(info.param);
    return std::string(LayoutName(std::get<0>(info.param))) + colours[static_cast<int>(std::get<1>(info.param))] +
           "_" + std::to_string(size.first) + "x" + std::to_string(size.second);
}

INSTANTIATE_TEST_SUITE_P(
    AllLayouts, UniformMosaic,
    ::testing::Combine(::testing::Values(Layout::RG8, Layout::RG12, Layout::RG12Packed),
                       ::testing::Values(BayerColour::Red, BayerColour::Green, BayerColour::Blue),
                       ::testing::Values(std::pair{1u, 1u}, std::pair{1u, 6u}, std::pair{7u, 1u}, std::pair{2u, 2u},
                                         std::pair{3u, 3u}, std::pair{4u, 4u}, std::pair{5u, 7u},
                                         std::pair{8u, 6u}, std::pair{17u, 10u}, std::pair{64u, 3u})),
    UniformCaseName);

// --- Agreement with a per-pixel reference ------------------------------------

// Bilinear demosaic written the plain way: each missing colour is the rounded
// mean of its two or four nearest same-colour sites, coordinates outside the
// image reflected onto the same colour (-1 -> 1, n -> n - 2); then >> shift.
std::vector<uint8_t> ReferenceDemosaic(const std::vector<uint16_t>& s, uint32_t w, uint32_t h, unsigned shift) {
    auto at = [&](int x, int y) -> unsigned {
        x = x < 0 ? 1 : (x >= static_cast<int>(w) ? static_cast<int>(w) - 2 : x);
        y = y < 0 ? 1 : (y >= static_cast<int>(h) ? static_cast<int>(h) - 2 : y);
        return s[static_cast<size_t>(y) * w + static_cast<size_t>(x)];
    };
    auto two = [&](unsigned a, unsigned b) { return static_cast<uint8_t>(((a + b + 1) / 2) >> shift); };
    auto four = [&](unsigned a, unsigned b, unsigned c, unsigned d) {
        return static_cast<uint8_t>(((a + b + c + d + 2) / 4) >> shift);
    };
    std::vector<uint8_t> rgb;
    for (int y = 0; y < static_cast<int>(h); ++y) {
        for (int x = 0; x < static_cast<int>(w); ++x) {
            const uint8_t own = static_cast<uint8_t>(at(x, y) >> shift);
            const uint8_t cross = four(at(x - 1, y), at(x + 1, y), at(x, y - 1), at(x, y + 1));
            const uint8_t diagonal = four(at(x - 1, y - 1), at(x + 1, y - 1), at(x - 1, y + 1), at(x + 1, y + 1));
            const uint8_t across = two(at(x - 1, y), at(x + 1, y));
            const uint8_t upDown = two(at(x, y - 1), at(x, y + 1));
            switch (SiteColour(static_cast<uint32_t>(x), static_cast<uint32_t>(y))) {
                case BayerColour::Red: rgb.insert(rgb.end(), {own, cross, diagonal}); break;
                case BayerColour::Blue: rgb.insert(rgb.end(), {diagonal, cross, own}); break;
                case BayerColour::Green:
                    if (y % 2 == 0) {
                        rgb.insert(rgb.end(), {across, own, upDown});
                    } else {
                        rgb.insert(rgb.end(), {upDown, own, across});
                    }
                    break;
            }
        }
    }
    return rgb;
}

std::vector<uint16_t> RandomSamples(size_t count, uint16_t limit, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(0, limit);
    std::vector<uint16_t> samples(count);
    for (auto& s : samples) s = static_cast<uint16_t>(value(random));
    return samples;
}

TEST(BayerConversion, RandomMosaicsMatchThePerPixelReference) {
    const std::pair<uint32_t, uint32_t> sizes[] = {{2, 2}, {3, 2}, {2, 3}, {7, 5}, {16, 16}, {33, 17}, {40, 6}, {130, 9}};
    unsigned seed = 1;
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const auto samples8 = RandomSamples(size_t{w} * h, 255, seed++);
        EXPECT_EQ(Convert(Layout::RG8, Pack(Layout::RG8, samples8), w, h), ReferenceDemosaic(samples8, w, h, 0));

        const auto samples12 = RandomSamples(size_t{w} * h, 4095, seed++);
        const auto reference12 = ReferenceDemosaic(samples12, w, h, 4);
        EXPECT_EQ(Convert(Layout::RG12, Pack(Layout::RG12, samples12), w, h), reference12);
        if ((size_t{w} * h) % 2 == 0) {
            EXPECT_EQ(Convert(Layout::RG12Packed, Pack(Layout::RG12Packed, samples12), w, h), reference12);
        }
    }
}

TEST(BayerConversion, OddSampleCountPackedDiffersFromUnpackedOnlyByTheLostLowBits) {
    const uint32_t w = 41, h = 7;
    auto samples = RandomSamples(size_t{w} * h, 4095, 99);
    const auto packed = Convert(Layout::RG12Packed, Pack(Layout::RG12Packed, samples), w, h);
    samples.back() &= 0xFF0;
    EXPECT_EQ(packed, Convert(Layout::RG12, Pack(Layout::RG12, samples), w, h));
}

// --- Byte layouts ------------------------------------------------------------

TEST(BayerConversion, ReadsThePackedAndUnpackedLayoutsAsTheCameraWritesThem) {
    // 2 x 2 mosaic: R = 0x123, G = 0x456 / G = 0x789, B = 0xABC.
    const std::vector<uint8_t> packed = {0x12, 0x63, 0x45, 0x78, 0xC9, 0xAB};
    // Bits above the twelfth are not part of the sample.
    const std::vector<uint8_t> unpacked = {0x23, 0xF1, 0x56, 0x04, 0x89, 0x07, 0xBC, 0x0A};
    // Pixel (0, 0): own red, green the mean of 0x456, 0x456, 0x789, 0x789 = 0x5F0, blue the diagonal 0xABC.
    const std::vector<uint8_t> expectedFirstPixel = {0x12, 0x5F, 0xAB};

    for (Layout layout : {Layout::RG12Packed, Layout::RG12}) {
        SCOPED_TRACE(LayoutName(layout));
        const auto rgb = Convert(layout, layout == Layout::RG12Packed ? packed : unpacked, 2, 2);
        EXPECT_EQ(std::vector<uint8_t>(rgb.begin(), rgb.begin() + 3), expectedFirstPixel);
        // Pixel (1, 1): own blue 0xAB, red the diagonal 0x12.
        EXPECT_EQ(rgb[9], 0x12);
        EXPECT_EQ(rgb[11], 0xAB);
    }
}

TEST(CreateArenaImage, WrapsTheBytesTheFormatNeeds) {
    std::vector<uint8_t> bytes(32);
    EXPECT_EQ(orbel::camera::CreateArenaImage(bytes.data(), 1.5, 4, 4, pfnc::BayerRG12Packed)->GetSizeFilled(), 24u);
    EXPECT_EQ(orbel::camera::CreateArenaImage(bytes.data(), 2.0, 4, 4, pfnc::BayerRG12)->GetSizeFilled(), 32u);
    auto rg8 = orbel::camera::CreateArenaImage(bytes.data(), 1.0, 4, 4, pfnc::BayerRG8);
    EXPECT_EQ(rg8->GetSizeFilled(), 16u);
    EXPECT_EQ(rg8->GetData(), bytes.data());
    EXPECT_EQ(rg8->GetPixelFormat(), pfnc::BayerRG8);
}

TEST(CreateArenaImage, SizeStaysExactBeyondSinglePrecision) {
    // 4097 x 4097 x 1.5 = 25178113.5; in single precision it rounds to 25178112.
    std::vector<uint8_t> bytes(25178113);
    auto image = orbel::camera::CreateArenaImage(bytes.data(), 1.5, 4097, 4097, pfnc::BayerRG12Packed);
    EXPECT_EQ(image->GetSizeFilled(), 25178113u);
}

// --- Refusals ----------------------------------------------------------------

struct RefusalCase {
    const char* name;
    Layout layout;
    uint32_t width;
    uint32_t height;
    size_t sourceBytes;
    size_t destinationBytes;
    const char* detail;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class ConversionRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(ConversionRefusal, ThrowsImageErrorWithoutTouchingTheBuffers) {
    const RefusalCase& c = GetParam();
    std::vector<uint8_t> source(c.sourceBytes, 0x11);
    std::vector<uint8_t> destination(c.destinationBytes, 0x22);
    try {
        if (c.layout == Layout::RG8) {
            ConvertBayerRG8ToRGB8(source, destination, c.width, c.height);
        } else {
            ConvertBayerRG12ToRGB8(source, destination, c.width, c.height, c.layout == Layout::RG12Packed);
        }
        FAIL() << "no exception";
    } catch (const orbel::sdk::Exception& e) {
        EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::IMAGE_ERROR);
        EXPECT_NE(std::string(e.what()).find(c.detail), std::string::npos) << e.what();
    }
    EXPECT_EQ(destination, std::vector<uint8_t>(c.destinationBytes, 0x22));
}

INSTANTIATE_TEST_SUITE_P(
    Buffers, ConversionRefusal,
    ::testing::Values(
        RefusalCase{"ShortRG8", Layout::RG8, 4, 4, 15, 48, "source holds 15 bytes, a 4 x 4 BayerRG8 image needs 16"},
        RefusalCase{"ShortRG12", Layout::RG12, 4, 4, 31, 48, "needs 32"},
        RefusalCase{"ShortPacked", Layout::RG12Packed, 4, 4, 23, 48, "needs 24"},
        RefusalCase{"ShortDestination", Layout::RG8, 4, 4, 16, 47, "destination holds 47 bytes"},
        RefusalCase{"ZeroWidth", Layout::RG8, 0, 4, 16, 48, "image of 0 x 4 pixels"},
        RefusalCase{"ZeroHeight", Layout::RG12, 4, 0, 32, 48, "image of 4 x 0 pixels"},
        // 65536 x 65536 pixels wrap to 0 in 32 bits.
        RefusalCase{"PixelCountBeyond32Bits", Layout::RG8, 65536, 65536, 16, 48, "needs 4294967296"},
        RefusalCase{"PackedCountBeyond32Bits", Layout::RG12Packed, 65536, 65536, 16, 48, "needs 6442450944"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

// --- RGB12 -------------------------------------------------------------------

TEST(RGB12Conversion, KeepsTheUpperEightOfTwelveBits) {
    const std::vector<uint16_t> samples = {4095, 15, 16, 0xABC, 0, 0xFFFF};
    const std::vector<uint8_t> bytes = orbel::testing::PackRG12(samples);
    std::vector<uint8_t> rgb(6);
    ConvertRGB12ToRGB8(bytes, rgb, 2, 1);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{255, 0, 1, 0xAB, 0, 0xFF}));
}

TEST(RGB12Conversion, RefusesShortSource) {
    std::vector<uint8_t> source(11);
    std::vector<uint8_t> rgb(6);
    EXPECT_THROW(ConvertRGB12ToRGB8(source, rgb, 2, 1), orbel::sdk::Exception);
}

}  // namespace
