// The 3D view panel: frame intake, scene updates, input, rendering, overlays and export.
#include "views/View3DPanel.h"

#include <epoxy/gl.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <exception>
#include <filesystem>
#include <variant>

#include "app/GuiUtilities.h"
#include "app/Logging.h"
#include "app/ToggleSwitch.h"
#include "views/LidarCloud.h"
#include "views/LidarImage.h"
#include "views/ViewExport.h"
#include "views/ViewOverlays.h"
#include "views/ZoneOverlay.h"

namespace orbel::studio::gui {
namespace {

constexpr float kButtonSide = 50.0f;
constexpr int kInfoLevel = 2;
constexpr int kWarningLevel = 3;
constexpr int kErrorLevel = 4;
constexpr const char* kRingNames[3] = {"cloud_rotation_ring_x", "cloud_rotation_ring_y", "cloud_rotation_ring_z"};

// Writes the gizmo's new transform back with one atomic store per value.
void StoreCloudTransform(ViewerConfig& config, const CloudTransform& t) {
    config.cloud_offset_x_meters.exchange(t.offsetMetres.x);
    config.cloud_offset_y_meters.exchange(t.offsetMetres.y);
    config.cloud_offset_z_meters.exchange(t.offsetMetres.z);
    config.cloud_roll_degrees.exchange(t.rollDegrees);
    config.cloud_pitch_degrees.exchange(t.pitchDegrees);
    config.cloud_yaw_degrees.exchange(t.yawDegrees);
}

bool MouseValid(const ImGuiIO& io) { return ImGui::IsMousePosValid(&io.MousePos); }

}  // namespace

View3DPanel::View3DPanel() { camera_.Reset(); }

void View3DPanel::Consume(std::shared_ptr<FrameData> frame) { frames_.PushBounded(std::move(frame), kMaxQueuedFrames); }

void View3DPanel::Consume(std::shared_ptr<AppAction> action) {
    actions_.PushBounded(std::move(action), kMaxQueuedActions);
}

void View3DPanel::ClearView(const AppAction& clear) {
    renderer_.ClearScene();
    zoneMeshes_.Invalidate();
    zoneEditor_.RemoveSnapPreview(renderer_);
    pickPositions_.clear();
    if (current_ && MadeBefore(*current_, clear)) {
        current_.reset();
    }
    frames_.RemoveIf([&clear](const std::shared_ptr<FrameData>& frame) { return !frame || MadeBefore(*frame, clear); });
    rebuild_ = true;
    ringsShown_ = false;
}

void View3DPanel::RebuildLidar(const ViewerConfig& config) {
    SceneObject object;
    BuildLidarObject(*current_, config, object, pickPositions_);
    renderer_.AddObject("lidar", std::move(object));
}

void View3DPanel::UpdateRotationRings(const ViewerConfig& config) {
    if (config.cloud_transform_mode.load() != 2) {
        if (ringsShown_) {
            for (const char* name : kRingNames) {
                renderer_.RemoveObject(name);
            }
            ringsShown_ = false;
        }
        return;
    }
    const Vec3 offset = ReadCloudTransform(config).offsetMetres;
    if (ringsShown_ && offset.x == ringOffset_.x && offset.y == ringOffset_.y && offset.z == ringOffset_.z &&
        gizmo_.Hovered() == ringHovered_ && gizmo_.DraggedRing() == ringDragged_) {
        return;
    }
    auto rings = gizmo_.RingObjects(offset);
    for (int i = 0; i < 3; ++i) {
        renderer_.AddObject(kRingNames[i], std::move(rings[static_cast<std::size_t>(i)]));
    }
    ringsShown_ = true;
    ringOffset_ = offset;
    ringHovered_ = gizmo_.Hovered();
    ringDragged_ = gizmo_.DraggedRing();
}

void View3DPanel::UpdateScene(const std::shared_ptr<AppState>& appState) {
    if (!appState || !appState->viewerConfig) {
        return;
    }
    config_ = appState->viewerConfig;
    const ViewerConfig& config = *config_;

    bool configChanged = false;
    if (auto action = actions_.TryPop(); action && *action) {
        const AppAction& a = **action;
        if (a.Is(AppActionType::ClearViews)) {
            ClearView(a);
        } else if (a.Is(AppActionType::ResetView3DCamera)) {
            ResetCamera();
        } else if (a.Is(AppActionType::Export3DView)) {
            std::string path;
            if (a.payload.index() == payload_index::kText) {
                path = std::get<std::string>(a.payload);
            }
            ExportPng(path, *appState);
        } else if (a.Is(AppActionType::ViewerConfigChanged)) {
            configChanged = true;
        }
    }

    if (config.show_origin.load()) {
        renderer_.AddAxes(1000.0f);
    } else {
        renderer_.RemoveAxes();
    }
    if (config.show_grid.load()) {
        renderer_.AddRangeCircles();
    } else {
        renderer_.RemoveRangeCircles();
    }
    UpdateRotationRings(config);
    if (appState->zoneEditorState) {
        zoneMeshes_.Sync(*appState->zoneEditorState, renderer_);
    }

    std::shared_ptr<FrameData> newest;
    while (auto frame = frames_.TryPop()) {
        newest = std::move(*frame);
    }
    if (newest) {
        current_ = std::move(newest);
        RebuildLidar(config);
        rebuild_ = false;
    } else if (current_ && (configChanged || rebuild_)) {
        RebuildLidar(config);
        rebuild_ = false;
    }
}

void View3DPanel::Render(float width, float height, const ViewerConfig& config) {
    const Mat4 mvp = RenderProjection(width, height) * camera_.ViewMatrix();
    renderer_.Render(width, height, mvp,
                     Vec3{config.background_color_r, config.background_color_g, config.background_color_b});
}

void View3DPanel::ExportPng(std::string& path, AppState& appState) {
    if (renderer_.Framebuffer() == 0 || renderer_.ColorTexture() == 0) {
        Log("3D rendering: nothing to export", kWarningLevel);
        appState.SetToast("Nothing to export", 2);
        return;
    }
    try {
        if (path.empty()) {
            path = NewScreenshotPath("3d").string();
        }
        const int width = renderer_.FramebufferWidth();
        const int height = renderer_.FramebufferHeight();
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
        GLint packAlignment = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glBindTexture(GL_TEXTURE_2D, renderer_.ColorTexture());
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
        glBindTexture(GL_TEXTURE_2D, 0);
        glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
        if (WritePngBottomUp(path, width, height, 4, pixels)) {
            Log("3D rendering: File saved to " + path, kInfoLevel);
            appState.SetToast("3D view exported", 1);
            return;
        }
        Log("3D rendering failed to write " + path, kErrorLevel);
    } catch (const std::exception& e) {
        Log(std::string("3D rendering failed to write ") + (path.empty() ? "a screenshot" : path) + ": " + e.what(),
            kErrorLevel);
    }
    appState.SetToast("3D view export failed", 3);
}

void View3DPanel::DrawToolbar(ZoneEditorState* zones, Vec2 origin) {
    if (zones == nullptr) {
        toolbarSize_ = {};
        return;
    }
    ImDrawList* drawList = ImGui::GetWindowDrawList();
    drawList->ChannelsSplit(2);
    drawList->ChannelsSetCurrent(1);
    ImGui::SetCursorScreenPos(ToImVec(origin + Vec2{10.0f, 10.0f}));
    ImGui::BeginGroup();
    bool editing = zones->editing;
    if (ToggleSwitch("Edit zones", &editing)) {
        ZoneEditor::SetEditing(*zones, editing);
    }
    if (zones->editing) {
        ImGui::SameLine();
        if (ImGui::SmallButton("New zone")) {
            ZoneEditor::NewZone(*zones);
        }
        if (zones->zones.size() > 1) {
            ImGui::SameLine();
            ImGui::SetNextItemWidth(120.0f);
            const std::string current = zones->selectedZone >= 0 &&
                                                static_cast<std::size_t>(zones->selectedZone) < zones->zones.size()
                                            ? zones->workingZone.name
                                            : std::string();
            if (ImGui::BeginCombo("##zoneSelect", current.c_str())) {
                for (std::size_t i = 0; i < zones->zones.size(); ++i) {
                    const bool selected = static_cast<int>(i) == zones->selectedZone;
                    const std::string label = zones->zones[i].name + "##zone" + std::to_string(i);
                    if (ImGui::Selectable(label.c_str(), selected) && !selected) {
                        ZoneEditor::SelectZone(*zones, static_cast<int>(i));
                    }
                }
                ImGui::EndCombo();
            }
        }
        ImGui::SameLine();
        if (ImGui::SmallButton("Delete zone")) {
            ZoneEditor::DeleteSelectedZone(*zones);
        }
        // A button on the same line, greyed out unless `enabled`; true when clicked.
        const auto button = [](const char* label, bool enabled) {
            ImGui::BeginDisabled(!enabled);
            ImGui::SameLine();
            const bool clicked = ImGui::SmallButton(label);
            ImGui::EndDisabled();
            return clicked;
        };
        const bool cornerSelected = zones->selectedCorner >= 0 && !zones->wholeZoneSelected;
        if (button("Delete corner", cornerSelected && zones->workingZone.corners.size() > 3)) {
            ZoneEditor::DeleteSelectedCorner(*zones);
        }
        if (button("Snap to point", cornerSelected)) {
            ZoneEditor::EnterPickMode(*zones);
        }
        if (button("Undo", !zones->undo.empty())) {
            ZoneEditor::Undo(*zones);
        }
        if (button("Redo", !zones->redo.empty())) {
            ZoneEditor::Redo(*zones);
        }
    }
    ImGui::EndGroup();
    const Vec2 min = ToVec2(ImGui::GetItemRectMin());
    const Vec2 max = ToVec2(ImGui::GetItemRectMax());
    drawList->ChannelsSetCurrent(0);
    drawList->AddRectFilled(ToImVec(min - Vec2{6.0f, 4.0f}), ToImVec(max + Vec2{6.0f, 4.0f}),
                            IM_COL32(18, 22, 28, 190), 6.0f);
    drawList->ChannelsMerge();
    toolbarMin_ = min - Vec2{6.0f, 4.0f};
    toolbarSize_ = (max - min) + Vec2{12.0f, 8.0f};
}

void View3DPanel::DrawView3DPanel(const std::shared_ptr<AppState>& appState) {
    renderer_.InitGL();
    // No background of its own: the rendered picture covers the whole region anyway.
    ImGui::BeginChild("View3D", ImVec2(0.0f, 0.0f), false,
                      ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                          ImGuiWindowFlags_NoBackground);
    const ImVec2 available = ImGui::GetContentRegionAvail();
    if (available.x < 1.0f || available.y < 1.0f || !appState || !appState->viewerConfig) {
        ImGui::EndChild();
        return;
    }
    const ImGuiIO& io = ImGui::GetIO();
    const Vec2 a = ToVec2(available);
    const Vec2 origin = ToVec2(ImGui::GetCursorScreenPos());
    const Vec2 mouse = ToVec2(io.MousePos);
    const bool mouseValid = MouseValid(io);
    const Vec2 resetMin = origin + Vec2{a.x - 118.0f, a.y - 60.0f};
    const Vec2 exportMin = origin + Vec2{a.x - 60.0f, a.y - 60.0f};
    const Vec2 buttonSize{kButtonSide, kButtonSide};
    const bool onReset = mouseValid && Inside(mouse, resetMin, buttonSize);
    const bool onExport = mouseValid && Inside(mouse, exportMin, buttonSize);
    const bool onToolbar = mouseValid && Inside(mouse, toolbarMin_, toolbarSize_);
    const bool onButtons = onReset || onExport || onToolbar;
    const bool leftClicked = ImGui::IsMouseClicked(ImGuiMouseButton_Left);
    const bool resetRequested = leftClicked && onReset;
    const bool exportRequested = leftClicked && onExport && !onReset;

    ImGui::InvisibleButton("viewport", available,
                           ImGuiButtonFlags_MouseButtonLeft | ImGuiButtonFlags_MouseButtonRight |
                               ImGuiButtonFlags_AllowItemOverlap);
    ImGui::SetItemAllowOverlap();
    const Vec2 rectMin = ToVec2(ImGui::GetItemRectMin());
    const Vec2 rectMax = ToVec2(ImGui::GetItemRectMax());
    const bool hovered = ImGui::IsItemHovered() && !onButtons;
    const bool active = ImGui::IsItemActive();

    UpdateScene(appState);
    ViewerConfig& config = *appState->viewerConfig;
    ZoneEditorState* zones = appState->zoneEditorState.get();

    // Gizmo, then zone editor, then camera: whoever takes the mouse first keeps it.
    const Mat4 projection = OverlayProjection(a.x, a.y);
    Mat4 view = camera_.ViewMatrix();
    Mat4 mvp = projection * view;
    GizmoInput gizmoInput;
    gizmoInput.mouse = mouse;
    gizmoInput.mouseValid = mouseValid;
    gizmoInput.leftDown = ImGui::IsMouseDown(ImGuiMouseButton_Left);
    gizmoInput.leftClicked = leftClicked && hovered;
    CloudTransform transform = ReadCloudTransform(config);
    const GizmoResult gizmo = gizmo_.Update(config.cloud_transform_mode.load(), gizmoInput, transform, mvp, rectMin, rectMax);
    if (gizmo.moved) {
        StoreCloudTransform(config, transform);
    }
    if (gizmo.handCursor) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }

