// SensorStreamer: the program's live link to the sensor SDK. It builds the sensor,
// starts and stops it (and the camera), takes the SDK's callbacks on the SDK's
// threads and runs two workers: the point-cloud worker assembles the line clouds
// of each frame and publishes FrameData plus the batch of lines, the camera worker
// publishes camera images and their CameraData.
//
// Threads: Connect, Start and Stop run on a panel's std::async task or the GUI
// thread, serialised by one mutex; a Start while streaming leaves the running
// workers as they are. The SDK callbacks touch only atomics, the two queues and the
// colorizer; when they must stop streaming and release the sensor (an error from
// the sensor, a lost sensor), they hand that to a task of the streamer's own,
// because an SDK thread must never be the one that joins or destroys the SDK
// objects it belongs to. After an error callback that task stops the sensor over
// the link first and only then marks it disconnected, as a Stop by the user would.
// The destructor waits for that task, clears the SDK's log callback and makes every
// later callback a no-op before it tears anything down.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <orbel/processing/Colorizer.h>
#include <orbel/sdk/Exception.h>
#include <orbel/sdk/ICamera.h>
#include <orbel/sdk/IImage.h>
#include <orbel/sdk/IPointCloud.h>
#include <orbel/sdk/ISensor.h>
#include <orbel/sdk/Logging.h>

#include "app/AppState.h"
#include "app/ObjectDispatcher.h"
#include "app/SensorConfig.h"
#include "app/SensorSilenceWatch.h"
#include "app/ThreadSafeQueue.h"

namespace orbel::studio::gui {

class SensorStreamer {
public:
    SensorStreamer(std::shared_ptr<AppState> appState, std::shared_ptr<SensorConfig> config,
                   std::shared_ptr<ObjectDispatcher> dispatcher);
    ~SensorStreamer();
    SensorStreamer(const SensorStreamer&) = delete;
    SensorStreamer& operator=(const SensorStreamer&) = delete;

    void Connect();
    void Start();
    void Stop();

    // Set by the sensor panel before Start. The live colorizer matches clouds by their main
    // time stamp, as the payload names it and as offline colorization does; the alternate
    // one is the sensor's own running clock and never meets a camera's device clock.
    std::atomic<bool> cameraEnabled{true};
    std::atomic<bool> colorizerEnabled{false};
    std::atomic<bool> useAlternateTimestamp{false};

    bool HasSensor();
    // Clouds and images waiting for the workers.
    size_t PendingClouds() const { return cloudQueue_.Size(); }
    size_t PendingImages() const { return imageQueue_.Size(); }
    // Waits until a release handed over by an SDK callback has finished.
    void WaitForPendingRelease();

    // What an SDK error text is shown as.
    static std::string UserMessageFor(const std::string& text);
    // The few words of a failure that a notice shows: an SDK exception's detail without
    // its code's general text.
    static std::string ShortReason(const std::string& text);
    // True when first time stamps this far apart deserve the PTP warning.
    static bool TimestampsDiverge(uint64_t lidar_us, uint64_t camera_us);

private:
    struct CallbackGate;
    // Tests stand in for the camera's image-delivery thread through it.
    friend class SensorStreamerTestPeer;

    // One worker thread and whether its loop still runs. Start and Stop use it under the
    // lifecycle mutex; the loop itself asks Continue before every round.
    class WorkerThread {
    public:
        // Starts the loop unless it runs; a thread whose loop has ended is joined first.
        void StartUnlessRunning(std::function<void()> loop);
        // True while the condition holds. Once it fails, the loop is marked ended after a
        // last look under the lock, so that a Start racing with the end either sees the
        // loop go on or starts a new one, never neither.
        bool Continue(const std::function<bool()>& condition);
        void Join();

    private:
        std::thread thread_;
        std::mutex mutex_;
        bool running_ = false;
    };

    void ConnectLocked();
    void StopLocked();
    void ReleaseSensorAndCamera();
    // From an SDK thread: stop streaming and release the sensor on another thread; a
    // notice, when given, is shown once that is done.
    void HandOverRelease(std::string notice = {});
    // From the point-cloud worker: tells the user once when the sensor's data stops, and
    // again when it comes back.
    void ReportSilence();

    void OnLog(const orbel::sdk::Severity& severity, const std::wstring& message);
    void OnPointCloud(std::unique_ptr<orbel::sdk::IPointCloud> cloud);
    void OnImage(std::unique_ptr<orbel::sdk::IImage> image);
    void OnError(const orbel::sdk::Exception& error);
    void OnColorized(std::shared_ptr<orbel::sdk::IColorizableData> data);
    void CheckTimestampSync();
    bool Accepting() const;
    std::shared_ptr<orbel::processing::IColorizer> ActiveColorizer();

    void RunPointCloudWorker();
    void RunCameraWorker();

    std::shared_ptr<AppState> appState_;
    std::shared_ptr<SensorConfig> config_;
    std::mutex sensorMutex_;  // guards sensor_ and camera_ (the pointers, not the objects)
    std::shared_ptr<orbel::sdk::ISensor> sensor_;
    std::shared_ptr<orbel::sdk::ICamera> camera_;
    std::shared_ptr<ObjectDispatcher> dispatcher_;
    ThreadSafeQueue<orbel::sdk::IPointCloud> cloudQueue_;
    ThreadSafeQueue<orbel::sdk::IImage> imageQueue_;
    WorkerThread pointCloudWorker_;
    WorkerThread cameraWorker_;
    std::atomic<bool> stopRequested_{false};
    std::mutex colorizerMutex_;  // guards the pointer; the colorizer locks itself
    std::shared_ptr<orbel::processing::IColorizer> colorizer_;
    std::atomic<uint64_t> firstLidarTimestamp_{0};
    std::atomic<uint64_t> firstCameraTimestamp_{0};
    std::atomic<bool> syncChecked_{false};
    SensorSilenceWatch silence_;
    // Why the last Connect built no sensor (under the lifecycle mutex), and whether it was
    // the camera that failed the build.
    std::string connectFailure_;
    bool connectFailedOnCamera_ = false;

    std::shared_ptr<CallbackGate> gate_;
    std::mutex lifecycleMutex_;  // one Connect, Start, Stop or release at a time
    std::mutex releaseMutex_;
    std::vector<std::future<void>> releaseTasks_;
};

}  // namespace orbel::studio::gui
