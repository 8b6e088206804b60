// orbel::data::Image: the serialised form (header layout, each refusal and its
// text, round trip), SaveAsJpeg per pixel format decoded back, and refusal of
// images whose pixel bytes do not cover their format and size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <orbel/sdk/Exception.h>
#include <orbel/sdk/IImage.h>

#include "dataTypes/Image.h"
#include "sdk/camera/BayerMosaic.h"
#include "sdk/utilities/JpegTestFile.h"
#include "support/LogCapture.h"

namespace {

using orbel::data::Image;
using orbel::sdk::ImageMetadata;
using orbel::sdk::PixelFormat;
using orbel::testing::DecodeJpegFile;
using orbel::testing::TempFolder;

ImageMetadata Metadata(uint32_t width, uint32_t height, PixelFormat format) {
    ImageMetadata m;
    m.deviceTimestamp_us = 0x0102030405060708ull;
    m.hostTimestamp_us = 0x1112131415161718ull;
    m.frameId = 0xA1A2A3A4;
    m.width = width;
    m.height = height;
    m.format = format;
    return m;
}

Image MakeImage(const ImageMetadata& metadata, const std::vector<uint8_t>& pixels) {
    Image image;
    image.SetMetadata(metadata);
    image.SetData(pixels.data(), pixels.size());
    return image;
}

template <typename Call>
void ExpectImageError(Call call, const std::string& detail) {
    try {
        call();
        FAIL() << "no exception, expected: " << detail;
    } catch (const orbel::sdk::Exception& e) {
        EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::IMAGE_ERROR);
        EXPECT_EQ(std::string(e.what()), "Exception: Unspecified error. Extra information: " + detail);
    }
}

// --- Serialised form ---------------------------------------------------------

TEST(ImageSerialize, WritesTheHeaderThenThePixels) {
    const Image image = MakeImage(Metadata(2, 2, PixelFormat::RGB8), std::vector<uint8_t>(12, 0x5A));
    const std::vector<uint8_t> bytes = image.Serialize();
    ASSERT_EQ(bytes.size(), 76u);
    const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 30);
    const std::vector<uint8_t> expected = {
        0x01,                                            // version
        0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // device time stamp
        0x18, 0x17, 0x16, 0x15, 0x14, 0x13, 0x12, 0x11,  // host time stamp
        0xA4, 0xA3, 0xA2, 0xA1,                          // frame id
        0x02, 0x00, 0x00, 0x00,                          // width
        0x02, 0x00, 0x00, 0x00,                          // height
        0x04};                                           // pixel format
    EXPECT_EQ(header, expected);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 30, bytes.begin() + 64), std::vector<uint8_t>(34, 0));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 64, bytes.end()), std::vector<uint8_t>(12, 0x5A));
}

TEST(ImageSerialize, RefusesAnImageWithoutPixels) {
    const Image image = MakeImage(Metadata(2, 2, PixelFormat::RGB8), {});
    ExpectImageError([&] { (void)image.Serialize(); }, "Image::ThrowIfEmpty: Image contains no data");
}

struct DeserializeRefusal {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;  // unused for the null case
    bool null;
    const char* detail;
};

void PrintTo(const DeserializeRefusal& c, std::ostream* os) { *os << c.name; }

class ImageDeserializeRefusal : public ::testing::TestWithParam<DeserializeRefusal> {};

TEST_P(ImageDeserializeRefusal, ThrowsAndLeavesTheImageAsItWas) {
    const auto& c = GetParam();
    const std::vector<uint8_t> pixels = {1, 2, 3, 4, 5, 6};
    Image image = MakeImage(Metadata(1, 2, PixelFormat::RGB8), pixels);
    const std::vector<uint8_t> bytes = c.null ? std::vector<uint8_t>{} : c.bytes();
    ExpectImageError([&] { image.Deserialize(c.null ? nullptr : bytes.data(), c.null ? 64 : bytes.size()); },
                     c.detail);
    EXPECT_EQ(image.GetData(), pixels);
    EXPECT_EQ(image.GetWidth(), 1u);
    EXPECT_EQ(image.GetHeight(), 2u);
    EXPECT_EQ(image.GetMetadata().frameId, 0xA1A2A3A4u);
}

