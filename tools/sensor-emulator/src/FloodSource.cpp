// Pre-built flood frames with constant-time re-stamping (see FloodSource.h).
#include "FloodSource.h"

#include <algorithm>
#include <stdexcept>

#include <orbel/emulator/WireFrame.h>

#include "ByteOrder.h"

namespace orbel::emulator::detail {

namespace {

// The payload byte ranges a stamp writes: frame number, line index and both time
// stamps, send time.
constexpr std::pair<size_t, size_t> kStampRanges[] = {
    {payload::kFrameNumberOffset, payload::kFrameNumberOffset + 4},
    {payload::kLineIndexOffset, payload::kTimestampOffset + 8},
    {payload::kSendTimeOffset, payload::kSendTimeOffset + 8},
};

uint32_t StampSum(const uint8_t* payloadStart) {
    uint32_t sum = 0;
    for (const auto& [begin, end] : kStampRanges) {
        for (size_t i = begin; i < end; ++i) sum += payloadStart[i];
    }
    return sum;
}

}  // namespace

FloodSource::FloodSource(uint32_t pointsPerLine)
    : generator_(pointsPerLine, PointType::Extended), frameSize_(generator_.PayloadSize() + kFrameOverhead) {
    block_.resize(frameSize_ * kLinesPerFrame);
    baseSums_.resize(kLinesPerFrame);
    for (uint32_t line = 0; line < kLinesPerFrame; ++line) {
        std::span<uint8_t> frame(block_.data() + line * frameSize_, frameSize_);
        LineStamp zero;
        zero.lineIndex = static_cast<uint8_t>(line);
        generator_.WriteLine(frame.subspan(kPayloadOffset, generator_.PayloadSize()), zero);
        WriteLE32(frame.data() + kIdOffset, 0x1000);
        FinalizeFrame(frame, 0);
        // With the line index in the stamp ranges, zero it for the base and add it back with each stamp.
        frame[kPayloadOffset + payload::kLineIndexOffset] = 0;
        baseSums_[line] = ByteSum(frame.subspan(kPayloadOffset, generator_.PayloadSize()));
    }
}

std::span<const uint8_t> FloodSource::Stamp(uint32_t firstCounter, std::span<const LineStamp> stamps) {
    if (stamps.size() != kLinesPerFrame) throw std::invalid_argument("a flood round stamps every line");
    for (uint32_t line = 0; line < kLinesPerFrame; ++line) {
        uint8_t* frame = block_.data() + line * frameSize_;
        uint8_t* payloadStart = frame + kPayloadOffset;
        WriteLE32(frame + kCounterOffset, firstCounter + line);
        PointCloudGenerator::WriteStamp({payloadStart, payload::kMetadataSize}, stamps[line]);
        const uint8_t header = ByteSum({frame, kHeaderChecksumOffset});
        frame[kHeaderChecksumOffset] = header;
        const uint32_t payloadSum = baseSums_[line] + StampSum(payloadStart);
        frame[frameSize_ - kSequenceLength - 1] = static_cast<uint8_t>(header + header + payloadSum);
    }
    return block_;
}

}  // namespace orbel::emulator::detail
