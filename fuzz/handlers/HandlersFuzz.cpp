// The receive side of a sensor wired as the sensor factory wires it: stream parser,
// handler list, status, point-cloud, error and alert handlers, and the sensor object
// whose commands wait for the answers. A scripted link answers each command with bytes
// from the input, parsed on the spot, so one input plays a whole session: the status
// request of Build, Start, a stream of messages, Stop.
//
// Checked: no message makes a handler throw (on a real link that would end the
// connection); every point cloud handed to the callback is whole (each array one value
// per point); an alert carries a status exactly when its payload holds one; every cloud
// queued for the callback is delivered or refused, none is lost in the ring.
//
// Input: slots u8 (2 + v % 15 point-cloud slots, the factory's 112 from 240 up) | read
//        sizes u32 | lengths u16 x 3 | status reply | start reply | stop reply | stream.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <thread>
#include <vector>

#include <orbel/sdk/Alert.h>
#include <orbel/sdk/Exception.h>
#include <orbel/sdk/IPointCloud.h>

#include "common/FuzzCheck.h"
#include "common/FuzzInput.h"
#include "common/FuzzSupport.h"
#include "communication/IMessageDispatcher.h"
#include "communication/VelmorantMessage.h"
#include "communication/VelmorantParser.h"
#include "dataTypes/LazyPointCloud.h"
#include "sdk/communication/RingFeed.h"
#include "sensor/HandlerList.h"
#include "sensor/Sensor.h"
#include "sensor/messageHandlers/AlertsHandler.h"
#include "sensor/messageHandlers/DataHandler.h"
#include "sensor/messageHandlers/ErrorMessageHandler.h"
#include "sensor/messageHandlers/SensorStatusHandler.h"
#include "utilities/CallbackGate.h"

namespace {

using orbel::communication::IMessage;
using orbel::communication::VelmorantMessage;
using orbel::communication::VelmorantParser;
using orbel::fuzzing::FuzzInput;
using orbel::fuzzing::ReadSizes;
using orbel::sensor::Sensor;
using orbel::utilities::CallbackGate;
using Bytes = std::span<const uint8_t>;

// The receive path of a connection, fed in reads of the input's sizes and parsed after
// every read. Its ring is smaller than the connection's 10 MiB but larger than any
// input a fuzzing run makes, so the frames it takes are the same.
class Receiver {
public:
    static constexpr size_t kCapacity = size_t{1} << 18;

    Receiver(std::shared_ptr<VelmorantParser> parser, uint32_t readSizes)
        : ring_(kCapacity, 5 * kCapacity), parser_(std::move(parser)), reads_(readSizes) {}

    void Feed(Bytes bytes) {
        size_t fed = 0;
        while (fed < bytes.size()) {
            const size_t want = std::min(reads_.Next(bytes.size() - fed), bytes.size() - fed);
            const size_t n = orbel::testing::ReceiveInto(ring_, bytes.data() + fed, want);
            fed += n;
            try {
                parser_->Parse(ring_);
            } catch (const std::exception& e) {
                std::fprintf(stderr, "handler threw: %s\n", e.what());
                ORBEL_FUZZ_CHECK(false, "no message makes a handler throw");
            }
            if (ring_.ContiguousWriteSize() == 0) ring_.Clear();
        }
    }

private:
    orbel::testing::ByteRing ring_;
    std::shared_ptr<VelmorantParser> parser_;
    ReadSizes reads_;
};

// The link the sensor sends its commands on: each command is answered, once, with the
// bytes scripted for its id, received before Dispatch returns.
class ScriptedLink : public orbel::communication::IMessageDispatcher {
public:
    void Dispatch(std::shared_ptr<IMessage> message) override {
        const auto reply = replies_.find(message->GetId());
        if (reply == replies_.end() || receiver_ == nullptr) return;
        const Bytes bytes = reply->second;
        replies_.erase(reply);
        receiver_->Feed(bytes);
    }

