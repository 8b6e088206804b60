// RecorderPanel: the "Recorder" tab. The user picks an output folder and records the live
// stream into it: the lidar recorder always, the camera recorder beside it when the camera
// runs and "Record camera" is on. A folder typed as a relative path is taken in the user's
// home folder when the recording starts, and the status line, the log and the toast name the
// absolute folder written. The panel shows the state and the elapsed time, and stops the
// recording by itself when streaming ends or a recorder fails.
//
// Ownership: the recorders are made, subscribed, unsubscribed, stopped and deleted on the GUI
// thread only; their write loops run as TaskManager jobs (kinds Recording and
// CameraRecording) that share ownership of their recorder. StopRecording unsubscribes each
// recorder first (so every frame published until then is kept), then stops it (which writes
// what is queued and ends its loop), collects its job, and only then lets it go: a recorder
// is never deleted while subscribed or running, and the TaskManager is only waited on for a
// job that has already ended.
//
// Contract: every method but Consume runs on the GUI thread; Consume on any thread.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/IConsumer.h"
#include "app/SensorConfig.h"
#include "sessions/CameraRecorder.h"
#include "sessions/Recorder.h"

namespace orbel::studio::gui {

class RecorderPanel : public IConsumer<AppAction> {
public:
    // What the status line shows: "Waiting for sensor", "Recording" with the elapsed time,
    // or "Ready to record", in its colour (red, green, blue, alpha).
    struct Status {
        std::string text;
        std::array<float, 4> colour{};
        std::string elapsed;  // "(hh:mm:ss)" while recording, else empty
        std::string folder;   // the folder being written while recording (it may not be the one chosen), else empty
    };

    // `sensorConfig` is the sensor panel's: its camera switch tells a camera switched off
    // (nothing to say) from one that is on but not running (worth a warning).
    RecorderPanel(std::shared_ptr<AppContext> context, std::shared_ptr<const SensorConfig> sensorConfig);
    // Stops a recording that still runs.
    ~RecorderPanel() override;
    RecorderPanel(const RecorderPanel&) = delete;
    RecorderPanel& operator=(const RecorderPanel&) = delete;

    // Draws the panel and acts on it, once per GUI frame.
    void DrawRecorderPanel();

    // CameraAvailable from another sender sets "Record camera" to its flag.
    void Consume(std::shared_ptr<AppAction> action) override;

    // Stops, unsubscribes and deletes both recorders; logs "Recording stopped" and "Camera
    // recording stopped" for those that existed.
    void StopRecording();

    // The decisions the drawing follows, callable without a window.
    // The automatic stop: when streaming has ended or a recorder failed. The layout runs it once
    // per GUI frame whether or not the "Recorder" tab is shown.
    void Update();
    void PressRecordButton();
    bool IsRecording() const;
    bool RecordButtonEnabled() const;
    const char* RecordButtonLabel() const;
    Status CurrentStatus(std::chrono::steady_clock::time_point now) const;
    static std::string FormatElapsed(std::chrono::seconds elapsed);

    void SetOutputFolder(std::string folder) { outputFolder_ = std::move(folder); }
    const std::string& OutputFolder() const { return outputFolder_; }
    bool RecordCamera() const { return recordCamera_.load(); }
    void SetRecordCamera(bool on) { recordCamera_.store(on); }
    // Where the current or last recording went, absolute (a fresh folder when the chosen one
    // held a session).
    const std::filesystem::path& SessionFolder() const { return sessionFolder_; }
    bool HasRecorder() const { return recorder_ != nullptr; }
    bool HasCameraRecorder() const { return cameraRecorder_ != nullptr; }

private:
    void StartRecording();

    std::string outputFolder_;
    std::shared_ptr<Recorder> recorder_;
    std::shared_ptr<recorder::CameraRecorder> cameraRecorder_;
    std::shared_ptr<AppContext> context_;
    std::shared_ptr<const SensorConfig> sensorConfig_;
    std::chrono::steady_clock::time_point startTime_{};
    std::atomic<bool> recordCamera_{false};
    std::filesystem::path sessionFolder_;
};

}  // namespace orbel::studio::gui
