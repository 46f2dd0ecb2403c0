// Four-lane polynomial exp and log in single precision.
//
// Colour absorption and the lobe Gaussians need exp on all four lanes at once; the library
// calls cost more than the whole lobe. Both are the classic range-reduced polynomials, accurate
// to about one unit in the last place over the single-precision range.
#pragma once
#include <cstdint>
#include <cstring>

#include "math/numeric.h"
#include "math/vec4.h"

namespace hair {

typedef std::int32_t i4 __attribute__((vector_size(16)));
// Eight lanes: one AVX register where the CPU has it, two SSE registers otherwise. The
// functions below have one body for four and eight lanes, so every lane computes the same
// bits whatever the width. An eight-lane value needs 32-byte alignment, which the host's
// allocator does not promise: held in memory, eight lanes are eight floats. Lane functions
// are always inlined: an eight-lane value never
// crosses a call, whose convention would differ between a function built for AVX and one
// built without (which is what -Wpsabi warns of, and why it is quiet here).
#define HAIR_LANES inline __attribute__((always_inline))
#pragma GCC diagnostic ignored "-Wpsabi"
typedef float f8 __attribute__((vector_size(32)));
typedef std::int32_t i8 __attribute__((vector_size(32)));

template <class F> struct LaneInts;
template <> struct LaneInts<f4> { using type = i4; };
template <> struct LaneInts<f8> { using type = i8; };

// exp(x) per lane: x clamped to 88.37626 above, 0 where the result would not be a normal float (a
// subnormal result, and the arithmetic on it downstream, would take the processor's slow path,
// many times the cost of the whole exponential); then 2^n × p(r) with ln 2 split in two parts.
// Built for a short dependency chain: n is x·log2 e rounded to the nearest integer by adding and
// taking away 1.5·2^23 (exact, as |x·log2 e| <= 127.5), and the polynomial is taken by pairs of
// terms (Estrin's scheme), three short chains side by side instead of one long one.
template <class F> HAIR_LANES F expLanesOf(F x) {
    using I = typename LaneInts<F>::type;
    const F hi = F{} + kMaxExp, lo = F{} + kMinNormalExp;
    const auto vanishes = x < lo;
    x = x > hi ? hi : x;
    x = vanishes ? lo : x;
    const F magic = F{} + 12582912.0f;
    const F fn = (x * 1.44269504088896341f + magic) - magic;
    x = x - fn * 0.693359375f;
    x = x - fn * -2.12194440e-4f;
    const F z = x * x, z2 = z * z;
    const F a = x * 1.9875691500e-4f + 1.3981999507e-3f;
    const F b = x * 8.3334519073e-3f + 4.1665795894e-2f;
    const F c = x * 1.6666665459e-1f + 5.0000001201e-1f;
    F y = a * z2 + (b * z + c);
    y = y * z + x + 1.0f;
    // 2^n built in the exponent field; n can reach ±128 at the ends of the range, so scale in
    // two steps.
    const I n = __builtin_convertvector(fn, I);
    const I n1 = n >> 1;
    const I n2 = n - n1;
    const I e1 = (n1 + 127) << 23;
    const I e2 = (n2 + 127) << 23;
    F p1, p2;
    std::memcpy(&p1, &e1, sizeof p1);
    std::memcpy(&p2, &e2, sizeof p2);
    return vanishes ? F{} : y * p1 * p2;
}

// Natural log per lane for positive finite x; 0 gives -inf, like the library's log.
template <class F> HAIR_LANES F logLanesOf(F x) {
    using I = typename LaneInts<F>::type;
    const F zero = F{};
    I bits;
    std::memcpy(&bits, &x, sizeof bits);
    I e = ((bits >> 23) & 0xff) - 126;
    I mbits = (bits & 0x007fffff) | 0x3f000000; // mantissa in [0.5, 1)
    F m;
    std::memcpy(&m, &mbits, sizeof m);
    F fe = __builtin_convertvector(e, F);
    auto small = m < 0.70710678118654752f;
    fe = small ? fe - 1.0f : fe;
    m = small ? m + m - 1.0f : m - 1.0f;
    F z = m * m;
    F z2 = z * z;
    // By pairs of terms, as in expLanesOf.
    F hi = (-1.2420140846e-1f * m + 1.4249322787e-1f) + (-1.1514610310e-1f * m + 1.1676998740e-1f) * z +
           7.0376836292e-2f * z2;
    F y =
        (-2.4999993993e-1f * m + 3.3333331174e-1f) + (-1.6668057665e-1f * m + 2.0000714765e-1f) * z + hi * z2;
    y = y * m * z;
    y = y + fe * -2.12194440e-4f;
    y = y - 0.5f * z;
    F r = m + y + fe * 0.693359375f;
    const F ninf = F{} - __builtin_inff();
    r = x == zero ? ninf : r;
    return r;
}

inline f4 expLanes(f4 x) { return expLanesOf(x); }
inline f4 logLanes(f4 x) { return logLanesOf(x); }

inline Color4 fastExp(Color4 c) { return Color4(expLanes(c.v)); }
inline Color4 fastLog(Color4 c) { return Color4(logLanes(c.v)); }

} // namespace hair
