// The vendor layer's image factory and system: what Create and Convert refuse,
// what Convert returns, and one system for the whole process however many
// threads ask first.
#include <gtest/gtest.h>

#include <set>
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
    EXPECT_THROW(ImageFactory::Convert(bayer.get(), pfnc::RGB12, 0), GenericException);
    EXPECT_THROW(ImageFactory::Convert(bayer.get(), pfnc::RGB8, 1), GenericException);
    EXPECT_THROW(ImageFactory::Convert(rgb.get(), pfnc::RGB8, 0), GenericException);
    EXPECT_THROW(ImageFactory::Convert(nullptr, pfnc::RGB8, 0), GenericException);
    ImageFactory::Destroy(nullptr);
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
