// fastAtan2 against the library over all quadrants, the reduction boundaries and the edges.
#include "math/fast_atan2.h"

#include <gtest/gtest.h>

#include <random>

namespace hair {
namespace {

TEST(FastAtan2, MatchesLibraryEverywhere) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> uni(-1.0f, 1.0f);
    float worst = 0;
    for (int i = 0; i < 200000; ++i) {
        float y = uni(rng), x = uni(rng);
        if (i % 4 == 0) y *= 1e-6f; // near the axes
        worst = std::max(worst, std::fabs(fastAtan2(y, x) - std::atan2(y, x)));
    }
    EXPECT_LT(worst, 5e-7f);
    // Reduction boundaries tan(π/8), 1 and the swap, and the signed zeros and infinities.
    for (float t : {0.41421356f, 0.41421357f, 1.0f, 2.4142136f}) {
        EXPECT_NEAR(fastAtan2(t, 1.0f), std::atan2(t, 1.0f), 3e-7f) << t;
        EXPECT_NEAR(fastAtan2(1.0f, -t), std::atan2(1.0f, -t), 3e-7f) << t;
    }
    EXPECT_EQ(fastAtan2(0.0f, 0.0f), 0.0f);
    EXPECT_EQ(fastAtan2(-0.0f, -1.0f), std::atan2(-0.0f, -1.0f));
    EXPECT_EQ(fastAtan2(0.0f, -0.0f), std::atan2(0.0f, -0.0f));
    EXPECT_EQ(fastAtan2(1.0f, 0.0f), std::atan2(1.0f, 0.0f));
    EXPECT_NEAR(fastAtan2(-2.0f, 1e30f), -2e-30f, 1e-36f);
}

} // namespace
} // namespace hair
