// The alignment of the demo run: the fake camera (its default 512 x 512 picture) stands where
// the sensor emulator's lidar stands and looks the same way, with focal lengths that fit the
// lidar's whole field (120 x 40 degrees, the corners reaching tan(20°) / cos(60°) upwards and
// downwards) inside the picture. Every point of the emulator's room then takes a pixel, so
// the camera's stripes cover the whole cloud. The demo (scripts/run, through the
// orbel-demo-alignment program) and the end-to-end test of live colouring use it.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace orbel::fakecamera {

inline constexpr int kDemoImageWidth = 512;
inline constexpr int kDemoImageHeight = 512;

// In QEXT order: the rotation R row by row, the translation T (mm), k1, k2, fx, fy, cx, cy.
// Columns: tan(60°) x 140 = 242 pixels each side of the centre; rows: 0.728 x 340 = 248.
inline constexpr std::array<float, 18> kDemoAlignment = {
    1, 0, 0, 0, 1, 0, 0, 0, 1,  // R: identity
    0, 0, 0,                    // T: no shift
    0, 0,                       // k1, k2: no distortion
    140, 340,                   // fx, fy
    256, 256,                   // cx, cy: the picture's centre
};

// The 72 bytes of the QEXT file: each value a little-endian IEEE 754 32-bit float.
inline std::vector<uint8_t> DemoAlignmentQext() {
    std::vector<uint8_t> bytes;
    bytes.reserve(4 * kDemoAlignment.size());
    for (float value : kDemoAlignment) {
        const auto bits = std::bit_cast<uint32_t>(value);
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(bits >> (8 * i)));
    }
    return bytes;
}

}  // namespace orbel::fakecamera
