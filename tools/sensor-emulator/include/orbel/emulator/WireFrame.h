// The emulator's own wire-frame codec: encoding, finalising and a resynchronising
// decoder that works on bytes only (no sockets). It shares no code with the SDK's,
// so a fault in one cannot hide in the other.
//
// Frame: 8 x 0x02 | 0x01 0x01 | counter u32 | id u32 | payload size u32 | header
// checksum (sum of bytes 0..21 mod 256) | payload | frame checksum (sum of every byte
// before it mod 256) | 8 x 0x03. Little-endian; 32 bytes of overhead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orbel::emulator {

inline constexpr size_t kFrameOverhead = 32;
inline constexpr size_t kHeaderSize = 23;  // up to and including the header checksum
inline constexpr size_t kPayloadOffset = 23;
inline constexpr size_t kSequenceLength = 8;
inline constexpr uint8_t kStartByte = 0x02;
inline constexpr uint8_t kEndByte = 0x03;
inline constexpr size_t kCounterOffset = 10;
inline constexpr size_t kIdOffset = 14;
inline constexpr size_t kSizeOffset = 18;
inline constexpr size_t kHeaderChecksumOffset = 22;
// The largest frame a receiver with a 10 MiB ring can hold (one slot stays free).
inline constexpr size_t kReceiverMaxFrameSize = 10'485'759;

// Sum of the bytes modulo 256.
uint8_t ByteSum(std::span<const uint8_t> bytes);

// A frame of payloadSize + 32 zero bytes with the id and the size field written;
// fill the payload at kPayloadOffset, then call FinalizeFrame.
std::vector<uint8_t> MakeFrame(uint32_t id, size_t payloadSize);

// Writes everything but the id and the payload: start and end sequences, bytes 8
// and 9, counter, size field (from the frame's length) and both checksums.
// frame.size() must be at least 32.
void FinalizeFrame(std::span<uint8_t> frame, uint32_t counter);

// Recomputes both checksums after a field was patched.
void UpdateChecksums(std::span<uint8_t> frame);

// MakeFrame + payload copy + FinalizeFrame.
std::vector<uint8_t> EncodeFrame(uint32_t id, uint32_t counter, std::span<const uint8_t> payload);

// One candidate frame the decoder met. A valid frame has every flag set; a rejected
// candidate (start sequence found, then a check failed) is reported with the flags
// that held up to the failing check and is followed by a one-byte resynchronisation.
struct DecodedFrame {
    uint32_t id = 0;
    uint32_t counter = 0;
    uint32_t sizeField = 0;         // payload size as declared in the header
    std::vector<uint8_t> payload;   // of a valid frame only
    bool headerChecksumOk = false;
    bool sizeOk = false;            // declared frame size within the decoder's limit
    bool frameChecksumOk = false;
    bool endSequenceOk = false;

    bool Valid() const { return headerChecksumOk && sizeOk && frameChecksumOk && endSequenceOk; }
};

// Cuts frames out of a byte stream fed in arbitrary pieces, as a real receiver does:
// it searches for the start sequence, checks the header checksum, the size against
// its limit, then the end sequence and the frame checksum; on any failure it drops
// exactly one byte and searches again, so a frame hidden behind garbage or behind a
// rejected candidate is still found. Its work is linear in the bytes fed, whatever
// they are: checksums come from running sums. Not thread-safe: one owner feeds and reads it.
class FrameDecoder {
public:
    explicit FrameDecoder(size_t maxFrameSize = kReceiverMaxFrameSize);

    void Feed(std::span<const uint8_t> bytes);

    // The next valid frame or rejected candidate, or nothing until more bytes arrive.
    std::optional<DecodedFrame> Next();

    // Bytes dropped one by one while searching (garbage and rejected candidates).
    uint64_t SkippedBytes() const { return skipped_; }
    size_t BufferedBytes() const { return buffer_.size() - read_; }
    // Bytes read to sum and to copy out payloads, in total; a small multiple of the
    // bytes fed however they are crafted.
    uint64_t ReadBytes() const { return readBytes_; }

private:
    void Drop(size_t count);
    // The sum of the `count` buffered bytes from `at`, modulo 256.
    uint8_t SumAt(size_t at, size_t count) const { return static_cast<uint8_t>(sums_[at + count] - sums_[at]); }

    size_t maxFrameSize_;
    std::vector<uint8_t> buffer_;
    // sums_[i]: the sum of buffer_[0, i) modulo 256; one longer than buffer_.
    std::vector<uint8_t> sums_ = std::vector<uint8_t>(1, 0);
    size_t read_ = 0;
    uint64_t skipped_ = 0;
    uint64_t readBytes_ = 0;
};

}  // namespace orbel::emulator
