// The ring with a mirror tail: contiguous sizes, CommitWrite's two mirror copies,
// the one element that always stays free, and a long random stream read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <ostream>
#include <random>
#include <vector>

#include "utilities/CircularBuffer.h"

namespace {

using Ring = orbel::utilities::CircularBuffer<uint8_t>;

void PlaceIndices(Ring& ring, size_t read, size_t write) {
    ring.AdvanceRead(read);
    ring.AdvanceWrite(write);
}

std::vector<uint8_t> Written(Ring& ring, std::vector<uint8_t> bytes) {
    std::memcpy(ring.WritePosition(), bytes.data(), bytes.size());
    ring.CommitWrite(bytes.size());
    ring.AdvanceWrite(bytes.size());
    return bytes;
}

struct Sizes {
    const char* name;
    size_t capacity, mirror, read, write;
    size_t readable, writable;
};

void PrintTo(const Sizes& s, std::ostream* os) {
    *os << "capacity " << s.capacity << ", mirror " << s.mirror << ", read " << s.read << ", write " << s.write;
}

class ContiguousSizes : public ::testing::TestWithParam<Sizes> {};

TEST_P(ContiguousSizes, FollowIndicesAndMirror) {
    const Sizes& s = GetParam();
    Ring ring(s.capacity, s.mirror);
    PlaceIndices(ring, s.read, s.write);
    EXPECT_EQ(ring.ContiguousReadSize(), s.readable);
    EXPECT_EQ(ring.ContiguousWriteSize(), s.writable);
}

INSTANTIATE_TEST_SUITE_P(Indices, ContiguousSizes,
                         ::testing::Values(
                             // Empty: all but one byte free, in one piece.
                             Sizes{"Empty", 16, 32, 0, 0, 0, 15}, Sizes{"Plain", 16, 32, 4, 10, 6, 9},
                             Sizes{"UnreadDataWrapsAndTheMirrorJoinsIt", 16, 32, 10, 4, 10, 5},
                             Sizes{"FreeSpaceRunsIntoTheMirror", 16, 32, 15, 15, 0, 15},
                             Sizes{"NoMirrorWritesStopAtTheEnd", 16, 0, 4, 10, 6, 6},
                             Sizes{"NoMirrorReadsStopAtTheEnd", 16, 0, 10, 4, 6, 5},
                             Sizes{"ShortMirrorBoundsTheRead", 16, 4, 14, 10, 6, 3}),
                         [](const ::testing::TestParamInfo<Sizes>& info) { return std::string(info.param.name); });

TEST(CircularBuffer, WriteRunningPastCapacityIsCopiedToFront) {
    Ring ring(16, 32);
    PlaceIndices(ring, 12, 12);
    const auto bytes = Written(ring, {10, 11, 12, 13, 14, 15, 16, 17, 18, 19});
    EXPECT_TRUE(std::equal(bytes.begin() + 4, bytes.end(), ring.Storage()));
    EXPECT_EQ(ring.WriteIndex(), 6u);
    EXPECT_EQ(ring.Used(), 10u);
}

TEST(CircularBuffer, WriteBehindWrappedDataIsCopiedToMirror) {
    Ring ring(16, 32);
    PlaceIndices(ring, 12, 12);
    const auto first = Written(ring, {1, 2, 3, 4, 5, 6});  // ends at 18: two bytes wrapped
    const auto second = Written(ring, {7, 8, 9});          // at 2..4, behind the read index
    EXPECT_TRUE(std::equal(second.begin(), second.end(), ring.Storage() + 16 + 2));

    ASSERT_EQ(ring.ContiguousReadSize(), 9u);
    const uint8_t* read = ring.ReadPosition();
    EXPECT_EQ(std::vector<uint8_t>(read, read + 9), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(CircularBuffer, UnwrappedWriteLeavesMirrorAlone) {
    Ring ring(16, 32);
    std::fill_n(ring.Storage(), 48, 0xEE);
    PlaceIndices(ring, 3, 3);
    Written(ring, {1, 2, 3, 4});
    EXPECT_TRUE(std::all_of(ring.Storage() + 16, ring.Storage() + 48, [](uint8_t b) { return b == 0xEE; }));
    EXPECT_TRUE(std::all_of(ring.Storage(), ring.Storage() + 3, [](uint8_t b) { return b == 0xEE; }));
}

TEST(CircularBuffer, HoldsAtMostCapacityMinusOne) {
    for (size_t mirror : {size_t{0}, size_t{40}}) {
        Ring ring(8, mirror);
        PlaceIndices(ring, 5, 5);
        std::vector<uint8_t> bytes(8, 0x42);
        size_t total = 0;
        while (const size_t n = ring.ContiguousWriteSize()) {
            std::memcpy(ring.WritePosition(), bytes.data(), n);
            ring.CommitWrite(n);
            ring.AdvanceWrite(n);
            total += n;
        }
        EXPECT_EQ(total, 7u) << "mirror " << mirror;
        EXPECT_EQ(ring.Used(), 7u);
        ring.AdvanceRead(1);
        EXPECT_EQ(ring.ContiguousWriteSize(), 1u);
        ring.Clear();
        EXPECT_EQ(ring.Used(), 0u);
        EXPECT_EQ(ring.ReadIndex(), 0u);
    }
}

// With a mirror at least as large as the capacity, everything unread reads in one piece.
TEST(CircularBuffer, RandomStreamReadsBackContiguously) {
    constexpr size_t kCapacity = 61;
    Ring ring(kCapacity, 5 * kCapacity);
    std::mt19937 random(7);
    std::vector<uint8_t> stream(200000);
    for (auto& b : stream) b = static_cast<uint8_t>(random());

    size_t written = 0;
    size_t consumed = 0;
    while (consumed < stream.size()) {
        const size_t space = ring.ContiguousWriteSize();
        ASSERT_EQ(space, kCapacity - 1 - ring.Used());
        const size_t n = std::min<size_t>(random() % (space + 1), stream.size() - written);
        std::memcpy(ring.WritePosition(), stream.data() + written, n);
        ring.CommitWrite(n);
        ring.AdvanceWrite(n);
        written += n;

        const size_t readable = ring.ContiguousReadSize();
        ASSERT_EQ(readable, written - consumed);
        const uint8_t* at = ring.ReadPosition();
        ASSERT_TRUE(std::equal(at, at + readable, stream.begin() + static_cast<std::ptrdiff_t>(consumed)))
            << "after " << consumed << " bytes";
        const size_t take = random() % (readable + 1);
        ring.AdvanceRead(take);
        consumed += take;
        ASSERT_LT(ring.ReadIndex(), kCapacity);
    }
}

}  // namespace
