// The wire frame's rules written once more, from the frame layout alone and sharing no
// code with the SDK's parser or the emulator's decoder, so that the fuzz targets of
// both can compare what they deliver with what the byte stream holds.
//
//   0 8 x 0x02 | 8 0x01 | 9 0x01 | 10 counter | 14 id | 18 payload size n | 22 sum of 0..21
//   23 payload | 23+n sum of 0..22+n | 24+n 8 x 0x03          (little-endian, 32 bytes overhead)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbel::fuzzing {

inline uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline uint8_t SumOf(const uint8_t* p, size_t n) {
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += p[i];
    return static_cast<uint8_t>(sum);
}

inline bool AllEqual(const uint8_t* p, size_t n, uint8_t value) {
    for (size_t i = 0; i < n; ++i) {
        if (p[i] != value) return false;
    }
    return true;
}

// Whether exactly these n bytes are one consistent frame.
inline bool IsWholeFrame(const uint8_t* p, size_t n) {
    if (n < 32 || !AllEqual(p, 8, 0x02)) return false;
    if (p[22] != SumOf(p, 22)) return false;
    if (uint64_t{LittleEndian32(p + 18)} + 32 != n) return false;
    if (!AllEqual(p + n - 8, 8, 0x03)) return false;
    return p[n - 9] == SumOf(p, n - 9);
}

struct FrameSpan {
    size_t offset = 0;
    size_t size = 0;
    bool operator==(const FrameSpan&) const = default;
};

// The frames a resynchronising receiver finds in a stream: it looks for a start
// sequence, checks the header checksum and the declared size against its limit (frames
// larger than maxFrameSize are rejected), waits for the whole frame, checks the end
// sequence and the frame checksum, and after any rejection moves on by one byte. It
// stops where it would wait for bytes that never come. Running sums keep it linear in
// n whatever the bytes are, so the reference never becomes the slow part of a run.
inline std::vector<FrameSpan> ReferenceFrames(const uint8_t* p, size_t n, uint64_t maxFrameSize) {
    std::vector<uint8_t> before(n + 1, 0);  // before[k]: sum of p[0..k) mod 256
    for (size_t k = 0; k < n; ++k) before[k + 1] = static_cast<uint8_t>(before[k] + p[k]);
    auto sum = [&](size_t from, size_t count) { return static_cast<uint8_t>(before[from + count] - before[from]); };

    std::vector<FrameSpan> frames;
    size_t i = 0;
    while (n - i >= 8) {
        if (!AllEqual(p + i, 8, 0x02)) {
            ++i;
            continue;
        }
        if (n - i < 23) break;
        const uint8_t* candidate = p + i;
        const uint64_t size = uint64_t{LittleEndian32(candidate + 18)} + 32;
        if (candidate[22] != sum(i, 22) || size > maxFrameSize) {
            ++i;
            continue;
        }
        if (n - i < size) break;
        const auto s = static_cast<size_t>(size);
        if (AllEqual(candidate + s - 8, 8, 0x03) && candidate[s - 9] == sum(i, s - 9)) {
            frames.push_back({i, s});
            i += s;
        } else {
            ++i;
        }
    }
    return frames;
}

}  // namespace orbel::fuzzing
