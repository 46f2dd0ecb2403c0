// Scalar helpers shared by every hair model.
#pragma once
#include <algorithm>
#include <cfloat>
#include <cmath>

namespace hair {

constexpr float kPi = 3.1415927f;
constexpr float kTwoPi = 6.2831855f;
constexpr float kFourPi = 12.566371f;
constexpr float kDegToRad = 0.017453292f;
constexpr float kMaxExp = 88.37626f;     // largest argument of expf that stays finite
constexpr float kMinNormalExp = -87.33f; // just above ln of the smallest normal float

inline float sqr(float x) { return x * x; }
inline float clampf(float x, float lo, float hi) { return std::min(std::max(x, lo), hi); }
inline float sat(float x) { return clampf(x, 0.0f, 1.0f); }
inline float safeSqrt(float x) { return std::sqrt(std::max(x, 0.0f)); }
inline float safeAsin(float x) { return std::asin(clampf(x, -1.0f, 1.0f)); }
inline float safeAcos(float x) { return std::acos(clampf(x, -1.0f, 1.0f)); }
inline float clampExp(float x) { return std::exp(clampf(x, -kMaxExp, kMaxExp)); }
// x as a finite number: NaN gives way to fallback, ±inf to ±FLT_MAX (which any clamp then takes
// as a large value); finite x unchanged. Without branches, so that a loop of it runs in lanes.
inline float finiteOr(float x, float fallback) { return x == x ? clampf(x, -FLT_MAX, FLT_MAX) : fallback; }

} // namespace hair
