// Decoding and re-encoding of the point-cloud message payload for LazyPointCloud,
// and the exported factory CreatePointCloud. All sizes are computed in 64 bits so that
// N up to 2^32 - 1 cannot wrap a size check.
#include "dataTypes/LazyPointCloud.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <type_traits>

namespace orbel::data {
namespace {

using orbel::sdk::RGB;

// The payload is little-endian IEEE 754; the arrays are block-copied as they stand.
static_assert(std::endian::native == std::endian::little, "block copies assume a little-endian host");
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);
static_assert(sizeof(RGB) == 3 && std::is_trivially_copyable_v<RGB>, "colours are copied as 3-byte blocks");

constexpr size_t kMetadataVersionOffset = 3;
constexpr uint8_t kMetadataVersion = 16;
constexpr size_t kMetadataSize = 255;
constexpr size_t kPointVersionOffset = 255;
constexpr uint8_t kPointVersion = 1;
constexpr size_t kPointCountOffset = 256;
constexpr size_t kHeaderValueOffset = 260;
constexpr size_t kPointTypeOffset = 264;
constexpr size_t kPointDataOffset = 265;

constexpr uint8_t kTypeBasic = 0x60;
constexpr uint8_t kTypeColor = 0x66;
constexpr uint8_t kTypeFull = 0x6F;

// Bytes one point takes in a message of this type; 0 for a type the cloud does not read.
uint64_t BytesPerPoint(uint8_t pointType) {
    switch (pointType) {
        case kTypeBasic: return 26;
        case kTypeColor: return 29;
        case kTypeFull: return 69;
        default: return 0;
    }
}

bool HasColors(uint8_t pointType) { return pointType == kTypeColor || pointType == kTypeFull; }

template <typename T>
T Read(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof(T));
    return value;
}

template <typename T>
uint8_t* Append(uint8_t* out, const std::vector<T>& values) {
    if (!values.empty()) std::memcpy(out, values.data(), values.size() * sizeof(T));
    return out + values.size() * sizeof(T);
}

[[noreturn]] void Fail(const char* text) { throw std::runtime_error(text); }

}  // namespace

void LazyPointCloud::_Validate(const uint8_t* data, size_t size) {
    // A null pointer carries no bytes, whatever size comes with it.
    if (data == nullptr || size == 0) Fail("The provided data was empty.");
    if (size < kMetadataVersionOffset + 1) Fail("Message is too small to contain version data.");
    if (data[kMetadataVersionOffset] != kMetadataVersion) Fail("Incorrect metadata version number");
    if (size < kMetadataSize) Fail("The message is too small for a valid metadata message of the provided version.");
    if (size < kPointDataOffset) Fail("The message is too small for a valid point cloud message.");
    if (data[kPointVersionOffset] != kPointVersion) Fail("Unsupported point cloud data version.");
    const uint64_t bytesPerPoint = BytesPerPoint(data[kPointTypeOffset]);
    if (bytesPerPoint == 0) Fail("Unsupported point cloud data type.");
    const uint64_t count = Read<uint32_t>(data + kPointCountOffset);
    if (static_cast<uint64_t>(size) < kPointDataOffset + count * bytesPerPoint)
        Fail("Insufficient data for point cloud message.");
}

void LazyPointCloud::Deserialize(const uint8_t* data, size_t size) {
    _Validate(data, size);
    const uint8_t* ownBegin = bytes_.data();
    const uint8_t* ownEnd = ownBegin + bytes_.size();
    const bool insideOwnBytes =
        !bytes_.empty() && std::less_equal<const uint8_t*>{}(ownBegin, data) && std::less<const uint8_t*>{}(data, ownEnd);
    if (data == ownBegin && size == bytes_.size()) {
        // Already the stored message: nothing to copy.
    } else if (insideOwnBytes) {
        // A part of the stored message: assign() must not read from the vector it rewrites.
        std::vector<uint8_t> copy(data, data + size);
        bytes_.swap(copy);
    } else {
        bytes_.assign(data, data + size);
    }
    _Load();
}

