#include "artist_hair/brdf_hair3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "probe.h"
#include "quor/quor.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace hair {
namespace {

constexpr float kPiF = 3.1415927f;

// One BRDFHair3 shading point, driven like a host.
struct Point : hairlab::TypedPoint {
    explicit Point(hairlab::PointOptions o) : TypedPoint(getLibDesc(), "BRDFHair3", std::move(o)) {}
    MaxHairBSDF& s() { return *static_cast<MaxHairBSDF*>(probe->bsdf()); }
    quor::QuorContext& ctx() { return probe->context(); }
    BRDFHair3& instance() { return *static_cast<BRDFHair3*>(static_cast<quor::Plugin*>(probe->instance())); }
    quor::Color eval(quor::Vector L, int flags = 3, float lightProb = 1.0f) {
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        return probe->brdf()->eval(ctx(), L, light, unshadowed, lightProb, flags);
    }
};

using Sets = std::vector<std::pair<std::string, std::string>>;

hairlab::PointOptions options(Sets sets, int depth = 0, int rayFlags = 0, int contextFlags = 0x20) {
    hairlab::PointOptions o;
    o.sets = std::move(sets);
    o.depth = depth;
    o.rayFlags = rayFlags;
    o.contextFlags = contextFlags;
    o.dir = {0.3f, 0.2f, -0.93f};
    return o;
}

// The material's defaults, as the parameter table gives them.
Sets defaults() {
    return {{"overall_color", "0.9,0.9,0.9"},         {"primary_specular", "0.2,0.2,0.2"},
            {"primary_glossiness", "0.8"},            {"secondary_specular", "0.2,0.2,0.2"},
            {"secondary_glossiness", "0.5"},          {"transmission", "0.2,0.2,0.2"},
            {"transmission_glossiness_length", "0.8"}, {"transmission_glossiness_width", "0.8"}};
}

Sets with(Sets a, const Sets& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

quor::Vector unitVec(float x, float y, float z) {
    float n = std::sqrt(x * x + y * y + z * z);
    return {x / n, y / n, z / n, 0};
}

void expectColor(const Color4& c, float r, float g, float b, float tol = 1e-6f) {
    EXPECT_NEAR(c.r(), r, tol);
    EXPECT_NEAR(c.g(), g, tol);
    EXPECT_NEAR(c.b(), b, tol);
    EXPECT_NEAR(c[3], b, tol);
}

// A render-element target that records what it was given.
struct Channels : quor::RenderChannelTarget {
    std::map<int, std::vector<float>> values;
    std::vector<int> order;
    std::set<int> present;
    void write(int alias, const float* v, int n) override {
        values[alias].assign(v, v + n);
        order.push_back(alias);
    }
    bool has(int alias) const override { return present.count(alias) != 0; }
    Color4 color(int alias) const {
        const std::vector<float>& v = values.at(alias);
        return Color4(v[0], v[1], v[2]);
    }
};

// --- per-point set-up ------------------------------------------------------------------------

TEST(ArtistHair, RoughnessFollowsDepthAndGlossinessCap) {
    struct Case {
        int depth;
        const char* gloss;
        float rough;
    };
    for (Case c : {Case{0, "0.8", 0.2f}, Case{1, "0.8", 0.28f}, Case{2, "0.8", 0.36f}, Case{5, "0.8", 0.44f},
                   Case{10, "0.8", 0.44f}, Case{0, "1", 0.001f}, Case{3, "1", 1.0f - 0.999f * 0.7f}}) {
        Point p(options(with(defaults(), {{"primary_glossiness", c.gloss}, {"simplify_for_gi", "false"}}), c.depth));
        EXPECT_NEAR(p.s().roughPrimary, c.rough, 1e-6f) << c.depth << " " << c.gloss;
        EXPECT_NEAR(p.s().roughSecondary, 1.0f - 0.5f * (c.depth < 3 ? 1.0f - 0.1f * c.depth : 0.7f), 1e-6f);
    }
}

TEST(ArtistHair, ColoursLockedSecondaryAndEnergyLimit) {
    // Defaults on a camera ray: maxima 0.2 + 0.04 + 0.2 stay below the limit; overall 0.9 weights all.
    Point p(options(defaults()));
    expectColor(p.s().primaryColor, 0.18f, 0.18f, 0.18f);
    expectColor(p.s().secondaryColor, 0.036f, 0.036f, 0.036f);
    expectColor(p.s().transmissionColor, 0.18f, 0.18f, 0.18f);
    expectColor(p.s().diffuseColor, 0, 0, 0);
    expectColor(p.s().albedoSum, 0.396f, 0.396f, 0.396f);
    EXPECT_NEAR(p.s().probPrimary, 0.18f / 0.396f, 1e-6f);
    EXPECT_NEAR(p.s().probDiffuse + p.s().probPrimary + p.s().probSecondary + p.s().probTransmission, 1.0f, 1e-6f);

    // Unlocked, the secondary colour is its own; above the limit all four scale by limit/sum.
    Sets hot = with(defaults(), {{"secondary_lock_to_transmission", "false"}, {"secondary_specular", "0.5,0.1,0.1"},
                                 {"diffuse_color", "0.6,0.3,0.1"}, {"overall_color", "1,1,1"}});
    Point camera(options(hot));
    const float k = 1.0f / (0.6f + 0.2f + 0.5f + 0.2f);
    expectColor(camera.s().secondaryColor, 0.5f * k, 0.1f * k, 0.1f * k);
    expectColor(camera.s().diffuseColor, 0.6f * k, 0.3f * k, 0.1f * k);
    Point gi(options(with(hot, {{"simplify_for_gi", "false"}}), 0, quor::RAY_GI));
    expectColor(gi.s().diffuseColor, 0.6f * 0.9f * k, 0.3f * 0.9f * k, 0.1f * 0.9f * k);

    // Colours are clamped to [0, 1] before anything else (the amount scales past 1).
    Point clamp(options(with(defaults(), {{"primary_specular_amount", "30"}, {"transmission", "0,0,0"}})));
    expectColor(clamp.s().primaryColor, 0.9f, 0.9f, 0.9f);
    // Without strand colour or texture the diffuse term is the strand record's colour.
    hairlab::PointOptions o = options({});
    o.strandColor = {0.3f, 0.2f, 0.1f};
    Point strand(o);
    expectColor(strand.s().diffuseColor, 0.3f, 0.2f, 0.1f);
}

TEST(ArtistHair, SimplifiedForGIPastTheCamera) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.1,0.1,0.1"}, {"overall_color", "1,1,1"}});
    Point p(options(sets, 1));
    const float rL = 1.0f - 0.8f * 0.9f, w = rL;  // length and width share the glossiness
    const float d = 0.1f + 0.2f + 0.04f + 0.2f * 0.5f * w * w;
    expectColor(p.s().diffuseColor, d, d, d);
    expectColor(p.s().primaryColor + p.s().secondaryColor + p.s().transmissionColor, 0, 0, 0);
    EXPECT_EQ(p.s().probDiffuse, 1.0f);
    // Every sample is then diffuse, with u' = u.
    quor::QuorContext& nc = p.probe->newRayContext(0.25f, 0.5f, 0.5f);
    ASSERT_EQ(p.s().sampleRay(p.ctx(), nc, 0.5f, 0), 1.0f);
    Vec4 dir(nc.ray->dir);
    EXPECT_NEAR(dot(dir, p.s().axisT), p.instance().diffuseCdfTable().sampleRow(0.5f, 0, 0).z, 1e-6f);
}

TEST(ArtistHair, TransparencyRules) {
    hairlab::PointOptions o = options({{"opaque_for_shadows", "true"}, {"opaque_for_gi", "true"}});
    o.strandTransparency = {0.5f, 0.4f, 0.3f};
    {
        Point camera(o);
        expectColor(camera.s().transparency, 0.5f, 0.4f, 0.3f);
    }
    for (int flags : {quor::RAY_SHADOW, quor::RAY_GI}) {
        o.rayFlags = flags;
        Point p(o);
        expectColor(p.s().transparency, 0, 0, 0);
    }
    o.rayFlags = quor::RAY_SHADOW | quor::RAY_EXEMPT_OPAQUE_SHADOWS;
    {
        Point exempt(o);
        expectColor(exempt.s().transparency, 0.5f, 0.4f, 0.3f);
        EXPECT_EQ(exempt.s().context, nullptr);
        EXPECT_EQ(exempt.s().elementsEnabled, 0);
    }
    // Coverage comes after the opaque rules.
    o.rayFlags = quor::RAY_SHADOW;
    o.coverage = 0.25f;
    {
        Point covered(o);
        expectColor(covered.s().transparency, 0.75f, 0.75f, 0.75f);
    }
    hairlab::PointOptions t = options({{"transparency", "0.2,0.4,0.6"}});
    t.coverage = 0.5f;
    Point tex(t);
    expectColor(tex.s().transparency, 0.6f, 0.7f, 0.8f);
    // Opacity weights every colour.
    Point weighted(options(with(defaults(), {{"transparency", "0.5,0.5,0.5"}, {"overall_color", "1,1,1"}})));
    expectColor(weighted.s().primaryColor, 0.1f, 0.1f, 0.1f);

    // With the host's counter set and a grey transparency, the override replaces it.
    Point over(options({{"transparency", "0.3,0.3,0.3"}}));
    over.ctx().hostCounter = 1;
    over.ctx().transparencyOverride = 1.7f;
    over.probe->shade();
    expectColor(over.s().transparency, 1, 1, 1);
    over.ctx().rayFlags = 0x8;  // a masked flag turns the counter path off
    over.ctx().transparencyOverride = 0.6f;
    over.probe->shade();
    expectColor(over.s().transparency, 0.3f, 0.3f, 0.3f);
    over.ctx().rayFlags = 0x40000;  // ... while this flag takes the path on its own
    over.probe->shade();
    expectColor(over.s().transparency, 0.6f, 0.6f, 0.6f);
}

TEST(ArtistHair, BSDFFlagsAndInterfaces) {
    EXPECT_EQ(Point(options({})).instance().getBSDFFlags(), 1);
    EXPECT_EQ(Point(options({{"transparency", "0,0,0"}})).instance().getBSDFFlags(), 1);
    EXPECT_EQ(Point(options({{"transparency", "0,0.3,0"}})).instance().getBSDFFlags(), 0);
    EXPECT_EQ(Point(options({{"transparency", "0.5,0.5,0.5"}, {"opaque_for_shadows", "true"}})).instance().getBSDFFlags(),
              1);
    Point p(options({}));
    quor::PluginBase* inst = p.probe->instance();
    auto* rt = static_cast<quor::RTMtlInterface*>(inst->getInterface(quor::EXT_RTMTL));
    auto* bsdf = static_cast<quor::BSDFInterface*>(inst->getInterface(quor::EXT_BSDF));
    auto* plug = static_cast<quor::QuorPluginInterface*>(inst->getInterface(quor::EXT_QUOR_PLUGIN));
    ASSERT_TRUE(rt && bsdf && plug);
    EXPECT_EQ(rt->getInterfaceId(), quor::EXT_RTMTL);
    EXPECT_STREQ(rt->getInterfaceName(), "EXT_RTMTL");
    EXPECT_EQ(bsdf->getInterfaceId(), quor::EXT_BSDF);
    EXPECT_EQ(plug->getInterfaceId(), quor::EXT_QUOR_PLUGIN);
    EXPECT_EQ(rt->getPlugin(), inst);
    EXPECT_EQ(bsdf->getPlugin(), inst);
    EXPECT_EQ(plug->getPlugin(), inst);
    EXPECT_EQ(inst->getInterface(12345), nullptr);
    EXPECT_EQ(p.desc->supportsInterface(quor::EXT_RTMTL), 0);
    EXPECT_EQ(p.s().getSamplerFlags(), 11);
    EXPECT_EQ(Point(options({{"use_cached_gi", "false"}})).s().getSamplerFlags(), 10);
}

// --- evaluation ------------------------------------------------------------------------------

TEST(ArtistHair, EvalSwitchesAndBelowSurface) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.5,0.4,0.3"}, {"overall_color", "1,1,1"}});
    Point p(options(sets, 0, 0, 0));  // the side test is active
    const quor::Vector below = unitVec(0.2f, 0.3f, -0.5f);
    quor::Color light{2, 3, 4, 4}, unshadowed{5, 6, 7, 7};
    quor::Color r = p.probe->brdf()->eval(p.ctx(), below, light, unshadowed, 1.0f, 3);
    EXPECT_EQ(r.r + r.g + r.b + r.a, 0.0f);
    EXPECT_EQ(light.r, 2.0f);
    EXPECT_EQ(unshadowed.b, 7.0f);

