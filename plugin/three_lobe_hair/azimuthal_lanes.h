// The azimuthal terms' lane code, for the functions of azimuthal.cpp and the material's eval
// kernel, which inline it: the paths of one evaluation side by side in eight lanes.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstring>

#include "math/fast_math.h"
#include "math/numeric.h"
#include "math/wide_math.h"
#include "three_lobe_hair/azimuthal.h"

namespace hair {
namespace azimuthal {
namespace lanes {

// Every function below that takes lanes takes a plain float as well, with the same answers.
template <class F> HAIR_LANES F splat(float v) { return F{} + v; }
HAIR_LANES float rootOf(float x) { return std::sqrt(x); }
HAIR_LANES f8 rootOf(f8 x) { return sqrtLanes(x); }
// std::max and std::min per lane, NaN included: max(a, b) is b only where a < b, min(a, b) is
// b only where b < a.
template <class F> HAIR_LANES F maxOf(F a, F b) { return a < b ? b : a; }
template <class F> HAIR_LANES F minOf(F a, F b) { return b < a ? b : a; }
template <class F> HAIR_LANES F absOf(F a) { return a < 0.0f ? -a : a; }

// F = (r_s² + r_p²)/2, clamped.
template <class F> HAIR_LANES F fresnelMean(F rs, F rp) {
    return minOf(maxOf((rs * rs + rp * rp) * 0.5f, splat<F>(0.0f)), splat<F>(1.0f));
}

// The two reflectances from the cosine of the angle, which the paths have at hand. A branch
// not taken in a lane may compute a NaN there, which the selection drops.
template <class F> HAIR_LANES F entryFromCos(F c, float etaP, float etaPP) {
    const F s2 = 1.0f - c * c;
    const float ip = 1.0f / etaP, ipp = 1.0f / etaPP;
    const F ks = 1.0f - ip * ip * s2;
    const F ts = etaP * rootOf(ks);
    F rs = ks < 0.0f ? splat<F>(1.0f) : (c - ts) / (ts + c);
    const F kp = 1.0f - ipp * ipp * s2;
    const F r = rootOf(kp), tp = etaPP * c;
    F rp = kp < 0.0f ? splat<F>(1.0f) : (r - tp) / (tp + r);
    const auto normal = c >= 1.0f;
    rs = normal ? splat<F>((1.0f - etaP) / (1.0f + etaP)) : rs;
    rp = normal ? splat<F>((1.0f - etaPP) / (1.0f + etaPP)) : rp;
    return fresnelMean(rs, rp);
}

template <class F> HAIR_LANES F internalFromCos(F c, float etaP, float etaPP) {
    const F s2 = 1.0f - c * c;
    const F ks = 1.0f - etaP * etaP * s2;
    const F r = rootOf(ks), ts = etaP * c;
    F rs = ks < 0.0f ? splat<F>(1.0f) : (ts - r) / (ts + r);
    const F kp = 1.0f - etaPP * etaPP * s2;
    const F tp = etaPP * rootOf(kp);
    F rp = kp < 0.0f ? splat<F>(1.0f) : (tp - c) / (c + tp);
    const auto normal = c >= 1.0f;
    rs = normal ? splat<F>((etaP - 1.0f) / (etaP + 1.0f)) : rs;
    rp = normal ? splat<F>((etaPP - 1.0f) / (etaPP + 1.0f)) : rp;
    return fresnelMean(rs, rp);
}

// The paths of one evaluation side by side: lane 0 the R path, lanes 1-3 the TT paths, 4-6 the
// TRT paths, 7 the path of the TRT caustic. Each lane's number of internal segments p:
constexpr f8 kLaneSegments = {0, 1, 1, 1, 2, 2, 2, 2};

// The attenuation of each lane's path of p segments with incidence sin γ = h, cos γ = cosG, but
// for its absorption: A = factor · e^(−σ·len·p). ct is the cosine of the longitudinal
// refraction angle, which stretches the internal path.
HAIR_LANES void pathLanes(f8 h, f8 cosG, f8 p, float ct, const Fibre& f, f8& factor, f8& len) {
    const f8 fOut = entryFromCos(cosG, f.etaP, f.etaPP);
    // sin γt = h/η', and cos γt of the angle γt rounded to float: one cosine for the path
    // length and the internal reflectance. (Not √(1 − sin²γt): at large η' the internal
    // reflectance cancels 1 − cos²γt against 1/η'², and answers the rounding of cos γt with
    // changes of several percent, so cos γt has the bits of the float angle's.)
    const f8 st = minOf(maxOf(h / f.etaP, splat<f8>(-1.0f)), splat<f8>(1.0f));
    d4 lo, hi;
    widen(st, lo, hi);
    const f8 cosT = narrow(cosOfFloatAsin(lo), cosOfFloatAsin(hi));
    len = -2.0f * cosT / ct;
    const f8 fIn = internalFromCos(cosT, f.etaP, f.etaPP);
    const f8 through = (1.0f - fOut) * (1.0f - fIn);
    factor = p == 0.0f ? fOut : (p == 2.0f ? through * fIn : through);
}

// e^(−σ·len·p) for one channel σ, the exponent clamped as the colour's (NaN to the low end).
HAIR_LANES f8 absorptionLanes(float sigma, f8 len, f8 p) {
    f8 x = sigma * len * p;
    x = x > -kMaxExp ? x : splat<f8>(-kMaxExp);
    x = x < kMaxExp ? x : splat<f8>(kMaxExp);
    return expLanesOf(p == 0.0f ? f8{} : x); // R does not enter the fibre
}

// The cosine of the longitudinal refraction angle, which stretches the internal paths.
inline float refractedCos(const Fibre& f, float cosTheta) {
    return std::max(1e-12f, clampf((f.etaP / f.eta) * cosTheta, -1.0f, 1.0f));
}

// asin(sin x): x folded into [−π/2, π/2] (up to its sign, which the caller squares away).
HAIR_LANES d4 foldHalfTurn(d4 x) {
    const d4 t = x * 0.3183098861837907 + wide::kShift;
    const d4 j = t - wide::kShift;
    return (x - j * 3.141592653589793) - j * 1.2246467991473532e-16;
}

// Where the TRT caustic sits and how far it has faded in: Caustic without hC and deltaH.
struct CausticShape {
    float gammaC, fade, phiC;
    bool merged;
};

inline CausticShape causticShape(float c, float etaP, float fadeRange) {
    CausticShape k;
    const float a = 12.0f * c / kPi - 2.0f;
    if (etaP < 2.0f) {
        k.gammaC = std::sqrt(a / (48.0f * c / kPiCubed));
        k.fade = 1.0f;
        k.merged = false;
    } else {
        // A fade range of 0 is a step; at η' = 2 exactly its 0/0 counts as not faded in.
        const float x = (etaP - 2.0f) / fadeRange;
        const float u = x > 0.0f ? std::min(x, 1.0f) : 0.0f;
        k.fade = u * u * u * (u * (6.0f * u - 15.0f) + 10.0f);
        k.gammaC = 0.0f;
        k.merged = true;
    }
    // γc lies in [0, 1.29], where asin(sin γc) is γc itself.
    const float gamma = k.gammaC;
    k.phiC = (a - 16.0f * c / kPiCubed * gamma * gamma) * gamma + kTwoPi;
    // Separate caustics land just above 2π and come back to their small azimuth. Merged ones
    // give exactly 2π: the stationary point of Φ(2, γ) is then γ = 0, which exits at azimuth 0,
    // so we bring that back to 0 too. Left at 2π the glint would sit a full turn away from
    // every φ in [0, π] and fade_range would do nothing; at 0 it continues the separate
    // caustic, whose azimuth tends to 0 as η' rises to 2.
    if (k.phiC >= kTwoPi) k.phiC -= kTwoPi;
    return k;
}

// Δh of separate caustics from the curvature of Φ at the caustic, h = hC.
inline float causticWidth(float c, float gamma, float hC, float width, float causticLimit) {
    const float root = std::sqrt(1.0f - hC * hC);
    const float d = std::fabs(-96.0f * c / kPiCubed * gamma * hC / std::max(1e-12f, (1.0f - hC * hC) * root));
    return std::min(causticLimit, 2.0f * std::sqrt(2.0f * width / d));
}

// N_R, N_TT and N_TRT for the critical angle c and cos θi of the evaluation: every path in one
// lane, so that each step runs once for all of them. Without a glint, N_TRT is the bare root
// sum. The eight lanes take one 256-bit pass where the CPU has AVX2, two 128-bit halves
// otherwise, with the same bits.
HAIR_LANES int exitRootsOf(int p, float c, float phi, float roots[3]) {
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
    // The monic cubic γ³ + K1·γ + K0: its γ² coefficient is 0, so the closed form below is the
    // depressed cubic's.
    const float K1 = (6.0f * fp * c / kPi - 2.0f) / a3;
    const float K0 = (fp * kPi - phi) / a3;

    if (std::fabs(K0) < 1e-16f) {
        // φ sits exactly on the lobe's symmetry azimuth (TT at π, TRT at 0) and the cubic
        // factors into γ·(γ² + K1). We keep the root γ = 0 of the factor γ as well:
        // it is the straight path through the fibre centre, and without it N_TT would drop
        // from its full value to 0 at φ = π exactly, while for φ a hair away the closed form
        // finds that path. It goes last, where the closed form puts its middle root.
        int n = 0;
        const float disc = -4.0f * K1;
        if (disc > 0.0f) {
            const float s = std::sqrt(disc);
            roots[n++] = s / 2.0f;
            roots[n++] = -s / 2.0f;
        } else if (std::fabs(disc) < std::max(1e-12f * std::fabs(disc), 1e-12f)) {
            roots[n++] = 0.0f; // the triple root at 0: the factor's root is this one
            return n;
        }
        roots[n++] = 0.0f;
        return n;
    }

    const float Q = 3.0f * K1 / 9.0f;
    const float R = -27.0f * K0 / 54.0f;
    const float dsc = R * R + Q * Q * Q;
    if (dsc > 0.0f) {
        // One real root, cbrt(R + √Dsc) + cbrt(R − √Dsc). Of the two radicands the one where
        // R and √Dsc cancel is taken from the other through their product −Q³, so that its
        // cube root, which would magnify the cancellation, stays accurate: written directly,
        // near η' = 2 (Q → 0) the root is off by up to 1e-2.
        const float s = std::sqrt(dsc);
        const float big = R + (R < 0.0f ? -s : s);
        const float t = (big > 0.0f ? 1.0f : (big < 0.0f ? -1.0f : 0.0f)) * cbrtPrecise(std::fabs(big));
        roots[0] = t - Q / t;
        return 1;
    }
    const float psi = acosPrecise(R / std::sqrt(-(Q * Q * Q)));
    const float m = 2.0f * std::sqrt(-Q);
    // The three cosines side by side.
    d4 sines, cosines;
    sincosWide(d4{psi / 3.0f, (psi + kTwoPi) / 3.0f, (psi + kFourPi) / 3.0f, 0.0}, sines, cosines);
    for (int k = 0; k < 3; ++k)
        roots[k] = m * static_cast<float>(cosines[k]);
    return 3;
}

// N_R, N_TT and N_TRT for the critical angle c and cos θi of the evaluation: every path in one
// lane, so that each step runs once for all of them. Without a glint, N_TRT is the bare root
// sum. For HAIR_LANE_KERNEL functions: the eight lanes take one 256-bit pass where the CPU has
// AVX2, two 128-bit halves otherwise, with the same bits.
HAIR_LANES void lobeSumsOf(float c, float cosTheta, const Fibre& f, float phi, const Glint* g,
                           LobeTerms& out) {
    float gam[8] = {};
    int use[8] = {};
    use[0] = exitRootsOf(0, c, phi, gam) > 0 ? -1 : 0;
    const int nTT = exitRootsOf(1, c, phi, gam + 1), nTRT = exitRootsOf(2, c, phi, gam + 4);
    for (int k = 0; k < 3; ++k) {
        use[1 + k] = k < nTT ? -1 : 0;
        use[4 + k] = k < nTRT ? -1 : 0;
    }
    CausticShape shape{};
    if (g) {
        shape = causticShape(c, f.etaP, g->fadeRange);
        gam[7] = shape.gammaC;
        use[7] = -1;
    }
    // Built lane by lane from the scalars (one wide load of eight scalar stores would wait for
    // them to reach the cache).
    const f8 gamma = {gam[0], gam[1], gam[2], gam[3], gam[4], gam[5], gam[6], gam[7]};
    const i8 used = {use[0], use[1], use[2], use[3], use[4], use[5], use[6], use[7]};

    // sin γ, cos γ and asin(sin γ) of every path in double, rounded.
    d4 lo, hi, slo, shi, clo, chi;
    widen(gamma, lo, hi);
    sincosWide(lo, slo, clo);
    sincosWide(hi, shi, chi);
    const f8 h = narrow(slo, shi), cosG = narrow(clo, chi), gp = narrow(foldHalfTurn(lo), foldHalfTurn(hi));

    const f8 p = kLaneSegments;
    f8 factor, len;
    pathLanes(h, cosG, p, refractedCos(f, cosTheta), f, factor, len);
    // Each root's share: the path's attenuation divided by 2·|dΦ/dh|.
    const f8 slope = 6.0f * p * c / kPi - 2.0f;
    const f8 curve = p * c / kPiCubed;
    const f8 q = maxOf(splat<f8>(1e-5f), sqrtLanes(1.0f - h * h));
    // factor / max(1e-5, 2·|dΦ/dh|) with dΦ/dh = slope'/q, in one division.
    const f8 slopeH = slope - 24.0f * gp * gp * curve;
    f8 w = factor * q / maxOf(1e-5f * q, 2.0f * absOf(slopeH));

    if (g) {
        // The caustic peaks of the root sum give way to the glint of bounded width Δh.
        const float deltaH = shape.merged
                                 ? g->causticLimit
                                 : causticWidth(c, shape.gammaC, std::fabs(h[7]), g->width, g->causticLimit);
        const float wg = floorWidth(g->width);
        const float norm = std::sqrt(kTwoPi * wg * wg);
        const float twoW2 = 2.0f * wg * wg;
        const float xm = phi - shape.phiC, xp = phi + shape.phiC;
        const d4 e = expWide(d4{-(xm * xm) / twoW2, -(xp * xp) / twoW2, 0.0, 0.0});
        const float gm = static_cast<float>(e[0]) / norm, gpl = static_cast<float>(e[1]) / norm;
        const float g0 = 1.0f / norm; // the Gaussian at 0: e^0 = 1
        const float keep = (1.0f - shape.fade * gm / g0) * (1.0f - shape.fade * gpl / g0);
        w *= f8{1.0f, 1.0f, 1.0f, 1.0f, keep, keep, keep, 1.0f};
        // The caustic's own path carries the glint instead of a root's share.
        w[7] = factor[7] * (shape.fade * g->scale * deltaH * (gm + gpl));
    }
    w = used ? w : f8{};

    // Each channel's shares, then turned into one colour per lane: u0 = lanes 0 | 4,
    // u1 = 1 | 5, u2 = 2 | 6, u3 = 3 | 7.
    // A channel with its neighbour's absorption (grey hair, and the fourth lane, which repeats
    // blue) takes its neighbour's shares.
    const f8 vr = w * absorptionLanes(f.sigma[0], len, p);
    const f8 vg = f.sigma[1] == f.sigma[0] ? vr : w * absorptionLanes(f.sigma[1], len, p);
    const f8 vb = f.sigma[2] == f.sigma[1] ? vg : w * absorptionLanes(f.sigma[2], len, p);
    const f8 va = f.sigma[3] == f.sigma[2] ? vb : w * absorptionLanes(f.sigma[3], len, p);
    const f8 t0 = __builtin_shufflevector(vr, vg, 0, 8, 1, 9, 4, 12, 5, 13);
    const f8 t1 = __builtin_shufflevector(vr, vg, 2, 10, 3, 11, 6, 14, 7, 15);
    const f8 t2 = __builtin_shufflevector(vb, va, 0, 8, 1, 9, 4, 12, 5, 13);
    const f8 t3 = __builtin_shufflevector(vb, va, 2, 10, 3, 11, 6, 14, 7, 15);
    const f8 u0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
    const f8 u1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
    const f8 u2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
    const f8 u3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
    // Lanes 1 + 2 + 3 (TT) below, 5 + 6 + 7 above; TRT adds lane 4.
    const f8 tail = (u1 + u2) + u3;
    out.r = Color4(__builtin_shufflevector(u0, u0, 0, 1, 2, 3));
    out.tt = Color4(__builtin_shufflevector(tail, tail, 0, 1, 2, 3));
    out.trt =
        Color4(__builtin_shufflevector(u0, u0, 4, 5, 6, 7) + __builtin_shufflevector(tail, tail, 4, 5, 6, 7));
}

} // namespace lanes
} // namespace azimuthal
} // namespace hair
