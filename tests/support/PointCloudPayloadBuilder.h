// orbel::testing::PointCloudPayloadBuilder: writes valid point-cloud message payloads
// (one scan line) straight from the byte layout, for tests and benchmarks. It shares no
// code with the SDK's decoder, so a fault in one cannot hide in the other: integers are
// written byte by byte, little-endian, whatever the host.
//
//   metadata block 0..254 (version 16 at 3), point header 255..264, then one array per
//   field from 265. Offsets in units of N (point count):
//     field         0x60  0x66  0x6F
//     distance f32     0     0     0
//     x, y, z f32   4,8,12 (all types)
//     reflect. f32    16    16    16
//     rgb 3 x u8       -    20    20
//     ambient u16     20    23    23
//     confid. u32     22    25    25
//     40 bytes/pt      -     -    29..69 (not read; filled with 0xEE here)
//
// Header-only and free of SDK headers, so any suite or benchmark can include it.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace orbel::testing {

struct PayloadPoint {
    float distance = 0;
    float x = 0;
    float y = 0;
    float z = 0;
    float reflectivity = 0;
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint16_t ambient = 0;
    uint32_t confidence = 0;
};

class PointCloudPayloadBuilder {
public:
    static constexpr size_t kPointDataOffset = 265;

    static size_t BytesPerPoint(uint8_t pointType) {
        switch (pointType) {
            case 0x60: return 26;
            case 0x66: return 29;
            case 0x6F: return 69;
            default: throw std::invalid_argument("PointCloudPayloadBuilder: unknown point type");
        }
    }

    // A distinct, exactly representable value for every field of point i.
    static PayloadPoint DefaultPoint(uint32_t i) {
        PayloadPoint p;
        p.distance = 1000.0f + static_cast<float>(i);
        p.x = 0.5f * static_cast<float>(i) - 7.0f;
        p.y = -0.25f * static_cast<float>(i) + 3.0f;
        p.z = 2.0f * static_cast<float>(i) + 0.125f;
        p.reflectivity = static_cast<float>(i % 97) / 4.0f;
        p.red = static_cast<uint8_t>(i * 3 + 1);
        p.green = static_cast<uint8_t>(i * 5 + 2);
        p.blue = static_cast<uint8_t>(i * 7 + 3);
        p.ambient = static_cast<uint16_t>(40000u + i);
        p.confidence = 0x01000000u + i * 17u;
        return p;
    }

    PointCloudPayloadBuilder& PointType(uint8_t type) { pointType_ = type; return *this; }
    PointCloudPayloadBuilder& PointCount(uint32_t count) { count_ = count; return *this; }
    PointCloudPayloadBuilder& FrameNumber(uint32_t frame) { frameNumber_ = frame; return *this; }
    PointCloudPayloadBuilder& LineIndex(uint8_t line) { lineIndex_ = line; return *this; }
    PointCloudPayloadBuilder& Timestamp(uint64_t us) { timestamp_us_ = us; return *this; }
    PointCloudPayloadBuilder& AlternateTimestamp(uint64_t us) { alternateTimestamp_us_ = us; return *this; }
    // The metadata fields that the system carries without interpreting.
    PointCloudPayloadBuilder& Reserved(uint32_t at8, uint8_t at16, uint8_t at18, uint64_t at43) {
        reserved8_ = at8;
        reserved16_ = at16;
        reserved18_ = at18;
        reserved43_ = at43;
        return *this;
    }
    PointCloudPayloadBuilder& ScanInputs(float at63, float at71, uint32_t at79) {
        scanInput63_ = at63;
        scanInput71_ = at71;
        scanValue79_ = at79;
        return *this;
    }
    // The auxiliary block, bytes 141..156, always holds the values 141..156.
    PointCloudPayloadBuilder& AuxiliaryValue(double at157) { auxiliaryValue_ = at157; return *this; }
    PointCloudPayloadBuilder& HeaderFloat(float at260) { headerFloat_ = at260; return *this; }
    // Per-point values; DefaultPoint unless given.
    PointCloudPayloadBuilder& Points(std::function<PayloadPoint(uint32_t)> values) {
        values_ = std::move(values);
        return *this;
    }
    // Bytes after the point data, carried but not read.
    PointCloudPayloadBuilder& TrailingBytes(size_t count) { trailing_ = count; return *this; }