    bool zoneTook = false;
    ZoneInput zoneInput;
    zoneInput.mouse = mouse;
    zoneInput.mouseValid = mouseValid;
    zoneInput.imageHovered = hovered;
    zoneInput.leftClicked = leftClicked && hovered && !gizmo.tookMouse;
    zoneInput.rightClicked = ImGui::IsMouseClicked(ImGuiMouseButton_Right) && hovered;
    zoneInput.leftDown = gizmoInput.leftDown;
    if (zones != nullptr) {
        zoneTook = zoneEditor_.HandleZoneInput(*zones, appState.get(), zoneInput,
                                               ZoneView{view, projection, rectMin, rectMax, pickPositions_});
    }

    CameraInput cameraInput;
    cameraInput.mouse = mouse;
    cameraInput.mouseValid = mouseValid;
    cameraInput.itemHovered = hovered;
    cameraInput.itemActive = active;
    cameraInput.leftClicked = leftClicked && hovered;
    cameraInput.leftDown = gizmoInput.leftDown;
    cameraInput.rightDown = ImGui::IsMouseDown(ImGuiMouseButton_Right);
    cameraInput.wheel = io.MouseWheel;
    cameraInput.captured = gizmo.tookMouse || zoneTook || onButtons;
    camera_.HandleInput(cameraInput, mvp, rectMin, rectMax, pickPositions_);

