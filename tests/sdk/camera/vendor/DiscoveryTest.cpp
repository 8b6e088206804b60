// Unicast GigE Vision discovery: the command and acknowledgement as laid out on
// the wire, targets that must never be sent to, and the system finding the fake
// camera at its own address (and nothing where nothing is) on loopback.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <chrono>
#include <vector>

#include "camera/vendor/GenericException.h"
#include "camera/vendor/Gvcp.h"
#include "camera/vendor/System.h"
#include "support/FakeCamera.h"

namespace {

namespace vendor = orbel::camera::vendor;
namespace gvcp = orbel::camera::vendor::gvcp;

uint32_t Address(const std::string& text) {
    in_addr address{};
    EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &address), 1) << text;
    return ntohl(address.s_addr);
}

// An acknowledgement as a device sends it.
std::vector<uint8_t> Ack(uint16_t requestId) {
    std::vector<uint8_t> d(8 + 248, 0);
    d[3] = 0x03;  // DISCOVERY_ACK
    d[5] = 248;
    d[6] = static_cast<uint8_t>(requestId >> 8);
    d[7] = static_cast<uint8_t>(requestId);
    uint8_t* p = d.data() + 8;
    const uint8_t mac[6] = {0x00, 0x1c, 0x2a, 0xb0, 0x0f, 0xee};
    std::copy(mac, mac + 6, p + 0x0A);
    const uint8_t ip[4] = {192, 168, 7, 42};
    std::copy(ip, ip + 4, p + 0x24);
    const uint8_t mask[4] = {255, 255, 255, 0};
    std::copy(mask, mask + 4, p + 0x34);
    auto text = [&](size_t at, const std::string& s) { std::copy(s.begin(), s.end(), p + at); };
    text(0x48, "Maker");
    text(0x68, "Model");
    text(0x88, "1.2.3");
    text(0xD8, "SERIAL0123456789");  // all 16 bytes: no terminator
    text(0xE8, "left");
    return d;
}

TEST(GigEVisionDiscovery, CommandIsTheEightByteUnicastRequest) {
    const auto command = gvcp::DiscoveryCommand(0xBEEF);
    EXPECT_EQ(std::vector<uint8_t>(command.begin(), command.end()),
              (std::vector<uint8_t>{0x42, 0x01, 0x00, 0x02, 0x00, 0x00, 0xBE, 0xEF}));
}

TEST(GigEVisionDiscovery, AcknowledgementFieldsAreReadFromTheirOffsets) {
    const auto info = gvcp::ParseDiscoveryAck(Ack(7), 7);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->ipAddress, "192.168.7.42");
    EXPECT_EQ(info->subnetMask, "255.255.255.0");
    EXPECT_EQ(info->macAddress, "00:1c:2a:b0:0f:ee");
    EXPECT_EQ(info->vendorName, "Maker");
    EXPECT_EQ(info->modelName, "Model");
    EXPECT_EQ(info->deviceVersion, "1.2.3");
    EXPECT_EQ(info->serialNumber, "SERIAL0123456789");
    EXPECT_EQ(info->userDefinedName, "left");
}

TEST(GigEVisionDiscovery, AnythingButTheMatchingAcknowledgementIsIgnored) {
    struct Case {
        const char* name;
        size_t at;
        uint8_t value;
    };
    const Case cases[] = {
        {"failed status", 1, 0x01}, {"other answer", 3, 0x05}, {"short length", 5, 10}, {"other request", 7, 8},
    };
    for (const auto& c : cases) {
        auto datagram = Ack(7);
        datagram[c.at] = c.value;
        EXPECT_FALSE(gvcp::ParseDiscoveryAck(datagram, 7)) << c.name;
    }
    auto truncated = Ack(7);
    truncated.resize(200);
    EXPECT_FALSE(gvcp::ParseDiscoveryAck(truncated, 7));
}

TEST(GigEVisionDiscovery, BroadcastMulticastAndUnspecifiedTargetsAreRefused) {
    const uint32_t slash24 = Address("255.255.255.0");
    struct Case {
        const char* target;
        uint32_t mask;
        bool forbidden;
    };
    const Case cases[] = {
        {"255.255.255.255", slash24, true},  {"0.0.0.0", slash24, true},
        {"224.0.0.1", slash24, true},        {"239.255.255.250", slash24, true},
        {"10.10.100.255", slash24, true},    {"127.255.255.255", Address("255.0.0.0"), true},
        {"10.10.100.12", slash24, false},    {"127.0.0.1", Address("255.0.0.0"), false},
        {"127.64.1.255", Address("255.255.255.255"), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gvcp::IsForbiddenTarget(Address(c.target), c.mask), c.forbidden) << c.target;
    }
    // Refused before a socket exists: nothing is sent.
    EXPECT_THROW(gvcp::DiscoverUnicast(Address("127.0.0.1"), Address("255.255.255.255"), slash24,
                                       std::chrono::milliseconds(100)),
                 vendor::GenericException);
}

TEST(VendorSystem, FindsTheFakeCameraByUnicastAndReadsItsAcknowledgement) {
    orbel::testing::FakeCameraOptions options;
    options.serial = "GVCP0042";
    ORBEL_FAKE_CAMERA_OR_SKIP(camera, options);
    auto& system = vendor::SharedSystem();
    const auto interfaces = system.GetInterfaces();
    bool loopback = false;
    for (const auto& i : interfaces) {
        loopback |= i.Name() == "lo" && i.IpAddressStr() == "127.0.0.1" && i.SubnetMaskStr() == "255.0.0.0";
    }
    EXPECT_TRUE(loopback);

    system.UpdateDevices(vendor::InterfaceInfo("lo", "127.0.0.1", "255.0.0.0"), 1000, Address(camera.Address()));
    const auto devices = system.GetDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].IpAddressStr(), camera.Address());
    EXPECT_EQ(devices[0].SerialNumberStr(), "GVCP0042");
    EXPECT_EQ(devices[0].vendorName, "Aravis");
    EXPECT_EQ(devices[0].modelName, "Fake");
    EXPECT_EQ(devices[0].interfaceIpAddress, "127.0.0.1");
}

TEST(VendorSystem, AnAddressWithNothingBehindItFindsNoDeviceAfterTheTimeout) {
    auto& system = vendor::SharedSystem();
    const auto start = std::chrono::steady_clock::now();
    system.UpdateDevices(vendor::InterfaceInfo("lo", "127.0.0.1", "255.0.0.0"), 300, Address("127.99.0.1"));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(system.GetDevices().empty());
    EXPECT_GE(waited, std::chrono::milliseconds(290));
}

TEST(VendorSystem, InterfaceTextsThatAreNotAddressesAreRefused) {
    auto& system = vendor::SharedSystem();
    EXPECT_THROW(system.UpdateDevices(vendor::InterfaceInfo("x", "127.0.0.01", "255.0.0.0"), 100, Address("127.0.0.1")),
                 vendor::GenericException);
    EXPECT_THROW(system.UpdateDevices(vendor::InterfaceInfo("x", "127.0.0.1", "mask"), 100, Address("127.0.0.1")),
                 vendor::GenericException);
}

}  // namespace