    const quor::Vector L = unitVec(0.3f, -0.4f, 0.6f);
    const Color4 diffuse = p.s().diffuseColor;
    const float lt = dot(Vec4(L), p.s().axisT);
    const float kd = std::sqrt(1 - lt * lt) / kPiF;
    Color4 dOnly(p.eval(L, 1));
    expectColor(dOnly, diffuse.r() * kd, diffuse.g() * kd, diffuse.b() * kd);
    Color4 both(p.eval(L, 3));
    EXPECT_GT(both.r(), dOnly.r() + 1e-3f);
    Color4 sOnly(p.eval(L, 2));
    EXPECT_NEAR(sOnly.g(), both.g() - dOnly.g(), 1e-6f);

    // On a GI ray (or in GI mode 3) the diffuse bit also asks for the specular lobes.
    p.ctx().rayFlags = quor::RAY_GI;
    EXPECT_NEAR(Color4(p.eval(L, 1)).g(), both.g(), 1e-6f);
    p.ctx().rayFlags = 0;
    p.ctx().giMode = 3;
    EXPECT_NEAR(Color4(p.eval(L, 1)).g(), both.g(), 1e-6f);
    EXPECT_NEAR(Color4(p.eval(L, 2)).g(), 0.0f, 1e-7f);
    p.ctx().giMode = 0;
    p.ctx().rayFlags = quor::RAY_NO_SPECULAR;
    expectColor(Color4(p.eval(L, 3)), diffuse.r() * kd, diffuse.g() * kd, diffuse.b() * kd);
    p.ctx().rayFlags = 0;

