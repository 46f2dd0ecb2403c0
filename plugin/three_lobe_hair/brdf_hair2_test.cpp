// BRDFHair2 through the host: the R lobe by hand, and reciprocity of a clear fibre.
#include <gtest/gtest.h>

#include <cmath>

#include "harness/test_support.h"

namespace {

using namespace harness;

// A direction in the strand frame: T = +y, the plane across the strand spanned by x and z.
quor::Vector strandDirection(float theta, float azimuth) {
    return {std::cos(theta) * std::sin(azimuth), std::sin(theta), std::cos(theta) * std::cos(azimuth), 0};
}

// Specular eval for light L seen from V, with the normal on the light's side.
quor::Color specular(ShadingPoint& p, const quor::Vector& L, const quor::Vector& V) {
    p.context().rayDir = {-V.x, -V.y, -V.z, 0};
    p.context().normal = L;
    return p.eval(L, 1, quor::EVAL_SPECULAR);
}

TEST(ThreeLobeHair, ReflectionLobeByHand) {
    // With TT and TRT off, the specular term is the R lobe alone, whose azimuthal part is
    // cos(φ/2)/4: M_R(θh)·cos(φ/2)/4·r_mult / cos²θd, times the light passing the front side.
    PointOptions o;
    o.type = "BRDFHair2";
    o.sets = {
        {"tt_mult", "0"}, {"trt_mult", "0"}, {"r_mult", "2"}, {"r_long_shift", "-8"}, {"r_long_width", "6"}};
    ShadingPoint p(test::library(), o);
    p.shade();
    const float thetaI = 0.25f, thetaR = -0.45f, azI = 0.3f, azR = 1.9f;
    const quor::Color r = specular(p, strandDirection(thetaI, azI), strandDirection(thetaR, azR));
    const double thetaH = (thetaI + thetaR) / 2, thetaD = (thetaI - thetaR) / 2, phi = azR - azI;
    const double alpha = -8 * M_PI / 180, beta = 6 * M_PI / 180;
    const double m = std::exp(-(thetaH - alpha) * (thetaH - alpha) / (2 * beta * beta)) /
                     std::sqrt(2 * M_PI * beta * beta);
    const double expected = m * std::cos(phi / 2) / 4 * 2 / (std::cos(thetaD) * std::cos(thetaD)) * 0.5;
    EXPECT_NEAR(r.r, expected, 1e-5 * expected);
    EXPECT_NEAR(r.b, expected, 1e-5 * expected);
}

TEST(ThreeLobeHair, LightOppositeTheViewAlongTheStrandKeepsTheLimit) {
    // Exactly along ±T, cos θd rounds to −4e-8 and η' is taken from its limit form. For η = 1
    // that limit is 1 (an invisible interface: no R, all of TT), the value of every nearby
    // pair with the same θh and φ = π.
    PointOptions o;
    o.type = "BRDFHair2";
    o.sets = {{"absorption", "0,0,0"}, {"refraction_index", "1"}};
    ShadingPoint p(test::library(), o);
    p.shade();
    const quor::Color along = specular(p, {0, 1, 0, 0}, {0, -1, 0, 0});
    const float halfPi = static_cast<float>(M_PI / 2), d = 1e-4f;
    const quor::Color near =
        specular(p, strandDirection(halfPi - d, 0), strandDirection(d - halfPi, static_cast<float>(M_PI)));
    EXPECT_GT(near.g, 1.0f);
    EXPECT_NEAR(along.g, near.g, 1e-3f * near.g);
}

TEST(ThreeLobeHair, ClearFibreIsReciprocal) {
    // Without absorption every lobe depends on θi and θr only through θh and θd², so swapping
    // the light and the viewer changes nothing.
    PointOptions o;
    o.type = "BRDFHair2";
    o.sets = {{"absorption", "0,0,0"}};
    ShadingPoint p(test::library(), o);
    p.shade();
    int lit = 0;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 5; ++j)
            for (int k = 0; k < 9; ++k) {
                const float ti = -1.2f + 0.4f * i, tr = -1.1f + 0.55f * j, az = 0.7f * k;
                const quor::Vector A = strandDirection(ti, 0.3f), B = strandDirection(tr, 0.3f + az);
                const quor::Color ab = specular(p, A, B), ba = specular(p, B, A);
                lit += ab.g > 0;
                EXPECT_NEAR(ab.g, ba.g, 1e-3 * std::fabs(ab.g) + 1e-6) << ti << " " << tr << " " << az;
            }
    EXPECT_GT(lit, 7 * 5 * 9 / 2);
}

} // namespace
