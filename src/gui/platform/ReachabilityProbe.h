// Whether a host answers an ICMP echo. On Linux an unprivileged ICMP datagram socket is
// tried first, a raw socket second; tests put a scripted probe in its place.
//
// Contract: Echo blocks the calling thread for at most the time-out; one probe may be used by
// one thread at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace orbel::studio::platform {

enum class EchoResult {
    Reply,        // the host answered within the time-out
    NoReply,      // no answer, or an address ParseUnicastIpv4 refuses (nothing is sent then)
    Unavailable,  // no echo could be sent: no permission for either socket, or no resources
};

class IReachabilityProbe {
public:
    virtual ~IReachabilityProbe() = default;
    virtual EchoResult Echo(const std::string& ipv4, std::chrono::milliseconds timeout) = 0;
    // Why the last Echo answered Unavailable, for the user's log.
    virtual std::string UnavailableReason() const { return "ICMP echo requests may not be sent"; }
};

std::unique_ptr<IReachabilityProbe> CreateIcmpProbe();

// A probe that tries one kind of socket only (tests exercise each path).
enum class IcmpSocketKind { Datagram, Raw };
std::unique_ptr<IReachabilityProbe> CreateIcmpProbe(IcmpSocketKind only);

// The address of a dotted-decimal IPv4 text (exactly four numbers 0 to 255, digits only),
// in network byte order; nothing for any other text and for addresses that reach more than
// one host or none: 0.0.0.0, multicast (224/4) and 240/4 with the broadcast 255.255.255.255.
// The probe sends only to addresses this accepts.
std::optional<uint32_t> ParseUnicastIpv4(const std::string& text);

}  // namespace orbel::studio::platform
