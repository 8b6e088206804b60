// The bytes of a QEXT calibration file, written from the format alone: the values in file
// order (rotation 3 x 3 row by row, translation, k1, k2, fx, fy, cx, cy), each a 32-bit
// little-endian float.
#pragma once

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace orbel::testing {

inline std::vector<uint8_t> QextBytes(std::span<const float> values) {
    std::vector<uint8_t> bytes;
    bytes.reserve(4 * values.size());
    for (float v : values) {
        const auto bits = std::bit_cast<uint32_t>(v);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    return bytes;
}

inline std::vector<uint8_t> QextBytes(std::initializer_list<float> values) {
    return QextBytes(std::span<const float>(values.begin(), values.size()));
}

}  // namespace orbel::testing
