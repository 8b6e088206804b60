#include "camera/vendor/Image.h"

#include <limits>
#include <new>
#include <string>
#include <utility>

#include "camera/vendor/BayerDemosaic.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Pfnc.h"

namespace orbel::camera::vendor {

Image::Image(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint64_t pixelFormat,
             std::unique_ptr<uint8_t[]> owned) noexcept
    : data_(data), size_(size), width_(width), height_(height), pixelFormat_(pixelFormat), owned_(std::move(owned)) {}

Image::~Image() = default;

Image* ImageFactory::Create(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint64_t pixelFormat) {
    if (data == nullptr) throw GenericException("ImageFactory::Create: data is null");
    if (width == 0 || height == 0) {
        throw GenericException("ImageFactory::Create: image of " + std::to_string(width) + " x " +
                               std::to_string(height) + " pixels has no pixels");
    }
    const auto needed = pfnc::PixelBytes(pixelFormat, width, height);
    if (!needed) throw GenericException("ImageFactory::Create: unsupported pixel format " + std::to_string(pixelFormat));
    if (size < *needed) {
        throw GenericException("ImageFactory::Create: " + std::to_string(size) + " bytes given, the image needs " +
                               std::to_string(*needed));
    }
    return new Image(data, size, width, height, pixelFormat, nullptr);
}

Image* ImageFactory::Convert(const Image* source, uint64_t pixelFormat, int bayerAlgorithm) {
    if (source == nullptr) throw GenericException("ImageFactory::Convert: source image is null");
    if (pixelFormat != pfnc::RGB8) {
        throw GenericException("ImageFactory::Convert: unsupported target pixel format " + std::to_string(pixelFormat));
    }
    if (bayerAlgorithm != 0) {
        throw GenericException("ImageFactory::Convert: unsupported Bayer algorithm " + std::to_string(bayerAlgorithm));
    }
    const uint64_t sourceFormat = source->GetPixelFormat();
    if (sourceFormat != pfnc::BayerRG8 && sourceFormat != pfnc::BayerRG12 && sourceFormat != pfnc::BayerRG12Packed) {
        throw GenericException("ImageFactory::Convert: unsupported source pixel format " +
                               std::to_string(sourceFormat));
    }

    const uint32_t width = source->GetWidth();
    const uint32_t height = source->GetHeight();
    const uint64_t targetBytes = *pfnc::PixelBytes(pfnc::RGB8, width, height);
    if (targetBytes > std::numeric_limits<size_t>::max()) return nullptr;
    // Left uninitialised: the demosaic writes every byte.
    std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[static_cast<size_t>(targetBytes)]);
    if (!target) return nullptr;

    const uint8_t* sourceBytes = source->GetData();
    switch (sourceFormat) {
        case pfnc::BayerRG8: DemosaicBayerRG8(sourceBytes, width, height, target.get()); break;
        case pfnc::BayerRG12: DemosaicBayerRG12(sourceBytes, width, height, target.get()); break;
        default: DemosaicBayerRG12Packed(sourceBytes, source->GetSizeFilled(), width, height, target.get()); break;
    }
    const uint8_t* targetData = target.get();
    Image* converted = new (std::nothrow)
        Image(targetData, static_cast<size_t>(targetBytes), width, height, pfnc::RGB8, std::move(target));
    return converted;
}

void ImageFactory::Destroy(Image* image) noexcept { delete image; }

}  // namespace orbel::camera::vendor
