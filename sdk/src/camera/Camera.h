// orbel::camera::Camera: one GigE Vision colour camera behind orbel::sdk::ICamera.
// Initialize finds the host interfaces on the camera's subnet, finds the camera
// by unicast discovery of its configured address, opens it and applies the
// node configuration (CameraConfig_Arena), then starts the delivery thread.
// Start runs an acquisition thread that takes each image from the device,
// turns it into an orbel::data::Image in the requested output format and
// queues it; the delivery thread hands queued images, oldest first, to the
// image callback. A full queue drops the newest image; the acquisition thread
// never waits for the delivery thread. A library error that comes again and again
// (a camera that stopped answering) reaches the error callback once, not once per
// try.
//
// Threads: the caller's (construction, Initialize, Start, Stop, the ICamera
// operations, destruction); the acquisition thread (image processing, the
// error callback); the delivery thread (the image callback). Both threads hold
// the state they use, so Stop and the last reference may come from inside the
// camera's own callbacks: there the calling thread is released instead of
// joined and ends once its callback returns, and the device is released when
// the last thread using it has ended. The queue's mutex is never held while
// converting or calling back.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orbel/sdk/Exception.h>
#include <orbel/sdk/ICamera.h>
#include <orbel/sdk/IImage.h>

#include "camera/CameraConfig_Arena.h"
#include "camera/vendor/NetworkInfo.h"

namespace orbel::camera {

namespace vendor {
class Device;
class Image;
class System;
}  // namespace vendor

class Camera final : public orbel::sdk::ICamera {
public:
    using ImageCallback = std::function<void(std::unique_ptr<orbel::sdk::IImage>)>;
    using ErrorCallback = std::function<void(const orbel::sdk::Exception&)>;

    static constexpr size_t kStreamBuffers = 100;
    static constexpr uint64_t kImageTimeoutMs = 1000;
    static constexpr uint64_t kDiscoveryTimeoutMs = 1000;
    static constexpr double kTriggerOffsetUs = 229292.8;
    // Between two tries that fail with the same library error in a row; only the
    // first of them is reported.
    static constexpr std::chrono::milliseconds kRepeatedErrorPause{100};

    // Opens the process's camera library system on first use.
    Camera(const std::string& cameraIp, size_t imageBufferSize);
    ~Camera() override;
    Camera(const Camera&) = delete;
    Camera& operator=(const Camera&) = delete;

    // Connects (throws orbel::sdk::Exception or vendor::GenericException) and
    // starts the delivery thread. localIp is the sensor link's own address.
    void Initialize(const std::string& localIp);
    // Set before the stream starts; not changed while it runs.
    void SetImageCallback(ImageCallback callback);
    void SetErrorCallback(ErrorCallback callback);
    void SetImageOutputFormat(orbel::sdk::PixelFormat format);

    void Start(const std::chrono::milliseconds& timeout) override;
    void Stop(const std::chrono::milliseconds& timeout) override;
    void ResetConfiguration() override;
    void SetExposureTimeUs(uint32_t exposure_us) override;
    uint32_t GetExposureTimeUs() override;
    std::string GetSerialNumber() override;
    std::wstring GetSerialNumberW() override;
    bool IsRunning() override;
    bool CheckWriteAccess() override;

    // The interfaces worth a discovery for cameraIp, best first: those on its
    // subnet other than the sensor link's own (the last listed first), then
    // those whose address is localIp. A camera IP that is not an IPv4 text has none.
    static std::deque<vendor::InterfaceInfo> FindGoodInterface(const std::vector<vendor::InterfaceInfo>& interfaces,
                                                               const std::string& cameraIp,
                                                               const std::string& localIp);
    // The device's time stamp in microseconds less 37 s, and 0 below 37 s.
    static uint64_t DeviceTimestampUs(uint64_t timestampNs);

private:
    friend class CameraTestPeer;  // tests reach the opened device
    struct Shared;
    struct Run;

    void Connect(const std::string& localIp);
    static void AcquisitionLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run,
                                std::shared_ptr<vendor::Device> device);
    static void ProcessArenaImage(Shared& shared, const vendor::Image& image);
    static void ReportError(Shared& shared, const Run& run, const std::string& text);
    static void DeliveryLoop(std::shared_ptr<Shared> shared);

    std::string cameraIp_;
    std::unique_ptr<CameraConfig_Arena> config_;
    vendor::System& system_;
    std::shared_ptr<vendor::Device> device_;
    std::atomic<bool> running_{false};
    std::string serialNumber_;
    std::shared_ptr<Shared> shared_;

    std::mutex threadMutex_;  // the two thread objects and the current run; never held while joining
    std::shared_ptr<Run> run_;
    std::thread acquisitionThread_;
    std::thread deliveryThread_;
};

}  // namespace orbel::camera