    // A light along the strand sees nothing at all.
    Vec4 T = p.s().axisT;
    Color4 along(p.eval(T.host(), 3));
    expectColor(along, 0, 0, 0);

    // light_multiplier scales the result linearly.
    Point bright(options(with(sets, {{"light_multiplier", "2.5"}}), 0, 0, 0));
    EXPECT_NEAR(Color4(bright.eval(L, 3)).r(), 2.5f * both.r(), 1e-5f);
}

TEST(ArtistHair, PassThroughOfLightColours) {
    hairlab::PointOptions o = options(defaults(), 0, 0, 0);
    o.side = 1;
    o.strandTransparency = {0.5f, 0.5f, 0.5f};
    Point p(o);
    expectColor(Color4(p.probe->brdf()->getTransparency()), 2.0f / 3.0f, 2.0f / 3.0f, 2.0f / 3.0f);
    quor::Color light{1, 1, 1, 1}, unshadowed{2, 2, 2, 2};
    p.probe->brdf()->eval(p.ctx(), unitVec(0.1f, 0.2f, 0.9f), light, unshadowed, 1.0f, 3);
    EXPECT_NEAR(light.r, 2.0f / 3.0f * 0.5f, 1e-6f);
    EXPECT_NEAR(unshadowed.g, 2.0f * 2.0f / 3.0f * 0.5f, 1e-6f);
    p.s().getBRDF(0);
    expectColor(Color4(p.probe->brdf()->getTransparency()), 0.75f, 0.75f, 0.75f);
    expectColor(Color4(p.s().getBSDFTransparency(p.ctx())), 0.5f, 0.5f, 0.5f);
    // Colour queries: albedo sum times the weight, and the weight passes the strand.
    quor::Color weight{2, 2, 2, 2};
    Color4 m(p.s().getDiffuseColor(weight));
    expectColor(m, 2 * p.s().albedoSum.r(), 2 * p.s().albedoSum.g(), 2 * p.s().albedoSum.b());
    EXPECT_NEAR(weight.r, 1.5f, 1e-6f);
    // Hair hits skip the side test and keep the light colours as they are.
    o.contextFlags = 0x20;
    Point hair(o);
    quor::Color l2{1, 1, 1, 1}, u2{1, 1, 1, 1};
    hair.probe->brdf()->eval(hair.ctx(), unitVec(0.1f, 0.2f, 0.9f), l2, u2, 1.0f, 3);
    EXPECT_EQ(l2.r, 1.0f);
    expectColor(Color4(hair.probe->brdf()->getTransparency()), 0.5f, 0.5f, 0.5f);
}

