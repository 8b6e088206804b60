// Orbit camera, projection, unprojection and point picking.
#include "views/OrbitCamera.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace orbel::studio::gui {
namespace {

constexpr float kMetresToMillimetres = 1000.0f;
constexpr float kOrbitRadiansPerPixel = 0.005f;
constexpr float kDragThresholdSquared = 25.0f;  // 5 pixels
constexpr float kMinOrbitRadius = 25.0f;        // mm
constexpr Vec3 kWorldUp{0.0f, 0.0f, 1.0f};

bool Finite(Vec2 v) { return std::isfinite(v.x) && std::isfinite(v.y); }

Vec3 Transform(const Mat4& m, Vec3 v, float w) {
    const Vec4 r = m * Vec4{v.x, v.y, v.z, w};
    return {r.x, r.y, r.z};
}

}  // namespace

Mat4 RenderProjection(float width, float height) {
    return Perspective(kFieldOfViewRadians, width / height, kRenderNear, kFar);
}

Mat4 OverlayProjection(float width, float height) {
    return Perspective(kFieldOfViewRadians, width / height, kOverlayNear, kFar);
}

ScreenPoint Project(Vec3 pointMetres, const Mat4& mvp, Vec2 rectMin, Vec2 rectMax) {
    const Vec3 p = pointMetres * kMetresToMillimetres;
    const Vec4 clip = mvp * Vec4{p.x, p.y, p.z, 1.0f};
    ScreenPoint result;
    if (!(clip.w > 0.0f)) {
        return result;
    }
    const float ndcX = clip.x / clip.w;
    const float ndcY = clip.y / clip.w;
    const float ndcZ = clip.z / clip.w;
    // NaN fails both tests and stays invisible.
    if (!(ndcZ >= -1.0f && ndcZ <= 1.0f) || !std::isfinite(ndcX) || !std::isfinite(ndcY)) {
        return result;
    }
    result.position.x = (ndcX * 0.5f + 0.5f) * (rectMax.x - rectMin.x) + rectMin.x;
    result.position.y = (1.0f - (ndcY * 0.5f + 0.5f)) * (rectMax.y - rectMin.y) + rectMin.y;
    result.depth = ndcZ;
    result.visible = true;
    return result;
}

std::optional<Vec3> UnprojectToPlane(const Mat4& view, const Mat4& projection, Vec2 rectMin, Vec2 rectMax,
                                     Vec2 mouse, float planeZ) {
    const float width = rectMax.x - rectMin.x;
    const float height = rectMax.y - rectMin.y;
    if (!(width > 1.0f) || !(height > 1.0f) || !Finite(mouse)) {
        return std::nullopt;
    }
    const double ndcX = (mouse.x - rectMin.x) / width * 2.0 - 1.0;
    const double ndcY = (height - (mouse.y - rectMin.y)) / height * 2.0 - 1.0;
    const std::array<double, 16> inverse = InverseInDouble(projection * view);
    auto unproject = [&](double ndcZ) {
        double p[4];
        for (int row = 0; row < 4; ++row) {
            p[row] = inverse[static_cast<std::size_t>(row)] * ndcX + inverse[static_cast<std::size_t>(4 + row)] * ndcY +
                     inverse[static_cast<std::size_t>(8 + row)] * ndcZ + inverse[static_cast<std::size_t>(12 + row)];
        }
        const double scale = 1.0 / (p[3] * kMetresToMillimetres);
        return std::array<double, 3>{p[0] * scale, p[1] * scale, p[2] * scale};
    };
    const std::array<double, 3> nearPoint = unproject(-1.0);
    const std::array<double, 3> farPoint = unproject(1.0);
    const double d = farPoint[2] - nearPoint[2];
    if (!(std::fabs(d) >= 1e-6)) {
        return std::nullopt;
    }
    const double s = (planeZ - nearPoint[2]) / d;
    if (!(s >= 0.0)) {
        return std::nullopt;
    }
    const Vec3 hit{static_cast<float>(nearPoint[0] + s * (farPoint[0] - nearPoint[0])),
                   static_cast<float>(nearPoint[1] + s * (farPoint[1] - nearPoint[1])),
                   static_cast<float>(nearPoint[2] + s * (farPoint[2] - nearPoint[2]))};
    if (!std::isfinite(hit.x) || !std::isfinite(hit.y) || !std::isfinite(hit.z)) {
        return std::nullopt;
    }
    return hit;
}

std::optional<Vec3> PickPoint(std::span<const float> positionsMetres, Vec2 mouse, const Mat4& mvp,
                              Vec2 rectMin, Vec2 rectMax, float radiusPixels) {
    if (!Finite(mouse)) {
        return std::nullopt;
    }
    float best = radiusPixels * radiusPixels;
    float bestDepth = std::numeric_limits<float>::max();
    std::optional<Vec3> found;
    const std::size_t count = positionsMetres.size() / 3;
    for (std::size_t i = 0; i < count; ++i) {
        const Vec3 p{positionsMetres[3 * i], positionsMetres[3 * i + 1], positionsMetres[3 * i + 2]};
        const ScreenPoint s = Project(p, mvp, rectMin, rectMax);
        if (!s.visible) {
            continue;
        }
        const Vec2 d = s.position - mouse;
        const float e = Dot(d, d);
        if (e > best) {
            continue;
        }
        if (e < best || s.depth < bestDepth) {
            best = e;
            bestDepth = s.depth;
            found = p;
        }
    }
    return found;
}

void OrbitCamera::Reset() {
    eye = kDefaultEye;
    target = kDefaultTarget;
    up = CameraUp(Direction(eye, target), kWorldUp);
    ClearDrag();
    pickedPivot_.reset();
}

