#include "camera/vendor/BayerDemosaic.h"

#include <array>
#include <vector>

// x86-64 always has SSE2; elsewhere (or with ORBEL_DEMOSAIC_SCALAR defined,
// to check the portable path) the scalar loops do all the work.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(ORBEL_DEMOSAIC_SCALAR)
#  include <emmintrin.h>
#  define ORBEL_DEMOSAIC_SSE2 1
#endif

namespace orbel::camera::vendor {
namespace {

// Each layout gives single samples by index (for thin images) and whole rows
// split into the samples at even columns and those at odd columns, the form
// the bilinear kernel reads: pair k of a row is columns 2k and 2k + 1.
struct RG8Source {
    const uint8_t* bytes;
    uint32_t width;

    uint16_t At(uint64_t i) const { return bytes[i]; }

    void ReadRow(uint64_t y, uint16_t* even, uint16_t* odd) const {
        const uint8_t* row = bytes + y * width;
        const uint32_t pairs = width / 2;
        for (uint32_t k = 0; k < pairs; ++k) {
            even[k] = row[2 * k];
            odd[k] = row[2 * k + 1];
        }
        if (width & 1) even[pairs] = row[width - 1];
    }
};

struct RG12Source {
    const uint8_t* bytes;
    uint32_t width;

    uint16_t At(uint64_t i) const { return static_cast<uint16_t>((bytes[2 * i] | bytes[2 * i + 1] << 8) & 0x0FFF); }

    void ReadRow(uint64_t y, uint16_t* even, uint16_t* odd) const {
        const uint8_t* row = bytes + y * width * 2;
        const uint32_t pairs = width / 2;
        uint32_t k = 0;
#if defined(ORBEL_DEMOSAIC_SSE2)
        // Eight pairs per step: each 32-bit lane holds one pair, even column low.
        const __m128i low = _mm_set1_epi32(0x0FFF);
        for (; k + 8 <= pairs; k += 8) {
            const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * k));
            const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * k + 16));
            const __m128i evens = _mm_packs_epi32(_mm_and_si128(first, low), _mm_and_si128(second, low));
            const __m128i odds = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(first, 16), low),
                                                 _mm_and_si128(_mm_srli_epi32(second, 16), low));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(even + k), evens);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(odd + k), odds);
        }
#endif
        for (; k < pairs; ++k) {
            even[k] = static_cast<uint16_t>((row[4 * k] | row[4 * k + 1] << 8) & 0x0FFF);
            odd[k] = static_cast<uint16_t>((row[4 * k + 2] | row[4 * k + 3] << 8) & 0x0FFF);
        }
        if (width & 1) even[pairs] = At(y * width + width - 1);
    }
};

struct RG12PackedSource {
    const uint8_t* bytes;
    size_t size;
    uint32_t width;

    uint16_t At(uint64_t i) const {
        const uint8_t* triple = bytes + (i >> 1) * 3;
        if (i & 1) return static_cast<uint16_t>(triple[2] << 4 | triple[1] >> 4);
        // With an odd sample count the last triple is cut after its first byte.
        const unsigned low = (i >> 1) * 3 + 1 < size ? triple[1] & 0x0F : 0;
        return static_cast<uint16_t>(triple[0] << 4 | low);
    }

