// SensorPanel: the top of the left column. It edits the sensor-connection settings, shows
// whether the sensor is connected, and starts, stops and drops the live stream. It owns the
// SensorStreamer and the SensorPingMonitor and runs every connect, start and stop as a
// std::async task, so the GUI thread never waits for the sensor.
//
// Ownership: the streamer and the ping monitor are created, replaced and deleted on the GUI
// thread only. A task gets plain pointers to them and the GUI thread keeps both alive until it
// has collected the task (Update, at the top of every draw); what a finished task leaves to do
// (delete an unconnected streamer, start or drop the ping monitor) is done there. A
// SensorOffline from the ping monitor arrives on the monitor's own thread and is only noted
// there; the GUI thread acts on it, so the monitor is never stopped from its own thread.
//
// Contract: every method but Consume runs on the GUI thread; Consume on any thread.
#pragma once

#include <array>
#include <atomic>
#include <functional>
#include <future>
#include <memory>

#include "app/AddressRules.h"
#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/IConsumer.h"
#include "app/SensorConfig.h"
#include "app/SensorPingMonitor.h"
#include "app/SensorStreamer.h"

namespace orbel::studio::gui {

// The outcome of the checks a "Start streaming" click makes on the stored settings.
enum class StartCheck { Valid, InvalidSettings, SameAddresses };
StartCheck CheckStartSettings(const SensorConfig& config);

// What the start/stop button depends on.
struct StartButtonState {
    bool invalidInput = false;        // a shown field holds text that failed its check
    bool replaying = false;           // the lidar replay plays
    bool watchedTaskRunning = false;  // AppState's third task slot
    bool startTaskRunning = false;    // the panel's own connect-and-start task (fifth slot)
    bool stopTaskRunning = false;     // the panel's stop task
};
bool StartButtonEnabled(const StartButtonState& state);

struct DisconnectButtonState {
    bool connected = false;
    bool hasStreamer = false;
    bool busy = false;
    bool recording = false;
    bool streaming = false;
    bool taskPending = false;  // a start or stop task not yet collected
};
bool DisconnectButtonEnabled(const DisconnectButtonState& state);

// The settings can be edited unless a recording runs, a stream runs, or a streamer exists.
inline bool SettingsEditable(bool recording, bool streaming, bool hasStreamer) {
    return !recording && !streaming && !hasStreamer;
}

class SensorPanel : public IConsumer<AppAction> {
public:
    using PingMonitorFactory = std::function<std::unique_ptr<SensorPingMonitor>(std::shared_ptr<SensorConfig>,
                                                                               std::shared_ptr<AppContext>)>;

    static constexpr std::size_t kIpTextSize = 64;
    static constexpr std::size_t kPathTextSize = 512;
    static constexpr float kButtonWidth = 150.0f;

    // `pingMonitors` makes the monitor after a successful start (by default one that sends
    // ICMP echoes).
    SensorPanel(std::shared_ptr<AppContext> context, std::shared_ptr<SensorConfig> config,
                PingMonitorFactory pingMonitors = {});
    // Waits for the panel's tasks, then deletes the ping monitor and the streamer.
    ~SensorPanel() override;
    SensorPanel(const SensorPanel&) = delete;
    SensorPanel& operator=(const SensorPanel&) = delete;

    // Once per frame, inside the "SensorPanel" child of the layout.
    void DrawSensorPanel();

    // Starts the asynchronous stop and release of the streamer when one exists; returns at once.
    void StopStreaming();

    // Notes a SensorOffline from another sender; acted on by the next Update.
    void Consume(std::shared_ptr<AppAction> action) override;

    // The decisions and actions the drawing uses, callable without a window.
    // Collects finished tasks and acts on a noted SensorOffline.
    void Update();
    void ClickStartStop();
    void ClickDisconnect();
    // Edits of the fields, as the text inputs and switches report them.
    void EditSensorIp(const char* text);
    void EditPort(int port);
    void EditCameraIp(const char* text);
    void SetCameraSwitch(bool on);
    void SetColorizerSwitch(bool on);
    void SetQextPath(const char* text);

    bool StartEnabled() const;
    bool DisconnectEnabled() const;
    bool InvalidInput() const;
    bool TaskPending() const;
    bool HasStreamer() const { return streamer_ != nullptr; }
    bool HasPingMonitor() const { return pingMonitor_ != nullptr; }
    bool CameraSwitch() const { return cameraSwitch_; }
    bool ColorizerSwitch() const { return colorizerSwitch_; }
    const char* SensorIpText() const { return sensorIp_.data(); }
    int Port() const { return port_; }

private:
    // Stops the streamer, then the ping monitor, on a task of its own; busy until it ends.
    void LaunchStopTask();
    void CollectStartTask();
    void CollectStopTask();
    void ReplacePingMonitor();
    void Notify(const char* logText, const char* toastText);
    bool RecordingRunning() const;

    std::array<char, kIpTextSize> sensorIp_{};
    std::array<char, kIpTextSize> cameraIp_{};
    int port_ = 0;
    // One flag per field: a later valid edit of another field must not hide an invalid one.
    bool sensorIpInvalid_ = false;
    bool portInvalid_ = false;
    bool cameraIpInvalid_ = false;
    bool cameraSwitch_ = true;
    std::shared_ptr<AppContext> context_;
    std::shared_ptr<SensorConfig> config_;
    std::unique_ptr<SensorStreamer> streamer_;
    std::unique_ptr<SensorPingMonitor> pingMonitor_;
    std::future<void> stopTask_;
    bool releaseAfterStop_ = false;  // the stop task in flight also drops the streamer
    bool colorizerSwitch_ = false;
    bool rememberedColorizerSwitch_ = false;
    std::array<char, kPathTextSize> qextPath_{};
    bool useAlternateTimestamp_ = false;  // match on the main time stamp, as offline
    PingMonitorFactory pingMonitors_;
    std::atomic<bool> offlineReported_{false};
};

}  // namespace orbel::studio::gui
