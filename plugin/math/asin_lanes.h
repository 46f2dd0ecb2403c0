// Four-lane polynomial arcsine in single precision.
//
// Below |x| = 0.5625 an odd polynomial in x; above it the half-angle identity
// asin x = π/2 - 2·asin √((1 - |x|)/2) brings the argument back under 0.47, inside the same
// fit. Arguments are clamped to [-1, 1]. Accurate to a few 1e-8 over the whole range.
#pragma once
#include <cmath>

#include "math/vec4.h"

namespace hair {

inline f4 asinLanes(f4 x) {
    const f4 zero = {0, 0, 0, 0};
    f4 a = x < zero ? -x : x;
    a = a > 1.0f ? f4{1, 1, 1, 1} : a;
    a = a == a ? a : zero; // NaN lanes answer 0
    auto big = a > 0.5625f;
    f4 zBig = (1.0f - a) * 0.5f;
    f4 sBig = __builtin_ia32_sqrtps(zBig); // one instruction, the bits of four scalar roots
    f4 s = big ? sBig : a;
    f4 z = big ? zBig : a * a;
    // (asin √z - √z)/(z√z) on z in [0, 0.5625²].
    f4 p = 0.041177408f * z + 0.01239130222f;
    p = p * z + 0.0321486359f;
    p = p * z + 0.04450649863f;
    p = p * z + 0.07500377032f;
    p = p * z + 0.16666665f;
    f4 r = s + s * z * p;
    r = big ? 1.5707964f - 2.0f * r : r;
    return x < zero ? -r : r;
}

// acos per lane through the arcsine: π/2 - asin x.
inline f4 acosLanes(f4 x) { return 1.5707964f - asinLanes(x); }

} // namespace hair
