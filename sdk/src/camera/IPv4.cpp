#include "camera/IPv4.h"

namespace orbel::camera {

std::optional<uint32_t> ParseIPv4(std::string_view text) {
    uint32_t address = 0;
    size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || (text[i] >= '0' && text[i] <= '9')) return std::nullopt;
            ++i;  // the separator
        }
        const size_t first = i;
        uint32_t number = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            number = number * 10 + static_cast<uint32_t>(text[i] - '0');
            if (number > 255) return std::nullopt;
            ++i;
        }
        if (i == first) return std::nullopt;
        address = address << 8 | number;
    }
    if (i != text.size()) return std::nullopt;
    return address;
}

}  // namespace orbel::camera
