#include "math/double_eval.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hair {
namespace {

// Every function against the double-precision library rounded once: never more than one unit in
// the last place away, and that in under one case in fifty thousand.
TEST(DoubleEval, OneRoundingFromTheExactValue) {
    int off = 0, count = 0;
    auto check = [&](float got, double exact, float x) {
        const float want = float(exact), next = std::nextafter(want, want < 0.0f ? -1e30f : 1e30f);
        EXPECT_LE(std::fabs(got - want), std::fabs(next - want)) << x;
        off += got != want;
        ++count;
    };
    float s, c;
    for (float x = -88.0f; x < 88.0f; x += 0.0137f)
        check(expViaDouble(x), std::exp(double(x)), x);
    for (float x = -20.0f; x < 20.0f; x += 0.00173f) {
        sinCosViaDouble(x, s, c);
        check(s, std::sin(double(x)), x);
        check(c, std::cos(double(x)), x);
    }
    for (float x = -1.0f; x <= 1.0f; x += 1.1e-4f) {
        check(asinViaDouble(x), std::asin(double(x)), x);
        check(acosViaDouble(x), std::acos(double(x)), x);
    }
    EXPECT_LT(off, count / 50000);
    // The exponential's clamp (expLanes's) and the library past 2^20.
    EXPECT_EQ(expViaDouble(-1000.0f), expViaDouble(-88.37626f));
    EXPECT_GT(expViaDouble(-1000.0f), 0.0f);
    sinCosViaDouble(3e6f, s, c);
    EXPECT_EQ(s, std::sin(3e6f));
    EXPECT_EQ(c, std::cos(3e6f));
    EXPECT_EQ(acosViaDouble(1.0f), 0.0f);
}

} // namespace
} // namespace hair
