#include "camera/vendor/Gvcp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "camera/vendor/GenericException.h"

namespace orbel::camera::vendor::gvcp {
namespace {

constexpr int kSends = 3;

uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
uint32_t Read32(const uint8_t* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

std::string Dotted(uint32_t address) {
    in_addr in{};
    in.s_addr = htonl(address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

// A NUL-padded ASCII field; a field that fills its width has no terminator.
std::string Text(const uint8_t* p, size_t width) {
    size_t n = 0;
    while (n < width && p[n] != 0) ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

std::string Mac(const uint8_t* p) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 6; ++i) {
        if (i) text += ':';
        text += digits[p[i] >> 4];
        text += digits[p[i] & 0x0F];
    }
    return text;
}

class Socket {
public:
    Socket() : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

sockaddr_in Endpoint(uint32_t address, uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_addr.s_addr = htonl(address);
    endpoint.sin_port = htons(port);
    return endpoint;
}

[[noreturn]] void ThrowSocketError(const std::string& what) {
    throw GenericException("GigE Vision discovery: " + what + ": " + std::strerror(errno));
}

}  // namespace

std::array<uint8_t, kHeaderSize> DiscoveryCommand(uint16_t requestId) {
    return {0x42, 0x01, 0x00, 0x02, 0x00, 0x00, static_cast<uint8_t>(requestId >> 8),
            static_cast<uint8_t>(requestId & 0xFF)};
}

std::optional<DeviceInfo> ParseDiscoveryAck(std::span<const uint8_t> datagram, uint16_t requestId) {
    if (datagram.size() < kHeaderSize + kDiscoveryAckPayload) return std::nullopt;
    const uint8_t* h = datagram.data();
    if (Read16(h) != 0 || Read16(h + 2) != kDiscoveryAck || Read16(h + 4) < kDiscoveryAckPayload ||
        Read16(h + 6) != requestId) {
        return std::nullopt;
    }
    const uint8_t* p = h + kHeaderSize;
    DeviceInfo info;
    info.macAddress = Mac(p + 0x0A);
    info.ipAddress = Dotted(Read32(p + 0x24));
    info.subnetMask = Dotted(Read32(p + 0x34));
    info.vendorName = Text(p + 0x48, 32);
    info.modelName = Text(p + 0x68, 32);
    info.deviceVersion = Text(p + 0x88, 32);
    info.serialNumber = Text(p + 0xD8, 16);
    info.userDefinedName = Text(p + 0xE8, 16);
    return info;
}

bool IsForbiddenTarget(uint32_t address, uint32_t mask) {
    if (address == 0 || address == 0xFFFFFFFFu) return true;
    if ((address & 0xF0000000u) == 0xE0000000u) return true;
    // Host bits all set: the subnet's broadcast address (a /31 or /32 has none).
    const uint32_t host = ~mask;
    return host > 1 && (address & host) == host;
}

std::optional<DeviceInfo> DiscoverUnicast(uint32_t from, uint32_t to, uint32_t mask,
                                          std::chrono::milliseconds timeout) {
    if (IsForbiddenTarget(to, mask)) {
        throw GenericException("GigE Vision discovery is unicast only; " + Dotted(to) +
                               " is a broadcast, multicast or unspecified address");
    }
    Socket socket;
    if (socket.fd() < 0) ThrowSocketError("cannot open a UDP socket");
    const sockaddr_in local = Endpoint(from, 0);
    if (::bind(socket.fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        ThrowSocketError("cannot bind to " + Dotted(from));
    }
    const sockaddr_in remote = Endpoint(to, kPort);

    static std::atomic<uint16_t> nextRequest{1};
    uint16_t requestId = nextRequest.fetch_add(1);
    if (requestId == 0) requestId = nextRequest.fetch_add(1);
    const auto command = DiscoveryCommand(requestId);

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto deadline = start + timeout;
    int sent = 0;
    auto nextSend = start;
    uint8_t datagram[1024];
    for (;;) {
        const auto now = Clock::now();
        if (sent < kSends && now >= nextSend) {
            // A refused or lost datagram is not an error: the camera may not be there.
            (void)::sendto(socket.fd(), command.data(), command.size(), 0, reinterpret_cast<const sockaddr*>(&remote),
                           sizeof remote);
            ++sent;
            nextSend = start + timeout * sent / kSends;
        }
        if (now >= deadline) return std::nullopt;
        const auto until = sent < kSends ? std::min(nextSend, deadline) : deadline;
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        pollfd poll{socket.fd(), POLLIN, 0};
        const int ready = ::poll(&poll, 1, static_cast<int>(std::max<int64_t>(wait, 0)));
        if (ready < 0 && errno != EINTR) ThrowSocketError("cannot wait for an answer");
        if (ready <= 0) continue;
        sockaddr_in sender{};
        socklen_t senderSize = sizeof sender;
        const ssize_t n = ::recvfrom(socket.fd(), datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&sender),
                                     &senderSize);
        // ICMP port-unreachable surfaces as ECONNREFUSED on a later receive; keep waiting.
        if (n <= 0) continue;
        if (sender.sin_addr.s_addr != remote.sin_addr.s_addr || sender.sin_port != remote.sin_port) continue;
        auto info = ParseDiscoveryAck(std::span<const uint8_t>(datagram, static_cast<size_t>(n)), requestId);
        if (!info) continue;
        info->interfaceIpAddress = Dotted(from);
        return info;
    }
}

}  // namespace orbel::camera::vendor::gvcp
