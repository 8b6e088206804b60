// A vendor device opened on a fake camera through the process's system, found
// by unicast discovery from 127.0.0.1 and released at the end of the scope.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "camera/vendor/Device.h"
#include "camera/vendor/System.h"
#include "support/FakeCamera.h"

namespace orbel::testing {

inline uint32_t HostOrderAddress(const std::string& text) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) throw std::invalid_argument(text);
    return ntohl(address.s_addr);
}

class OpenedDevice {
public:
    explicit OpenedDevice(const FakeCamera& camera) {
        auto& system = orbel::camera::vendor::SharedSystem();
        system.UpdateDevices(orbel::camera::vendor::InterfaceInfo("lo", "127.0.0.1", "255.0.0.0"), 1000,
                             HostOrderAddress(camera.Address()));
        const auto devices = system.GetDevices();
        if (devices.empty()) throw std::runtime_error("the fake camera at " + camera.Address() + " was not found");
        device_ = system.CreateDevice(devices.front());
    }
    ~OpenedDevice() { orbel::camera::vendor::SharedSystem().DestroyDevice(device_); }
    OpenedDevice(const OpenedDevice&) = delete;
    OpenedDevice& operator=(const OpenedDevice&) = delete;

    orbel::camera::vendor::Device* operator->() const { return device_; }
    orbel::camera::vendor::Device* get() const { return device_; }

private:
    orbel::camera::vendor::Device* device_ = nullptr;
};

}  // namespace orbel::testing
