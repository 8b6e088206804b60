// The stream parser over a receive ring fed as the connection feeds it: frames split
// over reads, resynchronisation after garbage and after each kind of rejected
// candidate, the size limits of the real ring, frames wrapping past the capacity,
// parsing without a callback and a callback that throws.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "communication/VelmorantMessage.h"
#include "communication/VelmorantParser.h"
#include "sdk/communication/RingFeed.h"
#include "support/LogCapture.h"
#include "support/RawFrame.h"
#include "support/TestNames.h"

namespace {

using orbel::communication::VelmorantMessage;
using orbel::communication::VelmorantParser;
using orbel::sdk::Severity;
using orbel::testing::ByteRing;
using orbel::testing::Concat;
using orbel::testing::FeedInReads;
using orbel::testing::LogCapture;
using orbel::testing::RawFrame;
using orbel::testing::RawHeader;
using orbel::testing::ReceiveInto;
using orbel::testing::SharedEndHeaders;
using Bytes = std::vector<uint8_t>;
using State = VelmorantParser::State;

constexpr size_t kWhole = static_cast<size_t>(-1);
const std::wstring kIllegalHeader = L"TCPConnection: Found start sequence with illegal header.";
const std::wstring kTooLarge = L"TCPConnection: Found header with a to large message size.";
const std::wstring kIllegalFooter = L"TCPConnection: Found header with illegal footer.";
const std::wstring kAnyParserLog = L"TCPConnection:";

// Garbage that holds no 0x02 except in runs too short to be a start sequence.
Bytes Garbage(size_t n, uint32_t seed = 1) {
    std::mt19937 random(seed);
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) {
        const auto b = static_cast<uint8_t>(random());
        bytes[i] = b == 0x02 ? 0x05 : b;
    }
    for (size_t i = 3; i + 5 < n; i += 97) bytes[i] = bytes[i + 1] = bytes[i + 2] = 0x02;
    return bytes;
}

Bytes Payload(size_t n) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

Bytes Changed(Bytes bytes, size_t at, int delta) {
    bytes.at(at) = static_cast<uint8_t>(bytes.at(at) + delta);
    return bytes;
}

constexpr size_t kCapacity = 4096;

class ParserTest : public ::testing::Test {
protected:
    explicit ParserTest(size_t capacity = kCapacity, size_t mirror = 5 * kCapacity)
        : ring_(std::make_unique<ByteRing>(capacity, mirror)) {}

    void Feed(const Bytes& bytes, size_t chunk = kWhole) { FeedInReads(*ring_, parser_, bytes, chunk); }
    // Starts the (empty) ring at this index, as if earlier traffic had been consumed.
    void StartAt(size_t index) {
        ring_->AdvanceRead(index);
        ring_->AdvanceWrite(index);
    }
    ByteRing& Ring() { return *ring_; }

    LogCapture log_;
    std::unique_ptr<ByteRing> ring_;
    std::vector<Bytes> delivered_;
    VelmorantParser parser_{[this](VelmorantMessage& message) {
        delivered_.emplace_back(message.GetData(), message.GetData() + message.GetSize());
    }};
};

