// IConsumer<T>: a subscriber of messages of type T at the ObjectDispatcher. Consume is
// called on the publisher's thread, so every implementation must be safe on any thread;
// subscribers that act on the GUI thread queue the message and take it in their draw
// or update call.
#pragma once

#include <memory>

namespace orbel::studio {

template <typename T>
class IConsumer {
public:
    virtual ~IConsumer() = default;
    virtual void Consume(std::shared_ptr<T> message) = 0;
};

}  // namespace orbel::studio
