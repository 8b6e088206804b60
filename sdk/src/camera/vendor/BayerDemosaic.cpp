#include "camera/vendor/BayerDemosaic.h"

#include <array>
#include <cstring>
#include <vector>

namespace orbel::camera::vendor {
namespace {

// Reads one source row into a buffer of width samples.
struct RG8Rows {
    const uint8_t* source;
    uint32_t width;
    void operator()(uint64_t y, uint8_t* row) const { std::memcpy(row, source + y * width, width); }
};

struct RG12Rows {
    const uint8_t* source;
    uint32_t width;
    void operator()(uint64_t y, uint16_t* row) const {
        const uint8_t* bytes = source + y * width * 2;
        for (uint32_t x = 0; x < width; ++x) {
            row[x] = static_cast<uint16_t>((bytes[2 * x] | bytes[2 * x + 1] << 8) & 0x0FFF);
        }
    }
};

struct RG12PackedRows {
    const uint8_t* source;
    size_t size;
    uint32_t width;

    uint16_t Sample(uint64_t i) const {
        const uint8_t* pair = source + (i >> 1) * 3;
        if (i & 1) return static_cast<uint16_t>(pair[2] << 4 | pair[1] >> 4);
        const uint64_t lowIndex = (i >> 1) * 3 + 1;
        const unsigned low = lowIndex < size ? pair[1] & 0x0F : 0;
        return static_cast<uint16_t>(pair[0] << 4 | low);
    }

