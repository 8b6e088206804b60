// GenICam Pixel Format Naming Convention codes that the vendor layer knows, and
// the pixel bytes each needs. Sizes are exact 64-bit counts: a 12-bit packed
// image of W x H pixels holds floor(1.5 x W x H) bytes.
#pragma once

#include <cstdint>
#include <optional>

namespace orbel::camera::vendor::pfnc {

inline constexpr uint64_t Mono8 = 0x01080001;
inline constexpr uint64_t BayerRG8 = 0x01080009;
inline constexpr uint64_t BayerRG12 = 0x01100011;
inline constexpr uint64_t BayerRG12Packed = 0x010C002B;
inline constexpr uint64_t RGB8 = 0x02180014;
inline constexpr uint64_t RGB12 = 0x0230001A;

// Bytes a width x height image of the code needs; nullopt for a code the layer does not know.
std::optional<uint64_t> PixelBytes(uint64_t code, uint32_t width, uint32_t height);

}  // namespace orbel::camera::vendor::pfnc
