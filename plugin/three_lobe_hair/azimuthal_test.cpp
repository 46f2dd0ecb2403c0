#include "three_lobe_hair/azimuthal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <random>
#include <utility>

#include "math/numeric.h"

namespace hair {
namespace {

using namespace azimuthal;

// Uniform float in [lo, hi) from the standard's fully specified Mersenne twister.
struct Uniform {
    std::mt19937 gen{20110603u};
    float operator()(float lo, float hi) {
        return lo + (hi - lo) * static_cast<float>(gen() * (1.0 / 4294967296.0));
    }
};

// Φ(p, γ) in double from the same coefficients.
double exitAzimuthD(int p, double c, double g) {
    return (6.0 * p * c / M_PI - 2.0) * g - (8.0 * p * c / (M_PI * M_PI * M_PI)) * g * g * g + p * M_PI;
}
double exitSlopeD(int p, double c, double g) {
    return (6.0 * p * c / M_PI - 2.0) - 24.0 * p * c / (M_PI * M_PI * M_PI) * g * g;
}

// The azimuth the roots of lobe p are solved for: φ shifted into the lobe's turn.
double shiftedAzimuth(int p, double phi) {
    return p == 0 ? phi - 2.0 * M_PI : (p == 2 ? phi + 2.0 * M_PI : phi);
}

Fibre fibre(float etaP, float etaPP, Color4 sigma = Color4(0.0f)) { return {1.55f, etaP, etaPP, sigma}; }

// Lobe p at a random index and azimuth, with the exit roots solved for them.
struct RootCase {
    int p;
    float etaP, phi, c, roots[3];
    int n;
    RootCase(int lobe, Uniform& u)
        : p(lobe), etaP(u(1.2f, 3.0f)), phi(u(0.0f, kPi)), c(criticalAngle(etaP)), roots{},
          n(exitRoots(p, c, phi, roots)) {}
};
std::ostream& operator<<(std::ostream& os, const RootCase& r) {
    return os << "p=" << r.p << " eta'=" << r.etaP << " phi=" << r.phi;
}

TEST(ThreeLobeHair, ExitRootsSolveTheCubic) {
    Uniform u;
    int checked = 0;
    for (int i = 0; i < 3000; ++i) {
        const RootCase r(i % 3, u);
        ASSERT_GE(r.n, 1) << r;
        for (int k = 0; k < r.n; ++k) {
            const double g = r.roots[k];
            const double residual = exitAzimuthD(r.p, r.c, g) - shiftedAzimuth(r.p, r.phi);
            // Single precision: a few ulps of the largest term of the cubic.
            const double scale = 2.0 * M_PI + std::fabs(g) * (2.0 + std::fabs(g) * std::fabs(g));
            EXPECT_LT(std::fabs(residual), 4e-7 * scale) << r << " root " << k << "=" << g;
            ++checked;
        }
    }
    EXPECT_GT(checked, 3050); // TT and TRT also give three roots on part of the range
}

TEST(ThreeLobeHair, DenseScanFindsNoMissedRoot) {
    Uniform u;
    const int steps = 4000;
    int crossings = 0;
    for (int i = 0; i < 400; ++i) {
        const RootCase r(1 + i % 2, u);
        const double target = shiftedAzimuth(r.p, r.phi);
        double ga = -M_PI / 2, fa = exitAzimuthD(r.p, r.c, ga) - target;
        for (int s = 1; s <= steps; ++s) {
            const double gb = -M_PI / 2 + M_PI * s / steps, fb = exitAzimuthD(r.p, r.c, gb) - target;
            // A sign change brackets a root; tangent roots at the caustic (zero slope) are skipped.
            if ((fa < 0) != (fb < 0) && std::fabs(exitSlopeD(r.p, r.c, 0.5 * (ga + gb))) > 0.02) {
                ++crossings;
                bool found = false;
                for (int k = 0; k < r.n; ++k)
                    found |= r.roots[k] >= ga - 1e-4 && r.roots[k] <= gb + 1e-4;
                EXPECT_TRUE(found) << r << " root in [" << ga << ", " << gb << "] missed";
            }
            ga = gb;
            fa = fb;
        }
    }
    EXPECT_GT(crossings, 150);
}

TEST(ThreeLobeHair, ReflectionRootAndTerm) {
    // R leaves at π − φ/2 on the far side, where the whole width reflects: N_R = cos(φ/2)/4.
    const Fibre f = fibre(1.55f, 1.55f, Color4(0.7f));
    for (float phi : {0.0f, 0.5f, 1.5f, 2.5f, kPi}) {
        float roots[3];
        ASSERT_EQ(exitRoots(0, criticalAngle(1.55f), phi, roots), 1);
        EXPECT_NEAR(roots[0], M_PI - phi / 2, 1e-6);
        const Color4 n = azimuthalTerm(0, 0.1f, f, phi);
        const float expected = std::max(1e-5f, std::cos(phi / 2)) / 4;
        for (int lane = 0; lane < 4; ++lane)
            EXPECT_NEAR(n[lane], expected, 1e-6) << "phi=" << phi;
    }
    EXPECT_NEAR(azimuthalTerm(0, 0.0f, f, 0.0f)[0], 0.25f, 1e-7);
}

TEST(ThreeLobeHair, TransmissionNearBackwardAzimuth) {
    // η = 1.55, σ = 0.2, θ = 0, φ just below π: one central path, two Fresnel transmissions
    // of (0.55/2.55)², two radii of absorption, and |dΦ/dh| = 2 − 6c/π.
    const Fibre f{1.55f, 1.55f, 1.55f, Color4(0.2f)};
    const double F = std::pow(0.55 / 2.55, 2);
    const double c = std::asin(1 / 1.55);
    const double expected = std::exp(-0.4) * (1 - F) * (1 - F) / (2 * (2 - 6 * c / M_PI));
    EXPECT_NEAR(expected, 0.461, 1e-3);
    const Color4 n = azimuthalTerm(1, 0.0f, f, kPi - 1e-3f);
    for (int lane = 0; lane < 4; ++lane)
        EXPECT_NEAR(n[lane], expected, 2e-4);
}

TEST(ThreeLobeHair, VanishingConstantTermKeepsTheCentralPath) {
    // TT at π and TRT at 0 factor as γ·(γ² + K1): the central root is kept, so N stays continuous.
    const float c = criticalAngle(1.55f);
    float roots[3];
    ASSERT_EQ(exitRoots(1, c, kPi, roots), 1);
    EXPECT_EQ(roots[0], 0.0f);
    const Fibre f = fibre(1.55f, 1.55f, Color4(0.2f, 0.5f, 1.0f));
    const Color4 at = azimuthalTerm(1, 0.0f, f, kPi), near = azimuthalTerm(1, 0.0f, f, kPi - 1e-4f);
    for (int lane = 0; lane < 4; ++lane)
        EXPECT_NEAR(at[lane], near[lane], 1e-4 * near[lane]);

    // TRT at φ = 0: the two side roots first, then the central one, as the closed form nearby.
    ASSERT_EQ(exitRoots(2, c, 0.0f, roots), 3);
    EXPECT_GT(roots[0], 0.5f);
    EXPECT_NEAR(roots[1], -roots[0], 1e-6);
    EXPECT_EQ(roots[2], 0.0f);
    float side[3];
    ASSERT_EQ(exitRoots(2, c, 1e-5f, side), 3);
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(side[k], roots[k], 1e-4);
    const Color4 trt0 = azimuthalTerm(2, 0.0f, f, 0.0f), trt1 = azimuthalTerm(2, 0.0f, f, 1e-5f);
    for (int lane = 0; lane < 4; ++lane)
        EXPECT_NEAR(trt0[lane], trt1[lane], 1e-3 * trt1[lane]);

    // Below η' = 2/√3 the TT quadratic has real roots too: three paths at φ = π.
    ASSERT_EQ(exitRoots(1, criticalAngle(1.1f), kPi, roots), 3);
    EXPECT_NEAR(exitAzimuthD(1, criticalAngle(1.1f), roots[0]), M_PI, 1e-5);
    EXPECT_EQ(roots[2], 0.0f);
    // Just below that index the side paths have only begun to part from the centre.
    ASSERT_EQ(exitRoots(1, criticalAngle(1.15f), kPi, roots), 3);
    EXPECT_GT(roots[0], 0.1f);
    EXPECT_LT(roots[0], 0.3f);
    EXPECT_NEAR(exitAzimuthD(1, criticalAngle(1.15f), roots[0]), M_PI, 1e-5);
}

TEST(ThreeLobeHair, DegenerateCubicLeadingCoefficient) {
    // c = 0 (η' infinite) leaves the linear −2γ + pπ: one root at 0, none exactly on pπ.
    float roots[3];
    EXPECT_EQ(exitRoots(1, 0.0f, 1.0f, roots), 1);
    EXPECT_EQ(roots[0], 0.0f);
    EXPECT_EQ(exitRoots(1, 0.0f, kPi, roots), 0);
}

// Independent textbook dielectric Fresnel (unpolarised), double precision.
double dielectricFresnel(double cosI, double n) {
    const double sinT = std::sqrt(std::max(0.0, 1 - cosI * cosI)) / n;
    if (sinT >= 1) return 1;
    const double cosT = std::sqrt(1 - sinT * sinT);
    const double rs = (cosI - n * cosT) / (cosI + n * cosT);
    const double rp = (n * cosI - cosT) / (n * cosI + cosT);
    return 0.5 * (rs * rs + rp * rp);
}

TEST(ThreeLobeHair, FresnelMatchesDielectricAndIsReciprocal) {
    for (float n : {1.2f, 1.55f, 2.4f}) {
        const double normal = std::pow((n - 1) / (n + 1), 2);
        EXPECT_NEAR(fresnelEntry(0.0f, n, n), normal, 1e-6);
        EXPECT_NEAR(fresnelInternal(0.0f, n, n), normal, 1e-6);
        for (float g = 0.05f; g < 1.55f; g += 0.1f) {
            EXPECT_NEAR(fresnelEntry(g, n, n), dielectricFresnel(std::cos(g), n), 2e-6)
                << "n=" << n << " g=" << g;
            EXPECT_NEAR(fresnelEntry(-g, n, n), fresnelEntry(g, n, n), 1e-7);
            // Light leaving at the refracted angle sees the same reflectance it saw entering.
            const float gt = std::asin(std::sin(g) / n);
            EXPECT_NEAR(fresnelInternal(gt, n, n), fresnelEntry(g, n, n), 2e-5) << "n=" << n << " g=" << g;
        }
        // Beyond the critical angle inside the fibre everything reflects.
        EXPECT_EQ(fresnelInternal(std::asin(1 / n) + 0.05f, n, n), 1.0f);
        // Grazing entry reflects nearly all.
        EXPECT_GT(fresnelEntry(1.5707f, n, n), 0.999f);
    }
    // Entering a fibre of index below 1 past its critical angle reflects everything.
    EXPECT_EQ(fresnelEntry(1.2f, 0.8f, 0.8f), 1.0f);
    // The two Bravais indices act on the two polarisations separately.
    const float mixed = fresnelEntry(0.0f, 1.8f, 1.3f);
    EXPECT_NEAR(mixed, 0.5 * (std::pow(0.8 / 2.8, 2) + std::pow(0.3 / 2.3, 2)), 1e-6);
}

TEST(ThreeLobeHair, AbsorptionFollowsThePathLength) {
    // Through the centre (γ = 0) at θ = 0 each internal segment is two radii long.
    const Fibre clear = fibre(1.55f, 1.55f), dark = fibre(1.55f, 1.55f, Color4(0.0f, 0.25f, 1.0f, 1.0f));
    for (int p = 1; p <= 2; ++p) {
        const Color4 a0 = lobeAttenuation(p, 0.0f, 0.0f, clear), a = lobeAttenuation(p, 0.0f, 0.0f, dark);
        EXPECT_FLOAT_EQ(a[0], a0[0]);
        EXPECT_NEAR(a[1] / a0[1], std::exp(-2.0 * p * 0.25), 1e-6);
        EXPECT_NEAR(a[2] / a0[2], std::exp(-2.0 * p * 1.0), 1e-6);
    }
    // Clear fibre at normal incidence: TT transmits twice, TRT also reflects once inside.
    const double F = std::pow(0.55 / 2.55, 2);
    EXPECT_NEAR(lobeAttenuation(1, 0.0f, 0.0f, clear)[0], (1 - F) * (1 - F), 1e-6);
    EXPECT_NEAR(lobeAttenuation(2, 0.0f, 0.0f, clear)[0], (1 - F) * (1 - F) * F, 1e-7);
    // Off-centre paths are shorter (2·cos γt), tilted ones longer: both show in the ratio.
    const float g = 0.6f, theta = 0.4f;
    const double gt = std::asin(std::sin(g) / 1.55), ct = std::cos(theta);
    const Color4 a0 = lobeAttenuation(1, g, theta, clear), a = lobeAttenuation(1, g, theta, dark);
    EXPECT_NEAR(a[2] / a0[2], std::exp(-2.0 * std::cos(gt) / ct), 1e-5);
    // The R lobe does not enter the fibre.
    const Color4 r0 = lobeAttenuation(0, g, theta, clear), r = lobeAttenuation(0, g, theta, dark);
    EXPECT_EQ(r[2], r0[2]);
    // An absorption so large the exponent saturates stays finite and non-negative.
    const Color4 opaque = lobeAttenuation(2, 0.1f, 0.0f, fibre(1.55f, 1.55f, Color4(1e30f)));
    for (int lane = 0; lane < 4; ++lane)
        EXPECT_TRUE(std::isfinite(opaque[lane]) && opaque[lane] >= 0);
}

// 4·∫₀^π N_p dφ = ∫₋₁¹ A_p(h) dh: the azimuthal term only redistributes each offset's light.
void expectWidthEnergy(int p, const Fibre& f, float theta, double tolerance) {
    const int n = 20000;
    double sum[3] = {0, 0, 0}, width[3] = {0, 0, 0};
    for (int i = 0; i < n; ++i) {
        const Color4 lhs = azimuthalTerm(p, theta, f, static_cast<float>((i + 0.5) * M_PI / n));
        const float h = static_cast<float>(-1 + (i + 0.5) * 2.0 / n);
        const Color4 a = lobeAttenuation(p, std::asin(h), theta, f);
        for (int lane = 0; lane < 3; ++lane) {
            sum[lane] += lhs[lane] * (M_PI / n) * 4;
            width[lane] += a[lane] * (2.0 / n);
        }
    }
    for (int lane = 0; lane < 3; ++lane)
        EXPECT_NEAR(sum[lane], width[lane], tolerance * width[lane]) << "p=" << p << " lane " << lane;
}

TEST(ThreeLobeHair, AzimuthalTermCarriesTheFibreWidthEnergy) {
    const Color4 sigma(0.0f, 0.3f, 1.0f);
    // R leaves from the far side of the fibre, where the whole width reflects: 4∫N_R = 2.
    double r = 0;
    for (int i = 0; i < 20000; ++i)
        r += azimuthalTerm(0, 0.3f, fibre(1.55f, 1.55f, sigma), (i + 0.5f) * kPi / 20000)[1];
    EXPECT_NEAR(4 * r * M_PI / 20000, 2.0, 1e-4);
    expectWidthEnergy(1, fibre(1.55f, 1.55f, sigma), 0.0f, 2e-3);
    expectWidthEnergy(1, {1.55f, 1.7f, 1.41f, sigma}, 0.3f, 2e-3);
    // TRT has the two caustic singularities; the quadrature gets them to a few percent.
    expectWidthEnergy(2, fibre(1.55f, 1.55f, sigma), 0.0f, 0.03);
    expectWidthEnergy(2, {1.55f, 1.7f, 1.41f, sigma}, 0.3f, 0.03);
}

TEST(ThreeLobeHair, CausticGeometryAtDefaultIndex) {
    // η' = 1.55: c ≈ 0.701, γc ≈ 0.791, hc ≈ 0.711, φc ≈ 0.358 rad (20.5°), curvature ≈ 3.51.
    const float w = 10 * kDegToRad;
    const Caustic k = trtCaustic(1.55f, w, 0.5f, 0.2f);
    const std::pair<float, double> geometry[] = {
        {criticalAngle(1.55f), 0.701}, {k.gammaC, 0.791}, {k.hC, 0.711}, {k.phiC, 0.358}};
    for (const auto& [got, want] : geometry)
        EXPECT_NEAR(got, want, 1e-3) << want;
    EXPECT_FLOAT_EQ(k.deltaH, 0.5f);
    EXPECT_EQ(k.fade, 1.0f);
    // Unlimited, the width is 2·√(2w/d) ≈ 0.631.
    EXPECT_NEAR(trtCaustic(1.55f, w, 10.0f, 0.2f).deltaH, 0.631, 2e-3);
    // The caustic is the stationary point of the exit cubic, where it turns back.
    const double c = criticalAngle(1.55f);
    EXPECT_NEAR(exitSlopeD(2, c, k.gammaC), 0.0, 1e-5);
    EXPECT_NEAR(exitAzimuthD(2, c, k.gammaC) - 2 * M_PI, k.phiC, 2e-4);
}

TEST(ThreeLobeHair, MergedCausticFadesInAtZeroAzimuth) {
    // Once η' ≥ 2 the caustics have merged at γ = 0, which leaves at azimuth 0.
    const float w = 10 * kDegToRad;
    EXPECT_EQ(trtCaustic(2.0f, w, 0.5f, 0.2f).fade, 0.0f);
    EXPECT_NEAR(trtCaustic(2.1f, w, 0.5f, 0.2f).fade, 0.5f, 1e-5);
    EXPECT_EQ(trtCaustic(2.2f, w, 0.5f, 0.2f).fade, 1.0f);
    EXPECT_NEAR(trtCaustic(2.1f, w, 0.5f, 0.4f).fade, 0.103515625f, 1e-5); // u = 1/4
    float last = -1;
    for (float e = 2.0f; e <= 2.3f; e += 0.01f) {
        const Caustic k = trtCaustic(e, w, 0.5f, 0.2f);
        EXPECT_GE(k.fade, last);
        EXPECT_EQ(k.phiC, 0.0f);
        EXPECT_EQ(k.deltaH, 0.5f);
        EXPECT_EQ(k.hC, 0.0f); // the merged caustic leaves through the centre
        last = k.fade;
    }
    // Just below the merge the separate caustics already sit next to azimuth 0.
    EXPECT_LT(trtCaustic(1.999f, w, 0.5f, 0.2f).phiC, 0.01f);

    // Fully faded in, φ = 0 has the glint of both coincident caustics: scale·A_c·Δh·2·G(0).
    const Fibre f = fibre(2.5f, 2.5f, Color4(0.2f));
    const float scale = 2.0f;
    const Color4 n = trtWithGlint(0.0f, f, 0.0f, {w, scale, 0.5f, 0.2f});
    const Color4 ac = lobeAttenuation(2, 0.0f, 0.0f, f);
    const double g0 = 1 / std::sqrt(2 * M_PI * w * w);
    EXPECT_NEAR(n[0], scale * ac[0] * 0.5 * 2 * g0, 1e-5 * n[0]);
    // fade_range matters while the glint fades in.
    const Fibre f2 = fibre(2.1f, 2.1f, Color4(0.2f));
    const float fast = trtWithGlint(0.0f, f2, 0.0f, {w, scale, 0.5f, 0.2f})[0];
    const float slow = trtWithGlint(0.0f, f2, 0.0f, {w, scale, 0.5f, 0.4f})[0];
    EXPECT_GT(std::fabs(fast - slow), 0.1f * std::max(fast, slow));
}

TEST(ThreeLobeHair, GlintBoundsTheCaustic) {
    // The raw root sum peaks without bound at the caustic; the glint keeps TRT within its height.
    const Fibre f = fibre(1.55f, 1.55f, Color4(0.2f));
    const float w = 10 * kDegToRad;
    const Caustic k = trtCaustic(1.55f, w, 0.5f, 0.2f);
    float rawPeak = 0, glintPeak = 0;
    for (int i = 0; i <= 4000; ++i) {
        const float phi = static_cast<float>(i * M_PI / 4000);
        rawPeak = std::max(rawPeak, azimuthalTerm(2, 0.0f, f, phi)[0]);
        glintPeak = std::max(glintPeak, trtWithGlint(0.0f, f, phi, {w, 0.5f, 0.5f, 0.2f})[0]);
    }
    const Color4 ac = lobeAttenuation(2, k.gammaC, 0.0f, f);
    const float glintHeight = 0.5f * ac[0] * k.deltaH * 2 / std::sqrt(kTwoPi * w * w);
    EXPECT_GT(rawPeak, 4 * glintPeak);
    EXPECT_LT(glintPeak, glintHeight + azimuthalTerm(2, 0.0f, f, 0.0f)[0]);
    // Beyond the caustic only the glint's tail is left.
    EXPECT_LT(trtWithGlint(0.0f, f, 1.5f, {w, 0.5f, 0.5f, 0.2f})[0], 1e-3f);
}

} // namespace
} // namespace hair
