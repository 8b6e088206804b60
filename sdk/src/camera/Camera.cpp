#include "camera/Camera.h"

#include <condition_variable>
#include <limits>
#include <optional>
#include <stdexcept>

#include "camera/IPv4.h"
#include "camera/vendor/Device.h"
#include "camera/vendor/GenericException.h"
#include "camera/vendor/Image.h"
#include "camera/vendor/Pfnc.h"
#include "camera/vendor/System.h"
#include "dataTypes/Image.h"
#include "utilities/Logging.h"
#include "utilities/SdkThread.h"
#include "utilities/StringConversion.h"

namespace orbel::camera {

using orbel::sdk::Exception;
using orbel::sdk::PixelFormat;
using orbel::sdk::SensorError;
using orbel::utilities::ConvertToWStringLossy;

namespace {

constexpr uint64_t kTimestampOffsetUs = 37'000'000;

// The camera streams this code for an output format passed through unconverted.
std::optional<uint64_t> StreamedCode(PixelFormat format) {
    switch (format) {
        case PixelFormat::BayerRG8: return vendor::pfnc::BayerRG8;
        case PixelFormat::BayerRG12: return vendor::pfnc::BayerRG12;
        case PixelFormat::BayerRG12Packed: return vendor::pfnc::BayerRG12Packed;
        case PixelFormat::RGB8: return vendor::pfnc::RGB8;
        case PixelFormat::RGB12: return vendor::pfnc::RGB12;
        default: return std::nullopt;
    }
}

uint64_t HostTimestampUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

// The configuration the settings calls need; `action` completes "Cannot ..." when there is none.
CameraConfig_Arena& Configured(const std::unique_ptr<CameraConfig_Arena>& config, const char* action) {
    if (!config) {
        throw Exception("Camera configuration not initialized. Cannot " + std::string(action) + ".",
                        SensorError::ACTION_ILLEGAL_SENSOR_NOT_INITIALISED);
    }
    return *config;
}

// A lent device image, handed back to the device however processing ends.
class LentImage {
public:
    LentImage(vendor::Device& device, vendor::Image* image) : device_(device), image_(image) {}
    ~LentImage() { device_.RequeueBuffer(image_); }
    LentImage(const LentImage&) = delete;
    LentImage& operator=(const LentImage&) = delete;

private:
    vendor::Device& device_;
    vendor::Image* image_;
};

}  // namespace

// What the camera's threads use; each thread holds it until it ends.
struct Camera::Shared {
    explicit Shared(size_t queueCapacity) : capacity(queueCapacity) {}

    ImageCallback imageCallback;
    ErrorCallback errorCallback;
    std::atomic<PixelFormat> outputFormat{PixelFormat::BayerRG12};
    const size_t capacity;
    std::atomic<uint64_t> received{0};
    std::atomic<uint64_t> reported{0};

    std::mutex mutex;  // the queue only
    std::condition_variable wake;
    std::deque<std::unique_ptr<orbel::data::Image>> queue;
    std::atomic<bool> deliveryStop{false};
};

// One run of the acquisition thread, from Start to Stop.
struct Camera::Run {
    std::atomic<bool> stopRequested{false};
    std::mutex mutex;
    std::condition_variable stopped;

