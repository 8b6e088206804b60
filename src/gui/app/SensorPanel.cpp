// The sensor panel's decisions, its tasks and their collection on the GUI thread, and its
// drawing (Dear ImGui 1.86).
#include "app/SensorPanel.h"

#include <imgui.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "app/ToggleSwitch.h"
#include "platform/FileDialog.h"

namespace orbel::studio::gui {
namespace {

bool Ready(const std::future<void>& task) {
    return task.valid() && task.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

bool Running(const std::future<void>& task) {
    return task.valid() && task.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

// Takes a finished task's result; what it threw is logged, never rethrown on the GUI thread.
void Collect(std::future<void>& task, const char* what) {
    try {
        task.get();
    } catch (const std::exception& e) {
        Log(std::string(what) + " failed: " + e.what(), 4);
    } catch (...) {
        Log(std::string(what) + " failed", 4);
    }
}

template <std::size_t N>
void CopyText(std::array<char, N>& buffer, const char* text) {
    if (text == buffer.data()) {
        return;
    }
    const std::size_t length = text ? std::min(std::strlen(text), N - 1) : 0;
    if (length > 0) {
        std::memcpy(buffer.data(), text, length);
    }
    buffer[length] = '\0';
}

// Puts the text into the address field; the setting takes it only when it is a valid
// address. Tells whether it was.
template <std::size_t N>
bool EditAddress(std::array<char, N>& field, const char* text, std::string& setting) {
    CopyText(field, text);
    const bool valid = IsValidIPv4(field.data());
    if (valid) {
        setting = field.data();
    }
    return valid;
}

std::unique_ptr<SensorPingMonitor> MakeIcmpPingMonitor(std::shared_ptr<SensorConfig> config,
                                                       std::shared_ptr<AppContext> context) {
    return std::make_unique<SensorPingMonitor>(std::move(config), std::move(context));
}

// A text field drawn in the error style while its text fails the check.
class ErrorStyle {
public:
    explicit ErrorStyle(bool on) : on_(on) {
        if (on_) {
            ImGui::PushStyleColor(ImGuiCol_FrameBg, IM_COL32(100, 30, 30, 128));
            ImGui::PushStyleColor(ImGuiCol_Border, IM_COL32(200, 60, 60, 255));
            ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 2.0f);
        }
    }
    ~ErrorStyle() {
        if (on_) {
            ImGui::PopStyleVar();
            ImGui::PopStyleColor(2);
        }
    }
    ErrorStyle(const ErrorStyle&) = delete;
    ErrorStyle& operator=(const ErrorStyle&) = delete;

private:
    bool on_;
};

// The panel's switches show the accent colour when on.
bool AccentToggleSwitch(const char* label, bool* value) {
    ImGui::PushStyleColor(ImGuiCol_Button, kAccentColor);
    const bool flipped = ToggleSwitch(label, value, ToggleFlags::Animated);
    ImGui::PopStyleColor();
    return flipped;
}

}  // namespace

StartCheck CheckStartSettings(const SensorConfig& config) {
    const bool sensorValid = IsValidIPv4(config.sensor_ip.c_str()) && IsValidPort(config.sensor_port);
    const bool cameraValid = !config.enable_camera || IsValidIPv4(config.camera_ip.c_str());
    if (!sensorValid || !cameraValid) {
        return StartCheck::InvalidSettings;
    }
    if (config.sensor_ip == config.camera_ip) {
        return StartCheck::SameAddresses;
    }
    return StartCheck::Valid;
}

bool StartButtonEnabled(const StartButtonState& state) {
    return !state.invalidInput && !state.replaying && !state.watchedTaskRunning && !state.startTaskRunning &&
           !state.stopTaskRunning;
}

bool DisconnectButtonEnabled(const DisconnectButtonState& state) {
    return state.connected && state.hasStreamer && !state.busy && !state.recording && !state.streaming &&
           !state.taskPending;
}

SensorPanel::SensorPanel(std::shared_ptr<AppContext> context, std::shared_ptr<SensorConfig> config,
                         PingMonitorFactory pingMonitors)
    : context_(std::move(context)),
      config_(std::move(config)),
      pingMonitors_(pingMonitors ? std::move(pingMonitors) : PingMonitorFactory(MakeIcmpPingMonitor)) {
    CopyText(sensorIp_, config_->sensor_ip.c_str());
    CopyText(cameraIp_, config_->camera_ip.c_str());
    port_ = config_->sensor_port;
    cameraSwitch_ = config_->enable_camera;
    colorizerSwitch_ = config_->enable_colorizer;
    rememberedColorizerSwitch_ = colorizerSwitch_;
    CopyText(qextPath_, config_->qext_path.c_str());
}

SensorPanel::~SensorPanel() {
    // Both tasks use the streamer and the monitor through plain pointers.
    std::future<void>& startTask = context_->appState->tasks[AppState::kSensorStartTaskSlot];
    if (startTask.valid()) {
        startTask.wait();
    }
    if (stopTask_.valid()) {
        stopTask_.wait();
    }
    pingMonitor_.reset();
    streamer_.reset();
}

void SensorPanel::Consume(std::shared_ptr<AppAction> action) {
    if (action && action->Is(AppActionType::SensorOffline) && action->sender != this) {
        offlineReported_ = true;
    }
}

bool SensorPanel::RecordingRunning() const { return context_->taskManager->IsRunning(TaskType::Recording); }

bool SensorPanel::InvalidInput() const {
    return sensorIpInvalid_ || portInvalid_ || (cameraSwitch_ && cameraIpInvalid_);
}

bool SensorPanel::TaskPending() const {
    return context_->appState->tasks[AppState::kSensorStartTaskSlot].valid() || stopTask_.valid();
}

bool SensorPanel::StartEnabled() const {
    const AppState& state = *context_->appState;
    return StartButtonEnabled({InvalidInput(), state.IsReplaying(), state.IsTaskRunning(AppState::kWatchedTaskSlot),
                               state.IsTaskRunning(AppState::kSensorStartTaskSlot), Running(stopTask_)});
}

bool SensorPanel::DisconnectEnabled() const {
    const AppState& state = *context_->appState;
    return DisconnectButtonEnabled({state.connected.load(), HasStreamer(), state.busy.load(), RecordingRunning(),
                                    state.streaming.load(), TaskPending()});
}

void SensorPanel::EditSensorIp(const char* text) {
    sensorIpInvalid_ = !EditAddress(sensorIp_, text, config_->sensor_ip);
}

void SensorPanel::EditPort(int port) {
    port_ = port;
    portInvalid_ = !IsValidPort(port);
    if (!portInvalid_) {
        config_->sensor_port = port;
    }
}

void SensorPanel::EditCameraIp(const char* text) {
    cameraIpInvalid_ = !EditAddress(cameraIp_, text, config_->camera_ip);
}

void SensorPanel::SetCameraSwitch(bool on) {
    cameraSwitch_ = on;
    config_->enable_camera = on;
    if (on) {
        colorizerSwitch_ = rememberedColorizerSwitch_;
    } else {
        rememberedColorizerSwitch_ = colorizerSwitch_;
        colorizerSwitch_ = false;
    }
    config_->enable_colorizer = colorizerSwitch_;
}

void SensorPanel::SetColorizerSwitch(bool on) {
    colorizerSwitch_ = on;
    config_->enable_colorizer = on;
}

void SensorPanel::SetQextPath(const char* text) {
    CopyText(qextPath_, text);
    config_->qext_path = qextPath_.data();
}

void SensorPanel::Notify(const char* logText, const char* toastText) {
    Log(logText, 4);
    context_->dispatcher->Publish(std::make_shared<AppAction>(AppActionType::Notification, this,
                                                              AppActionPayload(NotificationPayload{toastText, 3})));
}

void SensorPanel::ClickStartStop() {
    CollectStartTask();
    CollectStopTask();
    if (!StartEnabled()) {
        return;
    }
    const std::shared_ptr<AppState> state = context_->appState;
    if (state->streaming && streamer_) {
        releaseAfterStop_ = false;
        LaunchStopTask();
        return;
    }

    switch (CheckStartSettings(*config_)) {
        case StartCheck::InvalidSettings:
            Notify("Invalid sensor configuration. Please check the IP addresses and port.",
                   "Invalid sensor configuration.");
            return;
        case StartCheck::SameAddresses:
            Notify("Sensor IP and Camera IP cannot be the same.", "Both IP are the same.");
            return;
        case StartCheck::Valid:
            break;
    }
    if (!streamer_) {
        streamer_ = std::make_unique<SensorStreamer>(state, config_, context_->dispatcher);
    }
    context_->dispatcher->Publish(std::make_shared<AppAction>(AppActionType::ClearViews, nullptr));

    // Busy from the click on, so that the button spins and no second start can begin.
    state->busy = true;
    config_->qext_path = qextPath_.data();
    SensorStreamer* streamer = streamer_.get();
    const bool camera = cameraSwitch_;
    const bool colorizer = colorizerSwitch_;
    const bool alternateTimestamp = useAlternateTimestamp_;
    state->tasks[AppState::kSensorStartTaskSlot] =
        std::async(std::launch::async, [streamer, camera, colorizer, alternateTimestamp] {
            streamer->cameraEnabled = camera;
            streamer->colorizerEnabled = colorizer;
            streamer->useAlternateTimestamp = alternateTimestamp;
            streamer->Start();
        });
}

void SensorPanel::ClickDisconnect() {
    if (!DisconnectEnabled()) {
        return;
    }
    pingMonitor_.reset();
    streamer_.reset();  // its destructor stops it
    context_->appState->connected = false;
    context_->appState->cameraRunning = false;
}

void SensorPanel::StopStreaming() {
    if (!streamer_) {
        return;
    }
    releaseAfterStop_ = true;
    if (stopTask_.valid()) {
        return;  // a stop is on its way; the streamer goes when it has ended
    }
    LaunchStopTask();
}

void SensorPanel::LaunchStopTask() {
    const std::shared_ptr<AppState> state = context_->appState;
    state->busy = true;
    SensorStreamer* streamer = streamer_.get();
    SensorPingMonitor* monitor = pingMonitor_.get();
    stopTask_ = std::async(std::launch::async, [streamer, monitor, state] {
        streamer->Stop();
        if (monitor) monitor->Stop();
        state->busy = false;
    });
}

void SensorPanel::ReplacePingMonitor() {
    pingMonitor_.reset();
    pingMonitor_ = pingMonitors_(config_, context_);
    if (pingMonitor_) {
        pingMonitor_->Start();
    }
}

void SensorPanel::CollectStartTask() {
    AppState& state = *context_->appState;
    std::future<void>& task = state.tasks[AppState::kSensorStartTaskSlot];
    if (!Ready(task)) {
        return;
    }
    // The switches stay as the user set them: a start that failed before the camera, or a
    // camera that did not come up (told by the streamer), must not turn the camera off for
    // the next start.
    Collect(task, "Starting the sensor");
    if (releaseAfterStop_ || stopTask_.valid()) {
        return;  // a stop asked for meanwhile decides what happens to the streamer
    }
    if (!state.connected) {
        pingMonitor_.reset();
        streamer_.reset();
        return;
    }
    ReplacePingMonitor();
}

void SensorPanel::CollectStopTask() {
    if (!Ready(stopTask_) || Running(context_->appState->tasks[AppState::kSensorStartTaskSlot])) {
        return;
    }
    Collect(stopTask_, "Stopping the sensor");
    pingMonitor_.reset();  // already stopped by the task
    if (releaseAfterStop_) {
        releaseAfterStop_ = false;
        streamer_.reset();
    }
}

void SensorPanel::Update() {
    CollectStartTask();
    CollectStopTask();
    if (offlineReported_.exchange(false)) {
        context_->appState->connected = false;
        context_->appState->cameraRunning = false;
        StopStreaming();
    }
}

void SensorPanel::DrawSensorPanel() {
    Update();
    AppState& state = *context_->appState;
    const float frameHeight = ImGui::GetFrameHeight();

    // Title row with the connection dot at its right end.
    ImGui::BeginChild("SensorTitle", ImVec2(ImGui::GetContentRegionAvail().x - 40.0f, frameHeight), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse);
    ImGui::AlignTextToFramePadding();
    ImGui::TextUnformatted("Sensor");
    ImGui::EndChild();
    {
        const ImVec2 titleMax = ImGui::GetItemRectMax();
        const ImVec2 titleMin = ImGui::GetItemRectMin();
        const ImVec2 centre(titleMax.x + 20.0f, (titleMin.y + titleMax.y) * 0.5f);
        ImDrawList* draw = ImGui::GetWindowDrawList();
        ImU32 colour = IM_COL32(200, 40, 40, 255);
        if (state.connected) {
            const float alpha = std::sin(4.0f * static_cast<float>(ImGui::GetTime())) * 0.4f + 0.6f;
            colour = IM_COL32(0, 200, 0, static_cast<int>(alpha * 255.0f));
        }
        draw->AddCircleFilled(centre, 6.0f, colour, 32);
        draw->AddCircle(centre, 6.0f, IM_COL32(20, 20, 20, 200), 32, 1.5f);
    }

    ImGui::BeginDisabled(!SettingsEditable(RecordingRunning(), state.streaming, HasStreamer()));
    {
        ErrorStyle error(!IsValidIPv4(sensorIp_.data()));
        if (ImGui::InputText("Sensor IP", sensorIp_.data(), sensorIp_.size())) {
            EditSensorIp(sensorIp_.data());
        }
    }
    {
        ErrorStyle error(!IsValidPort(port_));
        int port = port_;
        if (ImGui::InputInt("Sensor Port", &port)) {
            EditPort(port);
        }
    }
    bool camera = cameraSwitch_;
    if (AccentToggleSwitch("Enable camera", &camera)) {
        SetCameraSwitch(camera);
    }
    if (cameraSwitch_) {
        {
            ErrorStyle error(!IsValidIPv4(cameraIp_.data()));
            if (ImGui::InputText("Camera IP", cameraIp_.data(), cameraIp_.size())) {
                EditCameraIp(cameraIp_.data());
            }
        }
        bool colorizer = colorizerSwitch_;
        if (AccentToggleSwitch("Enable colorizer", &colorizer)) {
            SetColorizerSwitch(colorizer);
        }
        if (ImGui::Button("Browse calibration")) {
            std::filesystem::path chosen;
            const platform::DialogResult result =
                platform::FileDialogs().OpenFile({}, std::filesystem::path(std::string(qextPath_.data())), chosen);
            if (CopyDialogResult(result, chosen, qextPath_.data(), qextPath_.size())) {
                config_->qext_path = qextPath_.data();
            }
        }
        if (ImGui::InputText("##colorizer_qext", qextPath_.data(), qextPath_.size())) {
            SetQextPath(qextPath_.data());
        }
    }
    ImGui::EndDisabled();

    const float rowStart = ImGui::GetCursorPosX();
    const float available = ImGui::GetContentRegionAvail().x;
    ImGui::BeginDisabled(!DisconnectEnabled());
    if (ImGui::Button("Disconnect", ImVec2(kButtonWidth, 0.0f))) {
        ClickDisconnect();
    }
    ImGui::EndDisabled();
    ImGui::SameLine(rowStart + available - kButtonWidth - 30.0f);
    ImGui::BeginDisabled(!StartEnabled());
    if (BusyButton(state.streaming ? "Stop streaming" : "Start streaming", state.busy, ImVec2(kButtonWidth, 0.0f))) {
        ClickStartStop();
    }
    ImGui::EndDisabled();
}

}  // namespace orbel::studio::gui
