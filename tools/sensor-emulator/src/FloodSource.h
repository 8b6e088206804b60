// One frame's worth (56 lines) of type 0x6F point-cloud messages, built once and
// re-stamped in place for every round of the flood: counter, frame number, time stamps
// and send time are patched and both checksums updated from precomputed sums, so a
// round costs O(lines), not O(bytes). The block must not be re-stamped while the
// output queue still holds it. I/O thread only; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include <orbel/emulator/PointCloudGenerator.h>

namespace orbel::emulator::detail {

class FloodSource {
public:
    explicit FloodSource(uint32_t pointsPerLine);

    // Re-stamps every line; line i gets counter firstCounter + i and stamps[i].
    std::span<const uint8_t> Stamp(uint32_t firstCounter, std::span<const LineStamp> stamps);

    size_t FrameSize() const { return frameSize_; }

private:
    PointCloudGenerator generator_;
    size_t frameSize_;
    std::vector<uint8_t> block_;
    std::vector<uint8_t> baseSums_;  // per line: payload sum with the stamp fields zero
};

}  // namespace orbel::emulator::detail
