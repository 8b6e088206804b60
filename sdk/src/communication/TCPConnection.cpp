#include "communication/TCPConnection.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>

#include <asio.hpp>

#include <orbel/sdk/Exception.h>

#include "communication/WriteInPieces.h"
#include "utilities/CircularBuffer.h"
#include "utilities/Logging.h"
#include "utilities/SdkThread.h"
#include "utilities/StringConversion.h"

namespace orbel::communication {

using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::utilities::ConvertToWString;

namespace {

// The code that reports "an exception ended the I/O loop": not end of file, not
// our own abort, so it is handled as a link error.
class HandlerFailureCategory : public std::error_category {
public:
    const char* name() const noexcept override { return "orbel.connection"; }
    std::string message(int) const override { return "exception in a message handler"; }
};

const HandlerFailureCategory& HandlerFailure() {
    static const HandlerFailureCategory category;
    return category;
}

}  // namespace

// The state the I/O thread works on. The thread holds a reference of its own, so
// a connection released on its own I/O thread stays alive until that thread ends.
class TCPConnection::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl() : ring_(kReceiveCapacity, kReceiveMirror) {}

    void Connect(std::string_view ip, int port);
    bool IsConnected();
    void Send(const std::shared_ptr<IMessage>& message);
    void SetParser(std::shared_ptr<IParser> parser);
    void SetErrorCallback(ErrorCallback callback);
    std::string GetLocalIp();
    // Disconnects and joins the I/O thread, or releases it when called on it. Never throws.
    void Shutdown() noexcept;

private:
    void ConnectSocket();
    void StartRead();
    void AsyncParseBytes(const std::error_code& error, size_t bytes);
    void HandleErrorWithoutDisconnect(const std::error_code& error, const std::string& context);
    void HandleError(const std::error_code& error, const std::string& context);
    void Disconnect();
    void DisconnectSocket();
    void StopIo();
    void RunIoContext();
    bool SocketUp() const { return socket_ && socket_->is_open() && connected_; }

    std::string ip_ = "10.10.100.11";
    int port_ = 4000;
    std::thread ioThread_;
    std::mutex joinMutex_;
    asio::io_context io_;
    std::unique_ptr<asio::ip::tcp::socket> socket_;
    std::atomic<bool> connected_{false};
    orbel::utilities::CircularBuffer<uint8_t> ring_;
    std::mutex socketMutex_;
    std::mutex hooksMutex_;  // guards parser_ and errorCallback_
    std::shared_ptr<IParser> parser_;
    ErrorCallback errorCallback_;
    std::mutex guardMutex_;  // the I/O thread and the destroying thread may both stop the loop
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> workGuard_;
};

void TCPConnection::Impl::Connect(std::string_view ip, int port) {
    {
        std::lock_guard lock(socketMutex_);
        if (SocketUp() && ip == ip_ && port == port_) {
            ORBEL_LOG_DEBUG(L"Already connected to correct server");
            return;
        }
        ip_ = std::string(ip);
        port_ = port;
        ring_.Clear();
        std::lock_guard guard(guardMutex_);
        workGuard_.emplace(asio::make_work_guard(io_));
    }
    ConnectSocket();
    auto self = shared_from_this();
    ioThread_ = std::thread([self] {
        orbel::utilities::MarkSdkThread();
        self->RunIoContext();
    });
}

void TCPConnection::Impl::ConnectSocket() {
    std::error_code error;
    {
        std::lock_guard lock(socketMutex_);
        socket_ = std::make_unique<asio::ip::tcp::socket>(io_);
        asio::ip::tcp::resolver resolver(io_);
        const auto endpoints = resolver.resolve(ip_, std::to_string(port_), error);
        if (!error) asio::connect(*socket_, endpoints, error);
        if (!error) connected_ = true;
    }
    if (error) {
        // Reported with the socket mutex released: the disconnect takes it again.
        HandleError(error, "Failed to connect");
        throw Exception(error.message(), SensorError::CONNECTION_FAILED);
    }
    std::string local;
    {
        std::lock_guard lock(socketMutex_);
        std::error_code ignored;
        const auto endpoint = socket_->local_endpoint(ignored);
        local = endpoint.address().to_string() + ":" + std::to_string(endpoint.port());
    }
    ORBEL_LOG_INFO(L"Connected to server on ip: " + ConvertToWString(ip_));
    ORBEL_LOG_INFO(L"connected from local endpoint: " + ConvertToWString(local));
    StartRead();
}

