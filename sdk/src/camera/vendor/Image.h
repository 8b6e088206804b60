// The vendor layer's image record and its factory: Create wraps caller-owned
// bytes (no copy; the bytes must outlive the image), Convert demosaics a
// BayerRG8, BayerRG12 or BayerRG12Packed image into a new RGB8 image that owns
// its bytes, Destroy releases either kind. Images are immutable once made, so
// several threads may read one; the factory keeps no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orbel::camera::vendor {

class Image {
public:
    uint32_t GetWidth() const noexcept { return width_; }
    uint32_t GetHeight() const noexcept { return height_; }
    // The PFNC code of the pixel bytes.
    uint64_t GetPixelFormat() const noexcept { return pixelFormat_; }
    const uint8_t* GetData() const noexcept { return data_; }
    size_t GetSizeFilled() const noexcept { return size_; }

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

private:
    friend class ImageFactory;
    Image(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint64_t pixelFormat,
          std::unique_ptr<uint8_t[]> owned) noexcept;
    ~Image();

    const uint8_t* data_;
    size_t size_;
    uint32_t width_;
    uint32_t height_;
    uint64_t pixelFormat_;
    std::unique_ptr<uint8_t[]> owned_;
};

class ImageFactory {
public:
    // Throws GenericException for null data, a zero dimension, an unknown code
    // or a size below what the code and dimensions need.
    static Image* Create(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint64_t pixelFormat);

    // Only Bayer RG sources, the RGB8 target and Bayer algorithm 0 are supported
    // (GenericException otherwise). Returns null when the memory cannot be had.
    static Image* Convert(const Image* source, uint64_t pixelFormat, int bayerAlgorithm);

    // Accepts null.
    static void Destroy(Image* image) noexcept;
};

struct ImageDestroyer {
    void operator()(Image* image) const noexcept { ImageFactory::Destroy(image); }
};

// An image that the factory destroys when the handle goes.
using ImageHandle = std::unique_ptr<Image, ImageDestroyer>;

}  // namespace orbel::camera::vendor
