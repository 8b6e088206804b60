// Flattening of the scene into staged vertex arrays and draw commands.
#include "views/SceneObject.h"

#include <cmath>

namespace orbel::studio::gui {
namespace {

enum class Pass { Fills, Lines, Points };

bool InPass(int primitive, Pass pass) {
    switch (pass) {
        case Pass::Fills:
            return primitive == kPrimitiveTriangles || primitive == kPrimitiveTriangleFan;
        case Pass::Lines:
            return primitive == kPrimitiveLines || primitive == kPrimitiveLineStrip;
        case Pass::Points:
            return primitive == kPrimitivePoints;
    }
    return false;
}

void Stage(const SceneObject& object, StagedScene& staged) {
    const std::size_t count = object.positions.size();
    DrawCommand command;
    command.first = static_cast<int>(staged.positions.size() / 3);
    command.count = static_cast<int>(count);
    command.primitive = object.primitive;
    command.point_size = object.point_size;
    command.color_mode = object.color_mode;
    command.color = object.color;
    command.scalar_min = object.scalar_min;
    command.scalar_max = object.scalar_max;
    command.depth_write = object.depth_write;

    const auto* positions = reinterpret_cast<const float*>(object.positions.data());
    staged.positions.insert(staged.positions.end(), positions, positions + 3 * count);
    if (object.scalars.size() == count) {
        staged.scalars.insert(staged.scalars.end(), object.scalars.begin(), object.scalars.end());
    } else {
        staged.scalars.insert(staged.scalars.end(), count, 0.0f);
    }
    if (object.colors.size() == count) {
        const auto* colors = reinterpret_cast<const float*>(object.colors.data());
        staged.colors.insert(staged.colors.end(), colors, colors + 3 * count);
    } else {
        staged.colors.insert(staged.colors.end(), 3 * count, 1.0f);
    }
    staged.commands.push_back(command);
}

}  // namespace

static_assert(sizeof(Vec3) == 3 * sizeof(float), "positions are staged as packed floats");

void StageScene(const Scene& scene, StagedScene& staged) {
    staged.positions.clear();
    staged.scalars.clear();
    staged.colors.clear();
    staged.commands.clear();
    for (const Pass pass : {Pass::Fills, Pass::Lines, Pass::Points}) {
        for (const auto& [name, object] : scene) {
            if (InPass(object.primitive, pass) && !object.positions.empty()) {
                Stage(object, staged);
            }
        }
    }
}

std::vector<Vec3> CirclePoints(Vec3 centre, float radius, int segments, int axis) {
    std::vector<Vec3> points;
    points.reserve(static_cast<std::size_t>(segments) + 1);
    constexpr float kTwoPi = 6.28318530718f;
    for (int i = 0; i <= segments; ++i) {
        const float a = static_cast<float>(i) * kTwoPi / static_cast<float>(segments);
        const float c = std::cos(a) * radius;
        const float s = std::sin(a) * radius;
        switch (axis) {
            case 0:
                points.push_back(centre + Vec3{0.0f, c, s});
                break;
            case 1:
                points.push_back(centre + Vec3{c, 0.0f, s});
                break;
            default:
                points.push_back(centre + Vec3{c, s, 0.0f});
                break;
        }
    }
    return points;
}

}  // namespace orbel::studio::gui
