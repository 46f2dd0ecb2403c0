// Hair4BSDF set-up: termination, hand-computed lobes, pigment and dye, depth and strand patterns,
// and the per-strand random values.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "production_hair/hair4_bsdf.h"
#include "production_hair/hair4_test_support.h"

namespace hair {
namespace {

using test::Hair4Point;

TEST(ProductionHair, TerminalCases) {
    auto terminalOf = [](Hair4Point& p) { return p.setup().terminal; };
    Hair4Point p;
    p.in.traceDepth = 3;
    p.ctx.rayDepth = 2;
    EXPECT_EQ(terminalOf(p), 0);
    EXPECT_EQ(p.s.getAuxFlags(), 64);
    p.in.subdivs = 3;
    p.setup();
    EXPECT_EQ(p.s.getAuxFlags(), 9);
    p.ctx.rayDepth = 3;
    EXPECT_EQ(terminalOf(p), 1);
    EXPECT_EQ(p.s.getAuxFlags(), 0);

    // The renderer's override replaces trace_depth, in either direction.
    p.ctx.rayDepth = 3;
    p.settings.traceDepthOverrideOn = 1;
    p.settings.traceDepthOverride = 5;
    EXPECT_EQ(terminalOf(p), 0);
    p.ctx.rayDepth = 1;
    p.settings.traceDepthOverride = 1;
    EXPECT_EQ(terminalOf(p), 1);
    p.settings.traceDepthOverrideOn = 0;
    EXPECT_EQ(terminalOf(p), 0);
    p.settings.hairDepthEnabled = 0;
    EXPECT_EQ(terminalOf(p), 1);
    p.settings.hairDepthEnabled = 1;
    p.ctx.rayFlags = quor::RAY_SHADOW;
    p.strand.record.transparency[0] = 1.5f, p.strand.record.transparency[1] = -0.2f;
    p.strand.record.transparency[2] = 0.5f;
    EXPECT_EQ(terminalOf(p), 1);
    Hair4BSDF& s = p.s;
    // Only the transparency (clamped) and a zero albedo remain.
    EXPECT_EQ(s.transparency.r(), 1.0f);
    EXPECT_EQ(s.transparency.g(), 0.0f);
    EXPECT_EQ(s.transparency.b(), 0.5f);
    EXPECT_EQ(s.albedoSum.r(), 0.0f);
    quor::Color light{1, 1, 1, 1}, light2{2, 2, 2, 2};
    quor::Color r = s.eval(p.ctx, {0, 0, 1, 0}, light, light2, 1.0f, 3);
    EXPECT_EQ(r.r + r.g + r.b, 0.0f);
    EXPECT_EQ(light.b, 0.5f);
    EXPECT_EQ(light2.r, 2.0f);
    quor::QuorContext q;
    EXPECT_EQ(s.sampleRay(p.ctx, q, 0.5f, 0), 0.0f);
    EXPECT_EQ(s.addContextRay(p.ctx, nullptr, 0), 0);
}

TEST(ProductionHair, TransparencyOverride) {
    auto transparencyOf = [](Hair4Point& p) { return p.setup().transparency; };
    Hair4Point p;
    for (float& t : p.strand.record.transparency)
        t = 0.3f;
    p.ctx.transparencyOverride = 0.7f;
    EXPECT_FLOAT_EQ(transparencyOf(p).g(), 0.3f); // no counter, no flags
    p.ctx.hostCounter = 1;
    EXPECT_FLOAT_EQ(transparencyOf(p).g(), 0.7f);
    p.ctx.rayFlags = 0x8; // a flag of the first mask only
    EXPECT_FLOAT_EQ(transparencyOf(p).g(), 0.3f);
    p.ctx.hostCounter = 0;
    p.ctx.rayFlags = 0x20; // any flag of the second mask
    EXPECT_FLOAT_EQ(transparencyOf(p).r(), 0.7f);
    p.ctx.transparencyOverride = 1.5f;
    EXPECT_FLOAT_EQ(transparencyOf(p).b(), 1.0f);
    // A coloured transparency is never overridden.
    p.strand.record.transparency[1] = 0.4f;
    EXPECT_FLOAT_EQ(transparencyOf(p).g(), 0.4f);
}

// Hair without randomisation, viewed perpendicular to the strand through its axis (h = 0):
// every lobe follows from Fresnel at normal incidence and a path of one diameter.
TEST(ProductionHair, LobesAtNormalIncidenceMatchHandValues) {
    Hair4Point p;
    p.in.glintStrength = 0, p.in.glitterStrength = 0, p.in.glintVariation = 0;
    p.in.melanin = 0.5f;
    p.in.highlightShift = 3.0f;
    p.in.softness = 0.5f;
    Hair4BSDF& s = p.setup();

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
    // R goes back towards the viewer, TT straight through, TRT back again.
    const float phiO = kPi / 2;
    EXPECT_NEAR(hair4::wrapPi(s.lobePhi[0] - phiO), 0.0f, 1e-5f);
    EXPECT_NEAR(hair4::wrapPi(s.lobePhi[1] - phiO + kPi), 0.0f, 1e-5f);
    EXPECT_NEAR(hair4::wrapPi(s.lobePhi[2] - phiO), 0.0f, 1e-5f);
    // Cuticle tilts: R by -2α, TT by α, TRT by 4α, residual none.
    const float a = 3.0f * kDegToRad;
    EXPECT_NEAR(s.lobeSinThetaO[0], std::sin(2 * a), 1e-6f);
    EXPECT_NEAR(s.lobeSinThetaO[1], -std::sin(a), 1e-6f);
    EXPECT_NEAR(s.lobeSinThetaO[2], -std::sin(4 * a), 1e-6f);
    EXPECT_EQ(s.lobeSinThetaO[5], 0.0f);
    EXPECT_NEAR(s.lobeCosThetaO[1], std::cos(a), 1e-6f);
    // Longitudinal variance from glossiness 0.5 (β = 0.25), azimuthal scale from softness 0.5.
    const float b = 0.25f, sd = 0.726f * b + 0.812f * b * b + 3.7f * std::pow(b, 20.0f), v = sd * sd;
    EXPECT_NEAR(s.lobeVariance[0], 0.6f * v, 1e-7f);
    EXPECT_NEAR(s.lobeVariance[1], 0.25f * v, 1e-7f);
    EXPECT_NEAR(s.lobeVariance[2], 4.0f * v, 1e-6f);
    EXPECT_NEAR(s.lobeVariance[5], 4.0f * v, 1e-6f);
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

TEST(ProductionHair, GrayHairIgnoresPigmentAndTints) {
    Hair4Point p;
    p.in.melanin = 0.9f;
    p.in.dyeColor[1] = 0.2f;
    p.in.primaryTint[1] = 0.0f;
    p.in.diffuseAmount = 0.25f;
    p.strand.record.color[0] = 0.4f;
    p.in.grayHairDensity = 1.0f;
    Hair4BSDF& s = p.setup();
    for (int k : {0, 1, 2, 5}) {
        EXPECT_FLOAT_EQ(s.lobeColor[k].r(), s.lobeColor[k].g()) << k;
        EXPECT_FLOAT_EQ(s.lobeColor[k].g(), s.lobeColor[k].b()) << k;
    }
    EXPECT_GT(s.lobeColor[1].r(), 0.5f); // no absorption
    EXPECT_FLOAT_EQ(s.diffuseColor.r(), 0.25f);
    EXPECT_FLOAT_EQ(s.diffuseColor.g(), 0.25f);
    EXPECT_NEAR(s.albedoSum.g(), 1.0f, 1e-5f); // lossless apart from nothing: all energy kept

    p.in.grayHairDensity = 0.0f;
    p.setup();
    EXPECT_LT(s.lobeColor[1].b(), 1e-3f); // dark hair transmits almost nothing
    EXPECT_EQ(s.lobeColor[0].g(), 0.0f);  // primary tint applies again
    EXPECT_FLOAT_EQ(s.diffuseColor.r(), 0.1f);
}

TEST(ProductionHair, BlackDyeChannelBlocksInternalPaths) {
    Hair4Point p;
    p.in.melanin = 0.0f;
    p.in.dyeColor[0] = 1.0f, p.in.dyeColor[1] = 0.0f, p.in.dyeColor[2] = 0.7f;
    p.in.glintStrength = 0.8f;
    p.strand.record.h = 0.3f;
    Hair4BSDF& s = p.setup();
    ASSERT_GT(s.lobeWeight[Hair4BSDF::Glint], 0.0f);
    for (int k : {1, 2, 4, 5}) {
        EXPECT_LT(s.lobeColor[k].g(), 1e-20f) << k;
        EXPECT_GT(s.lobeColor[k].r(), 1e-3f) << k;
    }
    EXPECT_GT(s.lobeColor[0].g(), 0.01f); // the surface reflection is untouched
    // A dyed fibre with a white channel keeps that channel's energy.
    EXPECT_NEAR(s.albedoSum.r(), 1.0f, 1e-5f);
}

TEST(ProductionHair, GrazingOffsetReflectsEverything) {
    for (float h : {-1.0f, 1.0f}) {
        Hair4Point p;
        p.in.glintStrength = 0, p.in.glitterStrength = 0;
        p.in.melanin = 0.2f;
        p.strand.record.h = h;
        Hair4BSDF& s = p.setup();
        EXPECT_EQ(s.lobeColor[0].g(), 1.0f);
        for (int k : {1, 2, 5})
            EXPECT_EQ(s.lobeColor[k].r(), 0.0f) << k;
        EXPECT_EQ(s.lobeWeight[0], 1.0f);
    }
}

TEST(ProductionHair, DepthWidensLobesAndDropsStrandPatterns) {
    auto at = [](int depth, bool strandData) {
        Hair4Point p;
        p.strand.hasStrandData = strandData;
        p.ctx.rayDepth = depth;
        p.in.randomGlossiness = 0.3f;
        p.view(15.0f);
        p.setup();
        return p;
    };
    Hair4Point d0 = at(0, false), d1 = at(1, true), d2 = at(2, true), d5 = at(5, true), first = at(0, true);
    for (int k : {0, 1, 2}) {
        EXPECT_NEAR(d1.s.lobeVariance[k], 2.0f * d0.s.lobeVariance[k], 1e-6f * d1.s.lobeVariance[k]) << k;
        EXPECT_NEAR(d2.s.lobeVariance[k], 4.0f * d0.s.lobeVariance[k], 1e-6f * d2.s.lobeVariance[k]) << k;
        EXPECT_NEAR(d1.s.lobeScale[k], 2.0f * d0.s.lobeScale[k], 1e-6f) << k;
        EXPECT_EQ(d5.s.lobeVariance[k], d2.s.lobeVariance[k]);
    }
    for (const Hair4Point* p : {&d0, &d1, &d2}) {
        EXPECT_EQ(p->s.lobeWeight[Hair4BSDF::Glint], 0.0f);
        EXPECT_EQ(p->s.lobeWeight[Hair4BSDF::Glitter], 0.0f);
        EXPECT_EQ(p->s.glintSeparation, kPi / 4);
        EXPECT_EQ(p->s.glitterPhiA, 0.0f);
    }
    EXPECT_GT(first.s.lobeWeight[Hair4BSDF::Glint], 0.0f);
    EXPECT_GT(first.s.lobeWeight[Hair4BSDF::Glitter], 0.0f);
    EXPECT_NE(first.s.glitterPhiA, 0.0f);
    // Glint and glitter take their energy from the primary and transmission lobes.
    EXPECT_LT(first.s.lobeColor[0].g(), d0.s.lobeColor[0].g());
}

TEST(ProductionHair, RandomTangentDrawShiftsLaterValues) {
    Hair4Point a, b;
    a.in.randomTangent = 0.0f;
    b.in.randomTangent = 1e-7f;
    a.strand.index = b.strand.index = 9;
    a.setup();
    b.setup();
    EXPECT_NE(a.s.glitterPhiA, b.s.glitterPhiA);
    EXPECT_NEAR(dot(a.s.axisT, b.s.axisT), 1.0f, 1e-6f);
    // A large offset tilts the strand, differently per strand.
    Hair4Point c = b;
    c.in.randomTangent = 2.0f;
    c.setup();
    Hair4Point d = c;
    d.strand.index = 10;
    d.setup();
    EXPECT_LT(dot(c.s.axisT, Vec4(0, 1, 0)), 0.999f);
    EXPECT_GT(std::fabs(dot(c.s.axisT, d.s.axisT) - 1.0f), 1e-4f);
}

// Everything a sampler holds that derives from the per-strand values.
std::vector<float> strandSignature(const Hair4BSDF& s) {
    std::vector<float> v;
    for (int k = 0; k < 6; ++k) {
        v.push_back(s.lobeVariance[k]);
        v.push_back(s.lobeScale[k]);
        for (int c = 0; c < 3; ++c)
            v.push_back(s.lobeColor[k][c]);
    }
    v.push_back(s.glitterPhiA);
    v.push_back(s.glintSeparation);
    return v;
}

Hair4Point randomisedPoint(int strand, float position) {
    Hair4Point p;
    p.in.glintVariation = 0.0f, p.in.glitterStrength = 0.0f;
    p.in.randomMelanin = 0.4f, p.in.randomGlossiness = 0.3f, p.in.randomSoftness = 0.3f;
    p.in.randomIor = 0.5f, p.in.randomHighlightShift = 2.0f, p.in.randomDyeHue = 0.5f;
    p.in.dyeColor[0] = 0.9f, p.in.dyeColor[1] = 0.6f, p.in.dyeColor[2] = 0.5f;
    p.strand.index = strand;
    p.strand.position = position;
    p.view(10.0f);
    p.setup();
    return p;
}

TEST(ProductionHair, StrandValuesSameOnEveryPointAndThread) {
    std::vector<float> a = strandSignature(randomisedPoint(42, 0.1f).s);
    EXPECT_EQ(a, strandSignature(randomisedPoint(42, 0.9f).s));
    EXPECT_NE(a, strandSignature(randomisedPoint(43, 0.1f).s));

    const int strands = 40;
    std::vector<std::vector<float>> serial(strands);
    for (int i = 0; i < strands; ++i)
        serial[i] = strandSignature(randomisedPoint(i, 0.5f).s);
    std::vector<std::vector<std::vector<float>>> threaded(4, std::vector<std::vector<float>>(strands));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t, &threaded] {
            for (int i = strands - 1; i >= 0; --i)
                threaded[t][i] = strandSignature(randomisedPoint(i, 0.05f * t).s);
        });
    for (std::thread& th : threads)
        th.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(threaded[t], serial) << "thread " << t;
}

TEST(ProductionHair, GreyDyeStaysGreyUnderValueRandomisation) {
    for (int strand = 0; strand < 8; ++strand) {
        Hair4Point p;
        p.in.melanin = 0.0f;
        p.in.dyeColor[0] = p.in.dyeColor[1] = p.in.dyeColor[2] = 0.5f;
        p.in.randomDyeValue = 0.5f;
        p.in.randomDyeHue = 0.7f; // a grey has no hue to move
        p.strand.index = strand;
        Hair4BSDF& s = p.setup();
        EXPECT_NEAR(s.lobeColor[1].r(), s.lobeColor[1].g(), 1e-6f);
        EXPECT_NEAR(s.lobeColor[1].g(), s.lobeColor[1].b(), 1e-6f);
    }
}

} // namespace
} // namespace hair
