// orbel::communication::TCPClient: the SDK's outgoing side. Dispatch queues a
// message (bounded queue) and a send thread, started when a message is queued and
// none runs, stamps each with the running counter (0, 1, 2, ...), finalises and
// sends it, ending when the queue is empty or the link is down (unsent messages
// then stay queued). It also turns the connection's link errors into
// orbel::sdk::Exception for the error handler: code 1 for a peer close, 28 for
// every other error except our own abort.
//
// Threads: Dispatch on the commanding thread; HandleTCPErrors on the connection's
// I/O thread or the send thread; the error handler is called with no lock held.
// The client may be released on any thread, its own send thread included.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <system_error>

#include <orbel/sdk/Exception.h>

#include "communication/IMessageDispatcher.h"
#include "communication/TCPConnection.h"

namespace orbel::communication {

class TCPClient : public IMessageDispatcher {
public:
    using ErrorHandler = std::function<void(const orbel::sdk::Exception&)>;

    TCPClient(std::shared_ptr<TCPConnection> connection, size_t maxQueueSize);
    ~TCPClient() override;
    TCPClient(const TCPClient&) = delete;
    TCPClient& operator=(const TCPClient&) = delete;

    // Throws std::length_error "Outgoing message queue full. Message will not be transmitted".
    void Dispatch(std::shared_ptr<IMessage> message) override;
    bool IsConnected() override;
    void SetErrorHandler(ErrorHandler handler);
    void HandleTCPErrors(const std::string& text, const std::error_code& error);

    // Messages waiting or being sent.
    size_t QueuedCount();

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace orbel::communication
