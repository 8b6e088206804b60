// The main layout's geometry, splitters, progress bar and toast (Dear ImGui 1.86).
#include "app/MainLayout.h"

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>

#include "app/GuiUtilities.h"

namespace orbel::studio::gui {
namespace {

constexpr ImGuiWindowFlags kRegionFlags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;
const ImVec4 kSplitterColor(0.3f, 0.3f, 0.3f, 1.0f);

// A child region of the centre, of the given size. ImGui reads a zero size as "fill the rest",
// so a region that has no room is left out instead. It draws no background of its own: the
// centre's is already there, and a second fill of most of the screen is a large share of a
// frame under a software renderer.
template <typename Draw>
void Region(const char* id, ImVec2 size, Draw&& draw) {
    if (!(size.x > 0.0f) || !(size.y > 0.0f)) {
        return;
    }
    if (ImGui::BeginChild(id, size, false, kRegionFlags | ImGuiWindowFlags_NoBackground)) {
        draw();
    }
    ImGui::EndChild();
}

// A column separator: a full-height strip that collapses or opens its column.
bool ColumnSeparator(const char* id, const char* arrow) {
    const ImVec2 topLeft = ImGui::GetCursorScreenPos();
    const float height = ImGui::GetContentRegionAvail().y;
    const ImVec2 size(LayoutSizes::kSeparatorWidth, std::max(height, 1.0f));
    const bool clicked = ImGui::InvisibleButton(id, size);
    const bool hovered = ImGui::IsItemHovered();
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 bottomRight(topLeft.x + size.x, topLeft.y + size.y);
    draw->AddRectFilled(topLeft, bottomRight, ImGui::GetColorU32(hovered ? kAccentColor : kSplitterColor));
    const ImVec2 text = ImGui::CalcTextSize(arrow);
    draw->AddText(ImVec2(topLeft.x + (size.x - text.x) * 0.5f, topLeft.y + (size.y - text.y) * 0.5f),
                  IM_COL32(255, 255, 255, 200), arrow);
    if (hovered) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    return clicked;
}

// A splitter strip; returns the mouse movement of this frame while it is dragged.
ImVec2 Splitter(const char* id, ImVec2 size, ImGuiMouseCursor cursor) {
    const ImVec2 topLeft = ImGui::GetCursorScreenPos();
    ImGui::InvisibleButton(id, ImVec2(std::max(size.x, 1.0f), std::max(size.y, 1.0f)));
    const bool hovered = ImGui::IsItemHovered();
    const bool active = ImGui::IsItemActive();
    ImGui::GetWindowDrawList()->AddRectFilled(topLeft, ImVec2(topLeft.x + size.x, topLeft.y + size.y),
                                              ImGui::GetColorU32(hovered || active ? kAccentColor : kSplitterColor));
    if (hovered || active) {
        ImGui::SetMouseCursor(cursor);
    }
    return active ? ImGui::GetIO().MouseDelta : ImVec2(0.0f, 0.0f);
}

}  // namespace

float CentreWidth(float availableWidth, bool leftCollapsed, bool rightCollapsed) {
    const float left = leftCollapsed ? 0.0f : LayoutSizes::kColumnWidth;
    const float right = rightCollapsed ? 0.0f : LayoutSizes::kColumnWidth;
    return availableWidth - left - right - 32.0f - 16.0f;
}

float ProcessingPanelHeight(float availableHeight) {
    return std::max(LayoutSizes::kMinProcessingHeight, availableHeight - LayoutSizes::kSensorPanelHeight -
                                                           LayoutSizes::kSessionPanelHeight - 70.0f + 6.0f);
}

float LeftColumnSpacer(float availableHeight, float processingHeight) {
    return std::max(0.0f, availableHeight - (processingHeight + 560.0f) - 70.0f + 6.0f);
}

CentreGeometry ComputeCentre(bool show2D, bool showCamera, bool cameraAbove, float scaleFactor, float splitRatio,
                             float availableWidth, float availableHeight) {
    CentreGeometry geometry;
    const bool cameraBelow = showCamera && !cameraAbove;
    const float rowHeight = scaleFactor * 56.0f;
    geometry.view2DHeight = show2D ? rowHeight : 0.0f;
    geometry.bottomRowHeight = show2D || cameraBelow ? rowHeight : 0.0f;
    const bool hasRow = show2D || cameraBelow;
    geometry.view3DHeight =
        availableHeight - (hasRow ? geometry.bottomRowHeight + LayoutSizes::kSplitterThickness : 0.0f) - 4.0f;
    geometry.view3DWidth = availableWidth;
    if (cameraBelow && !show2D) {
        geometry.cameraWidth = availableWidth;
    } else if (showCamera) {
        const float shared = availableWidth - LayoutSizes::kSplitterThickness;
        geometry.view3DWidth = shared * splitRatio;
        geometry.cameraWidth = (1.0f - splitRatio) * shared;
    }
    return geometry;
}

float DragScaleFactor(float scaleFactor, float mouseDeltaY) {
    return std::clamp(scaleFactor - mouseDeltaY / 100.0f, kMinScaleFactor, kMaxScaleFactor);
}

float DragSplitRatio(float splitRatio, float mouseDeltaX, float availableWidth) {
    if (!(availableWidth > 0.0f)) {
        return std::clamp(splitRatio, kMinCameraSplitRatio, kMaxCameraSplitRatio);
    }
    return std::clamp(splitRatio + mouseDeltaX / availableWidth, kMinCameraSplitRatio, kMaxCameraSplitRatio);
}

ProgressDisplayStep AdvanceProgressDisplay(AppState& state, bool taskRunning, bool& taskRunningBefore,
                                           float frameSeconds) {
    ProgressDisplayStep step;
    if (taskRunning && !taskRunningBefore) {
        state.progressVisible = true;
        state.progressHideTimer = 0.0f;
    }
    taskRunningBefore = taskRunning;
    if (state.progressVisible) {
        state.progressOpacity = std::min(1.0f, state.progressOpacity + 1.5f * frameSeconds);
        if (!taskRunning) {
            state.progressHideTimer += frameSeconds;
            if (state.progressHideTimer >= 3.0f) {
                state.progressVisible = false;
                // A later progress update gets its full 3 s again.
                state.progressHideTimer = 0.0f;
                step.hideNow = true;
            }
        }
    } else {
        state.progressOpacity = std::max(0.0f, state.progressOpacity - 1.5f * frameSeconds);
    }
    state.progressComplete = !taskRunning;
    return step;
}

FrameDemand LayoutFrameDemand(const AppState& state) {
    FrameDemand demand;
    if (state.busy) {
        demand = demand.With(FrameDemand::Animation());
    }
    if (const std::optional<ToastMessage> toast = state.PendingToast()) {
        const double steadyUntil = static_cast<double>(toast->duration) - 0.5;
        if (toast->elapsed < 0.3f || toast->elapsed >= steadyUntil) {
            demand = demand.With(FrameDemand::Animation());
        } else {
            demand = demand.With(FrameDemand::ChangeIn(steadyUntil - toast->elapsed));
        }
    }
    bool taskRunning = false;
    for (std::size_t slot = 0; slot < AppState::kTaskSlotCount; ++slot) {
        taskRunning = taskRunning || state.IsTaskRunning(slot);
    }
    const bool sliding = state.progressVisible ? state.progressOpacity < 1.0f : state.progressOpacity > 0.0f;
    if (sliding) {
        demand = demand.With(FrameDemand::Animation());
    } else if (state.progressVisible && state.progressComplete) {
        // The hide timer runs; while a task runs, the watch below sees it end.
        demand = demand.With(FrameDemand::ChangeIn(std::max(0.0, 3.0 - state.progressHideTimer)));
    }
    if (state.connected) {
        demand = demand.With(FrameDemand::ChangeIn(kPulseStepSeconds));
    }
    if (taskRunning || state.streaming || state.replaying) {
        demand = demand.With(FrameDemand::ChangeIn(kWorkerWatchSeconds));
    }
    return demand;
}

float ToastOpacity(float elapsed, float duration) {
    float opacity = 1.0f;
    if (elapsed < 0.3f) {
        opacity = elapsed / 0.3f;
    } else if (elapsed > duration - 0.5f) {
        opacity = (duration - elapsed) * 2.0f;
    }
    return std::clamp(opacity, 0.0f, 1.0f);
}

void MainLayout::Draw(AppState& state, AppPanels& panels, plugins::PluginRegistry& plugins, float frameSeconds) {
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    ImGui::SetNextWindowPos(viewport->Pos);
    ImGui::SetNextWindowSize(viewport->Size);
    const ImGuiWindowFlags rootFlags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                       ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoScrollbar |
                                       ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBringToFrontOnFocus;
    ImGui::Begin("Root", nullptr, rootFlags);
    // Only the shown tab of a column that is open is drawn: what the session panels must do
    // whatever is shown (stop a recording whose stream ended, follow the other replay panel)
    // happens here.
    panels.UpdateSessions();
    const float availableWidth = ImGui::GetContentRegionAvail().x;

    if (!leftCollapsed) {
        if (ImGui::BeginChild("LeftColumn", ImVec2(LayoutSizes::kColumnWidth, 0.0f), false, kRegionFlags)) {
            DrawLeftColumn(state, panels, plugins);
        }
        ImGui::EndChild();
        ImGui::SameLine();
    }
    if (ColumnSeparator("##sep_left", leftCollapsed ? ">" : "<")) {
        leftCollapsed = !leftCollapsed;
    }
    ImGui::SameLine();

    const float centreWidth = CentreWidth(availableWidth, leftCollapsed, rightCollapsed);
    if (ImGui::BeginChild("Center", ImVec2(std::max(centreWidth, 1.0f), 0.0f), true, kRegionFlags)) {
        DrawCentre(panels, *state.viewerConfig);
    }
    ImGui::EndChild();
    ImGui::SameLine();

    if (ColumnSeparator("##sep_right", rightCollapsed ? "<" : ">")) {
        rightCollapsed = !rightCollapsed;
    }
    if (!rightCollapsed) {
        ImGui::SameLine();
        if (ImGui::BeginChild("RightColumn", ImVec2(LayoutSizes::kColumnWidth, 0.0f), false, kRegionFlags)) {
            DrawRightColumn(panels);
        }
        ImGui::EndChild();
    }
    ImGui::End();

    DrawToast(state, frameSeconds);
    const bool taskRunning =
        state.IsTaskRunning(AppState::kProcessingTaskSlot) || state.IsTaskRunning(AppState::kWatchedTaskSlot);
    if (AdvanceProgressDisplay(state, taskRunning, taskRunningBefore_, frameSeconds).hideNow) {
        state.SetProgressText("");
    }
}

void MainLayout::DrawLeftColumn(AppState& state, AppPanels& panels, plugins::PluginRegistry& plugins) {
    const float columnHeight = ImGui::GetContentRegionAvail().y;

    if (ImGui::BeginChild("SensorPanel", ImVec2(0.0f, LayoutSizes::kSensorPanelHeight), true)) {
        panels.DrawSensor();
    }
    ImGui::EndChild();

    if (ImGui::BeginChild("SessionPanel", ImVec2(0.0f, LayoutSizes::kSessionPanelHeight), true)) {
        SectionHeader("Session", 4.0f);
        if (ImGui::BeginTabBar("SessionTabs")) {
            if (ImGui::BeginTabItem("Recorder")) {
                panels.DrawRecorder();
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Replay")) {
                panels.DrawLidarReplay();
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Camera Replay")) {
                panels.DrawCameraReplay();
                ImGui::EndTabItem();
            }
            ImGui::EndTabBar();
        }
    }
    ImGui::EndChild();

    const float processingHeight = ProcessingPanelHeight(columnHeight);
    if (ImGui::BeginChild("ProcessingPanel", ImVec2(0.0f, processingHeight), true)) {
        SectionHeader("Toolbox", 4.0f);
        if (ImGui::BeginTabBar("ProcessingTabs")) {
            if (ImGui::BeginTabItem("Converter")) {
                panels.DrawConverter();
                ImGui::EndTabItem();
            }
            if (ImGui::BeginTabItem("Colorizer")) {
                panels.DrawColorizer();
                ImGui::EndTabItem();
            }
            for (const auto& plugin : plugins.Plugins()) {
                if (!plugin->IsHidden() && ImGui::BeginTabItem(plugin->TabName())) {
                    plugin->Draw();
                    ImGui::EndTabItem();
                }
            }
            ImGui::EndTabBar();
        }
    }
    ImGui::EndChild();

    const float spacer = LeftColumnSpacer(columnHeight, processingHeight);
    if (spacer > 0.0f) {
        ImGui::Dummy(ImVec2(0.0f, spacer));
    }
    DrawProgress(state);
}

void MainLayout::DrawProgress(AppState& state) {
    const float opacity = state.progressOpacity;
    const bool shown = opacity > 0.01f;
    if (ImGui::BeginChild("ProgressPanel", ImVec2(0.0f, LayoutSizes::kProgressPanelHeight), shown, kRegionFlags)) {
        if (shown) {
            // Slides in from below as it fades in.
            ImGui::SetCursorPosY(ImGui::GetCursorPosY() + (1.0f - opacity) * LayoutSizes::kProgressPanelHeight);
            ImGui::PushStyleVar(ImGuiStyleVar_Alpha, opacity);
            const std::string text = state.ProgressText();
            ImGui::ProgressBar(state.progressFraction, ImVec2(-1.0f, 0.0f), text.empty() ? nullptr : text.c_str());
            ImGui::PopStyleVar();
        }
    }
    ImGui::EndChild();
}

void MainLayout::DrawCentre(AppPanels& panels, ViewerConfig& config) {
    const ImVec2 available = ImGui::GetContentRegionAvail();
    const bool show2D = config.show_2d_view;
    const bool showCamera = config.show_camera;
    const bool cameraAbove = config.camera_above;
    const CentreGeometry geometry = ComputeCentre(show2D, showCamera, cameraAbove, config.lidar_2d_view_scale_factor,
                                                  config.camera_split_ratio, available.x, available.y);
    const float thickness = LayoutSizes::kSplitterThickness;
    // The regions and splitters meet without gaps: the geometry already counts every pixel.
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(0.0f, 0.0f));

