// The 3D view's scene: named objects (the lidar cloud, axes, range circles, rotation
// rings, zone meshes), and their flattening into one set of vertex arrays plus one draw
// command per object. Plain data and pure functions; the renderer uploads and draws
// what they produce.
#pragma once

#include <array>
#include <map>
#include <string>
#include <vector>

#include "views/Math3D.h"

namespace orbel::studio::gui {

// OpenGL primitive numbers that the renderer draws; any other is skipped.
enum ScenePrimitive : int {
    kPrimitivePoints = 0,
    kPrimitiveLines = 1,
    kPrimitiveLineStrip = 3,
    kPrimitiveTriangles = 4,
    kPrimitiveTriangleFan = 6,
};

struct SceneObject {
    std::vector<Vec3> positions;  // millimetres, world frame, z up
    std::vector<float> scalars;   // one per vertex for the colour maps; may be empty
    std::vector<Vec3> colors;     // one RGB (0..1) per vertex for colour mode 5; may be empty
    int primitive = kPrimitivePoints;
    int color_mode = 0;  // ColormapType: 0 uniform, 1..4 maps, 5 per-vertex colour, 6 grey
    std::array<float, 4> color{1.0f, 1.0f, 1.0f, 1.0f};
    float scalar_min = 0.0f;
    float scalar_max = 1.0f;
    float point_size = 1.0f;
    bool depth_write = true;
};

struct DrawCommand {
    int first = 0;
    int count = 0;
    int primitive = kPrimitivePoints;
    float point_size = 1.0f;
    int color_mode = 0;
    std::array<float, 4> color{1.0f, 1.0f, 1.0f, 1.0f};
    float scalar_min = 0.0f;
    float scalar_max = 1.0f;
    bool depth_write = true;
};

// Ordered by name, so the draw order within a pass is stable from frame to frame.
using Scene = std::map<std::string, SceneObject>;

struct StagedScene {
    std::vector<float> positions;  // 3 per vertex
    std::vector<float> scalars;    // 1 per vertex
    std::vector<float> colors;     // 3 per vertex
    std::vector<DrawCommand> commands;
};

// Three passes: filled triangles first, then lines, then points, so translucent fills
// never hide what is drawn over them. Scalars or colours whose count differs from the
// vertex count become zeros or white. Objects of other primitives are left out.
void StageScene(const Scene& scene, StagedScene& staged);

// Points on a circle, `segments` + 1 vertices so that a line strip closes; `axis`
// chooses the plane: 0 y-z, 1 x-z, 2 x-y. Centre and radius in millimetres.
std::vector<Vec3> CirclePoints(Vec3 centre, float radius, int segments, int axis);

}  // namespace orbel::studio::gui
