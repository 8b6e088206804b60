#include "dataTypes/Image.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

#include <orbel/sdk/Exception.h>

#include "camera/ImageConversion.h"
#include "camera/vendor/GenericException.h"
#include "utilities/LibJpegTurboWrapper.h"
#include "utilities/Logging.h"
#include "utilities/StringConversion.h"

namespace orbel::sdk {

IImage::~IImage() = default;

std::unique_ptr<IImage> CreateImage() { return std::make_unique<orbel::data::Image>(); }

}  // namespace orbel::sdk

namespace orbel::data {
namespace {

using orbel::sdk::PixelFormat;

// Header offsets of the serialised image.
constexpr size_t kVersionOffset = 0;
constexpr size_t kDeviceTimestampOffset = 1;
constexpr size_t kHostTimestampOffset = 9;
constexpr size_t kFrameIdOffset = 17;
constexpr size_t kWidthOffset = 21;
constexpr size_t kHeightOffset = 25;
constexpr size_t kFormatOffset = 29;

template <typename T>
void PutLittleEndian(uint8_t* out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<uint8_t>(static_cast<uint64_t>(value) >> (8 * i));
}

template <typename T>
T GetLittleEndian(const uint8_t* in) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= uint64_t{in[i]} << (8 * i);
    return static_cast<T>(value);
}

[[noreturn]] void ThrowImageError(const std::string& detail) {
    throw orbel::sdk::Exception(detail, orbel::sdk::SensorError::IMAGE_ERROR);
}

std::string LowerHex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

}  // namespace

Image::Image() = default;
Image::~Image() = default;

uint32_t Image::GetWidth() const { return metadata_.width; }
uint32_t Image::GetHeight() const { return metadata_.height; }
PixelFormat Image::GetPixelFormat() const { return metadata_.format; }
const std::vector<uint8_t>& Image::GetData() const { return data_; }
const orbel::sdk::ImageMetadata& Image::GetMetadata() const { return metadata_; }

void Image::SetMetadata(const orbel::sdk::ImageMetadata& metadata) { metadata_ = metadata; }

void Image::SetData(const uint8_t* data, size_t size) {
    data_.resize(size);
    if (size != 0) std::memcpy(data_.data(), data, size);
}

void Image::_ThrowIfEmpty() const {
    if (data_.empty()) ThrowImageError("Image::ThrowIfEmpty: Image contains no data");
}

std::vector<uint8_t> Image::Serialize() const {
    _ThrowIfEmpty();
    std::vector<uint8_t> bytes(kHeaderSize + data_.size(), 0);
    uint8_t* header = bytes.data();
    header[kVersionOffset] = kFormatVersion;
    PutLittleEndian(header + kDeviceTimestampOffset, metadata_.deviceTimestamp_us);
    PutLittleEndian(header + kHostTimestampOffset, metadata_.hostTimestamp_us);
    PutLittleEndian(header + kFrameIdOffset, metadata_.frameId);
    PutLittleEndian(header + kWidthOffset, metadata_.width);
    PutLittleEndian(header + kHeightOffset, metadata_.height);
    header[kFormatOffset] = static_cast<uint8_t>(metadata_.format);
    std::memcpy(bytes.data() + kHeaderSize, data_.data(), data_.size());
    return bytes;
}

void Image::Deserialize(const uint8_t* data, size_t size) {
    if (data == nullptr) ThrowImageError("Image::Deserialize: data pointer is null");
    if (size < kHeaderSize) {
        ThrowImageError("Image::Deserialize: buffer too small. Expected at least " + std::to_string(kHeaderSize) +
                        " bytes, got " + std::to_string(size));
    }
    if (data[kVersionOffset] != kFormatVersion) {
        ThrowImageError("Image::Deserialize: unsupported format version. Expected 0x" + LowerHex(kFormatVersion) +
                        ", got 0x" + LowerHex(data[kVersionOffset]));
    }

    // Built aside and swapped in, so an allocation failure changes nothing.
    orbel::sdk::ImageMetadata metadata;
    metadata.deviceTimestamp_us = GetLittleEndian<uint64_t>(data + kDeviceTimestampOffset);
    metadata.hostTimestamp_us = GetLittleEndian<uint64_t>(data + kHostTimestampOffset);
    metadata.frameId = GetLittleEndian<uint32_t>(data + kFrameIdOffset);
    metadata.width = GetLittleEndian<uint32_t>(data + kWidthOffset);
    metadata.height = GetLittleEndian<uint32_t>(data + kHeightOffset);
    metadata.format = static_cast<PixelFormat>(data[kFormatOffset]);
    std::vector<uint8_t> pixels(data + kHeaderSize, data + size);

    metadata_ = metadata;
    data_.swap(pixels);
}

void Image::Deserialize(const std::vector<uint8_t>& bytes) { Deserialize(bytes.data(), bytes.size()); }

void Image::SaveAsJpeg(const std::filesystem::path& path, int quality, bool subsample) const {
    const uint32_t width = metadata_.width;
    const uint32_t height = metadata_.height;
    const PixelFormat format = metadata_.format;
    if (width == 0 || height == 0) {
        ThrowImageError("Image::SaveAsJpeg: image of " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels has no pixels");
    }
    if (format == PixelFormat::Unknown) ThrowImageError("Image::SaveAsJpeg: pixel format Unknown cannot be saved");
    // Formats outside the enumeration are written as they are, as RGB8.
    const auto known = orbel::camera::RequiredPixelBytes(format, width, height);
    const uint64_t needed = known ? *known : *orbel::camera::RequiredPixelBytes(PixelFormat::RGB8, width, height);
    if (data_.size() < needed) {
        ThrowImageError("Image::SaveAsJpeg: image holds " + std::to_string(data_.size()) + " pixel bytes, its " +
                        std::to_string(width) + " x " + std::to_string(height) + " format " +
                        std::to_string(static_cast<unsigned>(format)) + " needs " + std::to_string(needed));
    }

    std::vector<uint8_t> converted;
    const uint8_t* rgb = data_.data();
    if (format != PixelFormat::RGB8 && known) {
        converted.resize(static_cast<size_t>(*orbel::camera::RequiredPixelBytes(PixelFormat::RGB8, width, height)));
        rgb = converted.data();
    }
    try {
        orbel::camera::ConvertToRGB8(format, data_, converted, width, height);
    } catch (const orbel::camera::vendor::GenericException& e) {
        ORBEL_LOG_INFO(L"GenICam exception while converting to RGB8 during SaveAsJpeg: " +
                       orbel::utilities::ConvertToWStringLossy(e.GetDescription()));
        throw orbel::sdk::Exception(
            std::string("Failed to convert Bayer image to RGB8 for JPEG saving: ") + e.GetDescription(),
            orbel::sdk::SensorError::UNKNOWN_ERROR);
    }

    try {
        orbel::utilities::LibJpegTurboWrapper::SaveImageAsRGB8({width, height, rgb}, path, quality, subsample);
    } catch (const std::runtime_error& e) {
        ORBEL_LOG_INFO(L"Caught libjpeg runtime error: " + orbel::utilities::ConvertToWStringLossy(e.what()));
        throw;
    }
}

}  // namespace orbel::data
