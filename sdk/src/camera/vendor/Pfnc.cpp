#include "camera/vendor/Pfnc.h"

namespace orbel::camera::vendor::pfnc {

std::optional<uint64_t> PixelBytes(uint64_t code, uint32_t width, uint32_t height) {
    const uint64_t pixels = uint64_t{width} * height;
    switch (code) {
        case Mono8:
        case BayerRG8: return pixels;
        case BayerRG12: return pixels * 2;
        case BayerRG12Packed: return pixels * 3 / 2;
        case RGB8: return pixels * 3;
        case RGB12: return pixels * 6;
        default: return std::nullopt;
    }
}

}  // namespace orbel::camera::vendor::pfnc
