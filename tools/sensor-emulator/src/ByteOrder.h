// Little-endian field access at unaligned offsets, byte by byte so that the result
// does not depend on the host's byte order.
#pragma once

#include <bit>
#include <cstdint>

namespace orbel::emulator {

inline void WriteLE16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void WriteLE32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteLE64(uint8_t* at, uint64_t value) {
    for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void WriteLEFloat(uint8_t* at, float value) { WriteLE32(at, std::bit_cast<uint32_t>(value)); }

inline uint32_t ReadLE32(const uint8_t* at) {
    return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

}  // namespace orbel::emulator