    const auto view3D = [&](float width) {
        Region("Center3D", ImVec2(width, geometry.view3DHeight), [&] { panels.DrawView3D(); });
    };
    const auto camera = [&](const char* splitterId, float height) {
        ImGui::SameLine();
        const ImVec2 drag = Splitter(splitterId, ImVec2(thickness, height), ImGuiMouseCursor_ResizeEW);
        config.camera_split_ratio = DragSplitRatio(config.camera_split_ratio, drag.x, available.x);
        ImGui::SameLine();
        Region("CameraContent", ImVec2(geometry.cameraWidth, height), [&] { panels.DrawCamera(); });
    };
    const auto horizontalSplitter = [&] {
        const ImVec2 drag = Splitter("##hsep_main", ImVec2(available.x, thickness), ImGuiMouseCursor_ResizeNS);
        config.lidar_2d_view_scale_factor = DragScaleFactor(config.lidar_2d_view_scale_factor, drag.y);
    };
    const auto view2D = [&](float width) {
        Region("Center2D", ImVec2(width, geometry.view2DHeight), [&] { panels.DrawView2D(); });
    };

    if (!showCamera || cameraAbove) {
        view3D(geometry.view3DWidth);
        if (showCamera) {
            camera("##vsep_top", geometry.view3DHeight);
        }
        if (show2D) {
            horizontalSplitter();
            view2D(available.x);
        }
    } else {
        view3D(available.x);
        horizontalSplitter();
        if (show2D) {
            view2D(geometry.view3DWidth);
            camera("##vsep_bot", geometry.bottomRowHeight);
        } else {
            Region("CameraContent", ImVec2(geometry.cameraWidth, geometry.bottomRowHeight), [&] { panels.DrawCamera(); });
        }
    }
    ImGui::PopStyleVar();
}