    void RequestStop() {
        std::lock_guard lock(mutex);
        stopRequested = true;
        stopped.notify_all();
    }
    // False when stop was requested meanwhile.
    bool Pause(std::chrono::milliseconds duration) {
        std::unique_lock lock(mutex);
        return !stopped.wait_for(lock, duration, [this] { return stopRequested.load(); });
    }
};

Camera::Camera(const std::string& cameraIp, size_t imageBufferSize)
    : cameraIp_(cameraIp), system_(vendor::SharedSystem()), shared_(std::make_shared<Shared>(imageBufferSize)) {}

Camera::~Camera() {
    if (running_) {
        try {
            Stop(std::chrono::milliseconds(5000));
        } catch (...) {
            ORBEL_LOG_WARNING(L"Exception occurred while stopping camera stream in destructor. Suppressing.");
        }
    }
    try {
        std::thread acquisition;
        std::thread delivery;
        std::shared_ptr<Run> run;
        {
            std::lock_guard lock(threadMutex_);
            acquisition = std::move(acquisitionThread_);
            delivery = std::move(deliveryThread_);
            run = run_;
        }
        // A run that Stop did not end (a Start that failed halfway) ends here.
        if (run) run->RequestStop();
        orbel::utilities::JoinOrRelease(acquisition);
        {
            std::lock_guard lock(shared_->mutex);
            shared_->deliveryStop = true;
            shared_->wake.notify_all();
        }
        // Destroyed now, or by a released acquisition thread when it ends.
        config_.reset();
        device_.reset();
        orbel::utilities::JoinOrRelease(delivery);
    } catch (...) {
        ORBEL_LOG_WARNING(L"Exception occurred during Camera destruction. Suppressing.");
    }
    ORBEL_LOG_INFO(L"Received " + std::to_wstring(shared_->received.load()) + L" camera images in total.");
    ORBEL_LOG_INFO(L"Reported " + std::to_wstring(shared_->reported.load()) + L" camera images to the customer.");
}

void Camera::Initialize(const std::string& localIp) {
    ORBEL_LOG_INFO(L"Using camera SDK version: " + ConvertToWStringLossy(vendor::GetVersion()));
    Connect(localIp);
    std::lock_guard lock(threadMutex_);
    if (!deliveryThread_.joinable()) {
        deliveryThread_ = std::thread(&Camera::DeliveryLoop, shared_);
    }
}

void Camera::SetImageCallback(ImageCallback callback) { shared_->imageCallback = std::move(callback); }
void Camera::SetErrorCallback(ErrorCallback callback) { shared_->errorCallback = std::move(callback); }
void Camera::SetImageOutputFormat(PixelFormat format) { shared_->outputFormat = format; }

std::deque<vendor::InterfaceInfo> Camera::FindGoodInterface(const std::vector<vendor::InterfaceInfo>& interfaces,
                                                            const std::string& cameraIp, const std::string& localIp) {
    std::deque<vendor::InterfaceInfo> good;
    const std::optional<uint32_t> camera = ParseIPv4(cameraIp);
    const std::optional<uint32_t> local = ParseIPv4(localIp);
    const std::wstring cameraText = ConvertToWStringLossy(cameraIp);
    for (const auto& candidate : interfaces) {
        const std::wstring ipText = ConvertToWStringLossy(candidate.IpAddressStr());
        const std::optional<uint32_t> ip = ParseIPv4(candidate.IpAddressStr());
        const std::optional<uint32_t> mask = ParseIPv4(candidate.SubnetMaskStr());
        if (!camera || !ip || !mask || (*mask & *camera) != (*mask & *ip)) {
            ORBEL_LOG_DEBUG(L"Found interface: " + ipText + L" but it is not on the same subnet as camera IP: " +
                            cameraText);
            continue;
        }
        if (local && *ip == *local) {
            ORBEL_LOG_DEBUG(L"Found possible interface: " + ipText + L" for camera IP: " + cameraText +
                            L" but giving low weight due to user request.");
            good.push_back(candidate);
        } else {
            ORBEL_LOG_DEBUG(L"Found possible interface: " + ipText + L" for camera IP: " + cameraText);
            good.push_front(candidate);
        }
    }
    return good;
}

uint64_t Camera::DeviceTimestampUs(uint64_t timestampNs) {
    const uint64_t us = timestampNs / 1000;
    return us > kTimestampOffsetUs ? us - kTimestampOffsetUs : 0;
}

void Camera::Connect(const std::string& localIp) {
    const std::vector<vendor::InterfaceInfo> interfaces = system_.GetInterfaces();
    if (interfaces.empty()) {
        throw Exception(std::string("No interfaces found to connect on. Make sure you connected the ethernet cable."),
                        SensorError::CONNECTION_FAILED);
    }
    const std::deque<vendor::InterfaceInfo> good = FindGoodInterface(interfaces, cameraIp_, localIp);
    if (good.empty()) {
        throw Exception("No interfaces available for the ipaddress " + cameraIp_ +
                            ". Please correct your computer's network settings.",
                        SensorError::CONNECTION_FAILED);
    }
    ORBEL_LOG_DEBUG(L"Found " + std::to_wstring(good.size()) + L" good interfaces for camera IP " +
                    ConvertToWStringLossy(cameraIp_));

    // Interfaces were found for it, so the camera IP parses.
    const uint32_t target = *ParseIPv4(cameraIp_);
    std::string failure = "Camera not found at IP " + cameraIp_;
    size_t total = 0;
    vendor::Device* created = nullptr;
    std::string serial;
    std::string interfaceIp;
    for (const auto& candidate : good) {
        system_.UpdateDevices(candidate, kDiscoveryTimeoutMs, target);
        const std::vector<vendor::DeviceInfo> devices = system_.GetDevices();
        total += devices.size();
        for (const auto& info : devices) {
            if (info.IpAddressStr() != cameraIp_) {
                failure += " - detected " + info.IpAddressStr();
                continue;
            }
            try {
                created = system_.CreateDevice(info);
                serial = info.SerialNumberStr();
                interfaceIp = candidate.IpAddressStr();
                break;
            } catch (const vendor::GenericException& e) {
                failure += "Failed to create device at IP " + cameraIp_ + ": " + e.GetDescription();
            } catch (const std::exception& e) {
                failure += "Failed to create device at IP " + cameraIp_ + ": " + e.what();
            } catch (...) {
                failure += "Failed to create device at IP " + cameraIp_ + " with unknown error.";
            }
        }
        if (created != nullptr) break;
    }
    if (total == 0) throw Exception(std::string("No cameras found"), SensorError::CONNECTION_FAILED);
    if (created == nullptr) throw Exception(failure, SensorError::CONNECTION_FAILED);

    device_ = std::shared_ptr<vendor::Device>(created, [](vendor::Device* d) { vendor::SharedSystem().DestroyDevice(d); });
    serialNumber_ = serial;
    ORBEL_LOG_INFO(L"Connected to camera with Serial Number: " + ConvertToWStringLossy(serialNumber_) + L" at IP: " +
                   ConvertToWStringLossy(cameraIp_));
    ORBEL_LOG_INFO(L"Connected to camera on local interface: " + ConvertToWStringLossy(interfaceIp));
    config_ = std::make_unique<CameraConfig_Arena>(device_.get());
    config_->InitialConfiguration();
    config_->CheckConfiguration();
}

void Camera::Start(const std::chrono::milliseconds&) {
    auto wrapped = [](const std::string& text) {
        return Exception("Failed to start camera: " + text, SensorError::UNABLE_TO_START);
    };
    // Claimed first, in one step: a second Start touches neither the nodes nor the stream.
    if (running_.exchange(true)) {
        throw wrapped(Exception(std::string("Camera/acquisition is already running"), SensorError::UNABLE_TO_START)
                          .what());
    }
    bool streaming = false;
    // A start that fails halfway leaves nothing running.
    auto undo = [&] {
        running_ = false;
        if (!streaming) return;
        try {
            device_->StopStream();
        } catch (...) {
        }
    };
    try {
        if (config_) config_->OptimizeBandwidth(shared_->outputFormat);
        if (!device_) throw Exception(std::string("Camera not connected"), SensorError::UNABLE_TO_START);
        device_->StartStream(kStreamBuffers);
        streaming = true;
        auto run = std::make_shared<Run>();
        std::thread previous;
        {
            std::lock_guard lock(threadMutex_);
            previous = std::move(acquisitionThread_);
            run_ = run;
            acquisitionThread_ = std::thread(&Camera::AcquisitionLoop, shared_, run, device_);
        }
        // Stop always takes the thread, so there is none; never overwrite a joinable one.
        orbel::utilities::JoinOrRelease(previous);
        ORBEL_LOG_INFO(L"Camera stream started.");
    } catch (const vendor::GenericException& e) {
        undo();
        throw wrapped(e.GetDescription());
    } catch (const std::exception& e) {
        undo();
        throw wrapped(e.what());
    }
}

void Camera::Stop(const std::chrono::milliseconds&) {
    if (!running_.exchange(false)) {
        throw Exception(std::string("Camera/acquisition is not running"), SensorError::UNABLE_TO_STOP);
    }
    std::shared_ptr<Run> run;
    std::thread acquisition;
    {
        std::lock_guard lock(threadMutex_);
        run = run_;
        acquisition = std::move(acquisitionThread_);
    }
    if (run) run->RequestStop();
    // From the camera's own callbacks (or another SDK thread) the thread is released, not joined.
    orbel::utilities::JoinOrRelease(acquisition);
    if (device_) {
        try {
            device_->StopStream();
            ORBEL_LOG_INFO(L"Camera stream stopped.");
        } catch (const vendor::GenericException& e) {
            throw Exception("Failed to stop camera: " + std::string(e.GetDescription()), SensorError::UNABLE_TO_STOP);
        }
    }
}

void Camera::ResetConfiguration() { Configured(config_, "reset configuration").ResetConfiguration(); }

void Camera::SetExposureTimeUs(uint32_t exposure_us) {
    CameraConfig_Arena& config = Configured(config_, "set exposure time");
    if (exposure_us != 0) {
        config.SetFixedExposureTime(exposure_us, kTriggerOffsetUs);
    } else {
        config.SetAutoExposure();
    }
}

uint32_t Camera::GetExposureTimeUs() {
    const double exposure = Configured(config_, "get exposure time").GetExposureTime();
    // Truncated toward zero; what lies outside the result's range is clamped, not undefined.
    if (!(exposure > 0.0)) return 0;
    if (exposure >= static_cast<double>(std::numeric_limits<uint32_t>::max())) {
        return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(exposure);
}

std::string Camera::GetSerialNumber() { return serialNumber_; }

std::wstring Camera::GetSerialNumberW() { return orbel::utilities::ConvertToWString(serialNumber_); }

bool Camera::IsRunning() { return running_; }

bool Camera::CheckWriteAccess() { return Configured(config_, "check write access").CheckWriteAccess(); }

void Camera::ReportError(Shared& shared, const Run& run, const std::string& text) {
    if (!shared.errorCallback || run.stopRequested) return;
    shared.errorCallback(Exception("Camera acquisition error: " + text, SensorError::UNKNOWN_ERROR));
}

void Camera::AcquisitionLoop(std::shared_ptr<Shared> shared, std::shared_ptr<Run> run,
                             std::shared_ptr<vendor::Device> device) {
    orbel::utilities::MarkSdkThread();
    // The same library error over and over (a lost camera fails every request at
    // once) is reported the first time only: the customer hears of one fault once,
    // however long it lasts. Each repeat comes after a pause, so that it is not spun
    // on, and is counted; the count is logged when the repeats end.
    std::string lastLibraryError;
    uint64_t repeats = 0;
    auto endStreak = [&] {
        if (repeats > 0) {
            ORBEL_LOG_WARNING(L"Camera acquisition error repeated " + std::to_wstring(repeats) +
                              L" times: " + ConvertToWStringLossy(lastLibraryError));
        }
        lastLibraryError.clear();
        repeats = 0;
    };
    while (!run->stopRequested) {
        bool gotImage = false;
        bool failed = true;
        std::string error;
        try {
            vendor::Image* image = device->GetImage(kImageTimeoutMs);
            if (image == nullptr) continue;
            gotImage = true;
            endStreak();
            const LentImage lent(*device, image);
            ProcessArenaImage(*shared, *image);
            failed = false;
        } catch (const vendor::TimeoutException&) {
            ORBEL_LOG_DEBUG(L"Camera acquisition thread: no image received within timeout.");
            continue;
        } catch (const vendor::GenericException& e) {
            error = e.GetDescription();
        } catch (const std::exception& e) {
            error = e.what();
        }
        if (!failed) continue;
        if (!gotImage) {
            if (error == lastLibraryError) {
                if (!run->Pause(kRepeatedErrorPause)) break;
                ++repeats;
                continue;
            }
            endStreak();
            lastLibraryError = error;
        }
        ReportError(*shared, *run, error);
    }
    endStreak();
}

void Camera::ProcessArenaImage(Shared& shared, const vendor::Image& image) {
    if (!shared.imageCallback) return;
    const std::wstring frame = std::to_wstring(image.GetFrameId());
    if (image.IsIncomplete()) {
        ORBEL_LOG_WARNING(L"Received incomplete image, dropping frame " + frame);
        return;
    }
    if (!image.HasImageData()) {
        ORBEL_LOG_WARNING(L"Received buffer with no image data, dropping frame " + frame);
        return;
    }
    ++shared.received;
    const PixelFormat output = shared.outputFormat;
    orbel::sdk::ImageMetadata metadata;
    metadata.deviceTimestamp_us = DeviceTimestampUs(image.GetTimestampNs());
    metadata.hostTimestamp_us = HostTimestampUs();
    metadata.frameId = static_cast<uint32_t>(image.GetFrameId());
    metadata.width = image.GetWidth();
    metadata.height = image.GetHeight();
    metadata.format = output;

    {
        std::lock_guard lock(shared.mutex);
        if (shared.queue.size() >= shared.capacity) {
            ORBEL_LOG_WARNING(L"Camera image buffer full, dropping frame " + frame);
            return;
        }
    }
    vendor::ImageHandle converted;
    const vendor::Image* source = &image;
    if (output == PixelFormat::RGB8 || output == PixelFormat::RGB12) {
        const uint64_t target = output == PixelFormat::RGB8 ? vendor::pfnc::RGB8 : vendor::pfnc::RGB12;
        converted.reset(vendor::ImageFactory::Convert(&image, target, 0));
        if (!converted) throw std::runtime_error("Failed to convert the camera image: out of memory");
        source = converted.get();
    } else if (StreamedCode(output) != image.GetPixelFormat()) {
        ORBEL_LOG_WARNING(L"Unexpected output pixel format (" + std::to_wstring(image.GetPixelFormat()) +
                          L"), dropping frame " + frame);
        return;
    }
    auto result = std::make_unique<orbel::data::Image>();
    result->SetMetadata(metadata);
    result->SetData(source->GetData(), source->GetSizeFilled());
    converted.reset();

    {
        std::lock_guard lock(shared.mutex);
        if (shared.queue.size() < shared.capacity) {
            shared.queue.push_back(std::move(result));
            shared.wake.notify_one();
            return;
        }
    }
    ORBEL_LOG_WARNING(L"Camera image buffer full, dropping frame " + frame);
}

void Camera::DeliveryLoop(std::shared_ptr<Shared> shared) {
    orbel::utilities::MarkSdkThread();
    for (;;) {
        std::unique_ptr<orbel::data::Image> image;
        {
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->deliveryStop || !shared->queue.empty(); });
            if (shared->deliveryStop) return;
            image = std::move(shared->queue.front());
            shared->queue.pop_front();
        }
        if (!shared->imageCallback) continue;
        try {
            shared->imageCallback(std::move(image));
            ++shared->reported;
        } catch (const std::exception& e) {
            ORBEL_LOG_WARNING(L"The image callback threw: " + ConvertToWStringLossy(e.what()));
        } catch (...) {
            ORBEL_LOG_WARNING(L"The image callback threw an unknown exception.");
        }
    }
}

}  // namespace orbel::camera