    size_t Size() const { return kPointDataOffset + static_cast<size_t>(count_) * BytesPerPoint(pointType_) + trailing_; }

    std::vector<uint8_t> Build() const {
        std::vector<uint8_t> b(Size(), 0);
        b[3] = 16;
        PutU32(b, 8, reserved8_);
        PutU32(b, 12, frameNumber_);
        b[16] = reserved16_;
        b[17] = lineIndex_;
        b[18] = reserved18_;
        PutU64(b, 19, alternateTimestamp_us_);
        PutU64(b, 27, timestamp_us_);
        PutU64(b, 43, reserved43_);
        PutU32(b, 63, std::bit_cast<uint32_t>(scanInput63_));
        PutU32(b, 71, std::bit_cast<uint32_t>(scanInput71_));
        PutU32(b, 79, scanValue79_);
        for (size_t k = 0; k < 16; ++k) b[141 + k] = static_cast<uint8_t>(141 + k);
        PutU64(b, 157, std::bit_cast<uint64_t>(auxiliaryValue_));

        b[255] = 1;
        PutU32(b, 256, count_);
        PutU32(b, 260, std::bit_cast<uint32_t>(headerFloat_));
        b[264] = pointType_;

        const bool colored = pointType_ != 0x60;
        const size_t n = count_;
        const size_t base = kPointDataOffset;
        const size_t ambientAt = base + (colored ? 23 : 20) * n;
        const size_t confidenceAt = base + (colored ? 25 : 22) * n;
        for (uint32_t i = 0; i < count_; ++i) {
            const PayloadPoint p = values_ ? values_(i) : DefaultPoint(i);
            PutU32(b, base + 4 * i, std::bit_cast<uint32_t>(p.distance));
            PutU32(b, base + 4 * n + 4 * i, std::bit_cast<uint32_t>(p.x));
            PutU32(b, base + 8 * n + 4 * i, std::bit_cast<uint32_t>(p.y));
            PutU32(b, base + 12 * n + 4 * i, std::bit_cast<uint32_t>(p.z));
            PutU32(b, base + 16 * n + 4 * i, std::bit_cast<uint32_t>(p.reflectivity));
            if (colored) {
                b[base + 20 * n + 3 * i] = p.red;
                b[base + 20 * n + 3 * i + 1] = p.green;
                b[base + 20 * n + 3 * i + 2] = p.blue;
            }
            b[ambientAt + 2 * i] = static_cast<uint8_t>(p.ambient);
            b[ambientAt + 2 * i + 1] = static_cast<uint8_t>(p.ambient >> 8);
            PutU32(b, confidenceAt + 4 * i, p.confidence);
        }
        if (pointType_ == 0x6F) std::memset(b.data() + base + 29 * n, 0xEE, 40 * n);
        for (size_t k = 0; k < trailing_; ++k) b[Size() - trailing_ + k] = static_cast<uint8_t>(0xA0 + k);
        return b;
    }

private:
    static void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
        for (size_t k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    static void PutU64(std::vector<uint8_t>& b, size_t at, uint64_t v) {
        for (size_t k = 0; k < 8; ++k) b[at + k] = static_cast<uint8_t>(v >> (8 * k));
    }

    uint8_t pointType_ = 0x60;
    uint32_t count_ = 0;
    uint32_t frameNumber_ = 0;
    uint8_t lineIndex_ = 0;
    uint64_t timestamp_us_ = 0;
    uint64_t alternateTimestamp_us_ = 0;
    uint32_t reserved8_ = 0;
    uint8_t reserved16_ = 0;
    uint8_t reserved18_ = 0;
    uint64_t reserved43_ = 0;
    float scanInput63_ = 0;
    float scanInput71_ = 0;
    uint32_t scanValue79_ = 0;
    double auxiliaryValue_ = 0;
    float headerFloat_ = 0;
    size_t trailing_ = 0;
    std::function<PayloadPoint(uint32_t)> values_;
};

}  // namespace orbel::testing
