#include "utilities/Capture.h"

#include <orbel/sdk/Exception.h>

namespace orbel::utilities {

MessageCapturer::MessageCapturer(uint32_t expectedId) : expectedId_(expectedId) {}

std::future<std::vector<uint8_t>> MessageCapturer::GetFuture() { return promise_.get_future(); }

bool MessageCapturer::Handle(orbel::communication::VelmorantMessage& message) {
    if (message.GetId() != expectedId_ || fulfilled_) return true;
    const uint8_t* payload = message.GetPayload();
    promise_.set_value(std::vector<uint8_t>(payload, payload + message.GetPayloadSize()));
    fulfilled_ = true;
    return true;
}

CaptureRequest::CaptureRequest(orbel::communication::IMessageDispatcher& dispatcher,
                               std::shared_ptr<orbel::communication::IMessage> request,
                               orbel::sensor::HandlerList& handlers)
    : dispatcher_(dispatcher), request_(std::move(request)), handlers_(handlers) {}

std::vector<uint8_t> CaptureRequest::SendAndWait(uint32_t answerId, const std::chrono::milliseconds& timeout) {
    answerId_ = answerId;
    capturer_ = std::make_shared<MessageCapturer>(answerId);
    future_ = capturer_->GetFuture();
    capturerId_ = handlers_.AddHandler(capturer_);

    struct Unregister {
        CaptureRequest& request;
        ~Unregister() {
            request.handlers_.RemoveHandler(request.capturerId_);
            request.capturer_.reset();
        }
    } unregister{*this};

    dispatcher_.Dispatch(request_);
    WaitForAnswer(future_, dispatcher_, timeout);
    payload_ = future_.get();
    return payload_;
}

}  // namespace orbel::utilities
