// Test and benchmark helper: builds RG Bayer mosaics as 12-bit samples and
// packs them into the three camera layouts byte by byte, independently of the
// SDK's unpacking code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

namespace orbel::testing {

enum class BayerColour { Red = 0, Green = 1, Blue = 2 };

inline void PrintTo(BayerColour colour, std::ostream* os) {
    static const char* names[] = {"Red", "Green", "Blue"};
    *os << names[static_cast<int>(colour)];
}

// Row 0 is R G R G ..., row 1 is G B G B ....
inline BayerColour SiteColour(uint32_t x, uint32_t y) {
    if ((y & 1) == 0) return (x & 1) == 0 ? BayerColour::Red : BayerColour::Green;
    return (x & 1) == 0 ? BayerColour::Green : BayerColour::Blue;
}

// value at every site of colour, 0 elsewhere; row-major.
inline std::vector<uint16_t> UniformMosaic(uint32_t width, uint32_t height, BayerColour colour, uint16_t value) {
    std::vector<uint16_t> samples(size_t{width} * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            samples[size_t{y} * width + x] = SiteColour(x, y) == colour ? value : 0;
    return samples;
}

// One byte per sample; samples must be below 256.
inline std::vector<uint8_t> PackRG8(const std::vector<uint16_t>& samples) {
    return std::vector<uint8_t>(samples.begin(), samples.end());
}

// Little-endian 16-bit samples.
inline std::vector<uint8_t> PackRG12(const std::vector<uint16_t>& samples) {
    std::vector<uint8_t> bytes;
    for (uint16_t s : samples) {
        bytes.push_back(static_cast<uint8_t>(s & 0xFF));
        bytes.push_back(static_cast<uint8_t>(s >> 8));
    }
    return bytes;
}

// Pairs in three bytes: b0 = p0 >> 4, b1 = (p0 & 0xF) | (p1 & 0xF) << 4, b2 = p1 >> 4;
// floor(1.5 n) bytes, so an odd count's last sample keeps only its upper eight bits.
inline std::vector<uint8_t> PackRG12Packed(const std::vector<uint16_t>& samples) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < samples.size(); i += 2) {
        const uint16_t p0 = samples[i];
        const uint16_t p1 = i + 1 < samples.size() ? samples[i + 1] : 0;
        bytes.push_back(static_cast<uint8_t>(p0 >> 4));
        bytes.push_back(static_cast<uint8_t>((p0 & 0xF) | (p1 & 0xF) << 4));
        bytes.push_back(static_cast<uint8_t>(p1 >> 4));
    }
    bytes.resize(samples.size() * 3 / 2);
    return bytes;
}

}  // namespace orbel::testing
