// The emulator's frame codec against hand-computed frames, and its decoder's
// resynchronisation and per-check flags.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include <orbel/emulator/WireFrame.h>

#include "support/TestNames.h"

namespace orbel::emulator {
namespace {

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<DecodedFrame> DecodeAll(FrameDecoder& decoder) {
    std::vector<DecodedFrame> frames;
    while (auto frame = decoder.Next()) frames.push_back(*frame);
    return frames;
}

TEST(WireFrame, StartCommandMatchesTheHandComputedFrame) {
    const std::vector<uint8_t> expected = {0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02,  // start sequence
                                           0x01, 0x01,                                      //
                                           0x00, 0x00, 0x00, 0x00,                          // counter 0
                                           0x00, 0x40, 0x00, 0x00,                          // id 0x4000
                                           0x00, 0x00, 0x00, 0x00,                          // no payload
                                           0x52,                                            // header checksum
                                           0xA4,                                            // frame checksum
                                           0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03, 0x03};
    EXPECT_EQ(EncodeFrame(0x4000, 0, {}), expected);
}

TEST(WireFrame, StatusRequestWithCounterFiveHasTheReferenceChecksums) {
    const uint8_t payload[] = {0x00};
    const std::vector<uint8_t> frame = EncodeFrame(0x6000, 5, payload);
    ASSERT_EQ(frame.size(), 33u);
    EXPECT_EQ(frame[10], 5);
    EXPECT_EQ(frame[18], 1);  // payload size
    EXPECT_EQ(frame[22], 0x78);
    EXPECT_EQ(frame[24], 0xF0);
}

TEST(FrameDecoder, FindsFramesBehindGarbageAndAcrossOneBytePieces) {
    const uint8_t payload[] = {0x00};
    // 0x02 runs shorter than a start sequence must not confuse the search.
    const std::vector<uint8_t> garbage = {0x11, 0x02, 0x02, 0x03, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x02, 0x01, 0xFF};
    const std::vector<uint8_t> stream =
        Concat({garbage, EncodeFrame(0x6000, 5, payload), {0x02, 0x02}, EncodeFrame(0x4000, 6, {})});

    FrameDecoder decoder;
    std::vector<DecodedFrame> frames;
    for (uint8_t byte : stream) {
        decoder.Feed({&byte, 1});
        for (auto& frame : DecodeAll(decoder)) frames.push_back(frame);
    }
    // The two 0x02 before the second frame make two false starts, each rejected on its
    // header checksum and left one byte at a time.
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_TRUE(frames[0].Valid());
    EXPECT_EQ(frames[0].id, 0x6000u);
    EXPECT_EQ(frames[0].counter, 5u);
    EXPECT_EQ(frames[0].payload, std::vector<uint8_t>{0x00});
    EXPECT_FALSE(frames[1].headerChecksumOk);
    EXPECT_FALSE(frames[2].headerChecksumOk);
    EXPECT_TRUE(frames[3].Valid());
    EXPECT_EQ(frames[3].id, 0x4000u);
    EXPECT_EQ(frames[3].counter, 6u);
    EXPECT_EQ(decoder.SkippedBytes(), garbage.size() + 2);
    EXPECT_EQ(decoder.BufferedBytes(), 0u);
}

struct Damage {
    const char* name;
    size_t offsetFromEnd;  // the byte to change, counted back from the frame's end (1 = last)
    bool headerOk, frameChecksumOk, endOk;
};
void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class FrameDecoderFlags : public ::testing::TestWithParam<Damage> {};

// Each damaged frame is reported once with the failing check, then the decoder drops
// one byte and still finds the valid frame that follows.
TEST_P(FrameDecoderFlags, ReportsTheFailedCheckAndResynchronises) {
    const Damage damage = GetParam();
    const uint8_t payload[] = {0x10, 0x20, 0x30};
    std::vector<uint8_t> bad = EncodeFrame(0x7000, 1, payload);
    bad[bad.size() - damage.offsetFromEnd] ^= 0x40;

    FrameDecoder decoder;
    const std::vector<uint8_t> stream = Concat({bad, EncodeFrame(0x5001, 2, payload)});
    decoder.Feed(stream);
    const std::vector<DecodedFrame> frames = DecodeAll(decoder);

    ASSERT_EQ(frames.size(), 2u) << damage.name;
    EXPECT_FALSE(frames[0].Valid());
    EXPECT_EQ(frames[0].headerChecksumOk, damage.headerOk);
    if (damage.headerOk) {
        EXPECT_EQ(frames[0].frameChecksumOk, damage.frameChecksumOk);
        EXPECT_EQ(frames[0].endSequenceOk, damage.endOk);
    }
    EXPECT_TRUE(frames[1].Valid());
    EXPECT_EQ(frames[1].id, 0x5001u);
}

INSTANTIATE_TEST_SUITE_P(Damages, FrameDecoderFlags,
                         ::testing::Values(Damage{"header checksum", 35 - 22, false, false, false},
                                           Damage{"frame checksum", 9, true, false, true},
                                           Damage{"end sequence", 1, true, true, false},
                                           Damage{"payload byte", 10, true, false, true}),
                         [](const auto& info) { return orbel::testing::TestName(info.param.name); });

// Back-to-back headers whose size fields all reach one shared end sequence: each is a
// candidate spanning the rest of the stream, and each fails its frame checksum (a
// header's bytes sum to an even number, the shared checksum byte is odd). Checking them
// must cost a constant per byte, not a pass over the rest of the stream per header.
TEST(FrameDecoder, HeadersSharingOneEndCostAConstantPerByte) {
    constexpr size_t kHeaders = 3000;
    const size_t end = kHeaders * kHeaderSize + 9;
    std::vector<uint8_t> stream;
    for (size_t i = 0; i < kHeaders; ++i) {
        std::vector<uint8_t> header = EncodeFrame(0x1000, static_cast<uint32_t>(i), {});
        header.resize(kHeaderSize);
        const auto size = static_cast<uint32_t>(end - i * kHeaderSize - kFrameOverhead);
        for (int b = 0; b < 4; ++b) header[kSizeOffset + b] = static_cast<uint8_t>(size >> (8 * b));
        header[kHeaderChecksumOffset] = ByteSum(std::span(header).first(kHeaderChecksumOffset));
        stream.insert(stream.end(), header.begin(), header.end());
    }
    stream.push_back(0x01);
    stream.insert(stream.end(), kSequenceLength, kEndByte);
    const uint8_t payload[] = {0x10, 0x20};
    const std::vector<uint8_t> valid = EncodeFrame(0x5001, 1, payload);
    stream.insert(stream.end(), valid.begin(), valid.end());

    FrameDecoder decoder;
    std::vector<DecodedFrame> frames;
    for (size_t at = 0; at < stream.size(); at += 1448) {
        decoder.Feed(std::span(stream).subspan(at, std::min<size_t>(1448, stream.size() - at)));
        for (auto& frame : DecodeAll(decoder)) frames.push_back(std::move(frame));
    }
    // A header checksum of 0x02 lengthens the next start run: a few extra false starts.
    ASSERT_GE(frames.size(), kHeaders + 1);
    size_t sharedEnd = 0;
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
        ASSERT_FALSE(frames[i].Valid()) << i;
        ASSERT_TRUE(frames[i].payload.empty()) << i;
        sharedEnd += frames[i].headerChecksumOk && frames[i].sizeOk && frames[i].endSequenceOk;
    }
    EXPECT_EQ(sharedEnd, kHeaders);
    EXPECT_TRUE(frames.back().Valid());
    EXPECT_EQ(frames.back().payload, std::vector<uint8_t>(std::begin(payload), std::end(payload)));
    EXPECT_LE(decoder.ReadBytes(), 2 * stream.size()) << decoder.ReadBytes() / stream.size() << " per byte";
}

TEST(FrameDecoder, RejectsASizeFieldBeyondTheReceiverLimit) {
    // A receiver with a 10 MiB ring takes frames up to 10,485,759 bytes (payload 10,485,727).
    for (const uint32_t size : {0xFFFFFFFFu, 10'485'728u}) {
        std::vector<uint8_t> header = EncodeFrame(0x1000, 0, {});
        header.resize(kHeaderSize);
        header[18] = static_cast<uint8_t>(size);
        header[19] = static_cast<uint8_t>(size >> 8);
        header[20] = static_cast<uint8_t>(size >> 16);
        header[21] = static_cast<uint8_t>(size >> 24);
        header[22] = ByteSum(std::span(header).first(22));

        FrameDecoder decoder;
        decoder.Feed(header);
        const auto frame = decoder.Next();
        ASSERT_TRUE(frame.has_value()) << size;
        EXPECT_TRUE(frame->headerChecksumOk);
        EXPECT_FALSE(frame->sizeOk);
        EXPECT_EQ(frame->sizeField, size);
    }
    // One below the limit is accepted and waited for.
    std::vector<uint8_t> header = EncodeFrame(0x1000, 0, {});
    header.resize(kHeaderSize);
    const uint32_t largest = 10'485'727;
    for (int i = 0; i < 4; ++i) header[18 + i] = static_cast<uint8_t>(largest >> (8 * i));
    header[22] = ByteSum(std::span(header).first(22));
    FrameDecoder decoder;
    decoder.Feed(header);
    EXPECT_FALSE(decoder.Next().has_value());
    EXPECT_EQ(decoder.BufferedBytes(), kHeaderSize);
}

}  // namespace
}  // namespace orbel::emulator
