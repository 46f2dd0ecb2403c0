// Defaults a sampler inherits from the host's base classes.
#include <gtest/gtest.h>

#include "quor/sampler.h"

namespace {

struct OnlyTransparency final : quor::BRDFSampler, quor::BSDFSampler {
    quor::Color getDiffuseColor(quor::Color& w) override { return w; }
    quor::Color getLightMultiplier(quor::Color& w) override { return w; }
    quor::Color eval(const quor::QuorContext&, const quor::Vector&, quor::Color&, quor::Color&, float,
                     int) override {
        return {};
    }
    quor::Color getTransparency() override { return {0.25f, 0.5f, 1.5f, 0.0f}; }
    quor::BRDFSampler* getBRDF(int) override { return this; }
};

TEST(SamplerBase, OpacityIsTheFlooredComplementOfTheOverride) {
    OnlyTransparency s;
    quor::Color o = s.getOpacity();
    EXPECT_FLOAT_EQ(o.r, 0.75f);
    EXPECT_FLOAT_EQ(o.g, 0.5f);
    EXPECT_FLOAT_EQ(o.b, 0.0f);
    EXPECT_FLOAT_EQ(o.a, 1.0f);
}

TEST(SamplerBase, DefaultsAnswerConstants) {
    OnlyTransparency s;
    quor::QuorContext parent, fresh;
    fresh.pathProb = 0.125f;
    fresh.rayDir = {1, 2, 3, 0};
    EXPECT_EQ(s.sampleRay(parent, fresh, 0.5f, quor::SAMPLE_MODE_PATH), 0.0f);
    EXPECT_EQ(fresh.pathProb, 0.125f); // untouched
    EXPECT_EQ(fresh.rayDir.y, 2.0f);
    EXPECT_EQ(s.getSamplerFlags(), quor::SAMPLER_CACHED_GI);
    EXPECT_EQ(s.getAuxFlags(), 0);
    EXPECT_EQ(s.addContextRay(parent, nullptr, quor::SAMPLE_MODE_GI_CACHE), 0);
    EXPECT_EQ(s.getRenderChannels(), nullptr);
    int a = 7, b = 9;
    EXPECT_EQ(s.reserved3(nullptr, a, b), 0);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    quor::Color c{0.1f, 0.2f, 0.3f, 0.4f};
    EXPECT_EQ(s.adjustColor(0, c).g, 0.2f);
    parent.rayDir = {0, 0, -1, 0};
    EXPECT_EQ(s.getContextVector(parent).z, -1.0f);
}

TEST(SamplerBase, HostForwardTracingReportsTransparency) {
    OnlyTransparency s;
    quor::QuorContext ctx;
    s.traceBSDFForward(ctx, 1);
    EXPECT_FLOAT_EQ(ctx.result.transparency.g, 0.5f);
    EXPECT_FLOAT_EQ(ctx.result.opacity.r, 0.75f);
    EXPECT_FLOAT_EQ(s.getBSDFTransparency(ctx).r, 0.25f);
}

} // namespace
