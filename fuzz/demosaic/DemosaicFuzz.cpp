// Bayer demosaicing of every layout and size: the SIMD path and the portable path must
// give the same RGB bytes, and the conversion the image type uses (through the vendor
// layer's image factory) must give them too. The mosaic is handed over in a block of
// exactly the bytes its layout needs, so any read past it is caught.
//
// Input: layout u8 (0 BayerRG8, 1 BayerRG12, 2 BayerRG12Packed) | width u16 (1 + v % 1024)
//        | the mosaic's bytes; the height is as many rows as the bytes fill.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "camera/ImageConversion.h"
#include "camera/vendor/BayerDemosaic.h"
#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"

namespace orbel::camera::vendor {
void PortableDemosaicBayerRG8(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb);
void PortableDemosaicBayerRG12(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb);
void PortableDemosaicBayerRG12Packed(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                                     uint8_t* rgb);
}  // namespace orbel::camera::vendor

namespace {

using orbel::sdk::PixelFormat;
namespace vendor = orbel::camera::vendor;

uint64_t MosaicBytes(PixelFormat format, uint32_t width, uint32_t height) {
    return *orbel::camera::RequiredPixelBytes(format, width, height);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    orbel::fuzzing::FuzzInput input(data, size);
    const int layout = input.Byte() % 3;
    const uint32_t width = 1 + input.U16() % 1024;
    const auto bytes = input.Rest();
    const PixelFormat format = layout == 0   ? PixelFormat::BayerRG8
                               : layout == 1 ? PixelFormat::BayerRG12
                                             : PixelFormat::BayerRG12Packed;

    uint32_t height = 0;
    while (MosaicBytes(format, width, height + 1) <= bytes.size()) ++height;
    if (height == 0) return 0;

    const size_t sourceSize = static_cast<size_t>(MosaicBytes(format, width, height));
    const std::vector<uint8_t> source(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(sourceSize));
    const size_t rgbSize = size_t{width} * height * 3;
    std::vector<uint8_t> simd(rgbSize);
    std::vector<uint8_t> portable(rgbSize);
    std::vector<uint8_t> converted(rgbSize);

    switch (format) {
        case PixelFormat::BayerRG8:
            vendor::DemosaicBayerRG8(source.data(), width, height, simd.data());
            vendor::PortableDemosaicBayerRG8(source.data(), width, height, portable.data());
            orbel::camera::ConvertBayerRG8ToRGB8(source, converted, width, height);
            break;
        case PixelFormat::BayerRG12:
            vendor::DemosaicBayerRG12(source.data(), width, height, simd.data());
            vendor::PortableDemosaicBayerRG12(source.data(), width, height, portable.data());
            orbel::camera::ConvertBayerRG12ToRGB8(source, converted, width, height, false);
            break;
        default:
            vendor::DemosaicBayerRG12Packed(source.data(), source.size(), width, height, simd.data());
            vendor::PortableDemosaicBayerRG12Packed(source.data(), source.size(), width, height, portable.data());
            orbel::camera::ConvertBayerRG12ToRGB8(source, converted, width, height, true);
            break;
    }
    ORBEL_FUZZ_CHECK(simd == portable, "the SIMD and the portable demosaicing agree");
    ORBEL_FUZZ_CHECK(converted == simd, "the image conversion gives the demosaiced bytes");
    return 0;
}
