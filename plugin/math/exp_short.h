// exp per lane with a short dependency chain.
//
// The range reduction and polynomial of expLanesOf (fast_math.h), with the rounding to the
// nearest integer done by adding and taking away 1.5·2^23 instead of two conversions and a
// floor, and the polynomial in Estrin's form instead of Horner's. Lobes that wait on an
// exponential finish sooner; results stay within about one unit in the last place of
// expLanesOf, over the same clamped range.
#pragma once
#include <cstring>

#include "math/fast_math.h"

namespace hair {

template <class F> HAIR_LANES F expShortLanesOf(F x) {
    using I = typename LaneInts<F>::type;
    const F hi = F{} + kMaxExp;
    x = x > hi ? hi : x;
    x = x < -hi ? -hi : x;
    const F magic = F{} + 12582912.0f;
    const F fn = (x * 1.44269504088896341f + magic) - magic; // |x·log2 e| <= 127.5: exact
    x = x - fn * 0.693359375f;
    x = x - fn * -2.12194440e-4f;
    const F z = x * x, z2 = z * z;
    const F a = x * 1.9875691500e-4f + 1.3981999507e-3f;
    const F b = x * 8.3334519073e-3f + 4.1665795894e-2f;
    const F c = x * 1.6666665459e-1f + 5.0000001201e-1f;
    F y = a * z2 + (b * z + c);
    y = y * z + x + 1.0f;
    // 2^n in two factors, as n reaches ±128 at the ends of the range.
    const I n = __builtin_convertvector(fn, I);
    const I n1 = n >> 1;
    const I n2 = n - n1;
    const I e1 = (n1 + 127) << 23;
    const I e2 = (n2 + 127) << 23;
    F p1, p2;
    std::memcpy(&p1, &e1, sizeof p1);
    std::memcpy(&p2, &e2, sizeof p2);
    return y * p1 * p2;
}

inline f4 expShortLanes(f4 x) { return expShortLanesOf(x); }

} // namespace hair
