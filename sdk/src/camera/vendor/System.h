// The camera vendor layer's process-wide system: opened once, on the first
// call of SharedSystem() from any thread (concurrent first callers wait for the
// one opening), and closed when the process exits. Cameras and image
// conversions share it and never own it.
//
// It lists the host's IPv4 interfaces, finds devices by unicast discovery only
// (UpdateDevices asks one device address through one interface, never a
// broadcast), keeps the list of devices last found, and opens and releases
// devices. Every operation is thread-safe; the device list is one for the
// process, so two threads updating it at once see whichever update came last.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "camera/vendor/NetworkInfo.h"

namespace orbel::camera::vendor {

class Device;

class System {
public:
    System(const System&) = delete;
    System& operator=(const System&) = delete;
    System(System&&) = delete;
    System& operator=(System&&) = delete;

    // The host's IPv4 addresses on interfaces that are up, in the host's order.
    // Throws GenericException when the host cannot list them.
    std::vector<InterfaceInfo> GetInterfaces() const;

    // Replaces the device list with what answers a discovery sent through
    // networkInterface to deviceAddress (host byte order) within timeoutMs:
    // the device, or nothing. Throws GenericException for an interface whose
    // texts are not addresses, a broadcast or multicast target, or a socket failure.
    void UpdateDevices(const InterfaceInfo& networkInterface, uint64_t timeoutMs, uint32_t deviceAddress);
    std::vector<DeviceInfo> GetDevices() const;

    // Opens the device, taking control of it. The system owns the result until
    // DestroyDevice. Throws GenericException when it cannot be opened.
    Device* CreateDevice(const DeviceInfo& info);
    // Stops its stream if one runs, gives up control and frees it. Accepts null.
    void DestroyDevice(Device* device) noexcept;

private:
    friend System& SharedSystem();
    System();
    ~System();

    mutable std::mutex mutex_;
    std::vector<DeviceInfo> devices_;
};

// The process's system, opened on first use; valid until process exit.
System& SharedSystem();

// The camera library's name and version, e.g. "Aravis 0.8.26".
std::string GetVersion();

}  // namespace orbel::camera::vendor
