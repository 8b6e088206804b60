// VelmorantParser::Parse: the receive path's frame search. Every frame is validated
// in place in the ring and copied once, into the message handed to the callback.
// A rejected candidate costs exactly one byte; bytes skipped while searching for a
// start sequence are dropped silently, all other rejections are logged.
#include "communication/VelmorantParser.h"

#include <cstring>
#include <string>
#include <utility>

#include <orbel/sdk/Exception.h>

#include "utilities/Logging.h"

namespace orbel::communication {
namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

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

// The unread bytes of one Parse call. Nothing but the calling thread adds to or takes
// from the ring meanwhile, so the piece found stays valid until it is used up. Bytes
// skipped over (rejected or consumed) are given back to the ring in one index move,
// on Commit, on Refill and when the cursor goes, even by an exception; the running
// sums learn of every skipped byte at once.
class ReadCursor {
public:
    ReadCursor(orbel::utilities::CircularBuffer<uint8_t>& ring, RunningByteSums& sums, size_t& readIndex,
               const uint8_t* data, size_t available)
        : ring_(ring), sums_(sums), readIndex_(readIndex), data_(data), available_(available) {}
    ~ReadCursor() { Commit(); }
    ReadCursor(const ReadCursor&) = delete;
    ReadCursor& operator=(const ReadCursor&) = delete;

    // Commits, then takes the next contiguous piece of unread bytes; false when there is none.
    bool Refill() {
        Commit();
        const auto [data, available] = ring_.ReadSpan();
        data_ = data;
        available_ = available;
        return available_ != 0;
    }
    void Skip(size_t count) {
        data_ += count;
        available_ -= count;
        skipped_ += count;
        sums_.Advance(count);
    }
    void Commit() {
        if (skipped_ > 0) readIndex_ = ring_.AdvanceRead(skipped_);
        skipped_ = 0;
    }
    const uint8_t* Data() const { return data_; }
    size_t Available() const { return available_; }

private:
    orbel::utilities::CircularBuffer<uint8_t>& ring_;
    RunningByteSums& sums_;
    size_t& readIndex_;
    const uint8_t* data_;
    size_t available_;
    size_t skipped_ = 0;
};

}  // namespace

VelmorantParser::VelmorantParser(std::function<void(VelmorantMessage&)> onMessage)
    : onMessage_(std::move(onMessage)) {}

bool VelmorantParser::HeaderChecksumOk(const uint8_t* p) {
    headerSummed_ += kHeaderChecksumOffset;
    return p[kHeaderChecksumOffset] == ByteSum(p, kHeaderChecksumOffset);
}

void VelmorantParser::Parse(orbel::utilities::CircularBuffer<uint8_t>& ring) {
    const auto view = ring.ReadState();
    if (view.clears != ringClears_ || view.readIndex != ringRead_) {
        // The unread bytes are not the ones this parser left: what it summed is of no use.
        sums_.Forget();
        ringClears_ = view.clears;
        ringRead_ = view.readIndex;
    }
    ReadCursor cursor(ring, sums_, ringRead_, view.data, view.size);
    const bool fullMirror = ring.MirrorSize() >= ring.Capacity();
    for (;;) {
        if (cursor.Available() == 0) {
            // With a mirror as large as the ring the first piece held every unread byte;
            // without one, more may lie past the piece just used up.
            if (fullMirror) return;
            if (!cursor.Refill()) return;
        }
        const uint8_t* p = cursor.Data();
        const size_t available = cursor.Available();

        // A frame left unconsumed by a throwing callback is validated again before it is
        // handed over again: the ring may have been cleared in between.
        if (state_ == State::FrameValid) state_ = State::StartFound;

        if (state_ == State::Searching) {
            const size_t start = FindStartSequence(p, available);
            if (start == kNotFound) {
                // Every position that still has 9 bytes behind it has been ruled out; the
                // last 8 bytes may yet begin a start sequence.
                if (available > kSequenceSize) cursor.Skip(available - kSequenceSize);
                return;
            }
            state_ = State::StartFound;
            if (start > 0) {
                cursor.Skip(start);
                continue;
            }
        }

        if (state_ == State::StartFound) {
            if (available >= kHeaderSize && IsStartSequence(p) && HeaderChecksumOk(p)) {
                state_ = State::HeaderValid;
            } else if (available < kHeaderSize + 1) {
                return;
            } else {
                ORBEL_LOG_DEBUG(L"TCPConnection: Found start sequence with illegal header.");
                state_ = State::Searching;
                cursor.Skip(1);
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
            cursor.Skip(1);
            continue;
        }
        if (available < frameSize) return;
        const size_t size = static_cast<size_t>(frameSize);

        // The end sequence first: it rejects most false frames without summing them. The
        // frame checksum comes from the running sums, so however many candidates share
        // bytes, each byte is summed once; the message's validation makes every other check.
        bool valid = IsEndSequence(p + size - kSequenceSize);
        const bool deliver = valid && onMessage_;
        if (valid) {
            const uint8_t sum = sums_.Sum(p, size - kFrameChecksumFromEnd);
            headerSummed_ += kHeaderChecksumOffset;  // the validation's own header check
            valid = deliver ? received_.Load(p, size, sum) : IsConsistentFrame(p, size, sum);
        }
        if (!valid) {
            ORBEL_LOG_DEBUG(L"TCPConnection: Found header with illegal footer.");
            state_ = State::Searching;
            cursor.Skip(1);
            continue;
        }
        state_ = State::FrameValid;

        if (deliver) {
            // The ring is unlocked while the callback runs. If it throws, the cursor gives
            // back the bytes rejected before the frame and the frame stays unconsumed.
            onMessage_(received_);
        } else {
            ORBEL_LOG_DEBUG(L"TCPConnection: recieved message. ID = " + std::to_wstring(ReadU32(header + kIdOffset)) +
                            L", counter = " + std::to_wstring(ReadU32(header + kCounterOffset)) + L", size = " +
                            std::to_wstring(ReadU32(header + kSizeOffset)));
        }
        cursor.Skip(size);
        state_ = State::Searching;
    }
}

}  // namespace orbel::communication
