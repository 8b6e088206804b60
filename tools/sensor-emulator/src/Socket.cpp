// POSIX socket calls behind the emulator's small socket layer (see Socket.h).
#include "Socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace orbel::emulator::detail {

namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

}  // namespace

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        Reset();
        fd_ = other.Release();
    }
    return *this;
}

int FileDescriptor::Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void FileDescriptor::Reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

FileDescriptor ListenOnLoopback(uint16_t port) {
    FileDescriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.Valid()) ThrowErrno("socket");
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ThrowErrno("bind");
    if (::listen(fd.Get(), 4) != 0) ThrowErrno("listen");
    return fd;
}

uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) ThrowErrno("getsockname");
    return ntohs(address.sin_port);
}

FileDescriptor AcceptClient(int listenFd, std::string& peer) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    FileDescriptor fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd.Valid()) return fd;
    const int on = 1;
    ::setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    peer = std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
    return fd;
}

ssize_t ReceiveSome(int fd, std::span<uint8_t> into) { return ::recv(fd, into.data(), into.size(), MSG_DONTWAIT); }

ssize_t SendVector(int fd, std::span<const std::span<const uint8_t>> pieces) {
    constexpr size_t kMaxPieces = 64;
    iovec vectors[kMaxPieces];
    size_t count = 0;
    for (const auto& piece : pieces) {
        if (count == kMaxPieces) break;
        vectors[count].iov_base = const_cast<uint8_t*>(piece.data());
        vectors[count].iov_len = piece.size();
        ++count;
    }
    msghdr message{};
    message.msg_iov = vectors;
    message.msg_iovlen = count;
    return ::sendmsg(fd, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool WaitWritable(int fd, int timeout_ms) {
    pollfd entry{fd, POLLOUT, 0};
    return ::poll(&entry, 1, timeout_ms) == 1 && (entry.revents & POLLOUT) != 0;
}

void CloseGracefully(FileDescriptor& fd) {
    if (!fd.Valid()) return;
    ::shutdown(fd.Get(), SHUT_WR);
    uint8_t sink[4096];
    while (::recv(fd.Get(), sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
    fd.Reset();
}

void CloseWithReset(FileDescriptor& fd) {
    if (!fd.Valid()) return;
    const linger abortive{1, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    fd.Reset();
}

WakeEvent::WakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!fd_.Valid()) ThrowErrno("eventfd");
}

void WakeEvent::Signal() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_.Get(), &one, sizeof one);
}

void WakeEvent::Drain() const {
    uint64_t value = 0;
    [[maybe_unused]] const ssize_t read = ::read(fd_.Get(), &value, sizeof value);
}

short PollOnce(const WakeEvent& wake, int fd, short events, int64_t timeout_ns) {
    pollfd entries[2] = {{wake.Fd(), POLLIN, 0}, {fd, events, 0}};
    const nfds_t count = fd >= 0 ? 2 : 1;
    timespec timeout{};
    timespec* timeoutPointer = nullptr;
    if (timeout_ns >= 0) {
        timeout.tv_sec = static_cast<time_t>(timeout_ns / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(timeout_ns % 1'000'000'000);
        timeoutPointer = &timeout;
    }
    if (::ppoll(entries, count, timeoutPointer, nullptr) <= 0) return 0;
    if (entries[0].revents & POLLIN) wake.Drain();
    return count == 2 ? entries[1].revents : 0;
}

}  // namespace orbel::emulator::detail
