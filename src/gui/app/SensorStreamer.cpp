#include "app/SensorStreamer.h"

#include <shared_mutex>

#include <orbel/sdk/SensorFactory.h>

#include "app/AppAction.h"
#include "app/CameraImageWorker.h"
#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "app/PointCloudWorker.h"
#include "app/WideText.h"

namespace orbel::studio::gui {

using orbel::sdk::SensorState;
using namespace std::chrono_literals;

namespace {

constexpr auto kCommandTimeout = 5000ms;
constexpr auto kWorkerWait = 50ms;
constexpr uint64_t kSyncWarningThreshold_us = 60'000'000;

const char* StateName(SensorState state) {
    switch (state) {
        case SensorState::Unknown: return "Unknown";
        case SensorState::UnInitialized: return "UnInitialized";
        case SensorState::Idle: return "Idle";
        case SensorState::Running: return "Running";
        case SensorState::Error: return "Error";
        default: return "Invalid";
    }
}

constexpr const char* kSilenceText = "No data from the sensor for 3 s";
constexpr const char* kResumedText = "Data from the sensor again";

// Texts of SDK failures that come from the camera rather than the sensor.
bool IsCameraFault(const std::string& text) {
    for (const char* mark : {"Failed to create camera", "Failed to start camera", "Failed to stop camera",
                             "Camera acquisition error", "Camera not connected",
                             "Failed to optimize bandwidth"}) {
        if (text.find(mark) != std::string::npos) return true;
    }
    return false;
}

}  // namespace

std::string SensorStreamer::ShortReason(const std::string& text) {
    // An SDK exception reads "Exception: <its code's text>", followed by " Extra information:
    // <detail>" when it has one: the detail says what happened; a camera's creation failure
    // names the camera's own reason. Without a detail, or with one that says nothing, the
    // code's text is the reason: a notice never ends at its colon.
    const std::string extra = "Extra information: ";
    const std::string exception = "Exception: ";
    const auto trimmed = [](std::string words) {
        while (!words.empty() && (words.back() == ' ' || words.back() == '\n' || words.back() == '.')) {
            words.pop_back();
        }
        return words;
    };
    const auto codeText = [&](const std::string& words) {
        const size_t at = words.rfind(exception);
        return trimmed(at == std::string::npos ? words : words.substr(at + exception.size()));
    };
    std::string reason = text;
    std::string general = text;
    if (const size_t at = text.rfind(extra); at != std::string::npos) {
        general = text.substr(0, at);
        reason = text.substr(at + extra.size());
    }
    for (const std::string prefix :
         {"Failed to create camera: ", "Failed to start camera: ", "Camera acquisition error: "}) {
        if (reason.rfind(prefix, 0) == 0) reason = reason.substr(prefix.size());
    }
    reason = trimmed(reason);
    if (reason.rfind(exception, 0) == 0) reason = codeText(reason);
    if (reason.empty()) reason = codeText(general);
    return reason.empty() ? text : reason;
}

// What the SDK's callbacks reach the streamer through. The destructor empties it
// under the exclusive lock, which waits for callbacks in flight; later ones do nothing.
struct SensorStreamer::CallbackGate {
    std::shared_mutex mutex;
    SensorStreamer* target = nullptr;

