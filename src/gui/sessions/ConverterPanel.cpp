// The converter panel's decisions, its conversion task and its drawing (Dear ImGui 1.86).
#include "sessions/ConverterPanel.h"

#include <cfloat>

#include <fmt/format.h>
#include <imgui.h>
#include <imgui_stdlib.h>

#include "app/Logging.h"
#include "platform/FileDialog.h"
#include "sessions/Converters.h"

namespace orbel::studio::gui {

namespace fs = std::filesystem;

ConverterPanel::~ConverterPanel() {
    // The task waits in task_'s destructor; it stops before its next file.
    cancel_->store(true);
}

const std::array<std::string, 3>& ConverterPanel::FormatLabels() {
    static const std::array<std::string, 3> kLabels{"PLY", "PCD", "CSV"};
    return kLabels;
}

FileType ConverterPanel::FormatType(int formatIndex) {
    static constexpr FileType kTypes[] = {FileType::Ply, FileType::Pcd, FileType::Csv};
    return formatIndex >= 0 && formatIndex < 3 ? kTypes[formatIndex] : FileType::Unknown;
}

bool ConverterPanel::ButtonEnabled(const AppState& state) const {
    if (ConversionRunning()) {
        return true;
    }
    return !inputFolder_.empty() && !outputFolder_.empty() && !task_.SlotTakenByOther(state);
}

const char* ConverterPanel::ButtonLabel() const { return ConversionRunning() ? "Stop conversion" : "Start conversion"; }

void ConverterPanel::PressButton(const std::shared_ptr<AppState>& state) {
    if (!ButtonEnabled(*state)) {
        return;
    }
    if (ConversionRunning()) {
        cancel_->store(true);
        Log("[Converter] Conversion stop requested by user", log_level::kInfo);
        state->SetToast("Conversion stop requested", 0);
        return;
    }
    Start(state);
}

void ConverterPanel::Start(const std::shared_ptr<AppState>& state) {
    // A fresh flag per run: a stop meant for an earlier run never reaches this one.
    cancel_ = std::make_shared<std::atomic<bool>>(false);
    try {
        // A relative output folder goes under the home folder, decided once, here.
        fs::path output = ResolveOutputFolder(outputFolder_);
        // Replacing a finished future does not wait; the slot's earlier task has ended.
        task_.Launch(*state, [state, cancel = cancel_, input = fs::path(inputFolder_), output = std::move(output),
                              format = formatIndex_] { RunConversion(state, cancel, input, output, format); });
    } catch (const std::exception& e) {
        Log(std::string("[Converter]Failed to start conversion: ") + e.what(), log_level::kError);
        state->SetToast("Failed to start conversion", 3);
    }
}

void RunConversion(const std::shared_ptr<AppState>& state, const std::shared_ptr<std::atomic<bool>>& cancel,
                   const fs::path& input, const fs::path& output, int formatIndex) {
    std::error_code error;
    if (!fs::exists(input, error)) {
        Log("[Converter] Input path does not exist", log_level::kError);
        state->SetToast("Input path does not exist", 3);
        return;
    }
    const std::string label = formatIndex >= 0 && formatIndex < 3 ? ConverterPanel::FormatLabels()[formatIndex] : "?";
    try {
        const ConversionResult result = ConvertFolder(
            cancel, input, output, ConverterPanel::FormatType(formatIndex), [&state, &label](size_t done, size_t total) {
                if (total == 0) {
                    return;
                }
                state->SetProgressText(fmt::format("Converting to {}: {}/{}", label, done, total));
                state->progressFraction.exchange(static_cast<float>(done) / static_cast<float>(total));
            });
        if (result.cancelled) {
            Log(fmt::format("[Converter] Conversion stopped after {} of {} files", result.converted + result.failed,
                            result.total),
                log_level::kInfo);
        } else if (result.converted == 0) {
            Log(fmt::format("Failed to convert data: none of the {} QPC files could be converted", result.total),
                log_level::kError);
            state->SetToast("Failed to convert data", 3);
        } else if (result.failed > 0) {
            const std::string text =
                fmt::format("Conversion completed: {} of {} files failed", result.failed, result.total);
            Log("[Converter] " + text, log_level::kWarning);
            state->SetToast(text, 2);
        } else {
            Log("[Converter] Conversion completed successfully", log_level::kInfo);
            state->SetToast("Conversion completed", 1);
        }
    } catch (const std::exception& e) {
        Log(std::string("Failed to convert data: ") + e.what(), log_level::kError);
        state->SetToast("Failed to convert data", 3);
    }
}

void ConverterPanel::DrawConverterPanel(std::shared_ptr<AppState> state) {
    const bool running = ConversionRunning();
    ImGui::PushID(this);

    ImGui::BeginDisabled(running);
    if (ImGui::Button("Select input folder")) {
        platform::PickFolderInto(inputFolder_);
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::InputText("##input", &inputFolder_);
    ImGui::Dummy(ImVec2(0.0f, 4.0f));
    if (ImGui::Button("Select output folder")) {
        platform::PickFolderInto(outputFolder_);
    }
    ImGui::SetNextItemWidth(-FLT_MIN);
    ImGui::InputText("##output", &outputFolder_);
    ImGui::Dummy(ImVec2(0.0f, 4.0f));
    ImGui::SetNextItemWidth(120.0f);
    const char* labels[] = {FormatLabels()[0].c_str(), FormatLabels()[1].c_str(), FormatLabels()[2].c_str()};
    ImGui::Combo("Format", &formatIndex_, labels, 3);
    ImGui::EndDisabled();

    ImGui::BeginDisabled(!ButtonEnabled(*state));
    if (ImGui::Button(ButtonLabel())) {
        PressButton(state);
    }
    ImGui::EndDisabled();
    ImGui::PopID();
}

}  // namespace orbel::studio::gui