TEST_F(ParserTest, FrameArrivingOneByteAtATimeIsDeliveredOnceAfterItsLastByte) {
    const Bytes frame = RawFrame(0x1000, 3, Payload(40));
    for (size_t i = 0; i < frame.size(); ++i) {
        Feed({frame[i]});
        ASSERT_EQ(delivered_.size(), i + 1 == frame.size() ? 1u : 0u) << "after byte " << i;
    }
    EXPECT_EQ(delivered_.front(), frame);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(parser_.GetState(), State::Searching);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

class GarbageBeforeFrame : public ParserTest, public ::testing::WithParamInterface<std::tuple<size_t, size_t>> {};

TEST_P(GarbageBeforeFrame, IsDroppedSilently) {
    const auto [garbage, chunk] = GetParam();
    const Bytes frame = RawFrame(0x2000, 1, Payload(9));
    Feed(Concat({Garbage(garbage), frame}), chunk);
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(delivered_.front(), frame);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

// How a case hands its bytes to the parser, for the case's name.
std::string ReadsName(size_t chunk) { return chunk == kWhole ? "InOneRead" : "InReadsOf" + std::to_string(chunk); }

INSTANTIATE_TEST_SUITE_P(Lengths, GarbageBeforeFrame,
                         ::testing::Combine(::testing::Values(1, 7, 8, 9, 300), ::testing::Values(1, 5, kWhole)),
                         [](const ::testing::TestParamInfo<GarbageBeforeFrame::ParamType>& info) {
                             return "Garbage" + std::to_string(std::get<0>(info.param)) + "_" +
                                    ReadsName(std::get<1>(info.param));
                         });

TEST_F(ParserTest, EightGarbageBytesWaitForANinth) {
    Feed(Garbage(8));
    EXPECT_EQ(Ring().Used(), 8u);
    EXPECT_EQ(Ring().ReadIndex(), 0u);
    Feed({0x41});
    EXPECT_EQ(Ring().Used(), 8u);
    EXPECT_EQ(Ring().ReadIndex(), 1u);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

TEST_F(ParserTest, BadHeaderChecksumIsRejectedOnlyOnceTwentyFourBytesAreThere) {
    const Bytes header = Changed(RawHeader(0x1000, 0, 4), 22, 1);
    Feed(header);
    EXPECT_EQ(parser_.GetState(), State::StartFound);
    EXPECT_EQ(Ring().Used(), 23u);
    EXPECT_EQ(log_.Count(kIllegalHeader), 0u);

    Feed({0x00});
    EXPECT_EQ(parser_.GetState(), State::Searching);
    EXPECT_EQ(Ring().ReadIndex(), 24u - 8u);  // one byte for the header, the rest while searching
    const auto records = log_.Records();
    ASSERT_EQ(log_.Count(kIllegalHeader), 1u);
    EXPECT_EQ(records.at(static_cast<size_t>(log_.IndexOf(kIllegalHeader))).first, Severity::DEBUG);
}

struct Rejected {
    const char* name;
    Bytes candidate;
    std::wstring log;  // empty: dropped silently
    Severity severity;
};

void PrintTo(const Rejected& rejected, std::ostream* os) { *os << rejected.name; }

// Each kind of rejected candidate, then a valid frame, with the read index at 0 and at
// capacity - 1 (where the one-byte drop must wrap round).
class RejectedCandidate : public ParserTest, public ::testing::WithParamInterface<std::tuple<Rejected, size_t>> {};

TEST_P(RejectedCandidate, CostsOneByteAndParsingGoesOn) {
    const auto& [rejected, start] = GetParam();
    StartAt(start);
    const Bytes frame = RawFrame(0x1000, 8, Payload(50));
    Feed(Concat({rejected.candidate, frame}));

    ASSERT_EQ(delivered_.size(), 1u) << rejected.name;
    EXPECT_EQ(delivered_.front(), frame);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(Ring().ReadIndex(), (start + rejected.candidate.size() + frame.size()) % kCapacity);
    if (rejected.log.empty()) {
        EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
    } else {
        ASSERT_EQ(log_.Count(rejected.log), 1u);
        EXPECT_EQ(log_.Records().at(static_cast<size_t>(log_.IndexOf(rejected.log))).first, rejected.severity);
        EXPECT_EQ(log_.Count(kAnyParserLog), 1u);
    }
}

const Bytes kBadFrame = RawFrame(0x5000, 2, Payload(20));

// A header checksum off by one under a frame checksum that agrees with it: only the
// header check can refuse this frame.
Bytes BadHeaderChecksumOnly() {
    Bytes frame = Changed(kBadFrame, 22, 1);
    frame[frame.size() - 9] = orbel::testing::SumBytes(frame.data(), frame.size() - 9);
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, RejectedCandidate,
    ::testing::Combine(
        ::testing::Values(
            Rejected{"garbage", Garbage(30), L"", Severity::DEBUG},
            Rejected{"partial start sequence", {0x02, 0x02, 0x07}, L"", Severity::DEBUG},
            Rejected{"bad header checksum", Changed(RawHeader(1, 0, 0), 22, -1), kIllegalHeader, Severity::DEBUG},
            Rejected{"bad header checksum only", BadHeaderChecksumOnly(), kIllegalHeader, Severity::DEBUG},
            Rejected{"size beyond the ring", RawHeader(2, 0, kCapacity - 32), kTooLarge, Severity::INFO},
            // 0xFFFFFFFF + 32 wraps to 31 in 32 bits; eight 0x03 would then pass as a footer.
            Rejected{"wrapping size field", Concat({RawHeader(1, 0, 0xFFFFFFFF), Bytes(8, 0x03)}), kTooLarge,
                     Severity::INFO},
            Rejected{"bad last byte", Changed(kBadFrame, kBadFrame.size() - 1, 1), kIllegalFooter, Severity::DEBUG},
            Rejected{"bad first end byte", Changed(kBadFrame, kBadFrame.size() - 8, 1), kIllegalFooter,
                     Severity::DEBUG},
            Rejected{"frame checksum off by one", Changed(kBadFrame, kBadFrame.size() - 9, 1), kIllegalFooter,
                     Severity::DEBUG}),
        ::testing::Values(size_t{0}, kCapacity - 1)),
    [](const ::testing::TestParamInfo<RejectedCandidate::ParamType>& info) {
        const Rejected& rejected = std::get<0>(info.param);
        return orbel::testing::TestName(rejected.name) + "_at_" + std::to_string(std::get<1>(info.param));
    });

// The one-byte drop is the last index move here, so nothing else could wrap it round.
TEST_F(ParserTest, OneByteDropAtTheRingEndWrapsTheReadIndex) {
    StartAt(kCapacity - 1);
    const Bytes frame = RawFrame(0x1000, 8, Payload(50));
    Feed(Concat({{0x02}, Bytes(frame.begin(), frame.begin() + 23)}));
    EXPECT_EQ(log_.Count(kIllegalHeader), 1u);
    EXPECT_EQ(Ring().ReadIndex(), 0u);
    EXPECT_EQ(parser_.GetState(), State::HeaderValid);

    Feed(Bytes(frame.begin() + 23, frame.end()));
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(delivered_.front(), frame);
    EXPECT_EQ(Ring().ReadIndex(), frame.size());
}

// Without a mirror the unread bytes come in two pieces; one call still takes both.
TEST(VelmorantParser, ParsesBothPiecesOfARingWithoutMirror) {
    ByteRing ring(128, 0);
    ring.AdvanceRead(95);
    ring.AdvanceWrite(95);
    const Bytes first = RawFrame(0x1000, 1, {1});  // 33 bytes: ends exactly at the capacity
    const Bytes second = RawFrame(0x1000, 2, {2});
    ASSERT_EQ(ReceiveInto(ring, first.data(), first.size()), first.size());
    ASSERT_EQ(ReceiveInto(ring, second.data(), second.size()), second.size());

    std::vector<Bytes> delivered;
    VelmorantParser parser([&](VelmorantMessage& message) {
        delivered.emplace_back(message.GetData(), message.GetData() + message.GetSize());
    });
    parser.Parse(ring);
    EXPECT_EQ(delivered, (std::vector<Bytes>{first, second}));
    EXPECT_EQ(ring.Used(), 0u);
}

class RealRing : public ParserTest {
protected:
    RealRing() : ParserTest(10'485'760, 52'428'800) {}
};

TEST_F(RealRing, SizeFieldAboveTheLimitIsTooLarge) {
    Feed(RawHeader(0x1000, 0, 10'485'728));
    EXPECT_EQ(log_.Count(kTooLarge), 1u);
    EXPECT_EQ(parser_.GetState(), State::Searching);
}

TEST_F(RealRing, LargestFrameIsAwaitedAndDelivered) {
    const Bytes frame = RawFrame(0x1000, 0, Payload(10'485'727));
    ASSERT_EQ(frame.size(), 10'485'759u);
    Feed(Bytes(frame.begin(), frame.begin() + 23));
    EXPECT_EQ(parser_.GetState(), State::HeaderValid);
    EXPECT_EQ(Ring().Used(), 23u);

    Feed(Bytes(frame.begin() + 23, frame.end()), 65'536);
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_TRUE(delivered_.front() == frame);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

class WrappingFrame : public ParserTest, public ::testing::WithParamInterface<std::tuple<size_t, size_t>> {};

TEST_P(WrappingFrame, IsValidatedAndDeliveredUnchanged) {
    const auto [fromEnd, chunk] = GetParam();
    StartAt(kCapacity - fromEnd);
    const Bytes first = RawFrame(0x1000, 1, Payload(100));
    const Bytes second = RawFrame(0x1000, 2, Payload(3000));
    Feed(Concat({first, second}), chunk);
    ASSERT_EQ(delivered_.size(), 2u);
    EXPECT_EQ(delivered_[0], first);
    EXPECT_EQ(delivered_[1], second);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

INSTANTIATE_TEST_SUITE_P(Positions, WrappingFrame,
                         ::testing::Combine(::testing::Values(1, 9, 23, 40), ::testing::Values(1, 7, 1448, kWhole)),
                         [](const ::testing::TestParamInfo<WrappingFrame::ParamType>& info) {
                             return "StartsAtEndMinus" + std::to_string(std::get<0>(info.param)) + "_" +
                                    ReadsName(std::get<1>(info.param));
                         });

TEST_F(ParserTest, WithoutCallbackEveryFrameIsLoggedAndConsumed) {
    VelmorantParser silent(nullptr);
    const Bytes corrupt = Changed(RawFrame(0x2000, 1, {9}), 24, 1);  // frame checksum off by one
    const Bytes stream =
        Concat({RawFrame(0x4000, 7, {1, 2, 3}), Garbage(5), corrupt, RawFrame(0x1000, 4294967295u, {})});
    FeedInReads(Ring(), silent, stream, kWhole);

    EXPECT_EQ(log_.Count(L"TCPConnection: recieved message. ID = 16384, counter = 7, size = 3"), 1u);
    EXPECT_EQ(log_.Count(L"TCPConnection: recieved message. ID = 4096, counter = 4294967295, size = 0"), 1u);
    EXPECT_EQ(log_.Count(kIllegalFooter), 1u);
    EXPECT_EQ(log_.CountAt(Severity::DEBUG), 3u);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(silent.GetState(), State::Searching);
}

TEST_F(ParserTest, ThrowingCallbackLeavesFrameUnconsumedAndValid) {
    bool fail = true;
    size_t calls = 0;
    VelmorantParser parser([&](VelmorantMessage& message) {
        ++calls;
        if (fail) throw std::runtime_error("handler failed");
        delivered_.emplace_back(message.GetData(), message.GetData() + message.GetSize());
    });
    const Bytes frame = RawFrame(0x3000, 1, Payload(12));
    ASSERT_EQ(ReceiveInto(Ring(), frame.data(), frame.size()), frame.size());

    EXPECT_THROW(parser.Parse(Ring()), std::runtime_error);
    EXPECT_EQ(parser.GetState(), State::FrameValid);
    EXPECT_EQ(Ring().Used(), frame.size());

    // The next call hands the same frame over again.
    fail = false;
    parser.Parse(Ring());
    EXPECT_EQ(calls, 2u);
    ASSERT_EQ(delivered_.size(), 1u);
    EXPECT_EQ(delivered_.front(), frame);
    EXPECT_EQ(Ring().Used(), 0u);
    EXPECT_EQ(parser.GetState(), State::Searching);
}

// The connection clears a ring that a throwing callback left full. Whatever the parser
// kept about the bytes it had seen (its state, its sums) must not decide on the new ones.
TEST_F(ParserTest, AfterAThrowingCallbackAndAClearTheNewBytesAreParsedAfresh) {
    bool fail = true;
    VelmorantParser parser([&](VelmorantMessage& message) {
        if (fail) throw std::runtime_error("handler failed");
        delivered_.emplace_back(message.GetData(), message.GetData() + message.GetSize());
    });
    const Bytes first = RawFrame(0x3000, 1, Payload(300));
    ASSERT_EQ(ReceiveInto(Ring(), first.data(), first.size()), first.size());
    EXPECT_THROW(parser.Parse(Ring()), std::runtime_error);
    Ring().Clear();

    fail = false;
    const Bytes second = RawFrame(0x1000, 2, Bytes(300, 0x41));
    FeedInReads(Ring(), parser, Concat({Garbage(5), second}), kWhole);
    EXPECT_EQ(delivered_, std::vector<Bytes>{second});
    EXPECT_EQ(Ring().Used(), 0u);
}

class MixedStream : public ParserTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(MixedStream, DeliversEveryFrameInOrder) {
    std::mt19937 random(11);
    std::vector<Bytes> frames;
    Bytes stream;
    for (uint32_t i = 0; i < 150; ++i) {
        frames.push_back(RawFrame(0x1000 + i, i, Payload(random() % 1500)));
        const Bytes noise = Garbage(random() % 3 == 0 ? random() % 40 : 0, i);
        stream.insert(stream.end(), noise.begin(), noise.end());
        stream.insert(stream.end(), frames.back().begin(), frames.back().end());
    }
    Feed(stream, GetParam());
    EXPECT_EQ(delivered_, frames);
    EXPECT_EQ(log_.Count(kAnyParserLog), 0u);
}

INSTANTIATE_TEST_SUITE_P(Reads, MixedStream, ::testing::Values(1, 13, 1448, 65'536),
                         [](const ::testing::TestParamInfo<size_t>& info) { return ReadsName(info.param); });

// Streams built to make a parser read the same bytes again and again. Each is fed
// in reads of `read` bytes (after a first read of `head` bytes), then a valid frame.
struct Hostile {
    const char* name;
    Bytes stream;
    size_t head;
    size_t read;
};

void PrintTo(const Hostile& hostile, std::ostream* os) { *os << hostile.name; }

// Headers that each wait for one more read, and fail once it has come: a parser that
// forgot its sums between calls would sum nearly the whole stream per read.
Bytes Staircase(size_t headers, size_t step) {
    const size_t headerBytes = 23 * headers;
    Bytes stream;
    for (size_t i = 0; i < headers; ++i) {
        const size_t end = headerBytes + step * (i + 1);
        const Bytes header = orbel::testing::RawHeader(0x1000, 0, static_cast<uint32_t>(end - 23 * i - 32));
        stream.insert(stream.end(), header.begin(), header.end());
    }
    stream.resize(headerBytes + step * headers, 0x03);  // every candidate finds its end sequence
    // From the last header back, move a counter wherever a frame checksum would hold by chance.
    for (size_t i = headers; i-- > 0;) {
        const size_t at = 23 * i;
        const size_t checksumAt = headerBytes + step * (i + 1) - 9;
        while (orbel::testing::SumBytes(&stream[at], checksumAt - at) == stream[checksumAt]) {
            ++stream[at + 10];
            stream[at + 22] = orbel::testing::SumBytes(&stream[at], 22);
        }
    }
    return stream;
}

// Every false candidate of the start-run stream of the benchmark's kind, with headers between.
Bytes StartRuns(size_t size) {
    std::mt19937 random(5);
    Bytes stream;
    while (stream.size() < size) {
        stream.insert(stream.end(), 1 + random() % 64, 0x02);
        stream.push_back(static_cast<uint8_t>(0x10 + random() % 0x80));
    }
    return stream;
}

class HostileStream : public ParserTest, public ::testing::WithParamInterface<Hostile> {
protected:
    HostileStream() : ParserTest(1 << 20, 5 << 20) {}
};

// However the bytes are crafted, the checksum work stays a small constant per byte
// received (a parser that re-sums each candidate's frame does hundreds of times more
// here, and quadratically more as the stream grows), and no frame behind them is lost.
TEST_P(HostileStream, CostsAConstantPerByteAndHidesNoFrame) {
    const Hostile& hostile = GetParam();
    ASSERT_FALSE(hostile.stream.empty());
    const Bytes frame = RawFrame(0x1000, 8, Payload(300));
    const size_t head = std::min(hostile.head, hostile.stream.size());
    Feed(Bytes(hostile.stream.begin(), hostile.stream.begin() + static_cast<std::ptrdiff_t>(head)));
    Feed(Concat({Bytes(hostile.stream.begin() + static_cast<std::ptrdiff_t>(head), hostile.stream.end()), frame}),
         hostile.read);

    EXPECT_EQ(delivered_, std::vector<Bytes>{frame});
    EXPECT_EQ(Ring().Used(), 0u);
    const size_t received = hostile.stream.size() + frame.size();
    EXPECT_LE(parser_.SummedBytes(), 32 * received) << parser_.SummedBytes() / received << " per byte";
}

INSTANTIATE_TEST_SUITE_P(
    Streams, HostileStream,
    ::testing::Values(Hostile{"shared_end_whole", SharedEndHeaders(64 << 10), 0, kWhole},
                      Hostile{"shared_end_in_reads", SharedEndHeaders(64 << 10), 0, 1448},
                      Hostile{"staircase", Staircase(750, 64), 750 * 23, 64},
                      Hostile{"start_runs", StartRuns(64 << 10), 0, 1448},
                      Hostile{"garbage", Garbage(64 << 10), 0, 1448}),
    [](const ::testing::TestParamInfo<Hostile>& info) { return std::string(info.param.name); });

}  // namespace
