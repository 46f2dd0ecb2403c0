// BRDFHair3: per-point rules by hand, and sampled directions against the table densities.
#include "artist_hair/brdf_hair3.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <vector>

#include "harness/estimators.h"
#include "harness/test_support.h"
#include "math/numeric.h"

namespace hair {
namespace {

using Sets = harness::ParamSets;

// One BRDFHair3 shading point, driven like a host.
struct Point {
    harness::ShadingPoint probe;
    explicit Point(const harness::PointOptions& o) : probe(harness::test::library(), o) { probe.shade(); }
    MaxHairBSDF& s() { return probe.sampler<MaxHairBSDF>(); }
    quor::QuorContext& ctx() { return probe.context(); }
};

harness::PointOptions options(Sets sets, int depth = 0, int rayFlags = 0,
                              int contextFlags = quor::CTX_SKIP_BELOW_SURFACE) {
    harness::PointOptions o;
    o.type = "BRDFHair3";
    o.sets = std::move(sets);
    o.depth = depth;
    o.rayFlags = rayFlags;
    o.contextFlags = contextFlags;
    o.dir = {0.3f, 0.2f, -0.93f};
    return o;
}

// The registered defaults of the colour and glossiness parameters.
Sets defaults() {
    return {{"overall_color", "0.9,0.9,0.9"},
            {"primary_specular", "0.2,0.2,0.2"},
            {"primary_glossiness", "0.8"},
            {"secondary_specular", "0.2,0.2,0.2"},
            {"secondary_glossiness", "0.5"},
            {"transmission", "0.2,0.2,0.2"},
            {"transmission_glossiness_length", "0.8"},
            {"transmission_glossiness_width", "0.8"}};
}

Sets with(Sets a, const Sets& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

quor::Vector unitVec(float x, float y, float z) { return harness::toVector(harness::normalized({x, y, z})); }

void expectColor(const Color4& c, float r, float g, float b, float tol = 1e-6f) {
    EXPECT_NEAR(c.r(), r, tol);
    EXPECT_NEAR(c.g(), g, tol);
    EXPECT_NEAR(c.b(), b, tol);
    EXPECT_NEAR(c[3], b, tol);
}
void expectColor(const Color4& c, const Color4& want, float tol = 1e-6f) {
    expectColor(c, want.r(), want.g(), want.b(), tol);
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

TEST(ArtistHair, RoughnessFollowsDepthAndGlossinessCap) {
    struct Case {
        int depth;
        const char* gloss;
        float rough;
    };
    for (Case c : {Case{0, "0.8", 0.2f}, Case{1, "0.8", 0.28f}, Case{2, "0.8", 0.36f}, Case{5, "0.8", 0.44f},
                   Case{10, "0.8", 0.44f}, Case{0, "1", 0.001f}, Case{3, "1", 1.0f - 0.999f * 0.7f}}) {
        Point p(options(with(defaults(), {{"primary_glossiness", c.gloss}, {"simplify_for_gi", "false"}}),
                        c.depth));
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
    EXPECT_NEAR(p.s().probDiffuse + p.s().probPrimary + p.s().probSecondary + p.s().probTransmission, 1.0f,
                1e-6f);

    // Unlocked, the secondary colour is its own; above the limit all four scale by limit/sum.
    Sets hot = with(defaults(), {{"secondary_lock_to_transmission", "false"},
                                 {"secondary_specular", "0.5,0.1,0.1"},
                                 {"diffuse_color", "0.6,0.3,0.1"},
                                 {"overall_color", "1,1,1"}});
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
    harness::PointOptions o = options({});
    o.strandColor = {0.3f, 0.2f, 0.1f};
    expectColor(Point(o).s().diffuseColor, 0.3f, 0.2f, 0.1f);
}

TEST(ArtistHair, TransparencyRules) {
    harness::PointOptions o = options({{"opaque_for_shadows", "true"}, {"opaque_for_gi", "true"}});
    o.strandTransparency = {0.5f, 0.4f, 0.3f};
    expectColor(Point(o).s().transparency, 0.5f, 0.4f, 0.3f); // camera ray
    for (int flags : {quor::RAY_SHADOW, quor::RAY_GI}) {
        o.rayFlags = flags;
        expectColor(Point(o).s().transparency, 0, 0, 0);
    }
    o.rayFlags = quor::RAY_SHADOW | quor::RAY_EXEMPT_OPAQUE_SHADOWS;
    Point exempt(o);
    expectColor(exempt.s().transparency, 0.5f, 0.4f, 0.3f);
    EXPECT_EQ(exempt.s().context, nullptr);
    EXPECT_EQ(exempt.s().elementsEnabled, 0);
    // Coverage comes after the opaque rules.
    o.rayFlags = quor::RAY_SHADOW;
    o.coverage = 0.25f;
    expectColor(Point(o).s().transparency, 0.75f, 0.75f, 0.75f);
    harness::PointOptions t = options({{"transparency", "0.2,0.4,0.6"}});
    t.coverage = 0.5f;
    expectColor(Point(t).s().transparency, 0.6f, 0.7f, 0.8f);
    // Opacity weights every colour.
    Point weighted(options(with(defaults(), {{"transparency", "0.5,0.5,0.5"}, {"overall_color", "1,1,1"}})));
    expectColor(weighted.s().primaryColor, 0.1f, 0.1f, 0.1f);
}

TEST(ArtistHair, ElementAccumulatorsAddUpToEval) {
    Sets sets = with(defaults(), {{"diffuse_color", "0.3,0.2,0.1"}, {"light_multiplier", "1.5"}});
    for (bool inSpecular : {false, true}) {
        Channels ch;
        ch.present = {128};
        Point p(options(with(sets, {{"transmission_in_specular", inSpecular ? "true" : "false"}}), 0, 0,
                        quor::CTX_SKIP_BELOW_SURFACE | quor::CTX_RENDER_ELEMENTS));
        p.ctx().channels = &ch;
        p.probe.shade();
        MaxHairBSDF& s = p.s();
        ASSERT_EQ(s.elementsEnabled, 1);
        Color4 sum(0.0f), diffuseLit(0.0f);
        const quor::Vector lights[3] = {unitVec(0.3f, -0.2f, 0.9f), unitVec(-0.4f, 0.6f, 0.2f),
                                        unitVec(0.1f, 0.9f, -0.3f)};
        for (const quor::Vector& L : lights) {
            quor::Color light{0.8f, 0.9f, 1.0f, 1.0f}, unshadowed{1.0f, 1.2f, 1.4f, 1.4f};
            sum += Color4(s.eval(p.ctx(), L, light, unshadowed, 1.0f, quor::EVAL_ALL));
        }
        Color4 parts = s.diffuseColor * s.accDiffuseLit + s.accSpecular + s.accTransmission;
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(parts[i], sum[i], 1e-6f);
        // Kept apart, the transmission part is raw TT times the transmission colour.
        const Color4 trans = s.transmissionColor * s.accTransmissionRaw;
        if (inSpecular) {
            expectColor(s.accTransmission, 0, 0, 0);
        } else {
            EXPECT_GT(s.accTransmission.r(), 0.0f);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(trans[i], s.accTransmission[i], 1e-7f);
        }

        // Scale, then a zero commit moves the accumulators into the totals.
        Color4 lit = s.accDiffuseLit, shadow = s.accDiffuseShadow, spec = s.accSpecular;
        EXPECT_GT(shadow.g(), 0.0f); // the unshadowed light was brighter
        s.scaleLightSample(0.5f);
        s.commitLightSample(0);
        expectColor(s.totDiffuseLit, 0.5f * lit.r(), 0.5f * lit.g(), 0.5f * lit.b());
        expectColor(s.totSpecular, 0.5f * spec.r(), 0.5f * spec.g(), 0.5f * spec.b());
        for (const Color4& acc : {s.accDiffuseLit, s.accSpecular})
            expectColor(acc, 0, 0, 0);
        EXPECT_TRUE(ch.values.empty());

        // A second light, then a writing commit.
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        s.eval(p.ctx(), lights[0], light, unshadowed, 1.0f, quor::EVAL_ALL);
        Color4 lit2 = s.accDiffuseLit;
        s.commitLightSample(1);
        Color4 totLit = s.totDiffuseLit;
        expectColor(totLit, 0.5f * lit.r() + lit2.r(), 0.5f * lit.g() + lit2.g(), 0.5f * lit.b() + lit2.b());
        Color4 A = totLit * s.diffuseColor, S = s.diffuseColor * s.totDiffuseShadow;
        const std::pair<int, Color4> expected[] = {
            {111, totLit},        {130, totLit},           {107, A}, {129, A}, {105, S},
            {106, s.totSpecular}, {103, s.totTransmission}};
        for (const auto& [alias, want] : expected)
            expectColor(ch.color(alias), want);
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(ch.values[128][i], S[i] / (A[i] + S[i]), 1e-6f);
        EXPECT_EQ(ch.order, (std::vector<int>{111, 112, 103, 107, 106, 105, 129, 130, 128}));

        // getBRDF clears accumulators and totals.
        s.getBRDF(quor::SIDE_FRONT);
        for (const Color4& cleared : {s.totDiffuseLit, s.accTransmissionRaw})
            expectColor(cleared, 0, 0, 0);
    }
}

// sampleRay's density per solid angle (φ from axisW towards axisB): branch probabilities times
// table rows in z and azimuth shapes. phiShift moves R and TRT off their peak (negative control).
double mixtureDensity(const MaxHairBSDF& s, const quor::Vector& dir, double phiShift) {
    Vec4 d(dir);
    const float z = clampf(dot(d, s.axisT), -1.0f, 1.0f), vz = s.viewLocal.z();
    const double phi = std::atan2(dot(d, s.axisB), dot(d, s.axisW));
    const double sigmaW = s.roughTransWidth, mass = std::erf(M_PI / (sigmaW * std::sqrt(2.0)));
    const double omega = phi < 0 ? phi + M_PI : phi - M_PI;
    const double phiTT =
        std::exp(-0.5 * omega * omega / (sigmaW * sigmaW)) / (sigmaW * std::sqrt(2 * M_PI) * mass);
    auto phiR = [&](double p) {
        double q = std::remainder(p - phiShift, 2 * M_PI);
        return 0.25 * std::cos(q / 2);
    };
    return s.probDiffuse * 0.5 * s.diffuseCdfTable->rowSlope(0, 0, z) / (2 * M_PI) +
           s.probTransmission * 0.5 * s.transmissionNormTable->rowSlope(s.roughTransLength, vz, z) * phiTT +
           s.probPrimary * 0.5 * s.primaryNormTable->rowSlope(s.roughPrimary, vz, z) * phiR(phi) +
           s.probSecondary * 0.5 * s.primaryNormTable->rowSlope(s.roughSecondary, vz, z) * phiR(phi);
}

TEST(ArtistHair, SampledDirectionsFollowTheDensity) {
    Point p(options(with(defaults(), {{"diffuse_color", "0.3,0.3,0.3"},
                                      {"primary_glossiness", "0.5"},
                                      {"transmission_glossiness_length", "0.6"},
                                      {"transmission_glossiness_width", "0.4"}})));
    MaxHairBSDF& s = p.s();
    ASSERT_GT(s.probDiffuse * s.probTransmission * s.probPrimary * s.probSecondary, 0.0f);
    Vec4 b = -s.axisB;
    harness::SphereBins bins({s.axisT.x(), s.axisT.y(), s.axisT.z()}, {b.x(), b.y(), b.z()}, 16, 24);
    int refused = 0;
    std::vector<double> counts = harness::sampleCounts(p.probe, bins, 60000, 3, &refused);
    EXPECT_EQ(refused, 0);
    auto test = [&](double shift) {
        return harness::chiSquare(
            counts, bins.expected([&](const quor::Vector& w) { return mixtureDensity(s, w, shift); }, 6));
    };
    harness::ChiSquare right = test(0.0), wrong = test(0.5);
    EXPECT_GT(right.dof, 100);
    EXPECT_GT(right.pValue, 1e-3) << "chi2 " << right.statistic << " dof " << right.dof;
    // Negative control: the same samples against a density whose highlight sits 0.5 rad away.
    EXPECT_LT(wrong.pValue, 1e-6) << "chi2 " << wrong.statistic << " dof " << wrong.dof;
}

} // namespace
} // namespace hair
