// One GigE Vision device opened by the system (System::CreateDevice): its three
// node maps, and its stream of images.
//
// StartStream allocates the buffers for the device's current payload, applies
// the stream node map's settings and starts acquisition; GetImage lends the
// next image (with "StreamBufferHandlingMode" "NewestOnly", the newest one
// waiting, the older ones going straight back to the stream); every lent image
// must be handed back with RequeueBuffer. A device whose heartbeat is lost (it
// stopped answering) fails every later GetImage at once instead of timing out.
//
// Threads: node access, StartStream and StopStream are serialised by the
// device. GetImage runs on one thread at a time (the acquisition thread) and
// may overlap StopStream from another thread: the stream it waits on stays
// alive until it returns. Images may be handed back on any thread, also after
// the stream has stopped (the buffer is then freed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "camera/vendor/NetworkInfo.h"

namespace orbel::camera::vendor {

class Image;
class NodeMap;

class Device {
public:
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    NodeMap* GetNodeMap();
    NodeMap* GetTLDeviceNodeMap();
    NodeMap* GetTLStreamNodeMap();
    // Puts `map` where the device node map was and returns the map it replaced, which the
    // device keeps alive, so that `map` can pass each access on to it: tests watch what the
    // camera code writes, in which order. Only while no other thread uses the device.
    NodeMap* InterposeNodeMap(std::unique_ptr<NodeMap> map);

    const DeviceInfo& GetDeviceInfo() const;

    // Throws GenericException when a stream already runs or cannot be started.
    void StartStream(size_t bufferCount);
    // Throws GenericException when no stream runs or the device refuses to stop
    // (the stream is released either way).
    void StopStream();
    // Waits up to timeoutMs for the next image. TimeoutException when none came;
    // GenericException when no stream runs or the device is lost.
    Image* GetImage(uint64_t timeoutMs);
    // Hands the image's buffer back to its stream and releases the image. Accepts null.
    void RequeueBuffer(Image* image) noexcept;

    // Opaque outside the layer.
    struct Impl;

private:
    friend class System;
    static Device* Open(const DeviceInfo& info);
    explicit Device(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orbel::camera::vendor
