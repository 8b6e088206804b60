// Reads a fuzz input from the front as small fields (options, sizes, seeds) and hands
// out the rest as bytes. Reading past the end yields zeros, so every input, however
// short, decodes to some configuration. Header-only; one reader per input.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace orbel::fuzzing {

class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }

    uint16_t U16() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | Byte() << 8);
    }

    uint32_t U32() {
        const uint32_t low = U16();
        return low | static_cast<uint32_t>(U16()) << 16;
    }

    // Up to `count` bytes (fewer when the input ends first).
    std::span<const uint8_t> Take(size_t count) {
        const size_t n = std::min(count, Remaining());
        const std::span<const uint8_t> taken(data_ + at_, n);
        at_ += n;
        return taken;
    }

    std::span<const uint8_t> Rest() { return Take(Remaining()); }

    size_t Remaining() const { return size_ - at_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A small deterministic generator for values a target derives from one seed (read
// sizes, filler values), so that an input replays to the same run every time.
class SplitMix {
public:
    explicit SplitMix(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // In [1, limit].
    size_t UpTo(size_t limit) { return limit <= 1 ? 1 : 1 + static_cast<size_t>(Next() % limit); }

private:
    uint64_t state_;
};

// The sizes of successive socket reads, from one 32-bit field: its low byte picks the
// pattern (0: everything at once, 1: one byte at a time, otherwise random sizes up to
// 2^(k % 17)), the rest seeds the random sizes.
class ReadSizes {
public:
    explicit ReadSizes(uint32_t field) : mode_(field & 0xFF), random_(field >> 8) {}

    size_t Next(size_t remaining) {
        if (mode_ == 0) return remaining;
        if (mode_ == 1) return 1;
        return random_.UpTo(size_t{1} << (mode_ % 17));
    }

private:
    uint32_t mode_;
    SplitMix random_;
};

}  // namespace orbel::fuzzing
