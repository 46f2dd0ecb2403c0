// Progressive rendering: passes reproduce the frame of the same sample count whatever the split
// into passes and the thread count, a cancelled pass leaves a renderer that begins again, and
// a material changed between passes shows in the next picture without the scene being built.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "harness/shading_point.h"
#include "harness/test_support.h"
#include "render/render.h"
#include "render/scene_impl.h"

namespace quor::render {
namespace {

using harness::test::library;

struct Swatch {
    harness::Instance instance{library(), "BRDFHair4"};
    Scene scene;
    Swatch() {
        HairStyle style;
        style.strands = 300;
        buildSwatch(scene, instance.base(), style);
        frame(scene, 40, 24);
    }
};

RenderOptions options(int spp, int threads) {
    RenderOptions o;
    o.width = 40, o.height = 24, o.spp = spp, o.threads = threads, o.seed = 5, o.channels = true;
    return o;
}

// Largest difference relative to the picture's brightest value.
float relativeDifference(const std::vector<float>& a, const std::vector<float>& b) {
    float peak = 1e-6f, diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        peak = std::max(peak, std::fabs(a[i]));
        diff = std::max(diff, std::fabs(a[i] - b[i]));
    }
    return diff / peak;
}

struct PassCase {
    std::vector<int> passes; // samples of each pass
    int threads;
};

class Progressive : public testing::TestWithParam<PassCase> {};

TEST_P(Progressive, PassesEqualTheFrameOfTheSameSampleCount) {
    Swatch s;
    int spp = 0;
    for (int n : GetParam().passes)
        spp += n;
    FrameResult batch = Renderer(s.scene, options(spp, GetParam().threads)).renderFrame();
    Renderer r(s.scene, options(1, GetParam().threads));
    r.beginPasses();
    for (int n : GetParam().passes)
        ASSERT_TRUE(r.renderPass(n));
    EXPECT_EQ(r.passSamples(), spp);
    FrameResult pass = r.passResult();
    ASSERT_EQ(pass.hair.data.size(), batch.hair.data.size());
    EXPECT_LT(relativeDifference(pass.hair.data, batch.hair.data), 1e-5f);
    EXPECT_LT(relativeDifference(pass.backdrop.data, batch.backdrop.data), 1e-5f);
    ASSERT_EQ(pass.channels.size(), batch.channels.size());
    for (auto& [alias, img] : batch.channels)
        EXPECT_LT(relativeDifference(pass.channels.at(alias).data, img.data), 1e-5f) << channelName(alias);
    if (GetParam().passes.size() == 1) {
        EXPECT_EQ(pass.hair.data, batch.hair.data); // same sums in the same order
    }
}

INSTANTIATE_TEST_SUITE_P(Splits, Progressive,
                         testing::Values(PassCase{{1}, 1}, PassCase{{1}, 2}, PassCase{{1, 1}, 1},
                                         PassCase{{1, 1}, 2}, PassCase{{1, 2, 1}, 2}, PassCase{{3, 5}, 1}));

TEST(ProgressiveControl, CancelledPassBeginsAgainAndMatches) {
    Swatch s;
    Renderer r(s.scene, options(1, 1));
    r.beginPasses();
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(r.renderPass(4, &cancel));
    EXPECT_FALSE(r.renderPass(1)); // refused until the passes begin again
    r.beginPasses();
    ASSERT_TRUE(r.renderPass(2));
    FrameResult batch = Renderer(s.scene, options(2, 1)).renderFrame();
    EXPECT_LT(relativeDifference(r.passResult().hair.data, batch.hair.data), 1e-5f);
}

TEST(ProgressiveControl, ParameterChangeShowsWithoutBuildingTheScene) {
    Swatch s;
    const auto* accel = s.scene.impl().scene;
    FrameResult before = Renderer(s.scene, options(1, 2)).renderFrame();
    s.instance.set("melanin", "0.95");
    Renderer r(s.scene, options(1, 2));
    r.beginPasses();
    ASSERT_TRUE(r.renderPass(1));
    FrameResult after = r.passResult();
    EXPECT_EQ(s.scene.impl().scene, accel);
    EXPECT_GT(relativeDifference(after.hair.data, before.hair.data), 0.05f); // darker hair
    EXPECT_EQ(after.hair.data, Renderer(s.scene, options(1, 2)).renderFrame().hair.data);
}

} // namespace
} // namespace quor::render