    template <typename F>
    void Call(F&& f) {
        std::shared_lock lock(mutex);
        if (target) f(*target);
    }
};

SensorStreamer::SensorStreamer(std::shared_ptr<AppState> appState, std::shared_ptr<SensorConfig> config,
                               std::shared_ptr<ObjectDispatcher> dispatcher)
    : appState_(std::move(appState)),
      config_(std::move(config)),
      dispatcher_(std::move(dispatcher)),
      gate_(std::make_shared<CallbackGate>()) {
    gate_->target = this;
}

SensorStreamer::~SensorStreamer() {
    stopRequested_ = true;
    {
        std::unique_lock lock(gate_->mutex);
        gate_->target = nullptr;
    }
    // The SDK's log callback is process-wide: it must not outlive us.
    orbel::sdk::SetLogCallBack(nullptr);
    WaitForPendingRelease();
    Stop();
    std::lock_guard lock(lifecycleMutex_);
    {
        std::lock_guard sensorLock(sensorMutex_);
        camera_.reset();
        sensor_.reset();
    }
    {
        std::lock_guard colorizerLock(colorizerMutex_);
        colorizer_.reset();
    }
    cloudQueue_.Clear();
    imageQueue_.Clear();
}

bool SensorStreamer::HasSensor() {
    std::lock_guard lock(sensorMutex_);
    return sensor_ != nullptr;
}

void SensorStreamer::Connect() {
    std::lock_guard lock(lifecycleMutex_);
    ConnectLocked();
}

void SensorStreamer::ConnectLocked() {
    appState_->connected = false;
    appState_->cameraRunning = false;
    {
        std::lock_guard lock(sensorMutex_);
        camera_.reset();
    }
    auto gate = gate_;
    orbel::sdk::SetLogCallBack([gate](const orbel::sdk::Severity& severity, const std::wstring& message) {
        gate->Call([&](SensorStreamer& s) { s.OnLog(severity, message); });
    });
    orbel::sdk::SetLogSeverity(orbel::sdk::Severity::ERROR);

    std::shared_ptr<orbel::sdk::ISensor> built;
    {
        orbel::sdk::SensorFactory factory;
        factory.SetCameraIPAddress(config_->camera_ip);
        factory.SetPointCloudCallback([gate](std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
            gate->Call([&](SensorStreamer& s) { s.OnPointCloud(std::move(cloud)); });
        });
        factory.SetErrorCallback([gate](const orbel::sdk::Exception& error) {
            gate->Call([&](SensorStreamer& s) { s.OnError(error); });
        });
        if (cameraEnabled) {
            factory.SetImageCallback([gate](std::unique_ptr<orbel::sdk::IImage> image) {
                gate->Call([&](SensorStreamer& s) { s.OnImage(std::move(image)); });
            });
            factory.SetImageOutputFormat(orbel::sdk::PixelFormat::RGB8);
        }
        connectFailure_.clear();
        connectFailedOnCamera_ = false;
        try {
            built = factory.Build(config_->sensor_ip, config_->sensor_port);
        } catch (const std::exception& e) {
            // The factory also builds the camera: a camera that is not found fails the build.
            connectFailedOnCamera_ = IsCameraFault(e.what());
            connectFailure_ = ShortReason(e.what());
            Log(std::string(connectFailedOnCamera_ ? "Failed to connect to camera. (" : "Failed to connect to sensor. (") +
                    e.what() + ")",
                4);
        } catch (...) {
            connectFailure_ = "unexpected error";
            Log("Unexpected error while connecting to sensor.", 4);
        }
    }
    {
        std::lock_guard lock(sensorMutex_);
        sensor_ = built;
    }
    if (built) {
        appState_->connected = true;
    } else if (connectFailedOnCamera_) {
        // The sensor answered; the line above already names the camera and its reason.
        appState_->SetToast("Camera connection failed", 3);
    } else {
        appState_->SetToast("Sensor connection failed", 3);
        Log("Sensor creation failed", 4);
    }
}

void SensorStreamer::Start() {
    std::lock_guard lock(lifecycleMutex_);
    stopRequested_ = false;
    appState_->busy = true;
    firstLidarTimestamp_ = 0;
    firstCameraTimestamp_ = 0;
    syncChecked_ = false;

    if (!HasSensor()) ConnectLocked();
    std::shared_ptr<orbel::sdk::ISensor> sensor;
    {
        std::lock_guard sensorLock(sensorMutex_);
        sensor = sensor_;
    }
    if (!sensor) {
        // Every failed start tells the user why, in a few words, and names the camera when
        // it was the camera.
        if (connectFailedOnCamera_) {
            Log("Cannot start streaming: camera is not available", 4);
            appState_->SetToast("Camera is not available: " + connectFailure_, 3);
        } else {
            Log("Cannot start streaming: sensor is not available", 4);
            appState_->SetToast(connectFailure_.empty() ? std::string("Sensor is not available")
                                                        : "Sensor is not available: " + connectFailure_,
                                3);
        }
        appState_->connected = false;
        appState_->cameraRunning = false;
        appState_->busy = false;
        return;
    }

    bool colorizerStep = false;
    try {
        if (colorizerEnabled) {
            colorizerStep = true;
            // Only a regular file is read: a FIFO or a device would hold this task for ever.
            RegularFileSize(config_->qext_path);
            std::shared_ptr<orbel::processing::IColorizer> colorizer =
                orbel::processing::ColorizerFactory::CreateColorizer({250000, 25000, 560});
            colorizer->SetMatchingMode(useAlternateTimestamp ? 1 : 0);
            colorizer->InitializeFromQext(config_->qext_path);
            Log("Colorizer initialized", 2);
            // The colorizer calls back only from inside PushPointCloud and PushImage, which
            // OnPointCloud and OnImage make while the gate is open for them, so the streamer
            // is alive. Passing the gate again would take its shared lock a second time on
            // one thread (undefined for std::shared_mutex, and a deadlock with a destructor
            // waiting for the exclusive lock wherever writers go first) and would take it
            // under the colorizer's lock, the reverse of the callbacks' order.
            colorizer->SetCallback([this](std::shared_ptr<orbel::sdk::IColorizableData> data, bool) {
                OnColorized(std::move(data));
            });
            std::lock_guard colorizerLock(colorizerMutex_);
            colorizer_ = std::move(colorizer);
            colorizerStep = false;
        } else {
            std::lock_guard colorizerLock(colorizerMutex_);
            colorizer_.reset();
        }
        if (sensor->GetState() == SensorState::Idle) {
            sensor->Start(kCommandTimeout);
            Log("Sensor started", 2);
            appState_->SetToast("Sensor started", 1);
        }
    } catch (const std::exception& e) {
        Log(std::string("Failed to start sensor: ") + e.what(), 4);
        appState_->SetToast(std::string(colorizerStep ? "Colorizer not started: " : "Sensor did not start: ") +
                                ShortReason(e.what()),
                            3);
        appState_->connected = false;
        appState_->cameraRunning = false;
        ReleaseSensorAndCamera();
        {
            std::lock_guard colorizerLock(colorizerMutex_);
            colorizer_.reset();
        }
        appState_->busy = false;
        return;
    }

    // A sensor that is neither started nor running delivers nothing: do not claim a stream.
    const SensorState state = sensor->GetState();
    if (state != SensorState::Running) {
        Log(std::string("Cannot start streaming: the sensor reports state ") + StateName(state) +
                " instead of Running",
            4);
        appState_->SetToast("Sensor did not start", 3);
        appState_->busy = false;
        return;
    }

    // The sensor runs from here on: a camera that does not come up leaves the lidar streaming
    // and is told to the user.
    std::shared_ptr<orbel::sdk::ICamera> camera;
    if (cameraEnabled) {
        camera = sensor->GetCamera();
        appState_->cameraRunning = camera != nullptr;
        dispatcher_->Publish(std::make_shared<AppAction>(AppActionType::CameraAvailable, this,
                                                         AppActionPayload(camera != nullptr)));
        if (!camera) {
            Log("Camera not started: the sensor was built without one", 4);
            appState_->SetToast("Camera did not start: no camera attached", 2);
        }
    } else {
        appState_->cameraRunning = false;
    }
    if (camera) {
        try {
            if (!camera->IsRunning()) {
                camera->Start(kCommandTimeout);
                Log("Camera started", 2);
            }
        } catch (const std::exception& e) {
            Log(std::string("Failed to start camera: ") + e.what(), 4);
            appState_->SetToast("Camera did not start: " + ShortReason(e.what()), 2);
            camera.reset();
            appState_->cameraRunning = false;
        }
    }
    {
        std::lock_guard sensorLock(sensorMutex_);
        camera_ = camera;
    }

    silence_.Restart(SensorSilenceWatch::Clock::now());
    appState_->streaming = true;
    cloudQueue_.Clear();
    imageQueue_.Clear();
    // A worker that still runs (Start while streaming) goes on; one that has ended on its
    // own (streaming cleared elsewhere) is replaced.
    pointCloudWorker_.StartUnlessRunning([this] { RunPointCloudWorker(); });
    if (camera) cameraWorker_.StartUnlessRunning([this] { RunCameraWorker(); });
    appState_->busy = false;
}

void SensorStreamer::Stop() {
    std::lock_guard lock(lifecycleMutex_);
    StopLocked();
}

void SensorStreamer::StopLocked() {
    appState_->streaming = false;
    appState_->busy = true;
    cloudQueue_.Clear();
    imageQueue_.Clear();
    pointCloudWorker_.Join();
    cameraWorker_.Join();

    std::shared_ptr<orbel::sdk::ISensor> sensor;
    std::shared_ptr<orbel::sdk::ICamera> camera;
    {
        std::lock_guard sensorLock(sensorMutex_);
        sensor = sensor_;
        camera = camera_;
    }
    if (appState_->connected && sensor) {
        try {
            if (sensor->GetState() == SensorState::Running) {
                if (colorizerEnabled) {
                    if (auto colorizer = ActiveColorizer()) colorizer->Reset();
                }
                if (appState_->connected) {
                    sensor->Stop(kCommandTimeout);
                    Log("Sensor stopped", 2);
                    appState_->SetToast("Sensor stopped", 0);
                }
                if (appState_->cameraRunning && camera && camera->IsRunning()) {
                    camera->Stop(kCommandTimeout);
                    Log("Camera stopped", 2);
                }
            }
        } catch (const std::exception&) {
            // A sensor that cannot be stopped any more (the link is gone) needs no stop.
        }
    }
    appState_->busy = false;
}

void SensorStreamer::ReleaseSensorAndCamera() {
    std::shared_ptr<orbel::sdk::ISensor> sensor;
    std::shared_ptr<orbel::sdk::ICamera> camera;
    {
        std::lock_guard lock(sensorMutex_);
        sensor.swap(sensor_);
        camera.swap(camera_);
    }
    // Destroyed here, outside the lock, on a thread that is not one of the SDK's.
}

void SensorStreamer::HandOverRelease(std::string notice) {
    std::weak_ptr<orbel::sdk::ISensor> target;
    {
        std::lock_guard lock(sensorMutex_);
        target = sensor_;
    }
    std::lock_guard lock(releaseMutex_);
    if (stopRequested_) return;
    // Finished tasks may go; a running one must never be waited for here, on an SDK thread.
    std::erase_if(releaseTasks_, [](std::future<void>& f) { return f.wait_for(0s) == std::future_status::ready; });
    releaseTasks_.push_back(std::async(std::launch::async, [this, target, notice = std::move(notice)] {
        std::lock_guard lifecycle(lifecycleMutex_);
        std::shared_ptr<orbel::sdk::ISensor> current;
        {
            std::lock_guard sensorLock(sensorMutex_);
            current = sensor_;
        }
        // Only the sensor that failed is released, not one built since.
        if (!current || current != target.lock()) return;
        current.reset();
        // Stop, then disconnected: StopLocked sends the sensor's Stop only while it is
        // still counted as connected, as it is after an error reported by the sensor.
        StopLocked();
        appState_->connected = false;
        appState_->cameraRunning = false;
        ReleaseSensorAndCamera();
        // After the stop's own notice: the user learns why the stream ended.
        if (!notice.empty()) appState_->SetToast(notice, 3);
    }));
}

void SensorStreamer::WaitForPendingRelease() {
    std::vector<std::future<void>> tasks;
    {
        std::lock_guard lock(releaseMutex_);
        tasks.swap(releaseTasks_);
    }
    for (auto& task : tasks) task.wait();
}

bool SensorStreamer::Accepting() const { return !stopRequested_ && appState_->streaming; }

std::shared_ptr<orbel::processing::IColorizer> SensorStreamer::ActiveColorizer() {
    std::lock_guard lock(colorizerMutex_);
    return colorizer_;
}

std::string SensorStreamer::UserMessageFor(const std::string& text) {
    if (text.find("Failed to create camera") != std::string::npos) return "Camera not found";
    if (text.find("Failed to start camera") != std::string::npos) return "Failed to start camera";
    if (text.find("10060") != std::string::npos) return "Sensor is currently busy. Please try again in a few moments.";
    return text;
}

bool SensorStreamer::TimestampsDiverge(uint64_t lidar_us, uint64_t camera_us) {
    const uint64_t difference = lidar_us > camera_us ? lidar_us - camera_us : camera_us - lidar_us;
    return difference > kSyncWarningThreshold_us;
}

void SensorStreamer::CheckTimestampSync() {
    if (syncChecked_) return;
    const uint64_t lidar = firstLidarTimestamp_;
    const uint64_t camera = firstCameraTimestamp_;
    if (lidar == 0 || camera == 0) return;
    if (syncChecked_.exchange(true)) return;
    if (TimestampsDiverge(lidar, camera)) {
        Log("Large timestamp difference detected between camera and sensor streams. If timestamp synchronization is "
            "expected, please verify that PTP is enabled and configured correctly.",
            3);
    }
}

void SensorStreamer::OnLog(const orbel::sdk::Severity& severity, const std::wstring& message) {
    try {
        const std::string text = UserMessageFor(WideToUtf8(message));
        if (severity == orbel::sdk::Severity::ERROR) {
            appState_->cameraRunning = false;
            appState_->connected = false;
            Log(text, 4);
            HandOverRelease(IsCameraFault(WideToUtf8(message)) ? "Camera error: " + text : std::string());
        } else if (severity == orbel::sdk::Severity::WARNING) {
            Log(text, 3);
        } else {
            Log(text, 2);
        }
    } catch (const std::exception& e) {
        Log(std::string("Error from sensor: ") + e.what(), 4);
    }
}

void SensorStreamer::OnError(const orbel::sdk::Exception& error) {
    if (stopRequested_) return;
    // The camera reports through the same callback: its faults are named as the camera's.
    const bool camera = IsCameraFault(error.what());
    Log(std::string(camera ? "Camera error: " : "Sensor error: ") + error.what(), 4);
    if (stopRequested_) return;
    // An error from the sensor leaves `connected` set until the task has sent the sensor
    // its Stop. A lost link (peer close, link error) has nothing left to send a Stop over:
    // it is marked disconnected at once so that the task does not wait for an answer.
    const orbel::sdk::SensorError code = error.GetType();
    if (code == orbel::sdk::SensorError::NOT_CONNECTED || code == orbel::sdk::SensorError::TCP_ERROR) {
        appState_->connected = false;
    }
    HandOverRelease(camera ? "Camera error: " + ShortReason(error.what()) : std::string());
}

void SensorStreamer::OnPointCloud(std::unique_ptr<orbel::sdk::IPointCloud> cloud) {
    if (!Accepting()) return;  // once streaming has ended nothing may pile up
    silence_.Seen(SensorSilenceWatch::Clock::now());
    if (!syncChecked_ && firstLidarTimestamp_ == 0) {
        // The clock compared with the camera's is the one the colorizer matches on: warning
        // about the other would flag a working pair and pass a failing one.
        firstLidarTimestamp_ = useAlternateTimestamp ? cloud->GetAlternateTimestamp() : cloud->GetTimestamp();
        CheckTimestampSync();
    }
    std::shared_ptr<orbel::sdk::IPointCloud> shared(std::move(cloud));
    if (colorizerEnabled) {
        if (auto colorizer = ActiveColorizer()) {
            colorizer->PushPointCloud(std::move(shared));
            return;
        }
    }
    cloudQueue_.Push(std::move(shared));
}

void SensorStreamer::OnImage(std::unique_ptr<orbel::sdk::IImage> image) {
    if (!Accepting()) return;
    if (!syncChecked_ && firstCameraTimestamp_ == 0) {
        firstCameraTimestamp_ = image->GetMetadata().deviceTimestamp_us;
        CheckTimestampSync();
    }
    std::shared_ptr<orbel::sdk::IImage> shared(std::move(image));
    if (colorizerEnabled) {
        if (auto colorizer = ActiveColorizer()) colorizer->PushImage(shared);
    }
    imageQueue_.Push(std::move(shared));
}

void SensorStreamer::OnColorized(std::shared_ptr<orbel::sdk::IColorizableData> data) {
    auto cloud = std::dynamic_pointer_cast<orbel::sdk::IPointCloud>(data);
    if (!cloud) {
        Log("Colorizer returned non-IPointCloud data", 4);
        return;
    }
    if (Accepting()) cloudQueue_.Push(std::move(cloud));
}

void SensorStreamer::WorkerThread::StartUnlessRunning(std::function<void()> loop) {
    {
        std::lock_guard lock(mutex_);
        if (running_) return;
        running_ = true;
    }
    if (thread_.joinable()) thread_.join();  // its loop has ended: the join is immediate
    try {
        thread_ = std::thread(std::move(loop));
    } catch (...) {
        std::lock_guard lock(mutex_);
        running_ = false;
        throw;
    }
}

bool SensorStreamer::WorkerThread::Continue(const std::function<bool()>& condition) {
    if (condition()) return true;
    std::lock_guard lock(mutex_);
    if (condition()) return true;
    running_ = false;
    return false;
}

void SensorStreamer::WorkerThread::Join() {
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    running_ = false;
}

void SensorStreamer::RunPointCloudWorker() {
    PointCloudWorker worker(dispatcher_);
    while (pointCloudWorker_.Continue(
        [this] { return appState_->streaming && appState_->connected && !stopRequested_; })) {
        std::optional<std::shared_ptr<orbel::sdk::IPointCloud>> cloud;
        {
            auto lock = cloudQueue_.Lock();
            if (cloudQueue_.WaitUntil(lock, std::chrono::steady_clock::now() + kWorkerWait))
                cloud = cloudQueue_.PopLocked(lock);
        }
        if (cloud && *cloud) worker.Process(**cloud);
        ReportSilence();
    }
}

void SensorStreamer::ReportSilence() {
    switch (silence_.Check(SensorSilenceWatch::Clock::now())) {
        case SensorSilenceWatch::Change::FellSilent:
            // Only told: the link and the sensor's state may well be fine, and the user decides.
            Log(kSilenceText, 3);
            appState_->SetToast(kSilenceText, 2);
            break;
        case SensorSilenceWatch::Change::Resumed:
            Log(kResumedText, 2);
            appState_->SetToast(kResumedText, 1);
            break;
        case SensorSilenceWatch::Change::None:
            break;
    }
}

void SensorStreamer::RunCameraWorker() {
    CameraImageWorker converter(dispatcher_);
    converter.Start();
    while (cameraWorker_.Continue(
        [this] { return appState_->streaming && appState_->cameraRunning && !stopRequested_; })) {
        std::optional<std::shared_ptr<orbel::sdk::IImage>> image;
        {
            auto lock = imageQueue_.Lock();
            if (imageQueue_.WaitUntil(lock, std::chrono::steady_clock::now() + kWorkerWait))
                image = imageQueue_.PopLocked(lock);
        }
        if (image && *image) {
            dispatcher_->Publish(*image);
            converter.Push(*image);
        }
    }
    converter.Stop();
}

}  // namespace orbel::studio::gui
