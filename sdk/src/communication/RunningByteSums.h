// orbel::communication::RunningByteSums: byte sums (modulo 256) over the unread part
// of a byte stream, so that the checksum of any candidate frame costs O(1) however
// often the stream parser tries a new start inside bytes it has already summed.
//
// Every stream byte is summed at most once, in 128-byte blocks whose running sums are
// kept; a query adds the blocks it spans and at most two partial blocks at its ends.
// The sums cover stream positions from where the first query after a Forget starts;
// bytes are only ever read at or after the first unread byte, so storage that a
// ring has reused behind its read index is never touched.
//
// Owned by one parser, used on one thread; no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orbel::communication {

class RunningByteSums {
public:
    static constexpr size_t kBlock = 128;

    // The first `length` unread bytes, which begin at `unread`, summed modulo 256.
    uint8_t Sum(const uint8_t* unread, size_t length);

    // `count` unread bytes have been consumed.
    void Advance(size_t count) { position_ += count; }

    // The unread bytes are no longer the ones summed so far (the ring was cleared or
    // moved by someone else): nothing summed is used again.
    void Forget();

    // Bytes read to compute sums so far; linear in the bytes received.
    uint64_t SummedBytes() const { return summed_; }

private:
    uint64_t Frontier() const { return origin_ + (prefix_.size() - 1) * kBlock; }
    uint8_t Direct(const uint8_t* data, size_t length);

    uint64_t position_ = 0;  // stream position of the first unread byte
    uint64_t origin_ = 0;    // stream position where prefix_[0] begins
    // prefix_[k]: the sum of the stream bytes [origin_, origin_ + k * kBlock).
    std::vector<uint8_t> prefix_ = std::vector<uint8_t>(1, 0);
    uint64_t summed_ = 0;
};

}  // namespace orbel::communication