    void ReadRow(uint64_t y, uint16_t* even, uint16_t* odd) const {
        const uint64_t first = y * width;
        const uint32_t pairs = width / 2;
        if (first & 1) {
            // Only odd widths start rows inside a triple.
            for (uint32_t k = 0; k < pairs; ++k) {
                even[k] = At(first + 2 * k);
                odd[k] = At(first + 2 * k + 1);
            }
        } else {
            const uint8_t* start = bytes + (first >> 1) * 3;
            uint32_t k = 0;
#if defined(ORBEL_DEMOSAIC_SSE2)
            // Eight pairs per step, each triple moved into its own 32-bit lane.
            // A step reads 16 bytes from each 12-byte group: k + 10 <= pairs
            // keeps every read inside this row.
            const __m128i lane0 = _mm_set_epi32(0, 0, 0, 0x00FFFFFF);
            const __m128i lane1 = _mm_set_epi32(0, 0, 0x00FFFFFF, 0);
            const __m128i lane2 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0);
            const __m128i lane3 = _mm_set_epi32(0x00FFFFFF, 0, 0, 0);
            const __m128i byteMask = _mm_set1_epi32(0xFF);
            const __m128i nibbleMask = _mm_set1_epi32(0x0F);
            auto split = [&](const uint8_t* group, __m128i& evens, __m128i& odds) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(group));
                const __m128i triples = _mm_or_si128(
                    _mm_or_si128(_mm_and_si128(v, lane0), _mm_and_si128(_mm_slli_si128(v, 1), lane1)),
                    _mm_or_si128(_mm_and_si128(_mm_slli_si128(v, 2), lane2), _mm_and_si128(_mm_slli_si128(v, 3), lane3)));
                evens = _mm_or_si128(_mm_slli_epi32(_mm_and_si128(triples, byteMask), 4),
                                     _mm_and_si128(_mm_srli_epi32(triples, 8), nibbleMask));
                odds = _mm_or_si128(_mm_slli_epi32(_mm_srli_epi32(triples, 16), 4),
                                    _mm_and_si128(_mm_srli_epi32(triples, 12), nibbleMask));
            };
            for (; k + 10 <= pairs; k += 8) {
                __m128i evens0, odds0, evens1, odds1;
                split(start + 3 * k, evens0, odds0);
                split(start + 3 * k + 12, evens1, odds1);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(even + k), _mm_packs_epi32(evens0, evens1));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(odd + k), _mm_packs_epi32(odds0, odds1));
            }
#endif
            for (const uint8_t* triple = start + 3 * k; k < pairs; ++k, triple += 3) {
                even[k] = static_cast<uint16_t>(triple[0] << 4 | (triple[1] & 0x0F));
                odd[k] = static_cast<uint16_t>(triple[2] << 4 | triple[1] >> 4);
            }
        }
        if (width & 1) even[pairs] = At(first + width - 1);
    }
};

// One source row split by column parity; odd[-1] and even[pairs] hold the
// reflected neighbours (columns 1 and W - 2), so no pixel needs an edge test.
struct SplitRow {
    const uint16_t* even;
    const uint16_t* odd;
};

// What one output sample is made of: the rounded mean at the source's precision
// (8 or 12 bits), emitted as an 8-bit sample or as a 12-bit sample in 16 bits.
// Shift is the reduction the 8-bit vector kernels apply; they serve 8-bit output only.
template <unsigned SourceBits, typename Sample>
struct Output {
    using Out = Sample;
    static constexpr unsigned kShift = SourceBits - 8;
    static constexpr bool kVector = sizeof(Sample) == 1;
    static Out Emit(unsigned v) {
        if constexpr (sizeof(Sample) == 1) {
            return static_cast<Out>(v >> (SourceBits - 8));
        } else if constexpr (SourceBits == 8) {
            return static_cast<Out>(v << 4 | v >> 4);  // 0..255 onto 0..4095, ends included
        } else {
            return static_cast<Out>(v);
        }
    }
};

template <typename P>
inline typename P::Out Own(unsigned a) {
    return P::Emit(a);
}
template <typename P>
inline typename P::Out Mean2(unsigned a, unsigned b) {
    return P::Emit((a + b + 1) >> 1);
}
template <typename P>
inline typename P::Out Mean4(unsigned a, unsigned b, unsigned c, unsigned d) {
    return P::Emit((a + b + c + d + 2) >> 2);
}

// Pairs [k, end) of a red row (R G), scalar. A pair whose odd column lies
// outside the image (odd widths) is written by RedTail.
template <typename P>
void RedPairs(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t k, ptrdiff_t end, typename P::Out* out) {
    for (out += 6 * k; k < end; ++k, out += 6) {
        out[0] = Own<P>(c.even[k]);
        out[1] = Mean4<P>(c.odd[k - 1], c.odd[k], a.even[k], b.even[k]);
        out[2] = Mean4<P>(a.odd[k - 1], a.odd[k], b.odd[k - 1], b.odd[k]);
        out[3] = Mean2<P>(c.even[k], c.even[k + 1]);
        out[4] = Own<P>(c.odd[k]);
        out[5] = Mean2<P>(a.odd[k], b.odd[k]);
    }
}

