#include "communication/TCPClient.h"

#include <asio/error.hpp>

#include <atomic>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "utilities/Logging.h"
#include "utilities/SdkThread.h"
#include "utilities/StringConversion.h"

namespace orbel::communication {

using orbel::sdk::Exception;
using orbel::sdk::SensorError;
using orbel::utilities::ConvertToWStringLossy;

// The state the send thread works on; the thread holds a reference of its own so
// that a client released on its send thread stays alive until the thread ends.
class TCPClient::Impl : public std::enable_shared_from_this<Impl> {
public:
    Impl(std::shared_ptr<TCPConnection> connection, size_t maxQueueSize)
        : connection_(std::move(connection)), maxQueueSize_(maxQueueSize) {}

    void Dispatch(std::shared_ptr<IMessage> message);
    void HandleTCPErrors(const std::string& text, const std::error_code& error);
    void SetErrorHandler(ErrorHandler handler) {
        std::lock_guard lock(handlerMutex_);
        errorHandler_ = std::move(handler);
    }
    size_t QueuedCount() {
        std::lock_guard lock(queueMutex_);
        return queue_.size();
    }
    void Shutdown() noexcept;

    std::shared_ptr<TCPConnection> connection_;

private:
    void RunSendThread();

    size_t maxQueueSize_;
    std::deque<std::shared_ptr<IMessage>> queue_;
    std::mutex queueMutex_;
    std::atomic<bool> running_{false};
    uint32_t counter_ = 0;  // touched only by the one send thread at a time
    std::thread sendThread_;
    std::mutex threadMutex_;  // one caller at a time joins and starts the send thread
    std::mutex handlerMutex_;
    ErrorHandler errorHandler_;
};

void TCPClient::Impl::Dispatch(std::shared_ptr<IMessage> message) {
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.size() >= maxQueueSize_)
            throw std::length_error("Outgoing message queue full. Message will not be transmitted");
        queue_.push_back(std::move(message));
    }
    std::lock_guard lock(threadMutex_);
    if (running_) return;
    // The previous send thread has finished or is finishing.
    orbel::utilities::JoinOrRelease(sendThread_);
    // Set here, not in the thread, so a second Dispatch cannot start a second thread.
    running_ = true;
    auto self = shared_from_this();
    sendThread_ = std::thread([self] {
        orbel::utilities::MarkSdkThread();
        self->RunSendThread();
    });
}

void TCPClient::Impl::RunSendThread() {
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.empty()) {
            running_ = false;
            return;
        }
    }
    while (true) {
        if (!connection_->IsConnected()) {
            running_ = false;
            return;
        }
        std::shared_ptr<IMessage> message;
        {
            std::lock_guard lock(queueMutex_);
            message = queue_.front();  // stays queued while it is sent
        }
        try {
            message->SetCounter(counter_);
            message->Finalize();
            connection_->Send(message);
        } catch (const Exception&) {
            // The link went down between the check and the send; the connection
            // has reported the cause. The message stays queued.
            running_ = false;
            return;
        } catch (const std::exception& e) {
            ORBEL_LOG_ERROR(L"Sending failed: " + ConvertToWStringLossy(e.what()));
            running_ = false;
            return;
        }
        ORBEL_LOG_DEBUG(L"Message transmitted: " + std::to_wstring(message->GetId()));
        std::lock_guard lock(queueMutex_);
        queue_.pop_front();
        ++counter_;
        if (queue_.empty()) {
            running_ = false;
            return;
        }
    }
}

void TCPClient::Impl::HandleTCPErrors(const std::string& text, const std::error_code& error) {
    ErrorHandler handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = errorHandler_;
    }
    const std::wstring code = std::to_wstring(error.value());
    if (!handler) {
        ORBEL_LOG_ERROR(L"No error handler set: " + ConvertToWStringLossy(text) + L" (Error code: " + code + L")");
        return;
    }
    if (error == asio::error::eof) {
        handler(Exception(std::string("TCP connection closed by remote host"), SensorError::NOT_CONNECTED));
        return;
    }
    if (error == asio::error::operation_aborted) return;
    ORBEL_LOG_ERROR(ConvertToWStringLossy(text) + L" (Error code: " + code + L")");
    handler(Exception(text, SensorError::TCP_ERROR));
}

void TCPClient::Impl::Shutdown() noexcept {
    ORBEL_LOG_DEBUG(L"Destroying TCP client.");
    std::lock_guard lock(threadMutex_);
    // On an SDK thread the send thread is released and ends once its current send returns.
    orbel::utilities::JoinOrRelease(sendThread_);
}

TCPClient::TCPClient(std::shared_ptr<TCPConnection> connection, size_t maxQueueSize)
    : impl_(std::make_shared<Impl>(std::move(connection), maxQueueSize)) {
    std::weak_ptr<Impl> weak = impl_;
    impl_->connection_->SetErrorCallback([weak](const std::string& text, const std::error_code& error) {
        if (auto impl = weak.lock()) impl->HandleTCPErrors(text, error);
    });
}

TCPClient::~TCPClient() {
    impl_->connection_->SetErrorCallback(nullptr);
    impl_->Shutdown();
}

void TCPClient::Dispatch(std::shared_ptr<IMessage> message) { impl_->Dispatch(std::move(message)); }
bool TCPClient::IsConnected() { return impl_->connection_->IsConnected(); }
void TCPClient::SetErrorHandler(ErrorHandler handler) { impl_->SetErrorHandler(std::move(handler)); }
void TCPClient::HandleTCPErrors(const std::string& text, const std::error_code& error) {
    impl_->HandleTCPErrors(text, error);
}
size_t TCPClient::QueuedCount() { return impl_->QueuedCount(); }

}  // namespace orbel::communication
