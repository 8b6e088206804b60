// The vendor layer's image record and its factory. Create wraps caller-owned
// bytes (no copy; the bytes must outlive the image); Convert demosaics a
// BayerRG8, BayerRG12 or BayerRG12Packed image (or spreads a Mono8 one over
// the three colours) into a new RGB8 or RGB12 image that owns its bytes; Destroy releases any image. A device's images
// (Device::GetImage) lend the device's buffer: releasing one, by
// Device::RequeueBuffer or Destroy, hands the buffer back to its stream.
// Images are immutable once made, so several threads may read one; the factory
// keeps no state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace orbel::camera::vendor {

// Where a device image's buffer goes back to when the image is released.
class BufferHome {
public:
    virtual ~BufferHome();
    virtual void Return(void* buffer) noexcept = 0;
};

class Image {
public:
    uint32_t GetWidth() const noexcept { return fields_.width; }
    uint32_t GetHeight() const noexcept { return fields_.height; }
    // The PFNC code of the pixel bytes.
    uint64_t GetPixelFormat() const noexcept { return fields_.pixelFormat; }
    const uint8_t* GetData() const noexcept { return fields_.data; }
    size_t GetSizeFilled() const noexcept { return fields_.size; }
    // Set when part of the image was lost on its way: the stream reported a
    // loss, or it holds fewer bytes than its size and format need.
    bool IsIncomplete() const noexcept { return fields_.incomplete; }
    bool HasImageData() const noexcept { return fields_.hasImageData; }
    // The device's frame counter and time stamp; 0 for images the factory makes.
    uint64_t GetFrameId() const noexcept { return fields_.frameId; }
    uint64_t GetTimestampNs() const noexcept { return fields_.timestampNs; }

    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

private:
    friend class ImageFactory;
    friend class Device;

    struct Fields {
        const uint8_t* data = nullptr;
        size_t size = 0;
        uint32_t width = 0;
        uint32_t height = 0;
        uint64_t pixelFormat = 0;
        uint64_t frameId = 0;
        uint64_t timestampNs = 0;
        bool incomplete = false;
        bool hasImageData = false;
    };

    Image(const Fields& fields, std::unique_ptr<uint8_t[]> owned) noexcept;
    Image(const Fields& fields, void* buffer, std::shared_ptr<BufferHome> home) noexcept;
    ~Image();

    Fields fields_;
    std::unique_ptr<uint8_t[]> owned_;
    void* buffer_ = nullptr;
    std::shared_ptr<BufferHome> home_;
};

class ImageFactory {
public:
    // Throws GenericException for null data, a zero dimension, an unknown code
    // or a size below what the code and dimensions need.
    static Image* Create(const uint8_t* data, size_t size, uint32_t width, uint32_t height, uint64_t pixelFormat);

    // Bayer RG sources (8-bit, 12-bit, 12-bit packed) and Mono8 into an RGB8 or
    // RGB12 target, Bayer algorithm 0; a source already in the target format is copied.
    // Anything else, or a source holding fewer bytes than its format and size
    // need, throws GenericException. Returns null when the memory cannot be had.
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
