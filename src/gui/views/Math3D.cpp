// Vector and matrix maths of the 3D view.
#include "views/Math3D.h"

#include <algorithm>
#include <cmath>

namespace orbel::studio::gui {
namespace {

constexpr float kDegenerate = 1e-5f;

// Cofactor expansion on the flat column-major array (the classic 4 x 4 inverse); false
// when the matrix is singular.
template <typename T>
bool InvertFlat(const T* m, T* out) {
    T inv[16];
    inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
             m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
    inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
             m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
    inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
             m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
    inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
              m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
    inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
             m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
    inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
             m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
    inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
             m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
    inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
              m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
    inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
             m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
    inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
             m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
    inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
              m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
    inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
              m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
    inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
             m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
    inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
             m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
    inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
              m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
    inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
              m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
    const T det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
    if (det == T(0)) {
        return false;
    }
    const T scale = T(1) / det;
    for (int i = 0; i < 16; ++i) {
        out[i] = inv[i] * scale;
    }
    return true;
}

}  // namespace

float Length(Vec2 v) { return std::sqrt(Dot(v, v)); }

float Length(Vec3 v) { return std::sqrt(Dot(v, v)); }

Vec3 Normalize(Vec3 v) { return v / Length(v); }

Vec3 Direction(Vec3 from, Vec3 to) {
    const Vec3 d = to - from;
    const float length = Length(d);
    if (length <= kDegenerate) {
        return {0.0f, 1.0f, 0.0f};
    }
    return d / length;
}

Vec3 RightOf(Vec3 f, Vec3 up) {
    const Vec3 c = Cross(f, up);
    const float length = Length(c);
    if (length <= kDegenerate) {
        return {1.0f, 0.0f, 0.0f};
    }
    return c / length;
}

Vec3 CameraUp(Vec3 f, Vec3 worldUp) { return Normalize(Cross(RightOf(f, worldUp), f)); }

Vec3 OrthoUp(Vec3 f, Vec3 up) {
    Vec3 u = Length(up) <= kDegenerate ? Vec3{0.0f, 0.0f, 1.0f} : up;
    u = u - f * Dot(f, u);
    const float length = Length(u);
    if (length <= kDegenerate) {
        return CameraUp(f, {0.0f, 0.0f, 1.0f});
    }
    return u / length;
}

Mat4 LookAt(Vec3 eye, Vec3 center, Vec3 up) {
    const Vec3 f = Normalize(center - eye);
    const Vec3 s = Normalize(Cross(f, up));
    const Vec3 u = Cross(s, f);
    Mat4 r;
    r[0][0] = s.x;
    r[1][0] = s.y;
    r[2][0] = s.z;
    r[0][1] = u.x;
    r[1][1] = u.y;
    r[2][1] = u.z;
    r[0][2] = -f.x;
    r[1][2] = -f.y;
    r[2][2] = -f.z;
    r[3][0] = -Dot(s, eye);
    r[3][1] = -Dot(u, eye);
    r[3][2] = Dot(f, eye);
    return r;
}

Mat4 Perspective(float fovy, float aspect, float nearPlane, float farPlane) {
    const float t = std::tan(fovy / 2.0f);
    Mat4 r;
    r.m = {};
    r[0][0] = 1.0f / (aspect * t);
    r[1][1] = 1.0f / t;
    r[2][2] = (farPlane + nearPlane) / (nearPlane - farPlane);
    r[2][3] = -1.0f;
    r[3][2] = 2.0f * farPlane * nearPlane / (nearPlane - farPlane);
    return r;
}

Mat4 Rotate(const Mat4& m, float angle, Vec3 axis) {
    const Vec3 a = Normalize(axis);
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float k = 1.0f - c;
    Mat4 r;
    r[0][0] = c + a.x * a.x * k;
    r[0][1] = a.y * a.x * k + a.z * s;
    r[0][2] = a.z * a.x * k - a.y * s;
    r[1][0] = a.x * a.y * k - a.z * s;
    r[1][1] = c + a.y * a.y * k;
    r[1][2] = a.z * a.y * k + a.x * s;
    r[2][0] = a.x * a.z * k + a.y * s;
    r[2][1] = a.y * a.z * k - a.x * s;
    r[2][2] = c + a.z * a.z * k;
    return m * r;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
    Mat4 r;
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) {
                sum += a[k][row] * b[column][k];
            }
            r[column][row] = sum;
        }
    }
    return r;
}

Vec4 operator*(const Mat4& m, Vec4 v) {
    return {m[0][0] * v.x + m[1][0] * v.y + m[2][0] * v.z + m[3][0] * v.w,
            m[0][1] * v.x + m[1][1] * v.y + m[2][1] * v.z + m[3][1] * v.w,
            m[0][2] * v.x + m[1][2] * v.y + m[2][2] * v.z + m[3][2] * v.w,
            m[0][3] * v.x + m[1][3] * v.y + m[2][3] * v.z + m[3][3] * v.w};
}

Mat4 Inverse(const Mat4& matrix) {
    Mat4 r;
    float out[16];
    if (!InvertFlat(matrix.Data(), out)) {
        r.m = {};
        return r;
    }
    for (int i = 0; i < 16; ++i) {
        r[i / 4][i % 4] = out[i];
    }
    return r;
}

std::array<double, 16> InverseInDouble(const Mat4& matrix) {
    double m[16];
    for (int i = 0; i < 16; ++i) {
        m[i] = matrix.Data()[i];
    }
    std::array<double, 16> out{};
    if (!InvertFlat(m, out.data())) {
        out.fill(0.0);
    }
    return out;
}

float SegmentDistanceSquared(Vec2 p, Vec2 a, Vec2 b) {
    const Vec2 ab = b - a;
    const float lengthSquared = Dot(ab, ab);
    float s = 0.0f;
    if (lengthSquared > 1e-6f) {
        s = std::clamp(Dot(p - a, ab) / lengthSquared, 0.0f, 1.0f);
    }
    const Vec2 d = p - (a + ab * s);
    return Dot(d, d);
}

}  // namespace orbel::studio::gui
