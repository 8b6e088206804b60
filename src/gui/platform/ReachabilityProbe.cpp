// ICMP echo over Linux sockets. An unprivileged ICMP datagram socket needs the process's
// group in net.ipv4.ping_group_range; a raw socket needs CAP_NET_RAW. One socket is opened
// per echo and closed before Echo returns, so a probe holds no descriptor between rounds.
//
// Only the address given to Echo is ever a destination, and only when ParseUnicastIpv4
// accepts it. SO_BROADCAST is never set, so the kernel also refuses to send to a
// subnet's broadcast address (EACCES), which counts as no reply.
#include "platform/ReachabilityProbe.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <system_error>
#include <vector>

namespace orbel::studio::platform {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kEchoReply = 0;
constexpr std::size_t kIcmpHeaderBytes = 8;

std::string ErrorText(int error) { return std::system_category().message(error); }

// Closes the descriptor on every path out of Echo.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// The Internet checksum (one's complement of the one's-complement sum of 16-bit words).
uint16_t Checksum(const uint8_t* bytes, std::size_t length) {
    uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (length % 2 != 0) {
        sum += static_cast<uint32_t>(bytes[length - 1] << 8);
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

class IcmpProbe final : public IReachabilityProbe {
public:
    explicit IcmpProbe(std::vector<IcmpSocketKind> kinds)
        : kinds_(std::move(kinds)),
          identifier_(static_cast<uint16_t>((static_cast<uint32_t>(::getpid()) ^
                                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this) >> 4)) &
                                            0xffff)) {}

    EchoResult Echo(const std::string& ipv4, std::chrono::milliseconds timeout) override {
        const std::optional<uint32_t> address = ParseUnicastIpv4(ipv4);
        if (!address) {
            return EchoResult::NoReply;
        }
        IcmpSocketKind kind{};
        const int fd = OpenSocket(kind);
        if (fd < 0) {
            return EchoResult::Unavailable;
        }
        Descriptor socket(fd);

        sockaddr_in destination{};
        destination.sin_family = AF_INET;
        destination.sin_addr.s_addr = *address;

        const uint16_t sequence = ++sequence_;
        std::array<uint8_t, kIcmpHeaderBytes> request{};
        request[0] = kEchoRequest;
        // A datagram socket puts its own identifier in place of this one.
        request[4] = static_cast<uint8_t>(identifier_ >> 8);
        request[5] = static_cast<uint8_t>(identifier_);
        request[6] = static_cast<uint8_t>(sequence >> 8);
        request[7] = static_cast<uint8_t>(sequence);
        const uint16_t checksum = Checksum(request.data(), request.size());
        request[2] = static_cast<uint8_t>(checksum >> 8);
        request[3] = static_cast<uint8_t>(checksum);

        ssize_t sent = -1;
        do {
            sent = ::sendto(socket.get(), request.data(), request.size(), 0,
                            reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            const int error = errno;
            // A refused send (a filter rule) or no buffer says nothing about the host.
            if (error == EPERM || error == ENOBUFS || error == ENOMEM) {
                reason_ = "an ICMP echo request could not be sent: " + ErrorText(error);
                return EchoResult::Unavailable;
            }
            // No route, a broadcast destination and the like: the host cannot be reached.
            return EchoResult::NoReply;
        }
        return AwaitReply(socket.get(), kind, *address, sequence, Clock::now() + timeout);
    }

    std::string UnavailableReason() const override { return reason_; }

private:
    // The first kind that opens, or -1 with the reason noted.
    int OpenSocket(IcmpSocketKind& opened) {
        std::string failures;
        for (const IcmpSocketKind kind : kinds_) {
            const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
            const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
            if (fd >= 0) {
                opened = kind;
                return fd;
            }
            const int error = errno;
            if (!failures.empty()) {
                failures += "; ";
            }
            failures += (kind == IcmpSocketKind::Datagram ? "ICMP datagram socket: " : "raw ICMP socket: ") +
                        ErrorText(error);
        }
        reason_ = failures +
                  " (allow the user's group in net.ipv4.ping_group_range or give the program CAP_NET_RAW)";
        return -1;
    }

    EchoResult AwaitReply(int fd, IcmpSocketKind kind, uint32_t address, uint16_t sequence,
                          Clock::time_point deadline) const {
        std::array<uint8_t, 1500> buffer{};
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return EchoResult::NoReply;
            }
            pollfd waiting{fd, POLLIN, 0};
            const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return EchoResult::NoReply;
            }
            sockaddr_in source{};
            socklen_t sourceLength = sizeof source;
            const ssize_t received = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                                reinterpret_cast<sockaddr*>(&source), &sourceLength);
            if (received < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    continue;
                }
                // An ICMP error about the echo (host or network unreachable).
                return EchoResult::NoReply;
            }
            if (source.sin_addr.s_addr != address) {
                continue;
            }
            if (IsOurReply(buffer.data(), static_cast<std::size_t>(received), kind, sequence)) {
                return EchoResult::Reply;
            }
        }
    }

    // A raw socket hands over every ICMP packet of the host with its IP header; a datagram
    // socket only the replies to its own identifier, without the IP header.
    bool IsOurReply(const uint8_t* packet, std::size_t length, IcmpSocketKind kind, uint16_t sequence) const {
        std::size_t offset = 0;
        if (kind == IcmpSocketKind::Raw) {
            if (length < 20) {
                return false;
            }
            offset = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
        }
        if (length < offset + kIcmpHeaderBytes) {
            return false;
        }
        const uint8_t* icmp = packet + offset;
        const auto identifier = static_cast<uint16_t>(icmp[4] << 8 | icmp[5]);
        const auto replySequence = static_cast<uint16_t>(icmp[6] << 8 | icmp[7]);
        if (icmp[0] != kEchoReply || icmp[1] != 0 || replySequence != sequence) {
            return false;
        }
        return kind == IcmpSocketKind::Datagram || identifier == identifier_;
    }

    std::vector<IcmpSocketKind> kinds_;
    uint16_t identifier_;
    uint16_t sequence_ = 0;
    std::string reason_;
};

// One number of a dotted address: one to three digits, no sign, no leading zero (a
// leading zero reads as octal to some parsers, so its meaning is not clear).
std::optional<uint32_t> ParseOctet(const std::string& text) {
    if (text.empty() || text.size() > 3 || (text.size() > 1 && text[0] == '0')) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 255) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<uint32_t> ParseUnicastIpv4(const std::string& text) {
    uint32_t hostOrder = 0;
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = text.find('.', start);
        const bool last = part == 3;
        if (last != (dot == std::string::npos)) {
            return std::nullopt;
        }
        const std::size_t end = last ? text.size() : dot;
        const std::optional<uint32_t> octet = ParseOctet(text.substr(start, end - start));
        if (!octet) {
            return std::nullopt;
        }
        hostOrder = hostOrder << 8 | *octet;
        start = end + 1;
    }
    const uint32_t first = hostOrder >> 24;
    if (hostOrder == 0 || first >= 224) {
        return std::nullopt;
    }
    return htonl(hostOrder);
}

std::unique_ptr<IReachabilityProbe> CreateIcmpProbe() {
    return std::make_unique<IcmpProbe>(std::vector{IcmpSocketKind::Datagram, IcmpSocketKind::Raw});
}

std::unique_ptr<IReachabilityProbe> CreateIcmpProbe(IcmpSocketKind only) {
    return std::make_unique<IcmpProbe>(std::vector{only});
}

}  // namespace orbel::studio::platform
