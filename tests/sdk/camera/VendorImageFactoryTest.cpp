// The vendor layer's image factory and system: what Create and Convert refuse,
// what Convert returns, and one system for the whole process however many
// threads ask first.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "camera/ImageConversion.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Image.h"
#include "camera/vendor/Pfnc.h"
#include "camera/vendor/System.h"

namespace {

namespace vendor = orbel::camera::vendor;
namespace pfnc = orbel::camera::vendor::pfnc;
using vendor::GenericException;
using vendor::ImageFactory;
using vendor::ImageHandle;

TEST(VendorImageFactory, CreateRefusesWhatItCannotWrap) {
    std::vector<uint8_t> bytes(64);
    EXPECT_THROW(ImageFactory::Create(nullptr, 64, 4, 4, pfnc::BayerRG8), GenericException);
    EXPECT_THROW(ImageFactory::Create(bytes.data(), 64, 0, 4, pfnc::BayerRG8), GenericException);
    EXPECT_THROW(ImageFactory::Create(bytes.data(), 64, 4, 0, pfnc::BayerRG8), GenericException);
    EXPECT_THROW(ImageFactory::Create(bytes.data(), 64, 4, 4, 0x12345678), GenericException);
    EXPECT_THROW(ImageFactory::Create(bytes.data(), 23, 4, 4, pfnc::BayerRG12Packed), GenericException);
    EXPECT_THROW(ImageFactory::Create(bytes.data(), 47, 4, 4, pfnc::RGB8), GenericException);
}

TEST(VendorImageFactory, ConvertMakesAnOwnedRGB8Image) {
    std::vector<uint8_t> bytes(6 * 4, 0x80);
    ImageHandle source(ImageFactory::Create(bytes.data(), bytes.size(), 6, 4, pfnc::BayerRG8));
    ImageHandle converted(ImageFactory::Convert(source.get(), pfnc::RGB8, 0));
    ASSERT_TRUE(converted);
    EXPECT_EQ(converted->GetPixelFormat(), pfnc::RGB8);
    EXPECT_EQ(converted->GetWidth(), 6u);
    EXPECT_EQ(converted->GetHeight(), 4u);
    ASSERT_EQ(converted->GetSizeFilled(), 6u * 4 * 3);
    EXPECT_NE(converted->GetData(), bytes.data());
    source.reset();
    bytes.assign(bytes.size(), 0);
    for (size_t i = 0; i < converted->GetSizeFilled(); ++i) ASSERT_EQ(converted->GetData()[i], 0x80);
}

TEST(VendorImageFactory, ConvertRefusesOtherFormatsAndAlgorithms) {
    std::vector<uint8_t> bytes(4 * 4 * 6);
    ImageHandle bayer(ImageFactory::Create(bytes.data(), bytes.size(), 4, 4, pfnc::BayerRG12));
    ImageHandle rgb(ImageFactory::Create(bytes.data(), bytes.size(), 4, 4, pfnc::RGB12));
    EXPECT_THROW(ImageFactory::Convert(bayer.get(), pfnc::BayerRG8, 0), GenericException);
    EXPECT_THROW(ImageFactory::Convert(bayer.get(), pfnc::RGB8, 1), GenericException);
    EXPECT_THROW(ImageFactory::Convert(rgb.get(), pfnc::RGB8, 0), GenericException);
    EXPECT_THROW(ImageFactory::Convert(nullptr, pfnc::RGB8, 0), GenericException);
    ImageFactory::Destroy(nullptr);
}

TEST(VendorImageFactory, ConvertCopiesAnImageAlreadyInTheTargetFormat) {
    std::vector<uint8_t> bytes(3 * 2 * 6);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ImageHandle rgb(ImageFactory::Create(bytes.data(), bytes.size(), 3, 2, pfnc::RGB12));
    ImageHandle copy(ImageFactory::Convert(rgb.get(), pfnc::RGB12, 0));
    ASSERT_TRUE(copy);
    EXPECT_NE(copy->GetData(), bytes.data());
    EXPECT_EQ(std::vector<uint8_t>(copy->GetData(), copy->GetData() + copy->GetSizeFilled()), bytes);
}

TEST(VendorImageFactory, ConvertSpreadsMonochromeOverTheThreeColours) {
    const std::vector<uint8_t> grey = {0x00, 0x7F, 0xFF};
    ImageHandle mono(ImageFactory::Create(grey.data(), grey.size(), 3, 1, pfnc::Mono8));
    ImageHandle rgb8(ImageFactory::Convert(mono.get(), pfnc::RGB8, 0));
    EXPECT_EQ(std::vector<uint8_t>(rgb8->GetData(), rgb8->GetData() + rgb8->GetSizeFilled()),
              (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x7F, 0x7F, 0x7F, 0xFF, 0xFF, 0xFF}));
    ImageHandle rgb12(ImageFactory::Convert(mono.get(), pfnc::RGB12, 0));
    EXPECT_EQ(std::vector<uint8_t>(rgb12->GetData(), rgb12->GetData() + rgb12->GetSizeFilled()),
              (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7, 0x07, 0xF7, 0x07, 0xF7, 0x07, 0xFF, 0x0F,
                                    0xFF, 0x0F, 0xFF, 0x0F}));
}

