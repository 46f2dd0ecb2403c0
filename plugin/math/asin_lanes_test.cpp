#include "math/asin_lanes.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hair {
namespace {

TEST(AsinLanes, MatchesLibraryArcsineAndClamps) {
    double worst = 0;
    for (int i = -20000; i <= 20000; i += 4) {
        float x[4];
        for (int k = 0; k < 4; ++k)
            x[k] = float(i + k) / 20000.0f;
        f4 r = asinLanes(f4{x[0], x[1], x[2], x[3]});
        for (int k = 0; k < 4; ++k)
            worst = std::fmax(worst, std::fabs(double(r[k]) - std::asin(double(x[k]))));
    }
    EXPECT_LT(worst, 3e-7);
    f4 edge = asinLanes(f4{0.5625f, std::nextafter(0.5625f, 1.0f), 1.5f, -7.0f});
    EXPECT_NEAR(edge[0], std::asin(0.5625), 2e-7);
    EXPECT_NEAR(edge[1], std::asin(0.5625), 2e-7);
    EXPECT_FLOAT_EQ(edge[2], 1.5707964f);
    EXPECT_FLOAT_EQ(edge[3], -1.5707964f);
    EXPECT_EQ(asinLanes(f4{NAN, 0.0f, 0.0f, 0.0f})[0], 0.0f); // NaN lanes answer 0
    f4 ac = acosLanes(f4{-1.0f, 0.0f, 0.3f, 1.0f});
    EXPECT_NEAR(ac[0], M_PI, 3e-7);
    EXPECT_NEAR(ac[1], M_PI / 2, 3e-7);
    EXPECT_NEAR(ac[2], std::acos(0.3), 3e-7);
    EXPECT_NEAR(ac[3], 0.0, 3e-7);
}

} // namespace
} // namespace hair
