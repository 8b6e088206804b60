// The TCP link against a plain loopback peer: connect failures, peer close and
// reset, orderly teardown, sending in pieces, the receive ring and handler failures.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include <asio/error.hpp>

#include <orbel/sdk/Exception.h>

#include "communication/TCPConnection.h"
#include "communication/VelmorantMessage.h"
#include "communication/VelmorantParser.h"
#include "communication/WriteInPieces.h"
#include "support/LogCapture.h"
#include "support/LoopbackPeer.h"
#include "support/RawFrame.h"
#include "support/Threads.h"

namespace {

using orbel::communication::TCPConnection;
using orbel::communication::VelmorantMessage;
using orbel::communication::VelmorantParser;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::testing::Eventually;
using orbel::testing::LogCapture;
using orbel::testing::LoopbackPeer;

struct ErrorReports {
    std::mutex mutex;
    std::vector<std::pair<std::string, std::error_code>> calls;

    TCPConnection::ErrorCallback Callback() {
        return [this](const std::string& text, const std::error_code& error) {
            std::lock_guard lock(mutex);
            calls.emplace_back(text, error);
        };
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
    std::pair<std::string, std::error_code> First() {
        std::lock_guard lock(mutex);
        return calls.at(0);
    }
};

TEST(TcpConnection, RefusedConnectionThrowsConnectionFailedAndLeavesNoThread) {
    const int port = LoopbackPeer::UnusedPort();
    const size_t threadsBefore = orbel::testing::ThreadCount();
    try {
        TCPConnection connection("127.0.0.1", port);
        FAIL() << "connected to a port nobody listens on";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::CONNECTION_FAILED);
        EXPECT_NE(std::string(e.what()).find("Failed to connect to the sensor on the provided IP and port. "
                                             "Extra information: "),
                  std::string::npos);
    }
    EXPECT_EQ(orbel::testing::ThreadCount(), threadsBefore);
}

TEST(TcpConnection, ConnectsAndReportsItsLocalAddress) {
    LoopbackPeer peer;
    TCPConnection connection("127.0.0.1", peer.Port());
    ASSERT_TRUE(peer.Accept());
    EXPECT_TRUE(connection.IsConnected());
    EXPECT_EQ(connection.GetLocalIp(), "127.0.0.1");
}

TEST(TcpConnection, PeerCloseIsReportedOnceAndLeavesTheLinkDown) {
    LogCapture log;
    LoopbackPeer peer;
    ErrorReports reports;
    TCPConnection connection("127.0.0.1", peer.Port());
    connection.SetErrorCallback(reports.Callback());
    ASSERT_TRUE(peer.Accept());

    peer.Close();

    ASSERT_TRUE(Eventually([&] { return !connection.IsConnected(); }));
    ASSERT_TRUE(Eventually([&] { return reports.Count() == 1; }));
    EXPECT_EQ(reports.First().first, "TCPConnection disconnected by remote side.");
    EXPECT_EQ(reports.First().second, asio::error::eof);
    EXPECT_EQ(log.Count(L"TCPConnection disconnected: remote side closed connection."), 1u);
    EXPECT_EQ(log.CountAt(orbel::sdk::Severity::ERROR), 0u);

    auto message = std::make_shared<VelmorantMessage>(1, true);
    try {
        connection.Send(message);
        FAIL() << "sent over a closed link";
    } catch (const Exception& e) {
        EXPECT_EQ(e.GetType(), SensorError::NOT_CONNECTED);
        EXPECT_NE(std::string(e.what()).find("Cannot send message. Socket is not connected"), std::string::npos);
    }
    EXPECT_EQ(reports.Count(), 1u);
}

TEST(TcpConnection, PeerResetIsALinkError) {
    LoopbackPeer peer;
    ErrorReports reports;
    TCPConnection connection("127.0.0.1", peer.Port());
    connection.SetErrorCallback(reports.Callback());
    ASSERT_TRUE(peer.Accept());

    peer.Reset();

    ASSERT_TRUE(Eventually([&] { return reports.Count() >= 1; }));
    EXPECT_EQ(reports.First().first, "TCPConnection error: Error on reading from tcp connection. Disconnecting.");
    EXPECT_EQ(reports.First().second, asio::error::connection_reset);
    EXPECT_TRUE(Eventually([&] { return !connection.IsConnected(); }));
    // The disconnect that follows the reset must not be reported a second time.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(reports.Count(), 1u);
}

TEST(TcpConnection, DestroyingFromAnotherThreadIsOrderlyAndSilent) {
    LogCapture log;
    LoopbackPeer peer;
    ErrorReports reports;
    const size_t threadsBefore = orbel::testing::ThreadCount();
    auto connection = std::make_unique<TCPConnection>("127.0.0.1", peer.Port());
    connection->SetErrorCallback(reports.Callback());
    ASSERT_TRUE(peer.Accept());

    std::thread([&] { connection.reset(); }).join();

    const long destroying = log.IndexOf(L"Destroying TCPConnection");
    const long shutDown = log.IndexOf(L"Asio socket shut down.");
    const long exited = log.IndexOf(L"Asio connection thread properly exited.");
    ASSERT_GE(destroying, 0);
    EXPECT_GT(shutDown, destroying);
    EXPECT_GT(exited, shutDown);
    EXPECT_EQ(reports.Count(), 0u);
    EXPECT_EQ(log.CountAt(orbel::sdk::Severity::ERROR), 0u);
    EXPECT_EQ(orbel::testing::ThreadCount(), threadsBefore);
}

TEST(TcpConnection, SendsInPiecesOfAtMost64KiB) {
    std::vector<uint8_t> data(200'000);
    std::vector<size_t> pieces;
    const auto error = orbel::communication::WriteInPieces(
        data.data(), data.size(), TCPConnection::kMaxWriteChunk, [&](const uint8_t*, size_t n, std::error_code&) {
            pieces.push_back(n);
            return n;
        });
    EXPECT_FALSE(error);
    EXPECT_EQ(pieces, (std::vector<size_t>{65536, 65536, 65536, 3392}));
}

TEST(TcpConnection, LargeMessageArrivesWhole) {
    LoopbackPeer peer;
    TCPConnection connection("127.0.0.1", peer.Port());
    ASSERT_TRUE(peer.Accept());
    std::vector<uint8_t> payload(200'000 - 32);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
    auto message = std::make_shared<VelmorantMessage>(payload.size(), true);
    message->SetId(0x1234);
    std::copy(payload.begin(), payload.end(), message->GetPayload());
    message->SetCounter(3);
    message->Finalize();

    std::thread sender([&] { connection.Send(message); });
    const auto received = peer.Read(200'000);
    sender.join();

    EXPECT_EQ(received, orbel::testing::RawFrame(0x1234, 3, payload));
}

TEST(TcpConnection, FramesAcrossMoreThanTheRingStayIntact) {
    // 12 MiB of frames make the 10 MiB receive ring wrap; every frame must arrive unchanged.
    LoopbackPeer peer;
    TCPConnection connection("127.0.0.1", peer.Port());
    ASSERT_TRUE(peer.Accept());
    std::atomic<uint32_t> delivered{0};
    std::atomic<uint32_t> corrupt{0};
    connection.SetParser(std::make_shared<VelmorantParser>([&](VelmorantMessage& message) {
        const uint32_t n = message.GetCounter();
        const uint8_t* payload = message.GetPayload();
        for (uint32_t i = 0; i < message.GetPayloadSize(); i += 997) {
            if (payload[i] != static_cast<uint8_t>(n + i)) ++corrupt;
        }
        if (n != delivered) ++corrupt;
        ++delivered;
    }));
    constexpr uint32_t kFrames = 120;
    std::vector<uint8_t> payload(100'000);
    for (uint32_t n = 0; n < kFrames; ++n) {
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(n + i);
        peer.Write(orbel::testing::RawFrame(0x1000, n, payload));
    }
    ASSERT_TRUE(Eventually([&] { return delivered == kFrames; }, std::chrono::seconds(30)));
    EXPECT_EQ(corrupt, 0u);
    EXPECT_TRUE(connection.IsConnected());
}

class NeverConsumes : public orbel::communication::IParser {
public:
    void Parse(orbel::utilities::CircularBuffer<uint8_t>&) override {}
};

TEST(TcpConnection, FullRingIsClearedAndReadingGoesOn) {
    LogCapture log(orbel::sdk::Severity::INFO);
    LoopbackPeer peer;
    TCPConnection connection("127.0.0.1", peer.Port());
    connection.SetParser(std::make_shared<NeverConsumes>());
    ASSERT_TRUE(peer.Accept());

    std::vector<uint8_t> garbage(TCPConnection::kReceiveCapacity + 100'000, 0x55);
    peer.Write(garbage);

    ASSERT_TRUE(log.WaitFor(L"Read buffer full. Clearing. Some incoming data might be lost."));
    EXPECT_TRUE(connection.IsConnected());
}

TEST(TcpConnection, HandlerExceptionEndsTheLinkAndIsReported) {
    LoopbackPeer peer;
    ErrorReports reports;
    TCPConnection connection("127.0.0.1", peer.Port());
    connection.SetErrorCallback(reports.Callback());
    connection.SetParser(std::make_shared<VelmorantParser>(
        [](VelmorantMessage&) { throw std::runtime_error("handler broke"); }));
    ASSERT_TRUE(peer.Accept());

    peer.Write(orbel::testing::RawFrame(0x3000, 0, {0}));

    ASSERT_TRUE(Eventually([&] { return reports.Count() == 1; }));
    EXPECT_EQ(reports.First().first,
              "TCPConnection error: Asio context stopped running. Exception: handler broke. Disconnecting.");
    EXPECT_EQ(reports.First().second, TCPConnection::HandlerFailureCode());
    EXPECT_TRUE(Eventually([&] { return !connection.IsConnected(); }));
    EXPECT_THROW(connection.Send(std::make_shared<VelmorantMessage>(1, true)), Exception);
}

}  // namespace
