// Listening, command answers and the status response of the emulator, seen through a
// raw-socket client.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdexcept>
#include <string>
#include <vector>

#include "EmulatorFixture.h"

namespace orbel::emulator::testing {
namespace {

size_t OpenDescriptors() {
    size_t count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir)) ++count;
        ::closedir(dir);
    }
    return count;
}

TEST(EmulatorBind, RefusesEveryAddressButLoopbackWithoutOpeningASocket) {
    for (const char* address : {"0.0.0.0", "10.10.100.11", "127.0.0.2", "::1", "localhost", ""}) {
        EmulatorOptions options;
        options.bindAddress = address;
        const size_t before = OpenDescriptors();
        EXPECT_THROW(SensorEmulator{options}, std::invalid_argument) << address;
        EXPECT_EQ(OpenDescriptors(), before) << address;
    }
}

TEST(EmulatorBind, ReportsTheEphemeralPortItListensOn) {
    SensorEmulator emulator;
    ASSERT_NE(emulator.Port(), 0);
    TestClient client(emulator.Port());
    EXPECT_TRUE(emulator.WaitForClient(5s));
    EXPECT_EQ(emulator.ConnectionCount(), 1u);
}

using EmulatorCommands = EmulatorFixture;

TEST_F(EmulatorCommands, AnswersEachCommandWithItsOwnRunningCounter) {
    Connect();
    const std::pair<uint32_t, uint32_t> exchanges[] = {
        {ids::kInitialize, ids::kInitialized}, {ids::kStatusRequest, ids::kStatusResponse},
        {ids::kStart, ids::kStarted},          {ids::kStop, ids::kStopped},
        {ids::kClose, ids::kClosed},
    };
    uint32_t expectedCounter = 0;
    for (const auto& [command, answer] : exchanges) {
        client->SendCommand(command);
        for (;;) {
            const auto frame = client->Next();
            ASSERT_TRUE(frame.has_value()) << "no answer to " << command;
            ASSERT_TRUE(frame->Valid());
            EXPECT_EQ(frame->counter, expectedCounter++);  // stream lines in between count too
            if (frame->id == ids::kPointCloud) continue;
            EXPECT_EQ(frame->id, answer) << "answer to " << command;
            break;
        }
    }
    // Everything the client sent was recorded, with its counter and intact checks.
    const std::vector<DecodedFrame> received = emulator->ReceivedFrames();
    ASSERT_EQ(received.size(), std::size(exchanges));
    for (size_t i = 0; i < received.size(); ++i) {
        EXPECT_TRUE(received[i].Valid());
        EXPECT_EQ(received[i].id, exchanges[i].first);
        EXPECT_EQ(received[i].counter, i);
        EXPECT_EQ(received[i].payload, std::vector<uint8_t>{0x00});
    }
}

TEST_F(EmulatorCommands, StatusResponseCarriesStateSerialNumberAndErrorByte) {
    Connect();
    emulator->SetSerialNumber(0x12345678);
    client->SendCommand(ids::kStatusRequest);
    auto status = client->NextWithId(ids::kStatusResponse);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->payload, (std::vector<uint8_t>{0x00, 0x01, 0x12, 0x34, 0x56, 0x78, 0x00}));

    client->SendCommand(ids::kStart);
    client->SendCommand(ids::kStatusRequest);
    status = client->NextWithId(ids::kStatusResponse);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->payload[1], 0x02);  // running

    emulator->SetStateByte(0x13);
    emulator->SetErrorByte(0x1F);
    client->SendCommand(ids::kStatusRequest);
    status = client->NextWithId(ids::kStatusResponse);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->payload[1], 0x13);
    EXPECT_EQ(status->payload[6], 0x1F);
}

struct StatusCase {
    const char* name;
    StatusAnswer answer;
    std::vector<uint32_t> expected;  // ids up to the answer to a following initialise, in order
};
void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class EmulatorStatusAnswers : public EmulatorFixture, public ::testing::WithParamInterface<StatusCase> {};

// Order, not time, shows the behaviour: an initialise follows every status request.
TEST_P(EmulatorStatusAnswers, AnswerInTheScriptedWay) {
    Connect();
    emulator->SetStatusAnswer(GetParam().answer, 300ms);
    client->SendCommand(ids::kStatusRequest);
    client->SendCommand(ids::kInitialize);
    std::vector<uint32_t> seen;
    while (seen.size() < GetParam().expected.size()) {
        const auto frame = client->Next();
        ASSERT_TRUE(frame.has_value());
        seen.push_back(frame->id);
    }
    EXPECT_EQ(seen, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, EmulatorStatusAnswers,
    ::testing::Values(StatusCase{"Normal", StatusAnswer::Normal, {ids::kStatusResponse, ids::kInitialized}},
                      StatusCase{"None", StatusAnswer::None, {ids::kInitialized}},
                      StatusCase{"Late", StatusAnswer::Late, {ids::kInitialized, ids::kStatusResponse}},
                      StatusCase{"Duplicate", StatusAnswer::Duplicate,
                                 {ids::kStatusResponse, ids::kStatusResponse, ids::kInitialized}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EmulatorCommands, StartCanAnswerWithAnErrorOrNotAtAllAndThenDoesNotStream) {
    Connect();
    emulator->SetCommandAnswer(ids::kStart, CommandAnswer::Error, ids::kUnableToStart);
    client->SendCommand(ids::kStart);
    const auto error = client->Next();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->id, ids::kUnableToStart);
    EXPECT_EQ(error->payload.size(), 1u);

    emulator->SetCommandAnswer(ids::kStart, CommandAnswer::None);
    client->SendCommand(ids::kStart);
    client->SendCommand(ids::kStatusRequest);
    const auto status = client->Next();
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->id, ids::kStatusResponse);  // nothing before it: no answer, no stream
    EXPECT_EQ(status->payload[1], 0x01);
    EXPECT_FALSE(emulator->IsStreaming());
    EXPECT_EQ(emulator->StreamedMessages(), 0u);
}

}  // namespace
}  // namespace orbel::emulator::testing
