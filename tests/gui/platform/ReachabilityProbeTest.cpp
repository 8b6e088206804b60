// The ICMP probe: which address texts may become a destination at all, echoes over each
// kind of socket on loopback, and what a process without permission for either gets.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/ReachabilityProbe.h"

namespace orbel::studio::platform {
// A case shows its socket kind by name, not as the enum's bytes (found by argument lookup).
static void PrintTo(IcmpSocketKind kind, std::ostream* os) {
    *os << (kind == IcmpSocketKind::Datagram ? "Datagram" : "Raw");
}
}  // namespace orbel::studio::platform

namespace {

using namespace std::chrono_literals;
using orbel::studio::platform::CreateIcmpProbe;
using orbel::studio::platform::EchoResult;
using orbel::studio::platform::IcmpSocketKind;
using orbel::studio::platform::ParseUnicastIpv4;

TEST(ReachabilityProbe, OnlyDottedDecimalUnicastAddressesAreDestinations) {
    const struct {
        const char* text;
        const char* address;  // dotted form of the result, null when refused
    } cases[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"10.10.100.11", "10.10.100.11"},
        {"1.2.3.4", "1.2.3.4"},
        {"0.0.0.1", "0.0.0.1"},
        {"223.255.255.255", "223.255.255.255"},
        // Not four dotted decimal numbers of 0 to 255. Several of these are addresses to
        // the classic parser (octal, hexadecimal, short forms), and its answer for the
        // rest is 255.255.255.255, the limited broadcast.
        {"", nullptr},
        {"sensor", nullptr},
        {"1.2.3", nullptr},
        {"1.2.3.4.5", nullptr},
        {"1.2.3.4.", nullptr},
        {".1.2.3", nullptr},
        {"1..3.4", nullptr},
        {"256.1.1.1", nullptr},
        {"1.2.3.1000", nullptr},
        {"-1.2.3.4", nullptr},
        {"+1.2.3.4", nullptr},
        {" 1.2.3.4", nullptr},
        {"1.2.3.4 ", nullptr},
        {"1.2.3.a", nullptr},
        {"010.0.0.1", nullptr},
        {"0x7f.0.0.1", nullptr},
        {"127.1", nullptr},
        {"2130706433", nullptr},
        // Addresses that reach no single host.
        {"0.0.0.0", nullptr},
        {"255.255.255.255", nullptr},
        {"224.0.0.1", nullptr},
        {"239.255.255.250", nullptr},
        {"240.0.0.1", nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<uint32_t> parsed = ParseUnicastIpv4(c.text);
        if (c.address == nullptr) {
            EXPECT_FALSE(parsed.has_value()) << '"' << c.text << '"';
            continue;
        }
        ASSERT_TRUE(parsed.has_value()) << '"' << c.text << '"';
        in_addr expected{};
        ASSERT_EQ(inet_pton(AF_INET, c.address, &expected), 1);
        EXPECT_EQ(*parsed, expected.s_addr) << c.text;
    }
}

class LoopbackEcho : public ::testing::TestWithParam<IcmpSocketKind> {};

TEST_P(LoopbackEcho, LoopbackAnswersAndRefusedTextsGetNoReply) {
    const auto probe = CreateIcmpProbe(GetParam());
    const EchoResult first = probe->Echo("127.0.0.1", 1000ms);
    if (first == EchoResult::Unavailable) {
        GTEST_SKIP() << "this socket kind is not permitted here: " << probe->UnavailableReason();
    }
    EXPECT_EQ(first, EchoResult::Reply);
    // Every 127/8 address is this host; consecutive echoes match their own replies.
    EXPECT_EQ(probe->Echo("127.0.0.2", 1000ms), EchoResult::Reply);
    EXPECT_EQ(probe->Echo("127.0.0.1", 1000ms), EchoResult::Reply);
    EXPECT_EQ(probe->Echo("255.255.255.255", 1000ms), EchoResult::NoReply);
    EXPECT_EQ(probe->Echo("127.1", 1000ms), EchoResult::NoReply);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, LoopbackEcho, ::testing::Values(IcmpSocketKind::Datagram, IcmpSocketKind::Raw),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

// Child exit codes.
constexpr int kAsExpected = 0;
constexpr int kCannotTell = 10;  // the child still may open an ICMP socket
constexpr int kWrongLoopbackResult = 11;
constexpr int kWrongReason = 12;
constexpr int kRefusedTextNotNoReply = 13;

TEST(ReachabilityProbe, WithoutPermissionForEitherSocketEchoesAreUnavailable) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0) {
            // Root gives up its capabilities by becoming "nobody".
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(kCannotTell);
        }
        for (const int type : {SOCK_DGRAM, SOCK_RAW}) {
            const int fd = socket(AF_INET, type, IPPROTO_ICMP);
            if (fd >= 0) _exit(kCannotTell);
        }
        const auto probe = CreateIcmpProbe();
        if (probe->Echo("127.0.0.1", 1000ms) != EchoResult::Unavailable) _exit(kWrongLoopbackResult);
        const std::string reason = probe->UnavailableReason();
        if (reason.find("ping_group_range") == std::string::npos || reason.find("CAP_NET_RAW") == std::string::npos) {
            _exit(kWrongReason);
        }
        // A refused text is decided before any socket is tried.
        if (probe->Echo("not an address", 1000ms) != EchoResult::NoReply) _exit(kRefusedTextNotNoReply);
        _exit(kAsExpected);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == kCannotTell) {
        GTEST_SKIP() << "an unprivileged process may open ICMP sockets here (net.ipv4.ping_group_range)";
    }
    EXPECT_EQ(WEXITSTATUS(status), kAsExpected);
}

}  // namespace
