// atan2 in single precision without the library call.
//
// The angle is reduced to atan(t), t in [0, 1], then at tan(π/8) to |t| <= tan(π/8), where a
// degree-9 odd polynomial (the classic single-precision minimax set) is accurate to about two
// units in the last place. The library's atan2 costs as much as a whole hair lobe.
#pragma once
#include <cmath>

#include "math/numeric.h"

namespace hair {

inline float fastAtan2(float y, float x) {
    float ax = std::fabs(x), ay = std::fabs(y);
    bool swap = ay > ax;
    float num = swap ? ax : ay, den = swap ? ay : ax;
    if (!(den > 0.0f) || !(den < 3.0e38f)) return std::atan2(y, x); // zeros, infinities, NaN
    float t = num / den, base = 0.0f;
    if (t > 0.41421356f) {
        base = 0.78539816f;
        t = (t - 1.0f) / (t + 1.0f);
    }
    float z = t * t;
    float r =
        base +
        (((8.05374449538e-2f * z - 1.38776856032e-1f) * z + 1.99777106478e-1f) * z - 3.33329491539e-1f) * z *
            t +
        t;
    if (swap) r = 1.57079633f - r;
    if (std::signbit(x)) r = kPi - r;
    return std::copysign(r, y);
}

} // namespace hair