TEST(ArtistHair, MultipleImportanceWeights) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.5,0.5,0.5"}});
    hairlab::PointOptions o = options(sets);
    o.mis = 1;
    Point p(o);
    ASSERT_EQ(p.s().useLightMIS, 1);
    const quor::Vector L = unitVec(-0.3f, 0.5f, 0.4f);
    // A huge light probability leaves the terms as they are; p = 0 removes every sampled term.
    p.s().useLightMIS = 0;
    Color4 plain(p.eval(L, 3));
    p.s().useLightMIS = 1;
    Color4 huge(p.eval(L, 3, 1e18f));
    EXPECT_NEAR(huge.r(), plain.r(), 1e-6f * plain.r());
    expectColor(Color4(p.eval(L, 3, 0.0f)), 0, 0, 0);
    // The diffuse weight is the power heuristic against (4/π)·√(1 - z²)·0.5.
    Color4 dPlain(p.eval(L, 1, 1e18f));
    const float z = dot(Vec4(L), p.s().axisT);
    const float pb = 4.0f / kPiF * std::sqrt(1 - z * z) * 0.5f;
    for (float prob : {0.3f, 1.0f, 3.0f}) {
        float w = prob * prob / (pb * pb + prob * prob);
        EXPECT_NEAR(Color4(p.eval(L, 1, prob)).r(), dPlain.r() * w, 0.03f * dPlain.r()) << prob;
    }
    // Off: the probability plays no part.
    p.s().useLightMIS = 0;
    EXPECT_NEAR(Color4(p.eval(L, 3, 0.0f)).r(), plain.r(), 1e-7f);
}

TEST(ArtistHair, ElementAccumulatorsAddUpToEval) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.3,0.2,0.1"}, {"light_multiplier", "1.5"}});
    for (const char* inSpecular : {"false", "true"}) {
        Channels ch;
        ch.present = {128};
        Point p(options(with(sets, {{"transmission_in_specular", inSpecular}}), 0, 0, 0x21));
        p.ctx().channels = &ch;
        p.probe->shade();
        MaxHairBSDF& s = p.s();
        ASSERT_EQ(s.elementsEnabled, 1);
        Color4 sum(0.0f), diffuseLit(0.0f);
        const quor::Vector lights[3] = {unitVec(0.3f, -0.2f, 0.9f), unitVec(-0.4f, 0.6f, 0.2f), unitVec(0.1f, 0.9f, -0.3f)};
        for (const quor::Vector& L : lights) {
            quor::Color light{0.8f, 0.9f, 1.0f, 1.0f}, unshadowed{1.0f, 1.2f, 1.4f, 1.4f};
            sum += Color4(s.eval(p.ctx(), L, light, unshadowed, 1.0f, 3));
        }
        Color4 parts = s.diffuseColor * s.accDiffuseLit + s.accSpecular + s.accTransmission;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(parts[i], sum[i], 1e-6f);
        if (std::string(inSpecular) == "true") {
            expectColor(s.accTransmission, 0, 0, 0);
        } else {
            EXPECT_GT(s.accTransmission.r(), 0.0f);
        }
        // Raw TT times the transmission colour is the transmission part.
        Color4 trans = s.transmissionColor * s.accTransmissionRaw;
        if (std::string(inSpecular) == "false") {
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(trans[i], s.accTransmission[i], 1e-7f);
        }

        // Scale, then a zero commit moves the accumulators into the totals.
        Color4 lit = s.accDiffuseLit, shadow = s.accDiffuseShadow, spec = s.accSpecular;
        EXPECT_GT(shadow.g(), 0.0f);  // the unshadowed light was brighter
        s.scaleLightSample(0.5f);
        s.commitLightSample(0);
        expectColor(s.totDiffuseLit, 0.5f * lit.r(), 0.5f * lit.g(), 0.5f * lit.b());
        expectColor(s.totSpecular, 0.5f * spec.r(), 0.5f * spec.g(), 0.5f * spec.b());
        expectColor(s.accDiffuseLit, 0, 0, 0);
        expectColor(s.accSpecular, 0, 0, 0);
        EXPECT_TRUE(ch.values.empty());

        // A second light, then a writing commit.
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        s.eval(p.ctx(), lights[0], light, unshadowed, 1.0f, 3);
        Color4 lit2 = s.accDiffuseLit;
        s.commitLightSample(1);
        Color4 totLit = s.totDiffuseLit;
        expectColor(totLit, 0.5f * lit.r() + lit2.r(), 0.5f * lit.g() + lit2.g(), 0.5f * lit.b() + lit2.b());
        expectColor(ch.color(111), totLit.r(), totLit.g(), totLit.b());
        expectColor(ch.color(130), totLit.r(), totLit.g(), totLit.b());
        Color4 A = totLit * s.diffuseColor, S = s.diffuseColor * s.totDiffuseShadow;
        expectColor(ch.color(107), A.r(), A.g(), A.b());
        expectColor(ch.color(129), A.r(), A.g(), A.b());
        expectColor(ch.color(105), S.r(), S.g(), S.b());
        expectColor(ch.color(106), s.totSpecular.r(), s.totSpecular.g(), s.totSpecular.b());
        expectColor(ch.color(103), s.totTransmission.r(), s.totTransmission.g(), s.totTransmission.b());
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(ch.values[128][i], S[i] / (A[i] + S[i]), 1e-6f);
        EXPECT_EQ(ch.order, (std::vector<int>{111, 112, 103, 107, 106, 105, 129, 130, 128}));

        // getBRDF clears accumulators and totals.
        s.getBRDF(0);
        expectColor(s.totDiffuseLit, 0, 0, 0);
        expectColor(s.accTransmissionRaw, 0, 0, 0);
    }
}

