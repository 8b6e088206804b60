#include "app/OrbelStudioController.h"

#include <optional>
#include <string>
#include <utility>

#include "app/ConfigHandler.h"
#include "app/FileHelpers.h"
#include "app/Logging.h"

namespace orbel::studio::gui {
namespace {

constexpr int32_t kToastWarning = 2;
constexpr int32_t kToastFailure = 3;
constexpr const char* kSaveFailedText = "Settings could not be saved: ";

}  // namespace

OrbelStudioController::OrbelStudioController() : OrbelStudioController(AppDataDir() / "settings.bin") {}

OrbelStudioController::OrbelStudioController(std::filesystem::path settingsFile,
                                             SensorPanel::PingMonitorFactory pingMonitors)
    : settingsFile_(std::move(settingsFile)) {
    Initialize(std::move(pingMonitors));
}

OrbelStudioController::~OrbelStudioController() {
    ObjectDispatcher& dispatcher = *context_->dispatcher;
    dispatcher.Unsubscribe<FrameData>(this);
    dispatcher.Unsubscribe<CameraData>(this);
    dispatcher.Unsubscribe<AppAction>(this);
    // The panels go first (the sensor panel waits for its tasks and stops the stream) while
    // the rest of the controller still exists.
    panels_.reset();
}

void OrbelStudioController::Initialize(SensorPanel::PingMonitorFactory pingMonitors) {
    sensorConfig_ = std::make_shared<SensorConfig>();
    context_ = std::make_shared<AppContext>();
    std::string unreadable;
    if (std::shared_ptr<ViewerConfig> loaded = ConfigHandler::Load(settingsFile_, sensorConfig_, &unreadable)) {
        context_->appState->viewerConfig = std::move(loaded);
    }
    if (!unreadable.empty()) {
        // Shown once the main loop draws: the toast waits in AppState until then.
        context_->appState->SetToast(unreadable, kToastWarning);
    }
    // What was loaded counts as written: an unchanged program never rewrites the file.
    autosave_ = SettingsAutosave(ConfigHandler::Serialize(context_->appState->viewerConfig, sensorConfig_).value_or(""));
    panels_ = std::make_shared<AppPanels>(sensorConfig_, context_, std::move(pingMonitors));
    plugins_ = std::make_shared<plugins::PluginRegistry>(context_->dispatcher, context_->taskManager,
                                                         context_->appState);
    plugins_->StartAll();

    panels_->Subscribe();
    ObjectDispatcher& dispatcher = *context_->dispatcher;
    dispatcher.Subscribe<FrameData>(this);
    dispatcher.Subscribe<CameraData>(this);
    dispatcher.Subscribe<AppAction>(this);
    panels_->Connect();
}

void OrbelStudioController::Consume(std::shared_ptr<AppAction> action) {
    if (action->Is(AppActionType::ClearViews)) {
        frameSeen_ = false;
    }
    actions_.Push(std::move(action));
}

void OrbelStudioController::Consume(std::shared_ptr<FrameData> frame) {
    if (!frameSeen_.exchange(true)) {
        Log("Frames arriving: frame " + std::to_string(frame->frameNumber) + ", " + std::to_string(frame->height) +
                " lines of " + std::to_string(frame->width) + " points",
            2);
    }
}

void OrbelStudioController::Consume(std::shared_ptr<CameraData> image) {
    // The oldest goes only once more than the cap wait, so up to one more than the cap is kept.
    images_.PushBounded(std::move(image), kCameraQueueCap + 1);
}

void OrbelStudioController::Update(double frameMilliseconds) {
    plugins_->UpdateAll(static_cast<float>(frameMilliseconds));
    if (images_.TryPop()) {
        context_->appState->viewerConfig->show_camera = true;
    }
    if (std::optional<std::shared_ptr<AppAction>> action = actions_.TryPop()) {
        Apply(**action);
    }
}

void OrbelStudioController::Apply(const AppAction& action) {
    AppState& state = *context_->appState;
    switch (static_cast<AppActionType>(action.type)) {
        case AppActionType::ProgressUpdate:
            if (action.payload.index() == payload_index::kProgress) {
                const auto& progress = std::get<ProgressPayload>(action.payload);
                state.progressFraction = progress.fraction;
                state.SetProgressText(progress.text);
                state.progressVisible = true;
            }
            break;
        case AppActionType::Notification:
            if (action.payload.index() == payload_index::kNotification) {
                const auto& notice = std::get<NotificationPayload>(action.payload);
                state.SetToast(notice.text, notice.level);
            }
            break;
        case AppActionType::ClearViews:
            state.viewerConfig->show_camera = false;
            break;
        case AppActionType::SetCameraViewVisible:
            if (action.payload.index() == payload_index::kFlag) {
                state.viewerConfig->show_camera = std::get<bool>(action.payload);
            }
            break;
        case AppActionType::ReplayPlay:
        case AppActionType::ReplayPause:
        case AppActionType::ReplayReset:
        case AppActionType::ReplaySeek:
            panels_->RelayReplay(action);
            break;
        default:
            break;
    }
}

void OrbelStudioController::ReleaseGraphics() { panels_->ReleaseGraphics(); }

void OrbelStudioController::Shutdown() {
    if (!SaveSettings()) {
        Log("Failed to save viewer configuration", 4);
    }
    panels_->sensorPanel.StopStreaming();
    plugins_->ShutdownAll();
}

bool OrbelStudioController::SaveSettings() {
    const std::optional<std::string> current =
        ConfigHandler::Serialize(context_->appState->viewerConfig, sensorConfig_);
    if (current && !autosave_.Unsaved(*current)) {
        return true;
    }
    return WriteSettings(current);
}

void OrbelStudioController::SaveSettingsWhenSettled(double nowSeconds) {
    const std::optional<std::string> current =
        ConfigHandler::Serialize(context_->appState->viewerConfig, sensorConfig_);
    if (!current || !autosave_.Due(*current, nowSeconds)) {
        return;
    }
    if (!WriteSettings(current)) {
        Log("Failed to save viewer configuration", 4);
    }
}

bool OrbelStudioController::WriteSettings(const std::optional<std::string>& current) {
    std::string failure;
    if (ConfigHandler::Save(context_->appState->viewerConfig, sensorConfig_, settingsFile_, &failure)) {
        if (current) autosave_.Written(*current);
        return true;
    }
    if (autosave_.Failed(current.value_or(""))) {
        context_->appState->SetToast(kSaveFailedText + failure, kToastFailure);
    }
    return false;
}

void OrbelStudioController::AddStartNotice(const std::string& text) {
    AppState& state = *context_->appState;
    const std::optional<ToastMessage> pending = state.PendingToast();
    state.SetToast(pending ? pending->text + "\n" + text : text, kToastWarning);
}

std::string SharedSettingsFolderNotice(const std::filesystem::path& ownLogFile) {
    return "Another Orbel Studio is using this settings folder; this one logs to " + ownLogFile.filename().string();
}

}  // namespace orbel::studio::gui
