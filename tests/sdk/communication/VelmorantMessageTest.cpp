// The wire frame: golden bytes of the send path, what a fresh message holds before
// Finalize, the validating constructor's rejections, copies and the byte sum.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "communication/VelmorantMessage.h"
#include "support/RawFrame.h"
#include "support/TestNames.h"

namespace {

using orbel::communication::ByteSum;
using orbel::communication::IMessage;
using orbel::communication::VelmorantMessage;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::testing::RawFrame;

std::vector<uint8_t> Bytes(const IMessage& message) {
    return {message.GetData(), message.GetData() + message.GetSize()};
}

// Built the way the send path builds a command: size, id, payload, then counter and Finalize.
VelmorantMessage SendPathMessage(uint32_t id, uint32_t counter, const std::vector<uint8_t>& payload) {
    VelmorantMessage message(payload.size(), true);
    message.SetId(id);
    if (!payload.empty()) std::memcpy(message.GetPayload(), payload.data(), payload.size());
    message.SetCounter(counter);
    message.Finalize();
    return message;
}

struct GoldenFrame {
    uint32_t id;
    uint32_t counter;
    std::vector<uint8_t> payload;
    uint8_t headerChecksum;
    uint8_t frameChecksum;
};

void PrintTo(const GoldenFrame& golden, std::ostream* os) {
    *os << "id 0x" << std::hex << golden.id << std::dec << ", counter " << golden.counter << ", "
        << golden.payload.size() << " payload bytes";
}

class GoldenFrames : public ::testing::TestWithParam<GoldenFrame> {};

TEST_P(GoldenFrames, SendPathWritesExactBytes) {
    const GoldenFrame& golden = GetParam();
    const VelmorantMessage message = SendPathMessage(golden.id, golden.counter, golden.payload);

    const std::vector<uint8_t> bytes = Bytes(message);
    EXPECT_EQ(bytes, RawFrame(golden.id, golden.counter, golden.payload));
    ASSERT_EQ(bytes.size(), golden.payload.size() + 32);
    EXPECT_EQ(bytes[22], golden.headerChecksum);
    EXPECT_EQ(bytes[23 + golden.payload.size()], golden.frameChecksum);
    EXPECT_EQ(message.GetId(), golden.id);
    EXPECT_EQ(message.GetCounter(), golden.counter);
    EXPECT_EQ(message.GetPayloadSize(), golden.payload.size());
}

TEST_P(GoldenFrames, ValidatingConstructorReadsThemBack) {
    const GoldenFrame& golden = GetParam();
    std::vector<uint8_t> bytes = RawFrame(golden.id, golden.counter, golden.payload);
    // No reader checks bytes 8 and 9; only the checksums must agree with them.
    bytes[8] = 0x7F;
    bytes[9] = 0x00;
    bytes[22] = orbel::testing::SumBytes(bytes.data(), 22);
    bytes[23 + golden.payload.size()] = orbel::testing::SumBytes(bytes.data(), 23 + golden.payload.size());

    const VelmorantMessage message(bytes.data(), bytes.size());
    EXPECT_EQ(Bytes(message), bytes);
    EXPECT_EQ(message.GetId(), golden.id);
    EXPECT_EQ(message.GetCounter(), golden.counter);
    EXPECT_EQ(message.GetPayloadSize(), golden.payload.size());
    EXPECT_EQ(message.GetPayload(), message.GetData() + 23);
}

INSTANTIATE_TEST_SUITE_P(Commands, GoldenFrames,
                         ::testing::Values(GoldenFrame{0x4000, 0, {}, 0x52, 0xA4},
                                           GoldenFrame{0x6000, 5, {0x00}, 0x78, 0xF0}),
                         [](const ::testing::TestParamInfo<GoldenFrame>& info) {
                             char name[48];
                             std::snprintf(name, sizeof name, "Id%04X_Counter%u_%zuPayloadBytes", info.param.id,
                                           info.param.counter, info.param.payload.size());
                             return std::string(name);
                         });

TEST(VelmorantMessage, FreshMessageHoldsZerosUntilFinalize) {
    VelmorantMessage message(4, true);
    ASSERT_EQ(message.GetSize(), 36u);
    EXPECT_EQ(message.GetPayloadSize(), 4u);
    std::vector<uint8_t> expected(36, 0);
    expected[18] = 4;  // only the size field is written
    EXPECT_EQ(Bytes(message), expected);

    // The checksums already count the zero start and end sequences.
    message.SetId(0x4000);
    EXPECT_EQ(message.GetData()[22], 0x44);
    EXPECT_EQ(message.GetData()[27], 0x88);
    EXPECT_EQ(message.GetData()[0], 0x00);

    message.Finalize();
    EXPECT_EQ(Bytes(message), RawFrame(0x4000, 0, {0, 0, 0, 0}));
}

TEST(VelmorantMessage, EmptyAndTotalSizeConstructors) {
    const VelmorantMessage empty;
    EXPECT_EQ(Bytes(empty), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(empty.GetPayloadSize(), 0u);

    const VelmorantMessage byTotal(40, false);
    EXPECT_EQ(byTotal.GetSize(), 40u);
    EXPECT_EQ(byTotal.GetPayloadSize(), 8u);
    EXPECT_EQ(byTotal.GetData()[18], 8);

    // The overhead alone is a frame with an empty payload.
    const VelmorantMessage overheadOnly(32, false);
    EXPECT_EQ(Bytes(overheadOnly), std::vector<uint8_t>(32, 0));
    EXPECT_EQ(overheadOnly.GetPayloadSize(), 0u);

    // A total below the overhead would wrap round to a payload of nearly 2^64 bytes.
    try {
        VelmorantMessage tooSmall(31, false);
        FAIL() << "a 31-byte total was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::PAYLOAD_INCORRECT);
    }
}

struct Rejection {
    const char* reason;
    std::vector<uint8_t> bytes;
};

std::vector<uint8_t> Golden() { return RawFrame(0x6000, 5, {0x00}); }

std::vector<uint8_t> Changed(std::vector<uint8_t> bytes, size_t at, int delta) {
    bytes[at] = static_cast<uint8_t>(bytes[at] + delta);
    return bytes;
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

std::vector<uint8_t> WithTrailingByte() {
    auto bytes = Golden();
    bytes.push_back(0x03);
    return bytes;
}

// A size field of 0xFFFFFFFF whose size + 32 wraps to 31 in 32 bits: the header, then
// eight 0x03, makes byte 22 (the header checksum) look like a correct frame checksum.
std::vector<uint8_t> WrappingSizeField() {
    auto bytes = RawFrame(0, 0, {});
    bytes.resize(23);
    bytes[18] = bytes[19] = bytes[20] = bytes[21] = 0xFF;
    bytes[22] = orbel::testing::SumBytes(bytes.data(), 22);
    bytes.insert(bytes.end(), 8, 0x03);
    return bytes;
}

// Only the header check can refuse this one: the frame checksum was computed over the bad byte.
std::vector<uint8_t> BadHeaderChecksumOnly() {
    auto bytes = Changed(Golden(), 22, 1);
    bytes[24] = orbel::testing::SumBytes(bytes.data(), 24);
    return bytes;
}

void PrintTo(const Rejection& rejection, std::ostream* os) { *os << rejection.reason; }

class Rejections : public ::testing::TestWithParam<Rejection> {};

TEST_P(Rejections, ThrowPayloadIncorrect) {
    const auto& bytes = GetParam().bytes;
    try {
        VelmorantMessage message(bytes.data(), bytes.size());
        FAIL() << GetParam().reason << " was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::PAYLOAD_INCORRECT);
        EXPECT_NE(std::string(e.what()).find("The provided buffer does not contain a consistent TCPmessage."),
                  std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    BadBuffers, Rejections,
    ::testing::Values(Rejection{"22 bytes", Truncated(Golden(), 22)},
                      Rejection{"a bad start sequence", Changed(Golden(), 3, 1)},
                      Rejection{"a bad header checksum", Changed(Golden(), 22, 1)},
                      Rejection{"a bad header checksum alone", BadHeaderChecksumOnly()},
                      Rejection{"one trailing byte", WithTrailingByte()},
                      Rejection{"a bad last byte", Changed(Golden(), 32, 1)},
                      Rejection{"a frame checksum off by one", Changed(Golden(), 24, 1)},
                      Rejection{"a wrapping size field", WrappingSizeField()}),
    [](const ::testing::TestParamInfo<Rejection>& info) { return orbel::testing::TestName(info.param.reason); });

TEST(VelmorantMessage, AssignmentFromAnyMessageResizesAndRepoints) {
    const VelmorantMessage big = SendPathMessage(0x1000, 9, std::vector<uint8_t>(100, 0xAB));
    const VelmorantMessage small = SendPathMessage(0x7000, 2, {1, 2, 3});

    VelmorantMessage slot;
    slot = static_cast<const IMessage&>(big);
    EXPECT_EQ(Bytes(slot), Bytes(big));
    EXPECT_NE(slot.GetData(), big.GetData());
    EXPECT_EQ(slot.GetPayloadSize(), 100u);

    // Into a larger buffer: the frame shrinks and the checksum pointer follows it.
    slot = static_cast<const IMessage&>(small);
    EXPECT_EQ(Bytes(slot), Bytes(small));
    EXPECT_EQ(slot.GetPayload()[2], 3);
    slot.SetCounter(7);
    EXPECT_EQ(Bytes(slot), RawFrame(0x7000, 7, {1, 2, 3}));
}

TEST(VelmorantMessage, CopiesAreIndependent) {
    const VelmorantMessage original = SendPathMessage(0x3000, 1, {4, 5});
    VelmorantMessage copy(original);
    copy.SetId(0x3001);
    EXPECT_EQ(Bytes(copy), RawFrame(0x3001, 1, {4, 5}));
    EXPECT_EQ(Bytes(original), RawFrame(0x3000, 1, {4, 5}));

    VelmorantMessage assigned;
    assigned = copy;
    assigned = assigned;  // self-assignment keeps the frame
    EXPECT_EQ(Bytes(assigned), Bytes(copy));
    EXPECT_EQ(assigned.GetPayload(), assigned.GetData() + 23);
}

TEST(ByteSum, MatchesPlainSumAtEveryBlockBoundary) {
    std::vector<uint8_t> data(1100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + 7);
    for (size_t size : {0, 1, 15, 16, 17, 63, 64, 65, 127, 128, 1000, 1100}) {
        for (size_t offset : {0, 1, 3}) {
            if (offset + size > data.size()) continue;
            EXPECT_EQ(ByteSum(data.data() + offset, size), orbel::testing::SumBytes(data.data() + offset, size))
                << "size " << size << " offset " << offset;
        }
    }
    const std::vector<uint8_t> ones(100000, 0xFF);
    EXPECT_EQ(ByteSum(ones.data(), ones.size()), static_cast<uint8_t>(100000u * 0xFFu));
}

}  // namespace