TEST(ArtistHair, LightElementsHonourTheSettingsFlag) {
    Channels ch;
    Point p(options(with(defaults(), {{"diffuse_color", "0.3,0.2,0.1"}}), 0, 0, 0x21));
    quor::RenderSettings settings;
    settings.flags = quor::SETTINGS_NO_LIGHT_ELEMENTS;
    p.ctx().channels = &ch;
    p.ctx().settings = &settings;
    p.probe->shade();
    quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
    p.s().eval(p.ctx(), unitVec(0.3f, -0.2f, 0.9f), light, unshadowed, 1.0f, 3);
    p.s().commitLightSample(1);
    EXPECT_EQ(ch.order, (std::vector<int>{111, 112, 103, 105, 129, 130}));
    // Shadow points have no elements at all.
    p.ctx().rayFlags = quor::RAY_SHADOW;
    p.probe->shade();
    ch.order.clear();
    p.s().commitLightSample(1);
    EXPECT_TRUE(ch.order.empty());
}

TEST(ArtistHair, TraceForwardResultsAndElements) {
    hairlab::PointOptions o = options(with(defaults(), {{"diffuse_color", "0.3,0.2,0.1"}}), 0, 0, 0x21);
    o.strandTransparency = {0.25f, 0.25f, 0.25f};
    o.gi = {0.5f, 1.0f, 2.0f};
    Channels ch;
    ch.present = {131};
    Point p(o);
    p.ctx().channels = &ch;
    p.probe->shade();
    MaxHairBSDF& s = p.s();
    s.traceForward(p.ctx(), 1);
    const quor::ShadeResult& r = p.ctx().result;
    EXPECT_NEAR(r.gi.r, s.albedoSum.r() * 0.5f, 1e-6f);
    EXPECT_NEAR(r.gi.b, s.albedoSum.b() * 2.0f, 1e-6f);
    EXPECT_FLOAT_EQ(r.transparency.g, 0.25f);
    EXPECT_FLOAT_EQ(r.opacity.g, 0.75f);
    EXPECT_FLOAT_EQ(r.transparency2.b, 0.25f);
    EXPECT_EQ(ch.order, (std::vector<int>{110, 129, 130, 108, 102, 101, 121, 103, 120, 119, 118, 131}));
    expectColor(ch.color(129), 0.5f * s.diffuseColor.r(), s.diffuseColor.g(), 2 * s.diffuseColor.b());
    expectColor(ch.color(118), (s.primaryColor + s.secondaryColor).r(), (s.primaryColor + s.secondaryColor).g(),
                (s.primaryColor + s.secondaryColor).b());
    // Element 131: two unit vectors faded by the mean opacity; m lies across the strand.
    const std::vector<float>& f = ch.values[131];
    ASSERT_EQ(f.size(), 6u);
    const float o131 = 0.75f;
    EXPECT_NEAR(std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]), o131, 1e-5f);
    EXPECT_GE(f[2], 0.0f);
    Vec4 m(f[3] / o131, f[4] / o131, f[5] / o131);
    EXPECT_NEAR(length(m), 1.0f, 1e-5f);
    EXPECT_NEAR(dot(m, s.axisT), 0.0f, 1e-5f);
    EXPECT_NEAR(dot(m, Vec4(p.ctx().rayDir) - s.axisT * dot(Vec4(p.ctx().rayDir), s.axisT)),
                -length(Vec4(p.ctx().rayDir) - s.axisT * dot(Vec4(p.ctx().rayDir), s.axisT)), 1e-5f);

    // Without the GI flag: no GI, and an element mode skips element 101.
    ch.order.clear();
    ch.present.clear();
    p.ctx().elementMode = 1;
    s.traceForward(p.ctx(), 0);
    EXPECT_EQ(p.ctx().result.gi.g, 0.0f);
    EXPECT_EQ(ch.order, (std::vector<int>{110, 129, 130, 108, 102, 121, 103, 120, 119, 118}));
    expectColor(ch.color(110), 0, 0, 0);
}

