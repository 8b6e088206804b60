// orbel::communication::TCPConnection: the SDK's one TCP link to the sensor.
//
// Connects synchronously in the constructor (or throws CONNECTION_FAILED), then
// runs one I/O thread that reads into the 10 MiB receive ring, runs the parser
// (which dispatches every message to the handlers on that thread) and reports
// link errors through the error callback. Send is synchronous, called by the TCP
// client's send thread. It never reconnects.
//
// Threads: the error callback runs on the thread that met the error (the I/O
// thread for receive errors, the sending thread for send errors). The socket
// mutex is held for a whole blocking send and never taken twice by one thread.
// The connection may be destroyed on any thread, its own I/O thread included:
// there the thread is released instead of joined and ends on its own.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "communication/IMessage.h"
#include "communication/IParser.h"

namespace orbel::communication {

class TCPConnection {
public:
    using ErrorCallback = std::function<void(const std::string&, const std::error_code&)>;

    // Largest piece of one blocking write.
    static constexpr size_t kMaxWriteChunk = 65536;
    static constexpr size_t kReceiveCapacity = 10'485'760;
    static constexpr size_t kReceiveMirror = 52'428'800;

    TCPConnection(std::string_view ip, int port);
    ~TCPConnection();
    TCPConnection(const TCPConnection&) = delete;
    TCPConnection& operator=(const TCPConnection&) = delete;

    bool IsConnected();
    // Throws NOT_CONNECTED when the link is down; a failed write is reported through
    // the error callback and the link is closed, Send itself then returns normally.
    void Send(const std::shared_ptr<IMessage>& message);
    void SetParser(std::shared_ptr<IParser> parser);
    // An empty function removes the callback.
    void SetErrorCallback(ErrorCallback callback);
    std::string GetLocalIp();

    // The error code that the connection reports when an exception ended its I/O loop.
    static std::error_code HandlerFailureCode();

private:
    class Impl;
    std::shared_ptr<Impl> impl_;
};

}  // namespace orbel::communication
