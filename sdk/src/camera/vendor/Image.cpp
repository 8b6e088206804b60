#include "camera/vendor/Image.h"

#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "camera/vendor/BayerDemosaic.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Pfnc.h"

namespace orbel::camera::vendor {

// RGB12 samples are written as native 16-bit words and read back as little-endian bytes.
static_assert(std::endian::native == std::endian::little);

BufferHome::~BufferHome() = default;

Image::Image(const Fields& fields, std::unique_ptr<uint8_t[]> owned) noexcept
    : fields_(fields), owned_(std::move(owned)) {}

Image::Image(const Fields& fields, void* buffer, std::shared_ptr<BufferHome> home) noexcept
    : fields_(fields), buffer_(buffer), home_(std::move(home)) {}

Image::~Image() {
    if (home_) home_->Return(buffer_);
}

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
    Image::Fields fields;
    fields.data = data;
    fields.size = size;
    fields.width = width;
    fields.height = height;
    fields.pixelFormat = pixelFormat;
    fields.hasImageData = true;
    return new Image(fields, nullptr);
}

Image* ImageFactory::Convert(const Image* source, uint64_t pixelFormat, int bayerAlgorithm) {
    if (source == nullptr) throw GenericException("ImageFactory::Convert: source image is null");
    if (pixelFormat != pfnc::RGB8 && pixelFormat != pfnc::RGB12) {
        throw GenericException("ImageFactory::Convert: unsupported target pixel format " + std::to_string(pixelFormat));
    }
    if (bayerAlgorithm != 0) {
        throw GenericException("ImageFactory::Convert: unsupported Bayer algorithm " + std::to_string(bayerAlgorithm));
    }
    const uint64_t sourceFormat = source->GetPixelFormat();
    const bool bayer =
        sourceFormat == pfnc::BayerRG8 || sourceFormat == pfnc::BayerRG12 || sourceFormat == pfnc::BayerRG12Packed;
    const bool mono = sourceFormat == pfnc::Mono8;
    if (!bayer && !mono && sourceFormat != pixelFormat) {
        throw GenericException("ImageFactory::Convert: unsupported source pixel format " +
                               std::to_string(sourceFormat));
    }

    const uint32_t width = source->GetWidth();
    const uint32_t height = source->GetHeight();
    // Device images carry what the device sent, so the size is checked here too.
    const uint64_t sourceBytes = pfnc::PixelBytes(sourceFormat, width, height).value_or(0);
    if (width == 0 || height == 0 || source->GetData() == nullptr || source->GetSizeFilled() < sourceBytes) {
        throw GenericException("ImageFactory::Convert: the " + std::to_string(width) + " x " + std::to_string(height) +
                               " source holds " + std::to_string(source->GetSizeFilled()) + " bytes, its format needs " +
                               std::to_string(sourceBytes));
    }
    const uint64_t targetBytes = *pfnc::PixelBytes(pixelFormat, width, height);
    if (targetBytes > std::numeric_limits<size_t>::max()) return nullptr;
    // Left uninitialised: the demosaic or the copy writes every byte.
    std::unique_ptr<uint8_t[]> target(new (std::nothrow) uint8_t[static_cast<size_t>(targetBytes)]);
    if (!target) return nullptr;

    const uint8_t* in = source->GetData();
    const size_t pixels = size_t{width} * height;
    if (mono && pixelFormat == pfnc::RGB8) {
        uint8_t* out = target.get();
        for (size_t i = 0; i < pixels; ++i, out += 3) out[0] = out[1] = out[2] = in[i];
    } else if (mono) {
        auto* out = reinterpret_cast<uint16_t*>(target.get());
        for (size_t i = 0; i < pixels; ++i, out += 3) {
            out[0] = out[1] = out[2] = static_cast<uint16_t>(in[i] << 4 | in[i] >> 4);
        }
    } else if (!bayer) {
        std::memcpy(target.get(), in, static_cast<size_t>(targetBytes));
    } else if (pixelFormat == pfnc::RGB8) {
        switch (sourceFormat) {
            case pfnc::BayerRG8: DemosaicBayerRG8(in, width, height, target.get()); break;
            case pfnc::BayerRG12: DemosaicBayerRG12(in, width, height, target.get()); break;
            default: DemosaicBayerRG12Packed(in, source->GetSizeFilled(), width, height, target.get()); break;
        }
    } else {
        // operator new[] aligns for every fundamental type, so the bytes hold 16-bit words.
        auto* words = reinterpret_cast<uint16_t*>(target.get());
        switch (sourceFormat) {
            case pfnc::BayerRG8: DemosaicBayerRG8To12(in, width, height, words); break;
            case pfnc::BayerRG12: DemosaicBayerRG12To12(in, width, height, words); break;
            default: DemosaicBayerRG12PackedTo12(in, source->GetSizeFilled(), width, height, words); break;
        }
    }
    Image::Fields fields;
    fields.data = target.get();
    fields.size = static_cast<size_t>(targetBytes);
    fields.width = width;
    fields.height = height;
    fields.pixelFormat = pixelFormat;
    fields.frameId = source->GetFrameId();
    fields.timestampNs = source->GetTimestampNs();
    fields.hasImageData = true;
    return new (std::nothrow) Image(fields, std::move(target));
}

void ImageFactory::Destroy(Image* image) noexcept { delete image; }

}  // namespace orbel::camera::vendor
