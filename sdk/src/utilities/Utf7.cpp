// UTF-7 codec: direct characters pass as they are, everything else travels as
// modified base64 of UTF-16 big-endian units between '+' and '-'.
#include "utilities/Utf7.h"

#include <cstdint>
#include <vector>

namespace orbel::utilities {
namespace {

constexpr std::string_view kBase64 = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool IsDirect(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    return std::u32string_view(U"'(),-./:? \t\r\n").find(c) != std::u32string_view::npos;
}

bool AppendUtf16Units(std::vector<uint16_t>& units, std::u32string& out) {
    for (size_t i = 0; i < units.size(); ++i) {
        const uint16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units.size()) return false;
            const uint16_t low = units[++i];
            if (low < 0xDC00 || low > 0xDFFF) return false;
            out.push_back(0x10000 + ((char32_t(u) - 0xD800) << 10) + (low - 0xDC00));
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return false;
        } else {
            out.push_back(u);
        }
    }
    units.clear();
    return true;
}

}  // namespace

std::optional<std::u32string> DecodeUtf7(std::string_view text) {
    std::u32string out;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80) return std::nullopt;
        if (c != '+') {
            out.push_back(static_cast<char32_t>(c));
            ++i;
            continue;
        }
        ++i;
        if (i < text.size() && text[i] == '-') {
            out.push_back(U'+');
            ++i;
            continue;
        }
        uint32_t bits = 0;
        int bitCount = 0;
        std::vector<uint16_t> units;
        while (i < text.size() && Base64Value(text[i]) >= 0) {
            bits = (bits << 6) | static_cast<uint32_t>(Base64Value(text[i]));
            bitCount += 6;
            if (bitCount >= 16) {
                bitCount -= 16;
                units.push_back(static_cast<uint16_t>((bits >> bitCount) & 0xFFFF));
            }
            ++i;
        }
        // Leftover bits are padding and must be zero.
        if (bitCount >= 6 || (bits & ((1u << bitCount) - 1)) != 0) return std::nullopt;
        if (!AppendUtf16Units(units, out)) return std::nullopt;
        if (i < text.size() && text[i] == '-') ++i;
    }
    return out;
}

std::optional<std::string> EncodeUtf7(std::u32string_view text) {
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        const char32_t c = text[i];
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
        if (c == U'+') {
            out += "+-";
            ++i;
            continue;
        }
        if (IsDirect(c)) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        std::vector<uint16_t> units;
        while (i < text.size() && !IsDirect(text[i]) && text[i] != U'+') {
            const char32_t d = text[i];
            if (d > 0x10FFFF || (d >= 0xD800 && d <= 0xDFFF)) return std::nullopt;
            if (d >= 0x10000) {
                units.push_back(static_cast<uint16_t>(0xD800 + ((d - 0x10000) >> 10)));
                units.push_back(static_cast<uint16_t>(0xDC00 + ((d - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<uint16_t>(d));
            }
            ++i;
        }
        out.push_back('+');
        uint32_t bits = 0;
        int bitCount = 0;
        for (uint16_t u : units) {
            bits = (bits << 16) | u;
            bitCount += 16;
            while (bitCount >= 6) {
                bitCount -= 6;
                out.push_back(kBase64[(bits >> bitCount) & 0x3F]);
            }
        }
        if (bitCount > 0) out.push_back(kBase64[(bits << (6 - bitCount)) & 0x3F]);
        out.push_back('-');
    }
    return out;
}

}  // namespace orbel::utilities
