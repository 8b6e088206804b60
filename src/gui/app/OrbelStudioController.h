// OrbelStudioController: ties the program together. It makes the sensor settings and the
// application context, loads "settings.bin", makes every panel and the (empty) plugin registry,
// subscribes them and itself to the dispatcher, and once per GUI frame applies at most one
// queued AppAction and one queued CameraData. It saves "settings.bin" shortly after the
// settings change and at shutdown (only when they changed: see SettingsAutosave), where it
// also starts the asynchronous stop of streaming. The first save that fails after one that
// worked is told in a toast, with the system's reason.
//
// Threads: constructed on the start-up thread; Consume runs on the publisher's thread and only
// touches the queues and one flag; Update, ReleaseGraphics and Shutdown run on the GUI thread.
// The destructor unsubscribes the controller and the panels before anything is destroyed, so
// no publisher reaches a queue or panel that is going away.
#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/AppPanels.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/PluginRegistry.h"
#include "app/SensorConfig.h"
#include "app/SettingsAutosave.h"
#include "app/ThreadSafeQueue.h"

namespace orbel::studio::gui {

class OrbelStudioController : public IConsumer<AppAction>, public IConsumer<FrameData>, public IConsumer<CameraData> {
public:
    static constexpr std::size_t kCameraQueueCap = 5;

    // Settings from AppDataDir() / "settings.bin".
    OrbelStudioController();
    // Settings from (and to) the given file; `pingMonitors` as for the sensor panel.
    explicit OrbelStudioController(std::filesystem::path settingsFile,
                                   SensorPanel::PingMonitorFactory pingMonitors = {});
    ~OrbelStudioController() override;
    OrbelStudioController(const OrbelStudioController&) = delete;
    OrbelStudioController& operator=(const OrbelStudioController&) = delete;

    void Consume(std::shared_ptr<AppAction> action) override;
    void Consume(std::shared_ptr<FrameData> frame) override;
    void Consume(std::shared_ptr<CameraData> image) override;

    // Once per GUI frame, with the milliseconds since the previous one.
    void Update(double frameMilliseconds);
    // Deletes the OpenGL objects of the panels; the context must still be current.
    void ReleaseGraphics();
    // Saves the settings when they changed, starts the stop of streaming (without waiting),
    // shuts plugins down.
    void Shutdown();
    // Writes the settings file now unless it holds them already (they are as loaded or as
    // this program last wrote them); true when the file holds them, false (logged by the
    // writer) when the write failed.
    bool SaveSettings();
    // GUI thread, from time to time (the frame loop's chores, about once a second), with the
    // steady clock's seconds: writes the settings once they changed and then held still
    // (SettingsAutosave), so that they outlive an end without the shutdown.
    void SaveSettingsWhenSettled(double nowSeconds);

    // Before the main loop draws (start-up thread, once the controller exists): shows a
    // notice of the start in the toast, after the one loading the settings left, if any.
    void AddStartNotice(const std::string& text);

    AppPanels& Panels() { return *panels_; }
    const std::shared_ptr<AppContext>& Context() const { return context_; }
    const std::shared_ptr<SensorConfig>& Settings() const { return sensorConfig_; }
    plugins::PluginRegistry& Plugins() { return *plugins_; }
    std::size_t QueuedActions() const { return actions_.Size(); }
    std::size_t QueuedImages() const { return images_.Size(); }

private:
    void Initialize(SensorPanel::PingMonitorFactory pingMonitors);
    void Apply(const AppAction& action);
    // Writes `current` (the settings as serialised now; none when they cannot be) and notes
    // the outcome; the first failure in a row is told in a toast.
    bool WriteSettings(const std::optional<std::string>& current);

    std::filesystem::path settingsFile_;
    std::shared_ptr<AppPanels> panels_;
    std::shared_ptr<SensorConfig> sensorConfig_;
    std::shared_ptr<AppContext> context_;
    std::shared_ptr<plugins::PluginRegistry> plugins_;
    ThreadSafeQueue<AppAction> actions_;
    ThreadSafeQueue<CameraData> images_;
    SettingsAutosave autosave_;
    // Cleared by every ClearViews (before a stream or a replay starts), so that the first
    // frame of each is logged once.
    std::atomic<bool> frameSeen_{false};
};

// The notice of a program started while another Orbel Studio holds its settings folder;
// `ownLogFile` is where this one logs instead of the shared log.
std::string SharedSettingsFolderNotice(const std::filesystem::path& ownLogFile);

}  // namespace orbel::studio::gui
