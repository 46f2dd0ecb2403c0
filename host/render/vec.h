// The renderer's one vector type: points, directions and linear RGB alike, with the few
// operations the scene and the integrator need, and conversions to the host's four-lane types.
#pragma once
#include <algorithm>
#include <cmath>

#include "quor/types.h"

namespace quor::render {

constexpr float kPi = 3.14159265358979f;

struct Float3 {
    float x = 0, y = 0, z = 0;
};

inline Float3 operator+(Float3 a, Float3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Float3 operator-(Float3 a, Float3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Float3 operator*(Float3 a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Float3 operator*(Float3 a, Float3 b) { return {a.x * b.x, a.y * b.y, a.z * b.z}; }
inline float dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Float3 cross(Float3 a, Float3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Unit length; a zero vector stays zero.
inline Float3 unit(Float3 a) {
    float l = std::sqrt(dot(a, a));
    return l > 0 ? a * (1.0f / l) : a;
}
// Two unit vectors a, b perpendicular to the unit vector w, with (a, b, w) right-handed.
inline void perpendiculars(Float3 w, Float3& a, Float3& b) {
    a = unit(cross(std::fabs(w.x) < 0.9f ? Float3{1, 0, 0} : Float3{0, 1, 0}, w));
    b = cross(w, a);
}
inline float maxComponent(Float3 a) { return std::max(a.x, std::max(a.y, a.z)); }
inline float saturate(float x) { return x > 0 ? (x < 1 ? x : 1) : 0; }
inline Float3 saturate(Float3 c) { return {saturate(c.x), saturate(c.y), saturate(c.z)}; }

inline Float3 fromVector(const Vector& v) { return {v.x, v.y, v.z}; }
inline Float3 fromColor(const Color& c) { return {c.r, c.g, c.b}; }
inline Vector toVector(Float3 v) { return {v.x, v.y, v.z, 0}; }
// A sampler colour: the fourth lane repeats blue.
inline Color toColor(Float3 c) { return {c.x, c.y, c.z, c.z}; }

} // namespace quor::render
