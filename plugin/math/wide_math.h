// Single-precision sine, cosine, arcsine, exp and cube root evaluated in double precision.
//
// Each is accurate to about 1e-12 relative before it is rounded to float, so that the float
// result is, but for rare near-ties, the correctly rounded value: what the library's
// single-precision functions give, at a fraction of the cost and in lanes. The polynomials are
// our own Chebyshev fits, in the square of the reduced argument (sine, cosine, arcsine) or in
// the reduced argument (exp). The templates take a scalar double or four double lanes (one AVX
// register where the CPU has it, two SSE registers otherwise; for HAIR_LANE_KERNEL functions).
// No fused multiply-add: every build computes the same bits.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "math/fast_math.h"

namespace hair {

typedef double d4 __attribute__((vector_size(32)));
typedef std::int64_t l4 __attribute__((vector_size(32)));

template <class D> struct WideInts;
template <> struct WideInts<double> { using type = std::int64_t; };
template <> struct WideInts<d4> { using type = l4; };

namespace wide {

constexpr double kShift = 6755399441055744.0; // 1.5·2^52: x + kShift rounds x to an integer
constexpr double kHalfPi = 1.5707963267948966;
constexpr double kHalfPiLo = 6.123233995736766e-17; // π/2 − kHalfPi
constexpr double kTwoOverPi = 0.6366197723675814;
constexpr double kLn2 = 0.6931471805599453;
constexpr double kLn2Lo = 2.3190468138462996e-17;
constexpr double kLog2e = 1.4426950408889634;

template <class D> HAIR_LANES D splat(double v) { return D{} + v; }

template <class D> HAIR_LANES typename WideInts<D>::type bits(D x) {
    typename WideInts<D>::type i;
    std::memcpy(&i, &x, sizeof i);
    return i;
}
template <class D> HAIR_LANES D fromBits(typename WideInts<D>::type i) {
    D x;
    std::memcpy(&x, &i, sizeof x);
    return x;
}

HAIR_LANES double sqrtOf(double x) { return __builtin_sqrt(x); }
HAIR_LANES d4 sqrtOf(d4 x) {
    typedef double d2 __attribute__((vector_size(16)));
    d2 lo = __builtin_shufflevector(x, x, 0, 1), hi = __builtin_shufflevector(x, x, 2, 3);
    lo = __builtin_ia32_sqrtpd(lo);
    hi = __builtin_ia32_sqrtpd(hi);
    return __builtin_shufflevector(lo, hi, 0, 1, 2, 3);
}

} // namespace wide

// sin x and cos x for |x| below 2^20 (NaN and infinities give NaN). The reduction by π/2 takes
// π/2 in two parts; on the quarter period both polynomials are accurate to 2e-14.
template <class D> HAIR_LANES void sincosWide(D x, D& s, D& c) {
    using namespace wide;
    const D t = x * kTwoOverPi + kShift;
    const D j = t - kShift;
    const auto q = bits(t); // the low bits hold j
    const D r = (x - j * kHalfPi) - j * kHalfPiLo;
    const D r2 = r * r, r4 = r2 * r2, r8 = r4 * r4;
    // Estrin's scheme: in double the order of evaluation moves nothing a float can hold, and
    // the shorter chain is what the callers wait for.
    const D sp = ((-0.16666666666663885 + 8.333333331079223e-03 * r2) +
                  (-1.9841266916985966e-04 + 2.755599092956532e-06 * r2) * r4) +
                 -2.4805636241834762e-08 * r8;
    const D cp = ((4.166666666666468e-02 + -1.3888888887277342e-03 * r2) +
                  (2.4801585210990515e-05 + -2.7556369695573007e-07 * r2) * r4) +
                 2.0700600483433117e-09 * r8;
    const D sr = r + r * r2 * sp;
    const D cr = (1.0 - 0.5 * r2) + r2 * r2 * cp;
    const auto odd = (q & 1) != 0;
    D sv = odd ? cr : sr, cv = odd ? sr : cr;
    s = (q & 2) != 0 ? -sv : sv;
    c = ((q + 1) & 2) != 0 ? -cv : cv;
}

namespace wide {

// asin √z / √z − 1 = z·p(z) for z = s² ≤ 1/4: p by pairs of terms.
template <class D> HAIR_LANES D asinSeries(D z) {
    const D z2 = z * z, z4 = z2 * z2;
    return ((0.16666666665495086 + 0.07500000598829049 * z) +
            (0.044642358484883196 + 0.030397634130580702 * z) * z2) +
           ((0.022132443623426794 + 0.019306260869368045 * z) +
            (0.0054431851027481075 + 0.02930523970533579 * z) * z2) *
               z4;
}

} // namespace wide

// asin x for x in [-1, 1] (NaN stays NaN). Above |x| = 1/2 through
// asin x = π/2 − 2·asin √((1 − |x|)/2), so the polynomial only sees z = s² ≤ 1/4.
template <class D> HAIR_LANES D asinWide(D x) {
    using namespace wide;
    const D a = x < 0.0 ? -x : x;
    const auto big = a > 0.5;
    const D z = big ? (1.0 - a) * 0.5 : a * a;
    const D s = big ? sqrtOf(z) : a;
    D r = s + s * z * asinSeries(z);
    r = big ? (kHalfPi - 2.0 * r) + kHalfPiLo : r;
    return x < 0.0 ? -r : r;
}

// cos(asin y) of the angle rounded to float, for y in [-1, 1]: the value the single-precision
// arcsine and cosine give in two steps, without the second. With γ = asin y and the rounding
// ε = float(γ) − γ (|ε| < 1e-7), cos(γ + ε) = √(1 − y²)·(1 − ε²/2) − y·ε to double precision.
// (At y = ±1, π/2 rounds up and the answer is −4.37e-8, as the two steps give.)
HAIR_LANES double roundToFloat(double x) { return static_cast<float>(x); }
HAIR_LANES d4 roundToFloat(d4 x) { return __builtin_convertvector(__builtin_convertvector(x, f4), d4); }
template <class D> HAIR_LANES D cosOfFloatAsin(D y) {
    const D gamma = asinWide(y);
    const D eps = roundToFloat(gamma) - gamma;
    const D c = wide::sqrtOf((1.0 - y) * (1.0 + y));
    return c * (1.0 - 0.5 * eps * eps) - y * eps;
}

// exp x. Arguments are held to ±708 (a float result is 0 or infinite long before); NaN stays NaN.
template <class D> HAIR_LANES D expWide(D x) {
    using namespace wide;
    using I = typename WideInts<D>::type;
    D t = x < -708.0 ? splat<D>(-708.0) : x;
    t = t > 708.0 ? splat<D>(708.0) : t;
    const D kt = t * kLog2e + kShift;
    const D k = kt - kShift;
    const D r = (t - k * kLn2) - k * kLn2Lo;
    const D r2 = r * r, r4 = r2 * r2;
    const D e =
        ((0.5 + 0.16666666718997508 * r) + (4.1666666718980845e-02 + 8.333298483754886e-03 * r) * r2) +
        ((1.388885404961482e-03 + 1.989927395864936e-04 * r) + 2.4859578222625295e-05 * r2) * r4;
    const D p = (1.0 + r) + r2 * e;
    const I scale = (bits(kt) - bits(splat<D>(kShift)) + 1023) << 52;
    const D y = p * fromBits<D>(scale);
    return t == t ? y : t;
}

// The same, for one float, with the clamp of safeAsin / safeAcos in numeric.h.
inline float asinPrecise(float x) { return static_cast<float>(asinWide<double>(clampf(x, -1.0f, 1.0f))); }
inline float acosPrecise(float x) {
    return static_cast<float>((wide::kHalfPi - asinWide<double>(clampf(x, -1.0f, 1.0f))) + wide::kHalfPiLo);
}
inline void sincosPrecise(float x, float& s, float& c) {
    double sd, cd;
    sincosWide<double>(x, sd, cd);
    s = static_cast<float>(sd);
    c = static_cast<float>(cd);
}

// Cube root of x >= 0 (0, infinity and NaN come back as they are): a first guess from the
// exponent bits (within 3.3%), then two Halley steps in double, each of which cubes the error.
inline float cbrtPrecise(float x) {
    if (!(x > 0.0f) || !(x < std::numeric_limits<float>::infinity())) return x;
    double scale = 1.0;
    if (x < 1e-30f) { // subnormal and tiny: the bit guess needs a normal exponent
        x *= 0x1p99f;
        scale = 0x1p-33;
    }
    std::uint32_t i;
    std::memcpy(&i, &x, sizeof i);
    i = i / 3 + 0x2A514000u;
    float g;
    std::memcpy(&g, &i, sizeof g);
    const double xd = x;
    double y = g;
    for (int k = 0; k < 2; ++k) {
        const double y3 = y * y * y;
        y = y * (y3 + 2.0 * xd) / (2.0 * y3 + xd);
    }
    return static_cast<float>(y * scale);
}

// Eight float lanes: square root (two four-lane halves) and conversion to and from double lanes.
HAIR_LANES f8 sqrtLanes(f8 x) {
    f4 lo = __builtin_shufflevector(x, x, 0, 1, 2, 3), hi = __builtin_shufflevector(x, x, 4, 5, 6, 7);
    lo = __builtin_ia32_sqrtps(lo);
    hi = __builtin_ia32_sqrtps(hi);
    return __builtin_shufflevector(lo, hi, 0, 1, 2, 3, 4, 5, 6, 7);
}
HAIR_LANES void widen(f8 x, d4& lo, d4& hi) {
    lo = __builtin_convertvector(__builtin_shufflevector(x, x, 0, 1, 2, 3), d4);
    hi = __builtin_convertvector(__builtin_shufflevector(x, x, 4, 5, 6, 7), d4);
}
HAIR_LANES f8 narrow(d4 lo, d4 hi) {
    const f4 a = __builtin_convertvector(lo, f4), b = __builtin_convertvector(hi, f4);
    return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
}

} // namespace hair
