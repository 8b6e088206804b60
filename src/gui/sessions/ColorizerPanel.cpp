// The colorizer panel's decisions, its background task and its drawing (Dear ImGui 1.86).
#include "sessions/ColorizerPanel.h"

#include <imgui.h>

#include "app/FileHelpers.h"
#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "platform/FileDialog.h"

namespace orbel::studio::gui {

namespace {

constexpr float kRowGap = 8.0f;

// A button that fills `buffer` from a dialog opened where the buffer points, then the field
// that edits it, then the gap.
template <typename Dialog>
void PathRow(const char* button, const char* field, char* buffer, Dialog dialog) {
    if (ImGui::Button(button)) {
        std::filesystem::path chosen;
        const platform::DialogResult result = dialog(std::filesystem::path(std::string(buffer)), chosen);
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

std::string ColorizationEndText(ColorizeOutcome outcome, const ColorizeSummary& summary) {
    if (outcome == ColorizeOutcome::Failed) {
        return summary.failure.empty() ? "Colorization failed" : "Colorization failed: " + summary.failure;
    }
    return "Colorization completed: " + DescribeColorization(summary);
}

void RunColorizationTask(ColorizerSDK& colorizer, const ColorizationInputs& inputs,
                         const std::shared_ptr<AppState>& appState) {
    try {
        const ColorizeOutcome outcome = colorizer.Colorize(
            inputs.pointCloudFolder, inputs.imageFolder, inputs.qextFile, inputs.syncFile, inputs.outputFolder,
            [appState](size_t done, size_t total) { ReportColorizationProgress(*appState, done, total); });
        if (colorizer.IsStopRequested()) return;
        appState->SetToast(ColorizationEndText(outcome, colorizer.Summary()),
                           outcome == ColorizeOutcome::Failed ? 3 : 1);
    } catch (const std::exception& e) {
        Log(std::string("[Colorizer] ") + e.what(), 4);
        appState->SetToast("Colorization failed", 3);
    }
}

ColorizerPanel::~ColorizerPanel() {
    // The task waits in task_'s destructor; it stops before its next image, cloud or pair.
    if (colorizer_) colorizer_->RequestStop();
}

ColorizationInputs ColorizerPanel::Inputs() const {
    auto path = [this](Field field) { return std::filesystem::path(std::string(buffers_[field].data())); };
    return {path(kPointCloudFolder), path(kImageFolder), path(kQextFile), path(kSyncFile), path(kOutputFolder)};
}

bool ColorizerPanel::ButtonEnabled(const AppState& appState) const {
    if (Running()) return true;
    if (task_.SlotTakenByOther(appState)) return false;
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
    ColorizationInputs inputs = Inputs();
    try {
        // A relative output folder goes under the home folder, decided once, here.
        inputs.outputFolder = ResolveOutputFolder(inputs.outputFolder);
    } catch (const std::exception& e) {
        Log(std::string("[Colorizer] ") + e.what(), 4);
        appState->SetToast("Colorization failed", 3);
        return;
    }
    colorizer_ = make_ ? make_() : std::make_shared<ColorizerSDK>();
    task_.Launch(*appState, [colorizer = colorizer_, inputs = std::move(inputs), state = appState] {
        RunColorizationTask(*colorizer, inputs, state);
    });
}

void ColorizerPanel::DrawColorizerPanel(const std::shared_ptr<AppState>& appState) {
    const bool running = Running();

    ImGui::BeginDisabled(running);
    const auto pickFolder = [](const std::filesystem::path& current, std::filesystem::path& chosen) {
        return platform::FileDialogs().PickFolder(current, chosen);
    };
    PathRow("Select point cloud folder", "##pointCloudFolder", Buffer(kPointCloudFolder), pickFolder);
    PathRow("Select image folder", "##imageFolder", Buffer(kImageFolder), pickFolder);
    PathRow("Select QEXT file", "##qextFile", Buffer(kQextFile),
            [](const std::filesystem::path& current, std::filesystem::path& chosen) {
                return platform::FileDialogs().OpenFile({{"QEXT", "qext"}}, current, chosen);
            });
    PathRow("Select output folder", "##outputFolder", Buffer(kOutputFolder), pickFolder);
    PathRow("Select sync file (optional)", "##syncFile", Buffer(kSyncFile),
            [](const std::filesystem::path& current, std::filesystem::path& chosen) {
                return platform::FileDialogs().OpenFile({}, current, chosen);
            });
    ImGui::Separator();
    ImGui::EndDisabled();

    ImGui::BeginDisabled(!ButtonEnabled(*appState));
    if (ImGui::Button(ButtonLabel())) PressButton(appState);
    ImGui::EndDisabled();
}

}  // namespace orbel::studio::gui
