#include "processing/ColorizerAlgorithm.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include <orbel/sdk/Exception.h>

namespace orbel::processing {
namespace {

constexpr float kEpsilon = 1e-6f;
// Points are projected a block at a time into two small arrays of pixel indices, by a
// loop without branches that the compiler turns into vector code; the colours are
// then fetched one by one.
constexpr size_t kBlock = 256;
// Columns and rows are kept below 2^23, where every float between two integers is
// told apart exactly from the half; no image comes near so many pixels a row.
constexpr float kMaxIndex = 8388608.0f;
constexpr uint8_t kBlack[3] = {0, 0, 0};
// How many points ahead a pixel is asked for before its colour is read.
constexpr size_t kPrefetchAhead = 24;

inline void PrefetchForRead(const uint8_t* address) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(address);
#else
    (void)address;
#endif
}

// The alignment's values and the image's limits, as the projection loop reads them.
struct Projection {
    float r00, r01, r02, r10, r11, r12, r20, r21, r22;
    float t0, t1, t2;
    float k1, k2, fx, fy, cx, cy;
    // Points at r^2 from here on are past the fold of the lens model.
    float foldBackR2;
    // A coordinate v names index round(v) (halves away from zero), inside the image
    // when -0.5 < v < size - 0.5.
    float columnLimit, rowLimit;
};

// Column and row of each of n points; column -1 for a point that is not seen.
void ProjectBlock(const Projection p, const float* __restrict xs, const float* __restrict ys,
                  const float* __restrict zs, size_t n, int32_t* __restrict columns, int32_t* __restrict rows) {
    for (size_t j = 0; j < n; ++j) {
        const float x = xs[j];
        const float y = ys[j];
        const float z = zs[j];
        const float c0 = p.r00 * x + p.r01 * y + p.r02 * z + p.t0;
        const float c1 = p.r10 * x + p.r11 * y + p.r12 * z + p.t1;
        const float c2 = p.r20 * x + p.r21 * y + p.r22 * z + p.t2;
        const float u = -c1 / c0;
        const float v = -c2 / c0;
        const float r2 = u * u + v * v;
        const float f = 1.0f + p.k1 * r2 + p.k2 * r2 * r2;
        const float column = f * u * p.fx + p.cx;
        const float row = f * v * p.fy + p.cy;
        // Not seen: x next to zero, on or behind the camera, at or past the fold of the lens
        // model (inside it f stays positive), outside the image; NaN fails every test.
        const bool seen = (std::fabs(x) >= kEpsilon) & (c0 >= kEpsilon) & (r2 < p.foldBackR2) & (column > -0.5f) &
                          (column < p.columnLimit) & (row > -0.5f) & (row < p.rowLimit);
        // Only values in (-0.5, 2^23) reach the conversions.
        const float cs = seen ? column : 0.0f;
        const float rs = seen ? row : 0.0f;
        int32_t ci = static_cast<int32_t>(cs);
        int32_t ri = static_cast<int32_t>(rs);
        ci += (cs - static_cast<float>(ci)) >= 0.5f;
        ri += (rs - static_cast<float>(ri)) >= 0.5f;
        columns[j] = seen ? ci : -1;
        rows[j] = ri;
    }
}

}  // namespace

ColorizerAlgorithm::~ColorizerAlgorithm() = default;

void ColorizerAlgorithm::Initialize(const AlignmentInformation& alignment) {
    alignment_ = alignment;
    foldBackR2_ = FoldBackRadiusSquared(alignment.k1, alignment.k2);
}

float ColorizerAlgorithm::FoldBackRadiusSquared(float k1, float k2) {
    // d(f(r) r)/dr = h(s) = 1 + 3 k1 s + 5 k2 s^2 with s = r^2, and h(0) = 1: the limit is
    // the smallest positive root of h, worked out in double.
    constexpr float kNone = std::numeric_limits<float>::infinity();
    const double a = 5.0 * k2;
    const double b = 3.0 * k1;
    double limit = std::numeric_limits<double>::infinity();
    if (a == 0.0) {
        if (b < 0.0) limit = -1.0 / b;
    } else {
        const double discriminant = b * b - 4.0 * a;
        if (discriminant >= 0.0) {
            // Both roots without cancellation: q / a and 1 / q.
            const double q = -0.5 * (b + std::copysign(std::sqrt(discriminant), b));
            for (const double root : {q / a, 1.0 / q}) {
                if (root > 0.0 && root < limit) limit = root;
            }
        }
    }
    if (!(limit < static_cast<double>(std::numeric_limits<float>::max()))) return kNone;
    // Rounded down, so that no point past the fold passes the float comparison.
    float rounded = static_cast<float>(limit);
    if (static_cast<double>(rounded) > limit) rounded = std::nextafter(rounded, 0.0f);
    return rounded;
}

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
    const Projection projection{
        a.rotation[0], a.rotation[1], a.rotation[2], a.rotation[3], a.rotation[4], a.rotation[5], a.rotation[6],
        a.rotation[7], a.rotation[8], a.translation[0], a.translation[1], a.translation[2], a.k1, a.k2, a.fx, a.fy,
        a.cx, a.cy, foldBackR2_, std::min(static_cast<float>(width), kMaxIndex) - 0.5f,
        std::min(static_cast<float>(height), kMaxIndex) - 0.5f};
    const uint8_t* const bytes = pixels.data();
    const uint64_t byteCount = pixels.size();

    int32_t columns[kBlock];
    int32_t rows[kBlock];
    for (size_t start = 0; start < points; start += kBlock) {
        const size_t n = std::min(kBlock, points - start);
        ProjectBlock(projection, xs.data() + start, ys.data() + start, zs.data() + start, n, columns, rows);
        for (size_t j = 0; j < n; ++j) {
            // Neighbouring points of a scan line cross image rows (lens distortion, parallax),
            // which the processor's own prefetching does not follow.
            if (j + kPrefetchAhead < n && columns[j + kPrefetchAhead] >= 0) {
                const uint64_t ahead = 3 * (static_cast<uint64_t>(rows[j + kPrefetchAhead]) * width +
                                            static_cast<uint64_t>(columns[j + kPrefetchAhead]));
                if (ahead < byteCount) PrefetchForRead(bytes + ahead);
            }
            const uint64_t b = 3 * (static_cast<uint64_t>(rows[j]) * width + static_cast<uint64_t>(columns[j]));
            // Unseen points and pixels beyond the bytes read a black pixel of our own.
            const uint8_t* pixel = ((columns[j] >= 0) & (b + 2 < byteCount)) ? bytes + b : kBlack;
            colors[start + j] = {pixel[0], pixel[1], pixel[2]};
        }
    }
    data.SetColors(colors);
}

}  // namespace orbel::processing