void TCPConnection::Impl::StartRead() {
    std::lock_guard lock(socketMutex_);
    if (!SocketUp()) return;
    const auto [position, n] = ring_.WriteSpan();
    socket_->async_read_some(asio::buffer(position, n), [this](const std::error_code& error, size_t bytes) {
        AsyncParseBytes(error, bytes);
    });
}

void TCPConnection::Impl::AsyncParseBytes(const std::error_code& error, size_t bytes) {
    if (error) {
        HandleErrorWithoutDisconnect(error, "Error on reading from tcp connection");
        Disconnect();
        return;
    }
    if (bytes > 0) ring_.FinishWrite(bytes);
    std::shared_ptr<IParser> parser;
    {
        std::lock_guard lock(hooksMutex_);
        parser = parser_;
    }
    if (parser) {
        parser->Parse(ring_);
    } else {
        ring_.AdvanceRead(bytes);
    }
    if (ring_.ContiguousWriteSize() == 0) {
        ORBEL_LOG_INFO(L"Read buffer full. Clearing. Some incoming data might be lost.");
        ring_.Clear();
    }
    StartRead();
}

void TCPConnection::Impl::HandleErrorWithoutDisconnect(const std::error_code& error, const std::string& context) {
    if (error == asio::error::operation_aborted) {
        ORBEL_LOG_INFO(L"TCPConnection disconnected under normal circumstances.");
        return;
    }
    ErrorCallback callback;
    {
        std::lock_guard lock(hooksMutex_);
        callback = errorCallback_;
    }
    if (error == asio::error::eof) {
        ORBEL_LOG_INFO(L"TCPConnection disconnected: remote side closed connection.");
        if (callback) callback("TCPConnection disconnected by remote side.", error);
        return;
    }
    ORBEL_LOG_ERROR(L"TCPConnection disconnected with error " + std::to_wstring(error.value()) + L": " +
                    ConvertToWString(context));
    ORBEL_LOG_ERROR(L"ASIO error message: " + ConvertToWString(error.message()));
    if (callback) callback("TCPConnection error: " + context + ". Disconnecting.", error);
}

void TCPConnection::Impl::HandleError(const std::error_code& error, const std::string& context) {
    HandleErrorWithoutDisconnect(error, context);
    Disconnect();
}

void TCPConnection::Impl::StopIo() {
    std::lock_guard lock(guardMutex_);
    workGuard_.reset();
    io_.stop();
}

void TCPConnection::Impl::Disconnect() {
    DisconnectSocket();
    StopIo();
    // On an SDK thread (the I/O thread itself included) the join is left to the destructor.
    if (orbel::utilities::OnSdkThread()) return;
    std::lock_guard lock(joinMutex_);
    if (ioThread_.joinable()) {
        ioThread_.join();
        ORBEL_LOG_DEBUG(L"Asio connection thread properly exited.");
    }
}

void TCPConnection::Impl::DisconnectSocket() {
    std::lock_guard lock(socketMutex_);
    if (!SocketUp()) return;
    connected_ = false;
    std::error_code error;
    socket_->cancel(error);
    if (error && error != asio::error::not_found) throw std::system_error(error, "cancel");
    socket_->shutdown(asio::ip::tcp::socket::shutdown_both, error);
    // A peer that reset the link leaves nothing to shut down.
    if (error && error != asio::error::not_connected) throw std::system_error(error, "shutdown");
    socket_->close(error);
    ORBEL_LOG_DEBUG(L"Asio socket shut down.");
    socket_.reset();
}

