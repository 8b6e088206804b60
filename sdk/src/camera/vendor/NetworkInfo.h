// What the vendor layer reports about the host's network interfaces and about
// the devices it has found: plain copyable records with dotted IPv4 texts.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace orbel::camera::vendor {

// One IPv4 address of the host with its subnet mask.
class InterfaceInfo {
public:
    InterfaceInfo(std::string name, std::string ipAddress, std::string subnetMask)
        : name_(std::move(name)), ip_(std::move(ipAddress)), mask_(std::move(subnetMask)) {}

    const std::string& Name() const noexcept { return name_; }
    const std::string& IpAddressStr() const noexcept { return ip_; }
    const std::string& SubnetMaskStr() const noexcept { return mask_; }

private:
    std::string name_;
    std::string ip_;
    std::string mask_;
};

// One device as its discovery acknowledgement describes it, and the host
// address it answered on.
struct DeviceInfo {
    std::string ipAddress;
    std::string subnetMask;
    std::string macAddress;
    std::string vendorName;
    std::string modelName;
    std::string deviceVersion;
    std::string serialNumber;
    std::string userDefinedName;
    std::string interfaceIpAddress;

    const std::string& IpAddressStr() const noexcept { return ipAddress; }
    const std::string& SerialNumberStr() const noexcept { return serialNumber; }
};

}  // namespace orbel::camera::vendor