TEST(ArtistHair, AddContextRayOnlyForModeTwo) {
    struct Ctx : quor::QuorContext {
        int kind = -1, flags = -1;
        Color4 color;
        int addRay(int k, const quor::Color& c, int f, const quor::Vector&) override {
            kind = k;
            flags = f;
            color = Color4(c);
            return 7;
        }
    } ctx;
    Point p(options(defaults()));
    EXPECT_EQ(p.s().addContextRay(ctx, nullptr, 1), 0);
    EXPECT_EQ(ctx.kind, -1);
    EXPECT_EQ(p.s().addContextRay(ctx, nullptr, 2), 7);
    EXPECT_EQ(ctx.kind, 2);
    EXPECT_EQ(ctx.flags, 0x8210);
    EXPECT_NEAR(ctx.color.g(), p.s().albedoSum.g(), 1e-7f);
}

// --- sampling --------------------------------------------------------------------------------

Vec4 localOf(MaxHairBSDF& s, const quor::Vector& d) {
    Vec4 v(d);
    return Vec4(dot(v, s.axisW), dot(v, s.axisB), dot(v, s.axisT));
}

TEST(ArtistHair, SampleRayBranchesAndNewRay) {
    Point p(options(with(defaults(), {{"diffuse_color", "0.2,0.2,0.2"}})));
    MaxHairBSDF& s = p.s();
    quor::RenderSettings settings;
    settings.maxRayDistOn = 1;
    settings.maxRayDist = 42.0f;
    p.ctx().settings = &settings;
    p.ctx().dirDiff[0] = {0.01f, 0.0f, 0.002f, 0};
    p.ctx().hitPoint = {1, 2, 3, 0};
    // u = 1.25 behaves as 0.25.
    quor::QuorContext& a = p.probe->newRayContext(0.3f, 0.5f, 0.5f);
    ASSERT_EQ(s.sampleRay(p.ctx(), a, 0.25f, 0), 1.0f);
    quor::Vector d1 = a.ray->dir;
    quor::Color w1 = a.pathWeight;
    quor::QuorContext& b = p.probe->newRayContext(0.3f, 0.5f, 0.5f);
    b.ownerTag = 9;
    ASSERT_EQ(s.sampleRay(p.ctx(), b, 1.25f, 0), 1.0f);
    EXPECT_EQ(b.ray->dir.x, d1.x);
    EXPECT_EQ(b.pathWeight.g, w1.g);
    EXPECT_EQ(b.ray->tmax, 42.0f);
    EXPECT_EQ(b.ray->tmin, 0.0f);
    EXPECT_EQ(b.ray->tag, 9);
    EXPECT_EQ(b.ray->origin.y, 2.0f);
    EXPECT_EQ(b.rayDir.z, b.ray->dir.z);
    // The differential is mirrored: same length.
    EXPECT_NEAR(length(Vec4(b.dirDiff[0])), length(Vec4(p.ctx().dirDiff[0])), 1e-6f);

    const float pD = s.probDiffuse, pT = s.probTransmission, pP = s.probPrimary;
    // R with ξ = 0.5: in the plane of axisW and axisT, on the viewer's side.
    quor::QuorContext& r = p.probe->newRayContext(0.5f, 0.5f, 0.5f);
    ASSERT_EQ(s.sampleRay(p.ctx(), r, pD + pT + 0.5f * pP, 0), 1.0f);
    Vec4 lr = localOf(s, r.ray->dir);
    EXPECT_GT(lr.x(), 0.0f);
    EXPECT_NEAR(lr.y(), 0.0f, 1e-6f);
    EXPECT_GT(r.pathProb, 0.0f);
    // TT with ξ = 0.5: straight through the strand.
    quor::QuorContext& t = p.probe->newRayContext(0.5f, 0.5f, 0.5f);
    ASSERT_EQ(s.sampleRay(p.ctx(), t, pD + 0.5f * pT, 0), 1.0f);
    Vec4 lt = localOf(s, t.ray->dir);
    EXPECT_LT(lt.x(), 0.0f);
    EXPECT_NEAR(lt.y(), 0.0f, 1e-5f);
    // Past the total probability nothing is written.
    s.probSecondary = 0.0f;
    quor::QuorContext& none = p.probe->newRayContext(0.5f, 0.5f, 0.5f);
    EXPECT_EQ(s.sampleRay(p.ctx(), none, 0.999f, 0), 0.0f);
    EXPECT_EQ(none.ray->tmax, 0.0f);
    EXPECT_EQ(none.pathProb, 0.0f);
    // A black material samples nothing.
    Point black(options({{"transmission", "0,0,0"}}));
    quor::QuorContext& nb = black.probe->newRayContext(0.5f, 0.5f, 0.5f);
    EXPECT_EQ(black.s().sampleRay(black.ctx(), nb, 0.0f, 0), 0.0f);
    EXPECT_EQ(nb.ray->tmax, 0.0f);
    // Without a ray record only the weight and probability are written.
    quor::QuorContext& nr = p.probe->newRayContext(0.5f, 0.5f, 0.5f);
    nr.ray = nullptr;
    EXPECT_EQ(s.sampleRay(p.ctx(), nr, 0.1f, 0), 1.0f);
    EXPECT_GT(nr.pathProb, 0.0f);
}

