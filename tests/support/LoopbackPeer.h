// A minimal TCP peer on 127.0.0.1 for tests of the SDK's link: it accepts one
// connection and reads, writes, closes or resets it on demand. Plain POSIX
// sockets, so it shares no code with the SDK under test.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace orbel::testing {

class LoopbackPeer {
public:
    LoopbackPeer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (listener_ < 0) throw std::runtime_error("socket failed");
        int yes = 1;
        ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
            throw std::runtime_error("bind failed");
        if (::listen(listener_, 4) != 0) throw std::runtime_error("listen failed");
        socklen_t length = sizeof(address);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackPeer() {
        if (client_ >= 0) ::close(client_);
        if (listener_ >= 0) ::close(listener_);
    }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }

    bool Accept(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(deadline.count())) <= 0) return false;
        client_ = ::accept(listener_, nullptr, nullptr);
        return client_ >= 0;
    }

    // Reads exactly n bytes, or fewer when the deadline passes or the link ends.
    std::vector<uint8_t> Read(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
        std::vector<uint8_t> data;
        data.reserve(n);
        const auto end = std::chrono::steady_clock::now() + deadline;
        uint8_t buffer[65536];
        while (data.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd p{client_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
            const size_t want = std::min(sizeof(buffer), n - data.size());
            const ssize_t got = ::recv(client_, buffer, want, 0);
            if (got <= 0) break;
            data.insert(data.end(), buffer, buffer + got);
        }
        return data;
    }

    // Reads and discards until the other side closes the link; false when the deadline passes first.
    bool WaitForClose(std::chrono::milliseconds deadline = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + deadline;
        uint8_t buffer[4096];
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd p{client_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
            if (::recv(client_, buffer, sizeof(buffer), 0) <= 0) return true;
        }
    }

    void Write(const std::vector<uint8_t>& bytes) {
        size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(client_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("send failed");
            sent += static_cast<size_t>(n);
        }
    }

    void Close() {
        ::shutdown(client_, SHUT_RDWR);
        ::close(client_);
        client_ = -1;
    }

    // Closes with SO_LINGER 0: the other side sees a reset, not an orderly end.
    void Reset() {
        linger l{1, 0};
        ::setsockopt(client_, SOL_SOCKET, SO_LINGER, &l, sizeof(l));
        ::close(client_);
        client_ = -1;
    }

    // A port on which nothing listens (bound, then released).
    static int UnusedPort() {
        LoopbackPeer probe;
        const int port = probe.Port();
        return port;
    }

private:
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
};

}  // namespace orbel::testing