std::vector<uint8_t> HeaderWithVersion(uint8_t version, size_t size = 64) {
    std::vector<uint8_t> bytes(size, 0);
    bytes[0] = version;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageDeserializeRefusal,
    ::testing::Values(
        DeserializeRefusal{"NullData", nullptr, true, "Image::Deserialize: data pointer is null"},
        DeserializeRefusal{"SixtyThreeBytes", [] { return HeaderWithVersion(1, 63); }, false,
                           "Image::Deserialize: buffer too small. Expected at least 64 bytes, got 63"},
        DeserializeRefusal{"OneByte", [] { return HeaderWithVersion(1, 1); }, false,
                           "Image::Deserialize: buffer too small. Expected at least 64 bytes, got 1"},
        DeserializeRefusal{"Version2A", [] { return HeaderWithVersion(0x2A, 80); }, false,
                           "Image::Deserialize: unsupported format version. Expected 0x1, got 0x2a"},
        DeserializeRefusal{"Version0", [] { return HeaderWithVersion(0); }, false,
                           "Image::Deserialize: unsupported format version. Expected 0x1, got 0x0"}),
    [](const ::testing::TestParamInfo<DeserializeRefusal>& info) { return std::string(info.param.name); });

TEST(ImageDeserialize, HeaderAloneGivesAnImageWithoutPixels) {
    std::vector<uint8_t> bytes = HeaderWithVersion(1);
    bytes[21] = 0x80;  // width 0x780 = 1920
    bytes[22] = 0x07;
    bytes[25] = 0xB0;  // height 0x4B0 = 1200
    bytes[26] = 0x04;
    bytes[29] = 2;
    Image image = MakeImage(Metadata(1, 1, PixelFormat::RGB8), {9, 9, 9});
    image.Deserialize(bytes);
    EXPECT_TRUE(image.GetData().empty());
    EXPECT_EQ(image.GetWidth(), 1920u);
    EXPECT_EQ(image.GetHeight(), 1200u);
    EXPECT_EQ(image.GetPixelFormat(), PixelFormat::BayerRG12);
    EXPECT_EQ(image.GetMetadata().frameId, 0u);
    EXPECT_EQ(image.GetMetadata().deviceTimestamp_us, 0u);
}

TEST(ImageDeserialize, RoundTripThroughCreateImageKeepsEverything) {
    std::vector<uint8_t> pixels(3 * 5 * 3 / 2);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 37 + 1);
    const Image original = MakeImage(Metadata(3, 5, PixelFormat::BayerRG12Packed), pixels);

    std::unique_ptr<orbel::sdk::IImage> copy = orbel::sdk::CreateImage();
    EXPECT_EQ(copy->GetWidth(), 0u);
    EXPECT_TRUE(copy->GetData().empty());
    copy->Deserialize(original.Serialize());

    const ImageMetadata& m = copy->GetMetadata();
    EXPECT_EQ(m.deviceTimestamp_us, 0x0102030405060708ull);
    EXPECT_EQ(m.hostTimestamp_us, 0x1112131415161718ull);
    EXPECT_EQ(m.frameId, 0xA1A2A3A4u);
    EXPECT_EQ(m.width, 3u);
    EXPECT_EQ(m.height, 5u);
    EXPECT_EQ(m.format, PixelFormat::BayerRG12Packed);
    EXPECT_EQ(copy->GetData(), pixels);
}

// --- SaveAsJpeg --------------------------------------------------------------

struct JpegCase {
    const char* name;
    PixelFormat format;
    std::function<std::vector<uint8_t>(uint32_t, uint32_t)> pixels;
    uint8_t red, green, blue;  // expected colour, within a JPEG's error
};

std::vector<uint8_t> SamplesLE(size_t count, uint16_t value) {
    return orbel::testing::PackRG12(std::vector<uint16_t>(count, value));
}