void LazyPointCloud::Deserialize(const std::vector<uint8_t>& bytes) {
    if (&bytes == &bytes_) {
        _Validate(bytes_.data(), bytes_.size());
        _Load();
        return;
    }
    Deserialize(bytes.data(), bytes.size());
}

void LazyPointCloud::_Load() {
    xyzCached_ = false;
    distanceCached_ = false;
    reflectivityCached_ = false;
    ambientCached_ = false;
    confidenceCached_ = false;
    auxiliaryInfoCached_ = false;
    scanInfoCached_ = false;
    colorsValid_ = false;
    colors_.clear();

    const uint8_t* b = bytes_.data();
    metadata_.alternateTimestamp_us = Read<uint64_t>(b + 19);
    metadata_.timestamp_us = Read<uint64_t>(b + 27);
    metadata_.reserved43 = Read<uint64_t>(b + 43);
    metadata_.frameNumber = Read<uint32_t>(b + 12);
    metadata_.lineIndex = b[17];
    metadata_.reserved16 = b[16];
    metadata_.reserved8 = Read<uint32_t>(b + 8);
    metadata_.reserved18 = b[18];

    pointCount_ = Read<uint32_t>(b + kPointCountOffset);
    headerValue_ = Read<float>(b + kHeaderValueOffset);
    pointType_ = b[kPointTypeOffset];
}

void LazyPointCloud::_ThrowIfEmpty() const {
    if (bytes_.empty()) Fail("This point cloud is empty");
}

size_t LazyPointCloud::_FieldOffset(Field field) const {
    const bool colored = HasColors(pointType_);
    uint64_t multiple = 0;
    switch (field) {
        case Field::Distance: multiple = 0; break;
        case Field::X: multiple = 4; break;
        case Field::Y: multiple = 8; break;
        case Field::Z: multiple = 12; break;
        case Field::Reflectivity: multiple = 16; break;
        case Field::Color: multiple = 20; break;
        case Field::Ambient: multiple = colored ? 23 : 20; break;
        case Field::Confidence: multiple = colored ? 25 : 22; break;
    }
    return static_cast<size_t>(kPointDataOffset + multiple * pointCount_);
}

template <typename T>
void LazyPointCloud::_DecodeArray(Field field, std::vector<T>& cache) const {
    const size_t count = static_cast<size_t>(pointCount_);
    cache.resize(count);
    if (count != 0) std::memcpy(cache.data(), bytes_.data() + _FieldOffset(field), count * sizeof(T));
}

size_t LazyPointCloud::GetPointCount() const { return static_cast<size_t>(pointCount_); }

const std::vector<float>& LazyPointCloud::GetX() {
    if (!xyzCached_) {
        _ThrowIfEmpty();
        _DecodeArray(Field::X, x_);
        _DecodeArray(Field::Y, y_);
        _DecodeArray(Field::Z, z_);
        xyzCached_ = true;
    }
    return x_;
}

const std::vector<float>& LazyPointCloud::GetY() {
    GetX();
    return y_;
}

const std::vector<float>& LazyPointCloud::GetZ() {
    GetX();
    return z_;
}

const std::vector<float>& LazyPointCloud::GetDistance() {
    if (!distanceCached_) {
        _ThrowIfEmpty();
        _DecodeArray(Field::Distance, distance_);
        distanceCached_ = true;
    }
    return distance_;
}

const std::vector<float>& LazyPointCloud::GetReflectivity() {
    if (!reflectivityCached_) {
        _ThrowIfEmpty();
        _DecodeArray(Field::Reflectivity, reflectivity_);
        reflectivityCached_ = true;
    }
    return reflectivity_;
}

const std::vector<uint16_t>& LazyPointCloud::GetAmbient() {
    if (!ambientCached_) {
        _ThrowIfEmpty();
        _DecodeArray(Field::Ambient, ambient_);
        ambientCached_ = true;
    }
    return ambient_;
}

