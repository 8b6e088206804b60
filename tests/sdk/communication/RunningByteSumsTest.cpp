// The running byte sums behind the parser's frame checksums, against plain sums: queries
// of every length round the block size, a read position that moves far past blocks
// summed long ago (so old blocks are dropped), and a Forget when the bytes change.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "communication/RunningByteSums.h"
#include "support/RawFrame.h"

namespace {

using orbel::communication::RunningByteSums;
using orbel::testing::SumBytes;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(RunningByteSums, AgreeWithPlainSumsAsTheReadPositionMoves) {
    const std::vector<uint8_t> data = RandomBytes(3 << 20, 7);
    std::vector<uint8_t> prefix(data.size() + 1, 0);  // plain running sums to compare with
    for (size_t i = 0; i < data.size(); ++i) prefix[i + 1] = static_cast<uint8_t>(prefix[i] + data[i]);
    const auto plain = [&](size_t from, size_t length) {
        return static_cast<uint8_t>(prefix[from + length] - prefix[from]);
    };

    RunningByteSums sums;
    std::mt19937 random(3);
    size_t position = 0;
    // A far-reaching first query: later ones fall inside what it summed.
    ASSERT_EQ(sums.Sum(data.data(), data.size() - 1000), plain(0, data.size() - 1000));
    const size_t kBlock = RunningByteSums::kBlock;
    while (position + 4 * kBlock < data.size()) {
        const size_t left = data.size() - position;
        for (size_t length : {size_t{0}, size_t{1}, kBlock - 1, kBlock, kBlock + 1, 2 * kBlock + 1,
                              static_cast<size_t>(random() % left), left}) {
            ASSERT_EQ(sums.Sum(data.data() + position, length), plain(position, length))
                << "at " << position << ", length " << length;
        }
        const size_t step = 1 + random() % 20'000;
        sums.Advance(step);
        position += step;
    }
    // Every byte was summed about once, however many queries covered it.
    EXPECT_LT(sums.SummedBytes(), 2 * data.size());
}

TEST(RunningByteSums, ForgetStartsOverOnNewBytes) {
    std::vector<uint8_t> data = RandomBytes(10'000, 1);
    RunningByteSums sums;
    ASSERT_EQ(sums.Sum(data.data(), data.size()), SumBytes(data.data(), data.size()));
    // The same storage now holds other bytes, as after a ring's Clear.
    data = RandomBytes(10'000, 2);
    sums.Forget();
    for (size_t length : {size_t{300}, size_t{5000}, data.size()})
        EXPECT_EQ(sums.Sum(data.data(), length), SumBytes(data.data(), length)) << length;
}

}  // namespace
