// Hair4BSDF: evaluation, sampling and forward tracing. The set-up is in hair4_setup.cpp.
#include "production_hair/hair4_bsdf.h"

#include <cmath>

#include "math/fast_atan2.h"

namespace hair {

namespace hair4 {

namespace {

constexpr float kInv2Pi = 0.15915494f;
constexpr float kInv4Pi = 1.0f / 12.566371f;

// Σ (x²/4)^k/(k!)² for k = 0..10, in Horner form in x²; one body for a float and for four lanes.
template <class T> inline T i0Series(T x) {
    T y = x * x;
    T r = T{} + 1.0f / 13807847341517963264.0f;
    r = r * y + 1.0f / 34519618525593600.0f;
    r = r * y + 1.0f / 106542032486400.0f;
    r = r * y + 1.0f / 416179814400.0f;
    r = r * y + 1.0f / 2.1233664e9f;
    r = r * y + 1.0f / 1.47456e7f;
    r = r * y + 1.0f / 147456.0f;
    r = r * y + 1.0f / 2304.0f;
    r = r * y + 1.0f / 64.0f;
    r = r * y + 1.0f / 4.0f;
    return r * y + 1.0f;
}

inline float logI0Asymptotic(float x) {
    return x + 0.5f * (1.0f / (8.0f * x) - 1.837877f + std::log(1.0f / x));
}

// The trimmed logistic's bounds c+ and c-; each is 0 where its exponent would pass 20.
inline void logisticBounds(float s, float& cPlus, float& cMinus) {
    float k = kPi / s;
    cPlus = -k > 20.0f ? 0.0f : 1.0f / (std::exp(-k) + 1.0f);
    cMinus = k > 20.0f ? 0.0f : 1.0f / (std::exp(k) + 1.0f);
}

} // namespace

float besselI0(float x) { return i0Series(x); }

float logBesselI0(float x) { return x > 12.0f ? logI0Asymptotic(x) : std::log(i0Series(x)); }

float longitudinal(float v, float a, float b) {
    if (v <= 0.1f) return std::exp(logBesselI0(a) - b - 1.0f / v + 0.6931f + std::log(1.0f / (2.0f * v)));
    return std::exp(-b) * i0Series(a) / (2.0f * v * std::sinh(1.0f / v));
}

float wrapPi(float x) {
    // Only far-out angles need more than a turn or two; bring those in at once.
    if (!(std::fabs(x) <= 64.0f)) x = std::isfinite(x) ? std::remainder(x, kTwoPi) : 0.0f;
    while (x > kPi)
        x -= kTwoPi;
    while (x < -kPi)
        x += kTwoPi;
    return x;
}

float trimmedLogistic(float x, float s) {
    x = wrapPi(x);
    float e = std::exp(-std::fabs(x) / s);
    float l = e / (s * sqr(1.0f + e));
    float cPlus, cMinus;
    logisticBounds(s, cPlus, cMinus);
    return l / (cPlus - cMinus);
}

float sampleTrimmedLogistic(float u, float s) {
    float cPlus, cMinus;
    logisticBounds(s, cPlus, cMinus);
    float x = -s * std::log(1.0f / (u * (cPlus - cMinus) + cMinus) - 1.0f);
    return clampf(x, -kPi, kPi);
}

float fresnel(float eta, float x) {
    // At grazing incidence (x = 0) everything is reflected; the formulas below would give 0/0
    // for eta = 1.
    if (!(x > 0.0f)) return 1.0f;
    float sinT = std::sqrt(std::max(1.0f - x * x, 0.0f)) / eta;
    if (sinT > 1.0f) return 1.0f;
    float cosT = std::sqrt(1.0f - sinT * sinT);
    float rs = (eta * cosT - x) / (eta * cosT + x);
    float rp = (eta * x - cosT) / (cosT + eta * x);
    return (rs * rs + rp * rp) * 0.5f;
}

} // namespace hair4

using namespace hair4;

namespace {

inline f4 splat4(float x) { return f4{x, x, x, x}; }

inline f4 floorLanes(f4 x) {
    f4 t = __builtin_convertvector(__builtin_convertvector(x, i4), f4);
    return t > x ? t - 1.0f : t;
}

inline f4 absLanes(f4 x) { return x < 0.0f ? -x : x; }

// Mp of four lobes for one incoming direction; both branches of hair4::longitudinal().
inline f4 mpLanes(const Hair4BSDF::LobePack& l, f4 cosI, f4 sinI) {
    f4 a = l.cosO * cosI / l.v;
    f4 b = l.sinO * sinI / l.v;
    f4 i0 = i0Series(a);
    auto big = a > 12.0f;
    // One logarithm serves both forms of ln I0: of 1/x above 12, of the series below.
    f4 lg = logLanes(big ? 1.0f / a : i0);
    f4 lnI0 = big ? a + 0.5f * (1.0f / (8.0f * a) - 1.837877f + lg) : lg;
    auto small = l.v <= 0.1f;
    f4 m = expLanes(small ? lnI0 - b - l.invV + l.logConst : -b);
    return small ? m : m * i0 * l.norm;
}

// Trimmed logistic of four lobes at azimuth phi.
inline f4 tlLanes(const Hair4BSDF::LobePack& l, f4 phi) {
    f4 x = phi - l.centre;
    x -= floorLanes(x * 0.15915494f + 0.5f) * kTwoPi; // whole turns off
    f4 e = expLanes(-absLanes(x) * l.invS);
    f4 d = 1.0f + e;
    return e * l.tlNorm / (d * d);
}

} // namespace

void Hair4BSDF::finishLobes() {
    // The transcendental constants of all six lobes in two four-lane batches.
    float logConst[8], norm[8];
    const f4 vv[2] = {{lobeVariance[0], lobeVariance[1], lobeVariance[2], lobeVariance[3]},
                      {lobeVariance[4], lobeVariance[5], 1.0f, 1.0f}};
    const f4 ss[2] = {{lobeScale[0], lobeScale[1], lobeScale[2], lobeScale[3]},
                      {lobeScale[4], lobeScale[5], 1.0f, 1.0f}};
    for (int b = 0; b < 2; ++b) {
        f4 v = vv[b], inv = 1.0f / v;
        f4 lc = logLanes(1.0f / (2.0f * v)) + 0.6931f;
        // Two exponentials give all four: e^(-x) = 1/e^x, e^(-2/v) = (e^(-1/v))².
        f4 ep = expLanes(inv), en = 1.0f / ep;
        f4 nm = 1.0f / (v * (ep - en)); // 1/(2v·sinh(1/v))
        f4 e2 = en * en;
        f4 k = kPi / ss[b];
        f4 ekn = expLanes(-k), ekp = 1.0f / ekn;
        f4 cPlus = -k > 20.0f ? splat4(0.0f) : 1.0f / (ekn + 1.0f);
        f4 cMinus = k > 20.0f ? splat4(0.0f) : 1.0f / (ekp + 1.0f);
        for (int i = 0; i < 4; ++i) {
            int lobe = b * 4 + i;
            logConst[lobe] = lc[i];
            norm[lobe] = nm[i];
            if (lobe < kLobes) {
                expM2V[lobe] = e2[i];
                tlCMinus[lobe] = cMinus[i];
                tlCSpan[lobe] = cPlus[i] - cMinus[i];
            }
        }
    }
    auto fill = [&](LobePack& p, const int(&lobes)[4], const float(&centre)[4]) {
        for (int i = 0; i < 4; ++i) {
            int k = lobes[i];
            p.cosO[i] = lobeCosThetaO[k];
            p.sinO[i] = lobeSinThetaO[k];
            p.v[i] = lobeVariance[k];
            p.invV[i] = 1.0f / lobeVariance[k];
            p.logConst[i] = lobeVariance[k] <= 0.1f ? logConst[k] : 0.0f;
            p.norm[i] = lobeVariance[k] > 0.1f ? norm[k] : 0.0f;
            p.centre[i] = centre[i];
            p.invS[i] = 1.0f / lobeScale[k];
            p.tlNorm[i] = 1.0f / (lobeScale[k] * tlCSpan[k]);
            p.active[i] = lobeWeight[k] > 0.0f ? 1.0f : 0.0f;
        }
    };
    fill(packMain, {R, TT, TRT, Residual}, {lobePhi[R], lobePhi[TT], lobePhi[TRT], 0.0f});
    packMain.tlNorm[3] = 0.0f; // the residual is uniform in azimuth
    fill(packPeaks, {Glitter, Glint, Glitter, Glint},
         {glitterPhiA + lobePhi[Glitter], lobePhi[Glint] + glintSeparation, glitterPhiB + lobePhi[Glitter],
          lobePhi[Glint] - glintSeparation});
    hasPeaks = lobeWeight[Glitter] > 0.0f || lobeWeight[Glint] > 0.0f;
}

void Hair4BSDF::lobeSum(float cosThetaI, float sinThetaI, float phi, Color4& f, float& p) const {
    const f4 ci = splat4(cosThetaI), si = splat4(sinThetaI), ph = splat4(phi), zero = splat4(0.0f);
    f4 n = tlLanes(packMain, ph);
    n[3] = kInv2Pi;
    // Lobes of weight 0 contribute nothing, whatever their lanes hold.
    f4 mn = packMain.active > 0.0f ? mpLanes(packMain, ci, si) * n : zero;
    Color4 acc =
        lobeColor[R] * mn[0] + lobeColor[TT] * mn[1] + lobeColor[TRT] * mn[2] + lobeColor[Residual] * mn[3];
    float pdf = lobeWeight[R] * mn[0] + lobeWeight[TT] * mn[1] + lobeWeight[TRT] * mn[2] +
                lobeWeight[Residual] * mn[3];
    if (hasPeaks) {
        // Each peak pair is the mean of two logistics under one Mp.
        f4 q = packPeaks.active > 0.0f ? mpLanes(packPeaks, ci, si) * tlLanes(packPeaks, ph) : zero;
        float glitter = 0.5f * (q[0] + q[2]), glint = 0.5f * (q[1] + q[3]);
        acc += lobeColor[Glitter] * glitter + lobeColor[Glint] * glint;
        pdf += lobeWeight[Glitter] * glitter + lobeWeight[Glint] * glint;
    }
    f = acc + diffuseColor * kInv4Pi;
    p = pdf + diffuseWeight * kInv4Pi;
}

quor::Color Hair4BSDF::eval(const quor::QuorContext& ctx, const quor::Vector& L, quor::Color& lightColor,
                            quor::Color& unshadowedLightColor, float lightProb, int flags) {
    Color4 r(0.0f);
    if (!terminal && (flags & quor::EVAL_SPECULAR) && !(ctx.rayFlags & quor::RAY_NO_SPECULAR)) {
        Vec4 wi(L);
        float sinThetaI = clampf(dot(wi, axisT), -1.0f, 1.0f);
        float cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        float phi = fastAtan2(dot(wi, axisY), dot(wi, axisX));
        Color4 f;
        float p;
        lobeSum(cosThetaI, sinThetaI, phi, f, p);
        r = kPi * f * Color4(lightColor) * complement(transparency);
        if (useLightMIS) {
            float pB = kTwoPi * p;
            // pL²/(pB² + pL²), written so that neither square can overflow.
            if (lightProb >= 1e-12f)
                r *= 1.0f / (1.0f + sqr(pB / lightProb));
            else
                r = Color4(0.0f);
        }
    }
    lightColor = (Color4(lightColor) * transparency).host();
    unshadowedLightColor = (Color4(unshadowedLightColor) * transparency).host();
    return r.host();
}

quor::Color Hair4BSDF::getDiffuseColor(quor::Color& weight) {
    weight = (Color4(weight) * transparency).host();
    return {0, 0, 0, 0};
}

quor::Color Hair4BSDF::getLightMultiplier(quor::Color& weight) {
    Color4 w(weight);
    Color4 out = complement(transparency) * albedoSum * w;
    weight = (w * transparency).host();
    return out.host();
}

float Hair4BSDF::sampleRay(const quor::QuorContext& parent, quor::QuorContext& q, float u, int mode) {
    if (mode == 2 || terminal) return 0.0f;
    float u0 = getDMCParam(q, 1), u1 = getDMCParam(q, 2), u2 = getDMCParam(q, 3);
    float sinThetaI, cosThetaI, phi;
    if (u < diffuseWeight) {
        sinThetaI = clampf(2.0f * (u1 - 0.5f), -1.0f, 1.0f);
        cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        phi = kTwoPi * u0;
    } else {
        float e = u - diffuseWeight;
        int k = 0;
        while (k < 5 && e >= lobeWeight[k]) {
            e -= lobeWeight[k];
            ++k;
        }
        float v = lobeVariance[k];
        float cz = clampf(1.0f + v * std::log(u1 + (1.0f - u1) * expM2V[k]), -1.0f, 1.0f);
        sinThetaI = clampf(std::cos(kTwoPi * u2) * std::sqrt(1.0f - cz * cz) * lobeCosThetaO[k] -
                               cz * lobeSinThetaO[k],
                           -1.0f, 1.0f);
        cosThetaI = std::sqrt(1.0f - sinThetaI * sinThetaI);
        if (k == Residual) {
            phi = kTwoPi * u0;
        } else {
            float peak = lobePhi[k];
            if (k == Glitter)
                peak = wrapPi((e >= lobeWeight[k] * 0.5f ? glitterPhiB : glitterPhiA) + lobePhi[k]);
            else if (k == Glint)
                peak = wrapPi(e >= lobeWeight[k] * 0.5f ? lobePhi[k] - glintSeparation
                                                        : lobePhi[k] + glintSeparation);
            float x = -lobeScale[k] * std::log(1.0f / (u0 * tlCSpan[k] + tlCMinus[k]) - 1.0f);
            phi = peak + clampf(x, -kPi, kPi);
        }
    }
    Color4 f;
    float p;
    lobeSum(cosThetaI, sinThetaI, phi, f, p);
    float pp = std::max(p, 0.5f * maxRGB(f));
    f *= complement(transparency);
    if (!(pp >= 1e-8f)) return 0.0f;

    float sinPhi = std::sin(phi), cosPhi = std::cos(phi);
    Vec4 wi = sinThetaI * axisT + (cosThetaI * cosPhi) * axisX + (cosThetaI * sinPhi) * axisY;
    // Without a frame (no tangent, or a view along it) the direction is not unit: no ray.
    if (!(std::fabs(dot(wi, wi) - 1.0f) <= 1e-4f)) return 0.0f;
    quor::Vector dir = wi.host();
    if (q.ray) {
        q.ray->dir = dir;
        q.ray->origin = parent.hitPoint;
        q.ray->tmin = 0.0f;
        q.ray->tmax = 1e18f;
    }
    q.rayDir = dir;
    // Mirror the direction differentials about the half vector of the turn.
    Vec4 h = normalizeSafe(wi - Vec4(parent.rayDir));
    for (int i = 0; i < 2; ++i) {
        Vec4 d(parent.dirDiff[i]);
        q.dirDiff[i] = (d - (2.0f * dot(d, h)) * h).host();
    }
    q.pathWeight = (f / pp).host();
    q.pathProb = kTwoPi * pp;
    return 1.0f;
}

int Hair4BSDF::addContextRay(quor::QuorContext& ctx, void*, int mode) {
    if (terminal || mode == 2) return 0;
    return ctx.addRay(4, (complement(transparency) * albedoSum).host(), 0x8012, ctx.rayDir);
}

void Hair4BSDF::traceForward(quor::QuorContext& ctx, int arg) {
    quor::BRDFSampler::traceForward(ctx, arg);
    if (!ctx.channels || !ctx.settings || !(ctx.settings->flags & quor::SETTINGS_CHANNEL_131)) return;
    // The strand's screen-space direction from the ray footprint, and the normal, both faded
    // by the opacity.
    Vec4 a = normalizeSafe(Vec4(ctx.dirDiff[0]) + Vec4(ctx.posDiff[0]));
    Vec4 b = normalizeSafe(Vec4(ctx.dirDiff[1]) + Vec4(ctx.posDiff[1]));
    Vec4 n(ctx.normal), d(ctx.rayDir);
    Vec4 g = normalizeSafe(Vec4(dot(cross(b, n), d), dot(cross(n, a), d), -dot(cross(a, b), n)));
    float o = 1.0f - (transparency.r() + transparency.g() + transparency.b()) * 0.33333334f;
    float values[6] = {g.x() * o, g.y() * o, g.z() * o, n.x() * o, n.y() * o, n.z() * o};
    ctx.channels->write(131, values, 6);
}

} // namespace hair
