// The emulator's layer over the POSIX socket calls: an owning descriptor, a listening
// socket that binds 127.0.0.1 only, accepting, the two ways of closing a client, and a
// wake-up event. Everything else in the emulator stays free of socket calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <sys/types.h>

namespace orbel::emulator::detail {

// Owns one file descriptor; closes it on destruction. Move-only.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release();
    void Reset();

private:
    int fd_ = -1;
};

// A non-blocking listening socket on 127.0.0.1:port (0 picks a free port). Throws
// std::system_error on failure.
FileDescriptor ListenOnLoopback(uint16_t port);
uint16_t LocalPort(int fd);

// Accepts one pending connection as a non-blocking socket with TCP_NODELAY; an invalid
// descriptor when none is pending. peer receives "address:port".
FileDescriptor AcceptClient(int listenFd, std::string& peer);

// recv/send without blocking and without SIGPIPE; -1 with errno as the calls set it.
ssize_t ReceiveSome(int fd, std::span<uint8_t> into);
ssize_t SendVector(int fd, std::span<const std::span<const uint8_t>> pieces);

// Waits up to timeout_ms for the socket to accept more bytes.
bool WaitWritable(int fd, int timeout_ms);

// FIN after what was sent, then close; unread input is drained first so that the
// kernel does not answer with a reset.
void CloseGracefully(FileDescriptor& fd);
// SO_LINGER 0, then close: the peer sees ECONNRESET.
void CloseWithReset(FileDescriptor& fd);

// A wake-up event another thread can signal to end a poll early.
class WakeEvent {
public:
    WakeEvent();
    void Signal() const;
    void Drain() const;
    int Fd() const { return fd_.Get(); }

private:
    FileDescriptor fd_;
};

// One poll over the wake event and optionally a socket. Returns the socket's revents
// (0 when only the wake event or the time-out ended the wait). timeout_ns < 0 waits
// without limit.
short PollOnce(const WakeEvent& wake, int fd, short events, int64_t timeout_ns);

}  // namespace orbel::emulator::detail
