// One camera image: metadata, pixel bytes, its serialised form (64-byte header
// plus pixels) and JPEG saving. No lock: const operations may run concurrently,
// Deserialize needs exclusive use. Failures are orbel::sdk::Exception.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include <orbel/sdk/Export.h>

namespace orbel::sdk {

enum class PixelFormat : uint8_t {
    Unknown = 0,
    BayerRG8 = 1,
    BayerRG12 = 2,
    BayerRG12Packed = 3,
    RGB8 = 4,
    RGB12 = 5,
};

struct ImageMetadata {
    uint64_t deviceTimestamp_us = 0;
    uint64_t hostTimestamp_us = 0;
    uint32_t frameId = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    PixelFormat format = PixelFormat::Unknown;
};

class ORBEL_SDK_API IImage {
public:
    virtual ~IImage();
    virtual uint32_t GetWidth() const = 0;
    virtual uint32_t GetHeight() const = 0;
    virtual PixelFormat GetPixelFormat() const = 0;
    virtual const std::vector<uint8_t>& GetData() const = 0;
    virtual const ImageMetadata& GetMetadata() const = 0;
    virtual std::vector<uint8_t> Serialize() const = 0;
    virtual void Deserialize(const uint8_t* data, size_t size) = 0;
    virtual void Deserialize(const std::vector<uint8_t>& bytes) = 0;
    virtual void SaveAsJpeg(const std::filesystem::path& path, int quality, bool subsample) const = 0;
};

// A new, empty image.
ORBEL_SDK_API std::unique_ptr<IImage> CreateImage();

}  // namespace orbel::sdk