struct FurnaceCase {
    Sets sets;
    hairlab::Vec3 dir;
};

TEST(ArtistHair, SampledAndEvaluatedAlbedoAgree) {
    std::vector<FurnaceCase> cases;
    const hairlab::Vec3 dirs[2] = {{0.3f, 0.2f, -0.93f}, {0.1f, 0.7f, -0.7f}};  // tangent is (0, 1, 0)
    const Sets lobes[5] = {
        {{"diffuse_color", "0.9,0.6,0.3"}, {"transmission", "0,0,0"}},
        {{"primary_specular", "0.9,0.9,0.9"}, {"transmission", "0,0,0"}},
        {{"secondary_lock_to_transmission", "false"}, {"secondary_specular", "0.8,0.8,0.8"}, {"transmission", "0,0,0"}},
        {{"transmission", "0.9,0.9,0.9"}, {"secondary_lock_to_transmission", "false"}},
        {{"diffuse_color", "0.2,0.2,0.2"},
         {"primary_specular", "0.3,0.3,0.3"},
         {"transmission", "0.5,0.4,0.3"},
         {"secondary_specular", "0.1,0.1,0.1"},
         {"secondary_lock_to_transmission", "false"}},
    };
    const char* glossiness[3] = {"0.2", "0.6", "0.9"};
    int n = 0;
    for (const Sets& lobe : lobes) {
        for (const char* g : glossiness) {
            const hairlab::Vec3 dir = dirs[n++ % 2];
            Sets sets = with(lobe, {{"primary_glossiness", g},
                                    {"secondary_glossiness", g},
                                    {"transmission_glossiness_length", g},
                                    {"transmission_glossiness_width", g},
                                    {"overall_color", "1,1,1"}});
            hairlab::PointOptions o = options(sets);
            o.dir = dir;
            Point p(o);
            const Color4 albedo = p.s().albedoSum;
            hairlab::FurnaceResult f = hairlab::furnace(*p.probe, 16000, 11);
            ASSERT_TRUE(f.sampled);
            const float e[3] = {f.eval.r, f.eval.g, f.eval.b}, se[3] = {f.evalStderr.r, f.evalStderr.g, f.evalStderr.b};
            const float m[3] = {f.sampledMean.r, f.sampledMean.g, f.sampledMean.b},
                        sm[3] = {f.sampledStderr.r, f.sampledStderr.g, f.sampledStderr.b};
            for (int c = 0; c < 3; ++c) {
                float tol = 4.0f * std::sqrt(se[c] * se[c] + sm[c] * sm[c]) + 2e-3f;
                EXPECT_NEAR(e[c], m[c], tol) << "case " << n << " gloss " << g << " channel " << c;
                // Normalised lobes keep their colour as albedo, up to the table's width cells.
                EXPECT_NEAR(e[c], albedo[c], 0.1f * albedo[c] + 4 * se[c]) << "case " << n << " gloss " << g;
            }
        }
    }
}

// Probability that z = cos θ (along axisT) falls in [z0, z1], from the table slopes.
double zMass(const LobeTable& table, float sigma, float v, double z0, double z1) {
    const int sub = 64;
    double m = 0;
    for (int i = 0; i < sub; ++i) {
        double z = z0 + (z1 - z0) * (i + 0.5) / sub;
        m += 0.5 * table.rowSlope(sigma, v, float(z)) * (z1 - z0) / sub;
    }
    return m;
}

// Chi-square quantile by the Wilson–Hilferty approximation.
double chiSquareCritical(int dof, double zScore) {
    double k = dof, a = 2.0 / (9.0 * k);
    return k * std::pow(1.0 - a + zScore * std::sqrt(a), 3.0);
}

