#include "simple_hair/brdf_hair.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "probe.h"
#include "quor/quor.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace hair {
namespace {

// One BRDFHair shading point, driven like a host.
struct Point : hairlab::TypedPoint {
    explicit Point(hairlab::PointOptions o) : TypedPoint(getLibDesc(), "BRDFHair", std::move(o)) {}
    MayaHairBSDF& sampler() { return *static_cast<MayaHairBSDF*>(probe->bsdf()); }
    quor::Color eval(quor::Vector L, quor::Color& light, int flags = 3) {
        quor::Color unshadowed = light;
        return probe->brdf()->eval(probe->context(), L, light, unshadowed, 1.0f, flags);
    }
};

hairlab::PointOptions strandPoint() {
    hairlab::PointOptions o;
    o.dir = {0, 0, -1};
    o.tangent = {0, 1, 0};
    o.strandColor = {0.5f, 0.25f, 1.0f};
    o.sets = {{"specular_color_tex", "1,0.5,0.25"}, {"specular_power", "8"}};
    return o;
}

TEST(SimpleHair, HighlightFollowsTheStrandCosines) {
    Point p(strandPoint());
    // L and V at known angles to the tangent (0, 1, 0): a = L·T, b = V·T.
    const float a = 0.6f, b = 0.0f;
    quor::Vector L{0, a, std::sqrt(1 - a * a), 0};
    quor::Color light{2, 2, 2, 2};
    quor::Color r = p.eval(L, light, 2);
    float k = a * b + std::sqrt(1 - a * a) * std::sqrt(1 - b * b);
    EXPECT_NEAR(r.r, 2 * 1.0f * std::pow(k, 8.0f), 1e-6);
    EXPECT_NEAR(r.g, 2 * 0.5f * std::pow(k, 8.0f), 1e-6);
    EXPECT_NEAR(r.b, 2 * 0.25f * std::pow(k, 8.0f), 1e-6);

    quor::Color light1{1, 1, 1, 1};
    quor::Color d = p.eval(L, light1, 1);
    EXPECT_FLOAT_EQ(d.r, 0.5f);
    EXPECT_FLOAT_EQ(d.g, 0.25f);
    EXPECT_FLOAT_EQ(d.b, 1.0f);
}

TEST(SimpleHair, LightBelowTheSurfaceIsBlackAndUntouched) {
    Point p(strandPoint());
    quor::Color light{0.7f, 0.7f, 0.7f, 0.7f}, unshadowed{0.3f, 0.3f, 0.3f, 0.3f};
    quor::Color r = p.probe->brdf()->eval(p.probe->context(), {0, 0, -1, 0}, light, unshadowed, 1, 3);
    EXPECT_EQ(r.r + r.g + r.b + r.a, 0.0f);
    EXPECT_EQ(light.r, 0.7f);
    EXPECT_EQ(unshadowed.r, 0.3f);
}

TEST(SimpleHair, NoSpecularFlagStillPassesLightThrough) {
    hairlab::PointOptions o = strandPoint();
    o.rayFlags = quor::RAY_NO_SPECULAR;
    o.strandTransparency = {0.5f, 0.5f, 0.5f};
    Point p(o);
    quor::Color light{1, 1, 1, 1};
    quor::Color r = p.eval({0, 0, 1, 0}, light, 2);
    EXPECT_EQ(r.r + r.g + r.b, 0.0f);
    EXPECT_FLOAT_EQ(light.r, 0.75f);  // side 0: (1 + t)/2
}

TEST(SimpleHair, SideWeighting) {
    for (int side : {0, 1}) {
        hairlab::PointOptions o = strandPoint();
        o.side = side;
        o.strandTransparency = {0.0f, 0.5f, 1.0f};
        Point p(o);
        quor::Color t = p.probe->brdf()->getTransparency();
        if (side == 0) {
            EXPECT_FLOAT_EQ(t.r, 0.5f);
            EXPECT_FLOAT_EQ(t.g, 0.75f);
        } else {
            EXPECT_FLOAT_EQ(t.r, 0.0f);
            EXPECT_FLOAT_EQ(t.g, 2.0f / 3.0f);
        }
        EXPECT_FLOAT_EQ(t.b, 1.0f);  // a fully transparent strand passes all light either way
        quor::Color o2 = p.probe->brdf()->getOpacity();
        EXPECT_FLOAT_EQ(o2.b, 0.0f);
        // Fully transparent channel: no diffuse, no highlight.
        EXPECT_EQ(p.sampler().diffuse.b(), 0.0f);
        EXPECT_EQ(p.sampler().specular.b(), 0.0f);
    }
}

TEST(SimpleHair, PowerZeroGivesTheFullColour) {
    hairlab::PointOptions o = strandPoint();
    o.sets = {{"specular_color_tex", "1,1,1"}, {"specular_power", "0"}};
    Point p(o);
    quor::Color light{1, 1, 1, 1};
    // k = 0 (L along the tangent, V across it): powf(0, 0) = 1.
    quor::Color r = p.eval({0, 1, 0, 0}, light, 2);
    EXPECT_FLOAT_EQ(r.r, 1.0f);
}

TEST(SimpleHair, WithoutStrandDataTheNormalIsTheTangent) {
    hairlab::PointOptions o = strandPoint();
    o.noStrandData = true;
    o.sets = {{"diffuse_color_tex", "0.1,0.2,0.3"}};
    Point p(o);
    EXPECT_FLOAT_EQ(p.sampler().diffuse.r(), 1.0f);  // white: the texture is not read on this path
    Vec4 n(p.probe->context().normal);
    EXPECT_EQ(p.sampler().tangent.x(), n.x());
    EXPECT_EQ(p.sampler().tangent.z(), n.z());
    EXPECT_EQ(p.sampler().transparency.r(), 0.0f);
}

TEST(SimpleHair, TraceForwardWritesTheShadingOutput) {
    hairlab::PointOptions o = strandPoint();
    o.strandTransparency = {0.25f, 0.25f, 0.25f};
    o.gi = {2, 2, 2};
    Point p(o);
    quor::QuorContext& ctx = p.probe->context();
    p.probe->brdf()->traceForward(ctx, 1);
    EXPECT_FLOAT_EQ(ctx.result.gi.r, 0.5f * 0.75f * 2);
    EXPECT_FLOAT_EQ(ctx.result.transparency.r, 0.25f);
    EXPECT_FLOAT_EQ(ctx.result.opacity.r, 0.75f);
    EXPECT_FLOAT_EQ(ctx.result.transparency2.r, 0.25f);
    p.probe->brdf()->traceForward(ctx, 0);
    EXPECT_EQ(ctx.result.gi.r, 0.0f);
}

TEST(SimpleHair, ColourQueriesScaleTheWeight) {
    hairlab::PointOptions o = strandPoint();
    o.strandTransparency = {0.5f, 0.5f, 0.5f};
    Point p(o);
    quor::Color w{1, 1, 1, 1};
    quor::Color m = p.probe->brdf()->getLightMultiplier(w);
    EXPECT_FLOAT_EQ(m.r, (1.0f + 0.5f) * 0.5f);  // (specular + diffuse) × opacity
    EXPECT_FLOAT_EQ(w.r, 0.75f);
    quor::Color d = p.probe->brdf()->getDiffuseColor(w);
    EXPECT_FLOAT_EQ(d.r, 0.75f * 0.25f);
}

TEST(SimpleHair, FiniteForRandomInputs) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1, 1);
    hairlab::PointOptions o = strandPoint();
    o.sets = {{"specular_color_tex", "1,1,1"}, {"specular_power", "1000"}};
    Point p(o);
    for (int i = 0; i < 2000; ++i) {
        quor::Vector L{u(rng), u(rng), u(rng), 0};
        quor::Color light{1, 1, 1, 1};
        quor::Color r = p.eval(L, light);
        ASSERT_TRUE(std::isfinite(r.r) && std::isfinite(r.g) && std::isfinite(r.b)) << i;
        ASSERT_GE(r.r, 0.0f);
    }
}