template <typename P>
void RedTail(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t k, typename P::Out* out) {
    out += 6 * k;
    out[0] = Own<P>(c.even[k]);
    out[1] = Mean4<P>(c.odd[k - 1], c.odd[k], a.even[k], b.even[k]);
    out[2] = Mean4<P>(a.odd[k - 1], a.odd[k], b.odd[k - 1], b.odd[k]);
}

// Pairs [k, end) of a blue row (G B), scalar.
template <typename P>
void BluePairs(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t k, ptrdiff_t end, typename P::Out* out) {
    for (out += 6 * k; k < end; ++k, out += 6) {
        out[0] = Mean2<P>(a.even[k], b.even[k]);
        out[1] = Own<P>(c.even[k]);
        out[2] = Mean2<P>(c.odd[k - 1], c.odd[k]);
        out[3] = Mean4<P>(a.even[k], a.even[k + 1], b.even[k], b.even[k + 1]);
        out[4] = Mean4<P>(c.even[k], c.even[k + 1], a.odd[k], b.odd[k]);
        out[5] = Own<P>(c.odd[k]);
    }
}

template <typename P>
void BlueTail(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t k, typename P::Out* out) {
    out += 6 * k;
    out[0] = Mean2<P>(a.even[k], b.even[k]);
    out[1] = Own<P>(c.even[k]);
    out[2] = Mean2<P>(c.odd[k - 1], c.odd[k]);
}

#if defined(ORBEL_DEMOSAIC_SSE2)

// Eight pairs (sixteen pixels) per step in 16-bit lanes; sums of four 12-bit
// samples stay below 2^15. SSE2 is part of every x86-64 target.
inline __m128i Load(const uint16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

template <unsigned Shift>
inline __m128i Mean2x8(__m128i a, __m128i b) {
    return _mm_srli_epi16(_mm_avg_epu16(a, b), Shift);
}
template <unsigned Shift>
inline __m128i Mean4x8(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i sum = _mm_add_epi16(_mm_add_epi16(a, b), _mm_add_epi16(c, d));
    return _mm_srli_epi16(_mm_add_epi16(sum, _mm_set1_epi16(2)), 2 + Shift);
}

// Three planes of sixteen bytes (pixels 0..15) into 48 bytes R G B R G B ...
inline void StoreInterleaved(__m128i r, __m128i g, __m128i b, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i rgLow = _mm_unpacklo_epi8(r, g);
    const __m128i rgHigh = _mm_unpackhi_epi8(r, g);
    const __m128i bLow = _mm_unpacklo_epi8(b, zero);
    const __m128i bHigh = _mm_unpackhi_epi8(b, zero);
    // Four pixels each as R G B 0.
    const __m128i quads[4] = {_mm_unpacklo_epi16(rgLow, bLow), _mm_unpackhi_epi16(rgLow, bLow),
                              _mm_unpacklo_epi16(rgHigh, bHigh), _mm_unpackhi_epi16(rgHigh, bHigh)};
    const __m128i firstPixel = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    // After the 8-bit shift the second pixel sits in bytes 3..5 of each half.
    const __m128i secondPixel =
        _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF, static_cast<int>(0xFF000000u));
    __m128i packed[4];
    for (int i = 0; i < 4; ++i) {
        // Per 64-bit half: two pixels into bytes 0..5.
        const __m128i q = quads[i];
        const __m128i halves = _mm_or_si128(_mm_and_si128(q, firstPixel),
                                            _mm_and_si128(_mm_srli_epi64(q, 8), secondPixel));
        // Both halves into bytes 0..11.
        packed[i] = _mm_or_si128(_mm_move_epi64(halves), _mm_slli_si128(_mm_srli_si128(halves, 8), 6));
    }
    auto* target = reinterpret_cast<__m128i*>(out);
    _mm_storeu_si128(target, _mm_or_si128(packed[0], _mm_slli_si128(packed[1], 12)));
    _mm_storeu_si128(target + 1, _mm_or_si128(_mm_srli_si128(packed[1], 4), _mm_slli_si128(packed[2], 8)));
    _mm_storeu_si128(target + 2, _mm_or_si128(_mm_srli_si128(packed[2], 8), _mm_slli_si128(packed[3], 4)));
}