// RGB12 is the same interpolation as RGB8 kept at twelve bits: for a 12-bit
// source the RGB8 result is the RGB12 result shifted by 4; an 8-bit source's
// value v becomes v << 4 | v >> 4, so full scale stays full scale.
TEST(VendorImageFactory, ConvertToRGB12KeepsTheTwelveBitsThatRGB8Drops) {
    std::mt19937 random(5);
    const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {1, 5}, {2, 2}, {7, 5}, {40, 6}};
    for (const auto& [w, h] : sizes) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        for (uint64_t format : {pfnc::BayerRG8, pfnc::BayerRG12, pfnc::BayerRG12Packed}) {
            std::vector<uint8_t> bytes(*pfnc::PixelBytes(format, w, h));
            for (auto& b : bytes) b = static_cast<uint8_t>(random());
            if (format == pfnc::BayerRG12) {
                for (size_t i = 1; i < bytes.size(); i += 2) bytes[i] &= 0x0F;
            }
            ImageHandle source(ImageFactory::Create(bytes.data(), bytes.size(), w, h, format));
            ImageHandle rgb8(ImageFactory::Convert(source.get(), pfnc::RGB8, 0));
            ImageHandle rgb12(ImageFactory::Convert(source.get(), pfnc::RGB12, 0));
            ASSERT_EQ(rgb12->GetPixelFormat(), pfnc::RGB12);
            ASSERT_EQ(rgb12->GetSizeFilled(), size_t{w} * h * 6);
            for (size_t i = 0; i < size_t{w} * h * 3; ++i) {
                const unsigned wide = rgb12->GetData()[2 * i] | rgb12->GetData()[2 * i + 1] << 8;
                const unsigned narrow = rgb8->GetData()[i];
                ASSERT_LE(wide, 4095u);
                if (format == pfnc::BayerRG8) {
                    ASSERT_EQ(wide, (narrow << 4 | narrow >> 4)) << "sample " << i;
                } else {
                    ASSERT_EQ(wide >> 4, narrow) << "sample " << i;
                }
            }
        }
    }
}

TEST(CreateArenaImage, PrintsVendorErrorsAndThrowsThemOn) {
    std::vector<uint8_t> bytes(16);
    ::testing::internal::CaptureStderr();
    EXPECT_THROW(orbel::camera::CreateArenaImage(bytes.data(), 1.0, 4, 4, 0x12345678), GenericException);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "ImageFactory::Create: unsupported pixel format 305419896\n");
}

TEST(VendorSystem, OneSystemPerProcessWhicheverThreadAsksFirst) {
    std::vector<const vendor::System*> seen(8);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&seen, i] { seen[i] = &vendor::SharedSystem(); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(std::set<const vendor::System*>(seen.begin(), seen.end()).size(), 1u);
    EXPECT_EQ(seen[0], &vendor::SharedSystem());
}

}  // namespace
