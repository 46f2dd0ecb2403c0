#include "math/erf.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hair {
namespace {

// Double-precision inverse of erf by Newton steps from a bracketing bisection.
double erfInverseReference(double y) {
    double lo = 0, hi = 10;
    for (int i = 0; i < 80; ++i) {
        double mid = 0.5 * (lo + hi);
        (std::erf(mid) < y ? lo : hi) = mid;
    }
    double x = 0.5 * (lo + hi);
    for (int i = 0; i < 3; ++i) {
        double e = (1.0 - std::erfc(x)) - y;
        x -= e / (2.0 / std::sqrt(M_PI) * std::exp(-x * x));
    }
    return x;
}

TEST(Erf, MatchesDoubleReferenceOverEveryRange) {
    // Dense sweep over [0, 6], which crosses the splits at 0.5, 1.5, 2.5 and 4.5.
    double worst = 0;
    for (int i = 0; i <= 60000; ++i) {
        float x = float(i) * 1e-4f;
        double ref = std::erf(double(x));
        double err = std::fabs(double(hair::erf(x)) - ref);
        worst = std::fmax(worst, err / std::fmax(ref, 1e-30));
    }
    EXPECT_LT(worst, 4e-7);
    // Close to 0 the linear term carries it, relative accuracy kept.
    for (float x : {1e-12f, 5e-11f, 1e-9f, 1e-6f, 1e-3f})
        EXPECT_NEAR(hair::erf(x) / (std::erf(double(x))), 1.0, 3e-7) << x;
    EXPECT_EQ(hair::erf(0.0f), 0.0f);
    EXPECT_EQ(hair::erf(30.0f), 1.0f);
    EXPECT_FLOAT_EQ(hair::erf(-0.7f), -hair::erf(0.7f));
}

TEST(Erf, ContinuousAcrossTheRangeSplits) {
    for (float split : {0.5f, 1.5f, 2.5f, 4.5f}) {
        float below = std::nextafter(split, 0.0f);
        EXPECT_NEAR(hair::erf(below), hair::erf(split), 2e-7f) << split;
        EXPECT_LE(hair::erf(below), hair::erf(split)) << split;
    }
}

TEST(ErfInverse, MatchesDoubleReferenceUpToOne) {
    double worst = 0;
    for (int i = 1; i < 20000; ++i) {
        float y = float(i) / 20000.0f;
        double ref = erfInverseReference(double(y));
        worst = std::fmax(worst, std::fabs(double(hair::erfInverse(y)) - ref) / ref);
    }
    EXPECT_LT(worst, 5e-7);
    // The far tail, where 1 - y has only a few bits: compare against the inverse of the
    // single-precision y actually given.
    for (float q : {1e-3f, 1e-4f, 1e-5f, 1e-6f, 1e-7f}) {
        float y = 1.0f - q;
        double ref = erfInverseReference(double(y));
        EXPECT_NEAR(hair::erfInverse(y) / ref, 1.0, 5e-7) << q;
    }
    EXPECT_EQ(hair::erfInverse(0.0f), 0.0f);
    EXPECT_TRUE(std::isfinite(hair::erfInverse(1.0f)));
    EXPECT_FLOAT_EQ(hair::erfInverse(-0.3f), -hair::erfInverse(0.3f));
}

TEST(ErfInverse, RoundTripsThroughErf) {
    for (int i = 1; i <= 3500; ++i) {
        float x = float(i) * 1e-3f; // up to 3.5, where erf is still below 1 in single precision
        float y = hair::erf(x);
        if (y >= 1.0f) break;
        // The slope of erfInverse grows near 1; allow for the rounding of y itself.
        double slope = std::sqrt(M_PI) / 2.0 * std::exp(double(x) * x);
        double tol = 4e-7 * x + slope * std::ldexp(1.0, -24) * 2;
        EXPECT_NEAR(hair::erfInverse(y), x, tol) << x;
    }
}

} // namespace
} // namespace hair