// Two 8-lane planes of values below 256 (even and odd columns) as sixteen bytes.
inline __m128i Columns(__m128i even, __m128i odd) { return _mm_or_si128(even, _mm_slli_epi16(odd, 8)); }

template <unsigned Shift>
ptrdiff_t RedPairsSimd(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t pairs, uint8_t* out) {
    ptrdiff_t k = 0;
    for (; k + 8 <= pairs; k += 8) {
        const __m128i ce = Load(c.even + k), co = Load(c.odd + k), coLeft = Load(c.odd + k - 1);
        const __m128i ae = Load(a.even + k), ao = Load(a.odd + k), aoLeft = Load(a.odd + k - 1);
        const __m128i be = Load(b.even + k), bo = Load(b.odd + k), boLeft = Load(b.odd + k - 1);
        const __m128i ceRight = Load(c.even + k + 1);
        const __m128i r = Columns(_mm_srli_epi16(ce, Shift), Mean2x8<Shift>(ce, ceRight));
        const __m128i g = Columns(Mean4x8<Shift>(coLeft, co, ae, be), _mm_srli_epi16(co, Shift));
        const __m128i bl = Columns(Mean4x8<Shift>(aoLeft, ao, boLeft, bo), Mean2x8<Shift>(ao, bo));
        StoreInterleaved(r, g, bl, out + 6 * k);
    }
    return k;
}

template <unsigned Shift>
ptrdiff_t BluePairsSimd(SplitRow a, SplitRow c, SplitRow b, ptrdiff_t pairs, uint8_t* out) {
    ptrdiff_t k = 0;
    for (; k + 8 <= pairs; k += 8) {
        const __m128i ce = Load(c.even + k), co = Load(c.odd + k), coLeft = Load(c.odd + k - 1);
        const __m128i ae = Load(a.even + k), ao = Load(a.odd + k), aeRight = Load(a.even + k + 1);
        const __m128i be = Load(b.even + k), bo = Load(b.odd + k), beRight = Load(b.even + k + 1);
        const __m128i ceRight = Load(c.even + k + 1);
        const __m128i r = Columns(Mean2x8<Shift>(ae, be), Mean4x8<Shift>(ae, aeRight, be, beRight));
        const __m128i g = Columns(_mm_srli_epi16(ce, Shift), Mean4x8<Shift>(ce, ceRight, ao, bo));
        const __m128i bl = Columns(Mean2x8<Shift>(coLeft, co), _mm_srli_epi16(co, Shift));
        StoreInterleaved(r, g, bl, out + 6 * k);
    }
    return k;
}

#else

template <unsigned Shift>
ptrdiff_t RedPairsSimd(SplitRow, SplitRow, SplitRow, ptrdiff_t, uint8_t*) {
    return 0;
}
template <unsigned Shift>
ptrdiff_t BluePairsSimd(SplitRow, SplitRow, SplitRow, ptrdiff_t, uint8_t*) {
    return 0;
}

#endif

