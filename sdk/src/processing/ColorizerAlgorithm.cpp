#include "processing/ColorizerAlgorithm.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include <orbel/sdk/Exception.h>

namespace orbel::processing {
namespace {

constexpr float kEpsilon = 1e-6f;

// The pixel index of coordinate v rounded half away from zero, when that index lies
// in [0, size); -1 otherwise. The range test comes first, on the float (NaN fails
// it), so the conversion below only ever sees values in [0, size).
inline int64_t PixelIndex(float v, double upperLimit) {
    if (!(v > -0.5f) || !(static_cast<double>(v) < upperLimit)) return -1;
    auto index = static_cast<int64_t>(v);  // truncation; v is in (-0.5, size - 0.5)
    if (v - static_cast<float>(index) >= 0.5f) ++index;
    return index;
}

}  // namespace

ColorizerAlgorithm::~ColorizerAlgorithm() = default;

void ColorizerAlgorithm::Initialize(const AlignmentInformation& alignment) { alignment_ = alignment; }

void ColorizerAlgorithm::Colorize(orbel::sdk::IColorizableData& data, const orbel::sdk::IImage& image) {
    if (image.GetPixelFormat() != orbel::sdk::PixelFormat::RGB8) {
        orbel::sdk::ThrowUnknownError("Unsupported pixel format");
    }
    const std::vector<float>& xs = data.GetX();
    const std::vector<float>& ys = data.GetY();
    const std::vector<float>& zs = data.GetZ();
    const std::vector<uint8_t>& pixels = image.GetData();
    const uint64_t width = image.GetWidth();
    const uint64_t height = image.GetHeight();
    const size_t count = data.GetPointCount();

    std::vector<orbel::sdk::RGB> colors(count);
    // A cloud whose arrays are shorter than its count colours only what it has.
    const size_t points = std::min({count, xs.size(), ys.size(), zs.size()});

    const AlignmentInformation& a = alignment_;
    const float r00 = a.rotation[0], r01 = a.rotation[1], r02 = a.rotation[2];
    const float r10 = a.rotation[3], r11 = a.rotation[4], r12 = a.rotation[5];
    const float r20 = a.rotation[6], r21 = a.rotation[7], r22 = a.rotation[8];
    const float t0 = a.translation[0], t1 = a.translation[1], t2 = a.translation[2];
    const float k1 = a.k1, k2 = a.k2, fx = a.fx, fy = a.fy, cx = a.cx, cy = a.cy;
    const double columnLimit = static_cast<double>(width) - 0.5;
    const double rowLimit = static_cast<double>(height) - 0.5;
    const uint8_t* const bytes = pixels.data();
    const uint64_t byteCount = pixels.size();

    for (size_t i = 0; i < points; ++i) {
        const float x = xs[i];
        const float y = ys[i];
        const float z = zs[i];
        if (!(std::fabs(x) >= kEpsilon)) continue;
        const float c0 = r00 * x + r01 * y + r02 * z + t0;
        if (!(c0 >= kEpsilon)) continue;  // on or behind the camera
        const float c1 = r10 * x + r11 * y + r12 * z + t1;
        const float c2 = r20 * x + r21 * y + r22 * z + t2;
        const float u = -c1 / c0;
        const float v = -c2 / c0;
        const float r2 = u * u + v * v;
        const float f = 1.0f + k1 * r2 + k2 * r2 * r2;
        if (!(f > 0.0f)) continue;  // beyond the fold of the lens model
        const int64_t px = PixelIndex(f * u * fx + cx, columnLimit);
        if (px < 0) continue;
        const int64_t py = PixelIndex(f * v * fy + cy, rowLimit);
        if (py < 0) continue;
        const uint64_t b = 3 * (static_cast<uint64_t>(py) * width + static_cast<uint64_t>(px));
        if (b + 2 >= byteCount) continue;
        colors[i] = {bytes[b], bytes[b + 1], bytes[b + 2]};
    }
    data.SetColors(colors);
}

}  // namespace orbel::processing
