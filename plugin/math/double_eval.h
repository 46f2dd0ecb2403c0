// Scalar single-precision exp, sin/cos, asin and acos evaluated in double precision.
//
// A sampled direction is one long chain of dependent scalar steps, where what counts is the
// latency of each step: the lane functions of fast_math.h and asin_lanes.h take longer on one
// value, and a library call makes every live vector register go to the stack and back. These
// take the argument to double, reduce it with plain arithmetic and evaluate a short polynomial
// by pairs of terms, with errors of 1e-12 relative or less: the float they return is the
// correctly rounded value in all but rare cases, where it is one unit in the last place away
// (the library's float arcsine and arccosine are so for several per cent of arguments). Only
// additions, multiplications, a square root and bit operations, without fused multiply-adds, so
// every build of a kernel gives the same bits.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "math/numeric.h"
#include "math/wide_math.h"

namespace hair {

namespace double_eval {

inline double fromBits(std::uint64_t b) { return wide::fromBits<double>(static_cast<std::int64_t>(b)); }
inline std::uint64_t toBits(double d) { return static_cast<std::uint64_t>(wide::bits(d)); }
constexpr double kRoundShift = wide::kShift;

// 2^(j/128) for j = 0..127, each from the exponential series at j·ln2/128 (correct to a unit
// in the last place of a double).
struct Exp2Table {
    double v[128];
    constexpr Exp2Table() : v{} {
        for (int j = 0; j < 128; ++j) {
            const double x = double(j) * 0.0054152123481245725;
            double term = 1.0, sum = 1.0;
            for (int k = 1; k < 25; ++k) {
                term *= x / double(k);
                sum += term;
            }
            v[j] = sum;
        }
    }
};
inline constexpr Exp2Table kExp2{};

// asin s for s = a = |x| (the lower half) or s = √((1 - a)/2) (big: the upper half).
inline double asinOfHalf(double a, bool big) {
    const double z = big ? (1.0 - a) * 0.5 : a * a;
    const double s = big ? std::sqrt(z) : a;
    return s + s * z * wide::asinSeries(z);
}

} // namespace double_eval

// e^x for float x, x clamped to ±kMaxExp first (NaN stays NaN).
inline float expViaDouble(float x) {
    using namespace double_eval;
    x = x > kMaxExp ? kMaxExp : x;
    x = x < -kMaxExp ? -kMaxExp : x;
    // x = (128m + j + r)·ln2/128 with |r| <= 1/2: e^x = 2^m · 2^(j/128) · e^(r·ln2/128).
    const double z = double(x) * 184.6649652337873; // 128/ln2
    const double shifted = z + kRoundShift;
    const double r = z - (shifted - kRoundShift);
    const std::int64_t k = std::int64_t(toBits(shifted) << 13) >> 13;
    // e^(r·c), c = ln2/128, by its series to r³ (|r·c| <= 0.0028: error below 3e-12).
    const double p =
        (1.0 + r * 0.0054152123481245725) + (r * r) * (1.4662262387640425e-05 + r * 2.646642144433097e-08);
    const std::uint64_t scale = toBits(kExp2.v[k & 127]) + (std::uint64_t(k >> 7) << 52);
    return float(p * fromBits(scale));
}

// sin x and cos x for float x; |x| from 2^20 on, infinities and NaN go to the library.
inline void sinCosViaDouble(float x, float& sinOut, float& cosOut) {
    using namespace double_eval;
    if (!(std::fabs(x) < 1048576.0f)) {
        sinOut = std::sin(x);
        cosOut = std::cos(x);
        return;
    }
    // x = kπ/2 + r with |r| <= π/4; π/2 in two parts, the first with 32 significant bits so
    // that k times it is exact.
    const double xd = x;
    const double shifted = xd * 0.63661977236758134 + kRoundShift;
    const double k = shifted - kRoundShift;
    const double r = (xd - k * 1.5707963267341256) - k * 6.077100506506192e-11;
    const unsigned quadrant = unsigned(toBits(shifted)) & 3u;
    // sin r = r·(1 + z·S(z)) and cos r = 1 + z·C(z), z = r², near-minimax on z <= (π/4)².
    const double z = r * r, z2 = z * z;
    const double s = r * (1.0 + z * ((-0.16666666666663886 + z * 0.0083333333310792231) +
                                     z2 * ((-0.00019841266916985966 + z * 2.7555990929565319e-6) +
                                           z2 * -2.4805636241834763e-8)));
    const double c =
        1.0 + z * ((-0.49999999999963891 + z * 0.041666666637396073) +
                   z2 * ((-0.0013888885091399199 + z * 2.4799862190148396e-5) + z2 * -2.7237140418016e-7));
    // By quadrant, (sin, cos) is (s, c), (c, -s), (-s, -c) or (-c, s).
    const double sv = quadrant & 1u ? c : s;
    const double cv = quadrant & 1u ? s : c;
    sinOut = float(fromBits(toBits(sv) ^ (std::uint64_t(quadrant & 2u) << 62)));
    cosOut = float(fromBits(toBits(cv) ^ (std::uint64_t((quadrant + 1u) & 2u) << 62)));
}

// asin x for float x in [-1, 1] (NaN outside). Up to |x| = 1/2 the series in x²; above it the
// half-angle form asin |x| = π/2 - 2·asin √((1 - |x|)/2), whose series is the same. The halves
// are a branch: the arguments of one view's samples mostly stay on one side, and the lower half
// need not wait for a square root.
inline float asinViaDouble(float x) {
    using namespace double_eval;
    const double xd = x, a = std::fabs(xd);
    const bool big = a > 0.5;
    const double p = asinOfHalf(a, big);
    return float(std::copysign(big ? 1.5707963267948966 - 2.0 * p : p, xd));
}

// acos x for float x in [-1, 1] (NaN outside), through the same halves: π/2 - asin x up to
// |x| = 1/2, above it 2·asin √((1 - |x|)/2), taken from π for negative x.
inline float acosViaDouble(float x) {
    using namespace double_eval;
    const double xd = x, a = std::fabs(xd);
    const bool big = a > 0.5;
    const double p = asinOfHalf(a, big);
    if (big) return float(xd < 0.0 ? 3.141592653589793 - 2.0 * p : 2.0 * p);
    return float(1.5707963267948966 - std::copysign(p, xd));
}

} // namespace hair
