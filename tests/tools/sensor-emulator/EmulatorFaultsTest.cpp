// Fault scripts seen from a raw-socket client: damaged frames, lone headers, malformed
// point clouds, closing and resetting, one client at a time, and stopping.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "EmulatorFixture.h"

namespace orbel::emulator::testing {
namespace {

using EmulatorFaults = EmulatorFixture;

TEST_F(EmulatorFaults, DamagedFramesAreFlaggedAndTheNextFrameStillArrives) {
    Connect();
    const uint8_t payload[] = {0x00, 0x01};
    const struct {
        FrameFault fault;
        bool headerOk, frameChecksumOk, endOk;
    } cases[] = {
        {FrameFault::BadHeaderChecksum, false, false, false},
        {FrameFault::BadFrameChecksum, true, false, true},
        {FrameFault::BadEndSequence, true, true, false},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(emulator->SendDamagedFrame(c.fault, 0x5008, payload));
        ASSERT_TRUE(emulator->SendFrame(0x500C, payload));
        const auto damaged = client->Next();
        ASSERT_TRUE(damaged.has_value());
        EXPECT_FALSE(damaged->Valid());
        EXPECT_EQ(damaged->headerChecksumOk, c.headerOk);
        if (c.headerOk) {
            EXPECT_EQ(damaged->frameChecksumOk, c.frameChecksumOk);
            EXPECT_EQ(damaged->endSequenceOk, c.endOk);
        }
        const auto next = client->NextWithId(0x500C);
        ASSERT_TRUE(next.has_value());
        EXPECT_EQ(next->payload, std::vector<uint8_t>(std::begin(payload), std::end(payload)));
    }
}

TEST_F(EmulatorFaults, LoneHeadersAndGarbageDoNotHideTheFramesBehindThem) {
    Connect();
    ASSERT_TRUE(emulator->SendGarbage(100));
    ASSERT_TRUE(emulator->SendOversizedHeader(0xFFFFFFFF));
    ASSERT_TRUE(emulator->SendOversizedHeader(10'485'728));
    ASSERT_TRUE(emulator->SendFalseHeader(40));
    ASSERT_TRUE(emulator->SendError(0x2809));
    ASSERT_TRUE(emulator->SendAlert(0x3006, false, 0));  // a short alert
    // The false header claims 40 payload bytes; a receiver only sees it fail once they
    // have arrived, so enough frames follow it to fill them.
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(emulator->SendAlert(0x5008, true));

    const auto big = client->Next();
    ASSERT_TRUE(big.has_value());
    EXPECT_TRUE(big->headerChecksumOk);
    EXPECT_FALSE(big->sizeOk);
    const auto error = client->NextWithId(0x2809);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->payload, std::vector<uint8_t>{0x00});
    const auto shutdown = client->NextWithId(0x3006);
    ASSERT_TRUE(shutdown.has_value());
    EXPECT_TRUE(shutdown->payload.empty());
    const auto alert = client->NextWithId(0x5008);
    ASSERT_TRUE(alert.has_value());
    EXPECT_EQ(alert->payload, (std::vector<uint8_t>{0x00, 0x01}));
}

struct MalformedCase {
    const char* name;
    MalformedPointCloud kind;
    bool (*shows)(const std::vector<uint8_t>& payload, size_t validSize);
};
void PrintTo(const MalformedCase& c, std::ostream* os) { *os << c.name; }

class EmulatorMalformedPointClouds : public EmulatorFixture, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(EmulatorMalformedPointClouds, SendTheBrokenPayloadThenAValidLine) {
    EmulatorOptions options;
    options.pointsPerLine = 10;
    options.pointType = PointType::Basic;
    Connect(options);
    const size_t validSize = 265 + 10 * 26;
    ASSERT_TRUE(emulator->SendMalformedPointCloud(GetParam().kind));
    const auto broken = client->NextWithId(ids::kPointCloud);
    ASSERT_TRUE(broken.has_value());
    EXPECT_TRUE(GetParam().shows(broken->payload, validSize)) << "size " << broken->payload.size();
    const auto valid = client->NextWithId(ids::kPointCloud);
    ASSERT_TRUE(valid.has_value());
    ASSERT_EQ(valid->payload.size(), validSize);
    EXPECT_EQ(valid->payload[3], 16);
    EXPECT_EQ(valid->payload[255], 1);
    EXPECT_EQ(valid->payload[264], 0x60);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EmulatorMalformedPointClouds,
    ::testing::Values(
        MalformedCase{"Empty", MalformedPointCloud::Empty, [](const auto& p, size_t) { return p.empty(); }},
        MalformedCase{"TooShortForVersion", MalformedPointCloud::TooShortForVersion,
                      [](const auto& p, size_t) { return !p.empty() && p.size() < 4; }},
        MalformedCase{"WrongMetadataVersion", MalformedPointCloud::WrongMetadataVersion,
                      [](const auto& p, size_t size) { return p.size() == size && p[3] != 16; }},
        MalformedCase{"TooShortForMetadata", MalformedPointCloud::TooShortForMetadata,
                      [](const auto& p, size_t) { return p.size() >= 4 && p.size() < 255 && p[3] == 16; }},
        MalformedCase{"TooShortForPointHeader", MalformedPointCloud::TooShortForPointHeader,
                      [](const auto& p, size_t) { return p.size() >= 255 && p.size() < 265 && p[3] == 16; }},
        MalformedCase{"BadPointDataVersion", MalformedPointCloud::BadPointDataVersion,
                      [](const auto& p, size_t size) { return p.size() == size && p[3] == 16 && p[255] != 1; }},
        MalformedCase{"UnsupportedPointType", MalformedPointCloud::UnsupportedPointType,
                      [](const auto& p, size_t size) {
                          return p.size() == size && p[255] == 1 && p[264] != 0x60 && p[264] != 0x66 && p[264] != 0x6F;
                      }},
        MalformedCase{"InsufficientData", MalformedPointCloud::InsufficientData,
                      [](const auto& p, size_t size) {
                          return p.size() == size - 1 && p[255] == 1 && p[264] == 0x60 && U32(p, 256) == 10;
                      }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatorFaults, ResetIsSeenAsConnectionResetAndTheNextClientIsServed) {
    Connect();
    ASSERT_TRUE(emulator->CloseClient(CloseMode::Reset));
    EXPECT_EQ(client->WaitForEnd(), ECONNRESET);
    ASSERT_TRUE(emulator->WaitForNoClient(5s));

    TestClient next(emulator->Port());
    ASSERT_TRUE(emulator->WaitForClient(5s));
    next.SendCommand(ids::kStatusRequest);
    const auto status = next.NextWithId(ids::kStatusResponse);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->counter, 0u);  // each connection counts from 0
}

TEST_F(EmulatorFaults, GracefulCloseDeliversWhatWasQueuedThenEndsTheStream) {
    Connect();
    ASSERT_TRUE(emulator->SendPointCloudBurst(20));
    ASSERT_TRUE(emulator->CloseClient(CloseMode::Graceful));
    EXPECT_FALSE(emulator->SendFrame(0x5008, {}));  // no client any more
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(client->NextWithId(ids::kPointCloud).has_value()) << i;
    EXPECT_EQ(client->WaitForEnd(), 0);
}

TEST_F(EmulatorFaults, ServesOneClientAtATime) {
    Connect();
    TestClient second(emulator->Port());  // waits in the backlog
    second.SendCommand(ids::kStatusRequest);
    client->SendCommand(ids::kInitialize);
    ASSERT_TRUE(client->NextWithId(ids::kInitialized).has_value());
    EXPECT_FALSE(second.Next(100ms).has_value());
    EXPECT_EQ(emulator->ConnectionCount(), 1u);

    client.reset();
    const auto status = second.NextWithId(ids::kStatusResponse);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(emulator->ConnectionCount(), 2u);
}

TEST_F(EmulatorFaults, StopClosesTheClientAndRefusesLaterScripts) {
    Connect();
    client->SendCommand(ids::kStart);
    ASSERT_TRUE(emulator->WaitForStreamedFrames(1, 5s));
    emulator->Stop();
    EXPECT_EQ(client->WaitForEnd(), 0);
    EXPECT_FALSE(emulator->IsClientConnected());
    EXPECT_FALSE(emulator->SendPointCloudBurst(1));
    emulator->Stop();  // idempotent
}

}  // namespace
}  // namespace orbel::emulator::testing
