// ViewerConfig: the viewer settings that the viewer-configuration panel edits and the
// 3D and 2D views read. One record lives in AppState behind a shared pointer; the
// fields that other threads read while the GUI thread edits them are atomics (written
// with sequentially consistent stores); the plain ones are touched on the GUI thread
// only, apart from loading and saving at start-up and shutdown.
#pragma once

#include <atomic>
#include <cstdint>

#include "views/ColormapTypes.h"

namespace orbel::studio::gui {

// The ranges the controls keep these settings in (the point-size field, the layout's
// splitters, the colour editors); a loaded settings file is held to them too.
inline constexpr int32_t kMinPointSize = 1;
inline constexpr int32_t kMaxPointSize = 20;
inline constexpr float kMinCameraSplitRatio = 0.2f;
inline constexpr float kMaxCameraSplitRatio = 0.8f;
inline constexpr float kMinScaleFactor = 1.0f;
inline constexpr float kMaxScaleFactor = 10.0f;

struct ViewerConfig {
    std::atomic<float> view3d_min_scalar_value{-4000.0f};
    std::atomic<float> view3d_max_scalar_value{4000.0f};
    std::atomic<float> view2d_min_scalar_value{0.0f};
    std::atomic<float> view2d_max_scalar_value{300.0f};
    std::atomic<bool> show_grid{true};
    std::atomic<bool> show_origin{true};
    std::atomic<int32_t> point_size{2};
    std::atomic<bool> show_2d_view{true};
    // 0 none, 1 offset, 2 rotation: which placement controls the viewer panel shows.
    std::atomic<int32_t> cloud_transform_mode{0};
    std::atomic<float> cloud_offset_x_meters{0.0f};
    std::atomic<float> cloud_offset_y_meters{0.0f};
    std::atomic<float> cloud_offset_z_meters{0.0f};
    std::atomic<float> cloud_roll_degrees{0.0f};
    std::atomic<float> cloud_pitch_degrees{0.0f};
    std::atomic<float> cloud_yaw_degrees{0.0f};
    std::atomic<ScalarType> view2d_scalar_type{ScalarType::Signal};
    std::atomic<ScalarType> view3d_scalar_type{ScalarType::ZAxis};

    float background_color_r = 0.1f;
    float background_color_g = 0.1f;
    float background_color_b = 0.12f;
    float point_color_r = 0.3f;
    float point_color_g = 0.8f;
    float point_color_b = 1.0f;
    float point_color_a = 1.0f;
    ColormapType view3d_colormap = COLORMAP_JET;
    ColormapType view2d_colormap = COLORMAP_JET;

    std::atomic<bool> show_camera{false};
    std::atomic<bool> camera_above{false};
    // Share (0..1) of the centre's width given to the point-cloud views while the camera view shows.
    float camera_split_ratio = 0.6f;
    // Pixels of 2D-view height per scan line; the 2D view is 56 times this high.
    float lidar_2d_view_scale_factor = 4.0f;
};

}  // namespace orbel::studio::gui
