// Plain POSIX loopback sockets for the benchmarks' raw baselines: they share
// nothing with the SDK or the emulator, so the baseline measures the link alone.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace orbel::bench {

class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { Reset(); }
    Socket(Socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Socket& operator=(Socket&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = other.fd_;
            other.fd_ = -1;
        }
        return *this;
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

sockaddr_in LoopbackAddress(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

Socket MakeSocket() {
    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    if (s.Get() < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    return s;
}

Socket Listen(uint16_t& port) {
    Socket listener = MakeSocket();
    sockaddr_in address = LoopbackAddress(0);
    if (::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener.Get(), 1) != 0) {
        throw std::runtime_error(std::string("bind/listen: ") + std::strerror(errno));
    }
    socklen_t length = sizeof(address);
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

Socket Connect(uint16_t port) {
    Socket s = MakeSocket();
    sockaddr_in address = LoopbackAddress(port);
    if (::connect(s.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
    }
    return s;
}

}  // namespace orbel::bench