    view = camera_.ViewMatrix();
    mvp = projection * view;
    if (zones != nullptr && zones->editing) {
        zoneEditor_.UpdateSnapPreview(*zones, zoneInput, ZoneView{view, projection, rectMin, rectMax, pickPositions_},
                                      config.point_size.load(), renderer_);
    } else {
        zoneEditor_.RemoveSnapPreview(renderer_);
    }
    if (gizmo.moved) {
        // Rebuilt at once, channel colours included, so the cloud follows the mouse.
        if (current_) {
            RebuildLidar(config);
        }
        rebuild_ = false;
        UpdateRotationRings(config);
    } else if (config.cloud_transform_mode.load() == 2) {
        UpdateRotationRings(config);  // hover colours
    }

    Render(a.x, a.y, config);

    ImDrawList* drawList = ImGui::GetWindowDrawList();
    drawList->AddImage(ToTextureId(renderer_.ColorTexture()), ToImVec(rectMin), ToImVec(rectMax), ImVec2(0.0f, 1.0f),
                       ImVec2(1.0f, 0.0f));
    if (zones != nullptr) {
        DrawZoneLabels(*zones, drawList, mvp, rectMin, rectMax);
        DrawEditorOverlay(*zones, drawList, mvp, rectMin, rectMax, mouse);
    }
    if (config.cloud_transform_mode.load() == 1) {
        DrawArrowGizmo(drawList, ReadCloudTransform(config).offsetMetres, kGizmoAxisLengthMetres, mvp, rectMin,
                       rectMax, gizmo_.Hovered(), gizmo_.DraggedAxis());
    }

    DrawToolbar(zones, origin);

    const int firstVertex = drawList->VtxBuffer.Size;
    ImGui::SetCursorScreenPos(ToImVec(resetMin));
    IconButton("##resetBtn", 1, ToImVec(buttonSize));
    ImGui::SetCursorScreenPos(ToImVec(exportMin));
    IconButton("##cameraBtn", 0, ToImVec(buttonSize));
    const Vec2 fadeCentre{(resetMin.x + exportMin.x) / 2.0f + kButtonSide / 2.0f, resetMin.y + kButtonSide / 2.0f};
    FadeVertices(drawList, firstVertex, mouseValid ? FadeAlpha(mouse, fadeCentre) : 0.0f);

    if (resetRequested) {
        ResetCamera();
    }
    if (exportRequested) {
        std::string path;
        ExportPng(path, *appState);
    }
    ImGui::EndChild();
}

}  // namespace orbel::studio::gui
