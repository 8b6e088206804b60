// Dispatch of received messages to the handler list, and the command/response
// capture that waits for one answer.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <thread>

#include <orbel/sdk/Exception.h>

#include "communication/IMessageDispatcher.h"
#include "communication/VelmorantMessage.h"
#include "sensor/HandlerList.h"
#include "support/LogCapture.h"
#include "utilities/Capture.h"

namespace {

using orbel::communication::IMessage;
using orbel::communication::VelmorantMessage;
using orbel::sensor::HandlerList;
using orbel::sensor::IMessageHandler;

VelmorantMessage Message(uint32_t id, std::vector<uint8_t> payload = {0}) {
    VelmorantMessage message(payload.size(), true);
    message.SetId(id);
    std::copy(payload.begin(), payload.end(), message.GetPayload());
    message.Finalize();
    return message;
}

class Recorder : public IMessageHandler {
public:
    Recorder(std::vector<int>& calls, int name, bool answer) : calls_(calls), name_(name), answer_(answer) {}
    bool Handle(VelmorantMessage&) override {
        calls_.push_back(name_);
        return answer_;
    }

private:
    std::vector<int>& calls_;
    int name_;
    bool answer_;
};

class Thrower : public IMessageHandler {
public:
    bool Handle(VelmorantMessage&) override { throw std::runtime_error("bad handler"); }
};

TEST(HandlerList, CallsEveryHandlerInRegistrationOrder) {
    HandlerList list;
    std::vector<int> calls;
    EXPECT_EQ(list.AddHandler(std::make_shared<Recorder>(calls, 0, false)), 0u);
    EXPECT_EQ(list.AddHandler(std::make_shared<Recorder>(calls, 1, true)), 1u);
    EXPECT_EQ(list.AddHandler(std::make_shared<Recorder>(calls, 2, false)), 2u);
    auto message = Message(0x3000);

    EXPECT_TRUE(list.HandleMessage(message));
    EXPECT_EQ(calls, (std::vector<int>{0, 1, 2}));

    list.RemoveHandler(1);
    list.RemoveHandler(99);  // unknown ids are ignored
    EXPECT_EQ(list.AddHandler(std::make_shared<Recorder>(calls, 3, false)), 3u);
    calls.clear();
    EXPECT_FALSE(list.HandleMessage(message));
    EXPECT_EQ(calls, (std::vector<int>{0, 2, 3}));
}

TEST(HandlerList, UnhandledMessageIsLoggedUnlessACaptureWaits) {
    orbel::testing::LogCapture log;
    HandlerList list;
    std::vector<int> calls;
    list.AddHandler(std::make_shared<Recorder>(calls, 0, false));
    auto message = Message(12345);

    EXPECT_FALSE(list.HandleMessage(message));
    EXPECT_EQ(log.Count(L"Received message 12345, but no handler to interpret it."), 1u);

    const uint64_t capture = list.AddHandler(std::make_shared<orbel::utilities::MessageCapturer>(0x7000));
    EXPECT_TRUE(list.HandleMessage(message));
    EXPECT_EQ(log.Count(L"but no handler to interpret it."), 1u);
    list.RemoveHandler(capture);
}

TEST(HandlerList, HandlerExceptionSkipsTheRestAndReleasesTheLock) {
    HandlerList list;
    std::vector<int> calls;
    list.AddHandler(std::make_shared<Thrower>());
    list.AddHandler(std::make_shared<Recorder>(calls, 1, true));
    auto message = Message(0x3000);

    EXPECT_THROW(list.HandleMessage(message), std::runtime_error);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(list.AddHandler(std::make_shared<Recorder>(calls, 2, true)), 2u);
}

// A dispatcher that plays the sensor: each dispatched message runs `answer` on
// another thread, as the I/O thread would.
class FakeSensorLink : public orbel::communication::IMessageDispatcher {
public:
    explicit FakeSensorLink(std::function<void()> answer) : answer_(std::move(answer)) {}
    ~FakeSensorLink() override {
        for (auto& t : threads_) t.join();
    }
    void Dispatch(std::shared_ptr<IMessage> message) override {
        dispatched.push_back(message->GetId());
        threads_.emplace_back(answer_);
    }
    std::vector<uint32_t> dispatched;

private:
    std::function<void()> answer_;
    std::vector<std::thread> threads_;
};

class FullQueue : public orbel::communication::IMessageDispatcher {
public:
    void Dispatch(std::shared_ptr<IMessage>) override { throw std::length_error("Outgoing message queue full."); }
};

std::shared_ptr<VelmorantMessage> StatusRequest() { return std::make_shared<VelmorantMessage>(Message(0x6000)); }

TEST(CaptureRequest, ReturnsTheAnswerPayloadAndUnregisters) {
    HandlerList list;
    std::vector<int> calls;
    list.AddHandler(std::make_shared<Recorder>(calls, 0, false));
    FakeSensorLink link([&] {
        auto noise = Message(0x1000);
        list.HandleMessage(noise);
        auto answer = Message(0x7000, {0, 1, 2, 3, 4, 5, 6});
        list.HandleMessage(answer);
        auto duplicate = Message(0x7000, {9});
        list.HandleMessage(duplicate);  // a second answer is ignored, never thrown
    });
    orbel::utilities::CaptureRequest request(link, StatusRequest(), list);

    const auto payload = request.SendAndWait(0x7000, std::chrono::seconds(10));

    EXPECT_EQ(payload, (std::vector<uint8_t>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(link.dispatched, (std::vector<uint32_t>{0x6000}));
    EXPECT_EQ(list.Count(), 1u);
}

TEST(CaptureRequest, DuplicateAnswerIsIgnored) {
    orbel::utilities::MessageCapturer capturer(0x7000);
    auto future = capturer.GetFuture();
    auto first = Message(0x7000, {1});
    auto second = Message(0x7000, {2});
    EXPECT_TRUE(capturer.Handle(first));
    EXPECT_NO_THROW(EXPECT_TRUE(capturer.Handle(second)));
    EXPECT_EQ(future.get(), (std::vector<uint8_t>{1}));
}

TEST(CaptureRequest, NoAnswerTimesOutAndUnregisters) {
    HandlerList list;
    FakeSensorLink link([] {});
    orbel::utilities::CaptureRequest request(link, StatusRequest(), list);
    try {
        request.SendAndWait(0x7000, std::chrono::milliseconds(50));
        FAIL() << "no answer, yet no time-out";
    } catch (const orbel::sdk::Exception& e) {
        EXPECT_EQ(e.GetType(), orbel::sdk::SensorError::COMMAND_TIMEOUT);
        EXPECT_STREQ(e.what(), "Exception: Unspecified error. Extra information: The command timed out. Did not "
                               "receive response.");
    }
    EXPECT_EQ(list.Count(), 0u);
}

TEST(CaptureRequest, FullQueuePassesThroughAndUnregisters) {
    HandlerList list;
    FullQueue full;
    orbel::utilities::CaptureRequest request(full, StatusRequest(), list);
    EXPECT_THROW(request.SendAndWait(0x7000, std::chrono::seconds(1)), std::length_error);
    EXPECT_EQ(list.Count(), 0u);
}

}  // namespace