void PrintTo(const JpegCase& c, std::ostream* os) { *os << c.name; }

class ImageSaveAsJpeg : public ::testing::TestWithParam<JpegCase> {
protected:
    TempFolder folder_;
};

TEST_P(ImageSaveAsJpeg, WritesTheImageAsRGB8) {
    const auto& c = GetParam();
    const uint32_t width = 36, height = 22;
    const Image image = MakeImage(Metadata(width, height, c.format), c.pixels(width, height));
    const auto path = folder_ / "image.jpg";
    image.SaveAsJpeg(path, 90, true);
    const auto decoded = DecodeJpegFile(path);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, width);
    EXPECT_EQ(decoded->height, height);
    EXPECT_LE(orbel::testing::MaxColourError(*decoded, c.red, c.green, c.blue), 6);
}

using orbel::testing::BayerColour;
using orbel::testing::UniformMosaic;

INSTANTIATE_TEST_SUITE_P(
    Formats, ImageSaveAsJpeg,
    ::testing::Values(
        JpegCase{"BayerRG8Red", PixelFormat::BayerRG8,
                 [](uint32_t w, uint32_t h) { return orbel::testing::PackRG8(UniformMosaic(w, h, BayerColour::Red, 240)); },
                 240, 0, 0},
        JpegCase{"BayerRG12Green", PixelFormat::BayerRG12,
                 [](uint32_t w, uint32_t h) {
                     return orbel::testing::PackRG12(UniformMosaic(w, h, BayerColour::Green, 0xC80));
                 },
                 0, 0xC8, 0},
        JpegCase{"BayerRG12PackedBlue", PixelFormat::BayerRG12Packed,
                 [](uint32_t w, uint32_t h) {
                     return orbel::testing::PackRG12Packed(UniformMosaic(w, h, BayerColour::Blue, 0xE00));
                 },
                 0, 0, 0xE0},
        JpegCase{"RGB8", PixelFormat::RGB8,
                 [](uint32_t w, uint32_t h) {
                     std::vector<uint8_t> rgb;
                     for (size_t i = 0; i < size_t{w} * h; ++i) rgb.insert(rgb.end(), {20, 180, 90});
                     return rgb;
                 },
                 20, 180, 90},
        // 4095 hands the writer 255 in every channel, 15 hands it 0.
        JpegCase{"RGB12Full", PixelFormat::RGB12, [](uint32_t w, uint32_t h) { return SamplesLE(size_t{w} * h * 3, 4095); },
                 255, 255, 255},
        JpegCase{"RGB12BelowOneStep", PixelFormat::RGB12,
                 [](uint32_t w, uint32_t h) { return SamplesLE(size_t{w} * h * 3, 15); }, 0, 0, 0},
        // Values outside the enumeration are written as RGB8.
        JpegCase{"FormatOutsideTheEnumeration", static_cast<PixelFormat>(9),
                 [](uint32_t w, uint32_t h) { return std::vector<uint8_t>(size_t{w} * h * 3, 128); }, 128, 128, 128}),
    [](const ::testing::TestParamInfo<JpegCase>& info) { return std::string(info.param.name); });

TEST(ImageSaveAsJpegRGB12, ExtremesReachTheWriterExactly) {
    TempFolder folder;
    for (auto [sample, expected] : {std::pair<uint16_t, int>{4095, 255}, std::pair<uint16_t, int>{15, 0}}) {
        const Image image = MakeImage(Metadata(16, 16, PixelFormat::RGB12), SamplesLE(16 * 16 * 3, sample));
        image.SaveAsJpeg(folder / "extreme.jpg", 100, false);
        const auto decoded = DecodeJpegFile(folder / "extreme.jpg");
        ASSERT_TRUE(decoded);
        EXPECT_EQ(orbel::testing::MaxColourError(*decoded, expected, expected, expected), 0) << sample;
    }
}

struct ShortPixels {
    const char* name;
    PixelFormat format;
    uint32_t width, height;
    size_t bytes;
    const char* detail;
};

