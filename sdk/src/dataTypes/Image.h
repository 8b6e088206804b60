// orbel::data::Image: the SDK's camera image, its serialised form (a 64-byte
// little-endian header, then the pixel bytes) and JPEG saving through the
// RGB8 conversions. No lock: const operations may run on several threads at
// once; Deserialize, SetMetadata and SetData need exclusive use. A failed
// Deserialize leaves the image as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include <orbel/sdk/IImage.h>

namespace orbel::data {

class Image final : public orbel::sdk::IImage {
public:
    static constexpr size_t kHeaderSize = 64;
    static constexpr uint8_t kFormatVersion = 1;

    Image();
    ~Image() override;

    uint32_t GetWidth() const override;
    uint32_t GetHeight() const override;
    orbel::sdk::PixelFormat GetPixelFormat() const override;
    const std::vector<uint8_t>& GetData() const override;
    const orbel::sdk::ImageMetadata& GetMetadata() const override;

    // Throws IMAGE_ERROR when the image holds no pixels.
    std::vector<uint8_t> Serialize() const override;
    // Throws IMAGE_ERROR for null data, fewer than 64 bytes or a version other
    // than 1. Width, height and format are taken as stored.
    void Deserialize(const uint8_t* data, size_t size) override;
    void Deserialize(const std::vector<uint8_t>& bytes) override;

    // Refuses (IMAGE_ERROR) a zero dimension, the Unknown format and fewer pixel
    // bytes than format and size need; formats outside the enumeration are
    // written as RGB8. Writer failures are std::runtime_error.
    void SaveAsJpeg(const std::filesystem::path& path, int quality, bool subsample) const override;

    void SetMetadata(const orbel::sdk::ImageMetadata& metadata);
    void SetData(const uint8_t* data, size_t size);

private:
    void _ThrowIfEmpty() const;

    orbel::sdk::ImageMetadata metadata_;
    std::vector<uint8_t> data_;
};

}  // namespace orbel::data