TEST(SimpleHair, ShadingRoundAllocatesNothingOnceWarm) {
    Point p(strandPoint());
    for (int i = 0; i < 3; ++i) p.probe->shade();
    long before = quor::vmallocCalls();
    for (int i = 0; i < 100; ++i) {
        p.probe->shade();
        quor::Color light{1, 1, 1, 1};
        p.eval({0, 0, 1, 0}, light);
    }
    EXPECT_EQ(quor::vmallocCalls(), before);
}

TEST(SimpleHair, InstanceFrame) {
    Point p(strandPoint());
    quor::PluginBase* inst = p.probe->instance();
    auto* plugin = static_cast<quor::QuorPluginInterface*>(inst->getInterface(quor::EXT_QUOR_PLUGIN));
    auto* bsdf = static_cast<quor::BSDFInterface*>(inst->getInterface(quor::EXT_BSDF));
    ASSERT_NE(plugin, nullptr);
    ASSERT_NE(bsdf, nullptr);
    EXPECT_EQ(inst->getInterface(quor::EXT_RTMTL), nullptr);
    EXPECT_EQ(plugin->getPlugin(), inst);
    EXPECT_EQ(bsdf->getPlugin(), inst);
    EXPECT_STREQ(bsdf->getInterfaceName(), "EXT_BSDF");
    EXPECT_EQ(bsdf->getBSDFFlags(), 0);
    bsdf->deleteBSDF(p.probe->context(), nullptr);  // ignored

    // Parameter values reach the bound fields when they change later.
    quor::QuorParameter* power = plugin->getParameter("specular_power");
    ASSERT_NE(power, nullptr);
    power->setFloat(3.0f);
    p.probe->shade();
    EXPECT_EQ(p.sampler().power, 3.0f);
    EXPECT_EQ(plugin->getParameter("no_such_parameter"), nullptr);

    // No pool outside rendering: before renderBegin and after renderEnd newBSDF answers null.
    quor::PluginBase* other = p.desc->newPlugin(nullptr);
    auto* otherPlugin = static_cast<quor::QuorPluginInterface*>(other->getInterface(quor::EXT_QUOR_PLUGIN));
    auto* otherBsdf = static_cast<quor::BSDFInterface*>(other->getInterface(quor::EXT_BSDF));
    quor::QuorContext& ctx = p.probe->context();
    EXPECT_EQ(otherBsdf->newBSDF(ctx, 0), nullptr);
    quor::QuorRenderer r;
    r.threadCount = 2;
    otherPlugin->renderBegin(&r);
    quor::BSDFSampler* s = otherBsdf->newBSDF(ctx, 0);
    EXPECT_NE(s, nullptr);
    otherBsdf->deleteBSDF(ctx, s);
    otherPlugin->renderEnd(&r);
    EXPECT_EQ(otherBsdf->newBSDF(ctx, 0), nullptr);
    p.desc->deletePlugin(other);
}

} // namespace
} // namespace hair