void PrintTo(const ShortPixels& c, std::ostream* os) { *os << c.name; }

class ImageSaveAsJpegRefusal : public ::testing::TestWithParam<ShortPixels> {
protected:
    TempFolder folder_;
};

TEST_P(ImageSaveAsJpegRefusal, RefusesWithoutReadingPastThePixels) {
    const auto& c = GetParam();
    const Image image = MakeImage(Metadata(c.width, c.height, c.format), std::vector<uint8_t>(c.bytes, 0x40));
    const auto path = folder_ / "refused.jpg";
    ExpectImageError([&] { image.SaveAsJpeg(path, 90, true); }, c.detail);
    EXPECT_FALSE(std::filesystem::exists(path));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageSaveAsJpegRefusal,
    ::testing::Values(
        ShortPixels{"RGB8", PixelFormat::RGB8, 4, 4, 47,
                    "Image::SaveAsJpeg: image holds 47 pixel bytes, its 4 x 4 format 4 needs 48"},
        ShortPixels{"RGB12", PixelFormat::RGB12, 4, 4, 48,
                    "Image::SaveAsJpeg: image holds 48 pixel bytes, its 4 x 4 format 5 needs 96"},
        ShortPixels{"BayerRG8", PixelFormat::BayerRG8, 4, 4, 15,
                    "Image::SaveAsJpeg: image holds 15 pixel bytes, its 4 x 4 format 1 needs 16"},
        ShortPixels{"BayerRG12", PixelFormat::BayerRG12, 4, 4, 31,
                    "Image::SaveAsJpeg: image holds 31 pixel bytes, its 4 x 4 format 2 needs 32"},
        ShortPixels{"BayerRG12Packed", PixelFormat::BayerRG12Packed, 3, 3, 12,
                    "Image::SaveAsJpeg: image holds 12 pixel bytes, its 3 x 3 format 3 needs 13"},
        ShortPixels{"NoPixels", PixelFormat::RGB8, 2, 2, 0,
                    "Image::SaveAsJpeg: image holds 0 pixel bytes, its 2 x 2 format 4 needs 12"},
        ShortPixels{"OutsideTheEnumeration", static_cast<PixelFormat>(200), 2, 2, 11,
                    "Image::SaveAsJpeg: image holds 11 pixel bytes, its 2 x 2 format 200 needs 12"},
        // 3 x 65536 x 65536 wraps to 0 in 32 bits.
        ShortPixels{"SizeBeyond32Bits", PixelFormat::RGB8, 65536, 65536, 3,
                    "Image::SaveAsJpeg: image holds 3 pixel bytes, its 65536 x 65536 format 4 needs 12884901888"},
        ShortPixels{"Unknown", PixelFormat::Unknown, 2, 2, 12, "Image::SaveAsJpeg: pixel format Unknown cannot be saved"},
        ShortPixels{"ZeroWidth", PixelFormat::RGB8, 0, 2, 12, "Image::SaveAsJpeg: image of 0 x 2 pixels has no pixels"},
        ShortPixels{"ZeroHeight", PixelFormat::BayerRG8, 2, 0, 12,
                    "Image::SaveAsJpeg: image of 2 x 0 pixels has no pixels"}),
    [](const ::testing::TestParamInfo<ShortPixels>& info) { return std::string(info.param.name); });

TEST(ImageSaveAsJpegFailure, WriterErrorIsLoggedAndPassedOnUnchanged) {
    TempFolder folder;
    orbel::testing::LogCapture log;
    const Image image = MakeImage(Metadata(2, 2, PixelFormat::RGB8), std::vector<uint8_t>(12, 7));
    try {
        image.SaveAsJpeg(folder / "absent" / "x.jpg", 90, true);
        FAIL() << "no exception";
    } catch (const orbel::sdk::Exception&) {
        FAIL() << "translated";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Could not write to file. Failed to open file.");
    }
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].first, orbel::sdk::Severity::INFO);
    EXPECT_EQ(records[0].second, L"Caught libjpeg runtime error: Could not write to file. Failed to open file.");
}

}  // namespace