void MainLayout::DrawRightColumn(AppPanels& panels) {
    const float height = ImGui::GetContentRegionAvail().y;
    if (ImGui::BeginChild("RightTop", ImVec2(0.0f, height - LayoutSizes::kLogPanelHeight - 6.0f), true)) {
        panels.DrawViewerConfig();
    }
    ImGui::EndChild();
    if (ImGui::BeginChild("RightBottom", ImVec2(0.0f, LayoutSizes::kLogPanelHeight), true)) {
        panels.DrawLog();
    }
    ImGui::EndChild();
}

void MainLayout::DrawToast(AppState& state, float frameSeconds) {
    const std::optional<ToastMessage> toast = state.AdvanceToast(frameSeconds);
    if (!toast) {
        return;
    }
    const float opacity = ToastOpacity(toast->elapsed, toast->duration);
    const ImGuiViewport* viewport = ImGui::GetMainViewport();
    const ImVec2 workMax(viewport->WorkPos.x + viewport->WorkSize.x, viewport->WorkPos.y);
    ImGui::SetNextWindowPos(ImVec2(workMax.x - 360.0f, viewport->WorkPos.y + 40.0f));
    ImGui::SetNextWindowSize(ImVec2(320.0f, 80.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 10.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(16.0f, 16.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_Alpha, opacity);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoInputs |
                                   ImGuiWindowFlags_NoNav;
    if (ImGui::Begin("##toast", nullptr, flags)) {
        const unsigned icon = toastIcons ? toastIcons(toast->level) : 0u;
        const float iconSize = icon != 0 ? 64.0f : 0.0f;
        if (icon != 0) {
            ImGui::Image(ToTextureId(icon), ImVec2(iconSize, iconSize));
            ImGui::SameLine();
        }
        const float wrapWidth = ImGui::GetContentRegionAvail().x;
        const float textHeight = ImGui::CalcTextSize(toast->text.c_str(), nullptr, false, wrapWidth).y;
        ImGui::SetCursorPosY(ImGui::GetCursorPosY() + (std::max(textHeight, iconSize) - textHeight) * 0.5f);
        ImGui::PushTextWrapPos(0.0f);
        ImGui::TextUnformatted(toast->text.c_str());
        ImGui::PopTextWrapPos();
    }
    ImGui::End();
    ImGui::PopStyleVar(3);
}

}  // namespace orbel::studio::gui
