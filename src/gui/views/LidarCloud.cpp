// The lidar frame as a scene object, and the scalar channels of a frame.
#include "views/LidarCloud.h"

#include <algorithm>
#include <cmath>

namespace orbel::studio::gui {
namespace {

constexpr float kDegreesToRadians = 0.017453292519943295f;

void FillCoordinateCache(const FrameData& frame, std::size_t component, std::vector<float>& cache) {
    const std::size_t count = frame.xyz.size() / 3;
    cache.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        cache[i] = frame.xyz[3 * i + component];
    }
}

// Rows of Rz(yaw) Ry(pitch) Rx(roll).
struct Rotation {
    float m[3][3];
};

Rotation MakeRotation(const CloudTransform& t) {
    const float cr = std::cos(t.rollDegrees * kDegreesToRadians);
    const float sr = std::sin(t.rollDegrees * kDegreesToRadians);
    const float cp = std::cos(t.pitchDegrees * kDegreesToRadians);
    const float sp = std::sin(t.pitchDegrees * kDegreesToRadians);
    const float cy = std::cos(t.yawDegrees * kDegreesToRadians);
    const float sy = std::sin(t.yawDegrees * kDegreesToRadians);
    return Rotation{{{cy * cp, cy * sp * sr - sy * cr, cy * sp * cr + sy * sr},
                     {sy * cp, sy * sp * sr + cy * cr, sy * sp * cr - cy * sr},
                     {-sp, cp * sr, cp * cr}}};
}

Vec3 Apply(const Rotation& r, Vec3 offset, Vec3 p) {
    return {offset.x + r.m[0][0] * p.x + r.m[0][1] * p.y + r.m[0][2] * p.z,
            offset.y + r.m[1][0] * p.x + r.m[1][1] * p.y + r.m[1][2] * p.z,
            offset.z + r.m[2][0] * p.x + r.m[2][1] * p.y + r.m[2][2] * p.z};
}

}  // namespace

const std::vector<float>* GetScalarChannel(FrameData& frame, ScalarType type) {
    switch (type) {
        case ScalarType::XAxis:
        case ScalarType::YAxis:
        case ScalarType::ZAxis: {
            const auto component = static_cast<std::size_t>(type);
            std::vector<float>& cache =
                type == ScalarType::XAxis ? frame.xCache : (type == ScalarType::YAxis ? frame.yCache : frame.zCache);
            if (cache.size() != frame.xyz.size() / 3) {
                FillCoordinateCache(frame, component, cache);
            }
            return &cache;
        }
        case ScalarType::Signal:
            return &frame.signal;
        case ScalarType::Ambient:
            return &frame.ambient;
        default:
            return nullptr;
    }
}

CloudTransform ReadCloudTransform(const ViewerConfig& config) {
    CloudTransform t;
    t.offsetMetres = {config.cloud_offset_x_meters.load(), config.cloud_offset_y_meters.load(),
                      config.cloud_offset_z_meters.load()};
    t.rollDegrees = config.cloud_roll_degrees.load();
    t.pitchDegrees = config.cloud_pitch_degrees.load();
    t.yawDegrees = config.cloud_yaw_degrees.load();
    return t;
}

Vec3 TransformPoint(const CloudTransform& transform, Vec3 pointMetres) {
    return Apply(MakeRotation(transform), transform.offsetMetres, pointMetres);
}

void BuildLidarObject(FrameData& frame, const ViewerConfig& config, SceneObject& object,
                      std::vector<float>& pickPositions) {
    const std::size_t count = frame.xyz.size() / 3;
    const ColormapType map = config.view3d_colormap;
    const ScalarType scalarType = config.view3d_scalar_type.load();

    object = SceneObject{};
    object.primitive = kPrimitivePoints;
    object.color_mode = static_cast<int>(map);
    object.color = {config.point_color_r, config.point_color_g, config.point_color_b, config.point_color_a};
    object.scalar_min = config.view3d_min_scalar_value.load();
    object.scalar_max = config.view3d_max_scalar_value.load();
    object.point_size = static_cast<float>(std::clamp(config.point_size.load(), kMinPointSize, kMaxPointSize));
    object.depth_write = true;

    if (map == COLORMAP_EMBEDDED && !frame.rgb.empty() && frame.rgb.size() == frame.xyz.size()) {
        object.colors.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            object.colors[i] = {frame.rgb[3 * i] / 255.0f, frame.rgb[3 * i + 1] / 255.0f,
                                frame.rgb[3 * i + 2] / 255.0f};
        }
    }

    const std::vector<float>* channel = nullptr;
    if (scalarType == ScalarType::Signal || scalarType == ScalarType::Ambient) {
        channel = GetScalarChannel(frame, scalarType);
        if (channel != nullptr && (channel->empty() || channel->size() != count)) {
            channel = nullptr;
        }
    }
    const std::size_t coordinate =
        scalarType == ScalarType::XAxis ? 0 : (scalarType == ScalarType::YAxis ? 1 : 2);

    const float toMetres = frame.inMetres ? 1.0f : 0.001f;
    const CloudTransform transform = ReadCloudTransform(config);
    const Rotation rotation = MakeRotation(transform);
    object.positions.resize(count);
    object.scalars.resize(count);
    pickPositions.resize(3 * count);
    const float* xyz = frame.xyz.data();
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 raw{xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]};
        const Vec3 metres = Apply(rotation, transform.offsetMetres, raw * toMetres);
        object.positions[i] = metres * 1000.0f;
        pickPositions[3 * i] = metres.x;
        pickPositions[3 * i + 1] = metres.y;
        pickPositions[3 * i + 2] = metres.z;
        object.scalars[i] = channel != nullptr ? (*channel)[i] : xyz[3 * i + coordinate];
    }
}

}  // namespace orbel::studio::gui
