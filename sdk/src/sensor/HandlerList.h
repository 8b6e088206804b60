// orbel::sensor::HandlerList: every received message is offered to every handler
// in registration order, under one mutex held across all handlers of a message.
// HandleMessage runs on the I/O thread; AddHandler and RemoveHandler on the
// threads that build the sensor or issue commands. Handlers must not add or
// remove handlers, nor wait for anything that needs the I/O thread.
#pragma once

#include <cstdint>
#include <memory>

#include "communication/VelmorantMessage.h"
#include "sensor/IMessageHandler.h"

namespace orbel::sensor {

class HandlerList {
public:
    HandlerList();
    virtual ~HandlerList();
    HandlerList(const HandlerList&) = delete;
    HandlerList& operator=(const HandlerList&) = delete;

    // Ids start at 0 and are never reused.
    virtual uint64_t AddHandler(std::shared_ptr<IMessageHandler> handler);
    // An unknown id is ignored.
    virtual void RemoveHandler(uint64_t id);

    // Every handler is called; true when any took the message. A handler's
    // exception leaves with the mutex released and the later handlers skipped.
    bool HandleMessage(orbel::communication::VelmorantMessage& message);

    size_t Count();

private:
    class Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::sensor
