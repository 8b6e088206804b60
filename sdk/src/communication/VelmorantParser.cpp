// VelmorantParser::Parse: the receive path's frame search. Every frame is validated
// in place in the ring and copied once, into the message handed to the callback.
// A rejected candidate costs exactly one byte; bytes skipped while searching for a
// start sequence are dropped silently, all other rejections are logged.
#include "communication/VelmorantParser.h"

#include <cstring>
#include <string>
#include <utility>

#include "utilities/Logging.h"

namespace orbel::communication {
namespace {

constexpr size_t kSequenceSize = 8;
constexpr size_t kCounterOffset = 10;
constexpr size_t kIdOffset = 14;
constexpr size_t kSizeOffset = 18;
constexpr size_t kHeaderChecksumOffset = 22;
constexpr size_t kFrameChecksumFromEnd = 9;
constexpr size_t kNotFound = static_cast<size_t>(-1);

uint32_t ReadU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool IsStartSequence(const uint8_t* p) { return std::memcmp(p, kStartSequence.data(), kSequenceSize) == 0; }

bool IsEndSequence(const uint8_t* p) { return std::memcmp(p, kEndSequence.data(), kSequenceSize) == 0; }

// The first offset in [0, available - 8] where a start sequence begins, or kNotFound.
// A candidate that fails at its k-th byte rules out every start up to that byte, so
// each byte is looked at a bounded number of times, runs of 0x02 included.
size_t FindStartSequence(const uint8_t* p, size_t available) {
    if (available < kSequenceSize) return kNotFound;
    const size_t last = available - kSequenceSize;
    size_t i = 0;
    while (i <= last) {
        const void* hit = std::memchr(p + i, kStartSequence[0], last - i + 1);
        if (hit == nullptr) return kNotFound;
        i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - p);
        size_t k = 1;
        while (k < kSequenceSize && p[i + k] == kStartSequence[k]) ++k;
        if (k == kSequenceSize) return i;
        i += k + 1;
    }
    return kNotFound;
}

}  // namespace

VelmorantParser::VelmorantParser(std::function<void(VelmorantMessage&)> onMessage)
    : onMessage_(std::move(onMessage)) {}

void VelmorantParser::Parse(orbel::utilities::CircularBuffer<uint8_t>& ring) {
    for (;;) {
        const size_t available = ring.ContiguousReadSize();
        if (available == 0) return;
        const uint8_t* p = ring.ReadPosition();

        // A frame left unconsumed by a throwing callback is validated again before it is
        // handed over again: the ring may have been cleared in between.
        if (state_ == State::FrameValid) state_ = State::StartFound;

        if (state_ == State::Searching) {
            const size_t start = FindStartSequence(p, available);
            if (start == kNotFound) {
                // Every position that still has 9 bytes behind it has been ruled out; the
                // last 8 bytes may yet begin a start sequence.
                if (available > kSequenceSize) ring.AdvanceRead(available - kSequenceSize);
                return;
            }
            state_ = State::StartFound;
            if (start > 0) {
                ring.AdvanceRead(start);
                continue;
            }
        }

        if (state_ == State::StartFound) {
            if (available >= kHeaderSize && IsStartSequence(p) &&
                p[kHeaderChecksumOffset] == ByteSum(p, kHeaderChecksumOffset)) {
                state_ = State::HeaderValid;
            } else if (available < kHeaderSize + 1) {
                return;
            } else {
                ORBEL_LOG_DEBUG(L"TCPConnection: Found start sequence with illegal header.");
                state_ = State::Searching;
                ring.AdvanceRead(1);
                continue;
            }
        }

        // HeaderValid. The header is only read again here, never checked again.
        if (available < kHeaderSize) return;  // the ring was cleared under a waiting header
        uint8_t header[kHeaderSize];
        std::memcpy(header, p, kHeaderSize);
        const uint64_t frameSize = static_cast<uint64_t>(ReadU32(header + kSizeOffset)) + kFrameOverhead;
        if (frameSize > ring.Capacity() - 1) {
            ORBEL_LOG_INFO(L"TCPConnection: Found header with a to large message size.");
            state_ = State::Searching;
            ring.AdvanceRead(1);
            continue;
        }
        if (available < frameSize) return;
        const size_t size = static_cast<size_t>(frameSize);
        // The end sequence first: it rejects most false frames without summing them.
        if (!IsEndSequence(p + size - kSequenceSize) ||
            p[size - kFrameChecksumFromEnd] != ByteSum(p, size - kFrameChecksumFromEnd)) {
            ORBEL_LOG_DEBUG(L"TCPConnection: Found header with illegal footer.");
            state_ = State::Searching;
            ring.AdvanceRead(1);
            continue;
        }
        state_ = State::FrameValid;

        if (onMessage_) {
            VelmorantMessage message(p, size);
            onMessage_(message);
        } else {
            ORBEL_LOG_DEBUG(L"TCPConnection: recieved message. ID = " + std::to_wstring(ReadU32(header + kIdOffset)) +
                            L", counter = " + std::to_wstring(ReadU32(header + kCounterOffset)) + L", size = " +
                            std::to_wstring(ReadU32(header + kSizeOffset)));
        }
        ring.AdvanceRead(size);
        state_ = State::Searching;
    }
}

}  // namespace orbel::communication
