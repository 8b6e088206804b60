// The recorder panel's decisions and its drawing (Dear ImGui 1.86).
#include "sessions/RecorderPanel.h"

#include <cfloat>
#include <cstdio>

#include <imgui.h>
#include <imgui_stdlib.h>

#include "app/FileHelpers.h"
#include "app/Logging.h"
#include "app/PointCloudWorker.h"
#include "app/ToggleSwitch.h"
#include "platform/FileDialog.h"

namespace orbel::studio::gui {
namespace {

namespace fs = std::filesystem;

constexpr std::array<float, 4> kWaitingColour{0.9f, 0.7f, 0.2f, 1.0f};
constexpr std::array<float, 4> kRecordingColour{0.2f, 0.9f, 0.2f, 1.0f};

}  // namespace

RecorderPanel::RecorderPanel(std::shared_ptr<AppContext> context, std::shared_ptr<const SensorConfig> sensorConfig)
    : context_(std::move(context)), sensorConfig_(std::move(sensorConfig)) {}

RecorderPanel::~RecorderPanel() {
    if (recorder_ || cameraRecorder_) {
        StopRecording();
    }
}

void RecorderPanel::Consume(std::shared_ptr<AppAction> action) {
    if (action && action->sender != this && action->Is(AppActionType::CameraAvailable) &&
        action->payload.index() == payload_index::kFlag) {
        recordCamera_.store(std::get<bool>(action->payload));
    }
}

bool RecorderPanel::IsRecording() const { return context_->taskManager->IsRunning(TaskType::Recording); }

bool RecorderPanel::RecordButtonEnabled() const {
    return context_->appState->streaming.load() && !outputFolder_.empty();
}

const char* RecorderPanel::RecordButtonLabel() const { return IsRecording() ? "Stop recording" : "Start recording"; }

std::string RecorderPanel::FormatElapsed(std::chrono::seconds elapsed) {
    const long long total = std::max<long long>(0, elapsed.count());
    char text[48];
    std::snprintf(text, sizeof text, "(%02lld:%02lld:%02lld)", total / 3600, total / 60 % 60, total % 60);
    return text;
}

RecorderPanel::Status RecorderPanel::CurrentStatus(std::chrono::steady_clock::time_point now) const {
    if (!context_->appState->streaming.load()) {
        return {"Waiting for sensor", kWaitingColour, {}, {}};
    }
    if (IsRecording()) {
        return {"Recording", kRecordingColour,
                FormatElapsed(std::chrono::duration_cast<std::chrono::seconds>(now - startTime_)),
                sessionFolder_.string()};
    }
    return {"Ready to record", kWaitingColour, {}, {}};
}

void RecorderPanel::Update() {
    if (!recorder_ && !cameraRecorder_) {
        return;
    }
    auto failure = recorder_ ? recorder_->Failure() : std::nullopt;
    if (!failure && cameraRecorder_) {
        failure = cameraRecorder_->Failure();
    }
    if (failure) {
        // The failing recorder has logged why; the other one must not go on alone.
        StopRecording();
        Log("[Recorder] Recording ended: " + *failure, log_level::kError);
        context_->appState->SetToast("Recording failed", 3);
        return;
    }
    if (!context_->appState->streaming.load() && IsRecording()) {
        StopRecording();
        context_->appState->SetToast("Recording stopped", 0);
    }
}

void RecorderPanel::PressRecordButton() {
    if (IsRecording()) {
        StopRecording();
        context_->appState->SetToast("Sensor recording stopped", 0);
        return;
    }
    if (!RecordButtonEnabled()) {
        return;
    }
    StartRecording();
}

void RecorderPanel::StartRecording() {
    // A recording that ended by itself leaves its recorders until here.
    StopRecording();
    AppState& state = *context_->appState;
    fs::path chosen;
    try {
        chosen = ResolveOutputFolder(outputFolder_);
    } catch (const std::exception& e) {
        Log(std::string("Failed to start recording: ") + e.what(), log_level::kError);
        state.SetToast("Failed to start recording", 3);
        return;
    }
    sessionFolder_ = FreshSessionFolder(chosen);
    if (sessionFolder_ != chosen) {
        Log("The folder " + chosen.string() + " already holds a recorded session; recording into " +
                sessionFolder_.string(),
            log_level::kWarning);
    }
    // A relative folder or a fresh one beside the chosen is not where the user looks.
    const bool elsewhere = sessionFolder_ != fs::path(outputFolder_);
    startTime_ = std::chrono::steady_clock::now();

    recorder_ = std::make_shared<Recorder>();
    context_->dispatcher->Subscribe<LineBatch>(recorder_.get());
    try {
        context_->taskManager->Launch(TaskType::Recording, [recorder = recorder_, folder = sessionFolder_ / "frames_qpc"] {
            Log("Sensor recording started", log_level::kInfo);
            recorder->Run(folder);
        });
    } catch (const std::exception& e) {
        context_->dispatcher->Unsubscribe<LineBatch>(recorder_.get());
        recorder_.reset();
        Log(std::string("Failed to start recording: ") + e.what(), log_level::kError);
        state.SetToast("Failed to start recording", 3);
        return;
    }
    state.SetToast(elsewhere ? "Recording started in " + sessionFolder_.string() : "Recording started", 0);

    if (!state.cameraRunning.load()) {
        // A camera switched off in the sensor panel is not missing: "Record camera" shows it.
        if (!sensorConfig_ || sensorConfig_->enable_camera) {
            Log("Camera not available, skipping camera recording", log_level::kWarning);
        }
        return;
    }
    if (!recordCamera_.load()) {
        Log("Record camera is switched off, skipping camera recording", log_level::kInfo);
        return;
    }
    Log("Starting camera recording", log_level::kInfo);
    cameraRecorder_ = std::make_shared<recorder::CameraRecorder>();
    context_->dispatcher->Subscribe<orbel::sdk::IImage>(cameraRecorder_.get());
    try {
        context_->taskManager->Launch(TaskType::CameraRecording,
                                      [camera = cameraRecorder_, folder = sessionFolder_ / "frames_rgb"] {
                                          Log("Camera recording started", log_level::kInfo);
                                          camera->Run(folder);
                                      });
    } catch (const std::exception& e) {
        context_->dispatcher->Unsubscribe<orbel::sdk::IImage>(cameraRecorder_.get());
        cameraRecorder_.reset();
        Log(std::string("Failed to start camera recording: ") + e.what(), log_level::kError);
        state.SetToast("Failed to start camera recording", 3);
    }
}

void RecorderPanel::StopRecording() {
    if (recorder_) {
        context_->dispatcher->Unsubscribe<LineBatch>(recorder_.get());
        recorder_->Stop();
        context_->taskManager->Wait(TaskType::Recording);
        recorder_.reset();
        Log("Recording stopped", log_level::kInfo);
    }
    if (cameraRecorder_) {
        context_->dispatcher->Unsubscribe<orbel::sdk::IImage>(cameraRecorder_.get());
        cameraRecorder_->Stop();
        context_->taskManager->Wait(TaskType::CameraRecording);
        cameraRecorder_.reset();
        Log("Camera recording stopped", log_level::kInfo);
    }
}

void RecorderPanel::DrawRecorderPanel() {
    AppState& state = *context_->appState;
    ImGui::PushID(this);

    if (ImGui::Button("Select output folder##recorder_output")) {
        platform::PickFolderInto(outputFolder_);
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::InputText("##recorder_output", &outputFolder_);

    ImGui::Dummy(ImVec2(0.0f, 8.0f));
    const bool cameraRunning = state.cameraRunning.load();
    if (!cameraRunning) {
        recordCamera_.store(false);
    }
    ImGui::BeginDisabled(!cameraRunning);
    bool recordCamera = recordCamera_.load();
    if (ToggleSwitch("Record camera", &recordCamera)) {
        recordCamera_.store(recordCamera);
    }
    ImGui::EndDisabled();

    ImGui::BeginDisabled(!RecordButtonEnabled() && !IsRecording());
    if (ImGui::Button(RecordButtonLabel())) {
        PressRecordButton();
    }
    ImGui::EndDisabled();

    ImGui::Dummy(ImVec2(0.0f, 8.0f));
    ImGui::TextUnformatted("Status:");
    ImGui::SameLine();
    const Status status = CurrentStatus(std::chrono::steady_clock::now());
    const ImVec4 colour(status.colour[0], status.colour[1], status.colour[2], status.colour[3]);
    ImGui::TextColored(colour, "%s", status.text.c_str());
    if (!status.elapsed.empty()) {
        ImGui::SameLine();
        ImGui::TextUnformatted(status.elapsed.c_str());
    }
    if (!status.folder.empty()) {
        ImGui::TextWrapped("Writing to %s", status.folder.c_str());
    }
    ImGui::PopID();
}

}  // namespace orbel::studio::gui
