// BRDFHair4: normalised lobes, lobe sum against the scalar formulas, hand values, energy
// conservation, sampling against the density and per-strand determinism.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "harness/estimators.h"
#include "harness/test_support.h"
#include "production_hair/hair4_bsdf.h"

namespace hair {
namespace {

using harness::ParamSets;

// A BRDFHair4 hit on a strand along +y, viewed thetaDeg off the normal plane, aroundDeg about it.
struct Hair4Point {
    harness::ShadingPoint probe;
    static harness::PointOptions options(ParamSets sets, float thetaDeg, float aroundDeg, float h, int strand,
                                         int depth) {
        harness::PointOptions o = harness::test::hairGeometry();
        o.type = "BRDFHair4";
        // The registered defaults as an editor binds them, then the look's own values.
        o.sets = harness::test::registeredDefaults("BRDFHair4");
        o.sets.insert(o.sets.end(), sets.begin(), sets.end());
        float t = thetaDeg * kDegToRad, a = aroundDeg * kDegToRad;
        o.dir = {-std::cos(t) * std::sin(a), -std::sin(t), -std::cos(t) * std::cos(a)};
        o.normal = harness::Vec3{0, 0, 1};
        o.h = h;
        o.strandIndex = strand;
        o.depth = depth;
        return o;
    }
    explicit Hair4Point(ParamSets sets, float thetaDeg = 0, float aroundDeg = 0, float h = 0, int strand = 0,
                        int depth = 0)
        : probe(harness::test::library(), options(std::move(sets), thetaDeg, aroundDeg, h, strand, depth)) {
        probe.shade();
    }
    Hair4BSDF& s() { return probe.sampler<Hair4BSDF>(); }
};

// ∫ f over [lo, hi] by the midpoint rule, abscissae in float as the lobes take them.
template <class F> double midpoint(F f, float lo, float hi, int n) {
    double sum = 0;
    for (int i = 0; i < n; ++i)
        sum += f(lo + (hi - lo) * (static_cast<float>(i) + 0.5f) / n);
    return sum * (hi - lo) / n;
}

TEST(ProductionHair, LongitudinalLobeIsNormalisedAndContinuous) {
    // The I0 series is exact to single precision up to 6; the asymptotic ln I0 is off by ~1/(16x).
    for (float x : {0.5f, 2.0f, 6.0f})
        EXPECT_NEAR(hair4::besselI0(x), std::cyl_bessel_i(0.0, x), 2e-6 * std::cyl_bessel_i(0.0, x));
    for (float x : {13.0f, 200.0f})
        EXPECT_NEAR(hair4::logBesselI0(x), std::log(std::cyl_bessel_i(0.0, static_cast<double>(x))),
                    1.0 / (14.0 * x));
    for (float v : {0.004f, 0.03f, 0.1f, 0.3f, 2.0f, 10.0f})
        for (float thetaO : {0.0f, 0.4f, -1.2f}) {
            const float so = std::sin(thetaO), co = std::cos(thetaO);
            auto mp = [&](float z) {
                return hair4::longitudinal(v, co * std::sqrt(1.0f - z * z) / v, so * z / v);
            };
            EXPECT_NEAR(midpoint(mp, -1.0f, 1.0f, 20000), 1.0, 3e-3) << v << " " << thetaO;
        }
    // The two formulas meet at v = 0.1.
    const float below = 0.1f, above = std::nextafter(0.1f, 1.0f);
    for (float a : {0.0f, 3.0f, 9.5f})
        for (float b : {-4.0f, 0.0f, 2.0f})
            EXPECT_NEAR(hair4::longitudinal(below, a, b) / hair4::longitudinal(above, a, b), 1.0, 1e-3)
                << a << b;
    // A very narrow lobe stays finite and peaks at the mirror angle sin θi = -sin θo.
    float v = 1e-4f, so = 0.3f, co = std::sqrt(1 - so * so);
    float peak = hair4::longitudinal(v, co * co / v, so * -so / v);
    float off = hair4::longitudinal(v, co * std::cos(0.35f) / v, so * -std::sin(0.35f) / v);
    EXPECT_TRUE(std::isfinite(peak));
    EXPECT_GT(peak, 10.0f);
    EXPECT_LT(off, peak * 1e-3f);
}

TEST(ProductionHair, TrimmedLogisticIsNormalisedAndInverted) {
    for (float s : {0.05f, 0.117f, 0.5f, 2.0f, 4.28f}) {
        auto lobe = [s](float phi) { return hair4::trimmedLogistic(phi, s); };
        EXPECT_NEAR(midpoint(lobe, -kPi, kPi, 20000), 1.0, 2e-3) << s;
        // Periodic: a whole turn changes nothing.
        EXPECT_NEAR(hair4::trimmedLogistic(0.3f + kTwoPi, s), hair4::trimmedLogistic(0.3f, s), 1e-4f);
        // The sample of u has u of the mass below it.
        for (float u : {0.1f, 0.5f, 0.83f}) {
            float x = hair4::sampleTrimmedLogistic(u, s);
            EXPECT_NEAR(midpoint(lobe, -kPi, x, 4000), u, 3e-3) << s << " " << u;
        }
    }
    EXPECT_NEAR(hair4::wrapPi(40.0f), 40.0f - 6.0f * kTwoPi, 1e-4f);
}

// The four-lane lobe sum against the lobe formulas written out one lobe at a time.
TEST(ProductionHair, LobeSumMatchesScalarFormulas) {
    struct Case {
        const char *glossiness, *boost, *glint, *shift;
        int depth;
        double tol;
    };
    const Case cases[] = {{"0.5", "0.4", "0.6", "3", 0, 2e-4},
                          {"0.3", "0", "0", "-6", 1, 2e-4},
                          {"0.8", "0.7", "1", "2", 0, 2e-4},
                          {"0.97", "0.9", "0.3", "0", 0, 3e-2}};
    harness::Rng rng(99);
    for (const Case& c : cases) {
        const ParamSets look = {{"glossiness", c.glossiness},  {"primary_glossiness_boost", c.boost},
                                {"highlight_shift", c.shift},  {"glint_strength", c.glint},
                                {"glitter_strength", c.glint}, {"diffuse_amount", "0.1"}};
        Hair4Point p(look, 30, 20, 0.25f, 0, c.depth);
        Hair4BSDF& s = p.s();
        for (int n = 0; n < 300; ++n) {
            // Half the directions near the mirror angle of R, where the lobes are large.
            float z =
                n % 2 ? rng.uniform() * 2.0f - 1.0f : -s.lobeSinThetaO[0] + 0.02f * (rng.uniform() - 0.5f);
            z = clampf(z, -1.0f, 1.0f);
            float ci = std::sqrt(1.0f - z * z), phi = kTwoPi * rng.uniform() - kPi;
            double rf[3] = {0, 0, 0}, rp = 0;
            for (int k = 0; k < 6; ++k) {
                if (!(s.lobeWeight[k] > 0.0f)) continue;
                float v = s.lobeVariance[k], sc = s.lobeScale[k];
                double m = hair4::longitudinal(v, s.lobeCosThetaO[k] * ci / v, s.lobeSinThetaO[k] * z / v);
                auto N = [sc](float d) { return hair4::trimmedLogistic(d, sc); };
                const double nn = k == Hair4BSDF::Glitter ? 0.5 * (N(phi - s.glitterPhiA - s.lobePhi[3]) +
                                                                   N(phi - s.glitterPhiB - s.lobePhi[3]))
                                  : k == Hair4BSDF::Glint ? 0.5 * (N(phi - s.lobePhi[4] - s.glintSeparation) +
                                                                   N(phi - s.lobePhi[4] + s.glintSeparation))
                                  : k == Hair4BSDF::Residual ? 1 / (2 * M_PI)
                                                             : N(phi - s.lobePhi[k]);
                for (int ch = 0; ch < 3; ++ch)
                    rf[ch] += m * nn * s.lobeColor[k][ch];
                rp += s.lobeWeight[k] * m * nn;
            }
            for (int ch = 0; ch < 3; ++ch)
                rf[ch] += s.diffuseColor[ch] / (4 * M_PI);
            rp += s.diffuseWeight / (4 * M_PI);
            Color4 f;
            float pdf;
            s.lobeSum(ci, z, phi, f, pdf);
            SCOPED_TRACE(testing::Message() << "gloss " << c.glossiness << " z " << z << " phi " << phi);
            EXPECT_NEAR(pdf, rp, c.tol * rp + 1e-6);
            for (int ch = 0; ch < 3; ++ch)
                EXPECT_NEAR(f[ch], rf[ch], c.tol * rf[ch] + 1e-6);
        }
    }
}

TEST(ProductionHair, LobesAtNormalIncidenceMatchHandValues) {
    const ParamSets look = {{"glint_strength", "0"}, {"glitter_strength", "0"}, {"glint_variation", "0"},
                            {"melanin", "0.5"},      {"highlight_shift", "3"},  {"softness", "0.5"},
                            {"diffuse_amount", "0"}};
    Hair4Point p(look);
    Hair4BSDF& s = p.s();

    const float eta = 1.55f, F = sqr((eta - 1) / (eta + 1));
    const float eu[3] = {0.419f, 0.697f, 1.37f};
    for (int c = 0; c < 3; ++c) {
        float T = std::exp(-2.0f * 5.0f * 0.25f * eu[c]);
        EXPECT_NEAR(s.lobeColor[0][c], F, 1e-6f);
        EXPECT_NEAR(s.lobeColor[1][c], sqr(1 - F) * T, 1e-6f);
        EXPECT_NEAR(s.lobeColor[2][c], sqr(1 - F) * F * T * T, 1e-6f);
        EXPECT_NEAR(s.lobeColor[5][c], sqr(1 - F) * F * T * T * F * T / (1 - F * T), 1e-7f);
        EXPECT_EQ(s.lobeColor[3][c], 0.0f);
        EXPECT_EQ(s.lobeColor[4][c], 0.0f);
    }
    // R goes back to the viewer, TT straight through, TRT back; cuticle tilts R by -2α, TT by α,
    // TRT by 4α. Variance from glossiness 0.5 (β = 0.25), scale from softness 0.5.
    const float phiO = kPi / 2, a = 3.0f * kDegToRad;
    const float b = 0.25f, sd = 0.726f * b + 0.812f * b * b + 3.7f * std::pow(b, 20.0f), v = sd * sd;
    const float turn[3] = {0.0f, kPi, 0.0f}, tilt[3] = {std::sin(2 * a), -std::sin(a), -std::sin(4 * a)};
    for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(hair4::wrapPi(s.lobePhi[k] - phiO + turn[k]), 0.0f, 1e-5f) << k;
        EXPECT_NEAR(s.lobeSinThetaO[k], tilt[k], 1e-6f) << k;
    }
    EXPECT_EQ(s.lobeSinThetaO[5], 0.0f);
    EXPECT_NEAR(s.lobeCosThetaO[1], std::cos(a), 1e-6f);
    const struct {
        int k;
        float factor, tol;
    } variances[] = {{0, 0.6f, 1e-7f}, {1, 0.25f, 1e-7f}, {2, 4.0f, 1e-6f}, {5, 4.0f, 1e-6f}};
    for (const auto& r : variances)
        EXPECT_NEAR(s.lobeVariance[r.k], r.factor * v, r.tol) << r.k;
    const float scale = 0.62665707f * ((0.265f + 1.194f * 0.5f) * 0.5f + 5.372f * std::pow(0.5f, 22.0f));
    for (int k : {0, 1, 2, 5})
        EXPECT_NEAR(s.lobeScale[k], scale, 1e-6f);
    // Selection weights in proportion to the luminance of each lobe.
    auto lum = [](const Color4& c) { return 0.3f * c.r() + 0.59f * c.g() + 0.11f * c.b(); };
    float total = 0;
    for (const Color4& c : s.lobeColor)
        total += lum(c);
    EXPECT_NEAR(s.lobeWeight[1], lum(s.lobeColor[1]) / total, 1e-6f);
    EXPECT_EQ(s.diffuseWeight, 0.0f);
    EXPECT_EQ(s.useLightMIS, 1);
}

// A lossless fibre's lobe energies sum to one and each lobe is normalised: every path weight is 1.
TEST(ProductionHair, LosslessFibreCarriesEveryPathAtOne) {
    const char* gloss[] = {"0.3", "0.75", "0.55"};
    const char* soft[] = {"0.2", "0.9"};
    const char* shift[] = {"0", "3", "8", "-5"};
    const char* ior[] = {"1.55", "3", "1.2"};
    const float hs[] = {-0.999f, -0.35f, 0.0f, 0.6f, 1.0f};
    const float thetas[] = {0.0f, 35.0f, -60.0f};
    int index = 0;
    for (int glint = 0; glint < 2; ++glint)
        for (int depth = 0; depth < 3; ++depth)
            for (int k = 0; k < 5; ++k, ++index) {
                // glint_variation below 0.25 gives a variation strength g under 1
                const ParamSets look = {{"melanin", "0"},
                                        {"diffuse_amount", "0"},
                                        {"glossiness", gloss[index % 3]},
                                        {"softness", soft[index % 2]},
                                        {"highlight_shift", shift[index % 4]},
                                        {"ior", ior[index % 3]},
                                        {"glint_strength", glint ? "0.6" : "0"},
                                        {"glitter_strength", glint ? "0.5" : "0"},
                                        {"glint_variation", glint ? (index % 2 ? "0.4" : "0.04") : "0"}};
                Hair4Point p(look, thetas[index % 3], 20.0f * k, hs[index % 5], 3 + index, depth);
                Hair4BSDF& s = p.s();
                SCOPED_TRACE(testing::Message()
                             << "case " << index << " glint " << glint << " depth " << depth);
                ASSERT_EQ(s.terminal, 0);
                // The glint and glitter lobes exist exactly on the first hit with them enabled.
                EXPECT_EQ(s.lobeWeight[Hair4BSDF::Glitter] > 0.0f, glint && depth == 0);
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_NEAR(s.albedoSum[ch], 1.0f, 1e-5f);
                harness::Rng rng(91 + index);
                int refused = 0;
                double worst = 0;
                for (int n = 0; n < 1500; ++n) {
                    if (p.probe.sample((n + rng.uniform()) / 1500, rng.uniform(), rng.uniform(),
                                       rng.uniform()) != 1) {
                        ++refused;
                        continue;
                    }
                    const quor::Color& w = p.probe.rayContext().pathWeight;
                    for (float c : {w.r, w.g, w.b})
                        worst = std::max(worst, std::fabs(c - 1.0));
                }
                EXPECT_LE(refused, 2);
                EXPECT_LT(worst, 1e-4);
            }
}

TEST(ProductionHair, LobeColoursStayNonNegativeAlongTheStrand) {
    // The glint variation moves light from TRT to the residual lobe; a weak one (g < 1) must not
    // drive any lobe below zero.
    harness::PointOptions o =
        Hair4Point::options({{"glint_strength", "0.8"}, {"glint_variation", "0.04"}}, 10, 30, 0.3f, 7, 0);
    o.strandLength = 20;
    harness::ShadingPoint p(harness::test::library(), o);
    for (int i = 0; i < 400; ++i) {
        o.strandPosition = (i + 0.5f) / 400;
        p.place(o);
        p.shade();
        const Hair4BSDF& s = p.sampler<Hair4BSDF>();
        for (int k = 0; k < Hair4BSDF::kLobes; ++k)
            for (int ch = 0; ch < 3; ++ch)
                ASSERT_GE(s.lobeColor[k][ch], 0.0f) << "lobe " << k << " at " << o.strandPosition;
    }
}

// Pearson's test of sampled directions against the lobe-sum density, φ measured from T × D.
harness::ChiSquare chiSquare(Hair4Point& p, const Hair4BSDF& density, int samples) {
    const quor::Vector& d = p.probe.context().rayDir;
    harness::SphereBins bins({0, 1, 0}, {d.x, d.y, d.z}, 20, 32);
    std::vector<double> counts = harness::sampleCounts(p.probe, bins, samples, 7);
    const Vec4 x = normalizeSafe(cross(Vec4(0, 1, 0), Vec4(d))), y = cross(Vec4(0, 1, 0), x);
    auto pdf = [&](const quor::Vector& w) {
        float z = clampf(w.y, -1.0f, 1.0f), p;
        Color4 f;
        density.lobeSum(std::sqrt(1 - z * z), z, std::atan2(dot(Vec4(w), y), dot(Vec4(w), x)), f, p);
        return double(p);
    };
    harness::ChiSquare r = harness::chiSquare(counts, bins.expected(pdf, 6));
    EXPECT_GT(r.dof, 40);
    return r;
}

TEST(ProductionHair, SampledDirectionsFollowTheDensity) {
    // Absorbing hair with diffuse past the first hit; dyed hair with glints and glitter.
    Hair4Point a({{"melanin", "0.25"}, {"diffuse_amount", "0.15"}, {"glossiness", "0.45"}}, 30, 15, 0.4f, 0,
                 1);
    const ParamSets dyed = {{"melanin", "0.1"},
                            {"dye_color", "0.9,0.5,0.6"},
                            {"glint_strength", "0.8"},
                            {"glitter_strength", "0.6"},
                            {"highlight_shift", "5"}};
    Hair4Point b(dyed, -20, 40, -0.3f, 11, 0);
    ASSERT_GT(b.s().lobeWeight[Hair4BSDF::Glint], 0.01f);
    ASSERT_GT(b.s().lobeWeight[Hair4BSDF::Glitter], 0.01f);
    for (Hair4Point* p : {&a, &b}) {
        harness::ChiSquare r = chiSquare(*p, p->s(), 40000);
        EXPECT_GT(r.pValue, 1e-3) << "chi2 " << r.statistic << " dof " << r.dof;
    }
    // Negative control: a density with R shifted off the peak, or TT twice as wide, is rejected.
    const ParamSets plain = {{"melanin", "0.6"},
                             {"glossiness", "0.6"},
                             {"softness", "0.3"},
                             {"glint_strength", "0"},
                             {"glitter_strength", "0"}};
    Hair4Point c(plain, 20, 0, 0, 0, 0);
    Hair4BSDF shifted = c.s(), wide = c.s();
    shifted.lobePhi[Hair4BSDF::R] += 0.3f;
    shifted.finishLobes();
    wide.lobeVariance[Hair4BSDF::TT] *= 2.0f;
    wide.finishLobes();
    EXPECT_LT(chiSquare(c, shifted, 20000).pValue, 1e-4);
    EXPECT_LT(chiSquare(c, wide, 20000).pValue, 1e-4);
}

// A vanishing value change keeps every dye's colour: the HSV round trip is exact in every sector.
TEST(ProductionHair, DyeRandomisationRoundTripsEveryHueSector) {
    for (const char* dye :
         {"0.9,0.5,0.2", "0.9,0.2,0.5", "0.3,0.8,0.4", "0.5,0.8,0.2", "0.2,0.4,0.9", "0.4,0.2,0.9"}) {
        ParamSets look = {
            {"dye_color", dye}, {"melanin", "0.05"}, {"glitter_strength", "0"}, {"glint_variation", "0"}};
        Hair4Point plain(look);
        look.push_back({"random_dye_value", "1e-6"});
        Hair4Point moved(look);
        for (int k = 0; k < Hair4BSDF::kLobes; ++k)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(moved.s().lobeColor[k][c], plain.s().lobeColor[k][c],
                            1e-4f * plain.s().lobeColor[k][c] + 1e-7f)
                    << dye << " lobe " << k << " channel " << c;
    }
}

// Everything a sampler holds that derives from the per-strand values.
std::vector<float> strandSignature(int strand, float position) {
    const ParamSets look = {
        {"glint_variation", "0"},        {"glitter_strength", "0"},  {"random_melanin", "0.4"},
        {"random_glossiness", "0.3"},    {"random_softness", "0.3"}, {"random_ior", "0.5"},
        {"random_highlight_shift", "2"}, {"random_dye_hue", "0.5"},  {"dye_color", "0.9,0.6,0.5"}};
    harness::PointOptions o = Hair4Point::options(look, 10, 0, 0, strand, 0);
    o.strandPosition = position;
    harness::ShadingPoint p(harness::test::library(), o);
    p.shade();
    const Hair4BSDF& s = p.sampler<Hair4BSDF>();
    std::vector<float> v;
    for (int k = 0; k < 6; ++k) {
        v.insert(v.end(), {s.lobeVariance[k], s.lobeScale[k]});
        for (int c = 0; c < 3; ++c)
            v.push_back(s.lobeColor[k][c]);
    }
    v.insert(v.end(), {s.glitterPhiA, s.glintSeparation});
    return v;
}

TEST(ProductionHairConcurrency, StrandValuesSameOnEveryPointAndThread) {
    std::vector<float> a = strandSignature(42, 0.1f);
    EXPECT_EQ(a, strandSignature(42, 0.9f));
    EXPECT_NE(a, strandSignature(43, 0.1f));
    const int strands = 24;
    std::vector<std::vector<float>> serial(strands);
    for (int i = 0; i < strands; ++i)
        serial[i] = strandSignature(i, 0.5f);
    std::vector<std::vector<std::vector<float>>> threaded(3, std::vector<std::vector<float>>(strands));
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([t, &threaded] {
            for (int i = strands - 1; i >= 0; --i)
                threaded[t][i] = strandSignature(i, 0.05f * t);
        });
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 3; ++t)
        EXPECT_EQ(threaded[t], serial) << "thread " << t;
}

