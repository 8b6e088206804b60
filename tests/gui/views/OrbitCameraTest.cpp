// The 3D view's maths and orbit camera: matrices against hand-worked values, projection of
// points in front of, behind and beside the camera, the mouse ray on a plane, picking, and
// the camera's reaction to drags, the wheel and a mouse that is not over the window.
#include "views/OrbitCamera.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

namespace orbel::studio::gui {
namespace {

constexpr Vec2 kRectMin{100.0f, 50.0f};
constexpr Vec2 kRectMax{900.0f, 650.0f};

void ExpectVec(Vec3 actual, Vec3 expected, float tolerance = 1e-3f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// A camera 10 m behind the origin on -x, looking along +x with z up.
Mat4 FrontMvp() {
    const Mat4 view = LookAt({-10000.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 1.0f});
    return OverlayProjection(kRectMax.x - kRectMin.x, kRectMax.y - kRectMin.y) * view;
}

TEST(Math3DTest, LookAtAndPerspectiveMatchHandWorkedMatrices) {
    // Looking from +z down at the origin with y up: x stays x, y stays y, depth is -z - 5.
    const Mat4 view = LookAt({0.0f, 0.0f, 5.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f});
    const Vec4 p = view * Vec4{1.0f, 2.0f, 3.0f, 1.0f};
    EXPECT_NEAR(p.x, 1.0f, 1e-6f);
    EXPECT_NEAR(p.y, 2.0f, 1e-6f);
    EXPECT_NEAR(p.z, -2.0f, 1e-6f);

    const Mat4 projection = Perspective(1.5707963f, 2.0f, 1.0f, 3.0f);  // 90 degrees
    EXPECT_NEAR(projection[0][0], 0.5f, 1e-6f);
    EXPECT_NEAR(projection[1][1], 1.0f, 1e-6f);
    EXPECT_NEAR(projection[2][2], -2.0f, 1e-6f);
    EXPECT_EQ(projection[2][3], -1.0f);
    EXPECT_NEAR(projection[3][2], -3.0f, 1e-6f);
    EXPECT_EQ(projection[3][3], 0.0f);
    // The near plane maps to -1 and the far plane to +1.
    for (const auto& [z, ndc] : {std::pair{-1.0f, -1.0f}, std::pair{-3.0f, 1.0f}}) {
        const Vec4 clip = projection * Vec4{0.0f, 0.0f, z, 1.0f};
        EXPECT_NEAR(clip.z / clip.w, ndc, 1e-5f);
    }

    const Mat4 rotated = Rotate(Mat4{}, 1.5707963f, {0.0f, 0.0f, 2.0f});
    const Vec4 r = rotated * Vec4{1.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_NEAR(r.x, 0.0f, 1e-6f);
    EXPECT_NEAR(r.y, 1.0f, 1e-6f);

    const Mat4 m = projection * view;
    const Mat4 identity = Inverse(m) * m;
    for (int c = 0; c < 4; ++c) {
        for (int row = 0; row < 4; ++row) {
            EXPECT_NEAR(identity[c][row], c == row ? 1.0f : 0.0f, 1e-5f) << c << "," << row;
        }
    }
}

TEST(Math3DTest, CameraFrameHelpersFallBackOnDegenerateInput) {
    ExpectVec(Direction({1, 2, 3}, {1, 2, 3}), {0, 1, 0});
    ExpectVec(Direction({0, 0, 0}, {0, 0, 4}), {0, 0, 1});
    ExpectVec(RightOf({0, 0, 1}, {0, 0, 1}), {1, 0, 0});
    ExpectVec(RightOf({1, 0, 0}, {0, 0, 1}), {0, -1, 0});
    ExpectVec(CameraUp({1, 0, 0}, {0, 0, 1}), {0, 0, 1});
    // Up along the viewing direction, and a zero up: both fall back to a sane up.
    ExpectVec(OrthoUp({1, 0, 0}, {1, 0, 0}), {0, 0, 1});
    ExpectVec(OrthoUp({1, 0, 0}, {0, 0, 0}), {0, 0, 1});
    ExpectVec(OrthoUp({0, 0, -1}, {0, 0, 1}), {0, 1, 0}, 1e-5f);
    ExpectVec(OrthoUp({1, 0, 0}, {1, 0, 1}), {0, 0, 1});

    EXPECT_FLOAT_EQ(SegmentDistanceSquared({5, 3}, {0, 0}, {10, 0}), 9.0f);
    EXPECT_FLOAT_EQ(SegmentDistanceSquared({-3, 4}, {0, 0}, {10, 0}), 25.0f);
    EXPECT_FLOAT_EQ(SegmentDistanceSquared({3, 4}, {0, 0}, {0, 0}), 25.0f);
}

TEST(OrbitCameraTest, ProjectInFrontBehindAndBeside) {
    const Mat4 mvp = FrontMvp();
    const struct {
        const char* what;
        Vec3 point;  // metres
        bool visible;
        Vec2 screen;
    } cases[] = {
        {"origin straight ahead: the centre", {0, 0, 0}, true, {500, 350}},
        {"above the origin: higher on screen", {0, 0, 2}, true, {500, 350 - 0.2f * 300 / 0.57735f}},
        {"to the left (+y): left on screen", {0, 1, 0}, true, {500 - 0.1f * 400 / (0.57735f * 800 / 600), 350}},
        {"behind the camera", {-20, 0, 0}, false, {}},
        {"on the camera", {-10, 0, 0}, false, {}},
        {"closer than the near plane", {-9.95f, 0, 0}, false, {}},
        {"beyond the far plane", {600, 0, 0}, false, {}},
        // Outside the view's cone but in front: x and y are not range-tested.
        {"beside, off screen", {0, 40, 0}, true, {500 - 4.0f * 400 / (0.57735f * 800 / 600), 350}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ScreenPoint s = Project(c.point, mvp, kRectMin, kRectMax);
        EXPECT_EQ(s.visible, c.visible);
        if (c.visible) {
            EXPECT_NEAR(s.position.x, c.screen.x, 0.05f);
            EXPECT_NEAR(s.position.y, c.screen.y, 0.05f);
        }
    }
}

TEST(OrbitCameraTest, UnprojectToPlaneHitsTheGroundAndRefusesParallelAndAwayRays) {
    const float w = kRectMax.x - kRectMin.x;
    const float h = kRectMax.y - kRectMin.y;
    // Looking down at 45 degrees onto the origin: the centre ray meets z = 0 at the origin.
    const Mat4 view = LookAt({-10000.0f, 0.0f, 10000.0f}, {0, 0, 0}, {0, 0, 1});
    const Mat4 projection = OverlayProjection(w, h);
    const auto hit = UnprojectToPlane(view, projection, kRectMin, kRectMax, {500, 350}, 0.0f);
    ASSERT_TRUE(hit.has_value());
    ExpectVec(*hit, {0, 0, 0}, 1e-3f);
    // The point found projects back under the mouse.
    const auto off = UnprojectToPlane(view, projection, kRectMin, kRectMax, {640, 420}, 0.5f);
    ASSERT_TRUE(off.has_value());
    EXPECT_NEAR(off->z, 0.5f, 1e-4f);
    const ScreenPoint back = Project(*off, projection * view, kRectMin, kRectMax);
    EXPECT_NEAR(back.position.x, 640.0f, 0.05f);
    EXPECT_NEAR(back.position.y, 420.0f, 0.05f);

    // A level camera 2 m up: the centre ray runs parallel to the ground, rays above it
    // point away from it, rays below it meet it.
    const Mat4 level = LookAt({-10000.0f, 0, 2000.0f}, {0, 0, 2000.0f}, {0, 0, 1});
    EXPECT_FALSE(UnprojectToPlane(level, projection, kRectMin, kRectMax, {500, 350}, 0.0f).has_value());
    EXPECT_FALSE(UnprojectToPlane(level, projection, kRectMin, kRectMax, {500, 200}, 0.0f).has_value());
    EXPECT_TRUE(UnprojectToPlane(level, projection, kRectMin, kRectMax, {500, 500}, 0.0f).has_value());
    EXPECT_FALSE(UnprojectToPlane(view, projection, {0, 0}, {1, 300}, {0, 0}, 0.0f).has_value());
    EXPECT_FALSE(UnprojectToPlane(view, projection, kRectMin, kRectMax, {-FLT_MAX, -FLT_MAX}, 0.0f).has_value());
}

TEST(OrbitCameraTest, PickPointTakesTheNearestOnScreenWithinFourteenPixelsAndTiesToTheNearerDepth) {
    const Mat4 mvp = FrontMvp();
    auto screenOf = [&](Vec3 p) { return Project(p, mvp, kRectMin, kRectMax).position; };
    // Two points on one ray from the camera: same screen position, different depth.
    const Vec3 far{10.0f, 1.0f, 0.5f};
    const Vec3 near{0.0f, 0.5f, 0.25f};  // halfway between camera and `far`
    ASSERT_NEAR(screenOf(far).x, screenOf(near).x, 1e-3f);
    const Vec3 beside{0.0f, -1.0f, 0.0f};
    std::vector<float> cloud{far.x, far.y, far.z, beside.x, beside.y, beside.z, near.x, near.y, near.z};

    auto picked = PickPoint(cloud, screenOf(far) + Vec2{3, 0}, mvp, kRectMin, kRectMax);
    ASSERT_TRUE(picked.has_value());
    ExpectVec(*picked, near);

    picked = PickPoint(cloud, screenOf(beside) + Vec2{0, 13.9f}, mvp, kRectMin, kRectMax);
    ASSERT_TRUE(picked.has_value());
    ExpectVec(*picked, beside);
    EXPECT_FALSE(PickPoint(cloud, screenOf(beside) + Vec2{0, 14.1f}, mvp, kRectMin, kRectMax).has_value());
    EXPECT_FALSE(PickPoint({}, {500, 350}, mvp, kRectMin, kRectMax).has_value());
    // Points behind the camera are never picked, wherever they would land.
    const std::vector<float> behind{-20.0f, 0.0f, 0.0f};
    EXPECT_FALSE(PickPoint(behind, {500, 350}, mvp, kRectMin, kRectMax).has_value());
}

struct CameraDriver {
    OrbitCamera camera;
    std::vector<float> cloud;

    void Frame(CameraInput input) {
        input.itemHovered = input.itemHovered || input.leftDown;
        input.itemActive = input.itemActive || input.leftDown || input.rightDown;
        const Mat4 mvp = OverlayProjection(800, 600) * camera.ViewMatrix();
        camera.HandleInput(input, mvp, kRectMin, kRectMax, cloud);
    }
    static CameraInput At(Vec2 mouse) {
        CameraInput input;
        input.mouse = mouse;
        input.mouseValid = true;
        input.itemHovered = true;
        return input;
    }
    void LeftDrag(Vec2 from, Vec2 to) {
        CameraInput press = At(from);
        press.leftDown = true;
        press.leftClicked = true;
        Frame(press);
        CameraInput move = At(to);
        move.leftDown = true;
        Frame(move);
    }
};

TEST(OrbitCameraTest, ResetGivesTheDefaultViewWithAnOrthogonalUp) {
    OrbitCamera camera;
    camera.eye = {1, 2, 3};
    camera.Reset();
    ExpectVec(camera.eye, OrbitCamera::kDefaultEye);
    ExpectVec(camera.target, {0, 0, 0});
    EXPECT_NEAR(Dot(camera.up, Direction(camera.eye, camera.target)), 0.0f, 1e-6f);
    EXPECT_GT(camera.up.z, 0.9f);
    EXPECT_FALSE(camera.PickedPivot().has_value());
}

TEST(OrbitCameraTest, LeftDragOrbitsOnlyBeyondFivePixelsAroundThePickedGroundPoint) {
    CameraDriver d;
    d.camera.Reset();
    const Vec3 eye0 = d.camera.eye;
    d.LeftDrag({500, 350}, {503, 353});  // 4.2 pixels
    ExpectVec(d.camera.eye, eye0);
    EXPECT_TRUE(d.camera.Dragging());
    ASSERT_TRUE(d.camera.PickedPivot().has_value());
    ExpectVec(*d.camera.PickedPivot(), {0, 0, 0}, 1.0f);  // the ground under the centre

    CameraInput move = CameraDriver::At({600, 350});
    move.leftDown = true;
    d.Frame(move);
    // Orbiting keeps the distance to the pivot and turns about z.
    EXPECT_NEAR(Length(d.camera.eye), Length(eye0), 1.0f);
    EXPECT_NEAR(d.camera.eye.z, eye0.z, 1.0f);
    EXPECT_GT(std::fabs(d.camera.eye.y), 1000.0f);
    EXPECT_NEAR(Dot(d.camera.up, Direction(d.camera.eye, d.camera.target)), 0.0f, 1e-4f);

    d.Frame(CameraDriver::At({600, 350}));  // released
    EXPECT_FALSE(d.camera.Dragging());
}

TEST(OrbitCameraTest, OrbitingWithTheEyeOnThePivotPutsItTwentyFiveMillimetresAlongMinusY) {
    CameraDriver d;
    d.camera.eye = {0, 0, 5000};
    d.camera.target = {0, 0, 0};
    d.camera.up = {1, 0, 0};
    d.LeftDrag({500, 350}, {500, 350});  // picks the ground under the centre: the origin
    d.Frame(CameraDriver::At({500, 350}));
    ASSERT_TRUE(d.camera.PickedPivot().has_value());
    ExpectVec(*d.camera.PickedPivot(), {0, 0, 0}, 1.0f);

    // From the pivot itself, looking down, nothing new is found: the stored pivot stays.
    d.camera.eye = *d.camera.PickedPivot();
    d.camera.target = {0, 0, -5000};
    d.LeftDrag({500, 350}, {520, 350});
    ExpectVec(d.camera.eye, *d.camera.PickedPivot() + Vec3{0, -25, 0}, 1e-3f);
}

TEST(OrbitCameraTest, WheelDolliesWithinLimitsAndFliesWhenClose) {
    const struct {
        const char* what;
        float distance;  // eye to target, mm
        float wheel;
        float expectedDistance;
        bool targetMoves;
    } cases[] = {
        {"dolly in by a tenth", 20000.0f, 1.0f, 18000.0f, false},
        {"dolly out", 20000.0f, -1.0f, 22000.0f, false},
        {"never closer than 10 mm in dolly mode", 1000.0f, 12.0f, 10.0f, false},
        {"never farther than 350000 mm", 340000.0f, -5.0f, 350000.0f, false},
        {"flies at 250 mm: eye and target move together", 250.0f, 1.0f, 250.0f, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CameraDriver d;
        d.camera.target = {0, 0, 0};
        d.camera.eye = {-c.distance, 0, 0};
        d.camera.up = {0, 0, 1};
        CameraInput input = CameraDriver::At({500, 350});
        input.wheel = c.wheel;
        d.Frame(input);
        EXPECT_NEAR(Length(d.camera.target - d.camera.eye), c.expectedDistance, c.expectedDistance * 1e-4f);
        EXPECT_EQ(Length(d.camera.target) > 1.0f, c.targetMoves);
    }
}

TEST(OrbitCameraTest, RightDragPansEyeAndTargetTogether) {
    CameraDriver d;
    d.camera.Reset();
    d.Frame(CameraDriver::At({500, 350}));
    CameraInput pan = CameraDriver::At({510, 350});
    pan.rightDown = true;
    d.Frame(pan);
    // 10 pixels at about 18 m: k = 90 mm per pixel, to the camera's left (+y when looking along +x).
    const float k = Length(OrbitCamera::kDefaultEye) * 0.005f;
    ExpectVec(d.camera.target, {0, 10.0f * k, 0}, 1.0f);
    ExpectVec(d.camera.eye - d.camera.target, OrbitCamera::kDefaultEye, 1.0f);
}

TEST(OrbitCameraTest, AMouseWithoutPositionNeverMovesTheCamera) {
    CameraDriver d;
    d.camera.Reset();
    d.Frame(CameraDriver::At({500, 350}));
    const Vec3 eye0 = d.camera.eye;

    // Right button held while the mouse leaves the window (ImGui reports -FLT_MAX), then
    // comes back somewhere else: neither frame may pan by the huge difference.
    CameraInput lost = CameraDriver::At({-FLT_MAX, -FLT_MAX});
    lost.mouseValid = false;
    lost.rightDown = true;
    lost.wheel = 1.0f;
    d.Frame(lost);
    ExpectVec(d.camera.eye, eye0);
    CameraInput back = CameraDriver::At({700, 100});
    back.rightDown = true;
    d.Frame(back);
    ExpectVec(d.camera.eye, eye0);

    // A left drag that loses the mouse does not orbit from -FLT_MAX.
    d.LeftDrag({500, 350}, {500, 350});
    CameraInput gone = CameraDriver::At({-FLT_MAX, -FLT_MAX});
    gone.mouseValid = false;
    gone.leftDown = true;
    d.Frame(gone);
    for (float v : {d.camera.eye.x, d.camera.eye.y, d.camera.eye.z, d.camera.up.x}) {
        EXPECT_TRUE(std::isfinite(v));
    }
    ExpectVec(d.camera.eye, eye0);
}

TEST(OrbitCameraTest, CapturedInputDoesNotStartAnOrbit) {
    CameraDriver d;
    d.camera.Reset();
    CameraInput press = CameraDriver::At({500, 350});
    press.leftDown = true;
    press.leftClicked = true;
    press.captured = true;
    d.Frame(press);
    EXPECT_FALSE(d.camera.Dragging());
}

}  // namespace
}  // namespace orbel::studio::gui
