// The cloud gizmo of the 3D view: three arrows that drag the cloud offset along x, y or
// z (translate mode) and three rings that turn its roll, pitch or yaw (rotate mode),
// both anchored at the cloud offset. Hover tests, drag steps and angle wrapping are
// plain functions of the mouse and the MVP; the panel draws what this decides.
// GUI thread only.
#pragma once

#include <array>
#include <optional>

#include "views/LidarCloud.h"
#include "views/Math3D.h"
#include "views/SceneObject.h"

namespace orbel::studio::gui {

inline constexpr float kGizmoAxisLengthMetres = 1.35f;
inline constexpr float kGizmoRingRadiusMetres = 1.7f;
// An axis that projects shorter than this has no usable direction on screen: a drag
// along it would turn one pixel into metres, so it neither hovers nor drags.
inline constexpr float kMinAxisPixels = 4.0f;

// Wraps degrees into 0..360 (360 itself gives 0).
float WrapDegrees360(float degrees);
// Wraps degrees into -180..180.
float WrapDegrees180(float degrees);

// Metres to move along an axis for a mouse movement, from the projected anchor and axis
// tip (the tip being kGizmoAxisLengthMetres along the axis); none when the axis is
// shorter than kMinAxisPixels on screen.
std::optional<float> AxisDragMetres(Vec2 anchor, Vec2 tip, Vec2 mouseDelta);

// A point on ring `axis` (0 x: the y-z plane, 1 y: x-z, 2 z: x-y) at `angle` radians.
Vec3 RingPoint(Vec3 centreMetres, int axis, float angle);

struct GizmoInput {
    Vec2 mouse;
    bool mouseValid = false;
    bool leftDown = false;
    bool leftClicked = false;  // over the image this frame
};

struct GizmoResult {
    bool tookMouse = false;
    bool moved = false;  // the transform changed this frame
    bool handCursor = false;
};

class CloudGizmo {
public:
    // mode: 0 off, 1 translate, 2 rotate. Updates `transform` while dragging.
    GizmoResult Update(int mode, const GizmoInput& input, CloudTransform& transform, const Mat4& mvp,
                       Vec2 rectMin, Vec2 rectMax);

    // 0 none, 1 x, 2 y, 3 z.
    int Hovered() const { return hovered_; }
    int DraggedAxis() const { return draggedAxis_; }
    int DraggedRing() const { return draggedRing_; }

    // The ring objects of rotate mode ("cloud_rotation_ring_x", .._y, .._z): 97 vertices
    // around the offset, coloured by drag and hover state.
    std::array<SceneObject, 3> RingObjects(Vec3 offsetMetres) const;

private:
    void Clear();
    int HoverAxis(Vec3 anchor, Vec2 anchorScreen, Vec2 mouse, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax) const;
    int HoverRing(Vec3 anchor, Vec2 mouse, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax) const;

    int hovered_ = 0;
    int draggedAxis_ = 0;
    int draggedRing_ = 0;
    Vec2 lastMouse_;
    float lastAngle_ = 0.0f;
    bool resync_ = false;  // the mouse was lost during a drag: re-take the reference first
};

}  // namespace orbel::studio::gui
