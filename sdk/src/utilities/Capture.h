// Command/response capture: a short-lived handler that catches one answer id,
// and the exchange that registers it, sends the command, waits and unregisters.
// The promise hands the payload from the I/O thread to the waiting thread, which
// holds no lock while it waits.
#pragma once

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <vector>

#include "communication/IMessageDispatcher.h"
#include "sensor/HandlerList.h"
#include "sensor/IMessageHandler.h"

namespace orbel::utilities {

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

    // Throws COMMAND_TIMEOUT when no answer arrives in time; a full queue's
    // std::length_error passes through. The capturer is removed in every case.
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