// Trace depth, the host's override, disabled hair depth and shadow rays end the path: an ended
// point samples no ray and adds no specular light.
TEST(ProductionHair, HostSettingsEndTheHairPath) {
    struct Case {
        int traceDepth, overrideOn, override, hairDepth, rayDepth, rayFlags;
        bool ended;
    };
    const Case cases[] = {
        {10, 0, 0, 1, 9, 0, false},
        {10, 0, 0, 1, 10, 0, true}, // the material's trace depth
        {10, 1, 3, 1, 2, 0, false},
        {10, 1, 3, 1, 3, 0, true}, // the host's override wins
        {1, 1, 30, 1, 5, 0, false},
        {10, 0, 0, 0, 0, 0, true}, // hair depth disabled
        {10, 0, 0, 1, 0, quor::RAY_SHADOW, true},
    };
    for (const Case& c : cases) {
        harness::PointOptions o;
        o.type = "BRDFHair4";
        o.sets = harness::test::registeredDefaults(o.type);
        o.sets.emplace_back("trace_depth", std::to_string(c.traceDepth));
        o.depth = c.rayDepth;
        o.rayFlags = c.rayFlags;
        o.dir = {0.3f, 0.1f, -0.95f};
        harness::ShadingPoint p(harness::test::library(), o);
        p.settings().traceDepthOverrideOn = c.overrideOn;
        p.settings().traceDepthOverride = c.override;
        p.settings().hairDepthEnabled = c.hairDepth;
        ASSERT_NE(p.shade(), nullptr);
        const float sampled = p.sample(0.4f, 0.3f, 0.6f, 0.2f);
        const quor::Color specular = p.eval({0.2f, 0.1f, 0.97f, 0}, 1.0f, quor::EVAL_SPECULAR);
        const std::string what = "depth " + std::to_string(c.rayDepth) + " limit " +
                                 std::to_string(c.overrideOn ? c.override : c.traceDepth);
        EXPECT_EQ(sampled == 0.0f, c.ended) << what;
        EXPECT_EQ(specular.r + specular.g + specular.b == 0.0f, c.ended) << what;
    }
}

} // namespace
} // namespace hair
