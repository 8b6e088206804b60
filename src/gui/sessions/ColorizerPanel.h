// The colorizer panel: the user picks the inputs of an offline colorization (point-cloud
// folder, image folder, QEXT file, optional sync file, output folder), starts it as a
// background task, follows its progress in the main layout's progress bar and may ask it
// to stop. An output folder typed as a relative path is taken in the user's home folder
// when the run starts, and the log names the absolute folder written. The decisions (what
// is enabled, the button's text, what the task reports) are the plain functions and
// ColorizerPanel's non-drawing members; DrawColorizerPanel draws.
//
// Contract: GUI thread only, except the task, which runs on its own thread (std::async)
// and shares with the GUI thread only the run's stop flag, AppState's progress fraction
// and text and its pending toast (all safe to touch from any thread). The task's future
// lives in AppState's processing slot, which the converter panel shares: the panel shows
// and stops only its own run, and while the other panel's task holds the slot nothing can
// be started here. The task lets go of the AppState as it ends (see ProcessingTask); the
// panel's destructor asks a running colorization to stop and waits for it, so a panel that
// goes before its AppState (as AppPanels' members do) never leaves the task the
// AppState's last owner.
#pragma once

#include <array>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/AppState.h"
#include "sessions/ColorizerSDK.h"
#include "sessions/ProcessingTask.h"

namespace orbel::studio::gui {

// "Colorizing <done>/<total>"; the run reports percentages, so "Colorizing 42/100".
std::string ColorizationProgressText(size_t done, size_t total);

// Stores a progress report in AppState (nothing for total 0).
void ReportColorizationProgress(AppState& appState, size_t done, size_t total);

// The inputs of one run, as the panel's text fields hold them.
struct ColorizationInputs {
    std::filesystem::path pointCloudFolder;
    std::filesystem::path imageFolder;
    std::filesystem::path qextFile;
    std::filesystem::path syncFile;  // empty: time stamps
    std::filesystem::path outputFolder;
};

// The toast at the end of a run that was not stopped: "Colorization completed: 20 frames
// coloured, 1 image skipped" (see DescribeColorization), or "Colorization failed: " + why.
std::string ColorizationEndText(ColorizeOutcome outcome, const ColorizeSummary& summary);

// The background task: runs the colorization and tells the user how it ended: no toast
// after a stop, ColorizationEndText otherwise, at level 1 when it went through and level 3
// when it ended early, coloured nothing or threw.
void RunColorizationTask(ColorizerSDK& colorizer, const ColorizationInputs& inputs,
                         const std::shared_ptr<AppState>& appState);

class ColorizerPanel {
public:
    static constexpr size_t kBufferSize = 1024;
    enum Field { kPointCloudFolder, kImageFolder, kQextFile, kSyncFile, kOutputFolder, kFieldCount };

    using ColorizerMaker = std::function<std::shared_ptr<ColorizerSDK>()>;

    // Each start makes a new ColorizerSDK, with `make` when given (tests), else a default one.
    explicit ColorizerPanel(ColorizerMaker make = nullptr) : make_(std::move(make)) {}
    // Asks a running colorization to stop and waits for it (it stops before its next file).
    ~ColorizerPanel();
    ColorizerPanel(const ColorizerPanel&) = delete;
    ColorizerPanel& operator=(const ColorizerPanel&) = delete;

    // Once per frame on the GUI thread, inside the window that holds the panel.
    void DrawColorizerPanel(const std::shared_ptr<AppState>& appState);

    // This panel's colorization has been started and has not ended.
    bool Running() const { return task_.Running(); }
    // The start/stop button can be pressed: to stop this panel's run, or to start one when
    // the slot is free and every field but the sync file holds a path.
    bool ButtonEnabled(const AppState& appState) const;
    // "Stop colorization" while running, "Start colorization" otherwise.
    const char* ButtonLabel() const;
    // What the button does: stops the run (toast "Colorization stop requested", level 0),
    // or starts one with the fields' paths. Ignored while the button is disabled.
    void PressButton(const std::shared_ptr<AppState>& appState);

    char* Buffer(Field field) { return buffers_[field].data(); }
    ColorizationInputs Inputs() const;

private:
    ColorizerMaker make_;
    std::array<std::array<char, kBufferSize>, kFieldCount> buffers_{};
    std::shared_ptr<ColorizerSDK> colorizer_;
    ProcessingTask task_;  // last member: going first, it waits for the task
};

}  // namespace orbel::studio::gui
