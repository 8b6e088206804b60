// Hover, drag and ring geometry of the cloud gizmo.
#include "views/CloudGizmo.h"

#include <cmath>

#include "views/OrbitCamera.h"

namespace orbel::studio::gui {
namespace {

constexpr float kTwoPi = 6.28318530718f;
constexpr float kRadiansToDegrees = 57.29578f;
constexpr float kAxisHoverSquared = 256.0f;  // 16 pixels
constexpr float kRingHoverSquared = 144.0f;  // 12 pixels
constexpr int kRingHoverSegments = 64;
constexpr int kRingVertices = 96;  // segments of the drawn ring

constexpr Vec3 kAxes[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

float& OffsetComponent(CloudTransform& t, int axis) {
    return axis == 1 ? t.offsetMetres.x : (axis == 2 ? t.offsetMetres.y : t.offsetMetres.z);
}

float& AngleOfRing(CloudTransform& t, int ring) {
    return ring == 1 ? t.rollDegrees : (ring == 2 ? t.pitchDegrees : t.yawDegrees);
}

}  // namespace

float WrapDegrees360(float degrees) {
    float wrapped = std::fmod(degrees, 360.0f);
    if (wrapped < 0.0f) {
        wrapped += 360.0f;
    }
    // -1e-6 + 360 rounds to 360 in single precision.
    return wrapped >= 360.0f ? 0.0f : wrapped;
}

float WrapDegrees180(float degrees) {
    float wrapped = std::fmod(degrees + 180.0f, 360.0f);
    if (wrapped < 0.0f) {
        wrapped += 360.0f;
    }
    return wrapped - 180.0f;
}

std::optional<float> AxisDragMetres(Vec2 anchor, Vec2 tip, Vec2 mouseDelta) {
    const Vec2 axis = tip - anchor;
    const float length = Length(axis);
    if (!(length >= kMinAxisPixels)) {
        return std::nullopt;
    }
    const float step = Dot(axis * (1.0f / length), mouseDelta) * kGizmoAxisLengthMetres / length;
    if (!std::isfinite(step)) {
        return std::nullopt;
    }
    return step;
}

Vec3 RingPoint(Vec3 centreMetres, int axis, float angle) {
    const float c = std::cos(angle) * kGizmoRingRadiusMetres;
    const float s = std::sin(angle) * kGizmoRingRadiusMetres;
    switch (axis) {
        case 0:
            return centreMetres + Vec3{0.0f, c, s};
        case 1:
            return centreMetres + Vec3{c, 0.0f, s};
        default:
            return centreMetres + Vec3{c, s, 0.0f};
    }
}

void CloudGizmo::Clear() {
    hovered_ = 0;
    draggedAxis_ = 0;
    draggedRing_ = 0;
    resync_ = false;
}

int CloudGizmo::HoverAxis(Vec3 anchor, Vec2 anchorScreen, Vec2 mouse, const Mat4& mvp, Vec2 rectMin,
                          Vec2 rectMax) const {
    int hovered = 0;
    float best = kAxisHoverSquared;
    for (int axis = 0; axis < 3; ++axis) {
        const ScreenPoint tip = Project(anchor + kAxes[axis] * kGizmoAxisLengthMetres, mvp, rectMin, rectMax);
        if (!tip.visible || Length(tip.position - anchorScreen) < kMinAxisPixels) {
            continue;
        }
        const float d = SegmentDistanceSquared(mouse, anchorScreen, tip.position);
        if (d <= best) {
            best = d;
            hovered = axis + 1;
        }
    }
    return hovered;
}

int CloudGizmo::HoverRing(Vec3 anchor, Vec2 mouse, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax) const {
    int hovered = 0;
    float best = kRingHoverSquared;
    for (int ring = 0; ring < 3; ++ring) {
        for (int j = 0; j < kRingHoverSegments; ++j) {
            const float a0 = static_cast<float>(j) * kTwoPi / kRingHoverSegments;
            const float a1 = static_cast<float>(j + 1) * kTwoPi / kRingHoverSegments;
            const ScreenPoint p0 = Project(RingPoint(anchor, ring, a0), mvp, rectMin, rectMax);
            const ScreenPoint p1 = Project(RingPoint(anchor, ring, a1), mvp, rectMin, rectMax);
            if (!p0.visible || !p1.visible) {
                continue;
            }
            const float d = SegmentDistanceSquared(mouse, p0.position, p1.position);
            if (d <= best) {
                best = d;
                hovered = ring + 1;
            }
        }
    }
    return hovered;
}

GizmoResult CloudGizmo::Update(int mode, const GizmoInput& input, CloudTransform& transform, const Mat4& mvp,
                               Vec2 rectMin, Vec2 rectMax) {
    GizmoResult result;
    if (mode != 1 && mode != 2) {
        Clear();
        return result;
    }
    if (!input.leftDown) {
        draggedAxis_ = 0;
        draggedRing_ = 0;
    }
    // No mouse position (the window lost the mouse): nothing is hovered and a drag
    // waits; when the mouse comes back the drag continues from where it is then.
    if (!input.mouseValid || !std::isfinite(input.mouse.x) || !std::isfinite(input.mouse.y)) {
        hovered_ = 0;
        resync_ = draggedAxis_ != 0 || draggedRing_ != 0;
        result.tookMouse = resync_;
        return result;
    }
    const Vec2 mouse = input.mouse;
    const Vec3 anchor = transform.offsetMetres;
    const ScreenPoint anchorScreen = Project(anchor, mvp, rectMin, rectMax);

    hovered_ = 0;
    if (anchorScreen.visible) {
        hovered_ = mode == 1 ? HoverAxis(anchor, anchorScreen.position, mouse, mvp, rectMin, rectMax)
                             : HoverRing(anchor, mouse, mvp, rectMin, rectMax);
    }

    if (input.leftClicked && hovered_ != 0) {
        if (mode == 1) {
            draggedAxis_ = hovered_;
            lastMouse_ = mouse;
            result.tookMouse = true;
        } else if (anchorScreen.visible) {
            draggedRing_ = hovered_;
            lastAngle_ = std::atan2(mouse.y - anchorScreen.position.y, mouse.x - anchorScreen.position.x);
            result.tookMouse = true;
        }
        resync_ = false;
    }
    if (resync_) {
        lastMouse_ = mouse;
        if (anchorScreen.visible) {
            lastAngle_ = std::atan2(mouse.y - anchorScreen.position.y, mouse.x - anchorScreen.position.x);
        }
        resync_ = false;
    }

    if (mode == 1 && draggedAxis_ != 0) {
        const ScreenPoint tip =
            Project(anchor + kAxes[draggedAxis_ - 1] * kGizmoAxisLengthMetres, mvp, rectMin, rectMax);
        if (anchorScreen.visible && tip.visible) {
            const std::optional<float> step = AxisDragMetres(anchorScreen.position, tip.position, mouse - lastMouse_);
            if (step && *step != 0.0f) {
                OffsetComponent(transform, draggedAxis_) += *step;
                result.moved = true;
            }
        }
        lastMouse_ = mouse;
        result.tookMouse = true;
    } else if (mode == 2 && draggedRing_ != 0) {
        if (anchorScreen.visible) {
            result.handCursor = true;
            const float a = std::atan2(mouse.y - anchorScreen.position.y, mouse.x - anchorScreen.position.x);
            const float delta = WrapDegrees180(-(a - lastAngle_) * kRadiansToDegrees);
            if (delta != 0.0f) {
                float& angle = AngleOfRing(transform, draggedRing_);
                angle = WrapDegrees360(angle + delta);
                result.moved = true;
            }
            lastAngle_ = a;
        }
        result.tookMouse = true;
    } else if (hovered_ != 0) {
        result.handCursor = mode == 2;
        result.tookMouse = true;
    }
    return result;
}

std::array<SceneObject, 3> CloudGizmo::RingObjects(Vec3 offsetMetres) const {
    constexpr std::array<std::array<float, 4>, 3> kRingColors{{
        {0.96f, 0.31f, 0.31f, 0.95f},
        {0.32f, 0.86f, 0.42f, 0.95f},
        {0.34f, 0.58f, 1.0f, 0.95f},
    }};
    std::array<SceneObject, 3> rings;
    for (int ring = 0; ring < 3; ++ring) {
        SceneObject& object = rings[static_cast<std::size_t>(ring)];
        object.positions = CirclePoints(offsetMetres * 1000.0f, kGizmoRingRadiusMetres * 1000.0f, kRingVertices, ring);
        object.primitive = kPrimitiveLineStrip;
        object.depth_write = false;
        if (draggedRing_ == ring + 1) {
            object.color = {1.0f, 0.67f, 0.24f, 1.0f};
        } else if (hovered_ == ring + 1) {
            object.color = {1.0f, 0.86f, 0.35f, 1.0f};
        } else {
            object.color = kRingColors[static_cast<std::size_t>(ring)];
        }
    }
    return rings;
}

}  // namespace orbel::studio::gui
