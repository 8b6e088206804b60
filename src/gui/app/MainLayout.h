// The one-window layout of the main phase: the left column (sensor, session tabs, toolbox
// tabs, progress bar), the centre (3D view, camera view, 2D view with their splitters), the
// right column (viewer settings and log), the two separators that collapse the columns, and
// the toast. The geometry, the splitter drags and the progress and toast timing are plain
// functions below; MainLayout::Draw only draws what they decide.
//
// Contract: GUI thread, once per main-phase frame, inside an ImGui frame.
#pragma once

#include <functional>
#include <optional>

#include <imgui.h>

#include "app/AppPanels.h"
#include "app/AppState.h"
#include "app/FramePacer.h"
#include "app/GuiUtilities.h"
#include "app/PluginRegistry.h"
#include "app/ViewerConfig.h"

namespace orbel::studio::gui {

struct LayoutSizes {
    static constexpr float kColumnWidth = 350.0f;
    static constexpr float kSeparatorWidth = 8.0f;
    static constexpr float kSensorPanelHeight = 310.0f;
    static constexpr float kSessionPanelHeight = 250.0f;
    static constexpr float kProgressPanelHeight = 35.0f;
    static constexpr float kMinProcessingHeight = 300.0f;
    static constexpr float kLogPanelHeight = 200.0f;
    static constexpr float kSplitterThickness = 6.0f;
};

// The centre's width: what is left of the available width after the columns (a collapsed one
// counts 0), the two separators and the spacing (32 + 16).
float CentreWidth(float availableWidth, bool leftCollapsed, bool rightCollapsed);

// The toolbox's height in the left column (at least 300), and the spacer below it that pushes
// the progress bar to the bottom (0 when there is no room).
float ProcessingPanelHeight(float availableHeight);
float LeftColumnSpacer(float availableHeight, float processingHeight);

// The centre's regions for the available size inside "Center". The row below the 3D view
// holds the 2D view and, when placed below, the camera view; a camera view below with the 2D
// view hidden takes the whole row, so it never loses its height.
struct CentreGeometry {
    float view2DHeight = 0.0f;    // 0 while the 2D view is hidden
    float bottomRowHeight = 0.0f;  // 0 while nothing is shown below the 3D view
    float view3DHeight = 0.0f;
    float view3DWidth = 0.0f;   // the split width while the camera view shares a row, else the full width
    float cameraWidth = 0.0f;   // 0 while the camera view is hidden
};
CentreGeometry ComputeCentre(bool show2D, bool showCamera, bool cameraAbove, float scaleFactor, float splitRatio,
                             float availableWidth, float availableHeight);

// The horizontal splitter lowers the 2D view's scale factor by the vertical drag / 100; the
// vertical splitters raise the split ratio by the horizontal drag / the centre's width.
float DragScaleFactor(float scaleFactor, float mouseDeltaY);
float DragSplitRatio(float splitRatio, float mouseDeltaX, float availableWidth);

// The progress bar's fade: visible while a background task runs (and after a progress
// update), hidden 3 s after the last task ended, fading at 1.5 per second either way.
struct ProgressDisplayStep {
    bool hideNow = false;  // the bar was hidden on this step: its text is to be emptied
};
ProgressDisplayStep AdvanceProgressDisplay(AppState& state, bool taskRunning, bool& taskRunningBefore,
                                           float frameSeconds);

// A toast's opacity: fades in over 0.3 s, out over the last 0.5 s.
float ToastOpacity(float elapsed, float duration);

// What the layout shows that changes without input, asked of the frames after one drawn with
// `state`: a toast fading in or out (and the moment its fade-out begins), the progress bar
// sliding or waiting to hide, the busy button's spinner, the connection dot's pulse (a slow
// one, stepped 10 times a second: a frame costs a software renderer tens of milliseconds);
// and while a background task, a stream or a replay runs, a look every 0.1 s at what workers
// change without telling (a task's future turning ready).
inline constexpr double kPulseStepSeconds = 0.1;
inline constexpr double kWorkerWatchSeconds = 0.1;
FrameDemand LayoutFrameDemand(const AppState& state);

class MainLayout {
public:
    // Draws the whole layout and the toast over the full display.
    void Draw(AppState& state, AppPanels& panels, plugins::PluginRegistry& plugins, float frameSeconds);

    bool leftCollapsed = false;
    bool rightCollapsed = false;
    // The texture of a toast level's icon (0: none); tests draw without textures.
    std::function<unsigned(int)> toastIcons = [](int level) { return Resources::Instance().ToastIcon(level); };

private:
    void DrawLeftColumn(AppState& state, AppPanels& panels, plugins::PluginRegistry& plugins);
    void DrawCentre(AppPanels& panels, ViewerConfig& config);
    void DrawRightColumn(AppPanels& panels);
    void DrawProgress(AppState& state);
    void DrawToast(AppState& state, float frameSeconds);

    bool taskRunningBefore_ = false;
};

}  // namespace orbel::studio::gui