    void operator()(uint64_t y, uint16_t* row) const {
        uint64_t i = y * width;
        const uint64_t end = i + width;
        uint32_t x = 0;
        if (i & 1) row[x++] = Sample(i++);
        const uint8_t* pair = source + (i >> 1) * 3;
        for (; i + 2 <= end; i += 2, x += 2, pair += 3) {
            row[x] = static_cast<uint16_t>(pair[0] << 4 | (pair[1] & 0x0F));
            row[x + 1] = static_cast<uint16_t>(pair[2] << 4 | pair[1] >> 4);
        }
        if (i < end) row[x] = Sample(i);
    }
};

template <unsigned Shift>
inline uint8_t Own(unsigned a) {
    return static_cast<uint8_t>(a >> Shift);
}
template <unsigned Shift>
inline uint8_t Mean2(unsigned a, unsigned b) {
    return static_cast<uint8_t>(((a + b + 1) >> 1) >> Shift);
}
template <unsigned Shift>
inline uint8_t Mean4(unsigned a, unsigned b, unsigned c, unsigned d) {
    return static_cast<uint8_t>(((a + b + c + d + 2) >> 2) >> Shift);
}

// One output row from three rows whose element -1 and element width are the
// reflected neighbours, so no pixel needs an edge test. Indices are signed:
// x - 1 reaches element -1.
template <unsigned Shift, typename Sample>
void RedRow(const Sample* __restrict up, const Sample* __restrict row, const Sample* __restrict down,
            ptrdiff_t width, uint8_t* __restrict out) {
    ptrdiff_t x = 0;
    for (; x + 1 < width; x += 2, out += 6) {
        out[0] = Own<Shift>(row[x]);
        out[1] = Mean4<Shift>(row[x - 1], row[x + 1], up[x], down[x]);
        out[2] = Mean4<Shift>(up[x - 1], up[x + 1], down[x - 1], down[x + 1]);
        out[3] = Mean2<Shift>(row[x], row[x + 2]);
        out[4] = Own<Shift>(row[x + 1]);
        out[5] = Mean2<Shift>(up[x + 1], down[x + 1]);
    }
    if (x < width) {
        out[0] = Own<Shift>(row[x]);
        out[1] = Mean4<Shift>(row[x - 1], row[x + 1], up[x], down[x]);
        out[2] = Mean4<Shift>(up[x - 1], up[x + 1], down[x - 1], down[x + 1]);
    }
}

template <unsigned Shift, typename Sample>
void BlueRow(const Sample* __restrict up, const Sample* __restrict row, const Sample* __restrict down,
             ptrdiff_t width, uint8_t* __restrict out) {
    ptrdiff_t x = 0;
    for (; x + 1 < width; x += 2, out += 6) {
        out[0] = Mean2<Shift>(up[x], down[x]);
        out[1] = Own<Shift>(row[x]);
        out[2] = Mean2<Shift>(row[x - 1], row[x + 1]);
        out[3] = Mean4<Shift>(up[x], up[x + 2], down[x], down[x + 2]);
        out[4] = Mean4<Shift>(row[x], row[x + 2], up[x + 1], down[x + 1]);
        out[5] = Own<Shift>(row[x + 1]);
    }
    if (x < width) {
        out[0] = Mean2<Shift>(up[x], down[x]);
        out[1] = Own<Shift>(row[x]);
        out[2] = Mean2<Shift>(row[x - 1], row[x + 1]);
    }
}

// Images of at least 2 x 2: every source row is read once into one of three
// padded row buffers (slot y % 3), whose ends carry the reflected neighbours.
template <unsigned Shift, typename Sample, typename ReadRow>
void DemosaicPadded(const ReadRow& readRow, uint32_t width, uint32_t height, uint8_t* rgb) {
    const size_t stride = size_t{width} + 2;
    std::vector<Sample> storage(stride * 3);
    std::array<Sample*, 3> slots{storage.data() + 1, storage.data() + 1 + stride, storage.data() + 1 + 2 * stride};
    std::array<uint64_t, 3> held{~uint64_t{0}, ~uint64_t{0}, ~uint64_t{0}};

    auto rowAt = [&](uint64_t y) -> const Sample* {
        Sample* row = slots[y % 3];
        if (held[y % 3] != y) {
            readRow(y, row);
            row[-1] = row[1];
            row[width] = row[width - 2];
            held[y % 3] = y;
        }
        return row;
    };

    const size_t outStride = size_t{width} * 3;
    for (uint64_t y = 0; y < height; ++y) {
        const Sample* up = rowAt(y == 0 ? 1 : y - 1);
        const Sample* row = rowAt(y);
        const Sample* down = rowAt(y + 1 == height ? height - 2 : y + 1);
        uint8_t* out = rgb + y * outStride;
        if (y & 1) {
            BlueRow<Shift>(up, row, down, width, out);
        } else {
            RedRow<Shift>(up, row, down, width, out);
        }
    }
}

// Images one pixel wide or high have neighbours on one axis only; those that
// do not exist are left out of the mean. A colour without any site stays 0.
template <unsigned Shift, typename Sample, typename ReadRow>
void DemosaicThin(const ReadRow& readRow, uint32_t width, uint32_t height, uint8_t* rgb) {
    std::vector<Sample> samples(size_t{width} * height);
    for (uint64_t y = 0; y < height; ++y) readRow(y, samples.data() + y * width);

    auto reflect = [](int64_t i, int64_t n) -> int64_t { return i < 0 ? 1 : (i >= n ? n - 2 : i); };
    struct Offset {
        int dx, dy;
    };
    static constexpr Offset kSelf[] = {{0, 0}};
    static constexpr Offset kCross[] = {{-1, 0}, {1, 0}, {0, -1}, {0, 1}};
    static constexpr Offset kDiagonal[] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
    static constexpr Offset kRow[] = {{-1, 0}, {1, 0}};
    static constexpr Offset kColumn[] = {{0, -1}, {0, 1}};

    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            auto mean = [&](const Offset* offsets, size_t count) -> uint8_t {
                unsigned sum = 0;
                unsigned used = 0;
                for (size_t k = 0; k < count; ++k) {
                    const int64_t sx = reflect(x + offsets[k].dx, width);
                    const int64_t sy = reflect(y + offsets[k].dy, height);
                    if (sx < 0 || sx >= width || sy < 0 || sy >= height) continue;
                    sum += samples[static_cast<size_t>(sy * width + sx)];
                    ++used;
                }
                return used == 0 ? 0 : static_cast<uint8_t>(((sum + used / 2) / used) >> Shift);
            };
            uint8_t* out = rgb + (y * width + x) * 3;
            const bool redRow = (y & 1) == 0;
            const bool evenColumn = (x & 1) == 0;
            if (redRow && evenColumn) {
                out[0] = mean(kSelf, 1), out[1] = mean(kCross, 4), out[2] = mean(kDiagonal, 4);
            } else if (redRow) {
                out[0] = mean(kRow, 2), out[1] = mean(kSelf, 1), out[2] = mean(kColumn, 2);
            } else if (evenColumn) {
                out[0] = mean(kColumn, 2), out[1] = mean(kSelf, 1), out[2] = mean(kRow, 2);
            } else {
                out[0] = mean(kDiagonal, 4), out[1] = mean(kCross, 4), out[2] = mean(kSelf, 1);
            }
        }
    }
}

template <unsigned Shift, typename Sample, typename ReadRow>
void Demosaic(const ReadRow& readRow, uint32_t width, uint32_t height, uint8_t* rgb) {
    if (width >= 2 && height >= 2) {
        DemosaicPadded<Shift, Sample>(readRow, width, height, rgb);
    } else {
        DemosaicThin<Shift, Sample>(readRow, width, height, rgb);
    }
}

}  // namespace

void DemosaicBayerRG8(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb) {
    Demosaic<0, uint8_t>(RG8Rows{source, width}, width, height, rgb);
}

void DemosaicBayerRG12(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb) {
    Demosaic<4, uint16_t>(RG12Rows{source, width}, width, height, rgb);
}

void DemosaicBayerRG12Packed(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                             uint8_t* rgb) {
    Demosaic<4, uint16_t>(RG12PackedRows{source, sourceSize, width}, width, height, rgb);
}

}  // namespace orbel::camera::vendor
