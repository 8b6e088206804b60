// The small vector and matrix maths of the 3D view: 2-, 3- and 4-vectors, 4 x 4
// matrices (column-major, column vectors, as OpenGL takes them), look-at, perspective,
// rotation, inverse, and the camera-frame helpers that keep the orbit camera's up
// vector sane. Plain values and pure functions, safe on any thread.
#pragma once

#include <array>
#include <cstddef>

namespace orbel::studio::gui {

struct Vec2 {
    float x = 0.0f;
    float y = 0.0f;
};

struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

struct Vec4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;
};

// m[column][row]; the identity by default.
struct Mat4 {
    std::array<std::array<float, 4>, 4> m{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};

    std::array<float, 4>& operator[](int column) { return m[static_cast<std::size_t>(column)]; }
    const std::array<float, 4>& operator[](int column) const { return m[static_cast<std::size_t>(column)]; }
    // The 16 floats in column-major order, for glUniformMatrix4fv.
    const float* Data() const { return &m[0][0]; }
};

inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator*(Vec2 a, float s) { return {a.x * s, a.y * s}; }
inline float Dot(Vec2 a, Vec2 b) { return a.x * b.x + a.y * b.y; }

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator-(Vec3 a) { return {-a.x, -a.y, -a.z}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Vec3 operator/(Vec3 a, float s) { return {a.x / s, a.y / s, a.z / s}; }
inline Vec3& operator+=(Vec3& a, Vec3 b) { return a = a + b; }
inline float Dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Vec3 Cross(Vec3 a, Vec3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

float Length(Vec2 v);
float Length(Vec3 v);
// No guard: a zero vector gives NaNs; callers that may pass one use Direction or RightOf.
Vec3 Normalize(Vec3 v);
// normalize(to - from); (0, 1, 0) when the two are 1e-5 or closer.
Vec3 Direction(Vec3 from, Vec3 to);
// normalize(cross(f, up)); (1, 0, 0) when that cross product is 1e-5 long or shorter.
Vec3 RightOf(Vec3 f, Vec3 up);
// The unit vector orthogonal to f in the plane of f and worldUp.
Vec3 CameraUp(Vec3 f, Vec3 worldUp);
// `up` made orthogonal to f; falls back to +z, then to CameraUp(f, +z) when degenerate.
Vec3 OrthoUp(Vec3 f, Vec3 up);

Mat4 LookAt(Vec3 eye, Vec3 center, Vec3 up);
// fovy in radians.
Mat4 Perspective(float fovy, float aspect, float nearPlane, float farPlane);
// m x (rotation by `angle` radians around the normalised axis).
Mat4 Rotate(const Mat4& m, float angle, Vec3 axis);
Mat4 operator*(const Mat4& a, const Mat4& b);
Vec4 operator*(const Mat4& m, Vec4 v);
// General inverse; the zero matrix when `m` is singular.
Mat4 Inverse(const Mat4& m);
// The same in double precision (column-major flat array): unprojecting to the far plane
// needs more digits than a float keeps.
std::array<double, 16> InverseInDouble(const Mat4& m);

// Squared distance of p from the segment a-b (a point when a and b are 1e-3 px or closer).
float SegmentDistanceSquared(Vec2 p, Vec2 a, Vec2 b);

}  // namespace orbel::studio::gui
