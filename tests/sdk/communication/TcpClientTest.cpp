// The send queue and its send threads against a loopback peer, and the mapping
// of link errors to the user's error handler.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <asio/error.hpp>

#include "communication/TCPClient.h"
#include "communication/TCPConnection.h"
#include "communication/VelmorantMessage.h"
#include "support/LogCapture.h"
#include "support/LoopbackPeer.h"
#include "support/RawFrame.h"
#include "support/Threads.h"

namespace {

using orbel::communication::TCPClient;
using orbel::communication::TCPConnection;
using orbel::communication::VelmorantMessage;
using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::testing::Eventually;
using orbel::testing::LoopbackPeer;

std::shared_ptr<VelmorantMessage> Command(uint32_t id) {
    auto message = std::make_shared<VelmorantMessage>(1, true);
    message->SetId(id);
    message->GetPayload()[0] = 0;
    return message;
}

struct Linked {
    LoopbackPeer peer;
    std::shared_ptr<TCPConnection> connection;
    std::unique_ptr<TCPClient> client;

    explicit Linked(size_t limit = 10) {
        connection = std::make_shared<TCPConnection>("127.0.0.1", peer.Port());
        client = std::make_unique<TCPClient>(connection, limit);
        if (!peer.Accept()) throw std::runtime_error("no connection");
    }
};

struct HandlerCalls {
    std::mutex mutex;
    std::vector<std::pair<SensorError, std::string>> calls;
    TCPClient::ErrorHandler Handler() {
        return [this](const Exception& e) {
            std::lock_guard lock(mutex);
            calls.emplace_back(e.GetType(), e.what());
        };
    }
    size_t Count() {
        std::lock_guard lock(mutex);
        return calls.size();
    }
};

TEST(TcpClient, CountersRunAcrossSendThreads) {
    Linked link;
    link.client->Dispatch(Command(0x4000));
    auto first = orbel::testing::SplitFrames(link.peer.Read(33));
    // The first send thread has ended (queue empty); the next message starts another.
    ASSERT_TRUE(Eventually([&] { return link.client->QueuedCount() == 0; }));
    link.client->Dispatch(Command(0x4001));
    auto second = orbel::testing::SplitFrames(link.peer.Read(33));

    ASSERT_EQ(first.size(), 1u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[0].counter, 0u);
    EXPECT_EQ(first[0].id, 0x4000u);
    EXPECT_EQ(second[0].counter, 1u);
    EXPECT_EQ(second[0].id, 0x4001u);
}

TEST(TcpClient, ConcurrentDispatchSendsEveryMessageOnceInCounterOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 50;
    Linked link(kThreads * kPerThread);
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kPerThread; ++i) link.client->Dispatch(Command(0x100 * (t + 1) + i));
        });
    }
    for (auto& s : senders) s.join();
    const auto frames = orbel::testing::SplitFrames(link.peer.Read(33 * kThreads * kPerThread));

    ASSERT_EQ(frames.size(), size_t(kThreads * kPerThread));
    std::vector<int> seen(kThreads * kPerThread, 0);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].counter, i);
        const int t = static_cast<int>(frames[i].id / 0x100) - 1;
        const int n = static_cast<int>(frames[i].id % 0x100);
        ++seen.at(t * kPerThread + n);
    }
    for (int count : seen) EXPECT_EQ(count, 1);
}

TEST(TcpClient, FullQueueRefusesTheEleventhWhileTheLinkIsDown) {
    Linked link(10);
    link.peer.Close();
    ASSERT_TRUE(Eventually([&] { return !link.connection->IsConnected(); }));

    for (int i = 0; i < 10; ++i) link.client->Dispatch(Command(0x6000));
    try {
        link.client->Dispatch(Command(0x6000));
        FAIL() << "the eleventh message was accepted";
    } catch (const std::length_error& e) {
        EXPECT_STREQ(e.what(), "Outgoing message queue full. Message will not be transmitted");
    }
    EXPECT_EQ(link.client->QueuedCount(), 10u);
}

TEST(TcpClient, PeerCloseReachesTheHandlerAsNotConnected) {
    Linked link;
    HandlerCalls calls;
    link.client->SetErrorHandler(calls.Handler());
    link.peer.Close();
    ASSERT_TRUE(Eventually([&] { return calls.Count() == 1; }));
    EXPECT_EQ(calls.calls[0].first, SensorError::NOT_CONNECTED);
    EXPECT_EQ(calls.calls[0].second,
              "Exception: Unspecified error. Extra information: TCP connection closed by remote host");
}

struct MappingCase {
    std::error_code error;
    bool reaches;
    SensorError code;
};

TEST(TcpClient, LinkErrorsMapToCodes) {
    const MappingCase cases[] = {
        {asio::error::eof, true, SensorError::NOT_CONNECTED},
        {asio::error::operation_aborted, false, SensorError::NOT_CONNECTED},
        {asio::error::connection_reset, true, SensorError::TCP_ERROR},
        {TCPConnection::HandlerFailureCode(), true, SensorError::TCP_ERROR},
        // ENOENT has the same value as end of file in another category: it is a plain link error.
        {std::error_code(2, std::system_category()), true, SensorError::TCP_ERROR},
    };
    Linked link;
    for (const auto& c : cases) {
        HandlerCalls calls;
        link.client->SetErrorHandler(calls.Handler());
        link.client->HandleTCPErrors("TCPConnection error: x. Disconnecting.", c.error);
        ASSERT_EQ(calls.Count(), c.reaches ? 1u : 0u) << c.error.message();
        if (c.reaches) {
            EXPECT_EQ(calls.calls[0].first, c.code) << c.error.message();
        }
    }
}

TEST(TcpClient, WithoutHandlerALinkErrorIsLoggedOnce) {
    orbel::testing::LogCapture log;
    Linked link;
    link.client->HandleTCPErrors("TCPConnection error: x. Disconnecting.", asio::error::connection_reset);
    EXPECT_EQ(log.Count(L"No error handler set: TCPConnection error: x. Disconnecting. (Error code: "), 1u);
}

// Counts how far the send thread got with each message.
class CountingMessage : public VelmorantMessage {
public:
    CountingMessage(size_t payload, std::atomic<int>& finalized) : VelmorantMessage(payload, true), finalized_(finalized) {}
    void Finalize() override {
        VelmorantMessage::Finalize();
        ++finalized_;
    }

private:
    std::atomic<int>& finalized_;
};

TEST(TcpClient, DestructionWaitsForTheSendThread) {
    Linked link(10);
    std::atomic<int> finalized{0};
    std::thread reader([&] { link.peer.Read(10 * (1'000'000 + 32), std::chrono::seconds(30)); });
    for (int i = 0; i < 10; ++i) link.client->Dispatch(std::make_shared<CountingMessage>(1'000'000, finalized));
    link.client.reset();
    EXPECT_EQ(finalized, 10);
    reader.join();
}

}  // namespace
