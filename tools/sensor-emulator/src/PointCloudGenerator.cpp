// Scene ray casting and point-cloud payload encoding (see PointCloudGenerator.h).
#include <orbel/emulator/PointCloudGenerator.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <stdexcept>

#include "ByteOrder.h"

namespace orbel::emulator {

namespace {

// The room, in metres, around the sensor at the origin.
constexpr double kFrontWallX = 9.0;
constexpr double kSideWallY = 6.0;   // walls at +y and -y
constexpr double kFloorZ = -1.5;
constexpr double kCeilingZ = 2.5;

// The box: stands on the floor at a fixed depth and sweeps along y.
constexpr double kBoxCentreX = 4.5;
constexpr double kBoxHalfX = 0.5;
constexpr double kBoxHalfY = 0.5;
constexpr double kBoxTopZ = 0.3;
constexpr double kBoxTravelY = 4.0;      // sweeps between -4 m and +4 m
constexpr double kBoxStepPerFrame = 0.08;  // metres per frame (1.6 m/s at 20 frames per second)

enum Surface { kFront, kLeftWall, kRightWall, kFloor, kCeiling, kBox };

struct Hit {
    double t = std::numeric_limits<double>::infinity();  // distance along the unit ray, metres
    int surface = kFront;
    double incidence = 1.0;  // |cos| between ray and surface normal
};

struct Rgb {
    uint8_t r, g, b;
};

void Consider(Hit& best, double t, int surface, double incidence) {
    if (t > 0 && t < best.t) best = {t, surface, incidence};
}

Hit CastRoom(double dx, double dy, double dz) {
    Hit hit;
    if (dx > 0) Consider(hit, kFrontWallX / dx, kFront, dx);
    if (dy > 0) Consider(hit, kSideWallY / dy, kLeftWall, dy);
    if (dy < 0) Consider(hit, -kSideWallY / dy, kRightWall, -dy);
    if (dz < 0) Consider(hit, kFloorZ / dz, kFloor, -dz);
    if (dz > 0) Consider(hit, kCeilingZ / dz, kCeiling, dz);
    return hit;
}

// Slab test of a ray from the origin against the axis-aligned box.
Hit CastBox(double dx, double dy, double dz, double centreY) {
    const double lo[3] = {kBoxCentreX - kBoxHalfX, centreY - kBoxHalfY, kFloorZ};
    const double hi[3] = {kBoxCentreX + kBoxHalfX, centreY + kBoxHalfY, kBoxTopZ};
    const double d[3] = {dx, dy, dz};
    double tNear = 0.0;
    double tFar = std::numeric_limits<double>::infinity();
    int nearAxis = 0;
    for (int axis = 0; axis < 3; ++axis) {
        if (d[axis] == 0.0) {
            if (lo[axis] > 0.0 || hi[axis] < 0.0) return {};
            continue;
        }
        double t1 = lo[axis] / d[axis];
        double t2 = hi[axis] / d[axis];
        if (t1 > t2) std::swap(t1, t2);
        if (t1 > tNear) {
            tNear = t1;
            nearAxis = axis;
        }
        tFar = std::min(tFar, t2);
        if (tNear > tFar) return {};
    }
    if (tNear <= 0.0) return {};
    return {tNear, kBox, std::abs(d[nearAxis])};
}

double Reflectivity(int surface, double incidence, double hitX, double hitY) {
    double base = 40.0;
    switch (surface) {
        case kFront:  // painted stripes one metre wide
            base = (static_cast<int>(std::floor(hitY)) & 1) ? 75.0 : 55.0;
            break;
        case kLeftWall:
        case kRightWall:
            base = 45.0;
            break;
        case kFloor:  // one-metre tiles
            base = (static_cast<int>(std::floor(hitX) + std::floor(hitY)) & 1) ? 30.0 : 22.0;
            break;
        case kCeiling:
            base = 35.0;
            break;
        case kBox:
            base = 90.0;
            break;
    }
    return base * (0.4 + 0.6 * incidence);
}

Rgb Colour(int surface, double incidence, double hitY) {
    Rgb c{200, 190, 170};
    switch (surface) {
        case kFront:
            c = (static_cast<int>(std::floor(hitY)) & 1) ? Rgb{120, 140, 170} : Rgb{205, 195, 175};
            break;
        case kLeftWall:
        case kRightWall:
            c = {170, 180, 200};
            break;
        case kFloor:
            c = {115, 110, 105};
            break;
        case kCeiling:
            c = {235, 235, 230};
            break;
        case kBox:
            c = {220, 60, 40};
            break;
    }
    const double shade = 0.5 + 0.5 * incidence;
    return {static_cast<uint8_t>(c.r * shade), static_cast<uint8_t>(c.g * shade), static_cast<uint8_t>(c.b * shade)};
}

}  // namespace

size_t BytesPerPoint(PointType type) {
    switch (type) {
        case PointType::Basic:
            return 26;
        case PointType::Coloured:
            return 29;
        case PointType::Extended:
            return 69;
    }
    throw std::invalid_argument("unknown point type");
}

bool IsPointType(uint8_t value) { return value == 0x60 || value == 0x66 || value == 0x6F; }

double PointCloudGenerator::BoxCentreY_mm(uint32_t frameNumber) {
    const double period = 4.0 * kBoxTravelY;
    const double travelled = std::fmod(frameNumber * kBoxStepPerFrame, period);
    return 1000.0 * (kBoxTravelY - std::abs(travelled - 2.0 * kBoxTravelY));
}

PointCloudGenerator::PointCloudGenerator(uint32_t pointsPerLine, PointType type) : points_(pointsPerLine), type_(type) {
    BytesPerPoint(type);  // rejects a value outside the enumeration
    if (points_ == 0 || points_ > kMaxPointsPerLine) throw std::invalid_argument("points per line out of range");
    const double toRad = std::numbers::pi / 180.0;
    rays_.reserve(size_t{kLinesPerFrame} * points_);
    rooms_.resize(kLinesPerFrame);
    for (uint32_t line = 0; line < kLinesPerFrame; ++line) {
        // Line 0 looks highest; the points run from the left (+y) to the right.
        const double elevation = (kVerticalFieldOfView_deg / 2 - kVerticalFieldOfView_deg * line / (kLinesPerFrame - 1)) * toRad;
        std::vector<uint8_t>& room = rooms_[line];
        room.assign(size_t{points_} * BytesPerPoint(type_), 0);
        for (uint32_t p = 0; p < points_; ++p) {
            const double azimuth = (kHorizontalFieldOfView_deg / 2 - kHorizontalFieldOfView_deg * (p + 0.5) / points_) * toRad;
            const Ray ray{std::cos(elevation) * std::cos(azimuth), std::cos(elevation) * std::sin(azimuth), std::sin(elevation)};
            rays_.push_back(ray);
            const Hit hit = CastRoom(ray.x, ray.y, ray.z);
            WritePoint(room.data(), p, ray, hit.t, hit.surface, hit.incidence);
        }
    }
}

void PointCloudGenerator::WritePoint(uint8_t* data, size_t i, const Ray& ray, double distance_m, int surface,
                                     double incidence) const {
    const size_t n = points_;
    const double hitX_m = ray.x * distance_m;
    const double hitY_m = ray.y * distance_m;
    const double hitZ_m = ray.z * distance_m;
    const float x = static_cast<float>(hitX_m * 1000.0);
    const float y = static_cast<float>(hitY_m * 1000.0);
    const float z = static_cast<float>(hitZ_m * 1000.0);
    // The distance is derived from the stored coordinates so that both agree exactly.
    const float distance = static_cast<float>(std::sqrt(double{x} * x + double{y} * y + double{z} * z));
    const double reflectivity = Reflectivity(surface, incidence, hitX_m, hitY_m);
    const auto ambient = static_cast<uint16_t>(std::clamp(150.0 + 120.0 * (hitZ_m - kFloorZ), 0.0, 765.0));
    const auto confidence =
        static_cast<uint32_t>(std::clamp(std::lround(100.0 * incidence * (1.0 - distance_m / 25.0)), 1L, 100L));

    WriteLEFloat(data + 4 * i, distance);
    WriteLEFloat(data + 4 * n + 4 * i, x);
    WriteLEFloat(data + 8 * n + 4 * i, y);
    WriteLEFloat(data + 12 * n + 4 * i, z);
    WriteLEFloat(data + 16 * n + 4 * i, static_cast<float>(reflectivity));
    size_t next = 20 * n;
    if (type_ != PointType::Basic) {
        const Rgb c = Colour(surface, incidence, hitY_m);
        data[next + 3 * i] = c.r;
        data[next + 3 * i + 1] = c.g;
        data[next + 3 * i + 2] = c.b;
        next += 3 * n;
    }
    WriteLE16(data + next + 2 * i, ambient);
    WriteLE32(data + next + 2 * n + 4 * i, confidence);
    // Type 0x6F's further 40 bytes a point stay zero.
}

void PointCloudGenerator::WriteStamp(std::span<uint8_t> out, const LineStamp& stamp) {
    if (out.size() < payload::kMetadataSize) throw std::invalid_argument("payload too small for a stamp");
    WriteLE32(out.data() + payload::kFrameNumberOffset, stamp.frameNumber);
    out[payload::kLineIndexOffset] = stamp.lineIndex;
    WriteLE64(out.data() + payload::kAlternateTimestampOffset, stamp.alternateTimestamp_us);
    WriteLE64(out.data() + payload::kTimestampOffset, stamp.timestamp_us);
    WriteLE64(out.data() + payload::kSendTimeOffset, stamp.sendTime_us);
}

void PointCloudGenerator::WriteLine(std::span<uint8_t> out, const LineStamp& stamp) const {
    if (out.size() != PayloadSize()) throw std::invalid_argument("output does not match the payload size");
    if (stamp.lineIndex >= kLinesPerFrame) throw std::invalid_argument("line index out of range");

    std::fill_n(out.begin(), payload::kPointDataOffset, uint8_t{0});
    out[payload::kMetadataVersionOffset] = payload::kMetadataVersion;
    WriteStamp(out, stamp);
    out[payload::kPointDataVersionOffset] = payload::kPointDataVersion;
    WriteLE32(out.data() + payload::kPointCountOffset, points_);
    out[payload::kPointTypeOffset] = static_cast<uint8_t>(type_);

    uint8_t* data = out.data() + payload::kPointDataOffset;
    const std::vector<uint8_t>& room = rooms_[stamp.lineIndex];
    std::copy(room.begin(), room.end(), data);

    const double boxY = BoxCentreY_mm(stamp.frameNumber) / 1000.0;
    const Ray* rays = rays_.data() + size_t{stamp.lineIndex} * points_;
    for (uint32_t p = 0; p < points_; ++p) {
        const Ray& ray = rays[p];
        const Hit box = CastBox(ray.x, ray.y, ray.z, boxY);
        // The box always stands inside the room, so any hit on it is the nearest.
        if (box.surface == kBox) WritePoint(data, p, ray, box.t, kBox, box.incidence);
    }
}

std::vector<uint8_t> PointCloudGenerator::MakeLine(const LineStamp& stamp) const {
    std::vector<uint8_t> out(PayloadSize());
    WriteLine(out, stamp);
    return out;
}

}  // namespace orbel::emulator
