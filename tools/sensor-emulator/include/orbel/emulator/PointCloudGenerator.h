// The emulator's point-cloud payload encoder (written apart from the SDK's decoder)
// and the scene it scans: a room (front wall, two side walls, floor, ceiling) with a
// box moving across it, seen from a sensor at the origin (x forward, y left, z up,
// millimetres). Each of the 56 lines of a frame is one elevation angle, its points
// spread evenly over the horizontal field of view.
//
// Payload: 255-byte metadata block (version 16 at byte 3, u32 frame number at 12,
// line index at 17, u64 alternate time stamp at 19, u64 time stamp at 27, and, as the
// emulator's latency hook, the u64 steady-clock send time in microseconds at 43, a
// field no receiver interprets), the 10-byte point header (version 1 at 255, u32 N at
// 256, f32 0 at 260, type at 264) and one little-endian array per field from 265.
//
// Everything static is computed once at construction: the ray of every point and the
// complete point data of every line as the room alone returns it. Writing a line is a
// block copy plus the few points that hit the box, so a paced stream costs little.
// A generator is immutable after construction; const members are safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace orbel::emulator {

enum class PointType : uint8_t {
    Basic = 0x60,     // distance, x, y, z, reflectivity, ambient, confidence: 26 bytes a point
    Coloured = 0x66,  // + RGB: 29 bytes a point
    Extended = 0x6F,  // + RGB + 40 further bytes: 69 bytes a point
};

size_t BytesPerPoint(PointType type);
bool IsPointType(uint8_t value);

namespace payload {
inline constexpr size_t kMetadataSize = 255;
inline constexpr size_t kPointDataOffset = 265;
inline constexpr size_t kMetadataVersionOffset = 3;
inline constexpr size_t kFrameNumberOffset = 12;
inline constexpr size_t kLineIndexOffset = 17;
inline constexpr size_t kAlternateTimestampOffset = 19;
inline constexpr size_t kTimestampOffset = 27;
inline constexpr size_t kSendTimeOffset = 43;
inline constexpr size_t kPointDataVersionOffset = 255;
inline constexpr size_t kPointCountOffset = 256;
inline constexpr size_t kPointTypeOffset = 264;
inline constexpr uint8_t kMetadataVersion = 16;
inline constexpr uint8_t kPointDataVersion = 1;
}  // namespace payload

inline constexpr uint32_t kLinesPerFrame = 56;

// The per-line values that change from message to message.
struct LineStamp {
    uint32_t frameNumber = 0;
    uint8_t lineIndex = 0;
    uint64_t timestamp_us = 0;
    uint64_t alternateTimestamp_us = 0;
    uint64_t sendTime_us = 0;  // steady clock, microseconds since its epoch
};

class PointCloudGenerator {
public:
    static constexpr double kHorizontalFieldOfView_deg = 120.0;
    static constexpr double kVerticalFieldOfView_deg = 40.0;
    // Bounds the precomputed lines (56 x N x 69 bytes at most, about 60 MiB).
    static constexpr uint32_t kMaxPointsPerLine = 16384;

    // Throws std::invalid_argument for 0 or more than kMaxPointsPerLine points.
    PointCloudGenerator(uint32_t pointsPerLine, PointType type);

    uint32_t PointsPerLine() const { return points_; }
    PointType Type() const { return type_; }
    size_t PayloadSize() const { return payload::kPointDataOffset + points_ * BytesPerPoint(type_); }

    // Writes the whole payload of one line, the box placed where it is in stamp's
    // frame. out must hold PayloadSize() bytes; the line index must be below 56.
    void WriteLine(std::span<uint8_t> out, const LineStamp& stamp) const;
    std::vector<uint8_t> MakeLine(const LineStamp& stamp) const;

    // Writes only the stamp's fields (frame number, line index, time stamps, send time).
    static void WriteStamp(std::span<uint8_t> payload, const LineStamp& stamp);

    // Where the box's centre is (y, millimetres) in a frame; it sweeps from side to side.
    static double BoxCentreY_mm(uint32_t frameNumber);

private:
    struct Ray {
        double x, y, z;
    };

    // Writes every field of one point into the point data (the arrays from byte 265).
    void WritePoint(uint8_t* pointData, size_t index, const Ray& ray, double distance_m, int surface,
                    double incidence) const;

    uint32_t points_;
    PointType type_;
    std::vector<Ray> rays_;                     // kLinesPerFrame x points_, line-major
    std::vector<std::vector<uint8_t>> rooms_;  // per line: the point data with the room alone
};

}  // namespace orbel::emulator
