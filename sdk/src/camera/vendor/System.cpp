#include "camera/vendor/System.h"

#include <arpa/inet.h>
#include <arv.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "camera/vendor/Device.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Gvcp.h"

namespace orbel::camera::vendor {
namespace {

std::string Dotted(const sockaddr* address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    return text;
}

// Strict dotted quad (inet_pton's rules), host byte order.
uint32_t ParseAddress(const std::string& text, const char* what) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        throw GenericException(std::string("The ") + what + " '" + text + "' is not an IPv4 address");
    }
    return ntohl(address.s_addr);
}

}  // namespace

System::System() = default;

// Runs at process exit, as the static below is destroyed.
System::~System() = default;

System& SharedSystem() {
    // A function-local static: initialised exactly once even when several
    // threads arrive together, destroyed (closed) at exit.
    static System system;
    return system;
}

std::string GetVersion() {
    return "Aravis " + std::to_string(arv_get_major_version()) + "." + std::to_string(arv_get_minor_version()) + "." +
           std::to_string(arv_get_micro_version());
}

std::vector<InterfaceInfo> System::GetInterfaces() const {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        throw GenericException(std::string("Cannot list the network interfaces: ") + std::strerror(errno));
    }
    std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owner(list, freeifaddrs);
    std::vector<InterfaceInfo> interfaces;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
        if ((entry->ifa_flags & IFF_UP) == 0 || entry->ifa_netmask == nullptr) continue;
        interfaces.emplace_back(entry->ifa_name, Dotted(entry->ifa_addr), Dotted(entry->ifa_netmask));
    }
    return interfaces;
}

void System::UpdateDevices(const InterfaceInfo& networkInterface, uint64_t timeoutMs, uint32_t deviceAddress) {
    const uint32_t from = ParseAddress(networkInterface.IpAddressStr(), "interface address");
    const uint32_t mask = ParseAddress(networkInterface.SubnetMaskStr(), "subnet mask");
    std::vector<DeviceInfo> found;
    if (auto device = gvcp::DiscoverUnicast(from, deviceAddress, mask, std::chrono::milliseconds(timeoutMs))) {
        found.push_back(std::move(*device));
    }
    std::lock_guard lock(mutex_);
    devices_ = std::move(found);
}

std::vector<DeviceInfo> System::GetDevices() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

Device* System::CreateDevice(const DeviceInfo& info) {
    // Both addresses are checked strictly before Aravis sees them.
    ParseAddress(info.interfaceIpAddress, "interface address");
    ParseAddress(info.ipAddress, "device address");
    return Device::Open(info);
}

void System::DestroyDevice(Device* device) noexcept { delete device; }

}  // namespace orbel::camera::vendor
