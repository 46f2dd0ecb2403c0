// Four-lane single-precision colours and vectors shared by every hair model.
//
// A colour's fourth lane repeats blue and takes part in every product; a vector's fourth
// lane carries nothing. Both are one SSE register, so lane-wise arithmetic is one instruction.
#pragma once
#include <cmath>

#include "quor/types.h"

namespace hair {

typedef float f4 __attribute__((vector_size(16)));

struct Float4 {
    f4 v;

    Float4() : v{0, 0, 0, 0} {}
    explicit Float4(f4 x) : v(x) {}
    Float4(float a, float b, float c, float d) : v{a, b, c, d} {}
    static Float4 splat(float s) { return Float4(s, s, s, s); }

    float operator[](int i) const { return v[i]; }
    float& operator[](int i) { return reinterpret_cast<float*>(&v)[i]; }
};

// Colour: r, g, b and a fourth lane that repeats b.
struct Color4 : Float4 {
    using Float4::Float4;
    Color4() = default;
    explicit Color4(float s) : Float4(s, s, s, s) {}
    Color4(float r, float g, float b) : Float4(r, g, b, b) {}
    Color4(float r, float g, float b, float a) : Float4(r, g, b, a) {}
    explicit Color4(f4 x) : Float4(x) {}
    explicit Color4(const quor::Color& c) : Float4(c.r, c.g, c.b, c.a) {}
    // From three channels (the fourth repeats blue).
    static Color4 rgb(const quor::Color& c) { return Color4(c.r, c.g, c.b); }
    static Color4 rgb(const quor::Color3f& c) { return Color4(c.r, c.g, c.b); }
    static Color4 rgb(const float* c) { return Color4(c[0], c[1], c[2]); }

    float r() const { return v[0]; }
    float g() const { return v[1]; }
    float b() const { return v[2]; }
    quor::Color host() const { return {v[0], v[1], v[2], v[3]}; }
};

// Vector: x, y, z in four lanes.
struct Vec4 : Float4 {
    using Float4::Float4;
    Vec4() = default;
    Vec4(float x, float y, float z) : Float4(x, y, z, 0) {}
    explicit Vec4(f4 x) : Float4(x) {}
    explicit Vec4(const quor::Vector& p) : Float4(p.x, p.y, p.z, p.w) {}

    float x() const { return v[0]; }
    float y() const { return v[1]; }
    float z() const { return v[2]; }
    quor::Vector host() const { return {v[0], v[1], v[2], v[3]}; }
};

#define HAIR_LANE_OPS(T)                                                                                     \
    inline T operator+(T a, T b) { return T(a.v + b.v); }                                                    \
    inline T operator-(T a, T b) { return T(a.v - b.v); }                                                    \
    inline T operator*(T a, T b) { return T(a.v * b.v); }                                                    \
    inline T operator/(T a, T b) { return T(a.v / b.v); }                                                    \
    inline T operator*(T a, float s) { return T(a.v * s); }                                                  \
    inline T operator*(float s, T a) { return T(a.v * s); }                                                  \
    inline T operator/(T a, float s) { return T(a.v / s); }                                                  \
    inline T operator-(T a) { return T(-a.v); }                                                              \
    inline T& operator+=(T& a, T b) {                                                                        \
        a.v += b.v;                                                                                          \
        return a;                                                                                            \
    }                                                                                                        \
    inline T& operator-=(T& a, T b) {                                                                        \
        a.v -= b.v;                                                                                          \
        return a;                                                                                            \
    }                                                                                                        \
    inline T& operator*=(T& a, T b) {                                                                        \
        a.v *= b.v;                                                                                          \
        return a;                                                                                            \
    }                                                                                                        \
    inline T& operator*=(T& a, float s) {                                                                    \
        a.v *= s;                                                                                            \
        return a;                                                                                            \
    }                                                                                                        \
    inline T& operator/=(T& a, float s) {                                                                    \
        a.v /= s;                                                                                            \
        return a;                                                                                            \
    }                                                                                                        \
    inline T lmin(T a, T b) { return T(a.v < b.v ? a.v : b.v); }                                             \
    inline T lmax(T a, T b) { return T(a.v > b.v ? a.v : b.v); }                                             \
    inline T clampLanes(T a, float lo, float hi) {                                                           \
        return lmin(lmax(a, T(f4{lo, lo, lo, lo})), T(f4{hi, hi, hi, hi}));                                  \
    }

HAIR_LANE_OPS(Float4)
HAIR_LANE_OPS(Color4)
HAIR_LANE_OPS(Vec4)
#undef HAIR_LANE_OPS

// Colours.
inline Color4 saturate(Color4 c) { return clampLanes(c, 0.0f, 1.0f); }
// max(1 - c, 0) per lane.
inline Color4 complement(Color4 c) { return lmax(Color4(1.0f) - c, Color4(0.0f)); }
// Per lane clamped to [0, FLT_MAX]; a NaN lane gives 0. The last guard of a result that
// unbounded parameters could push past the float range.
inline Color4 finiteNonNegative(Color4 c) { return lmin(lmax(c, Color4(0.0f)), Color4(3.40282347e38f)); }
// fmax without the library call: a NaN operand gives way to the other (a value apart from the
// sign of a zero).
inline float maxNum(float a, float b) { return (a >= b || b != b) ? a : b; }
inline float maxRGB(Color4 c) { return maxNum(maxNum(c.r(), c.g()), c.b()); }
inline Color4 expLanes(Color4 c) {
    return Color4(std::exp(c[0]), std::exp(c[1]), std::exp(c[2]), std::exp(c[3]));
}

// Vectors (three components).
inline float dot(Vec4 a, Vec4 b) { return a.v[0] * b.v[0] + a.v[1] * b.v[1] + a.v[2] * b.v[2]; }
inline Vec4 cross(Vec4 a, Vec4 b) {
    return Vec4(a.v[1] * b.v[2] - a.v[2] * b.v[1], a.v[2] * b.v[0] - a.v[0] * b.v[2],
                a.v[0] * b.v[1] - a.v[1] * b.v[0]);
}
inline float length(Vec4 a) { return std::sqrt(dot(a, a)); }

// Normalises unless the vector is too small for it: when its largest absolute component is
// not below 1e18 times its length, the vector is returned as it was.
inline Vec4 normalizeSafe(Vec4 a) {
    float len = length(a);
    // A NaN component makes len NaN and the test false whatever m is, so a plain maximum (no
    // library call) decides the same as fmax.
    float ax = std::fabs(a.x()), ay = std::fabs(a.y()), az = std::fabs(a.z());
    float m = ax > ay ? ax : ay;
    m = m > az ? m : az;
    if (!(m < len * 1e18f)) return a;
    return a * (1.0f / len);
}

} // namespace hair
