// The 3D view's orbit camera and the screen maths that its overlays share: projecting
// world points to pixels, casting the mouse ray onto a horizontal plane and picking the
// lidar point under the mouse. World units are millimetres (z up) for the camera and
// metres for projected points, picking and planes (a factor of 1000 between them).
//
// The camera reads its input from a plain CameraInput record, so that the decisions
// are tested without a window; the 3D view panel fills the record from ImGui. GUI
// thread only.
#pragma once

#include <optional>
#include <span>

#include "views/Math3D.h"

namespace orbel::studio::gui {

// Field of view and planes: the renderer draws with near 1; overlays, picking and the
// zone editor project with near 100 (the same screen positions, another depth range).
inline constexpr float kFieldOfViewRadians = 1.04719755f;  // 60 degrees
inline constexpr float kRenderNear = 1.0f;
inline constexpr float kOverlayNear = 100.0f;
inline constexpr float kFar = 500000.0f;

Mat4 RenderProjection(float width, float height);
Mat4 OverlayProjection(float width, float height);

struct ScreenPoint {
    Vec2 position;         // pixels, y down
    float depth = 0.0f;    // clip z / w
    bool visible = false;  // in front of the camera, within the depth range, finite
};

// The point in metres (multiplied by 1000 before the MVP) to pixels in the rectangle.
ScreenPoint Project(Vec3 pointMetres, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax);

// The mouse ray's hit on the plane z = planeZ (metres); none when the rectangle is
// degenerate, the ray runs parallel to the plane or points away from it.
std::optional<Vec3> UnprojectToPlane(const Mat4& view, const Mat4& projection, Vec2 rectMin, Vec2 rectMax,
                                     Vec2 mouse, float planeZ);

// The point (x, y, z in metres, 3 floats each) nearest to the mouse on screen within
// `radiusPixels`; equal distances go to the smaller depth.
std::optional<Vec3> PickPoint(std::span<const float> positionsMetres, Vec2 mouse, const Mat4& mvp,
                              Vec2 rectMin, Vec2 rectMax, float radiusPixels = 14.0f);

// One frame of mouse input over the 3D view's image.
struct CameraInput {
    Vec2 mouse;
    bool mouseValid = false;   // false while the window has no mouse (ImGui's -FLT_MAX)
    bool itemHovered = false;  // the image item
    bool itemActive = false;
    bool leftClicked = false;  // a left click over the image this frame
    bool leftDown = false;
    bool rightDown = false;
    float wheel = 0.0f;
    bool captured = false;  // a button, the cloud gizmo or the zone editor took the mouse
};

class OrbitCamera {
public:
    static constexpr Vec3 kDefaultEye{-17196.0f, 0.0f, 5319.0f};
    static constexpr Vec3 kDefaultTarget{0.0f, 0.0f, 0.0f};

    OrbitCamera() = default;

    void Reset();
    Mat4 ViewMatrix() const;

    // Orbit (left drag around the picked pivot), pan (right drag), dolly and fly
    // (wheel). `overlayMvp` is the near-100 MVP of this frame; `pickPositions` the lidar
    // points in metres.
    void HandleInput(const CameraInput& input, const Mat4& overlayMvp, Vec2 rectMin, Vec2 rectMax,
                     std::span<const float> pickPositions);

    Vec3 eye = kDefaultEye;
    Vec3 target = kDefaultTarget;
    Vec3 up{0.0f, 0.0f, 1.0f};

    bool Dragging() const { return dragging_; }
    std::optional<Vec3> PickedPivot() const { return pickedPivot_; }

private:
    void ClearDrag();
    void RestartDrag(Vec2 mouse);
    void Orbit(Vec2 mouse);
    void Pan(Vec2 delta);
    void Wheel(float wheel);

    Vec2 lastMouse_;
    bool lastMouseValid_ = false;
    bool dragging_ = false;
    bool moved_ = false;
    Vec2 dragStartMouse_;
    Vec3 pivot_;
    Vec3 eyeAtStart_;
    Vec3 targetAtStart_;
    Vec3 upAtStart_{0.0f, 0.0f, 1.0f};
    std::optional<Vec3> pickedPivot_;  // millimetres
};

}  // namespace orbel::studio::gui
