#include "three_lobe_hair/azimuthal.h"

#include <algorithm>
#include <cmath>

#include "math/fast_math.h"
#include "math/numeric.h"

namespace hair {
namespace azimuthal {

namespace {

float sgn(float x) { return x > 0.0f ? 1.0f : (x < 0.0f ? -1.0f : 0.0f); }

// F = (r_s² + r_p²)/2, clamped.
float fresnelMean(float rs, float rp) { return clampf((rs * rs + rp * rp) * 0.5f, 0.0f, 1.0f); }

// The two reflectances from the cosine of the angle, which the paths have at hand.
float entryFromCos(float c, float etaP, float etaPP) {
    float rs, rp;
    if (c >= 1.0f) {
        rs = (1.0f - etaP) / (1.0f + etaP);
        rp = (1.0f - etaPP) / (1.0f + etaPP);
    } else {
        const float s2 = 1.0f - c * c;
        const float ip = 1.0f / etaP, ipp = 1.0f / etaPP;
        const float ks = 1.0f - ip * ip * s2;
        if (ks < 0.0f) {
            rs = 1.0f;
        } else {
            const float t = etaP * std::sqrt(ks);
            rs = (c - t) / (t + c);
        }
        const float kp = 1.0f - ipp * ipp * s2;
        if (kp < 0.0f) {
            rp = 1.0f;
        } else {
            const float r = std::sqrt(kp), t = etaPP * c;
            rp = (r - t) / (t + r);
        }
    }
    return fresnelMean(rs, rp);
}

float internalFromCos(float c, float etaP, float etaPP) {
    float rs, rp;
    if (c >= 1.0f) {
        rs = (etaP - 1.0f) / (etaP + 1.0f);
        rp = (etaPP - 1.0f) / (etaPP + 1.0f);
    } else {
        const float s2 = 1.0f - c * c;
        const float ks = 1.0f - etaP * etaP * s2;
        if (ks < 0.0f) {
            rs = 1.0f;
        } else {
            const float r = std::sqrt(ks), t = etaP * c;
            rs = (t - r) / (t + r);
        }
        const float kp = 1.0f - etaPP * etaPP * s2;
        if (kp < 0.0f) {
            rp = 1.0f;
        } else {
            const float t = etaPP * std::sqrt(kp);
            rp = (t - c) / (c + t);
        }
    }
    return fresnelMean(rs, rp);
}

} // namespace

float criticalAngle(float etaP) { return safeAsin(1.0f / etaP); }

int exitRoots(int p, float c, float phi, float roots[3]) {
    if (p == 0) {
        // Φ(0, γ) = −2γ, taken one turn down so that the root lies in [π/2, π].
        roots[0] = -(phi - kTwoPi) / 2.0f;
        return 1;
    }
    if (p == 1) {
        if (phi < 0.0f) phi += kTwoPi;
    } else if (!(phi > kPi)) {
        phi += phi < -kPi ? kFourPi : kTwoPi;
    }
    const float fp = static_cast<float>(p);
    const float a3 = (c * fp / kPiCubed) * -8.0f;
    if (std::fabs(a3) < 1e-12f) {
        if (std::fabs(fp * kPi - phi) < 1e-12f) return 0;
        roots[0] = 0.0f;
        return 1;
    }
    // Monic cubic γ³ + K2·γ² + K1·γ + K0; K2 is kept to mirror the general closed form.
    const float K2 = 0.0f;
    const float K1 = (6.0f * fp * c / kPi - 2.0f) / a3;
    const float K0 = (fp * kPi - phi) / a3;

    if (std::fabs(K0) < 1e-16f) {
        // φ sits exactly on the lobe's symmetry azimuth (TT at π, TRT at 0) and the cubic
        // factors into γ·(γ² + K2·γ + K1). We keep the root γ = 0 of the factor γ as well:
        // it is the straight path through the fibre centre, and without it N_TT would drop
        // from its full value to 0 at φ = π exactly, while for φ a hair away the closed form
        // finds that path. It goes last, where the closed form puts its middle root.
        int n = 0;
        const float disc = K2 * K2 - 4.0f * K1;
        if (disc > 0.0f) {
            const float s = std::sqrt(disc);
            roots[n++] = (s - K2) / 2.0f;
            roots[n++] = -(K2 + s) / 2.0f;
        } else if (std::fabs(disc) < std::max(1e-12f * std::fabs(disc), 1e-12f)) {
            roots[n++] = -K2 / 2.0f; // the triple root at 0: the factor's root is this one
            return n;
        }
        roots[n++] = 0.0f;
        return n;
    }

    const float Q = (3.0f * K1 - K2 * K2) / 9.0f;
    const float R = ((9.0f * K1 - 2.0f * K2 * K2) * K2 - 27.0f * K0) / 54.0f;
    const float dsc = R * R + Q * Q * Q;
    if (dsc > 0.0f) {
        // One real root, cbrt(R + √Dsc) + cbrt(R − √Dsc). Of the two radicands the one where
        // R and √Dsc cancel is taken from the other through their product −Q³, so that its
        // cube root, which would magnify the cancellation, stays accurate: written directly,
        // near η' = 2 (Q → 0) the root is off by up to 1e-2.
        const float s = std::sqrt(dsc);
        const float big = R + (R < 0.0f ? -s : s);
        const float t = sgn(big) * std::cbrt(std::fabs(big));
        roots[0] = -K2 / 3.0f + t - Q / t;
        return 1;
    }
    const float psi = safeAcos(R / std::sqrt(-(Q * Q * Q)));
    const float m = 2.0f * std::sqrt(-Q);
    roots[0] = m * std::cos(psi / 3.0f) - K2 / 3.0f;
    roots[1] = m * std::cos((psi + kTwoPi) / 3.0f) - K2 / 3.0f;
    roots[2] = m * std::cos((psi + kFourPi) / 3.0f) - K2 / 3.0f;
    return 3;
}

// The cosine is even (cos |x| and cos x agree to the bit); the library's own is taken.
float fresnelEntry(float gamma, float etaP, float etaPP) {
    return entryFromCos(std::cos(std::fabs(gamma)), etaP, etaPP);
}

float fresnelInternal(float gammaT, float etaP, float etaPP) {
    return internalFromCos(std::cos(std::fabs(gammaT)), etaP, etaPP);
}

namespace {

// lobeAttenuation with sin γ, cos γ (one sincos call) and cos θ, which every path of one
// evaluation shares, given.
Color4 attenuation(int p, float sinGamma, float cosGamma, float cosTheta, const Fibre& f) {
    const float fOut = entryFromCos(cosGamma, f.etaP, f.etaPP);
    if (p == 0) return Color4(fOut);
    const float gammaT = safeAsin(sinGamma / f.etaP);
    // Cosine of the longitudinal refraction angle: the internal path is stretched by 1/ct.
    const float ct = std::max(1e-12f, clampf((f.etaP / f.eta) * cosTheta, -1.0f, 1.0f));
    // One cosine serves the path length and the internal reflectance.
    const float cosGammaT = std::cos(gammaT);
    const float len = -2.0f * cosGammaT / ct;
    const Color4 x = clampLanes(f.sigma * len * static_cast<float>(p), -kMaxExp, kMaxExp);
    const Color4 trans = fastExp(x);
    const float fIn = internalFromCos(cosGammaT, f.etaP, f.etaPP);
    Color4 a = trans * (1.0f - fOut) * (1.0f - fIn);
    if (p == 2) a *= fIn;
    return a;
}

// N_p for the critical angle c and cos θi of the evaluation.
Color4 rootSum(int p, float c, float cosTheta, const Fibre& f, float phi) {
    float roots[3];
    const int n = exitRoots(p, c, phi, roots);
    const float fp = static_cast<float>(p);
    const float slope = 6.0f * fp * c / kPi - 2.0f;
    const float curve = fp * c / kPiCubed;
    Color4 sum(0.0f);
    for (int k = 0; k < n; ++k) {
        const float gamma = roots[k];
        float h, cosGamma;
        ::sincosf(gamma, &h, &cosGamma);
        const Color4 a = attenuation(p, h, cosGamma, cosTheta, f);
        const float gp = safeAsin(h);
        const float q = std::max(1e-5f, std::sqrt(1.0f - h * h));
        const float dPhidH = (slope - 24.0f * gp * gp * curve) / q;
        sum += a / std::max(1e-5f, 2.0f * std::fabs(dPhidH));
    }
    return sum;
}

// N_TRT with the caustic peaks removed and the glint added.
Color4 trtTerm(float c, float cosTheta, const Fibre& f, float phi, const Glint& g) {
    const Caustic k = trtCaustic(f.etaP, g.width, g.causticLimit, g.fadeRange);
    const float w = floorWidth(g.width);
    const float norm = std::sqrt(kTwoPi * w * w);
    const float twoW2 = 2.0f * w * w;
    auto gauss = [&](float x) { return std::exp(-(x * x) / twoW2) / norm; };
    const float g0 = gauss(0.0f);
    const float gm = gauss(phi - k.phiC);
    const float gp = gauss(phi + k.phiC);
    Color4 n = rootSum(2, c, cosTheta, f, phi) * (1.0f - k.fade * gm / g0) * (1.0f - k.fade * gp / g0);
    float sinC, cosC;
    ::sincosf(k.gammaC, &sinC, &cosC);
    const Color4 ac = attenuation(2, sinC, cosC, cosTheta, f);
    n += ac * (k.fade * g.scale) * k.deltaH * (gm + gp);
    return n;
}

} // namespace

Color4 lobeAttenuation(int p, float gamma, float theta, const Fibre& f) {
    float sinGamma, cosGamma;
    ::sincosf(gamma, &sinGamma, &cosGamma);
    return attenuation(p, sinGamma, cosGamma, std::cos(theta), f);
}

Color4 azimuthalTerm(int p, float thetaI, const Fibre& f, float phi) {
    return rootSum(p, criticalAngle(f.etaP), std::cos(thetaI), f, phi);
}

Caustic trtCaustic(float etaP, float width, float causticLimit, float fadeRange) {
    Caustic k;
    const float c = criticalAngle(etaP);
    const float a = 12.0f * c / kPi - 2.0f;
    float gamma;
    if (etaP < 2.0f) {
        k.gammaC = std::sqrt(a / (48.0f * c / kPiCubed));
        k.hC = std::fabs(std::sin(k.gammaC));
        gamma = safeAsin(k.hC);
        const float root = std::sqrt(1.0f - k.hC * k.hC);
        const float d =
            std::fabs(-96.0f * c / kPiCubed * gamma * k.hC / std::max(1e-12f, (1.0f - k.hC * k.hC) * root));
        k.deltaH = std::min(causticLimit, 2.0f * std::sqrt(2.0f * width / d));
        k.fade = 1.0f;
    } else {
        // A fade range of 0 is a step; at η' = 2 exactly its 0/0 counts as not faded in.
        const float x = (etaP - 2.0f) / fadeRange;
        const float u = x > 0.0f ? std::min(x, 1.0f) : 0.0f;
        k.fade = u * u * u * (u * (6.0f * u - 15.0f) + 10.0f);
        k.gammaC = 0.0f;
        k.hC = 0.0f;
        gamma = 0.0f;
        k.deltaH = causticLimit;
    }
    k.phiC = (a - 16.0f * c / kPiCubed * gamma * gamma) * gamma + kTwoPi;
    // Separate caustics land just above 2π and come back to their small azimuth. Merged ones
    // give exactly 2π: the stationary point of Φ(2, γ) is then γ = 0, which exits at azimuth 0,
    // so we bring that back to 0 too. Left at 2π the glint would sit a full turn away from
    // every φ in [0, π] and fade_range would do nothing; at 0 it continues the separate
    // caustic, whose azimuth tends to 0 as η' rises to 2.
    if (k.phiC >= kTwoPi) k.phiC -= kTwoPi;
    return k;
}

Color4 trtWithGlint(float thetaI, const Fibre& f, float phi, const Glint& g) {
    return trtTerm(criticalAngle(f.etaP), std::cos(thetaI), f, phi, g);
}

LobeTerms azimuthalTerms(float thetaI, const Fibre& f, float phi, const Glint& g) {
    // c and cos θi are the same for every path of the evaluation.
    const float c = criticalAngle(f.etaP), cosTheta = std::cos(thetaI);
    return {rootSum(0, c, cosTheta, f, phi), rootSum(1, c, cosTheta, f, phi),
            trtTerm(c, cosTheta, f, phi, g)};
}

} // namespace azimuthal
} // namespace hair
