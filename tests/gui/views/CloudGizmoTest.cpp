// The cloud gizmo: angle wrapping, the drag step along a projected axis (and its refusal
// for an axis seen end-on), hover and drag of arrows and rings, and a mouse that leaves
// the window during a drag.
#include "views/CloudGizmo.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "views/OrbitCamera.h"

namespace orbel::studio::gui {
namespace {

constexpr Vec2 kRectMin{0.0f, 0.0f};
constexpr Vec2 kRectMax{1000.0f, 800.0f};

TEST(CloudGizmoTest, AnglesWrapIntoTheirRanges) {
    const struct {
        float in;
        float wrapped360;
        float wrapped180;
    } cases[] = {
        {0.0f, 0.0f, 0.0f},     {359.5f, 359.5f, -0.5f}, {360.0f, 0.0f, 0.0f},  {365.0f, 5.0f, 5.0f},
        {725.0f, 5.0f, 5.0f},   {-10.0f, 350.0f, -10.0f}, {-370.0f, 350.0f, -10.0f}, {190.0f, 190.0f, -170.0f},
        {-190.0f, 170.0f, 170.0f}, {-1e-6f, 0.0f, -1e-6f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_NEAR(WrapDegrees360(c.in), c.wrapped360, 1e-4f);
        EXPECT_GE(WrapDegrees360(c.in), 0.0f);
        EXPECT_LT(WrapDegrees360(c.in), 360.0f);
        EXPECT_NEAR(WrapDegrees180(c.in), c.wrapped180, 1e-4f);
    }
}

TEST(CloudGizmoTest, AxisDragFollowsTheProjectedAxisAndRefusesAnAxisSeenEndOn) {
    // The axis spans 135 pixels on screen: 1.35 m, so 1 cm per pixel along it.
    auto step = AxisDragMetres({100, 100}, {235, 100}, {10, 7});
    ASSERT_TRUE(step.has_value());
    EXPECT_NEAR(*step, 0.1f, 1e-6f);
    step = AxisDragMetres({100, 100}, {100, -35}, {3, -20});
    ASSERT_TRUE(step.has_value());
    EXPECT_NEAR(*step, 0.2f, 1e-6f);
    // Seen (almost) end-on the axis is a few pixels long: a one-pixel move would be metres.
    EXPECT_FALSE(AxisDragMetres({100, 100}, {100.002f, 100}, {1, 0}).has_value());
    EXPECT_FALSE(AxisDragMetres({100, 100}, {102, 101}, {1, 0}).has_value());
    EXPECT_TRUE(AxisDragMetres({100, 100}, {104, 100}, {1, 0}).has_value());
}

struct GizmoScene {
    Mat4 mvp;
    CloudGizmo gizmo;
    CloudTransform transform;

    explicit GizmoScene(Vec3 eyeMm = {-6000.0f, -4000.0f, 3000.0f}) {
        mvp = OverlayProjection(1000.0f, 800.0f) * LookAt(eyeMm, {0, 0, 0}, {0, 0, 1});
    }
    Vec2 Screen(Vec3 metres) const { return Project(metres, mvp, kRectMin, kRectMax).position; }
    GizmoResult Frame(int mode, Vec2 mouse, bool down, bool clicked, bool valid = true) {
        GizmoInput input;
        input.mouse = mouse;
        input.mouseValid = valid;
        input.leftDown = down;
        input.leftClicked = clicked;
        return gizmo.Update(mode, input, transform, mvp, kRectMin, kRectMax);
    }
};

TEST(CloudGizmoTest, TranslateDragMovesTheOffsetAlongTheHoveredAxis) {
    GizmoScene s;
    const Vec2 o = s.Screen({0, 0, 0});
    const Vec2 tipY = s.Screen({0, kGizmoAxisLengthMetres, 0});
    const Vec2 onY = o + (tipY - o) * 0.6f;

    GizmoResult r = s.Frame(1, onY, false, false);
    EXPECT_EQ(s.gizmo.Hovered(), 2);
    EXPECT_TRUE(r.tookMouse);
    r = s.Frame(1, onY, true, true);
    EXPECT_EQ(s.gizmo.DraggedAxis(), 2);
    EXPECT_FALSE(r.moved);
    // Dragging by a third of the axis's screen length moves the cloud a third of 1.35 m.
    r = s.Frame(1, onY + (tipY - o) * (1.0f / 3.0f), true, false);
    EXPECT_TRUE(r.moved);
    EXPECT_NEAR(s.transform.offsetMetres.y, 0.45f, 0.01f);
    EXPECT_EQ(s.transform.offsetMetres.x, 0.0f);
    s.Frame(1, onY, false, false);
    EXPECT_EQ(s.gizmo.DraggedAxis(), 0);

    // Away from every arrow nothing is hovered and the mouse is left to the camera.
    r = s.Frame(1, o + Vec2{-200, 200}, false, false);
    EXPECT_EQ(s.gizmo.Hovered(), 0);
    EXPECT_FALSE(r.tookMouse);
    // Mode 0 takes nothing.
    r = s.Frame(0, onY, true, true);
    EXPECT_FALSE(r.tookMouse);
}

TEST(CloudGizmoTest, AnAxisPointingAtTheCameraNeitherHoversNorJumps) {
    // Straight above the offset, the z arrow projects onto the offset itself.
    GizmoScene s({0.0f, 0.0f, 20000.0f});
    s.mvp = OverlayProjection(1000.0f, 800.0f) * LookAt({0, 0, 20000}, {0, 0, 0}, {1, 0, 0});
    const Vec2 o = s.Screen({0, 0, 0});
    s.Frame(1, o + Vec2{0.5f, 0.5f}, false, false);
    EXPECT_NE(s.gizmo.Hovered(), 3);
    s.Frame(1, o + Vec2{0.5f, 0.5f}, true, true);
    s.Frame(1, o + Vec2{1.5f, 0.5f}, true, false);
    EXPECT_EQ(s.transform.offsetMetres.z, 0.0f);
    EXPECT_LT(std::fabs(s.transform.offsetMetres.x) + std::fabs(s.transform.offsetMetres.y), 0.1f);
}

TEST(CloudGizmoTest, RingDragTurnsTheAngleAndWrapsIt) {
    GizmoScene s({0.0f, 0.0f, 20000.0f});
    s.mvp = OverlayProjection(1000.0f, 800.0f) * LookAt({0, 0, 20000}, {0, 0, 0}, {1, 0, 0});
    s.transform.yawDegrees = 350.0f;
    const Vec2 o = s.Screen({0, 0, 0});
    const Vec2 onRing = s.Screen(RingPoint({0, 0, 0}, 2, 0.0f));
    s.Frame(2, onRing, false, false);
    ASSERT_EQ(s.gizmo.Hovered(), 3);
    GizmoResult r = s.Frame(2, onRing, true, true);
    EXPECT_TRUE(r.tookMouse);
    EXPECT_TRUE(r.handCursor);
    // A quarter turn of the mouse around the projected offset, counter-clockwise on
    // screen: +90 degrees, which takes 350 past 360 to 80.
    const Vec2 arm = onRing - o;
    r = s.Frame(2, o + Vec2{arm.y, -arm.x}, true, false);
    EXPECT_TRUE(r.moved);
    EXPECT_NEAR(s.transform.yawDegrees, 80.0f, 0.01f);
    // And back by half a turn: 80 - 180 wraps below 0 to 260.
    r = s.Frame(2, o + Vec2{-arm.y, arm.x}, true, false);
    EXPECT_NEAR(s.transform.yawDegrees, 260.0f, 0.01f);
}

TEST(CloudGizmoTest, AMouseLostDuringADragContinuesFromWhereItComesBack) {
    GizmoScene s;
    const Vec2 o = s.Screen({0, 0, 0});
    const Vec2 tipX = s.Screen({kGizmoAxisLengthMetres, 0, 0});
    const Vec2 onX = o + (tipX - o) * 0.5f;
    s.Frame(1, onX, false, false);
    s.Frame(1, onX, true, true);
    ASSERT_EQ(s.gizmo.DraggedAxis(), 1);
    GizmoResult r = s.Frame(1, {-FLT_MAX, -FLT_MAX}, true, false, false);
    EXPECT_FALSE(r.moved);
    EXPECT_TRUE(r.tookMouse);
    r = s.Frame(1, onX + Vec2{300, 300}, true, false);
    EXPECT_FALSE(r.moved);
    EXPECT_EQ(s.transform.offsetMetres.x, 0.0f);
    r = s.Frame(1, onX + Vec2{300, 300} + (tipX - o) * 0.1f, true, false);
    EXPECT_TRUE(r.moved);
    EXPECT_NEAR(s.transform.offsetMetres.x, 0.135f, 0.005f);
}

TEST(CloudGizmoTest, RingObjectsFollowTheOffsetAndShowHoverAndDrag) {
    GizmoScene s;
    const auto rings = s.gizmo.RingObjects({1.0f, 2.0f, 0.5f});
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const SceneObject& ring = rings[static_cast<std::size_t>(i)];
        ASSERT_EQ(ring.positions.size(), 97u);
        EXPECT_EQ(ring.primitive, kPrimitiveLineStrip);
        EXPECT_FALSE(ring.depth_write);
        EXPECT_NEAR(Length(ring.positions[10] - Vec3{1000.0f, 2000.0f, 500.0f}), 1700.0f, 0.1f);
        EXPECT_NEAR(Length(ring.positions[0] - ring.positions[96]), 0.0f, 0.1f);
    }
    EXPECT_NEAR(rings[0].positions[24].x, 1000.0f, 1e-3f);  // the x ring lies in the y-z plane
    EXPECT_NEAR(rings[2].positions[24].z, 500.0f, 1e-3f);   // the z ring lies in the x-y plane
}

}  // namespace
}  // namespace orbel::studio::gui
