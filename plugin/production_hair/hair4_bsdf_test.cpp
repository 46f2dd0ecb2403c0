// Hair4BSDF: lobe shapes, energy conservation, sampling against its own density, robustness
// and the host-facing queries.
#include "production_hair/hair4_bsdf.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "production_hair/hair4_test_support.h"

namespace hair {
namespace {

using test::AlbedoEstimate;
using test::Hair4Point;
using test::TestFrame;

// ∫ Mp d(sin θi) over [-1, 1] by the midpoint rule.
double integrateMp(float v, float sinThetaO, float cosThetaO) {
    const int n = 20000;
    double sum = 0;
    for (int i = 0; i < n; ++i) {
        float s = -1.0f + 2.0f * (static_cast<float>(i) + 0.5f) / n;
        float c = std::sqrt(1.0f - s * s);
        sum += hair4::longitudinal(v, cosThetaO * c / v, sinThetaO * s / v);
    }
    return sum * 2.0 / n;
}

TEST(ProductionHair, LongitudinalLobeIsNormalisedAndContinuous) {
    // Eleven terms of the I0 series are exact to single precision up to about 6; above 12 the
    // asymptotic ln I0 is off by about 1/(16x).
    for (float x : {0.5f, 2.0f, 6.0f})
        EXPECT_NEAR(hair4::besselI0(x), std::cyl_bessel_i(0.0, x), 2e-6 * std::cyl_bessel_i(0.0, x));
    for (float x : {13.0f, 200.0f})
        EXPECT_NEAR(hair4::logBesselI0(x), std::log(std::cyl_bessel_i(0.0, static_cast<double>(x))),
                    1.0 / (14.0 * x));
    for (float v : {0.004f, 0.03f, 0.1f, 0.3f, 2.0f, 10.0f})
        for (float thetaO : {0.0f, 0.4f, -1.2f})
            EXPECT_NEAR(integrateMp(v, std::sin(thetaO), std::cos(thetaO)), 1.0, 3e-3) << v << " " << thetaO;
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
        const int n = 20000;
        double sum = 0;
        for (int i = 0; i < n; ++i)
            sum += hair4::trimmedLogistic(-kPi + kTwoPi * (i + 0.5f) / n, s);
        EXPECT_NEAR(sum * kTwoPi / n, 1.0, 2e-3) << s;
        // Periodic: a whole turn changes nothing.
        EXPECT_NEAR(hair4::trimmedLogistic(0.3f + kTwoPi, s), hair4::trimmedLogistic(0.3f, s), 1e-4f);
        // The sample of u has u of the mass below it.
        for (float u : {0.1f, 0.5f, 0.83f}) {
            float x = hair4::sampleTrimmedLogistic(u, s);
            double cdf = 0;
            const int m = 4000;
            for (int i = 0; i < m; ++i) {
                float t = -kPi + (x + kPi) * (i + 0.5f) / m;
                cdf += hair4::trimmedLogistic(t, s);
            }
            cdf *= (x + kPi) / m;
            EXPECT_NEAR(cdf, u, 3e-3) << s << " " << u;
        }
    }
    EXPECT_NEAR(hair4::wrapPi(40.0f), 40.0f - 6.0f * kTwoPi, 1e-4f);
}

// The four-lane lobe sum against the lobe formulas written out one lobe at a time.
TEST(ProductionHair, LobeSumMatchesScalarFormulas) {
    struct Case {
        float glossiness, boost, glint, shift;
        int depth;
        double tol;
    };
    const Case cases[] = {{0.5f, 0.4f, 0.6f, 3.0f, 0, 2e-4},
                          {0.3f, 0.0f, 0.0f, -6.0f, 1, 2e-4},
                          {0.8f, 0.7f, 1.0f, 2.0f, 0, 2e-4},
                          {0.97f, 0.9f, 0.3f, 0.0f, 0, 3e-2}};
    std::mt19937 rng(99);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    for (const Case& c : cases) {
        Hair4Point p;
        p.in.glossiness = c.glossiness, p.in.boost = c.boost, p.in.highlightShift = c.shift;
        p.in.glintStrength = c.glint, p.in.glitterStrength = c.glint;
        p.in.diffuseAmount = 0.1f;
        p.ctx.rayDepth = c.depth;
        p.strand.record.h = 0.25f;
        p.view(30.0f, 20.0f);
        Hair4BSDF& s = p.setup();
        for (int n = 0; n < 300; ++n) {
            // Half the directions near the mirror angle of R, where the lobes are large.
            float z = n % 2 ? uni(rng) * 2.0f - 1.0f : -s.lobeSinThetaO[0] + 0.02f * (uni(rng) - 0.5f);
            z = clampf(z, -1.0f, 1.0f);
            float ci = std::sqrt(1.0f - z * z), phi = kTwoPi * uni(rng) - kPi;
            double rf[3] = {0, 0, 0}, rp = 0;
            for (int k = 0; k < 6; ++k) {
                if (!(s.lobeWeight[k] > 0.0f)) continue;
                float v = s.lobeVariance[k], sc = s.lobeScale[k];
                double m = hair4::longitudinal(v, s.lobeCosThetaO[k] * ci / v, s.lobeSinThetaO[k] * z / v);
                double nn;
                if (k == 3)
                    nn = 0.5 * (hair4::trimmedLogistic(phi - s.glitterPhiA - s.lobePhi[3], sc) +
                                hair4::trimmedLogistic(phi - s.glitterPhiB - s.lobePhi[3], sc));
                else if (k == 4)
                    nn = 0.5 * (hair4::trimmedLogistic(phi - s.lobePhi[4] - s.glintSeparation, sc) +
                                hair4::trimmedLogistic(phi - s.lobePhi[4] + s.glintSeparation, sc));
                else if (k == 5)
                    nn = 0.15915494;
                else
                    nn = hair4::trimmedLogistic(phi - s.lobePhi[k], sc);
                for (int ch = 0; ch < 3; ++ch)
                    rf[ch] += m * nn * s.lobeColor[k][ch];
                rp += s.lobeWeight[k] * m * nn;
            }
            for (int ch = 0; ch < 3; ++ch)
                rf[ch] += s.diffuseColor[ch] / 12.566371;
            rp += s.diffuseWeight / 12.566371;
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

struct FurnaceCase {
    float glossiness, softness, shift, ior, h, thetaO;
};

// A lossless fibre reflects everything: the lobe energies sum to one and every lobe is a
// normalised distribution, so the evaluated albedo is 1 and every sampled path weight is 1.
TEST(ProductionHair, WhiteFurnace) {
    const float gloss[] = {0.3f, 0.75f, 0.55f};
    const float soft[] = {0.2f, 0.9f};
    const float shift[] = {0.0f, 3.0f, 8.0f, -5.0f};
    const float ior[] = {1.55f, 3.0f, 1.2f};
    const float hs[] = {-0.999f, -0.35f, 0.0f, 0.6f, 1.0f};
    const float thetas[] = {0.0f, 35.0f, -60.0f};
    int index = 0;
    for (int glint = 0; glint < 2; ++glint) {
        for (int depth = 0; depth < 3; ++depth) {
            for (int k = 0; k < 5; ++k, ++index) {
                FurnaceCase c{gloss[index % 3], soft[index % 2], shift[index % 4],
                              ior[index % 3],   hs[index % 5],   thetas[index % 3]};
                Hair4Point p;
                p.lossless();
                p.in.glossiness = c.glossiness;
                p.in.softness = c.softness;
                p.in.highlightShift = c.shift;
                p.in.ior = c.ior;
                p.in.glintStrength = glint ? 0.6f : 0.0f;
                p.in.glitterStrength = glint ? 0.5f : 0.0f;
                p.in.glintVariation = glint ? 0.4f : 0.0f;
                p.strand.record.h = c.h;
                p.strand.index = 3 + index;
                p.strand.position = 0.1f * k;
                p.ctx.rayDepth = depth;
                p.view(c.thetaO, 20.0f * k);
                Hair4BSDF& s = p.setup();
                SCOPED_TRACE(testing::Message()
                             << "glint " << glint << " depth " << depth << " gloss " << c.glossiness
                             << " soft " << c.softness << " shift " << c.shift << " ior " << c.ior << " h "
                             << c.h << " theta " << c.thetaO);
                ASSERT_EQ(s.terminal, 0);
                // The glint and glitter lobes exist exactly on the first hit with them enabled.
                EXPECT_EQ(s.lobeWeight[Hair4BSDF::Glitter] > 0.0f, glint && depth == 0);
                for (int ch = 0; ch < 3; ++ch)
                    EXPECT_NEAR(s.albedoSum[ch], 1.0f, 1e-5f);

                AlbedoEstimate e = test::evalAlbedo(p, 176, 48);
                AlbedoEstimate m = test::sampledAlbedo(p, 1500, 91 + index);
                for (int ch = 0; ch < 3; ++ch) {
                    EXPECT_NEAR(e.mean.v[ch], 1.0, 0.01);
                    EXPECT_NEAR(m.mean.v[ch], 1.0, 0.005);
                }
                EXPECT_LE(m.refused, 2);
                EXPECT_LT(m.maxWeightError, 1e-4);
            }
        }
    }
}

// Absorbing and dyed hair: the two albedo estimates agree within their errors.
TEST(ProductionHair, SampledAndEvaluatedAlbedoAgree) {
    struct Case {
        float melanin, pheo, dye[3], diffuse, glossiness, h;
        int depth;
    };
    const Case cases[] = {
        {0.3f, 0.0f, {1, 1, 1}, 0.0f, 0.5f, 0.2f, 0},
        {0.15f, 0.6f, {0.9f, 0.7f, 0.4f}, 0.2f, 0.4f, -0.7f, 0},
        {0.05f, 0.0f, {0.6f, 0.9f, 0.8f}, 0.0f, 0.6f, 0.5f, 1},
        {0.8f, 0.2f, {1, 1, 1}, 0.4f, 0.35f, 0.0f, 2},
    };
    int i = 0;
    for (const Case& c : cases) {
        Hair4Point p;
        p.in.melanin = c.melanin;
        p.in.pheomelanin = c.pheo;
        for (int ch = 0; ch < 3; ++ch)
            p.in.dyeColor[ch] = c.dye[ch];
        p.in.diffuseAmount = c.diffuse;
        p.in.glossiness = c.glossiness;
        p.strand.record.color[0] = 0.5f, p.strand.record.color[1] = 0.3f, p.strand.record.color[2] = 0.2f;
        p.strand.record.h = c.h;
        p.ctx.rayDepth = c.depth;
        p.view(25.0f, 10.0f);
        p.setup();
        AlbedoEstimate e = test::evalAlbedo(p, 176, 48);
        AlbedoEstimate m = test::sampledAlbedo(p, 6000, 50 + i);
        SCOPED_TRACE(testing::Message() << "case " << i);
        for (int ch = 0; ch < 3; ++ch) {
            // Four standard errors of the sampled mean, and a little for the quadrature.
            double tol = 4.0 * m.stderr_.v[ch] + 0.002;
            EXPECT_NEAR(m.mean.v[ch], e.mean.v[ch], tol) << "channel " << ch;
            EXPECT_GT(e.mean.v[ch], 0.0);
            EXPECT_LT(e.mean.v[ch], 1.0);
        }
        ++i;
    }
}

// P(χ² > x) for k degrees of freedom, by the Wilson-Hilferty normal approximation (ample for
// the hundreds of degrees of freedom here).
double chiSquareTail(double x, int k) {
    double h = 2.0 / (9.0 * k);
    double z = (std::cbrt(x / k) - (1.0 - h)) / std::sqrt(h);
    return 0.5 * std::erfc(z / std::sqrt(2.0));
}

// Chi-square of sampleRay's directions, binned in sin θ and φ about the strand, against the
// lobe-sum density integrated over each bin.
double chiSquarePValue(Hair4Point& p, Hair4BSDF& sampler, int samples, std::uint32_t seed) {
    const int nSin = 20, nPhi = 32, sub = 6;
    const Hair4BSDF& s = p.s;
    TestFrame frame(p.strand.record.tangent, p.ctx.rayDir);
    std::vector<double> expected(nSin * nPhi, 0.0), observed(nSin * nPhi, 0.0);
    for (int i = 0; i < nSin; ++i)
        for (int j = 0; j < nPhi; ++j) {
            double sum = 0;
            for (int a = 0; a < sub; ++a)
                for (int b = 0; b < sub; ++b) {
                    float z = -1.0f + 2.0f * (i + (a + 0.5f) / sub) / nSin;
                    float phi = -kPi + kTwoPi * (j + (b + 0.5f) / sub) / nPhi;
                    Color4 f;
                    float pdf;
                    s.lobeSum(std::sqrt(1.0f - z * z), z, phi, f, pdf);
                    sum += pdf;
                }
            expected[i * nPhi + j] = sum / (sub * sub) * (2.0 / nSin) * (kTwoPi / nPhi);
        }
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    quor::QuorContext q;
    int accepted = 0;
    for (int n = 0; n < samples; ++n) {
        q.dmc[1] = uni(rng), q.dmc[2] = uni(rng), q.dmc[3] = uni(rng);
        if (sampler.sampleRay(p.ctx, q, uni(rng), 0) != 1.0f) continue;
        ++accepted;
        Vec4 w(q.rayDir);
        float z = clampf(dot(w, frame.t), -1.0f, 1.0f);
        float phi = std::atan2(dot(w, frame.y), dot(w, frame.x));
        int i = std::min(static_cast<int>((z + 1.0f) * 0.5f * nSin), nSin - 1);
        int j = std::min(static_cast<int>((phi + kPi) / kTwoPi * nPhi), nPhi - 1);
        observed[i * nPhi + j] += 1;
    }
    EXPECT_GE(accepted, samples * 99 / 100);
    double total = 0;
    for (double e : expected)
        total += e;
    EXPECT_NEAR(total, 1.0, 0.01);
    // Pool the cells expected to hold fewer than five samples.
    double chi2 = 0, poolE = 0, poolO = 0;
    int cells = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        double e = expected[k] / total * accepted;
        if (e < 5.0) {
            poolE += e, poolO += observed[k];
            continue;
        }
        chi2 += (observed[k] - e) * (observed[k] - e) / e;
        ++cells;
    }
    if (poolE > 0) {
        chi2 += (poolO - poolE) * (poolO - poolE) / std::max(poolE, 5.0);
        ++cells;
    }
    EXPECT_GT(cells, 40); // enough cells for the test to have power
    return chiSquareTail(chi2, cells - 1);
}

TEST(ProductionHair, SampledDirectionsFollowDensity) {
    // Absorbing hair with a diffuse share on the plain path.
    Hair4Point a;
    a.in.melanin = 0.25f;
    a.in.diffuseAmount = 0.15f;
    a.in.glossiness = 0.45f;
    a.strand.record.h = 0.4f;
    a.strand.record.color[0] = 0.6f;
    a.ctx.rayDepth = 1;
    a.view(30.0f, 15.0f);
    a.setup();
    EXPECT_GT(chiSquarePValue(a, a.s, 40000, 7), 0.01);

    // Dyed hair with glints and glitter on the first hit.
    Hair4Point b;
    b.in.melanin = 0.1f;
    b.in.dyeColor[0] = 0.9f, b.in.dyeColor[1] = 0.5f, b.in.dyeColor[2] = 0.6f;
    b.in.glintStrength = 0.8f;
    b.in.glitterStrength = 0.6f;
    b.in.highlightShift = 5.0f;
    b.strand.record.h = -0.3f;
    b.strand.index = 11;
    b.view(-20.0f, 40.0f);
    Hair4BSDF& s = b.setup();
    ASSERT_GT(s.lobeWeight[Hair4BSDF::Glint], 0.01f);
    ASSERT_GT(s.lobeWeight[Hair4BSDF::Glitter], 0.01f);
    EXPECT_GT(chiSquarePValue(b, b.s, 40000, 8), 0.01);
}

TEST(ProductionHair, ChiSquareDetectsAWrongDensity) {
    // The same test must reject a sampler whose primary lobe sits off its density's peak, or
    // whose longitudinal lobe is too wide.
    Hair4Point a;
    a.in.melanin = 0.6f;
    a.in.glossiness = 0.6f;
    a.in.softness = 0.3f;
    a.strand.hasStrandData = false;
    a.view(20.0f);
    a.setup();
    Hair4BSDF shifted = a.s;
    shifted.lobePhi[Hair4BSDF::R] += 0.3f;
    shifted.finishLobes();
    EXPECT_LT(chiSquarePValue(a, shifted, 20000, 3), 1e-4);
    Hair4BSDF wide = a.s;
    wide.lobeVariance[Hair4BSDF::TT] *= 2.0f;
    wide.finishLobes();
    EXPECT_LT(chiSquarePValue(a, wide, 20000, 4), 1e-4);
}

TEST(ProductionHair, OutputsFiniteForAnyInput) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> uni(0.0f, 1.0f);
    auto range = [&](float lo, float hi) { return lo + (hi - lo) * uni(rng); };
    const quor::Vector tangents[] = {
        {0, 1, 0, 0}, {0, 0, 0, 0}, {0, 0, 1, 0}, {1e-30f, 0, 0, 0}, {3, -2, 1, 0}};
    int evaluated = 0;
    for (int n = 0; n < 400; ++n) {
        Hair4Point p;
        Hair4Inputs& in = p.in;
        in.melanin = range(-1, 2), in.pheomelanin = range(-1, 2);
        for (float& c : in.dyeColor)
            c = uni(rng) < 0.3f ? 0.0f : range(-0.5f, 1.5f);
        in.diffuseAmount = range(-0.5f, 1.5f);
        in.glossiness = range(-1, 2), in.boost = range(-0.5f, 1.5f), in.softness = range(-1, 2);
        in.highlightShift = range(-100, 100), in.ior = range(0, 20);
        in.randomMelanin = range(-1, 3), in.randomDyeHue = range(-1, 3),
        in.randomDyeSaturation = range(-1, 3);
        in.randomDyeValue = range(-1, 3), in.randomGlossiness = range(-1, 3),
        in.randomSoftness = range(-1, 3);
        in.randomHighlightShift = range(-10, 80), in.randomIor = range(-1, 20),
        in.randomTangent = range(-1, 150);
        in.grayHairDensity = range(-0.5f, 1.5f);
        in.glintStrength = range(-1, 3), in.glintVariation = range(-1, 3), in.glitterStrength = range(-1, 5);
        in.glitterSize = range(-1, 1e5f), in.glintScale = range(-1, 1e5f), in.unitScale = range(0, 1e4f);
        for (float& c : in.primaryTint)
            c = range(-1, 3);
        for (float& c : in.secondaryTint)
            c = range(-1, 3);
        for (float& c : in.transmissionTint)
            c = range(-1, 3);
        p.strand.record.tangent = tangents[n % 5];
        p.strand.record.h = range(-1.5f, 1.5f);
        for (float& c : p.strand.record.color)
            c = range(-1, 2);
        for (float& c : p.strand.record.transparency)
            c = range(-0.5f, 1.5f);
        p.strand.index = static_cast<int>(rng());
        p.strand.length = range(0, 1000), p.strand.position = range(0, 1);
        p.ctx.rayDepth = n % 4;
        // Directions along the strand, against it and anywhere.
        if (n % 7 == 0)
            p.ctx.rayDir = {0, -1, 0, 0};
        else
            p.view(range(-90, 90), range(-180, 180));
        Hair4BSDF& s = p.setup();
        ASSERT_EQ(s.terminal, 0);
        for (int l = 0; l < 6; ++l) {
            SCOPED_TRACE(testing::Message() << "point " << n << " light " << l);
            float z = range(-1, 1), phi = range(-kPi, kPi);
            quor::Vector L = TestFrame({0, 1, 0, 0}, {0, 0, -1, 0}).dir(z, phi).host();
            if (l == 0) L = {0, 1, 0, 0};
            quor::Color light{1, 2, 3, 4}, light2{1, 1, 1, 1};
            quor::Color r = s.eval(p.ctx, L, light, light2, range(0, 3), 3);
            for (float v : {r.r, r.g, r.b, r.a, light.r, light2.b})
                ASSERT_TRUE(std::isfinite(v));
            ASSERT_GE(r.r, 0.0f);
            quor::QuorContext q;
            quor::RayRecord ray;
            q.ray = &ray;
            q.dmc[1] = uni(rng), q.dmc[2] = uni(rng), q.dmc[3] = uni(rng);
            if (s.sampleRay(p.ctx, q, uni(rng), 0) == 1.0f) {
                for (float v : {q.pathWeight.r, q.pathWeight.g, q.pathWeight.b, q.pathProb, ray.dir.x,
                                ray.dir.y, ray.dir.z, q.dirDiff[0].x, q.dirDiff[1].z})
                    ASSERT_TRUE(std::isfinite(v));
                ASSERT_LE(q.pathWeight.r, 2.0f + 1e-4f);
                ASSERT_GT(q.pathProb, 0.0f);
            }
            ++evaluated;
        }
        for (int k = 0; k < 6; ++k) {
            ASSERT_TRUE(std::isfinite(s.lobeWeight[k]));
            ASSERT_GE(s.lobeVariance[k], 1e-6f);
            ASSERT_LE(s.lobeVariance[k], 10.0f);
        }
    }
    EXPECT_EQ(evaluated, 2400);
}

// A point set up for the query tests: some transparency, absorbing, glints on.
Hair4Point queryPoint() {
    Hair4Point p;
    p.strand.record.transparency[0] = 0.2f, p.strand.record.transparency[1] = 0.4f;
    p.strand.record.transparency[2] = 0.6f;
    p.in.diffuseAmount = 0.3f;
    p.strand.record.color[0] = 0.8f, p.strand.record.color[1] = 0.5f, p.strand.record.color[2] = 0.1f;
    p.view(10.0f, 30.0f);
    p.setup();
    return p;
}

TEST(ProductionHair, EvalWeighsLightAndPassesTheRestThrough) {
    Hair4Point p = queryPoint();
    Hair4BSDF& s = p.s;
    quor::Vector L = TestFrame({0, 1, 0, 0}, p.ctx.rayDir).dir(0.1f, 0.3f).host();

    quor::Color light{2, 2, 2, 2}, light2{1, 1, 1, 1};
    quor::Color full = s.eval(p.ctx, L, light, light2, 1e30f, 3);
    EXPECT_FLOAT_EQ(light.r, 0.4f);
    EXPECT_FLOAT_EQ(light.b, 1.2f);
    EXPECT_FLOAT_EQ(light2.g, 0.4f);
    // eval = π·f·light·(1 - t), f from the lobe sum.
    Vec4 w(L);
    float z = dot(w, s.axisT);
    Color4 f;
    float pdf;
    s.lobeSum(std::sqrt(1 - z * z), z, std::atan2(dot(w, s.axisY), dot(w, s.axisX)), f, pdf);
    EXPECT_NEAR(full.r, kPi * f.r() * 2.0f * 0.8f, 1e-5f * full.r + 1e-7f);
    EXPECT_NEAR(full.b, kPi * f.b() * 2.0f * 0.4f, 1e-5f * full.b + 1e-7f);

    // Multiple-importance weight against the light's probability.
    quor::Color l3{2, 2, 2, 2}, l4{1, 1, 1, 1};
    float pL = kTwoPi * pdf;
    quor::Color half = s.eval(p.ctx, L, l3, l4, pL, 3);
    EXPECT_NEAR(half.g, 0.5f * full.g, 1e-5f * full.g);
    quor::Color l5{2, 2, 2, 2};
    quor::Color zero = s.eval(p.ctx, L, l5, l4, 0.0f, 3);
    EXPECT_EQ(zero.r, 0.0f);
    EXPECT_FLOAT_EQ(l5.r, 0.4f); // still attenuated

    // Without the specular bit, or on a ray that skips specular: black, light still attenuated.
    quor::Color l6{1, 1, 1, 1};
    EXPECT_EQ(s.eval(p.ctx, L, l6, l4, 1.0f, 1).g, 0.0f);
    EXPECT_FLOAT_EQ(l6.g, 0.4f);
    p.ctx.rayFlags = quor::RAY_NO_SPECULAR;
    EXPECT_EQ(s.eval(p.ctx, L, l6, l4, 1.0f, 3).b, 0.0f);

    // Only a diffuse term: diffuse·light·(1 - t)/4 whatever the direction.
    Hair4BSDF d = s;
    for (float& wk : d.lobeWeight)
        wk = 0.0f;
    d.finishLobes();
    quor::Color l7{1, 1, 1, 1};
    p.ctx.rayFlags = 0;
    quor::Color rd = d.eval(p.ctx, L, l7, l4, 1e30f, 3);
    EXPECT_NEAR(rd.r, 0.8f * 0.3f * 0.8f / 4.0f, 1e-6f);
    EXPECT_NEAR(rd.g, 0.5f * 0.3f * 0.6f / 4.0f, 1e-6f);

    // Fully transparent: black, light unchanged.
    d.transparency = Color4(1.0f);
    quor::Color l8{0.5f, 0.6f, 0.7f, 0.7f};
    EXPECT_EQ(d.eval(p.ctx, L, l8, l4, 1.0f, 3).r, 0.0f);
    EXPECT_EQ(l8.g, 0.6f);
}

TEST(ProductionHair, ColourQueriesAndFlags) {
    Hair4Point p = queryPoint();
    Hair4BSDF& s = p.s;
    quor::Color w{1, 1, 1, 1};
    quor::Color lm = s.getLightMultiplier(w);
    EXPECT_NEAR(lm.r, 0.8f * s.albedoSum.r(), 1e-6f);
    EXPECT_NEAR(lm.b, 0.4f * s.albedoSum.b(), 1e-6f);
    EXPECT_FLOAT_EQ(w.g, 0.4f);

    quor::Color w2{2, 2, 2, 2};
    quor::Color dc = s.getDiffuseColor(w2);
    EXPECT_EQ(dc.r, 0.0f);
    EXPECT_FLOAT_EQ(w2.b, 1.2f);
    EXPECT_FLOAT_EQ(s.getTransparency().g, 0.4f);
    EXPECT_FLOAT_EQ(s.getBSDFTransparency(p.ctx).b, 0.6f);
    EXPECT_FLOAT_EQ(s.getOpacity().r, 0.8f);
    EXPECT_EQ(s.getSamplerFlags(), 8);
    EXPECT_EQ(s.getAuxFlags(), 64);
    EXPECT_EQ(s.getBRDF(1), static_cast<quor::BRDFSampler*>(&s));
    EXPECT_EQ(s.getRenderChannels(), quor::RenderChannelsInfo::reflectChannels());
    // The selection weights form a distribution.
    float total = s.diffuseWeight;
    for (float wk : s.lobeWeight)
        total += wk;
    EXPECT_NEAR(total, 1.0f, 1e-5f);
}

TEST(ProductionHair, SampleRayWritesTheContinuationRay) {
    Hair4Point p = queryPoint();
    Hair4BSDF& s = p.s;
    p.ctx.hitPoint = {1, 2, 3, 0};
    p.ctx.dirDiff[0] = p.ctx.rayDir;
    p.ctx.dirDiff[1] = {0.3f, 0.1f, 0.0f, 0};

    quor::QuorContext q;
    quor::RayRecord ray;
    q.ray = &ray;
    q.dmc[1] = 0.3f, q.dmc[2] = 0.6f, q.dmc[3] = 0.2f;
    q.pathProb = -1.0f;
    EXPECT_EQ(s.sampleRay(p.ctx, q, 0.5f, 2), 0.0f);
    EXPECT_EQ(q.pathProb, -1.0f);

    for (float u : {0.05f, 0.5f, 0.95f}) {
        ASSERT_EQ(s.sampleRay(p.ctx, q, u, 0), 1.0f);
        Vec4 wi(ray.dir);
        EXPECT_NEAR(length(wi), 1.0f, 1e-5f);
        EXPECT_EQ(q.rayDir.x, ray.dir.x);
        EXPECT_EQ(ray.origin.y, 2.0f);
        EXPECT_EQ(ray.tmin, 0.0f);
        EXPECT_EQ(ray.tmax, 1e18f);
        // The differential equal to D turns into the new direction; lengths are kept.
        EXPECT_NEAR(q.dirDiff[0].x, ray.dir.x, 1e-5f);
        EXPECT_NEAR(q.dirDiff[0].z, ray.dir.z, 1e-5f);
        EXPECT_NEAR(length(Vec4(q.dirDiff[1])), length(Vec4(p.ctx.dirDiff[1])), 1e-5f);
        // Path weight f/p' and probability 2π·p' for the direction taken.
        float z = dot(wi, s.axisT);
        Color4 f;
        float pdf;
        s.lobeSum(std::sqrt(1 - z * z), z, std::atan2(dot(wi, s.axisY), dot(wi, s.axisX)), f, pdf);
        float pp = std::max(pdf, 0.5f * maxRGB(f));
        EXPECT_NEAR(q.pathProb, kTwoPi * pp, 1e-4f * q.pathProb);
        EXPECT_NEAR(q.pathWeight.r, f.r() * 0.8f / pp, 1e-4f);
        EXPECT_NEAR(q.pathWeight.b, f.b() * 0.4f / pp, 1e-4f);
    }
    // Below the diffuse weight the direction is uniform: its sin θ is 2·u1 - 1.
    ASSERT_GT(s.diffuseWeight, 0.1f);
    q.dmc[2] = 0.8f;
    ASSERT_EQ(s.sampleRay(p.ctx, q, 0.5f * s.diffuseWeight, 0), 1.0f);
    EXPECT_NEAR(dot(Vec4(ray.dir), s.axisT), 0.6f, 1e-5f);
    // Without a ray record the direction still goes to the context.
    q.ray = nullptr;
    EXPECT_EQ(s.sampleRay(p.ctx, q, 0.7f, 0), 1.0f);
    EXPECT_NEAR(length(Vec4(q.rayDir)), 1.0f, 1e-5f);

    // A sampler with no density anywhere refuses.
    Hair4BSDF none = s;
    for (float& wk : none.lobeWeight)
        wk = 0.0f;
    none.diffuseWeight = 0.0f;
    none.diffuseColor = Color4(0.0f);
    none.finishLobes();
    EXPECT_EQ(none.sampleRay(p.ctx, q, 0.3f, 0), 0.0f);
}

struct CaptureContext final : quor::QuorContext {
    int calls = 0, kind = 0, flags = 0;
    quor::Color color;
    quor::Vector dir;
    int addRay(int k, const quor::Color& c, int f, const quor::Vector& d) override {
        ++calls, kind = k, color = c, flags = f, dir = d;
        return 7;
    }
};

struct CaptureChannels final : quor::RenderChannelTarget {
    int alias = -1, count = 0;
    float values[8] = {};
    void write(int a, const float* v, int n) override {
        alias = a, count = n;
        for (int i = 0; i < n && i < 8; ++i)
            values[i] = v[i];
    }
    bool has(int) const override { return true; }
};

TEST(ProductionHair, AddContextRayContinuesStraightOn) {
    Hair4Point p = queryPoint();
    CaptureContext c;
    c.rayDir = {0.6f, 0, -0.8f, 0};
    EXPECT_EQ(p.s.addContextRay(c, nullptr, 0), 7);
    EXPECT_EQ(c.kind, 4);
    EXPECT_EQ(c.flags, 0x8012);
    EXPECT_EQ(c.dir.x, 0.6f);
    EXPECT_NEAR(c.color.g, 0.6f * p.s.albedoSum.g(), 1e-6f);
    EXPECT_EQ(p.s.addContextRay(c, nullptr, 2), 0);
    p.s.terminal = 1;
    EXPECT_EQ(p.s.addContextRay(c, nullptr, 0), 0);
    EXPECT_EQ(c.calls, 1);
}

TEST(ProductionHair, ForwardTracingWritesStrandFrameChannel) {
    Hair4Point p = queryPoint();
    CaptureChannels channels;
    p.ctx.channels = &channels;
    p.ctx.normal = {0, 0, 1, 0};
    p.ctx.rayDir = {0, 0, -1, 0};
    p.ctx.dirDiff[0] = {1, 0, 0, 0};
    p.ctx.posDiff[0] = {1, 0, 0, 0};
    p.ctx.dirDiff[1] = {0, 0.5f, 0, 0};
    p.ctx.posDiff[1] = {0, 0.5f, 0, 0};
    p.s.traceForward(p.ctx, 1);
    EXPECT_EQ(channels.alias, -1); // channel off in the settings
    EXPECT_FLOAT_EQ(p.ctx.result.transparency.g, 0.4f);
    EXPECT_FLOAT_EQ(p.ctx.result.opacity.r, 0.8f);

    p.settings.flags = quor::SETTINGS_CHANNEL_131;
    p.s.traceForward(p.ctx, 1);
    ASSERT_EQ(channels.alias, 131);
    ASSERT_EQ(channels.count, 6);
    // A = x, B = y, n = z, D = -z: g = normalise((y × z)·D, (z × x)·D, -(x × y)·z) = (0, 0, -1).
    float o = 1.0f - (0.2f + 0.4f + 0.6f) * 0.33333334f;
    EXPECT_NEAR(channels.values[0], 0.0f, 1e-7f);
    EXPECT_NEAR(channels.values[1], 0.0f, 1e-7f);
    EXPECT_NEAR(channels.values[2], -o, 1e-6f);
    EXPECT_NEAR(channels.values[3], 0.0f, 1e-7f);
    EXPECT_NEAR(channels.values[5], o, 1e-6f);
    // An oblique ray D = (0.6, 0, -0.8) with the same footprint: g = normalise(0.6, 0, -1).
    p.ctx.rayDir = {0.6f, 0, -0.8f, 0};
    p.s.traceForward(p.ctx, 1);
    const float len = std::sqrt(0.36f + 1.0f);
    EXPECT_NEAR(channels.values[0], 0.6f / len * o, 1e-6f);
    EXPECT_NEAR(channels.values[1], 0.0f, 1e-6f);
    EXPECT_NEAR(channels.values[2], -1.0f / len * o, 1e-6f);
}

} // namespace
} // namespace hair