const std::vector<uint32_t>& LazyPointCloud::GetConfidence() {
    if (!confidenceCached_) {
        _ThrowIfEmpty();
        _DecodeArray(Field::Confidence, confidence_);
        confidenceCached_ = true;
    }
    return confidence_;
}

const orbel::sdk::AuxiliaryInfo& LazyPointCloud::GetAuxiliaryInfo() {
    if (!auxiliaryInfoCached_) {
        _ThrowIfEmpty();
        std::memcpy(auxiliaryInfo_.block.data(), bytes_.data() + 141, auxiliaryInfo_.block.size());
        auxiliaryInfo_.value = Read<double>(bytes_.data() + 157);
        auxiliaryInfoCached_ = true;
    }
    return auxiliaryInfo_;
}

const orbel::sdk::ScanInfo& LazyPointCloud::GetScanInfo() {
    if (!scanInfoCached_) {
        _ThrowIfEmpty();
        scanInfo_.value = Read<uint32_t>(bytes_.data() + 79);
        scanInfo_.maxInput = std::max(Read<float>(bytes_.data() + 63), Read<float>(bytes_.data() + 71));
        scanInfoCached_ = true;
    }
    return scanInfo_;
}

const orbel::sdk::PointCloudMetadata& LazyPointCloud::GetMetadata() const { return metadata_; }

uint64_t LazyPointCloud::GetTimestamp() const { return GetMetadata().timestamp_us; }

uint64_t LazyPointCloud::GetAlternateTimestamp() const { return GetMetadata().alternateTimestamp_us; }

const std::vector<RGB>& LazyPointCloud::GetColors() {
    if (!colorsValid_ && HasColors(pointType_)) {
        _DecodeArray(Field::Color, colors_);
        colorsValid_ = true;
    }
    return colors_;
}

void LazyPointCloud::SetColors(const std::vector<RGB>& colors) {
    if (colors.size() != GetPointCount()) Fail("Color count does not match number of points");
    colors_ = colors;
    // Colour-carrying messages take the colours in place, so Serialize needs no rewrite.
    if (HasColors(pointType_) && !colors_.empty())
        std::memcpy(bytes_.data() + _FieldOffset(Field::Color), colors_.data(), colors_.size() * sizeof(RGB));
}

const std::vector<uint8_t>& LazyPointCloud::Serialize() {
    if (!colors_.empty() && pointType_ == kTypeBasic) _RewriteWithColors();
    return bytes_;
}

// Builds the whole 0x66 message aside and swaps it in, so a failure leaves the 0x60 one.
void LazyPointCloud::_RewriteWithColors() {
    const std::vector<float>& distance = GetDistance();
    const std::vector<float>& x = GetX();
    const std::vector<float>& reflectivity = GetReflectivity();
    const std::vector<uint16_t>& ambient = GetAmbient();
    const std::vector<uint32_t>& confidence = GetConfidence();

    std::vector<uint8_t> rewritten(static_cast<size_t>(kPointDataOffset + BytesPerPoint(kTypeColor) * pointCount_), 0);
    std::memcpy(rewritten.data(), bytes_.data(), kPointDataOffset);
    rewritten[kPointTypeOffset] = kTypeColor;
    uint8_t* out = rewritten.data() + kPointDataOffset;
    out = Append(out, distance);
    out = Append(out, x);
    out = Append(out, y_);
    out = Append(out, z_);
    out = Append(out, reflectivity);
    out = Append(out, colors_);
    out = Append(out, ambient);
    Append(out, confidence);

    bytes_.swap(rewritten);
    pointType_ = kTypeColor;
}

}  // namespace orbel::data

namespace orbel::sdk {

std::unique_ptr<IPointCloud> CreatePointCloud() { return std::make_unique<orbel::data::LazyPointCloud>(); }

}  // namespace orbel::sdk
