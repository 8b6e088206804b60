#include "sessions/ColorizerPanel.h"

#include <future>

#include <imgui.h>

#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "platform/FileDialog.h"

namespace orbel::studio::gui {

namespace {

constexpr float kRowGap = 8.0f;

// A button that fills `buffer` from a dialog, then the field that edits it, then the gap.
template <typename Dialog>
void PathRow(const char* button, const char* field, char* buffer, Dialog dialog) {
    if (ImGui::Button(button)) {
        std::filesystem::path chosen;
        const platform::DialogResult result = dialog(chosen);
        CopyDialogResult(result, chosen, buffer, ColorizerPanel::kBufferSize);
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::InputText(field, buffer, ColorizerPanel::kBufferSize);
    ImGui::Dummy(ImVec2(0.0f, kRowGap));
}

}  // namespace

std::string ColorizationProgressText(size_t done, size_t total) {
    return "Colorizing " + std::to_string(done) + "/" + std::to_string(total);
}

void ReportColorizationProgress(AppState& appState, size_t done, size_t total) {
    if (total == 0) return;
    appState.progressFraction = static_cast<float>(done) / static_cast<float>(total);
    appState.SetProgressText(ColorizationProgressText(done, total));
}

void RunColorizationTask(ColorizerSDK& colorizer, const ColorizationInputs& inputs,
                         const std::shared_ptr<AppState>& appState) {
    try {
        const ColorizeOutcome outcome = colorizer.Colorize(
            inputs.pointCloudFolder, inputs.imageFolder, inputs.qextFile, inputs.syncFile, inputs.outputFolder,
            [appState](size_t done, size_t total) { ReportColorizationProgress(*appState, done, total); });
        if (colorizer.IsStopRequested()) return;
        if (outcome == ColorizeOutcome::Failed) {
            appState->SetToast("Colorization failed", 3);
        } else {
            appState->SetToast("Colorization completed", 1);
        }
    } catch (const std::exception& e) {
        Log(std::string("[Colorizer] ") + e.what(), 4);
        appState->SetToast("Colorization failed", 3);
    }
}

ColorizerPanel::~ColorizerPanel() {
    if (colorizer_) colorizer_->RequestStop();
    if (finished_.valid()) finished_.wait();
}

ColorizationInputs ColorizerPanel::Inputs() const {
    auto path = [this](Field field) { return std::filesystem::path(std::string(buffers_[field].data())); };
    return {path(kPointCloudFolder), path(kImageFolder), path(kQextFile), path(kSyncFile), path(kOutputFolder)};
}

bool ColorizerPanel::Running() const {
    return finished_.valid() && finished_.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
}

bool ColorizerPanel::ButtonEnabled(const AppState& appState) const {
    if (Running()) return true;
    if (appState.IsTaskRunning(AppState::kProcessingTaskSlot)) return false;  // another panel's task
    for (Field field : {kPointCloudFolder, kImageFolder, kQextFile, kOutputFolder}) {
        if (buffers_[field][0] == '\0') return false;
    }
    return true;
}

const char* ColorizerPanel::ButtonLabel() const { return Running() ? "Stop colorization" : "Start colorization"; }

void ColorizerPanel::PressButton(const std::shared_ptr<AppState>& appState) {
    if (!ButtonEnabled(*appState)) return;
    if (Running()) {
        colorizer_->RequestStop();
        appState->SetToast("Colorization stop requested", 0);
        return;
    }
    colorizer_ = make_ ? make_() : std::make_shared<ColorizerSDK>();
    auto finished = std::make_shared<std::promise<void>>();
    finished_ = finished->get_future().share();
    // The task's state lives in the future that AppState holds: the task lets go of what it
    // captured as it ends, or AppState would keep itself alive through its own future; only
    // then does it say it has finished.
    auto task = [colorizer = colorizer_, inputs = Inputs(), state = std::shared_ptr<AppState>(appState),
                 finished]() mutable {
        struct Finished {
            std::promise<void>& promise;
            ~Finished() { promise.set_value(); }
        } signal{*finished};
        const auto run = std::move(colorizer);
        const auto appStateHeld = std::move(state);
        RunColorizationTask(*run, inputs, appStateHeld);
    };
    appState->tasks[AppState::kProcessingTaskSlot] = std::async(std::launch::async, std::move(task));
}

void ColorizerPanel::DrawColorizerPanel(const std::shared_ptr<AppState>& appState) {
    const bool running = Running();

    ImGui::BeginDisabled(running);
    PathRow("Select point cloud folder", "##pointCloudFolder", Buffer(kPointCloudFolder),
            [](std::filesystem::path& chosen) { return platform::FileDialogs().PickFolder({}, chosen); });
    PathRow("Select image folder", "##imageFolder", Buffer(kImageFolder),
            [](std::filesystem::path& chosen) { return platform::FileDialogs().PickFolder({}, chosen); });
    PathRow("Select QEXT file", "##qextFile", Buffer(kQextFile), [](std::filesystem::path& chosen) {
        return platform::FileDialogs().OpenFile({{"QEXT", "qext"}}, {}, chosen);
    });
    PathRow("Select output folder", "##outputFolder", Buffer(kOutputFolder),
            [](std::filesystem::path& chosen) { return platform::FileDialogs().PickFolder({}, chosen); });
    PathRow("Select sync file (optional)", "##syncFile", Buffer(kSyncFile),
            [](std::filesystem::path& chosen) { return platform::FileDialogs().OpenFile({}, {}, chosen); });
    ImGui::Separator();
    ImGui::EndDisabled();

    ImGui::BeginDisabled(!ButtonEnabled(*appState));
    if (ImGui::Button(ButtonLabel())) PressButton(appState);
    ImGui::EndDisabled();
}

}  // namespace orbel::studio::gui
