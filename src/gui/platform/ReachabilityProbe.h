// Whether a host answers an ICMP echo. On Linux an unprivileged ICMP datagram socket is
// tried first, a raw socket second; tests put a scripted probe in its place.
//
// Contract: Echo blocks the calling thread for at most the time-out; one probe may be used by
// one thread at a time.
#pragma once

#include <chrono>
#include <memory>
#include <string>

namespace orbel::studio::platform {

enum class EchoResult {
    Reply,        // the host answered within the time-out
    NoReply,      // no answer, or the address text is not a dotted IPv4 address
    Unavailable,  // this process may not send echoes (no permission for either socket)
};

class IReachabilityProbe {
public:
    virtual ~IReachabilityProbe() = default;
    virtual EchoResult Echo(const std::string& ipv4, std::chrono::milliseconds timeout) = 0;
};

std::unique_ptr<IReachabilityProbe> CreateIcmpProbe();

}  // namespace orbel::studio::platform
