// Which host interfaces the camera tries, in which order, and how camera IP
// texts become numbers: only four numbers of 0 to 255 are an address.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "camera/Camera.h"
#include "camera/IPv4.h"
#include "support/LogCapture.h"

namespace {

using orbel::camera::Camera;
using orbel::camera::ParseIPv4;
using orbel::camera::vendor::InterfaceInfo;

std::vector<std::string> Chosen(const std::vector<InterfaceInfo>& interfaces, const std::string& cameraIp,
                                const std::string& localIp) {
    std::vector<std::string> order;
    for (const auto& i : Camera::FindGoodInterface(interfaces, cameraIp, localIp)) order.push_back(i.IpAddressStr());
    return order;
}

TEST(InterfaceChoice, SameSubnetInterfacesComeLastListedFirstAndTheSensorLinksOwnLast) {
    const std::vector<InterfaceInfo> interfaces = {
        {"eth0", "192.168.1.5", "255.255.255.0"},  // the sensor link's own
        {"eth1", "192.168.1.6", "255.255.255.0"},
        {"eth2", "10.0.0.5", "255.0.0.0"},
        {"eth3", "192.168.1.7", "255.255.0.0"},
        {"eth4", "192.168.1.5", "255.255.255.0"},  // a second address equal to the link's
    };
    struct Case {
        const char* cameraIp;
        const char* localIp;
        std::vector<std::string> order;
    };
    const Case cases[] = {
        {"192.168.1.20", "192.168.1.5", {"192.168.1.7", "192.168.1.6", "192.168.1.5", "192.168.1.5"}},
        {"192.168.1.20", "10.0.0.5", {"192.168.1.5", "192.168.1.7", "192.168.1.6", "192.168.1.5"}},
        {"192.168.1.20", "", {"192.168.1.5", "192.168.1.7", "192.168.1.6", "192.168.1.5"}},
        {"192.168.2.20", "192.168.1.5", {"192.168.1.7"}},
        {"10.1.2.3", "192.168.1.5", {"10.0.0.5"}},
        // Leading zeros parse to the same number: the interfaces are the same (the
        // device's own address text will not match, Camera.ConnectionFailuresSayWhatWasFound).
        {"192.168.001.020", "192.168.1.5", {"192.168.1.7", "192.168.1.6", "192.168.1.5", "192.168.1.5"}},
        {"172.16.0.1", "192.168.1.5", {}},
        {"192.168.1.256", "192.168.1.5", {}},
        {"192.168.1", "192.168.1.5", {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Chosen(interfaces, c.cameraIp, c.localIp), c.order) << c.cameraIp << " from " << c.localIp;
    }
}

TEST(InterfaceChoice, EachInterfaceIsLoggedWithTheReasonForItsPlace) {
    orbel::testing::LogCapture log;
    Camera::FindGoodInterface({{"a", "192.168.1.5", "255.255.255.0"},
                               {"b", "192.168.1.6", "255.255.255.0"},
                               {"c", "10.0.0.5", "255.0.0.0"}},
                              "192.168.1.20", "192.168.1.5");
    EXPECT_EQ(log.Count(L"Found possible interface: 192.168.1.5 for camera IP: 192.168.1.20 but giving low weight "
                        L"due to user request."),
              1u);
    EXPECT_EQ(log.Count(L"Found possible interface: 192.168.1.6 for camera IP: 192.168.1.20"), 1u);
    EXPECT_EQ(log.Count(L"Found interface: 10.0.0.5 but it is not on the same subnet as camera IP: 192.168.1.20"), 1u);
}

TEST(ParseIPv4, OnlyFourNumbersOfZeroTo255AreAnAddress) {
    const std::pair<const char*, std::optional<uint32_t>> cases[] = {
        {"10.10.100.12", 0x0A0A640Cu},
        {"0.0.0.0", 0u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"010.010.100.012", 0x0A0A640Cu},
        {"1,2,3,4", 0x01020304u},
        {"", std::nullopt},
        {"1.2.3", std::nullopt},
        {"1.2.3.4.5", std::nullopt},
        {"256.1.1.1", std::nullopt},
        {"1.2.3.256", std::nullopt},
        {"4294967297.0.0.1", std::nullopt},
        {"-1.2.3.4", std::nullopt},
        {"+1.2.3.4", std::nullopt},
        {" 1.2.3.4", std::nullopt},
        {"1.2.3.4 ", std::nullopt},
        {"1..2.3", std::nullopt},
        {"1.2.3.", std::nullopt},
        {"a.b.c.d", std::nullopt},
        {"1.2.3.4x", std::nullopt},
    };
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseIPv4(text), value) << '"' << text << '"';
}

}  // namespace