TEST(ArtistHair, SampledDirectionsFollowEachBranchDensity) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.3,0.3,0.3"},
                                  {"primary_glossiness", "0.5"},
                                  {"transmission_glossiness_length", "0.6"},
                                  {"transmission_glossiness_width", "0.4"}});
    Point p(options(sets));
    MaxHairBSDF& s = p.s();
    BRDFHair3& inst = p.instance();
    const float vz = s.viewLocal.z();
    const float pD = s.probDiffuse, pT = s.probTransmission, pP = s.probPrimary;
    struct Branch {
        const char* name;
        float u0, width;
        const LobeTable* table;
        float sigma;
        int kind;  // 0 diffuse, 1 TT, 2 R
    };
    const Branch branches[3] = {{"diffuse", 0.0f, pD, &inst.diffuseCdfTable(), 0.0f, 0},
                                {"TT", pD, pT, &inst.transmissionNormTable(), s.roughTransLength, 1},
                                {"R", pD + pT, pP, &inst.primaryNormTable(), s.roughPrimary, 2}};
    const double sigmaW = s.roughTransWidth;
    const double massW = std::erf(M_PI / (sigmaW * std::sqrt(2.0)));
    // Azimuthal mass of [a, b] (φ measured from axisW, in [-π, π]).
    auto phiMass = [&](int kind, double a, double b) {
        if (kind == 0) return (b - a) / (2 * M_PI);
        if (kind == 2) return 0.5 * (std::sin(b / 2) - std::sin(a / 2));
        // TT: a Gaussian in the offset ω = φ - π (wrapped into [-π, π]), truncated to [-π, π].
        double m = 0;
        const int sub = 200;
        for (int i = 0; i < sub; ++i) {
            double phi = a + (b - a) * (i + 0.5) / sub;
            double w = phi < 0 ? phi + M_PI : phi - M_PI;
            m += std::exp(-0.5 * w * w / (sigmaW * sigmaW)) / (sigmaW * std::sqrt(2 * M_PI) * massW) * (b - a) / sub;
        }
        return m;
    };
    const int nz = 12, nphi = 16, samples = 30000;
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> U(0.0f, 1.0f);
    for (const Branch& br : branches) {
        ASSERT_GT(br.width, 0.0f);
        std::vector<double> counts(nz * nphi, 0.0);
        for (int i = 0; i < samples; ++i) {
            float u = br.u0 + br.width * ((i + U(rng)) / samples) * 0.999999f;
            quor::QuorContext& nc = p.probe->newRayContext(U(rng), 0.5f, 0.5f);
            ASSERT_EQ(s.sampleRay(p.ctx(), nc, u, 0), 1.0f);
            Vec4 l = localOf(s, nc.ray->dir);
            int iz = std::min(nz - 1, int((l.z() + 1.0f) * 0.5f * nz));
            double phi = std::atan2(double(l.y()), double(l.x()));
            int ip = std::min(nphi - 1, int((phi + M_PI) / (2 * M_PI) * nphi));
            counts[iz * nphi + ip] += 1;
        }
        double chi = 0;
        int dof = -1;
        double pooledExp = 0, pooledObs = 0;
        for (int iz = 0; iz < nz; ++iz) {
            double z0 = -1.0 + 2.0 * iz / nz, z1 = -1.0 + 2.0 * (iz + 1) / nz;
            double pz = zMass(*br.table, br.sigma, vz, z0, z1);
            for (int ip = 0; ip < nphi; ++ip) {
                double a = -M_PI + 2 * M_PI * ip / nphi, b = a + 2 * M_PI / nphi;
                double expect = samples * pz * phiMass(br.kind, a, b);
                double obs = counts[iz * nphi + ip];
                if (expect < 5) {  // sparse cells are pooled into one
                    pooledExp += expect;
                    pooledObs += obs;
                    continue;
                }
                chi += (obs - expect) * (obs - expect) / expect;
                ++dof;
            }
        }
        if (pooledExp >= 5) {
            chi += (pooledObs - pooledExp) * (pooledObs - pooledExp) / pooledExp;
            ++dof;
        } else {
            EXPECT_LT(pooledObs, 20) << br.name;  // nothing lands where the density has no mass
        }
        ASSERT_GT(dof, 10) << br.name;
        EXPECT_LT(chi, chiSquareCritical(dof, 3.7)) << br.name << " dof " << dof;
    }
}

TEST(ArtistHair, OutputsStayFiniteEverywhere) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> U(-1.0f, 1.0f), P(0.0f, 1.0f);
    auto finite = [](const quor::Color& c) {
        return std::isfinite(c.r) && std::isfinite(c.g) && std::isfinite(c.b) && std::isfinite(c.a);
    };
    const char* gloss[3] = {"0", "0.5", "1"};
    for (int i = 0; i < 24; ++i) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%g,%g,%g", P(rng), P(rng), P(rng));
        Sets sets = {{"diffuse_color", buf},
                     {"primary_specular", buf},
                     {"transmission", "0.7,0.2,0.9"},
                     {"primary_glossiness", gloss[i % 3]},
                     {"secondary_glossiness", gloss[(i + 1) % 3]},
                     {"transmission_glossiness_length", gloss[(i / 3) % 3]},
                     {"transmission_glossiness_width", gloss[(i + 2) % 3]},
                     {"secondary_lock_to_transmission", i % 2 ? "true" : "false"},
                     {"simplify_for_gi", i % 4 ? "false" : "true"}};
        hairlab::PointOptions o = options(sets, i % 11, (i % 5 == 0) ? quor::RAY_GI : 0, 0x21);
        o.dir = {U(rng), U(rng), U(rng)};
        o.tangent = {U(rng), U(rng), U(rng)};
        o.mis = i % 2;
        Channels ch;
        ch.present = {128, 131};
        Point p(o);
        p.ctx().channels = &ch;
        p.probe->shade();
        MaxHairBSDF& s = p.s();
        for (int k = 0; k < 40; ++k) {
            quor::Vector L = unitVec(U(rng), U(rng), U(rng));
            quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
            EXPECT_TRUE(finite(s.eval(p.ctx(), L, light, unshadowed, P(rng), 3)));
            EXPECT_TRUE(finite(light) && finite(unshadowed));
            quor::QuorContext& nc = p.probe->newRayContext(P(rng), P(rng), P(rng));
            if (s.sampleRay(p.ctx(), nc, P(rng), 0) > 0) {
                EXPECT_TRUE(finite(nc.pathWeight));
                EXPECT_TRUE(std::isfinite(nc.pathProb) && nc.pathProb >= 0);
                EXPECT_NEAR(length(Vec4(nc.ray->dir)), 1.0f, 1e-4f);
            }
        }
        s.commitLightSample(1);
        s.traceForward(p.ctx(), 1);
        EXPECT_TRUE(finite(p.ctx().result.gi));
        for (auto& [alias, v] : ch.values)
            for (float x : v) EXPECT_TRUE(std::isfinite(x)) << alias;
    }
}

} // namespace
} // namespace hair
