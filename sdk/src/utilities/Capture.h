// Command/response capture: a short-lived handler that catches one answer id,
// and the exchange that registers it, sends the command, waits and unregisters.
// The promise hands the payload from the I/O thread to the waiting thread, which
// holds no lock while it waits. A wait ends early when the link is lost: the SDK
// never reconnects, so no answer can come any more.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include <orbel/sdk/Exception.h>

#include "communication/IMessageDispatcher.h"
#include "sensor/HandlerList.h"
#include "sensor/IMessageHandler.h"

namespace orbel::utilities {

// The detail of the NOT_CONNECTED error of a command on a lost link.
inline constexpr const char* kLinkLost = "The connection to the sensor is lost. Build the sensor again.";

// Waits at most `timeout` for a command's answer, looking at the dispatcher's link between
// short slices so that a lost link ends the wait at once rather than at the time-out.
// Returns once the future is ready; throws orbel::sdk::Exception NOT_CONNECTED (kLinkLost)
// when the link is lost first, COMMAND_TIMEOUT when the time is up.
template <typename T>
void WaitForAnswer(std::future<T>& future, orbel::communication::IMessageDispatcher& dispatcher,
                   const std::chrono::milliseconds& timeout) {
    constexpr auto kSlice = std::chrono::milliseconds(50);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (future.wait_for(std::min<std::chrono::steady_clock::duration>(left, kSlice)) == std::future_status::ready)
            return;
        if (!dispatcher.IsConnected()) {
            // An answer that came just before the peer closed was handled before the link went down.
            if (future.wait_for(std::chrono::seconds(0)) == std::future_status::ready) return;
            throw orbel::sdk::Exception(std::string(kLinkLost), orbel::sdk::SensorError::NOT_CONNECTED);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw orbel::sdk::Exception(std::string("The command timed out. Did not receive response."),
                                        orbel::sdk::SensorError::COMMAND_TIMEOUT);
        }
    }
}

class MessageCapturer : public orbel::sensor::IMessageHandler {
public:
    explicit MessageCapturer(uint32_t expectedId);

    std::future<std::vector<uint8_t>> GetFuture();

    // Answers true for every message while registered, so no "no handler" log
    // appears during a wait. A second answer after the first is ignored.
    bool Handle(orbel::communication::VelmorantMessage& message) override;

private:
    uint32_t expectedId_;
    std::promise<std::vector<uint8_t>> promise_;
    bool fulfilled_ = false;  // only touched under the handler list's lock
};

class CaptureRequest {
public:
    CaptureRequest(orbel::communication::IMessageDispatcher& dispatcher,
                   std::shared_ptr<orbel::communication::IMessage> request, orbel::sensor::HandlerList& handlers);

    // Throws COMMAND_TIMEOUT when no answer arrives in time and NOT_CONNECTED once the
    // link is lost; a full queue's std::length_error passes through. The capturer is
    // removed in every case.
    std::vector<uint8_t> SendAndWait(uint32_t answerId, const std::chrono::milliseconds& timeout);

private:
    uint32_t answerId_ = 0;
    orbel::communication::IMessageDispatcher& dispatcher_;
    std::shared_ptr<orbel::communication::IMessage> request_;
    orbel::sensor::HandlerList& handlers_;
    std::shared_ptr<MessageCapturer> capturer_;
    uint64_t capturerId_ = 0;
    std::future<std::vector<uint8_t>> future_;
    std::vector<uint8_t> payload_;
};

}  // namespace orbel::utilities
