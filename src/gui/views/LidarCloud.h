// From one FrameData to what the views draw: the scalar channel a view colours by, and
// the 3D view's "lidar" scene object (positions after the cloud offset and rotation,
// per-point scalars or colours, the colour map and its range) with the positions in
// metres that picking scans. Pure functions over the frame; GUI thread (the x, y and
// z channels are cached inside the frame on first use).
#pragma once

#include <vector>

#include "app/FrameData.h"
#include "app/ViewerConfig.h"
#include "views/ColormapTypes.h"
#include "views/SceneObject.h"

namespace orbel::studio::gui {

// 0, 1, 2: the x, y or z values (built once from the interleaved positions and kept in
// the frame); 3 the signal values; 4 the ambient values; any other type none.
const std::vector<float>* GetScalarChannel(FrameData& frame, ScalarType type);

// The offset (metres) and the roll, pitch and yaw (degrees) of the drawn cloud.
struct CloudTransform {
    Vec3 offsetMetres;
    float rollDegrees = 0.0f;
    float pitchDegrees = 0.0f;
    float yawDegrees = 0.0f;
};

CloudTransform ReadCloudTransform(const ViewerConfig& config);

// offset + Rz(yaw) Ry(pitch) Rx(roll) p, for p in metres.
Vec3 TransformPoint(const CloudTransform& transform, Vec3 pointMetres);

// The "lidar" object of `frame` under `config`: one point per frame point, millimetres
// after the transform; signal or ambient scalars when that channel has one value per
// point, else the x, y or z coordinate chosen by the scalar type (z for every other
// type, depth included); per-point colours only for the embedded map with exactly one
// RGB triple per point (otherwise the points draw white). Point size clamped to 1..20.
// `pickPositions` receives the positions in metres.
void BuildLidarObject(FrameData& frame, const ViewerConfig& config, SceneObject& object,
                      std::vector<float>& pickPositions);

}  // namespace orbel::studio::gui
