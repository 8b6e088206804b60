// A tiny blocking-connect TCP client on 127.0.0.1 for the emulator's tests: it sends
// raw bytes and decodes what arrives with the emulator's FrameDecoder. It shares
// nothing with the SDK. One test thread uses it; no lock.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <span>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <orbel/emulator/WireFrame.h>

namespace orbel::emulator::testing {

class TestClient {
public:
    explicit TestClient(uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) throw std::runtime_error("socket failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd_);
            throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
        }
    }
    ~TestClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    void Send(std::span<const uint8_t> bytes) {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0) throw std::runtime_error("send failed");
            bytes = bytes.subspan(static_cast<size_t>(sent));
        }
    }

    // Commands carry the one-byte payload 0x00, like the SDK's.
    void SendCommand(uint32_t id) {
        const uint8_t payload[1] = {0x00};
        Send(EncodeFrame(id, counter_++, payload));
    }

    // The next frame or rejected candidate; nothing on time-out, end of stream or error.
    std::optional<DecodedFrame> Next(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            if (auto frame = decoder_.Next()) return frame;
            if (closed_) return std::nullopt;
            if (!ReceiveUntil(deadline)) return std::nullopt;
        }
    }

    // The next valid frame with the id; others are skipped.
    std::optional<DecodedFrame> NextWithId(uint32_t id, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return std::nullopt;
            auto frame = Next(left);
            if (!frame) return std::nullopt;
            if (frame->Valid() && frame->id == id) return frame;
        }
    }

    // Reads until the stream ends; 0 for an orderly end, the errno of a failed read
    // (ECONNRESET for a reset), or -1 on time-out.
    int WaitForEnd(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!closed_) {
            if (!ReceiveUntil(deadline) && !closed_) return -1;
        }
        return error_;
    }

    uint64_t BytesReceived() const { return received_; }

private:
    // One read; false on time-out. Sets closed_ at the end of the stream.
    bool ReceiveUntil(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, static_cast<int>(left.count())) != 1) return false;
        uint8_t buffer[256 * 1024];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n > 0) {
            received_ += static_cast<uint64_t>(n);
            decoder_.Feed({buffer, static_cast<size_t>(n)});
        } else {
            closed_ = true;
            error_ = n == 0 ? 0 : errno;
        }
        return true;
    }

    int fd_;
    uint32_t counter_ = 0;
    FrameDecoder decoder_;
    bool closed_ = false;
    int error_ = 0;
    uint64_t received_ = 0;
};

// Little-endian reads from a point-cloud payload, written apart from the emulator's encoder.
inline uint32_t U32(std::span<const uint8_t> p, size_t at) {
    return uint32_t{p[at]} | uint32_t{p[at + 1]} << 8 | uint32_t{p[at + 2]} << 16 | uint32_t{p[at + 3]} << 24;
}
inline uint64_t U64(std::span<const uint8_t> p, size_t at) { return uint64_t{U32(p, at)} | uint64_t{U32(p, at + 4)} << 32; }
inline float F32(std::span<const uint8_t> p, size_t at) {
    const uint32_t bits = U32(p, at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace orbel::emulator::testing
