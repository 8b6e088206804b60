// Builds and reads wire frames byte by byte from the frame layout, independent of
// the SDK's message class, so tests compare the SDK against the format itself.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace orbel::testing {

inline uint8_t SumBytes(const uint8_t* data, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i) sum += data[i];
    return static_cast<uint8_t>(sum);
}

inline std::vector<uint8_t> RawFrame(uint32_t id, uint32_t counter, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(payload.size() + 32, 0);
    std::memset(frame.data(), 0x02, 8);
    frame[8] = 1;
    frame[9] = 1;
    const uint32_t size = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) {
        frame[10 + i] = static_cast<uint8_t>(counter >> (8 * i));
        frame[14 + i] = static_cast<uint8_t>(id >> (8 * i));
        frame[18 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
    frame[22] = SumBytes(frame.data(), 22);
    if (!payload.empty()) std::memcpy(frame.data() + 23, payload.data(), payload.size());
    frame[23 + payload.size()] = SumBytes(frame.data(), 23 + payload.size());
    std::memset(frame.data() + 24 + payload.size(), 0x03, 8);
    return frame;
}

inline uint32_t ReadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct RawFrameView {
    uint32_t counter;
    uint32_t id;
    std::vector<uint8_t> payload;
};

// Cuts a byte stream that holds only whole, valid frames into frames.
inline std::vector<RawFrameView> SplitFrames(const std::vector<uint8_t>& stream) {
    std::vector<RawFrameView> frames;
    size_t at = 0;
    while (at + 32 <= stream.size()) {
        const uint32_t size = ReadU32(&stream[at + 18]);
        if (at + 32 + size > stream.size()) break;
        frames.push_back({ReadU32(&stream[at + 10]), ReadU32(&stream[at + 14]),
                          std::vector<uint8_t>(stream.begin() + at + 23, stream.begin() + at + 23 + size)});
        at += 32 + size;
    }
    return frames;
}

}  // namespace orbel::testing