    void Answer(uint32_t command, Bytes reply) { replies_[command] = reply; }
    void SetReceiver(Receiver* receiver) { receiver_ = receiver; }

private:
    std::map<uint32_t, Bytes> replies_;
    Receiver* receiver_ = nullptr;
};

void CheckCloud(orbel::sdk::IPointCloud& cloud) {
    const size_t n = cloud.GetPointCount();
    ORBEL_FUZZ_CHECK(cloud.GetX().size() == n && cloud.GetY().size() == n && cloud.GetZ().size() == n, "xyz");
    ORBEL_FUZZ_CHECK(cloud.GetDistance().size() == n && cloud.GetReflectivity().size() == n, "distance, signal");
    ORBEL_FUZZ_CHECK(cloud.GetAmbient().size() == n && cloud.GetConfidence().size() == n, "ambient, confidence");
    const size_t colors = cloud.GetColors().size();
    ORBEL_FUZZ_CHECK(colors == 0 || colors == n, "colours for every point or none");
    (void)cloud.GetAuxiliaryInfo();
    (void)cloud.GetScanInfo();
    ORBEL_FUZZ_CHECK(cloud.Serialize().size() >= 265, "a delivered cloud serialises to a whole payload");
}

bool Builds(const VelmorantMessage& message) {
    try {
        orbel::data::LazyPointCloud cloud;
        cloud.Deserialize(message.GetPayload(), message.GetPayloadSize());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orbel::fuzzing::QuietSdkLog();
    FuzzInput input(data, size);
    const uint8_t slots = input.Byte();
    const size_t bufferSize = slots >= 240 ? 112 : 2 + slots % 15;
    const uint32_t readSizes = input.U32();
    const uint16_t statusLength = input.U16();
    const uint16_t startLength = input.U16();
    const uint16_t stopLength = input.U16();
    const Bytes statusReply = input.Take(statusLength);
    const Bytes startReply = input.Take(startLength);
    const Bytes stopReply = input.Take(stopLength);
    const Bytes stream = input.Rest();

    // What the callbacks see, and what the checks need to know of the message in hand.
    std::atomic<uint64_t> cloudsDelivered{0};
    uint64_t cloudsExpected = 0;
    const VelmorantMessage* current = nullptr;

    auto gate = std::make_shared<CallbackGate>();
    auto link = std::make_shared<ScriptedLink>();
    auto sensor = std::make_shared<Sensor>(link);
    sensor->SetErrorCallback(CallbackGate::Guard(gate, std::function<void(const orbel::sdk::Exception&)>(
                                                           [](const orbel::sdk::Exception&) {})));
    auto handlers = std::make_shared<orbel::sensor::HandlerList>();

    auto status = std::make_shared<orbel::sensor::SensorStatusHandler>();
    std::weak_ptr<Sensor> weakSensor = sensor;
    status->SetStateCallback([weakSensor](const orbel::sdk::SensorState& state) {
        if (auto s = weakSensor.lock()) s->OnSensorStateChanged(state);
    });
    status->SetErrorCallback([weakSensor](const orbel::sdk::SensorError& code) {
        if (auto s = weakSensor.lock()) s->OnSensorStateChangeError(code);
    });
    handlers->AddHandler(status);

    auto clouds = std::make_shared<orbel::sensor::DataHandler>(bufferSize);
    clouds->SetCallback(CallbackGate::Guard(
        gate, std::function<void(std::unique_ptr<orbel::sdk::IPointCloud>)>(
                  [&cloudsDelivered](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
                      CheckCloud(*cloud);
                      ++cloudsDelivered;
                  })));
    handlers->AddHandler(clouds);

    handlers->AddHandler(std::make_shared<orbel::sensor::ErrorMessageHandler>(CallbackGate::Guard(
        gate, std::function<void(const orbel::sdk::Exception&)>([](const orbel::sdk::Exception&) {}))));

    auto alerts = std::make_shared<orbel::sensor::AlertsHandler>();
    alerts->SetAlertCallback(CallbackGate::Guard(
        gate, std::function<void(orbel::sdk::Alert, std::optional<bool>)>(
                  [&current](orbel::sdk::Alert alert, std::optional<bool> state) {
                      ORBEL_FUZZ_CHECK(current != nullptr, "alerts come from a message");
                      const bool hasStatusByte = current->GetPayloadSize() >= 2;
                      if (alert == orbel::sdk::Alert::SystemShutdown) {
                          ORBEL_FUZZ_CHECK(!state, "a shutdown alert has no status");
                      } else {
                          ORBEL_FUZZ_CHECK(state.has_value() == hasStatusByte, "a status exactly when one was sent");
                          if (state) ORBEL_FUZZ_CHECK(*state == (current->GetPayload()[1] != 0), "the status sent");
                      }
                  })));
    handlers->AddHandler(alerts);
    sensor->SetHandlerList(handlers);

    std::weak_ptr<orbel::sensor::HandlerList> weakHandlers = handlers;
    auto parser = std::make_shared<VelmorantParser>([&](VelmorantMessage& message) {
        auto list = weakHandlers.lock();
        if (!list) return;
        const uint64_t missedBefore = clouds->MissedCount();
        current = &message;
        list->HandleMessage(message);
        current = nullptr;
        if (message.GetId() == orbel::sensor::DataHandler::kPointCloud && clouds->MissedCount() == missedBefore &&
            Builds(message)) {
            ++cloudsExpected;
        }
    });
    Receiver receiver(parser, readSizes);
    link->SetReceiver(&receiver);
    link->Answer(Sensor::kStatusRequest, statusReply);
    link->Answer(Sensor::kStart, startReply);
    link->Answer(Sensor::kStop, stopReply);

    // A session: the status request of Build, Start, the stream, Stop. Commands answered
    // wrongly or not at all fail with the SDK's own exception, as they do for a caller.
    constexpr std::chrono::milliseconds kNoWait{0};
    try {
        sensor->RequestStatus(kNoWait);
    } catch (const orbel::sdk::Exception&) {
    }
    (void)sensor->GetSerialNumber();
    try {
        sensor->Start(kNoWait);
    } catch (const orbel::sdk::Exception&) {
    }
    receiver.Feed(stream);
    try {
        sensor->Stop(kNoWait);
    } catch (const orbel::sdk::Exception&) {
    }
    (void)sensor->GetState();

    // Every cloud that went into the ring reaches the callback.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (cloudsDelivered.load() < cloudsExpected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ORBEL_FUZZ_CHECK(cloudsDelivered.load() == cloudsExpected, "every queued cloud is delivered");

    // The sensor handle's release, as the factory arranges it: the gate first.
    gate->Close();
    link->SetReceiver(nullptr);
    sensor.reset();
    return 0;
}
