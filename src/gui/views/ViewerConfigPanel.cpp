// The viewer-configuration panel's controls and their effects on the ViewerConfig.
#include "views/ViewerConfigPanel.h"

#include <imgui.h>

#include <algorithm>
#include <string>

#include "app/GuiUtilities.h"
#include "app/ToggleSwitch.h"
#include "views/Colormaps.h"
#include "views/CloudGizmo.h"
#include "views/LidarCloud.h"
#include "views/LidarImage.h"
#include "views/ViewerWidgets.h"

namespace orbel::studio::gui {
namespace {

constexpr float kGap = 0.01f;

void Gap(float height) { ImGui::Dummy(ImVec2(0.0f, height)); }

ColorRgba8 UniformOf(const ViewerConfig& config) {
    auto byte = [](float c) { return static_cast<uint8_t>(std::clamp(c, 0.0f, 1.0f) * 255.0f); };
    return {byte(config.point_color_r), byte(config.point_color_g), byte(config.point_color_b), 255};
}

bool StoreIfDifferent(std::atomic<float>& target, float value) {
    return target.exchange(value) != value;
}

}  // namespace

void ViewerConfigPanel::SetAppContext(const std::shared_ptr<AppContext>& context) {
    dispatcher_ = context ? context->dispatcher : nullptr;
}

void ViewerConfigPanel::Consume(std::shared_ptr<FrameData> frame) {
    frames_.PushBounded(std::move(frame), kMaxQueuedFrames);
}

void ViewerConfigPanel::Consume(std::shared_ptr<AppAction> action) {
    if (action && action->Is(AppActionType::ClearViews)) {
        actions_.Push(std::move(action));
    }
}

void ViewerConfigPanel::Publish(AppActionType type) {
    if (dispatcher_) {
        dispatcher_->Publish(std::make_shared<AppAction>(type, nullptr));
    }
}

void ViewerConfigPanel::ResetConfiguration(ViewerConfig& config) {
    // A fit that ended after the defaults were stored would overwrite them: wait first.
    fit3D_.pending = false;
    fit3D_.Wait();
    fit2D_.pending = false;
    fit2D_.Wait();

    const ViewerConfig defaults;
    config.view3d_min_scalar_value = defaults.view3d_min_scalar_value.load();
    config.view3d_max_scalar_value = defaults.view3d_max_scalar_value.load();
    config.view2d_min_scalar_value = defaults.view2d_min_scalar_value.load();
    config.view2d_max_scalar_value = defaults.view2d_max_scalar_value.load();
    config.show_grid = defaults.show_grid.load();
    config.show_origin = defaults.show_origin.load();
    config.point_size = defaults.point_size.load();
    config.show_2d_view = defaults.show_2d_view.load();
    config.cloud_transform_mode = defaults.cloud_transform_mode.load();
    config.cloud_offset_x_meters = defaults.cloud_offset_x_meters.load();
    config.cloud_offset_y_meters = defaults.cloud_offset_y_meters.load();
    config.cloud_offset_z_meters = defaults.cloud_offset_z_meters.load();
    config.cloud_roll_degrees = defaults.cloud_roll_degrees.load();
    config.cloud_pitch_degrees = defaults.cloud_pitch_degrees.load();
    config.cloud_yaw_degrees = defaults.cloud_yaw_degrees.load();
    config.view2d_scalar_type = defaults.view2d_scalar_type.load();
    config.view3d_scalar_type = defaults.view3d_scalar_type.load();
    config.background_color_r = defaults.background_color_r;
    config.background_color_g = defaults.background_color_g;
    config.background_color_b = defaults.background_color_b;
    config.point_color_r = defaults.point_color_r;
    config.point_color_g = defaults.point_color_g;
    config.point_color_b = defaults.point_color_b;
    config.point_color_a = defaults.point_color_a;
    config.view3d_colormap = defaults.view3d_colormap;
    config.view2d_colormap = defaults.view2d_colormap;
    config.show_camera = false;
    config.camera_above = false;
    config.camera_split_ratio = defaults.camera_split_ratio;
    config.lidar_2d_view_scale_factor = defaults.lidar_2d_view_scale_factor;
}

void ViewerConfigPanel::Update3DHistogram(const ViewerConfig& config, bool force) {
    const ScalarType type = config.view3d_scalar_type.load();
    const bool same = histogram3DFrame_ == current_.get() && histogram3DType_ == type &&
                      histogram3DBounds_.lower == bounds3D_.lower && histogram3DBounds_.upper == bounds3D_.upper;
    if (same && !force) {
        return;
    }
    histogram3DFrame_ = current_.get();
    histogram3DType_ = type;
    histogram3DBounds_ = bounds3D_;
    const std::vector<float>* channel = current_ ? GetScalarChannel(*current_, type) : nullptr;
    const std::vector<float> none;
    histogram3D_.countScale = 1000.0;
    UpdateHistogram(histogram3D_, channel != nullptr ? channel : &none, bounds3D_);
}

bool ViewerConfigPanel::Draw3DSection(const std::shared_ptr<AppState>& appState, ViewerConfig& config) {
    bool changed = false;
    SectionHeader("3D View", 4.0f);

    float background[3] = {config.background_color_r, config.background_color_g, config.background_color_b};
    if (ImGui::ColorEdit3("##bgcolor", background, ImGuiColorEditFlags_NoInputs)) {
        config.background_color_r = background[0];
        config.background_color_g = background[1];
        config.background_color_b = background[2];
    }
    ImGui::SameLine();
    ImGui::TextUnformatted("Background color");
    Gap(4.0f);

    const Scalar3DEntry entry = Entry3DFor(config.view3d_colormap, config.view3d_scalar_type.load());
    ImGui::TextUnformatted("Color map");
    int mapIndex = IndexOfName(k3DColormapNames, ColormapName(config.view3d_colormap));
    ImGui::BeginDisabled(entry == Scalar3DEntry::Color);
    if (ColormapCombo("##view3dColorMode", &mapIndex, k3DColormapNames.data(), static_cast<int>(k3DColormapNames.size()),
                      &config)) {
        const ColormapType chosen = ColormapFromName(k3DColormapNames[static_cast<std::size_t>(mapIndex)]);
        changed |= chosen != config.view3d_colormap;
        config.view3d_colormap = chosen;
    }
    ImGui::EndDisabled();

    ImGui::TextUnformatted("Color by scalar value");
    int scalarIndex = static_cast<int>(entry);
    if (ImGui::Combo("##view3dScalarsType", &scalarIndex, k3DScalarNames.data(), static_cast<int>(k3DScalarNames.size()))) {
        const auto chosen = static_cast<Scalar3DEntry>(scalarIndex);
        const ScalarBounds defaults = DefaultBounds3D(chosen);
        if (chosen == Scalar3DEntry::Color) {
            config.view3d_colormap = COLORMAP_EMBEDDED;
        } else {
            if (config.view3d_colormap == COLORMAP_EMBEDDED) {
                config.view3d_colormap = COLORMAP_JET;
            }
            const ScalarType type = ScalarTypeOf(chosen);
            config.view3d_scalar_type = type;
            ScalarBounds range = defaults;
            const std::vector<float>* channel = current_ ? GetScalarChannel(*current_, type) : nullptr;
            if (channel != nullptr) {
                if (const auto minMax = FiniteMinMax(*channel)) {
                    range = {std::clamp(minMax->lower, defaults.lower, defaults.upper),
                             std::clamp(minMax->upper, defaults.lower, defaults.upper)};
                }
            }
            config.view3d_min_scalar_value = range.lower;
            config.view3d_max_scalar_value = range.upper;
        }
        bounds3D_ = defaults;
        changed = true;
        if (current_) {
            fit3D_.pending = true;
            Update3DHistogram(config, chosen != entry);
        }
    }

    ImGui::SameLine();
    ImGui::BeginDisabled(fit3D_.Running() || !current_);
    const bool fitPressed = ImGui::Button("Fit scale##3d");
    ImGui::EndDisabled();
    if ((fitPressed || fit3D_.pending.exchange(false)) && current_ && !fit3D_.Running()) {
        const ScalarType type = config.view3d_scalar_type.load();
        if (const std::vector<float>* channel = GetScalarChannel(*current_, type); channel != nullptr && !channel->empty()) {
            fit3D_.Start(*channel, FitBounds(type), bounds3D_, appState->viewerConfig);
        }
    }

    Gap(8.0f);
    const int entryIndex = IndexOfName(k3DColormapNames, ColormapName(config.view3d_colormap));
    if (config.view3d_colormap != COLORMAP_UNIFORM && config.view3d_colormap != COLORMAP_EMBEDDED && entryIndex < 5) {
        Update3DHistogram(config, false);
        if (!histogram3D_.values.empty()) {
            const ScalarType type = config.view3d_scalar_type.load();
            const std::string label = std::string("3D: ") +
                                      k3DScalarNames[static_cast<std::size_t>(Entry3DFor(config.view3d_colormap, type))];
            HistogramPlot(label.c_str(), histogram3D_, config.view3d_colormap,
                          {config.view3d_min_scalar_value.load(), config.view3d_max_scalar_value.load()});
            float min = config.view3d_min_scalar_value.load();
            float max = config.view3d_max_scalar_value.load();
            const bool metres = type != ScalarType::Signal && type != ScalarType::Ambient;
            if (RangeSlider("Range", &min, &max, bounds3D_,
                            PackedColorFunction(ColormapName(config.view3d_colormap), UniformOf(config)), metres, kGap)) {
                changed |= StoreIfDifferent(config.view3d_min_scalar_value, min);
                changed |= StoreIfDifferent(config.view3d_max_scalar_value, max);
            }
        }
    } else if (config.view3d_colormap == COLORMAP_UNIFORM) {
        float colour[3] = {config.point_color_r, config.point_color_g, config.point_color_b};
        if (ImGui::ColorEdit3("##pcdcolor", colour, ImGuiColorEditFlags_NoInputs)) {
            config.point_color_r = colour[0];
            config.point_color_g = colour[1];
            config.point_color_b = colour[2];
            changed = true;
        }
        ImGui::SameLine();
        ImGui::TextUnformatted("Pointcloud color");
        Gap(4.0f);
    } else {
        Gap(32.0f);
    }

    ImGui::PushStyleColor(ImGuiCol_Button, StateColor(false));
    Gap(8.0f);
    bool grid = config.show_grid.load();
    if (ToggleSwitch("Show grid", &grid)) {
        config.show_grid = grid;
    }
    bool origin = config.show_origin.load();
    if (ToggleSwitch("Show origin", &origin)) {
        config.show_origin = origin;
    }
    ImGui::PopStyleColor();

    Gap(4.0f);
    const int mode = config.cloud_transform_mode.load();
    bool move = mode == 1;
    bool rotate = mode == 2;
    const ImVec2 iconSize(50.0f, 50.0f);
    if (IconToggleButton("##cloud_move_mode", 3, &move, iconSize)) {
        config.cloud_transform_mode = move ? 1 : 0;
        changed = true;
    }
    ImGui::SameLine();
    if (IconToggleButton("##cloud_rotate_mode", 2, &rotate, iconSize)) {
        config.cloud_transform_mode = rotate ? 2 : 0;
        changed = true;
    }
    if (config.cloud_transform_mode.load() == 1) {
        const struct {
            const char* label;
            std::atomic<float>* value;
        } offsets[] = {{"Cloud X", &config.cloud_offset_x_meters},
                       {"Cloud Y", &config.cloud_offset_y_meters},
                       {"Cloud Z", &config.cloud_offset_z_meters}};
        for (const auto& o : offsets) {
            float v = o.value->load();
            if (ImGui::DragFloat(o.label, &v, 0.01f, 0.0f, 0.0f, "%.2fm")) {
                o.value->exchange(v);
                changed = true;
            }
        }
    } else if (config.cloud_transform_mode.load() == 2) {
        const struct {
            const char* label;
            std::atomic<float>* value;
        } angles[] = {{"Roll", &config.cloud_roll_degrees},
                      {"Pitch", &config.cloud_pitch_degrees},
                      {"Yaw", &config.cloud_yaw_degrees}};
        for (const auto& a : angles) {
            float v = a.value->load();
            if (ImGui::DragFloat(a.label, &v, 0.2f, 0.0f, 0.0f, "%.1f deg")) {
                a.value->exchange(WrapDegrees360(v));
                changed = true;
            }
        }
    }

    Gap(8.0f);
    ImGui::BeginChild("PointSizeSelection",
                      ImVec2(ImGui::GetContentRegionAvail().x - 85.0f, ImGui::GetFrameHeight() + 10.0f));
    int pointSize = config.point_size.load();
    if (ImGui::InputInt("Point size##input", &pointSize, 1, 20)) {
        pointSize = std::clamp(pointSize, kMinPointSize, kMaxPointSize);
        changed |= config.point_size.exchange(pointSize) != pointSize;
    }
    ImGui::EndChild();
    Gap(8.0f);
    return changed;
}

bool ViewerConfigPanel::Draw2DSection(const std::shared_ptr<AppState>& appState, ViewerConfig& config, bool newFrame) {
    bool changed = false;
    SectionHeader("2D View", 4.0f);
    ImGui::PushStyleColor(ImGuiCol_Button, StateColor(false));
    bool show = config.show_2d_view.load();
    if (ToggleSwitch("Show 2D view", &show)) {
        config.show_2d_view = show;
        if (show) {
            Publish(AppActionType::Show2DView);
        }
    }
    ImGui::PopStyleColor();
    Gap(8.0f);
    if (!config.show_2d_view.load()) {
        return changed;
    }

    int mapIndex = IndexOfName(k2DColormapNames, ColormapName(config.view2d_colormap));
    if (ColormapCombo("##view2dColorMode", &mapIndex, k2DColormapNames.data(), static_cast<int>(k2DColormapNames.size()),
                      &config)) {
        const ColormapType chosen = ColormapFromName(k2DColormapNames[static_cast<std::size_t>(mapIndex)]);
        changed |= chosen != config.view2d_colormap;
        config.view2d_colormap = chosen;
    }

    ImGui::TextUnformatted("Color by scalar value");
    const Scalar2DEntry entry = Entry2DFor(config.view2d_scalar_type.load());
    int scalarIndex = static_cast<int>(entry);
    bool indexChanged = false;
    if (ImGui::Combo("##view2dScalarsType", &scalarIndex, k2DScalarNames.data(), static_cast<int>(k2DScalarNames.size()))) {
        config.view2d_scalar_type = ScalarTypeOf(static_cast<Scalar2DEntry>(scalarIndex));
        indexChanged = scalarIndex != static_cast<int>(entry);
        if (current_ && indexChanged) {
            fit2D_.pending = true;
            changed = true;
        }
    }
    const ScalarType type = config.view2d_scalar_type.load();

    ImGui::SameLine();
    ImGui::BeginDisabled(fit2D_.Running() || !current_);
    const bool fitPressed = ImGui::Button("Fit scale");
    ImGui::EndDisabled();
    if ((fitPressed || fit2D_.pending.exchange(false)) && current_ && !fit2D_.Running()) {
        if (const std::vector<float>* channel = Channel2D(*current_, type); channel != nullptr && !channel->empty()) {
            fit2D_.Start(*channel, FitBounds(type), std::nullopt, appState->viewerConfig);
        }
    }

    Gap(8.0f);
    if (newFrame || indexChanged) {
        bounds2D_ = FitBounds(type);
        const std::vector<float>* channel = current_ ? Channel2D(*current_, type) : nullptr;
        const std::vector<float> none;
        histogram2D_.countScale = 1000.0;
        UpdateHistogram(histogram2D_, channel != nullptr ? channel : &none, bounds2D_);
    }
    if (!histogram2D_.values.empty()) {
        const std::string label =
            std::string("2D: ") + k2DScalarNames[static_cast<std::size_t>(Entry2DFor(type))];
        HistogramPlot(label.c_str(), histogram2D_, config.view2d_colormap,
                      {config.view2d_min_scalar_value.load(), config.view2d_max_scalar_value.load()});
        float min = config.view2d_min_scalar_value.load();
        float max = config.view2d_max_scalar_value.load();
        if (RangeSlider("View2DScalarsRange", &min, &max, bounds2D_,
                        PackedColorFunction(ColormapName(config.view2d_colormap), UniformOf(config)), false, kGap)) {
            changed |= StoreIfDifferent(config.view2d_min_scalar_value, min);
            changed |= StoreIfDifferent(config.view2d_max_scalar_value, max);
        }
    } else {
        Gap(32.0f);
    }
    return changed;
}

void ViewerConfigPanel::DrawViewerConfigPanel(const std::shared_ptr<AppState>& appState) {
    if (!appState || !appState->viewerConfig) {
        return;
    }
    ViewerConfig& config = *appState->viewerConfig;

    while (auto action = actions_.TryPop()) {
        fit2D_.pending = false;
        current_.reset();
    }
    bool newFrame = false;
    if (auto frame = frames_.TryPop(); frame && *frame) {
        if (!current_) {
            fit3D_.pending = true;
            fit2D_.pending = true;
        }
        current_ = std::move(*frame);
        newFrame = true;
    }
    // A fit that ended has written its range: the views recolour now.
    bool changed = fit3D_.PollFinished();
    changed |= fit2D_.PollFinished();

    changed |= Draw3DSection(appState, config);
    changed |= Draw2DSection(appState, config, newFrame);

    Gap(8.0f);
    const float remaining = ImGui::GetContentRegionAvail().y;
    if (remaining > 40.0f) {
        Gap(remaining - 35.0f);
    }
    if (ImGui::Button("Reset configuration", ImVec2(ImGui::GetContentRegionAvail().x, 0.0f))) {
        ResetConfiguration(config);
        bounds2D_ = {0.0f, 300.0f};
        bounds3D_ = {-15000.0f, 15000.0f};
        Publish(AppActionType::ViewerConfigChanged);
    } else if (changed) {
        Publish(AppActionType::ViewerConfigChanged);
    }
}

}  // namespace orbel::studio::gui
