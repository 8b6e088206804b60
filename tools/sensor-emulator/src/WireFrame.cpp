// Wire-frame encoding and the resynchronising decoder (see WireFrame.h).
#include <orbel/emulator/WireFrame.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <stdexcept>

#include "ByteOrder.h"

namespace orbel::emulator {

uint8_t ByteSum(std::span<const uint8_t> bytes) {
    // Accumulate in a wide integer: the modulo is taken once at the end.
    const uint64_t sum = std::accumulate(bytes.begin(), bytes.end(), uint64_t{0});
    return static_cast<uint8_t>(sum & 0xFF);
}

std::vector<uint8_t> MakeFrame(uint32_t id, size_t payloadSize) {
    if (payloadSize > UINT32_MAX - kFrameOverhead) throw std::length_error("payload too large for a frame");
    std::vector<uint8_t> frame(payloadSize + kFrameOverhead, 0);
    WriteLE32(frame.data() + kIdOffset, id);
    WriteLE32(frame.data() + kSizeOffset, static_cast<uint32_t>(payloadSize));
    return frame;
}

void UpdateChecksums(std::span<uint8_t> frame) {
    frame[kHeaderChecksumOffset] = ByteSum(frame.first(kHeaderChecksumOffset));
    const size_t checksumAt = frame.size() - kSequenceLength - 1;
    frame[checksumAt] = ByteSum(frame.first(checksumAt));
}

void FinalizeFrame(std::span<uint8_t> frame, uint32_t counter) {
    if (frame.size() < kFrameOverhead) throw std::invalid_argument("a frame is at least 32 bytes");
    std::fill_n(frame.begin(), kSequenceLength, kStartByte);
    std::fill_n(frame.end() - kSequenceLength, kSequenceLength, kEndByte);
    frame[8] = 0x01;
    frame[9] = 0x01;
    WriteLE32(frame.data() + kCounterOffset, counter);
    WriteLE32(frame.data() + kSizeOffset, static_cast<uint32_t>(frame.size() - kFrameOverhead));
    UpdateChecksums(frame);
}

std::vector<uint8_t> EncodeFrame(uint32_t id, uint32_t counter, std::span<const uint8_t> payload) {
    std::vector<uint8_t> frame = MakeFrame(id, payload.size());
    std::copy(payload.begin(), payload.end(), frame.begin() + kPayloadOffset);
    FinalizeFrame(frame, counter);
    return frame;
}

FrameDecoder::FrameDecoder(size_t maxFrameSize) : maxFrameSize_(maxFrameSize) {}

void FrameDecoder::Feed(std::span<const uint8_t> bytes) {
    // Compact once the consumed prefix dominates, so a long session (or one huge
    // frame awaited while its bytes trickle in) stays linear.
    if (read_ > 0 && (read_ == buffer_.size() || (read_ >= (64u << 10) && read_ * 2 >= buffer_.size()))) {
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(read_));
        sums_.erase(sums_.begin(), sums_.begin() + static_cast<std::ptrdiff_t>(read_));
        read_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    // Running sums: a candidate's frame checksum is then one subtraction, however many
    // candidates share the same bytes.
    sums_.reserve(buffer_.size() + 1);
    uint8_t running = sums_.back();
    for (uint8_t b : bytes) {
        running = static_cast<uint8_t>(running + b);
        sums_.push_back(running);
    }
    readBytes_ += bytes.size();
}

void FrameDecoder::Drop(size_t count) {
    read_ += count;
    skipped_ += count;
}

std::optional<DecodedFrame> FrameDecoder::Next() {
    for (;;) {
        const uint8_t* p = buffer_.data() + read_;
        const size_t available = buffer_.size() - read_;
        if (available == 0) return std::nullopt;

        // Searching: a byte that cannot begin the start sequence is dropped; jumping to
        // the next 0x02 drops the same bytes one by one, only faster.
        if (p[0] != kStartByte) {
            const void* next = std::memchr(p, kStartByte, available);
            Drop(next ? static_cast<size_t>(static_cast<const uint8_t*>(next) - p) : available);
            continue;
        }
        const size_t prefix = std::min(available, kSequenceLength);
        if (std::any_of(p, p + prefix, [](uint8_t b) { return b != kStartByte; })) {
            Drop(1);
            continue;
        }
        if (available < kHeaderSize) return std::nullopt;

        DecodedFrame frame;
        frame.counter = ReadLE32(p + kCounterOffset);
        frame.id = ReadLE32(p + kIdOffset);
        frame.sizeField = ReadLE32(p + kSizeOffset);
        frame.headerChecksumOk = p[kHeaderChecksumOffset] == SumAt(read_, kHeaderChecksumOffset);
        if (!frame.headerChecksumOk) {
            Drop(1);
            return frame;
        }
        const uint64_t frameSize = uint64_t{frame.sizeField} + kFrameOverhead;
        frame.sizeOk = frameSize <= maxFrameSize_;
        if (!frame.sizeOk) {
            Drop(1);
            return frame;
        }
        if (available < frameSize) return std::nullopt;

        const size_t checksumAt = static_cast<size_t>(frameSize) - kSequenceLength - 1;
        frame.endSequenceOk = std::all_of(p + checksumAt + 1, p + frameSize, [](uint8_t b) { return b == kEndByte; });
        frame.frameChecksumOk = p[checksumAt] == SumAt(read_, checksumAt);
        if (frame.Valid()) {
            // Only a valid frame's payload is copied: a rejected candidate may span
            // megabytes that the next candidate shares.
            frame.payload.assign(p + kPayloadOffset, p + kPayloadOffset + frame.sizeField);
            readBytes_ += frame.sizeField;
            read_ += static_cast<size_t>(frameSize);
        } else {
            Drop(1);
        }
        return frame;
    }
}

}  // namespace orbel::emulator