// Images of at least 2 x 2: every source row is split once into one of three
// slots (slot y % 3); rows -1 and H read rows 1 and H - 2.
template <typename P, typename Source>
void DemosaicSplit(const Source& source, uint32_t width, uint32_t height, typename P::Out* rgb) {
    const ptrdiff_t pairs = width / 2;           // complete pairs per row
    const ptrdiff_t columns = (width + 1) / 2;   // even columns per row
    // Per slot: even[0 .. columns] and odd[-1 .. columns - 1].
    const size_t slotSize = 2 * (static_cast<size_t>(columns) + 1);
    std::vector<uint16_t> storage(slotSize * 3);
    struct Slot {
        uint16_t* even;
        uint16_t* odd;
        uint64_t row;
    };
    std::array<Slot, 3> slots;
    for (size_t i = 0; i < 3; ++i) {
        uint16_t* base = storage.data() + i * slotSize;
        slots[i] = Slot{base, base + columns + 2, ~uint64_t{0}};
    }

    auto rowAt = [&](uint64_t y) -> SplitRow {
        Slot& slot = slots[y % 3];
        if (slot.row != y) {
            source.ReadRow(y, slot.even, slot.odd);
            slot.odd[-1] = slot.odd[0];  // column -1 reads column 1
            if (width & 1) {
                slot.odd[columns - 1] = slot.odd[columns - 2];  // column W reads W - 2 (odd)
            } else {
                slot.even[columns] = slot.even[columns - 1];  // column W reads W - 2 (even)
            }
            slot.row = y;
        }
        return SplitRow{slot.even, slot.odd};
    };

    const size_t outStride = size_t{width} * 3;
    for (uint64_t y = 0; y < height; ++y) {
        const SplitRow up = rowAt(y == 0 ? 1 : y - 1);
        const SplitRow row = rowAt(y);
        const SplitRow down = rowAt(y + 1 == height ? height - 2 : y + 1);
        typename P::Out* out = rgb + y * outStride;
        if (y & 1) {
            ptrdiff_t done = 0;
            if constexpr (P::kVector) done = BluePairsSimd<P::kShift>(up, row, down, pairs, out);
            BluePairs<P>(up, row, down, done, pairs, out);
            if (width & 1) BlueTail<P>(up, row, down, pairs, out);
        } else {
            ptrdiff_t done = 0;
            if constexpr (P::kVector) done = RedPairsSimd<P::kShift>(up, row, down, pairs, out);
            RedPairs<P>(up, row, down, done, pairs, out);
            if (width & 1) RedTail<P>(up, row, down, pairs, out);
        }
    }
}

// Images one pixel wide or high have neighbours on one axis only; those that
// do not exist are left out of the mean. A colour without any site stays 0.
template <typename P, typename Source>
void DemosaicThin(const Source& source, uint32_t width, uint32_t height, typename P::Out* rgb) {
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
            auto mean = [&](const Offset* offsets, size_t count) -> typename P::Out {
                unsigned sum = 0;
                unsigned used = 0;
                for (size_t k = 0; k < count; ++k) {
                    const int64_t sx = reflect(x + offsets[k].dx, width);
                    const int64_t sy = reflect(y + offsets[k].dy, height);
                    if (sx < 0 || sx >= width || sy < 0 || sy >= height) continue;
                    sum += source.At(static_cast<uint64_t>(sy * width + sx));
                    ++used;
                }
                return used == 0 ? 0 : P::Emit((sum + used / 2) / used);
            };
            typename P::Out* out = rgb + (y * width + x) * 3;
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

template <typename P, typename Source>
void Demosaic(const Source& source, uint32_t width, uint32_t height, typename P::Out* rgb) {
    if (width >= 2 && height >= 2) {
        DemosaicSplit<P>(source, width, height, rgb);
    } else {
        DemosaicThin<P>(source, width, height, rgb);
    }
}

}  // namespace

void DemosaicBayerRG8(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb) {
    Demosaic<Output<8, uint8_t>>(RG8Source{source, width}, width, height, rgb);
}

void DemosaicBayerRG12(const uint8_t* source, uint32_t width, uint32_t height, uint8_t* rgb) {
    Demosaic<Output<12, uint8_t>>(RG12Source{source, width}, width, height, rgb);
}

void DemosaicBayerRG12Packed(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                             uint8_t* rgb) {
    Demosaic<Output<12, uint8_t>>(RG12PackedSource{source, sourceSize, width}, width, height, rgb);
}

void DemosaicBayerRG8To12(const uint8_t* source, uint32_t width, uint32_t height, uint16_t* rgb) {
    Demosaic<Output<8, uint16_t>>(RG8Source{source, width}, width, height, rgb);
}

void DemosaicBayerRG12To12(const uint8_t* source, uint32_t width, uint32_t height, uint16_t* rgb) {
    Demosaic<Output<12, uint16_t>>(RG12Source{source, width}, width, height, rgb);
}

void DemosaicBayerRG12PackedTo12(const uint8_t* source, size_t sourceSize, uint32_t width, uint32_t height,
                                 uint16_t* rgb) {
    Demosaic<Output<12, uint16_t>>(RG12PackedSource{source, sourceSize, width}, width, height, rgb);
}

}  // namespace orbel::camera::vendor
