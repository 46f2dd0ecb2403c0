#include "three_lobe_hair/brdf_hair2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "math/numeric.h"
#include "probe.h"
#include "quor/quor.h"

extern "C" quor::PluginLibDesc* getLibDesc();

namespace hair {
namespace {

// One BRDFHair2 shading point, driven like a host.
struct Point : hairlab::TypedPoint {
    explicit Point(hairlab::PointOptions o = {}) : TypedPoint(getLibDesc(), "BRDFHair2", std::move(o)) {}
    MayaHairBSDF2& sampler() { return *static_cast<MayaHairBSDF2*>(probe->bsdf()); }
    quor::QuorContext& ctx() { return probe->context(); }
    quor::Color eval(const quor::Vector& L, quor::Color& light, quor::Color& unshadowed, int flags = 3) {
        return probe->brdf()->eval(ctx(), L, light, unshadowed, 1.0f, flags);
    }
};

void expectColor(const Color4& c, float r, float g, float b, float tol = 0.0f) {
    EXPECT_NEAR(c[0], r, tol);
    EXPECT_NEAR(c[1], g, tol);
    EXPECT_NEAR(c[2], b, tol);
    EXPECT_NEAR(c[3], b, tol); // the fourth lane repeats blue
}

void expectColor(const quor::Color& c, float r, float g, float b, float tol = 0.0f) {
    EXPECT_NEAR(c.r, r, tol);
    EXPECT_NEAR(c.g, g, tol);
    EXPECT_NEAR(c.b, b, tol);
}

// A direction in the strand frame: T = +y, the plane across the strand spanned by x and z.
quor::Vector strandDirection(float theta, float azimuth) {
    return {std::cos(theta) * std::sin(azimuth), std::sin(theta), std::cos(theta) * std::cos(azimuth), 0};
}

TEST(ThreeLobeHair, DefaultAnglesReachTheSamplerInRadians) {
    Point p;
    const MayaHairBSDF2& s = p.sampler();
    const float deg[7] = {-10, 5, 15, 5, 2.5f, 10, 10};
    const float got[7] = {s.shiftR, s.shiftTT, s.shiftTRT, s.widthR, s.widthTT, s.widthTRT, s.causticWidth};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(got[i], deg[i] * 0.017453292f) << i;
    EXPECT_EQ(s.eta, 1.55f);
    expectColor(s.absorption, 0.2f, 0.2f, 0.2f);
}

TEST(ThreeLobeHair, EveryParameterReachesItsOwnField) {
    hairlab::PointOptions o;
    o.sets = {{"refraction_index", "1.7"},
              {"diffuse_mult", "0.8"},
              {"r_mult", "1.1"},
              {"r_long_shift", "-7"},
              {"r_long_width", "4"},
              {"tt_mult", "1.2"},
              {"tt_long_shift", "3"},
              {"tt_long_width", "2"},
              {"trt_mult", "1.3"},
              {"trt_long_shift", "12"},
              {"trt_long_width", "9"},
              {"glint_scale", "2.5"},
              {"azimuthal_width", "20"},
              {"fade_range", "0.3"},
              {"caustic_limit", "0.4"},
              {"diffuse_color_tex", "0.1,0.2,0.3"},
              {"absorption", "0.5,0.6,0.7"}};
    o.strandColor = {0.9f, 0.9f, 0.9f};
    Point p(o);
    MayaHairBSDF2& s = p.sampler();
    EXPECT_EQ(s.eta, 1.7f);
    EXPECT_EQ(s.diffuseMult, 0.8f);
    EXPECT_EQ(s.multR, 1.1f);
    EXPECT_EQ(s.multTT, 1.2f);
    EXPECT_EQ(s.multTRT, 1.3f);
    EXPECT_EQ(s.shiftR, -7.0f * kDegToRad);
    EXPECT_EQ(s.widthR, 4.0f * kDegToRad);
    EXPECT_EQ(s.shiftTT, 3.0f * kDegToRad);
    EXPECT_EQ(s.widthTT, 2.0f * kDegToRad);
    EXPECT_EQ(s.shiftTRT, 12.0f * kDegToRad);
    EXPECT_EQ(s.widthTRT, 9.0f * kDegToRad);
    EXPECT_EQ(s.glintScale, 2.5f);
    EXPECT_EQ(s.causticWidth, 20.0f * kDegToRad);
    EXPECT_EQ(s.fadeRange, 0.3f);
    EXPECT_EQ(s.causticLimit, 0.4f);
    // The texture replaces the strand's colour.
    expectColor(s.diffuseColor, 0.1f, 0.2f, 0.3f);
    expectColor(s.absorption, 0.5f, 0.6f, 0.7f);
}

TEST(ThreeLobeHair, SetupWithoutStrandData) {
    hairlab::PointOptions o;
    o.noStrandData = true;
    o.normal = hairlab::Vec3{1, 0, 1};
    o.strandColor = {1, 1, 1};
    o.strandTransparency = {0.5f, 0.5f, 0.5f};
    Point p(o);
    MayaHairBSDF2& s = p.sampler();
    expectColor(s.diffuseColor, 0, 0, 0);
    expectColor(s.transparency, 0, 0, 0);
    expectColor(s.absorption, 0.2f, 0.2f, 0.2f);
    // The world z axis without its part along the normal, normalised.
    const float r = std::sqrt(0.5f);
    EXPECT_NEAR(s.strandDir.x(), -r, 1e-6);
    EXPECT_NEAR(s.strandDir.y(), 0, 1e-6);
    EXPECT_NEAR(s.strandDir.z(), r, 1e-6);

    // A normal along z leaves nothing to normalise.
    p.ctx().normal = {0, 0, 1, 0};
    p.probe->shade();
    EXPECT_EQ(p.sampler().strandDir.x(), 0.0f);
    EXPECT_EQ(p.sampler().strandDir.y(), 0.0f);
    EXPECT_EQ(p.sampler().strandDir.z(), 0.0f);

    // No surface data at all: the same defaults; a connected diffuse texture still applies.
    p.ctx().surfaceData = nullptr;
    p.ctx().normal = {0, 1, 0, 0};
    quor::QuorParameter* diffuse = p.probe->plugin().getParameter("diffuse_color_tex");
    ASSERT_NE(diffuse, nullptr);
    diffuse->setConstantColor({0.25f, 0.5f, 0.75f, 1});
    p.probe->shade();
    expectColor(p.sampler().diffuseColor, 0.25f, 0.5f, 0.75f);
    EXPECT_NEAR(p.sampler().strandDir.z(), 1.0f, 1e-6);
}

TEST(ThreeLobeHair, StrandRecordColourTransparencyAndTangent) {
    hairlab::PointOptions o;
    o.strandColor = {1, 1, 1};
    o.strandTransparency = {1, 0.5f, 0};
    Point p(o);
    expectColor(p.sampler().diffuseColor, 0, 0.5f, 1);
    expectColor(p.sampler().transparency, 1, 0.5f, 0);

    // Out-of-range record values are clamped; the tangent is taken as it comes.
    p.probe->strand().record.transparency[0] = 1.5f;
    p.probe->strand().record.transparency[2] = -0.5f;
    p.probe->strand().record.color[1] = 3.0f;
    p.probe->strand().record.tangent = {0, 2, 0, 7};
    p.probe->shade();
    MayaHairBSDF2& s = p.sampler();
    expectColor(s.transparency, 1, 0.5f, 0);
    expectColor(s.diffuseColor, 0, 0.5f, 1);
    EXPECT_EQ(s.strandDir.y(), 2.0f);
    EXPECT_EQ(s.strandDir[3], 7.0f);

    // A diffuse texture replaces the record's colour; the record's transparency still weights it.
    quor::QuorParameter* diffuse = p.probe->plugin().getParameter("diffuse_color_tex");
    diffuse->setConstantColor({0.5f, 0.5f, 0.5f, 1});
    p.probe->shade();
    expectColor(p.sampler().diffuseColor, 0, 0.25f, 0.5f);
}

TEST(ThreeLobeHair, SideWeightingAndColourQueries) {
    hairlab::PointOptions o;
    o.strandColor = {0.4f, 0.4f, 0.4f};
    o.strandTransparency = {0, 0.5f, 1};
    Point p(o);
    MayaHairBSDF2& s = p.sampler();
    // Front side: half of the light passes an opaque strand; back side: none.
    expectColor(s.lightTransmission, 0.5f, 0.75f, 1.0f, 1e-7f);
    expectColor(s.getTransparency(), 0.5f, 0.75f, 1.0f, 1e-7f);
    expectColor(s.getOpacity(), 0.5f, 0.25f, 0.0f, 1e-7f);
    EXPECT_EQ(s.getBRDF(1), static_cast<quor::BRDFSampler*>(&s));
    expectColor(s.lightTransmission, 0.0f, 2.0f / 3.0f, 1.0f, 1e-7f);

    quor::Color w{2, 4, 8, 8};
    expectColor(s.getLightMultiplier(w), 2, 4, 8);
    expectColor(w, 0, 8.0f / 3.0f, 8, 1e-6f);

    quor::Color w2{2, 4, 8, 8};
    // diffuse = 0.4 × (1 − t) = (0.4, 0.2, 0)
    expectColor(s.getDiffuseColor(w2), 0.8f, 0.8f, 0.0f, 1e-6f);
    expectColor(w2, 0, 8.0f / 3.0f, 8, 1e-6f);
    // No sampling of its own.
    EXPECT_EQ(s.sampleRay(p.ctx(), p.probe->newRayContext(0.5f, 0.5f, 0.5f), 0.5f, 0), 0.0f);
}

TEST(ThreeLobeHair, TraceForwardWritesShadingResults) {
    hairlab::PointOptions o;
    o.strandColor = {0.5f, 1.0f, 1.0f};
    o.strandTransparency = {0, 0.5f, 0.25f};
    o.gi = {2, 1, 4};
    Point p(o);
    p.sampler().traceForward(p.ctx(), 1);
    const quor::ShadeResult& r = p.ctx().result;
    expectColor(r.gi, 1.0f, 0.5f, 3.0f, 1e-6f);
    expectColor(r.transparency, 0, 0.5f, 0.25f);
    expectColor(r.opacity, 1, 0.5f, 0.75f);
    expectColor(r.transparency2, 0, 0.5f, 0.25f);

    p.ctx().result = quor::ShadeResult{};
    p.sampler().traceForward(p.ctx(), 0);
    expectColor(r.gi, 0, 0, 0);
    expectColor(r.transparency, 0, 0.5f, 0.25f);
    expectColor(r.opacity, 1, 0.5f, 0.75f);
    expectColor(r.transparency2, 0, 0.5f, 0.25f);
}

TEST(ThreeLobeHair, EvalWeightsTheLightColours) {
    hairlab::PointOptions o;
    o.strandColor = {0.8f, 0.4f, 0.2f};
    o.strandTransparency = {0.5f, 0.5f, 0.5f};
    o.sets = {{"diffuse_mult", "0.5"}};
    Point p(o);
    const MayaHairBSDF2& s = p.sampler();
    // Ray along −z hits a strand along y; the normal faces the viewer.
    const quor::Vector across{0, 0, 1, 0}; // L ⟂ T
    const float pass = 0.75f;              // front side, t = 0.5

    // Below the surface: black and the light colours untouched.
    quor::Color light{1, 2, 3, 3}, unshadowed{4, 5, 6, 6};
    quor::Color r = p.eval({0, 0, -1, 0}, light, unshadowed);
    expectColor(r, 0, 0, 0);
    EXPECT_EQ(r.a, 0.0f);
    expectColor(light, 1, 2, 3);
    expectColor(unshadowed, 4, 5, 6);

    // Flags asking for nothing: a zero result, both light colours weighted all the same.
    r = p.eval(across, light, unshadowed, 0);
    expectColor(r, 0, 0, 0);
    expectColor(light, pass, 2 * pass, 3 * pass, 1e-6f);
    expectColor(unshadowed, 4 * pass, 5 * pass, 6 * pass, 1e-6f);

    // Diffuse only, L ⟂ T (cos θi = 1): diffuseColor × diffuseMult × the weighted light.
    quor::Color l1{1, 1, 1, 1}, u1{1, 1, 1, 1};
    r = p.eval(across, l1, u1, 1);
    const Color4 d = s.diffuseColor;
    expectColor(r, d[0] * 0.5f * pass, d[1] * 0.5f * pass, d[2] * 0.5f * pass, 1e-7f);
    // θi = 60°: the diffuse term follows cos θi.
    quor::Color l2{1, 1, 1, 1}, u2{1, 1, 1, 1};
    r = p.eval(strandDirection(kPi / 3, 0), l2, u2, 1);
    EXPECT_NEAR(r.r, d[0] * 0.5f * 0.5f * pass, 1e-6);

    // Specular only, with the context's no-specular flag: nothing, yet the light is weighted.
    p.ctx().rayFlags = quor::RAY_NO_SPECULAR;
    quor::Color l3{1, 1, 1, 1}, u3{1, 1, 1, 1};
    r = p.eval(across, l3, u3, 2);
    expectColor(r, 0, 0, 0);
    expectColor(l3, pass, pass, pass);
    p.ctx().rayFlags = 0;

    // Both: the specular lobes plus the diffuse term, times the weighted light.
    quor::Color l4{1, 2, 4, 4}, u4{1, 1, 1, 1};
    r = p.eval(across, l4, u4, 3);
    const Color4 spec = s.specular(0, 0, 0);
    EXPECT_GT(spec[0], 0.1f);
    expectColor(r, (spec[0] + d[0] * 0.5f) * pass, (spec[1] + d[1] * 0.5f) * 2 * pass,
                (spec[2] + d[2] * 0.5f) * 4 * pass, 1e-5f);
}

TEST(ThreeLobeHair, EvalReadsTheStrandGeometry) {
    // Directions built from known longitudinal angles and azimuths about T = +y; the view is
    // V = −D. The lobes must see exactly θi, θr and the relative azimuth φ in [0, π].
    hairlab::PointOptions o;
    o.sets = {{"absorption", "0.1,0.3,0.6"}};
    Point p(o);
    const MayaHairBSDF2& s = p.sampler();
    struct Geometry {
        float thetaI, azimuthI, thetaR, azimuthR;
    };
    const std::vector<Geometry> cases = {{0.3f, 0.2f, -0.1f, 0.2f},  {0.5f, 0.0f, 0.2f, 2.0f},
                                         {-0.4f, 1.0f, 0.6f, -1.5f}, {0.1f, -2.5f, 0.1f, 2.5f},
                                         {0.2f, 0.0f, -0.3f, kPi},   {-1.0f, 0.7f, 0.9f, 0.4f}};
    for (const Geometry& g : cases) {
        const quor::Vector L = strandDirection(g.thetaI, g.azimuthI);
        const quor::Vector V = strandDirection(g.thetaR, g.azimuthR);
        p.ctx().rayDir = {-V.x, -V.y, -V.z, 0};
        p.ctx().normal = L;
        float phi = std::fabs(g.azimuthI - g.azimuthR);
        if (phi > kPi) phi = kTwoPi - phi;
        EXPECT_NEAR(relativeAzimuth(Vec4(L), Vec4(V), s.strandDir), phi, 2e-3);
        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
        const quor::Color r = p.eval(L, light, unshadowed, 2);
        const Color4 expected = s.specular(g.thetaI, g.thetaR, phi) * 0.5f;
        for (int lane = 0; lane < 3; ++lane)
            EXPECT_NEAR((&r.r)[lane], expected[lane], 2e-3 * expected[lane] + 1e-6)
                << "thetaI=" << g.thetaI << " thetaR=" << g.thetaR << " phi=" << phi;
    }
}

TEST(ThreeLobeHair, ReflectionLobeByHand) {
    // With TT and TRT off, the specular term is the R lobe alone, whose azimuthal part is
    // cos(φ/2)/4: M_R(θh)·cos(φ/2)/4·r_mult / cos²θd, times the light passing the front side.
    hairlab::PointOptions o;
    o.sets = {
        {"tt_mult", "0"}, {"trt_mult", "0"}, {"r_mult", "2"}, {"r_long_shift", "-8"}, {"r_long_width", "6"}};
    Point p(o);
    const float thetaI = 0.25f, thetaR = -0.45f, azI = 0.3f, azR = 1.9f;
    const quor::Vector L = strandDirection(thetaI, azI), V = strandDirection(thetaR, azR);
    p.ctx().rayDir = {-V.x, -V.y, -V.z, 0};
    p.ctx().normal = L;
    quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
    const quor::Color r = p.eval(L, light, unshadowed, 2);
    const double thetaH = (thetaI + thetaR) / 2, thetaD = (thetaI - thetaR) / 2, phi = azR - azI;
    const double alpha = -8 * M_PI / 180, beta = 6 * M_PI / 180;
    const double m = std::exp(-(thetaH - alpha) * (thetaH - alpha) / (2 * beta * beta)) /
                     std::sqrt(2 * M_PI * beta * beta);
    const double expected = m * std::cos(phi / 2) / 4 * 2 / (std::cos(thetaD) * std::cos(thetaD)) * 0.5;
    EXPECT_NEAR(r.r, expected, 1e-5 * expected);
    EXPECT_NEAR(r.b, expected, 1e-5 * expected);
}

TEST(ThreeLobeHair, ClearFibreIsReciprocal) {
    // Without absorption every lobe depends on θi and θr only through θh and θd², so
    // swapping the light and the viewer changes nothing.
    hairlab::PointOptions o;
    o.sets = {{"absorption", "0,0,0"}};
    Point p(o);
    int compared = 0;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 9; ++k) {
                const float ti = -1.2f + 0.4f * i, tr = -1.1f + 0.55f * j, az = 0.7f * k;
                const quor::Vector A = strandDirection(ti, 0.3f), B = strandDirection(tr, 0.3f + az);
                auto shadeFrom = [&](const quor::Vector& light, const quor::Vector& view) {
                    p.ctx().rayDir = {-view.x, -view.y, -view.z, 0};
                    p.ctx().normal = light;
                    quor::Color c{1, 1, 1, 1}, u{1, 1, 1, 1};
                    return p.eval(light, c, u, 2);
                };
                const quor::Color ab = shadeFrom(A, B), ba = shadeFrom(B, A);
                EXPECT_NEAR(ab.g, ba.g, 1e-3 * std::fabs(ab.g) + 1e-6) << ti << " " << tr << " " << az;
                ++compared;
            }
    EXPECT_EQ(compared, 7 * 5 * 9);
}

TEST(ThreeLobeHair, EvalIsFiniteOverTheSphere) {
    Point p;
    MayaHairBSDF2& s = p.sampler();
    // Directions on a latitude/longitude grid in the strand frame, with the poles (along the
    // strand) and the two exact cross-strand directions included.
    std::vector<quor::Vector> dirs;
    for (int i = 1; i <= 5; ++i)
        for (int j = 0; j < 7; ++j)
            dirs.push_back(strandDirection(-kPi / 2 + i * kPi / 6, j * kTwoPi / 7));
    for (float sgn : {1.0f, -1.0f}) {
        dirs.push_back({0, sgn, 0, 0});
        dirs.push_back({0, 0, sgn, 0});
    }
    int evaluated = 0;
    for (float eta : {1.0f, 1.3f, 1.55f, 2.0f, 2.5f, 3.0f})
        for (float widthDeg : {1.0f, 10.0f, 30.0f})
            for (float sigma : {0.0f, 0.5f, 5.0f}) {
                s.eta = eta;
                s.widthR = s.widthTT = s.widthTRT = s.causticWidth = widthDeg * kDegToRad;
                s.absorption = Color4(sigma);
                for (const quor::Vector& V : dirs) {
                    p.ctx().rayDir = {-V.x, -V.y, -V.z, 0};
                    for (const quor::Vector& L : dirs) {
                        p.ctx().normal = L;
                        quor::Color light{1, 1, 1, 1}, unshadowed{1, 1, 1, 1};
                        const quor::Color r = p.eval(L, light, unshadowed, 3);
                        const bool ok = std::isfinite(r.r) && std::isfinite(r.g) && std::isfinite(r.b) &&
                                        std::isfinite(r.a) && r.r >= 0 && r.g >= 0 && r.b >= 0;
                        EXPECT_TRUE(ok) << "eta=" << eta << " width=" << widthDeg << " sigma=" << sigma
                                        << " L=(" << L.x << "," << L.y << "," << L.z << ") V=(" << V.x << ","
                                        << V.y << "," << V.z << ") -> " << r.r << " " << r.g << " " << r.b;
                        if (!ok) return;
                        ++evaluated;
                    }
                }
            }
    EXPECT_EQ(evaluated, 54 * 39 * 39);
}

} // namespace
} // namespace hair