Mat4 OrbitCamera::ViewMatrix() const { return LookAt(eye, target, OrthoUp(Normalize(target - eye), up)); }

void OrbitCamera::ClearDrag() {
    dragging_ = false;
    moved_ = false;
    dragStartMouse_ = {};
    eyeAtStart_ = {};
    targetAtStart_ = {};
    upAtStart_ = kWorldUp;
}

void OrbitCamera::RestartDrag(Vec2 mouse) {
    dragStartMouse_ = mouse;
    eyeAtStart_ = eye;
    targetAtStart_ = target;
    upAtStart_ = up;
}

void OrbitCamera::HandleInput(const CameraInput& input, const Mat4& overlayMvp, Vec2 rectMin, Vec2 rectMax,
                              std::span<const float> pickPositions) {
    if (!input.leftDown) {
        ClearDrag();
    }
    // A mouse that is not over the window has no position: it must not turn into a
    // jump of the camera, neither now nor on the frame it comes back.
    if (!input.mouseValid || !Finite(input.mouse)) {
        lastMouseValid_ = false;
        return;
    }
    const Vec2 delta = lastMouseValid_ ? input.mouse - lastMouse_ : Vec2{};
    lastMouse_ = input.mouse;
    lastMouseValid_ = true;
    if (!input.itemActive && !input.itemHovered && !dragging_) {
        return;
    }

    if (!input.captured) {
        if (input.leftClicked && input.itemHovered) {
            std::optional<Vec3> candidate = PickPoint(pickPositions, input.mouse, overlayMvp, rectMin, rectMax);
            if (!candidate) {
                const float width = rectMax.x - rectMin.x;
                const float height = std::max(1.0f, rectMax.y - rectMin.y);
                candidate = UnprojectToPlane(ViewMatrix(), OverlayProjection(width, height), rectMin, rectMax,
                                             input.mouse, 0.0f);
            }
            if (candidate) {
                pickedPivot_ = *candidate * kMetresToMillimetres;
            }
            dragging_ = true;
            moved_ = false;
            RestartDrag(input.mouse);
            pivot_ = pickedPivot_ ? *pickedPivot_ : target;
        }
        if (input.leftDown && dragging_) {
            const Vec2 a = input.mouse - dragStartMouse_;
            if (!moved_ && Dot(a, a) < kDragThresholdSquared) {
                return;
            }
            moved_ = true;
            Orbit(input.mouse);
        }
    }
    if (input.rightDown && input.itemActive) {
        Pan(delta);
    }
    if ((input.itemHovered || dragging_) && input.wheel != 0.0f && std::isfinite(input.wheel)) {
        Wheel(input.wheel);
        if (dragging_) {
            RestartDrag(input.mouse);
        }
    }
}

void OrbitCamera::Orbit(Vec2 mouse) {
    const Vec2 a = mouse - dragStartMouse_;
    const Mat4 yaw = Rotate(Mat4{}, -a.x * kOrbitRadiansPerPixel, kWorldUp);
    const Vec3 f0 = Direction(eyeAtStart_, targetAtStart_);
    const Vec3 right = Normalize(Cross(f0, OrthoUp(f0, upAtStart_)));
    const Vec3 rotatedRight = Normalize(Transform(yaw, right, 0.0f));
    const Mat4 pitch = Rotate(Mat4{}, -a.y * kOrbitRadiansPerPixel, rotatedRight);
    const Mat4 r = pitch * yaw;
    eye = pivot_ + Transform(r, eyeAtStart_ - pivot_, 0.0f);
    target = pivot_ + Transform(r, targetAtStart_ - pivot_, 0.0f);
    up = Normalize(Transform(r, upAtStart_, 0.0f));
    up = OrthoUp(Direction(eye, target), up);

    const float radius = Length(eye - pivot_);
    if (radius < 1e-5f) {
        eye = pivot_ + Vec3{0.0f, -kMinOrbitRadius, 0.0f};
    } else if (radius < kMinOrbitRadius) {
        eye = pivot_ + (eye - pivot_) * (kMinOrbitRadius / radius);
    }
}

void OrbitCamera::Pan(Vec2 delta) {
    const float k = std::clamp(Length(eye - target) * 0.005f, 0.5f, 250.0f);
    const Vec3 f = Direction(eye, target);
    const Vec3 right = RightOf(f, kWorldUp);
    const Vec3 upv = CameraUp(f, kWorldUp);
    const Vec3 move = (right * -delta.x + upv * delta.y) * k;
    eye += move;
    target += move;
}

void OrbitCamera::Wheel(float wheel) {
    const float distance = Length(target - eye);
    if (distance <= 1e-5f) {
        return;
    }
    const Vec3 dir = (target - eye) / distance;
    const float step = std::max(0.1f * distance, 50.0f);
    const float newDistance = std::clamp(distance - wheel * step, 10.0f, 350000.0f);
    float blend = 0.0f;
    if (distance < 1000.0f) {
        const float c = 1.0f - std::clamp((distance - 250.0f) / 750.0f, 0.0f, 1.0f);
        blend = (3.0f - 2.0f * c) * c * c;
    }
    const float fly = std::max(std::max(Length(eye), 250.0f) * 0.1f, 50.0f) * wheel;
    if (blend < 1e-5f) {
        eye = target - dir * newDistance;
    } else if (blend > 0.99999f) {
        eye += dir * fly;
        target += dir * fly;
    } else {
        const Vec3 dollyEye = target - dir * newDistance;
        const Vec3 flyEye = eye + dir * fly;
        eye = dollyEye * (1.0f - blend) + flyEye * blend;
        target = (target + dir * fly) * blend + target * (1.0f - blend);
    }
}

}  // namespace orbel::studio::gui
