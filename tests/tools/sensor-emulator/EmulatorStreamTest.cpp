// The emulator's point-cloud stream, bursts, large volumes and flood, decoded by the
// test client and read at the payload's documented offsets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "EmulatorFixture.h"

namespace orbel::emulator::testing {
namespace {

size_t PerPoint(uint8_t type) { return type == 0x60 ? 26 : type == 0x66 ? 29 : 69; }

// Checks one line payload against the format; returns its point count.
void ExpectWellFormedLine(const std::vector<uint8_t>& p, uint32_t points, uint8_t type) {
    ASSERT_EQ(p.size(), 265 + points * PerPoint(type));
    EXPECT_EQ(p[3], 16);
    EXPECT_EQ(p[255], 1);
    EXPECT_EQ(U32(p, 256), points);
    EXPECT_EQ(p[264], type);
    const size_t n = points;
    for (size_t i = 0; i < n; ++i) {
        const double d = F32(p, 265 + 4 * i);
        const double x = F32(p, 265 + 4 * n + 4 * i);
        const double y = F32(p, 265 + 8 * n + 4 * i);
        const double z = F32(p, 265 + 12 * n + 4 * i);
        ASSERT_NEAR(d, std::sqrt(x * x + y * y + z * z), 1e-3 * d) << "point " << i;
        ASSERT_GT(d, 500.0);
        ASSERT_LT(d, 12'000.0);  // inside the room
        ASSERT_GT(x, 0.0);       // in front of the sensor
    }
}

struct StreamCase {
    uint8_t type;
    uint32_t points;
};
void PrintTo(const StreamCase& c, std::ostream* os) { *os << "type " << int{c.type} << ", " << c.points << " points"; }

class EmulatorStream : public EmulatorFixture, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(EmulatorStream, StreamsWholeFramesOfFiftySixOrderedLines) {
    EmulatorOptions options;
    options.pointType = static_cast<PointType>(GetParam().type);
    options.pointsPerLine = GetParam().points;
    Connect(options);
    const uint64_t before_us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();

    client->SendCommand(ids::kStart);
    ASSERT_TRUE(client->NextWithId(ids::kStarted).has_value());
    std::vector<DecodedFrame> lines;
    while (lines.size() < 2 * 56) {
        auto line = client->NextWithId(ids::kPointCloud);
        ASSERT_TRUE(line.has_value()) << "after " << lines.size() << " lines";
        lines.push_back(std::move(*line));
    }
    client->SendCommand(ids::kStop);

    const uint32_t firstFrame = U32(lines[0].payload, 12);
    uint64_t lastTimestamp = 0;
    uint64_t lastAlternate = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<uint8_t>& p = lines[i].payload;
        ExpectWellFormedLine(p, GetParam().points, GetParam().type);
        EXPECT_EQ(U32(p, 12), firstFrame + i / 56) << "line " << i;
        EXPECT_EQ(p[17], i % 56) << "line " << i;
        EXPECT_GT(U64(p, 27), lastTimestamp) << "line " << i;
        EXPECT_GT(U64(p, 19), lastAlternate) << "line " << i;
        EXPECT_GE(U64(p, 43), before_us);  // the steady-clock send time
        lastTimestamp = U64(p, 27);
        lastAlternate = U64(p, 19);
    }

    // The stream has ended once 0x5002 arrives: nothing streamed follows it.
    for (;;) {
        const auto frame = client->Next();
        ASSERT_TRUE(frame.has_value());
        if (frame->id == ids::kStopped) break;
        ASSERT_EQ(frame->id, ids::kPointCloud);
    }
    client->SendCommand(ids::kStatusRequest);
    const auto status = client->Next();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->id, ids::kStatusResponse);
    EXPECT_GE(emulator->StreamedFrames(), 2u);
    EXPECT_GE(emulator->StreamedMessages(), 112u);
    EXPECT_GE(emulator->LastStreamedFrameNumber().value_or(0), firstFrame + 1);
}

INSTANTIATE_TEST_SUITE_P(Types, EmulatorStream,
                         ::testing::Values(StreamCase{0x60, 192}, StreamCase{0x66, 192}, StreamCase{0x6F, 192},
                                           StreamCase{0x6F, 7}),
                         [](const auto& info) {
                             char name[32];
                             std::snprintf(name, sizeof name, "Type%02X_%uPoints", info.param.type, info.param.points);
                             return std::string(name);
                         });

// The main time stamp follows the wall clock shifted by the configured offset, so that
// the emulator can share a clock with a camera that runs apart from the wall clock; the
// alternate time stamp stays the time since the emulator started, whatever the offset.
using EmulatorClock = EmulatorFixture;

TEST_F(EmulatorClock, MainTimestampIsTheWallClockShiftedByTheOffset) {
    const auto wall_us = [] {
        return static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count());
    };
    for (const int64_t offset_us : {int64_t{0}, int64_t{-37'000'000}, int64_t{3'600'000'000}}) {
        EmulatorOptions options;
        options.timestampOffset_us = offset_us;
        const int64_t before_us = wall_us();
        Connect(options);
        client->SendCommand(ids::kStart);
        ASSERT_TRUE(client->NextWithId(ids::kStarted).has_value()) << offset_us;
        const auto line = client->NextWithId(ids::kPointCloud);
        ASSERT_TRUE(line.has_value()) << offset_us;
        const int64_t after_us = wall_us();
        const auto main_us = static_cast<int64_t>(U64(line->payload, 27));
        const auto alternate_us = static_cast<int64_t>(U64(line->payload, 19));
        EXPECT_GE(main_us, before_us + offset_us) << offset_us;
        EXPECT_LE(main_us, after_us + offset_us) << offset_us;
        EXPECT_GE(alternate_us, 0) << offset_us;
        EXPECT_LE(alternate_us, after_us - before_us) << offset_us;
        client.reset();
        emulator.reset();
    }

    EmulatorOptions beforeEpoch;
    beforeEpoch.timestampOffset_us = -wall_us() - 1'000'000;
    EXPECT_THROW(SensorEmulator{beforeEpoch}, std::invalid_argument);
}

TEST(PointCloudGenerator, SeesTheBoxWhereItStands) {
    PointCloudGenerator generator(9, PointType::Basic);
    // Line 40 looks 9 degrees down, below the box's top; point 4 looks straight ahead.
    auto straightAheadX = [&](uint32_t frame) {
        LineStamp stamp;
        stamp.frameNumber = frame;
        stamp.lineIndex = 40;
        const std::vector<uint8_t> p = generator.MakeLine(stamp);
        return F32(p, 265 + 4 * 9 + 4 * 4);
    };
    ASSERT_EQ(PointCloudGenerator::BoxCentreY_mm(50), 0.0);
    EXPECT_NEAR(straightAheadX(50), 4000.0, 1.0);  // the box's front face
    ASSERT_GT(std::abs(PointCloudGenerator::BoxCentreY_mm(0)), 1000.0);
    EXPECT_GT(straightAheadX(0), 4500.0);  // the box has moved aside: the floor, further away
}

using EmulatorVolume = EmulatorFixture;

TEST_F(EmulatorVolume, BurstSendsConsecutiveLinesAtOnce) {
    Connect();
    ASSERT_TRUE(emulator->SendPointCloudBurst(300));
    uint64_t first = 0;
    for (uint64_t i = 0; i < 300; ++i) {
        const auto line = client->NextWithId(ids::kPointCloud);
        ASSERT_TRUE(line.has_value()) << i;
        const uint64_t sequence = uint64_t{U32(line->payload, 12)} * 56 + line->payload[17];
        if (i == 0) first = sequence;
        ASSERT_EQ(sequence, first + i);
    }
    EXPECT_EQ(emulator->StreamedMessages(), 300u);
}

TEST_F(EmulatorVolume, LargeFramesPassTenMebibytesIntact) {
    Connect();
    constexpr uint64_t kTotal = 11u << 20;
    ASSERT_TRUE(emulator->SendLargeFrames(kTotal));
    uint64_t payloadBytes = 0;
    while (payloadBytes < kTotal - (1u << 20)) {
        const auto frame = client->Next(10s);
        ASSERT_TRUE(frame.has_value());
        ASSERT_TRUE(frame->Valid());
        ASSERT_EQ(frame->id, ids::kUnhandledData);
        payloadBytes += frame->payload.size();
    }
    // With the point-cloud id every large frame is a valid line.
    ASSERT_TRUE(emulator->SendLargeFrames(600'000, 300'000, ids::kPointCloud));
    for (int i = 0; i < 2; ++i) {
        const auto line = client->NextWithId(ids::kPointCloud, 10s);
        ASSERT_TRUE(line.has_value());
        const uint32_t points = U32(line->payload, 256);
        EXPECT_EQ(points, (300'000 - 265) / 69);
        ExpectWellFormedLine(line->payload, points, 0x6F);
    }
}

TEST_F(EmulatorVolume, FloodSendsValidRestampedLines) {
    EmulatorOptions options;
    options.pointsPerLine = 64;
    Connect(options);
    ASSERT_TRUE(emulator->StartFlood());
    uint32_t firstCounter = 0;
    uint32_t firstFrame = 0;
    for (uint32_t i = 0; i < 3 * 56; ++i) {
        const auto line = client->Next();
        ASSERT_TRUE(line.has_value());
        ASSERT_TRUE(line->Valid()) << i;
        ASSERT_EQ(line->id, ids::kPointCloud);
        if (i == 0) {
            firstCounter = line->counter;
            firstFrame = U32(line->payload, 12);
        }
        EXPECT_EQ(line->counter, firstCounter + i);
        EXPECT_EQ(U32(line->payload, 12), firstFrame + i / 56);
        EXPECT_EQ(line->payload[17], i % 56);
        if (i % 56 == 0) ExpectWellFormedLine(line->payload, 64, 0x6F);
    }
    emulator->StopFlood();
    const FloodStats stats = emulator->GetFloodStats();
    EXPECT_GE(stats.messages, 3u * 56);
    EXPECT_GE(stats.bytes, stats.messages * (265 + 64 * 69 + 32));
}

}  // namespace
}  // namespace orbel::emulator::testing