void TCPConnection::Impl::RunIoContext() {
    try {
        try {
            io_.run();
        } catch (const std::exception& e) {
            HandleErrorWithoutDisconnect(std::error_code(1, HandlerFailure()),
                                         std::string("Asio context stopped running. Exception: ") + e.what());
            // Nothing reads any more: end disconnected rather than half alive.
            Disconnect();
        }
    } catch (const std::exception& e) {
        ORBEL_LOG_ERROR(L"TCPConnection I/O thread ended with an exception: " +
                        orbel::utilities::ConvertToWStringLossy(e.what()));
    } catch (...) {
        ORBEL_LOG_ERROR(L"TCPConnection I/O thread ended with an unknown exception.");
    }
}

bool TCPConnection::Impl::IsConnected() {
    std::lock_guard lock(socketMutex_);
    return SocketUp();
}

void TCPConnection::Impl::Send(const std::shared_ptr<IMessage>& message) {
    std::unique_lock lock(socketMutex_);
    if (!SocketUp()) throw Exception(std::string("Cannot send message. Socket is not connected"), SensorError::NOT_CONNECTED);
    const std::error_code error = WriteInPieces(
        message->GetData(), message->GetSize(), kMaxWriteChunk,
        [this](const uint8_t* data, size_t size, std::error_code& ec) {
            return asio::write(*socket_, asio::buffer(data, size), ec);
        });
    lock.unlock();
    if (error) HandleError(error, "Error while sending message " + std::to_string(message->GetId()));
}

void TCPConnection::Impl::SetParser(std::shared_ptr<IParser> parser) {
    std::lock_guard lock(hooksMutex_);
    parser_ = std::move(parser);
}

void TCPConnection::Impl::SetErrorCallback(ErrorCallback callback) {
    std::lock_guard lock(hooksMutex_);
    errorCallback_ = std::move(callback);
}

std::string TCPConnection::Impl::GetLocalIp() {
    std::lock_guard lock(socketMutex_);
    std::error_code error;
    if (SocketUp()) {
        const auto endpoint = socket_->local_endpoint(error);
        if (!error) return endpoint.address().to_string();
    }
    throw Exception(std::string("Cannot get local IP address. Socket is not connected"), SensorError::NOT_CONNECTED);
}

void TCPConnection::Impl::Shutdown() noexcept {
    try {
        Disconnect();
    } catch (const std::exception& e) {
        // A cancel or shutdown that fails while we tear down is logged, not thrown.
        ORBEL_LOG_ERROR(L"TCPConnection: error while disconnecting: " + orbel::utilities::ConvertToWStringLossy(e.what()));
        StopIo();
    }
    std::lock_guard lock(joinMutex_);
    // Released on an SDK thread: the I/O thread ends by itself once its current
    // handler returns, and holds the state alive until then.
    if (orbel::utilities::JoinOrRelease(ioThread_)) ORBEL_LOG_DEBUG(L"Asio connection thread properly exited.");
}

TCPConnection::TCPConnection(std::string_view ip, int port) : impl_(std::make_shared<Impl>()) {
    try {
        impl_->Connect(ip, port);
    } catch (...) {
        impl_->Shutdown();
        throw;
    }
}

TCPConnection::~TCPConnection() {
    ORBEL_LOG_DEBUG(L"Destroying TCPConnection");
    impl_->Shutdown();
    impl_->SetParser(nullptr);
    impl_->SetErrorCallback(nullptr);
}

bool TCPConnection::IsConnected() { return impl_->IsConnected(); }
void TCPConnection::Send(const std::shared_ptr<IMessage>& message) { impl_->Send(message); }
void TCPConnection::SetParser(std::shared_ptr<IParser> parser) { impl_->SetParser(std::move(parser)); }
void TCPConnection::SetErrorCallback(ErrorCallback callback) { impl_->SetErrorCallback(std::move(callback)); }
std::string TCPConnection::GetLocalIp() { return impl_->GetLocalIp(); }
std::error_code TCPConnection::HandlerFailureCode() { return std::error_code(1, HandlerFailure()); }

}  // namespace orbel::communication
