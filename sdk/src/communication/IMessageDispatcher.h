// orbel::communication::IMessageDispatcher: where commands are handed for sending.
#pragma once

#include <memory>

#include "communication/IMessage.h"

namespace orbel::communication {

class IMessageDispatcher {
public:
    // Queues the message; sending happens later. Throws std::length_error when the queue is full.
    virtual void Dispatch(std::shared_ptr<IMessage> message) = 0;
    // Whether a queued message can still reach the peer. A link once lost never comes
    // back; a dispatcher that cannot tell answers true.
    virtual bool IsConnected() { return true; }
    virtual ~IMessageDispatcher() = default;
};

}  // namespace orbel::communication
